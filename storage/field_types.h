// The engine's logical field types, their subtypes, the physical size of a
// value in a record, and how a typed value sits in a record buffer.
//
// This is the one definition of the value layout; the data file, the index
// keys and the expression evaluator all read and write values through it.
//
// A stored field occupies (1 + physical size) bytes of the record:
//
//   OFFSET  SIZE           DESCRIPTION
//      0      1            null flag: 1 = has a value, 0 = null
//      1    physical size  the value (all bytes zero when null)
//
// Auto-increment fields (type 6, subtype 29) take no room of their own: the
// field's offset is 5, the record ID, and the value is never null.
//
// Stored values (all little-endian):
//
//   type  meaning                 size        value
//    1    string                  declared+1  characters, zero-terminated;
//                                             trailing blanks removed when
//                                             written; "" is stored as null
//    2    date                    4           i32 day number, 0001-01-01 = 1
//    3    BLOB                    4           u32 offset of the first block
//    4    boolean                 2           u16 0 false, 1 true
//    5    16-bit signed integer   2           i16
//    6    32-bit signed integer   4           i32
//    7    float                   8           IEEE double (subtype 21 money)
//    8    fixed-point decimal     8           i64 count of 1/10000
//    9    bytes                   declared    raw bytes
//   10    time                    4           i32 milliseconds since midnight
//   11    timestamp               8           double: day x 86400000 + ms
//   12    16-bit unsigned         2           u16
//   13    32-bit unsigned         4           u32
//   14    extended float          10          80-bit x87 extended float
//   15    variable bytes          declared    raw bytes
//
// Types 17, 18 and 20-23 exist only as targets of the framework type
// mapping; their declared size is zeroed at creation, so they hold only the
// flag byte.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/little_endian.h"

namespace storage {

using platform::LoadLittle;
using platform::StoreLittle;

// Logical field types. 0 is no type: the NULL literal inside expressions
// and ftUnknown (refused at creation) in the framework mapping.
enum class FieldType : std::uint8_t {
  kNone = 0,
  kString = 1,
  kDate = 2,
  kBlob = 3,
  kBoolean = 4,
  kSmallInt = 5,
  kInteger = 6,
  kFloat = 7,
  kCurrency = 8,  // fixed-point decimal, i64 count of 1/10000 (BCD fields)
  kBytes = 9,
  kTime = 10,
  kTimestamp = 11,
  kWord = 12,
  kLongWord = 13,
  kExtended = 14,
  kVarBytes = 15,
  kCursor = 17,
  kLargeInt = 18,
  kADT = 20,
  kArray = 21,
  kReference = 22,
  kDataSet = 23,
};

// Subtypes. The engine acts on kAutoIncrement only; the others are carried
// for the dataset layer.
enum class FieldSubtype : std::uint8_t {
  kNone = 0,
  kMoney = 21,         // float
  kMemo = 22,          // BLOB
  kBinary = 23,        // BLOB
  kFmtMemo = 24,       // BLOB
  kGraphic = 26,       // BLOB
  kTypedBinary = 28,   // BLOB
  kAutoIncrement = 29, // 32-bit integer
  kFixedChar = 31,     // string
  kWideString = 32,    // string
};

constexpr std::uint8_t TypeCode(FieldType t) { return static_cast<std::uint8_t>(t); }
constexpr std::uint8_t SubtypeCode(FieldSubtype s) { return static_cast<std::uint8_t>(s); }

// Longest declared size of a string, bytes or variable-bytes field.
inline constexpr int kMaxDeclaredSize = 250;
// Offset of the record ID, which is also the value of an auto-increment
// field.
inline constexpr std::uint16_t kRecordIdOffset = 5;
// The fixed record prefix: status u8, free link u32, record ID u32.
inline constexpr std::uint16_t kRecordPrefixSize = 9;

// The mapping-only types (17, 18, 20..23): declared size 0, flag byte only.
constexpr bool IsMappingOnlyType(FieldType t) {
  return t == FieldType::kCursor || t == FieldType::kLargeInt ||
         (TypeCode(t) >= TypeCode(FieldType::kADT) && TypeCode(t) <= TypeCode(FieldType::kDataSet));
}
// Type codes a field descriptor may carry: 1..15 and the mapping-only types
// (19 has no mapping).
constexpr bool IsKnownFieldType(std::uint8_t code) {
  return (code >= TypeCode(FieldType::kString) && code <= TypeCode(FieldType::kVarBytes)) ||
         IsMappingOnlyType(static_cast<FieldType>(code));
}

// Types whose declared size the caller gives (1 to 250).
constexpr bool HasDeclaredSize(FieldType t) {
  return t == FieldType::kString || t == FieldType::kBytes || t == FieldType::kVarBytes;
}

// Physical size of a value in the record: string = declared size + 1;
// date, BLOB, 32-bit integer, time and 32-bit unsigned = 4; boolean and the
// 16-bit integers = 2; float, fixed-point and timestamp = 8; extended = 10;
// every other type = its declared size (zeroed at creation for the
// mapping-only types).
constexpr int PhysicalSize(FieldType t, int declared_size) {
  switch (t) {
    case FieldType::kString: return declared_size + 1;
    case FieldType::kDate:
    case FieldType::kBlob:
    case FieldType::kInteger:
    case FieldType::kTime:
    case FieldType::kLongWord: return 4;
    case FieldType::kBoolean:
    case FieldType::kSmallInt:
    case FieldType::kWord: return 2;
    case FieldType::kFloat:
    case FieldType::kCurrency:
    case FieldType::kTimestamp: return 8;
    case FieldType::kExtended: return 10;
    default: return declared_size;
  }
}

// Numeric types of the expression rules: int16, int32, float, currency and
// word.
constexpr bool IsNumericType(FieldType t) {
  return t == FieldType::kSmallInt || t == FieldType::kInteger || t == FieldType::kFloat ||
         t == FieldType::kCurrency || t == FieldType::kWord;
}
// The integer types of the expression rules: int16, int32 and word.
constexpr bool IsIntegerType(FieldType t) {
  return t == FieldType::kSmallInt || t == FieldType::kInteger || t == FieldType::kWord;
}
constexpr bool IsDateTimeType(FieldType t) {
  return t == FieldType::kDate || t == FieldType::kTime || t == FieldType::kTimestamp;
}

// Milliseconds in a day; timestamps count day x kMSecsPerDay + ms.
inline constexpr double kMSecsPerDay = 86400000.0;

// ---------------------------------------------------------------- raw values

// 80-bit x87 extended float (64-bit mantissa with explicit integer bit,
// 15-bit exponent, sign) to and from double. Values beyond the double range
// become infinities; NaNs stay NaNs.
double ExtendedToDouble(const void* ten_bytes);
void DoubleToExtended(double value, void* ten_bytes);

// ---------------------------------------------------------------- record slots

// Where one field's value lies in a record buffer: the offset of its flag
// byte (for an auto-increment field: 5, the record ID), its type, subtype
// and physical size.
struct FieldSlot {
  std::uint16_t offset = 0;
  FieldType type = FieldType::kNone;
  FieldSubtype subtype = FieldSubtype::kNone;
  std::uint8_t physical_size = 0;

