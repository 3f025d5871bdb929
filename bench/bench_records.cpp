// Record operations through the table engine against SQLite doing the same
// work: insert 100,000 records (integer primary index, a 40-character
// case-insensitive secondary index) in random key order, look each one up
// by its key, and walk the secondary index reading every record. SQLite
// has the same columns and indexes (NOCASE), journal off, synchronous off,
// all inserts in one transaction; our table is opened exclusively (no
// locks, written when closed). Each benchmark runs once; the summary
// prints our time over SQLite's per line.
//
// Set RECORDS_COUNT to run with fewer records.
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
#include <random>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/session.h"

namespace {

using namespace storage;
using Clock = std::chrono::steady_clock;

std::size_t Count() {
  const char* e = std::getenv("RECORDS_COUNT");
  return e ? std::strtoul(e, nullptr, 10) : 100000;
}

struct Data {
  std::vector<std::int32_t> ids;    // insert order
  std::vector<std::string> names;   // 40 characters each, mixed case
};

const Data& TheData() {
  static const Data d = [] {
    Data d;
    const std::size_t n = Count();
    d.ids.resize(n);
    for (std::size_t i = 0; i < n; ++i) d.ids[i] = static_cast<std::int32_t>(i + 1);
    std::mt19937 rng(12345);
    std::shuffle(d.ids.begin(), d.ids.end(), rng);
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
    d.names.resize(n);
    for (auto& s : d.names) {
      s.resize(40);
      for (char& c : s) c = alphabet[rng() % (sizeof(alphabet) - 2)];
    }
    return d;
  }();
  return d;
}

std::string Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/bench_records_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
}

