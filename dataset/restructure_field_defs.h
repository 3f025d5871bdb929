// The field list of a table restructure: each item names the existing field
// (FieldNo) whose values the new field takes, its new name, type, size,
// required flag and the four texts the field descriptor keeps (default,
// minimum, maximum, and the further text at descriptor offset 33).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/db/db_common.h"

namespace dataset {

class TRestructureFieldDefs;

class TRestructureFieldDef {
 public:
  // "Invalid field size" when size does not suit data_type.
  TRestructureFieldDef(TRestructureFieldDefs* owner, std::string name, fw::TFieldType data_type,
                       int field_no, std::string description, std::string max_value,
                       std::string min_value, std::string default_value, bool required, int size);

  [[nodiscard]] TRestructureFieldDefs* Owner() const { return owner_; }
  [[nodiscard]] const std::string& Name() const { return name_; }
  [[nodiscard]] fw::TFieldType DataType() const { return data_type_; }
  [[nodiscard]] bool Required() const { return required_; }
  [[nodiscard]] int Size() const { return size_; }
  [[nodiscard]] int FieldNo() const { return field_no_; }
  [[nodiscard]] const std::string& DefaultValue() const { return default_value_; }
  [[nodiscard]] const std::string& MinValue() const { return min_value_; }
  [[nodiscard]] const std::string& MaxValue() const { return max_value_; }
  // The text stored at descriptor offset 33.
  [[nodiscard]] const std::string& Description() const { return description_; }

 private:
  TRestructureFieldDefs* owner_;
  std::string name_;
  fw::TFieldType data_type_;
  bool required_;
  int size_;
  int field_no_;
  std::string default_value_;
  std::string min_value_;
  std::string max_value_;
  std::string description_;
};

class TRestructureFieldDefs {
 public:
  explicit TRestructureFieldDefs(void* table = nullptr) : table_(table) {}
  TRestructureFieldDefs(const TRestructureFieldDefs&) = delete;
  TRestructureFieldDefs& operator=(const TRestructureFieldDefs&) = delete;

  // "Field name missing"; "Duplicate field name '%s'" (case-insensitive).
  TRestructureFieldDef* Add(const std::string& name, fw::TFieldType data_type, int field_no,
                            const std::string& description = {},
                            const std::string& max_value = {},
                            const std::string& min_value = {},
                            const std::string& default_value = {}, bool required = false,
                            int size = 0);
  void Clear();
  [[nodiscard]] int Count() const { return static_cast<int>(items_.size()); }
  // "List index out of bounds (%d)".
  [[nodiscard]] TRestructureFieldDef* Items(int index) const;
  [[nodiscard]] int IndexOf(const std::string& name) const;  // -1 when absent
  // "Field '%s' not found".
  [[nodiscard]] TRestructureFieldDef* Find(const std::string& name) const;
  [[nodiscard]] void* Table() const { return table_; }

 private:
  void* table_;
  std::vector<std::unique_ptr<TRestructureFieldDef>> items_;
};

}  // namespace dataset
