// What an index file asks of the table that owns it, and the record test
// that its cursor applies while walking. TDataFile is the owner; the index
// tests and benchmarks stand one in of their own.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/locale.h"
#include "storage/field_types.h"

namespace storage {

struct IndexFieldInfo {
  FieldType type = FieldType::kNone;
  std::uint16_t stored_size = 0;  // value bytes in a key part (flag byte apart)
};

class IndexFileOwner {
 public:
  virtual ~IndexFileOwner() = default;
  // The data file's name, for error contexts.
  [[nodiscard]] virtual std::string DataFileName() const = 0;
  // The table's locale (language and sort ids); 0 when the table has none.
  [[nodiscard]] virtual platform::LCID LocaleId() const = 0;
  // Password-protected tables scramble header and pages.
  [[nodiscard]] virtual bool Scrambled() const = 0;
  // Scrambles (or unscrambles: the same transformation) one 4096-byte block
  // with the table's start pair.
  virtual void ScrambleBlock(std::span<std::uint8_t> block) const = 0;
  // Inside a batch the page cache grows instead of evicting.
  [[nodiscard]] virtual bool InBatch() const = 0;
  // Set when opening must not position the cursor on the first key.
  [[nodiscard]] virtual bool SuppressFirstKeyAtOpen() const = 0;
  // Type and stored size of a field by its 1-based number; false when the
  // table has no such field.
  [[nodiscard]] virtual bool KeyFieldInfo(std::uint16_t field_number, IndexFieldInfo& info) const = 0;
  // Another process changed the index file: drop cached records and the
  // record cursor's state.
  virtual void IndexChangedByOther() = 0;
};

// The record test of the cursor: the callback filters and, in bitmap mode,
// the result bitmap of the filters. A cursor without one accepts every
// record.
class IndexRecordFilter {
 public:
  virtual ~IndexRecordFilter() = default;
  [[nodiscard]] virtual bool Accept(std::uint32_t record_number) = 0;
  // Accept answers from bitmaps alone, reading no record: the cursor may
  // keep its answers (view ranks) while AnswersVersion stays the same.
  [[nodiscard]] virtual bool AnswersFromBitmaps() const { return false; }
  // Changes whenever an answer of Accept may have changed.
  [[nodiscard]] virtual std::uint64_t AnswersVersion() const { return 0; }
};

}  // namespace storage
