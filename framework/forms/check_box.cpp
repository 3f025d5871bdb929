#include "framework/forms/check_box.h"

#include <QCheckBox>
#include <QRadioButton>

#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"

namespace fw {

TCheckBox::TCheckBox(TComponent* owner) : TCheckBox(owner, new QCheckBox) {}

TCheckBox::TCheckBox(TComponent* owner, QAbstractButton* widget) : TControl(owner, widget) {
  // toggled covers clicks, keys and code; code changes come through
  // SetChecked, which runs the handler itself.
  // A radio button switched off because another one of its group was
  // chosen is not clicked.
  const bool radio = dynamic_cast<QRadioButton*>(widget) != nullptr;
  QObject::connect(widget, &QAbstractButton::toggled, widget, [this, radio](bool checked) {
    if (!setting_ && (checked || !radio)) Guarded([&] { Click(); }, this);
  });
}

QAbstractButton* TCheckBox::Button() const { return static_cast<QAbstractButton*>(Widget()); }

void TCheckBox::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  Button()->setText(QStr(caption));
}

bool TCheckBox::Checked() const { return Button() != nullptr && Button()->isChecked(); }

void TCheckBox::SetChecked(bool v) {
  if (v == Checked()) return;
  setting_ = true;
  Button()->setChecked(v);
  setting_ = false;
  Click();
}

TRadioButton::TRadioButton(TComponent* owner) : TCheckBox(owner, new QRadioButton) {}

}  // namespace fw
