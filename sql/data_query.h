// TDataQuery: one SQL SELECT statement, from its text to the parsed form
// that validation and execution work on.
//
//   SELECT [ALL | DISTINCT] item [[AS] name[.name]], ...
//     [INTO [MEMORY] name]
//     FROM [MEMORY] table [correlation]
//          {[INNER | LEFT [OUTER] | RIGHT [OUTER]] JOIN table [correlation] ON condition}
//          , ...
//     [WHERE condition]
//     [GROUP BY column | number, ...]
//     [ORDER BY column | number [ASC | ASCENDING | DESC | DESCENDING], ...]
//     [WITH LOCKS]
//
// The clauses come in exactly this order. Keywords are case-insensitive and
// never quoted. ON conditions are ANDed into the WHERE tree in text order
// (ON conditions first, the WHERE condition last, each new one on the right
// of a new AND node); their column-to-column comparisons carry a join mark
// in the node's first reserved byte: 1 inner, 2 left, 3 right (0 = WHERE).
//
// Every syntax fault raises engine error 11949 with its message; the query
// keeps what was parsed up to the fault and its owner frees it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/sysutils.h"
#include "sql/join_plan.h"
#include "sql/query_items.h"
#include "sql/sql_lexer.h"
#include "storage/expression_node.h"
#include "storage/system_list.h"

namespace sql {

// Option and state flags of a query; all but live_requested are cleared by
// PrepareQuery.
struct QueryFlags {
  bool live_requested = false;
  bool distinct = false;
  bool avg_used = false;
  bool expression_columns = false;
  bool residual_join = false;
  bool parameters = false;
  bool join = false;            // more than one source table
  bool where = false;           // a WHERE clause was written
  bool order_by = false;
  bool order_by_matches_index = false;
  std::uint8_t live_index = 0;
  bool grouped = false;
  bool single_group = false;
  bool order_by_serves = false;  // the ORDER BY index serves grouping or DISTINCT
  bool live = false;
  bool in_memory_result = false;  // INTO MEMORY
};

// Where an expression stands: what it may hold and the name used in
// messages.
struct ParseContext {
  static constexpr std::uint8_t kAggregates = 1;
  static constexpr std::uint8_t kAllColumns = 2;  // the * symbol
  static constexpr std::uint8_t kExtendedPredicates = 4;
  static constexpr std::uint8_t kParameters = 8;
  std::uint8_t bits = 0;
  const char* name = "";
};

inline constexpr ParseContext kSelectItemContext{
    ParseContext::kAggregates | ParseContext::kAllColumns, "source columns"};
inline constexpr ParseContext kConditionContext{
    ParseContext::kExtendedPredicates | ParseContext::kParameters, "WHERE or JOIN clause"};

class ResultNameSet;

class TDataQuery {
 public:
  static constexpr std::uint16_t kErrorExecuted = 11047;

  using PasswordCallback = std::function<bool()>;
  // Sender, current record, percent done, abort.
  using ProgressCallback = std::function<void(TDataQuery&, std::int32_t, std::uint16_t, bool&)>;
  using Clock = std::function<fw::TDateTime()>;

  explicit TDataQuery(void* owner = nullptr);
  ~TDataQuery();
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Parses sql and validates it against its tables (ValidateSelect).
  // Returns 11047 when the query has been executed, else 0; syntax and
  // validation faults raise engine error 11949, tables that cannot be
  // opened their own engine errors. What an earlier preparation left is
  // dropped first.
  [[nodiscard]] std::uint16_t PrepareQuery(std::string_view sql);
  // The first half of PrepareQuery: the statement is parsed, no table is
  // touched.
  [[nodiscard]] std::uint16_t ParseQuery(std::string_view sql);

  void SetPasswordCallback(PasswordCallback callback) { password_callback_ = std::move(callback); }
  // The directory of table names without a directory part; ignored once the
  // query has been executed.
  void SetDirectory(std::string_view path);
  void SetProgressCallback(ProgressCallback callback) { progress_callback_ = std::move(callback); }
  // The clock that DATE and NOW read (the local time by default).
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  void SetLiveRequested(bool live) { flags_.live_requested = live; }

