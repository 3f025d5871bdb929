// Filter objects of a table: TFilter, an expression filter whose tree is
// evaluated for records (or answered from index key ranges by its table),
// and TCallbackFilter, which asks a routine of the client about each
// record. Both are owned by their table's FilterRegistry
// (filter_registry.h), which hands out their handles.
//
// Ownership of a TFilter's tree: a tree read from a filter-expression
// buffer, or handed over as an ExpressionPtr, belongs to the filter and is
// freed with it; a tree lent as a plain pointer (the SQL engine lends the
// trees of its WHERE conditions) is never freed by the filter, also not
// when ReplaceExpression puts another tree in its place. The lender keeps
// it alive for as long as the filter uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/expression_node.h"
#include "storage/filter_table.h"

namespace storage {

// True when the record satisfies tree: the tree is evaluated with the
// record's field values from table and the table's locale; the condition
// holds when the result's value is non-zero.
[[nodiscard]] bool EvaluateFilterRecord(const TExpressionNode& tree, const FilterTable& table,
                                        std::span<const std::byte> record);

class TFilter {
 public:
  // From a filter-expression buffer: the filter owns the tree read from it
  // (10051 for a malformed buffer, 9985 for an unknown field; nothing is
  // made then).
  TFilter(FilterTable& owner, bool option, std::span<const std::byte> buffer);
  // From a tree the filter takes over.
  TFilter(FilterTable& owner, bool option, ExpressionPtr tree);
  // From a lent tree (REQUIRES: tree != nullptr, alive while in use here).
  TFilter(FilterTable& owner, bool option, TExpressionNode* lent_tree);
  // Frees the tree when owned and the bitmap.
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  // A new expression in place of the current one, with its level analysed
  // again. The new tree is read before the old one is let go, so a buffer
  // that fails to read leaves the filter as it was.
  void ReplaceExpression(std::span<const std::byte> buffer);
  void ReplaceExpression(ExpressionPtr tree);
  void ReplaceExpression(TExpressionNode* lent_tree);

  // n >= 1: the bitmap is sized to n bytes (new bytes zero); n < 1: freed.
  void SetBitmapSize(std::int64_t n);
  // Sizes the bitmap to n bytes, copies base into it (REQUIRES: base.size()
  // >= n), lets the table compute the filter's bitmap with parent operator
  // AND, and keeps the level it reports.
  void ComputeBitmap(std::span<const std::uint8_t> base, std::size_t n);

  // True when record satisfies the filter's expression.
  [[nodiscard]] bool Accepts(std::span<const std::byte> record) const;

  [[nodiscard]] std::span<std::uint8_t> Bitmap() { return bitmap_; }
  [[nodiscard]] std::span<const std::uint8_t> Bitmap() const { return bitmap_; }
  [[nodiscard]] std::size_t BitmapSize() const { return bitmap_.size(); }
  void Activate() { active_ = true; }
  void Deactivate() { active_ = false; }
  [[nodiscard]] bool Active() const { return active_; }
  [[nodiscard]] FilterLevel Level() const { return level_; }
  [[nodiscard]] bool Option() const { return option_; }
  [[nodiscard]] bool OwnsTree() const { return owned_ != nullptr; }
  [[nodiscard]] TExpressionNode* Tree() const { return tree_; }
  [[nodiscard]] FilterTable& Owner() const { return owner_; }

 private:
  void Install(ExpressionPtr owned, TExpressionNode* tree);

  FilterTable& owner_;
  ExpressionPtr owned_;               // the tree when the filter owns it
  TExpressionNode* tree_ = nullptr;   // the tree in use (owned_ or lent)
  std::vector<std::uint8_t> bitmap_;  // empty until first built
  bool active_ = false;
  FilterLevel level_ = FilterLevel::kByRecords;
  bool option_ = false;  // start from the bitmaps of earlier active filters
};

// The client's routine: true keeps the record. record is a copy of the
// stored record.
using FilterRoutine = bool (*)(void* client_data, std::span<const std::byte> record,
                               std::uint32_t record_number);

class TCallbackFilter {
 public:
  // REQUIRES: routine != nullptr.
  TCallbackFilter(FilterTable& owner, FilterRoutine routine, void* client_data);
  ~TCallbackFilter();
  TCallbackFilter(const TCallbackFilter&) = delete;
  TCallbackFilter& operator=(const TCallbackFilter&) = delete;

  // The routine's answer for the record.
  [[nodiscard]] bool Check(std::span<const std::byte> record, std::uint32_t record_number) const;

  void Activate() { active_ = true; }
  void Deactivate() { active_ = false; }
  [[nodiscard]] bool Active() const { return active_; }
  [[nodiscard]] FilterRoutine Routine() const { return routine_; }
  [[nodiscard]] void* ClientData() const { return client_data_; }
  [[nodiscard]] FilterTable& Owner() const { return owner_; }

 private:
  FilterTable& owner_;
  void* client_data_ = nullptr;
  FilterRoutine routine_ = nullptr;
  bool active_ = false;
};

}  // namespace storage
