// Filters read from buffers and evaluated on records of a small in-memory
// table; TFilter's tree ownership and bitmap; callback filters; handles.
#include "storage/filter_object.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_buffer.h"
#include "storage/filter_reader.h"
#include "storage/filter_registry.h"
#include "storage/session.h"
#include "tests/storage/expression_test_support.h"
#include "tests/storage/filter_test_support.h"

namespace storage::test {
namespace {

using Bytes = std::vector<std::byte>;
using B = FilterExpressionBuffer;

// Builds a record of table field by field; unset fields stay null.
class Rec {
 public:
  explicit Rec(const TestTable& t) : t_(t), r_(t.NewRecord()) {}
  Rec& Str(const char* f, std::string_view v) {
    PutFieldString(r_, t_.Slot(f), v);
    return *this;
  }
  template <class V>
  Rec& Val(const char* f, V v) {
    PutFieldValue<V>(r_, t_.Slot(f), v);
    return *this;
  }
  Rec& Bool(const char* f, bool v) {
    PutFieldBoolean(r_, t_.Slot(f), v);
    return *this;
  }
  Bytes Done() const { return r_; }

 private:
  const TestTable& t_;
  Bytes r_;
};

// field op constant, the constant added by add.
Bytes Cmp(std::uint16_t no, const char* field, ExprOperator op, std::function<B::NodeRef(B&)> add) {
  B b;
  const auto n = b.AddBinary(op);
  b.SetOperand(n, 0, b.AddField(no, field));
  b.SetOperand(n, 1, add(b));
  return b.Finish();
}
Bytes StrCmp(ExprOperator op, bool ci, std::uint8_t partial, std::string_view text) {
  B b;
  const auto n = b.AddStringCompare(op, ci, partial);
  b.SetOperand(n, 0, b.AddField(1, "Name"));
  b.SetOperand(n, 1, b.AddStringConstant(text));
  return b.Finish();
}
Bytes Unary(ExprOperator op, const char* field) {
  B b;
  const auto n = b.AddUnary(op);
  b.SetOperand(n, 0, b.AddField(0, field));
  return b.Finish();
}

class FilterObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    const double noon = StampMs(2000, 1, 1, 43200000);
    table_.AddRecord(
        Rec(table_)
            .Str("Name", "Smith")
            .Val<std::int32_t>("Qty", 5)
            .Val<std::int16_t>("Small", -3)
            .Bool("Active", true)
            .Val<double>("Price", 2.5)
            .Val<std::int64_t>("Amount", 125000)
            .Val<std::int32_t>("Born", static_cast<std::int32_t>(DayNumber(1999, 12, 31)))
            .Val<std::int32_t>("At", 3600000)
            .Val<double>("Stamp", noon)
            .Val<std::uint16_t>("W", 65535)
            .Done());
    table_.AddRecord(
        Rec(table_)
            .Str("Name", "smithers")
            .Val<std::int32_t>("Qty", 10)
            .Val<std::int16_t>("Small", 7)
            .Bool("Active", false)
            .Val<double>("Price", 1.0)
            .Val<std::int64_t>("Amount", -5000)
            .Val<std::int32_t>("Born", static_cast<std::int32_t>(DayNumber(2000, 1, 1)))
            .Val<std::int32_t>("At", 0)
            .Val<double>("Stamp", noon - 1)
            .Val<std::uint16_t>("W", 0)
            .Done());
    table_.AddRecord(Rec(table_).Done());  // every field null
    table_.AddRecord(Rec(table_).Str("Name", "Sm").Val<std::int32_t>("Qty", 0).Done());
  }

  std::string Truths(const Bytes& buffer) {
    const ExpressionPtr tree = ConvertFilterBlob(buffer, table_);
    std::string s;
    for (std::size_t r = 1; r <= table_.RecordCount(); ++r) {
      s += EvaluateFilterRecord(*tree, table_, table_.Record(r)) ? 'T' : 'F';
    }
    return s;
  }

  TestTable table_;
};

