// Helpers of the dataset component tests: a fixture with a fresh session
// list, a temporary data folder and a database component named "DB" on it;
// table creation from a compact column list; the message of a raised error.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "dataset/tolmid_database.h"
#include "dataset/tolmid_session.h"
#include "dataset/tolmid_table.h"
#include "framework/component.h"
#include "storage/record_cache.h"
#include "tests/common/scratch_dir.h"
#include "tests/tools/run_tool.h"
#include "framework/exceptions.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/session.h"
#include "dataset/field_type_map.h"

namespace dataset::dstest {

// "" when f raises nothing; the message of the exception it raises.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const fw::Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return {};
}

// The engine code f raises; 0 when none.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const storage::ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

struct Column {
  std::string name;
  fw::TFieldType type;
  int size = 0;
  bool required = false;
};

struct IndexSpec {
  std::string name;
  std::string fields;
  fw::TIndexOptions options;
};

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = testsupport::ReadFile(path);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FinalizeSessions();
    storage::ShutdownEngine();
    owner_ = std::make_unique<fw::TComponent>(nullptr);
    db_ = new TTolmidDatabase(owner_.get());
    db_->SetDatabaseName("DB");
    db_->SetDirectory(dir_);
    db_->Open();
  }
  void TearDown() override {
    owner_.reset();
    FinalizeSessions();
  }

  std::string Path(const std::string& leaf) const { return dir_ + "/" + leaf; }

  // A table component on name in "DB", owned by the fixture.
  TTolmidTable* NewTable(const std::string& name) {
    auto* t = new TTolmidTable(owner_.get());
    t->SetDatabaseName("DB");
    t->SetTableName(name);
    return t;
  }

  // Creates name through the table component.
  TTolmidTable* CreateTable(const std::string& name, const std::vector<Column>& columns,
                            const std::vector<IndexSpec>& indexes) {
    TTolmidTable* t = NewTable(name);
    for (const Column& c : columns) t->FieldDefs().Add(c.name, c.type, c.size, c.required);
    for (const IndexSpec& i : indexes) t->IndexDefs().Add(i.name, i.fields, i.options);
    t->CreateTable();
    return t;
  }

  testsupport::ScratchDir scratch_;
  const std::string dir_ = scratch_.path();
  std::unique_ptr<fw::TComponent> owner_;
  TTolmidDatabase* db_ = nullptr;
};

// The file of dir whose name equals leaf without regard to case (the
// engine's names are Windows names); leaf itself when none exists.
inline std::string FindFileNoCase(const std::string& dir, const std::string& leaf) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() == leaf.size() &&
        std::equal(name.begin(), name.end(), leaf.begin(),
                   [](char a, char b) { return std::toupper(a) == std::toupper(b); }))
      return dir + "/" + name;
  }
  return dir + "/" + leaf;
}

// Runs the independent checkers on the three files of table name in dir
// (name without extension); "" when all find them sound, else their
// output. The BLOB checker gets every live value's chain, read from the
// records.
inline std::string CheckTableFiles(const std::string& dir, const std::string& name) {
  std::string failures;
  const std::string base = dir + "/" + name;
  auto run = [&](const std::string& tool, const std::string& file, const std::string& extra) {
    const tooltest::ToolResult r = tooltest::RunTool(tool, file, extra);
    if (r.status != 0) failures += tool + " " + file + ":\n" + r.output;
  };
  run("datcheck.py", FindFileNoCase(dir, name + ".DAT"), "");
  run("idxcheck.py", FindFileNoCase(dir, name + ".IDX"), "");
  storage::TDataFile f;
  f.SetFileName(base + ".DAT");
  f.SetReadOnly(true);
  f.Open();
  std::vector<int> blob_fields;
  for (int i = 1; i <= f.FieldCount(); ++i)
    if (f.GetFieldDescriptor(false, i).FieldType == 3) blob_fields.push_back(i);
  if (!blob_fields.empty()) {
    std::string chains = std::to_string(f.GetBlobBlockSize());
    for (std::uint32_t r = 1; r <= f.PhysicalRecordCount(); ++r) {
      storage::TRecord* rec = f.GetRecordBuffer(r, false, storage::ReadDirection::kForward, false);
      if (rec->Status() == 0) {
        for (int n : blob_fields) {
          const storage::TFieldDescriptor& d = f.GetFieldDescriptor(false, n);
          std::uint32_t first = 0;
          std::memcpy(&first, rec->Data().data() + d.Offset + 1, 4);
          if (first != 0) chains += " " + std::to_string(first) + ":" + std::to_string(r);
        }
      }
      f.ReleaseRecordBuffer(rec);
    }
    f.Close();
    run("blbcheck.py", FindFileNoCase(dir, name + ".BLB"), chains);
  }
  return failures;
}

inline const fw::TIndexOptions kPrimary{fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique};

}  // namespace dataset::dstest
