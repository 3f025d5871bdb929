#include "framework/dbctrls/db_combo_box.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

#include "framework/db/field.h"
#include "framework/forms/application.h"
#include "framework/forms/combo_box.h"
#include "framework/forms/qt_text.h"
#include "framework/forms/text_input.h"

namespace fw {

// --- TDBComboBox

TDBComboBox::TDBComboBox(TComponent* owner) : TFieldControl(owner, new QComboBox) {
  Combo()->setEditable(true);
  GuardTextInput(Combo()->lineEdit(), [] { return TForeignChars::kRefuse; }, this);
  Combo()->setInsertPolicy(QComboBox::NoInsert);
  items_ = ComboItems(Combo());
  QObject::connect(Combo(), &QComboBox::currentTextChanged, Combo(), [this] {
    if (showing_) return;
    Guarded([&] {
      const QString typed = Combo()->currentText();
      if (!BeginUserChange()) return;
      if (Combo()->currentText() != typed) {
        showing_ = true;
        Combo()->setEditText(typed);
        showing_ = false;
        link_.SetModified();
      }
    }, this);
  });
}

TDBComboBox::~TDBComboBox() = default;

QComboBox* TDBComboBox::Combo() const { return static_cast<QComboBox*>(Widget()); }

std::string TDBComboBox::Text() const { return AnsiStr(Combo()->currentText()); }

void TDBComboBox::SetText(const std::string& text) { Combo()->setEditText(QStr(text)); }

void TDBComboBox::DataChange() {
  TField* f = Field();
  Combo()->setEditText(f != nullptr ? QStr(f->Text()) : QString());
}

void TDBComboBox::UpdateData() {
  if (TField* f = Field()) f->SetText(Text());
}

// --- TDBLookupComboBox

TDBLookupComboBox::TDBLookupComboBox(TComponent* owner)
    : TFieldControl(owner, new QComboBox), list_(new TDataSetTableModel) {
  // Editable only to show a stored key that no list record has; the user
  // picks from the list.
  Combo()->setEditable(true);
  Combo()->lineEdit()->setReadOnly(true);
  Combo()->setInsertPolicy(QComboBox::NoInsert);
  Combo()->setModel(list_.get());
  Combo()->setModelColumn(0);
  QObject::connect(Combo(), qOverload<int>(&QComboBox::activated), Combo(),
                   [this](int row) { Guarded([&] { SelectRow(row); }, this); });
  QObject::connect(list_.get(), &QAbstractItemModel::modelReset, Combo(), [this] {
    if (!showing_) Guarded([&] { link_.Reset(); }, this);
  });
}

TDBLookupComboBox::~TDBLookupComboBox() {
  // The combo box goes before the model it shows.
  delete Widget();
}

QComboBox* TDBLookupComboBox::Combo() const { return static_cast<QComboBox*>(Widget()); }

void TDBLookupComboBox::SetListSource(TDataSource* source) {
  list_->SetDataSource(source);
  ApplyListColumns();
}

void TDBLookupComboBox::SetKeyField(const std::string& name) {
  key_field_ = name;
  ApplyListColumns();
}

void TDBLookupComboBox::SetListField(const std::string& name) {
  list_field_ = name;
  ApplyListColumns();
}

void TDBLookupComboBox::ApplyListColumns() {
  std::vector<TDataSetTableModel::Column> cols;
  const std::string shown = list_field_.empty() ? key_field_ : list_field_;
  if (!shown.empty()) cols.push_back({shown, ""});
  if (!key_field_.empty() && !AnsiSameText(key_field_, shown)) cols.push_back({key_field_, ""});
  list_->SetColumns(std::move(cols));
  Combo()->setModelColumn(0);
  link_.Reset();
}

int TDBLookupComboBox::FindKey(const QString& key) {
  const int key_col = list_->columnCount() > 1 ? 1 : 0;
  // Lookup lists are short (categories); a long one is searched in its
  // first kMaxLookupRows rows only.
  const int rows = std::min(list_->rowCount(), kMaxLookupRows);
  for (int r = 0; r < rows; ++r)
    if (list_->CellText(r, key_col) == key) return r;
  return -1;
}

std::string TDBLookupComboBox::Text() const { return AnsiStr(Combo()->currentText()); }

void TDBLookupComboBox::SelectRow(int row) {
  if (row < 0 || row >= list_->rowCount()) return;
  const int key_col = list_->columnCount() > 1 ? 1 : 0;
  const std::string key = AnsiStr(list_->CellText(row, key_col));
  TField* f = Field();
  if (f == nullptr) return;
  if (ReadOnly() || !link_.Edit()) {
    link_.Reset();
    return;
  }
  f->SetAsString(key);
}

void TDBLookupComboBox::DataChange() {
  TField* f = Field();
  if (f == nullptr || f->IsNull()) {
    Combo()->setCurrentIndex(-1);
    Combo()->setEditText(QString());
    return;
  }
  const QString key = QStr(f->AsString());
  const int row = FindKey(key);
  if (row >= 0) {
    Combo()->setCurrentIndex(row);
    Combo()->setEditText(list_->CellText(row, 0));
  } else {
    Combo()->setCurrentIndex(-1);
    Combo()->setEditText(key);
  }
}

}  // namespace fw
