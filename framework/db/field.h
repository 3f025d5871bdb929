// TField and its typed descendants: one column of a dataset. A field holds
// no value itself; it reads and writes the dataset's record buffer for the
// dataset's state through TDataSet::GetFieldData and SetFieldData, in the
// framework's native value layout:
//
//   type                      bytes   layout
//   String                    Size+1  text, NUL-terminated
//   Smallint / Word / Boolean 2       int16 / uint16 / uint16 (0 false, else true)
//   Integer / AutoInc         4       int32
//   Date                      4       int32 days since 0001-01-01 (day 1)
//   Time                      4       int32 milliseconds since midnight
//   Float / Currency          8       IEEE double
//   BCD                       8       the dataset's BCD form (BCDToCurr/CurrToBCD)
//   DateTime                  8       IEEE double, milliseconds since 0001-01-01
//   Largeint                  8       int64
//   Bytes                     Size    raw bytes
//   VarBytes                  Size+2  uint16 length, then the bytes
//   BLOB kinds                0       accessed through the dataset's BLOB streams
//
// Text conversions use the fixed US formats of framework/sysutils.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/db/db_common.h"
#include "framework/db/variant.h"
#include "framework/sysutils.h"

namespace fw {

class TDataSet;
class TStream;

class TField : public TComponent {
 public:
  using TFieldNotifyEvent = std::function<void(TField&)>;
  using TFieldGetTextEvent = std::function<void(TField&, std::string& text, bool display_text)>;
  using TFieldSetTextEvent = std::function<void(TField&, const std::string& text)>;

  explicit TField(TComponent* owner);
  ~TField() override;

  TDataSet* DataSet() const { return dataset_; }
  // Moves the field to another dataset; both must be closed ("Cannot
  // perform this operation on an open dataset").
  void SetDataSet(TDataSet* dataset);
  const std::string& FieldName() const { return field_name_; }
  // "Duplicate field name '%s'" when the dataset already has the name.
  void SetFieldName(const std::string& name);
  TFieldType DataType() const { return data_type_; }
  int Size() const { return size_; }
  void SetSize(int size);  // "Invalid field size" when the type does not allow it
  // Bytes this field's value takes in a record buffer (layout above).
  virtual int DataSize() const;
  // Field number within the record (1..n); 0 or less for fields that are
  // not stored (calculated, lookup).
  int FieldNo() const { return field_no_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return field_kind_ == TFieldKind::fkCalculated; }
  void SetCalculated(bool v) { SetFieldKind(v ? TFieldKind::fkCalculated : TFieldKind::fkData); }
  // Position of this field's has-value byte in the calculated-field area
  // of a record buffer (value bytes follow it); calculated fields only.
  int Offset() const { return offset_; }
  int Index() const;  // position in the dataset's field list, -1 without dataset
  void SetIndex(int index);

  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& v) { display_label_ = v; }
  // The display label, or the field name when there is none.
  const std::string& DisplayName() const { return display_label_.empty() ? field_name_ : display_label_; }
  int DisplayWidth() const { return display_width_ > 0 ? display_width_ : DefaultDisplayWidth(); }
  void SetDisplayWidth(int v) { display_width_ = v; }
  // Whether the field is a key field of the dataset's current index.
  bool IsIndexField() const;
  // Not read-only, data or internal-calculated kind, on a modifiable dataset
  // (or one in the set-key state).
  bool CanModify() const;

  // Value access. A null value reads as "" / 0 / false; conversions that
  // the type does not offer raise "Cannot access field '%s' as type %s".
  bool IsNull() const;
  void Clear() { SetData(nullptr); }
  std::string AsString() const { return GetAsString(); }
  void SetAsString(const std::string& v) { SetAsStringImpl(v); }
  std::int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(std::int32_t v) { SetAsIntegerImpl(v); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double v) { SetAsFloatImpl(v); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool v) { SetAsBooleanImpl(v); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime v) { SetAsDateTimeImpl(v); }
  fw::Currency AsCurrency() const { return GetAsCurrency(); }
  void SetAsCurrency(fw::Currency v) { SetAsCurrencyImpl(v); }
  // Copies source's value (null stays null; BLOB contents are copied);
  // a null source clears.
  void Assign(const TField* source);
  // Null when IsNull, else the type's natural value.
  Variant AsVariant() const;
  void SetAsVariant(const Variant& v);  // Null clears

