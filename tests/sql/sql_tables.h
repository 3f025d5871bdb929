// Real tables for the SQL tests: a fresh engine whose private directory is
// a scratch folder, one table builder, rows as text, statements run or
// validated with the engine error caught, and a description of what
// validation decided.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "sql/data_query.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/memory_file.h"
#include "storage/session.h"
#include "tests/common/scratch_dir.h"
#include "tests/tools/run_tool.h"

namespace sql::test {

using storage::FieldSubtype;
using storage::FieldType;
using storage::TFieldDescriptor;
using storage::TIndexDescriptor;
using tooltest::HasLine;
using tooltest::RunTool;

inline std::string Repeat(std::string_view s, int n, std::string_view separator = "") {
  std::string out;
  for (int i = 0; i < n; ++i) out += std::string(i == 0 ? "" : separator) + std::string(s);
  return out;
}

// A field value for Insert: nullopt (or an empty string) is NULL.
using Value = std::optional<std::variant<std::int32_t, double, std::string>>;

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
  d.FieldCount = static_cast<std::uint8_t>(i);
  i = 0;
  for (int desc : descending) d.FieldDescending[i++] = static_cast<std::uint8_t>(desc);
  d.Unique = unique ? 1 : 0;
  return d;
}

// A field of a record as text: "NULL", an integer (booleans 0 and 1), a
// float with 4 decimals, the text, or a BLOB's whole contents.
inline std::string PrintField(storage::TDataFile& file, int n, std::span<const std::byte> record) {
  const TFieldDescriptor& d = file.GetFieldDescriptor(true, n);
  bool blank = true;
  std::array<std::uint8_t, 300> v{};
  file.GetFieldValue(true, n, blank, v.data(), record);
  if (blank) return "NULL";
  char buf[64];
  switch (d.Type()) {
    case FieldType::kBoolean: return storage::LoadLittle<std::uint16_t>(v.data()) != 0 ? "1" : "0";
    case FieldType::kBlob: {
      std::vector<std::byte> copy(record.begin(), record.end());
      std::int32_t size = 0, read = 0;
      if (file.OpenBlobField(true, n, copy) != 0 || file.GetBlobFieldSize(true, n, size, copy) != 0)
        return "?";
      std::string text(static_cast<std::size_t>(size), '\0');
      if (size > 0 && file.ReadBlobField(true, n, read, 0, text.data(), size, copy) != 0) return "?";
      (void)file.CloseBlobField(true, n, copy);
      return text.empty() ? "NULL" : text;
    }
    case FieldType::kInteger:
    case FieldType::kDate: return std::to_string(storage::LoadLittle<std::int32_t>(v.data()));
    case FieldType::kSmallInt: return std::to_string(storage::LoadLittle<std::int16_t>(v.data()));
    case FieldType::kFloat:
      std::snprintf(buf, sizeof buf, "%.4f", storage::LoadLittle<double>(v.data()));
      return buf;
    case FieldType::kString: return std::string(reinterpret_cast<const char*>(v.data()));
    default: return "?";
  }
}

// Rows of the cursor in cursor order, fields joined by '|'.
inline std::vector<std::string> Rows(storage::TDataFile& cursor) {
  std::vector<std::string> rows;
  std::vector<std::byte> buf(cursor.GetRecordBufferSize());
  EXPECT_EQ(cursor.MoveToBegin(), 0);
  while (cursor.ReadNextRecord(buf) == 0) {
    std::string line;
    for (int n = 1; n <= cursor.WorkingFieldCount(); ++n) line += (n > 1 ? "|" : "") + PrintField(cursor, n, buf);
    rows.push_back(line);
  }
  return rows;
}

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
  for (int i = 0; i < d.FieldCount && i < 16; ++i)
    s += " " + std::to_string(d.FieldNumbers[i]) + (d.FieldDescending[i] ? "d" : "");
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

