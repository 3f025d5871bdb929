// FilterEngine: filters turned into record bitmaps, from index key ranges
// where the key order is the evaluator's order and by reading records
// everywhere else (see filter_engine.h for the rules).
//
// Contract of Compute (bitmap C in, R out), for every node:
//   R is a subset of the live records, and R AND C = (records matching the
//   node) AND C.
// So a scan needs to test only the records of C, an AND computes each
// operand from what the operands before it kept, and the filter's bitmap
// (C = its base) is exact on its base.
#include "storage/filter_engine.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

#include "storage/expression_eval.h"
#include "storage/index_page.h"
#include "storage/key_encoding.h"

namespace storage {

// ================================================================ key ranges

namespace {

// A walk down a tree or along its leaves visits at most this many pages
// per level: a damaged file with a cycle ends in 8965 instead of looping.
constexpr int kMaxTreeDepth = 64;

[[noreturn]] void CorruptIndex() { EngineError(ErrorCode::kCorruptIndex); }

// Largest i (0..count-1) for which pred(key i) holds, pred being true on a
// prefix of the sorted entries; -1 when none.
template <class Pred>
int LastWhere(const TPage& p, Pred pred) {
  int lo = 0, hi = p.Count();  // answer in [lo - 1, hi - 1]
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (pred(p.Key(mid))) lo = mid + 1;
    else hi = mid;
  }
  return lo - 1;
}

PagePin ChildPage(IndexStore& store, const TPage& parent, int i) {
  const std::uint32_t link = parent.Link(i);
  if (link == 0) CorruptIndex();
  return store.GetPage(link);
}

// Keys below key (or_equal: not above key).
std::uint32_t CountBelow(IndexStore& store, const std::uint8_t* key, bool or_equal) {
  const std::size_t n = store.KeySize();
  auto below = [&](const std::uint8_t* k) {
    const int c = store.CompareKeys(k, key, n);
    return or_equal ? c <= 0 : c < 0;
  };
  PagePin p = store.GetPage(store.RootPage());
  if (!p) return 0;
  std::uint32_t total = 0;
  for (int depth = 0; !p->IsLeaf(); ++depth) {
    if (depth > kMaxTreeDepth) CorruptIndex();
    const int i = LastWhere(*p, below);
    if (i < 0) return total;  // every key of the tree is beyond
    total += p->CountBefore(i);
    p = ChildPage(store, *p, i);
  }
  return total + static_cast<std::uint32_t>(LastWhere(*p, below) + 1);
}

// The leaf and entry of the first key k with not before(k), before being
// true on a prefix of the keys; the leaf is nullptr when every key is
// before. Interior entries are the first keys of their subtrees, so the
// entry to follow is the last one whose key is before (duplicates of the
// bound may start in the subtree to its left), or the first.
PagePin SeekFirstNotBefore(IndexStore& store, const std::function<bool(const std::uint8_t*)>& before,
                           int& idx) {
  PagePin p = store.GetPage(store.RootPage());
  if (!p) return p;
  for (int depth = 0; !p->IsLeaf(); ++depth) {
    if (depth > kMaxTreeDepth) CorruptIndex();
    const int i = std::max(LastWhere(*p, before), 0);
    p = ChildPage(store, *p, i);
  }
  idx = LastWhere(*p, before) + 1;
  return p;
}

// Walks the leaves from (leaf, idx) while keep(key) holds, setting the bit
// of each entry's record.
void WalkLeaves(IndexStore& store, PagePin p, int idx,
                const std::function<bool(const std::uint8_t*)>& keep, RecordBitmap& bitmap) {
  const std::uint32_t max_leaves = store.EndOffset() / kIndexBlockSize + 1;
  std::uint32_t crossings = 0;
  while (p) {
    for (; idx < p->Count(); ++idx) {
      if (!keep(p->Key(idx))) return;
      const std::uint32_t r = p->Link(idx);
      if (r >= 1 && r <= bitmap.Slots()) bitmap.Set(r);
    }
    const std::uint32_t next = p->Next();
    if (next == 0) return;
    if (++crossings > max_leaves) CorruptIndex();
    p = store.GetPage(next);
    if (!p->IsLeaf()) CorruptIndex();
    idx = 0;
  }
}

}  // namespace

std::uint32_t CountKeysBetween(IndexStore& store, const std::uint8_t* low,
                               const std::uint8_t* high) {
  if (store.CompareKeys(low, high, store.KeySize()) > 0) return 0;
  const std::uint32_t upto = CountBelow(store, high, true);
  const std::uint32_t below = CountBelow(store, low, false);
  return upto > below ? upto - below : 0;
}

