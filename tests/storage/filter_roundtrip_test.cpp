// Random filter trees written with the buffer writer and read back: the
// read tree equals the written one, and both give the same truth on random
// records.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "storage/filter_buffer.h"
#include "storage/filter_object.h"
#include "storage/filter_reader.h"
#include "storage/session.h"
#include "tests/storage/filter_test_support.h"

namespace storage::test {
namespace {

using Op = ExprOperator;

class TreeMaker {
 public:
  TreeMaker(const TestTable& table, std::mt19937& rng) : table_(table), rng_(rng) {}

  // A condition nested at most depth levels.
  ExpressionPtr Condition(int depth) {
    const unsigned pick = depth <= 1 ? 3 + Below(5) : Below(8);
    switch (pick) {
      case 0:
      case 1: {
        auto n = NewNode(NodeKind::kBinary, pick == 0 ? Op::kAnd : Op::kOr, "");
        n->left = Condition(depth - 1);
        n->right = Condition(depth - 1);
        return n;
      }
      case 2: {
        auto n = NewNode(NodeKind::kUnary, Op::kNot, "");
        n->left = Condition(depth - 1);
        return n;
      }
      case 3: {
        auto n = NewNode(NodeKind::kUnary, Below(2) ? Op::kIsNull : Op::kIsNotNull, "");
        n->left = Field(RandomField());
        return n;
      }
      case 4: {  // string compare node
        auto n = NewNode(NodeKind::kStringCompare, Below(2) ? Op::kEqual : Op::kNotEqual, "");
        n->case_insensitive = static_cast<std::uint8_t>(Below(2));
        auto c = StringConstant(1 + Below(12));
        n->partial_length =
            static_cast<std::uint8_t>(Below(2) ? 0 : Below(NodeString(*c).size() + 1));
        n->left = Field("Name");
        n->right = std::move(c);
        return n;
      }
      case 5: {  // field with field
        auto n = NewNode(NodeKind::kBinary, Comparison(), "");
        n->left = Field(RandomField());
        n->right = Field(RandomField());
        return n;
      }
      default: {  // field with a constant of its type
        const std::string f = RandomField();
        auto n = NewNode(NodeKind::kBinary, Comparison(), "");
        n->left = Field(f);
        n->right = Constant(table_.FindFilterField(f)->type);
        return n;
      }
    }
  }

  // Random record: each field null one time in four.
  std::vector<std::byte> Record() {
    auto r = table_.NewRecord();
    for (const auto& f : table_.Fields()) {
      if (Below(4) == 0) continue;
      const FieldSlot& s = table_.Slot(f.name);
      switch (f.type) {
        case FieldType::kString:
          PutFieldString(r, s, Text(Below(8)));
          break;
        case FieldType::kBoolean:
          PutFieldBoolean(r, s, Below(2) != 0);
          break;
        case FieldType::kSmallInt:
          PutFieldValue<std::int16_t>(r, s, static_cast<std::int16_t>(Small()));
          break;
        case FieldType::kWord:
          PutFieldValue<std::uint16_t>(r, s, static_cast<std::uint16_t>(Below(5)));
          break;
        case FieldType::kFloat:
        case FieldType::kTimestamp:
          PutFieldValue<double>(r, s, Small() * 0.5);
          break;
        case FieldType::kCurrency:
          PutFieldValue<std::int64_t>(r, s, Small() * 5000);
          break;
        default:
          PutFieldValue<std::int32_t>(r, s, Small());
          break;
      }
    }
    return r;
  }

 private:
  unsigned Below(std::size_t n) { return static_cast<unsigned>(rng_() % n); }
  int Small() { return static_cast<int>(Below(7)) - 3; }
  Op Comparison() { return static_cast<Op>(3 + Below(6)); }
  std::string RandomField() { return table_.Fields()[Below(table_.Fields().size())].name; }
  // Few letters, so that equal and prefix-equal strings turn up.
  std::string Text(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += "abAB"[Below(4)];
    return s;
  }

  ExpressionPtr Field(const std::string& name) {
    const FilterField f = *table_.FindFilterField(name);
    auto n = NewNode(NodeKind::kField, Op::kNone, name);
    n->column_name = name;
    n->field_number = f.number;
    n->type = f.type;
    n->size = f.size;
    return n;
  }

  ExpressionPtr StringConstant(std::size_t max_len) {
    auto n = NewNode(NodeKind::kConstant, Op::kNone, "");
    n->type = FieldType::kString;
    // Now and then the longest constant the buffer carries.
    const std::string s = Below(20) == 0 ? std::string(255, 'a') : Text(Below(max_len + 1));
    n->size = static_cast<std::uint8_t>(std::min<std::size_t>(s.size() + 1, 255));
    if (s.empty()) {
      n->null = 1;
    } else {
      SetNodeString(*n, s);
    }
    return n;
  }

