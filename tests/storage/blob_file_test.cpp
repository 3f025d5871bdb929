// The BLOB file: header and block bytes against the layout; random values
// of 0 bytes to megabytes stored, rewritten, shrunk and freed against a
// std::map model across block sizes, read back before and after reopening
// and walked by tests/tools/blbcheck.py; the free list, the block cache
// and its failures, the header change check, alignment and truncation, and
// the open-value table at its edges.
#include <map>

#include "tests/storage/blob_test_support.h"

namespace storage::blobtest {
namespace {

// B = 64: a data area of 46 bytes. 46 bytes take one block, 47 take two.
TEST_F(BlobTest, FileBytesFollowTheLayout) {
  Create(64);
  Bytes header = FileBytes();
  ASSERT_EQ(header.size(), 512u);
  Bytes want_header(512, 0);
  PutU32(want_header, 0, 1);  // the creation wrote the header once
  want_header[8] = 3;
  PutU32(want_header, 13, 512);
  EXPECT_EQ(header, want_header);
  std::mt19937 rng(1);
  const Bytes one = RandomBytes(rng, 46), two = RandomBytes(rng, 47);
  EXPECT_EQ(Store(one, 7), 512u);
  EXPECT_EQ(Store(two, 9), 576u);
  file_->FlushBlob();
  const Bytes b = FileBytes();
  ASSERT_EQ(b.size(), 512u + 3 * 64u);
  EXPECT_EQ(U32At(b, 13), 512u + 3 * 64u);
  // Per block: previous, next, bytes used (16 bits), record, total length
  // (first block only), data.
  const struct {
    std::size_t at;
    std::uint32_t prev, next, used, record, total;
  } blocks[] = {{512, 0, 0, 46, 7, 46}, {576, 0, 640, 46, 9, 47}, {640, 576, 0, 1, 9, 0}};
  for (const auto& k : blocks) {
    SCOPED_TRACE(k.at);
    EXPECT_EQ(U32At(b, k.at), k.prev);
    EXPECT_EQ(U32At(b, k.at + 4), k.next);
    EXPECT_EQ(LoadLittle<std::uint16_t>(&b[k.at + 8]), k.used);
    EXPECT_EQ(U32At(b, k.at + 10), k.record);
    EXPECT_EQ(U32At(b, k.at + 14), k.total);
  }
  EXPECT_TRUE(std::equal(one.begin(), one.end(), b.begin() + 512 + 18));
  EXPECT_EQ(b[640 + 18], two[46]);
  EXPECT_TRUE(tooltest::HasLine(Check({{512, 7}, {576, 9}}), "chain 576 length 47 crc " + [&] {
    char s[9];
    std::snprintf(s, sizeof s, "%08x", Crc32(two));
    return std::string(s);
  }()));
}

class BlobRoundTrip : public BlobTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BlobRoundTrip, RandomValuesMatchTheModel) {
  const std::uint32_t bs = GetParam();
  const std::size_t data = bs - 18;
  Create(bs);
  std::mt19937 rng(bs);
  auto size = [&]() -> std::size_t {
    switch (rng() % 8) {
      case 0: return 0;
      case 1: return data;      // exactly one block
      case 2: return data + 1;  // one byte into a second block
      case 3: return 1 + rng() % (3 * 1024 * 1024 / kSlow);
      default: return rng() % (data * 20);
    }
  };
  std::map<std::uint32_t, std::pair<std::uint32_t, Bytes>> model;  // record -> (first, value)
  std::uint32_t next_record = 1;
  for (int step = 0; step < 60; ++step) {
    const unsigned op = rng() % 10;
    if (op < 5 || model.empty()) {
      Bytes v = RandomBytes(rng, size());
      model[next_record] = {Store(v, next_record), v};
      ++next_record;
      continue;
    }
    auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
    if (op < 8) {
      it->second.second = RandomBytes(rng, size());
      it->second.first = Store(it->second.second, it->first, it->second.first);
    } else {
      file_->FreeBlobChainAt(it->second.first, it->first);
      EXPECT_EQ(it->second.first, 0u);
      model.erase(it);
    }
    for (auto& [rec, fv] : model) {
      if (step % 20 == 19) {
        ASSERT_EQ(Load(fv.first, rec), fv.second) << rec;
      }
    }
  }
  // Long chains built both ways: one new, one grown in place and shrunk.
  Bytes v = RandomBytes(rng, 5 * 1024 * 1024 / kSlow + 7);
  model[next_record] = {Store(v, next_record), v};
  auto& [first, value] = model.begin()->second;
  first = Store(RandomBytes(rng, 4 * 1024 * 1024 / kSlow), model.begin()->first, first);
  value = RandomBytes(rng, 1024 * 1024 / kSlow + 3);
  first = Store(value, model.begin()->first, first);
  EXPECT_EQ(file_->PinnedBlockCount(), 0u);
  Reopen();  // writes the dirty blocks and the header
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  for (auto& [rec, fv] : model) {
    ASSERT_EQ(Load(fv.first, rec), fv.second) << rec;
    chains.emplace_back(fv.first, rec);
  }
  const std::string out = Check(chains);
  for (auto& [rec, fv] : model) {
    if (fv.first == 0) continue;
    char line[80];
    std::snprintf(line, sizeof line, "chain %u length %zu crc %08x", fv.first, fv.second.size(), Crc32(fv.second));
    EXPECT_TRUE(tooltest::HasLine(out, line)) << line << "\n" << out;
  }
}

// The free list is used before the file grows, last freed first: storing,
// freeing and storing again values of the same sizes keeps the length.
TEST_P(BlobRoundTrip, FreedChainsAreReused) {
  const std::uint32_t bs = GetParam();
  Create(bs);
  std::mt19937 rng(bs + 1);
  std::vector<std::size_t> sizes;
  std::vector<std::uint32_t> firsts;
  for (int i = 0; i < 10; ++i) {
    sizes.push_back(1 + rng() % (bs * 8));
    firsts.push_back(Store(RandomBytes(rng, sizes.back()), 1));
  }
  const std::uint32_t end = file_->GetEndOffset();
  for (auto& f : firsts) file_->FreeBlobChainAt(f, 1);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  for (std::size_t s : sizes) chains.emplace_back(Store(RandomBytes(rng, s), 2), 2);
  EXPECT_EQ(file_->GetEndOffset(), end);
  file_->FlushBlob();
  EXPECT_TRUE(tooltest::HasLine(Check(chains), "free 0"));
  // A chain of three blocks shrunk to one gives its tail to the free list,
  // from its start; the next one-block value takes the last freed.
  const std::uint32_t f3 = Store(RandomBytes(rng, (bs - 18) * 3), 3);
  const std::uint32_t end3 = file_->GetEndOffset();
  EXPECT_EQ(Store(Bytes(10, 1), 3, f3), f3);
  EXPECT_EQ(file_->GetFreeListHead(), f3 + 2 * bs);
  EXPECT_EQ(Store(Bytes(5, 2), 4), f3 + 2 * bs);
  EXPECT_EQ(file_->GetEndOffset(), end3);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, BlobRoundTrip, ::testing::Values(64u, 512u, 4096u));

TEST_F(BlobTest, ScrambledFileReadsBackAndChecksWithThePair) {
  owner_.encrypted = true;
  Create(128);
  std::mt19937 rng(2);
  const Bytes v = RandomBytes(rng, 1000);
  const std::uint32_t first = Store(v, 3);
  file_->FlushBlob();
  EXPECT_NE(FileBytes()[8], 3);  // the header is not plain on disk
  Check({{first, 3}}, true, true);
  Check({{first, 3}}, false, false);
  Reopen();
  EXPECT_EQ(Load(first), v);
}

// Freeing a one-block value while the free list is empty dirties no block;
// only the header changes, and that change must still reach the file, or
// the block leaks and other programs never see it.
TEST_F(BlobTest, HeaderChangeIsWrittenWithoutDirtyBlocks) {
  Create(512, false);
  const std::uint32_t first = Store(Bytes(20, 0x41), 1);
  file_->FlushBlob();
  const std::uint32_t counter = U32At(FileBytes(), 0);
  EXPECT_EQ(Store({}, 1, first), 0u);
  EXPECT_EQ(file_->DirtyBlockCount(), 0u);
  EXPECT_TRUE(file_->FlushBlobBlocks());
  file_->WriteBlobHeader();
  EXPECT_EQ(U32At(FileBytes(), 0), counter + 1);
  EXPECT_EQ(U32At(FileBytes(), 9), first);
  Check({});
  EXPECT_FALSE(file_->FlushBlobBlocks());
}

// A failing flush (direct, or of an eviction under cache pressure) keeps
// the blocks dirty and loses nothing once the disk is back.
TEST_F(BlobTest, FailedFlushesLoseNothing) {
  Create(4096);  // capacity 63 blocks
  std::mt19937 rng(6);
  const Bytes big = RandomBytes(rng, 4078 * 100);
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
  const Bytes small = RandomBytes(rng, 9000);
  const std::uint32_t second = Store(small, 2);
  const std::size_t dirty = file_->DirtyBlockCount();
  file_->fail = true;
  EXPECT_EQ(CodeOf([&] { file_->FlushBlobBlocks(); }), 9218);
  EXPECT_EQ(file_->DirtyBlockCount(), dirty);
  file_->fail = false;
  file_->FlushBlob();
  Check({{first, 1}, {second, 2}});
  Reopen();
  EXPECT_EQ(Load(first), big);
  EXPECT_EQ(Load(second), small);
}

TEST_F(BlobTest, CacheCapacityFollowsBlockSizeAndBatchGrowsIt) {
  for (auto [field, capacity] : {std::pair<std::uint32_t, std::size_t>{512, 511}, {64, 4095}, {4096, 63},
                                 {0, 511}, {0x10000 + 64, 4095}}) {
    owner_.block_size = field;
    TBlobFile f(&owner_);
    f.SetFileName(scratch_ / ("C" + std::to_string(field)));
    f.SetExclusive(true);
    f.CreateFile();
    EXPECT_EQ(f.CacheCapacity(), capacity) << field;
  }
  Create(4096);
  owner_.batch = true;
  std::mt19937 rng(7);
  const std::uint32_t first = Store(RandomBytes(rng, 4078 * 70), 1);
  EXPECT_EQ(file_->CacheCapacity(), 63u + 256u);
  EXPECT_EQ(FileBytes().size(), 512u);  // nothing written inside the batch
  owner_.batch = false;
  file_->FlushBlob();
  file_->ResetBlockCacheSize();
  EXPECT_EQ(file_->CacheCapacity(), 63u);
  EXPECT_LE(file_->CachedBlockCount(), 63u);
  Check({{first, 1}});
}

// Another handle rewrites a value in place: a checked header is trusted,
// an unchecked one is compared (in plain form) and the cache dropped.
TEST_F(BlobTest, AnotherWriterIsNoticedThroughTheCounter) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    owner_.encrypted = encrypted;
    Create(64, false);
    std::mt19937 rng(8);
    const Bytes v1 = RandomBytes(rng, 100), v2 = RandomBytes(rng, 100);
    const std::uint32_t first = Store(v1, 1);
    file_->FlushBlob();
    FailingBlobFile other(&owner_);
    other.SetFileName(Path());
    other.Open();
    other.CheckBlobHeaderChanged();
    auto read = [&] {
      std::int32_t h = 0, n = 0;
      Bytes got(100);
      EXPECT_EQ(other.OpenBlob(first, 1, h), 0);
      EXPECT_EQ(other.ReadBlob(h, 0, n, 100, got.data()), 0);
      EXPECT_EQ(other.CloseBlob(h), 0);
      return got;
    };
    EXPECT_EQ(read(), v1);  // now cached there
    Store(v2, 1, first);
    file_->FlushBlob();
    other.SetHeaderChecked(true);
    other.CheckBlobHeaderChanged();
    EXPECT_EQ(read(), v1);
    other.SetHeaderChecked(false);
    other.CheckBlobHeaderChanged();
    EXPECT_EQ(read(), v2);
    other.Close();
    file_->Close();
  }
}

