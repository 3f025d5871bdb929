// Filter-expression buffers written byte by byte from the layout, read into
// trees; the writer's bytes against the same layout; hostile buffers.
#include "storage/filter_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_reader.h"
#include "storage/session.h"
#include "tests/common/error_text.h"
#include "tests/storage/filter_test_support.h"

namespace storage::test {
namespace {

class FilterBufferTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }

  std::string Read(const std::vector<std::byte>& b) {
    return Describe(ConvertFilterBlob(b, table_).get());
  }

  // The engine error code raised by reading b; 0 when it reads.
  int ErrorOf(const std::vector<std::byte>& b) {
    try {
      (void)ConvertFilterBlob(b, table_);
      return 0;
    } catch (const ETolmidEngineError& e) {
      return e.ErrorCode();
    }
  }

  TestTable table_;
};

// Nodes, each written as class, operator and operands.
Raw& Node(Raw& r, std::uint32_t cls, std::uint32_t op, std::initializer_list<std::uint16_t> ops) {
  r.U32(cls).U32(op);
  for (auto o : ops) r.U16(o);
  return r;
}

// Name = 'Smith'
std::vector<std::byte> EqualSmith() {
  Raw n, l;
  Node(n, 2, 3, {12, 24});       // @0  binary =
  Node(n, 4, 13, {1, 0});        // @12 field #1, name at 0
  Node(n, 5, 14, {1, 6, 5});     // @24 string, size 6, at 5
  l.Text("Name").Text("Smith");  // 0: Name, 5: Smith
  return Assemble(n, l);
}

// (Qty > 5 AND NOT Active = True) OR Small <= -3, parents before operands.
std::vector<std::byte> AndOrNot() {
  Raw n, l;
  Node(n, 2, 11, {12, 110});   // @0   OR
  Node(n, 2, 10, {24, 62});    // @12  AND
  Node(n, 2, 5, {36, 48});     // @24  >
  Node(n, 4, 13, {2, 0});      // @36  Qty (name at 0)
  Node(n, 5, 14, {6, 4, 4});   // @48  int32 at 4
  Node(n, 1, 9, {72});         // @62  NOT
  Node(n, 2, 3, {84, 96});     // @72  =
  Node(n, 4, 13, {4, 8});      // @84  Active (name at 8)
  Node(n, 5, 14, {4, 2, 15});  // @96  Boolean at 15
  Node(n, 2, 8, {122, 134});   // @110 <=
  Node(n, 4, 13, {3, 17});     // @122 Small (name at 17)
  Node(n, 5, 14, {5, 2, 23});  // @134 int16 at 23
  l.Text("Qty").U32(5).Text("Active").U16(1).Text("Small").U16(0xFFFD);
  EXPECT_EQ(n.size(), 148u);
  return Assemble(n, l);
}

// field op constant, one comparison, for any constant bytes.
std::vector<std::byte> Compare(std::string_view field, std::uint32_t op, std::uint16_t type,
                               const Raw& value) {
  Raw n, l;
  Node(n, 2, op, {12, 24});
  Node(n, 4, 13, {0, 0});
  Node(n, 5, 14,
       {type, static_cast<std::uint16_t>(value.size()),
        static_cast<std::uint16_t>(field.size() + 1)});
  l.Text(field).Append(value);
  return Assemble(n, l);
}

// count NOTs over Active = True: the comparison's operands are nested
// count + 2 deep.
std::vector<std::byte> DeepNots(int count) {
  Raw n, l;
  for (int i = 0; i < count; ++i) Node(n, 1, 9, {static_cast<std::uint16_t>(10 * (i + 1))});
  const auto at = static_cast<std::uint16_t>(10 * count);
  Node(n, 2, 3, {static_cast<std::uint16_t>(at + 12), static_cast<std::uint16_t>(at + 24)});
  Node(n, 4, 13, {4, 0});
  Node(n, 5, 14, {4, 2, 7});
  l.Text("Active").U16(1);
  return Assemble(n, l);
}

