// Computed fields of working definitions: evaluated when a record is read
// and after every change of a stored field, kept in the computed area
// only, never written to the file.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/expression_node.h"
#include "tests/storage/data_file_test_support.h"
#include "tests/storage/expression_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage {
namespace {

using datatest::Field;
using rectest::Rec;
using test::Bin;
using test::Fn;
using test::Op;

// A column node naming stored field n.
ExpressionPtr ColumnOf(std::string_view name, std::uint16_t n) {
  ExpressionPtr c = NewFieldNode(name);
  c->field_number = n;
  return c;
}

// Working field numbers of the computed fields below.
constexpr int kTotal = 6;    // Price * Qty            (float)
constexpr int kUpper = 7;    // UPPER(Name)            (string[20])
constexpr int kLabel = 8;    // Name + '-' + Code      (string[30])
constexpr int kBig = 9;      // Qty > 10               (boolean)
constexpr int kHalf = 10;    // Price / Qty            (float)
constexpr int kTwice = 11;   // Qty * 2 into an integer (conversion)
constexpr int kWrong = 12;   // Name into an integer: no conversion, null

// What the computed fields of a record hold.
struct Expected {
  std::optional<double> total;
  std::optional<std::string> upper;
  std::optional<std::string> label;
  std::optional<std::uint16_t> big;
  std::optional<double> half;
  std::optional<std::int32_t> twice;
};

class ComputedFieldsTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary), Name string[20], Code string[8], Price float,
  // Qty small integer.
  void CreateTable(const std::string& name) {
    Create(Path(name), Definition({Field(1, "ID", FieldType::kInteger),
                                   Field(2, "Name", FieldType::kString, 20),
                                   Field(3, "Code", FieldType::kString, 8),
                                   Field(4, "Price", FieldType::kFloat),
                                   Field(5, "Qty", FieldType::kSmallInt)}));
  }

  // The stored fields followed by the computed ones.
  static void AddComputedFields(TDataFile& t) {
    std::vector<TFieldDescriptor> w;
    for (int i = 1; i <= 5; ++i) w.push_back(t.GetFieldDescriptor(false, i));
    auto computed = [&](std::uint16_t n, const char* name, FieldType type, std::uint8_t size, ExpressionPtr tree) {
      TFieldDescriptor f = Field(n, name, type, size);
      f.Computed = 1;
      f.ExpressionRef = t.RegisterExpression(std::move(tree));
      w.push_back(f);
    };
    computed(kTotal, "Total", FieldType::kFloat, 0,
             Bin(Op::kMultiply, ColumnOf("Price", 4), ColumnOf("Qty", 5)));
    computed(kUpper, "Upper", FieldType::kString, 20, Fn(Op::kUpper, ColumnOf("Name", 2)));
    computed(kLabel, "Label", FieldType::kString, 30,
             Bin(Op::kAdd, Bin(Op::kAdd, ColumnOf("Name", 2), test::Str("-")),
                 ColumnOf("Code", 3)));
    computed(kBig, "Big", FieldType::kBoolean, 0,
             Bin(Op::kGreater, ColumnOf("Qty", 5), test::Int(10)));
    computed(kHalf, "Half", FieldType::kFloat, 0,
             Bin(Op::kDivide, ColumnOf("Price", 4), ColumnOf("Qty", 5)));
    computed(kTwice, "Twice", FieldType::kInteger, 0,
             Bin(Op::kMultiply, ColumnOf("Qty", 5), test::Int(2)));
    computed(kWrong, "Wrong", FieldType::kInteger, 0, ColumnOf("Name", 2));
    // A computed field without an expression is left alone.
    TFieldDescriptor none = Field(13, "None", FieldType::kInteger);
    none.Computed = 1;
    w.push_back(none);
    t.SetWorkingFieldDefs(w);
  }

  static Rec Make(TDataFile& t, std::int32_t id, std::optional<std::string> name, std::optional<std::string> code,
                  std::optional<double> price, std::optional<std::int16_t> qty) {
    Rec r(t);
    r.Num<std::int32_t>(1, id).Str(2, name).Str(3, code).Num<double>(4, price).Num<std::int16_t>(5, qty);
    return r;
  }

  // A working field's value of a record buffer.
  template <class V>
  static std::optional<V> W(const TDataFile& t, std::span<const std::byte> rec, int n) {
    std::uint8_t buf[256] = {};
    bool blank = false;
    t.GetFieldValue(true, n, blank, buf, rec);
    if (blank) return std::nullopt;
    V v;
    std::memcpy(&v, buf, sizeof(V));
    return v;
  }
  static std::optional<std::string> WStr(const TDataFile& t, std::span<const std::byte> rec, int n) {
    char buf[256] = {};
    bool blank = false;
    t.GetFieldValue(true, n, blank, buf, rec);
    if (blank) return std::nullopt;
    return std::string(buf);
  }

  static void ExpectComputed(const TDataFile& t, std::span<const std::byte> rec, const Expected& e,
                             const std::string& context) {
    SCOPED_TRACE(context);
    EXPECT_EQ(W<double>(t, rec, kTotal), e.total);
    EXPECT_EQ(WStr(t, rec, kUpper), e.upper);
    EXPECT_EQ(WStr(t, rec, kLabel), e.label);
    EXPECT_EQ(W<std::uint16_t>(t, rec, kBig), e.big);
    EXPECT_EQ(W<double>(t, rec, kHalf), e.half);
    EXPECT_EQ(W<std::int32_t>(t, rec, kTwice), e.twice);
    EXPECT_EQ(W<std::int32_t>(t, rec, kWrong), std::nullopt);
    EXPECT_EQ(W<std::int32_t>(t, rec, 13), std::nullopt);
  }
};

