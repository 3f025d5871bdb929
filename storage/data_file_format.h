// The data file (NAME.DAT) of a table: header, field descriptors and
// records. This file is the one definition of those bytes.
//
// All integers little-endian, all structures packed, no magic number: the
// file is known by its name and its version byte. A short string string[N]
// is a length byte and N character bytes (N + 1 bytes).
//
//   OFFSET                     SIZE                DESCRIPTION
//        0                      127                header
//      127                768 x fields             field descriptors, position 1 first
//      127 + 768 x fields   record size x records  records 1, 2, ...
//
// Header (127 bytes):
//   OFFSET  SIZE   DESCRIPTION
//        0     4   change counter, +1 on every header write
//        4     4   BLOB block size (>= 64; 512 from the table and SQL layers)
//        8     1   format version: 3
//        9     4   first free record number: head of the deleted chain (0 none)
//       13     4   next record number: the append position (1 when empty)
//       17     4   last record ID issued (0 in a new table)
//       21     2   record size, the 9-byte prefix included
//       23     2   field count, 1..1024
//       25     2   BLOB field count, 0..32
//       27     8   time of the last header write (f64, written, never read)
//       35    51   description, string[50]; characters scrambled when encrypted
//       86     1   encrypted: 1 = password set, contents scrambled
//       87    16   password, string[15]; characters scrambled; empty if plain
//      103     2   locale language id (0 = no locale, bytewise order)
//      105     2   locale sort id (locale id = sort << 16 | language)
//      107     2   creator value 1 (never read)
//      109     2   creator value 2: kTemporaryTableMark in a temporary
//                  table held by its maker (temp_table_sweep.h); otherwise
//                  as given at creation, never read
//      111     2   computed-area size: computed-field bytes after the record
//      113    14   reserved, zero
//
// Field descriptor (TFieldDescriptor, 768 bytes):
//   OFFSET  SIZE   DESCRIPTION
//        0     2   field number (1-based, unique)
//        2    31   name, string[30]: trimmed, starts with a letter, unique
//                  without regard to case
//       33    51   second text of the definition, string[50] (never read)
//       84     1   logical type (field_types.h)
//       85     1   subtype (29 = auto-increment)
//       86     1   declared size: types 1, 9, 15 (0..250); 0 otherwise
//       87     1   decimals (type 8 only)
//       88     1   physical size of the value (PhysicalSize in field_types.h)
//       89     1   working copy of the decimals
//       90     2   offset of the null-flag byte in the record (5 for an
//                  auto-increment field: its value is the record ID)
//       92     1   required
//       93     1   reserved
//       94    51   minimum value text, string[50]
//      145    51   maximum value text, string[50]
//      196    51   default value text, string[50] ("NOW", "DATE", "TIME")
//      247     1   computed: 1 = lives in the computed area, not on disk
//      248   256   computing expression source text, string[255]
//      504     4   run-time expression id (a registry id of the data file,
//                  never an address); written as 0 and cleared on reading
//      508   260   reserved, zero
//
// Record (PhysicalRecord, record size bytes):
//   OFFSET  SIZE   DESCRIPTION
//        0     1   status: 0 active, 1 deleted
//        1     4   free link: next deleted record (0 = end); deleted only
//        5     4   record ID (also the value of an auto-increment field)
//        9     .   stored fields in descriptor order: flag byte + value
// record size = 9 + sum(physical size + 1) over the stored fields (neither
// auto-increment nor computed). Computed fields take (physical size + 1)
// bytes each in the computed area that follows the record in memory only;
// record size + computed-area size <= 65535. Record numbers are 1-based;
// the record count is kept by the index file.
//
// Scrambling (encrypted tables): ScrambleBuffer (scrambler.h) from a
// fixed start pair, applied to every record image (whole record size), to
// the descriptor area as one block whose length is taken modulo 65536 (so a
// table of more than 85 fields has only the first (768 x fields) mod 65536
// bytes scrambled; 1024 fields: none), and to the characters (not the
// length bytes, nor the bytes after them) of the header's description and
// password, each string from the start. Index pages and headers and BLOB
// blocks use the contents pair too. The pairs are part of the format and
// never change:
//   contents:        low 0x6B, high 0xD2
//   header strings:  low 0x35, high 0xA9
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "storage/field_types.h"

