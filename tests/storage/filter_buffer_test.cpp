// Filter-expression buffers written byte by byte from the layout, read into
// trees; the writer's bytes against the same layout; hostile buffers.
#include "storage/filter_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_reader.h"
#include "storage/session.h"
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

TEST_F(FilterBufferTest, HandWrittenBuffersReadIntoTheirTrees) {
  const std::string s254(254, 'x');
  struct Case {
    const char* what;
    std::function<std::vector<std::byte>()> bytes;
    std::string tree;
  } cases[] = {
      {"string equality", EqualSmith, "bin3(f:Name#1/t1/s21,c/t1/s6'Smith')"},
      {"partial match of 'Sm*'",
       [] {
         Raw n, l;
         Node(n, 3, 3, {0, 2, 16, 28});  // case-sensitive, 2 characters
         Node(n, 4, 13, {1, 0});
         Node(n, 5, 14, {1, 3, 5});
         l.Text("Name").Text("Sm");
         return Assemble(n, l);
       },
       "cmp3/ci0/p2(f:Name#1/t1/s21,c/t1/s3'Sm')"},
      {"case flag above 1 is case-insensitive, <>",
       [] {
         Raw n, l;
         Node(n, 3, 4, {7, 0, 16, 28});
         Node(n, 4, 13, {1, 0});
         Node(n, 5, 14, {1, 4, 5});
         l.Text("name").Text("abc");  // the table's names ignore case
         return Assemble(n, l);
       },
       "cmp4/ci1/p0(f:name#1/t1/s21,c/t1/s4'abc')"},
      {"AND, OR, NOT", AndOrNot,
       "bin11(bin10(bin5(f:Qty#2/t6/s4,c/t6/s4=05000000),un9(bin3(f:Active#4/t4/s2,c/t4/"
       "s2=ffff))),bin8(f:Small#3/t5/s2,c/t5/s2=fdff))"},
      {"is blank",
       [] {
         Raw n, l;
         Node(n, 1, 1, {10});
         Node(n, 4, 13, {2, 0});
         l.Text("Qty");
         return Assemble(n, l);
       },
       "un1(f:Qty#2/t6/s4)"},
      {"is not blank",
       [] {
         Raw n, l;
         Node(n, 1, 2, {10});
         Node(n, 4, 13, {1, 0});
         l.Text("Name");
         return Assemble(n, l);
       },
       "un2(f:Name#1/t1/s21)"},
      {"the empty string is NULL", [] { return Compare("Name", 3, 1, Raw().U8(0)); },
       "bin3(f:Name#1/t1/s21,c/t1/s1/null)"},
      {"field compared with field",
       [] {
         Raw n, l;
         Node(n, 2, 6, {12, 24});
         Node(n, 4, 13, {2, 0});
         Node(n, 4, 13, {3, 4});
         l.Text("Qty").Text("Small");
         return Assemble(n, l);
       },
       "bin6(f:Qty#2/t6/s4,f:Small#3/t5/s2)"},
      {"lone Boolean field writes 0xFFFF",
       [] { return Compare("Active", 3, 4, Raw().U16(0xFFFF)); },
       "bin3(f:Active#4/t4/s2,c/t4/s2=ffff)"},
      {"Boolean false", [] { return Compare("Active", 4, 4, Raw().U16(0)); },
       "bin4(f:Active#4/t4/s2,c/t4/s2=0000)"},
      {"word", [] { return Compare("W", 7, 12, Raw().U16(65535)); },
       "bin7(f:W#10/t12/s2,c/t12/s2=ffff)"},
      {"float", [] { return Compare("Price", 5, 7, Raw().F64(2.5)); },
       "bin5(f:Price#5/t7/s8,c/t7/s8=0000000000000440)"},
      {"BCD times 10000", [] { return Compare("Amount", 3, 8, Raw().U64(125000)); },
       "bin3(f:Amount#6/t8/s8,c/t8/s8=48e8010000000000)"},
      {"date", [] { return Compare("Born", 3, 2, Raw().U32(730119)); },
       "bin3(f:Born#7/t2/s4,c/t2/s4=07240b00)"},
      {"time", [] { return Compare("At", 6, 10, Raw().U32(3600000)); },
       "bin6(f:At#8/t10/s4,c/t10/s4=80ee3600)"},
      {"date and time", [] { return Compare("Stamp", 7, 11, Raw().F64(86400000.0)); },
       "bin7(f:Stamp#9/t11/s8,c/t11/s8=0000000070999441)"},
      // Size 256 has a low byte of 0: read as 16 bits it keeps the text, as
      // much of it as the value area holds.
      {"a 255-character constant keeps its text",
       [] { return Compare("Name", 5, 1, Raw().Text(std::string(255, 'x'))); },
       "bin5(f:Name#1/t1/s21,c/t1/s255'" + s254 + "')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.bytes()), c.tree);
  }
}

TEST_F(FilterBufferTest, WriterProducesTheDocumentedBytes) {
  {
    FilterExpressionBuffer b;
    const auto eq = b.AddBinary(ExprOperator::kEqual);
    b.SetOperand(eq, 0, b.AddField(1, "Name"));
    b.SetOperand(eq, 1, b.AddStringConstant("Smith"));
    const auto bytes = b.Finish();
    EXPECT_EQ(bytes, EqualSmith());
    // The total size is the header, the node area and the literal area.
    EXPECT_EQ(bytes.size(), 10 + b.NodeAreaSize() + b.LiteralAreaSize());
  }
  {
    FilterExpressionBuffer b;
    const auto orn = b.AddBinary(ExprOperator::kOr);
    const auto andn = b.AddBinary(ExprOperator::kAnd);
    b.SetOperand(orn, 0, andn);
    const auto gt = b.AddBinary(ExprOperator::kGreater);
    b.SetOperand(andn, 0, gt);
    b.SetOperand(gt, 0, b.AddField(2, "Qty"));
    b.SetOperand(gt, 1, b.AddIntegerConstant(5));
    const auto notn = b.AddUnary(ExprOperator::kNot);
    b.SetOperand(andn, 1, notn);
    const auto eq = b.AddBinary(ExprOperator::kEqual);
    b.SetOperand(notn, 0, eq);
    b.SetOperand(eq, 0, b.AddField(4, "Active"));
    b.SetOperand(eq, 1, b.AddBooleanConstant(1));
    const auto le = b.AddBinary(ExprOperator::kLessEqual);
    b.SetOperand(orn, 1, le);
    b.SetOperand(le, 0, b.AddField(3, "Small"));
    b.SetOperand(le, 1, b.AddSmallIntConstant(-3));
    EXPECT_EQ(b.Finish(), AndOrNot());
  }
  {
    FilterExpressionBuffer b;
    const auto cmp = b.AddStringCompare(ExprOperator::kEqual, true, 2);
    b.SetOperand(cmp, 0, b.AddField(1, "Name"));
    b.SetOperand(cmp, 1, b.AddStringConstant("Sm"));
    Raw n, l;
    Node(n, 3, 3, {1, 2, 16, 28});
    Node(n, 4, 13, {1, 0});
    Node(n, 5, 14, {1, 3, 5});
    l.Text("Name").Text("Sm");
    EXPECT_EQ(b.Finish(), Assemble(n, l));
  }
  {
    // 255 characters: size 256 in the full u16; a longer text is cut.
    FilterExpressionBuffer b;
    const auto gt = b.AddBinary(ExprOperator::kGreater);
    b.SetOperand(gt, 0, b.AddField(0, "Name"));
    b.SetOperand(gt, 1, b.AddStringConstant(std::string(300, 'x')));
    EXPECT_EQ(b.Finish(), Compare("Name", 5, 1, Raw().Text(std::string(255, 'x'))));
  }
  {
    FilterExpressionBuffer b;
    const auto eq = b.AddBinary(ExprOperator::kEqual);
    b.SetOperand(eq, 0, b.AddField(0, "Name"));
    b.SetOperand(eq, 1, b.AddStringConstant(""));
    EXPECT_EQ(b.Finish(), Compare("Name", 3, 1, Raw().U8(0)));
  }
  {
    FilterExpressionBuffer b;
    const auto eq = b.AddBinary(ExprOperator::kEqual);
    b.SetOperand(eq, 0, b.AddField(0, "Amount"));
    b.SetOperand(eq, 1, b.AddBcdConstant(125000));
    EXPECT_EQ(b.Finish(), Compare("Amount", 3, 8, Raw().U64(125000)));
  }
}

TEST_F(FilterBufferTest, WriterRefusesToOutgrowSixteenBitOffsets) {
  FilterExpressionBuffer b;
  const auto root = b.AddBinary(ExprOperator::kOr);
  auto parent = root;
  int code = 0;
  try {
    for (int i = 0; i < 10000; ++i) {
      const auto next = b.AddBinary(ExprOperator::kOr);
      b.SetOperand(parent, 0, next);
      b.SetOperand(parent, 1, b.AddStringConstant(std::string(200, 'a')));
      parent = next;
    }
  } catch (const ETolmidEngineError& e) {
    code = e.ErrorCode();
  }
  EXPECT_EQ(code, 10051);
  EXPECT_LE(b.Finish().size(), 0xFFFFu);
}

// Each hostile buffer is a valid one with one thing broken.
TEST_F(FilterBufferTest, HostileBuffersAreRefusedWith10051) {
  using Bytes = std::vector<std::byte>;
  auto put16 = [](Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = std::byte(v & 0xFF);
    b[at + 1] = std::byte(v >> 8);
  };
  auto put32 = [&](Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
  };
  // Offsets in AndOrNot(): node area at 10; node @x is at 10 + x.
  constexpr std::size_t N = 10;
  struct Case {
    const char* what;
    std::function<Bytes()> make;
  } cases[] = {
      {"empty", [] { return Bytes(); }},
      {"header only, no node", [] { return Assemble(Raw(), Raw()); }},
      {"version 1",
       [&] {
         auto b = AndOrNot();
         put16(b, 0, 1);
         return b;
       }},
      {"total size below the header",
       [&] {
         auto b = AndOrNot();
         put16(b, 2, 9);
         return b;
       }},
      {"total size past the buffer",
       [&] {
         auto b = AndOrNot();
         put16(b, 2, static_cast<std::uint16_t>(b.size() + 1));
         return b;
       }},
      {"literal area past the total size",
       [&] {
         auto b = AndOrNot();
         put16(b, 2, 150);
         return b;
       }},
      {"node area inside the header",
       [&] {
         auto b = AndOrNot();
         put16(b, 6, 8);
         return b;
       }},
      {"literal area before the node area",
       [&] {
         auto b = AndOrNot();
         put16(b, 8, 9);
         return b;
       }},
      {"node area shorter than a node",
       [&] {
         auto b = AndOrNot();
         put16(b, 8, 14);
         return b;
       }},
      {"root class 0",
       [&] {
         auto b = AndOrNot();
         put32(b, N, 0);
         return b;
       }},
      {"root class 6",
       [&] {
         auto b = AndOrNot();
         put32(b, N, 6);
         return b;
       }},
      {"root class 0xFFFFFFFF",
       [&] {
         auto b = AndOrNot();
         put32(b, N, 0xFFFFFFFF);
         return b;
       }},
      {"binary node with NOT",
       [&] {
         auto b = AndOrNot();
         put32(b, N + 4, 9);
         return b;
       }},
      {"binary node with operator 16",
       [&] {
         auto b = AndOrNot();
         put32(b, N + 4, 16);
         return b;
       }},
      {"unary node with =",
       [&] {
         auto b = AndOrNot();
         put32(b, N + 62 + 4, 3);
         return b;
       }},
      {"field node with operator 14",
       [&] {
         auto b = AndOrNot();
         put32(b, N + 36 + 4, 14);
         return b;
       }},
      {"constant node with operator 13",
       [&] {
         auto b = AndOrNot();
         put32(b, N + 48 + 4, 13);
         return b;
       }},
      {"missing right operand",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 10, 0);
         return b;
       }},
      {"missing NOT operand",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 62 + 8, 0);
         return b;
       }},
      {"cycle back to the root",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 72 + 10, 0);
         return b;
       }},
      {"cycle to an ancestor",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 72 + 8, 12);
         return b;
       }},
      {"node refers to itself",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 62 + 8, 62);
         return b;
       }},
      {"operand inside its parent",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 24 + 8, 30);
         return b;
       }},
      {"node reached twice",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 10, 12);
         return b;
       }},
      {"operand past the node area",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 10, 148);
         return b;
       }},
      {"operand offset 0xFFFF",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 10, 0xFFFF);
         return b;
       }},
      {"node header past the node area",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 10, 144);
         return b;
       }},
      {"operands past the node area",
       [] {
         Raw n, l;
         Node(n, 1, 9, {10});
         Node(n, 2, 3, {});  // a binary node cut after its operator
         l.Text("Qty");
         return Assemble(n, l);
       }},
      {"name offset past the literal area",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 36 + 10, 0xFFFF);
         return b;
       }},
      {"name offset at the literal end",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 36 + 10, 25);
         return b;
       }},
      {"name without its zero byte",
       [] {
         Raw n, l;
         Node(n, 1, 1, {10});
         Node(n, 4, 13, {2, 0});
         l.U8('Q').U8('t').U8('y');
         return Assemble(n, l);
       }},
      {"name longer than 255 characters",
       [] {
         Raw n, l;
         Node(n, 1, 1, {10});
         Node(n, 4, 13, {2, 0});
         l.Text(std::string(300, 'Q'));
         return Assemble(n, l);
       }},
      {"constant size 0xFFFF",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 48 + 10, 0xFFFF);
         return b;
       }},
      {"constant past the literal area",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 134 + 12, 24);
         return b;
       }},
      {"literal offset 0xFFFF",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 134 + 12, 0xFFFF);
         return b;
       }},
      {"string constant of 300 bytes inside the area",
       [] { return Compare("Name", 3, 1, Raw().Text(std::string(299, 'y'))); }},
      {"string constant of size 0", [] { return Compare("Name", 3, 1, Raw()); }},
      {"int32 constant of size 2",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 48 + 10, 2);
         return b;
       }},
      {"int16 constant of size 4",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 134 + 10, 4);
         return b;
       }},
      {"constant type 0",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 48 + 8, 0);
         return b;
       }},
      {"constant type 3 (BLOB)", [] { return Compare("Qty", 3, 3, Raw().U32(1)); }},
      {"constant type 13", [] { return Compare("Qty", 3, 13, Raw().U32(1)); }},
      {"constant type 0x106",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 48 + 8, 0x106);
         return b;
       }},
      {"partial length 256",
       [] {
         Raw n, l;
         Node(n, 3, 3, {0, 256, 16, 28});
         Node(n, 4, 13, {1, 0});
         Node(n, 5, 14, {1, 3, 5});
         l.Text("Name").Text("Sm");
         return Assemble(n, l);
       }},
      {"string compare with operator >",
       [] {
         Raw n, l;
         Node(n, 3, 5, {0, 0, 16, 28});
         Node(n, 4, 13, {1, 0});
         Node(n, 5, 14, {1, 3, 5});
         l.Text("Name").Text("Sm");
         return Assemble(n, l);
       }},
      {"nested one deeper than the evaluator takes", [] { return DeepNots(255); }},
      {"NOT nested 3000 deep", [] { return DeepNots(3000); }},
      {"root is a field",
       [] {
         Raw n, l;
         Node(n, 4, 13, {4, 0});
         l.Text("Active");
         return Assemble(n, l);
       }},
      {"root is a constant",
       [] {
         Raw n, l;
         Node(n, 5, 14, {4, 2, 0});
         l.U16(1);
         return Assemble(n, l);
       }},
      {"NOT over a field",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 62 + 8, 84);
         return b;
       }},
      {"AND over a constant",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 12 + 10, 96);
         return b;
       }},
      {"comparison over a comparison",
       [&] {
         auto b = AndOrNot();
         put16(b, N + 24 + 10, 72);
         return b;
       }},
      {"blank test over a comparison",
       [] {
         Raw n, l;
         Node(n, 1, 1, {10});
         Node(n, 2, 3, {22, 34});
         Node(n, 4, 13, {2, 0});
         Node(n, 5, 14, {6, 4, 4});
         l.Text("Qty").U32(5);
         return Assemble(n, l);
       }},
      {"string compare of an integer field",
       [] {
         Raw n, l;
         Node(n, 3, 3, {0, 0, 16, 28});
         Node(n, 4, 13, {2, 0});
         Node(n, 5, 14, {1, 2, 4});
         l.Text("Qty").Text("5");
         return Assemble(n, l);
       }},
      {"string compare with an integer constant",
       [] {
         Raw n, l;
         Node(n, 3, 3, {0, 0, 16, 28});
         Node(n, 4, 13, {1, 0});
         Node(n, 5, 14, {6, 4, 5});
         l.Text("Name").U32(5);
         return Assemble(n, l);
       }},
      {"string compare with its operands swapped",
       [] {
         Raw n, l;
         Node(n, 3, 3, {0, 0, 16, 30});
         Node(n, 5, 14, {1, 3, 5});  // @16 the constant
         Node(n, 4, 13, {1, 0});     // @30 the field
         l.Text("Name").Text("Sm");
         return Assemble(n, l);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ErrorOf(c.make()), 10051);
  }

  // Every truncation of a valid buffer.
  const auto whole = AndOrNot();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ErrorOf(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n))), 10051);
  }
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
  // Nesting as deep as the evaluator takes is read.
  // and evaluated: the evaluator takes every tree the reader gives.
  const ExpressionPtr deep = ConvertFilterBlob(DeepNots(254), table_);
  auto record = table_.NewRecord();
  PutFieldBoolean(record, table_.Slot("Active"), true);
  EXPECT_TRUE(EvaluateFilterRecord(*deep, table_, record));  // an even count of NOTs
}

