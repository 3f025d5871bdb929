// Query parameters: TTolmidParams holds the TTolmidParam items that a
// query's ':name' markers make; each keeps a typed value for binding.
//
// Binary value of a parameter (GetData / SetData, also the stored form):
//   String                 text, zero-terminated (DataSize = length + 1)
//   Smallint, Word         u16            Integer, AutoInc   i32
//   Boolean                u16 1 / 0 (read: any non-zero is true)
//   Float, Currency        IEEE double
//   BCD                    i64 ten-thousandths
//   Date                   u32 day of the time stamp (0001-01-01 = 1)
//   Time                   u32 milliseconds of the day
//   DateTime               IEEE double, time-stamp milliseconds
// Any other type: "Field '%s' is of an unsupported type"; no type at all:
// "Field '%s' is of unknown type".
//
// Stored list (the "Data" block of a form), little-endian:
//   u16 version (1 written; 2 read with wider counts)
//   u16 count (u32 in version 2)
//   per parameter: u8 name length (u32 in v2), name, u8 parameter type,
//     u8 data type; when the data type is known: u16 data size (u32 in
//     v2, at most 2048) and the binary value; u8 null flag, u8 bound flag.
// Reading trusts nothing: every count and size is checked against the
// bytes left, sizes against the 2048-byte limit, types against their
// ranges; any fault is "Unable to load bind parameters".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/db/db_common.h"
#include "framework/db/variant.h"

namespace fw {
class TField;
}

namespace dataset {

enum class TParamType : std::uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TTolmidParams;

class TTolmidParam {
 public:
  static constexpr std::size_t kMaxStoredData = 2048;
  // Longest string value a parameter binds: the engine keeps a value of
  // at most 255 bytes with its terminator.
  static constexpr std::size_t kMaxStringValue = 254;

  // Added to list (when given); type unknown, value 0, null, not bound.
  explicit TTolmidParam(TTolmidParams* list, TParamType param_type = TParamType::ptUnknown);
  // Removes itself from its list.
  ~TTolmidParam();
  TTolmidParam(const TTolmidParam&) = delete;
  TTolmidParam& operator=(const TTolmidParam&) = delete;

  [[nodiscard]] const std::string& Name() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  [[nodiscard]] fw::TFieldType DataType() const { return data_type_; }
  // Also sets the value to 0.
  void SetDataType(fw::TFieldType t);
  [[nodiscard]] TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType t) { param_type_ = t; }
  [[nodiscard]] bool IsNull() const { return is_null_; }
  [[nodiscard]] bool Bound() const { return bound_; }
  void SetBound(bool v) { bound_ = v; }
  [[nodiscard]] const fw::Variant& Value() const { return value_; }

  // Each sets the type, the value, Bound and not null.
  void SetAsString(const std::string& v);
  void SetAsSmallInt(std::int16_t v);
  void SetAsInteger(std::int32_t v);
  void SetAsWord(std::uint16_t v);
  void SetAsBoolean(bool v);
  void SetAsFloat(double v);
  void SetAsCurrency(fw::Currency v);
  void SetAsBCD(fw::Currency v);
  void SetAsDate(fw::TDateTime v);
  void SetAsTime(fw::TDateTime v);
  void SetAsDateTime(fw::TDateTime v);
  [[nodiscard]] std::string AsString() const { return value_.AsString(); }
  [[nodiscard]] std::int32_t AsInteger() const { return static_cast<std::int32_t>(value_.AsInteger()); }
  [[nodiscard]] double AsFloat() const { return value_.AsFloat(); }
  [[nodiscard]] fw::TDateTime AsDateTime() const { return value_.AsDateTime(); }
  // Null, value 0.
  void Clear();

  // From a parameter: type, value or null, Bound, Name, and the parameter
  // type when this one has none.
  void Assign(const TTolmidParam& source);
  // From a field: its type (a memo longer than 255 characters becomes a
  // string), value or null, Bound, the field's name.
  void AssignField(const fw::TField& field);
  void AssignTo(fw::TField& field) const;
  [[nodiscard]] bool Equal(const TTolmidParam& other) const;

  // Bytes of the binary value (above).
  [[nodiscard]] std::size_t DataSize() const;
  void GetData(void* buffer) const;
  // Reads size bytes of binary value (a string stops at its terminator or
  // at size).
  void SetData(const void* buffer, std::size_t size);

 private:
  friend class TTolmidParams;
  [[noreturn]] void TypeError() const;
  void Set(fw::TFieldType type, fw::Variant value);

  TTolmidParams* list_;
  fw::Variant value_{0};
  std::string name_;
  fw::TFieldType data_type_ = fw::TFieldType::ftUnknown;
  bool is_null_ = true;
  bool bound_ = false;
  TParamType param_type_;
};

class TTolmidParams {
 public:
  TTolmidParams() = default;
  ~TTolmidParams() { Clear(); }
  TTolmidParams(const TTolmidParams&) = delete;
  TTolmidParams& operator=(const TTolmidParams&) = delete;

  [[nodiscard]] int Count() const { return static_cast<int>(items_.size()); }
  // The first parameter named like parameter index (markers of the same
  // name share one value). "List index out of bounds (%d)".
  [[nodiscard]] TTolmidParam& Items(int index) const;
  // Parameter index itself.
  [[nodiscard]] TTolmidParam& At(int index) const;
  // Case-insensitive; "Parameter '%s' not found".
  [[nodiscard]] TTolmidParam& ParamByName(const std::string& name) const;
  [[nodiscard]] TTolmidParam* FindParam(const std::string& name) const;
  TTolmidParam& CreateParam(fw::TFieldType type, const std::string& name, TParamType param_type);
  // Frees all, the last first.
  void Clear();
  // Cleared, then a copy of every parameter of source.
  void Assign(const TTolmidParams& source);
  // Values of same-named parameters of source (names compared exactly).
  void AssignValues(const TTolmidParams& source);
  [[nodiscard]] bool Equal(const TTolmidParams& other) const;

  // The stored list (layout above). WriteData raises "Parameter '%s',
  // cannot save data larger than %d bytes" for a value above 2048 bytes.
  [[nodiscard]] std::vector<std::uint8_t> WriteData() const;
  // Replaces the list; on a fault the list is left as it was.
  void ReadData(std::span<const std::uint8_t> data);

 private:
  friend class TTolmidParam;
  void Remove(TTolmidParam* p);
  std::vector<TTolmidParam*> items_;  // owned
};

}  // namespace dataset
