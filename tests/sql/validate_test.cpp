// Validation against real tables: the result table's files checked by the
// independent checkers, where result tables go and when they disappear,
// hostile statements, source tables and their settings, column lookup.
// The messages and names of ordinary statements are in
// tests/data/sql/validate.test (validate_cases_test.cpp).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "storage/memory_file.h"
#include "validate_test_support.h"

namespace sql::vtest {
namespace {

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// A field descriptor as stored in a .DAT (position 1-based).
TFieldDescriptor StoredField(const std::vector<std::uint8_t>& dat, int position) {
  TFieldDescriptor f;
  std::memcpy(&f, dat.data() + 127 + 768 * (position - 1), sizeof f);
  return f;
}

// An index descriptor as stored in an .IDX header (slot 0 primary).
TIndexDescriptor StoredIndex(const std::vector<std::uint8_t>& idx, int slot) {
  TIndexDescriptor d;
  std::memcpy(&d, idx.data() + 14 + 120 * slot, sizeof d);
  return d;
}

std::string Repeat(const std::string& item, int n, const std::string& separator = ", ") {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i == 0 ? "" : separator) + item;
  return s;
}

class Validation : public ValidateTestBase {
 protected:
  // The one new .DAT in the directory.
  std::string OnlyNewTable() {
    std::string found;
    for (const std::string& n : NewFiles()) {
      if (n.size() > 4 && n.substr(n.size() - 4) == ".DAT") {
        EXPECT_TRUE(found.empty()) << "second table " << n;
        found = n;
      }
    }
    return found;
  }
};

// ---------------------------------------------------------------- result file

TEST_F(Validation, CannedResultTableOnDiskPassesTheCheckers) {
  std::string stem;
  {
    TDataQuery q;
    Setup(q);
    const Outcome r = Validate(
        q, "SELECT a, m, id, memo, SUM(b) AS total, AVG(c) FROM t GROUP BY a, m, id, memo "
           "ORDER BY a DESC, 2");
    // The memo column cannot be a key: GROUP BY over it is refused by the
    // data file. Group without it.
    EXPECT_EQ(r.code, 12292);
    EXPECT_TRUE(NewFiles().empty());
  }
  TDataQuery q;
  Setup(q);
  const Outcome r = Validate(q,
                             "SELECT a, m, id, memo, SUM(b) AS total, AVG(c) FROM t GROUP BY a, m, id "
                             "ORDER BY a DESC, 2");
  ASSERT_TRUE(r.ok) << r.code << " " << r.message;
  const std::string dat = OnlyNewTable();
  ASSERT_FALSE(dat.empty());
  stem = dat.substr(0, dat.size() - 4);
  // A temporary name: digits of the thread id and a counter.
  EXPECT_TRUE(std::regex_match(stem, std::regex("[0-9]+"))) << stem;
  EXPECT_EQ(q.ResultDataFile()->FileName().substr(q.ResultDataFile()->FileName().size() - dat.size()),
            dat);

  // The result is open exclusively: nobody else can open it.
  EXPECT_FALSE(Free(stem));

  const std::string path = dir_ + "/" + dat;
  const ToolResult check = RunTool("datcheck.py", path);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_TRUE(HasLine(check.output, "description Query Result Set")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "creator1 0")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "blob_block_size 512")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "encrypted 0")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "field_count 8")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "blob_count 1")) << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 1 Row___No type=6 sub=29 size=0 phys=4 offset=5 computed=0"))
      << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 2 a type=1 sub=0 size=20 phys=21 offset=9 computed=0"))
      << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 3 m type=8 sub=0 size=0 phys=8 offset=31 computed=0"))
      << check.output;
  // The source's auto-increment id is a plain integer in the result.
  EXPECT_TRUE(HasLine(check.output, "field 4 id type=6 sub=0 size=0 phys=4 offset=40 computed=0"))
      << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 5 memo type=3 sub=22 size=0 phys=4 offset=45 computed=0"))
      << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 6 total type=6 sub=0 size=0 phys=4 offset=50 computed=0"))
      << check.output;
  EXPECT_TRUE(
      HasLine(check.output, "field 7 Average Of c type=7 sub=0 size=0 phys=8 offset=55 computed=0"))
      << check.output;
  EXPECT_TRUE(
      HasLine(check.output, "field 8 Avg__Count type=6 sub=0 size=0 phys=4 offset=64 computed=0"))
      << check.output;

  // What the copy from the source must not carry: m is required with a
  // default of 1.5 in t, and decimals stay.
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  const TFieldDescriptor m = StoredField(bytes, 3);
  EXPECT_EQ(m.Required, 0);
  EXPECT_TRUE(m.DefaultValue.Empty());
  EXPECT_TRUE(m.MinValue.Empty());
  EXPECT_TRUE(m.MaxValue.Empty());
  EXPECT_EQ(m.Decimals, 2);
  EXPECT_EQ(+m.ExpressionRef, 0u);

  const std::string idx_path = dir_ + "/" + stem + ".IDX";
  const ToolResult idx = RunTool("idxcheck.py", idx_path);
  EXPECT_EQ(idx.status, 0) << idx.output;
  const std::vector<std::uint8_t> ibytes = ReadBytes(idx_path);
  ASSERT_GE(ibytes.size(), 4096u);
  EXPECT_EQ(ibytes[13], 2);     // two secondary indexes
  EXPECT_EQ(ibytes[3978], 1);   // no primary key: natural order
  const TIndexDescriptor order_by = StoredIndex(ibytes, 1);
  EXPECT_EQ(order_by.NameText(), "OrderBy");
  EXPECT_EQ(order_by.FieldCount, 2);
  EXPECT_EQ(+order_by.FieldNumbers[0], 2);
  EXPECT_EQ(+order_by.FieldNumbers[1], 3);
  EXPECT_EQ(order_by.FieldDescending[0], 1);
  EXPECT_EQ(order_by.FieldDescending[1], 0);
  EXPECT_EQ(order_by.Unique, 0);
  EXPECT_EQ(order_by.Descending, 0);
  EXPECT_EQ(order_by.CaseInsensitive, 0);
  EXPECT_EQ(+order_by.KeySize, 21 + 1 + 8 + 1 + 4);
  const TIndexDescriptor group_by = StoredIndex(ibytes, 2);
  EXPECT_EQ(group_by.NameText(), "GroupBy");
  EXPECT_EQ(group_by.FieldCount, 3);
  EXPECT_EQ(+group_by.FieldNumbers[0], 2);
  EXPECT_EQ(+group_by.FieldNumbers[1], 3);
  EXPECT_EQ(+group_by.FieldNumbers[2], 4);
  EXPECT_EQ(group_by.FieldDescending[0], 0);
  EXPECT_EQ(group_by.Unique, 0);

  // The dataset's view: the columns from 1, Row___No left out, the count
  // hidden.
  storage::TDataFile& result = *q.ResultDataFile();
  EXPECT_EQ(result.FieldCount(), 8);
  EXPECT_EQ(result.WorkingFieldCount(), 6);
  EXPECT_EQ(result.GetFieldDescriptor(true, 1).Name.View(), "a");
  EXPECT_EQ(+result.GetFieldDescriptor(true, 1).FieldNumber, 1);
  EXPECT_EQ(+result.GetFieldDescriptor(true, 1).Offset, 9);
  EXPECT_EQ(result.GetFieldDescriptor(true, 6).Name.View(), "Average Of c");
  result.ShowLastField();
  EXPECT_EQ(result.GetFieldDescriptor(true, 7).Name.View(), "Avg__Count");
  result.HideLastField();
  EXPECT_TRUE(result.IsOpen());
  EXPECT_TRUE(result.Exclusive());
  EXPECT_FALSE(result.InMemory());
}

