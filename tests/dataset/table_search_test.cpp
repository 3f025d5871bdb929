// Searches and values of the table component: Locate by every path equals
// a scan, Lookup, key searches, a master table driving a detail range, a
// record at the engine's size limit with calculated fields, BCD values.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::TLocateOption;
using fw::Variant;

class TableSearch : public DataSetTest {
 protected:
  // Unique Code (secondary index "ByCode"), City (no index), Num.
  TTolmidTable* MakePeople(int rows) {
    TTolmidTable* t = CreateTable("people.dat",
                                  {{"ID", TFieldType::ftAutoInc, 0, true},
                                   {"Code", TFieldType::ftString, 10},
                                   {"City", TFieldType::ftString, 10},
                                   {"Num", TFieldType::ftInteger}},
                                  {{"", "ID", kPrimary},
                                   {"ByCode", "Code", {fw::TIndexOption::ixCaseInsensitive, fw::TIndexOption::ixUnique}}});
    t->Open();
    std::mt19937 rng(5);
    for (int i = 0; i < rows; ++i) {
      // Codes unique without regard to case; cities unique for half.
      const std::string code = std::string(1, char('A' + i % 26)) + std::to_string(i / 26);
      const std::string city = i % 2 == 0 ? "city" + std::to_string(i) : "shared";
      t->AppendRecord({Variant(), Variant(i % 3 == 0 ? code : fw::LowerCase(code)), Variant(city),
                       Variant(static_cast<int>(rng() % 1000))});
    }
    return t;
  }
  // The ID of the first record in the current order for which match holds;
  // -1 when none.
  static int Scan(TTolmidTable& t, const std::function<bool()>& match) {
    t.First();
    while (!t.Eof()) {
      if (match()) return t.FieldByName("ID")->AsInteger();
      t.Next();
    }
    return -1;
  }
};

// Filter texts that are long flat chains (201 OR terms, 5,000 and 10,000
// AND terms, past a 16-bit buffer) keep the records a scan keeps, through
// the primary index and without one.
TEST_F(TableSearch, LongFilterChainsKeepWhatAScanKeeps) {
  TTolmidTable* t = MakePeople(40);
  auto chain = [](int n, const char* op, const std::function<std::string(int)>& term) {
    std::string out;
    for (int i = 0; i < n; ++i) out += (i ? op : "") + term(i);
    return out;
  };
  const struct {
    std::string text;
    std::function<bool(int id, const std::string& city, int num)> keep;
  } cases[] = {
      {chain(201, " OR ", [](int i) { return "ID = " + std::to_string(2 * i + 1); }),
       [](int id, const std::string&, int) { return id % 2 == 1; }},
      {chain(5000, " AND ", [](int i) { return "Num <> " + std::to_string(1000 + i); }) + " AND City = 'shared' OR ID < 4",
       [](int id, const std::string& city, int) { return city == "shared" || id < 4; }},
      {chain(10000, " AND ", [](int i) { return "ID <> " + std::to_string(2 * i + 2); }),
       [](int id, const std::string&, int) { return id % 2 == 1; }},
      {chain(10000, " AND ", [](int i) { return "Num <> " + std::to_string(i + 500); }),
       [](int, const std::string&, int num) { return num < 500; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    t->SetFiltered(false);
    std::vector<int> want, got;
    for (t->First(); !t->Eof(); t->Next()) {
      if (c.keep(t->FieldByName("ID")->AsInteger(), t->FieldByName("City")->AsString(),
                 t->FieldByName("Num")->AsInteger()))
        want.push_back(t->FieldByName("ID")->AsInteger());
    }
    t->SetFilter(c.text);
    t->SetFiltered(true);
    for (t->First(); !t->Eof(); t->Next()) got.push_back(t->FieldByName("ID")->AsInteger());
    EXPECT_EQ(got, want);
    EXPECT_FALSE(want.empty());
  }
  t->SetFiltered(false);
  t->SetFilter("");
}

TEST_F(TableSearch, LocateByEveryPathEqualsScan) {
  TTolmidTable* t = MakePeople(120);
  for (int i = 0; i < 120; i += 7) {
    const std::string code = std::string(1, char('a' + i % 26)) + std::to_string(i / 26);
    const std::string city = "city" + std::to_string(i);
    SCOPED_TRACE(code);
    // Secondary index field: a second cursor on "ByCode".
    const int want_code = Scan(*t, [&] { return fw::SameText(t->FieldByName("Code")->AsString(), code); });
    ASSERT_NE(want_code, -1);
    t->First();
    ASSERT_TRUE(t->Locate("Code", {Variant(code)}, {TLocateOption::loCaseInsensitive}));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), want_code);
    EXPECT_NE(t->LookupCursor(), nullptr);
    // A field without an index: a temporary filter.
    const int want_city = Scan(*t, [&] { return t->FieldByName("City")->AsString() == city; });
    t->Last();
    ASSERT_EQ(t->Locate("City", {Variant(city)}, {}), want_city != -1);
    EXPECT_EQ(t->LookupCursor(), nullptr);
    if (want_city != -1) {
      EXPECT_EQ(t->FieldByName("ID")->AsInteger(), want_city);
    }
  }
  // Several matches: the filter path finds the first in the current order.
  const int first_shared = Scan(*t, [&] { return t->FieldByName("City")->AsString() == "shared"; });
  t->Last();
  ASSERT_TRUE(t->Locate("City", {Variant("SHA")}, {TLocateOption::loCaseInsensitive, TLocateOption::loPartialKey}));
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), first_shared);
  // The same searches with the table on the other index: its own cursor.
  t->SetIndexName("ByCode");
  ASSERT_TRUE(t->Locate("Code", {Variant("C1")}, {TLocateOption::loCaseInsensitive}));
  EXPECT_EQ(Scan(*t, [&] { return t->FieldByName("Code")->AsString() == "c1"; }) , t->FieldByName("ID")->AsInteger());
  // A case-sensitive search must not take a value that differs in case
  // from a case-insensitive index.
  t->First();
  EXPECT_FALSE(t->Locate("Code", {Variant("C1")}, {}));
  EXPECT_TRUE(t->Locate("Code", {Variant("c1")}, {}));
  EXPECT_FALSE(t->Locate("Code", {Variant("zz9")}, {TLocateOption::loCaseInsensitive}));

  EXPECT_TRUE(t->Lookup("Code", {Variant("zz9")}, "City").IsNull());
  EXPECT_EQ(t->Lookup("Code", {Variant("D0")}, "City").AsString(), "shared");
  const Variant both = t->Lookup("Code", {Variant("e0")}, "City;Code");
  ASSERT_EQ(both.Items().size(), 2u);
  EXPECT_EQ(both.Items()[0].AsString(), "city4");

  // FindFirst and FindNext honour a filter that is not switched on, for
  // the search only.
  t->SetIndexName("");
  t->SetFilter("City = 'shared'");
  ASSERT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), first_shared);
  ASSERT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldByName("City")->AsString(), "shared");
  EXPECT_GT(t->FieldByName("ID")->AsInteger(), first_shared);
  EXPECT_EQ(t->RecordCount(), 120);
  t->SetFilter("");
  t->SetIndexName("ByCode");
  // Key searches on the case-insensitive index.
  EXPECT_TRUE(t->FindKey({Variant("Z3")}));
  EXPECT_EQ(t->FieldByName("Code")->AsString(), "z3");
  EXPECT_FALSE(t->FindKey({Variant("Z35")}));
  t->FindNearest({Variant("B25")});
  EXPECT_EQ(t->FieldByName("Code")->AsString(), "b3");
}

