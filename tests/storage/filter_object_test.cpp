// Filters read from buffers and evaluated on records of a small in-memory
// table: the truth of each condition on hand-made records, random trees
// written and read back (the same tree, the same truth), TFilter's tree
// ownership.
#include "storage/filter_object.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_reader.h"
#include "storage/session.h"
#include "tests/storage/expression_test_support.h"
#include "tests/common/sqlite_peer.h"
#include "tests/storage/filter_test_support.h"

namespace storage::test {
namespace {

using Bytes = std::vector<std::byte>;

ExpressionPtr SCmp(Op op, bool ci, std::uint8_t partial, std::string_view text) {
  auto n = NewNode(NodeKind::kStringCompare, op, "");
  n->case_insensitive = ci;
  n->partial_length = partial;
  n->left = Col("Name");
  n->right = Str(text);
  return n;
}

// The '' constant, which the buffer holds as the empty string: NULL.
ExpressionPtr EmptyString() {
  auto n = Null();
  n->type = T::kString;
  return n;
}

class FilterObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    auto rec = [&](const char* name, std::int32_t qty, std::int16_t small, bool active, double price,
                   std::int64_t amount, std::uint32_t born, std::int32_t at, double stamp, std::uint16_t w) {
      auto r = table_.NewRecord();
      PutFieldString(r, table_.Slot("Name"), name);
      PutFieldValue(r, table_.Slot("Qty"), qty);
      PutFieldValue(r, table_.Slot("Small"), small);
      PutFieldBoolean(r, table_.Slot("Active"), active);
      PutFieldValue(r, table_.Slot("Price"), price);
      PutFieldValue(r, table_.Slot("Amount"), amount);
      PutFieldValue(r, table_.Slot("Born"), born);
      PutFieldValue(r, table_.Slot("At"), at);
      PutFieldValue(r, table_.Slot("Stamp"), stamp);
      PutFieldValue(r, table_.Slot("W"), w);
      table_.AddRecord(r);
    };
    const double noon = StampMs(2000, 1, 1, 43200000);
    rec("Smith", 5, -3, true, 2.5, 125000, DayNumber(1999, 12, 31), 3600000, noon, 65535);
    rec("smithers", 10, 7, false, 1.0, -5000, DayNumber(2000, 1, 1), 0, noon - 1, 0);
    table_.AddRecord(table_.NewRecord());  // every field null
    auto sm = table_.NewRecord();
    PutFieldString(sm, table_.Slot("Name"), "Sm");
    PutFieldValue<std::int32_t>(sm, table_.Slot("Qty"), 0);
    table_.AddRecord(sm);
  }

  std::string Truths(const Bytes& buffer) {
    const ExpressionPtr tree = ConvertFilterBlob(buffer, table_);
    std::string s;
    for (std::size_t r = 1; r <= table_.RecordCount(); ++r)
      s += EvaluateFilterRecord(*tree, table_, table_.Record(r)) ? 'T' : 'F';
    return s;
  }

  TestTable table_;
};

TEST_F(FilterObjectTest, ReadFiltersGiveTheEvaluatorsTruthOnRecords) {
  const double noon = StampMs(2000, 1, 1, 43200000);
  const std::pair<Bytes, const char*> cases[] = {
      // Records: Smith, smithers, all null, "Sm" with Qty 0.
      {Buffer(Bin(Op::kEqual, Col("Name"), Str("Smith"))), "TFFF"},
      {Buffer(Bin(Op::kEqual, Col("Name"), EmptyString())), "FFTF"},  // '' is NULL: = tests for null
      {Buffer(Bin(Op::kNotEqual, Col("Name"), EmptyString())), "TTFT"},
      {Buffer(SCmp(Op::kEqual, false, 2, "Sm")), "TFFT"},
      {Buffer(SCmp(Op::kEqual, true, 2, "SM")), "TTFT"},
      {Buffer(SCmp(Op::kNotEqual, true, 2, "SM")), "FFTF"},
      {Buffer(SCmp(Op::kEqual, true, 0, "smith")), "TFFF"},
      {Buffer(SCmp(Op::kEqual, false, 200, "Sm")), "FFFT"},  // a partial length past both strings
      {Buffer(Bin(Op::kGreater, Col("Name"), Str("Sm"))), "TTFF"},  // a longer string is greater
      {Buffer(Un(Op::kIsNull, Col("Qty"))), "FFTF"},
      {Buffer(Un(Op::kIsNotNull, Col("Qty"))), "TTFT"},
      {Buffer(Bin(Op::kEqual, Col("Qty"), Int(5))), "TFFF"},  // a null field is not equal
      {Buffer(Bin(Op::kNotEqual, Col("Qty"), Int(5))), "FTTT"},
      {Buffer(Bin(Op::kLess, Col("Qty"), Int(5))), "FFTT"},  // ordering reads null as zero
      {Buffer(Bin(Op::kGreaterEqual, Col("Qty"), Int(0))), "TTTT"},
      {Buffer(Bin(Op::kEqual, Col("Active"), Bool(true)), 1), "TFFF"},
      {Buffer(Bin(Op::kEqual, Col("Active"), Bool(true)), 2), "TFFF"},
      {Buffer(Bin(Op::kEqual, Col("Active"), Bool(false))), "FTFF"},
      {Buffer(Un(Op::kNot, Bin(Op::kEqual, Col("Qty"), Int(5)))), "FTTT"},
      {Buffer(Bin(Op::kOr, Bin(Op::kGreater, Col("Qty"), Int(5)), Bin(Op::kEqual, Col("Name"), Str("Smith")))), "TTFF"},
      {Buffer(Bin(Op::kAnd, Bin(Op::kGreaterEqual, Col("Qty"), Int(5)),
                  Un(Op::kNot, Bin(Op::kEqual, Col("Active"), Bool(true))))),
       "FTFF"},
      {Buffer(Bin(Op::kEqual, Col("Amount"), Curr(125000))), "TFFF"},
      {Buffer(Bin(Op::kLess, Col("Amount"), Curr(0))), "FTFF"},
      {Buffer(Bin(Op::kGreater, Col("Price"), Flt(2.0))), "TFFF"},
      {Buffer(Bin(Op::kLessEqual, Col("Small"), Small(-3))), "TFFF"},
      {Buffer(Bin(Op::kEqual, Col("W"), Word(65535))), "TFFF"},
      {Buffer(Bin(Op::kEqual, Col("Born"), Date(1999, 12, 31))), "TFFF"},
      {Buffer(Bin(Op::kLess, Col("Born"), Date(2000, 1, 1))), "TFTT"},
      {Buffer(Bin(Op::kEqual, Col("At"), TimeMs(3600000))), "TFFF"},
      {Buffer(Bin(Op::kGreaterEqual, Col("Stamp"), Typed(T::kTimestamp, noon))), "TFFF"},
      {Buffer(Bin(Op::kLess, Col("Small"), Col("Qty"))), "TTFF"},
  };
  for (const auto& [buffer, truths] : cases)
    EXPECT_EQ(Truths(buffer), truths) << Describe(ConvertFilterBlob(buffer, table_).get());
}