TEST_F(Validation, TemporaryResultDisappearsWithTheQueryAndOnRepreparation) {
  {
    TDataQuery q;
    Setup(q);
    ASSERT_TRUE(Validate(q, "SELECT a FROM t").ok);
    const std::string first = OnlyNewTable();
    ASSERT_FALSE(first.empty());
    // A second preparation drops the first result before making its own
    // (which may take the freed name again).
    ASSERT_TRUE(Validate(q, "SELECT b FROM t ORDER BY b").ok);
    EXPECT_EQ(NewFiles().size(), 2u);  // .DAT and .IDX of the second
    const ToolResult check = RunTool("datcheck.py", dir_ + "/" + OnlyNewTable());
    EXPECT_TRUE(HasLine(check.output, "field 2 b type=6 sub=0 size=0 phys=4 offset=9 computed=0"))
        << check.output;
  }
  EXPECT_TRUE(NewFiles().empty());
  EXPECT_TRUE(AllFree());
}

TEST_F(Validation, IntoTablesStayAndGoWhereTheNameSays) {
  std::filesystem::create_directory(dir_ + "/sub");
  {
    TDataQuery q;
    Setup(q);
    ASSERT_TRUE(Validate(q, "SELECT a, c INTO r FROM t ORDER BY c").ok);
    TDataQuery q2;
    Setup(q2);
    const std::string sub = "'" + dir_ + "/sub/r2'";
    ASSERT_TRUE(Validate(q2, "SELECT DISTINCT a INTO " + sub + " FROM t").ok);
  }
  // Without a directory part the name went into the private directory.
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/r.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/r.IDX"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/sub/r2.DAT"));
  const ToolResult check = RunTool("datcheck.py", dir_ + "/r.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_TRUE(HasLine(check.output, "field 3 c type=7 sub=0 size=0 phys=8 offset=31 computed=0"))
      << check.output;
  EXPECT_EQ(RunTool("idxcheck.py", dir_ + "/r.IDX").status, 0);
  EXPECT_EQ(RunTool("datcheck.py", dir_ + "/sub/r2.DAT").status, 0);
  EXPECT_EQ(RunTool("idxcheck.py", dir_ + "/sub/r2.IDX").status, 0);
  EXPECT_TRUE(Free("r"));
  // An INTO table is an ordinary table that a later statement can read.
  TDataQuery q;
  Setup(q);
  const Outcome r = Validate(q, "SELECT * FROM r");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(DescribeResult(q),
            "result: canned\nfield 1 \"a\" type=1 size=20\nfield 2 \"c\" type=7\n");
}

