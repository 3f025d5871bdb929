#include "dataset/tolmid_query.h"

#include <algorithm>
#include <cstring>

#include "dataset/component_errors.h"
#include "dataset/field_type_map.h"
#include "dataset/tolmid_session.h"
#include "framework/db/field.h"
#include "framework/sysutils.h"
#include "sql/data_query.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"

namespace dataset {

using fw::TFieldType;

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"'; }

bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

}  // namespace

std::string ReplaceParameterMarkers(std::string_view text, TTolmidParams* params) {
  std::string out;
  out.reserve(text.size());
  bool literal = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsQuote(c)) {
      literal = !literal;
      out += c;
      ++i;
      continue;
    }
    if (literal || c != ':') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {
      out += ':';
      i += 2;
      continue;
    }
    // The name runs to a delimiter met outside quotes; a name that starts
    // with a quote may hold blanks.
    std::size_t j = i + 1;
    bool quoted = false;
    while (j < text.size()) {
      if (IsQuote(text[j]))
        quoted = !quoted;
      else if (!quoted && EndsName(text[j]))
        break;
      ++j;
    }
    std::string_view name = text.substr(i + 1, j - i - 1);
    if (!name.empty() && IsQuote(name.front())) name.remove_prefix(1);
    if (!name.empty() && IsQuote(name.back())) name.remove_suffix(1);
    if (name.empty()) {
      // A lone ':' names nothing: it stays as written.
      out += c;
      ++i;
      continue;
    }
    if (params != nullptr) params->CreateParam(TFieldType::ftUnknown, std::string(name), TParamType::ptUnknown);
    out += '?';
    i = j;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Data link

void TTolmidQueryDataLink::ActiveChanged() {
  if (query_->Active()) query_->RefreshParams();
}

void TTolmidQueryDataLink::CheckBrowseMode() {
  if (query_->Active()) query_->CheckBrowseMode();
}

void TTolmidQueryDataLink::RecordChanged(fw::TField* field) {
  if (field == nullptr && query_->Active()) query_->RefreshParams();
}

// ---------------------------------------------------------------------------
// Query

TTolmidQuery::TTolmidQuery(fw::TComponent* owner) : TTolmidDBDataSet(owner), data_link_(this) {}

TTolmidQuery::~TTolmidQuery() {
  MarkDestroying();
  try {
    Disconnect();
  } catch (...) {
    // A destructor must not raise; the statement is freed all the same.
  }
  data_link_.SetDataSource(nullptr);
}

void TTolmidQuery::SetSQL(const fw::TStringList& lines) {
  if (lines.Text() == sql_.Text()) return;
  Disconnect();
  sql_.Assign(lines);
  QueryChanged();
}

void TTolmidQuery::SetSQLText(const std::string& text) {
  fw::TStringList lines;
  lines.SetText(text);
  SetSQL(lines);
}

void TTolmidQuery::QueryChanged() {
  const std::string text = sql_.Text();
  if (Loading()) {
    text_ = ReplaceParameterMarkers(text, nullptr);
    return;
  }
  Disconnect();
  stored_data_.clear();
  if (param_check_ || Designing()) {
    TTolmidParams fresh;
    text_ = ReplaceParameterMarkers(text, &fresh);
    fresh.AssignValues(params_);
    params_.Assign(fresh);
  } else {
    text_ = ReplaceParameterMarkers(text, nullptr);
  }
  DataEvent(fw::TDataEvent::dePropertyChange);
}

void TTolmidQuery::SetLockRetryCount(std::uint8_t n) {
  lock_retry_count_ = n;
  if (statement_) statement_->LockRetryCount = n;
  if (Handle() != nullptr) Handle()->SetLockRetryCount(n);
}

void TTolmidQuery::SetLockWaitTime(std::uint16_t ms) {
  lock_wait_time_ = ms;
  if (statement_) statement_->LockWaitTime = ms;
  if (Handle() != nullptr) Handle()->SetLockWaitTime(ms);
}

void TTolmidQuery::SetDataSource(fw::TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source))
    fw::DatabaseError(fw::db_msg::kCircularDataLink, this);
  data_link_.SetDataSource(source);
}

void TTolmidQuery::Disconnect() {
  Close();
  SetPrepared(false);
}

void TTolmidQuery::SetDBFlag(int flag, bool value) {
  if (!value) {
    const auto bit = static_cast<std::uint16_t>(1u << (flag & 15));
    if ((DBFlags() & bit) != 0 && (DBFlags() & ~bit) == 0 && statement_ != nullptr &&
        !Active()) {
      statement_.reset();
      prepared_ = false;
    }
  }
  TTolmidDBDataSet::SetDBFlag(flag, value);
}

void TTolmidQuery::SetPrepared(bool value) {
  if (Active()) CheckInactive();
  if (value == prepared_) return;
  if (!value) {
    statement_.reset();
    prepared_ = false;
    SetDBFlag(kPreparedFlag, false);
    return;
  }
  SetDBFlag(kPreparedFlag, true);
  try {
    // Blank lines are no statement either.
    if (fw::Trim(text_).size() < 2) RaiseComponentError(ComponentMessage::kEmptySql);
    PrepareSQL(text_);
  } catch (...) {
    statement_.reset();
    SetDBFlag(kPreparedFlag, false);
    throw;
  }
  prepared_ = true;
}

