// The grid over a real engine table (the table component on an index, as
// the photo list browses "ResName"): rows in index order, the end of a
// large table reached by record number, and a peek that leaves the cursor,
// Bof and Eof where they were, while the program walks the table.
#include <QApplication>
#include <QTableView>

#include <cstdio>
#include <filesystem>

#include "dataset/tolmid_database.h"
#include "dataset/tolmid_session.h"
#include "dataset/tolmid_table.h"
#include "framework/dbctrls/db_grid.h"
#include "storage/session.h"
#include "tests/common/scratch_dir.h"
#include "tests/forms/forms_test_support.h"

namespace {

using formstest::AppTest;
using formstest::TestForm;

class EngineGridTest : public AppTest {
 protected:
  void SetUp() override {
    dataset::FinalizeSessions();
    storage::ShutdownEngine();
    form_ = fw::NewForm<TestForm>(&App());
    db_ = new dataset::TTolmidDatabase(form_);
    db_->SetDatabaseName("Quennet");
    db_->SetDirectory(dir_.path());
    db_->Open();
  }
  void TearDown() override {
    delete form_;
    dataset::FinalizeSessions();
  }
  dataset::TTolmidTable* PhotoTable(int records) {
    auto* t = new dataset::TTolmidTable(form_);
    t->SetDatabaseName("Quennet");
    t->SetTableName("type3.dat");
    t->FieldDefs().Add("RecordNum", fw::TFieldType::ftAutoInc, 0, true);
    t->FieldDefs().Add("ResourceName", fw::TFieldType::ftString, 250, false);
    t->IndexDefs().Add("", "RecordNum", {fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique});
    t->IndexDefs().Add("ResName", "ResourceName", {fw::TIndexOption::ixCaseInsensitive});
    t->CreateTable();
    t->Open();
    // Stored in descending order, browsed ascending by name.
    for (int i = records; i >= 1; --i) {
      char name[32];
      std::snprintf(name, sizeof name, "photo%06d", i);
      t->Append();
      t->FieldByName("ResourceName")->SetAsString(name);
      t->Post();
    }
    t->Close();
    t->SetIndexName("ResName");
    return t;
  }
  testsupport::ScratchDir dir_;
  TestForm* form_ = nullptr;
  dataset::TTolmidDatabase* db_ = nullptr;
};

TEST_F(EngineGridTest, BrowsesAnIndexedTableByRecordNumber) {
  constexpr int kRecords = 3000;
  dataset::TTolmidTable* table = PhotoTable(kRecords);
  auto* source = new fw::TDataSource(form_);
  source->SetDataSet(table);
  auto* grid = form_->Make<fw::TDBGrid>("ExpenseGrid", form_);
  grid->SetBounds(0, 0, 380, 260);
  grid->AddColumn("ResourceName", "Photo Name", 350);
  grid->SetDataSource(source);
  table->Open();
  form_->Show();
  QApplication::processEvents();
  ASSERT_EQ(grid->Model().rowCount(), kRecords);
  EXPECT_EQ(grid->Model().CellText(0, 0).toStdString(), "photo000001");
  EXPECT_EQ(grid->Model().CellText(kRecords - 1, 0).toStdString(), "photo003000");
  EXPECT_EQ(grid->Model().CellText(1234, 0).toStdString(), "photo001235");

  grid->View()->setCurrentIndex(grid->Model().index(2500, 0));
  EXPECT_EQ(table->FieldByName("ResourceName")->AsString(), "photo002501");

  // The program walks to the end; a paint in between must not undo Eof.
  table->Last();
  table->Next();
  ASSERT_TRUE(table->Eof());
  EXPECT_EQ(grid->Model().CellText(700, 0).toStdString(), "photo000701");
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->FieldByName("ResourceName")->AsString(), "photo003000");
  table->First();
  EXPECT_EQ(grid->View()->currentIndex().row(), 0);
}

}  // namespace
