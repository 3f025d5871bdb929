// TControlStrings: the lines of a memo or the items of a combo or list box,
// read and written straight through to the control's widget (the widget
// holds them; nothing is cached here). Offers the string-list operations
// the program uses on them, and conversion to and from TStringList.
#pragma once

#include <string>

#include "framework/string_list.h"

namespace fw {

class TControlStrings {
 public:
  virtual ~TControlStrings() = default;
  virtual int Count() const = 0;
  // EStringListError "List index out of bounds (%d)" outside 0..Count-1.
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& s) = 0;
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  std::string operator[](int index) const { return Get(index); }
  int Add(const std::string& s) {
    Insert(Count(), s);
    return Count() - 1;
  }
  int IndexOf(const std::string& s) const;  // case-insensitive
  // Lines joined with CR LF after each; setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);
  void Assign(const TStringList& list);
  TStringList ToStringList() const;
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name) const;

 protected:
  void CheckIndex(int index, int limit) const;
};

}  // namespace fw
