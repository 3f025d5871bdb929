// Data sources and data links: what each link is told and in which order,
// AutoEdit, UpdateRecord without echo, disabled controls, circular links,
// and components going away in either order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "framework/db/dataset.h"
#include "framework/db/field_data_link.h"
#include "tests/common/error_text.h"
#include "tests/common/memory_dataset.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

template <class F>
std::string ErrorOf(F f) {
  return testsupport::ErrorText<Exception>(f);
}

class LogLink : public TDataLink {
 public:
  LogLink(std::string tag, std::vector<std::string>* log, bool detail = false)
      : tag_(std::move(tag)), log_(log), detail_(detail) {}
  std::function<void()> on_update_data;

 protected:
  void ActiveChanged() override { Log("Active=" + std::to_string(Active())); }
  void CheckBrowseMode() override { Log("CheckBrowseMode"); }
  void DataSetChanged() override { Log("DataSetChanged"); }
  void DataSetScrolled(int distance) override { Log("Scrolled " + std::to_string(distance)); }
  void EditingChanged() override { Log("Editing=" + std::to_string(Editing())); }
  void LayoutChanged() override { Log("LayoutChanged"); }
  void RecordChanged(TField* field) override { Log("RecordChanged " + (field ? field->FieldName() : "-")); }
  void UpdateData() override {
    Log("UpdateData");
    if (on_update_data) on_update_data();
  }
  void FocusControl(TField* field) override { Log("Focus " + field->FieldName()); }
  bool IsDetailLink() const override { return detail_; }

 private:
  void Log(const std::string& s) { log_->push_back(tag_ + ": " + s); }
  std::string tag_;
  std::vector<std::string>* log_;
  bool detail_;
};

// A dataset with a master data source, as a detail table has.
class DetailDataSet : public MemoryDataSet {
 public:
  using MemoryDataSet::MemoryDataSet;
  TDataSource* master = nullptr;
  TDataSource* GetDataSource() const override { return master; }
};

class DataLinkTest : public ::testing::Test {
 protected:
  DataLinkTest()
      : ds_(nullptr, {{"ID", TFieldType::ftInteger, 0, true}, {"Name", TFieldType::ftString, 10}}),
        src1_(nullptr),
        src2_(nullptr) {
    ds_.Open();
    for (int i = 1; i <= 5; ++i) ds_.AppendRecord({Variant(i), Variant("r" + std::to_string(i))});
    ds_.Close();
  }
  MemoryDataSet ds_;
  TDataSource src1_, src2_;
  std::vector<std::string> log_;
};

TEST_F(DataLinkTest, LinksAreToldInOrder) {
  LogLink a("a", &log_), b("b", &log_), c("c", &log_), detail("d", &log_, true);
  a.SetDataSource(&src1_);
  b.SetDataSource(&src1_);
  detail.SetDataSource(&src1_);
  c.SetDataSource(&src2_);
  src1_.SetDataSet(&ds_);
  src2_.SetDataSet(&ds_);
  EXPECT_TRUE(log_.empty());
  std::vector<std::string> states;
  src1_.OnStateChange = [&](TDataSource& s) { states.push_back(std::to_string(static_cast<int>(s.State()))); };
  int data_changes = 0;
  src1_.OnDataChange = [&](TDataSource&, TField*) { ++data_changes; };

  struct Step {
    std::function<void()> op;
    std::vector<std::string> expected;
  } steps[] = {
      {[&] { ds_.Open(); }, {"a: Active=1", "b: Active=1", "d: Active=1", "c: Active=1"}},
      // One buffer: each move scrolls every window by one record.
      {[&] { ds_.Next(); },
       {"d: CheckBrowseMode", "a: CheckBrowseMode", "b: CheckBrowseMode", "c: CheckBrowseMode",
        "d: Scrolled 1", "a: Scrolled 1", "b: Scrolled 1", "c: Scrolled 1"}},
      {[&] { ds_.Edit(); },
       {"d: CheckBrowseMode", "a: CheckBrowseMode", "b: CheckBrowseMode", "c: CheckBrowseMode",
        "a: Editing=1", "b: Editing=1", "d: Editing=1", "c: Editing=1",
        "d: RecordChanged -", "a: RecordChanged -", "b: RecordChanged -", "c: RecordChanged -"}},
      {[&] { ds_.FieldByName("Name")->SetAsString("x"); },
       {"d: RecordChanged Name", "a: RecordChanged Name", "b: RecordChanged Name", "c: RecordChanged Name"}},
      {[&] { ds_.Post(); },
       {"a: UpdateData", "b: UpdateData", "d: UpdateData", "c: UpdateData",
        "d: CheckBrowseMode", "a: CheckBrowseMode", "b: CheckBrowseMode", "c: CheckBrowseMode",
        "a: Editing=0", "b: Editing=0", "d: Editing=0", "c: Editing=0",
        "d: DataSetChanged", "a: DataSetChanged", "b: DataSetChanged", "c: DataSetChanged"}},
      {[&] { ds_.FieldByName("ID")->FocusControl(); },
       {"d: Focus ID", "a: Focus ID", "b: Focus ID", "c: Focus ID"}},
      {[&] { ds_.Close(); }, {"a: Active=0", "b: Active=0", "d: Active=0", "c: Active=0"}},
  };
  int i = 0;
  for (Step& s : steps) {
    SCOPED_TRACE(i++);
    log_.clear();
    s.op();
    EXPECT_EQ(log_, s.expected);
  }
  EXPECT_EQ(states, (std::vector<std::string>{"1", "2", "1", "0"}));
  EXPECT_GT(data_changes, 0);
}