  bool IsAutoIncrement() const {
    return type == FieldType::kInteger && subtype == FieldSubtype::kAutoIncrement;
  }
  // Bytes the slot covers in the record, flag included.
  std::size_t Extent() const {
    return IsAutoIncrement() ? offset + std::size_t{4} : offset + std::size_t{1} + physical_size;
  }
};

// All record routines below REQUIRE: slot.Extent() <= record.size(). The
// data file checks its descriptors against the record size when it reads
// them, so a slot never points outside the record.

// Not-a-number in a float or timestamp value (8 bytes, little-endian).
// NaN has one meaning in the engine: it is null, as SQLite stores it. It
// has no place in an order (every comparison with it is false), so a key,
// a filter bitmap and the evaluator could otherwise each place it
// differently. Stored values are read as null with the value 0 (records,
// keys, expression nodes), and a NaN written to a field stores null.
[[nodiscard]] bool IsNotANumber(FieldType type, const void* value);

// True when the field holds a value (flag byte non-zero and not NaN; an
// auto-increment field always does). Inline: the SQL engine asks it for
// every column of every row it reads.
inline bool FieldHasValue(std::span<const std::byte> record, const FieldSlot& slot) {
  assert(slot.Extent() <= record.size());
  if (slot.IsAutoIncrement()) return true;
  if (record[slot.offset] == std::byte{0}) return false;
  return slot.physical_size < 8 || !IsNotANumber(slot.type, record.data() + slot.offset + 1);
}

// The value bytes of the field (physical size bytes after the flag; the 4
// record-ID bytes for an auto-increment field).
inline std::span<const std::byte> FieldValueBytes(std::span<const std::byte> record,
                                                  const FieldSlot& slot) {
  assert(slot.Extent() <= record.size());
  if (slot.IsAutoIncrement()) return record.subspan(slot.offset, 4);
  return record.subspan(slot.offset + std::size_t{1}, slot.physical_size);
}

// Sets the field to null: flag 0, value bytes zero. Nothing for an
// auto-increment field.
void ClearField(std::span<std::byte> record, const FieldSlot& slot);

// Stores raw value bytes: flag 1, the bytes (at most the physical size),
// the rest of the value zero. For an auto-increment field the record ID is
// not touched.
void PutFieldBytes(std::span<std::byte> record, const FieldSlot& slot,
                   std::span<const std::byte> value);

// Strings: the text up to its zero byte, never past the physical size.
std::string_view GetFieldString(std::span<const std::byte> record, const FieldSlot& slot);
// Stores text cut to physical size - 1 characters with trailing blanks
// removed; an empty result is stored as null.
void PutFieldString(std::span<std::byte> record, const FieldSlot& slot, std::string_view text);

// Booleans: any non-zero value reads true; true is stored as 1.
bool GetFieldBoolean(std::span<const std::byte> record, const FieldSlot& slot);
void PutFieldBoolean(std::span<std::byte> record, const FieldSlot& slot, bool value);

// Fixed-width numbers of the slot's width (REQUIRES physical size ==
// sizeof(T), or an auto-increment slot for i32).
template <class T>
T GetFieldValue(std::span<const std::byte> record, const FieldSlot& slot) {
  auto bytes = FieldValueBytes(record, slot);
  assert(bytes.size() >= sizeof(T));
  return LoadLittle<T>(bytes.data());
}

template <class T>
void PutFieldValue(std::span<std::byte> record, const FieldSlot& slot, T value) {
  std::byte raw[sizeof(T)];
  StoreLittle<T>(raw, value);
  PutFieldBytes(record, slot, std::span<const std::byte>(raw, sizeof(T)));
}

}  // namespace storage
