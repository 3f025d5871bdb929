// What another program's writes do to a cursor's caches (records, index
// pages, BLOB blocks are dropped by the next header check, not before),
// and failures inside the write frame: whatever step fails, every lock it
// took is given back, as another process finds.
#include <array>
#include <cstring>

#include "storage/blob_file.h"
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
void AppendWithKey(TDataFile& t, const std::string& text) {
  const std::uint32_t n = datatest::AppendText(t, 2, text);
  TIndexFile& ix = t.IndexFile();
  ix.SelectIndex(0);
  std::array<std::uint8_t, 64> key{};
  const auto k = EncodeIntegerKey(static_cast<std::int32_t>(n));
  std::memcpy(key.data() + ix.KeySize() - 4, k.data(), 4);
  ix.InsertKey(key.data(), n);
  ix.IncrementRecordCount();
}

// Writes value over the BLOB at first (0: a new one); returns the first block.
std::uint32_t StoreBlob(TBlobFile& b, const std::string& value, std::uint32_t first) {
  std::int32_t h = 0;
  std::uint32_t out = 0;
  CheckEngineResult(b.OpenBlob(first, 3, h));
  CheckEngineResult(b.WriteBlob(h, 0, static_cast<std::int32_t>(value.size()), value.data()));
  b.SetBlobRecordNumbers(1);
  b.SaveModifiedBlobs();
  CheckEngineResult(b.CloseBlob(h, &out));
  return out;
}

std::string LoadBlob(TBlobFile& b, std::uint32_t first) {
  std::int32_t h = 0, n = 0;
  std::string s(700, '\0');
  CheckEngineResult(b.OpenBlob(first, 3, h));
  CheckEngineResult(b.ReadBlob(h, 0, n, 700, s.data()));
  CheckEngineResult(b.CloseBlob(h));
  return s;
}

enum class Step { kNone, kSemaphore, kIndexLock, kBlobLock, kDataRead, kChecks, kRecordLock, kWrite, kIndexUnlock };

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
  void LockBlobForWrite() override {
    TDataFile::LockBlobForWrite();
    Maybe(Step::kBlobLock);
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

class LockChangeTest : public LockTestBase {
 protected:
  void SetUp() override {
    LockTestBase::SetUp();
    CreateTable(true);
    auto t = Open(15, 100, /*exclusive=*/true);
    for (const char* s : {"one", "two", "three"}) AppendWithKey(*t, s);
    blob_ = StoreBlob(t->BlobFile(), std::string(700, 'a'), 0);
    t->FlushTable(false);
  }
  [[nodiscard]] std::string File(const char* ext) const { return Path(std::string("T.") + ext); }

  // Nothing held by t, as the kernel and another process see it.
  void ExpectNothingHeld(TDataFile& t) {
    for (const char* ext : {"DAT", "IDX", "BLB"}) EXPECT_EQ(ProcLocks(File(ext)), Ranges({})) << ext;
    EXPECT_FALSE(t.HeaderChecked());
    EXPECT_FALSE(t.IndexFile().WriteLockHeld());
    EXPECT_FALSE(t.BlobFile().HeaderChecked());
    EXPECT_TRUE(t.LockedRecords().empty());
    Peer probe([&](Peer&) {
      TFileHandler dat, idx, blb;
      for (auto [h, ext] : {std::pair{&dat, "DAT"}, {&idx, "IDX"}, {&blb, "BLB"}}) {
        h->SetFileName(File(ext));
        h->Open();
      }
      return (dat.LockRange(kSemaphore, 1, true) ? 0 : 1) | (dat.LockRange(kTableStart, kTableLength, true) ? 0 : 2) |
             (idx.LockRange(kWriteStart, kWriteLength, true) ? 0 : 4) |
             (blb.LockRange(kWriteStart, kWriteLength, true) ? 0 : 8);
    });
    EXPECT_EQ(probe.Wait(), 0);
  }

  std::uint32_t blob_ = 0;
};

// Until the next check the cursor sees what it cached; a read section, a
// table lock and a write section each check the headers: a changed index
// header drops the records too, a changed data header alone has them read
// again, a changed BLOB header drops the blocks.
TEST_F(LockChangeTest, AnotherWritersHeadersDropTheCaches) {
  const char* texts[] = {"one", "uno", "eins", "un", "yksi"};
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool index_changes = way != 1;  // way 1: the data header alone
    auto t = Open();
    const std::uint32_t keys = t->IndexFile().KeyCount();
    EXPECT_EQ(TextOf(*t, 1), texts[way]);
    {
      BlobReadSectionGuard r(*t);
      EXPECT_EQ(LoadBlob(t->BlobFile(), blob_), std::string(700, 'a' + way));
    }
    EXPECT_GT(t->IndexFile().CachedPageCount(), 0u);
    Peer writer([&](Peer&) {
      auto o = Open();
      WriteSectionGuard w(*o);
      SetText(*o, 1, texts[way + 1]);
      if (index_changes) AppendWithKey(*o, "more");
      StoreBlob(o->BlobFile(), std::string(700, 'b' + way), blob_);
      o->FlushTable(false);
      return 0;
    });
    ASSERT_EQ(writer.Wait(), 0);
    EXPECT_EQ(TextOf(*t, 1), texts[way]);
    EXPECT_EQ(t->IndexFile().KeyCount(), keys);
    EXPECT_EQ(LoadBlob(t->BlobFile(), blob_), std::string(700, 'a' + way));
    auto check = [&] {
      if (index_changes) {
        EXPECT_EQ(t->Cache().Find(1), nullptr);
      }
      EXPECT_EQ(TextOf(*t, 1), texts[way + 1]);
      EXPECT_EQ(t->IndexFile().KeyCount(), keys + (index_changes ? 1 : 0));
      EXPECT_EQ(LoadBlob(t->BlobFile(), blob_), std::string(700, 'b' + way));
    };
    if (way < 2) {
      ReadSectionGuard r(*t);
      BlobReadSectionGuard b(*t);
      check();
    } else if (way == 2) {
      TableLockGuard g(*t);
      BlobReadSectionGuard b(*t);
      check();
    } else {
      WriteSectionGuard w(*t);
      check();
    }
  }
}