void SetBitsForKeyRange(IndexStore& store, const std::uint8_t* low, const std::uint8_t* high,
                        RecordBitmap& bitmap) {
  const std::size_t n = store.KeySize();
  if (store.CompareKeys(low, high, n) > 0) return;
  int idx = 0;
  PagePin leaf = SeekFirstNotBefore(
      store, [&](const std::uint8_t* k) { return store.CompareKeys(k, low, n) < 0; }, idx);
  if (!leaf) return;
  WalkLeaves(
      store, std::move(leaf), idx,
      [&](const std::uint8_t* k) { return store.CompareKeys(k, high, n) <= 0; }, bitmap);
}

namespace {

// The bits of every key outside [low, high].
void SetBitsOutsideKeyRange(IndexStore& store, const std::uint8_t* low, const std::uint8_t* high,
                            RecordBitmap& bitmap) {
  const std::size_t n = store.KeySize();
  int idx = 0;
  PagePin leaf = SeekFirstNotBefore(store, [](const std::uint8_t*) { return false; }, idx);
  if (!leaf) return;
  WalkLeaves(
      store, std::move(leaf), idx,
      [&](const std::uint8_t* k) { return store.CompareKeys(k, low, n) < 0; }, bitmap);
  leaf = SeekFirstNotBefore(
      store, [&](const std::uint8_t* k) { return store.CompareKeys(k, high, n) <= 0; }, idx);
  if (!leaf) return;
  WalkLeaves(store, std::move(leaf), idx, [](const std::uint8_t*) { return true; }, bitmap);
}

}  // namespace

void KeyRangeBits(IndexStore& store, const std::uint8_t* low, const std::uint8_t* high,
                  RecordBitmap& bitmap) {
  bitmap.ClearAll();
  const std::uint32_t inside = CountKeysBetween(store, low, high);
  const std::uint32_t total = store.KeyCount();
  if (inside > total - std::min(inside, total)) {
    SetBitsOutsideKeyRange(store, low, high, bitmap);
    bitmap.Invert();
  } else {
    SetBitsForKeyRange(store, low, high, bitmap);
  }
}

// ================================================================ engine

// A node the index answers: the records whose key in index slot lies in
// [low, high] (inverted when invert), plus those whose key field is null
// when with_nulls.
struct FilterEngine::Condition {
  int slot = 0;
  std::vector<std::uint8_t> low;
  std::vector<std::uint8_t> high;
  bool invert = false;
  bool with_nulls = false;
};

namespace {

bool IsComparison(ExprOperator op) {
  switch (op) {
    case ExprOperator::kEqual:
    case ExprOperator::kNotEqual:
    case ExprOperator::kGreater:
    case ExprOperator::kLess:
    case ExprOperator::kGreaterEqual:
    case ExprOperator::kLessEqual:
      return true;
    default:
      return false;
  }
}

bool IsOrdering(ExprOperator op) { return IsComparison(op) && op != ExprOperator::kEqual && op != ExprOperator::kNotEqual; }

template <class A>
std::vector<std::uint8_t> Bytes(const A& a) {
  return std::vector<std::uint8_t>(a.begin(), a.end());
}

bool IsWholeNumberType(FieldType t) {
  return t == FieldType::kSmallInt || t == FieldType::kInteger || t == FieldType::kWord;
}

std::int64_t IntegerConstant(const TExpressionNode& c) {
  switch (c.type) {
    case FieldType::kSmallInt: return NodeValue<std::int16_t>(c);
    case FieldType::kWord: return NodeValue<std::uint16_t>(c);
    default: return NodeValue<std::int32_t>(c);
  }
}

// The key bytes (after the flag byte) of constant c converted to the type
// of field slot, physical-size long; nothing when c does not convert
// exactly, so that the evaluator would compare it otherwise than the key
// order does.
std::optional<std::vector<std::uint8_t>> KeyValue(const FieldSlot& slot, const TExpressionNode& c,
                                                  ExprOperator op) {
  const std::size_t size = slot.physical_size;
  std::vector<std::uint8_t> out;
  switch (slot.type) {
    case FieldType::kString: {
      if (c.type != FieldType::kString) return std::nullopt;
      const std::string_view text = NodeString(c);
      if (size == 0 || text.size() > size - 1u) return std::nullopt;  // longer than the field
      out.assign(size, 0);
      std::memcpy(out.data(), text.data(), text.size());
      return out;
    }
    case FieldType::kSmallInt:
    case FieldType::kInteger:
    case FieldType::kWord: {
      if (!IsWholeNumberType(c.type)) return std::nullopt;
      const std::int64_t v = IntegerConstant(c);
      if (slot.type == FieldType::kSmallInt) {
        if (v < INT16_MIN || v > INT16_MAX) return std::nullopt;
        out = Bytes(EncodeSmallIntKey(static_cast<std::int16_t>(v)));
      } else if (slot.type == FieldType::kWord) {
        if (v < 0 || v > UINT16_MAX) return std::nullopt;
        out = Bytes(EncodeWordKey(static_cast<std::uint16_t>(v)));
      } else {
        if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
        out = Bytes(EncodeIntegerKey(static_cast<std::int32_t>(v)));
      }
      break;
    }
    case FieldType::kFloat: {
      if (slot.subtype != FieldSubtype::kNone) return std::nullopt;  // money: currency scale
      double d;
      if (IsWholeNumberType(c.type)) d = static_cast<double>(IntegerConstant(c));
      else if (c.type == FieldType::kFloat && c.subtype == 0) d = NodeValue<double>(c);
      else return std::nullopt;
      if (std::isnan(d)) return std::nullopt;
      out = Bytes(EncodeFloatKey(d));
      break;
    }
    case FieldType::kDate:
    case FieldType::kTime:
      if (c.type != slot.type) return std::nullopt;
      out = Bytes(EncodeIntegerKey(NodeValue<std::int32_t>(c)));
      break;
    case FieldType::kTimestamp: {
      if (c.type != FieldType::kTimestamp) return std::nullopt;
      const double d = NodeValue<double>(c);
      if (std::isnan(d)) return std::nullopt;
      out = Bytes(EncodeFloatKey(d));
      break;
    }
    case FieldType::kCurrency:
      if (c.type != FieldType::kCurrency) return std::nullopt;
      out = Bytes(EncodeInt64Key(NodeValue<std::int64_t>(c)));
      break;
    case FieldType::kBoolean: {
      // Stored true is 1, the evaluator's true 0xFFFF: only = and <> with
      // the two canonical constants map onto keys.
      if (c.type != FieldType::kBoolean) return std::nullopt;
      if (op != ExprOperator::kEqual && op != ExprOperator::kNotEqual) return std::nullopt;
      const std::uint16_t v = NodeValue<std::uint16_t>(c);
      if (v != 0 && v != kNodeTrue) return std::nullopt;
      out = Bytes(EncodeWordKey(v == 0 ? 0 : 1));
      break;
    }
    default:
      return std::nullopt;
  }
  if (out.size() != size) return std::nullopt;
  return out;
}

}  // namespace

