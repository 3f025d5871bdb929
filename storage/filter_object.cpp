#include "storage/filter_object.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "storage/expression_eval.h"
#include "storage/filter_reader.h"

namespace storage {

bool EvaluateFilterRecord(const TExpressionNode& tree, const FilterTable& table,
                          std::span<const std::byte> record) {
  TExpressionNode result;
  EvaluateExpression(
      tree, [&](TExpressionNode& field) { table.LoadFilterFieldValue(record, field); },
      table.FilterLanguage(), table.FilterSort(), result);
  return NodeIsTrue(result);
}

// ---------------------------------------------------------------- TFilter

TFilter::TFilter(FilterTable& owner, bool option, std::span<const std::byte> buffer)
    : owner_(owner), option_(option) {
  ExpressionPtr tree = ConvertFilterBlob(buffer, owner_);
  TExpressionNode* raw = tree.get();
  Install(std::move(tree), raw);
}

TFilter::TFilter(FilterTable& owner, bool option, ExpressionPtr tree)
    : owner_(owner), option_(option) {
  assert(tree != nullptr);
  TExpressionNode* raw = tree.get();
  Install(std::move(tree), raw);
}

TFilter::TFilter(FilterTable& owner, bool option, TExpressionNode* lent_tree)
    : owner_(owner), option_(option) {
  assert(lent_tree != nullptr);
  Install(nullptr, lent_tree);
}

TFilter::~TFilter() = default;  // owned_ and bitmap_ free themselves

void TFilter::Install(ExpressionPtr owned, TExpressionNode* tree) {
  // The old tree (when owned) goes only after the new one is in place.
  owned_.swap(owned);
  tree_ = tree;
  level_ = owner_.AnalyzeFilter(*tree_);
}

void TFilter::ReplaceExpression(std::span<const std::byte> buffer) {
  ExpressionPtr tree = ConvertFilterBlob(buffer, owner_);  // may raise: nothing changed
  TExpressionNode* raw = tree.get();
  Install(std::move(tree), raw);
}

void TFilter::ReplaceExpression(ExpressionPtr tree) {
  assert(tree != nullptr);
  TExpressionNode* raw = tree.get();
  Install(std::move(tree), raw);
}

void TFilter::ReplaceExpression(TExpressionNode* lent_tree) {
  assert(lent_tree != nullptr);
  Install(nullptr, lent_tree);
}

void TFilter::SetBitmapSize(std::int64_t n) {
  if (n < 1) {
    bitmap_.clear();
    bitmap_.shrink_to_fit();
  } else {
    bitmap_.resize(static_cast<std::size_t>(n), 0);
  }
}

void TFilter::ComputeBitmap(std::span<const std::uint8_t> base, std::size_t n) {
  assert(base.size() >= n);
  SetBitmapSize(static_cast<std::int64_t>(n));
  if (n > 0) std::memcpy(bitmap_.data(), base.data(), n);
  level_ = owner_.BuildFilterBitmap(bitmap_, ExprOperator::kAnd, *tree_);
}

bool TFilter::Accepts(std::span<const std::byte> record) const {
  return EvaluateFilterRecord(*tree_, owner_, record);
}

// ---------------------------------------------------------------- TCallbackFilter

TCallbackFilter::TCallbackFilter(FilterTable& owner, FilterRoutine routine, void* client_data)
    : owner_(owner), client_data_(client_data), routine_(routine) {
  assert(routine_ != nullptr);
}

TCallbackFilter::~TCallbackFilter() = default;

bool TCallbackFilter::Check(std::span<const std::byte> record, std::uint32_t record_number) const {
  return routine_(client_data_, record, record_number);
}

}  // namespace storage
