// Filter texts for the filter expression compiler: any text either raises a
// framework exception or gives a buffer that the engine's filter reader
// accepts and can evaluate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dataset/filter_compiler.h"
#include "framework/exceptions.h"
#include "storage/filter_object.h"
#include "storage/filter_reader.h"
#include "tests/dataset/filter_compiler_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const dataset::test::TestSource source;
  static const storage::test::TestTable table;
  fw::TFilterOptions options;
  if (size > 0 && (data[0] & 1)) options.Include(fw::TFilterOption::foCaseInsensitive);
  if (size > 0 && (data[0] & 2)) options.Include(fw::TFilterOption::foNoPartialCompare);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::byte> buffer;
  try {
    buffer = dataset::CompileFilter(source, text, options);
  } catch (const fw::Exception&) {
    return 0;
  }
  try {
    const auto tree = storage::ConvertFilterBlob(buffer, table);
    (void)storage::EvaluateFilterRecord(*tree, table, table.NewRecord());
  } catch (const fw::Exception&) {
    std::abort();  // the compiler wrote a buffer the engine refuses
  }
  return 0;
}
