// Change detection between processes (a header written by one program
// makes the other drop its cached records and index pages at its next
// check), and failures forced inside each step of the write frame, after
// which another process must find every lock free.
#include <fcntl.h>

#include <array>
#include <cstring>

#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "tests/storage/lock_test_support.h"

namespace storage {
namespace {

using namespace locktest;

std::string TextOf(TDataFile& t, std::uint32_t n) {
  TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
  std::string s(GetFieldString(r->Data(), t.GetFieldDescriptor(false, 2).Slot()));
  t.ReleaseRecordBuffer(r);
  return s;
}

void SetText(TDataFile& t, std::uint32_t n, const std::string& text) {
  TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
  PutFieldString(r->Data(), t.GetFieldDescriptor(false, 2).Slot(), text);
  r->modified = true;
  t.ReleaseRecordBuffer(r);
}

// Appends a record and its primary key (the key's last four bytes the
// record number, in order).
std::uint32_t AppendWithKey(TDataFile& t, const std::string& text) {
  TRecord* r = t.TakeFreeRecord();
  t.InitRecordBuffer(r);
  PutFieldString(r->Data(), t.GetFieldDescriptor(false, 2).Slot(), text);
  r->modified = true;
  const std::uint32_t n = r->RecordNumber();
  t.ReleaseRecordBuffer(r);
  TIndexFile& ix = t.IndexFile();
  ix.SelectIndex(0);
  std::array<std::uint8_t, 64> key{};
  const auto k = EncodeIntegerKey(static_cast<std::int32_t>(n));
  std::memcpy(key.data() + ix.KeySize() - 4, k.data(), 4);
  ix.InsertKey(key.data(), n);
  ix.IncrementRecordCount();
  return n;
}

class LockChangeTest : public LockTestBase {
 protected:
  void SetUp() override {
    LockTestBase::SetUp();
    CreateTable(false);
    auto t = Open(15, 100, /*exclusive=*/true);
    for (const char* s : {"one", "two", "three"}) AppendWithKey(*t, s);
    t->FlushTable(false);
    t->Close();
  }
  [[nodiscard]] std::string Dat() const { return Path("T.DAT"); }
  [[nodiscard]] std::string Idx() const { return Path("T.IDX"); }

  // Runs in a child: 0 when the semaphore, every record-lock byte and the
  // index write range can be taken at once.
  int ProbeFromAnotherProcess() {
    Peer probe([&](Peer&) {
      auto t = Open(0, 10);
      int busy = 0;
      if (!t->LockRange(kSemaphore, 1, true)) busy |= 1;
      if (CodeOf([&] { t->LockTable(); }) != 0) busy |= 2;
      if (!t->IndexFile().LockRange(kWriteStart, kWriteLength, true)) busy |= 4;
      return busy;
    });
    return probe.Wait();
  }
  void ExpectNothingHeld(TDataFile& t) {
    EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
    EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
    EXPECT_FALSE(t.HeaderChecked());
    EXPECT_FALSE(t.IndexFile().WriteLockHeld());
    EXPECT_TRUE(t.LockedRecords().empty());
    EXPECT_EQ(ProbeFromAnotherProcess(), 0);
  }
};

TEST_F(LockChangeTest, AnotherWritersHeadersDropCachedRecordsAndPages) {
  auto t = Open();
  {
    ReadSectionGuard r(*t);
    EXPECT_EQ(TextOf(*t, 1), "one");
    EXPECT_EQ(t->IndexFile().KeyCount(), 3u);
  }
  EXPECT_NE(t->Cache().Find(1), nullptr);
  EXPECT_GT(t->IndexFile().CachedPageCount(), 0u);

  Peer writer([&](Peer&) {
    auto o = Open();
    WriteSectionGuard w(*o);
    SetText(*o, 1, "uno");
    AppendWithKey(*o, "four");
    o->FlushTable(false);
    w.Release();
    return 0;
  });
  ASSERT_EQ(writer.Wait(), 0);

  // Until the next check the cursor still sees what it cached.
  EXPECT_EQ(TextOf(*t, 1), "one");
  EXPECT_EQ(t->IndexFile().KeyCount(), 3u);
  {
    ReadSectionGuard r(*t);
    EXPECT_EQ(t->Cache().Find(1), nullptr) << "records dropped by the index change";
    t->CheckHeaderChanged();
    EXPECT_EQ(t->Header().NextRecord(), 5u);
    EXPECT_EQ(TextOf(*t, 1), "uno");
    EXPECT_EQ(TextOf(*t, 4), "four");
    EXPECT_EQ(t->IndexFile().KeyCount(), 4u);
  }
}

TEST_F(LockChangeTest, ADataHeaderAloneDropsCachedRecords) {
  auto t = Open();
  EXPECT_EQ(TextOf(*t, 2), "two");
  Peer writer([&](Peer&) {
    auto o = Open();
    WriteSectionGuard w(*o);
    SetText(*o, 2, "dos");
    o->FlushTable(false);
    return 0;
  });
  ASSERT_EQ(writer.Wait(), 0);
  EXPECT_EQ(TextOf(*t, 2), "two");
  const std::uint32_t counter = t->Header().Counter();
  {
    // The read section itself checks the data header (once: the section's
    // read lock keeps writers out until it ends).
    ReadSectionGuard r(*t);
    EXPECT_NE(t->Header().Counter(), counter);
    EXPECT_EQ(TextOf(*t, 2), "dos");
  }
}

// The table lock and the write frame make the same checks.
TEST_F(LockChangeTest, TableLockAndWriteSectionCheckTheHeaders) {
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way);
    auto t = Open();
    const std::uint32_t before = t->Header().NextRecord();
    (void)TextOf(*t, 1);
    Peer writer([&](Peer&) {
      auto o = Open();
      WriteSectionGuard w(*o);
      AppendWithKey(*o, "more");
      o->FlushTable(false);
      return 0;
    });
    ASSERT_EQ(writer.Wait(), 0);
    if (way == 0) {
      TableLockGuard g(*t);
      EXPECT_EQ(t->Header().NextRecord(), before + 1);
      EXPECT_EQ(t->IndexFile().KeyCount(), before);
      EXPECT_EQ(t->Cache().Find(1), nullptr);
    } else {
      WriteSectionGuard w(*t);
      EXPECT_EQ(t->Header().NextRecord(), before + 1);
      EXPECT_EQ(t->IndexFile().KeyCount(), before);
      EXPECT_EQ(t->Cache().Find(1), nullptr);
    }
  }
}

