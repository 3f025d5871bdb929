#include "sql/data_query.h"

#include "sql/sql_error.h"
#include "storage/table_names.h"

namespace sql {

TSourceDataFile::TSourceDataFile(TDataQuery* owner)
    : owner_(owner), data_file_(std::make_unique<storage::TDataFile>(owner)) {}

void TSourceDataFile::SetTableName(std::string_view name) {
  table_path_.clear();
  if (!storage::HasDirectoryPart(name) && owner_ != nullptr) {
    table_path_ = storage::IncludeTrailingBackslash(owner_->Directory());
  }
  table_path_ += name;
  if (correlation_name_.empty()) correlation_name_ = storage::ExtractTableName(name);
}

void TResultDataField::SetColumnName(std::string_view name) {
  column_name_ = ShortString(name);
  if (result_name_.empty() && name != "*") result_name_ = column_name_;
}

TDataQuery::TDataQuery(void* owner) : owner_(owner), clock_([] { return fw::Now(); }) {}

TDataQuery::~TDataQuery() {
  // The parameter list points into the WHERE tree: drop it first.
  parameters_.Clear();
}

void TDataQuery::SetDirectory(std::string_view path) {
  if (!executed_) directory_.assign(path);
}

void TDataQuery::ClearParsed() {
  parameters_.Clear();
  DropTables(false);
  sources_.Clear();
  columns_.Clear();
  order_by_.Clear();
  group_by_.Clear();
  where_.reset();
  residual_.reset();
  condition_sources_.clear();
  on_source_ = 0;
  plan_.reset();
  by_sequence_.clear();
  where_checked_ = false;
  from_sequence_ = 0;
  depth_ = 0;
  item_start_ = 0;
}

std::uint16_t TDataQuery::PrepareQuery(std::string_view sql) {
  const std::uint16_t code = ParseQuery(sql);
  if (code != 0) return code;
  ValidateSelect();
  return 0;
}

std::uint16_t TDataQuery::ParseQuery(std::string_view sql) {
  if (executed_) return kErrorExecuted;
  // A second preparation starts from nothing: the lists of the first would
  // otherwise be parsed into again.
  ClearParsed();
  lexer_.Reset(sql);
  const bool live = flags_.live_requested;
  flags_ = QueryFlags{};
  flags_.live_requested = live;
  with_locks_ = false;
  result_table_name_.clear();
  ParseSelect();
  return 0;
}

}  // namespace sql