namespace storage {

static_assert(std::endian::native == std::endian::little, "data files are little-endian");

inline constexpr std::uint8_t kDataFileVersion = 3;
inline constexpr std::size_t kDataHeaderSize = 127;
inline constexpr std::size_t kFieldDescriptorSize = 768;
inline constexpr int kMaxFields = 1024;
inline constexpr int kMaxBlobFields = 32;
inline constexpr std::uint32_t kDataMinBlobBlockSize = 64;
inline constexpr std::uint32_t kDataDefaultBlobBlockSize = 512;
inline constexpr std::size_t kMaxRecordBufferSize = 65535;
inline constexpr int kMaxDescriptionLength = 50;
inline constexpr int kMaxPasswordLength = 15;

inline constexpr std::uint8_t kContentScrambleLow = 0x6B;
inline constexpr std::uint8_t kContentScrambleHigh = 0xD2;
inline constexpr std::uint8_t kHeaderScrambleLow = 0x35;
inline constexpr std::uint8_t kHeaderScrambleHigh = 0xA9;

// Header offsets.
inline constexpr std::size_t kDhCounter = 0;
inline constexpr std::size_t kDhBlobBlockSize = 4;
inline constexpr std::size_t kDhVersion = 8;
inline constexpr std::size_t kDhFreeHead = 9;
inline constexpr std::size_t kDhNextRecord = 13;
inline constexpr std::size_t kDhLastRecordId = 17;
inline constexpr std::size_t kDhRecordSize = 21;
inline constexpr std::size_t kDhFieldCount = 23;
inline constexpr std::size_t kDhBlobCount = 25;
inline constexpr std::size_t kDhUpdateTime = 27;
inline constexpr std::size_t kDhDescription = 35;
inline constexpr std::size_t kDhEncrypted = 86;
inline constexpr std::size_t kDhPassword = 87;
inline constexpr std::size_t kDhLanguage = 103;
inline constexpr std::size_t kDhSort = 105;

// The locale identifier of a table: the sort id (high word) and language id
// (low word) of the header.
constexpr std::uint32_t MakeLong(std::uint16_t low, std::uint16_t high) {
  return (static_cast<std::uint32_t>(high) << 16) | low;
}
inline constexpr std::size_t kDhCreator1 = 107;
inline constexpr std::size_t kDhCreator2 = 109;
inline constexpr std::size_t kDhComputedSize = 111;
inline constexpr std::size_t kDhReserved = 113;

// Creator value 2 of a temporary table (a query's result, deleted when its
// maker closes it) from the moment its maker holds it open for good.
inline constexpr std::uint16_t kTemporaryTableMark = 0x5754;  // "TW"

#pragma pack(push, 1)
// string[N]: a length byte and N characters. The length byte of a stored
// string may be anything; View never reads past N.
template <std::size_t N>
struct ShortString {
  std::uint8_t Length = 0;
  char Chars[N] = {};

  [[nodiscard]] std::string_view View() const {
    return std::string_view(Chars, Length > N ? N : Length);
  }
  [[nodiscard]] bool Empty() const { return Length == 0; }
  // Stores at most N characters; the bytes after them become zero.
  void Assign(std::string_view s) {
    std::memset(Chars, 0, N);
    Length = static_cast<std::uint8_t>(s.size() > N ? N : s.size());
    if (Length > 0) std::memcpy(Chars, s.data(), Length);
  }
};

// The stored record's fixed prefix; the field values follow it.
struct PhysicalRecord {
  std::uint8_t Status;     // 0 active, 1 deleted
  std::uint32_t FreeLink;  // next deleted record, in a deleted record
  std::uint32_t RecordId;
};

struct TFieldDescriptor {
  std::uint16_t FieldNumber = 0;
  ShortString<30> Name;
  ShortString<50> SecondText;
  std::uint8_t FieldType = 0;
  std::uint8_t Subtype = 0;
  std::uint8_t Size = 0;
  std::uint8_t Decimals = 0;
  std::uint8_t PhysicalSize = 0;
  std::uint8_t PhysicalDecimals = 0;
  std::uint16_t Offset = 0;
  std::uint8_t Required = 0;
  std::uint8_t Reserved1 = 0;
  ShortString<50> MinValue;
  ShortString<50> MaxValue;
  ShortString<50> DefaultValue;
  std::uint8_t Computed = 0;
  ShortString<255> Expression;
  std::uint32_t ExpressionRef = 0;
  std::uint8_t Reserved2[260] = {};

