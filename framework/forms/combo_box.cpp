#include "framework/forms/combo_box.h"

#include <QComboBox>
#include <QLineEdit>

#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"
#include "framework/forms/text_input.h"

namespace fw {

namespace {

class ComboStrings : public TControlStrings {
 public:
  explicit ComboStrings(QComboBox* combo) : combo_(combo) {}
  int Count() const override { return combo_->count(); }
  std::string Get(int index) const override {
    CheckIndex(index, Count());
    return AnsiStr(combo_->itemText(index));
  }
  void Put(int index, const std::string& s) override {
    CheckIndex(index, Count());
    combo_->setItemText(index, QStr(s));
  }
  void Insert(int index, const std::string& s) override {
    CheckIndex(index, Count() + 1);
    // Adding items never changes what the user typed.
    const QString text = combo_->currentText();
    const bool editable = combo_->isEditable();
    combo_->insertItem(index, QStr(s));
    if (editable) combo_->setEditText(text);
  }
  void Delete(int index) override {
    CheckIndex(index, Count());
    combo_->removeItem(index);
  }
  void Clear() override {
    const QString text = combo_->currentText();
    combo_->clear();
    if (combo_->isEditable()) combo_->setEditText(text);
  }

 private:
  QComboBox* combo_;
};

}  // namespace

std::unique_ptr<TControlStrings> ComboItems(QComboBox* combo) { return std::make_unique<ComboStrings>(combo); }

TComboBox::TComboBox(TComponent* owner) : TControl(owner, new QComboBox) {
  items_ = ComboItems(Combo());
  Combo()->setEditable(true);
  GuardTextInput(Combo()->lineEdit(), [] { return TForeignChars::kRefuse; }, this);
  Combo()->setInsertPolicy(QComboBox::NoInsert);
  Combo()->setEditText(QString());
  QObject::connect(Combo(), &QComboBox::currentTextChanged, Combo(), [this] {
    if (OnChange) Guarded([&] { OnChange(this); }, this);
  });
}

TComboBox::~TComboBox() = default;

QComboBox* TComboBox::Combo() const { return static_cast<QComboBox*>(Widget()); }

void TComboBox::SetStyle(TComboBoxStyle style) {
  style_ = style;
  const bool had_line_edit = Combo()->lineEdit() != nullptr;
  Combo()->setEditable(style != TComboBoxStyle::csDropDownList);
  if (!had_line_edit && Combo()->lineEdit() != nullptr)
    GuardTextInput(Combo()->lineEdit(), [] { return TForeignChars::kRefuse; }, this);
}

std::string TComboBox::Text() const { return AnsiStr(Combo()->currentText()); }

void TComboBox::SetText(const std::string& text) {
  if (Combo()->isEditable()) {
    const int i = Combo()->findText(QStr(text), Qt::MatchFixedString);
    if (i >= 0 && Combo()->itemText(i) == QStr(text)) Combo()->setCurrentIndex(i);
    Combo()->setEditText(QStr(text));
  } else {
    Combo()->setCurrentIndex(Combo()->findText(QStr(text), Qt::MatchFixedString));
  }
}

int TComboBox::ItemIndex() const {
  const int i = Combo()->currentIndex();
  if (i < 0) return -1;
  // A typed text that is no item's means no item.
  return Combo()->isEditable() && Combo()->itemText(i) != Combo()->currentText() ? -1 : i;
}

void TComboBox::SetItemIndex(int index) {
  Combo()->setCurrentIndex(index < Combo()->count() ? index : -1);
  if (index < 0 && Combo()->isEditable()) Combo()->setEditText(QString());
}

int TComboBox::DropDownCount() const { return Combo()->maxVisibleItems(); }
void TComboBox::SetDropDownCount(int n) { Combo()->setMaxVisibleItems(n); }

}  // namespace fw
