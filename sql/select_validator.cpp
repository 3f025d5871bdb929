// Validation of a parsed SELECT against its tables (see data_query.h), and
// the choice and making of its result.
//
// Steps, in order:
//   1. DISTINCT with GROUP BY: DISTINCT is dropped.
//   2. Every source is opened, in list order.
//   3. Every select item is checked; a lone column is a plain column.
//   4. Only aggregates and no GROUP BY: one group. (With GROUP BY the
//      statement asks for one row per group, and gets them or a message
//      about its GROUP BY items, never a single total.)
//   5. Columns are resolved, numbered and named; "*" is expanded.
//   6. A live request with ORDER BY looks for a matching index. An index
//      of the table keys the table's own field numbers, so the items are
//      matched by the source field numbers of their columns, not by their
//      places in the select list; an expression never matches.
//   7. Live result: the first source seen through the result columns.
//   8. Otherwise a canned result: field and index descriptors.
//   9. The result table is created and opened.
// Result field numbers run 1..n in select order; in the result table the
// column of result field number k is stored field k + 1 (Row___No is 1).
#include <algorithm>
#include <string>
#include <vector>

#include "platform/file.h"
#include "sql/data_query.h"
#include "sql/result_table.h"
#include "sql/sql_error.h"
#include "storage/expression_check.h"
#include "storage/session.h"
#include "storage/table_names.h"

namespace sql {

using storage::TDataFile;
using storage::TExpressionNode;
using storage::TFieldDescriptor;
using storage::TIndexDescriptor;

namespace {

constexpr const char* kSourceColumns = "source columns";

[[noreturn]] void InvalidColumn(std::string_view name, std::string_view correlation,
                                std::string_view where) {
  SqlError("Invalid column name '" + std::string(name) + "'" + " or table correlation name " +
           "'" + std::string(correlation) + "'" + " specified in " + std::string(where));
}

[[noreturn]] void TooManyColumns(int limit, std::string_view where) {
  SqlError("Maximum number of columns (" + std::to_string(limit) + ") in " + std::string(where) +
           " " + "exceeded");
}

bool IsPlain(const TResultDataField& c) {
  return !c.expression_ && c.aggregate_ == AggregateKind::kNone;
}

// The size of a checked string expression before the checker bounds it
// to a field's 251: a concatenation counts both sides (less one
// terminating zero), so 'x' || a of a 250-character a is 252 and does not
// fit a result column.
std::int64_t StringSize(const TExpressionNode& n) {
  if (n.type != storage::FieldType::kString) return n.size;
  if (n.kind == storage::NodeKind::kBinary && n.op == storage::ExprOperator::kAdd && n.left &&
      n.right) {
    // A chain nesting to the right is walked in a loop; one nesting to the
    // left, as the parser groups them, is bounded by the parser's nesting
    // limit.
    std::int64_t size = 0;
    int parts = 0;
    const TExpressionNode* at = &n;
    while (at->kind == storage::NodeKind::kBinary && at->op == storage::ExprOperator::kAdd &&
           at->left && at->right && at->type == storage::FieldType::kString) {
      size += StringSize(*at->left);
      ++parts;
      at = at->right.get();
    }
    return size + StringSize(*at) - parts;
  }
  if ((n.op == storage::ExprOperator::kUpper || n.op == storage::ExprOperator::kLower ||
       (n.op >= storage::ExprOperator::kTrimLeading && n.op <= storage::ExprOperator::kTrimBoth)) &&
      n.kind == storage::NodeKind::kFunction && n.left) {
    return StringSize(*n.left);
  }
  return n.size;
}

// A string counts its terminating zero in its size: a column of 250
// characters has size 251 and fits a field.
bool ExceedsFieldSize(const TResultDataField& c) {
  if (c.type_ == storage::TypeCode(storage::FieldType::kString)) {
    return c.size_ > 251 || (c.tree_ && StringSize(*c.tree_) > 251);
  }
  return c.size_ > storage::kMaxDeclaredSize;
}

}  // namespace

// ---------------------------------------------------------------- lookups

TSourceDataFile* TDataQuery::FindSourceColumn(std::string_view correlation,
                                              std::string_view column, int& field_number) const {
  field_number = 0;
  const bool all = column.empty() || column == "*";
  auto field_of = [&](const TSourceDataFile& source) {
    const TDataFile& file = *source.data_file_;
    if (!file.IsOpen()) return 0;
    for (int n = 1; n <= file.WorkingFieldCount(); ++n) {
      if (SameAnsiText(file.GetFieldDescriptor(true, n).Name.View(), column)) return n;
    }
    return 0;
  };
  if (correlation.empty()) {
    if (all) return sources_.Count() > 0 ? sources_.Get(0) : nullptr;
    TSourceDataFile* found = nullptr;
    for (std::int32_t i = 0; i < sources_.Count(); ++i) {
      // The last source that has the field wins.
      if (const int n = field_of(*sources_.Get(i)); n != 0) {
        found = sources_.Get(i);
        field_number = n;
      }
    }
    return found;
  }
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile* source = sources_.Get(i);
    if (!SameAnsiText(source->correlation_name_, correlation)) continue;
    if (all) return source;
    field_number = field_of(*source);
    return field_number != 0 ? source : nullptr;
  }
  return nullptr;
}

