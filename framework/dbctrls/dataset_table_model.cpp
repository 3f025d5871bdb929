#include "framework/dbctrls/dataset_table_model.h"

#include <QTimer>

#include <algorithm>
#include <cstdlib>

#include "framework/db/data_link.h"
#include "framework/db/dataset.h"
#include "framework/db/field.h"
#include "framework/forms/qt_text.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

// Datasets being peeked by some model; their events are the peek's own.
std::set<const TDataSet*>& Peeks() {
  static std::set<const TDataSet*> peeks;
  return peeks;
}

bool Peeking(const TDataSet* ds) { return ds != nullptr && Peeks().count(ds) != 0; }

struct PeekGuard {
  TDataSet& ds;
  explicit PeekGuard(TDataSet& d) : ds(d) {
    Peeks().insert(&ds);
    ds.DisableControls();
  }
  ~PeekGuard() {
    ds.EnableControls();
    Peeks().erase(&ds);
  }
};

// Moves by steps up to this distance, by SetRecNo beyond.
constexpr int kStepLimit = 16;

}  // namespace

void MoveToRecNo(TDataSet& dataset, int recno) {
  const int cur = dataset.RecNo();
  if (cur > 0 && std::abs(recno - cur) <= kStepLimit) {
    dataset.MoveBy(recno - cur);
    return;
  }
  dataset.SetRecNo(recno);
  if (dataset.RecNo() == recno) return;
  // A dataset that does not position by number.
  dataset.First();
  dataset.MoveBy(recno - 1);
}

class TDataSetTableModel::Link : public TDataLink {
 public:
  explicit Link(TDataSetTableModel* model) : model_(model) {}

 protected:
  void ActiveChanged() override { Run(&TDataSetTableModel::ActiveChanged); }
  void DataSetChanged() override { Run(&TDataSetTableModel::DataSetChanged); }
  void LayoutChanged() override { Run(&TDataSetTableModel::ActiveChanged); }
  void DataSetScrolled(int) override { Run(&TDataSetTableModel::Scrolled); }
  void RecordChanged(TField*) override { Run(&TDataSetTableModel::RecordChanged); }
  void EditingChanged() override { Run(&TDataSetTableModel::EditingChanged); }

 private:
  void Run(void (TDataSetTableModel::*handler)()) {
    if (Peeking(DataSet())) return;
    ++model_->in_event_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{model_->in_event_};
    (model_->*handler)();
  }
  TDataSetTableModel* model_;
};

TDataSetTableModel::TDataSetTableModel(QObject* parent) : QAbstractTableModel(parent), link_(new Link(this)) {
  link_->SetBufferCount(kBufferRows);
}

TDataSetTableModel::~TDataSetTableModel() { link_->SetDataSource(nullptr); }

TDataSource* TDataSetTableModel::DataSource() const { return link_->DataSource(); }

void TDataSetTableModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  ++in_event_;
  ActiveChanged();
  --in_event_;
}

void TDataSetTableModel::SetColumns(std::vector<Column> columns) {
  columns_ = std::move(columns);
  ++in_event_;
  ActiveChanged();
  --in_event_;
}

std::vector<TField*> TDataSetTableModel::Fields() const {
  std::vector<TField*> out;
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active()) return out;
  if (columns_.empty()) {
    for (int i = 0; i < ds->FieldCount(); ++i)
      if (ds->Fields(i)->Visible()) out.push_back(ds->Fields(i));
  } else {
    for (const Column& c : columns_) out.push_back(ds->FindField(c.field_name));
  }
  return out;
}

TField* TDataSetTableModel::ColumnField(int column) const {
  const std::vector<TField*> f = Fields();
  return column >= 0 && column < static_cast<int>(f.size()) ? f[static_cast<std::size_t>(column)] : nullptr;
}

int TDataSetTableModel::FieldColumn(const std::string& field_name) const {
  const std::vector<TField*> f = Fields();
  for (std::size_t i = 0; i < f.size(); ++i)
    if (f[i] != nullptr && AnsiSameText(f[i]->FieldName(), field_name)) return static_cast<int>(i);
  return -1;
}

int TDataSetTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !active_) return 0;
  return record_count_ + (insert_row_ >= 0 ? 1 : 0);
}

int TDataSetTableModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  if (!columns_.empty()) return static_cast<int>(columns_.size());
  return static_cast<int>(Fields().size());
}

QVariant TDataSetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Vertical) return QVariant();
  if (section < 0 || section >= columnCount()) return QVariant();
  if (!columns_.empty() && !columns_[static_cast<std::size_t>(section)].title.empty())
    return QStr(columns_[static_cast<std::size_t>(section)].title);
  if (TField* f = ColumnField(section)) return QStr(f->DisplayName());
  if (!columns_.empty()) return QStr(columns_[static_cast<std::size_t>(section)].field_name);
  return QVariant();
}

