// Record operations: field values, defaults, checks, keys in every index,
// insert, modify and delete, slot reuse, and refused writes leaving
// everything as it was.
#include <gtest/gtest.h>

#include "storage/index_file.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::AutoInc;
using datatest::Field;
using datatest::Index;

class RecordOpsTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary), Name string[20], Qty small integer (minimum 0,
  // maximum 100), Flag boolean, Code string[8] required; secondary
  // indexes "ByName" (case-insensitive) and "UCode" (unique).
  std::unique_ptr<TDataFile> MakeTable(bool primary = true, const std::string& name = "t") {
    std::vector<TFieldDescriptor> f = {
        Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 20),
        Field(3, "Qty", FieldType::kSmallInt), Field(4, "Flag", FieldType::kBoolean),
        Field(5, "Code", FieldType::kString, 8)};
    f[2].MinValue.Assign("0");
    f[2].MaxValue.Assign("100");
    f[4].Required = 1;
    DataTableDefinition def =
        primary ? Definition(f, {1}) : Definition(f, {});
    auto by_name = Index("ByName", {2});
    by_name.CaseInsensitive = 1;
    def.secondary = {by_name, Index("UCode", {5}, true)};
    Create(Path(name + ".dat"), def);
    return OpenTable(Path(name + ".dat"));
  }
  static Rec Make(TDataFile& t, std::int32_t id, const char* name, std::int16_t qty,
                  const char* code) {
    Rec r(t);
    r.Num<std::int32_t>(1, id).Str(2, std::string(name)).Num<std::int16_t>(3, qty).Str(5, std::string(code));
    return r;
  }
  std::vector<std::int32_t> Walk(TDataFile& t) {
    std::vector<std::int32_t> ids;
    EXPECT_EQ(t.MoveToBegin(), 0);
    Rec r(t);
    while (t.ReadNextRecord(r.span()) == 0) ids.push_back(*r.GetNum<std::int32_t>(1));
    return ids;
  }
};

TEST_F(RecordOpsTest, FieldValuesFollowTheirTypeRules) {
  auto t = MakeTable();
  Rec r(*t);
  // Blank and all-blank strings are null; trailing blanks go; long text is
  // cut to the declared size (and never written past it).
  r.Str(2, std::string("   "));
  EXPECT_FALSE(r.GetStr(2));
  r.Str(2, std::string("ab  "));
  EXPECT_EQ(r.GetStr(2), "ab");
  r.Str(2, std::string(400, 'x'));
  EXPECT_EQ(r.GetStr(2), std::string(20, 'x'));
  EXPECT_EQ(r.GetStr(5), std::nullopt);
  // A Boolean written as 0xFFFF is stored as 1.
  r.Num<std::uint16_t>(4, 0xFFFF);
  EXPECT_EQ(r.GetNum<std::uint16_t>(4), 1);
}

TEST_F(RecordOpsTest, AutoIncrementIsTheRecordIdAndNeverBlank) {
  DataTableDefinition def = Definition({AutoInc(1, "RecordNum"), Field(2, "Name", FieldType::kString, 10)});
  Create(Path("a.dat"), def);
  auto t = OpenTable(Path("a.dat"));
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < 5; ++i) {
    Rec r(*t);
    r.Str(2, "n" + std::to_string(i));
    r.Num<std::int32_t>(1, std::nullopt);  // nil: nothing changes
    t->InsertRecord(r.span());
    ids.push_back(r.Id());
    EXPECT_EQ(CurrentId(*t), r.Id());
    Rec back(*t);
    ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
    EXPECT_EQ(back.GetNum<std::uint32_t>(1), r.Id());
  }
  for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_GT(ids[i], ids[i - 1]);
  EXPECT_EQ(t->RecordCount(), 5u);
}

struct CheckCase {
  const char* what;
  std::optional<std::int16_t> qty;
  std::optional<std::string> code;
  int code_expected;
};

TEST_F(RecordOpsTest, ChecksRefuseBeforeAnythingChanges) {
  const CheckCase cases[] = {
      {"fits", 5, "A", 0},
      {"below minimum", -1, "B", 9730},
      {"null counts as zero: passes minimum 0", std::nullopt, "C", 0},
      {"above maximum", 101, "D", 9731},
      {"required blank", 5, std::nullopt, 9732},
      {"required all blanks", 5, "   ", 9732},
      {"duplicate unique code", 5, "A", 9729},
  };
  auto t = MakeTable();
  std::int32_t id = 1;
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = t->RecordCount();
    const auto physical = t->PhysicalRecordCount();
    Rec r(*t);
    r.Num<std::int32_t>(1, id++).Str(2, std::string("x")).Num<std::int16_t>(3, c.qty).Str(5, c.code);
    EXPECT_EQ(CodeOf([&] { t->InsertRecord(r.span()); }), c.code_expected);
    EXPECT_EQ(t->RecordCount(), before + (c.code_expected == 0 ? 1 : 0));
    EXPECT_EQ(t->PhysicalRecordCount(), physical + (c.code_expected == 0 ? 1 : 0));
  }
  // Duplicate primary key.
  Rec dup = Make(*t, 1, "y", 1, "Z");
  EXPECT_EQ(CodeOf([&] { t->InsertRecord(dup.span()); }), 9729);
  t->Close();
  auto rc = datatest::RunTool("idxcheck.py", Path("t.IDX"));
  EXPECT_EQ(rc.status, 0) << rc.output;
}

