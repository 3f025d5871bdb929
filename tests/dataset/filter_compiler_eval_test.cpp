// End to end: filter texts compiled, read by the engine's filter reader and
// evaluated on records, against truth computed by hand from a model of the
// records; and random condition trees printed as filter text, compiled and
// read back, against the same trees written directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dataset/filter_compiler.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "storage/field_types.h"
#include "storage/filter_buffer.h"
#include "storage/filter_object.h"
#include "storage/filter_reader.h"
#include "tests/dataset/filter_compiler_test_support.h"

namespace dataset::test {
namespace {

using storage::test::Describe;
using storage::test::TestTable;

struct Model {
  std::optional<std::string> name;
  std::optional<int> qty;
  std::optional<int> small;
  std::optional<bool> active;
  std::optional<double> price;
  std::optional<int> born;  // day number, 0001-01-01 = 1
};

const std::vector<Model>& Models() {
  static const std::vector<Model> m = {
      {"Smith", 5, -2, true, 1.5, 730121},
      {"smith", 10, 3, false, 2.25, 730120},
      {"Smythe", std::nullopt, 0, true, std::nullopt, 730200},
      {"Jones", -3, std::nullopt, std::nullopt, 0.0, std::nullopt},
      {std::nullopt, 0, 7, false, -1.0, 730121},
      {"O'Neil", 5, 5, true, 2.25, 730000},
  };
  return m;
}

void Fill(TestTable& t) {
  for (const Model& m : Models()) {
    auto r = t.NewRecord();
    if (m.name) storage::PutFieldString(r, t.Slot("Name"), *m.name);
    if (m.qty) storage::PutFieldValue<std::int32_t>(r, t.Slot("Qty"), *m.qty);
    if (m.small) storage::PutFieldValue<std::int16_t>(r, t.Slot("Small"), static_cast<std::int16_t>(*m.small));
    if (m.active) storage::PutFieldBoolean(r, t.Slot("Active"), *m.active);
    if (m.price) storage::PutFieldValue<double>(r, t.Slot("Price"), *m.price);
    if (m.born) storage::PutFieldValue<std::int32_t>(r, t.Slot("Born"), *m.born);
    t.AddRecord(std::move(r));
  }
}

struct EvalCase {
  const char* text;
  fw::TFilterOptions options;
  std::function<bool(const Model&)> truth;
};

// Null reads as zero in ordering comparisons; = with one null side is false.
int Z(const std::optional<int>& v) { return v.value_or(0); }

TEST(FilterCompilerEvalTest, CompiledFiltersSelectTheRightRecords) {
  const fw::TFilterOptions none{};
  const fw::TFilterOptions ci{fw::TFilterOption::foCaseInsensitive};
  const fw::TFilterOptions np{fw::TFilterOption::foNoPartialCompare};
  const std::vector<EvalCase> cases = {
      {"Name = 'Smith'", none, [](const Model& m) { return m.name == "Smith"; }},
      {"Name = 'smith'", ci,
       [](const Model& m) { return m.name && fw::SameText(*m.name, "smith"); }},
      {"Name = 'Sm*'", none,
       [](const Model& m) { return m.name && m.name->rfind("Sm", 0) == 0; }},
      {"Name = 'sm*'", ci,
       [](const Model& m) { return m.name && fw::SameText(m.name->substr(0, 2), "sm"); }},
      {"Name = 'Sm*'", np, [](const Model&) { return false; }},
      {"Name <> 'Sm*'", none,
       [](const Model& m) { return !(m.name && m.name->rfind("Sm", 0) == 0); }},
      {"Name = 'O''Neil'", none, [](const Model& m) { return m.name == "O'Neil"; }},
      {"Name = NULL", none, [](const Model& m) { return !m.name; }},
      {"Name = ''", none, [](const Model& m) { return !m.name; }},
      {"Name <> NULL AND Qty <> NULL", none, [](const Model& m) { return m.name && m.qty; }},
      {"Qty > 1", none, [](const Model& m) { return Z(m.qty) > 1; }},
      {"1 < Qty", none, [](const Model& m) { return Z(m.qty) > 1; }},
      {"5 >= Qty", none, [](const Model& m) { return Z(m.qty) <= 5; }},
      {"Qty = 5 OR Small = 7", none,
       [](const Model& m) { return m.qty == 5 || m.small == 7; }},
      {"Qty = 5 AND Small = 5 OR Qty = 10", none,
       [](const Model& m) { return (m.qty == 5 && m.small == 5) || m.qty == 10; }},
      {"Qty = 5 AND (Small = 5 OR Qty = 10)", none,
       [](const Model& m) { return m.qty == 5 && (m.small == 5 || m.qty == 10); }},
      {"NOT Qty = 5", none, [](const Model& m) { return !(m.qty == 5); }},
      {"NOT (Qty = 5 OR Active)", none,
       [](const Model& m) { return !(m.qty == 5 || m.active == true); }},
      {"Active", none, [](const Model& m) { return m.active == true; }},
      {"Active = FALSE", none, [](const Model& m) { return m.active == false; }},
      {"NOT Active", none, [](const Model& m) { return m.active != true; }},
      {"Active = TRUE AND Price > 2", none,
       [](const Model& m) { return m.active == true && m.price.value_or(0) > 2; }},
      {"Price < 0.5", none, [](const Model& m) { return m.price.value_or(0) < 0.5; }},
      {"Price = 2.25", none, [](const Model& m) { return m.price == 2.25; }},
      {"Qty < Small", none, [](const Model& m) { return Z(m.qty) < Z(m.small); }},
      {"Small <= -2 OR Small >= 5", none,
       [](const Model& m) { return Z(m.small) <= -2 || Z(m.small) >= 5; }},
      {"Born = '1/2/2000'", none, [](const Model& m) { return m.born == 730121; }},
      {"Born >= '1/1/2000'", none, [](const Model& m) { return Z(m.born) >= 730120; }},
      {"Born IS NULL", none, nullptr},  // not in the grammar: see below
  };
  TestTable table;
  Fill(table);
  const TestSource source;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (!c.truth) {
      EXPECT_THROW((void)CompileFilter(source, c.text, c.options), fw::EDatabaseError);
      continue;
    }
    const auto buffer = CompileFilter(source, c.text, c.options);
    const storage::ExpressionPtr tree = storage::ConvertFilterBlob(buffer, table);
    for (std::size_t r = 1; r <= table.RecordCount(); ++r) {
      EXPECT_EQ(storage::EvaluateFilterRecord(*tree, table, table.Record(r)),
                c.truth(Models()[r - 1]))
          << "record " << r;
    }
  }
}

// ---------------------------------------------------------------------------
// Random trees as text.

class Generator {
 public:
  Generator(std::mt19937& rng, bool ci) : rng_(rng), ci_(ci) {}

