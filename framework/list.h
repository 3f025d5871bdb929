// TList: a growable list of untyped pointers (the items are not owned), and
// TBits: a growable bit array.
//
// TList capacity grows by 4 while it is at most 8, by 16 while at most 64,
// else by a quarter: 4, 8, 12, 28, 44, 60, 76, 95, ... Capacity and count
// stay below 134217728. Errors raise EListError with "List index out of
// bounds (%d)", "List capacity out of bounds (%d)" or "List count out of
// bounds (%d)".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace fw {

class TList {
 public:
  static constexpr int kMaxListSize = 134217727;

  TList() = default;
  virtual ~TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  void* Get(int index) const;
  void Put(int index, void* item);
  void* operator[](int index) const { return Get(index); }
  void* First() const { return Get(0); }
  void* Last() const { return Get(count_ - 1); }

  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  void Clear();  // count 0, capacity 0
  int IndexOf(const void* item) const;
  int Remove(const void* item);  // deletes the first occurrence; its index or -1
  void Exchange(int index1, int index2);
  void Move(int from, int to);
  void Pack();  // drops nil items
  void SetCapacity(int capacity);
  void SetCount(int count);  // new slots are nil
  // Quicksort with a compare routine returning <0, 0 or >0.
  void Sort(const std::function<int(void*, void*)>& compare);

 protected:
  virtual void Grow();

 private:
  std::unique_ptr<void*[]> items_;
  int count_ = 0;
  int capacity_ = 0;
};

// Bits beyond Size read as an error; setting one grows the array.
// Errors raise EBitsError "Bits index out of range".
class TBits {
 public:
  int Size() const { return size_; }
  void SetSize(int size);
  bool Get(int index) const;
  void Set(int index, bool value);
  bool operator[](int index) const { return Get(index); }
  // Index of the first clear bit; Size when every bit is set.
  int OpenBit() const;

 private:
  std::vector<std::uint64_t> words_;
  int size_ = 0;
};

}  // namespace fw