TEST_F(RecordOpsTest, KeysOrderEveryIndexAndFollowModifies) {
  auto t = MakeTable();
  const char* names[] = {"delta", "Alpha", "charlie", "bravo", "ALPHA"};
  for (int i = 0; i < 5; ++i) {
    Rec r = Make(*t, 10 - i, names[i], static_cast<std::int16_t>(i), ("C" + std::to_string(i)).c_str());
    t->InsertRecord(r.span());
  }
  EXPECT_EQ(Walk(*t), (std::vector<std::int32_t>{6, 7, 8, 9, 10}));
  t->SwitchToIndexByName("byname");
  // Case-insensitive; equal names ordered by record ID (Alpha first).
  EXPECT_EQ(Walk(*t), (std::vector<std::int32_t>{9, 6, 7, 8, 10}));
  // Modify "delta" (ID 10) to "aaa": it moves to the front of ByName.
  Rec key(*t);
  key.Str(2, std::string("delta"));
  ASSERT_TRUE(t->GotoKey(false, key.bytes.data(), 1, false, 0, {}));
  Rec cur(*t);
  ASSERT_EQ(t->ReadCurrentRecord(cur.span(), true), 0);
  cur.Str(2, std::string("aaa"));
  t->ModifyRecord(cur.span(), true);
  EXPECT_EQ(CurrentId(*t), cur.Id());
  EXPECT_EQ(t->GetRecordPosition(), 1u);
  EXPECT_EQ(Walk(*t), (std::vector<std::int32_t>{10, 9, 6, 7, 8}));
  // A modify to a duplicate unique code is refused and changes nothing.
  ASSERT_EQ(t->ReadCurrentRecord(cur.span(), false), 8706);  // after the walk
  EXPECT_EQ(t->MoveToBegin(), 0);
  ASSERT_EQ(t->ReadNextRecord(cur.span()), 0);
  cur.Str(5, std::string("C1"));
  EXPECT_EQ(CodeOf([&] { t->ModifyRecord(cur.span(), true); }), 9729);
  EXPECT_EQ(Walk(*t), (std::vector<std::int32_t>{10, 9, 6, 7, 8}));
  t->Close();
  auto rc = datatest::RunTool("idxcheck.py", Path("t.IDX"));
  EXPECT_EQ(rc.status, 0) << rc.output;
}

TEST_F(RecordOpsTest, DeleteFreesTheSlotForReuseOnlyWithAPrimaryIndex) {
  for (bool primary : {true, false}) {
    SCOPED_TRACE(primary ? "primary" : "natural");
    const std::string name = primary ? "p" : "n";
    auto t = MakeTable(primary, name);
    for (int i = 1; i <= 4; ++i) {
      Rec r = Make(*t, i, "n", 1, ("C" + std::to_string(i)).c_str());
      t->InsertRecord(r.span());
    }
    t->SwitchToIndex(0);
    t->SetRecordPosition(primary ? 2 : 2);
    Rec cur(*t);
    ASSERT_EQ(t->ReadCurrentRecord(cur.span(), false), 0);
    EXPECT_EQ(cur.GetNum<std::int32_t>(1), 2);
    t->DeleteRecord();
    EXPECT_EQ(t->RecordCount(), 3u);
    // The cursor stands on the record that followed.
    ASSERT_EQ(t->ReadCurrentRecord(cur.span(), false), 0);
    EXPECT_EQ(cur.GetNum<std::int32_t>(1), 3);
    Rec r = Make(*t, 9, "n", 1, "C9");
    t->InsertRecord(r.span());
    EXPECT_EQ(t->PhysicalRecordCount(), primary ? 4u : 5u);
    EXPECT_EQ(Walk(*t), primary ? (std::vector<std::int32_t>{1, 3, 4, 9})
                                : (std::vector<std::int32_t>{1, 3, 4, 9}));
    t->Close();
    auto rc = datatest::RunTool("idxcheck.py", Path(name + ".IDX"));
    EXPECT_EQ(rc.status, 0) << rc.output;
    auto dc = datatest::RunTool("datcheck.py", Path(name + ".dat"));
    EXPECT_EQ(dc.status, 0) << dc.output;
  }
}

TEST_F(RecordOpsTest, ModifyAndDeleteWithoutCurrentRecordAreRefused) {
  auto t = MakeTable();
  Rec r = Make(*t, 1, "n", 1, "C");
  EXPECT_EQ(CodeOf([&] { t->ModifyRecord(r.span(), true); }), 8710);
  EXPECT_EQ(CodeOf([&] { t->DeleteRecord(); }), 8710);
  EXPECT_EQ(t->RecordCount(), 0u);
}

}  // namespace
}  // namespace storage::rectest
