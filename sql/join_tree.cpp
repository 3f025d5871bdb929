// WHERE conditions of a prepared SELECT: single-table parts become filters
// of their table, column-to-column comparisons between two tables become
// the condition that links the later table to the earlier ones, and the
// rest is the residual condition, evaluated on every joined row.
//
// The WHERE tree is split at its AND nodes. A part over one table filters
// that table; a comparison between columns of two tables links the later
// of the two (in join order; a RIGHT JOIN table was put in front by the
// parser) to the rows before it, with the join type of its mark (left and
// right marks make a left outer link, others an inner one). Other parts
// that span several tables, and inner comparisons that would tie a table
// already outer-joined, are residual: a WHERE condition must not turn into
// part of an outer join's ON condition.
//
// The tree is checked at execution (the ? values are bound by then), its
// columns resolved against the tables' own fields. Table filters of a
// canned result are engine expression filters; those of a live result are
// callback filters over the stored record, since the live table's working
// fields are the result columns. For every new row before a linked table
// its link condition, when made of column comparisons of equal types,
// becomes an engine filter on that table with the current values.
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sql/data_query.h"
#include "sql/sql_error.h"
#include "storage/expression_check.h"
#include "storage/expression_eval.h"
#include "storage/engine_error.h"
#include "storage/filter_object.h"

namespace sql {

using storage::ExprOperator;
using storage::ExpressionPtr;
using storage::NodeKind;
using storage::TExpressionNode;

namespace {

constexpr const char* kWhereContext = "WHERE or JOIN clause";

bool IsComparison(const TExpressionNode& n) {
  return n.kind == NodeKind::kBinary && n.op >= ExprOperator::kEqual &&
         n.op <= ExprOperator::kLessEqual;
}

// The FROM sequence numbers of the columns under node.
void CollectTables(const TExpressionNode* node, std::set<std::uint32_t>& out) {
  std::vector<const TExpressionNode*> stack{node};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == NodeKind::kField && n->reserved2 != 0) out.insert(n->reserved2);
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
}

std::set<std::uint32_t> TablesOf(const TExpressionNode* node) {
  std::set<std::uint32_t> out;
  CollectTables(node, out);
  return out;
}

// Splits tree at its AND nodes.
void SplitConjuncts(ExpressionPtr tree, std::vector<ExpressionPtr>& out) {
  if (!tree) return;
  if (tree->kind == NodeKind::kBinary && tree->op == ExprOperator::kAnd) {
    SplitConjuncts(std::move(tree->left), out);
    SplitConjuncts(std::move(tree->right), out);
    return;
  }
  out.push_back(std::move(tree));
}

ExpressionPtr AndOf(ExpressionPtr a, ExpressionPtr b) {
  if (!a) return b;
  if (!b) return a;
  ExpressionPtr node = storage::NewNode(NodeKind::kBinary, ExprOperator::kAnd, "AND");
  node->type = storage::FieldType::kBoolean;
  node->size = 2;
  node->left = std::move(a);
  node->right = std::move(b);
  return node;
}

// A filter's copy of a part: = or <> against a string constant ending in
// '*' compares only the characters before it.
void RewriteForFilter(TExpressionNode& node) {
  std::vector<TExpressionNode*> stack{&node};
  while (!stack.empty()) {
    TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == NodeKind::kBinary &&
        (n->op == ExprOperator::kEqual || n->op == ExprOperator::kNotEqual) && n->right &&
        n->right->kind == NodeKind::kConstant &&
        n->right->type == storage::FieldType::kString && n->left &&
        n->left->type == storage::FieldType::kString) {
      const std::string text(storage::NodeString(*n->right));
      if (text.size() > 1 && text.back() == '*') {
        n->kind = NodeKind::kStringCompare;
        n->partial_length = static_cast<std::uint8_t>(std::min<std::size_t>(text.size() - 1, 254));
        storage::SetNodeString(*n->right, std::string_view(text).substr(0, text.size() - 1));
        continue;
      }
    }
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
}

bool EvaluateFilter(void* client_data, std::span<const std::byte> record, std::uint32_t) {
  auto* f = static_cast<TSourceDataFile::Filter*>(client_data);
  const std::vector<storage::FieldSlot>& slots = f->source->slots_;
  const storage::FieldCallback field = [&](TExpressionNode& node) {
    if (node.field_number == 0 || node.field_number >= slots.size()) return;
    if (slots[node.field_number].Extent() > record.size()) return;
    storage::LoadRecordValue(record, slots[node.field_number], node);
  };
  TExpressionNode result;
  storage::EvaluateExpression(*f->tree, field, 0, 0, result);
  return storage::NodeIsTrue(result);
}

}  // namespace

