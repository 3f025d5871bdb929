// TDBGrid: a grid of a dataset's records on a TDataSetTableModel. The
// grid's current row is the dataset's current record both ways: moving in
// the grid moves the dataset (posting a pending edit, as any move does),
// and the dataset's moves select the row. The grid does not edit.
//
// Columns: AddColumn picks the fields shown with their titles and widths
// (pixels); without columns every visible field shows, titled with its
// display label and as wide as its display width in characters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/dbctrls/dataset_table_model.h"
#include "framework/forms/control.h"

class QTableView;

namespace fw {

class TDataSource;

enum TGridOption : unsigned {
  dgEditing = 1 << 0,
  dgTitles = 1 << 1,
  dgIndicator = 1 << 2,
  dgColumnResize = 1 << 3,
  dgColLines = 1 << 4,
  dgRowLines = 1 << 5,
  dgTabs = 1 << 6,
  dgRowSelect = 1 << 7,
  dgAlwaysShowSelection = 1 << 8,
  dgConfirmDelete = 1 << 9,
  dgCancelOnExit = 1 << 10,
};

struct TColumn {
  std::string FieldName;
  std::string TitleCaption;
  int Width = -1;  // pixels; -1: from the field's display width
};

class TDBGrid : public TControl {
 public:
  explicit TDBGrid(TComponent* owner);
  ~TDBGrid() override;

  TDataSource* DataSource() const { return model_->DataSource(); }
  void SetDataSource(TDataSource* source);
  void AddColumn(const std::string& field_name, const std::string& title, int width = -1);
  void ClearColumns();
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const TColumn& Columns(int index) const { return columns_.at(static_cast<std::size_t>(index)); }
  unsigned Options() const { return options_; }
  void SetOptions(unsigned options);

  TDataSetTableModel& Model() { return *model_; }
  QTableView* View() const;
  // The view row of the current record, -1 when none.
  int Row() const { return model_->CurrentRow(); }

  // A click on a cell: a left press on a data cell and its release
  // (wherever the mouse is then), after the grid moved the dataset (also
  // when the move re-sorted the rows under the mouse).
  TNotifyEvent OnCellClick;

 private:
  void ApplyColumns();
  void ShowCurrentRow();
  std::unique_ptr<TDataSetTableModel> model_;
  std::vector<TColumn> columns_;
  unsigned options_ = dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
                      dgConfirmDelete | dgCancelOnExit;
  bool syncing_ = false;
};

}  // namespace fw
