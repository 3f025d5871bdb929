#include "dataset/restructure_field_defs.h"

#include "dataset/field_type_map.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace dataset {

TRestructureFieldDef::TRestructureFieldDef(TRestructureFieldDefs* owner, std::string name,
                                           fw::TFieldType data_type, int field_no,
                                           std::string description, std::string max_value,
                                           std::string min_value, std::string default_value,
                                           bool required, int size)
    : owner_(owner),
      name_(std::move(name)),
      data_type_(data_type),
      required_(required),
      size_(size),
      field_no_(field_no),
      default_value_(std::move(default_value)),
      min_value_(std::move(min_value)),
      max_value_(std::move(max_value)),
      description_(std::move(description)) {
  CheckFieldSize(data_type, size);
}

TRestructureFieldDef* TRestructureFieldDefs::Add(const std::string& name,
                                                 fw::TFieldType data_type, int field_no,
                                                 const std::string& description,
                                                 const std::string& max_value,
                                                 const std::string& min_value,
                                                 const std::string& default_value, bool required,
                                                 int size) {
  if (name.empty()) fw::DatabaseError(fw::db_msg::kFieldNameMissing);
  if (IndexOf(name) >= 0) fw::DatabaseErrorFmt(fw::db_msg::kDuplicateFieldName, {name});
  items_.push_back(std::make_unique<TRestructureFieldDef>(this, name, data_type, field_no,
                                                          description, max_value, min_value,
                                                          default_value, required, size));
  return items_.back().get();
}

void TRestructureFieldDefs::Clear() {
  while (!items_.empty()) items_.pop_back();
}

TRestructureFieldDef* TRestructureFieldDefs::Items(int index) const {
  if (index < 0 || index >= Count())
    throw fw::EListError("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)].get();
}

int TRestructureFieldDefs::IndexOf(const std::string& name) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (fw::AnsiSameText(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TRestructureFieldDef* TRestructureFieldDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  if (i < 0) fw::DatabaseErrorFmt(fw::db_msg::kFieldNotFound, {name});
  return items_[static_cast<std::size_t>(i)].get();
}

}  // namespace dataset
