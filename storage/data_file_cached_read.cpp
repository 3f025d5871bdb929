// TDataFile::ReadNextCached: the next record of a shared table's natural
// walk, when this cursor already holds it.
//
// A read section (data_file_lock.cpp) takes the index file's read lock and
// compares the change counters of the .IDX and the .DAT with the ones this
// cursor holds: what a read then takes from the files is whole, and what
// the cursor kept from earlier reads is still the table. When the next
// record is in the record cache or the data block cache, and both counters
// still read as this cursor last saw them, nothing needs reading from the
// files: the caches hold the table as it was when the counters were last
// checked (they are filled only inside read sections and dropped whenever
// a counter has moved), and unchanged counters say that no write has ended
// since (a write by any cursor or program ends by writing its headers,
// which raises the counters, before it lets go of the index write lock).
// Such a read takes no lock, and reads the counters through a mapping of
// each file's first page, without a system call. A write still in progress
// is not waited for: the read gives the table as it was before that write,
// as the same read made a moment earlier would have.
//
// Only the plain case goes this way: a shared table on disk, in natural
// order, in the middle of a walk, outside every read or write section, not
// failed, not standing on a record lost to another user nor between
// records (the read section ends those states, data_file.h), without computed fields or the trace log,
// and with no filter or only expression filters whose result bitmap covers
// the records met (a callback filter runs code that may read files). Anything else, and a
// record neither cache holds, goes through ReadNextRecord's read section.
#include <algorithm>
#include <cstring>

#include "storage/data_file.h"
#include "storage/filter_engine.h"
#include "storage/index_file.h"

namespace storage {

namespace {
// Record slots one cached read passes over (left out by the filter bitmap
// or deleted) before it leaves the walk to a read section.
constexpr std::uint32_t kCachedReadSlots = 4096;
}  // namespace

bool TDataFile::ReadNextCached(std::span<std::byte> buffer) {
  if (!IsOpen() || InMemory() || Exclusive() || ForcedReadOnly() || table_locked_ || Trace() ||
      Failed() || has_computed_ || read_depth_ != 0 || semaphore_locked_ || header_checked_ ||
      table_changed_ || !index_file_->IsOpen() || index_file_->IndexWriteLocked() ||
      !InNaturalOrder() || natural_bof_ || natural_eof_ || natural_record_ == 0 || record_lost_ ||
      between_) {
    return false;
  }
  FilterEngine* engine = filters_ ? &Filters() : nullptr;
  if (engine != nullptr && (!engine->BitmapMode() || engine->CallbackActive())) return false;
  const std::uint8_t* data_head = MappedHead(kDhCounter + 4);
  const std::uint8_t* index_head = index_file_->MappedHead(4);
  if (data_head == nullptr || index_head == nullptr) return false;
  if (LoadLittle<std::uint32_t>(data_head + kDhCounter) != header_.Counter() ||
      !index_file_->CounterIsCurrent(index_head)) {
    return false;
  }
  const std::uint32_t next = header_.NextRecord();
  std::uint32_t n = natural_record_;
  for (std::uint32_t passed = 0; passed < kCachedReadSlots; ++passed) {
    // The end of the table, or a record the bitmaps have not met: the
    // read section decides.
    if (++n >= next) return false;
    if (engine != nullptr) {
      if (n > engine->Result().Slots()) return false;
      if (!engine->TestBit(n)) continue;
    }
    TRecord* r = cache_.Find(n);
    if (r == nullptr) {
      // The file's bytes of the record, when the block cache holds them.
      r = TakeCleanBuffer();
      if (r == nullptr) return false;
      std::vector<std::uint8_t>& image = scan_block_;
      if (image.size() < record_size_) image.resize(record_size_);
      const bool hit = blocks_.Copy(RecordPosition(n), image.data(), record_size_);
      CountBlockLookup(hit);
      if (!hit) return false;
      cache_.SetNumber(r, n);
      LoadRecordBuffer(r, image.data());
    }
    if (r->Status() != 0) continue;
    natural_record_ = n;
    SetCurrentRecord(nullptr);
    r->AddUse();
    cache_.MoveToFront(r);
    current_ = r;
    CopyOut(buffer);
    return true;
  }
  return false;
}

void TDataFile::PrefetchFiltered(std::uint32_t n) {
  if (InMemory() || !filters_ || record_size_ == 0) return;
  FilterEngine& engine = Filters();
  if (!engine.BitmapMode() || cache_.Find(n) != nullptr) return;
  const std::uint32_t next = header_.NextRecord();
  // The last record the bitmap keeps within reach. Mapped, the pages
  // between the records it keeps are not even touched: the reach is wider
  // than a read's.
  const std::uint32_t reach = n + std::max<std::uint32_t>(1, kPrefetchViewBytes / record_size_);
  std::uint32_t last = n;
  for (std::uint32_t k = engine.Result().NextSet(n); k > last && k < next && k < reach;
       k = engine.Result().NextSet(k)) {
    last = k;
  }
  if (last == n) return;  // nothing near it: the record is read alone
  platform::FileView view;
  const std::uint8_t* bytes = nullptr;
  const std::uint32_t present =
      StoredRun(n, last - n + 1, std::max<std::uint32_t>(1, kPrefetchBytes / record_size_), view,
                prefetch_, bytes);
  // n and the records the bitmap keeps after it, as ReadRun loads them:
  // cached ones stay (they may be newer), the others take clean buffers
  // while there are any.
  for (std::uint32_t k = n; k >= n && k < n + present; k = engine.Result().NextSet(k)) {
    if (k != n && !engine.TestBit(k)) continue;
    if (cache_.Find(k) != nullptr) continue;
    TRecord* r = TakeCleanBuffer();
    if (r == nullptr) return;
    cache_.SetNumber(r, k);
    LoadRecordBuffer(r, bytes + std::size_t{k - n} * record_size_);
  }
}

}  // namespace storage
