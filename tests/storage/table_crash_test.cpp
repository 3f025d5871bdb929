// Killed runs: a child process restructures, repairs, finishes a swap at
// open, or inserts and updates in shared mode, and is killed (SIGKILL) at a
// named point of its run or at a moment the parent picks. After each kill
// the table must open, the catalogue's start-up (repair, then restructure to
// the current layout) must succeed, every record written before the kill
// must be there with its memo and its record ID, the independent checkers
// must pass the three files, and no temporary or intent file may be left.
//
// A handful of trials run in every test run; TOLMID_CRASH_TRIALS=n (make
// crash-trials) runs every kill point of every kind and then random trials
// up to n.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "storage/fault_injection.h"
#include "storage/table_swap.h"
#include "tests/storage/table_trial_support.h"

namespace storage::trialtest {
namespace {

constexpr int kRecords = 14;

// Points every swap passes, in order ("asides dropped" only in a repair).
const std::vector<std::string> kSwapPoints = {
    "new files written", "new files synced", "asides deleted",   "intent written",
    "table closed",      "old DAT aside",    "old IDX aside",    "old BLB aside",
    "new DAT in place",  "new IDX in place", "new BLB in place", "intent removed"};
// Points a recovery at open passes after a kill at "intent written".
const std::vector<std::string> kRecoveryPoints = {
    "old DAT aside",    "old IDX aside",    "old BLB aside", "new DAT in place",
    "new IDX in place", "new BLB in place", "intent removed"};

// Points a creation passes, in order ("old ... aside" and "asides dropped"
// only where it replaces a table).
const std::vector<std::string> kCreatePoints = {
    "table files made", "indexes made",     "new files synced", "asides deleted",
    "intent written",   "old DAT aside",    "old IDX aside",    "old BLB aside",
    "new DAT in place", "new IDX in place", "new BLB in place", "intent removed",
    "asides dropped"};

enum class Kind { kRestructure, kRepair, kRecovery, kWriters };

struct Trial {
  Kind kind;
  std::string point;  // kWriters: unused
  int occurrence = 1;
};

std::string Describe(const Trial& t) {
  static const char* kNames[] = {"restructure", "repair", "recovery", "writers"};
  return std::string(kNames[static_cast<int>(t.kind)]) + " killed at " + t.point + " #" +
         std::to_string(t.occurrence);
}

int LongRun() {
  const char* e = std::getenv("TOLMID_CRASH_TRIALS");
  return e != nullptr ? std::atoi(e) : 0;
}

class TableCrashTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    UseMemoryDirectory(dir_);
    // The table every trial starts from: the previous layout, memos of
    // none to several blocks, two deleted records (free list, free chains).
    std::mt19937 rng(1234);
    std::filesystem::create_directories(Path("pristine"));
    Create(Path("pristine/t.dat"), CatalogueLayout(false));
    auto t = OpenTable(Path("pristine/t.dat"));
    for (int i = 1; i <= kRecords; ++i) {
      const std::size_t size = i % 4 == 0 ? 0 : rng() % 1600;
      Entry e = InsertEntry(*t, "entry " + std::to_string(i), 1000 + i, MemoBytes(rng, size), 738000 + i % 5);
      if (i == 4 || i == 9) {
        t->DeleteRecord();
        continue;
      }
      pristine_[e.id] = e;
    }
    last_id_ = t->Header().LastRecordId();
    t->Close();
  }
  void TearDown() override {
    SetTableStepHook(nullptr);
    DataFileTestBase::TearDown();
  }
  std::string Table() const { return Path("work/t.dat"); }

  static void Restructure(const std::string& name) {
    ExclusiveTable t(name);
    t.AlterDataTable(CatalogueLayout(true));
    t.Close();
  }
  static void Repair(const std::string& name) {
    ExclusiveTable t(name);
    t.RepairDataTable();
  }
  static void OpenShared(const std::string& name) {
    TDataFile t;
    t.SetFileName(name);
    t.Open();
    t.Close();
  }

