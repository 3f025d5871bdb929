// TTolmidQuery: one SQL SELECT statement run by the SQL engine
// (sql::TDataQuery); its result (the live source table, or a canned result
// table) is the dataset's cursor. The cursor belongs to the statement,
// which lives from Prepare to UnPrepare (or Disconnect).
//
// Parameters. ':name' markers in the text become '?' for the engine and
// make the parameter list (ParamCheck); values are bound by position before
// every execution, each position with the value of the first parameter of
// its name. With a DataSource, parameters not bound by hand take the value
// of the master field of the same name, and the query runs again whenever
// the master moves.
//
// Connection flag 1 is held while the statement is prepared, so the
// database stays attached between Close and the next Open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/tolmid_db_dataset.h"
#include "dataset/tolmid_params.h"
#include "framework/db/data_link.h"
#include "framework/string_list.h"

namespace sql {
class TDataQuery;
}

namespace dataset {

class TTolmidQuery;

class TTolmidQueryDataLink : public fw::TDataLink {
 public:
  explicit TTolmidQueryDataLink(TTolmidQuery* query) : query_(query) {}

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void RecordChanged(fw::TField* field) override;
  bool IsDetailLink() const override { return true; }

 private:
  TTolmidQuery* query_;
};

// The statement text with ':name' markers replaced by '?' (and '::' by
// ':'); the parameters found are added to params when given, in text order.
[[nodiscard]] std::string ReplaceParameterMarkers(std::string_view text, TTolmidParams* params);

class TTolmidQuery : public TTolmidDBDataSet {
 public:
  static constexpr int kPreparedFlag = 1;

  using TQueryProgressEvent = std::function<void(TTolmidQuery& sender, std::int32_t current_record,
                                                 std::uint16_t percent_done, bool& abort_query)>;

  explicit TTolmidQuery(fw::TComponent* owner);
  ~TTolmidQuery() override;

  // --- SQL text
  [[nodiscard]] const fw::TStringList& SQL() const { return sql_; }
  // A different text disconnects the query; parameter values survive for
  // parameters of the same name.
  void SetSQL(const fw::TStringList& lines);
  void SetSQLText(const std::string& text);
  // The text the engine gets (markers replaced).
  [[nodiscard]] const std::string& Text() const { return text_; }

  // --- parameters
  [[nodiscard]] TTolmidParams& Params() { return params_; }
  [[nodiscard]] int ParamCount() const { return params_.Count(); }
  [[nodiscard]] TTolmidParam& ParamByName(const std::string& name) const {
    return params_.ParamByName(name);
  }
  // Values carried over by name.
  void SetParams(const TTolmidParams& values) { params_.AssignValues(values); }
  [[nodiscard]] bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool v) { param_check_ = v; }
  // The stored "Data" block of a form: kept as read, written unchanged.
  [[nodiscard]] const std::vector<std::uint8_t>& StoredData() const { return stored_data_; }
  void SetStoredData(std::vector<std::uint8_t> data) { stored_data_ = std::move(data); }

  // --- options
  [[nodiscard]] bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool v) { request_live_ = v; }
  [[nodiscard]] std::uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(std::uint8_t n);
  [[nodiscard]] std::uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(std::uint16_t ms);
  // "Circular datalinks are not allowed".
  void SetDataSource(fw::TDataSource* source);
  [[nodiscard]] fw::TDataSource* GetDataSource() const override { return data_link_.DataSource(); }
  TQueryProgressEvent OnQueryProgress;

  // --- statement
  // "Cannot perform this operation on an open dataset"; "No SQL statement
  // available" for a text shorter than 2 characters.
  // A statement prepared by Prepare() stays prepared after Close; one that
  // opening prepared is freed when the query closes, so a closed query holds
  // none of its source tables open (exclusive operations on them work).
  void Prepare() {
    SetPrepared(true);
    prepared_on_open_ = false;
  }
  void UnPrepare() { SetPrepared(false); }
  [[nodiscard]] bool Prepared() const { return prepared_; }
  // Closes the dataset and frees the statement.
  void Disconnect() override;
  void SetDBFlag(int flag, bool value) override;
  // The statement; nullptr while unprepared.
  [[nodiscard]] sql::TDataQuery* Statement() const { return statement_.get(); }

 protected:
  storage::TDataFile* CreateHandle() override;
  void CloseCursor() override;
  // A canned result is a scratch table: changes to it would be lost, so
  // only a live result can be modified.
  bool GetCanModify() const override;

 private:
  friend class TTolmidQueryDataLink;
  void SetPrepared(bool value);
  void PrepareSQL(const std::string& text);
  void QueryChanged();
  void SetParamsFromCursor();
  void BindParams();
  storage::TDataFile* OpenQueryCursor();
  void RefreshParams();

  std::unique_ptr<sql::TDataQuery> statement_;
  fw::TStringList sql_;
  bool prepared_ = false;
  bool prepared_on_open_ = false;  // prepared by CreateHandle, not by Prepare()
  TTolmidParams params_;
  std::string text_;
  TTolmidQueryDataLink data_link_;
  bool request_live_ = false;
  std::vector<std::uint8_t> stored_data_;
  bool param_check_ = true;
  std::uint8_t lock_retry_count_ = 15;
  std::uint16_t lock_wait_time_ = 100;
};

}  // namespace dataset
