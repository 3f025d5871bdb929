// Searches and values of the table component: Locate by every path equals
// a scan, Lookup, key searches, a master table driving a detail range, a
// record at the engine's size limit with calculated fields, BCD values;
// ranges on a descending index, bookmarks of another size or missing, a
// bookmark of a record whose key moved, a refused index switch, record
// numbers at the ends, emptying an open table.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "tests/common/flat_chain.h"
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
  // The values of field in the table's order, from its first record.
  static std::vector<std::string> Column(TTolmidTable& t, const std::string& field) {
    std::vector<std::string> v;
    for (t.First(); !t.Eof(); t.Next()) v.push_back(t.FieldByName(field)->AsString());
    return v;
  }
};

// Filter texts that are long flat chains (201 OR terms, 5,000 and 10,000
// AND terms, past a 16-bit buffer) keep the records a scan keeps, through
// the primary index and without one.
TEST_F(TableSearch, LongFilterChainsKeepWhatAScanKeeps) {
  TTolmidTable* t = MakePeople(40);
  const auto chain = testsupport::FlatChain;
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
  // Through the table's own index: a missing key is not the nearest record.
  EXPECT_TRUE(t->Lookup("ID", {Variant(500)}, "City").IsNull());
  EXPECT_EQ(t->Lookup("ID", {Variant(3)}, "City").AsString(), "city2");
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

// A detail table follows its master's current record through a range on
// its index; a new detail record takes the link fields from the master. A
// link naming more fields than the detail's index is refused, not cut to
// the index's fields.
TEST_F(TableSearch, DetailFollowsItsMaster) {
  TTolmidTable* cats = CreateTable("cats.dat", {{"Cat", TFieldType::ftString, 10, true}, {"Sub", TFieldType::ftInteger}},
                                   {{"", "Cat", kPrimary}});
  TTolmidTable* items = CreateTable("items.dat",
                                    {{"ID", TFieldType::ftAutoInc, 0, true},
                                     {"Cat", TFieldType::ftString, 10},
                                     {"Sub", TFieldType::ftInteger},
                                     {"Num", TFieldType::ftInteger}},
                                    {{"", "ID", kPrimary}, {"ByCat", "Cat", {}}, {"ByCatSub", "Cat;Sub", {}}});
  cats->Open();
  items->Open();
  const std::map<std::string, std::vector<std::string>> nums = {
      {"a", {"1", "2", "3"}}, {"b", {}}, {"c", {"4"}}, {"d", {"5", "6"}}};
  for (const auto& [cat, list] : nums) {
    cats->AppendRecord({Variant(cat), Variant(1)});
    for (const std::string& n : list) items->AppendRecord({Variant(), Variant(cat), Variant(std::stoi(n) % 2), Variant(std::stoi(n))});
  }
  auto* source = new fw::TDataSource(owner_.get());
  source->SetDataSet(cats);
  items->SetIndexName("ByCat");
  items->SetMasterSource(source);
  items->SetMasterFields("Cat");
  for (cats->First(); !cats->Eof(); cats->Next()) {
    const std::string cat = cats->FieldByName("Cat")->AsString();
    EXPECT_EQ(Column(*items, "Num"), nums.at(cat)) << cat;
  }
  ASSERT_TRUE(cats->Locate("Cat", {Variant("b")}, {}));
  items->Append();
  EXPECT_EQ(items->FieldByName("Cat")->AsString(), "b");
  items->FieldByName("Num")->SetAsInteger(7);
  items->Post();
  EXPECT_EQ(Column(*items, "Num"), std::vector<std::string>{"7"});
  items->SetMasterFields("");
  EXPECT_EQ(items->RecordCount(), 7);

  cats->First();
  EXPECT_EQ(ErrorOf([&] { items->SetMasterFields("Cat;Sub"); }), "Field index out of range");
  EXPECT_EQ(ErrorOf([&] { items->Append(); }), "Field index out of range");
  EXPECT_EQ(items->State(), fw::TDataSetState::dsBrowse);
  items->SetIndexName("ByCatSub");
  EXPECT_EQ(Column(*items, "Num"), (std::vector<std::string>{"1", "3"}));
  items->Append();
  EXPECT_EQ(items->FieldByName("Sub")->AsInteger(), 1);
  items->Cancel();
}

// On a descending index a range runs from its higher value down to its
// lower one; an end left out reaches to that end of the index.
TEST_F(TableSearch, RangesOnADescendingIndex) {
  TTolmidTable* t = CreateTable("desc.dat", {{"ID", TFieldType::ftAutoInc, 0, true}, {"Num", TFieldType::ftInteger}},
                                {{"", "ID", kPrimary}, {"ByNumDesc", "Num", {fw::TIndexOption::ixDescending}}});
  t->Open();
  for (int n : {3, 9, 1, 7, 5, 7}) t->AppendRecord({Variant(), Variant(n)});
  t->SetIndexName("ByNumDesc");
  using V = std::vector<std::string>;
  const struct {
    std::optional<int> start, end;
    V want;
  } cases[] = {
      {7, 3, {"7", "7", "5", "3"}},
      {std::nullopt, 5, {"9", "7", "7", "5"}},
      {5, std::nullopt, {"5", "3", "1"}},
      {3, 7, {}},
      {std::nullopt, std::nullopt, {"9", "7", "7", "5", "3", "1"}},
      {9, 9, {"9"}},
  };
  auto set_end = [&](const std::optional<int>& value) {
    if (value) t->FieldByName("Num")->SetAsInteger(*value);
    t->Post();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.start.value_or(-1)) + ".." + std::to_string(c.end.value_or(-1)));
    t->SetRangeStart();
    set_end(c.start);
    t->SetRangeEnd();
    set_end(c.end);
    t->ApplyRange();
    EXPECT_EQ(Column(*t, "Num"), c.want);
  }
  // A lookup searches only what the range lets through, though its field
  // has an index of its own.
  t->SetIndexName("");
  t->SetRange({Variant(1)}, {Variant(3)});
  EXPECT_EQ(t->Lookup("Num", {Variant(9)}, "ID").AsInteger(), 2);
  EXPECT_TRUE(t->Lookup("Num", {Variant(5)}, "ID").IsNull());
  EXPECT_EQ(t->LookupCursor(), nullptr);
}