TEST_F(Validation, InMemoryResultLeavesNoFile) {
  std::string name;
  {
    TDataQuery q;
    Setup(q, true);
    ASSERT_TRUE(Validate(q, "SELECT a, SUM(b) INTO MEMORY mem FROM t GROUP BY a").ok);
    ASSERT_NE(q.ResultDataFile(), nullptr);
    EXPECT_TRUE(q.ResultDataFile()->InMemory());
    EXPECT_FALSE(q.Flags().live);
    name = q.ResultDataFile()->FileName();
    EXPECT_TRUE(storage::CurrentSession()->MemoryFiles().MemoryFileExists(name));
    EXPECT_TRUE(NewFiles().empty());
  }
  EXPECT_TRUE(NewFiles().empty());
  // INTO MEMORY keeps the table in the session after the query.
  EXPECT_TRUE(storage::CurrentSession()->MemoryFiles().MemoryFileExists(name));
  storage::TDataFile kept;
  kept.SetInMemory(true);
  kept.SetFileName(name);
  kept.SetExclusive(true);
  kept.Open();
  EXPECT_EQ(kept.FieldCount(), 3);
  EXPECT_EQ(kept.GetFieldDescriptor(false, 1).Name.View(), "Row___No");
  EXPECT_EQ(kept.GetFieldDescriptor(false, 3).Name.View(), "Sum Of b");
}

TEST_F(Validation, LiveResultIsTheSourceOpenForWriting) {
  TDataQuery q;
  Setup(q, true);
  ASSERT_TRUE(Validate(q, "SELECT a, b * 2 AS twice FROM t WHERE b > 1 ORDER BY a").ok);
  ASSERT_TRUE(q.Flags().live);
  EXPECT_EQ(q.ResultDataFile(), nullptr);
  EXPECT_TRUE(NewFiles().empty());
  storage::TDataFile* live = q.LiveDataFile();
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live, q.Sources().Get(0)->data_file_.get());
  EXPECT_FALSE(live->ReadOnly());
  EXPECT_FALSE(live->Exclusive());
  EXPECT_EQ(q.Flags().live_index, 1);
  const TFieldDescriptor& twice = live->GetFieldDescriptor(true, 2);
  ASSERT_TRUE(twice.IsComputed());
  // The expression lives in the data file's registry; the node's column
  // was resolved to t's field b.
  const storage::TExpressionNode* tree = live->Expression(twice.ExpressionRef);
  ASSERT_NE(tree, nullptr);
  ASSERT_NE(tree->left, nullptr);
  EXPECT_EQ(tree->left->field_number, 3);
  EXPECT_EQ(+twice.Offset, live->RecordSize());
  // Other programs may still use the table.
  EXPECT_FALSE(Free("t"));
  storage::TDataFile other;
  other.SetFileName(dir_ + "/t");
  other.Open();
  EXPECT_TRUE(other.IsOpen());
}

