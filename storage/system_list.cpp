#include "storage/system_list.h"

#include <algorithm>
#include <cstdio>

#include "framework/exceptions.h"

namespace storage {
namespace {

constexpr const char* kIndexError = "List index out of bounds (%d)";
constexpr const char* kCapacityError = "List capacity out of bounds (%d)";
constexpr const char* kCountError = "List count out of bounds (%d)";

}  // namespace

void TSystemList::ListError(const char* message, std::int32_t number) {
  char text[128];
  std::snprintf(text, sizeof text, message, static_cast<int>(number));
  throw fw::EListError(text);
}

void TSystemList::CheckIndex(std::int32_t index) const {
  if (index < 0 || index >= count_) {
    const_cast<TSystemList*>(this)->ListError(kIndexError, index);
  }
}

void TSystemList::Grow() {
  std::int32_t delta;
  if (capacity_ > 64) {
    delta = capacity_ / 4;
  } else if (capacity_ > 8) {
    delta = 16;
  } else {
    delta = 4;
  }
  // Past the limit SetCapacity raises the capacity error.
  SetCapacity(static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{capacity_} + delta, kMaxListSize)));
}

std::int32_t TSystemList::Add(void* item) {
  if (count_ == capacity_) Grow();
  items_[count_] = item;
  return count_++;
}

void TSystemList::Insert(std::int32_t index, void* item) {
  if (index < 0 || index > count_) ListError(kIndexError, index);
  if (count_ == capacity_) Grow();
  std::copy_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
  items_[index] = item;
  ++count_;
}

void TSystemList::Delete(std::int32_t index) {
  CheckIndex(index);
  std::copy(items_.get() + index + 1, items_.get() + count_, items_.get() + index);
  --count_;
}

void* TSystemList::Get(std::int32_t index) const {
  CheckIndex(index);
  return items_[index];
}

void TSystemList::Put(std::int32_t index, void* item) {
  CheckIndex(index);
  items_[index] = item;
}

void TSystemList::Move(std::int32_t from, std::int32_t to) {
  if (from == to) return;
  if (to < 0 || to >= count_) ListError(kIndexError, to);
  void* item = Get(from);
  Delete(from);
  Insert(to, item);
}

void TSystemList::Exchange(std::int32_t a, std::int32_t b) {
  CheckIndex(a);
  CheckIndex(b);
  std::swap(items_[a], items_[b]);
}

std::int32_t TSystemList::IndexOf(const void* item) const {
  for (std::int32_t i = 0; i < count_; ++i) {
    if (items_[i] == item) return i;
  }
  return -1;
}

std::int32_t TSystemList::Remove(const void* item) {
  const std::int32_t index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void TSystemList::SetCapacity(std::int32_t n) {
  if (n < count_ || n >= kMaxListSize) ListError(kCapacityError, n);
  if (n == capacity_) return;
  if (n == 0) {
    items_.reset();
  } else {
    auto grown = std::make_unique<void*[]>(static_cast<std::size_t>(n));
    std::copy(items_.get(), items_.get() + count_, grown.get());
    items_ = std::move(grown);
  }
  capacity_ = n;
}

void TSystemList::SetCount(std::int32_t n) {
  if (n < 0 || n >= kMaxListSize) ListError(kCountError, n);
  if (n > capacity_) SetCapacity(n);
  if (n > count_) std::fill(items_.get() + count_, items_.get() + n, nullptr);
  count_ = n;
}

void TSystemList::Clear() {
  count_ = 0;
  SetCapacity(0);
}

void TSystemList::Sort(ListCompare compare) {
  if (count_ > 1) QuickSortPointers(items_.get(), 0, count_ - 1, compare);
}

}  // namespace storage
