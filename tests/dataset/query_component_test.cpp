// The query component: marker replacement, parameters bound by type against
// SQLite with the same value, SQL changes, and the stored parameter list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dataset/tolmid_query.h"
#include "framework/db/data_link.h"
#include "tests/common/sqlite_peer.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::Variant;

TEST(ParameterMarkers, ReplacedOutsideQuotesOnly) {
  struct Case {
    const char* sql;
    const char* engine;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"select * from t where a = :a", "select * from t where a = ?", {"a"}},
      {"select * from t where a = :a and b = ':b'", "select * from t where a = ? and b = ':b'", {"a"}},
      {"select * from t where a = :a or b = :a", "select * from t where a = ? or b = ?", {"a", "a"}},
      {"select '::' from t where x = a::b", "select '::' from t where x = a:b", {}},
      {"where n in (:p1,:p2);", "where n in (?,?);", {"p1", "p2"}},
      {"where n = :\"my param\" and m = :'q'", "where n = ? and m = ?", {"my param", "q"}},
      {"where t = \"a:b\" and u = :u\r\nand v = :v)", "where t = \"a:b\" and u = ?\r\nand v = ?)", {"u", "v"}},
      {"where t = 'it''s' and u = :u", "where t = 'it''s' and u = ?", {"u"}},
      {"a : b and c = :", "a : b and c = :", {}},
  };
  for (const Case& c : cases) {
    TTolmidParams params;
    EXPECT_EQ(ReplaceParameterMarkers(c.sql, &params), c.engine) << c.sql;
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) names.push_back(params.At(i).Name());
    EXPECT_EQ(names, c.names) << c.sql;
    EXPECT_EQ(ReplaceParameterMarkers(c.sql, nullptr), c.engine) << c.sql;
  }
}

TEST(StoredParameters, RoundTripAndRefusals) {
  TTolmidParams params;
  params.CreateParam(TFieldType::ftUnknown, "never", TParamType::ptInput);
  params.CreateParam(TFieldType::ftUnknown, "s", TParamType::ptInput).SetAsString("text");
  params.CreateParam(TFieldType::ftUnknown, "i", TParamType::ptInput).SetAsInteger(-7);
  params.CreateParam(TFieldType::ftUnknown, "d", TParamType::ptInput).SetAsDate(40000);
  params.CreateParam(TFieldType::ftUnknown, "f", TParamType::ptInput).SetAsFloat(2.25);
  params.CreateParam(TFieldType::ftUnknown, "b", TParamType::ptInput).SetAsBoolean(true);
  params.CreateParam(TFieldType::ftUnknown, "c", TParamType::ptInput).SetAsBCD(fw::Currency{125000});
  params.CreateParam(TFieldType::ftUnknown, "t", TParamType::ptInput).SetAsDateTime(40000.5);
  params.CreateParam(TFieldType::ftInteger, "n", TParamType::ptOutput).Clear();
  const std::vector<std::uint8_t> data = params.WriteData();
  TTolmidParams back;
  back.ReadData(data);
  EXPECT_TRUE(back.Equal(params));
  EXPECT_EQ(back.ParamByName("C").Value().AsCurrency().value, 125000);

  // Every cut of the block, and sizes past the block or the limit, are
  // refused without touching the list.
  for (std::size_t n = 0; n < data.size(); ++n) {
    std::vector<std::uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(ErrorOf([&] { back.ReadData(cut); }), "Unable to load bind parameters") << n;
  }
  EXPECT_TRUE(back.Equal(params));
  const std::vector<std::vector<std::uint8_t>> hostile = {
      {3, 0, 0, 0},                                            // version 3
      {1, 0, 0xFF, 0xFF},                                      // count past the block
      {2, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F},              // v2 name length huge
      {1, 0, 1, 0, 1, 'x', 0, 3, 0x01, 0x08, 0, 0},            // size 2049
      {1, 0, 1, 0, 1, 'x', 9, 3, 4, 0, 1, 0, 0, 0, 0, 1},      // parameter type 9
      {1, 0, 1, 0, 1, 'x', 0, 200, 0, 0},                      // data type 200
      {1, 0, 1, 0, 1, 'x', 0, 3, 2, 0, 1, 0, 0, 1},            // integer of 2 bytes
  };
  for (const auto& h : hostile)
    EXPECT_EQ(ErrorOf([&] { back.ReadData(h); }), "Unable to load bind parameters");

  TTolmidParams big;
  big.CreateParam(TFieldType::ftUnknown, "s", TParamType::ptInput).SetAsString(std::string(2048, 'x'));
  EXPECT_EQ(ErrorOf([&] { (void)big.WriteData(); }),
            "Parameter 's', cannot save data larger than 2048 bytes");
}

