// MemoryDataSet: a concrete dataset over a std::vector of records, for
// testing the framework's TDataSet. Records keep their insertion order
// (Insert puts the new record before the current one, Append at the end);
// bookmarks are record ids. BLOB values live beside the record image.
//
// Record buffer: record image (per field: a has-value byte, then the
// value in the framework layout), the calculated-field area, then the
// info block: int32 id, u8 bookmark flag, then a pointer to the buffer's
// BLOB values.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/db/dataset.h"
#include "framework/streams.h"

namespace fw::testing {

struct ColumnDef {
  std::string name;
  TFieldType type;
  int size = 0;
  bool required = false;
};

class MemoryDataSet : public TDataSet {
 public:
  struct Row {
    int id = 0;
    std::vector<char> image;
    std::vector<std::string> blobs;  // one per field (empty for non-BLOB fields)
  };

  MemoryDataSet(TComponent* owner, std::vector<ColumnDef> schema)
      : TDataSet(owner), schema_(std::move(schema)) {
    int off = 0;
    for (const ColumnDef& s : schema_) {
      offsets_.push_back(off);
      std::unique_ptr<TField> probe(CreateFieldOfType(s.type, nullptr));
      if (s.size != 0) probe->SetSize(s.size);
      sizes_.push_back(probe->DataSize());
      off += 1 + probe->DataSize();
    }
    record_size_ = off;
  }
  ~MemoryDataSet() override {
    MarkDestroying();
    Close();
  }

  std::vector<Row>& Rows() { return rows_; }
  bool read_only = false;
  int fail_posts = 0;  // the next n InternalPost calls raise
  int fail_deletes = 0;
  bool fail_open = false;  // InternalOpen raises after making default fields
  int bad_row = -1;        // reading this row fails (raises when checking)

  // Direct access for tests: the stored value of field i of row r.
  bool StoredNull(std::size_t r, int i) const {
    return rows_[r].image[static_cast<std::size_t>(offsets_[static_cast<std::size_t>(i)])] == 0;
  }
  const char* StoredValue(std::size_t r, int i) const {
    return rows_[r].image.data() + offsets_[static_cast<std::size_t>(i)] + 1;
  }
  // Adds a row directly (dataset closed or not): values as text through a
  // scratch field object of each type.
  void AddRaw(const std::vector<std::pair<int, std::vector<char>>>& values) {
    Row row;
    row.id = next_id_++;
    row.image.assign(static_cast<std::size_t>(record_size_), 0);
    row.blobs.resize(schema_.size());
    for (const auto& [i, bytes] : values) {
      char* p = row.image.data() + offsets_[static_cast<std::size_t>(i)];
      p[0] = 1;
      std::memcpy(p + 1, bytes.data(), std::min<std::size_t>(bytes.size(), sizes_[static_cast<std::size_t>(i)]));
    }
    rows_.push_back(std::move(row));
  }

  char* FilterBuffer() const { return filter_buffer_; }
  bool GetFieldData(const TField* field, void* buffer) const override {
    const char* rec = StateBuffer();
    if (rec == nullptr) return false;
    const char* p;
    if (field->FieldNo() > 0) {
      p = rec + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    } else {
      p = rec + record_size_ + field->Offset();
    }
    if (p[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, p + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }

  void SetFieldData(TField* field, const void* buffer) override {
    TDataSetState s = State();
    bool calc_state = s == TDataSetState::dsCalcFields;
    if (s != TDataSetState::dsEdit && s != TDataSetState::dsInsert && !calc_state &&
        s != TDataSetState::dsFilter)
      DatabaseError(db_msg::kNotEditing, this);
    char* rec = StateBuffer();
    if (field->FieldNo() > 0) {
      if (calc_state) DatabaseError(db_msg::kNotEditing, this);
      if (field->ReadOnly() && s != TDataSetState::dsFilter)
        DatabaseErrorFmt(db_msg::kFieldReadOnly, {field->DisplayName()}, this);
      field->Validate(buffer);
      char* p = rec + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
      p[0] = buffer != nullptr ? 1 : 0;
      std::memset(p + 1, 0, static_cast<std::size_t>(field->DataSize()));
      if (buffer != nullptr) std::memcpy(p + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    } else {
      char* p = rec + record_size_ + field->Offset();
      p[0] = buffer != nullptr ? 1 : 0;
      if (buffer != nullptr) std::memcpy(p + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    }
    if (!calc_state && s != TDataSetState::dsFilter)
      DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field));
  }

  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;

  int GetRecordCount() const override {
    int n = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) n += Accepted(i) ? 1 : 0;
    return n;
  }
  int GetRecNo() const override {
    const char* b = ActiveBuffer();
    if (b == nullptr || IsEmpty() || Flag(b) != TBookmarkFlag::bfCurrent) return -1;
    int n = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (!Accepted(i)) continue;
      ++n;
      if (rows_[i].id == Id(b)) return n;
    }
    return -1;
  }
  void SetFiltered(bool value) override {
    TDataSet::SetFiltered(value);
    if (Active()) First();
  }