// A buffer of a first node and the rest of the node area; a field node
// (number, name offset) and a constant node (type, size, literal offset).
std::vector<std::byte> One(std::uint32_t cls, std::uint32_t op, std::initializer_list<std::uint16_t> ops,
                           const Raw& more, const Raw& literals) {
  Raw n;
  Node(n, cls, op, ops).Append(more);
  return Assemble(n, literals);
}
Raw F(std::uint16_t no, std::uint16_t name_at) { return Raw().U32(4).U32(13).U16(no).U16(name_at); }
Raw C(std::uint16_t type, std::uint16_t size, std::uint16_t at) {
  return Raw().U32(5).U32(14).U16(type).U16(size).U16(at);
}
const Raw kNameSm = Raw().Text("Name").Text("Sm");

TEST_F(FilterBufferTest, HandWrittenBuffersReadIntoTheirTrees) {
  const std::pair<std::vector<std::byte>, std::string> cases[] = {
      {EqualSmith(), "bin3(f:Name#1/t1/s21,c/t1/s6'Smith')"},
      // 'Sm*': case-sensitive, 2 characters; a case flag above 1 reads as
      // case-insensitive; names ignore case.
      {One(3, 3, {0, 2, 16, 28}, F(1, 0).Append(C(1, 3, 5)), kNameSm), "cmp3/ci0/p2(f:Name#1/t1/s21,c/t1/s3'Sm')"},
      {One(3, 4, {7, 0, 16, 28}, F(1, 0).Append(C(1, 4, 5)), Raw().Text("name").Text("abc")),
       "cmp4/ci1/p0(f:name#1/t1/s21,c/t1/s4'abc')"},
      {AndOrNot(),
       "bin11(bin10(bin5(f:Qty#2/t6/s4,c/t6/s4=05000000),un9(bin3(f:Active#4/t4/s2,c/t4/"
       "s2=ffff))),bin8(f:Small#3/t5/s2,c/t5/s2=fdff))"},
      {One(1, 1, {10}, F(2, 0), Raw().Text("Qty")), "un1(f:Qty#2/t6/s4)"},
      {One(1, 2, {10}, F(1, 0), Raw().Text("Name")), "un2(f:Name#1/t1/s21)"},
      {Compare("Name", 3, 1, Raw().U8(0)), "bin3(f:Name#1/t1/s21,c/t1/s1/null)"},  // '' is NULL
      {One(2, 6, {12, 24}, F(2, 0).Append(F(3, 4)), Raw().Text("Qty").Text("Small")),
       "bin6(f:Qty#2/t6/s4,f:Small#3/t5/s2)"},
      {Compare("Active", 3, 4, Raw().U16(0xFFFF)), "bin3(f:Active#4/t4/s2,c/t4/s2=ffff)"},
      {Compare("Active", 4, 4, Raw().U16(0)), "bin4(f:Active#4/t4/s2,c/t4/s2=0000)"},
      {Compare("W", 7, 12, Raw().U16(65535)), "bin7(f:W#10/t12/s2,c/t12/s2=ffff)"},
      {Compare("Price", 5, 7, Raw().F64(2.5)), "bin5(f:Price#5/t7/s8,c/t7/s8=0000000000000440)"},
      {Compare("Amount", 3, 8, Raw().U64(125000)), "bin3(f:Amount#6/t8/s8,c/t8/s8=48e8010000000000)"},
      {Compare("Born", 3, 2, Raw().U32(730119)), "bin3(f:Born#7/t2/s4,c/t2/s4=07240b00)"},
      {Compare("At", 6, 10, Raw().U32(3600000)), "bin6(f:At#8/t10/s4,c/t10/s4=80ee3600)"},
      {Compare("Stamp", 7, 11, Raw().F64(86400000.0)), "bin7(f:Stamp#9/t11/s8,c/t11/s8=0000000070999441)"},
      // Size 256 has a low byte of 0: read as 16 bits it keeps the text, as
      // much as the value area holds.
      {Compare("Name", 5, 1, Raw().Text(std::string(255, 'x'))),
       "bin5(f:Name#1/t1/s21,c/t1/s255'" + std::string(254, 'x') + "')"},
  };
  for (const auto& [bytes, tree] : cases) EXPECT_EQ(Read(bytes), tree);
}

