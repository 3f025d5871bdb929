// B+-tree insert, exact search and in-order walk over 1,000,000 keys, and
// the same work by SQLite on a WITHOUT ROWID table keyed by the same bytes
// (journal off, synchronous off, one transaction, a cache as large as the
// data). Two key kinds: 16-byte unique keys (primary index, plain leaves)
// and 256-byte non-unique keys (252 bytes from 100,000 values plus the
// record-ID key; compressed leaves). The index file runs as in a batch, so
// its page cache holds the tree. Each benchmark runs once; the summary
// prints our time over SQLite's per line.
//
// Set BTREE_KEYS to run with fewer keys.
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
#include <span>
#include <string>
#include <vector>

#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/session.h"

namespace {

using namespace storage;

class BenchOwner : public IndexFileOwner {
 public:
  std::string DataFileName() const override { return "BENCH.DAT"; }
  platform::LCID LocaleId() const override { return 0; }
  bool Scrambled() const override { return false; }
  void ScrambleBlock(std::span<std::uint8_t>) const override {}
  bool InBatch() const override { return true; }
  bool SuppressFirstKeyAtOpen() const override { return false; }
  bool KeyFieldInfo(std::uint16_t n, IndexFieldInfo& info) const override {
    if (n == 1) info = {FieldType::kBytes, 16};
    else if (n == 2) info = {FieldType::kString, 251};
    else return false;
    return true;
  }
  void IndexChangedByOther() override {}
};

std::size_t KeyCount() {
  const char* e = std::getenv("BTREE_KEYS");
  return e ? std::strtoul(e, nullptr, 10) : 1000000;
}

struct Keys {
  std::size_t size = 0;
  std::vector<std::uint8_t> bytes;  // n keys of size bytes, in insert order
  const std::uint8_t* At(std::size_t i) const { return bytes.data() + i * size; }
};

Keys MakeKeys(bool wide) {
  const std::size_t n = KeyCount();
  Keys k;
  k.size = wide ? 256 : 16;
  k.bytes.resize(n * k.size);
  std::mt19937_64 rng(42);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t* p = k.bytes.data() + i * k.size;
    if (!wide) {
      for (std::size_t j = 0; j < 16; j += 8) {
        std::uint64_t v = rng();
        std::memcpy(p + j, &v, 8);
      }
    } else {
      // A value out of 100,000: a shared-ish stem and random bytes, then the
      // record ID's key.
      std::mt19937_64 vr(rng() % 100000);
      p[0] = 1;
      for (std::size_t j = 1; j < 252; j += 8) {
        std::uint64_t v = vr();
        std::memcpy(p + j, &v, std::min<std::size_t>(8, 252 - j));
      }
      auto rid = EncodeIntegerKey(static_cast<std::int32_t>(i + 1));
      std::memcpy(p + 252, rid.data(), 4);
    }
  }
  return k;
}

const Keys& GetKeys(bool wide) {
  static Keys narrow = MakeKeys(false);
  static Keys broad = MakeKeys(true);
  return wide ? broad : narrow;
}

std::string Dir() {
  static std::string d = [] {
    char tmpl[] = "/tmp/bench_btree_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return d;
}

std::map<std::string, double>& Times() {
  static std::map<std::string, double> t;
  return t;
}

// ------------------------------------------------------------------ ours

struct Ours {
  BenchOwner owner;
  std::unique_ptr<TIndexFile> file;
};

Ours& OurTree(bool wide) {
  static Ours trees[2];
  Ours& o = trees[wide];
  if (!o.file) {
    InitializeEngine();
    o.file = std::make_unique<TIndexFile>(&o.owner);
    o.file->SetFileName(Dir() + (wide ? "\\WIDE.IDX" : "\\NARROW.IDX"));
    o.file->SetExclusive(true);
    o.file->CreateFile();
    std::uint8_t desc[16] = {};
    if (!wide) {
      std::uint16_t f[1] = {1};
      o.file->CreatePrimaryIndex(16, 1, desc, f, false, false);
    } else {
      std::uint16_t pf[1] = {1};
      o.file->CreatePrimaryIndex(16, 1, desc, pf, false, false);
      std::uint16_t f[1] = {2};
      o.file->AddIndex("Wide", 256, desc, f, false, false, false, 1);
    }
  }
  return o;
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
  state.SetIterationTime(seconds);
  Times()[name] = seconds;
}

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void OursInsert(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    Ours& o = OurTree(wide);
    auto t0 = Clock::now();
    for (std::size_t i = 0; i < n; ++i) o.file->InsertKey(k.At(i), static_cast<std::uint32_t>(i + 1));
    o.file->FlushIndexFile();
    Record(state, std::string(wide ? "256" : "16") + " insert ours", Since(t0));
  }
}

