#include "storage/like_pattern.h"

namespace storage {
namespace {

std::string_view UpToNul(std::string_view s) {
  std::size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

}  // namespace

// Greedy matching with one backtrack point: the latest '%' seen and the
// text position it was tried at. When a literal fails, that '%' takes one
// more character and matching resumes after it. Going back further than
// the latest '%' never helps: whatever an earlier '%' would absorb, the
// latest one can absorb as well. This gives the same answers as the
// recursive definition ("%" first tries the empty run, then one character
// more) without its exponential cost on patterns like %a%a%a%b.
bool MatchLikePattern(std::string_view text, std::string_view pattern) {
  text = UpToNul(text);
  pattern = UpToNul(pattern);
  std::size_t t = 0, p = 0;
  std::size_t star = std::string_view::npos;  // pattern index of the latest '%'
  std::size_t star_text = 0;                  // text index that '%' resumes from
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && (pattern[p] == '_' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

}  // namespace storage
