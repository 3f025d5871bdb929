// TPage: one index page in memory, with its entries unpacked.
//
// Entries are held expanded (compressed leaves too) in a flat array of
// (key size + 10)-byte slots: key[k], link:u32 (child page or record
// number), subtree count:u32 (interior pages), prefix:u16 (compressed
// leaves). Indexes in this API are 0-based.
//
// Invariants:
//  (1) count_ entries are valid; a compressed leaf's prefixes and bytes_used_
//      always describe the current entries (kept by every change).
//  (2) pins_ counts the holders of the page; a pinned page is never evicted,
//      reused or written by the cache.
//  (3) While a page has an undo recorder (a write's undo, IndexStore), every
//      change of its contents reaches the recorder: a change of one entry's
//      key, link or count and the removal of an entry before they happen,
//      an insertion after it; any other change first asks for the whole
//      page, after which the recorder lets go of the page.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "storage/index_format.h"
#include "storage/pin.h"

namespace storage {

class TPage {
 public:
  TPage() = default;
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // Sets the key size and compression of the index the page belongs to and
  // empties the page.
  void Format(std::uint16_t key_size, bool compressed);
  // Empty: type 0, no entries, links 0, not dirty (pins and offset kept).
  void Clear();

  // Unpacks a 4096-byte plain image. Returns false when the page breaks the
  // format: unknown type, more entries than fit, a prefix longer than the
  // key or the previous key, entries past the page, links that are not 0 or
  // a block offset below end_offset. Nothing is read outside the buffer.
  [[nodiscard]] bool Load(const std::uint8_t* buffer, std::uint32_t end_offset);
  // Reads only the header fields of a free page (its next link).
  [[nodiscard]] bool LoadFreeLink(const std::uint8_t* buffer, std::uint32_t end_offset);
  // Packs into a 4096-byte buffer (zeroed first). False when a compressed
  // leaf does not fit.
  [[nodiscard]] bool Store(std::uint8_t* buffer) const;

  [[nodiscard]] int Count() const { return count_; }
  [[nodiscard]] bool IsLeaf() const { return IsLeafType(type_); }
  [[nodiscard]] bool IsRoot() const { return IsRootType(type_); }
  [[nodiscard]] bool CompressedLeaf() const { return compressed_ && IsLeaf(); }
  [[nodiscard]] std::uint8_t Type() const { return type_; }
  void SetType(std::uint8_t t) {
    WholeChanging();
    type_ = t;
    dirty_ = true;
    if (CompressedLeaf()) RecomputePrefixes();
    else bytes_used_ = 0;
  }
  [[nodiscard]] std::uint16_t KeySize() const { return key_size_; }
  // Entries an interior page or uncompressed leaf may hold (compressed
  // leaves are bounded by bytes instead).
  [[nodiscard]] int Capacity() const {
    return IsLeaf() ? LeafCapacity(key_size_) : InteriorCapacity(key_size_);
  }
  // Over the limit after an insert: interior/uncompressed count > capacity,
  // compressed leaf bytes used > 4083.
  [[nodiscard]] bool Overflows() const {
    return CompressedLeaf() ? bytes_used_ > kPageEntryArea : count_ > Capacity();
  }
  [[nodiscard]] std::uint32_t BytesUsed() const { return bytes_used_; }

  [[nodiscard]] const std::uint8_t* Key(int i) const { return Slot(i); }
  [[nodiscard]] std::uint32_t Link(int i) const {
    return LoadLittle<std::uint32_t>(Slot(i) + key_size_);
  }
  // 1 in a leaf.
  [[nodiscard]] std::uint32_t SubCount(int i) const {
    return IsLeaf() ? 1 : LoadLittle<std::uint32_t>(Slot(i) + key_size_ + 4);
  }
  [[nodiscard]] std::uint16_t Prefix(int i) const {
    return LoadLittle<std::uint16_t>(Slot(i) + key_size_ + 8);
  }
  void SetKey(int i, const std::uint8_t* key);
  void SetLink(int i, std::uint32_t v) {
    if (undo_recorder) undo_recorder->EntryChanging(*this, i);
    StoreLittle<std::uint32_t>(Slot(i) + key_size_, v);
    dirty_ = true;
  }
  void SetSubCount(int i, std::uint32_t v) {
    if (undo_recorder) undo_recorder->EntryChanging(*this, i);
    StoreLittle<std::uint32_t>(Slot(i) + key_size_ + 4, v);
    dirty_ = true;
  }
  // Leaf entries below the page: the count of a leaf, the sum of the
  // subtree counts of an interior page.
  [[nodiscard]] std::uint32_t Total() const;
  // Subtree counts of entries 0..i-1 (i in a leaf).
  [[nodiscard]] std::uint32_t CountBefore(int i) const;

