#include "framework/dbctrls/db_grid.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QTableView>

#include "framework/db/data_link.h"
#include "framework/db/field.h"
#include "framework/forms/application.h"

namespace fw {

namespace {

// Double clicks land on the view's viewport, not on the view.
class ViewportFilter : public QObject {
 public:
  ViewportFilter(TDBGrid* grid, QObject* parent) : QObject(parent), grid_(grid) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonDblClick && grid_->OnDblClick)
      Guarded([&] { grid_->OnDblClick(grid_); }, grid_);
    return false;
  }

 private:
  TDBGrid* grid_;
};

// The grid's view. A cell click is a left press on a data cell and its
// release, wherever the mouse is then (after a drag, or outside the grid):
// the press has moved the dataset, and a handler that follows the current
// record on cell clicks must hear of it. Qt's clicked signal asks for the
// same index at both ends, and the press can take that index away: moving
// posts a pending edit, the rows re-sort and the model is reset.
class GridView : public QTableView {
 public:
  explicit GridView(TDBGrid* grid) : grid_(grid) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    pressed_on_cell_ = event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid();
    QTableView::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const bool click = pressed_on_cell_ && event->button() == Qt::LeftButton;
    pressed_on_cell_ = false;
    QTableView::mouseReleaseEvent(event);
    // Last: the handler may free the grid.
    if (click && grid_->OnCellClick) Guarded([&] { grid_->OnCellClick(grid_); }, grid_);
  }

 private:
  TDBGrid* grid_;
  bool pressed_on_cell_ = false;
};

}  // namespace

TDBGrid::TDBGrid(TComponent* owner) : TControl(owner, new GridView(this)), model_(new TDataSetTableModel) {
  QTableView* view = View();
  view->setModel(model_.get());
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setWordWrap(false);
  // Fixed row heights: a view must never measure every row of a table.
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
  view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view->viewport()->installEventFilter(new ViewportFilter(this, view));
  QObject::connect(model_.get(), &TDataSetTableModel::currentRowChanged, view, [this] { ShowCurrentRow(); });
  QObject::connect(model_.get(), &QAbstractItemModel::modelReset, view, [this] { ApplyColumns(); });
  QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, view,
                   [this](const QModelIndex& current) {
                     if (syncing_ || !current.isValid()) return;
                     Guarded([&] { model_->SetCurrentRow(current.row()); }, this);
                     // A refused move leaves the dataset where it was.
                     ShowCurrentRow();
                   });
  SetOptions(options_);
}

TDBGrid::~TDBGrid() {
  // The view goes first: it must not ask the model for anything while the
  // model is being destroyed.
  delete Widget();
}

QTableView* TDBGrid::View() const { return static_cast<QTableView*>(Widget()); }

void TDBGrid::SetDataSource(TDataSource* source) { model_->SetDataSource(source); }

void TDBGrid::AddColumn(const std::string& field_name, const std::string& title, int width) {
  columns_.push_back({field_name, title, width});
  std::vector<TDataSetTableModel::Column> cols;
  for (const TColumn& c : columns_) cols.push_back({c.FieldName, c.TitleCaption});
  model_->SetColumns(std::move(cols));
}

void TDBGrid::ClearColumns() {
  columns_.clear();
  model_->SetColumns({});
}

void TDBGrid::SetOptions(unsigned options) {
  options_ = options;
  QTableView* view = View();
  view->setSelectionBehavior((options & dgRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  view->horizontalHeader()->setVisible((options & dgTitles) != 0);
  view->verticalHeader()->setVisible((options & dgIndicator) != 0);
  view->verticalHeader()->setFixedWidth((options & dgIndicator) ? 12 : 0);
  view->setShowGrid((options & (dgColLines | dgRowLines)) != 0);
  QPalette p = view->palette();
  if (options & dgAlwaysShowSelection) {
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
  }
  view->setPalette(p);
}

void TDBGrid::ApplyColumns() {
  QTableView* view = View();
  const QFontMetrics fm = view->fontMetrics();
  for (int i = 0; i < model_->columnCount(); ++i) {
    int width = i < ColumnCount() ? columns_[static_cast<std::size_t>(i)].Width : -1;
    if (width < 0) {
      TField* f = model_->ColumnField(i);
      const int chars = f != nullptr ? std::min(f->DisplayWidth(), 64) : 10;
      width = fm.averageCharWidth() * std::max(chars, 4) + 8;
    }
    view->setColumnWidth(i, width);
  }
}

void TDBGrid::ShowCurrentRow() {
  QTableView* view = View();
  syncing_ = true;
  const int row = model_->CurrentRow();
  if (row < 0 || model_->columnCount() == 0) {
    view->selectionModel()->clearSelection();
    view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  } else {
    const int col = std::max(0, view->currentIndex().column());
    const QModelIndex index = model_->index(row, col);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (options_ & dgRowSelect) flags |= QItemSelectionModel::Rows;
    view->selectionModel()->setCurrentIndex(index, flags);
    view->scrollTo(index);
  }
  syncing_ = false;
}

}  // namespace fw
