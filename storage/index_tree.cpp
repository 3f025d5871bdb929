// IndexStore: key comparison and maintenance of the counted B+-tree.
//
// Invariants of a tree (checked by tests/tools/idxcheck.py):
//  (1) every leaf is at the same depth; pages of a level are linked in key
//      order; the root has type 0 or 3, every other page type 1 or 2;
//  (2) an interior entry's key is the smallest key of its child's subtree,
//      its count the number of leaf entries below it;
//  (3) no page but the root is empty; a compressed leaf holds <= 4083 bytes.
#include <cstring>

#include "storage/index_store.h"

namespace storage {

namespace {
// Deeper than any tree with fan-out >= 2 over 32-bit counts can grow.
constexpr int kMaxDepth = 40;
}  // namespace

// ------------------------------------------------------------------ comparison

int IndexStore::CompareKeysByLocale(const std::uint8_t* a, const std::uint8_t* b,
                                    std::size_t length) const {
  auto bytes = [this](const std::uint8_t* x, const std::uint8_t* y, std::size_t n) {
    const int r = CompareKeyBytes(x, y, n);
    return descending_ ? -r : r;
  };
  // String parts by the locale's string sort (not reversed for descending
  // indexes), everything else bytewise.
  std::size_t s = 0;
  std::size_t o = 0;
  for (const FieldPart& part : parts_) {
    if (o >= length) break;
    if (part.is_string) {
      // The bytes before the field and its flag byte.
      std::size_t upto = o + 1 <= length ? o + 1 : length;
      if (int r = bytes(a + s, b + s, upto - s)) return r;
      std::size_t from = o + 1;
      std::size_t to = from + part.size < length ? from + part.size : length;
      if (from < to) {
        auto text = [&](const std::uint8_t* k) {
          const char* p = reinterpret_cast<const char*>(k + from);
          std::size_t n = to - from;
          const void* z = std::memchr(p, 0, n);
          if (z) n = static_cast<std::size_t>(static_cast<const char*>(z) - p);
          return std::string_view(p, n);
        };
        int c = platform::CompareStringA(locale_, platform::SORT_STRINGSORT, text(a), text(b));
        if (c != 0 && c != 2) return c - 2;
      }
      s = to;
    }
    o += 1 + part.size;
  }
  if (s < length) return bytes(a + s, b + s, length - s);
  return 0;
}

// Largest i with Key(i) <= key; -1 when every key is greater.
int IndexStore::SearchLastNotGreater(const TPage& p, const std::uint8_t* key) const {
  int lo = 0;
  int hi = p.Count() - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    if (CompareKeys(p.Key(mid), key, key_size_) <= 0) lo = mid + 1;
    else hi = mid - 1;
  }
  return hi;
}

int IndexStore::SearchLast(const TPage& p, const std::uint8_t* key, std::size_t n,
                           bool or_equal) const {
  int lo = 0;
  int hi = p.Count() - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareKeys(p.Key(mid), key, n);
    if (c < 0 || (or_equal && c == 0)) lo = mid + 1;
    else hi = mid - 1;
  }
  return hi;
}

// ------------------------------------------------------------------ pages of a descent

PagePin IndexStore::Child(const TPage& parent, int idx, int depth) {
  if (depth >= kMaxDepth || idx < 0 || idx >= parent.Count()) Corrupt();
  PagePin c = GetPage(parent.Link(idx));
  // A child that is a root or that has no entries breaks the tree, and a
  // page met twice on one path is a cycle.
  if (c->IsRoot() || c->Count() == 0 || c.get() == &parent) Corrupt();
  return c;
}

TPage* IndexStore::StepDown(std::vector<Step>& path, int idx) {
  TPage* p = path.back().page.get();
  path.back().idx = idx;
  for (const Step& s : path) {
    if (s.page->Offset() == p->Link(idx)) Corrupt();
  }
  PagePin c = Child(*p, idx, static_cast<int>(path.size()));
  TPage* child = c.get();
  path.push_back({std::move(c), 0});
  return child;
}

// Levels of a descent path reserved up front: the trees are rarely deeper,
// and a deeper one only grows the vector.
constexpr std::size_t kPathLevels = 8;

IndexStore::PathBuffer::PathBuffer(IndexStore& store) : store_(store), path(std::move(store.spare_path_)) {
  path.clear();
  path.reserve(kPathLevels);
}

IndexStore::PathBuffer::~PathBuffer() {
  path.clear();  // the pins go back
  store_.spare_path_ = std::move(path);
}

bool IndexStore::DescendExact(const std::uint8_t* key, std::vector<Step>& path) {
  PagePin root = GetPage(RootPage());
  if (!root) return false;
  TPage* p = root.get();
  path.push_back({std::move(root), 0});
  if (!p->IsRoot() || p->Count() == 0) Corrupt();
  while (!p->IsLeaf()) {
    int i = SearchLastNotGreater(*p, key);
    if (i < 0) return false;
    p = StepDown(path, i);
  }
  int i = SearchLastNotGreater(*p, key);
  path.back().idx = i;
  return i >= 0 && CompareKeys(p->Key(i), key, key_size_) == 0;
}