TEST_F(FilterObjectTest, ReadFiltersGiveTheEvaluatorsTruthOnRecords) {
  using Op = ExprOperator;
  const double noon = StampMs(2000, 1, 1, 43200000);
  auto i32 = [](std::int32_t v) { return [v](B& b) { return b.AddIntegerConstant(v); }; };
  auto boolean = [](std::uint16_t v) { return [v](B& b) { return b.AddBooleanConstant(v); }; };
  auto qty_is_5 = [&] { return Cmp(2, "Qty", Op::kEqual, i32(5)); };
  struct Case {
    const char* what;
    Bytes buffer;
    const char* truths;  // records: Smith, smithers, all null, "Sm" with Qty 0
  } cases[] = {
      {"Name = 'Smith'",
       Cmp(1, "Name", Op::kEqual, [](B& b) { return b.AddStringConstant("Smith"); }), "TFFF"},
      // '' is the NULL constant: = tests for null, <> for a value.
      {"Name = ''", Cmp(1, "Name", Op::kEqual, [](B& b) { return b.AddStringConstant(""); }),
       "FFTF"},
      {"Name <> ''", Cmp(1, "Name", Op::kNotEqual, [](B& b) { return b.AddStringConstant(""); }),
       "TTFT"},
      {"Name = 'Sm*'", StrCmp(Op::kEqual, false, 2, "Sm"), "TFFT"},
      {"Name = 'SM*' case-insensitive", StrCmp(Op::kEqual, true, 2, "SM"), "TTFT"},
      {"Name <> 'SM*' case-insensitive", StrCmp(Op::kNotEqual, true, 2, "SM"), "FFTF"},
      {"Name = 'smith' case-insensitive, whole", StrCmp(Op::kEqual, true, 0, "smith"), "TFFF"},
      {"Name = 'Smith' case-sensitive compare node", StrCmp(Op::kEqual, false, 0, "Smith"), "TFFF"},
      {"Name > 'Sm' (a longer string is greater)",
       Cmp(1, "Name", Op::kGreater, [](B& b) { return b.AddStringConstant("Sm"); }), "TTFF"},
      {"Qty is blank", Unary(Op::kIsNull, "Qty"), "FFTF"},
      {"Qty is not blank", Unary(Op::kIsNotNull, "Qty"), "TTFT"},
      {"Qty = 5 (a null field is not equal)", qty_is_5(), "TFFF"},
      {"Qty <> 5 (a null field is unequal)", Cmp(2, "Qty", Op::kNotEqual, i32(5)), "FTTT"},
      // Ordering comparisons read a null field as its stored zero.
      {"Qty < 5", Cmp(2, "Qty", Op::kLess, i32(5)), "FFTT"},
      {"Qty > 5", Cmp(2, "Qty", Op::kGreater, i32(5)), "FTFF"},
      {"Qty >= 0", Cmp(2, "Qty", Op::kGreaterEqual, i32(0)), "TTTT"},
      {"Active = True (1)", Cmp(4, "Active", Op::kEqual, boolean(1)), "TFFF"},
      {"Active (lone field, 0xFFFF)", Cmp(4, "Active", Op::kEqual, boolean(0xFFFF)), "TFFF"},
      {"Active = False", Cmp(4, "Active", Op::kEqual, boolean(0)), "FTFF"},
      {"NOT Qty = 5",
       [&] {
         B b;
         const auto n = b.AddUnary(Op::kNot);
         const auto eq = b.AddBinary(Op::kEqual);
         b.SetOperand(n, 0, eq);
         b.SetOperand(eq, 0, b.AddField(2, "Qty"));
         b.SetOperand(eq, 1, b.AddIntegerConstant(5));
         return b.Finish();
       }(),
       "FTTT"},
      {"Qty > 5 OR Name = 'Smith'",
       [&] {
         B b;
         const auto orn = b.AddBinary(Op::kOr);
         const auto gt = b.AddBinary(Op::kGreater);
         b.SetOperand(orn, 0, gt);
         b.SetOperand(gt, 0, b.AddField(2, "Qty"));
         b.SetOperand(gt, 1, b.AddIntegerConstant(5));
         const auto eq = b.AddBinary(Op::kEqual);
         b.SetOperand(orn, 1, eq);
         b.SetOperand(eq, 0, b.AddField(1, "Name"));
         b.SetOperand(eq, 1, b.AddStringConstant("Smith"));
         return b.Finish();
       }(),
       "TTFF"},
      {"Qty >= 5 AND NOT Active = True",
       [&] {
         B b;
         const auto andn = b.AddBinary(Op::kAnd);
         const auto ge = b.AddBinary(Op::kGreaterEqual);
         b.SetOperand(andn, 0, ge);
         b.SetOperand(ge, 0, b.AddField(2, "Qty"));
         b.SetOperand(ge, 1, b.AddIntegerConstant(5));
         const auto n = b.AddUnary(Op::kNot);
         b.SetOperand(andn, 1, n);
         const auto eq = b.AddBinary(Op::kEqual);
         b.SetOperand(n, 0, eq);
         b.SetOperand(eq, 0, b.AddField(4, "Active"));
         b.SetOperand(eq, 1, b.AddBooleanConstant(1));
         return b.Finish();
       }(),
       "FTFF"},
      {"Amount = 12.5 (BCD)",
       Cmp(6, "Amount", Op::kEqual, [](B& b) { return b.AddBcdConstant(125000); }), "TFFF"},
      {"Amount < 0 (BCD)", Cmp(6, "Amount", Op::kLess, [](B& b) { return b.AddBcdConstant(0); }),
       "FTFF"},
      {"Price > 2.0", Cmp(5, "Price", Op::kGreater, [](B& b) { return b.AddFloatConstant(2.0); }),
       "TFFF"},
      {"Small <= -3",
       Cmp(3, "Small", Op::kLessEqual, [](B& b) { return b.AddSmallIntConstant(-3); }), "TFFF"},
      {"W = 65535", Cmp(10, "W", Op::kEqual, [](B& b) { return b.AddWordConstant(65535); }),
       "TFFF"},
      {"Born = 12/31/1999",
       Cmp(7, "Born", Op::kEqual, [](B& b) { return b.AddDateConstant(DayNumber(1999, 12, 31)); }),
       "TFFF"},
      {"Born < 01/01/2000",
       Cmp(7, "Born", Op::kLess, [](B& b) { return b.AddDateConstant(DayNumber(2000, 1, 1)); }),
       "TFTT"},
      {"At = 01:00", Cmp(8, "At", Op::kEqual, [](B& b) { return b.AddTimeConstant(3600000); }),
       "TFFF"},
      {"Stamp >= 01/01/2000 12:00",
       Cmp(9, "Stamp", Op::kGreaterEqual, [&](B& b) { return b.AddDateTimeConstant(noon); }),
       "TFFF"},
      {"Small < Qty (field with field)",
       [&] {
         B b;
         const auto lt = b.AddBinary(Op::kLess);
         b.SetOperand(lt, 0, b.AddField(3, "Small"));
         b.SetOperand(lt, 1, b.AddField(2, "Qty"));
         return b.Finish();
       }(),
       "TTFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Truths(c.buffer), c.truths);
  }
}

TEST_F(FilterObjectTest, FilterFromBufferOwnsItsTreeAndAnalysesIt) {
  table_.analysis_level = FilterLevel::kPartly;
  TFilter f(table_, true,
            Cmp(2, "Qty", ExprOperator::kGreater, [](B& b) { return b.AddIntegerConstant(5); }));
  EXPECT_TRUE(f.OwnsTree());
  EXPECT_EQ(f.Level(), FilterLevel::kPartly);
  EXPECT_EQ(table_.analyses, 1);
  EXPECT_FALSE(f.Active());
  EXPECT_EQ(f.BitmapSize(), 0u);
  EXPECT_TRUE(f.Option());
  EXPECT_FALSE(f.Accepts(table_.Record(1)));
  EXPECT_TRUE(f.Accepts(table_.Record(2)));
}

TEST_F(FilterObjectTest, LentTreesAreNeverFreedByTheFilter) {
  // The sanitizer build reports a double free or a use after free if the
  // filter frees what it was only lent.
  ExpressionPtr lent = Bin(ExprOperator::kEqual, Col("Qty"), Int(5));
  lent->left->field_number = 2;
  ExpressionPtr lent2 = Bin(ExprOperator::kEqual, Col("Qty"), Int(10));
  lent2->left->field_number = 2;
  {
    TFilter f(table_, false, lent.get());
    EXPECT_FALSE(f.OwnsTree());
    EXPECT_TRUE(f.Accepts(table_.Record(1)));
    f.ReplaceExpression(lent2.get());  // the first lent tree stays the lender's
    EXPECT_TRUE(f.Accepts(table_.Record(2)));
    // From a buffer the filter owns the new tree; the lent one stays.
    f.ReplaceExpression(
        Cmp(2, "Qty", ExprOperator::kEqual, [](B& b) { return b.AddIntegerConstant(0); }));
    EXPECT_TRUE(f.OwnsTree());
    EXPECT_TRUE(f.Accepts(table_.Record(4)));
    // A lent tree in place of an owned one: the owned one is freed.
    f.ReplaceExpression(lent.get());
    EXPECT_FALSE(f.OwnsTree());
  }
  EXPECT_EQ(Describe(lent.get()), "bin3(f:Qty#2/t0/s0,c/t6/s4=05000000)");
  EXPECT_EQ(Describe(lent2.get()), "bin3(f:Qty#2/t0/s0,c/t6/s4=0a000000)");
}

TEST_F(FilterObjectTest, ABadBufferLeavesTheFilterAsItWas) {
  TFilter f(table_, false,
            Cmp(2, "Qty", ExprOperator::kEqual, [](B& b) { return b.AddIntegerConstant(5); }));
  TExpressionNode* before = f.Tree();
  Bytes bad = Cmp(2, "Qty", ExprOperator::kEqual, [](B& b) { return b.AddIntegerConstant(7); });
  bad[0] = std::byte{1};  // version 1
  try {
    f.ReplaceExpression(bad);
    FAIL() << "replaced";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 10051);
  }
  EXPECT_EQ(f.Tree(), before);
  EXPECT_TRUE(f.Accepts(table_.Record(1)));
  // An unknown field fails the same way, with 9985.
  try {
    f.ReplaceExpression(
        Cmp(2, "Gone", ExprOperator::kEqual, [](B& b) { return b.AddIntegerConstant(7); }));
    FAIL() << "replaced";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 9985);
  }
  EXPECT_EQ(f.Tree(), before);
}

