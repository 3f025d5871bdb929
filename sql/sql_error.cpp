#include "sql/sql_error.h"

#include <algorithm>

#include "storage/data_file.h"
#include "storage/engine_error.h"

namespace sql {

std::string ShortString(std::string_view text) {
  return std::string(text.substr(0, std::min(text.size(), kMaxShortString)));
}

void SqlError(std::string_view message) {
  storage::EngineError(kSqlErrorCode, {}, {}, {}, ShortString(message));
}

void CheckFileResult(const storage::TDataFile& file, std::uint16_t code) {
  if (code != 0) storage::EngineError(code, file.FileName());
}

}  // namespace sql