TEST_F(Validation, SourcesOfACannedResultAreReadOnlyAndGetTheQuerySettings) {
  TDataQuery q;
  Setup(q);
  q.LockRetryCount = 3;
  q.LockWaitTime = 7;
  ASSERT_TRUE(Validate(q, "SELECT x.a, y.b FROM t x, t y").ok);
  ASSERT_EQ(q.Sources().Count(), 2);
  for (int i = 0; i < 2; ++i) {
    const TSourceDataFile& s = *q.Sources().Get(i);
    EXPECT_TRUE(s.data_file_->IsOpen());
    EXPECT_TRUE(s.data_file_->ReadOnly());
    EXPECT_FALSE(s.data_file_->Exclusive());
    EXPECT_EQ(s.data_file_->LockRetryCount(), 3);
    EXPECT_EQ(s.data_file_->LockWaitTime(), 7);
    EXPECT_EQ(s.data_file_->CurrentIndexNumber(), storage::kNoIndex);
    EXPECT_EQ(s.join_order_, i + 1);
    EXPECT_EQ(s.record_buffer_.size(), s.data_file_->GetRecordBufferSize());
  }
}

TEST_F(Validation, PasswordCallbackServesOnlyWhileSourcesOpen) {
  storage::DataTableDefinition def;
  def.fields = {Field(1, "k", FieldType::kInteger), Field(2, "secret", FieldType::kString, 10)};
  def.primary = Index("", {1}, {}, true);
  def.encrypted = true;
  def.password = "Hush";
  {
    storage::TDataFile file;
    file.SetFileName(dir_ + "/locked");
    file.SetExclusive(true);
    file.CreateDataTable(def);
  }
  baseline_ = Files();
  {
    // Without a callback the password is never given.
    TDataQuery q;
    Setup(q);
    const Outcome r = Validate(q, "SELECT secret FROM t, locked");
    EXPECT_EQ(r.code, 10498);
    EXPECT_TRUE(AllFree());
    EXPECT_TRUE(NewFiles().empty());
  }
  TDataQuery q;
  Setup(q);
  int calls = 0;
  q.SetPasswordCallback([&] {
    ++calls;
    storage::CurrentSession()->AddPassword("Hush");
    return true;
  });
  const Outcome r = Validate(q, "SELECT secret FROM locked");
  ASSERT_TRUE(r.ok) << r.code;
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(q.Sources().Get(0)->data_file_->RequestPassword());
  storage::CurrentSession()->RemovePassword("Hush");
}

// ---------------------------------------------------------------- hostile

struct HostileCase {
  std::string sql;
  int code;
  std::string message;  // checked when not empty
};

TEST_F(Validation, HostileStatementsFailCleanly) {
  const std::string many_a = Repeat("a", 1023);
  const std::string many_stars = Repeat("*", 114);  // 114 x 9 fields
  const std::vector<HostileCase> cases = {
      {"SELECT a FROM missing", 11010, ""},
      {"SELECT a FROM t, u, w, missing", 11010, ""},
      {"SELECT a FROM '" + dir_ + "/nodir/t'", 11010, ""},
      {"SELECT nothing FROM t, u, w, v", 11949,
       "Invalid column name 'nothing' or table correlation name '' specified in source columns"},
      {"SELECT w.a FROM t, u, w", 11949,
       "Invalid column name 'a' or table correlation name 'w' specified in source columns"},
      {"SELECT a FROM t x, u x", 11949, "Duplicate table correlation name 'x' found in source tables"},
      {"SELECT zz.* FROM t, u", 11949,
       "Invalid column name '*' or table correlation name 'zz' specified in source columns"},
      {"SELECT " + many_a + " FROM t", 11949,
       "Maximum number of columns (1022) in source columns exceeded"},
      {"SELECT " + Repeat("a", 5000) + " FROM missing", 11949,
       "Maximum number of columns (1022) in source columns exceeded"},
      {"SELECT " + many_stars + " FROM t", 11949,
       "Maximum number of columns (1022) in source columns exceeded"},
      {"SELECT a, " + Repeat("*", 200) + " FROM t, u", 11949,
       "Maximum number of columns (1022) in source columns exceeded"},
      // 300 columns of 250 characters do not fit a record.
      {"SELECT " + Repeat("name", 300) + " FROM u", 9477, ""},
      {"SELECT DISTINCT " + Repeat("name", 16) + " FROM u", 10026, ""},
      {"SELECT a FROM t ORDER BY " + Repeat("a", 500), 11949,
       "Maximum number of columns (16) in ORDER BY clause exceeded"},
      {"SELECT " + Repeat("b", 100, " + ") + " FROM t", 11949,
       "Source column expression exceeds maximum expression length of 255 characters"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.sql.substr(0, 120));
    {
      TDataQuery q;
      Setup(q);
      const Outcome r = Validate(q, c.sql);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.code, c.code) << r.message;
      if (!c.message.empty()) {
        EXPECT_EQ(r.message, c.message);
      }
      EXPECT_TRUE(AllFree());
      EXPECT_EQ(q.ResultDataFile(), nullptr);
      for (std::int32_t i = 0; i < q.Sources().Count(); ++i) {
        EXPECT_FALSE(q.Sources().Get(i)->data_file_->IsOpen());
      }
    }
    EXPECT_TRUE(NewFiles().empty()) << *NewFiles().begin();
    EXPECT_EQ(storage::CurrentSession()->MemoryFiles().Count(), 0u);
  }
}

