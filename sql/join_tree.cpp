// WHERE conditions of a prepared SELECT: their names checked at
// preparation, the tree checked at execution (the ? values are bound by
// then, its columns resolved against the tables' own fields), and the
// plan of join_plan.h built from it. Table filters of a canned result are
// engine expression filters, one per table; a live result's WHERE is one
// callback filter over the stored record, since the live table's working
// fields are the result columns.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "sql/data_query.h"
#include "sql/sql_error.h"
#include "storage/engine_error.h"
#include "storage/expression_check.h"
#include "storage/expression_eval.h"
#include "storage/filter_engine.h"
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
// '*' compares only the characters before it, and so does LIKE (NOT LIKE)
// with a pattern whose one wildcard is a '%' at its end: the filter can
// then answer it from an index. (A null field fails LIKE and the partial
// =, and passes NOT LIKE and the partial <>, so the meaning is kept.)
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
    if (n->kind == NodeKind::kExtendedPredicate &&
        (n->op == ExprOperator::kLike || n->op == ExprOperator::kNotLike) && n->left &&
        n->left->type == storage::FieldType::kString && n->right && !n->right->right &&
        n->right->kind == NodeKind::kConstant && n->right->type == storage::FieldType::kString &&
        n->right->null == 0) {
      const std::string pattern(storage::NodeString(*n->right));
      const std::string_view prefix = std::string_view(pattern).substr(0, pattern.size() - 1);
      if (pattern.size() > 1 && pattern.back() == '%' &&
          prefix.find_first_of("%_") == std::string_view::npos) {
        n->kind = NodeKind::kStringCompare;
        n->op = n->op == ExprOperator::kLike ? ExprOperator::kEqual : ExprOperator::kNotEqual;
        n->partial_length = static_cast<std::uint8_t>(prefix.size());
        storage::SetNodeString(*n->right, prefix);
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

// True when tree reads at least one field and every field it reads is a
// plain working field of the same number and slot as the stored field
// the tree was resolved to (slots holds the stored fields' slots).
bool FieldsStayInPlace(const TExpressionNode& tree, const storage::TDataFile& file,
                       const std::vector<storage::FieldSlot>& slots) {
  bool any = false;
  std::vector<const TExpressionNode*> stack{&tree};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == NodeKind::kField) {
      const std::uint16_t f = n->field_number;
      if (f == 0 || f >= slots.size() || f > file.WorkingFieldCount()) return false;
      const storage::TFieldDescriptor& d = file.GetFieldDescriptor(true, f);
      const storage::FieldSlot w = d.Slot();
      const storage::FieldSlot& stored = slots[f];
      if (d.IsComputed() || w.offset != stored.offset || w.type != stored.type ||
          w.subtype != stored.subtype || w.physical_size != stored.physical_size) {
        return false;
      }
      any = true;
    }
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
  return any;
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

namespace {

// The sources a tree reads, by their index in the source list (index_of
// maps FROM sequence numbers to indexes).
TableSet TablesOf(const TExpressionNode* node, const std::vector<int>& index_of) {
  TableSet out;
  std::vector<const TExpressionNode*> stack{node};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == NodeKind::kField && n->reserved2 != 0 && n->reserved2 < index_of.size() &&
        index_of[n->reserved2] >= 0) {
      out.Add(static_cast<std::size_t>(index_of[n->reserved2]));
    }
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
  return out;
}

std::size_t CountOf(const TableSet& s) { return s.Members().size(); }

// A comparison of two sides that each read exactly one table, two tables
// in all: the shape of a join condition.
bool LinkShape(const TExpressionNode& n, const std::vector<int>& index_of) {
  if (!IsComparison(n) || !n.left || !n.right) return false;
  const TableSet l = TablesOf(n.left.get(), index_of);
  const TableSet r = TablesOf(n.right.get(), index_of);
  if (CountOf(l) != 1 || CountOf(r) != 1) return false;
  return !l.SubsetOf(r);
}

// The key domain of a column of type column against a value of type value.
KeyDomain DomainOf(storage::FieldType column, storage::FieldType value) {
  using storage::FieldType;
  auto integer = [](FieldType t) {
    return t == FieldType::kSmallInt || t == FieldType::kWord || t == FieldType::kInteger;
  };
  if (integer(column) && integer(value)) return KeyDomain::kInteger;
  if (column != value) return KeyDomain::kNone;
  switch (column) {
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kFloat:
    case FieldType::kTimestamp:
    case FieldType::kString: return KeyDomain::kSame;
    default: return KeyDomain::kNone;
  }
}

}  // namespace

void TDataQuery::CheckJoinNames() {
  if (!where_) return;
  std::vector<int> index_of(static_cast<std::size_t>(from_sequence_) + 1, -1);
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const auto seq = static_cast<std::size_t>(sources_.Get(i)->from_sequence_);
    if (seq < index_of.size()) index_of[seq] = i;
  }
  // The tables each side of a comparison reads; columns resolved on
  // scratch nodes, the tree is checked again at execution.
  auto tables_of = [&](const TExpressionNode* side) {
    TableSet out;
    std::vector<const TExpressionNode*> stack{side};
    TExpressionNode scratch;
    while (!stack.empty()) {
      const TExpressionNode* n = stack.back();
      stack.pop_back();
      if (n == nullptr) continue;
      stack.push_back(n->left.get());
      stack.push_back(n->right.get());
      if (n->kind != NodeKind::kField) continue;
      scratch.column_name = n->column_name;
      scratch.correlation_name = n->correlation_name;
      if (!ResolveStoredColumn(scratch)) {
        const std::string correlation(n->correlation_name.View());
        bool known = correlation.empty();
        for (std::int32_t i = 0; i < sources_.Count() && !known; ++i) {
          known = SameAnsiText(sources_.Get(i)->correlation_name_, correlation);
        }
        if (!known) {
          SqlError("Table correlation name '" + correlation + "'" +
                   " referenced in WHERE clause is not defined in the FROM clause");
        }
        SqlError("Invalid column name '" + std::string(n->column_name.View()) + "'" +
                 " or table correlation name '" + correlation + "'" + " specified in " +
                 kWhereContext);
      }
      if (scratch.reserved2 < index_of.size() && index_of[scratch.reserved2] >= 0) {
        out.Add(static_cast<std::size_t>(index_of[scratch.reserved2]));
      }
    }
    return out;
  };
  // The conjuncts of the tree (its AND nodes walked): a comparison of
  // columns on both sides ties tables together only when each side reads
  // one table.
  std::vector<const TExpressionNode*> stack{where_.get()};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n->kind == NodeKind::kBinary && n->op == ExprOperator::kAnd && n->left && n->right) {
      stack.push_back(n->left.get());
      stack.push_back(n->right.get());
      continue;
    }
    if (IsComparison(*n) && n->left && n->right) {
      const TableSet l = tables_of(n->left.get());
      const TableSet r = tables_of(n->right.get());
      if (!l.Empty() && !r.Empty() && (CountOf(l) > 1 || CountOf(r) > 1)) {
        SqlError("The join condition cannot contain multiple table correlation names in either "
                 "the left or right operand in WHERE or JOIN clause");
      }
      continue;
    }
    (void)tables_of(n);
  }
}

