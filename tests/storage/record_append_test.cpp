// TDataFile::RecordAppender against InsertRecord: the same records given
// to both, one table filled each way, must leave the same files (the change
// counters and the header's write time apart) that the independent
// checkers pass; a refused record changes nothing, and a fill that fails
// leaves the table empty.
#include <cstring>

#include "data_file_test_support.h"
#include "storage/fault_injection.h"

namespace storage::datatest {
namespace {

class RecordAppendTest : public DataFileTestBase {
 protected:
  // id, v, name: name ascends with the row (keys that go to the end of
  // their index), v does not (keys that go anywhere).
  static std::vector<std::byte> Row(TDataFile& t, std::int32_t i) {
    std::vector<std::byte> rec(t.GetRecordBufferSize());
    t.ApplyDefaultValues(rec);
    const std::int32_t v = (i * 37) % 101;
    char name[32];
    std::snprintf(name, sizeof name, "n%06d", i);
    t.SetFieldValue(false, 1, false, &i, rec);
    if (i % 9 != 0) t.SetFieldValue(false, 2, false, &v, rec);
    t.SetFieldValue(false, 3, false, name, rec);
    return rec;
  }
};

// Equal files but for bytes [from, to) of the headers: the change counter
// and the data header's write time.
void ExpectSameFiles(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                     std::initializer_list<std::pair<std::size_t, std::size_t>> skip) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    bool skipped = false;
    for (const auto& [from, to] : skip) skipped = skipped || (i >= from && i < to);
    if (!skipped && a[i] != b[i]) {
      ADD_FAILURE() << "first difference at byte " << i;
      return;
    }
  }
}