// A record near the engine's 65,535-byte limit, calculated fields, the info
// block and the largest bookmark: a buffer past 16-bit sizes.
TEST_F(TableSearch, RecordAtTheSizeLimitWithCalculatedFields) {
  TTolmidTable* t = NewTable("wide.dat");
  t->FieldDefs().Add("ID", TFieldType::ftAutoInc, 0, true);
  for (int i = 1; i <= 259; ++i) t->FieldDefs().Add("S" + std::to_string(i), TFieldType::ftString, 250);
  t->FieldDefs().Add("Last", TFieldType::ftString, 240);
  t->IndexDefs().Add("", "ID", kPrimary);
  t->IndexDefs().Add("ByLast", "Last", {});
  t->CreateTable();
  auto* last = new fw::TStringField(owner_.get());
  last->SetFieldName("Last");
  last->SetSize(240);
  last->SetDataSet(t);
  auto* s1 = new fw::TStringField(owner_.get());
  s1->SetFieldName("S1");
  s1->SetSize(250);
  s1->SetDataSet(t);
  auto* calc = new fw::TStringField(owner_.get());
  calc->SetFieldName("Calc");
  calc->SetSize(250);
  calc->SetFieldKind(fw::TFieldKind::fkCalculated);
  calc->SetDataSet(t);
  t->OnCalcFields = [&](fw::TDataSet&) { calc->SetAsString("<" + last->AsString().substr(0, 200) + ">"); };
  t->SetIndexName("ByLast");
  t->Open();
  ASSERT_GT(t->Handle()->GetRecordBufferSize(), 65000u);
  for (int r = 0; r < 5; ++r) {
    t->Append();
    last->SetAsString(std::string(240, char('e' - r)));
    s1->SetAsString(std::string(250, char('0' + r)));
    t->Post();
  }
  t->First();
  for (int r = 4; r >= 0; --r) {
    EXPECT_EQ(last->AsString(), std::string(240, char('e' - r)));
    EXPECT_EQ(s1->AsString(), std::string(250, char('0' + r)));
    EXPECT_EQ(calc->AsString(), "<" + std::string(200, char('e' - r)) + ">");
    const fw::TBookmark b = t->GetBookmark();
    t->Next();
    if (!t->Eof()) {
      t->GotoBookmark(b);
      EXPECT_EQ(s1->AsString(), std::string(250, char('0' + r)));
      t->Next();
    }
  }
}

TEST_F(TableSearch, BcdValuesReadBackAsStored) {
  TTolmidTable* t = CreateTable("money.dat",
                                {{"ID", TFieldType::ftAutoInc, 0, true}, {"Amount", TFieldType::ftBCD, 2}},
                                {{"", "ID", kPrimary}});
  t->Open();
  for (const char* v : {"12.5", "-0.01", "123456.78", "0.004"}) t->AppendRecord({Variant(), Variant(v)});
  t->First();
  for (const char* v : {"12.5", "-0.01", "123456.78", "0"}) {
    EXPECT_EQ(t->FieldByName("Amount")->AsString(), v);
    t->Next();
  }
}

}  // namespace
}  // namespace dataset::dstest
