// Several programs adding one to the same record, each "edit, +1, post"
// as the catalogue's counters are kept: the table opened shared with the
// default lock rule (15 retries, 100 ms apart), GotoKey, ReadCurrentRecord
// with the record lock, ModifyRecord releasing it. Each program is a
// forked process; all start together and do RECORD_LOCK_INCREMENTS (1,000)
// increments, a 10258 counted and the increment tried again, until done
// or RECORD_LOCK_LIMIT seconds (100) have passed.
//
// Each line sets P programs against one program doing P times the work on
// its own (the time the contention should cost nothing over) and against
// SQLite doing the same in P processes (BEGIN IMMEDIATE, SELECT, UPDATE,
// COMMIT; journal and synchronous off, busy timeout 100 s).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/session.h"

namespace {

using namespace storage;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback) {
  const char* e = std::getenv(name);
  return e != nullptr ? std::atoi(e) : fallback;
}

int Increments() { return EnvInt("RECORD_LOCK_INCREMENTS", 1000); }
double LimitSeconds() { return EnvInt("RECORD_LOCK_LIMIT", 100); }

std::string Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/bench_record_lock_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
}

struct Outcome {
  long done = 0;
  long errors = 0;  // 10258 met (each increment tried again)
  long final_count = 0;
  double seconds = 0;
};

// Runs `programs` processes of work(deadline, done, errors), started at
// once; the time is from the start signal to the last exit.
Outcome RunPrograms(int programs, const std::function<void(Clock::time_point, long&, long&)>& work) {
  int go[2], results[2];
  if (pipe(go) != 0 || pipe(results) != 0) std::abort();
  std::fflush(nullptr);
  std::vector<pid_t> pids;
  for (int i = 0; i < programs; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      close(results[0]);
      char c;
      while (read(go[0], &c, 1) > 0) {
      }
      const auto deadline =
          Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(LimitSeconds()));
      long counts[2] = {0, 0};
      try {
        work(deadline, counts[0], counts[1]);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "program %d: %s\n", i, e.what());
      }
      (void)!write(results[1], counts, sizeof counts);
      _exit(0);
    }
    pids.push_back(pid);
  }
  close(go[0]);
  close(results[1]);
  const auto t0 = Clock::now();
  close(go[1]);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  Outcome o;
  o.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  long counts[2];
  while (read(results[0], counts, sizeof counts) == static_cast<ssize_t>(sizeof counts)) {
    o.done += counts[0];
    o.errors += counts[1];
  }
  close(results[0]);
  return o;
}

// ------------------------------------------------------------------ ours

// A new table for each run.
std::string& OurName() {
  static std::string name;
  return name;
}

void CreateOurs() {
  static int runs = 0;
  OurName() = Dir() + "/counter" + std::to_string(++runs) + ".dat";
  auto field = [](std::uint16_t no, const char* name) {
    TFieldDescriptor f;
    f.FieldNumber = no;
    f.Name.Assign(name);
    f.FieldType = TypeCode(FieldType::kInteger);
    return f;
  };
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {field(1, "Id"), field(2, "Count")};
  def.primary.FieldNumbers[0] = 1;
  {
    TDataFile t;
    t.SetFileName(OurName());
    t.SetExclusive(true);
    t.CreateDataTable(def);
  }
  TDataFile t;
  t.SetFileName(OurName());
  t.SetExclusive(true);
  t.Open();
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  t.ApplyDefaultValues(rec);
  const std::int32_t id = 1, zero = 0;
  t.SetFieldValue(false, 1, false, &id, rec);
  t.SetFieldValue(false, 2, false, &zero, rec);
  t.InsertRecord(rec);
}

void OursIncrement(int count, Clock::time_point deadline, long& done, long& errors) {
  TDataFile t;  // shared, lock retries 15 x 100 ms
  t.SetFileName(OurName());
  t.Open();
  std::vector<std::byte> key(t.GetRecordBufferSize()), rec(t.GetRecordBufferSize());
  const std::int32_t id = 1;
  t.ApplyDefaultValues(key);
  t.SetFieldValue(false, 1, false, &id, key);
  while (done < count && Clock::now() < deadline) {
    if (!t.GotoKey(false, key.data(), 0, false, 0, {})) throw std::runtime_error("no record 1");
    try {
      if (t.ReadCurrentRecord(rec, true) != 0) throw std::runtime_error("not on record 1");
    } catch (const ETolmidEngineError& e) {
      if (e.ErrorCode() != Code(ErrorCode::kRecordInUse)) throw;
      ++errors;
      continue;
    }
    std::int32_t n = 0;
    bool blank = false;
    t.GetFieldValue(false, 2, blank, &n, rec);
    ++n;
    t.SetFieldValue(false, 2, false, &n, rec);
    t.ModifyRecord(rec, true);
    ++done;
  }
}