TResultDataField* TDataQuery::FindResultColumn(std::string_view correlation,
                                               std::string_view name,
                                               int& result_field_number) const {
  result_field_number = 0;
  auto matches = [&](const TResultDataField& c) {
    if (!correlation.empty()) {
      return SameAnsiText(c.correlation_name_, correlation) && SameAnsiText(c.column_name_, name);
    }
    return SameAnsiText(c.column_name_, name) || SameAnsiText(c.result_name_, name);
  };
  // An aggregate keeps the name of the column it aggregates, but its value
  // is not that column's: "SELECT SUM(b), b ... GROUP BY b" groups by the
  // column b. Columns that hold the named column's values are looked at
  // first; an aggregate is found when nothing else matches.
  for (const bool aggregates : {false, true}) {
    for (std::int32_t i = 0; i < columns_.Count(); ++i) {
      TResultDataField* c = columns_.Get(i);
      if ((c->aggregate_ != AggregateKind::kNone) != aggregates || !matches(*c)) continue;
      result_field_number = c->result_field_number_;
      return c;
    }
  }
  return nullptr;
}

bool TDataQuery::ResolveColumn(TExpressionNode& node) const {
  int n = 0;
  const TSourceDataFile* source = FindSourceColumn(node.correlation_name.View(),
                                                   node.column_name.View(), n);
  // "*" names no single field.
  if (source == nullptr || n == 0) return false;
  const TFieldDescriptor& f = source->data_file_->GetFieldDescriptor(true, n);
  node.field_number = static_cast<std::uint16_t>(n);
  node.correlation_name = source->correlation_name_;
  node.type = f.Type();
  // Inside expressions only money is a subtype.
  node.subtype = f.Subtype == storage::SubtypeCode(storage::FieldSubtype::kMoney) ? f.Subtype : 0;
  node.size = f.PhysicalSize;
  node.decimals = f.PhysicalDecimals;
  node.reserved2 = static_cast<std::uint32_t>(source->from_sequence_);
  return true;
}

TDataFile* TDataQuery::LiveDataFile() const {
  return flags_.live && sources_.Count() > 0 ? sources_.Get(0)->data_file_.get() : nullptr;
}

// ---------------------------------------------------------------- steps

void TDataQuery::ValidateSelect() {
  try {
    ValidateSteps();
  } catch (...) {
    DropTables(true);
    throw;
  }
}

void TDataQuery::ValidateSteps() {
  if (flags_.distinct && flags_.grouped) flags_.distinct = false;
  // A statement cannot have more columns than a table has fields; checked
  // before anything is opened or named.
  if (columns_.Count() > kMaxResultColumns) TooManyColumns(kMaxResultColumns, kSourceColumns);

  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile* source = sources_.Get(i);
    source->join_order_ = static_cast<std::uint16_t>(i + 1);
    OpenSource(*source);
  }

  TypeSelectItems();

  // Only aggregates make one group, unless GROUP BY asks for groups.
  bool all_aggregates = columns_.Count() > 0;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    all_aggregates = all_aggregates && columns_.Get(i)->aggregate_ != AggregateKind::kNone;
  }
  if (all_aggregates && group_by_.Count() == 0) {
    flags_.single_group = true;
    flags_.grouped = true;
  }

  NameResultColumns();
  CheckJoinNames();

  const bool live_possible =
      flags_.live_requested && !flags_.distinct && !flags_.join && !flags_.grouped;
  if (live_possible && (!flags_.order_by || MatchLiveIndex())) {
    flags_.live = true;
    // The WHERE tree is resolved against the table's own fields, before
    // the working fields become the result columns.
    if (flags_.where) ExtractJoinConditions();
    SetLiveFields();
    SortSourcesByJoinOrder();
    return;
  }

  flags_.live = false;
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile* source = sources_.Get(i);
    source->record_buffer_.assign(source->data_file_->GetRecordBufferSize(), std::byte{0});
  }
  BuildJoinTree();
  CreateResultTable();
}

