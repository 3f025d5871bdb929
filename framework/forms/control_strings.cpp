#include "framework/forms/control_strings.h"

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

void TControlStrings::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit)
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TControlStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(Get(i), s)) return i;
  return -1;
}

std::string TControlStrings::Text() const { return ToStringList().Text(); }

void TControlStrings::SetText(const std::string& text) {
  TStringList l;
  l.SetText(text);
  Assign(l);
}

void TControlStrings::Assign(const TStringList& list) {
  Clear();
  for (int i = 0; i < list.Count(); ++i) Insert(i, list[i]);
}

TStringList TControlStrings::ToStringList() const {
  TStringList l;
  for (int i = 0; i < Count(); ++i) l.Add(Get(i));
  return l;
}

void TControlStrings::LoadFromFile(const std::string& file_name) {
  TStringList l;
  l.LoadFromFile(file_name);
  Assign(l);
}

void TControlStrings::SaveToFile(const std::string& file_name) const { ToStringList().SaveToFile(file_name); }

}  // namespace fw