void TDataQuery::CheckWhere() {
  for (std::int32_t i = 0; i < ParameterCount(); ++i) {
    // A ? without a value would compare as a NULL literal: always true
    // against a null field, never against another.
    if (Parameter(i)->type == storage::FieldType::kNone) {
      SqlError("No value for parameter " + std::to_string(i + 1) + " in WHERE or JOIN clause");
    }
  }
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

void TDataQuery::BuildJoinTree() {
  ExtractJoinConditions();
  SortSourcesByJoinOrder();
}

// ---------------------------------------------------------------- the plan

namespace {

// The FROM clause as a tree of joins (before it is flattened into groups).
struct JoinNode {
  int leaf = -1;  // source index of a table
  bool outer = false;
  std::unique_ptr<JoinNode> left, right;
  std::vector<PlanCondition> on;
};

std::unique_ptr<JoinNode> Leaf(int index) {
  auto n = std::make_unique<JoinNode>();
  n->leaf = index;
  return n;
}

std::unique_ptr<JoinNode> Join(std::unique_ptr<JoinNode> left, std::unique_ptr<JoinNode> right,
                               bool outer, std::vector<PlanCondition> on) {
  auto n = std::make_unique<JoinNode>();
  n->outer = outer;
  n->left = std::move(left);
  n->right = std::move(right);
  n->on = std::move(on);
  return n;
}

// Flattens the inner joins of node into steps of group; the conditions of
// the inner joins go to conditions, each outer join's right side becomes an
// optional step holding its own conditions.
void Collect(JoinNode& node, JoinGroup& group, std::vector<PlanCondition>& conditions,
             const OwnedList<TSourceDataFile>& sources) {
  if (node.leaf >= 0) {
    JoinStep step;
    step.source = sources.Get(node.leaf);
    step.tables.Add(static_cast<std::size_t>(node.leaf));
    group.tables.AddAll(step.tables);
    group.steps.push_back(std::move(step));
    return;
  }
  Collect(*node.left, group, conditions, sources);
  if (!node.outer) {
    Collect(*node.right, group, conditions, sources);
    for (PlanCondition& c : node.on) conditions.push_back(std::move(c));
    return;
  }
  JoinStep step;
  step.optional = std::make_unique<JoinGroup>();
  step.pending = std::move(node.on);
  Collect(*node.right, *step.optional, step.pending, sources);
  step.tables = step.optional->tables;
  // What the optional side reads outside itself must be bound before it.
  for (const PlanCondition& c : step.pending) step.needs.AddAll(c.tables);
  for (const JoinStep& inner : step.optional->steps) step.needs.AddAll(inner.needs);
  step.needs = step.needs.Minus(step.tables);
  group.tables.AddAll(step.tables);
  group.steps.push_back(std::move(step));
}

void SplitConjuncts(ExpressionPtr tree, std::vector<ExpressionPtr>& out) {
  std::vector<ExpressionPtr> stack;
  stack.push_back(std::move(tree));
  while (!stack.empty()) {
    ExpressionPtr t = std::move(stack.back());
    stack.pop_back();
    if (!t) continue;
    if (t->kind == NodeKind::kBinary && t->op == ExprOperator::kAnd && t->left && t->right) {
      stack.push_back(std::move(t->right));
      stack.push_back(std::move(t->left));
      continue;
    }
    out.push_back(std::move(t));
  }
}

}  // namespace

void TDataQuery::BuildPlan() {
  plan_.reset();
  const std::int32_t n = sources_.Count();
  std::vector<int> index_of(static_cast<std::size_t>(from_sequence_) + 1, -1);
  by_sequence_.assign(static_cast<std::size_t>(from_sequence_) + 1, nullptr);
  for (std::int32_t i = 0; i < n; ++i) {
    TSourceDataFile* s = sources_.Get(i);
    const auto seq = static_cast<std::size_t>(s->from_sequence_);
    if (seq < index_of.size()) {
      index_of[seq] = i;
      by_sequence_[seq] = s;
    }
  }

  // The conditions in text order, from the right operands down the left
  // spine of the WHERE tree.
  std::vector<const TExpressionNode*> roots(condition_sources_.size(), nullptr);
  const TExpressionNode* spine = where_.get();
  for (std::size_t i = roots.size(); i-- > 1 && spine != nullptr;) {
    const bool joiner = spine->kind == NodeKind::kBinary && spine->op == ExprOperator::kAnd;
    if (!joiner) break;
    roots[i] = spine->right.get();
    spine = spine->left.get();
  }
  if (!roots.empty()) roots[0] = spine;
  // ON conditions by the table they join; WHERE conditions apart.
  std::vector<std::vector<PlanCondition>> on(static_cast<std::size_t>(n));
  std::vector<PlanCondition> where;
  auto split = [&](const TExpressionNode* tree, std::vector<PlanCondition>& into) {
    std::vector<ExpressionPtr> parts;
    SplitConjuncts(storage::CopyExpression(tree), parts);
    for (ExpressionPtr& p : parts) {
      PlanCondition c;
      c.tables = TablesOf(p.get(), index_of);
      c.tree = std::move(p);
      into.push_back(std::move(c));
    }
  };
  const bool spine_ok = std::find(roots.begin(), roots.end(), nullptr) == roots.end();
  if (!spine_ok) {
    // Not the shape the parser builds: the whole tree filters the rows.
    split(where_.get(), where);
  } else {
    for (std::size_t i = 0; i < roots.size(); ++i) {
      const std::int32_t origin = condition_sources_[i];
      int joined = origin > 0 && static_cast<std::size_t>(origin) < index_of.size()
                       ? index_of[static_cast<std::size_t>(origin)]
                       : -1;
      split(roots[i], joined >= 0 ? on[static_cast<std::size_t>(joined)] : where);
    }
  }

  // FROM items, each a chain of joins read left to right.
  std::vector<std::vector<int>> items;
  {
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return sources_.Get(a)->from_sequence_ < sources_.Get(b)->from_sequence_;
    });
    for (int i : order) {
      const TSourceDataFile* s = sources_.Get(i);
      if (items.empty() || s->join_kind_ == JoinKind::kNone) items.emplace_back();
      items.back().push_back(i);
    }
  }
  std::unique_ptr<JoinNode> root;
  for (const std::vector<int>& chain : items) {
    std::unique_ptr<JoinNode> tree = Leaf(chain.front());
    for (std::size_t k = 1; k < chain.size(); ++k) {
      const int t = chain[k];
      std::vector<PlanCondition> cond = std::move(on[static_cast<std::size_t>(t)]);
      switch (sources_.Get(t)->join_kind_) {
        case JoinKind::kLeft: tree = Join(std::move(tree), Leaf(t), true, std::move(cond)); break;
        case JoinKind::kRight: tree = Join(Leaf(t), std::move(tree), true, std::move(cond)); break;
        default: tree = Join(std::move(tree), Leaf(t), false, std::move(cond)); break;
      }
    }
    root = root ? Join(std::move(root), std::move(tree), false, {}) : std::move(tree);
  }
  // ON conditions of a table that heads its item (not possible from the
  // grammar) filter the rows like WHERE conditions.
  for (auto& rest : on)
    for (PlanCondition& c : rest) where.push_back(std::move(c));

  plan_ = std::make_unique<JoinGroup>();
  std::vector<PlanCondition> conditions = std::move(where);
  if (root) Collect(*root, *plan_, conditions, sources_);
  PlaceConditions(*plan_, std::move(conditions), TableSet{}, true);
  flags_.residual_join = !plan_->end.empty();
}

