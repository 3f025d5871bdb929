#include "framework/db/field_defs.h"

#include "framework/db/dataset.h"
#include "framework/db/field.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= names.size()) {
    std::size_t semi = names.find(';', pos);
    if (semi == std::string::npos) semi = names.size();
    std::string part = Trim(std::string_view(names).substr(pos, semi - pos));
    if (!part.empty()) out.push_back(part);
    pos = semi + 1;
  }
  return out;
}

}  // namespace

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType data_type, int size,
                     bool required, int field_no)
    : owner_(owner), name_(std::move(name)), data_type_(data_type), size_(size),
      required_(required), field_no_(field_no) {}

TField* TFieldDef::CreateField(TComponent* owner) const {
  std::unique_ptr<TField> field(CreateFieldOfType(data_type_, owner));
  if (!field) return nullptr;
  field->SetSize(size_);
  field->field_name_ = name_;
  field->SetRequired(required_);
  if (auto* bcd = dynamic_cast<TBCDField*>(field.get())) bcd->SetPrecision(precision_);
  if (internal_calc_) field->SetFieldKind(TFieldKind::fkInternalCalc);
  if (owner_ != nullptr && owner_->DataSet() != nullptr) field->SetDataSet(owner_->DataSet());
  return field.release();
}

TFieldDef* TFieldDefs::Items(int index) const {
  if (index < 0 || index >= Count()) DatabaseError(db_msg::kFieldIndexError, dataset_);
  return items_[static_cast<std::size_t>(index)].get();
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType data_type, int size, bool required,
                           int field_no) {
  if (name.empty()) DatabaseError(db_msg::kFieldNameMissing, dataset_);
  if (IndexOf(name) >= 0) DatabaseErrorFmt(db_msg::kDuplicateFieldName, {name}, dataset_);
  if (field_no <= 0) field_no = Count() + 1;
  items_.push_back(std::make_unique<TFieldDef>(this, name, data_type, size, required, field_no));
  return items_.back().get();
}

void TFieldDefs::Clear() { items_.clear(); }

int TFieldDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(items_[static_cast<std::size_t>(i)]->Name(), name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
  int i = IndexOf(name);
  if (i < 0) DatabaseErrorFmt(db_msg::kFieldNotFound, {name}, dataset_);
  return items_[static_cast<std::size_t>(i)].get();
}

void TFieldDefs::Update() {
  if (dataset_ != nullptr) dataset_->UpdateFieldDefs();
}

TIndexDef* TIndexDefs::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)].get();
}

TIndexDef* TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(name, fields, options));
  return items_.back().get();
}

int TIndexDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(items_[static_cast<std::size_t>(i)]->Name(), name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::Find(const std::string& name) const {
  int i = IndexOf(name);
  if (i < 0) DatabaseErrorFmt(db_msg::kIndexNotFound, {name});
  return items_[static_cast<std::size_t>(i)].get();
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool case_insensitive) const {
  std::vector<std::string> want = SplitNames(fields);
  if (want.empty()) return nullptr;
  TIndexDef* prefix_match = nullptr;
  for (const auto& def : items_) {
    if (def->Options().Has(TIndexOption::ixExpression)) continue;
    if (case_insensitive != def->Options().Has(TIndexOption::ixCaseInsensitive)) continue;
    std::vector<std::string> have = SplitNames(def->Fields());
    if (have.size() < want.size()) continue;
    bool ok = true;
    for (std::size_t i = 0; i < want.size() && ok; ++i) ok = AnsiSameText(have[i], want[i]);
    if (!ok) continue;
    if (have.size() == want.size()) return def.get();
    if (prefix_match == nullptr) prefix_match = def.get();
  }
  return prefix_match;
}

TIndexDef* TIndexDefs::FindIndexForFields(const std::string& fields) const {
  TIndexDef* def = GetIndexForFields(fields, false);
  if (def == nullptr) def = GetIndexForFields(fields, true);
  if (def == nullptr) DatabaseErrorFmt(db_msg::kNoIndexForFields, {fields});
  return def;
}

void TIndexDefs::Update() {
  if (update_) update_();
}

}  // namespace fw