// What validation decided, one line each: "result: live [index N]" or
// "result: canned [memory] [into]"; "flags: ..." (grouped single distinct
// serves exprs avg) when any; "field ..." per working field of the result
// (the hidden average count included); "index ..." per secondary index of
// a canned result.
inline std::string DescribeResult(const TDataQuery& q) {
  const QueryFlags& f = q.Flags();
  std::string out = f.live ? "result: live" : "result: canned";
  if (f.live && f.order_by_matches_index) out += " index " + std::to_string(f.live_index);
  if (!f.live && f.in_memory_result) out += " memory";
  if (!f.live && !q.ResultTableName().empty()) out += " into";
  out += "\n";
  std::string flags;
  for (auto [on, name] : {std::pair{f.grouped, "grouped"}, {f.single_group, "single"}, {f.distinct, "distinct"},
                          {f.order_by_serves, "serves"}, {f.expression_columns, "exprs"}, {f.avg_used, "avg"}})
    if (on) flags += std::string(flags.empty() ? "" : " ") + name;
  if (!flags.empty()) out += "flags: " + flags + "\n";
  storage::TDataFile* t = f.live ? q.LiveDataFile() : q.ResultDataFile();
  if (t == nullptr) return out + "no data file\n";
  const int count = t->WorkingFieldCount();
  if (!f.live && f.avg_used) t->ShowLastField();
  for (int n = 1; n <= t->WorkingFieldCount(); ++n)
    out += "field " + FieldText(t->GetFieldDescriptor(true, n)) + (n > count ? " hidden" : "") + "\n";
  if (!f.live && f.avg_used) t->HideLastField();
  for (int n = 1; !f.live && n <= t->SecondaryIndexCount(); ++n)
    out += "index " + IndexText(t->GetIndexDescriptor(n)) + "\n";
  return out;
}

struct TableOptions {
  TIndexDescriptor primary{};
  std::string password;  // encrypted when given
};

// A fresh engine whose private directory is a scratch folder of tables.
class SqlTables : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::InitializeEngine();
    scratch_ = std::make_unique<testsupport::ScratchDir>();
    dir_ = scratch_->path();
    storage::SetPrivateDirectory(dir_);
  }
  void TearDown() override {
    storage::ShutdownEngine();
    scratch_.reset();
  }
  void Restart() { TearDown(), SetUp(); }  // a new engine and an empty folder

  void Create(const std::string& name, std::vector<TFieldDescriptor> fields,
              std::vector<TIndexDescriptor> secondary = {}, const TableOptions& o = {}) {
    storage::DataTableDefinition def;
    def.creator1 = 1;
    def.fields = std::move(fields);
    def.primary = o.primary;
    def.secondary = std::move(secondary);
    def.allow_empty_primary = o.primary.FieldNumbers[0] == 0;
    def.encrypted = !o.password.empty();
    def.password = o.password;
    storage::TDataFile file;
    file.SetFileName(dir_ + "/" + name);
    file.SetExclusive(true);
    file.CreateDataTable(def);
  }

  void Insert(const std::string& name, const std::vector<std::vector<Value>>& rows) {
    storage::TDataFile file;
    file.SetFileName(dir_ + "/" + name);
    file.Open();
    std::vector<std::byte> buf(file.GetRecordBufferSize());
    for (const auto& row : rows) {
      file.ApplyDefaultValues(buf);
      for (int n = 1; n <= static_cast<int>(row.size()); ++n) {
        const Value& value = row[static_cast<std::size_t>(n - 1)];
        std::array<std::uint8_t, 300> v{};
        const std::string* s = value ? std::get_if<std::string>(&*value) : nullptr;
        if (!value || (s && s->empty())) continue;
        if (s && file.GetFieldDescriptor(false, n).Type() == FieldType::kBlob) {
          ASSERT_EQ(file.OpenBlobField(false, n, buf), 0);
          ASSERT_EQ(file.WriteBlobField(false, n, s->data(), 0, static_cast<std::int32_t>(s->size()), buf), 0);
          continue;
        }
        if (s) std::copy(s->begin(), s->end(), v.begin());
        if (auto* p = std::get_if<std::int32_t>(&*value)) storage::StoreLittle<std::int32_t>(v.data(), *p);
        if (auto* d = std::get_if<double>(&*value)) storage::StoreLittle<double>(v.data(), *d);
        file.SetFieldValue(false, n, false, v.data(), buf);
      }
      file.InsertRecord(buf);
      file.FreeBlobBuffers();
    }
  }

  // Prepares and runs sql; the rows, or "error <code>: <message>" as the
  // only row.
  std::vector<std::string> Run(const std::string& sql, bool live = false,
                               TDataQuery::ProgressCallback progress = nullptr) {
    TDataQuery q;
    Setup(q, live);
    if (progress) q.SetProgressCallback(std::move(progress));
    try {
      if (q.PrepareQuery(sql) != 0) return {"error prepare"};
      storage::TDataFile* cursor = nullptr;
      const std::uint16_t code = q.ExecuteQuery(cursor);
      if (code != 0 || cursor == nullptr) return {"error " + std::to_string(code)};
      last_live_ = q.Flags().live;
      return Rows(*cursor);
    } catch (const storage::ETolmidEngineError& e) {
      return {"error " + std::to_string(e.ErrorCode()) + ": " + storage::CurrentSession()->Context().extra_text};
    }
  }

  void Setup(TDataQuery& q, bool live = false) const {
    q.SetDirectory(dir_);
    q.SetLiveRequested(live);
  }

  // The file names in the folder; those not there when baseline_ was
  // taken.
  std::set<std::string> Files(bool only_new = false) const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      if (!only_new || !baseline_.contains(e.path().filename().string())) names.insert(e.path().filename().string());
    return names;
  }
  std::set<std::string> NewFiles() const { return Files(true); }
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
    return true;
  }

  std::unique_ptr<testsupport::ScratchDir> scratch_;
  std::string dir_;
  std::set<std::string> baseline_;
  bool last_live_ = false;
};