void OursSearch(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    Ours& o = OurTree(wide);
    std::size_t hits = 0;
    auto t0 = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t j = (i * 7919) % n;
      hits += o.file->FindKey(k.At(j), false, false);
    }
    Record(state, std::string(wide ? "256" : "16") + " search ours", Since(t0));
    if (hits != n) state.SkipWithError("missing keys");
  }
}

void OursWalk(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    Ours& o = OurTree(wide);
    std::size_t seen = 0;
    std::uint64_t sum = 0;
    auto t0 = Clock::now();
    if (o.file->FirstKey()) {
      do {
        sum += o.file->CurrentKey()[0] + o.file->GetCurrentRecordNumber();
        ++seen;
      } while (o.file->MoveBy(1));
    }
    Record(state, std::string(wide ? "256" : "16") + " walk ours", Since(t0));
    benchmark::DoNotOptimize(sum);
    if (seen != n) state.SkipWithError("walk count");
  }
}

// ------------------------------------------------------------------ SQLite

sqlite3* Db(bool wide) {
  static sqlite3* dbs[2] = {nullptr, nullptr};
  if (!dbs[wide]) {
    std::string path = Dir() + (wide ? "/wide.db" : "/narrow.db");
    sqlite3_open(path.c_str(), &dbs[wide]);
    sqlite3_exec(dbs[wide],
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-2000000;"
                 "CREATE TABLE t(k BLOB PRIMARY KEY, r INTEGER) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
  }
  return dbs[wide];
}

void SqliteInsert(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    sqlite3* db = Db(wide);
    auto t0 = Clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &st, nullptr);
    for (std::size_t i = 0; i < n; ++i) {
      sqlite3_bind_blob(st, 1, k.At(i), static_cast<int>(k.size), SQLITE_STATIC);
      sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(i + 1));
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    Record(state, std::string(wide ? "256" : "16") + " insert sqlite", Since(t0));
  }
}

void SqliteSearch(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    sqlite3* db = Db(wide);
    std::size_t hits = 0;
    auto t0 = Clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "SELECT r FROM t WHERE k = ?", -1, &st, nullptr);
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t j = (i * 7919) % n;
      sqlite3_bind_blob(st, 1, k.At(j), static_cast<int>(k.size), SQLITE_STATIC);
      if (sqlite3_step(st) == SQLITE_ROW) ++hits;
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    Record(state, std::string(wide ? "256" : "16") + " search sqlite", Since(t0));
    if (hits != n) state.SkipWithError("missing keys");
  }
}

void SqliteWalk(benchmark::State& state, bool wide) {
  const Keys& k = GetKeys(wide);
  const std::size_t n = k.bytes.size() / k.size;
  for (auto _ : state) {
    sqlite3* db = Db(wide);
    std::size_t seen = 0;
    std::uint64_t sum = 0;
    auto t0 = Clock::now();
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "SELECT k, r FROM t ORDER BY k", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 0));
      sum += p[0] + static_cast<std::uint64_t>(sqlite3_column_int64(st, 1));
      ++seen;
    }
    sqlite3_finalize(st);
    Record(state, std::string(wide ? "256" : "16") + " walk sqlite", Since(t0));
    benchmark::DoNotOptimize(sum);
    if (seen != n) state.SkipWithError("walk count");
  }
}

#define ONCE ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK_CAPTURE(OursInsert, key16, false) ONCE;
BENCHMARK_CAPTURE(SqliteInsert, key16, false) ONCE;
BENCHMARK_CAPTURE(OursSearch, key16, false) ONCE;
BENCHMARK_CAPTURE(SqliteSearch, key16, false) ONCE;
BENCHMARK_CAPTURE(OursWalk, key16, false) ONCE;
BENCHMARK_CAPTURE(SqliteWalk, key16, false) ONCE;
BENCHMARK_CAPTURE(OursInsert, key256, true) ONCE;
BENCHMARK_CAPTURE(SqliteInsert, key256, true) ONCE;
BENCHMARK_CAPTURE(OursSearch, key256, true) ONCE;
BENCHMARK_CAPTURE(SqliteSearch, key256, true) ONCE;
BENCHMARK_CAPTURE(OursWalk, key256, true) ONCE;
BENCHMARK_CAPTURE(SqliteWalk, key256, true) ONCE;

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%-22s %10s %10s %8s\n", "work", "ours ms", "sqlite ms", "ratio");
  for (const char* size : {"16", "256"}) {
    for (const char* op : {"insert", "search", "walk"}) {
      std::string base = std::string(size) + " " + op;
      auto& t = Times();
      if (!t.count(base + " ours") || !t.count(base + " sqlite")) continue;
      double a = t[base + " ours"], b = t[base + " sqlite"];
      std::printf("%-22s %10.1f %10.1f %8.2f\n", (std::string(size) + "-byte " + op).c_str(),
                  a * 1e3, b * 1e3, a / b);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(Dir(), ec);
  return 0;
}
