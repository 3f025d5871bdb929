// TDataSetTableModel: a Qt table model over a dataset, for grids and
// lookup lists. It knows nothing of widgets.
//
// Rows are the dataset's records in its order: row r is the record with
// RecNo r + 1, and RecordCount gives the number of rows, so a table of any
// size opens at once and only the rows a view asks for are read. While a
// record is being inserted it shows as an extra row where it goes (before
// the record it was inserted at, or last when appended).
//
// Reading rows: the current record's row is read from the dataset's active
// buffer, live (a field being edited shows its new value). The rows around
// it are read from the dataset's record buffers (the model's link asks for
// kBufferRows of them), which needs no move and works in every state.
// Other rows come from a cache of pages of kPageRows display texts, kept
// while the dataset edits or inserts (its stored records have not changed)
// and dropped on any other change of the dataset. A missing page is read
// by moving the dataset there and back ("peeking"): controls disabled,
// bookmark taken, SetRecNo to the page's first record, Next through the
// page, back to the bookmark and to the same Bof/Eof state, controls
// enabled. Peeks happen only in browse state and never from inside a data
// event of the dataset (a view that asks then gets an empty cell and the
// page is read from the event loop, then announced with dataChanged).
// While any model peeks a dataset, every model on it ignores the dataset's
// events (they are the peek's own). BeforeScroll and AfterScroll handlers
// of the dataset do run during a peek.
//
// Moving: SetCurrentRow moves the dataset (posting a pending edit first,
// as any move does); the dataset's moves come back as currentRowChanged.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fw {

class TDataSet;
class TDataSource;
class TField;

class TDataSetTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kPageRows = 64;
  static constexpr int kBufferRows = 32;
  static constexpr int kMaxPages = 32;

  struct Column {
    std::string field_name;
    std::string title;  // empty: the field's display name
  };

  explicit TDataSetTableModel(QObject* parent = nullptr);
  ~TDataSetTableModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  // The columns shown; none: every visible field of the dataset.
  void SetColumns(std::vector<Column> columns);
  int ColumnCountDefined() const { return static_cast<int>(columns_.size()); }
  // The field of column (nullptr when the dataset has no such field).
  TField* ColumnField(int column) const;
  // The column of a field name (case-insensitive), -1 when not shown.
  int FieldColumn(const std::string& field_name) const;

  // The row of the current record, -1 when there is none.
  int CurrentRow() const { return current_row_; }
  // Moves the dataset to row's record.
  void SetCurrentRow(int row);
  // The text of a cell as the view shows it (reads the row if needed;
  // empty when it cannot be read now).
  QString CellText(int row, int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  void currentRowChanged(int row);

 private:
  class Link;
  friend class Link;
  using Row = std::vector<QString>;

  void ActiveChanged();
  void DataSetChanged();
  void Scrolled();
  void RecordChanged();
  void EditingChanged();
  // Re-reads count, insertion and current row; true when the row layout
  // (count or inserted row) changed.
  bool Measure();
  void UpdateCurrent();
  std::vector<TField*> Fields() const;
  int RecordOfRow(int row) const;  // record index, -1 for the inserted row
  // Reads a row's texts; nullptr when it cannot be read now.
  const Row* FindRow(int row);
  // The row's texts from the dataset's record buffers; false when the row
  // is not buffered.
  bool BufferedRow(int row, Row& out) const;
  bool CanPeek() const;
  void ReadPage(int page);
  void ScheduleReads();
  void ReadWanted();
  void Reset();
  Row CurrentTexts() const;

  std::unique_ptr<Link> link_;
  std::vector<Column> columns_;
  int record_count_ = 0;  // records of the dataset (without an inserted one)
  int insert_row_ = -1;   // row of the record being inserted
  int current_row_ = -1;
  int current_record_ = -1;  // record index of the current row while browsing
  bool active_ = false;
  int in_event_ = 0;
  std::map<int, std::vector<Row>> pages_;
  std::set<int> wanted_;
  bool read_scheduled_ = false;
};

// Moves dataset to the record with RecNo recno (1-based): SetRecNo, or
// First and MoveBy for a dataset that does not position by number.
void MoveToRecNo(TDataSet& dataset, int recno);

}  // namespace fw