  // A child inserts and updates in shared mode and reports each finished
  // operation with one byte; the parent kills it after `after` reports,
  // while it is in the middle of later ones. The parent replays the same
  // operations on the model: must holds what finished; the record of the
  // operation under way may be absent (an insert) or in its state before
  // or after (an update). A record, its keys and its memo's blocks are
  // separate writes, so its memo may also be cut short by the kill (a
  // prefix of the value before or after); the record itself is never lost.
  struct WriterOutcome {
    Model must;
    std::uint32_t in_flight_id = 0;
    bool may_be_absent = false;
    std::vector<Entry> in_flight;  // the states before and after
  };
  WriterOutcome RunWriters(std::uint32_t seed, int after) {
    int pipe_fds[2];
    EXPECT_EQ(pipe(pipe_fds), 0);
    // One operation of the sequence on model; the same calls in the child
    // drive the table.
    struct Op {
      bool insert;
      Entry entry;  // the record after the operation
    };
    auto make_op = [](std::mt19937& rng, const Model& model, std::uint32_t& last_id, int k) {
      Op op;
      op.insert = model.empty() || rng() % 5 < 3;
      if (op.insert) {
        op.entry = Entry{++last_id, "new " + std::to_string(k), 5000 + k, MemoBytes(rng, rng() % 1400)};
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        op.entry = it->second;
        op.entry.name = "changed " + std::to_string(k);
        op.entry.memo = MemoBytes(rng, rng() % 1400);
      }
      return op;
    };
    const pid_t child = fork();
    if (child == 0) {
      close(pipe_fds[0]);
      try {
        std::mt19937 rng(seed);
        Model model = pristine_;
        std::uint32_t last = last_id_;
        TDataFile t;
        t.SetFileName(Table());
        t.Open();
        for (int k = 0;; ++k) {
          const Op op = make_op(rng, model, last, k);
          if (op.insert) {
            InsertEntry(t, op.entry.name, op.entry.number, op.entry.memo, 738100);
          } else {
            Rec key(t);
            TDataFile::SetRecordID(op.entry.id, key.span());
            if (!t.GotoKey(false, key.bytes.data(), 0, false, 0, {})) _exit(4);
            Rec r(t);
            Check(t.ReadCurrentRecord(r.span(), true), "read");
            r.Str(kName, op.entry.name);
            PutMemo(t, r, op.entry.memo);
            t.ModifyRecord(r.span(), true);
            if (t.IsBlobFieldOpen(false, kMemo, r.span()))
              Check(t.CloseBlobField(false, kMemo, r.span()), "close memo");
            t.FreeBlobBuffers();
          }
          model[op.entry.id] = op.entry;
          const char done = 'x';
          if (write(pipe_fds[1], &done, 1) != 1) _exit(5);
        }
      } catch (...) {
        _exit(3);
      }
    }
    close(pipe_fds[1]);
    int finished = 0;
    char c;
    while (finished < after && read(pipe_fds[0], &c, 1) == 1) ++finished;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    while (read(pipe_fds[0], &c, 1) == 1) ++finished;  // reported before it died
    close(pipe_fds[0]);

    WriterOutcome out;
    std::mt19937 rng(seed);
    out.must = pristine_;
    std::uint32_t last = last_id_;
    for (int k = 0; k < finished; ++k) {
      const Op op = make_op(rng, out.must, last, k);
      out.must[op.entry.id] = op.entry;
    }
    const Op next = make_op(rng, out.must, last, finished);
    out.in_flight_id = next.entry.id;
    out.may_be_absent = next.insert;
    out.in_flight = {next.entry};
    if (!next.insert) out.in_flight.push_back(out.must.at(next.entry.id));
    return out;
  }

