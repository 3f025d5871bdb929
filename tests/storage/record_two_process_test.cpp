// Two real processes insert into and update the same shared table at once:
// no record may be lost or doubled, no update lost (every update adds one
// to a counter under the record's lock), every index stays consistent; and
// a record being edited in one process refuses the other's edit with
// 10258.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using datatest::Index;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kOpsPerProcess = 1500;
#else
constexpr int kOpsPerProcess = 10000;
#endif

class RecordTwoProcessTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    // Key integer (primary), Owner small integer, Counter integer, Name
    // string[20]; "ByOwner" on (Owner, Counter) changes with every update.
    DataTableDefinition def =
        Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Owner", FieldType::kSmallInt),
                    Field(3, "Counter", FieldType::kInteger), Field(4, "Name", FieldType::kString, 20)});
    def.secondary = {Index("ByOwner", {2, 3})};
    Create(Path("s.dat"), def);
  }

  // The body of one process: returns the number of updates it made, or a
  // negative number on a failure.
  // Both processes open the table before either writes (ready, then wait
  // for go): opening reads the headers without a lock.
  int Worker(int owner, std::uint32_t seed, int ready_fd, int go_fd) {
    const char* stage = "open";
    int op = 0;
    bool signalled = false;
    try {
      auto t = OpenTable(Path("s.dat"), false);
      t->SetLockRetryCount(50);
      t->SetLockWaitTime(2);
      const char byte = 1;
      char go = 0;
      signalled = true;
      if (write(ready_fd, &byte, 1) != 1 || read(go_fd, &go, 1) != 1) return -1;
      std::mt19937 rng(seed);
      int inserted = 0, updated = 0;
      for (op = 0; op < kOpsPerProcess; ++op) {
        if (rng() % 10 < 6 || inserted == 0) {
          stage = "insert";
          Rec r(*t);
          r.Num<std::int32_t>(1, owner * 1000000 + inserted)
              .Num<std::int16_t>(2, static_cast<std::int16_t>(owner))
              .Num<std::int32_t>(3, 0)
              .Str(4, "p" + std::to_string(owner) + "-" + std::to_string(inserted));
          t->InsertRecord(r.span());
          ++inserted;
        } else {
          // Either process's records: the nearest key at or after a guess.
          const int other = 1 + static_cast<int>(rng() % 2);
          Rec key(*t);
          key.Num<std::int32_t>(1, other * 1000000 + static_cast<int>(rng() % (inserted + 1)));
          stage = "search";
          t->GotoKey(false, key.bytes.data(), 0, true, 0, {});
          Rec r(*t);
          int code = 0;
          stage = "read for edit";
          try {
            code = t->ReadCurrentRecord(r.span(), true);
          } catch (const ETolmidEngineError& e) {
            if (e.ErrorCode() != 10258) throw;
            continue;  // the other process is editing it
          }
          if (code != 0) continue;
          r.Num<std::int32_t>(3, *r.GetNum<std::int32_t>(3) + 1);
          stage = "modify";
          t->ModifyRecord(r.span(), true);
          ++updated;
        }
      }
      t->Close();
      return updated;
    } catch (const std::exception& e) {
      fprintf(stderr, "worker %d, operation %d (%s): %s\n", owner, op, stage, e.what());
      if (!signalled) (void)!write(ready_fd, "x", 1);  // the parent must not wait for us
      return -1;
    }
  }
};

TEST_F(RecordTwoProcessTest, ConcurrentInsertsAndUpdatesLoseNothing) {
  int pipes[2][2];
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t pids[2];
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(pipe(pipes[k]), 0);
    pids[k] = fork();
    ASSERT_GE(pids[k], 0);
    if (pids[k] == 0) {
      close(pipes[k][0]);
      const int updates = Worker(k + 1, 100u + static_cast<std::uint32_t>(k), ready[1], go[0]);
      (void)!write(pipes[k][1], &updates, sizeof(updates));
      _exit(updates < 0 ? 1 : 0);
    }
    close(pipes[k][1]);
  }
  char bytes[2];
  ASSERT_EQ(read(ready[0], bytes, 1), 1);
  ASSERT_EQ(read(ready[0], bytes + 1, 1), 1);
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
  int total_updates = 0;
  for (int k = 0; k < 2; ++k) {
    int updates = -1;
    ASSERT_EQ(read(pipes[k][0], &updates, sizeof(updates)), static_cast<ssize_t>(sizeof(updates)));
    close(pipes[k][0]);
    int status = 0;
    waitpid(pids[k], &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker " << k + 1;
    ASSERT_GE(updates, 0);
    total_updates += updates;
  }
  // Every insert is there once, with a distinct record ID; the counters add
  // up to the updates made.
  auto t = OpenTable(Path("s.dat"), true);
  std::set<std::int32_t> keys;
  std::set<std::uint32_t> ids;
  long counters = 0;
  std::map<int, int> per_owner;
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  while (t->ReadNextRecord(r.span()) == 0) {
    EXPECT_TRUE(keys.insert(*r.GetNum<std::int32_t>(1)).second);
    EXPECT_TRUE(ids.insert(r.Id()).second);
    counters += *r.GetNum<std::int32_t>(3);
    ++per_owner[*r.GetNum<std::int16_t>(2)];
  }
  EXPECT_EQ(t->RecordCount(), keys.size());
  EXPECT_EQ(counters, total_updates);
  for (int owner : {1, 2}) {
    // Inserts of one owner are numbered 0, 1, 2, ... without a gap.
    const int n = per_owner[owner];
    EXPECT_GT(n, 0);
    EXPECT_TRUE(keys.count(owner * 1000000 + n - 1));
    EXPECT_FALSE(keys.count(owner * 1000000 + n));
  }
  t->Close();
  auto ic = datatest::RunTool("idxcheck.py", Path("s.IDX"));
  EXPECT_EQ(ic.status, 0) << ic.output;
  auto dc = datatest::RunTool("datcheck.py", Path("s.dat"));
  EXPECT_EQ(dc.status, 0) << dc.output;
}

TEST_F(RecordTwoProcessTest, ARecordBeingEditedRefusesTheOthersEdit) {
  auto t = OpenTable(Path("s.dat"), false);
  Rec r(*t);
  r.Num<std::int32_t>(1, 7).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, 0);
  t->InsertRecord(r.span());
  ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);  // the edit begins
  auto child_code = [&]() {
    const pid_t pid = fork();
    if (pid == 0) {
      int code = 99;
      try {
        auto u = OpenTable(Path("s.dat"), false);
        u->SetLockRetryCount(0);
        Rec e(*u);
        e.Num<std::int32_t>(1, 7);
        if (!u->GotoKey(false, e.bytes.data(), 0, false, 0, {})) _exit(98);
        code = CodeOf([&] { CheckEngineResult(u->ReadCurrentRecord(e.span(), true)); });
        if (code == 0) {
          e.Num<std::int32_t>(3, 5);
          u->ModifyRecord(e.span(), true);
        }
        u->Close();
      } catch (...) {
        code = 97;
      }
      _exit(code == 10258 ? 1 : code == 0 ? 0 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(child_code(), 1);  // refused with 10258
  r.Num<std::int32_t>(3, 1);
  t->ModifyRecord(r.span(), true);  // posts and releases the lock
  EXPECT_EQ(child_code(), 0);       // now the other's edit goes through
  Rec back(*t);
  ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
  EXPECT_EQ(back.GetNum<std::int32_t>(3), 5);
}

}  // namespace
}  // namespace storage::rectest