class QueryComponent : public DataSetTest {
 protected:
  TTolmidQuery* NewQuery(const std::string& sql) {
    auto* q = new TTolmidQuery(owner_.get());
    q->SetDatabaseName("DB");
    q->SetSQLText(sql);
    return q;
  }
  std::vector<int> Tags(TTolmidQuery& q) {
    std::vector<int> tags;
    q.First();
    while (!q.Eof()) {
      tags.push_back(q.FieldByName("Tag")->AsInteger());
      q.Next();
    }
    std::sort(tags.begin(), tags.end());
    return tags;
  }
};

// Each typed parameter selects the same rows as SQLite given the same
// value.
TEST_F(QueryComponent, TypedParametersAgreeWithSqlite) {
  TTolmidTable* t = CreateTable("t.dat",
                                {{"Tag", TFieldType::ftInteger, 0, true},
                                 {"N", TFieldType::ftInteger},
                                 {"S", TFieldType::ftString, 12},
                                 {"D", TFieldType::ftDate},
                                 {"F", TFieldType::ftFloat}},
                                {{"", "Tag", kPrimary}});
  testsupport::SqlitePeer peer;
  peer.Exec("create table t(tag integer, n integer, s text, d integer, f real)");
  auto real = [](double f) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", f);
    return std::string(buf);
  };
  std::mt19937 rng(3);
  const char* words[] = {"apple", "Apple", "pear", "fig", "plum"};
  const double floats[] = {0.5, -1.25, 3.0, 0.1 + 0.2, 1e10};
  t->Open();
  for (int tag = 1; tag <= 60; ++tag) {
    const int n = static_cast<int>(rng() % 7) - 3;
    const std::string s = words[rng() % 5];
    const int day = 40000 + static_cast<int>(rng() % 5);
    const double f = floats[rng() % 5];
    t->AppendRecord({Variant(tag), Variant(n), Variant(s), Variant::FromDateTime(day), Variant(f)});
    peer.Exec("insert into t values(" + std::to_string(tag) + ", " + std::to_string(n) + ", '" + s + "', " +
              std::to_string(day) + ", " + real(f) + ")");
  }
  t->Close();
  // One case per parameter: the column, our binding, the same value in
  // SQLite's words.
  struct Case {
    std::string column;
    std::function<void(TTolmidParam&)> ours;
    std::string theirs;
  };
  std::vector<Case> cases;
  for (int n = -4; n <= 4; ++n) cases.push_back({"n", [n](TTolmidParam& p) { p.SetAsInteger(n); }, std::to_string(n)});
  for (const char* w : {"apple", "Apple", "fig", "none"})
    cases.push_back({"s", [w](TTolmidParam& p) { p.SetAsString(w); }, "'" + std::string(w) + "'"});
  for (int day = 39999; day <= 40005; ++day)
    cases.push_back({"d", [day](TTolmidParam& p) { p.SetAsDate(day); }, std::to_string(day)});
  for (double f : {0.5, 0.1 + 0.2, 0.3, 1e10, -1.25})
    cases.push_back({"f", [f](TTolmidParam& p) { p.SetAsFloat(f); }, real(f)});
  TTolmidQuery* q = NewQuery("");
  for (const Case& c : cases) {
    q->SetSQLText("select * from t where " + c.column + " = :p");
    c.ours(q->ParamByName("p"));
    q->Open();
    std::vector<int> want;
    for (const std::string& tag : peer.Query("select tag from t where " + c.column + " = " + c.theirs))
      want.push_back(std::stoi(tag));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Tags(*q), want) << c.column << " = " << c.theirs;
    q->Close();
  }
}

