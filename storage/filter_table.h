// What a filter needs from the table it restricts: its fields by name, a
// record's field values for the evaluator, the table's locale, and the
// index-driven analysis and bitmap computation. A data file's FilterEngine
// (filter_engine.h) implements it; tests supply small tables of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "storage/expression_node.h"

namespace storage {

// How much of a filter its table's indexes answer (AnalyzeFilter).
enum class FilterLevel : std::uint8_t {
  kByIndex = 0,    // exactly from index key ranges
  kPartly = 1,     // partly from indexes, the rest by reading records
  kByRecords = 2,  // only by reading records
};

// A field as the filter reader sees it.
struct FilterField {
  std::uint16_t number = 0;  // the table's field number (1-based)
  FieldType type = FieldType::kNone;
  std::uint8_t size = 0;  // the field's stored (physical) size
};

class FilterTable {
 public:
  virtual ~FilterTable() = default;

  // The data file's name, for error contexts.
  [[nodiscard]] virtual std::string DataFileName() const = 0;

  // The field of that name (names compare as the table compares them);
  // nothing when the table has no such field.
  [[nodiscard]] virtual std::optional<FilterField> FindFilterField(std::string_view name) const = 0;

  // The work of the evaluator's field callback: result is a copy of a field
  // node (column name and field number set); store that field's value from
  // record in the node encoding and set null flag, type, size and decimals.
  virtual void LoadFilterFieldValue(std::span<const std::byte> record,
                                    TExpressionNode& result) const = 0;

  // Low bytes of the table's locale language and sort ids; language 0 means
  // no locale (plain byte order).
  [[nodiscard]] virtual std::uint8_t FilterLanguage() const { return 0; }
  [[nodiscard]] virtual std::uint8_t FilterSort() const { return 0; }

  // How far the indexes answer tree; may swap the operands of AND nodes so
  // that the better side comes first. A table without index support reads
  // records.
  virtual FilterLevel AnalyzeFilter(TExpressionNode& /*tree*/) { return FilterLevel::kByRecords; }

  // Computes tree's record bitmap into bitmap, which arrives holding the
  // base set, with parent operator parent (AND: only the set bits are
  // tested); returns how it was computed.
  virtual FilterLevel BuildFilterBitmap(std::span<std::uint8_t> bitmap, ExprOperator parent,
                                        TExpressionNode& tree) = 0;
};

}  // namespace storage