std::uint32_t IndexStore::KeyCount() {
  const PagePin root = GetPage(RootPage());
  return root ? root->Total() : 0;
}

// ------------------------------------------------------------------ key operations

void IndexStore::RequireKeyedIndex() const {
  if (cur_slot_ < 0 || cur_slot_ >= kIndexSlots || key_size_ == 0 || key_size_ > kMaxKeySize)
    Fail(ErrorCode::kInvalidKeySize, index_name_);
}

bool IndexStore::SearchKey(const std::uint8_t* key) {
  RequireKeyedIndex();
  // Nothing changes: no path is kept (a cycle ends at the depth limit of
  // Child).
  PagePin p = GetPage(RootPage());
  if (!p) return false;
  if (!p->IsRoot() || p->Count() == 0) Corrupt();
  int depth = 0;
  while (!p->IsLeaf()) {
    const int i = SearchLastNotGreater(*p, key);
    if (i < 0) return false;
    p = Child(*p, i, ++depth);
  }
  const int i = SearchLastNotGreater(*p, key);
  return i >= 0 && CompareKeys(p->Key(i), key, key_size_) == 0;
}

void IndexStore::CheckUniqueKey(const std::uint8_t* key) {
  if ((cur_slot_ == 0 || unique_) && SearchKey(key)) Fail(ErrorCode::kDuplicateKey, index_name_);
}

void IndexStore::InsertKey(const std::uint8_t* key, std::uint32_t record_number) {
  RequireKeyedIndex();
  DetachCursor();
  PathBuffer buffer(*this);
  std::vector<Step>& path = buffer.path;
  PagePin root = GetPage(RootPage());
  if (!root) {
    const PagePin n = NewPage();
    n->SetType(static_cast<std::uint8_t>(PageType::kRootLeaf));
    n->InsertAt(0, key, record_number, 1);
    SetRoot(n->Offset());
    return;
  }
  TPage* p = root.get();
  path.push_back({std::move(root), 0});
  if (!p->IsRoot() || p->Count() == 0) Corrupt();
  while (!p->IsLeaf()) {
    int i = SearchLastNotGreater(*p, key);
    if (i < 0) i = 0;  // smaller than every key: the first child, whose key changes
    path.back().idx = i;
    for (const Step& s : path) {
      if (s.page->Offset() == p->Link(i)) Corrupt();
    }
    p->SetSubCount(i, p->SubCount(i) + 1);
    PagePin c = Child(*p, i, static_cast<int>(path.size()));
    p = c.get();
    path.push_back({std::move(c), 0});
  }
  int pos = SearchLastNotGreater(*p, key) + 1;
  InsertEntry(path, static_cast<int>(path.size()) - 1, pos, key, record_number, 1);
}

void IndexStore::PropagateFirstKey(std::vector<Step>& path, int level) {
  for (int l = level; l > 0; --l) {
    Step& parent = path[l - 1];
    parent.page->SetKey(parent.idx, path[l].page->Key(0));
    if (parent.idx != 0) break;
  }
}

void IndexStore::InsertEntry(std::vector<Step>& path, int level, int idx, const std::uint8_t* key,
                             std::uint32_t link, std::uint32_t sub_count) {
  TPage* p = path[level].page.get();
  p->InsertAt(idx, key, link, sub_count);
  if (idx == 0) PropagateFirstKey(path, level);
  if (!p->Overflows()) return;
  const PagePin r = NewPage();
  SplitPage(*p, *r);
  std::uint8_t rkey[kKeyBufferSize];
  std::memcpy(rkey, r->Key(0), key_size_);
  if (level == 0) {
    const PagePin n = NewPage();
    n->SetType(static_cast<std::uint8_t>(PageType::kRootInterior));
    n->InsertAt(0, p->Key(0), p->Offset(), p->Total());
    n->InsertAt(1, rkey, r->Offset(), r->Total());
    SetRoot(n->Offset());
    return;
  }
  Step& q = path[level - 1];
  q.page->SetSubCount(q.idx, p->Total());
  InsertEntry(path, level - 1, q.idx + 1, rkey, r->Offset(), r->Total());
}

void IndexStore::SplitPage(TPage& p, TPage& r) {
  const std::uint8_t type = p.IsLeaf() ? 2 : 1;
  p.SetType(type);
  r.SetType(type);
  p.MoveTailTo(r, p.Count() / 2);
  r.SetPrev(p.Offset());
  r.SetNext(p.Next());
  if (p.Next() != 0) GetPage(p.Next())->SetPrev(r.Offset());
  p.SetNext(r.Offset());
  if (p.CompressedLeaf()) {
    if (p.BytesUsed() > kPageEntryArea) {
      while (p.BytesUsed() > kPageEntryArea && p.Count() > 1) p.MoveTailTo(r, 1);
      if (r.BytesUsed() > kPageEntryArea) Corrupt();
    } else if (r.BytesUsed() > kPageEntryArea) {
      while (r.BytesUsed() > kPageEntryArea && r.Count() > 1) r.MoveHeadTo(p, 1);
      if (p.BytesUsed() > kPageEntryArea) Corrupt();
    }
  }
}

