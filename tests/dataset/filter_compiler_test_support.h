// The dataset side of the filter tests: the fields of the storage test
// table (tests/storage/filter_test_support.h) as a dataset presents them to
// the filter compiler, plus a few fields a filter may not use.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/filter_compiler.h"
#include "framework/sysutils.h"
#include "tests/storage/filter_test_support.h"

namespace dataset::test {

struct SourceField {
  std::string name;
  FilterFieldInfo info;
};

// Numbers 1 to 10 are the storage test table's fields in its order; the
// rest exist only on the dataset side.
inline std::vector<SourceField> DefaultSourceFields() {
  using fw::TFieldKind;
  using fw::TFieldType;
  return {
      {"Name", {1, TFieldType::ftString, 20, TFieldKind::fkData}},
      {"Qty", {2, TFieldType::ftInteger, 0, TFieldKind::fkData}},
      {"Small", {3, TFieldType::ftSmallint, 0, TFieldKind::fkData}},
      {"Active", {4, TFieldType::ftBoolean, 0, TFieldKind::fkData}},
      {"Price", {5, TFieldType::ftFloat, 0, TFieldKind::fkData}},
      {"Amount", {6, TFieldType::ftBCD, 2, TFieldKind::fkData}},
      {"Born", {7, TFieldType::ftDate, 0, TFieldKind::fkData}},
      {"At", {8, TFieldType::ftTime, 0, TFieldKind::fkData}},
      {"Stamp", {9, TFieldType::ftDateTime, 0, TFieldKind::fkData}},
      {"W", {10, TFieldType::ftWord, 0, TFieldKind::fkData}},
      {"Memo", {11, TFieldType::ftMemo, 0, TFieldKind::fkData}},
      {"Calc", {12, TFieldType::ftInteger, 0, TFieldKind::fkCalculated}},
      {"Look", {13, TFieldType::ftString, 10, TFieldKind::fkLookup}},
      {"ICalc", {14, TFieldType::ftInteger, 0, TFieldKind::fkInternalCalc}},
      {"Money", {15, TFieldType::ftCurrency, 0, TFieldKind::fkData}},
      {"Flag2", {16, TFieldType::ftBoolean, 0, TFieldKind::fkCalculated}},
  };
}

class TestSource : public FilterFieldSource {
 public:
  explicit TestSource(std::vector<SourceField> fields = DefaultSourceFields())
      : fields_(std::move(fields)) {}
  std::optional<FilterFieldInfo> FindFilterField(std::string_view name) const override {
    for (const auto& f : fields_) {
      if (fw::AnsiSameText(f.name, name)) return f.info;
    }
    return std::nullopt;
  }

 private:
  std::vector<SourceField> fields_;
};

}  // namespace dataset::test