void TDataQuery::OpenSource(TSourceDataFile& source) {
  TDataFile& file = *source.data_file_;
  file.SetInMemory(source.in_memory_);
  file.SetFileName(source.table_path_);
  file.SetReadOnly(!flags_.live_requested);
  file.SetExclusive(false);
  file.SetLockRetryCount(LockRetryCount);
  file.SetLockWaitTime(LockWaitTime);
  // The password callback is the query's only while the table opens.
  file.SetPasswordCallback(password_callback_);
  try {
    file.Open();
  } catch (...) {
    file.SetPasswordCallback(nullptr);
    throw;
  }
  file.SetPasswordCallback(nullptr);
  file.SwitchToIndex(storage::kNoIndex);
}

void TDataQuery::TypeSelectItems() {
  const storage::ColumnResolver resolver = [this](TExpressionNode& node) {
    return ResolveColumn(node);
  };
  bool expressions = false;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    TResultDataField& c = *columns_.Get(i);
    if (!c.tree_) continue;
    storage::CheckExpression(kSqlErrorCode, kSourceColumns, *c.tree_, resolver);
    const TExpressionNode& tree = *c.tree_;
    if (tree.kind == storage::NodeKind::kField && c.expression_) {
      // A string constant that names a column is that column.
      c.expression_ = false;
      c.correlation_name_ = std::string(tree.correlation_name.View());
      c.SetColumnName(tree.column_name.View());
    }
    c.type_ = storage::TypeCode(tree.type);
    c.subtype_ = tree.subtype;
    c.size_ = tree.size;
    c.decimals_ = tree.decimals;
    // A sum of small integers outgrows their type: 1,000 rows of 100 in a
    // 16-bit column sum to 100,000. Sums of integers are 32-bit integers,
    // accumulated wide and refused when they leave that range.
    if (c.aggregate_ == AggregateKind::kSum &&
        (tree.type == storage::FieldType::kSmallInt || tree.type == storage::FieldType::kWord)) {
      c.type_ = storage::TypeCode(storage::FieldType::kInteger);
      c.subtype_ = 0;
      c.size_ = 4;
    }
    if (ExceedsFieldSize(c)) {
      SqlError("Column expression '" + c.expression_text_ + "'" +
               " exceeds the maximum allowable field size");
    }
    expressions = expressions || c.expression_;
  }
  flags_.expression_columns = expressions;
}

int TDataQuery::AverageCount() const {
  int n = 0;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    if (columns_.Get(i)->aggregate_ == AggregateKind::kAvg) ++n;
  }
  return n;
}