  // Text for display (a grid cell) and for editing; OnGetText overrides.
  std::string DisplayText() const;
  std::string Text() const;
  void SetText(const std::string& text);  // OnSetText overrides

  // Raw value in the layout above; GetData returns false for null. A null
  // buffer only asks whether there is a value / sets null.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);
  // Runs OnValidate; the dataset calls it before storing a new value
  // (buffer: the value about to be stored, or null).
  void Validate(const void* buffer);
  // Runs OnChange; the dataset calls it on a field change.
  void Change();
  void FocusControl();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  // The field's value while OnValidate runs (the value being stored).
  const void* ValidatingBuffer() const { return validating_; }

 protected:
  void SetDataType(TFieldType t) { data_type_ = t; }
  virtual void CheckTypeSize(int size) const;
  virtual int DefaultDisplayWidth() const { return 10; }
  virtual void GetText(std::string& text, bool display_text) const;
  virtual void SetTextImpl(const std::string& text) { SetAsStringImpl(text); }
  [[noreturn]] void AccessError(const char* type_name) const;
  [[noreturn]] void RangeError(const std::string& value, const std::string& min,
                               const std::string& max) const;

  virtual std::string GetAsString() const { AccessError("String"); }
  virtual void SetAsStringImpl(const std::string&) { AccessError("String"); }
  virtual std::int32_t GetAsInteger() const { AccessError("Integer"); }
  virtual void SetAsIntegerImpl(std::int32_t) { AccessError("Integer"); }
  virtual double GetAsFloat() const { AccessError("Float"); }
  virtual void SetAsFloatImpl(double) { AccessError("Float"); }
  virtual bool GetAsBoolean() const { AccessError("Boolean"); }
  virtual void SetAsBooleanImpl(bool) { AccessError("Boolean"); }
  virtual TDateTime GetAsDateTime() const { AccessError("DateTime"); }
  virtual void SetAsDateTimeImpl(TDateTime) { AccessError("DateTime"); }
  virtual fw::Currency GetAsCurrency() const { return DoubleToCurr(GetAsFloat()); }
  virtual void SetAsCurrencyImpl(fw::Currency v) { SetAsFloatImpl(CurrToDouble(v)); }
  virtual Variant GetAsVariantImpl() const { return Variant(GetAsString()); }

 private:
  friend class TDataSet;
  friend class TFieldDef;
  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_ = TFieldType::ftUnknown;
  int size_ = 0;
  int field_no_ = 0;
  int offset_ = 0;
  TFieldKind field_kind_ = TFieldKind::fkData;
  bool required_ = false;
  bool read_only_ = false;
  bool visible_ = true;
  std::string display_label_;
  int display_width_ = 0;
  const void* validating_ = nullptr;
};

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int DataSize() const override { return Size() + 1; }
  // The stored text without NUL-cutting surprises: false for null.
  bool GetValue(std::string& value) const;

 protected:
  void CheckTypeSize(int size) const override;
  int DefaultDisplayWidth() const override { return Size(); }
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(std::int32_t v) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double v) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanImpl(bool v) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeImpl(TDateTime v) override;
};

// Numbers: DisplayFormat / EditFormat masks (FormatFloat) when set.
class TNumericField : public TField {
 public:
  using TField::TField;
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const std::string& v) { display_format_ = v; }
  const std::string& EditFormat() const { return edit_format_; }
  void SetEditFormat(const std::string& v) { edit_format_ = v; }

 protected:
  // The mask for display_text, or empty.
  const std::string& Mask(bool display_text) const {
    return display_text || edit_format_.empty() ? display_format_ : edit_format_;
  }

 private:
  std::string display_format_;
  std::string edit_format_;
};

// Integer, Smallint, Word and AutoInc share one class body with a type
// range: MinValue/MaxValue (both 0: the type's own range).
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner);
  int DataSize() const override;
  std::int32_t MinValue() const { return min_value_; }
  std::int32_t MaxValue() const { return max_value_; }
  void SetMinValue(std::int32_t v) { min_value_ = v; }
  void SetMaxValue(std::int32_t v) { max_value_ = v; }
  bool GetValue(std::int32_t& value) const;

 protected:
  void SetRange(std::int32_t lo, std::int32_t hi) { min_range_ = lo; max_range_ = hi; }
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(std::int32_t v) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double v) override;
  Variant GetAsVariantImpl() const override;

 private:
  std::int32_t min_range_;
  std::int32_t max_range_;
  std::int32_t min_value_ = 0;
  std::int32_t max_value_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner);
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner);
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner);
};