TEST_F(FilterBufferTest, WriterProducesTheDocumentedBytes) {
  using Op = ExprOperator;
  using B = FilterExpressionBuffer;
  // One comparison of a field (number 0, name) with a constant.
  auto compare = [](Op op, const char* field, const std::function<B::NodeRef(B&)>& constant) {
    B b;
    const auto n = b.AddBinary(op);
    b.SetOperand(n, 0, b.AddField(0, field));
    b.SetOperand(n, 1, constant(b));
    return b.Finish();
  };
  {
    B b;
    const auto eq = b.AddBinary(Op::kEqual);
    b.SetOperand(eq, 0, b.AddField(1, "Name"));
    b.SetOperand(eq, 1, b.AddStringConstant("Smith"));
    const auto bytes = b.Finish();
    EXPECT_EQ(bytes, EqualSmith());
    EXPECT_EQ(bytes.size(), 10 + b.NodeAreaSize() + b.LiteralAreaSize());
  }
  {
    B b;
    const auto orn = b.AddBinary(Op::kOr), andn = b.AddBinary(Op::kAnd);
    b.SetOperand(orn, 0, andn);
    const auto gt = b.AddBinary(Op::kGreater);
    b.SetOperand(andn, 0, gt);
    b.SetOperand(gt, 0, b.AddField(2, "Qty"));
    b.SetOperand(gt, 1, b.AddIntegerConstant(5));
    const auto notn = b.AddUnary(Op::kNot);
    b.SetOperand(andn, 1, notn);
    const auto eq = b.AddBinary(Op::kEqual);
    b.SetOperand(notn, 0, eq);
    b.SetOperand(eq, 0, b.AddField(4, "Active"));
    b.SetOperand(eq, 1, b.AddBooleanConstant(1));
    const auto le = b.AddBinary(Op::kLessEqual);
    b.SetOperand(orn, 1, le);
    b.SetOperand(le, 0, b.AddField(3, "Small"));
    b.SetOperand(le, 1, b.AddSmallIntConstant(-3));
    EXPECT_EQ(b.Finish(), AndOrNot());
  }
  {
    B b;
    const auto cmp = b.AddStringCompare(Op::kEqual, true, 2);
    b.SetOperand(cmp, 0, b.AddField(1, "Name"));
    b.SetOperand(cmp, 1, b.AddStringConstant("Sm"));
    EXPECT_EQ(b.Finish(), One(3, 3, {1, 2, 16, 28}, F(1, 0).Append(C(1, 3, 5)), kNameSm));
  }
  // 255 characters: size 256 in the full u16; a longer text is cut.
  EXPECT_EQ(compare(Op::kGreater, "Name", [](B& b) { return b.AddStringConstant(std::string(300, 'x')); }),
            Compare("Name", 5, 1, Raw().Text(std::string(255, 'x'))));
  EXPECT_EQ(compare(Op::kEqual, "Name", [](B& b) { return b.AddStringConstant(""); }),
            Compare("Name", 3, 1, Raw().U8(0)));
  EXPECT_EQ(compare(Op::kEqual, "Amount", [](B& b) { return b.AddBcdConstant(125000); }),
            Compare("Amount", 3, 8, Raw().U64(125000)));
}

// A buffer past 65535 bytes is written wide: the narrow layout with every
// header field and operand 32 bits wide. It reads back whole; cut short,
// with a bad version or a size beyond its bytes it is refused.
TEST_F(FilterBufferTest, LargeBuffersAreWrittenWide) {
  FilterExpressionBuffer b;
  auto link = b.AddBinary(ExprOperator::kOr);
  auto term = [&] {
    const auto cmp = b.AddBinary(ExprOperator::kEqual);
    b.SetOperand(cmp, 0, b.AddField(1, "Name"));
    b.SetOperand(cmp, 1, b.AddStringConstant(std::string(200, 'a')));
    return cmp;
  };
  for (int i = 0; i < 400; ++i) {
    b.SetOperand(link, 0, term());
    const auto next = i < 399 ? b.AddBinary(ExprOperator::kOr) : term();
    b.SetOperand(link, 1, next);
    link = next;
  }
  const std::vector<std::byte> bytes = b.Finish();
  ASSERT_GT(bytes.size(), 0xFFFFu);
  auto u32 = [&](std::size_t at) { return LoadLittle<std::uint32_t>(bytes.data() + at); };
  EXPECT_EQ(bytes.size(), 20 + b.NodeAreaSize() + b.LiteralAreaSize());
  // version, total, node count, node start, literal start; the root OR
  // node and its first operand right after it (8 + 2 x 4 bytes).
  EXPECT_EQ(std::vector<std::uint32_t>({u32(0), u32(4), u32(8), u32(12), u32(16)}),
            std::vector<std::uint32_t>({1, static_cast<std::uint32_t>(bytes.size()), 0xFFFFFFFF, 20,
                                        static_cast<std::uint32_t>(20 + b.NodeAreaSize())}));
  EXPECT_EQ(std::vector<std::uint32_t>({u32(20), u32(24), u32(28)}), std::vector<std::uint32_t>({2, 11, 16}));
  const std::string tree = Read(bytes);
  std::size_t terms = 0;
  for (std::size_t at = tree.find("f:Name"); at != std::string::npos; at = tree.find("f:Name", at + 1)) ++terms;
  EXPECT_EQ(terms, 401u);
  auto patched = [&](std::size_t at, std::uint32_t v) {
    std::vector<std::byte> p = bytes;
    StoreLittle<std::uint32_t>(p.data() + at, v);
    return p;
  };
  EXPECT_EQ(ErrorOf(patched(0, 0x00020001)), 10051);
  EXPECT_EQ(ErrorOf(patched(4, static_cast<std::uint32_t>(bytes.size() + 1))), 10051);
  EXPECT_EQ(ErrorOf(patched(28, 0x00010000)), 10051);  // an operand past the node area
  for (std::size_t n : {std::size_t{12}, std::size_t{30}, bytes.size() / 2, bytes.size() - 1})
    EXPECT_EQ(ErrorOf({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)}), 10051) << n;
}