TEST_F(FilterObjectTest, ComputeBitmapStartsFromTheBaseAndKeepsTheLevel) {
  TFilter f(table_, false, Cmp(2, "Qty", ExprOperator::kGreaterEqual, [](B& b) {
              return b.AddIntegerConstant(5);
            }));
  // Records 1, 2 and 4 in the base; Qty >= 5 holds for 1 and 2 (and not
  // for 3, which the base leaves out anyway).
  const std::vector<std::uint8_t> base = {0b1011, 0xAA};
  f.ComputeBitmap(base, 1);
  ASSERT_EQ(f.BitmapSize(), 1u);
  EXPECT_EQ(f.Bitmap()[0], 0b0011);
  EXPECT_EQ(f.Level(), FilterLevel::kByRecords);
  f.SetBitmapSize(3);
  EXPECT_EQ(f.BitmapSize(), 3u);
  EXPECT_EQ(f.Bitmap()[0], 0b0011);
  EXPECT_EQ(f.Bitmap()[2], 0);
  f.SetBitmapSize(0);
  EXPECT_EQ(f.BitmapSize(), 0u);
}

struct Asked {
  std::vector<std::uint32_t> records;
  std::vector<std::string> names;
  bool answer = true;
};

bool AskName(void* data, std::span<const std::byte> record, std::uint32_t number) {
  auto* asked = static_cast<Asked*>(data);
  asked->records.push_back(number);
  asked->names.emplace_back(record.size() > 10 ? reinterpret_cast<const char*>(record.data() + 10)
                                               : "");
  return asked->answer;
}

