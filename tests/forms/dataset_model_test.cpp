// The dataset table model and the grid: a model-based random walk under
// QAbstractItemModelTester, a table of 100,000 records that opens and
// scrolls reading only what is shown, peeks that leave the dataset exactly
// where it was (Bof/Eof included) and never run inside a dataset event, and
// the grid's current row following the dataset both ways.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <random>

#include "framework/db/data_link.h"
#include "framework/dbctrls/dataset_table_model.h"
#include "framework/dbctrls/db_grid.h"
#include "tests/forms/db_test_support.h"
#include "tests/forms/forms_test_support.h"

namespace {

using formstest::AppTest;
using formstest::CountingDataSet;
using formstest::TestForm;

using DataSetModelTest = AppTest;

std::vector<std::string> ModelNames(fw::TDataSetTableModel& m) {
  std::vector<std::string> out;
  for (int r = 0; r < m.rowCount(); ++r) out.push_back(m.CellText(r, 1).toStdString());
  return out;
}

std::vector<std::string> StoredNames(CountingDataSet& ds) {
  std::vector<std::string> out;
  for (std::size_t r = 0; r < ds.Rows().size(); ++r) out.push_back(ds.StoredNull(r, 1) ? "" : ds.StoredValue(r, 1));
  return out;
}

// Random navigation and edits; after each step (and the event loop's turn)
// the model must show exactly the stored records, in order, with the
// current row on the dataset's record.
TEST_F(DataSetModelTest, RandomWalkMatchesTheDataset) {
  auto* ds = new CountingDataSet(&App(), formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 150);
  auto* source = new fw::TDataSource(&App());
  source->SetDataSet(ds);
  ds->Open();
  fw::TDataSetTableModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetDataSource(source);
  std::mt19937 rng(7);
  int next_name = 1000;
  for (int step = 0; step < 400; ++step) {
    const int op = static_cast<int>(rng() % 9);
    switch (op) {
      case 0: ds->MoveBy(static_cast<int>(rng() % 21) - 10); break;
      case 1: rng() % 2 ? ds->First() : ds->Last(); break;
      case 2:
        model.SetCurrentRow(static_cast<int>(rng() % static_cast<unsigned>(std::max(1, model.rowCount()))));
        break;
      case 3:
        ds->Insert();
        ds->FieldByName("Name")->SetAsString("new" + std::to_string(next_name++));
        break;
      case 4:
        ds->Append();
        ds->FieldByName("Name")->SetAsString("app" + std::to_string(next_name++));
        break;
      case 5:
        if (!ds->IsEmpty()) {
          ds->Edit();
          ds->FieldByName("Name")->SetAsString("edit" + std::to_string(next_name++));
        }
        break;
      case 6:
        if (ds->State() != fw::TDataSetState::dsBrowse) ds->Post();
        break;
      case 7: ds->Cancel(); break;
      case 8:
        if (!ds->IsEmpty() && rng() % 3 == 0) ds->Delete();
        break;
    }
    QApplication::processEvents();
    const bool inserting = ds->State() == fw::TDataSetState::dsInsert;
    const bool browsing = ds->State() == fw::TDataSetState::dsBrowse;
    std::vector<std::string> expect = StoredNames(*ds);
    std::vector<std::string> shown = ModelNames(model);
    if (inserting) {
      ASSERT_EQ(shown.size(), expect.size() + 1) << "step " << step;
      ASSERT_EQ(shown[static_cast<std::size_t>(model.CurrentRow())], ds->FieldByName("Name")->AsString()) << step;
      shown.erase(shown.begin() + model.CurrentRow());
    } else {
      if (!browsing) expect[static_cast<std::size_t>(ds->RecNo() - 1)] = ds->FieldByName("Name")->AsString();
      ASSERT_EQ(model.CurrentRow(), ds->IsEmpty() ? -1 : ds->RecNo() - 1) << "step " << step;
    }
    ASSERT_EQ(shown.size(), expect.size()) << "step " << step;
    // While editing, rows that are neither buffered nor cached cannot be
    // read (that would move the dataset) and show empty; nothing shows
    // wrong, and in browse state everything shows.
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (browsing || !shown[i].empty()) {
        ASSERT_EQ(shown[i], expect[i]) << "step " << step << " row " << i;
      }
    }
  }
}