std::map<std::string, double>& Times() {
  static std::map<std::string, double> t;
  return t;
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
  state.SetIterationTime(seconds);
  Times()[name] = seconds;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// ------------------------------------------------------------------ ours

std::unique_ptr<TDataFile> OpenOurs() {
  auto t = std::make_unique<TDataFile>();
  t->SetFileName(Dir() + "/recs.dat");
  t->SetExclusive(true);
  t->Open();
  return t;
}

void CreateOurs() {
  auto field = [](std::uint16_t n, const char* name, FieldType type, std::uint8_t size) {
    TFieldDescriptor f;
    f.FieldNumber = n;
    f.Name.Assign(name);
    f.FieldType = TypeCode(type);
    f.Size = size;
    return f;
  };
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {field(1, "ID", FieldType::kInteger, 0), field(2, "Name", FieldType::kString, 40),
                field(3, "Qty", FieldType::kInteger, 0)};
  def.primary.FieldNumbers[0] = 1;
  TIndexDescriptor by_name;
  by_name.SetName("ByName");
  by_name.FieldNumbers[0] = 2;
  by_name.CaseInsensitive = 1;
  def.secondary = {by_name};
  TDataFile t;
  t.SetFileName(Dir() + "/recs.dat");
  t.SetExclusive(true);
  t.CreateDataTable(def);
}

void OursInsert(benchmark::State& state) {
  const Data& d = TheData();
  for (auto _ : state) {
    CreateOurs();
    const auto t0 = Clock::now();
    auto t = OpenOurs();
    std::vector<std::byte> rec(t->GetRecordBufferSize());
    for (std::size_t i = 0; i < d.ids.size(); ++i) {
      t->ApplyDefaultValues(rec);
      const std::int32_t id = d.ids[i];
      const std::int32_t qty = static_cast<std::int32_t>(i);
      t->SetFieldValue(false, 1, false, &id, rec);
      t->SetFieldValue(false, 2, false, d.names[i].c_str(), rec);
      t->SetFieldValue(false, 3, false, &qty, rec);
      t->InsertRecord(rec);
    }
    t->Close();
    Record(state, "insert ours", Since(t0));
  }
}

void OursLookup(benchmark::State& state) {
  const Data& d = TheData();
  for (auto _ : state) {
    auto t = OpenOurs();
    std::vector<std::byte> key(t->GetRecordBufferSize());
    std::vector<std::byte> out(t->GetRecordBufferSize());
    std::size_t found = 0;
    const auto t0 = Clock::now();
    for (std::int32_t id : d.ids) {
      t->SetFieldValue(false, 1, false, &id, key);
      found += t->GotoKey(false, key.data(), 0, false, 0, out) ? 1 : 0;
    }
    Record(state, "lookup ours", Since(t0));
    if (found != d.ids.size()) state.SkipWithError("a key was not found");
    t->Close();
  }
}

void OursWalk(benchmark::State& state) {
  for (auto _ : state) {
    auto t = OpenOurs();
    std::vector<std::byte> out(t->GetRecordBufferSize());
    const auto t0 = Clock::now();
    t->SwitchToIndexByName("ByName");
    storage::CheckEngineResult(t->MoveToBegin());
    std::size_t n = 0;
    while (t->ReadNextRecord(out) == 0) ++n;
    Record(state, "walk ours", Since(t0));
    if (n != TheData().ids.size()) state.SkipWithError("walk count");
    t->Close();
  }
}

// ------------------------------------------------------------------ SQLite

sqlite3* OpenSqlite() {
  sqlite3* db = nullptr;
  sqlite3_open((Dir() + "/recs.sqlite").c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  return db;
}

void SqliteInsert(benchmark::State& state) {
  const Data& d = TheData();
  for (auto _ : state) {
    std::filesystem::remove(Dir() + "/recs.sqlite");
    const auto t0 = Clock::now();
    sqlite3* db = OpenSqlite();
    sqlite3_exec(db,
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT COLLATE NOCASE, qty INTEGER);"
                 "CREATE INDEX byname ON t(name COLLATE NOCASE); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?)", -1, &st, nullptr);
    for (std::size_t i = 0; i < d.ids.size(); ++i) {
      sqlite3_bind_int(st, 1, d.ids[i]);
      sqlite3_bind_text(st, 2, d.names[i].c_str(), 40, SQLITE_STATIC);
      sqlite3_bind_int(st, 3, static_cast<int>(i));
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Record(state, "insert sqlite", Since(t0));
  }
}

void SqliteLookup(benchmark::State& state) {
  const Data& d = TheData();
  for (auto _ : state) {
    sqlite3* db = OpenSqlite();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, qty FROM t WHERE id=?", -1, &st, nullptr);
    std::size_t found = 0;
    const auto t0 = Clock::now();
    for (std::int32_t id : d.ids) {
      sqlite3_bind_int(st, 1, id);
      if (sqlite3_step(st) == SQLITE_ROW) {
        found += sqlite3_column_int(st, 0) == id ? 1 : 0;
        benchmark::DoNotOptimize(sqlite3_column_text(st, 1));
      }
      sqlite3_reset(st);
    }
    Record(state, "lookup sqlite", Since(t0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (found != d.ids.size()) state.SkipWithError("a key was not found");
  }
}

void SqliteWalk(benchmark::State& state) {
  for (auto _ : state) {
    sqlite3* db = OpenSqlite();
    sqlite3_stmt* st = nullptr;
    const auto t0 = Clock::now();
    sqlite3_prepare_v2(db, "SELECT id, name, qty FROM t ORDER BY name COLLATE NOCASE", -1, &st, nullptr);
    std::size_t n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(st, 1));
      ++n;
    }
    sqlite3_finalize(st);
    Record(state, "walk sqlite", Since(t0));
    sqlite3_close(db);
    if (n != TheData().ids.size()) state.SkipWithError("walk count");
  }
}

}  // namespace

#define ONCE ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(OursInsert) ONCE;
BENCHMARK(SqliteInsert) ONCE;
BENCHMARK(OursLookup) ONCE;
BENCHMARK(SqliteLookup) ONCE;
BENCHMARK(OursWalk) ONCE;
BENCHMARK(SqliteWalk) ONCE;

int main(int argc, char** argv) {
  storage::InitializeEngine();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\n%-10s %10s %10s %8s\n", "work", "ours ms", "sqlite ms", "ratio");
  for (const char* op : {"insert", "lookup", "walk"}) {
    const auto& t = Times();
    const auto a = t.find(std::string(op) + " ours");
    const auto b = t.find(std::string(op) + " sqlite");
    if (a == t.end() || b == t.end()) continue;
    std::printf("%-10s %10.1f %10.1f %8.2f\n", op, a->second * 1000, b->second * 1000,
                a->second / b->second);
  }
  benchmark::Shutdown();
  storage::ShutdownEngine();
  std::filesystem::remove_all(Dir());
  return 0;
}