TEST_F(LockChangeTest, AFailureInsideAnyStepOfTheWriteFrameLeavesNoLock) {
  const std::pair<Step, bool> cases[] = {
      {Step::kSemaphore, false}, {Step::kIndexLock, false}, {Step::kBlobLock, false},
      {Step::kDataRead, false},  {Step::kChecks, false},    {Step::kRecordLock, false},
      {Step::kWrite, false},     {Step::kIndexUnlock, false}, {Step::kSemaphore, true},
      {Step::kChecks, true},     {Step::kWrite, true}};
  for (const auto& [step, table_locked] : cases) {
    SCOPED_TRACE(static_cast<int>(step) * 10 + table_locked);
    FaultyTable t;
    t.SetFileName(Table());
    t.Open();
    if (table_locked) t.LockTable();
    t.fail_at = step;
    EXPECT_EQ(CodeOf([&] {
                WriteSectionGuard w(t);
                w.LockRecord(2);
                SetText(t, 2, "changed");
                t.FlushTable(false);
                w.Release();
              }),
              9218);
    t.fail_at = Step::kNone;
    EXPECT_EQ(t.TableLocked(), table_locked);
    if (table_locked) t.UnlockTable();
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
// damaged index or BLOB header behind.
TEST_F(LockChangeTest, RealFailuresInTheFrameReleaseEverything) {
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
  EXPECT_EQ(ProcLocks(File("DAT")), Ranges({{kRecordTop - 2, 1}})) << "only the other's lock";
  holder.Send('q');
  EXPECT_EQ(holder.Wait(), 0);
  ExpectNothingHeld(*t);
  for (const char* ext : {"BLB", "IDX"}) {
    SCOPED_TRACE(ext);
    (void)TextOf(*t, 1);
    // A header cut short (the counter changed first), as a crashed writer
    // might leave it.
    auto bytes = ReadBytes(File(ext));
    bytes[0] ^= 0xEE;
    bytes.resize(100);
    WriteBytes(File(ext), bytes);
    EXPECT_NE(CodeOf([&] { WriteSectionGuard w(*t); }), 0);
    EXPECT_NE(CodeOf([&] { BlobReadSectionGuard r(*t); ReadSectionGuard s(*t); }), 0);
    if (ext[0] == 'I') {
      EXPECT_NE(CodeOf([&] { t->LockTable(); }), 0);
      EXPECT_FALSE(t->TableLocked());
    }
    ExpectNothingHeld(*t);
  }
}

}  // namespace
}  // namespace storage