  // ------------------------------------------------------------ lexer
  int NextToken() { return lexer_.NextToken(); }
  [[nodiscard]] std::string TokenText() const { return lexer_.TokenText(); }
  [[nodiscard]] bool IsKeyword(std::string_view word) const { return lexer_.IsKeyword(word); }
  [[nodiscard]] bool IsQuotedWord(std::string_view word) const { return lexer_.IsQuotedWord(word); }
  [[nodiscard]] bool IsTokenType(int t) const { return lexer_.IsTokenType(t); }

  // ------------------------------------------------------------ grammar
  void ParseSelect();
  // Reads one select item into column.
  void ParseSelectItem(TResultDataField& column);
  // Reads one WHERE or ON condition and ANDs it into the WHERE tree;
  // join_mark (1 inner, 2 left, 3 right) marks its column-to-column
  // comparisons. A bare column reads as column = TRUE.
  void ParseCondition(std::uint8_t join_mark = 0);
  // A tree, or nullptr when the text ends where the expression should start.
  storage::ExpressionPtr ParseExpression(const ParseContext& context);

  // ------------------------------------------------------------ validation
  // (select_validator.cpp) Opens the sources, types and names the result
  // columns, and chooses and makes the result: a live result is the first
  // source's data file seen through the result columns; a canned result is
  // a new table (ResultDataFile). On a fault every table it opened is
  // closed and a result table it made is deleted again, then the fault is
  // raised; the parsed statement stays.
  void ValidateSelect();
  // The source and field number (1-based) of a column; field 0 for "*" or
  // an empty name (the first source without a correlation name). nullptr
  // when nothing matches.
  [[nodiscard]] TSourceDataFile* FindSourceColumn(std::string_view correlation,
                                                  std::string_view column,
                                                  int& field_number) const;
  // The result column a GROUP BY or ORDER BY item names, and its result
  // field number; nullptr when none. With a correlation name: the first
  // column of that correlation and source column name; without: the first
  // whose source column name or result name is name. Columns that are not
  // aggregates are preferred.
  [[nodiscard]] TResultDataField* FindResultColumn(std::string_view correlation,
                                                   std::string_view name,
                                                   int& result_field_number) const;
  // The column resolver of the expression checker: true when node names a
  // column of a source; the node then holds the field number, the source's
  // correlation name, the field's type, subtype, physical size and
  // decimals, and in reserved2 the source's FROM sequence number.
  bool ResolveColumn(storage::TExpressionNode& node) const;
  // The canned result table, open; nullptr for a live result or before
  // validation.
  [[nodiscard]] storage::TDataFile* ResultDataFile() const { return result_.get(); }
  // The data file a live result reads: the first source's.
  [[nodiscard]] storage::TDataFile* LiveDataFile() const;

  // ------------------------------------------------------------ execution
  // (query_exec.cpp) Runs the prepared query; cursor is the live source's
  // data file or the filled result table, moved before its first record.
  // 0, or 11047 when a BLOB value could not be copied (cursor nullptr).
  [[nodiscard]] std::uint16_t ExecuteQuery(storage::TDataFile*& cursor);
  // Binds the ? values: value i takes the type, subtype and physical size
  // of fields[i] and its value from record (null when the field's flag
  // byte is 0). Returns 0; a value past the parameter list raises
  // "Internal parameter error".
  std::uint16_t SetQueryParams(std::int32_t count, const storage::TFieldDescriptor* fields,
                               std::span<const std::byte> record);

  // ------------------------------------------------------------ state
  [[nodiscard]] void* Owner() const { return owner_; }
  [[nodiscard]] bool Executed() const { return executed_; }
  void SetExecuted() { executed_ = true; }
  [[nodiscard]] const std::string& Directory() const { return directory_; }
  [[nodiscard]] const QueryFlags& Flags() const { return flags_; }
  QueryFlags& MutableFlags() { return flags_; }
  [[nodiscard]] const std::string& ResultTableName() const { return result_table_name_; }
  [[nodiscard]] bool WithLocks() const { return with_locks_; }
  [[nodiscard]] std::string_view SqlText() const { return lexer_.Text(); }