void TDataQuery::PlaceConditions(JoinGroup& group, std::vector<PlanCondition> conditions,
                                 const TableSet& outside, bool outermost) {
  std::vector<int> index_of(by_sequence_.size(), -1);
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const auto seq = static_cast<std::size_t>(sources_.Get(i)->from_sequence_);
    if (seq < index_of.size()) index_of[seq] = i;
  }
  // A key candidate: an equality of a column of step's table with an
  // expression over bound tables only (at least one).
  auto keyed = [&](const JoinStep& step, const TableSet& bound) {
    if (step.source == nullptr) return false;
    for (const PlanCondition& c : conditions) {
      const TExpressionNode& t = *c.tree;
      if (t.kind != NodeKind::kBinary || t.op != ExprOperator::kEqual || !t.left || !t.right) continue;
      for (const TExpressionNode* side : {t.left.get(), t.right.get()}) {
        const TExpressionNode* other = side == t.left.get() ? t.right.get() : t.left.get();
        if (side->kind != NodeKind::kField || !step.tables.SubsetOf(TablesOf(side, index_of)) ||
            !TablesOf(side, index_of).SubsetOf(step.tables)) {
          continue;
        }
        const TableSet o = TablesOf(other, index_of);
        if (!o.Empty() && o.SubsetOf(bound)) return true;
      }
    }
    return false;
  };

  // Order the steps.
  std::vector<JoinStep> remaining = std::move(group.steps);
  group.steps.clear();
  TableSet bound = outside;
  auto take = [&](std::size_t i) {
    bound.AddAll(remaining[i].tables);
    group.steps.push_back(std::move(remaining[i]));
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(i));
  };
  if (outermost && !remaining.empty()) {
    // The driving table: the first source, when it stands in this group.
    std::size_t first = 0;
    for (std::size_t i = 0; i < remaining.size(); ++i) {
      if (remaining[i].source == sources_.Get(0)) first = i;
    }
    if (remaining[first].source == nullptr) {
      for (std::size_t i = 0; i < remaining.size(); ++i) {
        if (remaining[i].source != nullptr) {
          first = i;
          break;
        }
      }
    }
    take(first);
  }
  while (!remaining.empty()) {
    std::size_t pick = remaining.size();
    for (std::size_t i = 0; i < remaining.size() && pick == remaining.size(); ++i) {
      if (keyed(remaining[i], bound)) pick = i;
    }
    for (std::size_t i = 0; i < remaining.size() && pick == remaining.size(); ++i) {
      if (remaining[i].optional && remaining[i].needs.SubsetOf(bound)) pick = i;
    }
    for (std::size_t i = 0; i < remaining.size() && pick == remaining.size(); ++i) {
      if (remaining[i].source != nullptr) pick = i;
    }
    if (pick == remaining.size()) {
      SqlError("Internal join error attempting to validate table correlation names involved in "
               "join");
    }
    take(pick);
  }

  // Place each condition at the first step after which it can be tested.
  for (PlanCondition& c : conditions) {
    const TableSet mine = c.tables.Intersection(group.tables);
    if (mine.Empty()) {
      group.entry.push_back(std::move(c));
      continue;
    }
    TableSet seen;
    std::size_t at = 0;
    for (; at < group.steps.size(); ++at) {
      seen.AddAll(group.steps[at].tables);
      if (mine.SubsetOf(seen)) break;
    }
    JoinStep& step = group.steps[at];
    if (step.source != nullptr && c.tables.SubsetOf(step.tables)) {
      step.filter_parts.push_back(std::move(c));
    } else if (outermost && !LinkShape(*c.tree, index_of)) {
      group.end.push_back(std::move(c));
    } else {
      step.checks.push_back(std::move(c));
    }
  }

  // The optional groups' own conditions, and the keys.
  TableSet before = outside;
  for (JoinStep& step : group.steps) {
    if (step.optional) {
      for (const PlanCondition& c : step.pending) {
        // An ON condition may read the tables joined before its own, not
        // those after it.
        if (!c.tables.Minus(step.tables).SubsetOf(before)) {
          SqlError("Internal join error attempting to validate table correlation names involved "
                   "in join");
        }
      }
      PlaceConditions(*step.optional, std::move(step.pending), before, false);
      step.pending.clear();
    } else {
      ChooseKey(step, before);
    }
    before.AddAll(step.tables);
  }
}

