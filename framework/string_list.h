// TStringList: an ordered list of strings with optional attached objects,
// name=value access, optional sorting and a duplicates rule. Strings are
// single-byte text (code page 1252), as everywhere in the engine.
//
// Comparison: AnsiCompareText (code page 1252 upper-case forms, bytewise)
// by default, AnsiCompareStr (bytes) when CaseSensitive. Sorting is stable.
// On a sorted list Insert, Put and Move raise EStringListError "Operation
// not allowed on sorted list"; SetValue there replaces the line instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

class TStream;

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
 public:
  TStringList() = default;
  virtual ~TStringList() = default;
  TStringList(const TStringList&) = default;
  TStringList& operator=(const TStringList&) = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // Index errors raise EStringListError "List index out of bounds (%d)".
  const std::string& Get(int index) const;
  void Put(int index, const std::string& s);
  const std::string& operator[](int index) const { return Get(index); }
  void* GetObject(int index) const;
  void PutObject(int index, void* object);

  // Add on a sorted list inserts in order; a duplicate under dupError
  // raises EStringListError "String list does not allow duplicates",
  // under dupIgnore returns the existing index.
  int Add(const std::string& s);
  int AddObject(const std::string& s, void* object);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear();
  void Exchange(int index1, int index2);
  void Move(int from, int to);
  int IndexOf(const std::string& s) const;  // case-insensitive, as the framework's
  int IndexOfName(const std::string& name) const;
  int IndexOfObject(const void* object) const;
  bool Find(const std::string& s, int& index) const;  // binary search when sorted

  // name=value pairs
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(const std::string& name) const;
  // Sets the value; an empty value deletes the entry.
  void SetValue(const std::string& name, const std::string& value);

  // Lines joined with CR LF (each line ends with CR LF); setting splits at
  // CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);
  // Comma text: items separated by commas, quoted with " when they hold
  // blanks, commas or quotes.
  std::string CommaText() const;
  void SetCommaText(const std::string& text);

  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name) const;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void Assign(const TStringList& other) { *this = other; }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  void Sort();
  void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value);

  std::vector<std::string> ToVector() const;

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };
  int CompareStrings(const std::string& a, const std::string& b) const;
  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

}  // namespace fw
