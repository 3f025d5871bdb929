// Datasets for the data-aware control tests: the in-memory dataset of the
// framework tests, made to position by record number and to count the
// records it reads.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "framework/db/field.h"
#include "tests/common/memory_dataset.h"

namespace formstest {

using fw::testing::ColumnDef;

class CountingDataSet : public fw::testing::MemoryDataSet {
 public:
  using MemoryDataSet::MemoryDataSet;
  ~CountingDataSet() override {
    MarkDestroying();
    Close();
  }
  int reads = 0;  // records read through GetRecord

  // Unfiltered tables only: record number n is the n-th stored row.
  void SetRecNo(int n) override {
    CheckBrowseMode();
    if (n < 1 || n > static_cast<int>(Rows().size()) || n == RecNo()) return;
    DoBeforeScroll();
    int id = Rows()[static_cast<std::size_t>(n - 1)].id;
    InternalGotoBookmark(&id);
    Resync(true, true);
    DoAfterScroll();
  }

 protected:
  fw::TGetResult GetRecord(char* buffer, fw::TGetMode mode, bool do_check) override {
    const fw::TGetResult r = MemoryDataSet::GetRecord(buffer, mode, do_check);
    if (r == fw::TGetResult::grOK) ++reads;
    return r;
  }
};

// Field bytes in the framework layout, for MemoryDataSet::AddRaw.
inline std::vector<char> StrBytes(const std::string& s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}
inline std::vector<char> IntBytes(std::int32_t i) {
  std::vector<char> v(4);
  std::memcpy(v.data(), &i, 4);
  return v;
}

// A table of n records: Num (1..n) and Name ("name<i>").
inline void FillNumbered(fw::testing::MemoryDataSet& ds, int n) {
  for (int i = 1; i <= n; ++i) ds.AddRaw({{0, IntBytes(i)}, {1, StrBytes("name" + std::to_string(i))}});
}

inline std::vector<ColumnDef> NumberedSchema() {
  return {{"Num", fw::TFieldType::ftInteger}, {"Name", fw::TFieldType::ftString, 40}};
}

}  // namespace formstest