  OwnedList<TSourceDataFile>& Sources() { return sources_; }
  OwnedList<TResultDataField>& Columns() { return columns_; }
  OwnedList<TOrderByDataField>& OrderBy() { return order_by_; }
  OwnedList<TGroupByDataField>& GroupBy() { return group_by_; }
  [[nodiscard]] const OwnedList<TSourceDataFile>& Sources() const { return sources_; }
  [[nodiscard]] const OwnedList<TResultDataField>& Columns() const { return columns_; }
  [[nodiscard]] const OwnedList<TOrderByDataField>& OrderBy() const { return order_by_; }
  [[nodiscard]] const OwnedList<TGroupByDataField>& GroupBy() const { return group_by_; }
  [[nodiscard]] const storage::TExpressionNode* Where() const { return where_.get(); }
  storage::ExpressionPtr& WhereTree() { return where_; }
  storage::ExpressionPtr& ResidualTree() { return residual_; }
  // The constant nodes made for the ? markers, in text order. The nodes
  // belong to the WHERE tree.
  [[nodiscard]] std::int32_t ParameterCount() const { return parameters_.Count(); }
  [[nodiscard]] storage::TExpressionNode* Parameter(std::int32_t i) const {
    return static_cast<storage::TExpressionNode*>(parameters_.Get(i));
  }

  std::uint8_t LockRetryCount = 15;
  std::uint16_t LockWaitTime = 100;

 private:
  class DepthGuard;

  void ClearParsed();
  // Validation steps (select_validator.cpp).
  void ValidateSteps();
  void OpenSource(TSourceDataFile& source);
  void TypeSelectItems();
  void NameResultColumns();
  [[nodiscard]] int AverageCount() const;
  // Replaces the "*" item at index by one plain column per field, named
  // against taken (the names of the columns before it) and added to it;
  // returns how many it inserted.
  std::int32_t ExpandAllColumns(std::int32_t index, int& counter, ResultNameSet& taken);
  // Field numbers of ORDER BY or GROUP BY items: result field numbers, or
  // with of_source the source field numbers of plain columns (0 for any
  // other column).
  std::vector<std::uint16_t> ItemFieldNumbers(bool order_by, bool of_source) const;
  bool MatchLiveIndex();
  void SetLiveFields();
  void CreateResultTable();
  std::vector<bool> OrderByDescending() const;
  // Closes every source; discard_result also deletes a result table (or
  // the reservation of its name) that this preparation made.
  void DropTables(bool discard_result) noexcept;
  void SortSourcesByJoinOrder();
  // (join_tree.cpp) Slots of the tables' own fields for the WHERE tree.
  void ExtractJoinConditions();
  void BuildJoinTree();
  // Resolves the WHERE tree's columns at preparation, so that a name that
  // is not in the FROM clause, and a join comparison whose side reads two
  // tables, are refused then.
  void CheckJoinNames();
  // Checks the WHERE tree once (at execution, when the ? values are
  // bound), its columns resolved against the tables' own fields; an
  // unbound ? is refused.
  void CheckWhere();
  bool ResolveStoredColumn(storage::TExpressionNode& node) const;
  // The plan (join_plan.h) from the checked WHERE tree.
  void BuildPlan();
  void PlaceConditions(JoinGroup& group, std::vector<PlanCondition> conditions,
                       const TableSet& outside, bool outermost);
  void ChooseKey(JoinStep& step, const TableSet& bound);
  void DropWhereFilters() noexcept;
  // Live: the whole WHERE as one callback filter. Canned: each table's own
  // conditions, those an index answers as one expression filter, the
  // others compiled to be tested as the table is read (record_condition.h).
  void ApplyWhereFilters();
  // The evaluator's field values from the sources' current record buffers.
  void LoadSourceField(storage::TExpressionNode& node) const;
  void EvaluateOnRows(const storage::TExpressionNode& tree, storage::TExpressionNode& result);
  bool AllHold(const std::vector<PlanCondition>& conditions);
  // (query_exec.cpp)
  struct ExecState;
  struct Continuation;
  bool Run(ExecState& st, const Continuation& k);
  bool RunTable(ExecState& st, JoinStep& step, const Continuation& next);
  void LoadRows(JoinStep& step);
  // Key access of a step: its rows kept and chained (LoadRows), or an
  // index seek per row before it (SeekRows).
  void ChooseAccess(JoinStep& step);
  bool SeekRows(ExecState& st, JoinStep& step, const Continuation& next);
  // The records of a table step's view: through its filter and condition.
  std::uint32_t ViewCount(JoinStep& step);
  bool EmitRow(ExecState& st);
  void BufferRow(ExecState& st);
  void FinishAverages(ExecState& st, std::span<std::byte> row);
  void CountValuesOnly(const TResultDataField& column);
  void InsertBuffered(ExecState& st);
  void FillAggregates(ExecState& st, std::span<std::byte> target, std::span<const std::byte> acc);
  std::uint16_t FillRow(ExecState& st, std::span<std::byte> row);
  void ParseSelectItems();
  void ParseInto();
  void ParseFrom();
  TSourceDataFile* NewSource(JoinKind kind, bool in_memory);
  void CheckDuplicateCorrelation(const TSourceDataFile& source);
  void ParseColumnList(bool order_by);
  [[noreturn]] void Expected(std::string_view text) const;

