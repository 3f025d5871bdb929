#include "app/picture_files.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <vector>

#include "app/string_routines.h"
#include "framework/gui/picture.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "platform/file.h"

namespace app {

namespace {

std::string LastPiece(const std::string& text) {
  fw::TStringList pieces;
  SplitToLines(text, '.', pieces);
  return pieces.Count() == 0 ? std::string() : pieces[pieces.Count() - 1];
}

// num / den rounded to the nearest integer, halves to even; den > 0.
int RoundHalfEven(std::int64_t num, std::int64_t den) {
  std::int64_t q = num / den;
  const std::int64_t r2 = 2 * (num % den);
  if (r2 > den || (r2 == den && (q & 1) != 0)) ++q;
  return static_cast<int>(q);
}

constexpr const char* kTableFileExtensions[] = {"dat", "idx", "blb", "dbk", "ibk", "bbk"};

}  // namespace

std::string UrlExtension(std::string_view url) {
  const std::string piece = LastPiece(std::string(url.substr(0, url.find_first_of("?#"))));
  std::string ext;
  for (const char c : piece) {
    if (ext.size() == kMaxUrlExtension || !std::isalnum(static_cast<unsigned char>(c))) break;
    ext.push_back(c);
  }
  return ext;
}

bool HasNoExtension(const std::string& file_name) {
  fw::TStringList pieces;
  SplitToLines(file_name, '.', pieces);
  return pieces.Count() < 2;
}

void LoadPictureFile(fw::TPicture& picture, const std::string& file_name, std::string_view url) {
  if (HasNoExtension(file_name)) {
    picture.LoadFromFileAs(file_name, UrlExtension(url));
  } else {
    picture.LoadFromFile(file_name);
  }
}

FittedSize FitPictureSize(int w, int h, int aw, int ah) {
  if (w <= 0 || h <= 0) return {w, h};
  // The side that reaches the box first, by proportion: w / h >= aw / ah
  // fixes the width. (Comparing the differences w - aw and h - ah instead
  // picks the wrong side whenever picture and box differ in shape and
  // size, and the picture then spills over the box.)
  if (std::int64_t{w} * ah >= std::int64_t{h} * aw) return {aw, RoundHalfEven(std::int64_t{h} * aw, w)};
  return {RoundHalfEven(std::int64_t{w} * ah, h), ah};
}

bool IsPictureFileOfPhoto(const std::string& file_name) {
  std::vector<std::string> parts(1);
  for (const char c : file_name) {
    if (c == '\\' || c == '/')
      parts.emplace_back();
    else
      parts.back().push_back(c);
  }
  if (parts.size() != 2 || !fw::SameText(parts[0], kDataFolder)) return false;
  const std::string& leaf = parts[1];
  if (leaf.empty() || leaf == "." || leaf == "..") return false;
  const std::size_t dot = leaf.rfind('.');
  if (dot != std::string::npos)
    for (const char* ext : kTableFileExtensions)
      if (fw::SameText(std::string_view(leaf).substr(dot + 1), ext)) return false;
  struct stat st {};
  return ::lstat(platform::ResolvePath(file_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeletePictureFile(const std::string& file_name) {
  return IsPictureFileOfPhoto(file_name) && platform::DeleteFile(file_name);
}

}  // namespace app