void TDataQuery::ExtractJoinConditions() {
  // The slots of the tables' own fields: a live result's working fields
  // become its result columns after this.
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile& s = *sources_.Get(i);
    s.slots_.assign(1, storage::FieldSlot{});
    const storage::TDataFile& file = *s.data_file_;
    for (int n = 1; n <= file.FieldCount(); ++n) {
      s.slots_.push_back(file.GetFieldDescriptor(false, n).Slot());
    }
  }
}

// Resolves a column of the WHERE tree against the tables' own (stored)
// fields, the way ResolveColumn does against the working ones.
bool TDataQuery::ResolveStoredColumn(TExpressionNode& node) const {
  const std::string_view correlation = node.correlation_name.View();
  const std::string_view column = node.column_name.View();
  if (column.empty() || column == "*") return false;
  const TSourceDataFile* found = nullptr;
  int number = 0;
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const TSourceDataFile* s = sources_.Get(i);
    if (!correlation.empty() && !SameAnsiText(s->correlation_name_, correlation)) continue;
    const storage::TDataFile& file = *s->data_file_;
    for (int n = 1; n <= file.FieldCount(); ++n) {
      if (SameAnsiText(file.GetFieldDescriptor(false, n).Name.View(), column)) {
        found = s;
        number = n;
        break;
      }
    }
    if (!correlation.empty()) break;
  }
  if (found == nullptr) return false;
  const storage::TFieldDescriptor& f = found->data_file_->GetFieldDescriptor(false, number);
  node.field_number = static_cast<std::uint16_t>(number);
  node.correlation_name = found->correlation_name_;
  node.type = f.Type();
  node.subtype = f.Subtype == storage::SubtypeCode(storage::FieldSubtype::kMoney) ? f.Subtype : 0;
  node.size = f.PhysicalSize;
  node.decimals = f.PhysicalDecimals;
  node.reserved2 = static_cast<std::uint32_t>(found->from_sequence_);
  return true;
}

void TDataQuery::CheckWhere() {
  if (!where_ || where_checked_) return;
  const storage::ColumnResolver resolver = [this](TExpressionNode& node) {
    return ResolveStoredColumn(node);
  };
  storage::CheckExpression(kSqlErrorCode, kWhereContext, *where_, resolver);
  if (where_->type != storage::FieldType::kBoolean) {
    SqlError("WHERE or JOIN clause must be a boolean expression");
  }
  where_checked_ = true;
}