long OursCount() {
  TDataFile t;
  t.SetFileName(OurName());
  t.Open();
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  if (t.MoveToBegin() != 0 || t.ReadNextRecord(rec) != 0) return -1;
  std::int32_t n = 0;
  bool blank = false;
  t.GetFieldValue(false, 2, blank, &n, rec);
  return n;
}

// ------------------------------------------------------------------ SQLite

std::string TheirName() { return Dir() + "/counter.sqlite"; }

void CreateTheirs() {
  std::filesystem::remove(TheirName());
  sqlite3* db = nullptr;
  sqlite3_open(TheirName().c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=OFF; CREATE TABLE t(id INTEGER PRIMARY KEY, count INTEGER);"
               "INSERT INTO t VALUES(1, 0);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void TheirIncrement(int count, Clock::time_point deadline, long& done, long& errors) {
  sqlite3* db = nullptr;
  sqlite3_open(TheirName().c_str(), &db);
  sqlite3_busy_timeout(db, 100000);
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  sqlite3_stmt* get = nullptr;
  sqlite3_stmt* put = nullptr;
  sqlite3_prepare_v2(db, "SELECT count FROM t WHERE id=1", -1, &get, nullptr);
  sqlite3_prepare_v2(db, "UPDATE t SET count=? WHERE id=1", -1, &put, nullptr);
  while (done < count && Clock::now() < deadline) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      ++errors;
      continue;
    }
    sqlite3_step(get);
    const int n = sqlite3_column_int(get, 0);
    sqlite3_reset(get);
    sqlite3_bind_int(put, 1, n + 1);
    sqlite3_step(put);
    sqlite3_reset(put);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
      ++done;
    } else {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      ++errors;
    }
  }
  sqlite3_finalize(get);
  sqlite3_finalize(put);
  sqlite3_close(db);
}

long TheirCount() {
  sqlite3* db = nullptr;
  sqlite3_open(TheirName().c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count FROM t WHERE id=1", -1, &st, nullptr);
  const long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// ------------------------------------------------------------------ lines

// (line, programs) -> outcome
std::map<std::pair<std::string, int>, Outcome>& Outcomes() {
  static std::map<std::pair<std::string, int>, Outcome> o;
  return o;
}

// line "one": one program doing the work of `programs`.
void Run(benchmark::State& state, const std::string& line, int programs, int per_program) {
  const int processes = line == "one" ? 1 : programs;
  const bool ours = line != "sqlite";
  for (auto _ : state) {
    if (ours) {
      CreateOurs();
    } else {
      CreateTheirs();
    }
    Outcome o = RunPrograms(processes, [&](Clock::time_point deadline, long& done, long& errors) {
      if (ours) {
        OursIncrement(per_program, deadline, done, errors);
      } else {
        TheirIncrement(per_program, deadline, done, errors);
      }
    });
    o.final_count = ours ? OursCount() : TheirCount();
    state.SetIterationTime(o.seconds);
    state.counters["done"] = static_cast<double>(o.done);
    state.counters["errors"] = static_cast<double>(o.errors);
    Outcomes()[{line, programs}] = o;
  }
}

void Register(int programs) {
  const int n = Increments();
  const auto reg = [&](const std::string& line, int per_program) {
    const std::string name = "RecordLock/" + line + "/" + std::to_string(programs);
    benchmark::RegisterBenchmark(name.c_str(),
                                 [=](benchmark::State& s) { Run(s, line, programs, per_program); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  };
  reg("ours", n);
  reg("one", programs * n);
  reg("sqlite", n);
}

}  // namespace

int main(int argc, char** argv) {
  storage::InitializeEngine();
  for (int p = 1; p <= 4; ++p) Register(p);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\n%-8s %9s %9s %7s %7s %9s %9s %9s %9s %9s\n", "programs", "wanted", "done", "10258",
              "count", "ours s", "one s", "sqlite s", "ours/one", "ours/sql");
  for (int p = 1; p <= 4; ++p) {
    const auto& all = Outcomes();
    const auto a = all.find({"ours", p}), one = all.find({"one", p}), b = all.find({"sqlite", p});
    if (a == all.end() || one == all.end() || b == all.end()) continue;
    std::printf("%-8d %9ld %9ld %7ld %7ld %9.2f %9.2f %9.2f %9.2f %9.2f\n", p,
                static_cast<long>(p) * Increments(), a->second.done, a->second.errors,
                a->second.final_count, a->second.seconds, one->second.seconds, b->second.seconds,
                a->second.seconds / one->second.seconds, a->second.seconds / b->second.seconds);
  }
  benchmark::Shutdown();
  storage::ShutdownEngine();
  std::filesystem::remove_all(Dir());
  return 0;
}