enum class Step {
  kNone,
  kSemaphore,
  kIndexLock,
  kDataRead,
  kChecks,
  kRecordLock,
  kWrite,
  kIndexUnlock
};

// Fails right after the real work of one step of the write frame: the
// step's lock is then held when the error leaves.
class FaultyTable : public TDataFile {
 public:
  Step fail_at = Step::kNone;

  bool LockSemaphore() override {
    const bool r = TDataFile::LockSemaphore();
    Maybe(Step::kSemaphore);
    return r;
  }
  void LockRecord(std::uint32_t n) override {
    TDataFile::LockRecord(n);
    Maybe(Step::kRecordLock);
  }
  std::int32_t Read(void* buffer, std::int32_t n) override {
    Maybe(Step::kDataRead);
    return TDataFile::Read(buffer, n);
  }
  void Write(const void* buffer, std::int32_t n) override {
    if (n > 0) Maybe(Step::kWrite);
    TDataFile::Write(buffer, n);
  }

 protected:
  void LockIndexForWrite() override {
    TDataFile::LockIndexForWrite();
    Maybe(Step::kIndexLock);
  }
  void CheckHeadersForWrite() override {
    TDataFile::CheckHeadersForWrite();
    Maybe(Step::kChecks);
  }
  void UnlockIndexForWrite() override {
    TDataFile::UnlockIndexForWrite();
    Maybe(Step::kIndexUnlock);
  }

 private:
  void Maybe(Step s) const {
    if (s == fail_at) EngineError(ErrorCode::kWriteError, FileName());
  }
};

TEST_F(LockChangeTest, AFailureInsideAnyStepOfTheWriteFrameLeavesNoLock) {
  struct Case {
    Step step;
    bool table_locked;
  };
  for (const Case c : {Case{Step::kSemaphore, false}, Case{Step::kIndexLock, false},
                       Case{Step::kDataRead, false}, Case{Step::kChecks, false},
                       Case{Step::kRecordLock, false}, Case{Step::kWrite, false},
                       Case{Step::kIndexUnlock, false},
                       Case{Step::kSemaphore, true}, Case{Step::kChecks, true},
                       Case{Step::kWrite, true}}) {
    SCOPED_TRACE(static_cast<int>(c.step) * 10 + c.table_locked);
    FaultyTable t;
    t.SetFileName(Table());
    t.Open();
    if (c.table_locked) t.LockTable();
    t.fail_at = c.step;
    const int code = CodeOf([&] {
      WriteSectionGuard w(t);
      w.LockRecord(2);
      SetText(t, 2, "changed");
      t.FlushTable(false);
      w.Release();
    });
    EXPECT_EQ(code, 9218);
    t.fail_at = Step::kNone;
    if (c.table_locked) {
      EXPECT_TRUE(t.TableLocked());
      t.UnlockTable();
    }
    ExpectNothingHeld(t);
    // And the table still takes a full write afterwards.
    EXPECT_EQ(CodeOf([&] {
                WriteSectionGuard w(t);
                w.LockRecord(2);
              }),
              0);
    ExpectNothingHeld(t);
  }
}

// Real failures: another user holds the record; another user left a
// damaged index header behind.
TEST_F(LockChangeTest, RealFailuresInTheFrameReleaseEverything) {
  {
    Peer holder([&](Peer& p) {
      auto o = Open();
      o->LockRecord(2);
      p.Send('h');
      (void)p.Receive();
      return 0;
    });
    ASSERT_EQ(holder.Receive(), 'h');
    auto t = Open(0, 10);
    EXPECT_EQ(CodeOf([&] {
                WriteSectionGuard w(*t);
                w.LockRecord(2);
              }),
              10258);
    EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop - 2, 1}})) << "only the other's lock";
    EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
    holder.Send('q');
    EXPECT_EQ(holder.Wait(), 0);
    ExpectNothingHeld(*t);
  }
  {
    auto t = Open(0, 10);
    (void)TextOf(*t, 1);
    // A header cut short inside its change counter, as a crashed writer
    // might leave it.
    ASSERT_EQ(truncate(Idx().c_str(), 2), 0);
    EXPECT_NE(CodeOf([&] { WriteSectionGuard w(*t); }), 0);
    EXPECT_NE(CodeOf([&] { t->LockTable(); }), 0);
    EXPECT_FALSE(t->TableLocked());
    EXPECT_NE(CodeOf([&] { ReadSectionGuard r(*t); }), 0);
    EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
    EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
    EXPECT_FALSE(t->HeaderChecked());
  }
}

}  // namespace
}  // namespace storage