  // Makes entry i (0..count) the given one; later entries move up.
  void InsertAt(int i, const std::uint8_t* key, std::uint32_t link, std::uint32_t sub_count);
  void RemoveAt(int i);
  // Moves the last n entries of this page to the front of dst.
  void MoveTailTo(TPage& dst, int n);
  // Moves the first n entries of this page to the end of dst.
  void MoveHeadTo(TPage& dst, int n);

  [[nodiscard]] std::uint32_t Offset() const { return offset_; }
  void SetOffset(std::uint32_t o) { offset_ = o; }
  [[nodiscard]] std::uint32_t Prev() const { return prev_; }
  [[nodiscard]] std::uint32_t Next() const { return next_; }
  void SetPrev(std::uint32_t v) {
    WholeChanging();
    prev_ = v;
    dirty_ = true;
  }
  void SetNext(std::uint32_t v) {
    WholeChanging();
    next_ = v;
    dirty_ = true;
  }
  [[nodiscard]] bool Dirty() const { return dirty_; }
  void SetDirty(bool d) { dirty_ = d; }
  [[nodiscard]] int Pins() const { return pins_; }
  // +1; false above 64 (a walk that keeps fetching the same page).
  [[nodiscard]] bool Pin() { return ++pins_ <= 64; }
  void Release() {
    if (pins_ > 0) --pins_;
  }
  void ResetPins() { pins_ = 0; }

  // What a write's undo keeps of a page: its contents and dirty state, not
  // its pins, offset or place in the cache.
  struct Snapshot {
    std::uint16_t key_size = 0;
    bool compressed = false;
    std::uint8_t type = 0;
    int count = 0;
    std::uint32_t prev = 0;
    std::uint32_t next = 0;
    std::uint32_t bytes_used = 0;
    bool dirty = false;
    bool free_page = false;
    std::vector<std::uint8_t> entries;  // count entries; capacity reused
  };
  void Save(Snapshot& s) const;
  void Restore(const Snapshot& s);
  // One entry's bytes as held (key size + 10), and putting them back.
  [[nodiscard]] std::size_t EntrySize() const { return Stride(); }
  [[nodiscard]] const std::uint8_t* EntryBytes(int i) const { return Slot(i); }
  void RestoreEntry(int i, const std::uint8_t* bytes) { std::memcpy(Slot(i), bytes, Stride()); }

  // Invariant 3. The recorder's calls come with the page as it is before
  // the change (after it, for an insertion).
  class UndoRecorder {
   public:
    virtual void EntryChanging(TPage& page, int i) = 0;
    virtual void EntryInserted(TPage& page, int i) = 0;
    virtual void EntryRemoving(TPage& page, int i) = 0;
    // Saves the whole page and sets page.undo_recorder to nullptr.
    virtual void PageChanging(TPage& page) = 0;

   protected:
    ~UndoRecorder() = default;
  };
  UndoRecorder* undo_recorder = nullptr;
  std::uint32_t undo_record = 0;  // the recorder's number for this page

  // Cache bookkeeping (owned by the cache).
  TPage* lru_prev = nullptr;
  TPage* lru_next = nullptr;
  bool free_page = false;  // loaded only for its free-list link
  // The write whose undo holds this page's snapshot (IndexStore's stamp);
  // 0 when none. Cleared whenever the page object takes another offset.
  std::uint32_t undo_stamp = 0;

 private:
  [[nodiscard]] std::size_t Stride() const { return key_size_ + 10u; }
  void WholeChanging() {
    if (undo_recorder) undo_recorder->PageChanging(*this);
  }
  std::uint8_t* Slot(int i) { return entries_.data() + Stride() * i; }
  const std::uint8_t* Slot(int i) const { return entries_.data() + Stride() * i; }
  void Reserve(int n) {
    if (entries_.size() < Stride() * n) entries_.resize(Stride() * (n + n / 4 + 4));
  }
  std::uint16_t SharedPrefix(int i) const;
  // Recomputes the prefix of entry i (when it exists) and adjusts bytes_used_.
  void FixPrefix(int i);
  void RecomputePrefixes();

  std::uint16_t key_size_ = 0;
  bool compressed_ = false;
  std::uint8_t type_ = 0;
  int count_ = 0;
  std::uint32_t prev_ = 0;
  std::uint32_t next_ = 0;
  std::uint32_t bytes_used_ = 0;
  std::uint32_t offset_ = 0;
  int pins_ = 0;
  bool dirty_ = false;
  std::vector<std::uint8_t> entries_;
};

// A pin of a page (TPage::Pin) held by a guard.
inline void Unpin(TPage& p) { p.Release(); }
using PagePin = Pin<TPage>;

}  // namespace storage
