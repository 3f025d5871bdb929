// Field and index definitions of a dataset: what the table holds, as
// opposed to the field objects that read it (framework/db/field.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/db/db_common.h"

namespace fw {

class TComponent;
class TDataSet;
class TField;
class TFieldDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, std::string name, TFieldType data_type, int size, bool required,
            int field_no);
  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  int Size() const { return size_; }
  bool Required() const { return required_; }
  int FieldNo() const { return field_no_; }
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }
  bool InternalCalcField() const { return internal_calc_; }
  void SetInternalCalcField(bool v) { internal_calc_ = v; }
  // A field object of the type's class for this definition, owned by owner
  // and added to the definitions' dataset; nullptr for types without a
  // field class.
  TField* CreateField(TComponent* owner) const;

 private:
  TFieldDefs* owner_;
  std::string name_;
  TFieldType data_type_;
  int size_;
  bool required_;
  int field_no_;
  int precision_ = 0;
  bool internal_calc_ = false;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef* Items(int index) const;  // "Field index out of range"
  // Field number = position + 1 unless given. "Field name missing" for an
  // empty name, "Duplicate field name '%s'" for one already present
  // (case-insensitive).
  TFieldDef* Add(const std::string& name, TFieldType data_type, int size = 0,
                 bool required = false, int field_no = 0);
  void Clear();
  int IndexOf(const std::string& name) const;  // case-insensitive, -1 when absent
  TFieldDef* Find(const std::string& name) const;  // "Field '%s' not found"
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  // Brings the definitions up to date from the dataset when not Updated.
  void Update();

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
};

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}
  const std::string& Name() const { return name_; }
  // Key field names separated by ';'.
  const std::string& Fields() const { return fields_; }
  TIndexOptions Options() const { return options_; }
  void SetName(const std::string& v) { name_ = v; }
  void SetFields(const std::string& v) { fields_ = v; }
  void SetOptions(TIndexOptions v) { options_ = v; }

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

// Keeps the dataset's indexes; a dataset brings them up to date through
// its UpdateIndexDefs hook (update_ below).
class TIndexDefs {
 public:
  TIndexDefs() = default;
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TIndexDef* Items(int index) const;  // EListError "List index out of bounds (%d)"
  TIndexDef* Add(const std::string& name, const std::string& fields, TIndexOptions options);
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& name) const;  // case-insensitive
  TIndexDef* Find(const std::string& name) const;  // "Index '%s' not found"
  // The index whose key fields begin with fields (case-insensitive names);
  // an exact match is preferred; case_insensitive asks for an index with
  // ixCaseInsensitive. nullptr when none.
  TIndexDef* GetIndexForFields(const std::string& fields, bool case_insensitive) const;
  // As GetIndexForFields; "No index for fields '%s'" when none.
  TIndexDef* FindIndexForFields(const std::string& fields) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  void Update();
  // The dataset's routine that refreshes the definitions.
  void SetUpdater(std::function<void()> update) { update_ = std::move(update); }

 private:
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
  std::function<void()> update_;
};

}  // namespace fw
