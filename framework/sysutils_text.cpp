// Text and file-name routines of the class framework.
#include <algorithm>
#include <cstring>

#include "framework/sysutils.h"
#include "platform/text.h"

namespace fw {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

int CompareBytes(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return Sign(c);
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

// Code page 1252 case mapping comes from the platform (CharUpperA /
// CharLowerA).
unsigned char AnsiUpperChar(unsigned char c) { return platform::AnsiUpperChar(c); }
unsigned char AnsiLowerChar(unsigned char c) { return platform::AnsiLowerChar(c); }
std::string AnsiUpperCase(std::string_view s) { return platform::AnsiUpperCase(s); }
std::string AnsiLowerCase(std::string_view s) { return platform::AnsiLowerCase(s); }

int CompareStr(std::string_view a, std::string_view b) { return CompareBytes(a, b); }

int CompareText(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

int AnsiCompareText(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = platform::AnsiUpperChar(static_cast<unsigned char>(a[i]));
    unsigned char y = platform::AnsiUpperChar(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int AnsiCompareStr(std::string_view a, std::string_view b) { return CompareBytes(a, b); }

bool AnsiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

std::string AnsiQuotedStr(std::string_view s, char quote) {
  std::string r;
  r.reserve(s.size() + 2);
  r += quote;
  for (char c : s) {
    r += c;
    if (c == quote) r += c;
  }
  r += quote;
  return r;
}

std::string QuotedStr(std::string_view s) { return AnsiQuotedStr(s, '\''); }

int Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  std::size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string r;
  std::size_t i = 0;
  while (true) {
    std::size_t p = s.find(from, i);
    if (p == std::string_view::npos) break;
    r.append(s.substr(i, p - i));
    r.append(to);
    i = p + from.size();
  }
  r.append(s.substr(i));
  return r;
}

// ---------------------------------------------------------------------------
// File names. A drive colon ends the directory part as well.

namespace {
std::size_t LastDelimiter(const std::string& name, bool with_dot) {
  for (std::size_t i = name.size(); i > 0; --i) {
    char c = name[i - 1];
    if (IsSep(c) || c == ':' || (with_dot && c == '.')) return i - 1;
  }
  return std::string::npos;
}
}  // namespace

std::string ExtractFileName(const std::string& name) {
  std::size_t p = LastDelimiter(name, false);
  return p == std::string::npos ? name : name.substr(p + 1);
}

std::string ExtractFilePath(const std::string& name) {
  std::size_t p = LastDelimiter(name, false);
  return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

std::string ExtractFileDir(const std::string& name) {
  std::size_t p = LastDelimiter(name, false);
  if (p == std::string::npos) return std::string();
  // Keep the separator of a root ("/" or "C:\").
  if (p > 0 && IsSep(name[p]) && name[p - 1] != ':' && !IsSep(name[p - 1])) return name.substr(0, p);
  if (p == 0 && IsSep(name[0])) return name.substr(0, 1);
  return name.substr(0, p + 1);
}

std::string ExtractFileExt(const std::string& name) {
  std::size_t p = LastDelimiter(name, true);
  if (p == std::string::npos || name[p] != '.') return std::string();
  return name.substr(p);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  std::size_t p = LastDelimiter(name, true);
  if (p == std::string::npos || name[p] != '.') return name + ext;
  return name.substr(0, p) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& name) {
  if (!name.empty() && IsSep(name.back())) return name;
  return name + '/';
}

std::string ExcludeTrailingPathDelimiter(const std::string& name) {
  if (!name.empty() && IsSep(name.back())) return name.substr(0, name.size() - 1);
  return name;
}

}  // namespace fw