void TDataQuery::NameResultColumns() {
  ResultNameSet taken;
  // The table's own fields: a column named like one of them would make two
  // fields of one name.
  taken.Add(kRowNoFieldName);
  const int averages = AverageCount();
  for (int k = 0; k < averages; ++k) taken.Add(AvgCountFieldName(k));
  // Every AVG column past the first takes a field of its own for its count.
  const int limit = std::min(kMaxResultColumns, kMaxResultFields - averages);
  int counter = 0;
  auto next_number = [&] {
    if (++counter > limit) TooManyColumns(limit, kSourceColumns);
    return static_cast<std::uint16_t>(counter);
  };
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    TResultDataField& c = *columns_.Get(i);
    if (SameAnsiText(c.column_name_, kRowNoFieldName)) {
      SqlError("Invalid use of reserved field name '" + c.column_name_ + "'" + "in source columns");
    }
    if (c.aggregate_ != AggregateKind::kNone && !flags_.grouped) {
      const std::string& name = c.column_name_.empty() ? c.expression_text_ : c.column_name_;
      SqlError("Invalid use of aggregate function for column '" + name + "'" +
               ", the necessary GROUP BY clause is missing");
    }
    if (!c.expression_ && c.aggregate_ == AggregateKind::kNone && c.column_name_ == "*") {
      i += ExpandAllColumns(i, counter, taken) - 1;
      continue;
    }
    const std::string alias = c.result_name_;
    std::string base_column;
    if (!c.expression_) {
      base_column = c.column_name_;  // "*" for COUNT(*)
      int n = 0;
      if (c.column_name_ == "*") {
        // COUNT(*) counts through the first field of its table.
        TSourceDataFile* source = FindSourceColumn(c.correlation_name_, "*", n);
        if (source == nullptr) InvalidColumn("*", c.correlation_name_, kSourceColumns);
        c.column_name_ = std::string(source->data_file_->GetFieldDescriptor(true, 1).Name.View());
        c.correlation_name_ = source->correlation_name_;
        c.field_number_ = 1;
        c.counts_every_row_ = true;
      }
      TSourceDataFile* source = FindSourceColumn(c.correlation_name_, c.column_name_, n);
      if (source == nullptr) InvalidColumn(c.column_name_, c.correlation_name_, kSourceColumns);
      c.source_ = source;
      c.correlation_name_ = source->correlation_name_;
      c.field_number_ = static_cast<std::uint16_t>(n);
    }
    c.result_field_number_ = next_number();
    c.result_name_ = UniqueResultName(ResultNameBase(base_column, alias, c.aggregate_), taken);
    taken.Add(c.result_name_);
  }
}

std::int32_t TDataQuery::ExpandAllColumns(std::int32_t index, int& counter,
                                          ResultNameSet& taken) {
  const TResultDataField& item = *columns_.Get(index);
  if (!item.result_name_.empty()) {
    SqlError("Invalid use of column correlation name '" + item.result_name_ + "'" + " for " + "'" +
             "*" + "'" + " specified in source columns");
  }
  std::vector<TSourceDataFile*> tables;
  if (item.correlation_name_.empty()) {
    for (std::int32_t i = 0; i < sources_.Count(); ++i) tables.push_back(sources_.Get(i));
    // FROM order, whatever order the joins put the list in.
    std::stable_sort(tables.begin(), tables.end(), [](const auto* a, const auto* b) {
      return a->from_sequence_ < b->from_sequence_;
    });
  } else {
    int n = 0;
    TSourceDataFile* source = FindSourceColumn(item.correlation_name_, "*", n);
    if (source == nullptr) InvalidColumn("*", item.correlation_name_, kSourceColumns);
    tables.push_back(source);
  }

  const int limit = std::min(kMaxResultColumns, kMaxResultFields - AverageCount());
  std::unique_ptr<TResultDataField> removed = columns_.Extract(index);
  std::int32_t at = index;
  for (TSourceDataFile* source : tables) {
    const TDataFile& file = *source->data_file_;
    for (int n = 1; n <= file.WorkingFieldCount(); ++n) {
      const TFieldDescriptor& f = file.GetFieldDescriptor(true, n);
      const std::string name(f.Name.View());
      if (SameAnsiText(name, kRowNoFieldName)) continue;
      if (++counter > limit) TooManyColumns(limit, kSourceColumns);
      auto column = std::make_unique<TResultDataField>(this);
      column->source_ = source;
      column->correlation_name_ = source->correlation_name_;
      column->column_name_ = name;
      column->field_number_ = static_cast<std::uint16_t>(n);
      column->result_field_number_ = static_cast<std::uint16_t>(counter);
      column->type_ = f.FieldType;
      column->subtype_ = f.Subtype;
      column->size_ = f.PhysicalSize;
      column->decimals_ = f.PhysicalDecimals;
      column->expression_text_ = name;
      column->result_name_ = UniqueResultName(ResultNameBase(name, name, AggregateKind::kNone), taken);
      taken.Add(column->result_name_);
      columns_.Insert(at++, std::move(column));
    }
  }
  return at - index;
}