TEST_F(FilterBufferTest, UnknownFieldNameIs9985WithTheName) {
  try {
    (void)ConvertFilterBlob(Compare("Nope", 3, 6, Raw().U32(1)), table_);
    FAIL() << "read";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 9985);
    EXPECT_NE(std::string(e.what()).find("Nope"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("TEST.DAT"), std::string::npos) << e.what();
  }
}

TEST_F(FilterBufferTest, MessageOf10051NamesTheDataFile) {
  try {
    (void)ConvertFilterBlob(std::vector<std::byte>(3), table_);
    FAIL() << "read";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Tolmid Engine Error # 10051 Invalid filter expression specified for data file "
              "TEST.DAT");
  }
}

// Random byte damage to valid buffers: every result is a tree or one of
// the two engine errors, never a crash or a read past the buffer (the
// sanitizer build checks the latter).
TEST_F(FilterBufferTest, RandomDamageIsReadOrRefused) {
  std::mt19937 rng(20261206);
  const std::vector<std::vector<std::byte>> seeds = {
      EqualSmith(), AndOrNot(), Compare("Name", 3, 1, Raw().Text(std::string(255, 'x'))),
      Compare("Stamp", 7, 11, Raw().F64(86400000.0))};
  int read = 0;
  for (int i = 0; i < 20000; ++i) {
    auto b = seeds[i % seeds.size()];
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      const std::size_t at = rng() % b.size();
      b[at] = static_cast<std::byte>(rng() & 0xFF);
    }
    if (rng() % 8 == 0) b.resize(rng() % (b.size() + 1));
    const int code = ErrorOf(b);
    ASSERT_TRUE(code == 0 || code == 10051 || code == 9985) << code;
    read += code == 0;
  }
  EXPECT_GT(read, 0);  // some damage (in the values) still reads
}

}  // namespace
}  // namespace storage::test
