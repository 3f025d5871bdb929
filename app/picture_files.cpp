#include "app/picture_files.h"

#include <cctype>
#include <cstdint>

#include "app/string_routines.h"
#include "framework/gui/picture.h"
#include "framework/string_list.h"

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

}  // namespace

std::string UrlExtension(std::string_view url) {
  const std::string piece = LastPiece(std::string(url));
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
  const std::int64_t dw = std::int64_t{w} - aw;
  const std::int64_t dh = std::int64_t{h} - ah;
  if (dh <= dw) return {aw, RoundHalfEven(std::int64_t{h} * aw, w)};
  return {RoundHalfEven(std::int64_t{w} * ah, h), ah};
}

}  // namespace app
