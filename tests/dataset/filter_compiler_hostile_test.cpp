// Hostile filter texts: random bytes and mutations of valid texts. The
// compiler either raises a framework exception or hands back a buffer that
// the engine's reader accepts; it never reads past the text (run under
// AddressSanitizer, the text sits in an allocation of exactly its size).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dataset/filter_compiler.h"
#include "framework/exceptions.h"
#include "storage/filter_object.h"
#include "storage/filter_reader.h"
#include "tests/dataset/filter_compiler_test_support.h"

namespace dataset::test {
namespace {

// Compiles text from a heap block of exactly its size; true when a buffer
// came back (and was read and evaluated by the engine).
bool CompileAndRead(const std::string& text, fw::TFilterOptions options,
                    const storage::test::TestTable& table) {
  static const TestSource source;
  auto exact = std::make_unique<char[]>(text.size() + 1);
  std::copy(text.begin(), text.end(), exact.get());
  std::vector<std::byte> buffer;
  try {
    buffer = CompileFilter(source, std::string_view(exact.get(), text.size()), options);
  } catch (const fw::Exception&) {
    return false;
  }
  const auto tree = storage::ConvertFilterBlob(buffer, table);  // must not throw
  (void)storage::EvaluateFilterRecord(*tree, table, table.NewRecord());
  return true;
}

TEST(FilterCompilerHostileTest, RandomAndMutatedTextsFailCleanly) {
  const std::vector<std::string> seeds = {
      "Name = 'Smith' AND Qty > 1",
      "NOT (Active OR [Price] <= -1.5e2)",
      "Name = 'it''s*' OR Small <> NULL",
      "Born = '1/2/2000' AND At < '1:30 PM' AND Stamp >= '1/1/2000 0:00'",
      "(W = 3) or (Amount = 1.25) and not active",
  };
  const std::string alphabet = "NameQtyAND OR NOT()[]'=<>*-+.eE0123456789\x01\x80\xff\t";
  std::mt19937 rng(7);
  storage::test::TestTable table;
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    if (i % 4 == 0) {
      const std::size_t n = rng() % 40;
      for (std::size_t k = 0; k < n; ++k) text += static_cast<char>(rng() % 256);
    } else {
      text = seeds[rng() % seeds.size()];
      const int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0: text.erase(at, 1 + rng() % 3); break;
          case 1: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
          default: text[at] = alphabet[rng() % alphabet.size()]; break;
        }
      }
    }
    fw::TFilterOptions options;
    if (rng() % 2) options.Include(fw::TFilterOption::foCaseInsensitive);
    if (rng() % 2) options.Include(fw::TFilterOption::foNoPartialCompare);
    SCOPED_TRACE(text);
    if (CompileAndRead(text, options, table)) ++accepted;
  }
  EXPECT_GT(accepted, 100);  // the mutations still reach the writer
}

TEST(FilterCompilerHostileTest, TextsEndingInsideATokenAreRefused) {
  storage::test::TestTable table;
  for (const char* text : {"'", "[", "Name = '", "Name = 'a''", "[Na", "(", "Qty <", "-",
                           "Qty = 1 AND NOT", "((((", "Name = 'a' OR"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(CompileAndRead(text, {}, table));
  }
}

}  // namespace
}  // namespace dataset::test
