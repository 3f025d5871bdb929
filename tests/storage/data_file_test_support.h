// Shared helpers of the data file tests: a scratch folder with a fresh
// engine, field and index builders, raw file access and the independent
// checkers of tests/tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/session.h"
#include "tests/common/scratch_dir.h"
#include "tests/tools/run_tool.h"

namespace storage::datatest {

// The engine code an operation raised; 0 when it raised nothing.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

inline TFieldDescriptor Field(std::uint16_t number, const std::string& name, FieldType type,
                              std::uint8_t size = 0, FieldSubtype subtype = FieldSubtype::kNone) {
  TFieldDescriptor f;
  f.FieldNumber = number;
  f.Name.Assign(name);
  f.FieldType = TypeCode(type);
  f.Subtype = SubtypeCode(subtype);
  f.Size = size;
  return f;
}

inline TFieldDescriptor AutoInc(std::uint16_t number, const std::string& name) {
  return Field(number, name, FieldType::kInteger, 0, FieldSubtype::kAutoIncrement);
}

inline TIndexDescriptor Index(const std::string& name, std::initializer_list<std::uint16_t> fields,
                              bool unique = false) {
  TIndexDescriptor d;
  d.SetName(name);
  int i = 0;
  for (std::uint16_t n : fields) d.FieldNumbers[i++] = n;
  d.Unique = unique ? 1 : 0;
  return d;
}

// Appends a record whose string field n holds text (below the record
// layer: no keys, no checks).
inline std::uint32_t AppendText(TDataFile& t, int n, const std::string& text) {
  TRecord* r = t.TakeFreeRecord();
  t.InitRecordBuffer(r);
  PutFieldString(r->Data(), t.GetFieldDescriptor(false, n).Slot(), text);
  r->modified = true;
  const std::uint32_t number = r->RecordNumber();
  t.ReleaseRecordBuffer(r);
  return number;
}

using tooltest::HasLine;
using tooltest::RunTool;
using CheckResult = tooltest::ToolResult;

class DataFileTestBase : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  std::string Path(const std::string& leaf) const { return dir_ + "/" + leaf; }

  // A definition of the given fields with a primary key on the fields of
  // primary (none when it is empty).
  static DataTableDefinition Definition(std::vector<TFieldDescriptor> fields,
                                        std::initializer_list<std::uint16_t> primary = {1}) {
    DataTableDefinition def;
    def.creator1 = 1;
    def.fields = std::move(fields);
    def.primary = Index("", primary);
    def.allow_empty_primary = primary.size() == 0;
    return def;
  }

  void Create(const std::string& name, const DataTableDefinition& def, bool in_memory = false) {
    TDataFile t;
    t.SetInMemory(in_memory);
    t.SetFileName(name);
    t.SetExclusive(true);
    t.CreateDataTable(def);
  }

  std::unique_ptr<TDataFile> OpenTable(const std::string& name, bool exclusive = true,
                                       bool in_memory = false) {
    auto t = std::make_unique<TDataFile>();
    t->SetInMemory(in_memory);
    t->SetFileName(name);
    t->SetExclusive(exclusive);
    t->Open();
    return t;
  }

  static std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    const std::string s = testsupport::ReadFile(path);
    return {s.begin(), s.end()};
  }
  static void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
  }

  static std::uint32_t Append(TDataFile& t, int n, const std::string& text) { return AppendText(t, n, text); }

  testsupport::ScratchDir scratch_;
  std::string dir_ = scratch_.path();
};

}  // namespace storage::datatest