TEST_F(RecordAppendTest, FillsTheFilesInsertRecordWouldFill) {
  struct Case {
    const char* name;
    bool primary;    // a primary key on id, and with it "Sys Deleted"
    bool encrypted;
    bool unique_name;
    int rows;
  };
  // 3,000 names of 106-byte keys make a tree of three levels.
  const Case cases[] = {
      {"result", false, false, false, 3000},
      {"keyed", true, false, true, 3000},
      {"scrambled", true, true, false, 700},
      {"none", false, false, false, 0},
  };
  CurrentSession()->AddPassword("pw");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DataTableDefinition def = Definition({Field(1, "id", FieldType::kInteger),
                                          Field(2, "v", FieldType::kInteger),
                                          Field(3, "name", FieldType::kString, 100)},
                                         {});
    if (c.primary) {
      def.primary = Index("", {1});
      def.allow_empty_primary = false;
    }
    def.encrypted = c.encrypted;
    def.password = c.encrypted ? "pw" : "";
    def.secondary = {Index("ByV", {2}), Index("ByName", {3}, c.unique_name)};
    const std::string one = Path(std::string(c.name) + "_1"), two = Path(std::string(c.name) + "_2");
    Create(one, def);
    Create(two, def);
    {
      auto a = OpenTable(one);
      auto b = OpenTable(two);
      TDataFile::RecordAppender fill(*b);
      for (std::int32_t i = 1; i <= c.rows; ++i) {
        std::vector<std::byte> ra = Row(*a, i), rb = Row(*b, i);
        a->InsertRecord(ra);
        fill.Append(rb);
        // The caller's record gets the ID it was given, as in an insert.
        EXPECT_EQ(TDataFile::GetRecordID(ra), TDataFile::GetRecordID(rb));
      }
      fill.Finish();
      EXPECT_EQ(b->RecordCount(), static_cast<std::uint32_t>(c.rows));
      // The cursor stands before the first record, in the index it was in.
      std::vector<std::byte> first(b->GetRecordBufferSize());
      if (c.rows > 0) {
        ASSERT_EQ(b->ReadNextRecord(first), 0);
        EXPECT_EQ(TDataFile::GetRecordID(first), 1u);
      }
    }
    const auto dat_a = ReadBytes(one + ".DAT"), dat_b = ReadBytes(two + ".DAT");
    ExpectSameFiles(dat_a, dat_b, {{kDhCounter, kDhCounter + 4}, {kDhUpdateTime, kDhUpdateTime + 8}});
    const auto idx_a = ReadBytes(one + ".IDX"), idx_b = ReadBytes(two + ".IDX");
    // A scrambled header scrambles its counter into the bytes after it.
    ExpectSameFiles(idx_a, idx_b, {{0, c.encrypted ? kIndexBlockSize : 4}});
    const auto check = RunTool("tablecheck.py", two + ".DAT");
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

// A record a check refuses leaves the fill as it was, as InsertRecord
// leaves the table; a fill that breaks off leaves the table empty.
TEST_F(RecordAppendTest, RefusedRecordsAndBrokenFills) {
  DataTableDefinition def = Definition({Field(1, "id", FieldType::kInteger),
                                        Field(2, "v", FieldType::kInteger),
                                        Field(3, "name", FieldType::kString, 100)},
                                       {1});
  def.secondary = {Index("ByName", {3}, true)};
  def.fields[1].MinValue.Assign("0");
  Create(Path("a"), def);
  Create(Path("b"), def);
  {
    auto a = OpenTable(Path("a"));
    auto b = OpenTable(Path("b"));
    TDataFile::RecordAppender fill(*b);
    for (std::int32_t i = 1; i <= 300; ++i) {
      std::vector<std::byte> ra = Row(*a, i), rb = Row(*b, i);
      const std::int32_t negative = -1;
      if (i % 50 == 0) {  // a duplicate name
        std::vector<std::byte> dup = Row(*a, i - 1);
        std::memcpy(ra.data() + a->GetFieldDescriptor(false, 3).Offset,
                    dup.data() + a->GetFieldDescriptor(false, 3).Offset, 102);
        std::memcpy(rb.data() + b->GetFieldDescriptor(false, 3).Offset,
                    dup.data() + b->GetFieldDescriptor(false, 3).Offset, 102);
      } else if (i % 70 == 0) {  // below the minimum
        a->SetFieldValue(false, 2, false, &negative, ra);
        b->SetFieldValue(false, 2, false, &negative, rb);
      }
      const int ca = CodeOf([&] { a->InsertRecord(ra); });
      const int cb = CodeOf([&] { fill.Append(rb); });
      EXPECT_EQ(ca, cb) << i;
      EXPECT_EQ(cb, i % 50 == 0 ? 9729 : i % 70 == 0 ? 9730 : 0) << i;
    }
    fill.Finish();
  }
  ExpectSameFiles(ReadBytes(Path("a.DAT")), ReadBytes(Path("b.DAT")),
                  {{kDhCounter, kDhCounter + 4}, {kDhUpdateTime, kDhUpdateTime + 8}});
  ExpectSameFiles(ReadBytes(Path("a.IDX")), ReadBytes(Path("b.IDX")), {{0, 4}});

  // A write that fails in the middle of the fill (the first block of
  // records): the fill is given up and the table is empty again.
  Create(Path("c"), def);
  {
    auto c = OpenTable(Path("c"));
    ArmFault(FaultSite::kWrite, 1);
    EXPECT_EQ(CodeOf([&] {
                TDataFile::RecordAppender fill(*c);
                for (std::int32_t i = 1; i <= 2000; ++i) {
                  std::vector<std::byte> r = Row(*c, i);
                  fill.Append(r);
                }
                fill.Finish();
              }),
              9218);
    DisarmFault();
    EXPECT_FALSE(c->Failed());
    EXPECT_EQ(c->RecordCount(), 0u);
    EXPECT_EQ(c->PhysicalRecordCount(), 0u);
    // Usable again: a fill from the start.
    TDataFile::RecordAppender fill(*c);
    std::vector<std::byte> r = Row(*c, 1);
    fill.Append(r);
    fill.Finish();
    EXPECT_EQ(c->RecordCount(), 1u);
  }
  const auto check = RunTool("tablecheck.py", Path("c.DAT"));
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace storage::datatest
