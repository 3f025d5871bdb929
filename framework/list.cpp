// TList and TBits.
#include "framework/list.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "framework/exceptions.h"

namespace fw {

namespace {

[[noreturn]] void ListError(const char* what, int value) {
  throw EListError(std::string("List ") + what + " out of bounds (" + std::to_string(value) + ")");
}

}  // namespace

void* TList::Get(int index) const {
  if (index < 0 || index >= count_) ListError("index", index);
  return items_[static_cast<std::size_t>(index)];
}

void TList::Put(int index, void* item) {
  if (index < 0 || index >= count_) ListError("index", index);
  items_[static_cast<std::size_t>(index)] = item;
}

void TList::Grow() {
  int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
  SetCapacity(capacity_ + delta);
}

int TList::Add(void* item) {
  if (count_ == capacity_) Grow();
  items_[static_cast<std::size_t>(count_)] = item;
  return count_++;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > count_) ListError("index", index);
  if (count_ == capacity_) Grow();
  void** p = items_.get();
  std::memmove(p + index + 1, p + index, static_cast<std::size_t>(count_ - index) * sizeof(void*));
  p[index] = item;
  ++count_;
}

void TList::Delete(int index) {
  if (index < 0 || index >= count_) ListError("index", index);
  void** p = items_.get();
  --count_;
  std::memmove(p + index, p + index + 1, static_cast<std::size_t>(count_ - index) * sizeof(void*));
}

void TList::Clear() {
  count_ = 0;
  capacity_ = 0;
  items_.reset();
}

int TList::IndexOf(const void* item) const {
  for (int i = 0; i < count_; ++i)
    if (items_[static_cast<std::size_t>(i)] == item) return i;
  return -1;
}

int TList::Remove(const void* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

void TList::Exchange(int index1, int index2) {
  if (index1 < 0 || index1 >= count_) ListError("index", index1);
  if (index2 < 0 || index2 >= count_) ListError("index", index2);
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

void TList::Move(int from, int to) {
  if (from == to) return;
  if (to < 0 || to >= count_) ListError("index", to);
  void* item = Get(from);
  Delete(from);
  Insert(to, item);
}

void TList::Pack() {
  int j = 0;
  for (int i = 0; i < count_; ++i)
    if (items_[static_cast<std::size_t>(i)] != nullptr) items_[static_cast<std::size_t>(j++)] = items_[static_cast<std::size_t>(i)];
  count_ = j;
}

void TList::SetCapacity(int capacity) {
  if (capacity < count_ || capacity > kMaxListSize) ListError("capacity", capacity);
  if (capacity == capacity_) return;
  if (capacity == 0) {
    items_.reset();
  } else {
    std::unique_ptr<void*[]> n(new void*[static_cast<std::size_t>(capacity)]());
    if (count_ > 0) std::memcpy(n.get(), items_.get(), static_cast<std::size_t>(count_) * sizeof(void*));
    items_ = std::move(n);
  }
  capacity_ = capacity;
}

void TList::SetCount(int count) {
  if (count < 0 || count > kMaxListSize) ListError("count", count);
  if (count > capacity_) SetCapacity(count);
  for (int i = count_; i < count; ++i) items_[static_cast<std::size_t>(i)] = nullptr;
  count_ = count;
}

// Quicksort: pivot the middle item, recurse on the left part, iterate on
// the right part.
void TList::Sort(const std::function<int(void*, void*)>& compare) {
  if (count_ < 2) return;
  void** a = items_.get();
  std::function<void(int, int)> quick = [&](int l, int r) {
    while (l < r) {
      int i = l, j = r;
      void* pivot = a[(l + r) / 2];
      do {
        while (compare(a[i], pivot) < 0) ++i;
        while (compare(a[j], pivot) > 0) --j;
        if (i <= j) {
          std::swap(a[i], a[j]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (l < j) quick(l, j);
      l = i;
    }
  };
  quick(0, count_ - 1);
}

// ---------------------------------------------------------------------------
// TBits

namespace {
[[noreturn]] void BitsError() { throw EBitsError("Bits index out of range"); }
}  // namespace

void TBits::SetSize(int size) {
  if (size < 0) BitsError();
  words_.resize((static_cast<std::size_t>(size) + 63) / 64, 0);
  // Clear the bits past the new end so growing again reads them as 0.
  if (size % 64 != 0) words_.back() &= (std::uint64_t{1} << (size % 64)) - 1;
  size_ = size;
}

bool TBits::Get(int index) const {
  if (index < 0 || index >= size_) BitsError();
  return (words_[static_cast<std::size_t>(index) / 64] >> (index % 64)) & 1;
}

void TBits::Set(int index, bool value) {
  if (index < 0 || index == INT32_MAX) BitsError();
  if (index >= size_) SetSize(index + 1);
  std::uint64_t mask = std::uint64_t{1} << (index % 64);
  if (value) words_[static_cast<std::size_t>(index) / 64] |= mask;
  else words_[static_cast<std::size_t>(index) / 64] &= ~mask;
}

int TBits::OpenBit() const {
  for (std::size_t w = 0; w < words_.size(); ++w) {
    if (words_[w] != ~std::uint64_t{0}) {
      int i = static_cast<int>(w * 64) + std::countr_one(words_[w]);
      return i < size_ ? i : size_;
    }
  }
  return size_;
}

}  // namespace fw