// INTO naming a source table must not replace the table being read.
TEST_F(Validation, IntoASourceTableLeavesTheSourceIntact) {
  const std::vector<std::uint8_t> before = ReadBytes(dir_ + "/t.DAT");
  const std::vector<std::uint8_t> index_before = ReadBytes(dir_ + "/t.IDX");
  {
    TDataQuery q;
    Setup(q);
    const Outcome r = Validate(q, "SELECT a INTO t FROM t");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.code, 11949);
    EXPECT_TRUE(AllFree());
  }
  EXPECT_EQ(ReadBytes(dir_ + "/t.DAT"), before);
  EXPECT_EQ(ReadBytes(dir_ + "/t.IDX"), index_before);
  EXPECT_TRUE(NewFiles().empty());
}

// Many sources: either all open and the statement validates, or the
// process runs out of handles and everything opened so far is closed.
TEST_F(Validation, ManySourcesOpenOrFailCleanly) {
  std::string from;
  for (int i = 0; i < 300; ++i) from += (i == 0 ? "u u" : ", u u") + std::to_string(i);
  {
    TDataQuery q;
    Setup(q);
    const Outcome r = Validate(q, "SELECT u7.a, COUNT(*) FROM " + from + " GROUP BY 1");
    if (r.ok) {
      EXPECT_EQ(q.Columns().Get(0)->source_->correlation_name_, "u7");
      EXPECT_EQ(q.Sources().Count(), 300);
    } else {
      EXPECT_NE(r.code, 0);
      EXPECT_TRUE(AllFree());
    }
  }
  EXPECT_TRUE(AllFree());
  EXPECT_TRUE(NewFiles().empty());
}

// The same with too few handles for certain, in a child process: the
// statement fails part way through opening, and every table it opened is
// closed again at once.
TEST_F(Validation, RunningOutOfHandlesClosesWhatWasOpened) {
  std::string from;
  for (int i = 0; i < 300; ++i) from += (i == 0 ? "u u" : ", u u") + std::to_string(i);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    {
      // Raise one engine error first: the sanitizers' type checks read
      // files the first time they meet a class, which they could not do
      // once the handles are gone.
      TDataQuery warm;
      Setup(warm);
      if (Validate(warm, "SELECT a FROM missing").ok) _exit(9);
    }
    const rlimit limit{120, 120};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
    int status = 0;
    {
      TDataQuery q;
      Setup(q);
      const Outcome r = Validate(q, "SELECT a FROM " + from);
      if (r.ok || r.code == 11949) status = 11;
      for (std::int32_t i = 0; i < q.Sources().Count(); ++i) {
        if (q.Sources().Get(i)->data_file_->IsOpen()) status = 12;
      }
      if (status == 0 && !AllFree()) status = 13;
    }
    if (status == 0 && !NewFiles().empty()) status = 14;
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Validation, WidestResultFits) {
  // 1022 columns: 1023 fields with Row___No, 1024 with Avg__Count.
  TDataQuery q;
  Setup(q);
  const Outcome r = Validate(q, "SELECT AVG(b), " + Repeat("b", 1021) + " FROM t GROUP BY b");
  ASSERT_TRUE(r.ok) << r.code << " " << r.message;
  EXPECT_EQ(q.ResultDataFile()->FieldCount(), 1024);
  EXPECT_EQ(q.ResultDataFile()->WorkingFieldCount(), 1022);
  EXPECT_EQ(q.Columns().Get(1021)->result_name_, "b_1020");
  const ToolResult check = RunTool("datcheck.py", dir_ + "/" + OnlyNewTable());
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 2000);
}

