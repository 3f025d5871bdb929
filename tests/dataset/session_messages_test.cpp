// The component-misuse messages: every identifier with its exact text, and
// the name filled into "%s" as it stands.
#include <gtest/gtest.h>

#include "dataset/component_errors.h"
#include "framework/exceptions.h"

namespace dataset {
namespace {

TEST(ComponentMessages, EveryIdentifierHasItsText) {
  struct Case {
    int id;
    const char* text;
  };
  const Case cases[] = {
      {65200, "The active auto-session can be the only active session."},
      {65201, "This auto-session already exists."},
      {65202, "Error creating table handle."},
      {65203, "Field '%s' is of unknown type"},
      {65204, "Field '%s' is of an unsupported type"},
      {65205, "No SQL statement available"},
      {65206, "No value for parameter '%s'"},
      {65207, "Missing table name."},
      {65208, "Cannot access field %s."},
      {65223, "Database name %s already exists."},
      {65224, "Session name %s already exists."},
      {65225, "Session name %s is not valid."},
      {65226, "Database name is missing."},
      {65227, "Database name %s is not valid."},
      {65228, "Session name is missing."},
      {65229, "Cannot perform this operation on an open database."},
      {65230, "Cannot perform this operation on an active session."},
      {65231, "Cannot perform this operation on the active auto-session."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(ComponentMessageText(c.id), c.text);
    EXPECT_EQ(ComponentMessageText(static_cast<ComponentMessage>(c.id)), c.text);
  }
  // The gap between the two groups holds nothing.
  for (int id : {65199, 65209, 65222, 65232}) EXPECT_EQ(ComponentMessageText(id), "") << id;
}

TEST(ComponentMessages, RaisedAsDatabaseErrorWithTheNameFilledIn) {
  struct Case {
    ComponentMessage id;
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {ComponentMessage::kUnknownFieldType, "Price", "Field 'Price' is of unknown type"},
      {ComponentMessage::kUnsupportedFieldType, "P", "Field 'P' is of an unsupported type"},
      {ComponentMessage::kNoParameterValue, "Id", "No value for parameter 'Id'"},
      {ComponentMessage::kCannotAccessField, "Memo", "Cannot access field Memo."},
      {ComponentMessage::kDuplicateDatabaseName, "DB", "Database name DB already exists."},
      {ComponentMessage::kDuplicateSessionName, "S", "Session name S already exists."},
      {ComponentMessage::kInvalidSessionName, "", "Session name  is not valid."},
      {ComponentMessage::kInvalidDatabaseName, "C:\\x", "Database name C:\\x is not valid."},
      // A name is text, never a format of its own.
      {ComponentMessage::kInvalidSessionName, "%s%d%%", "Session name %s%d%% is not valid."},
      // Texts without "%s" ignore the name.
      {ComponentMessage::kDatabaseNameMissing, "X", "Database name is missing."},
      {ComponentMessage::kSessionActive, "X", "Cannot perform this operation on an active session."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(FormatComponentMessage(c.id, c.name), c.message);
    try {
      RaiseComponentError(c.id, c.name);
      ADD_FAILURE() << "nothing raised";
    } catch (const fw::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace dataset
