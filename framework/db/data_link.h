// TDataSource and TDataLink: how data-aware controls (and detail datasets)
// follow a dataset. A dataset sends each data event to its data sources in
// the order they were attached; a data source passes it to its links in
// the order they were attached, detail links first (so that detail
// datasets follow before the controls repaint), except deUpdateRecord,
// which reaches the controls first.
//
// A link sees a window of BufferCount consecutive record buffers of the
// dataset, starting at buffer first_record_; the dataset's active row is
// always inside it, and ActiveRecord is its position there.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "framework/component.h"
#include "framework/db/db_common.h"

namespace fw {

class TDataSet;
class TDataSource;
class TField;

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* data_source);
  TDataSet* DataSet() const;
  // The data source has an enabled, open dataset.
  bool Active() const { return active_; }
  // The dataset is in the edit, insert or set-key state (and the link is
  // not read-only).
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);
  int ActiveRecord() const;
  // Makes row value of the window the dataset's active row (for painting
  // rows; no events). Restore it afterwards.
  void SetActiveRecord(int value);
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int value);
  int RecordCount() const;
  // Puts the dataset into edit state through the data source (AutoEdit);
  // returns Editing.
  bool Edit();
  // Makes the controls store their values (deUpdateRecord), without this
  // link's own UpdateData being confused by the echo of its change.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The window moved by distance records (positive: forward).
  virtual void DataSetScrolled(int distance) { (void)distance; DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* field) { (void)field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* field) { (void)field; }
  virtual void UpdateData() {}
  // A link through which a detail dataset follows its master.
  virtual bool IsDetailLink() const { return false; }

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void ClampWindow();

  TDataSource* data_source_ = nullptr;
  int first_record_ = 0;
  int buffer_count_ = 1;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
};

class TDataSource : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSource&)>;
  using TDataChangeEvent = std::function<void(TDataSource&, TField*)>;

  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // "Circular datalinks are not allowed" when dataset leads back here
  // through its master links.
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool v) { auto_edit_ = v; }
  // The dataset's state as the links see it (inactive when disabled).
  TDataSetState State() const { return state_; }
  // Edit when AutoEdit and the dataset is browsing.
  void Edit();
  // Whether dataset leads, through master links, to this data source.
  bool IsLinkedTo(const TDataSet* dataset) const;
  int DataLinkCount() const { return static_cast<int>(links_.size()); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyState();
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link, bool notify);
  bool HasLink(const TDataLink* link) const;

  TDataSet* dataset_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = TDataSetState::dsInactive;
  bool enabled_ = true;
  bool auto_edit_ = true;
};

}  // namespace fw