void TDataQuery::ChooseKey(JoinStep& step, const TableSet& bound) {
  std::vector<int> index_of(by_sequence_.size(), -1);
  for (std::int32_t i = 0; i < sources_.Count(); ++i) {
    const auto seq = static_cast<std::size_t>(sources_.Get(i)->from_sequence_);
    if (seq < index_of.size()) index_of[seq] = i;
  }
  for (std::size_t k = 0; k < step.checks.size(); ++k) {
    TExpressionNode& t = *step.checks[k].tree;
    if (t.kind != NodeKind::kBinary || t.op != ExprOperator::kEqual || !t.left || !t.right) continue;
    for (int side = 0; side < 2; ++side) {
      ExpressionPtr& column = side == 0 ? t.left : t.right;
      ExpressionPtr& value = side == 0 ? t.right : t.left;
      if (column->kind != NodeKind::kField) continue;
      const TableSet ct = TablesOf(column.get(), index_of);
      if (!ct.SubsetOf(step.tables) || ct.Empty()) continue;
      const TableSet vt = TablesOf(value.get(), index_of);
      if (vt.Empty() || !vt.SubsetOf(bound)) continue;
      const KeyDomain domain = DomainOf(column->type, value->type);
      if (domain == KeyDomain::kNone) continue;
      step.domain = domain;
      step.key_field = column->field_number;
      step.key_value = std::move(value);
      step.checks.erase(step.checks.begin() + static_cast<std::ptrdiff_t>(k));
      return;
    }
  }
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
  }
}

