// Messages of component misuse in the dataset layer. Each is kept under a
// fixed string-table identifier and raised as fw::EDatabaseError; a "%s" in
// the text is filled with the name in question.
#pragma once

#include <string>
#include <string_view>

namespace dataset {

enum class ComponentMessage : int {
  kAutoSessionActive = 65200,
  kAutoSessionExists = 65201,
  kHandleError = 65202,
  kUnknownFieldType = 65203,
  kUnsupportedFieldType = 65204,
  kEmptySql = 65205,
  kNoParameterValue = 65206,
  kNoTableName = 65207,
  kCannotAccessField = 65208,
  kDuplicateDatabaseName = 65223,
  kDuplicateSessionName = 65224,
  kInvalidSessionName = 65225,
  kDatabaseNameMissing = 65226,
  kInvalidDatabaseName = 65227,
  kSessionNameMissing = 65228,
  kDatabaseOpen = 65229,
  kSessionActive = 65230,
  kAutoSessionNameSet = 65231,
};

// The raw text of a message ("" for an identifier that has none).
[[nodiscard]] std::string_view ComponentMessageText(ComponentMessage id);
[[nodiscard]] std::string_view ComponentMessageText(int id);
// The text with its "%s" (if any) replaced by name.
[[nodiscard]] std::string FormatComponentMessage(ComponentMessage id, std::string_view name = {});
// Raises fw::EDatabaseError with FormatComponentMessage(id, name).
[[noreturn]] void RaiseComponentError(ComponentMessage id, std::string_view name = {});

}  // namespace dataset
