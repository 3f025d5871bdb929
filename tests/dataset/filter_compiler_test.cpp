// Filter texts against the bytes of the buffer written from its layout,
// every message of the compiler, and the records the engine selects with
// the buffer. Random and mutated texts are the fuzz target's
// (fuzz/corpus/fuzz_filtertext).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <functional>
#include <optional>

#include "dataset/filter_compiler.h"
#include "framework/sysutils.h"
#include "storage/field_types.h"
#include "storage/filter_object.h"
#include "framework/exceptions.h"
#include "storage/filter_buffer.h"
#include "storage/filter_reader.h"
#include "tests/common/flat_chain.h"
#include "tests/dataset/filter_compiler_test_support.h"

namespace dataset::test {
namespace {

using storage::test::Assemble;
using storage::test::Raw;

constexpr fw::TFilterOptions kNoOptions{};
const fw::TFilterOptions kCaseInsensitive{fw::TFilterOption::foCaseInsensitive};
const fw::TFilterOptions kNoPartial{fw::TFilterOption::foNoPartialCompare};

std::vector<std::byte> Compile(std::string_view text, fw::TFilterOptions options = kNoOptions) {
  static const TestSource source;
  return CompileFilter(source, text, options);
}

// Node bytes, as the layout gives them.
Raw Binary(std::uint32_t op, std::uint16_t l, std::uint16_t r) {
  Raw n;
  n.U32(2).U32(op).U16(l).U16(r);
  return n;
}
Raw Unary(std::uint32_t op, std::uint16_t operand) {
  Raw n;
  n.U32(1).U32(op).U16(operand);
  return n;
}
Raw StrCmp(std::uint32_t op, std::uint16_t ci, std::uint16_t partial, std::uint16_t f,
           std::uint16_t c) {
  Raw n;
  n.U32(3).U32(op).U16(ci).U16(partial).U16(f).U16(c);
  return n;
}
Raw Field(std::uint16_t no, std::uint16_t lit) {
  Raw n;
  n.U32(4).U32(13).U16(no).U16(lit);
  return n;
}
Raw Const(std::uint16_t type, std::uint16_t size, std::uint16_t lit) {
  Raw n;
  n.U32(5).U32(14).U16(type).U16(size).U16(lit);
  return n;
}

// The buffer of "field <op> constant" as one binary node (12 bytes), the
// field node (12) and the constant node (14).
std::vector<std::byte> FieldCompare(std::uint32_t op, std::uint16_t no, std::string_view name,
                                    std::uint16_t type, const Raw& value) {
  Raw nodes;
  nodes.Append(Binary(op, 12, 24))
      .Append(Field(no, 0))
      .Append(Const(type, static_cast<std::uint16_t>(value.size()),
                    static_cast<std::uint16_t>(name.size() + 1)));
  Raw lits;
  lits.Text(name).Append(value);
  return Assemble(nodes, lits);
}

Raw Str(std::string_view s) {
  Raw r;
  r.Text(s);
  return r;
}

struct BytesCase {
  const char* text;
  fw::TFilterOptions options;
  std::vector<std::byte> expected;
};

std::vector<BytesCase> ByteCases() {
  std::vector<BytesCase> c;
  c.push_back({"Name = 'Smith'", kNoOptions, FieldCompare(3, 1, "Name", 1, Str("Smith"))});
  c.push_back({"Name='it''s'", kNoOptions, FieldCompare(3, 1, "Name", 1, Str("it's"))});
  c.push_back({"[Name] <> ''", kNoOptions, FieldCompare(4, 1, "Name", 1, Str(""))});
  // A number compared with a string field stays its token text.
  c.push_back({"Name >= -1.5e3", kNoOptions, FieldCompare(7, 1, "Name", 1, Str("-1.5e3"))});
  // A field name keeps the spelling of the text.
  c.push_back({"qty = 7", kNoOptions, FieldCompare(3, 2, "qty", 6, Raw().U32(7))});
  c.push_back({"Qty = -2147483648", kNoOptions,
               FieldCompare(3, 2, "Qty", 6, Raw().U32(0x80000000u))});
  c.push_back({"Qty = TRUE", kNoOptions, FieldCompare(3, 2, "Qty", 6, Raw().U32(1))});
  c.push_back({"Small < -32768", kNoOptions, FieldCompare(6, 3, "Small", 5, Raw().U16(0x8000))});
  c.push_back({"W > 65535", kNoOptions, FieldCompare(5, 10, "W", 12, Raw().U16(0xFFFF))});
  c.push_back({"Active = True", kNoOptions, FieldCompare(3, 4, "Active", 4, Raw().U16(1))});
  c.push_back({"Active <> false", kNoOptions, FieldCompare(4, 4, "Active", 4, Raw().U16(0))});
  c.push_back({"Active = 'True'", kNoOptions, FieldCompare(3, 4, "Active", 4, Raw().U16(1))});
  c.push_back({"Price <= 2.25", kNoOptions, FieldCompare(8, 5, "Price", 7, Raw().F64(2.25))});
  c.push_back({"Money = 3", kNoOptions, FieldCompare(3, 15, "Money", 7, Raw().F64(3.0))});
  // BCD: rounded to the field's two decimals, then x 10000.
  c.push_back({"Amount = 1.239", kNoOptions, FieldCompare(3, 6, "Amount", 8, Raw().U64(12400))});
  c.push_back({"Amount = -7", kNoOptions,
               FieldCompare(3, 6, "Amount", 8, Raw().U64(static_cast<std::uint64_t>(-70000)))});
  // 2000-01-01 is day 730120 when 0001-01-01 is day 1.
  c.push_back({"Born = '1/2/2000'", kNoOptions, FieldCompare(3, 7, "Born", 2, Raw().U32(730121))});
  c.push_back({"At = '1:30 PM'", kNoOptions, FieldCompare(3, 8, "At", 10, Raw().U32(48600000))});
  c.push_back({"Stamp > '1/2/2000 1:30 PM'", kNoOptions,
               FieldCompare(5, 9, "Stamp", 11, Raw().F64(730121.0 * 86400000.0 + 48600000.0))});
  c.push_back({"ICalc = 1", kNoOptions, FieldCompare(3, 14, "ICalc", 6, Raw().U32(1))});
  // constant < field is field > constant.
  c.push_back({"1 < Qty", kNoOptions, FieldCompare(5, 2, "Qty", 6, Raw().U32(1))});
  c.push_back({"1 >= Qty", kNoOptions, FieldCompare(8, 2, "Qty", 6, Raw().U32(1))});
  c.push_back({"1 <> Qty", kNoOptions, FieldCompare(4, 2, "Qty", 6, Raw().U32(1))});
  // A lone Boolean field compares with 0xFFFF.
  c.push_back({"Active", kNoOptions, FieldCompare(3, 4, "Active", 4, Raw().U16(0xFFFF))});
  // One string compare node: partial 2, "ab" without its '*'.
  c.push_back({"Name = 'ab*'", kNoOptions, Assemble(Raw().Append(StrCmp(3, 0, 2, 16, 28)).Append(Field(1, 0)).Append(Const(1, 3, 5)), Raw().Text("Name").Text("ab"))});
  c.push_back({"Name = 'ab*'", kNoPartial, FieldCompare(3, 1, "Name", 1, Str("ab*"))});
  c.push_back({"Name = '*'", kNoOptions, FieldCompare(3, 1, "Name", 1, Str("*"))});
  c.push_back({"Name > 'ab*'", kNoOptions, FieldCompare(5, 1, "Name", 1, Str("ab*"))});
  c.push_back({"Name <> 'abc'", kCaseInsensitive, Assemble(Raw().Append(StrCmp(4, 1, 0, 16, 28)).Append(Field(1, 0)).Append(Const(1, 4, 5)), Raw().Text("Name").Text("abc"))});
  c.push_back({"Name = 'x*'", kCaseInsensitive, Assemble(Raw().Append(StrCmp(3, 1, 1, 16, 28)).Append(Field(1, 0)).Append(Const(1, 2, 5)), Raw().Text("Name").Text("x"))});
  {
    // The case-insensitive empty string stays a plain compare (NULL).
    c.push_back({"Name = ''", kCaseInsensitive, FieldCompare(3, 1, "Name", 1, Str(""))});
  }
  {
    // 300 characters: the scanner keeps 256, the buffer 255.
    const std::string long_text = "Name = '" + std::string(300, 'q') + "'";
    static std::string keep;
    keep = long_text;
    c.push_back({keep.c_str(), kNoOptions, FieldCompare(3, 1, "Name", 1, Str(std::string(255, 'q')))});
  }
  c.push_back({"Name = NULL", kNoOptions, Assemble(Raw().Append(Unary(1, 10)).Append(Field(1, 0)), Raw().Text("Name"))});
  c.push_back({"null = Name", kNoOptions, Assemble(Raw().Append(Unary(1, 10)).Append(Field(1, 0)), Raw().Text("Name"))});
  c.push_back({"Qty <> NULL", kNoOptions, Assemble(Raw().Append(Unary(2, 10)).Append(Field(2, 0)), Raw().Text("Qty"))});
  // Field with field.
  c.push_back({"Qty < Small", kNoOptions, Assemble(Raw().Append(Binary(6, 12, 24)).Append(Field(2, 0)).Append(Field(3, 4)), Raw().Text("Qty").Text("Small"))});
  return c;
}

TEST(FilterCompilerTest, TextsGiveTheDocumentedBytes) {
  for (const auto& c : ByteCases()) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Compile(c.text, c.options), c.expected);
  }
}

