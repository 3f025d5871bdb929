// The filters of one table turned into record bitmaps: FilterEngine holds a
// table's FilterRegistry, answers the filters' analysis and bitmap
// computation (FilterTable), keeps the live-record and result bitmaps, and
// is the record test of the index cursor (IndexRecordFilter).
//
// One meaning per condition: whatever a filter's bitmap is computed from,
// index key ranges or reading records, it holds exactly the records for
// which the expression evaluator (expression_eval.h) answers true. An index
// answers a node only where its key order is provably the evaluator's
// order (see IndexCondition in filter_engine.cpp): comparisons of a field
// with a constant, partial string matches, IS [NOT] NULL, and IN / BETWEEN
// as the chains of comparisons the evaluator makes of them; AND, OR and NOT
// combine bitmaps. Everything else is read record by record. In particular:
//   - a descending index or first key field, a case-insensitive index, or
//     a string index of a table with a locale is never used;
//   - a constant is first converted to the field's type; a constant that
//     does not convert exactly (2.5 against an integer field, a string
//     longer than the field, a boolean that is neither 0 nor 0xFFFF) is
//     answered by reading records;
//   - ordering comparisons read a null field as zero: when zero satisfies
//     the comparison, the null keys are added to the key range.
//
// Bitmaps cover every record slot 1..N of the data file (record_bitmap.h);
// they grow with the table (RecordAdded), so a record added under an active
// filter is seen when it matches.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/engine_error.h"
#include "storage/expression_node.h"
#include "storage/field_types.h"
#include "storage/filter_registry.h"
#include "storage/filter_table.h"
#include "storage/index_owner.h"
#include "storage/index_store.h"
#include "storage/record_bitmap.h"

namespace storage {

// ---------------------------------------------------------------- key ranges
// On the current index of store (REQUIRES: a real index with a key); low
// and high are key-size keys.

// Keys k with low <= k <= high; 0 when low > high.
[[nodiscard]] std::uint32_t CountKeysBetween(IndexStore& store, const std::uint8_t* low,
                                             const std::uint8_t* high);
// Sets (ORs in) the bit of the record of every key k with low <= k <=
// high. Records beyond the bitmap are ignored.
void SetBitsForKeyRange(IndexStore& store, const std::uint8_t* low, const std::uint8_t* high,
                        RecordBitmap& bitmap);
// The bits of the keys in [low, high], walking whichever of the range and
// its complement holds fewer keys: the result holds the range's records
// and, when the complement was walked, every record that is in no key of
// the index (deleted records); callers AND with the live records.
void KeyRangeBits(IndexStore& store, const std::uint8_t* low, const std::uint8_t* high,
                  RecordBitmap& bitmap);

// ---------------------------------------------------------------- the table

// What the filter engine needs from the table it filters.
class FilterSource {
 public:
  virtual ~FilterSource() = default;
  [[nodiscard]] virtual std::string DataFileName() const = 0;
  [[nodiscard]] virtual std::optional<FilterField> FindFilterField(std::string_view name) const = 0;
  // The record slot of field n (1-based). REQUIRES: n names a field.
  [[nodiscard]] virtual FieldSlot FilterFieldSlot(std::uint16_t n) const = 0;
  [[nodiscard]] virtual std::uint8_t FilterLanguage() const = 0;
  [[nodiscard]] virtual std::uint8_t FilterSort() const = 0;
  // Record slots of the data file (the highest record number in use).
  [[nodiscard]] virtual std::uint32_t RecordSlots() = 0;
  // Sets the bits of the live (not deleted) records of bitmap (sized to
  // RecordSlots()), clearing the others.
  virtual void LiveRecords(RecordBitmap& bitmap) = 0;
  // Calls visit for every live record r of 1..RecordSlots() (only those
  // set in only, when given) with its stored record image.
  virtual void ForEachRecord(
      const RecordBitmap* only,
      const std::function<void(std::uint32_t r, std::span<const std::byte> record)>& visit) = 0;
  // The stored image of record r (empty when it is deleted or missing).
  virtual std::vector<std::byte> ReadRecordCopy(std::uint32_t r) = 0;
  // The table's index file; nullptr when it has none open.
  virtual IndexStore* FilterIndex() = 0;
};

class FilterEngine : public FilterTable, public IndexRecordFilter {
 public:
  static constexpr std::size_t kMaxExpressionFilters = 128;

  explicit FilterEngine(FilterSource& source);
  FilterEngine(const FilterEngine&) = delete;
  FilterEngine& operator=(const FilterEngine&) = delete;

  [[nodiscard]] FilterRegistry& Registry() { return registry_; }
  [[nodiscard]] const FilterRegistry& Registry() const { return registry_; }

