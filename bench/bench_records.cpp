// Record operations through the table engine against SQLite doing the same
// work in the same process, each line a fair pair:
//
//   insert        N records in random key order; ours exclusive (written
//                 when closed), SQLite in one transaction
//   lookup excl   each record by its key; ours exclusive (no locking),
//                 SQLite inside one transaction
//   lookup shared the same; ours shared (a read section per lookup),
//                 SQLite autocommit (a file lock per statement)
//   walk excl     every record in the order of the secondary index; ours
//                 exclusive, SQLite one SELECT ... ORDER BY in a transaction
//   walk shared   ours shared in one read section (one lock and change
//                 check for the walk), SQLite the same SELECT in autocommit
//                 (its statement holds one lock from first step to last);
//                 "walk shared/op" is ours with a section per record
//   filter eq     COUNT of an unindexed string column = constant; ours a
//                 filter added, activated and counted (shared), SQLite
//                 SELECT COUNT(*) on its file (autocommit)
//   filter prefix the same with a 6-character prefix
//
// The table: integer primary index, 40-character case-insensitive secondary
// index (NOCASE in SQLite), an integer and an unindexed 8-character string.
// SQLite runs with journal off and synchronous off. Insert runs once; the
// reads take the best of three runs. The main lines use 100,000 records
// (RECORDS_COUNT changes that); the scaling table repeats insert, walk and
// filter at 10,000 and 1,000,000 (RECORDS_SCALE=0 skips it). At the end the
// independent format checkers (tests/tools/tablecheck.py) read the main
// table when python3 is there (RECORDS_CHECK=0 skips them); RECORDS_KEEP=dir
// copies its files there.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/expression_node.h"
#include "storage/filter_engine.h"
#include "storage/lock_guards.h"
#include "storage/session.h"

namespace {

using namespace storage;
using Clock = std::chrono::steady_clock;

std::size_t MainCount() {
  const char* e = std::getenv("RECORDS_COUNT");
  return e ? std::strtoul(e, nullptr, 10) : 100000;
}

bool Scaling() {
  const char* e = std::getenv("RECORDS_SCALE");
  return e == nullptr || std::strcmp(e, "0") != 0;
}

struct Data {
  std::vector<std::int32_t> ids;    // insert order
  std::vector<std::string> names;   // 40 characters each, mixed case
  std::vector<std::string> notes;   // "k" + 7 digits, unindexed
};

const Data& TheData(std::size_t n) {
  static std::map<std::size_t, Data> all;
  auto it = all.find(n);
  if (it != all.end()) return it->second;
  Data& d = all[n];
  d.ids.resize(n);
  for (std::size_t i = 0; i < n; ++i) d.ids[i] = static_cast<std::int32_t>(i + 1);
  std::mt19937 rng(12345);
  std::shuffle(d.ids.begin(), d.ids.end(), rng);
  const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
  d.names.resize(n);
  d.notes.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    d.names[i].resize(40);
    for (char& c : d.names[i]) c = alphabet[rng() % (sizeof(alphabet) - 2)];
    char buf[32];
    std::snprintf(buf, sizeof buf, "k%07zu", (i * 7919) % n);
    d.notes[i] = buf;
  }
  return d;
}

constexpr const char* kEqualValue = "k0004242";
constexpr const char* kPrefixValue = "k00001";

std::string Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/bench_records_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
}

std::string OurName(std::size_t n) { return Dir() + "/recs" + std::to_string(n) + ".dat"; }
std::string TheirName(std::size_t n) { return Dir() + "/recs" + std::to_string(n) + ".sqlite"; }

// (line, n) -> seconds
std::map<std::pair<std::string, std::size_t>, double>& Times() {
  static std::map<std::pair<std::string, std::size_t>, double> t;
  return t;
}

void Record(benchmark::State& state, const std::string& name, std::size_t n, double seconds) {
  state.SetIterationTime(seconds);
  state.counters["ns/record"] = seconds * 1e9 / static_cast<double>(n);
  Times()[{name, n}] = seconds;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

template <typename F>
double BestOf(int runs, F&& f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, f());
  return best;
}

