// The index file (NAME.IDX): layout, the index descriptor and header access.
//
// Every table keeps all of its indexes in one file of 4096-byte blocks: a
// header block at offset 0, then pages. Numbers are little-endian and
// packed; there is no magic number. A page is addressed by its file offset
// (a multiple of 4096, the first page at 4096); 0 in a link means "none".
// Pages are never given back to the file system: a freed page goes on the
// free-page list of its index and the file only grows, except when every
// index is emptied (the file is then cut back to the header).
//
// Header (4096 bytes):
//   OFFSET  SIZE   DESCRIPTION
//        0     4   change counter, +1 on every header write (before it)
//        4     4   unused, zero
//        8     1   version: 3
//        9     4   end offset: where the next new page is appended
//       13     1   number of secondary indexes, 0..30
//       14  3960   33 index descriptors of 120 bytes, slots 0..32
//     3974     4   record count: live records of the table
//     3978     1   no-primary-key flag (1: slot 0 is all zero)
//     3979   117   unused, zero
// Slot 0 is the primary index (empty name, unique), slots 1..30 the
// secondary indexes in creation order, slot 31 the internal "Sys Deleted"
// index (key size 5: status byte + 4-byte record-ID key), slot 32 unused.
//
// Index descriptor (120 bytes, the same image in memory):
//   OFFSET  SIZE   DESCRIPTION
//        0    31   name: length byte + up to 30 characters
//       31     2   key size in bytes, 1..1034
//       33     1   descending: every key comparison reversed
//       34     1   case-insensitive: string parts stored upper-cased
//       35     1   unique; 0 = key ends in the 4-byte record-ID key
//       36     1   compressed leaves
//       37     1   field count, 1..16
//       38    16   per-field descending flags
//       54    32   16 x u16 field numbers, key order, unused 0
//       86     4   root page (0 = empty index)
//       90     4   head of this index's free-page list (0 = empty)
//       94    26   unused, zero
//
// Page (4096 bytes):
//   OFFSET  SIZE   DESCRIPTION
//        0     1   type: 0 root interior, 1 interior, 2 leaf, 3 root leaf
//        1     2   number of entries
//        3     4   previous page on the same level (0 = first)
//        7     4   next page on the same level (0 = last); on the free
//                  list: the next free page
//       11     2   bytes used by the entries of a compressed leaf, else 0
//       13  4083   entries packed from 13; the rest of the page is zero
// Entries (k = key size):
//   interior:          key[k] child:u32 subtree_leaf_count:u32
//                      (the key is the smallest key of the child's subtree)
//                      capacity 4083 div (k + 8)
//   leaf:              key[k] record_number:u32, capacity 4083 div (k + 4)
//   compressed leaf:   p:u16 key[p..k-1] record_number:u32, where p is the
//                      number of leading bytes shared with the previous
//                      entry's key (0 for the first entry); full when the
//                      entries take more than 4083 bytes
// Pages of one level are doubly linked in key order. The position of an
// entry is 1 + the entries before it, summed down the path from the root.
//
// Scrambled tables: header and every page are scrambled as one 4096-byte
// buffer each (the data file's scrambler and start pair).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/little_endian.h"