  void RunTrial(const Trial& trial, std::mt19937& rng) {
    SCOPED_TRACE(Describe(trial));
    CopyDirectory(Path("pristine"), Path("work"));
    WriterOutcome expected{pristine_, 0, false, {}};
    switch (trial.kind) {
      case Kind::kRestructure:
        RunKilled([&] { Restructure(Table()); }, trial.point, trial.occurrence);
        break;
      case Kind::kRepair:
        RunKilled([&] { Repair(Table()); }, trial.point, trial.occurrence);
        break;
      case Kind::kRecovery:
        // A restructure dies with its intent on disk; the next open dies
        // while it finishes the swap; the one after must finish it.
        ASSERT_TRUE(RunKilled([&] { Restructure(Table()); }, "intent written", 1));
        RunKilled([&] { OpenShared(Table()); }, trial.point, trial.occurrence);
        break;
      case Kind::kWriters:
        expected = RunWriters(static_cast<std::uint32_t>(rng()), 1 + static_cast<int>(rng() % 20));
        break;
    }
    SetTableStepHook(nullptr);
    ASSERT_NO_THROW(OpenShared(Table()));
    ASSERT_NO_THROW(StartUp(Table()));
    Model got;
    ASSERT_NO_THROW(got = ReadTable(Table()));
    if (expected.in_flight_id != 0) {
      auto it = got.find(expected.in_flight_id);
      if (it == got.end()) {
        EXPECT_TRUE(expected.may_be_absent) << "the record of the interrupted update is lost";
      } else {
        const Entry& e = it->second;
        auto prefix = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
          return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
        };
        bool known = false;
        for (const Entry& s : expected.in_flight) {
          for (const Entry& m : expected.in_flight) {
            known = known || (e.name == s.name && e.number == s.number && prefix(e.memo, m.memo));
          }
        }
        EXPECT_TRUE(known) << "the record of the interrupted operation: " << ::testing::PrintToString(e)
                           << ", before/after " << ::testing::PrintToString(expected.in_flight);
        got.erase(it);
      }
      expected.must.erase(expected.in_flight_id);
    }
    EXPECT_EQ(got, expected.must);
    const auto check = CheckTables({Table()});
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(StrayFiles(Path("work")), std::vector<std::string>{});
  }

  std::vector<Trial> EveryPoint(std::mt19937& rng) const {
    std::vector<Trial> trials;
    trials.push_back({Kind::kRestructure, "copy record", 1 + static_cast<int>(rng() % kRecords)});
    for (const std::string& p : kSwapPoints) trials.push_back({Kind::kRestructure, p});
    trials.push_back({Kind::kRepair, "repair record", 1 + static_cast<int>(rng() % kRecords)});
    for (const std::string& p : kSwapPoints) trials.push_back({Kind::kRepair, p});
    trials.push_back({Kind::kRepair, "asides dropped"});
    for (const std::string& p : kRecoveryPoints) trials.push_back({Kind::kRecovery, p});
    trials.push_back({Kind::kWriters, ""});
    return trials;
  }

  Model pristine_;
  std::uint32_t last_id_ = 0;
};

// A point of each phase: the copy, the intent, the moves of old and new
// files, a repair's record pass and its swap, a recovery killed itself,
// and writers killed mid-operation.
TEST_F(TableCrashTest, KilledRunsLeaveATableTheNextStartFinishes) {
  std::mt19937 rng(99);
  const std::vector<Trial> trials = {
      {Kind::kRestructure, "copy record", 5}, {Kind::kRestructure, "intent written"},
      {Kind::kRestructure, "old IDX aside"},  {Kind::kRestructure, "new DAT in place"},
      {Kind::kRepair, "repair record", 7},    {Kind::kRepair, "new IDX in place"},
      {Kind::kRecovery, "new BLB in place"},  {Kind::kWriters, ""},
  };
  for (const Trial& t : trials) RunTrial(t, rng);
}