FilterEngine::FilterEngine(FilterSource& source) : source_(source), registry_(*this) {}

void FilterEngine::LoadFilterFieldValue(std::span<const std::byte> record,
                                        TExpressionNode& result) const {
  if (result.field_number == 0) return;
  const FieldSlot slot = source_.FilterFieldSlot(result.field_number);
  if (slot.type == FieldType::kNone || slot.Extent() > record.size()) return;
  LoadRecordValue(record, slot, result);
}

std::optional<FilterEngine::Condition> FilterEngine::IndexCondition(
    const TExpressionNode& node) const {
  IndexStore* store = source_.FilterIndex();
  if (store == nullptr) return std::nullopt;
  const TExpressionNode* field = node.left.get();
  const TExpressionNode* constant = node.right.get();
  if (field == nullptr || field->kind != NodeKind::kField || field->field_number == 0)
    return std::nullopt;

  enum class Shape { kNullTest, kCompare, kPrefix } shape;
  ExprOperator op = node.op;
  if (node.kind == NodeKind::kUnary &&
      (op == ExprOperator::kIsNull || op == ExprOperator::kIsNotNull)) {
    shape = Shape::kNullTest;
  } else if (node.kind == NodeKind::kBinary && IsComparison(op) && constant != nullptr &&
             constant->kind == NodeKind::kConstant) {
    shape = Shape::kCompare;
  } else if (node.kind == NodeKind::kStringCompare && node.case_insensitive == 0 &&
             (op == ExprOperator::kEqual || op == ExprOperator::kNotEqual) &&
             constant != nullptr && constant->kind == NodeKind::kConstant) {
    shape = Shape::kPrefix;
  } else {
    return std::nullopt;
  }

  const FieldSlot slot = source_.FilterFieldSlot(field->field_number);
  if (slot.type == FieldType::kNone) return std::nullopt;
  const bool has_locale = source_.FilterLanguage() != 0;

  // The index: the first (primary, then secondaries in order) whose first
  // key field is the field, ascending, and whose key order is byte order
  // for the field.
  int chosen = -1;
  TIndexDescriptor desc;
  for (int s = 0; s <= store->SecondaryIndexCount() && chosen < 0; ++s) {
    if (s == 0 && store->NoPrimaryKey()) continue;
    desc = store->GetDescriptorCopy(s);
    if (desc.FieldCount < 1 || desc.FieldCount > kMaxKeyFields) continue;
    if (desc.FieldNumbers[0] != field->field_number) continue;
    if (desc.Descending != 0 || desc.FieldDescending[0] != 0) continue;
    if (slot.type == FieldType::kString && desc.CaseInsensitive != 0) continue;
    if (desc.KeySize < 1u + slot.physical_size || desc.KeySize > kMaxKeySize) continue;
    bool locale_string = false;
    for (int f = 0; f < desc.FieldCount && has_locale; ++f) {
      const FieldSlot other = source_.FilterFieldSlot(desc.FieldNumbers[f]);
      if (other.type == FieldType::kString) locale_string = true;
    }
    if (locale_string) continue;  // compared in the locale's order, not bytes
    chosen = s;
  }
  if (chosen < 0) return std::nullopt;

  Condition c;
  c.slot = chosen;
  const std::size_t key_size = desc.KeySize;
  c.low.assign(key_size, 0x00);
  c.high.assign(key_size, 0xFF);

  if (shape == Shape::kNullTest ||
      (shape == Shape::kCompare && constant->null != 0 &&
       (op == ExprOperator::kEqual || op == ExprOperator::kNotEqual))) {
    // A null constant tests the field for null.
    c.low[0] = 0;
    c.high[0] = 0;
    c.invert = op == ExprOperator::kIsNotNull || op == ExprOperator::kNotEqual;
    return c;
  }
  if (constant->null != 0) return std::nullopt;  // ordering against null: read records
  if (shape == Shape::kCompare) {
    // Types the evaluator does not compare leave no boolean result; such a
    // node is the evaluator's to judge, record by record.
    TExpressionNode sample;
    sample.kind = NodeKind::kConstant;
    sample.type = field->type != FieldType::kNone ? field->type : slot.type;
    sample.size = field->size;
    TExpressionNode result;
    CopyNodeFields(node, result);
    result.type = FieldType::kNone;  // boolean only when the evaluator compared
    EvaluateBinary(op, sample, *constant, source_.FilterLanguage(), source_.FilterSort(), result);
    if (result.type != FieldType::kBoolean) return std::nullopt;
  }

  std::size_t prefix = 1 + std::size_t{slot.physical_size};
  std::optional<std::vector<std::uint8_t>> value;
  if (shape == Shape::kPrefix) {
    const std::size_t p = node.partial_length;
    if (slot.type != FieldType::kString || constant->type != FieldType::kString) return std::nullopt;
    if (p == 0) {
      value = KeyValue(slot, *constant, op);
    } else {
      if (slot.physical_size == 0 || p > slot.physical_size - 1u) return std::nullopt;
      const std::string_view text = NodeString(*constant);
      value.emplace(slot.physical_size, 0);
      std::memcpy(value->data(), text.data(), std::min(p, text.size()));
      prefix = 1 + p;
    }
  } else {
    value = KeyValue(slot, *constant, op);
  }
  if (!value) return std::nullopt;

  std::vector<std::uint8_t> k(prefix);
  k[0] = 1;
  std::memcpy(k.data() + 1, value->data(), prefix - 1);
  auto put = [&](std::vector<std::uint8_t>& dst, const std::vector<std::uint8_t>& part,
                 std::uint8_t fill) {
    std::memcpy(dst.data(), part.data(), part.size());
    std::fill(dst.begin() + static_cast<std::ptrdiff_t>(part.size()), dst.end(), fill);
  };
  std::vector<std::uint8_t> any_value(1, 1);  // flag 1: any non-null value
  switch (op) {
    case ExprOperator::kEqual:
    case ExprOperator::kNotEqual:
      put(c.low, k, 0x00);
      put(c.high, k, 0xFF);
      c.invert = op == ExprOperator::kNotEqual;
      break;
    case ExprOperator::kGreaterEqual:
      put(c.low, k, 0x00);
      put(c.high, any_value, 0xFF);
      break;
    case ExprOperator::kGreater: {
      std::vector<std::uint8_t> above = k;
      IncrementKey(above.data(), above.size());  // flag 1 + all 0xFF becomes flag 2: empty
      put(c.low, above, 0x00);
      put(c.high, any_value, 0xFF);
      break;
    }
    case ExprOperator::kLessEqual:
      put(c.low, any_value, 0x00);
      put(c.high, k, 0xFF);
      break;
    case ExprOperator::kLess: {
      std::vector<std::uint8_t> below = k;
      DecrementKey(below.data(), below.size());  // flag 1 + all 0x00 becomes flag 0: empty
      put(c.low, any_value, 0x00);
      put(c.high, below, 0xFF);
      break;
    }
    default:
      return std::nullopt;
  }
  if (IsOrdering(op)) {
    // The evaluator reads a null field as zero in ordering comparisons.
    TExpressionNode null_field;
    null_field.kind = NodeKind::kConstant;
    null_field.null = 1;
    null_field.type = field->type != FieldType::kNone ? field->type : slot.type;
    null_field.size = field->size;
    TExpressionNode result;
    CopyNodeFields(node, result);
    result.type = FieldType::kNone;  // boolean only when the evaluator compared
    EvaluateBinary(op, null_field, *constant, source_.FilterLanguage(), source_.FilterSort(),
                   result);
    if (result.type != FieldType::kBoolean) return std::nullopt;  // types the index can't judge
    c.with_nulls = NodeIsTrue(result);
  }
  return c;
}