// ---------------------------------------------------------------- lookups

TEST_F(Validation, FindSourceColumnAndTheResolver) {
  TDataQuery q;
  Setup(q);
  ASSERT_TRUE(Validate(q, "SELECT uid FROM t, u y, w").ok);
  int n = -1;
  // The last source with the field wins.
  const TSourceDataFile* s = q.FindSourceColumn("", "A", n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->correlation_name_, "y");
  EXPECT_EQ(n, 2);
  s = q.FindSourceColumn("T", "a", n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->correlation_name_, "t");
  EXPECT_EQ(n, 2);
  s = q.FindSourceColumn("", "*", n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->correlation_name_, "t");
  EXPECT_EQ(n, 0);
  s = q.FindSourceColumn("w", "", n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->correlation_name_, "w");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(q.FindSourceColumn("u", "a", n), nullptr);  // u is known as y
  EXPECT_EQ(q.FindSourceColumn("y", "x", n), nullptr);
  EXPECT_EQ(q.FindSourceColumn("", "nothing", n), nullptr);

  auto node = storage::NewFieldNode("M");
  ASSERT_TRUE(q.ResolveColumn(*node));
  EXPECT_EQ(node->field_number, 6);
  EXPECT_EQ(node->correlation_name.View(), "t");
  EXPECT_EQ(node->type, FieldType::kCurrency);
  EXPECT_EQ(node->size, 8);
  EXPECT_EQ(node->decimals, 2);
  EXPECT_EQ(node->reserved2, 1u);  // FROM sequence of t
  node = storage::NewFieldNode("name");
  node->correlation_name = "y";
  ASSERT_TRUE(q.ResolveColumn(*node));
  EXPECT_EQ(node->size, 251);
  EXPECT_EQ(node->reserved2, 2u);
  node = storage::NewFieldNode("id");
  ASSERT_TRUE(q.ResolveColumn(*node));
  EXPECT_EQ(node->subtype, 0);  // auto-increment is no expression subtype
  node = storage::NewFieldNode("*");
  EXPECT_FALSE(q.ResolveColumn(*node));
  EXPECT_EQ(q.Columns().Get(0)->source_, q.Sources().Get(1));
}

TEST_F(Validation, SelectStarFollowsFromOrderAfterARightJoin) {
  TDataQuery q;
  Setup(q);
  ASSERT_TRUE(Validate(q, "SELECT * FROM w RIGHT JOIN v ON w.x = v.AbcdefghijklmnopqrstuvwxyzAbc1").ok);
  EXPECT_EQ(q.Sources().Get(0)->correlation_name_, "v");
  ASSERT_EQ(q.Columns().Count(), 3);
  EXPECT_EQ(q.Columns().Get(0)->result_name_, "x");
  EXPECT_EQ(q.Columns().Get(0)->source_->correlation_name_, "w");
  EXPECT_EQ(q.Columns().Get(0)->field_number_, 2);
  EXPECT_EQ(q.Columns().Get(1)->result_name_, "AbcdefghijklmnopqrstuvwxyzAbc1");
  EXPECT_EQ(q.Columns().Get(2)->result_field_number_, 3);
}

TEST_F(Validation, CountStarCountsThroughTheFirstFieldOfItsTable) {
  TDataQuery q;
  Setup(q);
  ASSERT_TRUE(Validate(q, "SELECT COUNT(y.*) AS n, COUNT(*) FROM t x, u y").ok);
  const TResultDataField& c = *q.Columns().Get(0);
  EXPECT_EQ(c.source_->correlation_name_, "y");
  EXPECT_EQ(c.column_name_, "uid");
  EXPECT_EQ(c.field_number_, 1);
  EXPECT_EQ(c.result_name_, "n");
  const TResultDataField& d = *q.Columns().Get(1);
  EXPECT_EQ(d.source_->correlation_name_, "x");
  EXPECT_EQ(d.column_name_, "id");
  EXPECT_EQ(d.result_name_, "Count Of *");
}

// ---------------------------------------------------------------- naming