  [[nodiscard]] storage::FieldType Type() const { return static_cast<storage::FieldType>(FieldType); }
  [[nodiscard]] bool IsAutoIncrement() const {
    return FieldType == TypeCode(storage::FieldType::kInteger) &&
           Subtype == SubtypeCode(FieldSubtype::kAutoIncrement);
  }
  [[nodiscard]] bool IsComputed() const { return Computed != 0; }
  // Neither auto-increment nor computed: has its own bytes in the record.
  [[nodiscard]] bool IsStored() const { return !IsComputed() && !IsAutoIncrement(); }
  [[nodiscard]] bool HasChecks() const {
    return Required != 0 || !MinValue.Empty() || !MaxValue.Empty();
  }
  [[nodiscard]] FieldSlot Slot() const {
    return FieldSlot{Offset, Type(), static_cast<FieldSubtype>(Subtype), PhysicalSize};
  }
};
#pragma pack(pop)

static_assert(sizeof(PhysicalRecord) == kRecordPrefixSize);
static_assert(offsetof(PhysicalRecord, FreeLink) == 1);
static_assert(offsetof(PhysicalRecord, RecordId) == kRecordIdOffset);
static_assert(sizeof(TFieldDescriptor) == kFieldDescriptorSize);
static_assert(std::is_trivially_copyable_v<TFieldDescriptor>);
static_assert(offsetof(TFieldDescriptor, Name) == 2);
static_assert(offsetof(TFieldDescriptor, SecondText) == 33);
static_assert(offsetof(TFieldDescriptor, FieldType) == 84);
static_assert(offsetof(TFieldDescriptor, PhysicalSize) == 88);
static_assert(offsetof(TFieldDescriptor, Offset) == 90);
static_assert(offsetof(TFieldDescriptor, Required) == 92);
static_assert(offsetof(TFieldDescriptor, MinValue) == 94);
static_assert(offsetof(TFieldDescriptor, MaxValue) == 145);
static_assert(offsetof(TFieldDescriptor, DefaultValue) == 196);
static_assert(offsetof(TFieldDescriptor, Computed) == 247);
static_assert(offsetof(TFieldDescriptor, Expression) == 248);
static_assert(offsetof(TFieldDescriptor, ExpressionRef) == 504);
static_assert(offsetof(TFieldDescriptor, Reserved2) == 508);

// The 127-byte header image.
class DataFileHeader {
 public:
  DataFileHeader() { bytes_.fill(0); }

  [[nodiscard]] std::uint8_t* Data() { return bytes_.data(); }
  [[nodiscard]] const std::uint8_t* Data() const { return bytes_.data(); }

  [[nodiscard]] std::uint32_t Counter() const { return U32(kDhCounter); }
  void SetCounter(std::uint32_t v) { SetU32(kDhCounter, v); }
  [[nodiscard]] std::uint32_t BlobBlockSize() const { return U32(kDhBlobBlockSize); }
  void SetBlobBlockSize(std::uint32_t v) { SetU32(kDhBlobBlockSize, v); }
  [[nodiscard]] std::uint8_t Version() const { return bytes_[kDhVersion]; }
  void SetVersion(std::uint8_t v) { bytes_[kDhVersion] = v; }
  [[nodiscard]] std::uint32_t FreeHead() const { return U32(kDhFreeHead); }
  void SetFreeHead(std::uint32_t v) { SetU32(kDhFreeHead, v); }
  [[nodiscard]] std::uint32_t NextRecord() const { return U32(kDhNextRecord); }
  void SetNextRecord(std::uint32_t v) { SetU32(kDhNextRecord, v); }
  [[nodiscard]] std::uint32_t LastRecordId() const { return U32(kDhLastRecordId); }
  void SetLastRecordId(std::uint32_t v) { SetU32(kDhLastRecordId, v); }
  [[nodiscard]] std::uint16_t RecordSize() const { return U16(kDhRecordSize); }
  void SetRecordSize(std::uint16_t v) { SetU16(kDhRecordSize, v); }
  [[nodiscard]] std::uint16_t FieldCount() const { return U16(kDhFieldCount); }
  void SetFieldCount(std::uint16_t v) { SetU16(kDhFieldCount, v); }
  [[nodiscard]] std::uint16_t BlobCount() const { return U16(kDhBlobCount); }
  void SetBlobCount(std::uint16_t v) { SetU16(kDhBlobCount, v); }
  [[nodiscard]] double UpdateTime() const { return LoadLittle<double>(&bytes_[kDhUpdateTime]); }
  void SetUpdateTime(double v) { StoreLittle<double>(&bytes_[kDhUpdateTime], v); }
  [[nodiscard]] bool Encrypted() const { return bytes_[kDhEncrypted] == 1; }
  [[nodiscard]] std::uint8_t EncryptedByte() const { return bytes_[kDhEncrypted]; }
  void SetEncrypted(bool v) { bytes_[kDhEncrypted] = v ? 1 : 0; }
  [[nodiscard]] std::uint16_t Language() const { return U16(kDhLanguage); }
  void SetLanguage(std::uint16_t v) { SetU16(kDhLanguage, v); }
  [[nodiscard]] std::uint16_t SortId() const { return U16(kDhSort); }
  void SetSortId(std::uint16_t v) { SetU16(kDhSort, v); }
  [[nodiscard]] std::uint16_t Creator1() const { return U16(kDhCreator1); }
  void SetCreator1(std::uint16_t v) { SetU16(kDhCreator1, v); }
  [[nodiscard]] std::uint16_t Creator2() const { return U16(kDhCreator2); }
  void SetCreator2(std::uint16_t v) { SetU16(kDhCreator2, v); }
  [[nodiscard]] std::uint16_t ComputedSize() const { return U16(kDhComputedSize); }
  void SetComputedSize(std::uint16_t v) { SetU16(kDhComputedSize, v); }