std::optional<std::vector<FilterEngine::Condition>> FilterEngine::PredicateConditions(
    const TExpressionNode& node, bool& any_of, bool& inverted) const {
  if (node.kind != NodeKind::kExtendedPredicate || !node.left ||
      node.left->kind != NodeKind::kField || !node.right)
    return std::nullopt;
  std::vector<std::pair<ExprOperator, const TExpressionNode*>> parts;
  switch (node.op) {
    case ExprOperator::kIn:
    case ExprOperator::kNotIn: {
      any_of = true;
      inverted = node.op == ExprOperator::kNotIn;
      std::size_t n = 0;
      for (const TExpressionNode* e = node.right.get(); e != nullptr; e = e->right.get()) {
        if (++n > 4096) return std::nullopt;  // a long list: one scan is cheaper
        parts.emplace_back(ExprOperator::kEqual, e);
      }
      break;
    }
    case ExprOperator::kBetween:
    case ExprOperator::kNotBetween:
      any_of = false;
      inverted = node.op == ExprOperator::kNotBetween;
      parts.emplace_back(ExprOperator::kGreaterEqual, node.right.get());
      if (node.right->right) parts.emplace_back(ExprOperator::kLessEqual, node.right->right.get());
      break;
    default:
      return std::nullopt;
  }
  std::vector<Condition> out;
  for (const auto& [op, item] : parts) {
    if (item->kind != NodeKind::kConstant) return std::nullopt;
    TExpressionNode test;
    test.kind = NodeKind::kBinary;
    test.op = op;
    test.left = NewNode(NodeKind::kField, ExprOperator::kNone, "");
    CopyNodeFields(*node.left, *test.left);
    test.right = NewNode(NodeKind::kConstant, ExprOperator::kNone, "");
    CopyNodeFields(*item, *test.right);
    auto c = IndexCondition(test);
    if (!c) return std::nullopt;
    out.push_back(std::move(*c));
  }
  return out;
}