TEST_F(QueryComponent, ParameterFaultsAndSqlChanges) {
  TTolmidTable* t = CreateTable("t.dat", {{"Tag", TFieldType::ftInteger, 0, true}, {"S", TFieldType::ftString, 20}},
                                {{"", "Tag", kPrimary}});
  t->Open();
  for (int i = 1; i <= 5; ++i) t->AppendRecord({Variant(i), Variant("s" + std::to_string(i))});
  t->Close();
  TTolmidQuery* q = NewQuery("select * from t where tag >= :lo and s <> :never");
  q->ParamByName("lo").SetAsInteger(3);
  EXPECT_EQ(ErrorOf([&] { q->Open(); }), "No value for parameter 'never'");
  EXPECT_TRUE(q->Prepared());  // a failed open leaves the query prepared
  q->ParamByName("never").SetAsString(std::string(255, 'x'));
  EXPECT_EQ(ErrorOf([&] { q->Open(); }),
            "Parameter 'never': a string value may hold at most 254 characters");
  q->ParamByName("never").SetAsString(std::string(254, 'x'));
  q->Open();
  EXPECT_EQ(Tags(*q), (std::vector<int>{3, 4, 5}));
  // A new text closes the query; same-named values survive.
  q->SetSQLText("select * from t where tag < :lo");
  EXPECT_FALSE(q->Active());
  EXPECT_FALSE(q->Prepared());
  EXPECT_EQ(q->ParamCount(), 1);
  EXPECT_EQ(q->ParamByName("lo").AsInteger(), 3);
  q->Open();
  EXPECT_EQ(Tags(*q), (std::vector<int>{1, 2}));
  // Closing frees a statement that opening prepared, with the live result's
  // source table: the table opens exclusively again. One prepared by hand
  // stays prepared.
  q->SetRequestLive(true);
  q->Open();
  q->Close();
  EXPECT_FALSE(q->Prepared());
  t->SetExclusive(true);
  t->Open();
  t->Close();
  q->Prepare();
  q->Open();
  q->Close();
  EXPECT_TRUE(q->Prepared());
  q->UnPrepare();
  // Two markers of one name are two parameters, both bound with the value
  // of the first.
  q->SetSQLText("select * from t where tag = :x or tag = :x");
  ASSERT_EQ(q->ParamCount(), 2);
  q->Params().At(0).SetAsInteger(2);
  q->Params().At(1).SetAsInteger(4);
  q->Open();
  EXPECT_EQ(Tags(*q), (std::vector<int>{2}));
  q->Close();
  EXPECT_EQ(ErrorOf([&] { q->SetSQLText(" "); q->Open(); }), "No SQL statement available");
  q->SetParamCheck(false);
  q->SetSQLText("select * from t where tag = :x");
  EXPECT_EQ(q->ParamCount(), 0);
  EXPECT_EQ(q->Text(), "select * from t where tag = ?\r\n");
}

TEST_F(QueryComponent, MasterDrivesDetailAndCountColumnsByName) {
  TTolmidTable* cats = CreateTable("cats.dat", {{"Category", TFieldType::ftString, 20, true}},
                                   {{"", "Category", kPrimary}});
  TTolmidTable* items = CreateTable("type1.dat",
                                    {{"RecordNum", TFieldType::ftAutoInc, 0, true},
                                     {"Category", TFieldType::ftString, 20},
                                     {"Type1Num", TFieldType::ftInteger}},
                                    {{"", "RecordNum", kPrimary}});
  cats->Open();
  items->Open();
  const int counts[] = {3, 1, 0, 2};
  for (int c = 0; c < 4; ++c) {
    const std::string name = "cat" + std::to_string(c);
    cats->AppendRecord({Variant(name)});
    for (int i = 0; i < counts[c]; ++i) items->AppendRecord({Variant(), Variant(name), Variant(1000 + c * 10 + i)});
  }
  auto* source = new fw::TDataSource(owner_.get());
  source->SetDataSet(cats);
  TTolmidQuery* detail = NewQuery("select * from type1 where category = :category");
  detail->SetDataSource(source);
  cats->First();
  detail->Open();
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(detail->RecordCount(), counts[c]);
    cats->Next();
  }
  TTolmidQuery* graph = NewQuery("select category, count(type1num) from type1 group by category");
  graph->Open();
  int total = 0;
  while (!graph->Eof()) {
    total += graph->FieldByName("Count Of type1num")->AsInteger();
    graph->Next();
  }
  EXPECT_EQ(total, 6);
  EXPECT_EQ(graph->FieldByName("COUNT OF TYPE1NUM")->DataType(), TFieldType::ftInteger);
  // A canned result is a scratch table: it cannot be edited.
  EXPECT_FALSE(graph->CanModify());
  EXPECT_EQ(ErrorOf([&] { graph->Edit(); }), "Cannot modify a read-only dataset");
}

}  // namespace
}  // namespace dataset::dstest
