// TTolmidDBDataSet: a dataset bound to a database (TTolmidDatabase) of a
// session, found by DatabaseName within the session named SessionName.
//
// Attachment. Sixteen connection flags say why the dataset needs its
// database: flag 0 while the cursor is open, and (tables) flag 3 during a
// table operation, 4 while field definitions are read, 5 while index
// definitions are read. Setting the first flag attaches the dataset (the
// session's OpenDatabase finds or makes the database and counts it);
// clearing the last one detaches it (the session's CloseDatabase). So
// Database() is non-null exactly while some flag is set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dataset/tolmid_database.h"
#include "dataset/tolmid_dataset.h"

namespace dataset {

class TTolmidSession;

class TTolmidDBDataSet : public TTolmidDataSet, public AttachedDataSet {
 public:
  static constexpr int kCursorFlag = 0;
  static constexpr int kTableOperationFlag = 3;
  static constexpr int kFieldDefsFlag = 4;
  static constexpr int kIndexDefsFlag = 5;

  // Takes the name of an auto-named session of the same owner.
  explicit TTolmidDBDataSet(fw::TComponent* owner);
  ~TTolmidDBDataSet() override;

  [[nodiscard]] const std::string& DatabaseName() const { return database_name_; }
  // "Cannot perform this operation on an open dataset"; while attached to
  // a database "Cannot perform this operation on an open database.".
  void SetDatabaseName(std::string_view value);
  [[nodiscard]] const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string_view value);
  // The database while attached; nullptr otherwise.
  [[nodiscard]] TTolmidDatabase* Database() const { return database_; }
  [[nodiscard]] std::uint16_t DBFlags() const { return db_flags_; }

  // Closes the dataset (which detaches it).
  void Disconnect() override;
  // Attaches on the first flag set, detaches when the last one clears.
  virtual void SetDBFlag(int flag, bool value);

  // True for 0; any other engine code raises ETolmidEngineError.
  bool CheckResult(std::int32_t code) const;
  // The session of SessionName ("Session name %s is not valid.").
  [[nodiscard]] TTolmidSession& DBSession() const;
  // The database's Directory with a trailing separator ("" when none);
  // REQUIRES: attached.
  [[nodiscard]] std::string DirectoryPrefix() const;

 protected:
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;

 private:
  // A database component made before its named session existed joins it.
  void FixUpDatabase();

  std::uint16_t db_flags_ = 0;
  TTolmidDatabase* database_ = nullptr;
  std::string database_name_;
  std::string session_name_;
};

// Holds one connection flag of a dataset for a scope.
class DBFlagGuard {
 public:
  DBFlagGuard(TTolmidDBDataSet& dataset, int flag) : dataset_(dataset), flag_(flag) {
    dataset_.SetDBFlag(flag_, true);
  }
  ~DBFlagGuard() {
    try {
      dataset_.SetDBFlag(flag_, false);
    } catch (...) {
      // Detaching only drops a reference; a failure leaves the database open.
    }
  }
  DBFlagGuard(const DBFlagGuard&) = delete;
  DBFlagGuard& operator=(const DBFlagGuard&) = delete;

 private:
  TTolmidDBDataSet& dataset_;
  int flag_;
};

}  // namespace dataset