  // The raw (possibly scrambled) strings: length byte plus characters.
  [[nodiscard]] ShortString<50> Description() const { return Get<ShortString<50>>(kDhDescription); }
  void SetDescription(const ShortString<50>& s) { Put(kDhDescription, s); }
  [[nodiscard]] ShortString<15> Password() const { return Get<ShortString<15>>(kDhPassword); }
  void SetPassword(const ShortString<15>& s) { Put(kDhPassword, s); }

  // Start of record 1: 127 + 768 x field count.
  [[nodiscard]] std::uint64_t DataStart() const {
    return kDataHeaderSize + kFieldDescriptorSize * std::uint64_t{FieldCount()};
  }

 private:
  [[nodiscard]] std::uint16_t U16(std::size_t o) const { return LoadLittle<std::uint16_t>(&bytes_[o]); }
  [[nodiscard]] std::uint32_t U32(std::size_t o) const { return LoadLittle<std::uint32_t>(&bytes_[o]); }
  void SetU16(std::size_t o, std::uint16_t v) { StoreLittle<std::uint16_t>(&bytes_[o], v); }
  void SetU32(std::size_t o, std::uint32_t v) { StoreLittle<std::uint32_t>(&bytes_[o], v); }
  template <class T>
  [[nodiscard]] T Get(std::size_t o) const {
    T v;
    std::memcpy(&v, &bytes_[o], sizeof(T));
    return v;
  }
  template <class T>
  void Put(std::size_t o, const T& v) {
    std::memcpy(&bytes_[o], &v, sizeof(T));
  }

  std::array<std::uint8_t, kDataHeaderSize> bytes_;
};

// Scrambles (or unscrambles: the same operation) the characters of a header
// string with the header pair.
template <std::size_t N>
void ScrambleHeaderString(ShortString<N>& s);

// Contents pair over n bytes, n taken modulo 65536 as the files are written.
void ScrambleTableContents(void* buffer, std::size_t n);

// True when a data file of file_size bytes ends inside its header and field
// descriptors: cut there, it holds no record, nor the layout to read one
// by. head: the file's first bytes, all of them up to kMaxHeaderArea. A
// file shorter than the header is cut; a longer one when its header (version
// 3, field count 1..1024, encrypted byte 0 or 1) says the descriptors reach
// past its end and every descriptor present carries its position as its
// field number (as much of it as the cut left). A header whose field count was raised by damage is no
// cut: a record stands where the next descriptor would, and its first byte
// (the status, 0 or 1) is the low byte of no position from 2 to 255 (what
// this proves no more for tables of 255 fields and more).
inline constexpr std::size_t kMaxHeaderArea = kDataHeaderSize + kFieldDescriptorSize * kMaxFields;
[[nodiscard]] bool EndsInsideItsHeader(std::span<const std::uint8_t> head, std::uint64_t file_size);

// Checks a header read from a file of file_size bytes before anything
// trusts it. Returns 0 or the engine code: 12035 version; 9221 a header
// value out of range (field count 0 or above 1024, BLOB count above 32,
// record size below 9, record plus computed area above 65535, encrypted
// byte other than 0/1, string lengths beyond their widths, a file too short
// for its descriptors, next record number 0); 8962 the record area (next
// record number beyond the file, free-chain head outside 1..next - 1,
// offsets past 2^31). It proves only that the numbers are in range.
[[nodiscard]] std::uint16_t CheckDataHeader(const DataFileHeader& h, std::uint64_t file_size);

// Checks descriptors (already unscrambled) against the header: known type,
// string widths, declared size 0..250 (0 for the other types), physical
// size equal to the type's, computed flag 0/1, every field inside the record
// (auto-increment at 5, stored fields in 9..record size, computed fields in
// the computed area), the record size and computed-area size equal to the
// sums over the descriptors, and the BLOB count. Returns 0 or 9221. It does
// not prove that stored fields do not overlap.
[[nodiscard]] std::uint16_t CheckFieldDescriptors(std::span<const TFieldDescriptor> fields,
                                                  const DataFileHeader& h);

// 9 + sum(physical size + 1) over the stored fields, and the same sum over
// computed fields; 64-bit so that no definition can wrap.
struct RecordSizes {
  std::uint64_t record = kRecordPrefixSize;
  std::uint64_t computed = 0;
};
[[nodiscard]] RecordSizes ComputeRecordSizes(std::span<const TFieldDescriptor> fields);

}  // namespace storage
