// TSystemList: the engine's growable list of untyped pointers.
//
// The list owns its slot array, never the items. Capacity grows by 4 up to
// 8 slots, by 16 up to 64, then by a quarter (4, 8, 12, 28, 44, 60, 76, 95,
// ...) and always stays below kMaxListSize. Misuse raises fw::EListError
// with the framework's list messages.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace storage {

// Quicksort of items[first..last] in place with compare(a, b) < 0, == 0,
// > 0. Pivot: the item at (first + last) / 2. Recurses into the smaller
// part and loops on the larger, so the stack stays O(log n). Index checks
// keep a comparison that is not a strict weak order inside the array.
template <class Compare>
void QuickSortPointers(void** items, int first, int last, Compare compare) {
  while (first < last) {
    int i = first;
    int j = last;
    void* pivot = items[first + (last - first) / 2];
    while (i <= j) {
      while (i < last && compare(items[i], pivot) < 0) ++i;
      while (j > first && compare(items[j], pivot) > 0) --j;
      if (i <= j) {
        std::swap(items[i], items[j]);
        ++i;
        --j;
      }
    }
    // Now items[first..j] <= pivot <= items[i..last].
    if (j - first < last - i) {
      if (first < j) QuickSortPointers(items, first, j, compare);
      first = i;
    } else {
      if (i < last) QuickSortPointers(items, i, last, compare);
      last = j;
    }
  }
}

// Compare routine for Sort: negative, 0 or positive.
using ListCompare = int (*)(const void* a, const void* b);

class TSystemList {
 public:
  static constexpr std::int32_t kMaxListSize = 134217728;  // 0x8000000

  TSystemList() = default;
  virtual ~TSystemList() = default;
  TSystemList(const TSystemList&) = delete;
  TSystemList& operator=(const TSystemList&) = delete;

  std::int32_t Add(void* item);
  void Insert(std::int32_t index, void* item);
  void Delete(std::int32_t index);
  [[nodiscard]] void* Get(std::int32_t index) const;
  void Put(std::int32_t index, void* item);
  [[nodiscard]] void* First() const { return Get(0); }
  [[nodiscard]] void* Last() const { return Get(count_ - 1); }
  void Move(std::int32_t from, std::int32_t to);
  void Exchange(std::int32_t a, std::int32_t b);
  // Index of the first slot holding item; -1 when none.
  [[nodiscard]] std::int32_t IndexOf(const void* item) const;
  // Deletes the first slot holding item; its former index or -1.
  std::int32_t Remove(const void* item);
  void SetCapacity(std::int32_t n);
  void SetCount(std::int32_t n);
  void Clear();
  void Sort(ListCompare compare);

  [[nodiscard]] std::int32_t Count() const { return count_; }
  [[nodiscard]] std::int32_t Capacity() const { return capacity_; }
  [[nodiscard]] void** Items() { return items_.get(); }

 protected:
  virtual void Grow();
  // Raises fw::EListError with message formatted with number (one %d).
  [[noreturn]] virtual void ListError(const char* message, std::int32_t number);

 private:
  void CheckIndex(std::int32_t index) const;

  std::unique_ptr<void*[]> items_;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace storage