namespace storage {

using platform::LoadLittle;
using platform::StoreLittle;

static_assert(std::endian::native == std::endian::little, "index files are little-endian");

constexpr std::uint32_t kIndexBlockSize = 4096;
constexpr std::uint8_t kIndexVersion = 3;
constexpr std::uint16_t kMaxKeySize = 1034;
// A key buffer holds the largest key plus a record-ID suffix.
constexpr std::size_t kKeyBufferSize = kMaxKeySize + 4;
constexpr int kMaxSecondaryIndexes = 30;
constexpr int kMaxKeyFields = 16;
constexpr int kIndexSlots = 33;
constexpr int kSysDeletedSlot = 31;
constexpr std::uint16_t kSysDeletedKeySize = 5;
constexpr char kSysDeletedName[] = "Sys Deleted";
constexpr std::uint8_t kNoIndex = 255;

// Header offsets.
constexpr std::size_t kHdrCounter = 0;
constexpr std::size_t kHdrVersion = 8;
constexpr std::size_t kHdrEndOffset = 9;
constexpr std::size_t kHdrSecondaryCount = 13;
constexpr std::size_t kHdrDescriptors = 14;
constexpr std::size_t kDescriptorSize = 120;
constexpr std::size_t kHdrRecordCount = 3974;
constexpr std::size_t kHdrNoPrimaryKey = 3978;

// Page offsets.
constexpr std::size_t kPageType = 0;
constexpr std::size_t kPageCount = 1;
constexpr std::size_t kPagePrev = 3;
constexpr std::size_t kPageNext = 7;
constexpr std::size_t kPageBytesUsed = 11;
constexpr std::size_t kPageEntries = 13;
constexpr std::size_t kPageEntryArea = kIndexBlockSize - kPageEntries;  // 4083

enum class PageType : std::uint8_t { kRootInterior = 0, kInterior = 1, kLeaf = 2, kRootLeaf = 3 };

constexpr bool IsLeafType(std::uint8_t t) { return t == 2 || t == 3; }
constexpr bool IsRootType(std::uint8_t t) { return t == 0 || t == 3; }

constexpr int InteriorCapacity(std::uint16_t key_size) {
  return static_cast<int>(kPageEntryArea / (key_size + 8u));
}
constexpr int LeafCapacity(std::uint16_t key_size) {
  return static_cast<int>(kPageEntryArea / (key_size + 4u));
}
static_assert(InteriorCapacity(5) == 314 && LeafCapacity(5) == 453);
static_assert(InteriorCapacity(kMaxKeySize) == 3 && LeafCapacity(kMaxKeySize) == 3);

#pragma pack(push, 1)
// One index definition; filled by the dataset layer for table creation and
// restructuring, copied whole into and out of the header.
struct TIndexDescriptor {
  std::uint8_t NameLength = 0;
  char Name[30] = {};
  std::uint16_t KeySize = 0;
  std::uint8_t Descending = 0;
  std::uint8_t CaseInsensitive = 0;
  std::uint8_t Unique = 0;
  std::uint8_t Compressed = 0;
  std::uint8_t FieldCount = 0;
  std::uint8_t FieldDescending[16] = {};
  std::uint16_t FieldNumbers[16] = {};
  std::uint32_t RootPage = 0;
  std::uint32_t FreePageHead = 0;
  std::uint8_t Unused[26] = {};

  [[nodiscard]] std::string NameText() const {
    return std::string(Name, NameLength > 30 ? 30 : NameLength);
  }
  // Stores at most 30 characters.
  void SetName(std::string_view name) {
    std::memset(Name, 0, sizeof(Name));
    NameLength = static_cast<std::uint8_t>(name.size() > 30 ? 30 : name.size());
    std::memcpy(Name, name.data(), NameLength);
  }
};
#pragma pack(pop)
static_assert(sizeof(TIndexDescriptor) == kDescriptorSize);
static_assert(offsetof(TIndexDescriptor, KeySize) == 31);
static_assert(offsetof(TIndexDescriptor, FieldCount) == 37);
static_assert(offsetof(TIndexDescriptor, FieldNumbers) == 54);
static_assert(offsetof(TIndexDescriptor, RootPage) == 86);
static_assert(offsetof(TIndexDescriptor, FreePageHead) == 90);

// Leaf compression rule: off for a one-field unique index and for a
// one-field non-unique index on a non-string field; on otherwise.
constexpr bool CompressionFor(int field_count, bool unique, bool first_field_is_string) {
  if (field_count >= 2) return true;
  if (unique) return false;
  return first_field_is_string;
}

// The 4096-byte header image. It also keeps the range of bytes changed
// since the last CopyChangesTo (every byte after a construction, an
// assignment or a writable Data()), so that a snapshot kept in step with it
// is brought up to date by copying that range only.
class IndexHeader {
 public:
  IndexHeader() { bytes_.fill(0); }
  IndexHeader(const IndexHeader& other) : bytes_(other.bytes_) {}
  IndexHeader& operator=(const IndexHeader& other) {
    bytes_ = other.bytes_;
    TouchAll();
    return *this;
  }

  [[nodiscard]] std::uint8_t* Data() {
    TouchAll();
    return bytes_.data();
  }
  [[nodiscard]] const std::uint8_t* Data() const { return bytes_.data(); }

  [[nodiscard]] std::uint32_t Counter() const { return U32(kHdrCounter); }
  void SetCounter(std::uint32_t v) { SetU32(kHdrCounter, v); }
  [[nodiscard]] std::uint8_t Version() const { return bytes_[kHdrVersion]; }
  void SetVersion(std::uint8_t v) { SetU8(kHdrVersion, v); }
  [[nodiscard]] std::uint32_t EndOffset() const { return U32(kHdrEndOffset); }
  void SetEndOffset(std::uint32_t v) { SetU32(kHdrEndOffset, v); }
  [[nodiscard]] std::uint8_t SecondaryCount() const { return bytes_[kHdrSecondaryCount]; }
  void SetSecondaryCount(std::uint8_t v) { SetU8(kHdrSecondaryCount, v); }
  [[nodiscard]] std::uint32_t RecordCount() const { return U32(kHdrRecordCount); }
  void SetRecordCount(std::uint32_t v) { SetU32(kHdrRecordCount, v); }
  [[nodiscard]] bool NoPrimaryKey() const { return bytes_[kHdrNoPrimaryKey] != 0; }
  void SetNoPrimaryKey(bool v) { SetU8(kHdrNoPrimaryKey, v ? 1 : 0); }