TEST_F(FilterObjectTest, CallbackFiltersAskTheClientAboutEachRecord) {
  FilterRegistry reg(table_);
  Asked first, second;
  std::int32_t h1 = 0, h2 = 0;
  ASSERT_EQ(reg.AddCallbackFilter(AskName, &first, h1), ErrorCode::kNone);
  ASSERT_EQ(reg.AddCallbackFilter(AskName, &second, h2), ErrorCode::kNone);
  EXPECT_LT(h1, 0);
  EXPECT_LT(h2, 0);
  EXPECT_NE(h1, h2);
  // Inactive filters ask nothing.
  EXPECT_TRUE(reg.PassesCallbackFilters(table_.Record(1), 1));
  EXPECT_TRUE(first.records.empty());
  ASSERT_EQ(reg.ActivateFilter(h1), ErrorCode::kNone);
  ASSERT_EQ(reg.ActivateFilter(h2), ErrorCode::kNone);
  EXPECT_TRUE(reg.AnyCallbackFilterActive());
  EXPECT_FALSE(reg.AnyFilterActive());
  EXPECT_TRUE(reg.PassesCallbackFilters(table_.Record(1), 1));
  EXPECT_EQ(first.records, std::vector<std::uint32_t>{1});
  EXPECT_EQ(first.names, std::vector<std::string>{"Smith"});  // the record's bytes
  EXPECT_EQ(second.records, std::vector<std::uint32_t>{1});
  // The first refusal ends the round: the second filter is not asked.
  first.answer = false;
  EXPECT_FALSE(reg.PassesCallbackFilters(table_.Record(2), 2));
  EXPECT_EQ(first.records.back(), 2u);
  EXPECT_EQ(second.records.size(), 1u);
  ASSERT_EQ(reg.DeactivateFilter(h1), ErrorCode::kNone);
  EXPECT_TRUE(reg.PassesCallbackFilters(table_.Record(2), 2));
  EXPECT_EQ(second.records.back(), 2u);
  // A callback filter without a routine is refused.
  std::int32_t h3 = 0;
  EXPECT_EQ(reg.AddCallbackFilter(nullptr, &first, h3), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.CallbackFilterCount(), 2u);
}

