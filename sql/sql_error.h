// The SQL engine's one way to fail: engine error 11949 with the message as
// the error context's extra text ("SQL - " + message for the user). Data
// file, field and index names stay empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace storage {
class TDataFile;
}

namespace sql {

inline constexpr std::uint16_t kSqlErrorCode = 11949;
// Messages and the token texts inside them are short strings.
inline constexpr std::size_t kMaxShortString = 255;

// Cuts text to a short string (255 characters).
std::string ShortString(std::string_view text);

// Raises engine error 11949 with message (cut to 255 characters).
[[noreturn]] void SqlError(std::string_view message);

// Raises a non-zero code that a routine of file returned, naming file: the
// session's error context may still hold an earlier error's file.
void CheckFileResult(const storage::TDataFile& file, std::uint16_t code);

}  // namespace sql