TEST_F(BlobTest, BadHeadersAreRefused) {
  Create(512);
  file_->Close();
  owner_.block_size = 40;  // below the minimum
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 8963);
  owner_.block_size = 512;
  Bytes b = FileBytes();
  b[8] = 2;
  SetFileBytes(b);
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 12035);
  b.resize(100);
  SetFileBytes(b);
  file_->SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 9221);
  EXPECT_FALSE(file_->IsOpen());
}

// A partial block at the end is cut with a log line; a file cut inside its
// header still gets new blocks at 512. Truncating drops cached blocks,
// which must not come back at the next flush.
TEST_F(BlobTest, AlignAndTruncate) {
  Create(64);
  file_->Close();
  Bytes b = FileBytes();
  b.resize(512 + 3 * 64 + 10, 0);
  SetFileBytes(b);
  file_->Open();
  file_->AlignBlobFile();
  EXPECT_EQ(owner_.log, std::vector<std::string>{"BLOB blocks not aligned on even block size boundaries, error fixed"});
  EXPECT_EQ(file_->GetEndOffset(), 512u + 3 * 64u);
  file_->WriteBlobHeader();
  EXPECT_EQ(FileBytes().size(), 512u + 3 * 64u);
  owner_.log.clear();
  file_->Seek(100, 0);
  file_->Write(nullptr, 0);
  file_->AlignBlobFile();
  EXPECT_TRUE(owner_.log.empty());
  EXPECT_EQ(file_->GetEndOffset(), 512u);
  const std::uint32_t first = Store(Bytes(300, 1), 1);
  EXPECT_EQ(first, 512u);
  file_->TruncateBlobFile();
  file_->FlushBlob();
  EXPECT_EQ(FileBytes().size(), 512u);
  EXPECT_EQ(Store(Bytes(10, 2), 2), first);
  file_->FlushBlob();
  EXPECT_TRUE(tooltest::HasLine(Check({{first, 2}}), "free 0"));
}