class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(std::int64_t& value) const;
  std::int64_t AsLargeInt() const;
  void SetAsLargeInt(std::int64_t v);

 protected:
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(std::int32_t v) override { SetAsLargeInt(v); }
  double GetAsFloat() const override;
  void SetAsFloatImpl(double v) override;
  Variant GetAsVariantImpl() const override;
};

// Float; with Currency set the display text is a money amount ("$1.50").
class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int v) { precision_ = v < 2 ? 2 : (v > 15 ? 15 : v); }
  double MinValue() const { return min_value_; }
  double MaxValue() const { return max_value_; }
  void SetMinValue(double v) { min_value_ = v; }
  void SetMaxValue(double v) { max_value_ = v; }

 protected:
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(std::int32_t v) override { SetAsFloatImpl(v); }
  double GetAsFloat() const override;
  void SetAsFloatImpl(double v) override;
  Variant GetAsVariantImpl() const override;

 private:
  bool currency_ = false;
  int precision_ = 15;
  double min_value_ = 0;
  double max_value_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner);
};

// Fixed-point decimal: Size is the number of decimals (0 to 8 here), the
// value a Currency; the dataset converts to and from its stored form.
class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int v) { precision_ = v; }
  bool GetValue(fw::Currency& value) const;

 protected:
  void CheckTypeSize(int size) const override;
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(std::int32_t v) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double v) override;
  fw::Currency GetAsCurrency() const override;
  void SetAsCurrencyImpl(fw::Currency v) override;
  Variant GetAsVariantImpl() const override;

 private:
  bool currency_ = false;
  int precision_ = 0;
};

// DisplayValues "True;False" by default; "Yes;No" style pairs set the texts.
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner);
  int DataSize() const override { return 2; }
  const std::string& DisplayValues() const { return display_values_; }
  void SetDisplayValues(const std::string& v);

 protected:
  int DefaultDisplayWidth() const override { return 5; }
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanImpl(bool v) override;
  std::int32_t GetAsInteger() const override { return GetAsBoolean() ? 1 : 0; }
  void SetAsIntegerImpl(std::int32_t v) override { SetAsBooleanImpl(v != 0); }
  Variant GetAsVariantImpl() const override;

 private:
  std::string display_values_;
  std::string true_text_ = "True";
  std::string false_text_ = "False";
};

// DateTime, Date and Time; DisplayFormat (FormatDateTime) when set, else
// "M/d/yyyy", "h:mm:ss AMPM" or both (time left out at midnight).
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner);
  int DataSize() const override;
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const std::string& v) { display_format_ = v; }
  bool GetValue(TDateTime& value) const;

 protected:
  int DefaultDisplayWidth() const override { return 18; }
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeImpl(TDateTime v) override;
  double GetAsFloat() const override { return GetAsDateTime(); }
  void SetAsFloatImpl(double v) override { SetAsDateTimeImpl(v); }
  Variant GetAsVariantImpl() const override;

 private:
  std::string display_format_;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner);
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner);
};

// Bytes (fixed Size) and VarBytes (up to Size, with a length word). AsString
// gives the raw bytes; the display text is "(Bytes)" / "(VarBytes)".
class TBinaryField : public TField {
 public:
  using TField::TField;

 protected:
  void CheckTypeSize(int size) const override;
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* owner);
  int DataSize() const override { return Size(); }
};

class TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(TComponent* owner);
  int DataSize() const override { return Size() + 2; }
};

// BLOB, memo and graphic fields: the value is read and written through the
// dataset's BLOB stream. The display text is "(Blob)"/"(BLOB)",
// "(Memo)"/"(MEMO)", "(Graphic)"/"(GRAPHIC)" (upper case when not null).
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner);
  int DataSize() const override { return 0; }
  TFieldType BlobType() const { return DataType(); }
  void SetBlobType(TFieldType t);
  // Set while a changed value waits in the record buffer for Post/Cancel.
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }
  int BlobSize() const;

  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name) const;

 protected:
  void CheckTypeSize(int size) const override;
  void GetText(std::string& text, bool display_text) const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(const std::string& v) override;

 private:
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner);
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner);
};

// A new field object of the class for type (owner owns it); nullptr for
// types without a field class (ADT, Array, Reference, DataSet, Cursor).
TField* CreateFieldOfType(TFieldType type, TComponent* owner);

}  // namespace fw
