// The canned result of a SELECT: how its columns are named and described,
// and the definition of the engine table that holds it.
//
// Stored fields of a result table:
//   1          Row___No    32-bit integer, auto-increment (insertion order)
//   2..n+1     the n result columns in select order
//   n+2..      Avg__Count, Avg__Count_1, ...: one 32-bit integer for each
//              AVG column, in select order: the number of values (not
//              NULL) its accumulator has taken
// at most 1024 fields (so n <= 1022, and n + the AVG columns <= 1023).
//
// The counts are stored with the row rather than kept in memory beside it:
// a row evicted from the record cache and read back while a result with
// many groups is being filled would otherwise lose them. Each AVG column
// has its own, since the values its argument leaves NULL are its own. They
// are the last working fields and hidden (HideLastField, once for each)
// except while filling.
//
// Indexes: the primary one has no key fields (natural order); then, as the
// statement needs them, "OrderBy", "GroupBy" and "Distinct", none unique.
// Key field numbers are stored field numbers (result field number + 1).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "sql/query_items.h"
#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/index_format.h"

namespace sql {

inline constexpr std::string_view kRowNoFieldName = "Row___No";
inline constexpr std::string_view kAvgCountFieldName = "Avg__Count";
inline constexpr std::string_view kResultDescription = "Query Result Set";
inline constexpr std::string_view kOrderByIndexName = "OrderBy";
inline constexpr std::string_view kGroupByIndexName = "GroupBy";
inline constexpr std::string_view kDistinctIndexName = "Distinct";
// Result columns of one statement: the table's 1024 fields less Row___No
// and one Avg__Count; and the fields a statement has besides Row___No.
inline constexpr int kMaxResultColumns = 1022;
inline constexpr int kMaxResultFields = 1023;
// Field names are string[30].
inline constexpr std::size_t kMaxFieldNameLength = 30;

// The names already given to result columns, compared as the data file
// compares field names: the first 30 characters, blanks trimmed, without
// regard to case. Two result names that differ only past their 30th
// character would otherwise make two fields of one name.
class ResultNameSet {
 public:
  [[nodiscard]] bool Contains(std::string_view name) const;
  void Add(std::string_view name);

 private:
  static std::string Key(std::string_view name);
  std::unordered_set<std::string> keys_;
};

// base + "_" + k, keeping only the last (30 - length of "_" + k) characters
// of base when the whole would be 31 characters or longer.
std::string Suffixed(std::string_view base, int k);

// The name a column gets before uniqueness: the last 30 characters of the
// alias when there is one; else for an expression (empty column name)
// "Expression", "Sum Of Expr", ... by kind; for a column its name or
// "Sum Of " + name, ... by kind.
std::string ResultNameBase(std::string_view column_name, std::string_view alias,
                           AggregateKind kind);

// ResultNameBase made unique against taken: at every clash the counter k
// (from 0) grows by one and the name becomes Suffixed(base, k), until the
// name clashes with nothing.
std::string UniqueResultName(std::string_view base, const ResultNameSet& taken);

// True when the wanted descriptor equals the existing one in field count,
// descending and case-insensitive flags, and in every field number and
// per-field descending flag up to the wanted descriptor's first field
// number 0 (at most 16).
bool IndexesMatch(const storage::TIndexDescriptor& existing,
                  const storage::TIndexDescriptor& wanted);

// The stored descriptor of a result column: a copy of its source field's
// descriptor for a plain column (an auto-increment field becomes a plain
// 32-bit integer), else the checked expression's type; named with the
// first 30 characters of the result name and numbered result field number
// + 1, with no checks, default, computing expression or run-time reference.
storage::TFieldDescriptor ResultFieldDescriptor(const TResultDataField& column,
                                                const storage::TFieldDescriptor* source);

// The computed working field of an expression column of a live result:
// the expression's type, the computed flag and the expression text; the
// caller gives the run-time expression id.
storage::TFieldDescriptor ComputedFieldDescriptor(const TResultDataField& column,
                                                  std::uint32_t expression_id);

// The Row___No field, and the count of the k-th AVG column (from 0), named
// Avg__Count for the first and Suffixed(Avg__Count, k) for the others.
storage::TFieldDescriptor RowNumberField();
std::string AvgCountFieldName(int k);
storage::TFieldDescriptor AvgCountField(int k, std::uint16_t field_number);

// An index descriptor named name over the given stored field numbers, with
// per-field descending flags when given (ORDER BY), not unique, not
// descending as a whole, case-sensitive.
storage::TIndexDescriptor ResultIndex(std::string_view name,
                                      const std::vector<std::uint16_t>& fields,
                                      const std::vector<bool>& descending = {});

// Everything the result table is created from.
storage::DataTableDefinition ResultTableDefinition(std::vector<storage::TFieldDescriptor> fields,
                                                   std::vector<storage::TIndexDescriptor> indexes);

}  // namespace sql