// Peeking moves the dataset and back: Bof and Eof must come back too, or
// a loop "while not Eof" around a paint would run again.
TEST_F(DataSetModelTest, PeeksLeaveBofEofAndRecordAsTheyWere) {
  auto* ds = new CountingDataSet(&App(), formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 500);
  auto* source = new fw::TDataSource(&App());
  source->SetDataSet(ds);
  ds->Open();
  fw::TDataSetTableModel model;
  model.SetDataSource(source);
  int scrolls = 0;
  ds->AfterScroll = [&](fw::TDataSet&) { ++scrolls; };
  struct Case {
    const char* name;
    std::function<void()> place;
    int row_to_read;
  };
  const std::vector<Case> cases = {
      {"at Eof", [&] { ds->Last(); ds->Next(); }, 3}, {"at Bof", [&] { ds->First(); }, 400},
      {"middle", [&] { ds->First(); ds->MoveBy(250); }, 10},
  };
  for (const Case& c : cases) {
    c.place();
    const int recno = ds->RecNo();
    const bool bof = ds->Bof(), eof = ds->Eof();
    EXPECT_EQ(model.CellText(c.row_to_read, 1).toStdString(), "name" + std::to_string(c.row_to_read + 1)) << c.name;
    EXPECT_EQ(ds->RecNo(), recno) << c.name;
    EXPECT_EQ(ds->Bof(), bof) << c.name;
    EXPECT_EQ(ds->Eof(), eof) << c.name;
    EXPECT_EQ(model.CurrentRow(), recno - 1) << c.name;
  }
  EXPECT_GT(scrolls, 0);
}

// A view asking for rows from inside a dataset event (here: the model's
// reset during a post) gets empty cells; the rows are read afterwards from
// the event loop, and the dataset is not moved under the running post.
TEST_F(DataSetModelTest, NoPeekInsideDataSetEvents) {
  auto* ds = new CountingDataSet(&App(), formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 300);
  auto* source = new fw::TDataSource(&App());
  source->SetDataSet(ds);
  ds->Open();
  fw::TDataSetTableModel model;
  model.SetDataSource(source);
  ds->MoveBy(5);
  QString during;
  int recno_during = 0;
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] {
    during = model.CellText(250, 1);
    recno_during = ds->RecNo();
  });
  std::vector<int> changed;
  QObject::connect(&model, &QAbstractItemModel::dataChanged,
                   [&](const QModelIndex& a, const QModelIndex& b) {
                     if (a.row() <= 250 && 250 <= b.row()) changed.push_back(a.row());
                   });
  ds->Edit();
  ds->FieldByName("Name")->SetAsString("edited");
  ds->Post();
  EXPECT_TRUE(during.isEmpty());
  EXPECT_EQ(ds->RecNo(), 6);
  QApplication::processEvents();
  EXPECT_FALSE(changed.empty());
  EXPECT_EQ(model.CellText(250, 1).toStdString(), "name251");
  EXPECT_EQ(model.CellText(5, 1).toStdString(), "edited");
}

