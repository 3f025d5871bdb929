// IndexStore: the body of an index file: header, page cache, the counted
// B+-trees and the cursor. TIndexFile puts it on a TFileHandler; the block
// I/O below is all it needs from a file.
//
// Page cache: one LRU list per descriptor slot (pages of the current index
// come from its list), looked up by offset (number_map.h).
//  (1) A page handed out by GetPage/NewPage is pinned until ReleasePage.
//  (2) A list holds up to kInitialListCapacity pages, more while the
//      whole table's cache is under its page budget (PageBudgetNow: 8 MB
//      of pages, or the file's size up to 128 MB). Only clean, unpinned pages are evicted, looked for
//      among the least recently used kEvictScan; when none is clean there
//      the dirty unpinned pages are written (all lists, in offset order,
//      with the header) and the search repeats over the whole list; when
//      every page is pinned the list grows. A split cascade therefore never
//      fails for want of cache.
//  (3) Inside a batch (owner's flag) a full list grows instead of evicting.
//  (4) While a write's undo is open (BeginUndo to CommitUndo/RollbackUndo)
//      every page the cache hands out is entered in the undo once and
//      records its changes there (TPage invariant 3), and no page the write
//      touched reaches the file except through the write's own final flush:
//      making room writes only untouched pages and no header (it stays
//      dirty, owed to the next flush).
//
// Tree operations keep the whole descent path pinned (page and entry per
// level), so a parent's chosen entry can't be lost to eviction in the
// middle of a split or merge.
//
// Cursor: the current index, an absolute 1-based position in it, the
// current leaf (pinned) and entry, BOF/EOF and an optional key range whose
// first/last absolute positions bound the view. A change of a tree first
// lets go of the cursor's leaf (it may be split, merged or freed); the
// cursor re-finds its entry by position when it is next used.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "storage/engine_error.h"
#include "storage/index_format.h"
#include "storage/index_owner.h"
#include "storage/index_page.h"
#include "storage/number_map.h"
#include "storage/record_bitmap.h"

namespace storage {

// One index of a table definition, for checking before any file is made.
struct IndexDefinition {
  std::string name;  // empty for the primary index
  std::uint16_t key_size = 0;
  std::vector<std::uint16_t> field_numbers;
};

// Checks a whole table's index definitions before the table's files are
// created, so that a refused definition leaves no half-made table: more
// than 30 secondary indexes or more than 16 key fields (with the primary
// index's) 9487, a BLOB key field 12292, an unknown field 10023, a key size
// of 0 or above 1034 10026, and for secondary names 10010 / 10022 / 10027
// as AddIndex. primary may be null (no primary key).
void CheckIndexDefinitions(const IndexFileOwner& owner, const IndexDefinition* primary,
                           std::span<const IndexDefinition> secondary);

// Unsigned bytewise comparison (-1, 0, 1) of n bytes, a word at a time:
// the comparison of every key search of a table without a locale, kept
// inline (a library memcmp call cost more than comparing a short key).
// Words are read big-endian, so that their order is that of their bytes;
// the tail is the last word read again, overlapping the one before (bytes
// compared twice are equal by then).
namespace keybytes {
inline std::uint64_t Word64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}
inline std::uint32_t Word32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}
template <class W>
inline int Order(W x, W y) {
  return x < y ? -1 : (x > y ? 1 : 0);
}
}  // namespace keybytes