TEST_F(FilterObjectTest, HandlesAreSmallIdsAndStaleOnesNameNothing) {
  FilterRegistry reg(table_);
  Asked asked;
  std::int32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(reg.AddFilter(false, Unary(ExprOperator::kIsNull, "Qty"), a), ErrorCode::kNone);
  ASSERT_EQ(reg.AddCallbackFilter(AskName, &asked, b), ErrorCode::kNone);
  ASSERT_EQ(reg.AddFilter(false, Unary(ExprOperator::kIsNotNull, "Qty"), c), ErrorCode::kNone);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(reg.FilterCount(), 2u);
  EXPECT_EQ(reg.FilterHandleAt(0), 1);
  EXPECT_EQ(reg.FilterHandleAt(1), 3);
  EXPECT_EQ(reg.CallbackFilterHandleAt(0), -2);

  // A handle names only its own kind.
  EXPECT_EQ(reg.FindFilter(-2), nullptr);
  EXPECT_EQ(reg.FindCallbackFilter(2), nullptr);
  EXPECT_EQ(reg.FindCallbackFilter(std::numeric_limits<std::int32_t>::min()), nullptr);
  EXPECT_EQ(reg.ActivateFilter(2), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(reg.ActivateFilter(-1), ErrorCode::kInvalidFilterHandle);

  ASSERT_EQ(reg.DropFilter(a), ErrorCode::kNone);
  EXPECT_EQ(reg.DropFilter(a), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(reg.ActivateFilter(a), ErrorCode::kInvalidFilterHandle);
  std::int32_t d = 0;
  ASSERT_EQ(reg.AddFilter(false, Unary(ExprOperator::kIsNull, "Name"), d), ErrorCode::kNone);
  EXPECT_EQ(d, 4);  // the dropped id is not given out again
  EXPECT_EQ(reg.DropFilter(99), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(reg.FilterCount(), 2u);

  // Update: only an active expression filter, and only with an expression.
  EXPECT_EQ(reg.UpdateFilter(Unary(ExprOperator::kIsNull, "W"), c),
            ErrorCode::kInvalidFilterHandle);
  ASSERT_EQ(reg.ActivateFilter(0), ErrorCode::kNone);
  EXPECT_TRUE(reg.FindCallbackFilter(b)->Active());
  EXPECT_TRUE(reg.AnyFilterActive());
  EXPECT_EQ(reg.UpdateFilter(Bytes(), c), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.UpdateFilter(ExpressionPtr(), c), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.UpdateFilter(Unary(ExprOperator::kIsNull, "W"), b),
            ErrorCode::kInvalidFilterHandle);
  ASSERT_EQ(reg.UpdateFilter(Unary(ExprOperator::kIsNull, "W"), c), ErrorCode::kNone);
  EXPECT_EQ(Describe(reg.FindFilter(c)->Tree()), "un1(f:W#10/t12/s2)");

  // Adding nothing is refused; a bad buffer raises and adds nothing.
  std::int32_t e = 0;
  EXPECT_EQ(reg.AddFilter(false, Bytes(), e), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.AddFilter(false, ExpressionPtr(), e), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.AddFilter(false, static_cast<TExpressionNode*>(nullptr), e),
            ErrorCode::kInvalidFilterExpression);
  EXPECT_THROW((void)reg.AddFilter(false, Bytes(12), e), ETolmidEngineError);
  EXPECT_EQ(reg.FilterCount(), 2u);

  ASSERT_EQ(reg.DeactivateFilter(0), ErrorCode::kNone);
  EXPECT_FALSE(reg.AnyFilterActive());
  EXPECT_FALSE(reg.AnyCallbackFilterActive());
  ASSERT_EQ(reg.DropFilter(0), ErrorCode::kNone);
  EXPECT_EQ(reg.FilterCount(), 0u);
  EXPECT_EQ(reg.CallbackFilterCount(), 0u);
  EXPECT_EQ(reg.DropFilter(c), ErrorCode::kInvalidFilterHandle);
}

}  // namespace
}  // namespace storage::test
