// TStringList.
//
// Comparison: case-insensitive lists compare the code page 1252 upper-case
// forms byte by byte (AnsiCompareText); case-sensitive ones compare bytes
// (AnsiCompareStr). Sorting is stable, so strings that compare equal keep
// the order in which they were added.
#include "framework/string_list.h"

#include <algorithm>
#include <string_view>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

[[noreturn]] void IndexError(int index) {
  throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

[[noreturn]] void SortedListError() {
  throw EStringListError("Operation not allowed on sorted list");
}

[[noreturn]] void DuplicateError() {
  throw EStringListError("String list does not allow duplicates");
}

}  // namespace

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return case_sensitive_ ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

const std::string& TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) SortedListError();
  if (index < 0 || index >= Count()) IndexError(index);
  items_[static_cast<std::size_t>(index)].text = s;
}

void* TStringList::GetObject(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<std::size_t>(index)].object;
}

void TStringList::PutObject(int index, void* object) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_[static_cast<std::size_t>(index)].object = object;
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, void* object) {
  int index;
  if (!sorted_) {
    index = Count();
  } else if (Find(s, index)) {
    switch (duplicates_) {
      case TDuplicates::dupIgnore: return index;
      case TDuplicates::dupError: DuplicateError();
      case TDuplicates::dupAccept: break;
    }
  }
  items_.insert(items_.begin() + index, Item{s, object});
  return index;
}

void TStringList::Insert(int index, const std::string& s) {
  if (sorted_) SortedListError();
  if (index < 0 || index > Count()) IndexError(index);
  items_.insert(items_.begin() + index, Item{s, nullptr});
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_.erase(items_.begin() + index);
}

void TStringList::Clear() { items_.clear(); }

void TStringList::Exchange(int index1, int index2) {
  if (index1 < 0 || index1 >= Count()) IndexError(index1);
  if (index2 < 0 || index2 >= Count()) IndexError(index2);
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

// Checked before anything moves, so a refused move loses nothing.
void TStringList::Move(int from, int to) {
  if (from == to) return;
  if (sorted_) SortedListError();
  if (from < 0 || from >= Count()) IndexError(from);
  if (to < 0 || to >= Count()) IndexError(to);
  Item item = std::move(items_[static_cast<std::size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
}

// Sorted: the first index whose string is not below s (the first of equal
// strings). Unsorted: a linear search; not found gives Count.
bool TStringList::Find(const std::string& s, int& index) const {
  if (!sorted_) {
    for (int i = 0; i < Count(); ++i) {
      if (CompareStrings(items_[static_cast<std::size_t>(i)].text, s) == 0) {
        index = i;
        return true;
      }
    }
    index = Count();
    return false;
  }
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareStrings(items_[static_cast<std::size_t>(mid)].text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  index = lo;
  return found;
}

int TStringList::IndexOf(const std::string& s) const {
  int index;
  return Find(s, index) ? index : -1;
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& t = items_[static_cast<std::size_t>(i)].text;
    std::size_t p = t.find('=');
    if (p != std::string::npos && CompareStrings(t.substr(0, p), name) == 0) return i;
  }
  return -1;
}

int TStringList::IndexOfObject(const void* object) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<std::size_t>(i)].object == object) return i;
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& t = Get(index);
  std::size_t p = t.find('=');
  return p == std::string::npos ? std::string() : t.substr(0, p);
}

// A line without '=' has no value (rather than the line less its first
// character).
std::string TStringList::ValueFromIndex(int index) const {
  const std::string& t = Get(index);
  std::size_t p = t.find('=');
  return p == std::string::npos ? std::string() : t.substr(p + 1);
}

std::string TStringList::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (sorted_) {
    // A sorted list cannot be written in place: replace the line.
    if (i >= 0) Delete(i);
    Add(name + "=" + value);
    return;
  }
  if (i < 0) i = Add(std::string());
  Put(i, name + "=" + value);
}

std::string TStringList::Text() const {
  std::size_t len = 0;
  for (const Item& item : items_) len += item.text.size() + 2;
  std::string result;
  result.reserve(len);
  for (const Item& item : items_) {
    result += item.text;
    result += "\r\n";
  }
  return result;
}

// Lines end at CR LF, LF or CR; a last line without an end counts; NUL is
// ordinary text.
void TStringList::SetText(const std::string& text) {
  Clear();
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    std::size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    Add(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

std::string TStringList::CommaText() const {
  if (Count() == 1 && items_[0].text.empty()) return "\"\"";
  std::string result;
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[static_cast<std::size_t>(i)].text;
    if (i > 0) result += ',';
    bool quote = std::any_of(s.begin(), s.end(), [](char c) {
      return static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',';
    });
    result += quote ? AnsiQuotedStr(s, '"') : s;
  }
  return result;
}

// Items are separated by commas or blanks (characters up to ' ', NUL
// included); an item
// starting with '"' runs to the closing quote, "" standing for one quote; a
// comma at the very end adds an empty item.
void TStringList::SetCommaText(const std::string& text) {
  Clear();
  const std::size_t n = text.size();
  std::size_t p = 0;
  auto is_blank = [&](std::size_t i) { return i < n && static_cast<unsigned char>(text[i]) <= ' '; };
  while (is_blank(p)) ++p;
  while (p < n) {
    std::string s;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') {
            s += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        s += text[p++];
      }
    } else {
      std::size_t start = p;
      while (p < n && static_cast<unsigned char>(text[p]) > ' ' && text[p] != ',') ++p;
      s = text.substr(start, p - start);
    }
    Add(s);
    while (is_blank(p)) ++p;
    if (p < n && text[p] == ',') {
      if (p + 1 == n) Add(std::string());
      do {
        ++p;
      } while (is_blank(p));
    }
  }
}

void TStringList::LoadFromFile(const std::string& file_name) {
  TFileStream stream(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStringList::SaveToFile(const std::string& file_name) const {
  TFileStream stream(file_name, fmCreate);
  SaveToStream(stream);
}

void TStringList::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    text.resize(static_cast<std::size_t>(stream.Read(text.data(), size)));
  }
  SetText(text);
}

void TStringList::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TStringList::SetSorted(bool sorted) {
  if (sorted_ == sorted) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.text, b.text) < 0; });
}

// Works on an unsorted list only, as a sorted one keeps its own order.
void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
  if (sorted_ || Count() < 2) return;
  // Compare by index on a snapshot, then permute.
  std::vector<int> order(static_cast<std::size_t>(Count()));
  for (int i = 0; i < Count(); ++i) order[static_cast<std::size_t>(i)] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(std::move(items_[static_cast<std::size_t>(i)]));
  items_ = std::move(sorted);
}

void TStringList::SetCaseSensitive(bool value) {
  if (case_sensitive_ == value) return;
  case_sensitive_ = value;
  if (sorted_) Sort();
}

std::vector<std::string> TStringList::ToVector() const {
  std::vector<std::string> v;
  v.reserve(items_.size());
  for (const Item& item : items_) v.push_back(item.text);
  return v;
}

}  // namespace fw
