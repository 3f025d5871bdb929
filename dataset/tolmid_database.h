// TTolmidDatabase names a directory of tables within a session. It holds no
// engine object: being connected means only that datasets may attach to it.
// The connection handle is 0 when not connected, 1 when the database
// connected itself, or the handle of another connected database of the same
// name that it shares (HandleShared).
//
// A database named by a path (containing ':', '\' or '/') can only be a
// temporary one, made by a session's OpenDatabase; its Directory is the name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"

namespace dataset {

class TTolmidSession;

// What a database needs from a dataset attached to it.
class AttachedDataSet {
 public:
  // Closes the dataset, which detaches it from its database.
  virtual void Disconnect() = 0;

 protected:
  ~AttachedDataSet() = default;
};

class TTolmidDatabase : public fw::TComponent {
 public:
  // The session is owner when owner is a TTolmidSession, else the default
  // session; the database joins that session's list.
  explicit TTolmidDatabase(fw::TComponent* owner);
  ~TTolmidDatabase() override;

  [[nodiscard]] bool Connected() const { return handle_ != 0; }
  void SetConnected(bool value);
  void Open();
  void Close();
  [[nodiscard]] const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(std::string_view value);
  [[nodiscard]] std::string Directory() const;
  void SetDirectory(std::string_view value);
  [[nodiscard]] bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool value) { handle_shared_ = value; }
  [[nodiscard]] bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value);
  [[nodiscard]] const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string_view value);

  [[nodiscard]] bool Temporary() const { return temporary_; }
  [[nodiscard]] std::int32_t RefCount() const { return ref_count_; }
  [[nodiscard]] std::int32_t Handle() const { return handle_; }
  // The session it belongs to; nullptr after that session went away.
  [[nodiscard]] TTolmidSession* Session() const { return session_; }

  [[nodiscard]] int DataSetCount() const { return static_cast<int>(datasets_.size()); }
  [[nodiscard]] AttachedDataSet* DataSets(int index) const { return datasets_.at(index); }
  void AddDataSet(AttachedDataSet* dataset);
  void RemoveDataSet(AttachedDataSet* dataset);

  void Loaded() override;

 protected:
  void Notification(fw::TComponent* component, bool inserting) override;

 private:
  friend class TTolmidSession;
  friend class TTolmidDBDataSet;
  // Re-resolves the session from SessionName without activating it; stays
  // with the current one when no session has that name.
  void ResolveSession();
  void MoveToSession(TTolmidSession* session);
  // Raises "Database name %s already exists." unless name is free in
  // session (an unused temporary database of that name is freed).
  void CheckNameUnique(TTolmidSession* session, std::string_view name);

  std::vector<AttachedDataSet*> datasets_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  bool stream_connected_ = false;
  bool handle_shared_ = false;
  std::int32_t ref_count_ = 0;
  std::int32_t handle_ = 0;
  TTolmidSession* session_ = nullptr;
  std::string session_name_;
  std::string database_name_;
  std::string directory_;
};

// True when name contains ':', '\' or '/' (a path, not a database name).
[[nodiscard]] bool IsPathName(std::string_view name);

}  // namespace dataset
