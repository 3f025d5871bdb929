#include "storage/table_names.h"

#include "platform/text.h"

namespace storage {
namespace {

// Windows takes '/' as a separator as well as '\', and on this system full
// paths begin with '/': every name routine below treats the two alike.
// (Stored names never hold '/', which Windows forbids in file names.)
constexpr std::string_view kSeparators = "\\/";
constexpr std::string_view kSeparatorsAndDrive = "\\/:";

}  // namespace

std::string RemoveFileExt(std::string_view s) {
  std::size_t dot = s.rfind('.');
  std::size_t slash = s.find_last_of(kSeparators);
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
    return std::string(s.substr(0, dot));
  }
  return std::string(s);
}

std::string IncludeTrailingBackslash(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  std::string out(s.substr(b, e - b));
  if (!out.empty() && kSeparators.find(out.back()) == std::string_view::npos) out.push_back('\\');
  return out;
}

bool HasDirectoryPart(std::string_view s) {
  return s.empty() || s.find_first_of(kSeparatorsAndDrive) != std::string_view::npos;
}

std::string ExtractTableName(std::string_view s) {
  std::size_t sep = s.find_last_of(kSeparatorsAndDrive);
  std::string_view name = sep == std::string_view::npos ? s : s.substr(sep + 1);
  if (name.size() > 255) name = name.substr(0, 255);
  return RemoveFileExt(name);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string TableFileName(std::string_view name, std::string_view extension) {
  std::string s(TrimBlanks(name));
  const std::size_t sep = s.find_last_of(kSeparatorsAndDrive);
  const std::size_t dot = s.find_last_of('.');
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
    if (platform::AnsiUpperCase(std::string_view(s).substr(dot)) ==
        platform::AnsiUpperCase(extension))
      return s;
    s.erase(dot);
  }
  return s.append(extension);
}

}  // namespace storage
