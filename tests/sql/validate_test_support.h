// Helpers of the validation tests: a temporary directory with a fresh
// engine and a set of real source tables, preparation that reports the
// engine error, a description of a validated query and of its result
// table, and the independent checkers of tests/tools.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/tools/run_tool.h"
#include "sql/data_query.h"
#include "sql/result_table.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/session.h"

namespace sql::vtest {

using storage::FieldSubtype;
using storage::FieldType;
using storage::TFieldDescriptor;
using storage::TIndexDescriptor;

inline TFieldDescriptor Field(std::uint16_t number, const std::string& name, FieldType type,
                              std::uint8_t size = 0, FieldSubtype subtype = FieldSubtype::kNone) {
  TFieldDescriptor f;
  f.FieldNumber = number;
  f.Name.Assign(name);
  f.FieldType = storage::TypeCode(type);
  f.Subtype = storage::SubtypeCode(subtype);
  f.Size = size;
  return f;
}

inline TIndexDescriptor Index(const std::string& name, std::initializer_list<std::uint16_t> fields,
                              std::initializer_list<int> descending = {}, bool unique = false) {
  TIndexDescriptor d;
  d.SetName(name);
  int i = 0;
  for (std::uint16_t n : fields) d.FieldNumbers[i++] = n;
  i = 0;
  for (int desc : descending) d.FieldDescending[i++] = static_cast<std::uint8_t>(desc);
  d.Unique = unique ? 1 : 0;
  return d;
}

using tooltest::HasLine;
using tooltest::RunTool;
using ToolResult = tooltest::ToolResult;

struct Outcome {
  bool ok = false;
  int code = 0;
  std::string message;  // the SQL message (extra text) when not ok
};

// Prepares q with sql (parse and validation); a raised engine error becomes
// the outcome.
inline Outcome Validate(TDataQuery& q, std::string_view sql) {
  Outcome r;
  try {
    r.code = q.PrepareQuery(sql);
    r.ok = r.code == 0;
  } catch (const storage::ETolmidEngineError& e) {
    r.code = e.ErrorCode();
    r.message = storage::CurrentSession()->Context().extra_text;
  }
  return r;
}

inline std::string IndexText(const TIndexDescriptor& d) {
  std::string s = d.NameText() + ":";
  for (int i = 0; i < d.FieldCount && i < 16; ++i) {
    s += " " + std::to_string(d.FieldNumbers[i]) + (d.FieldDescending[i] ? "d" : "");
  }
  if (d.Unique) s += " unique";
  if (d.Descending) s += " descending";
  if (d.CaseInsensitive) s += " nocase";
  return s;
}

inline std::string FieldText(const TFieldDescriptor& f) {
  std::string s = std::to_string(f.FieldNumber) + " \"" + std::string(f.Name.View()) +
                  "\" type=" + std::to_string(f.FieldType);
  if (f.Subtype != 0) s += "/" + std::to_string(f.Subtype);
  if (f.Size != 0) s += " size=" + std::to_string(f.Size);
  if (f.Decimals != 0) s += " dec=" + std::to_string(f.Decimals);
  if (f.IsComputed()) s += " computed=\"" + std::string(f.Expression.View()) + "\"";
  return s;
}

// What validation decided, one line each:
//   "result: live [index N]" or "result: canned [memory] [into]"
//   "flags: ..." (grouped single distinct serves exprs), when any
//   "field ..." per working field of the result (live: the source's
//   working fields; canned: the result table's, hidden field included)
//   "index ..." per secondary index of a canned result
inline std::string DescribeResult(const TDataQuery& q) {
  std::string out;
  const QueryFlags& f = q.Flags();
  if (f.live) {
    out += "result: live";
    if (f.order_by_matches_index) out += " index " + std::to_string(f.live_index);
    out += "\n";
  } else {
    out += "result: canned";
    if (f.in_memory_result) out += " memory";
    if (!q.ResultTableName().empty()) out += " into";
    out += "\n";
  }
  std::string flags;
  auto flag = [&](bool on, const char* name) {
    if (on) flags += std::string(flags.empty() ? "" : " ") + name;
  };
  flag(f.grouped, "grouped");
  flag(f.single_group, "single");
  flag(f.distinct, "distinct");
  flag(f.order_by_serves, "serves");
  flag(f.expression_columns, "exprs");
  flag(f.avg_used, "avg");
  if (!flags.empty()) out += "flags: " + flags + "\n";
  storage::TDataFile* file = f.live ? q.LiveDataFile() : q.ResultDataFile();
  if (file == nullptr) return out + "no data file\n";
  storage::TDataFile& t = *file;
  const int count = t.WorkingFieldCount();
  if (!f.live && f.avg_used) t.ShowLastField();
  for (int n = 1; n <= t.WorkingFieldCount(); ++n) {
    out += "field " + FieldText(t.GetFieldDescriptor(true, n));
    if (n > count) out += " hidden";
    out += "\n";
  }
  if (!f.live && f.avg_used) t.HideLastField();
  if (!f.live) {
    for (int n = 1; n <= t.SecondaryIndexCount(); ++n) {
      out += "index " + IndexText(t.GetIndexDescriptor(n)) + "\n";
    }
  }
  return out;
}

// A temporary directory that is the session's private directory, with the
// test tables:
//   t  (primary key id; indexes ByA (a), ByBA (b, a), ByCDesc (c desc))
//      1 id autoinc, 2 a string(20), 3 b int32, 4 c float, 5 d date,
//      6 m currency(2), 7 memo BLOB memo, 8 flag boolean, 9 s int16
//   u  (no primary key) 1 uid int32, 2 a string(20), 3 name string(250),
//      4 b int32
//   w  (primary key x) 1 Row___No int32, 2 x int32
//   v  1 AbcdefghijklmnopqrstuvwxyzAbc1, 2 AbcdefghijklmnopqrstuvwxyzAbc2
//      (int32 both)
class ValidateTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::InitializeEngine();
    char tmpl[] = "/tmp/sql_validate_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    storage::SetPrivateDirectory(dir_);
    MakeTables();
    baseline_ = Files();
  }
  void TearDown() override {
    storage::ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Create(const std::string& name, std::vector<TFieldDescriptor> fields,
              TIndexDescriptor primary, std::vector<TIndexDescriptor> secondary,
              bool in_memory = false) {
    storage::DataTableDefinition def;
    def.creator1 = 1;
    def.fields = std::move(fields);
    def.primary = primary;
    def.secondary = std::move(secondary);
    def.allow_empty_primary = primary.FieldNumbers[0] == 0;
    storage::TDataFile file;
    file.SetInMemory(in_memory);
    file.SetFileName(dir_ + "/" + name);
    file.SetExclusive(true);
    file.CreateDataTable(def);
  }

  void MakeTables() {
    Create("t",
           {Field(1, "id", FieldType::kInteger, 0, FieldSubtype::kAutoIncrement),
            Field(2, "a", FieldType::kString, 20), Field(3, "b", FieldType::kInteger),
            Field(4, "c", FieldType::kFloat), Field(5, "d", FieldType::kDate),
            [] {
              auto f = Field(6, "m", FieldType::kCurrency);
              f.Decimals = 2;
              f.Required = 1;
              f.DefaultValue.Assign("1.5");
              return f;
            }(),
            Field(7, "memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
            Field(8, "flag", FieldType::kBoolean), Field(9, "s", FieldType::kSmallInt)},
           Index("", {1}, {}, true),
           {Index("ByA", {2}), Index("ByBA", {3, 2}), Index("ByCDesc", {4}, {1})});
    Create("u",
           {Field(1, "uid", FieldType::kInteger), Field(2, "a", FieldType::kString, 20),
            Field(3, "name", FieldType::kString, 250), Field(4, "b", FieldType::kInteger)},
           TIndexDescriptor{}, {});
    Create("w", {Field(1, "Row___No", FieldType::kInteger), Field(2, "x", FieldType::kInteger)},
           Index("", {2}, {}, true), {});
    Create("v",
           {Field(1, "AbcdefghijklmnopqrstuvwxyzAbc1", FieldType::kInteger),
            Field(2, "AbcdefghijklmnopqrstuvwxyzAbc2", FieldType::kInteger)},
           TIndexDescriptor{}, {});
  }

  // The file names in the directory.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
  // Files that were not there after the tables were made.
  std::set<std::string> NewFiles() const {
    std::set<std::string> added;
    for (const std::string& n : Files()) {
      if (baseline_.count(n) == 0) added.insert(n);
    }
    return added;
  }

  // True when the table can be opened exclusively: nobody holds it open.
  bool Free(const std::string& name) const {
    storage::TDataFile file;
    file.SetFileName(dir_ + "/" + name);
    file.SetExclusive(true);
    try {
      file.Open();
    } catch (const storage::ETolmidEngineError&) {
      return false;
    }
    file.Close();
    return true;
  }
  bool AllFree() const {
    for (const char* name : {"t", "u", "w", "v"}) {
      if (!Free(name)) return false;
    }
    return true;
  }

  // A query on the test directory.
  void Setup(TDataQuery& q, bool live = false) const {
    q.SetDirectory(dir_);
    q.SetLiveRequested(live);
  }

  std::string dir_;
  std::set<std::string> baseline_;
};

}  // namespace sql::vtest
