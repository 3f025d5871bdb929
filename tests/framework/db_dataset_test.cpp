// TDataSet's state machine over an in-memory dataset: Bof/Eof rules,
// inserting, appending, editing, posting, cancelling and deleting, event
// order, failed posts, required fields, bookmarks, filters, calculated
// fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "framework/db/dataset.h"
#include "tests/common/error_text.h"
#include "tests/common/memory_dataset.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

template <class F>
std::string ErrorOf(F f) {
  return testsupport::ErrorText<Exception>(f);
}

class DataSetTest : public ::testing::Test {
 protected:
  DataSetTest()
      : ds_(nullptr, {{"RecordNum", TFieldType::ftAutoInc, 0, true},
                      {"ID", TFieldType::ftInteger, 0, true}, {"Name", TFieldType::ftString, 20},
                      {"Amount", TFieldType::ftFloat},
                      {"Details", TFieldType::ftMemo}}) {}

  void Fill(std::initializer_list<const char*> names) {
    bool was_open = ds_.Active();
    if (!was_open) ds_.Open();
    int id = ds_.RecordCount();
    for (const char* n : names) ds_.AppendRecord({Variant(), Variant(++id), Variant(n), Variant(id * 10.0)});
    if (!was_open) ds_.Close();
  }
  std::string Cur() { return ds_.FieldByName("Name")->AsString(); }
  std::vector<std::string> All() {
    std::vector<std::string> out;
    for (auto& row : ds_.Rows())
      out.push_back(ds_.StoredNull(&row - ds_.Rows().data(), 2) ? "<null>"
                                                                : ds_.StoredValue(&row - ds_.Rows().data(), 2));
    return out;
  }

  MemoryDataSet ds_;
};

