// FlushToDisk and the password request of Open.
//
// Flush: after FlushToDisk the files on disk hold everything the open
// table holds: a byte copy of them, opened as a table of its own, reads
// the same records and filters to the same view. A record or index page
// left in a cache would show up as a missing or different record.
//
// Passwords: Open asks the callback until the table's password is in the
// session; a callback that answers "again" without adding anything would
// be asked for ever, so the loop must end with 10498.
#include <gtest/gtest.h>

#include <filesystem>

#include "datafilter_test_support.h"
#include "storage/session.h"

namespace storage::filtertest {
namespace {

using Op = ExprOperator;
using datatest::CodeOf;

class DataFilterFlush : public datatest::DataFileTestBase {
 protected:
  // Every record's Id and image, in record order.
  static std::vector<std::vector<std::byte>> Records(TDataFile& t) {
    std::vector<std::vector<std::byte>> out;
    const std::uint32_t next = t.Header().NextRecord();
    for (std::uint32_t n = 1; n < next; ++n) {
      TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
      auto d = r->Data();
      out.emplace_back(d.begin(), d.begin() + t.RecordSize());
      t.ReleaseRecordBuffer(r);
    }
    return out;
  }
};

TEST_F(DataFilterFlush, FlushToDiskLeavesFilesThatReopenToTheSameTable) {
  for (bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    const std::string name = Path(exclusive ? "FX.DAT" : "FS.DAT");
    Create(name, FilterTableDefinition(true));
    auto t = OpenTable(name, exclusive);
    for (int i = 1; i <= 700; ++i) {
      InsertRow(*t, {.id = i, .s = std::string(1, static_cast<char>('a' + i % 7)), .n = i % 13});
      if (i % 10 == 0) t->DeleteRecord();
    }
    t->FlushToDisk();
    const std::string base = name.substr(0, name.size() - 4);
    const std::string copy = Path(exclusive ? "CX" : "CS");
    for (const char* ext : {".DAT", ".IDX"}) {
      std::filesystem::copy_file(base + ext, copy + ext,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    auto c = OpenTable(copy + ".DAT");
    EXPECT_EQ(c->Header().NextRecord(), t->Header().NextRecord());
    EXPECT_EQ(c->IndexFile().RecordCount(), t->IndexFile().RecordCount());
    const auto rc = Records(*c), rt = Records(*t);
    ASSERT_EQ(rc.size(), rt.size());
    for (std::size_t i = 0; i < rc.size(); ++i) ASSERT_TRUE(rc[i] == rt[i]) << "record " << i + 1;
    EXPECT_EQ(FilteredIds(*c, Binary(Op::kLess, FieldRef(*c, "N"), NewIntegerConstant(5))),
              FilteredIds(*t, Binary(Op::kLess, FieldRef(*t, "N"), NewIntegerConstant(5))));
    EXPECT_EQ(FilteredIds(*c, Prefix(Op::kEqual, FieldRef(*c, "S"), "c")),
              FilteredIds(*t, Prefix(Op::kEqual, FieldRef(*t, "S"), "c")));
  }
}

// A read-only table has nothing to write: FlushToDisk does nothing and
// raises nothing.
TEST_F(DataFilterFlush, FlushToDiskOfAClosedOrReadOnlyTableDoesNothing) {
  Create(Path("R.DAT"), FilterTableDefinition(false));
  TDataFile closed;
  EXPECT_EQ(CodeOf([&] { closed.FlushToDisk(); }), 0);
  auto t = std::make_unique<TDataFile>();
  t->SetFileName(Path("R.DAT"));
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(CodeOf([&] { t->FlushToDisk(); }), 0);
}

class PasswordRequest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    DataTableDefinition def = FilterTableDefinition(false);
    def.encrypted = true;
    def.password = "Secret";
    Create(Path("P.DAT"), def);
    ASSERT_FALSE(CurrentSession()->HasPassword("Secret"));
  }
  // Opens with a callback that does step(call number) and answers its
  // result; never more than 1,000 calls, so a loop that does not end
  // fails the test instead of hanging it.
  int OpenWith(std::function<bool(int)> step, bool with_callback = true) {
    TDataFile t;
    t.SetFileName(Path("P.DAT"));
    t.SetExclusive(true);
    if (with_callback) {
      t.SetPasswordCallback([&] {
        ++calls;
        return calls <= 1000 && step(calls);
      });
    }
    return CodeOf([&] { t.Open(); });
  }
  int calls = 0;
};

TEST_F(PasswordRequest, EndsForEveryKindOfCallback) {
  auto add = [](const std::function<std::string(int)>& password, bool again) {
    return [=](int n) {
      CurrentSession()->AddPassword(password(n));
      return again;
    };
  };
  const struct {
    const char* what;
    std::function<bool(int)> step;  // empty: no callback
    int code, calls;
  } cases[] = {
      {"no callback", nullptr, 10498, 0},
      {"the callback gives up", [](int) { return false; }, 10498, 1},
      {"again without a new password", [](int) { return true; }, 10498, 1},
      {"a wrong password every time", add([](int n) { return "wrong" + std::to_string(n); }, true), 10498,
       TDataFile::kMaxPasswordRequests},
      {"wrong, then right", add([](int n) { return n == 1 ? "secret" : "Secret"; }, true), 0, 2},
      {"right at once", add([](int) { return "Secret"; }, true), 0, 1},
      {"right, but then gives up", add([](int) { return "Secret"; }, false), 10498, 1},
  };
  for (const auto& c : cases) {
    CurrentSession()->RemoveAllPasswords();
    calls = 0;
    EXPECT_EQ(OpenWith(c.step, c.step != nullptr), c.code) << c.what;
    EXPECT_EQ(calls, c.calls) << c.what;
  }
  CurrentSession()->AddPassword("Secret");  // in the session: never asked
  calls = 0;
  EXPECT_EQ(OpenWith([](int) { return false; }), 0);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace storage::filtertest