// A bookmark is the current index's key and the record number: one of
// another size (taken on another index, or cut) is refused, never read
// past its end or as a key of this index.
TEST_F(TableSearch, BookmarksOfAnotherSizeAreRefused) {
  TTolmidTable* t = MakePeople(30);
  t->First();
  t->Next();
  const fw::TBookmark on_primary = t->GetBookmark();
  t->SetIndexName("ByCode");
  t->First();
  const fw::TBookmark on_code = t->GetBookmark();
  const std::string code = t->FieldByName("Code")->AsString();
  ASSERT_NE(on_primary.size(), on_code.size());
  const fw::TBookmark marks[] = {on_primary, on_code.substr(0, on_code.size() - 1), "x", on_code + "x"};
  t->Last();
  for (const fw::TBookmark& b : marks) {
    const std::string refusal = "Bookmark of " + std::to_string(b.size()) +
                                " bytes does not fit this dataset, whose bookmarks have " +
                                std::to_string(on_code.size()) + " bytes (taken on another index or dataset)";
    EXPECT_EQ(ErrorOf([&] { t->GotoBookmark(b); }), refusal);
    EXPECT_FALSE(t->BookmarkValid(b));
    EXPECT_EQ(ErrorOf([&] { t->CompareBookmarks(b, on_code); }), refusal);
    EXPECT_EQ(ErrorOf([&] { t->CompareBookmarks(on_code, b); }), refusal);
    EXPECT_TRUE(t->Eof()) << "a refused bookmark moves nothing";
  }
  EXPECT_TRUE(t->BookmarkValid(on_code));
  t->GotoBookmark(on_code);
  EXPECT_EQ(t->FieldByName("Code")->AsString(), code);
  EXPECT_EQ(t->CompareBookmarks(on_code, t->GetBookmark()), 0);
  // A missing bookmark sorts after a present one.
  EXPECT_EQ(t->CompareBookmarks(fw::TBookmark(), on_code), 1);
  EXPECT_EQ(t->CompareBookmarks(on_code, fw::TBookmark()), -1);
  EXPECT_EQ(t->CompareBookmarks(fw::TBookmark(), fw::TBookmark()), 0);
}