TEST(ResultNames, Suffixed) {
  const struct {
    std::string base;
    int k;
    std::string name;
  } cases[] = {
      {"a", 1, "a_1"},
      {"a", 12, "a_12"},
      {std::string(28, 'x'), 1, std::string(28, 'x') + "_1"},  // 30: fits
      {std::string(27, 'x') + "abc", 1, std::string(25, 'x') + "abc_1"},
      {std::string(29, 'x') + "z", 100, std::string(25, 'x') + "z_100"},
      {"Sum Of AbcdefghijklmnopqrstuvwxyzAbc2", 1, "cdefghijklmnopqrstuvwxyzAbc2_1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Suffixed(c.base, c.k), c.name) << c.base << " " << c.k;
    EXPECT_LE(Suffixed(c.base, c.k).size(), 30u);
  }
}

TEST(ResultNames, BaseByKindAliasAndExpression) {
  const struct {
    std::string column, alias;
    AggregateKind kind;
    std::string name;
  } cases[] = {
      {"", "", AggregateKind::kNone, "Expression"},
      {"", "", AggregateKind::kSum, "Sum Of Expr"},
      {"", "", AggregateKind::kMin, "Min Of Expr"},
      {"", "", AggregateKind::kMax, "Max Of Expr"},
      {"", "", AggregateKind::kAvg, "Average Of Expr"},
      {"", "", AggregateKind::kCount, "Count Of Expr"},
      {"b", "", AggregateKind::kNone, "b"},
      {"b", "", AggregateKind::kSum, "Sum Of b"},
      {"b", "", AggregateKind::kMin, "Min Of b"},
      {"b", "", AggregateKind::kMax, "Max Of b"},
      {"b", "", AggregateKind::kAvg, "Average Of b"},
      {"*", "", AggregateKind::kCount, "Count Of *"},
      {"b", "total", AggregateKind::kSum, "total"},
      {"", "x", AggregateKind::kNone, "x"},
      {"b", std::string(10, 'p') + std::string(30, 'q'), AggregateKind::kNone, std::string(30, 'q')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResultNameBase(c.column, c.alias, c.kind), c.name) << c.column << "/" << c.alias;
  }
}

TEST(ResultNames, UniqueAgainstTakenNames) {
  ResultNameSet taken;
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i) {
    names.push_back(UniqueResultName("a", taken));
    taken.Add(names.back());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a", "a_1", "a_2", "a_3"}));
  // An alias that took a suffixed name makes the counter skip it.
  ResultNameSet other;
  other.Add("x");
  other.Add("X_1");
  EXPECT_EQ(UniqueResultName("x", other), "x_2");
  // Names are compared as field names: 30 characters, trimmed, any case.
  ResultNameSet wide;
  wide.Add(std::string(30, 'n') + "tail one");
  EXPECT_TRUE(wide.Contains(std::string(30, 'N') + "tail two"));
  EXPECT_TRUE(wide.Contains(std::string(30, 'n')));
  wide.Add("  spaced  ");
  EXPECT_TRUE(wide.Contains("SPACED"));
  EXPECT_FALSE(wide.Contains("spaced_1"));
}

TEST(ResultIndexes, Match) {
  const TIndexDescriptor ab = ResultIndex("OrderBy", {2, 3});
  const struct {
    TIndexDescriptor existing, wanted;
    bool match;
  } cases[] = {
      {ab, ResultIndex("GroupBy", {2, 3}), true},
      {ab, ResultIndex("GroupBy", {3, 2}), false},
      {ab, ResultIndex("GroupBy", {2}), false},
      {ResultIndex("OrderBy", {2, 3}, {true, false}), ResultIndex("Distinct", {2, 3}), false},
      {ResultIndex("OrderBy", {2, 3}, {true, false}), ResultIndex("x", {2, 3}, {true, false}),
       true},
      {[] {
         auto d = ResultIndex("ByA", {2});
         d.CaseInsensitive = 1;
         return d;
       }(),
       ResultIndex("OrderBy", {2}), false},
      {[] {
         auto d = ResultIndex("ByA", {2});
         d.Descending = 1;
         return d;
       }(),
       ResultIndex("OrderBy", {2}), false},
      {[] {
         auto d = ResultIndex("ByA", {2});
         d.Unique = 1;
         d.KeySize = 21;
         return d;
       }(),
       ResultIndex("OrderBy", {2}), true},
      {TIndexDescriptor{}, ResultIndex("OrderBy", {2}), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IndexesMatch(c.existing, c.wanted), c.match)
        << IndexText(c.existing) << " vs " << IndexText(c.wanted);
  }
  // Only 16 key fields exist: more are not written past the descriptor.
  std::vector<std::uint16_t> many(40, 2);
  EXPECT_EQ(ResultIndex("x", many).FieldCount, 16);
}

}  // namespace
}  // namespace sql::vtest