void TTolmidQuery::PrepareSQL(const std::string& text) {
  auto statement = std::make_unique<sql::TDataQuery>(this);
  statement->SetLiveRequested(request_live_);
  statement->SetDirectory(DirectoryPrefix());
  statement->LockRetryCount = lock_retry_count_;
  statement->LockWaitTime = lock_wait_time_;
  TTolmidSession* session = Database() != nullptr ? Database()->Session() : nullptr;
  if (session != nullptr)
    statement->SetPasswordCallback([session] { return session->PasswordRequest(); });
  if (session != nullptr) {
    SessionLock lock(*session);
    CheckResult(statement->PrepareQuery(text));
  } else {
    CheckResult(statement->PrepareQuery(text));
  }
  statement->SetPasswordCallback(nullptr);
  statement_ = std::move(statement);
}

storage::TDataFile* TTolmidQuery::CreateHandle() {
  if (sql_.Count() == 0) RaiseComponentError(ComponentMessage::kEmptySql);
  if (!prepared_) {
    SetPrepared(true);
    prepared_on_open_ = true;
  }
  if (data_link_.DataSource() != nullptr) SetParamsFromCursor();
  return OpenQueryCursor();
}

void TTolmidQuery::CloseCursor() {
  // A failed open closes too, with no cursor made: the query stays prepared.
  const bool had_cursor = Handle() != nullptr;
  TTolmidDBDataSet::CloseCursor();
  if (had_cursor && prepared_on_open_) {
    prepared_on_open_ = false;
    SetPrepared(false);
  }
}

bool TTolmidQuery::GetCanModify() const {
  return TTolmidDBDataSet::GetCanModify() && statement_ != nullptr && statement_->Flags().live;
}

void TTolmidQuery::SetParamsFromCursor() {
  fw::TDataSet* master = data_link_.DataSet();
  if (master == nullptr) return;
  master->UpdateFieldDefs();
  for (int i = 0; i < params_.Count(); ++i) {
    TTolmidParam& p = params_.At(i);
    if (p.Bound()) continue;
    p.AssignField(*master->FieldByName(p.Name()));
    p.SetBound(false);
  }
}

void TTolmidQuery::BindParams() {
  const int count = params_.Count();
  // Types first: a parameter never given a value has none, and sizing it
  // would report the wrong fault.
  std::vector<std::size_t> sizes(static_cast<std::size_t>(count));
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) {
    const TTolmidParam& p = params_.Items(i);
    if (EngineFieldType(p.DataType()).type == 0)
      RaiseComponentError(ComponentMessage::kNoParameterValue, params_.At(i).Name());
    const std::size_t size = p.DataSize();
    if (p.DataType() == TFieldType::ftString && size > TTolmidParam::kMaxStringValue + 1)
      fw::DatabaseError("Parameter '" + p.Name() + "': a string value may hold at most " +
                            std::to_string(TTolmidParam::kMaxStringValue) + " characters",
                        this);
    if (size > 255) RaiseComponentError(ComponentMessage::kUnsupportedFieldType, p.Name());
    sizes[static_cast<std::size_t>(i)] = size;
    total += size + 1;
  }
  std::vector<std::byte> values(total);
  std::vector<storage::TFieldDescriptor> descriptors(static_cast<std::size_t>(count));
  std::size_t offset = 0;
  for (int i = 0; i < count; ++i) {
    const TTolmidParam& p = params_.Items(i);
    const std::size_t size = sizes[static_cast<std::size_t>(i)];
    storage::TFieldDescriptor& d = descriptors[static_cast<std::size_t>(i)];
    d.FieldNumber = static_cast<std::uint16_t>(i + 1);
    d.Name.Assign(p.Name());
    const EngineType e = EngineFieldType(p.DataType());
    d.FieldType = e.type;
    d.Subtype = e.subtype;
    d.PhysicalSize = static_cast<std::uint8_t>(size);
    if (p.DataType() == TFieldType::ftString) d.Size = 255;
    if (p.DataType() == TFieldType::ftBCD) d.PhysicalDecimals = 4;
    d.Offset = static_cast<std::uint16_t>(offset);
    values[offset] = std::byte{p.IsNull() ? std::uint8_t{0} : std::uint8_t{1}};
    p.GetData(values.data() + offset + 1);
    offset += size + 1;
  }
  if (offset > 0xFFFF) fw::DatabaseError("Parameter values too large to bind", this);
  storage::CheckEngineResult(statement_->SetQueryParams(count, descriptors.data(), values));
}

storage::TDataFile* TTolmidQuery::OpenQueryCursor() {
  if (params_.Count() > 0) BindParams();
  if (OnQueryProgress)
    statement_->SetProgressCallback(
        [this](sql::TDataQuery&, std::int32_t record, std::uint16_t percent, bool& abort) {
          OnQueryProgress(*this, record, percent, abort);
        });
  storage::TDataFile* cursor = nullptr;
  try {
    TTolmidSession* session = Database() != nullptr ? Database()->Session() : nullptr;
    if (session != nullptr) {
      SessionLock lock(*session);
      storage::CheckEngineResult(statement_->ExecuteQuery(cursor));
    } else {
      storage::CheckEngineResult(statement_->ExecuteQuery(cursor));
    }
  } catch (...) {
    statement_->SetProgressCallback(nullptr);
    throw;
  }
  statement_->SetProgressCallback(nullptr);
  if (cursor != nullptr) {
    cursor->SetLockRetryCount(lock_retry_count_);
    cursor->SetLockWaitTime(lock_wait_time_);
  }
  return cursor;
}

void TTolmidQuery::RefreshParams() {
  fw::TDataSet* master = data_link_.DataSet();
  if (!Active() || master == nullptr || !master->Active() ||
      master->State() == fw::TDataSetState::dsSetKey)
    return;
  DisableControls();
  try {
    Close();
    Open();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

}  // namespace dataset
