// The BLOB file on disk: header and block bytes against the layout, the
// free list, the block cache, flush failures, the header change check, the
// byte-range locks, truncation and alignment.
#include "tests/storage/blob_test_support.h"
#include "tests/storage/lock_test_support.h"

namespace storage::blobtest {
namespace {

TEST_F(BlobTest, NewFileIsExactlyTheHeader) {
  Create(512);
  file_->Close();
  Bytes b = ReadFileBytes();
  ASSERT_EQ(b.size(), 512u);
  EXPECT_EQ(U32At(b, 0), 1u);  // the creation wrote the header once
  EXPECT_EQ(b[8], 3);
  EXPECT_EQ(U32At(b, 9), 0u);
  EXPECT_EQ(U32At(b, 13), 512u);
  EXPECT_EQ(U32At(b, 4), 0u);
  for (std::size_t i = 17; i < 512; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST_F(BlobTest, BlockBytesFollowTheLayout) {
  // B = 64: a data area of 46 bytes. 46 bytes take one block, 47 take two.
  Create(64);
  std::mt19937 rng(1);
  Bytes one = RandomBytes(rng, 46);
  Bytes two = RandomBytes(rng, 47);
  const std::uint32_t a = Store(one, 7);
  const std::uint32_t c = Store(two, 9);
  EXPECT_EQ(a, 512u);
  EXPECT_EQ(c, 512u + 64u);
  file_->FlushBlob();
  Bytes b = ReadFileBytes();
  ASSERT_EQ(b.size(), 512u + 3 * 64u);
  EXPECT_EQ(U32At(b, 13), 512u + 3 * 64u);
  // Block at 512: the whole one-block value.
  EXPECT_EQ(U32At(b, 512 + 0), 0u);
  EXPECT_EQ(U32At(b, 512 + 4), 0u);
  EXPECT_EQ(LoadLittle<std::uint16_t>(&b[512 + 8]), 46);
  EXPECT_EQ(U32At(b, 512 + 10), 7u);
  EXPECT_EQ(U32At(b, 512 + 14), 46u);
  EXPECT_TRUE(std::equal(one.begin(), one.end(), b.begin() + 512 + 18));
  // Chain 576 -> 640.
  EXPECT_EQ(U32At(b, 576 + 0), 0u);
  EXPECT_EQ(U32At(b, 576 + 4), 640u);
  EXPECT_EQ(LoadLittle<std::uint16_t>(&b[576 + 8]), 46);
  EXPECT_EQ(U32At(b, 576 + 10), 9u);
  EXPECT_EQ(U32At(b, 576 + 14), 47u);
  EXPECT_EQ(U32At(b, 640 + 0), 576u);
  EXPECT_EQ(U32At(b, 640 + 4), 0u);
  EXPECT_EQ(LoadLittle<std::uint16_t>(&b[640 + 8]), 1);
  EXPECT_EQ(U32At(b, 640 + 10), 9u);
  EXPECT_EQ(U32At(b, 640 + 14), 0u);
  EXPECT_EQ(b[640 + 18], two[46]);
  std::string out = Check({{a, 7}, {c, 9}});
  EXPECT_NE(out.find("chain 576 length 47"), std::string::npos) << out;
}

TEST_F(BlobTest, ScrambledFileReadsBackAndChecksWithThePair) {
  owner_.encrypted = true;
  Create(128);
  std::mt19937 rng(2);
  Bytes v = RandomBytes(rng, 1000);
  const std::uint32_t first = Store(v, 3);
  file_->FlushBlob();
  Bytes raw = ReadFileBytes();
  // Header and blocks are not plain on disk.
  EXPECT_NE(raw[8], 3);
  EXPECT_FALSE(std::equal(v.begin(), v.begin() + 50, raw.begin() + first + 18));
  Check({{first, 3}}, true, true);
  Check({{first, 3}}, false, false);
  Reopen();
  EXPECT_EQ(Load(first), v);
}

// A value of three blocks shrunk to one gives two blocks to the free list;
// the next allocation reuses the last one freed, and nothing is leaked.
TEST_F(BlobTest, ShrinkFreesSurplusBlocksAndReusesThem) {
  Create(64);
  std::mt19937 rng(3);
  const std::uint32_t first = Store(RandomBytes(rng, 46 * 3), 1);
  file_->FlushBlob();
  const std::uint32_t size_before = file_->GetEndOffset();
  Bytes small = RandomBytes(rng, 10);
  EXPECT_EQ(Store(small, 1, first), first);
  EXPECT_EQ(file_->GetFreeListHead(), first + 2 * 64);  // the chain's tail, freed from its start
  file_->FlushBlob();
  std::string out = Check({{first, 1}});
  EXPECT_NE(out.find("free 2"), std::string::npos) << out;
  const std::uint32_t again = Store(RandomBytes(rng, 5), 2);
  EXPECT_EQ(again, first + 2 * 64);
  EXPECT_EQ(file_->GetEndOffset(), size_before);
  file_->FlushBlob();
  Check({{first, 1}, {again, 2}});
}

TEST_F(BlobTest, TruncatingToZeroFreesTheWholeChain) {
  Create(64);
  std::mt19937 rng(4);
  const std::uint32_t first = Store(RandomBytes(rng, 200), 1);
  EXPECT_EQ(Store({}, 1, first), 0u);
  file_->FlushBlob();
  std::string out = Check({});
  EXPECT_NE(out.find("free 5"), std::string::npos) << out;
}

// Freeing a one-block value while the free list is empty dirties no block
// (its next pointer stays 0); only the header changes. That change must
// still reach the file, or the block leaks and other programs never see it.
TEST_F(BlobTest, HeaderChangeIsWrittenWithoutDirtyBlocks) {
  Create(512, false);
  const std::uint32_t first = Store(Bytes(20, 0x41), 1);
  file_->FlushBlob();
  const std::uint32_t counter = U32At(ReadFileBytes(), 0);
  EXPECT_EQ(Store({}, 1, first), 0u);
  EXPECT_EQ(file_->DirtyBlockCount(), 0u);
  EXPECT_TRUE(file_->FlushBlobBlocks());
  file_->WriteBlobHeader();
  Bytes b = ReadFileBytes();
  EXPECT_EQ(U32At(b, 0), counter + 1);
  EXPECT_EQ(U32At(b, 9), first);
  Check({});
  EXPECT_FALSE(file_->FlushBlobBlocks());
}

TEST_F(BlobTest, FailedWriteKeepsBlocksDirtyAndRaises) {
  Create(64);
  std::mt19937 rng(5);
  Bytes v = RandomBytes(rng, 400);
  const std::uint32_t first = Store(v, 4);
  const std::size_t dirty = file_->DirtyBlockCount();
  ASSERT_GT(dirty, 0u);
  file_->fail = true;
  EXPECT_EQ(CodeOf([&] { file_->FlushBlobBlocks(); }), 9218);
  EXPECT_EQ(file_->DirtyBlockCount(), dirty);
  EXPECT_GT(file_->failed, 0);
  file_->fail = false;
  EXPECT_TRUE(file_->FlushBlobBlocks());
  EXPECT_EQ(file_->DirtyBlockCount(), 0u);
  file_->WriteBlobHeader();
  Check({{first, 4}});
  Reopen();
  EXPECT_EQ(Load(first), v);
}

// Eviction under cache pressure flushes; a failing flush surfaces from the
// write that needed the slot and loses nothing once the disk is back.
TEST_F(BlobTest, FailedEvictionFlushLosesNothing) {
  Create(4096);  // capacity 63 blocks
  ASSERT_EQ(file_->CacheCapacity(), 63u);
  std::mt19937 rng(6);
  Bytes big = RandomBytes(rng, 4078 * 100);
  file_->fail = true;
  std::int32_t h = 0;
  ASSERT_EQ(file_->OpenBlob(0, 1, h), 0);
  ASSERT_EQ(file_->WriteBlob(h, 0, static_cast<std::int32_t>(big.size()), big.data()), 0);
  file_->SetBlobRecordNumbers(1);
  EXPECT_EQ(CodeOf([&] { file_->SaveModifiedBlobs(); }), 9218);
  EXPECT_EQ(file_->PinnedBlockCount(), 0u);
  file_->fail = false;
  file_->SaveModifiedBlobs();  // still modified: written again in place
  std::uint32_t first = 0;
  ASSERT_EQ(file_->CloseBlob(h, &first), 0);
  file_->FlushBlob();
  Check({{first, 1}});
  Reopen();
  EXPECT_EQ(Load(first), big);
}

TEST_F(BlobTest, CacheCapacityFollowsBlockSizeAndBatchGrowsIt) {
  struct Case {
    std::uint32_t field, capacity;
  } cases[] = {{512, 511}, {64, 4095}, {4096, 63}, {0, 511}, {0x10000 + 64, 4095}};
  for (const Case& c : cases) {
    owner_.block_size = c.field;
    TBlobFile f(&owner_);
    f.SetFileName(dir_ + "/C" + std::to_string(c.field));
    f.SetExclusive(true);
    f.CreateFile();
    EXPECT_EQ(f.CacheCapacity(), c.capacity) << c.field;
    f.Close();
  }
  Create(4096);
  owner_.batch = true;
  std::mt19937 rng(7);
  const std::uint32_t first = Store(RandomBytes(rng, 4078 * 70), 1);
  EXPECT_EQ(file_->CacheCapacity(), 63u + 256u);
  EXPECT_EQ(ReadFileBytes().size(), 512u);  // nothing written inside the batch
  owner_.batch = false;
  file_->FlushBlob();
  file_->ResetBlockCacheSize();
  EXPECT_EQ(file_->CacheCapacity(), 63u);
  EXPECT_LE(file_->CachedBlockCount(), 63u);
  Check({{first, 1}});
}

TEST_F(BlobTest, BlockSizeBelowMinimumIsRefused) {
  Create(512);
  file_->Close();
  owner_.block_size = 40;
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 8963);
  EXPECT_FALSE(file_->IsOpen());
}

TEST_F(BlobTest, AnotherWriterIsNoticedThroughTheCounter) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    owner_.encrypted = encrypted;  // the counter is compared in plain form
    Create(64, false);
    std::mt19937 rng(8);
    Bytes v1 = RandomBytes(rng, 100);
    const std::uint32_t first = Store(v1, 1);
    file_->FlushBlob();
    auto other = OpenAnother();
    other->CheckBlobHeaderChanged();
    auto read = [&] {
      std::int32_t h = 0;
      EXPECT_EQ(other->OpenBlob(first, 1, h), 0);
      Bytes got(100);
      std::int32_t n = 0;
      EXPECT_EQ(other->ReadBlob(h, 0, n, 100, got.data()), 0);
      EXPECT_EQ(other->CloseBlob(h), 0);
      return got;
    };
    EXPECT_EQ(read(), v1);  // the other handler now caches the chain
    // The first writer rewrites the value in place.
    Bytes v2 = RandomBytes(rng, 100);
    Store(v2, 1, first);
    file_->FlushBlob();
    other->SetHeaderChecked(true);
    other->CheckBlobHeaderChanged();  // a checked header is trusted
    EXPECT_EQ(read(), v1);
    other->SetHeaderChecked(false);
    other->CheckBlobHeaderChanged();
    EXPECT_EQ(other->ChangeCounter(), file_->ChangeCounter());
    EXPECT_EQ(read(), v2);
    other->Close();
    file_->Close();
  }
}

TEST_F(BlobTest, LocksExcludeWritersAndAdmitReaders) {
  Create(512, false);
  auto other = OpenAnother();
  file_->LockBlobFileShared();
  EXPECT_TRUE(owner_.read_locked);
  const std::uint16_t r = file_->ReadLockOffset();
  EXPECT_GE(r, 1);
  EXPECT_LE(r, 65534);
  // A writer cannot get in; another reader can.
  EXPECT_FALSE(other->LockRange(locktest::kWriteStart, locktest::kWriteLength, true));
  other->LockBlobFileShared();
  other->UnlockBlobFileShared();
  file_->SetHeaderChecked(true);
  file_->UnlockBlobFileShared();
  EXPECT_FALSE(file_->HeaderChecked());
  other->LockBlobFile();
  EXPECT_FALSE(file_->LockRange(locktest::kReadTop - r, 1, true));
  other->UnlockBlobFile();
  EXPECT_TRUE(file_->LockRange(locktest::kReadTop - r, 1, true));
  EXPECT_TRUE(file_->LockRange(locktest::kReadTop - r, 1, false));
}

// Another program holding the write lock keeps this one from reading and
// writing; once it lets go, both locks are ours.
TEST_F(BlobTest, WriteLockOfAnotherProcessExcludesUs) {
  Create(512, false);
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int rc = 0;
    try {
      auto other = OpenAnother();
      other->LockBlobFile();
      char c = 'L';
      if (write(to_parent[1], &c, 1) != 1) rc = 2;
      if (read(to_child[0], &c, 1) != 1) rc = 3;
      other->UnlockBlobFile();
      if (write(to_parent[1], &c, 1) != 1) rc = 4;
      if (read(to_child[0], &c, 1) != 1) rc = 5;
    } catch (...) {
      rc = 1;
    }
    _exit(rc);
  }
  char c = 0;
  ASSERT_EQ(read(to_parent[0], &c, 1), 1);
  EXPECT_FALSE(file_->LockRange(locktest::kWriteStart, locktest::kWriteLength, true));
  EXPECT_FALSE(file_->LockRange(locktest::kReadTop - 1, 1, true));
  EXPECT_FALSE(file_->LockRange(locktest::kReadTop - 65534, 1, true));
  ASSERT_EQ(write(to_child[1], &c, 1), 1);
  ASSERT_EQ(read(to_parent[0], &c, 1), 1);
  file_->LockBlobFileShared();
  file_->UnlockBlobFileShared();
  file_->LockBlobFile();
  EXPECT_TRUE(owner_.write_locked);
  file_->UnlockBlobFile();
  EXPECT_FALSE(owner_.write_locked);
  ASSERT_EQ(write(to_child[1], &c, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
}

TEST_F(BlobTest, AlignCutsAPartialBlockAndKeepsTheHeader) {
  Create(64);
  file_->Close();
  Bytes b = ReadFileBytes();
  b.resize(512 + 3 * 64 + 10, 0);
  WriteFileBytes(b);
  file_->Open();
  file_->AlignBlobFile();
  ASSERT_EQ(owner_.log.size(), 1u);
  EXPECT_EQ(owner_.log[0], "BLOB blocks not aligned on even block size boundaries, error fixed");
  EXPECT_EQ(file_->GetEndOffset(), 512u + 3 * 64u);
  EXPECT_EQ(file_->GetFreeListHead(), 0u);
  file_->WriteBlobHeader();
  EXPECT_EQ(ReadFileBytes().size(), 512u + 3 * 64u);

  // A file cut inside its header: new blocks still start at 512.
  owner_.log.clear();
  file_->Close();
  b = ReadFileBytes();
  b.resize(512);
  WriteFileBytes(b);
  file_->Open();
  file_->Seek(100, 0);
  file_->Write(nullptr, 0);
  file_->AlignBlobFile();
  EXPECT_TRUE(owner_.log.empty());
  EXPECT_EQ(file_->GetEndOffset(), 512u);
  const std::uint32_t first = Store(Bytes(30, 7), 2);
  EXPECT_EQ(first, 512u);
  file_->FlushBlob();
  Check({{first, 2}});
}

TEST_F(BlobTest, TruncateEmptiesTheFileAndDropsCachedBlocks) {
  Create(64);
  const std::uint32_t first = Store(Bytes(300, 1), 1);
  file_->TruncateBlobFile();
  file_->FlushBlob();
  EXPECT_EQ(ReadFileBytes().size(), 512u);
  EXPECT_EQ(file_->GetEndOffset(), 512u);
  // The old dirty blocks must not come back at the next flush.
  const std::uint32_t again = Store(Bytes(10, 2), 2);
  EXPECT_EQ(again, first);
  file_->FlushBlob();
  std::string out = Check({{again, 2}});
  EXPECT_NE(out.find("free 0"), std::string::npos);
}

TEST_F(BlobTest, ShortOrWrongVersionHeaderIsRefused) {
  Create(512);
  file_->Close();
  Bytes b = ReadFileBytes();
  b[8] = 2;
  WriteFileBytes(b);
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 12035);
  EXPECT_FALSE(file_->IsOpen());
  b.resize(100);
  WriteFileBytes(b);
  file_->SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 9221);
  file_->SetExclusive(false);
  EXPECT_NE(CodeOf([&] { file_->Open(); }), 0);
  EXPECT_FALSE(file_->IsOpen());
}

}  // namespace
}  // namespace storage::blobtest
