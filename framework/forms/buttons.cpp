#include "framework/forms/buttons.h"

#include <QPushButton>
#include <QToolButton>

#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/forms/qt_text.h"

namespace fw {

TButton::TButton(TComponent* owner) : TButton(owner, new QPushButton) {}

TButton::TButton(TComponent* owner, QAbstractButton* widget) : TControl(owner, widget) { Connect(); }

void TButton::Connect() {
  auto* b = static_cast<QAbstractButton*>(Widget());
  QObject::connect(b, &QAbstractButton::clicked, b, [this] { Guarded([&] { Click(); }, this); });
}

void TButton::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  if (Widget() != nullptr) static_cast<QAbstractButton*>(Widget())->setText(QStr(caption));
}

void TButton::SetDefault(bool v) {
  default_ = v;
  if (auto* p = qobject_cast<QPushButton*>(Widget())) p->setDefault(v);
}

void TButton::SetCancel(bool v) { cancel_ = v; }

void TButton::Click() {
  if (modal_result_ != mrNone) {
    if (TForm* f = ParentForm()) f->SetModalResult(modal_result_);
  }
  TControl::Click();
}

void TBitBtn::SetKind(TBitBtnKind kind) {
  kind_ = kind;
  struct KindInfo {
    const char* caption;
    TModalResult result;
  };
  static constexpr KindInfo kKinds[] = {
      {nullptr, mrNone}, {"OK", mrOk},        {"Cancel", mrCancel}, {"&Help", mrNone},
      {"&Yes", mrYes},   {"&No", mrNo},       {"&Close", mrNone},   {"Abort", mrAbort},
      {"&Retry", mrRetry}, {"&Ignore", mrIgnore}, {"&All", mrAll},
  };
  const KindInfo& k = kKinds[static_cast<int>(kind)];
  if (k.caption != nullptr) SetCaption(k.caption);
  SetModalResult(k.result);
  if (kind == TBitBtnKind::bkOK || kind == TBitBtnKind::bkYes) SetDefault(true);
  if (kind == TBitBtnKind::bkCancel || kind == TBitBtnKind::bkNo) SetCancel(true);
}

void TBitBtn::Click() {
  if (kind_ == TBitBtnKind::bkClose) {
    if (TForm* f = ParentForm()) f->Close();
  }
  TButton::Click();
}

TSpeedButton::TSpeedButton(TComponent* owner) : TButton(owner, new QToolButton) {
  static_cast<QToolButton*>(Widget())->setToolButtonStyle(Qt::ToolButtonTextOnly);
}

void TSpeedButton::SetDown(bool v) {
  down_ = v;
  auto* b = static_cast<QToolButton*>(Widget());
  if (b == nullptr) return;
  b->setCheckable(group_index_ != 0 || v);
  b->setChecked(v);
  if (!v || group_index_ == 0 || Parent() == nullptr) return;
  for (int i = 0; i < Parent()->ControlCount(); ++i) {
    auto* other = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
    if (other != nullptr && other != this && other->group_index_ == group_index_ && other->down_)
      other->SetDown(false);
  }
}

void TSpeedButton::SetFlat(bool v) {
  flat_ = v;
  if (Widget() != nullptr) static_cast<QToolButton*>(Widget())->setAutoRaise(v);
}

void TSpeedButton::Click() {
  if (group_index_ != 0) SetDown(allow_all_up_ ? !down_ : true);
  TButton::Click();
}

}  // namespace fw