TEST_F(DataLinkTest, UpdateDataWritesWithoutEchoToItself) {
  LogLink edit("edit", &log_), other("other", &log_);
  edit.SetDataSource(&src1_);
  other.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  edit.on_update_data = [&] { ds_.FieldByName("Name")->SetAsString("typed"); };
  ASSERT_TRUE(edit.Edit());  // AutoEdit puts the dataset into edit state
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  log_.clear();
  ds_.Post();
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "typed");
  std::vector<std::string> head(log_.begin(), log_.begin() + 3);
  EXPECT_EQ(head, (std::vector<std::string>{"edit: UpdateData", "other: RecordChanged Name", "other: UpdateData"}));
  edit.SetReadOnly(true);
  EXPECT_FALSE(edit.Edit());
}

TEST_F(DataLinkTest, DisabledSourceAndDisabledControls) {
  LogLink a("a", &log_);
  a.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  src1_.SetEnabled(false);
  EXPECT_FALSE(a.Active());
  src1_.SetEnabled(true);
  EXPECT_TRUE(a.Active());
  log_.clear();
  ds_.DisableControls();
  ds_.DisableControls();
  ds_.Next();
  ds_.Last();
  ds_.Edit();
  ds_.Cancel();
  ds_.EnableControls();
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(ds_.ControlsDisabled());
  ds_.EnableControls();
  EXPECT_EQ(log_, (std::vector<std::string>{"a: DataSetChanged"}));
  log_.clear();
  ds_.DisableControls();
  ds_.Close();
  EXPECT_TRUE(a.Active()) << "held back while disabled";
  ds_.EnableControls();
  EXPECT_EQ(log_, (std::vector<std::string>{"a: Active=0"}));
  log_.clear();
  ds_.DisableControls();
  ds_.Open();
  ds_.Edit();
  ds_.EnableControls();
  EXPECT_EQ(log_, (std::vector<std::string>{"a: Active=1", "a: Editing=1"}));
}

TEST_F(DataLinkTest, CircularLinksAreRefused) {
  DetailDataSet detail(nullptr, {{"ID", TFieldType::ftInteger}});
  TDataSource master_src(nullptr), detail_src(nullptr);
  master_src.SetDataSet(&ds_);
  detail.master = &master_src;  // detail follows ds_
  detail_src.SetDataSet(&detail);
  EXPECT_FALSE(detail.IsLinkedTo(&master_src));
  // detail_src -> detail -> master_src -> ds_: the master may not follow it.
  EXPECT_TRUE(ds_.IsLinkedTo(&detail_src));
  EXPECT_TRUE(detail.IsLinkedTo(&detail_src));
  // Pointing the master's own source at the detail would close the loop.
  EXPECT_EQ(ErrorOf([&] { master_src.SetDataSet(&detail); }), "Circular datalinks are not allowed");
  EXPECT_EQ(master_src.DataSet(), &ds_);
  master_src.SetName("MasterSource");
  EXPECT_EQ(ErrorOf([&] { master_src.SetDataSet(&detail); }),
            "MasterSource: Circular datalinks are not allowed");
  EXPECT_TRUE(master_src.IsLinkedTo(&detail));
  EXPECT_FALSE(detail_src.IsLinkedTo(&ds_));
}