Qt::ItemFlags TDataSetTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant TDataSetTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  auto* self = const_cast<TDataSetTableModel*>(this);
  const std::size_t col = static_cast<std::size_t>(index.column());
  Row buffered;
  if (BufferedRow(index.row(), buffered)) return col < buffered.size() ? QVariant(buffered[col]) : QVariant();
  const Row* r = self->FindRow(index.row());
  if (r == nullptr || static_cast<std::size_t>(index.column()) >= r->size()) return QVariant();
  return (*r)[static_cast<std::size_t>(index.column())];
}

QString TDataSetTableModel::CellText(int row, int column) {
  return data(index(row, column), Qt::DisplayRole).toString();
}

TDataSetTableModel::Row TDataSetTableModel::CurrentTexts() const {
  Row out;
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active() || ds->IsEmpty()) return out;
  for (TField* f : Fields()) {
    QString text;
    if (f != nullptr) {
      try {
        text = QStr(f->DisplayText());
      } catch (...) {
        // A value that cannot be shown shows as nothing.
      }
    }
    out.push_back(text);
  }
  return out;
}

bool TDataSetTableModel::BufferedRow(int row, Row& out) const {
  // With controls disabled the program is moving the dataset without
  // telling us: the buffers are not where current_row_ says.
  TDataSet* ds = link_->DataSet();
  if (current_row_ < 0 || ds == nullptr || ds->ControlsDisabled()) return false;
  if (row == current_row_) {
    out = CurrentTexts();
    return true;
  }
  const int active = link_->ActiveRecord();
  const int buffer = active + (row - current_row_);
  if (buffer < 0 || buffer >= link_->RecordCount()) return false;
  // The framework's way of painting rows: the buffer is made the active
  // one for the reading, with no event and no move.
  link_->SetActiveRecord(buffer);
  try {
    out = CurrentTexts();
  } catch (...) {
    link_->SetActiveRecord(active);
    throw;
  }
  link_->SetActiveRecord(active);
  return true;
}

int TDataSetTableModel::RecordOfRow(int row) const {
  if (insert_row_ < 0) return row;
  if (row == insert_row_) return -1;
  return row > insert_row_ ? row - 1 : row;
}

bool TDataSetTableModel::CanPeek() const {
  TDataSet* ds = link_->DataSet();
  return ds != nullptr && link_->Active() && in_event_ == 0 && ds->State() == TDataSetState::dsBrowse &&
         !ds->ControlsDisabled() && !Peeking(ds) && !ds->IsEmpty();
}

const TDataSetTableModel::Row* TDataSetTableModel::FindRow(int row) {
  const int record = RecordOfRow(row);
  if (record < 0) return nullptr;
  const int page = record / kPageRows;
  auto it = pages_.find(page);
  if (it == pages_.end()) {
    if (!CanPeek()) {
      wanted_.insert(page);
      ScheduleReads();
      return nullptr;
    }
    ReadPage(page);
    it = pages_.find(page);
    if (it == pages_.end()) return nullptr;
  }
  const std::size_t at = static_cast<std::size_t>(record % kPageRows);
  return at < it->second.size() ? &it->second[at] : nullptr;
}

void TDataSetTableModel::ReadPage(int page) {
  TDataSet& ds = *link_->DataSet();
  std::vector<Row> rows;
  {
    PeekGuard peek(ds);
    const TBookmark back = ds.GetBookmark();
    const bool bof = ds.Bof(), eof = ds.Eof();
    try {
      const int first = page * kPageRows;
      if (first < record_count_) {
        MoveToRecNo(ds, first + 1);
        for (int i = 0; i < kPageRows && first + i < record_count_; ++i) {
          rows.push_back(CurrentTexts());
          ds.Next();
          if (ds.Eof()) break;
        }
      }
    } catch (...) {
      // Unreadable rows show empty; the page is not asked for again until
      // the dataset changes.
    }
    try {
      if (!back.empty()) ds.GotoBookmark(back);
      // The same Bof/Eof as before: a loop over the records must not see
      // the peek.
      if (eof) ds.Next();
      if (bof) ds.Prior();
    } catch (...) {
    }
  }
  if (static_cast<int>(pages_.size()) >= kMaxPages) pages_.clear();
  pages_[page] = std::move(rows);
}

void TDataSetTableModel::ScheduleReads() {
  if (read_scheduled_) return;
  read_scheduled_ = true;
  QTimer::singleShot(0, this, [this] { ReadWanted(); });
}