std::vector<std::uint16_t> TDataQuery::ItemFieldNumbers(bool order_by, bool of_source) const {
  const char* clause = order_by ? "ORDER BY clause" : "GROUP BY clause";
  const std::int32_t count = order_by ? order_by_.Count() : group_by_.Count();
  std::vector<std::uint16_t> numbers;
  for (std::int32_t i = 0; i < count; ++i) {
    const TGroupByDataField& item =
        order_by ? static_cast<const TGroupByDataField&>(*order_by_.Get(i)) : *group_by_.Get(i);
    const TResultDataField* column = nullptr;
    if (item.by_number_) {
      if (item.column_number_ < 1 || item.column_number_ > columns_.Count()) {
        SqlError("Invalid column number '" + std::to_string(item.column_number_) + "'" +
                 " specified in " + clause);
      }
      column = columns_.Get(item.column_number_ - 1);
    } else {
      int n = 0;
      column = FindResultColumn(item.correlation_name_, item.column_name_, n);
      if (column == nullptr) InvalidColumn(item.column_name_, item.correlation_name_, clause);
    }
    // A group is found by its key while its aggregates still change: an
    // aggregate cannot be part of that key.
    if (!order_by && column->aggregate_ != AggregateKind::kNone) {
      SqlError("Invalid use of aggregate column '" + column->result_name_ + "'" + " in " +
               clause);
    }
    if (!of_source) {
      numbers.push_back(column->result_field_number_);
    } else {
      // An index of the table keys its own fields: only a plain column of
      // the table can be matched by one.
      const bool own = IsPlain(*column) && sources_.Count() > 0 &&
                       column->source_ == sources_.Get(0);
      numbers.push_back(own ? column->field_number_ : 0);
    }
  }
  if (numbers.size() > static_cast<std::size_t>(storage::kMaxKeyFields)) {
    TooManyColumns(storage::kMaxKeyFields, clause);
  }
  return numbers;
}

std::vector<bool> TDataQuery::OrderByDescending() const {
  std::vector<bool> descending;
  for (std::int32_t i = 0; i < order_by_.Count(); ++i) {
    descending.push_back(order_by_.Get(i)->descending_);
  }
  return descending;
}

bool TDataQuery::MatchLiveIndex() {
  const std::vector<std::uint16_t> fields = ItemFieldNumbers(true, true);
  if (std::find(fields.begin(), fields.end(), 0) != fields.end()) return false;
  const TIndexDescriptor wanted = ResultIndex(kOrderByIndexName, fields, OrderByDescending());
  TDataFile& file = *sources_.Get(0)->data_file_;
  const int last = file.SecondaryIndexCount();
  for (int n = 0; n <= last; ++n) {
    if (IndexesMatch(file.GetIndexDescriptor(n), wanted)) {
      flags_.order_by_matches_index = true;
      flags_.live_index = static_cast<std::uint8_t>(n);
      return true;
    }
  }
  return false;
}

void TDataQuery::SetLiveFields() {
  TDataFile& file = *sources_.Get(0)->data_file_;
  std::vector<TFieldDescriptor> fields;
  fields.reserve(static_cast<std::size_t>(columns_.Count()));
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    const TResultDataField& c = *columns_.Get(i);
    if (c.expression_) {
      const std::uint32_t id = file.RegisterExpression(storage::CopyExpression(c.tree_.get()));
      fields.push_back(ComputedFieldDescriptor(c, id));
    } else {
      TFieldDescriptor f = file.GetFieldDescriptor(true, c.field_number_);
      f.FieldNumber = c.result_field_number_;
      f.Name.Assign(std::string_view(c.result_name_).substr(
          0, std::min(c.result_name_.size(), kMaxFieldNameLength)));
      fields.push_back(f);
    }
  }
  file.SetWorkingFieldDefs(fields);
}

void TDataQuery::SortSourcesByJoinOrder() {
  std::vector<std::unique_ptr<TSourceDataFile>> sorted;
  while (sources_.Count() > 0) sorted.push_back(sources_.Extract(0));
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return a->join_order_ < b->join_order_;
  });
  for (auto& source : sorted) sources_.Add(std::move(source));
}

