// SQL LIKE, as the evaluator and the SQL engine's conditions apply it.
#pragma once

#include <string_view>

namespace storage {

// Case-sensitive, bytewise: '%' any run (also empty), '_' one character,
// anything else itself; no escape character (callers fold case first when
// they need to). Both texts end at their first NUL byte, if any (they come
// from zero-terminated value areas). Runs in O(len(text) x len(pattern))
// at worst.
bool MatchLikePattern(std::string_view text, std::string_view pattern);

}  // namespace storage
