// Engine error messages, exact, and the error context of a session.
#include "storage/engine_error.h"

#include <gtest/gtest.h>

#include <string>

#include "storage/session.h"
#include "tests/common/error_text.h"

namespace storage {
namespace {

class EngineErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
};

const ErrorContext kContext{0, "Fld", "C:\\DATA\\T.DAT", "near FROM", "Idx"};

struct MessageCase {
  std::uint16_t code;
  const char* text;
};

// Every template with D = C:\DATA\T.DAT, F = Fld, I = Idx, X = near FROM.
const MessageCase kMessages[] = {
    {8705, "Beginning of file encountered in data file C:\\DATA\\T.DAT"},
    {8706, "End of file encountered in data file C:\\DATA\\T.DAT"},
    {8708, "Key not found in index Idx of data file C:\\DATA\\T.DAT"},
    {8710, "Record not found in data file C:\\DATA\\T.DAT"},
    {8711, "End of blob data in data file C:\\DATA\\T.DAT reached prematurely"},
    {8962, "Data record buffers corrupt in data file C:\\DATA\\T.DAT"},
    {8963, "BLOB block buffers corrupt in data file C:\\DATA\\T.DAT"},
    {8965, "Index page buffers corrupt in data file C:\\DATA\\T.DAT"},
    {9217, "Error reading from data file C:\\DATA\\T.DAT"},
    {9218, "Error writing to data file C:\\DATA\\T.DAT"},
    {9220, "Cannot delete data file C:\\DATA\\T.DAT"},
    {9221, "Error accessing file header information for data file C:\\DATA\\T.DAT"},
    {9477, "Maximum record size exceeded in data file C:\\DATA\\T.DAT"},
    {9482, "Too many filters defined for data file C:\\DATA\\T.DAT"},
    {9487, "Maximum or minimum limits on number of indexes or fields in an index exceeded in "
           "data file C:\\DATA\\T.DAT"},
    {9492, "Maximum or minimum limits on number of fields or field size exceeded in data file "
           "C:\\DATA\\T.DAT"},
    {9494, "Too many blobs opened in data file C:\\DATA\\T.DAT"},
    {9498, "Too many blob fields or invalid blob block size specified for data file "
           "C:\\DATA\\T.DAT"},
    {9729, "Duplicate key found in index Idx of data file C:\\DATA\\T.DAT"},
    {9730, "The minimum value has been exceeded for the field Fld in data file C:\\DATA\\T.DAT"},
    {9731, "The maximum value has been exceeded for the field Fld in data file C:\\DATA\\T.DAT"},
    {9732, "A value must be provied for the field Fld in data file C:\\DATA\\T.DAT"},
    {9985, "Invalid field number or name Fld specified for data file C:\\DATA\\T.DAT"},
    {9993, "A primary index is already defined for data file C:\\DATA\\T.DAT and cannot be "
           "added again"},
    {9998, "Invalid blob offset into data file C:\\DATA\\T.DAT specified"},
    {10000, "Invalid field definition specified for the field Fld in data file C:\\DATA\\T.DAT"},
    {10006, "Invalid default, min or max validity check, or expression specified for Fld in "
            "data file C:\\DATA\\T.DAT"},
    {10010, "The secondary index name is missing or not specified for data file C:\\DATA\\T.DAT"},
    {10015, "Password provided for data file C:\\DATA\\T.DATis invalid"},
    {10022, "Invalid secondary index name Idx specified for data file C:\\DATA\\T.DAT"},
    {10023, "Invalid field number Fld specified in index Idx for data file C:\\DATA\\T.DAT"},
    {10026, "Invalid key size specified in index Idx for data file C:\\DATA\\T.DAT"},
    {10027, "The secondary index Idx already exists for data file C:\\DATA\\T.DAT"},
    {10029, "Invalid blob length in data file C:\\DATA\\T.DAT"},
    {10030, "Invalid blob handle for data file C:\\DATA\\T.DAT specified"},
    {10031, "Data file C:\\DATA\\T.DAT is already in use"},
    {10038, "Invalid or duplicate field name Fld specified for data file C:\\DATA\\T.DAT"},
    {10050, "Invalid filter handle specified for data file C:\\DATA\\T.DAT"},
    {10051, "Invalid filter expression specified for data file C:\\DATA\\T.DAT"},
    {10055, "The primary index cannot be removed from data file C:\\DATA\\T.DAT"},
    {10241, "The data file C:\\DATA\\T.DAT is already locked by another user"},
    {10242, "Cannot unlock data file or record in data file C:\\DATA\\T.DAT"},
    {10249, "General lock failure with data file C:\\DATA\\T.DAT"},
    {10253, "Data file C:\\DATA\\T.DAT must be opened exclusively"},
    {10258, "Record in data file C:\\DATA\\T.DAT is in use by another user"},
    {10498, "Insufficient rights to data file C:\\DATA\\T.DAT, a password is required"},
    {10753, "Invalid blob field Fld specified for data file C:\\DATA\\T.DAT"},
    {10758, "Tolmid engine not initialized"},
    {11010, "Invalid path or file name for data file C:\\DATA\\T.DAT"},
    {11012, "Too many files open while attempting to open data file C:\\DATA\\T.DAT"},
    {11013, "Access denied to data file C:\\DATA\\T.DAT"},
    {11014, "Invalid file handle for data file C:\\DATA\\T.DAT"},
    {11016, "There is insufficient memory present for data file C:\\DATA\\T.DAT"},
    {11017, "Invalid length for in-memory data file C:\\DATA\\T.DAT"},
    {11023, "Access denied to logical operating system device for data file C:\\DATA\\T.DAT"},
    {11025, "Data file C:\\DATA\\T.DAT has been moved"},
    {11047, "An unknown operating system error occurred with data file C:\\DATA\\T.DAT"},
    {11949, "SQL - near FROM"},
    {12035, "Data file C:\\DATA\\T.DAT is not the correct version"},
    {12292, "Invalid field type specified for index Idx in data file C:\\DATA\\T.DAT"},
    {15878, "The language driver for data file C:\\DATA\\T.DAT is not available or installed"},
    // Codes without a template of their own.
    {10024, "Unknown error occurred with data file C:\\DATA\\T.DAT"},
    {9994, "Unknown error occurred with data file C:\\DATA\\T.DAT"},
    {0, "Unknown error occurred with data file C:\\DATA\\T.DAT"},
    {65535, "Unknown error occurred with data file C:\\DATA\\T.DAT"},
};

TEST(EngineErrorMessage, EveryTemplate) {
  for (const MessageCase& c : kMessages) {
    EXPECT_EQ(GetEngineErrorMessage(c.code, kContext), c.text) << "code " << c.code;
  }
}

// A long path pushes the tail out: the caller gets exactly 127 characters.
TEST(EngineErrorMessage, CutAt127Characters) {
  ErrorContext c;
  for (std::size_t n : {98u, 99u, 255u}) {  // 98: exactly 127 characters
    c.data_file_name = std::string(n, 'x');
    EXPECT_EQ(GetEngineErrorMessage(9217, c), ("Error reading from data file " + c.data_file_name).substr(0, 127));
  }
}

TEST_F(EngineErrorTest, RaiseFillsAndClearsTheContext) {
  try {
    EngineError(ErrorCode::kDuplicateKey, "C:\\DATA\\T.DAT", "Fld", "ByName", "ignored");
  } catch (const fw::EDatabaseError& e) {  // caught as the framework's database error
    EXPECT_STREQ(e.what(), "Tolmid Engine Error # 9729 Duplicate key found in index ByName of data file C:\\DATA\\T.DAT");
  }
  const ErrorContext& ctx = CurrentSession()->Context();
  EXPECT_EQ(ctx.code, 9729);
  EXPECT_EQ(ctx.field_name, "Fld");
  EXPECT_EQ(ctx.extra_text, "ignored");
  EXPECT_THROW(EngineError(ErrorCode::kSql, "", "", "", "Syntax error"), ETolmidEngineError);
  EXPECT_EQ(ctx.data_file_name, "");  // the next raise clears what it does not set
  // Results turned into errors; an empty context ends in the blank.
  EXPECT_NO_THROW(CheckEngineResult(0));
  EXPECT_EQ(testsupport::ErrorText<ETolmidEngineError>([] { CheckEngineResult(-5); }),
            "Tolmid Engine Error # -5 Unknown error occurred with data file ");
  EXPECT_THROW(EngineError(9217, std::string(300, 'a'), std::string(256, 'b')), ETolmidEngineError);
  EXPECT_EQ(ctx.data_file_name.size(), 255u);  // short strings
  EXPECT_EQ(ctx.field_name.size(), 255u);
  // 10758 is raised when there is no session: it leaves the context alone.
  EXPECT_EQ(testsupport::ErrorText<ETolmidEngineError>([] { EngineError(ErrorCode::kNotInitialized, "B.DAT", "F"); }),
            "Tolmid Engine Error # 10758 Tolmid engine not initialized");
  SetErrorContext(10758, "C.DAT", "", "", "");
  EXPECT_EQ(ctx.code, 9217);
}

TEST(EngineErrorNoEngine, EverythingRaises10758) {
  ASSERT_FALSE(EngineInitialized());
  auto code_of = [](auto&& f) {
    try {
      f();
    } catch (const ETolmidEngineError& e) {
      return e.ErrorCode();
    }
    return 0;
  };
  EXPECT_EQ(code_of([] { CurrentSession(); }), 10758);
  EXPECT_EQ(code_of([] { SetPrivateDirectory("x"); }), 10758);
  // Without a session no context can be kept: the raise reports that.
  EXPECT_EQ(code_of([] { EngineError(9217, "X.DAT"); }), 10758);
  EXPECT_EQ(code_of([] { RaiseEngineError(9217); }), 9217);
}

}  // namespace
}  // namespace storage