void TDataQuery::ApplyWhereFilters() {
  // by_fields: an expression filter over the table's fields, answered from
  // its indexes where it can be; else a routine that reads the stored
  // record through the slots the tree was resolved with.
  auto install = [&](TSourceDataFile& s, ExpressionPtr tree, bool by_fields) {
    auto f = std::make_unique<TSourceDataFile::Filter>();
    f->source = &s;
    f->tree = std::move(tree);
    RewriteForFilter(*f->tree);
    std::int32_t handle = 0;
    storage::TDataFile& file = *s.data_file_;
    if (by_fields) {
      CheckFileResult(file, storage::Code(file.AddFilter(std::move(f->tree), false, handle)));
    } else {
      CheckFileResult(file, storage::Code(file.AddCallbackFilter(&EvaluateFilter, f.get(), handle)));
    }
    f->handle = handle;
    s.filters_.push_back(std::move(f));
    CheckFileResult(file, storage::Code(file.ActivateFilter(handle)));
  };
  if (flags_.live) {
    if (!where_ || sources_.Count() == 0) return;
    // The working fields are the result columns now, and an expression
    // filter reads its fields by working field number while an index
    // keys stored field numbers. A part whose every field is working
    // field n standing exactly where stored field n stands (same slot)
    // means the same to both, and goes to an expression filter when an
    // index answers it; every other part is tested by the routine.
    TSourceDataFile& s = *sources_.Get(0);
    storage::TDataFile& file = *s.data_file_;
    std::vector<ExpressionPtr> parts;
    SplitConjuncts(storage::CopyExpression(where_.get()), parts);
    ExpressionPtr indexed;
    ExpressionPtr rest;
    for (ExpressionPtr& part : parts) {
      RewriteForFilter(*part);
      if (FieldsStayInPlace(*part, file, s.slots_) &&
          file.Filters().AnalyzeFilter(*part) != storage::FilterLevel::kByRecords) {
        indexed = AndOf(std::move(indexed), std::move(part));
      } else {
        rest = AndOf(std::move(rest), std::move(part));
      }
    }
    if (indexed) install(s, std::move(indexed), true);
    if (rest) install(s, std::move(rest), false);
    return;
  }
  if (!plan_) return;
  // Every table step of every group: its own conditions as one filter.
  std::vector<JoinGroup*> groups{plan_.get()};
  while (!groups.empty()) {
    JoinGroup* g = groups.back();
    groups.pop_back();
    for (JoinStep& step : g->steps) {
      if (step.optional) {
        groups.push_back(step.optional.get());
        continue;
      }
      // Conditions an index answers (even in part) make the engine filter;
      // the others are tested on each record as it is read, compiled where
      // their shape allows.
      storage::TDataFile& file = *step.source->data_file_;
      const auto language = static_cast<std::uint8_t>(file.LocaleLanguage() & 0xFF);
      ExpressionPtr engine;
      ExpressionPtr compiled;
      for (PlanCondition& c : step.filter_parts) {
        RewriteForFilter(*c.tree);
        const bool by_records =
            file.Filters().AnalyzeFilter(*c.tree) == storage::FilterLevel::kByRecords;
        if (by_records && RecordCondition::Compile(*c.tree, step.source->slots_, language)) {
          compiled = AndOf(std::move(compiled), std::move(c.tree));
        } else {
          engine = AndOf(std::move(engine), std::move(c.tree));
        }
      }
      step.filter_parts.clear();
      if (compiled) step.condition = RecordCondition::Compile(*compiled, step.source->slots_, language);
      if (engine) install(*step.source, std::move(engine), true);
    }
  }
}

void TDataQuery::LoadSourceField(TExpressionNode& node) const {
  if (node.reserved2 == 0 || node.reserved2 >= by_sequence_.size()) return;
  const TSourceDataFile* s = by_sequence_[node.reserved2];
  if (s == nullptr || node.field_number == 0 || node.field_number >= s->slots_.size()) return;
  storage::LoadRecordValue(s->record_buffer_, s->slots_[node.field_number], node);
}

void TDataQuery::EvaluateOnRows(const TExpressionNode& tree, TExpressionNode& result) {
  const storage::FieldCallback field = [this](TExpressionNode& node) { LoadSourceField(node); };
  storage::EvaluateExpression(tree, field, 0, 0, result);
}

bool TDataQuery::AllHold(const std::vector<PlanCondition>& conditions) {
  for (const PlanCondition& c : conditions) {
    TExpressionNode result;
    EvaluateOnRows(*c.tree, result);
    if (!storage::NodeIsTrue(result)) return false;
  }
  return true;
}

}  // namespace sql
