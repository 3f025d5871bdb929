// RecordCondition: a condition over one table's columns and constants,
// compiled to run on the stored record without the expression evaluator.
// The SQL engine tests a table's own WHERE conditions with it while it
// reads the table, where no index answers them (an engine filter would
// evaluate the tree node by node for every record, and the rows would then
// be read a second time).
//
// It answers exactly what the evaluator (storage/expression_eval.h) answers
// for the same record; only shapes whose meaning it repeats are compiled:
//   - a column compared (= <> < > <= >=) with a constant, either side;
//     BETWEEN and IN over constants; LIKE with a constant pattern; the
//     partial string comparison of filters (name = 'Sm*');
//   - AND, OR and NOT of those;
//   - columns of the integer types, float, date and string (strings only
//     for a table without a locale), against constants of the same family
//     (integers and floats compared as the evaluator compares numbers).
// Anything else (currency, timestamps, booleans, expressions) is not
// compiled: Compile gives nullptr and the caller keeps the engine filter.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/expression_node.h"
#include "storage/field_types.h"

namespace sql {

class RecordCondition {
 public:
  // slots: the table's stored field slots by field number (0 unused);
  // language: the low byte of the table's locale (0 none).
  static std::unique_ptr<RecordCondition> Compile(const storage::TExpressionNode& tree,
                                                  const std::vector<storage::FieldSlot>& slots,
                                                  std::uint8_t language);

  [[nodiscard]] bool Holds(std::span<const std::byte> record) const;

 private:
  enum class Kind : std::uint8_t { kAnd, kOr, kNot, kCompare, kPartial, kBetween, kIn, kLike };
  // How a column's value and a constant compare.
  enum class Family : std::uint8_t { kInteger, kFloat, kDate, kString };
  struct Constant {
    bool null = false;
    bool literal_null = false;  // the NULL literal (type 0): tests for null
    std::int64_t i = 0;
    double f = 0;
    bool is_float = false;
    std::uint32_t u = 0;  // a date
    std::string s;
  };

  static std::unique_ptr<RecordCondition> CompileNode(const storage::TExpressionNode& n,
                                                      const std::vector<storage::FieldSlot>& slots,
                                                      std::uint8_t language);
  static bool ReadConstant(const storage::TExpressionNode& c, Family family, Constant& out);
  // The value of a column of the integer family (null read as zero).
  [[nodiscard]] std::int64_t IntegerOf(std::span<const std::byte> record) const;
  // The evaluator's comparison of the column's value with c (null read as
  // zero): -1, 0, 1.
  [[nodiscard]] int CompareTo(std::span<const std::byte> record, const Constant& c) const;
  // The evaluator's = between the column and c.
  [[nodiscard]] bool Equal(std::span<const std::byte> record, const Constant& c) const;
  [[nodiscard]] bool Compare(std::span<const std::byte> record, storage::ExprOperator op,
                             const Constant& c) const;

  Kind kind_ = Kind::kAnd;
  storage::ExprOperator op_ = storage::ExprOperator::kNone;
  bool inverted_ = false;  // NOT BETWEEN, NOT IN, NOT LIKE
  Family family_ = Family::kInteger;
  storage::FieldSlot slot_;
  std::uint8_t partial_ = 0;
  std::vector<Constant> constants_;
  std::vector<std::unique_ptr<RecordCondition>> operands_;
};

}  // namespace sql