void TDataQuery::SplitWhere() {
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile& s = *sources_.Get(i);
    s.link_condition_.reset();
    s.link_type_ = 0;
    s.where_parts_.clear();
  }
  residual_.reset();
  if (!where_) return;

  auto by_sequence = [&](std::uint32_t seq) -> std::pair<TSourceDataFile*, std::int32_t> {
    for (std::int32_t i = 0; i < sources_.Count(); ++i) {
      if (static_cast<std::uint32_t>(sources_.Get(i)->from_sequence_) == seq) {
        return {sources_.Get(i), i};
      }
    }
    SqlError("Internal join error attempting to validate table correlation names involved in "
             "join");
  };

  std::vector<ExpressionPtr> parts;
  SplitConjuncts(storage::CopyExpression(where_.get()), parts);
  // Outer links first, so that a later inner comparison sees them.
  std::vector<ExpressionPtr> later;
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<ExpressionPtr>& input = pass == 0 ? parts : later;
    std::vector<ExpressionPtr> rest;
    for (ExpressionPtr& part : input) {
      const std::set<std::uint32_t> tables = TablesOf(part.get());
      if (tables.size() <= 1) {
        // A part without columns is tested on the first table's records.
        TSourceDataFile* owner =
            tables.empty() ? sources_.Get(0) : by_sequence(*tables.begin()).first;
        owner->where_parts_.push_back(std::move(part));
        continue;
      }
      const bool link_shape = tables.size() == 2 && IsComparison(*part) &&
                              TablesOf(part->left.get()).size() == 1 &&
                              TablesOf(part->right.get()).size() == 1;
      if (!link_shape) {
        if (pass == 0) {
          rest.push_back(std::move(part));
        } else {
          residual_ = AndOf(std::move(residual_), std::move(part));
        }
        continue;
      }
      const bool outer = part->reserved1 == 2 || part->reserved1 == 3;
      if (pass == 0 && !outer) {
        rest.push_back(std::move(part));
        continue;
      }
      auto [a, ia] = by_sequence(*TablesOf(part->left.get()).begin());
      auto [b, ib] = by_sequence(*TablesOf(part->right.get()).begin());
      TSourceDataFile* child = ia > ib ? a : b;
      const std::uint8_t type = outer ? 2 : 1;
      if (child->link_type_ != 0 && child->link_type_ != type) {
        residual_ = AndOf(std::move(residual_), std::move(part));
        continue;
      }
      child->link_type_ = type;
      child->link_condition_ = AndOf(std::move(child->link_condition_), std::move(part));
    }
    if (pass == 0) later = std::move(rest);
  }
  for (ExpressionPtr& part : later) {
    if (part) residual_ = AndOf(std::move(residual_), std::move(part));
  }
  flags_.residual_join = residual_ != nullptr;
}

void TDataQuery::BuildJoinTree() {
  ExtractJoinConditions();
  SortSourcesByJoinOrder();
}

void TDataQuery::DropWhereFilters() noexcept {
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile& s = *sources_.Get(i);
    for (auto& f : s.filters_) {
      if (f->handle != 0 && s.data_file_->IsOpen()) {
        try {
          (void)s.data_file_->DropFilter(f->handle);
        } catch (...) {
        }
      }
    }
    s.filters_.clear();
    if (s.link_filter_ != 0 && s.data_file_->IsOpen()) {
      try {
        (void)s.data_file_->DropFilter(s.link_filter_);
      } catch (...) {
      }
    }
    s.link_filter_ = 0;
    s.link_filter_usable_ = true;
  }
}

namespace {

storage::ExprOperator Mirrored(storage::ExprOperator op) {
  switch (op) {
    case ExprOperator::kGreater: return ExprOperator::kLess;
    case ExprOperator::kLess: return ExprOperator::kGreater;
    case ExprOperator::kGreaterEqual: return ExprOperator::kLessEqual;
    case ExprOperator::kLessEqual: return ExprOperator::kGreaterEqual;
    default: return op;
  }
}

}  // namespace