  // Writes the condition into b (the expected buffer) and returns its text.
  std::string Condition(int depth, storage::FilterExpressionBuffer& b,
                        storage::FilterExpressionBuffer::NodeRef* ref) {
    using storage::ExprOperator;
    const unsigned pick = depth <= 1 ? 3 + Below(4) : Below(7);
    switch (pick) {
      case 0:
      case 1: {
        const bool is_and = pick == 0;
        *ref = b.AddBinary(is_and ? ExprOperator::kAnd : ExprOperator::kOr);
        storage::FilterExpressionBuffer::NodeRef l, r;
        const std::string lt = Condition(depth - 1, b, &l);
        b.SetOperand(*ref, 0, l);
        const std::string rt = Condition(depth - 1, b, &r);
        b.SetOperand(*ref, 1, r);
        return Paren(lt) + Space() + Word(is_and ? "AND" : "OR") + Space() + Paren(rt);
      }
      case 2: {
        *ref = b.AddUnary(ExprOperator::kNot);
        storage::FilterExpressionBuffer::NodeRef o;
        const std::string t = Condition(depth - 1, b, &o);
        b.SetOperand(*ref, 0, o);
        return Word("NOT") + " " + Paren(t);
      }
      case 3: {  // the blank tests
        const auto [name, no] = RandomField();
        const bool eq = Below(2) == 0;
        *ref = b.AddUnary(eq ? ExprOperator::kIsNull : ExprOperator::kIsNotNull);
        b.SetOperand(*ref, 0, b.AddField(no, spelled_));
        const std::string op = eq ? "=" : "<>";
        return Below(2) ? FieldText() + Space() + op + Space() + Word("NULL")
                        : Word("NULL") + Space() + op + Space() + FieldText();
      }
      case 4: {  // a lone Boolean field
        *ref = b.AddBinary(ExprOperator::kEqual);
        spelled_ = Below(2) ? "Active" : "ACTIVE";
        b.SetOperand(*ref, 0, b.AddField(4, spelled_));
        b.SetOperand(*ref, 1, b.AddBooleanConstant(0xFFFF));
        return FieldText();
      }
      default:
        return Comparison(b, ref);
    }
  }

 private:
  static constexpr const char* kOps[] = {"", "", "", "=", "<>", ">", "<", ">=", "<="};