// ---------------------------------------------------------------- handles

// At most 64 open values; closing moves the later ones down; a handle is
// never handed out twice; reads and writes at and past the edges.
TEST_F(BlobTest, OpenValuesAndTheirEdges) {
  Create(64);
  std::vector<std::int32_t> handles(64);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(file_->OpenBlob(0, static_cast<std::uint16_t>(i), handles[i]), 0);
  std::int32_t h = 0;
  EXPECT_EQ(file_->OpenBlob(0, 99, h), 9494);
  ASSERT_EQ(file_->CloseBlob(handles[1]), 0);
  EXPECT_EQ(file_->OpenBlobAt(1)->Handle(), handles[2]);
  for (std::int32_t bad : {handles[1], 0, -handles[3]}) EXPECT_EQ(file_->CloseBlob(bad), 10030);
  ASSERT_EQ(file_->OpenBlob(0, 1, h), 0);
  for (std::int32_t old : handles) EXPECT_NE(h, old);
  file_->CloseAllBlobs();
  EXPECT_EQ(file_->OpenBlobCount(), 0);

  ASSERT_EQ(file_->OpenBlob(0, 1, h), 0);
  EXPECT_FALSE(file_->FindBlob(h)->Modified());  // an empty value opens clean
  const Bytes v = {1, 2, 3, 4, 5};
  ASSERT_EQ(file_->WriteBlob(h, 3, 5, v.data()), 0);  // grows; bytes 0..2 zero
  std::array<std::uint8_t, 16> buf{};
  std::int32_t got = -1, size = 0;
  const struct {
    std::int32_t offset, count;
    std::uint16_t code;
    std::int32_t got;
  } reads[] = {
      {0, 8, 0, 8},       {7, 4, 8711, 1},        {8, 4, 8711, 0},        {9, 0, 8711, 0},
      {8, 0, 0, 0},       {-1, 4, 9998, 0},       {INT32_MAX, 1, 9998, 0}, {1, INT32_MAX, 9998, 0},
      {0, -1, 10029, 0},
  };
  for (const auto& c : reads) {
    EXPECT_EQ(file_->ReadBlob(h, c.offset, got, c.count, buf.data()), c.code) << c.offset << "," << c.count;
    EXPECT_EQ(got, c.got) << c.offset << "," << c.count;
  }
  EXPECT_EQ(file_->ReadBlob(h, 0, got, 8, buf.data()), 0);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 8), (Bytes{0, 0, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(file_->WriteBlob(h, -5, 1, v.data()), 9998);
  EXPECT_EQ(file_->WriteBlob(h, INT32_MAX - 2, 5, v.data()), 9998);
  EXPECT_EQ(file_->WriteBlob(h, 0, -2, v.data()), 10029);
  EXPECT_EQ(file_->ReadBlob(h + 1000, 0, got, 1, buf.data()), 10030);
  EXPECT_EQ(file_->TruncateBlob(h + 1000, 1), 10030);
  EXPECT_EQ(file_->GetBlobSize(h + 1000, size), 10030);
  ASSERT_EQ(file_->TruncateBlob(h, 2), 0);
  EXPECT_EQ(file_->GetBlobSize(h, size), 0);
  EXPECT_EQ(size, 2);
}

// Changes not saved go with the value; values of two records are never
// saved together; saved values hand their offsets to the record.
TEST_F(BlobTest, SavingValues) {
  Create(64);
  const std::uint32_t first = Store(Bytes(100, 9), 5);
  std::int32_t h = 0, a = 0, b = 0;
  ASSERT_EQ(file_->OpenBlob(first, 1, h, 5), 0);
  const Bytes w(300, 1);
  ASSERT_EQ(file_->WriteBlob(h, 0, 300, w.data()), 0);
  std::uint32_t back = 0;
  ASSERT_EQ(file_->CloseBlob(h, &back), 0);
  EXPECT_EQ(back, first);
  EXPECT_EQ(Load(first), Bytes(100, 9));
  const std::uint32_t end = file_->GetEndOffset();
  ASSERT_EQ(file_->OpenBlob(0, 1, a), 0);
  ASSERT_EQ(file_->OpenBlob(0, 2, b), 0);
  ASSERT_EQ(file_->WriteBlob(a, 0, 10, w.data()), 0);
  ASSERT_EQ(file_->WriteBlob(b, 0, 10, w.data()), 0);
  file_->FindBlob(a)->SetRecordNumber(1);
  file_->FindBlob(b)->SetRecordNumber(2);
  EXPECT_EQ(CodeOf([&] { file_->SaveModifiedBlobs(); }), 8963);
  EXPECT_EQ(file_->GetEndOffset(), end);  // nothing was written
  file_->SetBlobRecordNumbers(3);
  file_->SaveModifiedBlobs();
  std::vector<std::pair<std::uint16_t, std::uint32_t>> refs;
  file_->StoreBlobReferences([&](std::uint16_t f, std::uint32_t o) { refs.emplace_back(f, o); });
  EXPECT_EQ(refs, (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{1, end}, {2, end + 64}}));
  EXPECT_FALSE(file_->FindBlob(a)->Modified());
}

}  // namespace
}  // namespace storage::blobtest