struct Row {
  std::int32_t id;
  std::optional<std::string> name, code;
  std::optional<double> price;
  std::optional<std::int16_t> qty;
};

// The rows and what their computed fields hold. Null rules: a null string
// operand of + reads as empty (the concatenation is not null), a null
// number takes part as 0, a division by zero is null, an empty result
// string is null.
const std::vector<std::pair<Row, Expected>>& Cases() {
  static const std::vector<std::pair<Row, Expected>> cases = {
      {{1, "widget", "W1", 2.5, 4}, {10.0, "WIDGET", "widget-W1", 0, 0.625, 8}},
      {{2, "Big box", "BB", 1.25, 12}, {15.0, "BIG BOX", "Big box-BB", 1, 1.25 / 12, 24}},
      {{3, std::nullopt, "N3", 3.0, 11}, {33.0, std::nullopt, "-N3", 1, 3.0 / 11, 22}},
      {{4, "zero", std::nullopt, 7.0, 0}, {0.0, "ZERO", "zero-", 0, std::nullopt, 0}},
      {{5, "nulls", "NP", std::nullopt, std::nullopt}, {0.0, "NULLS", "nulls-NP", 0, std::nullopt, 0}},
  };
  return cases;
}

TEST_F(ComputedFieldsTest, ValuesFollowInsertReadAndFieldChanges) {
  CreateTable("c.dat");
  auto t = OpenTable(Path("c.dat"));
  AddComputedFields(*t);
  ASSERT_TRUE(t->HasComputedFields());
  // Building the record computes the fields at every step.
  for (const auto& [row, e] : Cases()) {
    Rec r = Make(*t, row.id, row.name, row.code, row.price, row.qty);
    ExpectComputed(*t, r.span(), e, "built " + std::to_string(row.id));
    t->InsertRecord(r.span());
  }
  const std::uint16_t record_size = t->RecordSize();
  t->Close();
  // The file holds the stored fields only; reading every record, shared,
  // forwards and backwards, computes values in the cache and changes no
  // byte of it.
  const std::vector<std::uint8_t> before = ReadBytes(Path("c.dat"));
  EXPECT_EQ(before.size(), 127u + 768u * 5u + Cases().size() * record_size);
  t = OpenTable(Path("c.dat"), false);
  AddComputedFields(*t);
  EXPECT_EQ(t->MoveToEnd(), 0);
  std::size_t k = Cases().size();
  for (Rec cur(*t); k > 0 && t->ReadPriorRecord(cur.span()) == 0;)
    ExpectComputed(*t, cur.span(), Cases()[--k].second, "shared");
  EXPECT_EQ(k, 0u);
  t->Close();
  EXPECT_EQ(ReadBytes(Path("c.dat")), before);

  // Working definitions belong to the cursor: a new opening adds them
  // again, and records read from the file get their values in the read
  // path (the cached buffer itself holds them).
  t = OpenTable(Path("c.dat"));
  AddComputedFields(*t);
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec cur(*t);
  for (const auto& [row, e] : Cases()) {
    ASSERT_EQ(t->ReadNextRecord(cur.span()), 0);
    ASSERT_EQ(cur.GetNum<std::int32_t>(1), row.id);
    ExpectComputed(*t, cur.span(), e, "read " + std::to_string(row.id));
    ASSERT_NE(t->CurrentRecord(), nullptr);
    EXPECT_TRUE(t->CurrentRecord()->computed);
    ExpectComputed(*t, t->CurrentRecord()->Data(), e, "cached " + std::to_string(row.id));
  }

  // Changing an input field recomputes; a computed field is written only
  // when forced.
  t->SetRecordPosition(1);
  ASSERT_EQ(t->ReadCurrentRecord(cur.span(), false), 0);
  std::int16_t qty = 20;
  t->SetFieldValue(false, 5, false, &qty, cur.span());
  EXPECT_EQ(W<double>(*t, cur.span(), kTotal), 50.0);
  EXPECT_EQ(W<std::uint16_t>(*t, cur.span(), kBig), 1);
  EXPECT_EQ(W<std::int32_t>(*t, cur.span(), kTwice), 40);
  t->SetFieldValue(true, 2, false, "gadget", cur.span());  // working numbering
  EXPECT_EQ(WStr(*t, cur.span(), kUpper), "GADGET");
  EXPECT_EQ(WStr(*t, cur.span(), kLabel), "gadget-W1");
  t->SetFieldValue(false, 2, false, nullptr, cur.span());
  EXPECT_EQ(WStr(*t, cur.span(), kUpper), std::nullopt);
  EXPECT_EQ(WStr(*t, cur.span(), kLabel), "-W1");
  std::int32_t bogus = 777;
  t->SetFieldValue(true, kTwice, false, &bogus, cur.span());
  EXPECT_EQ(W<std::int32_t>(*t, cur.span(), kTwice), 40);
  t->SetFieldValue(true, kTwice, true, &bogus, cur.span());
  EXPECT_EQ(W<std::int32_t>(*t, cur.span(), kTwice), 777);  // forced, not recomputed

  // A modify keeps the new inputs; reading back computes from them.
  t->SetFieldValue(false, 2, false, "gizmo", cur.span());
  t->ModifyRecord(cur.span(), true);
  t->SetRecordPosition(1);
  Rec again(*t);
  ASSERT_EQ(t->ReadCurrentRecord(again.span(), false), 0);
  EXPECT_EQ(WStr(*t, again.span(), kLabel), "gizmo-W1");
  EXPECT_EQ(W<double>(*t, again.span(), kTotal), 50.0);
  t->Close();
  const auto check = tooltest::RunTool("tablecheck.py", Path("c.dat"));
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace storage