bool TDataQuery::RefreshLinkFilter(TSourceDataFile& child) {
  if (!child.link_filter_usable_ || !child.link_condition_) return false;
  const auto seq = static_cast<std::uint32_t>(child.from_sequence_);
  ExpressionPtr filter;
  std::vector<const TExpressionNode*> stack{child.link_condition_.get()};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n->kind == NodeKind::kBinary && n->op == ExprOperator::kAnd) {
      stack.push_back(n->left.get());
      stack.push_back(n->right.get());
      continue;
    }
    const TExpressionNode* mine = nullptr;
    const TExpressionNode* other = nullptr;
    bool mirrored = false;
    if (IsComparison(*n) && n->left && n->right) {
      if (n->left->kind == NodeKind::kField && n->left->reserved2 == seq) {
        mine = n->left.get();
        other = n->right.get();
      } else if (n->right->kind == NodeKind::kField && n->right->reserved2 == seq) {
        mine = n->right.get();
        other = n->left.get();
        mirrored = true;
      }
    }
    // Only a column of this table against a column of the same type of
    // another: the value then compares exactly as in the condition.
    if (mine == nullptr || other->kind != NodeKind::kField || other->reserved2 == seq ||
        other->type != mine->type || other->size != mine->size) {
      child.link_filter_usable_ = false;
      return false;
    }
    ExpressionPtr cmp = storage::NewNode(NodeKind::kBinary, mirrored ? Mirrored(n->op) : n->op,
                                         n->token.View());
    cmp->type = storage::FieldType::kBoolean;
    cmp->size = 2;
    cmp->left = storage::CopyExpression(mine);
    TExpressionNode value;
    EvaluateOnRows(*other, value);
    cmp->right = storage::NewNode(NodeKind::kConstant, ExprOperator::kNone, "");
    storage::CopyNodeFields(value, *cmp->right);
    cmp->right->kind = NodeKind::kConstant;
    cmp->right->op = ExprOperator::kNone;
    filter = AndOf(std::move(filter), std::move(cmp));
  }
  storage::TDataFile& file = *child.data_file_;
  if (child.link_filter_ == 0) {
    std::int32_t handle = 0;
    storage::CheckEngineResult(
        static_cast<std::int32_t>(file.AddFilter(std::move(filter), false, handle)));
    child.link_filter_ = handle;
    storage::CheckEngineResult(static_cast<std::int32_t>(file.ActivateFilter(handle)));
  } else {
    storage::CheckEngineResult(
        static_cast<std::int32_t>(file.UpdateFilter(std::move(filter), child.link_filter_)));
  }
  return true;
}

void TDataQuery::ApplyWhereFilters() {
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    TSourceDataFile& s = *sources_.Get(i);
    for (const ExpressionPtr& part : s.where_parts_) {
      auto f = std::make_unique<TSourceDataFile::Filter>();
      f->source = &s;
      f->tree = storage::CopyExpression(part.get());
      RewriteForFilter(*f->tree);
      std::int32_t handle = 0;
      if (!flags_.live) {
        // The table's own fields: an expression filter, answered from the
        // table's indexes where it can be.
        storage::CheckEngineResult(static_cast<std::int32_t>(
            s.data_file_->AddFilter(std::move(f->tree), false, handle)));
      } else {
        // The working fields are the result columns now; the filter reads
        // the stored record through the slots the tree was resolved with.
        storage::CheckEngineResult(static_cast<std::int32_t>(
            s.data_file_->AddCallbackFilter(&EvaluateFilter, f.get(), handle)));
      }
      f->handle = handle;
      TSourceDataFile::Filter* kept = f.get();
      s.filters_.push_back(std::move(f));
      storage::CheckEngineResult(
          static_cast<std::int32_t>(s.data_file_->ActivateFilter(kept->handle)));
    }
  }
}

void TDataQuery::LoadSourceField(TExpressionNode& node) const {
  if (node.reserved2 == 0) return;
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const TSourceDataFile& s = *sources_.Get(i);
    if (static_cast<std::uint32_t>(s.from_sequence_) != node.reserved2) continue;
    if (node.field_number == 0 || node.field_number >= s.slots_.size()) return;
    storage::LoadRecordValue(s.record_buffer_, s.slots_[node.field_number], node);
    return;
  }
}

void TDataQuery::EvaluateOnRows(const TExpressionNode& tree, TExpressionNode& result) {
  const storage::FieldCallback field = [this](TExpressionNode& node) { LoadSourceField(node); };
  storage::EvaluateExpression(tree, field, 0, 0, result);
}

bool TDataQuery::ResidualHolds() {
  if (!residual_) return true;
  TExpressionNode result;
  EvaluateOnRows(*residual_, result);
  return storage::NodeIsTrue(result);
}

}  // namespace sql