 protected:
  char* AllocRecordBuffer() override {
    char* b = new char[static_cast<std::size_t>(TotalSize())]();
    auto* blobs = new std::vector<std::string>(schema_.size());
    std::memcpy(b + InfoOffset() + 8, &blobs, sizeof blobs);
    return b;
  }
  void FreeRecordBuffer(char*& buffer) override {
    delete Blobs(buffer);
    delete[] buffer;
    buffer = nullptr;
  }
  void GetBookmarkData(const char* buffer, void* data) const override {
    std::memcpy(data, buffer + InfoOffset(), 4);
  }
  void SetBookmarkData(char* buffer, const void* data) override {
    std::memcpy(buffer + InfoOffset(), data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(const char* buffer) const override { return Flag(buffer); }
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override {
    buffer[InfoOffset() + 4] = static_cast<char>(flag);
  }

  TGetResult GetRecord(char* buffer, TGetMode mode, bool do_check) override {
    const int n = static_cast<int>(rows_.size());
    switch (mode) {
      case TGetMode::gmCurrent:
        if (pos_ < 0) return TGetResult::grBOF;
        if (pos_ >= n) return TGetResult::grEOF;
        if (!Accepted(static_cast<std::size_t>(pos_))) return TGetResult::grError;
        break;
      case TGetMode::gmNext: {
        int p = std::max(pos_ + 1, 0);
        while (p < n && !Accepted(static_cast<std::size_t>(p))) ++p;
        pos_ = p;
        if (p >= n) return TGetResult::grEOF;
        break;
      }
      case TGetMode::gmPrior: {
        int p = std::min(pos_ - 1, n - 1);
        while (p >= 0 && !Accepted(static_cast<std::size_t>(p))) --p;
        pos_ = p;
        if (p < 0) return TGetResult::grBOF;
        break;
      }
    }
    if (pos_ == bad_row) {
      if (do_check) DatabaseError("read failed");
      return TGetResult::grError;
    }
    Fill(buffer, rows_[static_cast<std::size_t>(pos_)]);
    GetCalcFields(buffer);
    return TGetResult::grOK;
  }
  int GetRecordSize() const override { return record_size_; }
  void InternalAddRecord(const char* buffer, bool append) override {
    Row row = RowFrom(buffer);
    if (append) {
      rows_.push_back(std::move(row));
      pos_ = static_cast<int>(rows_.size()) - 1;
    } else {
      int at = std::clamp(pos_, 0, static_cast<int>(rows_.size()));
      rows_.insert(rows_.begin() + at, std::move(row));
      pos_ = at;
    }
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }
  void InternalDelete() override {
    if (fail_deletes > 0) {
      --fail_deletes;
      DatabaseError("delete failed");
    }
    rows_.erase(rows_.begin() + pos_);
  }
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int>(rows_.size()); }
  void InternalGotoBookmark(const void* bookmark) override {
    int id;
    std::memcpy(&id, bookmark, 4);
    pos_ = IndexOfId(id);
    if (pos_ < 0) pos_ = -2;  // gone: gmCurrent fails
  }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const ColumnDef& s : schema_) FieldDefs().Add(s.name, s.type, s.size, s.required);
  }
  void InternalInitRecord(char* buffer) override {
    std::memset(buffer, 0, static_cast<std::size_t>(record_size_));
    for (auto& b : *Blobs(buffer)) b.clear();
  }
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    if (fail_open) DatabaseError("open failed");
    BindFields(true);
    SetBookmarkSize(4);
    pos_ = -1;
    open_ = true;
  }
  void InternalPost() override {
    if (fail_posts > 0) {
      --fail_posts;
      DatabaseError("post failed");
    }
    char* b = ActiveBuffer();
    if (State() == TDataSetState::dsEdit) {
      int i = IndexOfId(Id(b));
      Row row = RowFrom(b);
      row.id = Id(b);
      rows_[static_cast<std::size_t>(i)] = std::move(row);
      pos_ = i;
      return;
    }
    Row row = RowFrom(b);
    int at;
    switch (Flag(b)) {
      case TBookmarkFlag::bfInserted: at = std::max(IndexOfId(Id(b)), 0); break;
      case TBookmarkFlag::bfBOF: at = 0; break;
      default: at = static_cast<int>(rows_.size()); break;
    }
    rows_.insert(rows_.begin() + at, std::move(row));
    pos_ = at;
  }
  void InternalSetToRecord(char* buffer) override {
    int id = Id(buffer);
    InternalGotoBookmark(&id);
  }
  bool IsCursorOpen() const override { return open_; }
  bool GetCanModify() const override { return !read_only; }
  void ClearCalcFields(char* buffer) override {
    std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
  }
  bool GetIsIndexField(const TField*) const override { return false; }

 private:
  friend class MemoryBlobStream;
  int InfoOffset() const { return record_size_ + CalcFieldsSize(); }
  int TotalSize() const { return InfoOffset() + 8 + static_cast<int>(sizeof(void*)); }
  int Id(const char* b) const {
    int id;
    std::memcpy(&id, b + InfoOffset(), 4);
    return id;
  }
  TBookmarkFlag Flag(const char* b) const { return static_cast<TBookmarkFlag>(b[InfoOffset() + 4]); }
  std::vector<std::string>* Blobs(const char* b) const {
    std::vector<std::string>* p;
    std::memcpy(&p, b + InfoOffset() + 8, sizeof p);
    return p;
  }
  int IndexOfId(int id) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) return static_cast<int>(i);
    return -1;
  }
  void Fill(char* b, const Row& row) {
    std::memcpy(b, row.image.data(), static_cast<std::size_t>(record_size_));
    std::memcpy(b + InfoOffset(), &row.id, 4);
    SetBookmarkFlag(b, TBookmarkFlag::bfCurrent);
    *Blobs(b) = row.blobs;
  }
  Row RowFrom(const char* b) {
    Row row;
    row.id = next_id_++;
    row.image.assign(b, b + record_size_);
    row.blobs = *Blobs(b);
    return row;
  }
  bool Accepted(std::size_t i) const {
    if (!Filtered() || !OnFilterRecord()) return true;
    auto* self = const_cast<MemoryDataSet*>(this);
    if (!self->scratch_) {
      self->scratch_.reset(new char[static_cast<std::size_t>(record_size_ + CalcFieldsSize() + 1)]());
    }
    std::memcpy(self->scratch_.get(), rows_[i].image.data(), static_cast<std::size_t>(record_size_));
    char* saved = self->filter_buffer_;
    self->filter_buffer_ = self->scratch_.get();
    TDataSetState old = self->SetTempState(TDataSetState::dsFilter);
    bool accept = true;
    try {
      OnFilterRecord()(*self, accept);
    } catch (...) {
      self->RestoreState(old);
      self->filter_buffer_ = saved;
      throw;
    }
    self->RestoreState(old);
    self->filter_buffer_ = saved;
    return accept;
  }
  char* StateBuffer() const {
    switch (State()) {
      case TDataSetState::dsBrowse:
        return IsEmpty() ? nullptr : ActiveBuffer();
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
        return ActiveBuffer();
      case TDataSetState::dsCalcFields:
        return CalcBuffer();
      case TDataSetState::dsFilter:
        return filter_buffer_;
      default:
        return nullptr;
    }
  }

  std::vector<ColumnDef> schema_;
  std::vector<int> offsets_;
  std::vector<int> sizes_;
  int record_size_ = 0;
  std::vector<Row> rows_;
  int next_id_ = 1;
  int pos_ = -1;
  bool open_ = false;
  char* filter_buffer_ = nullptr;
  std::unique_ptr<char[]> scratch_;
};