// A table made anew, or made over an existing one, killed at each step of
// its creation and before each write: the next start (the
// catalogue's: a missing table is made, an existing one repaired and
// brought to its layout) finds no table or a whole one - the new, empty
// one, or the old one with every record. The table then opens, passes the
// checkers, and nothing else is left beside it. A creation that writes its
// files under the table's names leaves a data file cut inside its header
// that stops every start. Every write of the replacing creation too with
// make crash-trials.
TEST_F(TableCrashTest, KilledCreationLeavesNoTableOrAWholeOne) {
  ArmFault(FaultSite::kWrite, ~0u);
  Create(Path("counted.dat"), CatalogueLayout(true));
  const std::uint32_t writes = FaultEventCount();
  DisarmFault();
  ASSERT_GT(writes, 3u);
  struct Case {
    bool replace;
    testsupport::KillAt at;
  };
  std::vector<Case> cases;
  for (const bool replace : {false, true}) {
    for (const std::string& p : kCreatePoints) cases.push_back({replace, {p, 1, 0}});
    if (replace && LongRun() == 0) continue;
    for (std::uint32_t n = 1; n <= writes; ++n) cases.push_back({replace, {"", 0, n}});
  }
  std::vector<std::string> kept;  // every trial's table, checked together at the end
  for (const Case& c : cases) {
    const std::string trial = (c.replace ? "replacing, killed at " : "new, killed at ") +
                              (c.at.write > 0 ? "write " + std::to_string(c.at.write) : c.at.point);
    SCOPED_TRACE(trial);
    CopyDirectory(Path("pristine"), Path("work"));
    const std::string name = c.replace ? Table() : Path("work/n.dat");
    const testsupport::ChildEnd end =
        testsupport::RunKilledChild([&] { Create(name, CatalogueLayout(true)); }, c.at);
    ASSERT_NE(end, testsupport::ChildEnd::kFailed);
    if (std::filesystem::exists(name)) {
      ASSERT_NO_THROW(StartUp(name));
    } else {
      ASSERT_NO_THROW(Create(name, CatalogueLayout(true)));
    }
    Model got;
    ASSERT_NO_THROW(got = ReadTable(name));
    if (!got.empty()) {
      EXPECT_TRUE(c.replace && got == pristine_) << got.size() << " records";
    }
    EXPECT_EQ(StrayFiles(Path("work")), std::vector<std::string>{});
    const std::string copy = Path("checked/" + std::to_string(kept.size()));
    std::filesystem::create_directories(copy);
    const TableNames names(name);
    for (const std::string& f : names.file) {
      if (std::filesystem::exists(f))
        std::filesystem::copy_file(f, copy + "/" + std::filesystem::path(f).filename().string());
    }
    kept.push_back(copy + "/" + std::filesystem::path(names.file[0]).filename().string());
  }
  const auto check = CheckTables(kept);
  EXPECT_EQ(check.status, 0) << check.output;
}

// make crash-trials: every point of every kind, then random trials.
TEST_F(TableCrashTest, LongRun) {
  const int wanted = LongRun();
  if (wanted == 0) GTEST_SKIP() << "set TOLMID_CRASH_TRIALS (make crash-trials)";
  std::mt19937 rng(static_cast<std::uint32_t>(wanted) * 7919u);
  std::vector<Trial> trials = EveryPoint(rng);
  while (static_cast<int>(trials.size()) < wanted) {
    // Writers killed at a random moment, or a random point of the others.
    const auto all = EveryPoint(rng);
    trials.push_back(rng() % 3 == 0 ? Trial{Kind::kWriters, ""} : all[rng() % all.size()]);
  }
  int done = 0;
  for (const Trial& t : trials) {
    RunTrial(t, rng);
    ++done;
    if (HasFailure()) break;
  }
  std::printf("crash trials: %d run\n", done);
}

}  // namespace
}  // namespace storage::trialtest
