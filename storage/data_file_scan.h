// TDataFile::ScanStoredRecords, a template so that each caller's visit is
// inlined into the loop over the records (a scan of a large table calls it
// once a record). Included by the callers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/file.h"
#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/record_bitmap.h"

namespace storage {

template <class Visit>
bool TDataFile::ScanStoredRecords(const RecordBitmap* only, std::uint32_t slots, Visit&& visit) {
  if (has_computed_ || computed_size_ != 0 || record_size_ == 0) return false;
  const std::uint32_t per_block =
      std::max<std::uint32_t>(1, static_cast<std::uint32_t>(kScanBlockBytes / record_size_));
  const std::uint32_t per_view =
      std::max<std::uint32_t>(1, static_cast<std::uint32_t>(kScanViewBytes / record_size_));
  std::vector<std::uint8_t> block;
  platform::FileView view;
  const std::uint8_t* bytes = nullptr;
  std::vector<std::uint8_t> plain(header_.Encrypted() ? record_size_ : 0);
  std::uint32_t first = 0;    // records first .. first + present - 1 are in bytes
  std::uint32_t present = 0;
  // The slots the record cache holds, noted once: a probe of its map for
  // every record of a large table would cost more than the rest of the
  // scan. (A visit loads nothing newer than the file into the cache, and a
  // buffer it pushes out had nothing left to write.)
  std::vector<std::uint64_t> cached_slots(std::size_t{slots} / 64 + 1, 0);
  for (const TRecord* c : cache_.All()) {
    const std::uint32_t k = c->RecordNumber();
    if (k >= 1 && k <= slots) cached_slots[k / 64] |= std::uint64_t{1} << (k % 64);
  }
  for (std::uint32_t r = only ? only->NextSet(0) : 1; r >= 1 && r <= slots;
       r = only ? only->NextSet(r) : r + 1) {
    if ((cached_slots[r / 64] >> (r % 64)) & 1) {
      if (const TRecord* cached = cache_.Find(r)) {
        if (cached->Status() == 0 && !visit(r, cached->Data())) return true;
        continue;
      }
    }
    if (present == 0 || r < first || r >= first + present) {
      first = r;
      present = StoredRun(r, std::min(per_view, slots - r + 1), per_block, view, block, bytes);
      // A slot below the append position that is neither cached nor in the
      // file: the table is damaged.
      if (present == 0) Fail(ErrorCode::kCorruptRecords);
    }
    const std::uint8_t* image = bytes + std::size_t{r - first} * record_size_;
    if (!plain.empty()) {
      std::memcpy(plain.data(), image, record_size_);
      ScrambleTableContents(plain.data(), record_size_);
      image = plain.data();
    }
    if (image[0] != 0) continue;  // deleted
    if (!visit(r, std::as_bytes(std::span<const std::uint8_t>(image, record_size_)))) return true;
  }
  return true;
}

}  // namespace storage
