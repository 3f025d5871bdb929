#include "dataset/component_errors.h"

#include <array>
#include <utility>

#include "framework/exceptions.h"

namespace dataset {
namespace {

using M = ComponentMessage;

constexpr std::array<std::pair<M, std::string_view>, 18> kMessages{{
    {M::kAutoSessionActive, "The active auto-session can be the only active session."},
    {M::kAutoSessionExists, "This auto-session already exists."},
    {M::kHandleError, "Error creating table handle."},
    {M::kUnknownFieldType, "Field '%s' is of unknown type"},
    {M::kUnsupportedFieldType, "Field '%s' is of an unsupported type"},
    {M::kEmptySql, "No SQL statement available"},
    {M::kNoParameterValue, "No value for parameter '%s'"},
    {M::kNoTableName, "Missing table name."},
    {M::kCannotAccessField, "Cannot access field %s."},
    {M::kDuplicateDatabaseName, "Database name %s already exists."},
    {M::kDuplicateSessionName, "Session name %s already exists."},
    {M::kInvalidSessionName, "Session name %s is not valid."},
    {M::kDatabaseNameMissing, "Database name is missing."},
    {M::kInvalidDatabaseName, "Database name %s is not valid."},
    {M::kSessionNameMissing, "Session name is missing."},
    {M::kDatabaseOpen, "Cannot perform this operation on an open database."},
    {M::kSessionActive, "Cannot perform this operation on an active session."},
    {M::kAutoSessionNameSet, "Cannot perform this operation on the active auto-session."},
}};

}  // namespace

std::string_view ComponentMessageText(ComponentMessage id) {
  for (const auto& [k, text] : kMessages)
    if (k == id) return text;
  return {};
}

std::string_view ComponentMessageText(int id) {
  return ComponentMessageText(static_cast<ComponentMessage>(id));
}

std::string FormatComponentMessage(ComponentMessage id, std::string_view name) {
  std::string text(ComponentMessageText(id));
  // The name is inserted as it stands: a "%" inside it is not a format.
  const auto pos = text.find("%s");
  if (pos != std::string::npos) text.replace(pos, 2, name);
  return text;
}

void RaiseComponentError(ComponentMessage id, std::string_view name) {
  throw fw::EDatabaseError(FormatComponentMessage(id, name));
}

}  // namespace dataset