// A bookmark names its record: once the record's key has been changed
// and posted, by this table or by another cursor, the bookmark finds the
// record at its new key. The record is the last one of the file (ID 30 in
// slot 30), the edge of the slots a bookmark's record may be looked for
// in.
TEST_F(TableSearch, ABookmarkFindsItsRecordAtItsNewKey) {
  TTolmidTable* t = MakePeople(30);
  t->SetIndexName("ByCode");
  for (const char* code : {"ZZZ", "AAA"}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(t->Locate("ID", {Variant(30)}, {}));
    const fw::TBookmark mark = t->GetBookmark();
    if (code[0] == 'Z') {
      t->Edit();
      t->FieldByName("Code")->SetAsString(code);
      t->Post();
    } else {
      TTolmidTable* other = NewTable("people.dat");
      other->Open();
      ASSERT_TRUE(other->Locate("ID", {Variant(30)}, {}));
      other->Edit();
      other->FieldByName("Code")->SetAsString(code);
      other->Post();
      other->Close();
    }
    t->First();
    t->Next();
    EXPECT_TRUE(t->BookmarkValid(mark));
    t->GotoBookmark(mark);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 30);
    EXPECT_EQ(t->FieldByName("Code")->AsString(), code);
  }
}

// An index name the engine does not know is refused, and the table stays on
// the index it had, with its range and its record.
TEST_F(TableSearch, RefusedIndexSwitchKeepsIndexRangeAndRecord) {
  TTolmidTable* t = MakePeople(60);
  for (const char* index : {"ByCode", ""}) {
    SCOPED_TRACE(index);
    t->SetIndexName(index);
    if (*index != '\0')
      t->SetRange({Variant("B")}, {Variant("C9")});
    else
      t->SetRange({Variant(10)}, {Variant(20)});
    const std::vector<std::string> view = Column(*t, "Code");
    t->First();
    t->MoveBy(2);
    const std::string here = t->FieldByName("Code")->AsString();
    EXPECT_EQ(CodeOf([&] { t->SetIndexName("NoSuch"); }), 10022);
    EXPECT_EQ(t->IndexName(), index);
    EXPECT_EQ(t->FieldByName("Code")->AsString(), here);
    t->Next();
    t->Prior();
    EXPECT_EQ(t->FieldByName("Code")->AsString(), here);
    EXPECT_EQ(Column(*t, "Code"), view);
    EXPECT_TRUE(t->FindKey({*index != '\0' ? Variant(here) : Variant(15)}));
    t->CancelRange();
    EXPECT_EQ(t->RecordCount(), 60);
  }
  t->SetIndexName("ByCode");
  EXPECT_EQ(CodeOf([&] { t->SetIndexName("NoSuch"); }), 10022);
  t->SetRange({Variant("Z0")}, {Variant("Z1")});
  EXPECT_EQ(Column(*t, "Code"), (std::vector<std::string>{"z0", "Z1"}));
}

// Record numbers at the first and the last record, and a record number one
// past the last, with and without a filter.
TEST_F(TableSearch, RecordNumbersAtTheEnds) {
  TTolmidTable* t = MakePeople(6);
  t->SetFilter("City <> 'city2'");
  for (const bool filtered : {false, true}) {
    SCOPED_TRACE(filtered);
    t->SetFiltered(filtered);
    const std::vector<std::string> codes = Column(*t, "Code");
    const int n = static_cast<int>(codes.size());
    const struct {
      int set;
      int rec_no;
      bool eof;
    } cases[] = {{n, n, false}, {1, 1, false}, {n + 1, n, false}, {n, n, false}, {1, 1, false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.set);
      t->SetRecNo(c.set);
      EXPECT_EQ(t->RecNo(), c.rec_no);
      EXPECT_EQ(t->FieldByName("Code")->AsString(), codes[static_cast<std::size_t>(c.rec_no - 1)]);
      t->Next();
      EXPECT_EQ(t->Eof(), c.rec_no == n);
    }
  }
}

// Emptying an open table leaves no old row on show; a read-only field
// refuses a value.
TEST_F(TableSearch, EmptiedTableAndReadOnlyField) {
  TTolmidTable* t = MakePeople(5);
  t->Close();
  t->SetExclusive(true);  // emptying needs the table to itself
  t->Open();
  t->FieldByName("City")->SetReadOnly(true);
  t->Edit();
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("City")->SetAsString("x"); }), "Field 'City' cannot be modified");
  t->Cancel();
  EXPECT_EQ(t->FieldByName("City")->AsString(), "city0");
  t->EmptyTable();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_TRUE(t->Eof() && t->Bof());
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_TRUE(t->FieldByName("Code")->IsNull());
  t->AppendRecord({Variant(), Variant("new")});
  EXPECT_EQ(Column(*t, "Code"), std::vector<std::string>{"new"});
}

}  // namespace
}  // namespace dataset::dstest