  // Filter operations; results are engine codes (0, 10050, 10051). The
  // flags are recomputed after each.
  [[nodiscard]] ErrorCode DropFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode ActivateFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode DeactivateFilter(std::int32_t handle);
  // Builds the bitmap of the active expression filter handle (all active
  // filters for handle 0, or when the live bitmap is not built yet); a
  // negative handle only checks that the callback filter exists.
  [[nodiscard]] ErrorCode BuildFilterBitmap(std::int32_t handle);
  // result := live AND every active expression filter's bitmap.
  void BuildResultBitmap();
  // Every bitmap built again from the files (another program changed the
  // table): the live records, each active filter's, the result. Nothing
  // without an active expression filter.
  void Rebuild();
  // Drops every filter and frees the bitmaps (the index file closes).
  void Reset();

  // A record was added (or a deleted slot reused) at r: the bitmaps grow to
  // cover it and, in bitmap mode, it is tested against every active filter.
  void RecordAdded(std::uint32_t r);
  // Record r was deleted: its bit is cleared everywhere.
  void RecordDeleted(std::uint32_t r);
  // Record r was changed: tested again against every active filter.
  void RecordChanged(std::uint32_t r);

  [[nodiscard]] bool BitmapMode() const { return bitmap_mode_; }
  [[nodiscard]] bool CallbackActive() const { return callback_active_; }
  [[nodiscard]] const RecordBitmap& Result() const { return result_; }
  // Records in the view: the result's count in bitmap mode.
  [[nodiscard]] std::uint32_t ViewCount() const { return result_.Count(); }
  // True for every record without active expression filters.
  [[nodiscard]] bool TestBit(std::uint32_t r) const { return !bitmap_mode_ || result_.Test(r); }
  [[nodiscard]] bool PassesCallbackFilters(std::uint32_t r);

  // IndexRecordFilter: the result bitmap and the callback filters. The
  // answers come from bitmaps while no callback filter is active; their
  // version moves with every change of the result bitmap or of the flags.
  [[nodiscard]] bool Accept(std::uint32_t record_number) override;
  [[nodiscard]] bool AnswersFromBitmaps() const override { return !callback_active_; }
  [[nodiscard]] std::uint64_t AnswersVersion() const override { return answers_version_; }

  // FilterTable.
  [[nodiscard]] std::string DataFileName() const override { return source_.DataFileName(); }
  [[nodiscard]] std::optional<FilterField> FindFilterField(std::string_view name) const override {
    return source_.FindFilterField(name);
  }
  void LoadFilterFieldValue(std::span<const std::byte> record,
                            TExpressionNode& result) const override;
  [[nodiscard]] std::uint8_t FilterLanguage() const override { return source_.FilterLanguage(); }
  [[nodiscard]] std::uint8_t FilterSort() const override { return source_.FilterSort(); }
  FilterLevel AnalyzeFilter(TExpressionNode& tree) override;
  FilterLevel BuildFilterBitmap(std::span<std::uint8_t> bitmap, ExprOperator parent,
                                TExpressionNode& tree) override;

  // Statistics for tests and benchmarks: records read by scans, key
  // ranges walked.
  [[nodiscard]] std::uint64_t RecordsScanned() const { return records_scanned_; }
  [[nodiscard]] std::uint64_t RangesWalked() const { return ranges_walked_; }

 private:
  struct Condition;
  void RecomputeFlags();
  void BuildAll();
  void Grow(std::uint32_t slots);
  [[nodiscard]] RecordBitmap Base(const TFilter* upto, bool with_earlier) const;
  void ComputeFilter(TFilter& filter, const RecordBitmap& base);
  FilterLevel Compute(RecordBitmap& bitmap, ExprOperator parent, TExpressionNode& node);
  FilterLevel Analyze(TExpressionNode& node);
  std::vector<TExpressionNode*> ChainOperands(TExpressionNode& chain);
  void Scan(RecordBitmap& bitmap, ExprOperator parent, const TExpressionNode& node);
  [[nodiscard]] std::optional<Condition> IndexCondition(const TExpressionNode& node) const;
  // IN / NOT IN / BETWEEN / NOT BETWEEN of a field as the comparisons the
  // evaluator makes of it (= per item; >= and <=), when the index answers
  // every one; inverted tells a NOT form.
  [[nodiscard]] std::optional<std::vector<Condition>> PredicateConditions(
      const TExpressionNode& node, bool& any_of, bool& inverted) const;
  void ConditionBits(const Condition& c, RecordBitmap& bitmap);
  [[nodiscard]] bool Matches(const TFilter& filter, std::span<const std::byte> record) const;

  FilterSource& source_;
  FilterRegistry registry_;
  bool bitmap_mode_ = false;
  bool callback_active_ = false;
  bool built_ = false;  // live_ and the active filters' bitmaps are current
  bool computing_ = false;  // a filter's bitmap is being computed
  RecordBitmap live_;
  RecordBitmap result_;
  std::uint64_t answers_version_ = 0;
  std::uint64_t records_scanned_ = 0;
  std::uint64_t ranges_walked_ = 0;
};

}  // namespace storage