inline int CompareKeyBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  using namespace keybytes;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      if (const int r = Order(Word64(a + i), Word64(b + i))) return r;
    }
    return n % 8 == 0 ? 0 : Order(Word64(a + n - 8), Word64(b + n - 8));
  }
  if (n >= 4) {
    if (const int r = Order(Word32(a), Word32(b))) return r;
    return Order(Word32(a + n - 4), Word32(b + n - 4));
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

class IndexStore : private TPage::UndoRecorder {
 public:
  static constexpr int kInitialListCapacity = 31;
  static constexpr std::size_t kDefaultPageBudget = (8u << 20) / kIndexBlockSize;
  // The most the budget grows to with the file (PageBudgetNow).
  static constexpr std::size_t kLargestPageBudget = (std::size_t{128} << 20) / kIndexBlockSize;
  static constexpr int kEvictScan = 64;

  explicit IndexStore(IndexFileOwner* owner);
  virtual ~IndexStore();
  IndexStore(const IndexStore&) = delete;
  IndexStore& operator=(const IndexStore&) = delete;

  // ---------------------------------------------------------------- header
  void ReadHeader();
  void WriteHeader();
  [[nodiscard]] const IndexHeader& Header() const { return header_; }
  // Compares the file's change counter with the cached one; when they
  // differ, re-reads the header, drops every cached page, tells the owner
  // and returns true. Nothing while the write lock is held.
  bool CheckIndexHeaderChanged();
  // True when the four bytes at head, the file's first four as the file
  // holds them (scrambled or not), are the counter of the header held
  // here: the check CheckIndexHeaderChanged makes, on bytes already read.
  [[nodiscard]] bool CounterIsCurrent(const std::uint8_t* head) const;
  void EmptyAllIndexes();
  // The record count lives in the header: a change marks the header as
  // needing a write even when no page is dirty (a table with no index has
  // no page at all), so FlushIndexPages reports it.
  void IncrementRecordCount() { SetRecordCount(header_.RecordCount() + 1); }
  void DecrementRecordCount() {
    if (header_.RecordCount() > 0) SetRecordCount(header_.RecordCount() - 1);
  }
  void SetRecordCount(std::uint32_t n) {
    if (n != header_.RecordCount()) header_dirty_ = true;
    header_.SetRecordCount(n);
  }
  [[nodiscard]] std::uint32_t RecordCount() const { return header_.RecordCount(); }
  [[nodiscard]] int SecondaryIndexCount() const { return header_.SecondaryCount(); }
  [[nodiscard]] bool NoPrimaryKey() const { return header_.NoPrimaryKey(); }
  [[nodiscard]] std::uint32_t EndOffset() const { return header_.EndOffset(); }
  [[nodiscard]] bool WriteLockHeld() const { return write_lock_held_; }
  void SetWriteLockHeld(bool held) { write_lock_held_ = held; }

  // ---------------------------------------------------------------- indexes
  // field_descending and field_numbers hold field_count entries.
  void CreatePrimaryIndex(std::uint16_t key_size, int field_count,
                          std::span<const std::uint8_t> field_descending,
                          std::span<const std::uint16_t> field_numbers, bool case_insensitive,
                          bool descending);
  void AddIndex(std::string_view name, std::uint16_t key_size,
                std::span<const std::uint8_t> field_descending,
                std::span<const std::uint16_t> field_numbers, bool unique, bool case_insensitive,
                bool descending, int field_count);
  void ReplaceIndexDescriptor(int n, const TIndexDescriptor& descriptor);
  [[nodiscard]] TIndexDescriptor GetDescriptorCopy(int n) const;
  [[nodiscard]] int GetIndexFieldCount(int n) const { return GetDescriptorCopy(n).FieldCount; }
  [[nodiscard]] bool GetIndexUnique(int n) const { return GetDescriptorCopy(n).Unique != 0; }
  [[nodiscard]] std::array<std::uint16_t, kMaxKeyFields> GetIndexFieldNumbers(int n) const;
  // Table repair: checks and mends the descriptors of the primary and the
  // secondary indexes against the table's fields (unknown fields removed,
  // key sizes recomputed, bad or duplicate names prefixed with "_"), and
  // sets "Sys Deleted" again. Every finding goes to log as one line. The
  // header is left for the caller to write.
  void VerifyIndexDescriptors(const std::function<void(const std::string&)>& log);

  // ---------------------------------------------------------------- cache
  // The cached or loaded page of the current index, pinned by the guard;
  // an empty guard for 0.
  PagePin GetPage(std::uint32_t offset);
  // Writes every dirty unpinned page in offset order, contiguous runs in
  // one write; true when anything was written.
  bool FlushIndexPages();
  // Dirty pages and the header written (the data file's flush).
  void FlushIndexFile();
  // Number of page objects held (all lists).
  [[nodiscard]] std::size_t CachedPageCount() const;
  // Pages of index slot's list: held, and held clean (what eviction can
  // take without a flush).
  [[nodiscard]] std::size_t ListPageCount(int slot) const;
  [[nodiscard]] std::size_t CleanPageCount(int slot) const;
  // After a batch: every list back to its initial capacity; while the cache
  // is over its budget, clean unpinned pages beyond that are dropped.
  void ShrinkPageLists();
  // Pages the whole cache may hold before lists stop growing past their
  // capacity (0: each list keeps to its capacity).
  void SetPageBudget(std::size_t pages) { page_budget_ = pages; }
  [[nodiscard]] std::size_t PageBudget() const { return page_budget_; }
  // The budget in force: the one set, raised to the file's own pages up
  // to kLargestPageBudget (0 stays 0). Keys written at random into an
  // index larger than the budget made nearly every key a page read and a
  // page write (1M keys, a 65 MB index under 8 MB): with the index held
  // whole each page is read once and written in order at the end.
  [[nodiscard]] std::size_t PageBudgetNow() const {
    if (page_budget_ == 0) return 0;
    const std::size_t file_pages = header_.EndOffset() / kIndexBlockSize;
    return std::max(page_budget_, std::min(file_pages, kLargestPageBudget));
  }
  // Every cached page dropped, dirty or not, and the header read again; the
  // cursor finds its entry again by position. trim: the page objects are
  // freed (the lists back to their initial capacity), else kept for reuse.
  void ResetIndexCaches(bool trim);
  // Every cached page's pin count to 0 (before a flush inside a write). The
  // cursor keeps its one hold on its own leaf: that page must not be evicted
  // while the cursor points at it.
  void ClearAllPins();

  // ---------------------------------------------------------------- undo
  // Undo of one write of the owning data file (cache invariant 4). Keeps
  // the header; every page the write uses records its changes (TPage
  // invariant 3: one entry's old bytes, an insertion, a removal, or once
  // the whole page). RollbackUndo undoes them newest first, puts the header
  // back, drops the pages appended, and lets the cursor go of its leaf (it
  // finds its entry again when next used). A page that was clean when the
  // write first used it records nothing without copy_clean: the file holds
  // it as it was, and a rollback drops it from the cache. With rewrite (the
  // write's own flush had begun; it needs copy_clean) what it puts back,
  // and the header, is marked dirty so that a flush writes it over whatever
  // the failed flush left in the file.
  void BeginUndo(bool copy_clean);
  void CommitUndo();
  void RollbackUndo(bool rewrite);
  // Every cached page dropped, dirty or not, and the header taken as
  // written: nothing is left for a close to write (a failed table).
  void DiscardChanges();

  // ---------------------------------------------------------------- keys
  [[nodiscard]] bool SearchKey(const std::uint8_t* key);
  void CheckUniqueKey(const std::uint8_t* key);
  void InsertKey(const std::uint8_t* key, std::uint32_t record_number);
  // The descent to the last leaf of one index, kept from one AppendKey to
  // the next (index_append.cpp); it pins its pages while it holds them.
  class AppendPath;
  // InsertKey, with the same result in the pages, for filling an index in
  // key order: when key sorts after every key of the current index, the
  // kept descent (its last entry on every level) is where InsertKey's
  // search would go, and it is used without searching. Any other key, an
  // empty index, a write's open undo, or a path that a split has made
  // stale go through InsertKey (and a new descent next time).
  // REQUIRES: nothing else changes the index or drops its pages while
  // path holds pages (Clear it first).
  void AppendKey(const std::uint8_t* key, std::uint32_t record_number, AppendPath& path);
  void ReplaceKey(const std::uint8_t* old_key, const std::uint8_t* new_key,
                  std::uint32_t record_number);
  void DeleteKey(const std::uint8_t* key);
  [[nodiscard]] std::uint32_t RootPage() const {
    return cur_slot_ >= 0 && cur_slot_ < kIndexSlots ? header_.Root(cur_slot_) : 0;
  }
  // Head of the current index's free-page list; the end offset when the
  // list is empty (where the next page would come from).
  [[nodiscard]] std::uint32_t FreePageHead() const {
    const std::uint32_t head =
        cur_slot_ >= 0 && cur_slot_ < kIndexSlots ? header_.FreeHead(cur_slot_) : 0;
    return head != 0 ? head : header_.EndOffset();
  }
  // Number of keys in the current index (sum of the root's counts).
  [[nodiscard]] std::uint32_t KeyCount();

  // ---------------------------------------------------------------- cursor
  void SelectIndex(int n);
  void SelectIndexByName(std::string_view name);
  [[nodiscard]] int CurrentIndex() const { return cur_slot_; }
  [[nodiscard]] std::uint16_t KeySize() const { return key_size_; }
  // Keys of the current index on their first length bytes: -1, 0, 1.
  [[nodiscard]] int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const {
    if (!bytewise_) return CompareKeysByLocale(a, b, length);
    const int r = CompareKeyBytes(a, b, length);
    return descending_ ? -r : r;
  }
  bool FirstKey();
  bool LastKey();
  bool MoveBy(int n);
  bool FindKey(const std::uint8_t* key, bool nearest, bool keep_bof_eof);
  bool FindKeyPrefix(const std::uint8_t* key, std::size_t n);
  void SetLogicalPosition(std::int32_t n);
  // The same without regard to the record filter: puts back a place taken
  // by GetLogicalPosition while the filter's bitmaps are being made (they
  // answer nothing yet, and the search for a passing entry would walk the
  // whole index).
  void SetLogicalPositionUnfiltered(std::int32_t n);
  [[nodiscard]] std::int32_t GetLogicalPosition() const;
  [[nodiscard]] std::uint32_t GetCurrentRecordNumber();
  // The current entry's key (key size bytes); empty without a current entry.
  [[nodiscard]] std::span<const std::uint8_t> CurrentKey();
  void SetRangeStart(const std::uint8_t* key);
  void SetRangeEnd(const std::uint8_t* key);
  void ActivateRange() { range_active_ = true; }
  void SetRangeBounds();
  void ClearRange();
  [[nodiscard]] std::uint32_t RangeCount();
  // Entries of the view (the range, else the whole index) whose records
  // pass the record filter; RangeCount without a filter. From the kept
  // passing bitmap (below) when the filter answers from bitmaps, else by
  // walking the view. The cursor is left where it was.
  [[nodiscard]] std::uint32_t PassingCount();
  // Ranks among the passing entries of the view, from a bitmap of the
  // view's entries (bit i: the entry at the view's i-th position passes)
  // with its rank directory (record_bitmap.h). The bitmap is made by one
  // walk of the view's leaves, reading no record, and kept while the
  // trees, the current index, the range and the filter's answers are those
  // it was made from (tree_version_, AnswersVersion). Without a filter, or
  // with one whose answers read records (callback filters): nullopt and
  // false, and the caller walks.
  // Ranks within the first kRankWalk entries of the view are counted by
  // walking them while no bitmap is kept: the first rows of a view just
  // filtered (a table just opened, its pages not yet read) must not wait
  // for a walk of the whole index; the bitmap is made when a rank further
  // on is asked.
  static constexpr std::uint32_t kRankWalk = 512;
  // Tests set 0 (always the bitmap) to reach both ways on small tables.
  void SetRankWalkLimit(std::uint32_t entries) { rank_walk_ = entries; }
  // The rank of the current entry; 0 without a current entry or when it
  // does not pass.
  [[nodiscard]] std::optional<std::uint32_t> PassingRank();
  // The cursor on the passing entry of rank n (BOF and EOF cleared); the
  // empty cursor when there is none of that rank.
  [[nodiscard]] bool SeekPassingRank(std::uint32_t n);
  // How many of the next n entries (from the current one, included) of the
  // current leaf hold physically consecutive record numbers (read-ahead).
  [[nodiscard]] int RecordsInSequence(int n, bool forward);
  [[nodiscard]] bool Bof() const { return bof_; }
  [[nodiscard]] bool Eof() const { return eof_; }
  void SetRecordFilter(IndexRecordFilter* filter) { filter_ = filter; }

 protected:
  // Block I/O of the file: reads return the bytes read (a short count is
  // the caller's to judge); writes and truncation raise on failure.
  virtual std::int32_t ReadBlock(std::uint32_t offset, std::uint8_t* buffer, std::int32_t n) = 0;
  virtual void WriteBlock(std::uint32_t offset, const std::uint8_t* buffer, std::int32_t n) = 0;
  // The file's first end bytes as a mapped view, for walks that read many
  // pages once; false (the walk reads pages) where the file cannot be
  // mapped.
  virtual bool MapBlocks(std::uint32_t end, platform::FileView& view) {
    (void)end;
    (void)view;
    return false;
  }
  virtual void TruncateTo(std::uint32_t size) = 0;
  [[nodiscard]] virtual std::uint64_t StorageSize() = 0;
  [[nodiscard]] virtual bool ExclusiveAccess() const = 0;

  // A new file: zero header, version 3, end offset 4096, "Sys Deleted".
  void InitNewHeader();
  // Reads and checks the header and the free lists of an opened file, then
  // sets up the cursor. A header that fails the checks raises 12035 or
  // 8965; the caller closes the file.
  void Attach(bool lock_free);
  // Frees every page and clears the cursor.
  void Detach();

  [[noreturn]] void Corrupt() const;
  [[noreturn]] void Fail(ErrorCode code, std::string_view index_name = {}) const;

 private:
  struct PageList {
    NumberMap<TPage> map;  // offset -> page
    std::vector<std::unique_ptr<TPage>> pages;
    TPage* head = nullptr;  // most recently used
    TPage* tail = nullptr;
    std::size_t capacity = kInitialListCapacity;
  };
  // One level of a descent path: the page (pinned while the path lives)
  // and the entry chosen there.
  struct Step {
    PagePin page;
    int idx;
  };
  // The descent path of a key write, its room kept in spare_path_ for the
  // next one (no allocation per key written); the pins go back when it
  // goes, also on an error.
  struct PathBuffer {
    explicit PathBuffer(IndexStore& store);
    ~PathBuffer();
    PathBuffer(const PathBuffer&) = delete;
    PathBuffer& operator=(const PathBuffer&) = delete;
    IndexStore& store_;
    std::vector<Step> path;
  };
  struct PageUndo {
    int slot = 0;
    std::uint32_t offset = 0;
    bool appended = false;  // new at the end of the file in this write
    bool drop = false;      // clean and not recorded: the file holds it
    bool was_dirty = false;
    bool changed = false;   // has undo events
    TPage::Snapshot snapshot;  // an event of the whole page
  };
  enum class UndoKind : std::uint8_t { kEntry, kInserted, kRemoved, kWhole };
  struct UndoEvent {
    std::uint32_t record;  // into undo_pages_
    int entry;
    UndoKind kind;
    std::size_t bytes;  // into undo_bytes_: the entry as it was
  };

  void LoadCurrentDescriptor();
  // Saves p into the open undo before its first use in this write.
  void Journal(TPage* p, bool appended) {
    if (undo_active_ && p->undo_stamp != undo_stamp_) JournalPage(p, appended);
  }
  void JournalPage(TPage* p, bool appended);
  // TPage::UndoRecorder.
  void EntryChanging(TPage& page, int i) override;
  void EntryInserted(TPage& page, int i) override;
  void EntryRemoving(TPage& page, int i) override;
  void PageChanging(TPage& page) override;
  void AddUndoEvent(TPage& page, int i, UndoKind kind, bool keep_bytes);
  // The cached page of a journaled one (it may have been evicted: nullptr).
  TPage* UndoPage(const PageUndo& u);
  // Every page of this write's undo lets go of its recorder.
  void ReleaseRecorders();
  // Writes the dirty unpinned pages (untouched_only: those outside the
  // write's undo) in offset order; true when any was written.
  bool WritePages(bool untouched_only);
  void Unlink(PageList& list, TPage* p);
  void PushFront(PageList& list, TPage* p);
  TPage* TakeSlot(PageList& list);
  // One more pin of p (8965 past 64).
  PagePin Pinned(TPage* p);
  void ReadPageImage(std::uint32_t offset, std::uint8_t* buffer);
  void DropAllPages();
  void ResetAllPages();
  PagePin NewPage();
  void FreePage(TPage* page);
  void SetRoot(std::uint32_t root) { header_.SetRoot(cur_slot_, root); }
  // Key operations need a real index with a key: 10026 otherwise.
  void RequireKeyedIndex() const;
  void VerifyFreeLists();

  // CompareKeys of a table with a locale: string parts by the locale.
  [[nodiscard]] int CompareKeysByLocale(const std::uint8_t* a, const std::uint8_t* b,
                                        std::size_t length) const;

  // Tree internals.
  int SearchLastNotGreater(const TPage& p, const std::uint8_t* key) const;
  // Largest i whose key is less than (or_equal: not greater than) key on
  // the first n bytes; -1 when none.
  int SearchLast(const TPage& p, const std::uint8_t* key, std::size_t n, bool or_equal) const;
  PagePin Child(const TPage& parent, int idx, int depth);
  // One level down a descent: entry idx of the path's last page is chosen,
  // its child (checked by Child, and not a page already on the path) is
  // pinned and appended; the child.
  TPage* StepDown(std::vector<Step>& path, int idx);
  bool DescendExact(const std::uint8_t* key, std::vector<Step>& path);
  void InsertEntry(std::vector<Step>& path, int level, int idx, const std::uint8_t* key,
                   std::uint32_t link, std::uint32_t sub_count);
  void DeleteEntry(std::vector<Step>& path, int level, int idx);
  void PropagateFirstKey(std::vector<Step>& path, int level);
  void SplitPage(TPage& p, TPage& r);
  void RemoveEmptyPage(std::vector<Step>& path, int level);

  // Cursor internals.
  void EmptyCursor();
  void SetCurrent(PagePin leaf, int idx, std::int64_t position);
  void RefreshCursor();
  void DetachCursor();
  bool SeekAbsolute(std::int64_t position);
  // The leaf holding absolute position (clamped into the tree) and the
  // entry's index in it; an empty guard for an empty index.
  PagePin LeafAt(std::int64_t position, int& idx);
  // visit(record number) for the entries at absolute positions first ..
  // last in order, leaf by leaf, without moving the cursor, until visit
  // answers false.
  void ForEachEntry(std::uint32_t first, std::uint32_t last,
                    const std::function<bool(std::uint32_t)>& visit);
  // The same for a walk that needs only the record numbers: the leaves the
  // page cache holds are read there, the others straight from a mapped
  // view of the file, neither decoded into pages nor cached (a walk of a
  // whole large index would fill the cache with pages it never uses
  // again). A leaf whose image fails any check is read through the cache,
  // which reports the damage. As ForEachEntry where the file cannot be
  // mapped or its blocks are scrambled.
  void ForEachEntryRecord(std::uint32_t first, std::uint32_t last,
                          const std::function<bool(std::uint32_t)>& visit);
  // The kept passing bitmap, made again when stale; nullptr when it can't
  // be kept.
  const RecordBitmap* PassingBits();
  // The kept bitmap is that of the view [first, last] as it is now.
  [[nodiscard]] bool PassingBitsKept(std::uint32_t first, std::uint32_t last) const;
  // Number of keys less than key on n bytes (or not greater when
  // not_greater); nullptr root counts 0.
  std::uint32_t CountBelow(const std::uint8_t* key, std::size_t n, bool not_greater);
  // One descent to the first key not less than key on n bytes: its leaf
  // (pinned), its entry and absolute position (CountBelow + 1); an empty
  // guard when every key is less.
  PagePin LowerBound(const std::uint8_t* key, std::size_t n, int& idx, std::int64_t& position);
  bool StepForward();
  bool StepBackward();
  bool CurrentPasses();
  bool NextPassing();
  bool PrevPassing();
  // First and last absolute positions of the view; false when it is empty.
  bool View(std::uint32_t& first, std::uint32_t& last);
  // !View, without counting the keys when there is no range (a root page
  // is never empty).
  bool ViewEmpty();
  [[nodiscard]] bool NaturalOrder() const;

  // The rightmost descent of the current index for AppendKey; false when
  // the index is empty.
  bool DescendLast(std::vector<Step>& path);

  IndexFileOwner* owner_;
  IndexHeader header_;
  bool write_lock_held_ = false;
  bool header_dirty_ = false;  // header changed since it was last read or written
  std::array<PageList, kIndexSlots> lists_;
  std::size_t page_budget_ = kDefaultPageBudget;

  // Undo of the write in progress (cache invariant 4).
  bool undo_active_ = false;
  bool undo_copy_clean_ = false;
  std::uint32_t undo_stamp_ = 0;
  IndexHeader undo_header_;
  bool undo_header_dirty_ = false;
  bool undo_flushed_ = false;  // making room wrote pages: the header is owed
  std::vector<PageUndo> undo_pages_;  // the first undo_count_ are this write's
  std::size_t undo_count_ = 0;
  std::vector<UndoEvent> undo_events_;
  std::vector<std::uint8_t> undo_bytes_;

  // Current index.
  int cur_slot_ = 0;
  std::uint16_t key_size_ = 0;
  bool compressed_ = false;
  bool descending_ = false;
  bool unique_ = false;
  std::string index_name_;
  struct FieldPart {
    std::uint32_t offset;
    std::uint32_t size;  // value bytes, flag byte apart
    bool is_string;
  };
  std::vector<FieldPart> parts_;
  platform::LCID locale_ = 0;
  bool bytewise_ = true;

  // Cursor.
  PagePin cur_leaf_;
  int cur_idx_ = 0;
  std::int64_t position_ = 0;
  bool cursor_detached_ = false;  // leaf let go for a tree change; re-find by position
  std::uint32_t leaf_crossings_ = 0;  // since the last descent: bounds a walk
  bool bof_ = false;
  bool eof_ = false;
  bool range_active_ = false;
  std::uint32_t range_first_ = 0;
  std::uint32_t range_last_ = 0;
  std::array<std::uint8_t, kKeyBufferSize> range_start_{};
  std::array<std::uint8_t, kKeyBufferSize> range_end_{};
  IndexRecordFilter* filter_ = nullptr;

  // Moves with every change of a tree or of the cached pages (the cursor
  // lets go of its leaf first: DetachCursor, or the pages are dropped).
  std::uint32_t rank_walk_ = kRankWalk;
  std::uint64_t tree_version_ = 0;
  std::vector<Step> spare_path_;
  struct PassingView {
    bool valid = false;
    int slot = 0;
    std::uint32_t first = 0, last = 0;
    std::uint64_t tree_version = 0;
    std::uint64_t answers_version = 0;
    RecordBitmap bits;
  } passing_;

 public:
  class AppendPath {
   public:
    // Lets go of the pages.
    void Clear() {
      steps_.clear();
      slot_ = -1;
    }

   private:
    friend class IndexStore;
    std::vector<Step> steps_;  // empty: descend again
    std::uint32_t root_ = 0;   // the root the steps start from
    int slot_ = -1;            // the index of max_; -1: nothing known
    // The largest key of the index: a key not above it is an ordinary
    // insert, found without a descent to the last leaf.
    std::array<std::uint8_t, kKeyBufferSize> max_{};
  };
};

}  // namespace storage
