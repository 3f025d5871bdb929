// Feeds fuzzed filter-expression buffers to the filter reader and
// evaluates what it reads on a few records: a malformed buffer must be
// refused with engine error 10051 (or 9985 for an unknown field name),
// never crash, loop or read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/sysutils.h"
#include "storage/engine_error.h"
#include "storage/filter_object.h"
#include "storage/filter_reader.h"
#include "storage/session.h"

namespace {

using namespace storage;

// Name string[20], Qty int32, Active boolean, Price float, Born date,
// Small int16.
struct FuzzField {
  const char* name;
  FieldType type;
  int declared;
};
constexpr FuzzField kFields[] = {
    {"Name", FieldType::kString, 20},   {"Qty", FieldType::kInteger, 0},
    {"Active", FieldType::kBoolean, 0}, {"Price", FieldType::kFloat, 0},
    {"Born", FieldType::kDate, 0},      {"Small", FieldType::kSmallInt, 0}};
constexpr std::size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

class FuzzTable : public FilterTable {
 public:
  FuzzTable() {
    std::uint16_t offset = kRecordPrefixSize;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      slots_[i].offset = offset;
      slots_[i].type = kFields[i].type;
      slots_[i].physical_size =
          static_cast<std::uint8_t>(PhysicalSize(kFields[i].type, kFields[i].declared));
      offset = static_cast<std::uint16_t>(offset + 1 + slots_[i].physical_size);
    }
    for (int r = 0; r < 3; ++r) records_[r].resize(offset);
    PutFieldString(records_[0], slots_[0], "Smith");
    PutFieldValue<std::int32_t>(records_[0], slots_[1], 5);
    PutFieldBoolean(records_[0], slots_[2], true);
    PutFieldValue<double>(records_[0], slots_[3], 2.5);
    PutFieldValue<std::int32_t>(records_[0], slots_[4], 730119);
    PutFieldString(records_[1], slots_[0], "sm");
    PutFieldValue<std::int32_t>(records_[1], slots_[1], -7);
    // records_[2]: every field null
  }
  std::string DataFileName() const override { return "FUZZ.DAT"; }
  std::optional<FilterField> FindFilterField(std::string_view name) const override {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      if (fw::AnsiSameText(kFields[i].name, name)) {
        return FilterField{static_cast<std::uint16_t>(i + 1), slots_[i].type,
                           slots_[i].physical_size};
      }
    }
    return std::nullopt;
  }
  void LoadFilterFieldValue(std::span<const std::byte> record,
                            TExpressionNode& result) const override {
    const std::size_t n = result.field_number;
    if (n >= 1 && n <= kFieldCount) LoadRecordValue(record, slots_[n - 1], result);
  }
  FilterLevel BuildFilterBitmap(std::span<std::uint8_t>, ExprOperator, TExpressionNode&) override {
    return FilterLevel::kByRecords;
  }
  const std::vector<std::byte>& Record(int r) const { return records_[r]; }

 private:
  FieldSlot slots_[kFieldCount];
  std::vector<std::byte> records_[3];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialized = [] {
    InitializeEngine();
    return true;
  }();
  (void)initialized;
  static FuzzTable table;
  // An exact-size copy, so that any read past the input is caught.
  const std::vector<std::byte> buffer(reinterpret_cast<const std::byte*>(data),
                                      reinterpret_cast<const std::byte*>(data) + size);
  ExpressionPtr tree;
  try {
    tree = ConvertFilterBlob(buffer, table);
  } catch (const ETolmidEngineError& e) {
    if (e.ErrorCode() != 10051 && e.ErrorCode() != 9985) __builtin_trap();
    return 0;
  }
  if (!tree) __builtin_trap();  // no error means a tree
  for (int r = 0; r < 3; ++r) (void)EvaluateFilterRecord(*tree, table, table.Record(r));
  return 0;
}