namespace sql::vtest {
namespace {

// Random statements over the test tables: whatever validation decides, a
// statement that passes has uniquely named, consecutively numbered result
// columns and a sound result table, and one that fails leaves nothing open
// and no file behind.
TEST_F(Validation, RandomStatementsKeepTheInvariants) {
  std::mt19937 rng(20261206);
  auto pick = [&](const std::vector<std::string>& v) {
    return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
  };
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  const std::vector<std::string> columns = {"a", "b", "c", "d", "m", "s", "id", "flag", "uid",
                                            "name", "x.a", "y.a", "x.b", "y.b", "nothing", "*",
                                            "x.*", "y.*", "'b'", "b + 1", "a || 'z'", "UPPER(a)",
                                            "Row___No", "memo"};
  const std::vector<std::string> aggregates = {"SUM", "MIN", "MAX", "AVG", "COUNT"};
  const std::vector<std::string> aliases = {"", "", "", " AS a", " b", " AS \"Sum Of b\"",
                                            " AS Row___No", " AS q",
                                            " AS abcdefghijklmnopqrstuvwxyz0123456789"};
  const std::vector<std::string> sources = {"t x, u y", "t x JOIN u y ON x.a = y.a", "t x",
                                            "u y RIGHT JOIN t x ON y.b = x.b", "t x, t y"};
  int passed = 0;
  for (int round = 0; round < 400; ++round) {
    std::string sql = chance(15) ? "SELECT DISTINCT " : "SELECT ";
    const int items = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int i = 0; i < items; ++i) {
      std::string item = pick(columns);
      if (chance(25) && item.find('*') == std::string::npos) {
        item = pick(aggregates) + "(" + item + ")";
      } else if (chance(5)) {
        item = "COUNT(" + pick({"*", "x.*", "y.*"}) + ")";
      }
      sql += (i == 0 ? "" : ", ") + item + pick(aliases);
    }
    if (chance(10)) sql += " INTO MEMORY r" + std::to_string(round);
    const std::string from = pick(sources);
    sql += " FROM " + from;
    if (chance(30)) sql += " GROUP BY " + pick({"1", "2", "a", "x.a", "b", "q"});
    if (chance(40)) {
      sql += " ORDER BY " + pick({"1", "2", "3", "a", "x.b", "q", "b"}) + pick({"", " DESC"});
    }
    SCOPED_TRACE(sql);
    {
      TDataQuery q;
      Setup(q, chance(50));
      const Outcome r = Validate(q, sql);
      if (r.ok) {
        ++passed;
        ResultNameSet names;
        for (std::int32_t i = 0; i < q.Columns().Count(); ++i) {
          const TResultDataField& c = *q.Columns().Get(i);
          EXPECT_EQ(c.result_field_number_, i + 1);
          EXPECT_FALSE(names.Contains(c.result_name_)) << c.result_name_;
          names.Add(c.result_name_);
          if (!c.expression_) {
            ASSERT_NE(c.source_, nullptr);
            EXPECT_GE(c.field_number_, 1);
          }
        }
        storage::TDataFile* file = q.Flags().live ? q.LiveDataFile() : q.ResultDataFile();
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->WorkingFieldCount(), q.Columns().Count());
        if (!q.Flags().live && !q.Flags().in_memory_result && round % 8 == 0) {
          const ToolResult check = RunTool("datcheck.py", dir_ + "/" + OnlyNewTable());
          EXPECT_EQ(check.status, 0) << check.output;
        }
      } else {
        EXPECT_NE(r.code, 0);
        EXPECT_TRUE(AllFree());
        EXPECT_EQ(q.ResultDataFile(), nullptr);
      }
    }
    EXPECT_TRUE(AllFree());
    EXPECT_TRUE(NewFiles().empty());
  }
  // The generator must reach both outcomes often.
  EXPECT_GT(passed, 60);
  EXPECT_LT(passed, 340);
}

}  // namespace
}  // namespace sql::vtest