TEST_F(DataSetModelTest, HundredThousandRecordsOpenAndScrollReadingOnlyWhatShows) {
  auto* form = fw::NewForm<TestForm>(&App());
  form->SetClientSize(400, 300);
  auto* ds = new CountingDataSet(form, formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 100000);
  auto* source = new fw::TDataSource(form);
  source->SetDataSet(ds);
  auto* grid = form->Make<fw::TDBGrid>("ExpenseGrid", form);
  grid->SetAlign(fw::TAlign::alClient);
  grid->SetOptions(grid->Options() | fw::dgRowSelect | fw::dgAlwaysShowSelection);
  grid->AddColumn("Name", "Photo Name", 350);
  QAbstractItemModelTester tester(&grid->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  grid->SetDataSource(source);
  ds->Open();
  form->Show();
  QApplication::processEvents();
  EXPECT_EQ(grid->Model().rowCount(), 100000);
  EXPECT_LT(ds->reads, 3 * fw::TDataSetTableModel::kPageRows);
  ds->reads = 0;
  grid->View()->scrollToBottom();
  grid->View()->viewport()->repaint();
  QApplication::processEvents();
  EXPECT_LT(ds->reads, 4 * fw::TDataSetTableModel::kPageRows);
  EXPECT_EQ(grid->Model().CellText(99999, 0).toStdString(), "name100000");

  // The user picks a row: the dataset goes there; the dataset moves: the
  // grid follows.
  const QModelIndex last = grid->Model().index(99998, 0);
  grid->View()->setCurrentIndex(last);
  EXPECT_EQ(ds->RecNo(), 99999);
  ds->First();
  EXPECT_EQ(grid->View()->currentIndex().row(), 0);
  ds->MoveBy(41);
  EXPECT_EQ(grid->View()->currentIndex().row(), 41);
  EXPECT_TRUE(grid->View()->selectionModel()->isRowSelected(41, QModelIndex()));
  delete form;
}

TEST_F(DataSetModelTest, GridStaysOnTheRecordWhenAMoveIsRefused) {
  testsupport::ScriptedMessages boxes;
  boxes.Answer(fw::mrOk);
  auto* form = fw::NewForm<TestForm>(&App());
  auto* ds = new CountingDataSet(form, formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 20);
  auto* source = new fw::TDataSource(form);
  source->SetDataSet(ds);
  auto* grid = form->Make<fw::TDBGrid>("RecipientGrid", form);
  grid->SetBounds(0, 0, 300, 200);
  grid->SetDataSource(source);
  int cell_clicks = 0, double_clicks = 0;
  grid->OnCellClick = [&](fw::TComponent*) { ++cell_clicks; };
  grid->OnDblClick = [&](fw::TComponent*) { ++double_clicks; };
  ds->Open();
  form->Show();
  QApplication::processEvents();
  ds->MoveBy(2);
  ds->Edit();
  ds->FieldByName("Name")->SetAsString("pending");
  ds->fail_posts = 1;
  // Moving posts the pending edit first; the post fails.
  grid->View()->setCurrentIndex(grid->Model().index(7, 0));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"post failed"});
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsEdit);
  EXPECT_EQ(grid->View()->currentIndex().row(), 2);
  ds->Post();
  const QRect cell = grid->View()->visualRect(grid->Model().index(4, 0));
  QTest::mouseClick(grid->View()->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid->View()->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(ds->RecNo(), 5);
  EXPECT_GE(cell_clicks, 1);
  EXPECT_EQ(double_clicks, 1);
  delete form;
}

// Two grids on one dataset: each one's peeks are not the other's changes
// (no endless resets between them).
TEST_F(DataSetModelTest, TwoGridsOnOneDatasetSettle) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* ds = new CountingDataSet(form, formstest::NumberedSchema());
  formstest::FillNumbered(*ds, 1000);
  auto* source = new fw::TDataSource(form);
  source->SetDataSet(ds);
  fw::TDBGrid* grids[2];
  for (int i = 0; i < 2; ++i) {
    grids[i] = form->Make<fw::TDBGrid>(i == 0 ? "ExpenseGrid" : "QuickBrowse", form);
    grids[i]->SetBounds(0, i * 150, 300, 150);
    grids[i]->SetDataSource(source);
  }
  int resets = 0;
  for (auto* g : grids) QObject::connect(&g->Model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
  ds->Open();
  form->Show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  grids[1]->View()->scrollTo(grids[1]->Model().index(900, 0));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const int settled = resets;
  const int reads = ds->reads;
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(resets, settled);
  EXPECT_EQ(ds->reads, reads);
  EXPECT_EQ(grids[1]->Model().CellText(900, 1).toStdString(), "name901");
  delete form;
}

}  // namespace