  storage::ExpressionPtr ParseAnd(const ParseContext& context);
  storage::ExpressionPtr ParseNot(const ParseContext& context);
  storage::ExpressionPtr ParsePredicate(const ParseContext& context);
  storage::ExpressionPtr ParseAdditive(const ParseContext& context);
  storage::ExpressionPtr ParseMultiplicative(const ParseContext& context);
  storage::ExpressionPtr ParsePrimary(const ParseContext& context);
  storage::ExpressionPtr ParseIdentifier(const ParseContext& context);
  storage::ExpressionPtr ParseAggregate(const ParseContext& context, storage::ExprOperator op);
  storage::ExpressionPtr ParseCaseFunction(const ParseContext& context, storage::ExprOperator op);
  storage::ExpressionPtr ParseSubstring(const ParseContext& context);
  storage::ExpressionPtr ParseTrim(const ParseContext& context);
  storage::ExpressionPtr ParseExtract(const ParseContext& context);
  storage::ExpressionPtr ParseColumn(const ParseContext& context, std::string_view correlation);
  storage::ExpressionPtr ParseInList(const ParseContext& context, storage::ExprOperator op,
                                     storage::ExpressionPtr tested);
  storage::ExpressionPtr ParseNumber(const ParseContext& context);
  storage::ExpressionPtr ParseParameter(const ParseContext& context);
  // Raises "<text>, instead found '<token>' in <context>".
  [[noreturn]] void ExpectedIn(std::string_view text, const ParseContext& context) const;

  void* owner_;
  bool executed_ = false;
  std::string directory_;
  QueryFlags flags_;
  std::string result_table_name_;  // from INTO, kept whole like table paths
  bool with_locks_ = false;

  SqlLexer lexer_;
  std::size_t item_start_ = 0;  // start of the current select item
  int depth_ = 0;               // expression nesting while parsing

  OwnedList<TSourceDataFile> sources_;
  OwnedList<TResultDataField> columns_;
  OwnedList<TOrderByDataField> order_by_;
  OwnedList<TGroupByDataField> group_by_;
  storage::ExpressionPtr where_;
  storage::ExpressionPtr residual_;
  // Where each condition ANDed into the WHERE tree came from, in text
  // order: 0 the WHERE clause, else the FROM sequence number of the table
  // whose ON clause it is. The tree is c1, AND(c1, c2), AND(AND(c1, c2),
  // c3), ...: the conditions are the right operands down its left spine.
  std::vector<std::int32_t> condition_sources_;
  std::int32_t on_source_ = 0;  // while an ON condition is read
  std::unique_ptr<JoinGroup> plan_;
  std::vector<TSourceDataFile*> by_sequence_;  // index = FROM sequence number
  storage::TSystemList parameters_;  // not owned: nodes of the WHERE tree
  std::int32_t from_sequence_ = 0;
  bool where_checked_ = false;

  std::int32_t scratch_filter_ = 0;
  std::unique_ptr<storage::TDataFile> result_;  // canned result
  bool result_created_ = false;
  bool result_empty_ = false;  // made by this preparation, nothing written to it yet
  std::string result_reserved_;  // temporary name reserved on disk, not yet a table
  ProgressCallback progress_callback_;
  PasswordCallback password_callback_;
  Clock clock_;
};

}  // namespace sql
