// Shared pieces of the crash and corruption trials: a table laid out like
// the catalogue's category table, its model, the catalogue's start-up
// sequence (repair, then restructure to the current layout), reading the
// table back, the batch format checker and the files a run must not leave.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/table_swap.h"
#include "tests/common/killed_child.h"
#include "tests/common/scratch_dir.h"
#include "tests/storage/record_test_support.h"

namespace storage::trialtest {

using datatest::Field;
using datatest::Index;
using rectest::Rec;

// A cursor for a restructure or a repair: exclusive, not yet open.
struct ExclusiveTable : TDataFile {
  explicit ExclusiveTable(const std::string& name) {
    SetFileName(name);
    SetExclusive(true);
  }
};

// Copies of every active record, in physical order.
inline std::vector<Rec> ActiveRecords(TDataFile& t) {
  std::vector<Rec> out;
  for (std::uint32_t n = 1; n < t.Header().NextRecord(); ++n) {
    TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
    Rec rec(t);
    std::memcpy(rec.bytes.data(), r->Data().data(), std::min(rec.bytes.size(), r->Data().size()));
    t.ReleaseRecordBuffer(r);
    if (std::to_integer<int>(rec.bytes[0]) == 0) out.push_back(std::move(rec));
  }
  return out;
}

// One record as the trials know it.
struct Entry {
  std::uint32_t id = 0;  // record ID = RecordNum
  std::string name;
  std::int32_t number = 0;
  std::vector<std::uint8_t> memo;
  bool operator==(const Entry&) const = default;
};

inline void PrintTo(const Entry& e, std::ostream* os) {
  *os << "{id " << e.id << ", " << e.name << ", " << e.number << ", memo " << e.memo.size() << "}";
}

using Model = std::map<std::uint32_t, Entry>;

// Field positions of the layout.
constexpr int kName = 2;
constexpr int kMemo = 5;
constexpr int kNumber = 6;

// RecordNum (auto-increment, primary), JournalName string[250], JournalDate
// date ("JDate", case-insensitive), Category string[40], Details memo,
// Type1Num integer; the current layout adds CategoryFK integer.
// unique_number adds the unique index "UNum" on Type1Num.
inline DataTableDefinition CatalogueLayout(bool current, bool unique_number = false) {
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {datatest::AutoInc(1, "RecordNum"), Field(2, "JournalName", FieldType::kString, 250),
                Field(3, "JournalDate", FieldType::kDate), Field(4, "Category", FieldType::kString, 40),
                Field(5, "Details", FieldType::kBlob, 0, FieldSubtype::kMemo),
                Field(6, "Type1Num", FieldType::kInteger)};
  def.fields[0].Required = 1;
  if (current) def.fields.push_back(Field(7, "CategoryFK", FieldType::kInteger));
  def.primary = Index("", {1});
  TIndexDescriptor jdate = Index("JDate", {3});
  jdate.CaseInsensitive = 1;
  def.secondary.push_back(jdate);
  if (unique_number) def.secondary.push_back(Index("UNum", {6}, true));
  return def;
}

inline void Check(std::uint16_t code, const char* what) {
  if (code != 0) throw std::runtime_error(std::string(what) + " gave " + std::to_string(code));
}

inline void PutMemo(TDataFile& t, Rec& r, const std::vector<std::uint8_t>& memo) {
  Check(t.OpenBlobField(false, kMemo, r.span()), "open");
  Check(t.TruncateBlobField(false, kMemo, 0, r.span()), "truncate");
  if (!memo.empty()) {
    Check(t.WriteBlobField(false, kMemo, memo.data(), 0, static_cast<std::int32_t>(memo.size()), r.span()),
          "write");
  }
}

inline std::vector<std::uint8_t> GetMemo(TDataFile& t, Rec& r) {
  Check(t.OpenBlobField(false, kMemo, r.span()), "open");
  std::int32_t size = 0;
  Check(t.GetBlobFieldSize(false, kMemo, size, r.span()), "size");
  std::vector<std::uint8_t> v(static_cast<std::size_t>(std::max(size, 0)));
  std::int32_t got = 0;
  if (size > 0) Check(t.ReadBlobField(false, kMemo, got, 0, v.data(), size, r.span()), "read");
  Check(t.CloseBlobField(false, kMemo, r.span()), "close");
  return v;
}

inline std::vector<std::uint8_t> MemoBytes(std::mt19937& rng, std::size_t size) {
  std::vector<std::uint8_t> v(size);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// Inserts an entry (its id is given by the table) and returns it.
inline Entry InsertEntry(TDataFile& t, const std::string& name, std::int32_t number,
                         std::vector<std::uint8_t> memo, std::int32_t day) {
  Rec r(t);
  r.Str(kName, name).Num<std::int32_t>(3, day).Str(4, "cat" + std::to_string(number % 3));
  r.Num<std::int32_t>(kNumber, number);
  PutMemo(t, r, memo);
  t.InsertRecord(r.span());
  if (t.IsBlobFieldOpen(false, kMemo, r.span())) Check(t.CloseBlobField(false, kMemo, r.span()), "close");
  t.FreeBlobBuffers();
  return Entry{rectest::CurrentId(t), name, number, std::move(memo)};
}

// Every active record by ID, walking the primary index; the walk must
// agree with the record count.
inline Model ReadTable(const std::string& name) {
  ExclusiveTable t(name);
  t.Open();
  Model m;
  Rec r(t);
  EXPECT_EQ(t.MoveToBegin(), 0);
  while (t.ReadNextRecord(r.span()) == 0) {
    Entry e{r.Id(), r.GetStr(kName).value_or(""), r.GetNum<std::int32_t>(kNumber).value_or(0), GetMemo(t, r)};
    m[e.id] = e;
  }
  if (t.RecordCount() != m.size()) throw std::runtime_error("record count differs from the walk");
  t.Close();
  return m;
}

// The index definitions of CatalogueLayout(true, unique_number) as a
// caller imposes them on a repair.
inline std::vector<RepairIndexDefinition> CatalogueIndexes(bool unique_number = false) {
  std::vector<RepairIndexDefinition> v = {{"", {"RecordNum"}, true}, {"JDate", {"JournalDate"}, false, false, true}};
  if (unique_number) v.push_back({"UNum", {"Type1Num"}, true});
  return v;
}

// The catalogue's start-up on one existing table: repair with the current
// layout's indexes imposed, then restructure to the current layout.
inline void StartUp(const std::string& name) {
  ExclusiveTable t(name);
  t.RepairDataTable(CatalogueIndexes());
  t.AlterDataTable(CatalogueLayout(true));
  t.Close();
}

// tablecheck.py over the tables (one interpreter for all of them).
inline tooltest::ToolResult CheckTables(const std::vector<std::string>& dats) {
  std::string args;
  for (std::size_t i = 1; i < dats.size(); ++i) args += " '" + dats[i] + "'";
  return tooltest::RunTool("tablecheck.py", dats.front(), args);
}

// Runs work in a child that kills itself the occurrence-th time it
// passes point. Returns true when it died there, false when the run
// ended first.
inline bool RunKilled(const std::function<void()>& work, const std::string& point, int occurrence) {
  const testsupport::ChildEnd end = testsupport::RunKilledChild(work, {point, occurrence, 0});
  EXPECT_NE(end, testsupport::ChildEnd::kFailed) << "the child failed";
  return end == testsupport::ChildEnd::kKilled;
}

// Files of a killed run that a finished one must have removed.
inline std::vector<std::string> StrayFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.find('~') != std::string::npos || upper.ends_with(".SWP")) out.push_back(name);
  }
  return out;
}

// The trials write many small tables and flush each to disk (fsync) when
// it is swapped in; on a memory file system the flushes cost nothing, and
// what a killed process leaves is the same.
inline void UseMemoryDirectory(std::string& dir) {
  char tmpl[] = "/dev/shm/storage_trial_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  dir = tmpl;
}

// Every file of a folder by name, with its bytes.
using Files = std::map<std::string, std::vector<std::uint8_t>>;
inline Files FolderFiles(const std::string& dir) {
  Files out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string bytes = testsupport::ReadFile(e.path());
    out[e.path().filename().string()].assign(bytes.begin(), bytes.end());
  }
  return out;
}

inline void CopyDirectory(const std::string& from, const std::string& to) {
  std::filesystem::remove_all(to);
  std::filesystem::create_directories(to);
  for (const auto& e : std::filesystem::directory_iterator(from))
    std::filesystem::copy_file(e.path(), to + "/" + e.path().filename().string());
}

}  // namespace storage::trialtest