void IndexStore::DeleteKey(const std::uint8_t* key) {
  RequireKeyedIndex();
  PathBuffer buffer(*this);
  std::vector<Step>& path = buffer.path;
  if (!DescendExact(key, path)) Fail(ErrorCode::kKeyNotFound, index_name_);
  DetachCursor();
  const int leaf = static_cast<int>(path.size()) - 1;
  for (int l = 0; l < leaf; ++l) {
    TPage* p = path[l].page.get();
    std::uint32_t c = p->SubCount(path[l].idx);
    if (c == 0) Corrupt();
    p->SetSubCount(path[l].idx, c - 1);
  }
  DeleteEntry(path, leaf, path[leaf].idx);
}

void IndexStore::ReplaceKey(const std::uint8_t* old_key, const std::uint8_t* new_key,
                            std::uint32_t record_number) {
  if (!SearchKey(old_key)) Fail(ErrorCode::kKeyNotFound, index_name_);
  DeleteKey(old_key);
  InsertKey(new_key, record_number);
}

// Unlinks and frees an empty non-root page, then drops its parent entry.
void IndexStore::RemoveEmptyPage(std::vector<Step>& path, int level) {
  TPage* p = path[level].page.get();
  if (level == 0) {
    FreePage(p);
    SetRoot(0);
    return;
  }
  if (p->Prev() != 0) GetPage(p->Prev())->SetNext(p->Next());
  if (p->Next() != 0) GetPage(p->Next())->SetPrev(p->Prev());
  FreePage(p);
  DeleteEntry(path, level - 1, path[level - 1].idx);
}

void IndexStore::DeleteEntry(std::vector<Step>& path, int level, int idx) {
  TPage* p = path[level].page.get();
  if (idx < 0 || idx >= p->Count()) Corrupt();
  p->RemoveAt(idx);
  if (p->Count() > 0 && idx == 0 && level > 0) PropagateFirstKey(path, level);
  if (p->CompressedLeaf()) {
    // Compressed leaves are never merged or rebalanced.
    if (p->Count() == 0) RemoveEmptyPage(path, level);
    return;
  }
  if (level == 0) {
    if (!p->IsLeaf() && p->Count() == 1) {
      const PagePin c = GetPage(p->Link(0));
      c->SetType(c->IsLeaf() ? 3 : 0);
      c->SetPrev(0);
      c->SetNext(0);
      SetRoot(c->Offset());
      FreePage(p);
    } else if (p->Count() == 0) {
      FreePage(p);
      SetRoot(0);
    }
    return;
  }
  const int cap = p->Capacity();
  if (p->Count() > 0 && p->Count() >= cap / 2) return;
  TPage* q = path[level - 1].page.get();
  const int qi = path[level - 1].idx;
  if (q->Count() == 1) {
    // No sibling under the same parent (only with the largest keys): an
    // empty page goes, a non-empty one stays as it is.
    if (p->Count() == 0) RemoveEmptyPage(path, level);
    return;
  }
  if (qi > 0) {
    const PagePin l = GetPage(q->Link(qi - 1));
    if (l->Offset() != p->Prev() || l->IsLeaf() != p->IsLeaf() || l.get() == p) Corrupt();
    if (cap > p->Count() + l->Count()) {
      p->MoveHeadTo(*l, p->Count());
      l->SetNext(p->Next());
      if (p->Next() != 0) GetPage(p->Next())->SetPrev(l->Offset());
      q->SetSubCount(qi - 1, l->Total());
      FreePage(p);
      DeleteEntry(path, level - 1, qi);
    } else {
      const int t = l->Count() + p->Count();
      l->MoveTailTo(*p, l->Count() - (t - t / 2));
      q->SetKey(qi, p->Key(0));
      q->SetSubCount(qi, p->Total());
      q->SetSubCount(qi - 1, l->Total());
    }
    return;
  }
  const PagePin r = GetPage(q->Link(1));
  if (r->Offset() != p->Next() || r->IsLeaf() != p->IsLeaf() || r.get() == p) Corrupt();
  if (cap > p->Count() + r->Count()) {
    p->MoveTailTo(*r, p->Count());
    r->SetPrev(p->Prev());
    if (p->Prev() != 0) GetPage(p->Prev())->SetNext(r->Offset());
    q->SetKey(1, r->Key(0));
    q->SetSubCount(1, r->Total());
    FreePage(p);
    DeleteEntry(path, level - 1, 0);
  } else {
    const int t = p->Count() + r->Count();
    r->MoveHeadTo(*p, t / 2 - p->Count());
    q->SetSubCount(0, p->Total());
    q->SetKey(1, r->Key(0));
    q->SetSubCount(1, r->Total());
    PropagateFirstKey(path, level);
  }
}

}  // namespace storage