void TDataQuery::CreateResultTable() {
  // Descriptors: Row___No, the columns, the AVG counts.
  std::vector<TFieldDescriptor> fields;
  fields.reserve(static_cast<std::size_t>(columns_.Count()) + 2);
  fields.push_back(RowNumberField());
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    const TResultDataField& c = *columns_.Get(i);
    const TFieldDescriptor* source = nullptr;
    if (IsPlain(c) && c.source_ != nullptr) {
      source = &c.source_->data_file_->GetFieldDescriptor(true, c.field_number_);
    }
    fields.push_back(ResultFieldDescriptor(c, source));
  }
  const int averages = AverageCount();
  for (int k = 0; k < averages; ++k) {
    fields.push_back(AvgCountField(k, static_cast<std::uint16_t>(columns_.Count() + 2 + k)));
  }

  // Indexes: stored field numbers are result field numbers + 1.
  auto stored = [](std::vector<std::uint16_t> numbers) {
    for (std::uint16_t& n : numbers) ++n;
    return numbers;
  };
  std::vector<TIndexDescriptor> indexes;
  TIndexDescriptor order_by;
  if (flags_.order_by) {
    order_by = ResultIndex(kOrderByIndexName, stored(ItemFieldNumbers(true, false)),
                           OrderByDescending());
    indexes.push_back(order_by);
  }
  auto add_unless_served = [&](const TIndexDescriptor& index) {
    if (flags_.order_by && IndexesMatch(order_by, index)) {
      flags_.order_by_serves = true;
    } else {
      indexes.push_back(index);
    }
  };
  if (flags_.grouped && !flags_.single_group) {
    add_unless_served(ResultIndex(kGroupByIndexName, stored(ItemFieldNumbers(false, false))));
  } else if (flags_.distinct) {
    if (columns_.Count() > storage::kMaxKeyFields) {
      SqlError("Maximum number of columns (" + std::to_string(storage::kMaxKeyFields) +
               ") in DISTINCT clause " + "exceeded");
    }
    std::vector<std::uint16_t> all;
    for (std::int32_t i = 0; i < columns_.Count(); ++i) {
      all.push_back(static_cast<std::uint16_t>(columns_.Get(i)->result_field_number_ + 1));
    }
    add_unless_served(ResultIndex(kDistinctIndexName, all));
  }

  // The table's name: a temporary one, or the INTO name in the session's
  // private directory (else the current directory) unless it has its own.
  const bool named = !result_table_name_.empty();
  std::string name;
  if (!named) {
    name = storage::GetTempTableName(flags_.in_memory_result);
    // On disk the name is held by an empty file until the table exists.
    if (!flags_.in_memory_result) result_reserved_ = name;
  } else if (storage::HasDirectoryPart(result_table_name_)) {
    name = result_table_name_;
  } else {
    std::string directory = storage::GetPrivateDirectory();
    if (directory.empty()) directory = platform::GetCurrentDirectory();
    name = storage::IncludeTrailingBackslash(directory) + result_table_name_;
  }

  result_ = std::make_unique<TDataFile>(this);
  result_->SetInMemory(flags_.in_memory_result);
  result_->SetExclusive(true);
  result_->SetFileName(name);
  result_->CreateAndOpenDataTable(ResultTableDefinition(std::move(fields), std::move(indexes)),
                                  !named);
  result_created_ = true;
  result_empty_ = true;
  result_reserved_.clear();
  result_->SetNoUniqueChecks(true);

  // The dataset sees the columns numbered from 1, Row___No left out.
  std::vector<TFieldDescriptor> working;
  for (int n = 2; n <= result_->FieldCount(); ++n) {
    TFieldDescriptor f = result_->GetFieldDescriptor(false, n);
    f.FieldNumber = static_cast<std::uint16_t>(n - 1);
    working.push_back(f);
  }
  result_->SetWorkingFieldDefs(working);
  for (int k = 0; k < averages; ++k) result_->HideLastField();
}

void TDataQuery::DropTables(bool discard_result) noexcept {
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile* source = sources_.Get(i);
    try {
      source->data_file_->Close();
    } catch (...) {
    }
    source->record_buffer_.clear();
  }
  if (result_) {
    try {
      result_->Close();
    } catch (...) {
    }
    if (discard_result) {
      // A failed preparation leaves no table behind, not even an INTO one.
      try {
        if (result_created_ && result_->FileExists()) {
          result_->DeleteTableFiles();
        } else if (!result_created_ && !result_reserved_.empty() && result_->FileExists()) {
          result_->DeleteFile();
        }
      } catch (...) {
      }
    }
    result_.reset();
  }
  result_created_ = false;
  result_empty_ = false;
  result_reserved_.clear();
}

}  // namespace sql
