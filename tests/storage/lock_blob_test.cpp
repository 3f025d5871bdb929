// The BLOB file's part in sharing a table: its write and read lock bytes,
// readers against a writer, change detection of cached blocks, and
// failures inside the write frame of a table with BLOB fields.
#include <string>

#include "storage/blob_file.h"
#include "tests/storage/lock_test_support.h"

namespace storage {
namespace {

using namespace locktest;
using Clock = std::chrono::steady_clock;

// Writes value as a new BLOB (first = 0) or over an existing chain; returns
// the first block.
std::uint32_t StoreBlob(TBlobFile& b, const std::string& value, std::uint32_t first) {
  std::int32_t h = 0;
  if (b.OpenBlob(first, 3, h) != 0) return 0;
  if (b.WriteBlob(h, 0, static_cast<std::int32_t>(value.size()), value.data()) != 0) return 0;
  b.SetBlobRecordNumbers(1);
  b.SaveModifiedBlobs();
  std::uint32_t out = 0;
  return b.CloseBlob(h, &out) == 0 ? out : 0;
}

std::string LoadBlob(TBlobFile& b, std::uint32_t first, std::size_t size) {
  std::int32_t h = 0;
  if (b.OpenBlob(first, 3, h) != 0) return {};
  std::string s(size, '\0');
  std::int32_t n = 0;
  const std::uint16_t read = b.ReadBlob(h, 0, n, static_cast<std::int32_t>(size), s.data());
  if (b.CloseBlob(h) != 0 || read != 0) return {};
  s.resize(static_cast<std::size_t>(n));
  return s;
}

class LockBlobTest : public LockTestBase {
 protected:
  void SetUp() override {
    LockTestBase::SetUp();
    CreateTable(true);
    auto t = Open(15, 100, /*exclusive=*/true);
    first_ = StoreBlob(t->BlobFile(), std::string(700, 'a'), 0);
    t->FlushTable(false);
    t->Close();
    ASSERT_NE(first_, 0u);
  }
  [[nodiscard]] std::string Blb() const { return Path("T.BLB"); }
  [[nodiscard]] std::string Dat() const { return Path("T.DAT"); }

  std::uint32_t first_ = 0;
};

TEST_F(LockBlobTest, WriteAndReadLockBytes) {
  auto t = Open();
  {
    WriteSectionGuard w(*t);
    EXPECT_EQ(ProcLocks(Blb()), Ranges({{kWriteStart, kWriteLength}}));
    EXPECT_TRUE(t->BlobFile().HeaderChecked());
  }
  EXPECT_EQ(ProcLocks(Blb()), Ranges({}));
  EXPECT_FALSE(t->BlobFile().HeaderChecked());
  {
    BlobReadSectionGuard r(*t);
    const auto held = ProcLocks(Blb());
    ASSERT_EQ(held.size(), 1u);
    const std::int64_t r_byte = 0x7FFFFFFF - t->BlobFile().ReadLockOffset();
    EXPECT_EQ(held.begin()->start, r_byte);
    EXPECT_EQ(held.begin()->length, 1);
    EXPECT_GE(t->BlobFile().ReadLockOffset(), 1);
    EXPECT_LE(t->BlobFile().ReadLockOffset(), 65534);
    // Nested sections take nothing more.
    BlobReadSectionGuard again(*t);
    EXPECT_EQ(ProcLocks(Blb()).size(), 1u);
  }
  EXPECT_EQ(ProcLocks(Blb()), Ranges({}));
}

TEST_F(LockBlobTest, ReadersPassEachOtherAndWaitForAWriter) {
  Peer child([&](Peer& p) {
    auto t = Open();
    {
      BlobReadSectionGuard r(*t);
      p.Send('r');
      if (p.Receive() != 'n') return 1;
    }
    WriteSectionGuard w(*t);
    p.Send('w');
    if (p.Receive() != 'g') return 2;
    usleep(400 * 1000);
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'r');
  auto t = Open();
  {
    BlobReadSectionGuard r(*t);
    EXPECT_EQ(ProcLocks(Blb()).size(), 2u);
  }
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'w');
  const auto t0 = Clock::now();
  child.Send('g');
  {
    BlobReadSectionGuard r(*t);
    EXPECT_GE(SecondsSince(t0), 0.35);
  }
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(LockBlobTest, AnotherWritersBlobHeaderDropsCachedBlocks) {
  auto t = Open();
  {
    BlobReadSectionGuard r(*t);
    EXPECT_EQ(LoadBlob(t->BlobFile(), first_, 700), std::string(700, 'a'));
  }
  Peer writer([&](Peer&) {
    auto o = Open();
    WriteSectionGuard w(*o);
    if (StoreBlob(o->BlobFile(), std::string(700, 'b'), first_) != first_) return 1;
    o->FlushTable(false);
    return 0;
  });
  ASSERT_EQ(writer.Wait(), 0);
  // Cached until the next check.
  EXPECT_EQ(LoadBlob(t->BlobFile(), first_, 700), std::string(700, 'a'));
  {
    BlobReadSectionGuard r(*t);
    EXPECT_EQ(LoadBlob(t->BlobFile(), first_, 700), std::string(700, 'b'));
  }
}

class FailingBlobLock : public TDataFile {
 public:
  bool fail = false;

 protected:
  void LockBlobForWrite() override {
    TDataFile::LockBlobForWrite();
    if (fail) EngineError(ErrorCode::kWriteError, FileName());
  }
};

TEST_F(LockBlobTest, FailuresInTheFrameLeaveTheBlobFileUnlocked) {
  FailingBlobLock t;
  t.SetFileName(Table());
  t.Open();
  t.fail = true;
  EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(t); }), 9218);
  t.fail = false;
  EXPECT_EQ(ProcLocks(Blb()), Ranges({}));
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_EQ(ProcLocks(Path("T.IDX")), Ranges({}));
  EXPECT_FALSE(t.BlobFile().HeaderChecked());

  // A damaged BLOB header (changed counter, cut short) fails the check.
  {
    std::FILE* f = std::fopen(Blb().c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const unsigned char junk[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::fwrite(junk, 1, 4, f);
    std::fclose(f);
    ASSERT_EQ(truncate(Blb().c_str(), 100), 0);
  }
  EXPECT_NE(CodeOf([&] { WriteSectionGuard w(t); }), 0);
  EXPECT_NE(CodeOf([&] { BlobReadSectionGuard r(t); }), 0);
  EXPECT_EQ(ProcLocks(Blb()), Ranges({}));
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_EQ(ProcLocks(Path("T.IDX")), Ranges({}));
  // The damaged file no longer opens as a table: the probe takes the
  // ranges on the bare files.
  Peer probe([&](Peer&) {
    TFileHandler dat;
    dat.SetFileName(Dat());
    dat.Open();
    TFileHandler blb;
    blb.SetFileName(Blb());
    blb.Open();
    int busy = 0;
    if (!dat.LockRange(kSemaphore, 1, true)) busy |= 1;
    if (!dat.LockRange(kTableStart, kTableLength, true)) busy |= 2;
    if (!blb.LockRange(kWriteStart, kWriteLength, true)) busy |= 4;
    return busy;
  });
  EXPECT_EQ(probe.Wait(), 0);
}

}  // namespace
}  // namespace storage