TEST_F(DataSetTest, EmptyDataset) {
  ds_.Open();
  EXPECT_TRUE(ds_.Bof());
  EXPECT_TRUE(ds_.Eof());
  EXPECT_TRUE(ds_.IsEmpty());
  EXPECT_EQ(ds_.MoveBy(1), 0);
  EXPECT_EQ(ds_.MoveBy(-1), 0);
  ds_.Last();
  EXPECT_TRUE(ds_.Bof() && ds_.Eof());
  EXPECT_EQ(Cur(), "");
  EXPECT_TRUE(ds_.FieldByName("ID")->IsNull());
  EXPECT_EQ(ErrorOf([&] { ds_.Delete(); }), "Cannot perform this operation on an empty dataset");
  EXPECT_EQ(ErrorOf([&] { ds_.Post(); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("ID")->SetAsInteger(1); }), "Dataset not in edit or insert mode");
  ds_.Edit();  // on an empty dataset Edit inserts
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  ds_.Cancel();
  EXPECT_TRUE(ds_.IsEmpty());
  EXPECT_TRUE(ds_.Bof() && ds_.Eof());
  ds_.Close();
  EXPECT_EQ(ErrorOf([&] { ds_.First(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ds_.FieldCount(), 0);  // default fields go with the cursor
}

// Positions after each change are the model test's (db_model_test.cpp);
// here the states and flags in between.
TEST_F(DataSetTest, InsertAppendEditCancelDelete) {
  Fill({"a", "b", "c"});
  ds_.Open();
  ds_.Next();
  ds_.Insert();
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  EXPECT_TRUE(ds_.FieldByName("Name")->IsNull());
  EXPECT_EQ(ds_.RecNo(), -1);
  EXPECT_TRUE(ds_.GetBookmark().empty()) << "a record being inserted has no bookmark yet";
  EXPECT_FALSE(ds_.Modified());
  ds_.FieldByName("Name")->SetAsString("new");
  EXPECT_TRUE(ds_.Modified());
  ds_.FieldByName("ID")->SetAsInteger(100);
  ds_.Post();
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds_.RecNo(), 2);
  ds_.Append();
  EXPECT_TRUE(ds_.Eof());
  ds_.FieldByName("ID")->SetAsInteger(200);
  ds_.Post();
  EXPECT_FALSE(ds_.Eof());
  ds_.First();
  ds_.Edit();
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  EXPECT_FALSE(ds_.Modified());
  ds_.Cancel();
  ds_.Insert();
  ds_.Delete();  // Delete while inserting cancels the insert
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(All(), (std::vector<std::string>{"a", "new", "b", "c", "<null>"}));
  while (!ds_.IsEmpty()) ds_.Delete();
  EXPECT_TRUE(ds_.Bof() && ds_.Eof());
}

TEST_F(DataSetTest, MovingWhileEditingPostsOrCancels) {
  Fill({"a", "b"});
  ds_.Open();
  int posts = 0, cancels = 0;
  ds_.BeforePost = [&](TDataSet&) { ++posts; };
  ds_.BeforeCancel = [&](TDataSet&) { ++cancels; };
  ds_.Edit();
  ds_.Next();  // unchanged: cancelled
  EXPECT_EQ(posts, 0);
  EXPECT_EQ(cancels, 1);
  ds_.Edit();
  ds_.FieldByName("Name")->SetAsString("B2");
  ds_.First();  // changed: posted
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(All(), (std::vector<std::string>{"a", "B2"}));
  EXPECT_EQ(Cur(), "a");
}

TEST_F(DataSetTest, EventOrder) {
  Fill({"a", "b"});
  std::vector<std::string> log;
  auto hook = [&](TDataSet::TDataSetNotifyEvent& e, const char* name) {
    e = [&log, name](TDataSet&) { log.push_back(name); };
  };
  hook(ds_.BeforeOpen, "BeforeOpen");
  hook(ds_.AfterOpen, "AfterOpen");
  hook(ds_.BeforeClose, "BeforeClose");
  hook(ds_.AfterClose, "AfterClose");
  hook(ds_.BeforeInsert, "BeforeInsert");
  hook(ds_.AfterInsert, "AfterInsert");
  hook(ds_.BeforeEdit, "BeforeEdit");
  hook(ds_.AfterEdit, "AfterEdit");
  hook(ds_.BeforePost, "BeforePost");
  hook(ds_.AfterPost, "AfterPost");
  hook(ds_.BeforeCancel, "BeforeCancel");
  hook(ds_.AfterCancel, "AfterCancel");
  hook(ds_.BeforeDelete, "BeforeDelete");
  hook(ds_.AfterDelete, "AfterDelete");
  hook(ds_.BeforeScroll, "BeforeScroll");
  hook(ds_.AfterScroll, "AfterScroll");
  hook(ds_.OnNewRecord, "OnNewRecord");
  struct Step {
    std::function<void()> op;
    std::vector<std::string> events;
  } steps[] = {
      {[&] { ds_.Open(); }, {"BeforeOpen", "AfterOpen", "AfterScroll"}},
      {[&] { ds_.Next(); }, {"BeforeScroll", "AfterScroll"}},
      {[&] { ds_.Next(); }, {"BeforeScroll", "AfterScroll"}},  // hits Eof
      {[&] { ds_.Edit(); }, {"BeforeEdit", "AfterEdit"}}, {[&] { ds_.FieldByName("Name")->SetAsString("x"); }, {}},
      {[&] { ds_.Post(); }, {"BeforePost", "AfterPost"}},
      {[&] { ds_.Insert(); }, {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {[&] { ds_.Cancel(); }, {"BeforeCancel", "AfterCancel"}},
      {[&] { ds_.Append(); }, {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {[&] { ds_.FieldByName("ID")->SetAsInteger(9); }, {}},
      {[&] { ds_.Next(); }, {"BeforePost", "AfterPost", "BeforeScroll", "AfterScroll"}},
      {[&] { ds_.Delete(); }, {"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}},
      {[&] { ds_.Close(); }, {"BeforeClose", "AfterClose"}},
  };
  int i = 0;
  for (Step& s : steps) {
    SCOPED_TRACE(i++);
    log.clear();
    s.op();
    EXPECT_EQ(log, s.events);
  }
}

TEST_F(DataSetTest, FailedPostKeepsTheEdit) {
  Fill({"a"});
  ds_.Open();
  ds_.Edit();
  ds_.FieldByName("Name")->SetAsString("b");
  ds_.fail_posts = 1;
  EXPECT_EQ(ErrorOf([&] { ds_.Post(); }), "post failed");
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  EXPECT_EQ(Cur(), "b");
  EXPECT_EQ(All()[0], "a");

  ds_.Cancel();
  ds_.fail_deletes = 1;
  EXPECT_EQ(ErrorOf([&] { ds_.Delete(); }), "delete failed");
  EXPECT_EQ(ds_.RecordCount(), 1);
}

TEST_F(DataSetTest, RequiredFieldsAreCheckedOnPost) {
  ds_.Open();
  ds_.Append();
  ds_.FieldByName("Name")->SetAsString("no id");
  // RecordNum is required too, but the table fills an auto-increment field.
  EXPECT_EQ(ErrorOf([&] { ds_.Post(); }), "Field 'ID' must have a value");
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  ds_.FieldByName("ID")->SetDisplayLabel("Number");
  EXPECT_EQ(ErrorOf([&] { ds_.Post(); }), "Field 'Number' must have a value");
  ds_.FieldByName("ID")->SetAsInteger(1);
  ds_.Post();
  EXPECT_EQ(ds_.RecordCount(), 1);
  ds_.Edit();
  ds_.FieldByName("ID")->Clear();
  EXPECT_EQ(ErrorOf([&] { ds_.Post(); }), "Field 'Number' must have a value");
  ds_.Cancel();
}

TEST_F(DataSetTest, NewRecordDefaultsAreNotModifications) {
  ds_.OnNewRecord = [](TDataSet& d) { d.FieldByName("ID")->SetAsInteger(77); };
  ds_.Open();
  ds_.Insert();
  EXPECT_EQ(ds_.FieldByName("ID")->AsInteger(), 77);
  EXPECT_FALSE(ds_.Modified());
  ds_.OnNewRecord = [](TDataSet&) { throw EDatabaseError("no"); };
  EXPECT_EQ(ErrorOf([&] { ds_.Append(); }), "no");
}

TEST_F(DataSetTest, ReadOnlyDataset) {
  Fill({"a"});
  ds_.read_only = true;
  ds_.Open();
  EXPECT_EQ(ErrorOf([&] { ds_.Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds_.Insert(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds_.Append(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetTest, Bookmarks) {
  Fill({"a", "b", "c", "d"});
  ds_.Open();
  ds_.Next();
  TBookmark b = ds_.GetBookmark();
  ds_.Last();
  TBookmark d = ds_.GetBookmark();
  ASSERT_FALSE(b.empty());
  EXPECT_TRUE(ds_.BookmarkValid(b));
  ds_.GotoBookmark(b);
  EXPECT_EQ(Cur(), "b");
  EXPECT_FALSE(ds_.Bof());
  EXPECT_FALSE(ds_.Eof());
  EXPECT_EQ(ds_.CompareBookmarks(TBookmark(), TBookmark()), 0);
  EXPECT_EQ(ds_.CompareBookmarks(TBookmark(), b), 1);
  EXPECT_EQ(ds_.CompareBookmarks(b, TBookmark()), -1);
  EXPECT_EQ(ds_.CompareBookmarks(b, b), 0);
  EXPECT_NE(ds_.CompareBookmarks(b, d), 0);
  ds_.GotoBookmark(TBookmark());  // nothing
  EXPECT_EQ(Cur(), "b");
  ds_.Delete();
  EXPECT_EQ(ErrorOf([&] { ds_.GotoBookmark(b); }), "Record not found");
  ds_.GotoBookmark(d);
  EXPECT_EQ(Cur(), "d");
}

TEST_F(DataSetTest, FilterRecordEvent) {
  Fill({"a", "b", "c", "d", "e"});  // amounts 10..50
  ds_.Open();
  std::vector<TDataSetState> states;
  ds_.SetOnFilterRecord([&](TDataSet& d, bool& accept) {
    states.push_back(d.State());
    accept = static_cast<int>(d.FieldByName("Amount")->AsFloat()) % 20 != 0;
  });
  EXPECT_EQ(ds_.RecordCount(), 5);  // not Filtered yet
  ds_.SetFiltered(true);
  EXPECT_EQ(Cur(), "a");
  EXPECT_EQ(ds_.RecordCount(), 3);
  std::vector<std::string> seen;
  for (ds_.First(); !ds_.Eof(); ds_.Next()) seen.push_back(Cur());
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "c", "e"}));
  ds_.Prior();
  EXPECT_EQ(Cur(), "c");
  EXPECT_FALSE(states.empty());
  for (TDataSetState s : states) { EXPECT_EQ(s, TDataSetState::dsFilter); }
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  // An edit that makes the record fail the filter moves off it.
  ds_.Edit();
  ds_.FieldByName("Amount")->SetAsFloat(40);
  ds_.Post();
  EXPECT_EQ(ds_.RecordCount(), 2);
  EXPECT_NE(Cur(), "c");
  ds_.SetFiltered(false);
  EXPECT_EQ(ds_.RecordCount(), 5);
  EXPECT_EQ(Cur(), "a");
  // A failing filter handler surfaces and leaves the state as it was.
  ds_.SetOnFilterRecord([](TDataSet&, bool&) { throw EDatabaseError("bad filter"); });
  EXPECT_EQ(ErrorOf([&] { ds_.SetFiltered(true); }), "bad filter");
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetTest, CalculatedFieldsFollowTheRecord) {
  Fill({"ab", "cd"});
  auto* id = new TIntegerField(&ds_);
  id->SetFieldName("ID");
  id->SetDataSet(&ds_);
  auto* name = new TStringField(&ds_);
  name->SetFieldName("Name");
  name->SetSize(20);
  name->SetDataSet(&ds_);
  auto* upper = new TStringField(&ds_);
  upper->SetFieldName("Upper");
  upper->SetSize(20);
  upper->SetFieldKind(TFieldKind::fkCalculated);
  upper->SetDataSet(&ds_);
  int calcs = 0;
  ds_.OnCalcFields = [&](TDataSet& d) {
    ++calcs;
    EXPECT_EQ(d.State(), TDataSetState::dsCalcFields);
    d.FieldByName("Upper")->SetAsString(UpperCase(d.FieldByName("Name")->AsString()));
  };
  ds_.Open();
  EXPECT_FALSE(ds_.DefaultFields());
  EXPECT_EQ(ds_.FieldCount(), 3);
  EXPECT_EQ(ds_.CalcFieldsSize(), 1 + 21);
  EXPECT_EQ(upper->FieldNo(), -1);
  EXPECT_EQ(upper->AsString(), "AB");
  ds_.Next();
  EXPECT_EQ(upper->AsString(), "CD");
  ds_.Edit();
  name->SetAsString("xy");
  EXPECT_EQ(upper->AsString(), "XY");  // recalculated on the field change
  ds_.Cancel();
  EXPECT_EQ(upper->AsString(), "CD");
  EXPECT_GT(calcs, 0);
  EXPECT_EQ(ErrorOf([&] { upper->SetAsString("no"); }), "Dataset not in edit or insert mode");
  ds_.Close();
  EXPECT_EQ(ds_.FieldCount(), 3);  // persistent fields stay
  EXPECT_EQ(upper->FieldNo(), 0);
}

TEST_F(DataSetTest, PersistentFieldMissingFromTheTable) {
  auto* f = new TIntegerField(&ds_);
  f->SetFieldName("Gone");
  f->SetDataSet(&ds_);
  EXPECT_EQ(ErrorOf([&] { ds_.Open(); }), "Field 'Gone' not found");
  EXPECT_FALSE(ds_.Active());
  delete f;
  ds_.Open();
  EXPECT_TRUE(ds_.Active());
}

TEST_F(DataSetTest, UnreadableRecordStopsNavigationWithoutLosingThePlace) {
  Fill({"a", "b", "c", "d"});
  ds_.Open();
  ds_.bad_row = 2;
  ds_.Next();
  EXPECT_EQ(ErrorOf([&] { ds_.Next(); }), "read failed");
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Cur(), "b");
  EXPECT_EQ(ErrorOf([&] { ds_.Next(); }), "read failed");  // the cursor was put back first
  ds_.Prior();
  EXPECT_EQ(Cur(), "a");
  ds_.bad_row = -1;
  ds_.MoveBy(2);
  EXPECT_EQ(Cur(), "c");
  // The records past the unreadable one stay reachable and editable.
  ds_.bad_row = 2;
  ds_.Last();
  EXPECT_EQ(Cur(), "d");
  ds_.Edit();
  ds_.FieldByName("Name")->SetAsString("d2");
  ds_.Post();
  EXPECT_EQ(Cur(), "d2");
}

TEST_F(DataSetTest, ActiveReadFromAFormOpensWhenLoaded) {
  Fill({"a"});
  ds_.SetLoading(true);
  ds_.SetActive(true);
  EXPECT_FALSE(ds_.Active());
  ds_.Loaded();
  EXPECT_TRUE(ds_.Active());
  EXPECT_EQ(Cur(), "a");
}

TEST_F(DataSetTest, FailedOpenLeavesNoDefaultFieldsBehind) {
  Fill({"a"});
  ds_.fail_open = true;
  EXPECT_EQ(ErrorOf([&] { ds_.Open(); }), "open failed");
  EXPECT_FALSE(ds_.Active());
  EXPECT_EQ(ds_.FieldCount(), 0);
  ds_.fail_open = false;
  ds_.Open();
  EXPECT_TRUE(ds_.DefaultFields());
  EXPECT_EQ(Cur(), "a");
  ds_.Close();
  EXPECT_EQ(ds_.FieldCount(), 0);
}

TEST_F(DataSetTest, AssignCopiesValuesBetweenFields) {
  Fill({"a", "b"});
  MemoryDataSet other(nullptr, {{"Name", TFieldType::ftString, 20}, {"Amount", TFieldType::ftInteger},
                                {"Details", TFieldType::ftMemo}});
  other.Open();
  ds_.Open();
  ds_.Edit();
  ds_.FieldByName("Details")->SetAsString("memo text");
  ds_.Post();
  other.Append();
  for (const char* name : {"Name", "Amount", "Details"}) other.FieldByName(name)->Assign(ds_.FieldByName(name));
  other.Post();
  EXPECT_EQ(other.FieldByName("Name")->AsString(), "a");
  EXPECT_EQ(other.FieldByName("Amount")->AsInteger(), 10);
  EXPECT_EQ(other.FieldByName("Details")->AsString(), "memo text");
  ds_.Edit();
  ds_.FieldByName("Amount")->Clear();
  other.Edit();
  other.FieldByName("Amount")->Assign(ds_.FieldByName("Amount"));
  EXPECT_TRUE(other.FieldByName("Amount")->IsNull());
  other.FieldByName("Name")->Assign(nullptr);
  EXPECT_TRUE(other.FieldByName("Name")->IsNull());
  other.Cancel();
  ds_.Cancel();
}

TEST_F(DataSetTest, RefreshAndRecordHelpers) {
  Fill({"a", "b"});
  ds_.Open();
  ds_.Next();
  ds_.InsertRecord({Variant(), Variant(5), Variant("ins")});
  ds_.AppendRecord({Variant(), Variant(6), Variant("app"), Variant(1.5)});
  EXPECT_EQ(All(), (std::vector<std::string>{"a", "ins", "b", "app"}));
  EXPECT_EQ(ds_.FieldByName("Amount")->AsFloat(), 1.5);
  // A change made behind the dataset's back shows after Refresh.
  std::memcpy(ds_.Rows()[3].image.data() + 1 + 4 + 1 + 4 + 1, "APP", 4);
  EXPECT_EQ(Cur(), "app");
  ds_.Refresh();
  EXPECT_EQ(Cur(), "APP");
}

TEST_F(DataSetTest, FieldChangeEvents) {
  Fill({"a"});
  ds_.Open();
  std::vector<std::string> changed;
  ds_.FieldByName("Name")->OnChange = [&](TField& f) { changed.push_back(f.AsString()); };
  ds_.Edit();
  ds_.FieldByName("Name")->SetAsString("b");
  ds_.FieldByName("ID")->SetAsInteger(3);
  ds_.FieldByName("Name")->SetAsString("c");
  ds_.Post();
  EXPECT_EQ(changed, (std::vector<std::string>{"b", "c"}));
}

}  // namespace
}  // namespace fw