std::size_t N(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

// ------------------------------------------------------------------ ours

std::unique_ptr<TDataFile> OpenOurs(std::size_t n, bool exclusive) {
  auto t = std::make_unique<TDataFile>();
  t->SetFileName(OurName(n));
  t->SetExclusive(exclusive);
  t->Open();
  return t;
}

void CreateOurs(std::size_t n) {
  auto field = [](std::uint16_t no, const char* name, FieldType type, std::uint8_t size) {
    TFieldDescriptor f;
    f.FieldNumber = no;
    f.Name.Assign(name);
    f.FieldType = TypeCode(type);
    f.Size = size;
    return f;
  };
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {field(1, "ID", FieldType::kInteger, 0), field(2, "Name", FieldType::kString, 40),
                field(3, "Qty", FieldType::kInteger, 0), field(4, "Note", FieldType::kString, 8)};
  def.primary.FieldNumbers[0] = 1;
  TIndexDescriptor by_name;
  by_name.SetName("ByName");
  by_name.FieldNumbers[0] = 2;
  by_name.CaseInsensitive = 1;
  def.secondary = {by_name};
  TDataFile t;
  t.SetFileName(OurName(n));
  t.SetExclusive(true);
  t.CreateDataTable(def);
}

void OursInsert(benchmark::State& state) {
  const std::size_t n = N(state);
  const Data& d = TheData(n);
  for (auto _ : state) {
    CreateOurs(n);
    const auto t0 = Clock::now();
    auto t = OpenOurs(n, true);
    std::vector<std::byte> rec(t->GetRecordBufferSize());
    for (std::size_t i = 0; i < n; ++i) {
      t->ApplyDefaultValues(rec);
      const std::int32_t id = d.ids[i];
      const std::int32_t qty = static_cast<std::int32_t>(i);
      t->SetFieldValue(false, 1, false, &id, rec);
      t->SetFieldValue(false, 2, false, d.names[i].c_str(), rec);
      t->SetFieldValue(false, 3, false, &qty, rec);
      t->SetFieldValue(false, 4, false, d.notes[i].c_str(), rec);
      t->InsertRecord(rec);
    }
    t->Close();
    Record(state, "insert", n, Since(t0));
  }
}

void OursLookup(benchmark::State& state, bool exclusive) {
  const std::size_t n = N(state);
  const Data& d = TheData(n);
  for (auto _ : state) {
    auto t = OpenOurs(n, exclusive);
    std::vector<std::byte> key(t->GetRecordBufferSize());
    std::vector<std::byte> out(t->GetRecordBufferSize());
    std::size_t found = 0;
    const double s = BestOf(3, [&] {
      found = 0;
      const auto t0 = Clock::now();
      for (std::int32_t id : d.ids) {
        t->SetFieldValue(false, 1, false, &id, key);
        found += t->GotoKey(false, key.data(), 0, false, 0, out) ? 1 : 0;
      }
      return Since(t0);
    });
    Record(state, exclusive ? "lookup excl" : "lookup shared", n, s);
    if (found != n) state.SkipWithError("a key was not found");
    t->Close();
  }
}

// Shared: in one read section (one read lock and one change check for the
// walk, as SQLite's statement holds its lock from the first step to the
// last), or with a section of its own per record (per_record).
void OursWalk(benchmark::State& state, bool exclusive, bool per_record = false) {
  const std::size_t n = N(state);
  for (auto _ : state) {
    auto t = OpenOurs(n, exclusive);
    std::vector<std::byte> out(t->GetRecordBufferSize());
    std::size_t got = 0;
    const double s = BestOf(3, [&] {
      const auto t0 = Clock::now();
      std::optional<ReadSectionGuard> section;
      if (!per_record) section.emplace(*t);
      t->SwitchToIndexByName("ByName");
      storage::CheckEngineResult(t->MoveToBegin());
      got = 0;
      while (t->ReadNextRecord(out) == 0) ++got;
      return Since(t0);
    });
    Record(state,
           exclusive ? "walk excl" : per_record ? "walk shared/op" : "walk shared", n, s);
    if (got != n) state.SkipWithError("walk count");
    t->Close();
  }
}

ExpressionPtr NoteField(TDataFile& t) {
  ExpressionPtr f = NewFieldNode("Note");
  const auto found = t.Filters().FindFilterField("Note");
  f->field_number = found->number;
  f->type = found->type;
  f->size = found->size;
  return f;
}

ExpressionPtr Condition(TDataFile& t, bool prefix) {
  if (!prefix) {
    ExpressionPtr e = NewNode(NodeKind::kBinary, ExprOperator::kEqual, "=");
    e->left = NoteField(t);
    e->right = NewStringConstant(kEqualValue);
    return e;
  }
  ExpressionPtr e = NewNode(NodeKind::kStringCompare, ExprOperator::kEqual, "=");
  e->partial_length = static_cast<std::int32_t>(std::strlen(kPrefixValue));
  e->left = NoteField(t);
  e->right = NewStringConstant(kPrefixValue);
  return e;
}

void OursFilter(benchmark::State& state, bool prefix) {
  const std::size_t n = N(state);
  for (auto _ : state) {
    auto t = OpenOurs(n, false);
    std::uint32_t count = 0;
    bool refused = false;
    const double s = BestOf(3, [&] {
      const auto t0 = Clock::now();
      std::int32_t h = 0;
      if (t->AddFilter(Condition(*t, prefix), false, h) != ErrorCode::kNone ||
          t->ActivateFilter(h) != ErrorCode::kNone) {
        refused = true;
      }
      count = t->Filters().ViewCount();
      (void)t->DropFilter(h);
      return Since(t0);
    });
    Record(state, prefix ? "filter prefix" : "filter eq", n, s);
    state.counters["matches"] = count;
    if (refused) state.SkipWithError("filter refused");
    t->Close();
  }
}

// ------------------------------------------------------------------ SQLite

sqlite3* OpenSqlite(std::size_t n) {
  sqlite3* db = nullptr;
  sqlite3_open(TheirName(n).c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  return db;
}

void SqliteInsert(benchmark::State& state) {
  const std::size_t n = N(state);
  const Data& d = TheData(n);
  for (auto _ : state) {
    std::filesystem::remove(TheirName(n));
    const auto t0 = Clock::now();
    sqlite3* db = OpenSqlite(n);
    sqlite3_exec(db,
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT COLLATE NOCASE, qty INTEGER,"
                 " note TEXT);"
                 "CREATE INDEX byname ON t(name COLLATE NOCASE); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?)", -1, &st, nullptr);
    for (std::size_t i = 0; i < n; ++i) {
      sqlite3_bind_int(st, 1, d.ids[i]);
      sqlite3_bind_text(st, 2, d.names[i].c_str(), 40, SQLITE_STATIC);
      sqlite3_bind_int(st, 3, static_cast<int>(i));
      sqlite3_bind_text(st, 4, d.notes[i].c_str(), 8, SQLITE_STATIC);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Record(state, "insert sqlite", n, Since(t0));
  }
}

void SqliteLookup(benchmark::State& state, bool transaction) {
  const std::size_t n = N(state);
  const Data& d = TheData(n);
  for (auto _ : state) {
    sqlite3* db = OpenSqlite(n);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, qty, note FROM t WHERE id=?", -1, &st, nullptr);
    std::size_t found = 0;
    const double s = BestOf(3, [&] {
      found = 0;
      const auto t0 = Clock::now();
      if (transaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
      for (std::int32_t id : d.ids) {
        sqlite3_bind_int(st, 1, id);
        if (sqlite3_step(st) == SQLITE_ROW) {
          found += sqlite3_column_int(st, 0) == id ? 1 : 0;
          benchmark::DoNotOptimize(sqlite3_column_text(st, 1));
        }
        sqlite3_reset(st);
      }
      if (transaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      return Since(t0);
    });
    Record(state, transaction ? "lookup excl sqlite" : "lookup shared sqlite", n, s);
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (found != n) state.SkipWithError("a key was not found");
  }
}

void SqliteWalk(benchmark::State& state, bool transaction) {
  const std::size_t n = N(state);
  for (auto _ : state) {
    sqlite3* db = OpenSqlite(n);
    std::size_t got = 0;
    const double s = BestOf(3, [&] {
      sqlite3_stmt* st = nullptr;
      const auto t0 = Clock::now();
      if (transaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
      sqlite3_prepare_v2(db, "SELECT id, name, qty, note FROM t ORDER BY name COLLATE NOCASE", -1,
                         &st, nullptr);
      got = 0;
      while (sqlite3_step(st) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_text(st, 1));
        ++got;
      }
      sqlite3_finalize(st);
      if (transaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      return Since(t0);
    });
    Record(state, transaction ? "walk excl sqlite" : "walk shared sqlite", n, s);
    sqlite3_close(db);
    if (got != n) state.SkipWithError("walk count");
  }
}

void SqliteFilter(benchmark::State& state, bool prefix) {
  const std::size_t n = N(state);
  for (auto _ : state) {
    sqlite3* db = OpenSqlite(n);
    const std::string sql =
        prefix ? std::string("SELECT COUNT(*) FROM t WHERE substr(note,1,") +
                     std::to_string(std::strlen(kPrefixValue)) + ") = '" + kPrefixValue + "'"
               : std::string("SELECT COUNT(*) FROM t WHERE note = '") + kEqualValue + "'";
    int count = 0;
    const double s = BestOf(3, [&] {
      sqlite3_stmt* st = nullptr;
      const auto t0 = Clock::now();
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
      sqlite3_step(st);
      count = sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
      return Since(t0);
    });
    Record(state, prefix ? "filter prefix sqlite" : "filter eq sqlite", n, s);
    state.counters["matches"] = count;
    sqlite3_close(db);
  }
}

void RegisterAt(std::size_t n, bool all) {
  const auto reg = [n](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->Arg(static_cast<std::int64_t>(n))
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  };
  reg("Insert/ours", OursInsert);
  reg("Insert/sqlite", SqliteInsert);
  if (all) {
    reg("LookupExclusive/ours", [](benchmark::State& s) { OursLookup(s, true); });
    reg("LookupExclusive/sqlite", [](benchmark::State& s) { SqliteLookup(s, true); });
    reg("LookupShared/ours", [](benchmark::State& s) { OursLookup(s, false); });
    reg("LookupShared/sqlite", [](benchmark::State& s) { SqliteLookup(s, false); });
  }
  reg("WalkExclusive/ours", [](benchmark::State& s) { OursWalk(s, true); });
  reg("WalkExclusive/sqlite", [](benchmark::State& s) { SqliteWalk(s, true); });
  if (all) {
    reg("WalkShared/ours", [](benchmark::State& s) { OursWalk(s, false); });
    reg("WalkShared/sqlite", [](benchmark::State& s) { SqliteWalk(s, false); });
    reg("WalkSharedPerRecord/ours", [](benchmark::State& s) { OursWalk(s, false, true); });
  }
  reg("FilterEqual/ours", [](benchmark::State& s) { OursFilter(s, false); });
  reg("FilterEqual/sqlite", [](benchmark::State& s) { SqliteFilter(s, false); });
  if (all) {
    reg("FilterPrefix/ours", [](benchmark::State& s) { OursFilter(s, true); });
    reg("FilterPrefix/sqlite", [](benchmark::State& s) { SqliteFilter(s, true); });
  }
}

void PrintPair(const char* line, std::size_t n, const char* goal, const char* peer = nullptr) {
  const auto& t = Times();
  const auto a = t.find({line, n});
  const auto b = t.find({std::string(peer ? peer : line) + " sqlite", n});
  if (a == t.end() || b == t.end()) return;
  std::printf("%-14s %9zu %10.1f %10.1f %8.2f %8s %8.0f\n", line, n, a->second * 1000,
              b->second * 1000, a->second / b->second, goal,
              a->second * 1e9 / static_cast<double>(n));
}

void CheckFormat(std::size_t n) {
  const char* e = std::getenv("RECORDS_CHECK");
  if (e != nullptr && std::strcmp(e, "0") == 0) return;
  if (std::system("python3 -c '' >/dev/null 2>&1") != 0) return;
  const std::string cmd = std::string("python3 ") + TOLMID_TOOLS_DIR + "/tablecheck.py '" +
                          OurName(n) + "' 2>&1 | tail -n 1";
  std::printf("format check of the %zu-record table: ", n);
  std::fflush(stdout);
  if (std::system(cmd.c_str()) != 0) std::printf("not run\n");
}

}  // namespace

int main(int argc, char** argv) {
  storage::InitializeEngine();
  const std::size_t main_count = MainCount();
  RegisterAt(main_count, true);
  std::vector<std::size_t> scale;
  if (Scaling()) {
    for (std::size_t n : {std::size_t{10000}, std::size_t{1000000}}) {
      if (n != main_count) {
        scale.push_back(n);
        RegisterAt(n, false);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\n%-14s %9s %10s %10s %8s %8s %8s\n", "work", "records", "ours ms", "sqlite ms",
              "ratio", "goal", "ns/rec");
  const std::pair<const char*, const char*> lines[] = {
      {"insert", "<=1.0"},       {"lookup excl", "<=1.0"}, {"lookup shared", "<=0.8"},
      {"walk excl", "<=0.8"},    {"walk shared", "<=1.5"}, {"filter eq", "<=1.0"},
      {"filter prefix", "<=1.0"}};
  for (const auto& [line, goal] : lines) PrintPair(line, main_count, goal);
  PrintPair("walk shared/op", main_count, "", "walk shared");
  if (!scale.empty()) {
    std::printf("\nscaling\n");
    scale.push_back(main_count);
    std::sort(scale.begin(), scale.end());
    for (const char* line : {"insert", "walk excl", "filter eq"}) {
      for (std::size_t n : scale) PrintPair(line, n, "");
    }
  }
  CheckFormat(main_count);
  benchmark::Shutdown();
  storage::ShutdownEngine();
  if (const char* keep = std::getenv("RECORDS_KEEP")) {
    // The main table's files, for comparing the bytes of two builds.
    for (const char* ext : {".dat", ".IDX"}) {
      std::filesystem::path from = OurName(main_count);
      from.replace_extension(ext);
      std::filesystem::copy_file(from, std::filesystem::path(keep) / from.filename(),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  std::filesystem::remove_all(Dir());
  return 0;
}