TEST(FilterCompilerTest, ConditionsNestParentsFirst) {
  // OR(AND(Active = 0xFFFF, Qty > 1), NOT(Price = 2)), written in pre-order.
  Raw all;
  all.Append(Binary(11, 12, 100))
      .Append(Binary(10, 24, 62))
      .Append(Binary(3, 36, 48))
      .Append(Field(4, 0))
      .Append(Const(4, 2, 7))
      .Append(Binary(5, 74, 86))
      .Append(Field(2, 9))
      .Append(Const(6, 4, 13))
      .Append(Unary(9, 110))
      .Append(Binary(3, 122, 134))
      .Append(Field(5, 17))
      .Append(Const(7, 8, 23));
  Raw lits;
  lits.Text("Active").U16(0xFFFF).Text("Qty").U32(1).Text("Price").F64(2.0);
  EXPECT_EQ(Compile("Active AND Qty > 1 OR NOT Price = 2"), Assemble(all, lits));
  EXPECT_EQ(Compile("  ((Active) and (Qty>1)) Or not (Price=2)  "), Assemble(all, lits));
}

struct MessageCase {
  std::string text;
  const char* message;
};

TEST(FilterCompilerTest, EveryMessageExactly) {
  const std::vector<MessageCase> cases = {
      {"Name = 'a' Qty = 1", "Filter expression incorrectly terminated"},
      {"NOT NOT Active", "Filter expression incorrectly terminated"},
      {"Qty = 1 = 2", "Filter expression incorrectly terminated"},
      {"Active)", "Filter expression incorrectly terminated"},
      {"[Name = 'a'", "Unterminated field name"},
      {"Name = 'abc", "Unterminated string constant"},
      {"Name = 'it''", "Unterminated string constant"},
      {std::string("Name = 'ab\0c'", 13), "Unterminated string constant"},
      {"Name = 'a' & Qty = 1", "Invalid filter expression character: '&'"},
      {"Qty = 1 ; ", "Invalid filter expression character: ';'"},
      {"Name = \"a\"", "Invalid filter expression character: '\"'"},
      {"Qty = 1 \x7f", "Invalid filter expression character: '\x7f'"},
      {"(Name = 'a'", "')' expected but nothing found"},
      {"(Name = 'a' Qty", "')' expected but 'Qty' found"},
      {"(Qty = 1 (", "')' expected but '(' found"},
      {"Name =", "Expression expected but nothing found"},
      {"", "Expression expected but nothing found"},
      {"   ", "Expression expected but nothing found"},
      {"Qty = 1 AND", "Expression expected but nothing found"},
      {"Name = )", "Expression expected but ')' found"},
      {"= 1", "Expression expected but '=' found"},
      {"Qty >= <> 1", "Expression expected but '<>' found"},
      {"Qty", "Field 'Qty' is not of type Boolean"},
      {"NOT [Name]", "Field 'Name' is not of type Boolean"},
      {"'abc'", "Incorrectly formed filter expression"},
      {"Active OR TRUE", "Incorrectly formed filter expression"},
      {"NOT NULL", "Incorrectly formed filter expression"},
      {"(Qty = 1) = 2", "Incorrectly formed filter expression"},
      {"Qty = (Small = 1)", "Incorrectly formed filter expression"},
      {"Nope = 1", "Field 'Nope' not found"},
      {"1 = 2", "Field '1' not found"},
      {"[No such] = 1", "Field 'No such' not found"},
      {"Nope", "Field 'Nope' not found"},
      {"Qty = Nope", "Field 'Nope' not found"},
      {"Calc = 1", "Field 'Calc' cannot be used in a filter expression"},
      {"Look = 'x'", "Field 'Look' cannot be used in a filter expression"},
      {"Flag2", "Field 'Flag2' cannot be used in a filter expression"},
      {"Qty = Calc", "Field 'Calc' cannot be used in a filter expression"},
      {"Memo = 'x'", "Field 'Memo' cannot be used in a filter expression"},
      {"Qty > NULL", "NULL only allowed with '=' and '<>'"},
      {"NULL <= Name", "NULL only allowed with '=' and '<>'"},
      {"Small = 32768", "Constant out of range"},
      {"Small = -32769", "Constant out of range"},
      {"W = -1", "Constant out of range"},
      {"W = 65536", "Constant out of range"},
      {"[Name%s] = 1", "Field 'Name%s' not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      (void)Compile(c.text);
      ADD_FAILURE() << "no error";
    } catch (const fw::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(FilterCompilerTest, ConstantsThatDoNotConvertRaiseTheFrameworkError) {
  for (const char* text : {"Qty = 'abc'", "Qty = 1.5", "Price = 'x'", "Born = '13/45/2000'",
                           "Active = 'maybe'", "At = 'noon'", "Amount = '1e'", "Qty = -"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW((void)Compile(text), fw::EConvertError);
  }
}

TEST(FilterCompilerTest, UntrustedTextIsBounded) {
  // Nesting of parentheses.
  std::string ok = std::string(kMaxFilterNesting, '(') + "Active" +
                   std::string(kMaxFilterNesting, ')');
  EXPECT_NO_THROW((void)Compile(ok));
  std::string deep = "(" + ok + ")";
  try {
    (void)Compile(deep);
    ADD_FAILURE();
  } catch (const fw::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), kFilterTooDeep);
  }
  // A million open parentheses fail early, without deep recursion.
  EXPECT_THROW((void)Compile(std::string(1000000, '(')), fw::EDatabaseError);

  // A chain is flat however long: compiled, written and read back by the
  // engine without recursion. Real nesting still counts: NOT over a
  // parenthesised chain, kMaxFilterNesting times, stays within the tree's
  // depth.
  const storage::test::TestTable table;
  for (const char* op : {" OR ", " AND "}) {
    std::string chain = "Active";
    for (int i = 0; i < 20000; ++i) chain += op + std::string(i % 2 ? "Active" : "Qty = 1");
    EXPECT_NO_THROW((void)storage::ConvertFilterBlob(Compile(chain), table)) << op;
  }
  std::string nots = "Active";
  for (int i = 0; i < kMaxFilterNesting; ++i) nots = "NOT (Qty = 1 AND " + nots + " OR Active)";
  EXPECT_NO_THROW((void)storage::ConvertFilterBlob(Compile(nots), table));

  // A huge literal keeps 256 characters; the text itself is read to its end.
  const std::string big = "Name = '" + std::string(1 << 20, 'z') + "'";
  EXPECT_EQ(Compile(big), FieldCompare(3, 1, "Name", 1, Str(std::string(255, 'z'))));
  // A zero byte ends the text.
  EXPECT_EQ(Compile(std::string("Active\0 garbage (((", 19)),
            FieldCompare(3, 4, "Active", 4, Raw().U16(0xFFFF)));
  // Texts that end inside a token are refused.
  for (const char* text : {"'", "[", "Name = '", "Name = 'a''", "[Na", "(", "Qty <", "-", "Qty = 1 AND NOT", "(((("})
    EXPECT_THROW((void)Compile(text), fw::Exception) << text;
  // A buffer past 65535 bytes is written wide (32-bit offsets).
  const std::string cond = "Name = '" + std::string(250, 'a') + "'";
  std::string wide;
  for (int g = 0; g < 15; ++g) {
    wide += g == 0 ? "(" : " AND (";
    for (int i = 0; i < 20; ++i) wide += (i == 0 ? "" : " AND ") + cond;
    wide += ")";
  }
  const auto bytes = Compile(wide);
  ASSERT_GT(bytes.size(), 0xFFFFu);
  EXPECT_EQ(storage::LoadLittle<std::uint32_t>(bytes.data()), storage::kFilterWideBufferVersion);
  EXPECT_NO_THROW((void)storage::ConvertFilterBlob(bytes, table));
}

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

// End to end: texts compiled, read by the engine's filter reader and
// evaluated on the records of Models(): the records selected, one
// character per record. A null reads as zero in ordering comparisons; =
// with one null side is false.
TEST(FilterCompilerTest, CompiledFiltersSelectTheRightRecords) {
  const fw::TFilterOptions none{}, ci{fw::TFilterOption::foCaseInsensitive}, np{fw::TFilterOption::foNoPartialCompare};
  const struct {
    const char* text;
    fw::TFilterOptions options;
    const char* selected;
  } cases[] = {
      {"Name = 'Smith'", none, "100000"},
      {"Name = 'smith'", ci, "110000"},
      {"Name = 'Sm*'", none, "101000"},
      {"Name = 'sm*'", ci, "111000"},
      {"Name = 'Sm*'", np, "000000"},
      {"Name <> 'Sm*'", none, "010111"},
      {"Name = 'O''Neil'", none, "000001"},
      {"Name = NULL", none, "000010"},
      {"Name = ''", none, "000010"},
      {"Name <> NULL AND Qty <> NULL", none, "110101"},
      {"Qty > 1", none, "110001"},
      {"1 < Qty", none, "110001"},
      {"5 >= Qty", none, "101111"},
      {"Qty = 5 OR Small = 7", none, "100011"},
      {"Qty = 5 AND Small = 5 OR Qty = 10", none, "010001"},
      {"Qty = 5 AND (Small = 5 OR Qty = 10)", none, "000001"},
      {"NOT Qty = 5", none, "011110"},
      {"NOT (Qty = 5 OR Active)", none, "010110"},
      {"Active", none, "101001"},
      {"Active = FALSE", none, "010010"},
      {"NOT Active", none, "010110"},
      {"Active = TRUE AND Price > 2", none, "000001"},
      {"Price < 0.5", none, "001110"},
      {"Price = 2.25", none, "010001"},
      {"Qty < Small", none, "000110"},
      {"Small <= -2 OR Small >= 5", none, "100011"},
      {"Born = '1/2/2000'", none, "100010"},
      {"Born >= '1/1/2000'", none, "111010"},
      // NOT above AND above OR, left to right.
      {"NOT Qty = 5 AND Small = 7 OR Qty = 10 AND NOT Active", none, "010010"},
      {"Qty = 5 OR Qty = 10 AND Small = 3 OR Small = 0", none, "111001"},
  };
  TestTable table;
  Fill(table);
  const TestSource source;
  for (const auto& c : cases) {
    const storage::ExpressionPtr tree = storage::ConvertFilterBlob(CompileFilter(source, c.text, c.options), table);
    std::string selected;
    for (std::size_t r = 1; r <= table.RecordCount(); ++r)
      selected += storage::EvaluateFilterRecord(*tree, table, table.Record(r)) ? '1' : '0';
    EXPECT_EQ(selected, c.selected) << c.text;
  }
  EXPECT_THROW((void)CompileFilter(source, "Born IS NULL", none), fw::EDatabaseError);  // not in the grammar

  // Flat chains of 201, 5,000 and 10,000 terms select what their short
  // equivalents select (a buffer of 10,000 terms is a wide one).
  const auto chain = testsupport::FlatChain;
  const struct {
    std::string text;
    const char* selected;
  } long_cases[] = {
      {chain(201, " OR ", [](int i) { return "Qty = " + std::to_string(i == 200 ? 10 : 1000 + i); }), "010000"},
      // (Small = -100 ... OR Small = 99) OR (Small = 100 AND Qty > 1)
      {chain(201, " or ", [](int i) { return "Small = " + std::to_string(i - 100); }) + " and Qty > 1", "111011"},
      {chain(5000, " AND ", [](int i) { return "Qty <> " + std::to_string(1000 + i); }) + " AND Qty > 1", "110001"},
      {chain(10000, " AND ", [](int i) { return "Qty <> " + std::to_string(i + 6); }), "101111"},
      {chain(10000, " OR ", [](int i) { return "Qty = " + std::to_string(i - 5000) + " AND Small = " + (i == 5005 ? "-2" : "999"); }), "100000"},
  };
  for (const auto& c : long_cases) {
    const storage::ExpressionPtr tree = storage::ConvertFilterBlob(CompileFilter(source, c.text, none), table);
    std::string selected;
    for (std::size_t r = 1; r <= table.RecordCount(); ++r)
      selected += storage::EvaluateFilterRecord(*tree, table, table.Record(r)) ? '1' : '0';
    EXPECT_EQ(selected, c.selected) << c.text.substr(0, 60);
  }
}

}  // namespace
}  // namespace dataset::test