// The validation tables:
//   t  (primary key id; indexes ByA (a), ByBA (b, a), ByCDesc (c desc))
//      1 id autoinc, 2 a string(20), 3 b int32, 4 c float, 5 d date,
//      6 m currency(2) required default 1.5, 7 memo BLOB memo, 8 flag
//      boolean, 9 s int16
//   u  (no primary key) 1 uid int32, 2 a string(20), 3 name string(250), 4 b int32
//   w  (primary key x) 1 Row___No int32, 2 x int32
//   v  two int32 fields named AbcdefghijklmnopqrstuvwxyzAbc1 and ...2
class ValidateTables : public SqlTables {
 protected:
  void SetUp() override {
    SqlTables::SetUp();
    TFieldDescriptor m = Field(6, "m", FieldType::kCurrency);
    m.Decimals = 2;
    m.Required = 1;
    m.DefaultValue.Assign("1.5");
    Create("t",
           {Field(1, "id", FieldType::kInteger, 0, FieldSubtype::kAutoIncrement), Field(2, "a", FieldType::kString, 20),
            Field(3, "b", FieldType::kInteger), Field(4, "c", FieldType::kFloat), Field(5, "d", FieldType::kDate), m,
            Field(7, "memo", FieldType::kBlob, 0, FieldSubtype::kMemo), Field(8, "flag", FieldType::kBoolean),
            Field(9, "s", FieldType::kSmallInt)},
           {Index("ByA", {2}), Index("ByBA", {3, 2}), Index("ByCDesc", {4}, {1})}, {Index("", {1}, {}, true), ""});
    Create("u", {Field(1, "uid", FieldType::kInteger), Field(2, "a", FieldType::kString, 20),
                 Field(3, "name", FieldType::kString, 250), Field(4, "b", FieldType::kInteger)});
    Create("w", {Field(1, "Row___No", FieldType::kInteger), Field(2, "x", FieldType::kInteger)}, {},
           {Index("", {2}, {}, true), ""});
    Create("v", {Field(1, "AbcdefghijklmnopqrstuvwxyzAbc1", FieldType::kInteger),
                 Field(2, "AbcdefghijklmnopqrstuvwxyzAbc2", FieldType::kInteger)});
    baseline_ = Files();
  }
  bool AllFree() const { return Free("t") && Free("u") && Free("w") && Free("v"); }
};

}  // namespace sql::test