void FilterEngine::ConditionBits(const Condition& c, RecordBitmap& bitmap) {
  IndexStore& store = *source_.FilterIndex();
  const int previous = store.CurrentIndex();
  const std::int32_t position = previous == kNoIndex ? 0 : store.GetLogicalPosition();
  auto restore = [&] {
    store.SelectIndex(previous);
    if (position > 0) store.SetLogicalPositionUnfiltered(position);
  };
  try {
    store.SelectIndex(c.slot);
    ++ranges_walked_;
    KeyRangeBits(store, c.low.data(), c.high.data(), bitmap);
    if (c.with_nulls) {
      std::vector<std::uint8_t> low(c.low.size(), 0x00), high(c.high.size(), 0xFF);
      high[0] = 0x00;
      SetBitsForKeyRange(store, low.data(), high.data(), bitmap);
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  if (c.invert) bitmap.Invert();
  bitmap.AndWith(live_);
}

namespace {

// The level of a link over operands answered at levels l and r: an AND is
// answered as one way when both are, else partly; an OR by index when both
// are, by records when either is, else partly.
FilterLevel CombineLevels(ExprOperator op, FilterLevel l, FilterLevel r) {
  if (op == ExprOperator::kAnd) return l == r ? l : FilterLevel::kPartly;
  if (l == FilterLevel::kByIndex && r == FilterLevel::kByIndex) return FilterLevel::kByIndex;
  if (l == FilterLevel::kByRecords || r == FilterLevel::kByRecords) return FilterLevel::kByRecords;
  return FilterLevel::kPartly;
}

}  // namespace

// The operands of an AND chain, those an index answers first: the records
// they keep are all that the others must look at.
std::vector<TExpressionNode*> FilterEngine::ChainOperands(TExpressionNode& chain) {
  std::vector<std::pair<FilterLevel, TExpressionNode*>> ranked;
  ForEachChainOperand(chain, [&](TExpressionNode& operand) {
    ranked.emplace_back(Analyze(operand), &operand);
  });
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TExpressionNode*> out;
  out.reserve(ranked.size());
  for (const auto& r : ranked) out.push_back(r.second);
  return out;
}

FilterLevel FilterEngine::Analyze(TExpressionNode& node) {
  if (IndexCondition(node)) return FilterLevel::kByIndex;
  bool any_of = false, inverted = false;
  if (PredicateConditions(node, any_of, inverted)) return FilterLevel::kByIndex;
  if (node.kind == NodeKind::kUnary && node.op == ExprOperator::kNot && node.left)
    return Analyze(*node.left);
  if (IsChainLink(node)) {
    // A chain of any length in a loop (expression_node.h). Computing an AND
    // chain takes its operands best first (ChainOperands).
    std::optional<FilterLevel> level;
    ForEachChainOperand(node, [&](TExpressionNode& operand) {
      const FilterLevel l = Analyze(operand);
      level = level ? CombineLevels(node.op, *level, l) : l;
    });
    return *level;
  }
  return FilterLevel::kByRecords;
}

FilterLevel FilterEngine::AnalyzeFilter(TExpressionNode& tree) { return Analyze(tree); }

namespace {

// A condition answered from the record bytes, made once per scan: a
// string field compared for (in)equality with a string constant that is
// not null, whole (=, <>) or as a partial string compare. The answer is
// the evaluator's: the same characters (the field's bytes up to the first
// NUL, at most kMaxValueChars) go through the same CompareStrings, and a
// null field is unequal to the constant.
struct RawStringTest {
  FieldSlot slot;
  std::string constant;
  bool equal = true;
  bool case_insensitive = false;
  std::uint8_t partial = 0;

  // nullopt: this record needs the evaluator (a slot beyond the image).
  std::optional<bool> Passes(std::span<const std::byte> record, std::uint8_t language,
                             std::uint8_t sort) const {
    if (slot.Extent() > record.size()) return std::nullopt;
    if (!FieldHasValue(record, slot)) return !equal;
    const auto bytes = FieldValueBytes(record, slot);
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const std::size_t limit = std::min(bytes.size(), kMaxValueChars);
    const void* z = std::memchr(p, 0, limit);
    const std::string_view value(p, z ? static_cast<std::size_t>(static_cast<const char*>(z) - p)
                                      : limit);
    const int c = CompareStrings(language, sort, value, case_insensitive, partial, constant);
    return (c == 0) == equal;
  }
};

std::optional<RawStringTest> CompileRawStringTest(const TExpressionNode& node,
                                                  const FilterSource& source) {
  const bool binary = node.kind == NodeKind::kBinary;
  if (!binary && node.kind != NodeKind::kStringCompare) return std::nullopt;
  if (node.op != ExprOperator::kEqual && node.op != ExprOperator::kNotEqual) return std::nullopt;
  const TExpressionNode* field = node.left.get();
  const TExpressionNode* constant = node.right.get();
  if (field == nullptr || constant == nullptr || field->kind != NodeKind::kField ||
      field->field_number == 0 || constant->kind != NodeKind::kConstant ||
      constant->type != FieldType::kString || constant->null != 0)
    return std::nullopt;
  RawStringTest t;
  t.slot = source.FilterFieldSlot(field->field_number);
  if (t.slot.type != FieldType::kString) return std::nullopt;
  t.constant = std::string(NodeString(*constant));
  t.equal = node.op == ExprOperator::kEqual;
  if (!binary) {
    t.case_insensitive = node.case_insensitive != 0;
    t.partial = node.partial_length;
  }
  return t;
}

}  // namespace

void FilterEngine::Scan(RecordBitmap& bitmap, ExprOperator /*parent*/, const TExpressionNode& node) {
  bitmap.AndWith(live_);
  RecordBitmap keep(bitmap.Slots());
  const std::optional<RawStringTest> raw = CompileRawStringTest(node, source_);
  // EvaluateFilterRecord for each record, with the field callback and the
  // result node made once (the evaluator overwrites the result first).
  std::span<const std::byte> current;
  const FieldCallback field = [&](TExpressionNode& f) { LoadFilterFieldValue(current, f); };
  const std::uint8_t language = source_.FilterLanguage();
  const std::uint8_t sort = source_.FilterSort();
  TExpressionNode result;
  source_.ForEachRecord(&bitmap, [&](std::uint32_t r, std::span<const std::byte> record) {
    ++records_scanned_;
    if (raw) {
      if (const std::optional<bool> pass = raw->Passes(record, language, sort)) {
        if (*pass && r <= keep.Slots()) keep.Set(r);
        return;
      }
    }
    current = record;
    EvaluateExpression(node, field, language, sort, result);
    if (r <= keep.Slots() && NodeIsTrue(result)) keep.Set(r);
  });
  bitmap = std::move(keep);
}

FilterLevel FilterEngine::Compute(RecordBitmap& bitmap, ExprOperator parent,
                                  TExpressionNode& node) {
  if (parent != ExprOperator::kAnd) bitmap = live_;  // every live record is a candidate
  if (auto c = IndexCondition(node)) {
    ConditionBits(*c, bitmap);
    return FilterLevel::kByIndex;
  }
  bool any_of = false, inverted = false;
  if (auto parts = PredicateConditions(node, any_of, inverted)) {
    // IN: any of the equalities; BETWEEN: both bounds (as the evaluator
    // chains them); the NOT forms invert within the live records.
    RecordBitmap acc = any_of ? RecordBitmap(live_.Slots()) : live_;
    for (const Condition& c : *parts) {
      RecordBitmap one(live_.Slots());
      ConditionBits(c, one);
      if (any_of) acc.OrWith(one);
      else acc.AndWith(one);
    }
    if (inverted) acc.Invert();
    acc.AndWith(live_);
    bitmap = std::move(acc);
    return FilterLevel::kByIndex;
  }
  if (node.kind == NodeKind::kUnary && node.op == ExprOperator::kNot && node.left) {
    RecordBitmap inner = bitmap;
    const FilterLevel level = Compute(inner, ExprOperator::kAnd, *node.left);
    inner.Invert();
    inner.AndWith(live_);
    bitmap = std::move(inner);
    return level;
  }
  if (IsChainLink(node)) {
    // AND: each operand from what the ones before it kept, and the
    // intersection of their answers; OR: each operand from the candidates,
    // and the union of their answers. (An answer may hold records beyond
    // the candidates it was given.)
    std::optional<FilterLevel> level;
    if (node.op == ExprOperator::kAnd) {
      RecordBitmap all = bitmap;
      for (TExpressionNode* operand : ChainOperands(node)) {
        RecordBitmap b = all;
        const FilterLevel l = Compute(b, ExprOperator::kAnd, *operand);
        all.AndWith(b);
        level = level ? CombineLevels(node.op, *level, l) : l;
      }
      bitmap = std::move(all);
      return *level;
    }
    RecordBitmap any(live_.Slots());
    ForEachChainOperand(node, [&](TExpressionNode& operand) {
      RecordBitmap b = bitmap;
      const FilterLevel l = Compute(b, ExprOperator::kAnd, operand);
      any.OrWith(b);
      level = level ? CombineLevels(node.op, *level, l) : l;
    });
    bitmap = std::move(any);
    return *level;
  }
  Scan(bitmap, parent, node);
  return FilterLevel::kByRecords;
}

FilterLevel FilterEngine::BuildFilterBitmap(std::span<std::uint8_t> bytes, ExprOperator parent,
                                            TExpressionNode& tree) {
  RecordBitmap bitmap(live_.Slots());
  if (bytes.size() < RecordBitmap::BytesFor(live_.Slots())) {
    // A bitmap that does not cover the table: start from every live record.
    bitmap = live_;
  } else {
    bitmap.Assign(bytes);
  }
  const FilterLevel level = Compute(bitmap, parent, tree);
  bitmap.CopyTo(bytes);
  return level;
}

// ---------------------------------------------------------------- operations

void FilterEngine::RecomputeFlags() {
  ++answers_version_;
  callback_active_ = registry_.AnyCallbackFilterActive();
  bitmap_mode_ = registry_.AnyFilterActive();
  if (!bitmap_mode_) {
    built_ = false;
    live_.Resize(0);
    result_.Resize(0);
  }
}

ErrorCode FilterEngine::DropFilter(std::int32_t handle) {
  const ErrorCode code = registry_.DropFilter(handle);
  RecomputeFlags();
  return code;
}

ErrorCode FilterEngine::ActivateFilter(std::int32_t handle) {
  const ErrorCode code = registry_.ActivateFilter(handle);
  RecomputeFlags();
  return code;
}

ErrorCode FilterEngine::DeactivateFilter(std::int32_t handle) {
  const ErrorCode code = registry_.DeactivateFilter(handle);
  RecomputeFlags();
  return code;
}

void FilterEngine::Reset() {
  (void)registry_.DropFilter(0);
  RecomputeFlags();
}

void FilterEngine::Grow(std::uint32_t slots) {
  if (slots <= live_.Slots()) return;
  ++answers_version_;
  live_.Resize(slots);
  result_.Resize(slots);
  for (std::size_t i = 0; i < registry_.FilterCount(); ++i) {
    TFilter& f = registry_.FilterAt(i);
    if (f.BitmapSize() > 0) f.SetBitmapSize(static_cast<std::int64_t>(RecordBitmap::BytesFor(slots)));
  }
}

RecordBitmap FilterEngine::Base(const TFilter* upto, bool with_earlier) const {
  RecordBitmap base = live_;
  if (!with_earlier) return base;
  for (std::size_t i = 0; i < registry_.FilterCount(); ++i) {
    const TFilter& f = registry_.FilterAt(i);
    if (&f == upto) break;
    if (!f.Active() || f.BitmapSize() < RecordBitmap::BytesFor(base.Slots())) continue;
    RecordBitmap b(base.Slots());
    b.Assign(f.Bitmap());
    base.AndWith(b);
  }
  return base;
}

void FilterEngine::ComputeFilter(TFilter& filter, const RecordBitmap& base) {
  // The index cursor may ask Accept while key ranges are walked; it must
  // not resize the bitmap being computed.
  const bool was = computing_;
  computing_ = true;
  try {
    filter.ComputeBitmap(base.Bytes(), base.Bytes().size());
  } catch (...) {
    computing_ = was;
    throw;
  }
  computing_ = was;
}

void FilterEngine::BuildAll() {
  if (!bitmap_mode_) return;
  ++answers_version_;
  const std::uint32_t slots = source_.RecordSlots();
  live_ = RecordBitmap(slots);
  source_.LiveRecords(live_);
  result_ = RecordBitmap(slots);
  for (std::size_t i = 0; i < registry_.FilterCount(); ++i) {
    TFilter& f = registry_.FilterAt(i);
    if (!f.Active()) {
      f.SetBitmapSize(0);  // stale: built again when activated
      continue;
    }
    ComputeFilter(f, Base(&f, f.Option()));
  }
  built_ = true;
}

ErrorCode FilterEngine::BuildFilterBitmap(std::int32_t handle) {
  if (handle < 0) {
    return registry_.FindCallbackFilter(handle) ? ErrorCode::kNone
                                                : ErrorCode::kInvalidFilterHandle;
  }
  if (handle > 0 && registry_.FindFilter(handle) == nullptr) return ErrorCode::kInvalidFilterHandle;
  if (!bitmap_mode_) return ErrorCode::kNone;
  const std::uint32_t slots = source_.RecordSlots();
  if (handle == 0 || !built_ || slots != live_.Slots()) {
    BuildAll();
    return ErrorCode::kNone;
  }
  TFilter* f = registry_.FindFilter(handle);
  if (!f->Active()) return ErrorCode::kNone;
  ComputeFilter(*f, Base(f, f->Option()));
  return ErrorCode::kNone;
}

void FilterEngine::BuildResultBitmap() {
  ++answers_version_;
  if (!bitmap_mode_) {
    result_.Resize(0);
    return;
  }
  if (!built_ || source_.RecordSlots() != live_.Slots()) BuildAll();
  result_ = live_;
  for (std::size_t i = 0; i < registry_.FilterCount(); ++i) {
    TFilter& f = registry_.FilterAt(i);
    if (!f.Active()) continue;
    if (f.BitmapSize() < RecordBitmap::BytesFor(live_.Slots())) {
      ComputeFilter(f, Base(&f, f.Option()));  // activated with all others (handle 0)
    }
    RecordBitmap b(live_.Slots());
    b.Assign(f.Bitmap());
    result_.AndWith(b);
  }
}

void FilterEngine::Rebuild() {
  if (!bitmap_mode_) return;
  built_ = false;
  BuildResultBitmap();
}

bool FilterEngine::Matches(const TFilter& filter, std::span<const std::byte> record) const {
  return filter.Tree() != nullptr && EvaluateFilterRecord(*filter.Tree(), *this, record);
}

void FilterEngine::RecordChanged(std::uint32_t r) {
  if (!bitmap_mode_ || !built_ || computing_) return;
  if (r > live_.Slots()) Grow(std::max(r, source_.RecordSlots()));
  const std::vector<std::byte> record = source_.ReadRecordCopy(r);
  if (record.empty()) {
    RecordDeleted(r);
    return;
  }
  live_.Set(r);
  bool all = true;
  for (std::size_t i = 0; i < registry_.FilterCount(); ++i) {
    TFilter& f = registry_.FilterAt(i);
    if (!f.Active() || f.BitmapSize() == 0) continue;
    const bool m = Matches(f, record);
    auto bits = f.Bitmap();
    const auto mask = static_cast<std::uint8_t>(1u << ((r - 1) % 8));
    if (m) bits[(r - 1) / 8] |= mask;
    else bits[(r - 1) / 8] &= static_cast<std::uint8_t>(~mask);
    all = all && m;
  }
  ++answers_version_;
  if (all) result_.Set(r);
  else result_.Clear(r);
}

void FilterEngine::RecordAdded(std::uint32_t r) { RecordChanged(r); }

void FilterEngine::RecordDeleted(std::uint32_t r) {
  if (r < 1 || r > live_.Slots()) return;
  ++answers_version_;
  live_.Clear(r);
  result_.Clear(r);
}

bool FilterEngine::PassesCallbackFilters(std::uint32_t r) {
  if (!callback_active_) return true;
  const std::vector<std::byte> record = source_.ReadRecordCopy(r);
  if (record.empty()) return false;
  return registry_.PassesCallbackFilters(record, r);
}

bool FilterEngine::Accept(std::uint32_t record_number) {
  // A record added since the bitmaps were built is tested when first met.
  if (bitmap_mode_ && built_ && !computing_ && record_number > live_.Slots())
    RecordAdded(record_number);
  return TestBit(record_number) && PassesCallbackFilters(record_number);
}

}  // namespace storage