// Random trees of every node kind over every field type.
class TreeMaker : public testsupport::Dice {
 public:
  TreeMaker(const TestTable& table, std::uint32_t seed) : Dice(seed), table_(table) {}

  ExpressionPtr Condition(int depth) {
    const unsigned pick = depth <= 1 ? 3 + Below(5) : Below(8);
    if (pick <= 1) return Bin(pick == 0 ? Op::kAnd : Op::kOr, Condition(depth - 1), Condition(depth - 1));
    if (pick == 2) return Un(Op::kNot, Condition(depth - 1));
    if (pick == 3) return Un(Below(2) ? Op::kIsNull : Op::kIsNotNull, Field(RandomField()));
    if (pick == 4) {
      auto c = StringConstant(1 + Below(12));
      auto n = NewNode(NodeKind::kStringCompare, Below(2) ? Op::kEqual : Op::kNotEqual, "");
      n->case_insensitive = static_cast<std::uint8_t>(Below(2));
      n->partial_length = static_cast<std::uint8_t>(Below(2) ? 0 : Below(NodeString(*c).size() + 1));
      n->left = Field("Name");
      n->right = std::move(c);
      return n;
    }
    const std::string f = RandomField();
    const auto op = static_cast<Op>(3 + Below(6));
    return Bin(op, Field(f), pick == 5 ? Field(RandomField()) : Constant(table_.FindFilterField(f)->type));
  }

  // Each field null one time in four.
  std::vector<std::byte> Record() {
    auto r = table_.NewRecord();
    for (const auto& f : table_.Fields()) {
      if (Below(4) == 0) continue;
      const FieldSlot& s = table_.Slot(f.name);
      switch (f.type) {
        case FieldType::kString: PutFieldString(r, s, Text(Below(8))); break;
        case FieldType::kBoolean: PutFieldBoolean(r, s, Below(2) != 0); break;
        case FieldType::kSmallInt: PutFieldValue<std::int16_t>(r, s, static_cast<std::int16_t>(Small())); break;
        case FieldType::kWord: PutFieldValue<std::uint16_t>(r, s, static_cast<std::uint16_t>(Below(5))); break;
        case FieldType::kFloat:
        case FieldType::kTimestamp: PutFieldValue<double>(r, s, Small() * 0.5); break;
        case FieldType::kCurrency: PutFieldValue<std::int64_t>(r, s, Small() * 5000); break;
        default: PutFieldValue<std::int32_t>(r, s, Small()); break;
      }
    }
    return r;
  }