void TDataSetTableModel::ReadWanted() {
  read_scheduled_ = false;
  if (wanted_.empty()) return;
  if (!CanPeek()) {
    // Not now (editing, or the program iterates with controls disabled);
    // the next change of the dataset resets the cache and the view asks
    // again.
    if (link_->DataSet() == nullptr || !link_->Active() || link_->DataSet()->IsEmpty()) wanted_.clear();
    return;
  }
  const std::set<int> wanted = std::move(wanted_);
  wanted_.clear();
  for (int page : wanted) {
    if (pages_.count(page) != 0) continue;
    ReadPage(page);
    const int first = page * kPageRows;
    int top = first, bottom = std::min(first + kPageRows, record_count_) - 1;
    if (insert_row_ >= 0) {
      if (top >= insert_row_) ++top;
      if (bottom >= insert_row_) ++bottom;
    }
    if (bottom >= top && columnCount() > 0) emit dataChanged(index(top, 0), index(bottom, columnCount() - 1));
  }
}

bool TDataSetTableModel::Measure() {
  TDataSet* ds = link_->DataSet();
  const int old_count = record_count_, old_insert = insert_row_;
  const bool old_active = active_;
  active_ = ds != nullptr && link_->Active();
  if (!active_) {
    record_count_ = 0;
    insert_row_ = -1;
  } else {
    const int n = ds->RecordCount();
    record_count_ = n >= 0 ? n : link_->RecordCount();
    if (ds->State() == TDataSetState::dsInsert) {
      if (insert_row_ < 0)
        insert_row_ = ds->ActiveBookmarkFlag() == TBookmarkFlag::bfEOF ? record_count_
                                                                        : std::clamp(current_record_, 0, record_count_);
    } else {
      insert_row_ = -1;
    }
  }
  return old_active != active_ || old_count != record_count_ || old_insert != insert_row_;
}

void TDataSetTableModel::UpdateCurrent() {
  TDataSet* ds = link_->DataSet();
  int row = -1;
  if (active_ && ds != nullptr && !ds->IsEmpty()) {
    if (insert_row_ >= 0) {
      row = insert_row_;
    } else {
      const int recno = ds->RecNo();
      if (recno > 0) {
        current_record_ = recno - 1;
        row = current_record_;
      }
    }
  }
  if (row == current_row_) return;
  const int old = current_row_;
  current_row_ = row;
  // The old current row now reads from the cache, the new one live.
  if (columnCount() > 0) {
    if (old >= 0 && old < rowCount()) emit dataChanged(index(old, 0), index(old, columnCount() - 1));
    if (row >= 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  }
  emit currentRowChanged(current_row_);
}

void TDataSetTableModel::Reset() {
  beginResetModel();
  TDataSet* ds = link_->DataSet();
  const bool editing = ds != nullptr && link_->Active() &&
                       (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
  if (!editing) {
    pages_.clear();
    wanted_.clear();
  }
  Measure();
  current_row_ = -1;
  endResetModel();
  UpdateCurrent();
}

void TDataSetTableModel::ActiveChanged() {
  if (!link_->Active()) current_record_ = -1;
  Reset();
}

void TDataSetTableModel::DataSetChanged() {
  // Editing or inserting changes no stored record: the cache stays (the
  // rows around the new one are read from the buffers).
  TDataSet* ds = link_->DataSet();
  const bool editing = ds != nullptr && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
  if (!editing) {
    pages_.clear();
    wanted_.clear();
  }
  const bool before_insert = insert_row_ < 0;
  // The current record before an insert is where the new one goes.
  if (before_insert && link_->DataSet() != nullptr && link_->Active() &&
      link_->DataSet()->State() != TDataSetState::dsInsert) {
    const int recno = link_->DataSet()->RecNo();
    if (recno > 0) current_record_ = recno - 1;
  }
  beginResetModel();
  Measure();
  current_row_ = -1;
  endResetModel();
  UpdateCurrent();
}

void TDataSetTableModel::Scrolled() { UpdateCurrent(); }

void TDataSetTableModel::RecordChanged() {
  if (current_row_ >= 0 && columnCount() > 0)
    emit dataChanged(index(current_row_, 0), index(current_row_, columnCount() - 1));
}

void TDataSetTableModel::EditingChanged() {
  TDataSet* ds = link_->DataSet();
  // Entering insert state: the new row goes where the current record was.
  if (ds != nullptr && ds->State() == TDataSetState::dsInsert && insert_row_ < 0) {
    Reset();
    return;
  }
  if (insert_row_ >= 0 && (ds == nullptr || ds->State() != TDataSetState::dsInsert)) {
    Reset();
    return;
  }
  RecordChanged();
}

void TDataSetTableModel::SetCurrentRow(int row) {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active() || row < 0 || row >= rowCount() || row == current_row_) return;
  if (RecordOfRow(row) < 0) return;  // the row being inserted
  if (ds->State() != TDataSetState::dsBrowse) {
    // Moving posts a pending edit first; the rows may move with it.
    ds->CheckBrowseMode();
    row = std::min(row, rowCount() - 1);
  }
  const int record = RecordOfRow(row);
  if (record < 0 || record >= record_count_) return;
  MoveToRecNo(*ds, record + 1);
}

}  // namespace fw
