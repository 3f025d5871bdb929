// IndexStore::AppendKey: inserting keys that arrive in ascending order.
//
// For a key above every key of the index, InsertKey's descent takes the
// last entry on every level (the largest key not greater than it), adds
// one to that entry's count, and inserts at the end of the last leaf. The
// path of that descent is the same for every such key until a split adds a
// page on its right or a new root above it; until then it is kept, pinned,
// and used as it is: one comparison with the largest key instead of a
// search per level. The changes to the pages are InsertKey's own
// (InsertEntry), so the pages come out byte for byte as InsertKey leaves
// them.
#include <cstring>

#include "storage/index_store.h"

namespace storage {

bool IndexStore::DescendLast(std::vector<Step>& path) {
  PagePin root = GetPage(RootPage());
  if (!root) return false;
  TPage* p = root.get();
  path.push_back({std::move(root), 0});
  if (!p->IsRoot() || p->Count() == 0) Corrupt();
  while (!p->IsLeaf()) p = StepDown(path, p->Count() - 1);
  path.back().idx = p->Count() - 1;
  return true;
}

void IndexStore::AppendKey(const std::uint8_t* key, std::uint32_t record_number,
                           AppendPath& path) {
  RequireKeyedIndex();
  // Every page a write with an undo uses is journaled as the cache hands
  // it out; kept pages would pass that by.
  if (undo_active_ || path.slot_ != cur_slot_) path.Clear();
  auto insert = [&] {
    // The kept steps may not survive an ordinary insert.
    path.steps_.clear();
    InsertKey(key, record_number);
  };
  if (undo_active_) {
    InsertKey(key, record_number);
    return;
  }
  if (path.slot_ >= 0 && CompareKeys(path.max_.data(), key, key_size_) >= 0) {
    insert();
    return;
  }
  if (path.steps_.empty() || path.root_ != RootPage()) {
    path.steps_.clear();
    if (!DescendLast(path.steps_)) {
      insert();  // the first key: a new root
      std::memcpy(path.max_.data(), key, key_size_);
      path.slot_ = cur_slot_;
      return;
    }
    path.root_ = RootPage();
  }
  TPage* leaf = path.steps_.back().page.get();
  if (!leaf->IsLeaf() || leaf->Next() != 0 || leaf->Count() == 0) Corrupt();
  const std::uint8_t* last = leaf->Key(leaf->Count() - 1);
  if (CompareKeys(last, key, key_size_) >= 0) {
    std::memcpy(path.max_.data(), last, key_size_);
    path.slot_ = cur_slot_;
    insert();
    return;
  }
  DetachCursor();
  const int leaf_level = static_cast<int>(path.steps_.size()) - 1;
  for (int l = 0; l < leaf_level; ++l) {
    const Step& s = path.steps_[static_cast<std::size_t>(l)];
    s.page->SetSubCount(s.idx, s.page->SubCount(s.idx) + 1);
  }
  try {
    InsertEntry(path.steps_, leaf_level, leaf->Count(), key, record_number, 1);
  } catch (...) {
    path.Clear();
    throw;
  }
  std::memcpy(path.max_.data(), key, key_size_);
  path.slot_ = cur_slot_;
  // A split put a page to the right of the leaf (and an entry after the
  // kept one in its parent), or a new root above: descend again next time.
  if (leaf->Next() != 0 || path.root_ != RootPage()) {
    path.steps_.clear();
  } else {
    path.steps_.back().idx = leaf->Count() - 1;
  }
}

}  // namespace storage
