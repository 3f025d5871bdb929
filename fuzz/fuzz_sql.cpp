// Feeds fuzzed SQL text to the SELECT parser. Any text must either parse or
// be refused with engine error 11949 - never another exception, a crash,
// deep recursion or a read past the text. A statement that parses is
// rendered back to canonical SQL, which must parse to the same query.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sql/data_query.h"
#include "storage/engine_error.h"
#include "storage/session.h"
#include "fuzz/sql_render.h"
#include "tests/sql/sql_test_support.h"

namespace {

using namespace sql;
using namespace sql::test;

[[noreturn]] void Fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "%s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(), b.c_str());
  std::abort();
}

bool SameQuery(const TDataQuery& a, const TDataQuery& b) {
  if (Describe(a, false) != Describe(b, false)) return false;
  for (std::int32_t i = 0; i < a.Columns().Count(); ++i) {
    if (!SameTree(a.Columns().Get(i)->tree_.get(), b.Columns().Get(i)->tree_.get(), nullptr)) {
      return false;
    }
  }
  return SameTree(a.Where(), b.Where(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = [] {
    storage::InitializeEngine();
    return true;
  }();
  (void)initialised;
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  TDataQuery first;
  first.SetClock(FixedClock);
  const ParseOutcome r1 = Prepare(first, sql);  // only ETolmidEngineError is caught
  if (!r1.ok) {
    if (r1.code != 11949) Fail("unexpected engine code", std::string(sql), std::to_string(r1.code));
    return 0;
  }
  const std::string canonical = RenderQuery(first);
  TDataQuery second;
  second.SetClock(FixedClock);
  const ParseOutcome r2 = Prepare(second, canonical);
  if (!r2.ok) {
    // Rendering adds blanks and parentheses: an expression column may grow
    // past its limit, and parentheses count as nesting.
    if (r2.message.rfind("Source column expression exceeds", 0) == 0 ||
        r2.message.rfind("Expression is nested too deeply", 0) == 0) {
      return 0;
    }
    Fail("canonical text does not parse", canonical, r2.message);
  }
  if (!SameQuery(first, second)) Fail("round trip differs", Describe(first), Describe(second));
  if (RenderQuery(second) != canonical) Fail("rendering is not stable", canonical, RenderQuery(second));
  return 0;
}