  ExpressionPtr Constant(FieldType type) {
    if (type == FieldType::kString) return StringConstant(8);
    auto n = NewNode(NodeKind::kConstant, Op::kNone, "");
    n->type = type;
    switch (type) {
      case FieldType::kBoolean:
        SetNodeBoolean(*n, Below(2) != 0);
        n->size = 2;
        break;
      case FieldType::kSmallInt:
        SetNodeValue<std::int16_t>(*n, static_cast<std::int16_t>(Small()));
        n->size = 2;
        break;
      case FieldType::kWord:
        SetNodeValue<std::uint16_t>(*n, static_cast<std::uint16_t>(Below(5)));
        n->size = 2;
        break;
      case FieldType::kFloat:
      case FieldType::kTimestamp:
        SetNodeValue<double>(*n, Small() * 0.5);
        n->size = 8;
        break;
      case FieldType::kCurrency:
        SetNodeValue<std::int64_t>(*n, Small() * 5000);
        n->size = 8;
        break;
      default:
        SetNodeValue<std::int32_t>(*n, Small());
        n->size = 4;
        break;
    }
    return n;
  }

  const TestTable& table_;
  std::mt19937& rng_;
};

// Writes a tree of kinds 1 to 5 with the writer, parents first.
FilterExpressionBuffer::NodeRef Write(const TExpressionNode& n, FilterExpressionBuffer& b,
                                      std::mt19937& rng) {
  using NodeRef = FilterExpressionBuffer::NodeRef;
  switch (n.kind) {
    case NodeKind::kUnary: {
      const NodeRef at = b.AddUnary(n.op);
      b.SetOperand(at, 0, Write(*n.left, b, rng));
      return at;
    }
    case NodeKind::kBinary:
    case NodeKind::kStringCompare: {
      const NodeRef at = n.kind == NodeKind::kBinary
                             ? b.AddBinary(n.op)
                             : b.AddStringCompare(n.op, n.case_insensitive != 0, n.partial_length);
      b.SetOperand(at, 0, Write(*n.left, b, rng));
      b.SetOperand(at, 1, Write(*n.right, b, rng));
      return at;
    }
    case NodeKind::kField:
      // The number in the buffer is not what the reader goes by.
      return b.AddField(static_cast<std::uint16_t>(rng() % 100), n.column_name.View());
    default:
      switch (n.type) {
        case FieldType::kString: {
          if (n.null) return b.AddStringConstant("");
          // A 255-character constant (cut to 254 in the node) goes out whole.
          const std::string_view s = NodeString(n);
          return b.AddStringConstant(s.size() == kMaxValueChars ? std::string(255, s[0])
                                                                : std::string(s));
        }
        case FieldType::kBoolean:
          // True is 1 from a constant and 0xFFFF from a lone field.
          return b.AddBooleanConstant(NodeIsTrue(n) ? (rng() % 2 ? 1 : 0xFFFF) : 0);
        case FieldType::kSmallInt:
          return b.AddSmallIntConstant(NodeValue<std::int16_t>(n));
        case FieldType::kWord:
          return b.AddWordConstant(NodeValue<std::uint16_t>(n));
        case FieldType::kFloat:
          return b.AddFloatConstant(NodeValue<double>(n));
        case FieldType::kTimestamp:
          return b.AddDateTimeConstant(NodeValue<double>(n));
        case FieldType::kCurrency:
          return b.AddBcdConstant(NodeValue<std::int64_t>(n));
        case FieldType::kDate:
          return b.AddDateConstant(NodeValue<std::uint32_t>(n));
        case FieldType::kTime:
          return b.AddTimeConstant(NodeValue<std::uint32_t>(n));
        default:
          return b.AddIntegerConstant(NodeValue<std::int32_t>(n));
      }
  }
}

TEST(FilterRoundTripTest, RandomTreesReadBackAsWrittenAndMeanTheSame) {
  InitializeEngine();
  TestTable table;
  std::mt19937 rng(1206);
  TreeMaker maker(table, rng);
  std::vector<std::vector<std::byte>> records;
  for (int i = 0; i < 24; ++i) records.push_back(maker.Record());
  int trues = 0, falses = 0;
  for (int i = 0; i < 1500; ++i) {
    const ExpressionPtr tree = maker.Condition(1 + static_cast<int>(rng() % 6));
    FilterExpressionBuffer b;
    (void)Write(*tree, b, rng);
    const std::vector<std::byte> bytes = b.Finish();
    ASSERT_EQ(bytes.size(), 10 + b.NodeAreaSize() + b.LiteralAreaSize());
    const ExpressionPtr read = ConvertFilterBlob(bytes, table);
    ASSERT_EQ(Describe(read.get()), Describe(tree.get())) << i;
    for (const auto& r : records) {
      const bool want = EvaluateFilterRecord(*tree, table, r);
      ASSERT_EQ(EvaluateFilterRecord(*read, table, r), want) << Describe(tree.get());
      (want ? trues : falses)++;
    }
  }
  // The trees and records are varied enough to give both answers often.
  EXPECT_GT(trues, 5000);
  EXPECT_GT(falses, 5000);
}

}  // namespace
}  // namespace storage::test