TEST_F(DataLinkTest, ComponentsGoingAwayInAnyOrder) {
  auto link = std::make_unique<LogLink>("a", &log_);
  {
    TDataSource src(nullptr);
    link->SetDataSource(&src);
    src.SetDataSet(&ds_);
    ds_.Open();
    EXPECT_TRUE(link->Active());
    EXPECT_EQ(src.DataLinkCount(), 1);
  }
  EXPECT_EQ(link->DataSource(), nullptr);
  ds_.Next();  // the dataset no longer reaches the freed source
  {
    auto ds2 = std::make_unique<MemoryDataSet>(nullptr, std::vector<testing::ColumnDef>{{"X", TFieldType::ftInteger}});
    TDataSource src(nullptr);
    link->SetDataSource(&src);
    src.SetDataSet(ds2.get());
    ds2->Open();
    EXPECT_TRUE(link->Active());
    ds2.reset();
    EXPECT_EQ(src.DataSet(), nullptr);
    EXPECT_FALSE(link->Active());
    auto other = std::make_unique<LogLink>("b", &log_);
    other->SetDataSource(&src);
    other.reset();
    EXPECT_EQ(src.DataLinkCount(), 1);
  }
}

TEST_F(DataLinkTest, BufferCountFollowsTheLargestLink) {
  LogLink grid("grid", &log_), edit("edit", &log_);
  grid.SetDataSource(&src1_);
  edit.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  EXPECT_EQ(ds_.BufferCount(), 1);
  grid.SetBufferCount(4);
  EXPECT_EQ(ds_.BufferCount(), 4);
  EXPECT_EQ(grid.RecordCount(), 4);
  EXPECT_EQ(edit.RecordCount(), 1);
  ds_.MoveBy(3);
  EXPECT_EQ(grid.ActiveRecord(), 3);
  log_.clear();
  ds_.Next();  // r5: the grid scrolls one row
  EXPECT_EQ(grid.ActiveRecord(), 3);
  EXPECT_EQ(log_, (std::vector<std::string>{"grid: CheckBrowseMode", "edit: CheckBrowseMode",
                                             "grid: Scrolled 1", "edit: Scrolled 1"}));
  ds_.First();
  EXPECT_EQ(grid.ActiveRecord(), 0);
  // The grid paints its rows by making each the active one in turn.
  std::vector<std::string> rows;
  for (int r = 0; r < grid.RecordCount(); ++r) {
    int old = grid.ActiveRecord();
    grid.SetActiveRecord(r);
    rows.push_back(ds_.FieldByName("Name")->AsString());
    grid.SetActiveRecord(old);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"r1", "r2", "r3", "r4"}));
  ds_.MoveBy(2);
  grid.SetBufferCount(2);  // shrinking keeps the active row
  EXPECT_EQ(ds_.BufferCount(), 2);
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "r3");
  EXPECT_EQ(grid.ActiveRecord(), 1);
  grid.SetDataSource(nullptr);
  EXPECT_EQ(ds_.BufferCount(), 1);
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "r3");
}

TEST_F(DataLinkTest, GotoBookmarkCentresTheRecord) {
  LogLink grid("grid", &log_);
  grid.SetBufferCount(3);
  grid.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  ds_.MoveBy(3);  // r4, bottom row of r2..r4
  TBookmark r4 = ds_.GetBookmark();
  EXPECT_EQ(grid.ActiveRecord(), 2);
  ds_.First();
  ds_.GotoBookmark(r4);
  EXPECT_EQ(grid.ActiveRecord(), 1);  // r3 r4 r5
  ds_.Last();
  ds_.Prior();
  ds_.Edit();
  ds_.Post();  // resynchronising keeps the row where it was
  EXPECT_EQ(grid.ActiveRecord(), 1);
}

// A detail dataset following its master through a detail link, as a
// detail table follows MasterSource: it shows the rows whose Master equals
// the master's ID and posts its own pending edit before the master moves.
class MasterLink : public TDataLink {
 public:
  explicit MasterLink(MemoryDataSet* detail) : detail_(detail) {}
  std::vector<std::string>* log = nullptr;