  std::string Comparison(storage::FilterExpressionBuffer& b,
                         storage::FilterExpressionBuffer::NodeRef* ref) {
    using storage::ExprOperator;
    const auto [name, no] = RandomField();
    auto op = static_cast<std::uint32_t>(3 + Below(6));
    std::string constant;
    auto write_const = [&]() -> storage::FilterExpressionBuffer::NodeRef {
      if (name == "Qty") {
        const int v = static_cast<int>(Below(2001)) - 1000;
        constant = std::to_string(v);
        return b.AddIntegerConstant(v);
      }
      if (name == "Small") {
        const int v = static_cast<int>(Below(601)) - 300;
        constant = std::to_string(v);
        return b.AddSmallIntConstant(static_cast<std::int16_t>(v));
      }
      if (name == "Price") {
        const double v = (static_cast<int>(Below(41)) - 20) * 0.25;
        constant = fw::FloatToStr(v);
        return b.AddFloatConstant(v);
      }
      if (name == "W") {
        const int v = static_cast<int>(Below(65536));
        constant = std::to_string(v);
        return b.AddWordConstant(static_cast<std::uint16_t>(v));
      }
      // Active
      const bool v = Below(2) != 0;
      constant = Word(v ? "True" : "False");
      return b.AddBooleanConstant(v ? 1 : 0);
    };
    if (name == "Name") {
      std::string text;
      const std::size_t n = Below(8);
      for (std::size_t i = 0; i < n; ++i) text += "aB'* "[Below(5)];
      const bool eq = op == 3 || op == 4;
      std::string stored = text;
      std::size_t partial = 0;
      if (eq && text.size() >= 2 && text.back() == '*') {
        stored.pop_back();
        partial = stored.size();
      }
      if (eq && !text.empty() && (ci_ || partial != 0)) {
        *ref = b.AddStringCompare(static_cast<ExprOperator>(op), ci_,
                                  static_cast<std::uint8_t>(partial));
      } else {
        stored = text;
        *ref = b.AddBinary(static_cast<ExprOperator>(op));
      }
      b.SetOperand(*ref, 0, b.AddField(no, spelled_));
      b.SetOperand(*ref, 1, b.AddStringConstant(stored));
      constant = fw::QuotedStr(text);
    } else {
      *ref = b.AddBinary(static_cast<ExprOperator>(op));
      b.SetOperand(*ref, 0, b.AddField(no, spelled_));
      b.SetOperand(*ref, 1, write_const());
    }
    if (Below(3) == 0) {  // written constant first, operator mirrored
      static const std::uint32_t kMirror[] = {0, 0, 0, 3, 4, 6, 5, 8, 7};
      return constant + Space() + kOps[kMirror[op]] + Space() + FieldText();
    }
    return FieldText() + Space() + kOps[op] + Space() + constant;
  }

  std::pair<std::string, std::uint16_t> RandomField() {
    static const std::pair<const char*, std::uint16_t> kFields[] = {
        {"Name", 1}, {"Qty", 2}, {"Small", 3}, {"Active", 4}, {"Price", 5}, {"W", 10}};
    const auto& f = kFields[Below(6)];
    spelled_ = Below(3) == 0 ? fw::LowerCase(f.first) : std::string(f.first);
    return {f.first, f.second};
  }
  // The field as last spelled by RandomField, as a symbol or a bracketed
  // name; the buffer keeps the spelling.
  std::string FieldText() { return Below(3) == 0 ? "[" + spelled_ + "]" : spelled_; }
  std::string Word(const std::string& w) {
    return Below(2) ? fw::LowerCase(w) : w;
  }
  std::string Space() {
    static const char* kSpaces[] = {" ", "  ", "\t", "\r\n "};
    return Below(2) ? " " : kSpaces[Below(4)];
  }
  // Conditions under AND, OR and NOT always in parentheses, sometimes two.
  std::string Paren(const std::string& t) { return Below(4) ? "(" + t + ")" : "((" + t + "))"; }
  unsigned Below(std::size_t n) { return static_cast<unsigned>(rng_() % n); }

  std::mt19937& rng_;
  bool ci_;
  std::string spelled_;
};

TEST(FilterCompilerEvalTest, RandomTreesPrintedAsTextCompileToTheSameTree) {
  std::mt19937 rng(20261206);
  TestTable table;
  Fill(table);
  const TestSource source;
  for (int i = 0; i < 2000; ++i) {
    const bool ci = i % 2 == 1;
    Generator g(rng, ci);
    storage::FilterExpressionBuffer expected;
    storage::FilterExpressionBuffer::NodeRef root;
    const std::string text = g.Condition(1 + i % 6, expected, &root);
    SCOPED_TRACE(text);
    fw::TFilterOptions options;
    if (ci) options.Include(fw::TFilterOption::foCaseInsensitive);
    const auto got = CompileFilter(source, text, options);
    const auto want = expected.Finish();
    ASSERT_EQ(got, want);
    const auto tree = storage::ConvertFilterBlob(got, table);
    EXPECT_EQ(Describe(tree.get()), Describe(storage::ConvertFilterBlob(want, table).get()));
  }
}

}  // namespace
}  // namespace dataset::test