// Each hostile buffer is a valid one with one thing broken: a patch of
// AndOrNot() (node @x of it at byte 10 + x), or one built whole.
TEST_F(FilterBufferTest, HostileBuffersAreRefusedWith10051) {
  constexpr std::size_t N = 10;
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int width;
  } patches[] = {
      {"version 1", 0, 1, 2},                          {"total size below the header", 2, 9, 2},
      {"total size past the buffer", 2, 184, 2},       {"literal area past the total size", 2, 150, 2},
      {"node area inside the header", 6, 8, 2},        {"literal area before the node area", 8, 9, 2},
      {"node area shorter than a node", 8, 14, 2},     {"root class 0", N, 0, 4},
      {"root class 6", N, 6, 4},                       {"root class 0xFFFFFFFF", N, 0xFFFFFFFF, 4},
      {"binary node with NOT", N + 4, 9, 4},           {"binary node with operator 16", N + 4, 16, 4},
      {"unary node with =", N + 66, 3, 4},             {"field node with operator 14", N + 40, 14, 4},
      {"constant node with operator 13", N + 52, 13, 4}, {"missing right operand", N + 10, 0, 2},
      {"missing NOT operand", N + 70, 0, 2},           {"cycle back to the root", N + 82, 0, 2},
      {"cycle to an ancestor", N + 80, 12, 2},         {"node refers to itself", N + 70, 62, 2},
      {"operand inside its parent", N + 32, 30, 2},    {"node reached twice", N + 10, 12, 2},
      {"operand past the node area", N + 10, 148, 2},  {"operand offset 0xFFFF", N + 10, 0xFFFF, 2},
      {"node header past the node area", N + 10, 144, 2}, {"name offset past the literals", N + 46, 0xFFFF, 2},
      {"name offset at the literal end", N + 46, 25, 2}, {"constant size 0xFFFF", N + 58, 0xFFFF, 2},
      {"constant past the literal area", N + 146, 24, 2}, {"literal offset 0xFFFF", N + 146, 0xFFFF, 2},
      {"int32 constant of size 2", N + 58, 2, 2},      {"int16 constant of size 4", N + 144, 4, 2},
      {"constant type 0", N + 56, 0, 2},               {"constant type 0x106", N + 56, 0x106, 2},
      {"NOT over a field", N + 70, 84, 2},             {"AND over a constant", N + 22, 96, 2},
      {"comparison over a comparison", N + 34, 72, 2},
  };
  ASSERT_EQ(AndOrNot().size(), 183u);
  for (const auto& p : patches) {
    auto b = AndOrNot();
    for (int k = 0; k < p.width; ++k) b[p.at + k] = static_cast<std::byte>(p.value >> (8 * k));
    EXPECT_EQ(ErrorOf(b), 10051) << p.what;
  }
  const std::vector<std::pair<const char*, std::vector<std::byte>>> built = {
      {"empty", {}},
      {"header only, no node", Assemble(Raw(), Raw())},
      {"binary node cut after its operator", One(1, 9, {10}, Raw().U32(2).U32(3), Raw().Text("Qty"))},
      {"name without its zero byte", One(1, 1, {10}, F(2, 0), Raw().U8('Q').U8('t').U8('y'))},
      {"name longer than 255", One(1, 1, {10}, F(2, 0), Raw().Text(std::string(300, 'Q')))},
      {"string constant of 300 bytes", Compare("Name", 3, 1, Raw().Text(std::string(299, 'y')))},
      {"string constant of size 0", Compare("Name", 3, 1, Raw())},
      {"constant type 3 (BLOB)", Compare("Qty", 3, 3, Raw().U32(1))},
      {"constant type 13", Compare("Qty", 3, 13, Raw().U32(1))},
      {"partial length 256", One(3, 3, {0, 256, 16, 28}, F(1, 0).Append(C(1, 3, 5)), kNameSm)},
      {"string compare with >", One(3, 5, {0, 0, 16, 28}, F(1, 0).Append(C(1, 3, 5)), kNameSm)},
      {"string compare of an integer field",
       One(3, 3, {0, 0, 16, 28}, F(2, 0).Append(C(1, 2, 4)), Raw().Text("Qty").Text("5"))},
      {"string compare with an integer",
       One(3, 3, {0, 0, 16, 28}, F(1, 0).Append(C(6, 4, 5)), Raw().Text("Name").U32(5))},
      {"string compare swapped", One(3, 3, {0, 0, 16, 30}, C(1, 3, 5).Append(F(1, 0)), kNameSm)},
      {"blank test over a comparison",
       One(1, 1, {10}, Raw().U32(2).U32(3).U16(22).U16(34).Append(F(2, 0)).Append(C(6, 4, 4)),
           Raw().Text("Qty").U32(5))},
      {"root is a field", One(4, 13, {4, 0}, Raw(), Raw().Text("Active"))},
      {"root is a constant", One(5, 14, {4, 2, 0}, Raw(), Raw().U16(1))},
      {"nested one deeper than the evaluator takes", DeepNots(255)},
      {"NOT nested 3000 deep", DeepNots(3000)},
  };
  for (const auto& [what, bytes] : built) EXPECT_EQ(ErrorOf(bytes), 10051) << what;
  const auto whole = AndOrNot();  // every truncation of a valid buffer
  for (std::size_t n = 0; n < whole.size(); ++n)
    EXPECT_EQ(ErrorOf({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)}), 10051) << n;
}