 private:
  int Small() { return Pick(-3, 3); }
  std::string RandomField() { return Of(table_.Fields()).name; }
  std::string Text(int n) { return Dice::Text(n, n, "abAB"); }  // few letters: equal strings turn up
  ExpressionPtr Field(const std::string& name) {
    const FilterField f = *table_.FindFilterField(name);
    auto n = NewFieldNode(name);
    n->field_number = f.number;
    n->type = f.type;
    n->size = f.size;
    return n;
  }
  ExpressionPtr StringConstant(std::size_t max_len) {
    // Now and then the longest constant the buffer carries.
    const std::string s = Below(20) == 0 ? std::string(255, 'a') : Text(Below(max_len + 1));
    auto n = s.empty() ? NewNullConstant() : Str(s);
    n->type = FieldType::kString;
    n->size = static_cast<std::uint8_t>(std::min<std::size_t>(s.size() + 1, 255));
    return n;
  }
  ExpressionPtr Constant(FieldType type) {
    switch (type) {
      case FieldType::kString: return StringConstant(8);
      case FieldType::kBoolean: return Bool(Below(2) != 0);
      case FieldType::kSmallInt: return test::Small(static_cast<std::int16_t>(Small()));
      case FieldType::kWord: return test::Word(static_cast<std::uint16_t>(Below(5)));
      case FieldType::kFloat: return Flt(Small() * 0.5);
      case FieldType::kTimestamp: return Typed(T::kTimestamp, Small() * 0.5);
      case FieldType::kCurrency: return Curr(Small() * 5000);
      case FieldType::kDate: return Typed<std::uint32_t>(T::kDate, static_cast<std::uint32_t>(Small()));
      case FieldType::kTime: return Typed<std::uint32_t>(T::kTime, static_cast<std::uint32_t>(Small()));
      default: return Int(Small());
    }
  }

  const TestTable& table_;
};

TEST_F(FilterObjectTest, RandomTreesReadBackAsWrittenAndMeanTheSame) {
  std::mt19937 rng(1206);
  TreeMaker maker(table_, 1206);
  std::vector<std::vector<std::byte>> records;
  for (int i = 0; i < 24; ++i) records.push_back(maker.Record());
  int trues = 0, falses = 0;
  for (int i = 0; i < 1500; ++i) {
    const ExpressionPtr tree = maker.Condition(1 + static_cast<int>(rng() % 6));
    FilterExpressionBuffer b;
    (void)WriteTree(*tree, b, rng);
    const std::vector<std::byte> bytes = b.Finish();
    ASSERT_EQ(bytes.size(), 10 + b.NodeAreaSize() + b.LiteralAreaSize());
    const ExpressionPtr read = ConvertFilterBlob(bytes, table_);
    ASSERT_EQ(Describe(read.get()), Describe(tree.get())) << i;
    for (const auto& r : records) {
      const bool want = EvaluateFilterRecord(*tree, table_, r);
      ASSERT_EQ(EvaluateFilterRecord(*read, table_, r), want) << Describe(tree.get());
      (want ? trues : falses)++;
    }
  }
  EXPECT_GT(trues, 5000);  // varied enough to give both answers often
  EXPECT_GT(falses, 5000);
}

// A filter owns a tree read from a buffer and frees it; a lent tree (the
// SQL engine's) stays the lender's: the sanitizer build reports a double
// free or a use after free otherwise. A bad buffer changes nothing.
TEST_F(FilterObjectTest, TreesOwnedOrLentAndBadBuffersChangeNothing) {
  table_.analysis_level = FilterLevel::kPartly;
  ExpressionPtr lent = Bin(Op::kEqual, Col("Qty"), Int(5));
  lent->left->field_number = 2;
  ExpressionPtr lent2 = Bin(Op::kEqual, Col("Qty"), Int(10));
  lent2->left->field_number = 2;
  {
    TFilter f(table_, true, Buffer(Bin(Op::kGreater, Col("Qty"), Int(5))));
    EXPECT_TRUE(f.OwnsTree());
    EXPECT_EQ(f.Level(), FilterLevel::kPartly);
    EXPECT_EQ(table_.analyses, 1);
    EXPECT_TRUE(f.Accepts(table_.Record(2)));
    f.ReplaceExpression(lent.get());
    EXPECT_FALSE(f.OwnsTree());
    EXPECT_TRUE(f.Accepts(table_.Record(1)));
    f.ReplaceExpression(lent2.get());
    EXPECT_TRUE(f.Accepts(table_.Record(2)));
    f.ReplaceExpression(Buffer(Bin(Op::kEqual, Col("Qty"), Int(0))));
    EXPECT_TRUE(f.OwnsTree());
    TExpressionNode* before = f.Tree();
    Bytes bad = Buffer(Bin(Op::kEqual, Col("Qty"), Int(7)));
    bad[0] = std::byte{1};  // version 1
    EXPECT_THROW(f.ReplaceExpression(bad), ETolmidEngineError);
    EXPECT_THROW(f.ReplaceExpression(Buffer(Bin(Op::kEqual, Col("Gone"), Int(7)))), ETolmidEngineError);
    EXPECT_EQ(f.Tree(), before);
    EXPECT_TRUE(f.Accepts(table_.Record(4)));
    f.ReplaceExpression(lent.get());
  }
  EXPECT_EQ(Describe(lent.get()), "bin3(f:Qty#2/t0/s0,c/t6/s4=05000000)");
  EXPECT_EQ(Describe(lent2.get()), "bin3(f:Qty#2/t0/s0,c/t6/s4=0a000000)");
}

}  // namespace
}  // namespace storage::test