  [[nodiscard]] TIndexDescriptor Descriptor(int slot) const {
    TIndexDescriptor d;
    std::memcpy(&d, &bytes_[kHdrDescriptors + kDescriptorSize * slot], kDescriptorSize);
    return d;
  }
  void SetDescriptor(int slot, const TIndexDescriptor& d) {
    const std::size_t o = kHdrDescriptors + kDescriptorSize * static_cast<std::size_t>(slot);
    Touch(o, kDescriptorSize);
    std::memcpy(&bytes_[o], &d, kDescriptorSize);
  }
  // Slot 31 as every index file has it: "Sys Deleted", key size 5, not
  // compressed (its root and free list kept).
  void SetSysDeletedDescriptor() {
    TIndexDescriptor d = Descriptor(kSysDeletedSlot);
    d.SetName(kSysDeletedName);
    d.KeySize = kSysDeletedKeySize;
    d.Compressed = 0;
    SetDescriptor(kSysDeletedSlot, d);
  }
  [[nodiscard]] std::uint32_t Root(int slot) const { return U32(DescOffset(slot, 86)); }
  void SetRoot(int slot, std::uint32_t v) { SetU32(DescOffset(slot, 86), v); }
  [[nodiscard]] std::uint32_t FreeHead(int slot) const { return U32(DescOffset(slot, 90)); }
  void SetFreeHead(int slot, std::uint32_t v) { SetU32(DescOffset(slot, 90), v); }

  // Makes snapshot equal to this header, given that it already equals it
  // outside the bytes changed since the last call (or since this header
  // was constructed or assigned); then starts a new range.
  void CopyChangesTo(IndexHeader& snapshot) {
    if (touched_lo_ < touched_hi_) {
      std::memcpy(&snapshot.bytes_[touched_lo_], &bytes_[touched_lo_], touched_hi_ - touched_lo_);
    }
    touched_lo_ = kIndexBlockSize;
    touched_hi_ = 0;
  }

 private:
  void Touch(std::size_t o, std::size_t n) {
    touched_lo_ = std::min(touched_lo_, o);
    touched_hi_ = std::max(touched_hi_, o + n);
  }
  void TouchAll() {
    touched_lo_ = 0;
    touched_hi_ = kIndexBlockSize;
  }
  void SetU8(std::size_t o, std::uint8_t v) {
    Touch(o, 1);
    bytes_[o] = v;
  }
  [[nodiscard]] std::uint32_t U32(std::size_t o) const {
    return LoadLittle<std::uint32_t>(&bytes_[o]);
  }
  void SetU32(std::size_t o, std::uint32_t v) {
    Touch(o, 4);
    StoreLittle<std::uint32_t>(&bytes_[o], v);
  }
  static constexpr std::size_t DescOffset(int slot, std::size_t off) {
    return kHdrDescriptors + kDescriptorSize * static_cast<std::size_t>(slot) + off;
  }
  std::array<std::uint8_t, kIndexBlockSize> bytes_;
  std::size_t touched_lo_ = 0;
  std::size_t touched_hi_ = kIndexBlockSize;
};

// Whether slot is in use in this header: 0 once a primary key is defined,
// 1..count, and 31.
inline bool SlotInUse(const IndexHeader& h, int slot) {
  if (slot == 0) return !h.NoPrimaryKey() && h.Descriptor(0).KeySize != 0;
  if (slot == kSysDeletedSlot) return true;
  return slot >= 1 && slot <= h.SecondaryCount() && slot <= kMaxSecondaryIndexes;
}

// Checks a header read from a file before anything trusts it: version (else
// the version error), end offset (a block multiple within file_size),
// secondary count, and for every slot in use key size, field count, root
// and free-list head. Returns 0 or the engine error code (12035 version, 8965 corrupt).
// It proves only that the header's numbers are in range; the pages they
// point at are checked as they are read.
std::uint16_t ValidateIndexHeader(const IndexHeader& h, std::uint64_t file_size);

}  // namespace storage