// Byte access to one BLOB value of the active buffer.
class MemoryBlobStream : public TStream {
 public:
  MemoryBlobStream(MemoryDataSet* ds, TBlobField* field, std::string* value, bool writable)
      : ds_(ds), field_(field), value_(value), writable_(writable) {}
  ~MemoryBlobStream() override {
    if (modified_) {
      field_->SetModified(true);
      ds_->DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field_));
    }
  }
  std::int64_t Read(void* buffer, std::int64_t count) override {
    std::int64_t n = std::clamp<std::int64_t>(static_cast<std::int64_t>(value_->size()) - pos_, 0, count);
    std::memcpy(buffer, value_->data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (!writable_) return 0;
    if (static_cast<std::int64_t>(value_->size()) < pos_ + count)
      value_->resize(static_cast<std::size_t>(pos_ + count));
    std::memcpy(value_->data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ += count;
    modified_ = true;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    if (origin == TSeekOrigin::soCurrent) offset += pos_;
    if (origin == TSeekOrigin::soEnd) offset += static_cast<std::int64_t>(value_->size());
    pos_ = offset;
    return pos_;
  }
  void SetSize(std::int64_t n) override {
    value_->resize(static_cast<std::size_t>(n));
    modified_ = true;
  }

 private:
  MemoryDataSet* ds_;
  TBlobField* field_;
  std::string* value_;
  bool writable_;
  bool modified_ = false;
  std::int64_t pos_ = 0;
};

inline std::unique_ptr<TStream> MemoryDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  auto* blob = dynamic_cast<TBlobField*>(field);
  if (blob == nullptr || !Active()) return nullptr;
  bool editing = State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert;
  if (mode != TBlobStreamMode::bmRead) {
    if (field->ReadOnly()) DatabaseErrorFmt(db_msg::kFieldReadOnly, {field->DisplayName()}, this);
    if (!editing) DatabaseError(db_msg::kNotEditing, this);
  }
  char* b = StateBuffer();
  if (b == nullptr) return nullptr;
  std::string* value = &(*Blobs(b))[static_cast<std::size_t>(field->FieldNo() - 1)];
  if (mode == TBlobStreamMode::bmWrite) {
    value->clear();
    // Null flag of the BLOB field follows its value.
  }
  auto s = std::make_unique<MemoryBlobStream>(this, blob, value, mode != TBlobStreamMode::bmRead);
  if (mode != TBlobStreamMode::bmRead) b[offsets_[static_cast<std::size_t>(field->FieldNo() - 1)]] = 1;
  return s;
}

}  // namespace fw::testing