TEST_F(FilterBufferTest, WhatTheReaderDoesNotRelyOn) {
  // The node count is never counted by the writer: any value reads.
  auto b = AndOrNot();
  b[4] = std::byte{0x34};
  b[5] = std::byte{0x12};
  EXPECT_EQ(ErrorOf(b), 0);
  // Bytes past the stated total size are not part of the buffer.
  b = EqualSmith();
  b.resize(b.size() + 7, std::byte{0xEE});
  EXPECT_EQ(Read(b), "bin3(f:Name#1/t1/s21,c/t1/s6'Smith')");
  // The field number in the buffer is not used: the name decides.
  EXPECT_EQ(Read(Compare("Qty", 3, 6, Raw().U32(7))), "bin3(f:Qty#2/t6/s4,c/t6/s4=07000000)");
  // Nesting as deep as the evaluator takes is read and evaluated.
  const ExpressionPtr deep = ConvertFilterBlob(DeepNots(254), table_);
  auto record = table_.NewRecord();
  PutFieldBoolean(record, table_.Slot("Active"), true);
  EXPECT_TRUE(EvaluateFilterRecord(*deep, table_, record));  // an even count of NOTs
}

TEST_F(FilterBufferTest, MessagesNameTheFieldAndTheDataFile) {
  auto text = [&](const std::vector<std::byte>& b) {
    return testsupport::ErrorText<ETolmidEngineError>([&] { (void)ConvertFilterBlob(b, table_); });
  };
  EXPECT_EQ(text(std::vector<std::byte>(3)),
            "Tolmid Engine Error # 10051 Invalid filter expression specified for data file TEST.DAT");
  EXPECT_EQ(text(Compare("Nope", 3, 6, Raw().U32(1))),
            "Tolmid Engine Error # 9985 Invalid field number or name Nope specified for data file TEST.DAT");
}

}  // namespace
}  // namespace storage::test
