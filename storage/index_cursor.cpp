// IndexStore: the cursor over the current index (walk in index order,
// positions, key searches and ranges).
//
// Positions are absolute (1-based among all keys of the index); the view is
// [first, last] of the range, or the whole index. Natural order (no index,
// or index 0 of a table without primary key) has no view here: the data
// file walks it by physical record number (data_file_cursor.cpp).
#include <cstring>

#include "platform/text.h"
#include "storage/index_store.h"

namespace storage {

bool IndexStore::NaturalOrder() const {
  return cur_slot_ == kNoIndex || (cur_slot_ == 0 && header_.NoPrimaryKey());
}

void IndexStore::SelectIndex(int n) {
  if (n == cur_slot_) return;
  if (n != kNoIndex && (n < 0 || n > kSysDeletedSlot)) Fail(ErrorCode::kIndexLimits);
  cur_leaf_.reset();
  position_ = 0;
  cur_slot_ = n;
  if (n == kNoIndex) {
    key_size_ = 0;
    index_name_.clear();
    return;
  }
  LoadCurrentDescriptor();
}

void IndexStore::SelectIndexByName(std::string_view name) {
  const std::string wanted = platform::AnsiUpperCase(name);
  if (cur_slot_ != kNoIndex && platform::AnsiUpperCase(index_name_) == wanted) return;
  SelectIndex(0);
  if (wanted.empty()) return;
  for (int slot = 1; slot <= header_.SecondaryCount(); ++slot) {
    if (platform::AnsiUpperCase(header_.Descriptor(slot).NameText()) == wanted) {
      SelectIndex(slot);
      return;
    }
  }
}

// ------------------------------------------------------------------ internals

void IndexStore::EmptyCursor() {
  cur_leaf_.reset();
  cur_idx_ = 0;
  position_ = 0;
  bof_ = eof_ = true;
  cursor_detached_ = false;
}

void IndexStore::SetCurrent(PagePin leaf, int idx, std::int64_t position) {
  cur_leaf_ = std::move(leaf);
  cur_idx_ = idx;
  position_ = position;
  cursor_detached_ = false;
}

void IndexStore::DetachCursor() {
  ++tree_version_;  // every tree change starts here
  if (!cur_leaf_) return;
  cur_leaf_.reset();
  cursor_detached_ = true;
}

// After a change of the tree the old leaf may have been split, merged or
// freed: find the entry again by its position.
void IndexStore::RefreshCursor() {
  if (!cursor_detached_) return;
  cursor_detached_ = false;
  std::uint32_t total = KeyCount();
  if (total == 0 || position_ < 1) {
    EmptyCursor();
    return;
  }
  if (position_ > total) position_ = total;
  SeekAbsolute(position_);
}

PagePin IndexStore::LeafAt(std::int64_t position, int& idx) {
  PagePin p = GetPage(RootPage());
  if (!p) return p;
  if (!p->IsRoot() || p->Count() == 0) Corrupt();
  std::int64_t remaining = position;
  int depth = 0;
  while (!p->IsLeaf()) {
    int i = 0;
    for (; i < p->Count() - 1; ++i) {
      std::int64_t c = p->SubCount(i);
      if (remaining <= c) break;
      remaining -= c;
    }
    p = Child(*p, i, ++depth);
  }
  if (remaining < 1) remaining = 1;
  if (remaining > p->Count()) remaining = p->Count();
  idx = static_cast<int>(remaining - 1);
  return p;
}

bool IndexStore::SeekAbsolute(std::int64_t position) {
  int idx = 0;
  PagePin p = LeafAt(position, idx);
  if (!p) return false;
  leaf_crossings_ = 0;
  SetCurrent(std::move(p), idx, position);
  return true;
}

void IndexStore::ForEachEntry(std::uint32_t first, std::uint32_t last,
                              const std::function<bool(std::uint32_t)>& visit) {
  int idx = 0;
  PagePin leaf = LeafAt(first, idx);
  std::uint32_t crossings = 0;
  for (std::int64_t pos = first; leaf && pos <= last;) {
    for (; idx < leaf->Count() && pos <= last; ++idx, ++pos) {
      if (!visit(leaf->Link(idx))) return;
    }
    if (pos > last) break;
    // As StepForward: the next leaf must link back, and a cycle ends.
    const std::uint32_t next = leaf->Next();
    if (next == 0) break;
    if (++crossings > header_.EndOffset() / kIndexBlockSize) Corrupt();
    PagePin n = GetPage(next);
    if (!n->IsLeaf() || n->IsRoot() || n->Count() == 0 || n->Prev() != leaf->Offset()) Corrupt();
    leaf = std::move(n);
    idx = 0;
  }
}

namespace {

// The record numbers of a leaf image, in order, when the image is a
// well-formed non-root leaf whose previous leaf is prev; its next link in
// next. False on anything else (the caller reads the page through the
// cache, which reports the damage).
bool LeafImageRecords(const std::uint8_t* page, std::uint16_t key_size, bool compressed,
                      std::uint32_t prev, std::uint32_t end_offset, std::uint32_t& next,
                      std::vector<std::uint32_t>& records) {
  records.clear();
  const std::uint8_t type = page[kPageType];
  if (!IsLeafType(type) || IsRootType(type)) return false;
  const int count = LoadLittle<std::uint16_t>(page + kPageCount);
  next = LoadLittle<std::uint32_t>(page + kPageNext);
  if (count == 0 || LoadLittle<std::uint32_t>(page + kPagePrev) != prev) return false;
  if (next != 0 && (next % kIndexBlockSize != 0 || next < kIndexBlockSize || next >= end_offset))
    return false;
  const std::size_t k = key_size;
  const std::uint8_t* p = page + kPageEntries;
  const std::uint8_t* const end = page + kIndexBlockSize;
  if (compressed) {
    if (LoadLittle<std::uint16_t>(page + kPageBytesUsed) > kPageEntryArea) return false;
    if (count > static_cast<int>(kPageEntryArea / 6)) return false;
    for (int i = 0; i < count; ++i) {
      if (end - p < 2) return false;
      const std::size_t shared = LoadLittle<std::uint16_t>(p);
      if (shared > k || (i == 0 && shared != 0)) return false;
      const std::size_t rest = k - shared;
      if (static_cast<std::size_t>(end - p) < 2 + rest + 4) return false;
      records.push_back(LoadLittle<std::uint32_t>(p + 2 + rest));
      p += 2 + rest + 4;
    }
    return true;
  }
  if (count > LeafCapacity(key_size)) return false;
  for (int i = 0; i < count; ++i, p += k + 4) records.push_back(LoadLittle<std::uint32_t>(p + k));
  return true;
}

}  // namespace

void IndexStore::ForEachEntryRecord(std::uint32_t first, std::uint32_t last,
                                    const std::function<bool(std::uint32_t)>& visit) {
  platform::FileView view;
  const std::uint32_t end_offset = header_.EndOffset();
  if (owner_->Scrambled() || cur_slot_ < 0 || cur_slot_ >= kIndexSlots ||
      !MapBlocks(end_offset, view) || view.Size() < end_offset) {
    ForEachEntry(first, last, visit);
    return;
  }
  int idx = 0;
  PagePin leaf = LeafAt(first, idx);
  if (!leaf) return;
  std::int64_t pos = first;
  for (; idx < leaf->Count() && pos <= last; ++idx, ++pos) {
    if (!visit(leaf->Link(idx))) return;
  }
  std::uint32_t prev = leaf->Offset();
  std::uint32_t next = leaf->Next();
  leaf = PagePin();
  const PageList& list = lists_[cur_slot_];
  std::vector<std::uint32_t> records;
  std::uint32_t crossings = 0;
  while (pos <= last && next != 0) {
    // As StepForward: the next leaf must link back, and a cycle ends.
    if (++crossings > end_offset / kIndexBlockSize) Corrupt();
    const std::uint32_t offset = next;
    if (list.map.Find(offset) == nullptr && std::size_t{offset} + kIndexBlockSize <= view.Size() &&
        LeafImageRecords(view.Data() + offset, key_size_, compressed_, prev, end_offset, next,
                         records)) {
      for (std::size_t i = 0; i < records.size() && pos <= last; ++i, ++pos) {
        if (!visit(records[i])) return;
      }
    } else {
      PagePin n = GetPage(offset);
      if (!n->IsLeaf() || n->IsRoot() || n->Count() == 0 || n->Prev() != prev) Corrupt();
      for (int i = 0; i < n->Count() && pos <= last; ++i, ++pos) {
        if (!visit(n->Link(i))) return;
      }
      next = n->Next();
    }
    prev = offset;
  }
}

std::uint32_t IndexStore::CountBelow(const std::uint8_t* key, std::size_t n, bool not_greater) {
  PagePin p = GetPage(RootPage());
  if (!p) return 0;
  std::uint32_t total = 0;
  int depth = 0;
  while (!p->IsLeaf()) {
    int i = SearchLast(*p, key, n, not_greater);
    if (i < 0) return total;  // every key of the subtree is beyond
    total += p->CountBefore(i);
    p = Child(*p, i, ++depth);
  }
  return total + static_cast<std::uint32_t>(SearchLast(*p, key, n, not_greater) + 1);
}

PagePin IndexStore::LowerBound(const std::uint8_t* key, std::size_t n, int& idx,
                               std::int64_t& position) {
  position = 1;
  idx = 0;
  PagePin p = GetPage(RootPage());
  if (!p) return p;
  int depth = 0;
  bool leftmost = false;  // every key below is not less than key
  while (!p->IsLeaf()) {
    int i = leftmost ? -1 : SearchLast(*p, key, n, false);
    if (i < 0) {
      leftmost = true;
      i = 0;
    } else {
      position += p->CountBefore(i);
    }
    p = Child(*p, i, ++depth);
  }
  idx = leftmost ? 0 : SearchLast(*p, key, n, false) + 1;
  position += idx;
  if (idx < p->Count()) return p;
  // Past the leaf's last key: the next leaf's first, if any.
  const std::uint32_t next = p->Next();
  if (next == 0) return PagePin();
  PagePin r = GetPage(next);
  if (!r->IsLeaf() || r->IsRoot() || r->Count() == 0 || r->Prev() != p->Offset()) Corrupt();
  idx = 0;
  return r;
}

bool IndexStore::StepForward() {
  if (!cur_leaf_) return false;
  if (cur_idx_ + 1 < cur_leaf_->Count()) {
    ++cur_idx_;
    ++position_;
    return true;
  }
  std::uint32_t next = cur_leaf_->Next();
  if (next == 0) return false;
  if (++leaf_crossings_ > header_.EndOffset() / kIndexBlockSize) Corrupt();  // a cycle
  PagePin n = GetPage(next);
  if (!n->IsLeaf() || n->IsRoot() || n->Count() == 0 || n->Prev() != cur_leaf_->Offset()) Corrupt();
  cur_leaf_ = std::move(n);
  cur_idx_ = 0;
  ++position_;
  return true;
}

bool IndexStore::StepBackward() {
  if (!cur_leaf_) return false;
  if (cur_idx_ > 0) {
    --cur_idx_;
    --position_;
    return true;
  }
  std::uint32_t prev = cur_leaf_->Prev();
  if (prev == 0) return false;
  if (++leaf_crossings_ > header_.EndOffset() / kIndexBlockSize) Corrupt();
  PagePin n = GetPage(prev);
  if (!n->IsLeaf() || n->IsRoot() || n->Count() == 0 || n->Next() != cur_leaf_->Offset()) Corrupt();
  cur_leaf_ = std::move(n);
  cur_idx_ = cur_leaf_->Count() - 1;
  --position_;
  return true;
}

bool IndexStore::CurrentPasses() {
  if (!cur_leaf_) return false;
  return filter_ == nullptr || filter_->Accept(cur_leaf_->Link(cur_idx_));
}

// The next entry within the view whose record passes; false (cursor moved
// somewhere past the start) when there is none. Without a range the view
// is the whole index and its ends are those of the leaf chain: no count of
// the keys is needed per step.
bool IndexStore::NextPassing() {
  if (NaturalOrder()) return false;
  if (!range_active_) {
    while (StepForward()) {
      if (CurrentPasses()) return true;
    }
    return false;
  }
  std::uint32_t first, last;
  if (!View(first, last)) return false;
  while (position_ < static_cast<std::int64_t>(last)) {
    if (!StepForward()) return false;
    if (position_ >= static_cast<std::int64_t>(first) && CurrentPasses()) return true;
  }
  return false;
}

bool IndexStore::PrevPassing() {
  if (NaturalOrder()) return false;
  if (!range_active_) {
    while (StepBackward()) {
      if (CurrentPasses()) return true;
    }
    return false;
  }
  std::uint32_t first, last;
  if (!View(first, last)) return false;
  while (position_ > static_cast<std::int64_t>(first)) {
    if (!StepBackward()) return false;
    if (position_ <= static_cast<std::int64_t>(last) && CurrentPasses()) return true;
  }
  return false;
}

bool IndexStore::ViewEmpty() {
  if (NaturalOrder()) return true;
  if (!range_active_) return RootPage() == 0;
  std::uint32_t first, last;
  return !View(first, last);
}

bool IndexStore::View(std::uint32_t& first, std::uint32_t& last) {
  first = last = 0;
  if (NaturalOrder()) return false;
  if (range_active_) {
    first = range_first_;
    last = range_last_;
  } else {
    first = 1;
    last = KeyCount();
  }
  return first >= 1 && last >= first;
}

// ------------------------------------------------------------------ operations

std::uint32_t IndexStore::RangeCount() {
  if (NaturalOrder()) return header_.RecordCount();
  std::uint32_t first, last;
  if (!View(first, last)) return 0;
  return last - first + 1;
}

std::uint32_t IndexStore::PassingCount() {
  if (filter_ == nullptr || NaturalOrder()) return RangeCount();
  if (const RecordBitmap* bits = PassingBits()) return bits->Count();
  std::uint32_t first, last;
  if (!View(first, last)) return 0;
  std::uint32_t n = 0;
  ForEachEntry(first, last, [&](std::uint32_t record) {
    if (filter_->Accept(record)) ++n;
    return true;
  });
  return n;
}

bool IndexStore::PassingBitsKept(std::uint32_t first, std::uint32_t last) const {
  const PassingView& v = passing_;
  return v.valid && v.slot == cur_slot_ && v.first == first && v.last == last &&
         v.tree_version == tree_version_ && v.answers_version == filter_->AnswersVersion();
}

const RecordBitmap* IndexStore::PassingBits() {
  if (filter_ == nullptr || NaturalOrder() || !filter_->AnswersFromBitmaps()) return nullptr;
  std::uint32_t first, last;
  const bool any = View(first, last);
  PassingView& v = passing_;
  if (PassingBitsKept(first, last)) return &v.bits;
  v.valid = false;
  v.bits = RecordBitmap(any ? last - first + 1 : 0);
  if (any) {
    std::uint32_t i = 0;
    ForEachEntryRecord(first, last, [&](std::uint32_t record) {
      ++i;
      if (filter_->Accept(record)) v.bits.Set(i);
      return true;
    });
  }
  // Taken after the walk: Accept tests a record added since the bitmaps
  // were made when it first meets it, which moves the version.
  v.answers_version = filter_->AnswersVersion();
  v.tree_version = tree_version_;
  v.slot = cur_slot_;
  v.first = first;
  v.last = last;
  v.valid = true;
  return &v.bits;
}

std::optional<std::uint32_t> IndexStore::PassingRank() {
  if (filter_ == nullptr || NaturalOrder() || !filter_->AnswersFromBitmaps()) return std::nullopt;
  RefreshCursor();
  std::uint32_t first, last;
  if (!View(first, last) || !cur_leaf_ || position_ < first || position_ > last) return 0;
  if (!CurrentPasses()) return 0;
  const auto i = static_cast<std::uint32_t>(position_ - first + 1);
  if (i <= rank_walk_ && !PassingBitsKept(first, last)) {
    std::uint32_t n = 0;
    ForEachEntry(first, static_cast<std::uint32_t>(position_), [&](std::uint32_t record) {
      if (filter_->Accept(record)) ++n;
      return true;
    });
    return n;
  }
  return PassingBits()->CountUpTo(i);
}

bool IndexStore::SeekPassingRank(std::uint32_t n) {
  if (filter_ == nullptr || NaturalOrder() || !filter_->AnswersFromBitmaps()) return false;
  std::uint32_t first, last;
  if (!View(first, last) || n == 0) {
    EmptyCursor();
    return true;
  }
  std::uint32_t at = 0;  // the entry's place in the view, from 1
  if (n <= rank_walk_ && !PassingBitsKept(first, last)) {
    std::uint32_t seen = 0, passed = 0;
    ForEachEntry(first, last, [&](std::uint32_t record) {
      ++seen;
      if (filter_->Accept(record) && ++passed == n) at = seen;
      return at == 0 && seen < rank_walk_;
    });
  }
  if (at == 0) at = PassingBits()->Select(n);
  if (at == 0 || !SeekAbsolute(std::int64_t{first} + at - 1)) {
    EmptyCursor();
    return true;
  }
  bof_ = eof_ = false;
  return true;
}

bool IndexStore::FirstKey() {
  std::uint32_t first, last;
  if (!View(first, last) || !SeekAbsolute(first)) {
    EmptyCursor();
    return false;
  }
  bof_ = eof_ = false;
  if (!CurrentPasses() && !NextPassing()) {
    EmptyCursor();
    return false;
  }
  return true;
}

bool IndexStore::LastKey() {
  std::uint32_t first, last;
  if (!View(first, last) || !SeekAbsolute(last)) {
    EmptyCursor();
    return false;
  }
  bof_ = eof_ = false;
  if (!CurrentPasses() && !PrevPassing()) {
    EmptyCursor();
    return false;
  }
  return true;
}

bool IndexStore::MoveBy(int n) {
  if (ViewEmpty()) {
    EmptyCursor();
    return false;
  }
  RefreshCursor();
  if (n == 0) return static_cast<bool>(cur_leaf_);
  if (!cur_leaf_) {
    if (n > 0) {
      if (!FirstKey()) return false;
      --n;
    } else {
      if (!LastKey()) return false;
      ++n;
    }
  }
  while (n != 0) {
    const std::int64_t saved = position_;
    const bool forward = n > 0;
    if (forward ? NextPassing() : PrevPassing()) {
      n += forward ? -1 : 1;
      bof_ = eof_ = false;
      continue;
    }
    // Off the end: the flag, and back to the last passing entry.
    SeekAbsolute(saved);
    if (!CurrentPasses() && !(forward ? PrevPassing() : NextPassing())) {
      EmptyCursor();
      return false;
    }
    eof_ = forward;
    bof_ = !forward;
    return false;
  }
  return true;
}

bool IndexStore::FindKey(const std::uint8_t* key, bool nearest, bool keep_bof_eof) {
  if (NaturalOrder()) return false;
  if (ViewEmpty()) {
    EmptyCursor();
    return false;
  }
  // The view's bounds. Without a range the view is the whole index: a key
  // at pos lies in it exactly when the leaves hold an entry there, and the
  // last position (a sum over the root's entries) is counted only when a
  // search runs past the end.
  std::uint32_t first = 1, last = 0;
  if (range_active_) View(first, last);
  auto last_position = [&]() -> std::uint32_t {
    if (!range_active_ && last == 0) last = KeyCount();
    return last;
  };
  // A cursor that let go of its leaf for a tree change is found again only
  // when it has to stay where it was (a failed exact search): the search
  // places it anyway (a write's repositioning is such a search).
  const bool was_detached = cursor_detached_;
  const bool was_bof = bof_;
  const bool was_eof = eof_;
  bool found = false;
  if (range_active_ && CompareKeys(key, range_start_.data(), key_size_) < 0) {
    FirstKey();
  } else if (range_active_ && CompareKeys(key, range_end_.data(), key_size_) > 0) {
    LastKey();
  } else {
    const std::int64_t old_position = was_detached || cur_leaf_ ? position_ : 0;
    int idx = 0;
    std::int64_t pos = 0;
    PagePin leaf = LowerBound(key, key_size_, idx, pos);
    const bool before_end = range_active_ ? pos <= last : static_cast<bool>(leaf);
    if (pos >= first && before_end) {
      if (leaf) {
        leaf_crossings_ = 0;
        SetCurrent(std::move(leaf), idx, pos);
      } else {
        SeekAbsolute(pos);  // the counts promise a key the leaves lack
      }
      found = CompareKeys(cur_leaf_->Key(cur_idx_), key, key_size_) == 0 && CurrentPasses();
    }
    if (found) {
      bof_ = eof_ = false;
    } else if (!nearest) {
      // The cursor stays where it was.
      if (was_detached) {
        cur_leaf_.reset();
        position_ = old_position;
        cursor_detached_ = true;
        RefreshCursor();
      } else if (old_position > 0) {
        SeekAbsolute(old_position);
      } else {
        EmptyCursor();
      }
      bof_ = was_bof;
      eof_ = was_eof;
      return false;
    } else if (before_end) {
      SeekAbsolute(pos < first ? first : pos);
      bof_ = eof_ = false;
      if (!CurrentPasses() && !NextPassing()) {
        SeekAbsolute(last_position());
        if (!CurrentPasses() && !PrevPassing()) {
          EmptyCursor();
          return false;
        }
        eof_ = true;
      }
    } else {
      SeekAbsolute(last_position());
      bof_ = false;
      if (!CurrentPasses() && !PrevPassing()) {
        EmptyCursor();
        return false;
      }
      eof_ = true;
    }
  }
  if (keep_bof_eof) {
    if (was_bof) {
      if (MoveBy(-1) || !bof_) MoveBy(1);
    } else {
      bof_ = false;
    }
    if (was_eof) {
      if (MoveBy(1) || !eof_) MoveBy(-1);
    } else {
      eof_ = false;
    }
  }
  return found;
}

bool IndexStore::FindKeyPrefix(const std::uint8_t* key, std::size_t n) {
  if (NaturalOrder() || n == 0) return false;
  if (n > key_size_) n = key_size_;
  RefreshCursor();
  const std::uint32_t pos = CountBelow(key, n, false) + 1;
  if (pos > KeyCount()) return false;
  const std::int64_t old_position = cur_leaf_ ? position_ : 0;
  SeekAbsolute(pos);
  if (CompareKeys(cur_leaf_->Key(cur_idx_), key, n) == 0) {
    bof_ = eof_ = false;
    return true;
  }
  if (old_position > 0) SeekAbsolute(old_position);
  else EmptyCursor();
  return false;
}

void IndexStore::SetLogicalPosition(std::int32_t n) {
  std::uint32_t first, last;
  if (!View(first, last)) {
    EmptyCursor();
    return;
  }
  if (!FirstKey()) return;
  if (n <= GetLogicalPosition()) return;
  if (!LastKey()) return;
  if (n >= GetLogicalPosition()) return;
  SeekAbsolute(static_cast<std::int64_t>(first) + n - 1);
  bof_ = eof_ = false;
  if (CurrentPasses() || NextPassing()) return;
  SeekAbsolute(static_cast<std::int64_t>(first) + n - 1);
  if (!PrevPassing()) EmptyCursor();
}

void IndexStore::SetLogicalPositionUnfiltered(std::int32_t n) {
  IndexRecordFilter* const filter = filter_;
  filter_ = nullptr;
  try {
    SetLogicalPosition(n);
  } catch (...) {
    filter_ = filter;
    throw;
  }
  filter_ = filter;
}

std::int32_t IndexStore::GetLogicalPosition() const {
  if (position_ < 1) return 0;
  const std::int64_t first = range_active_ ? range_first_ : 1;
  return static_cast<std::int32_t>(position_ - first + 1);
}

std::uint32_t IndexStore::GetCurrentRecordNumber() {
  RefreshCursor();
  if (!cur_leaf_ || cur_idx_ >= cur_leaf_->Count()) return 0;
  return cur_leaf_->Link(cur_idx_);
}

std::span<const std::uint8_t> IndexStore::CurrentKey() {
  RefreshCursor();
  if (!cur_leaf_ || cur_idx_ >= cur_leaf_->Count()) return {};
  return {cur_leaf_->Key(cur_idx_), key_size_};
}

int IndexStore::RecordsInSequence(int n, bool forward) {
  RefreshCursor();
  if (!cur_leaf_ || n < 1 || cur_idx_ >= cur_leaf_->Count()) return 0;
  int run = 1;
  for (int i = cur_idx_; run < n; ++run) {
    const int j = forward ? i + 1 : i - 1;
    if (j < 0 || j >= cur_leaf_->Count()) break;
    const std::uint32_t a = cur_leaf_->Link(i);
    const std::uint32_t b = cur_leaf_->Link(j);
    if (b != (forward ? a + 1 : a - 1)) break;
    i = j;
  }
  return run;
}

void IndexStore::SetRangeStart(const std::uint8_t* key) {
  if (NaturalOrder()) return;
  range_start_.fill(0);
  std::memcpy(range_start_.data(), key, key_size_);
}

void IndexStore::SetRangeEnd(const std::uint8_t* key) {
  if (NaturalOrder()) return;
  range_end_.fill(0);
  std::memcpy(range_end_.data(), key, key_size_);
}

void IndexStore::SetRangeBounds() {
  if (NaturalOrder() || !range_active_) return;
  range_first_ = range_last_ = 0;
  if (CompareKeys(range_start_.data(), range_end_.data(), key_size_) > 0) return;
  const std::uint32_t first = CountBelow(range_start_.data(), key_size_, false) + 1;
  const std::uint32_t last = CountBelow(range_end_.data(), key_size_, true);
  if (last >= 1 && first <= last) {
    range_first_ = first;
    range_last_ = last;
  }
}

void IndexStore::ClearRange() {
  if (NaturalOrder()) return;
  range_start_.fill(0x00);
  range_end_.fill(0xFF);
  range_active_ = false;
  range_first_ = 1;
  range_last_ = 0;
}

}  // namespace storage