 protected:
  bool IsDetailLink() const override { return true; }
  void ActiveChanged() override { Follow(); }
  void RecordChanged(TField* field) override {
    if (field == nullptr || field->FieldName() == "ID") Follow();
  }
  void CheckBrowseMode() override {
    if (detail_->Active()) detail_->CheckBrowseMode();
  }

 private:
  void Follow() {
    if (!detail_->Active()) return;
    if (log) log->push_back("detail follows");
    master_id_ = Active() ? DataSet()->FieldByName("ID")->AsInteger() : -1;
    int id = master_id_;
    detail_->SetOnFilterRecord(
        [id](TDataSet& d, bool& accept) { accept = d.FieldByName("Master")->AsInteger() == id; });
    detail_->SetFiltered(true);  // moves to its first record
  }
  MemoryDataSet* detail_;
  int master_id_ = -1;
};

TEST_F(DataLinkTest, DetailFollowsItsMasterBeforeTheControls) {
  MemoryDataSet detail(nullptr, {{"Master", TFieldType::ftInteger}, {"Item", TFieldType::ftString, 10}});
  detail.Open();
  for (int m = 1; m <= 3; ++m)
    for (int k = 0; k < m; ++k)
      detail.AppendRecord({Variant(m), Variant("m" + std::to_string(m) + "." + std::to_string(k))});
  MasterLink master_link(&detail);
  master_link.log = &log_;
  LogLink grid("grid", &log_);
  grid.SetDataSource(&src1_);
  master_link.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  EXPECT_EQ(detail.RecordCount(), 1);
  EXPECT_EQ(detail.FieldByName("Item")->AsString(), "m1.0");
  log_.clear();
  ds_.Next();
  EXPECT_EQ(detail.RecordCount(), 2);
  EXPECT_EQ(detail.FieldByName("Item")->AsString(), "m2.0");
  // The detail link hears of the move before the grid does.
  ASSERT_GE(log_.size(), 2u);
  EXPECT_EQ(log_[log_.size() - 2], "detail follows");
  EXPECT_EQ(log_.back(), "grid: Scrolled 1");
  // A pending detail edit is posted before the master moves on.
  detail.Next();
  detail.Edit();
  detail.FieldByName("Item")->SetAsString("changed");
  ds_.Next();
  EXPECT_EQ(detail.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(std::string(detail.StoredValue(2, 1)), "changed");
  EXPECT_EQ(detail.RecordCount(), 3);
  ds_.Last();
  EXPECT_EQ(detail.RecordCount(), 0);  // master 5 has no items
  detail.Close();
}

TEST_F(DataLinkTest, FieldDataLinkFollowsOneField) {
  TFieldDataLink link;
  std::string shown;
  std::string control_text;
  int editing_changes = 0;
  link.OnDataChange = [&] { shown = link.Field() ? link.Field()->DisplayText() : "<none>"; };
  link.OnUpdateData = [&] { link.Field()->SetAsString(control_text); };
  link.OnEditingChange = [&] { ++editing_changes; };
  link.SetFieldName("name");
  link.SetDataSource(&src1_);
  src1_.SetDataSet(&ds_);
  ds_.Open();
  EXPECT_EQ(link.Field(), ds_.FieldByName("Name"));
  EXPECT_EQ(shown, "r1");
  ds_.Next();
  EXPECT_EQ(shown, "r2");
  // Typing: the control edits, marks itself modified, then the post
  // collects its text.
  ASSERT_TRUE(link.Edit());
  EXPECT_EQ(editing_changes, 1);
  control_text = "typed";
  link.SetModified();
  ds_.Post();
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "typed");
  EXPECT_FALSE(link.Modified());
  EXPECT_EQ(shown, "typed");
  // A change to another field does not redisplay this one.
  ds_.Edit();
  shown.clear();
  ds_.FieldByName("ID")->SetAsInteger(9);
  EXPECT_EQ(shown, "");
  ds_.Cancel();
  link.SetReadOnly(true);
  EXPECT_FALSE(link.CanModify());
  EXPECT_FALSE(link.Edit());
  link.SetReadOnly(false);
  ds_.FieldByName("Name")->SetReadOnly(true);
  EXPECT_FALSE(link.CanModify());
  ds_.FieldByName("Name")->SetReadOnly(false);
  link.SetFieldName("missing");
  EXPECT_EQ(link.Field(), nullptr);
  EXPECT_EQ(shown, "<none>");
  ds_.Close();
  EXPECT_EQ(link.Field(), nullptr);
}

}  // namespace
}  // namespace fw
