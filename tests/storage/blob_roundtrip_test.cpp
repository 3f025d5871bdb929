// BLOB values through open handles: random values of 0 bytes to several
// megabytes stored, rewritten, shrunk and freed against a std::map model,
// across block sizes, read back byte for byte before and after reopening;
// every file is then walked by tests/tools/blbcheck.py. Also the open-value
// table: limits, handles, reads and writes at the edges.
#include <map>

#include "tests/storage/blob_test_support.h"

namespace storage::blobtest {
namespace {

class BlobRoundTrip : public BlobTest, public ::testing::WithParamInterface<std::uint32_t> {};

std::size_t RandomSize(std::mt19937& rng, std::uint32_t block_size) {
  const std::size_t data = block_size - 18;
  switch (rng() % 8) {
    case 0:
      return 0;
    case 1:
      return data;  // exactly one block
    case 2:
      return data + 1;  // one byte into a second block
    case 3:
      return 1 + rng() % (3 * 1024 * 1024 / kSlow);  // megabytes
    default:
      return rng() % (data * 20);
  }
}

TEST_P(BlobRoundTrip, RandomValuesMatchTheModel) {
  const std::uint32_t bs = GetParam();
  Create(bs);
  std::mt19937 rng(bs);
  std::map<std::uint32_t, std::pair<std::uint32_t, Bytes>> model;  // record -> (first, value)
  std::uint32_t next_record = 1;
  const int steps = 60;
  for (int step = 0; step < steps; ++step) {
    const unsigned op = rng() % 10;
    if (op < 5 || model.empty()) {
      Bytes v = RandomBytes(rng, RandomSize(rng, bs));
      const std::uint32_t rec = next_record++;
      model[rec] = {Store(v, rec), v};
    } else if (op < 8) {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      Bytes v = RandomBytes(rng, RandomSize(rng, bs));
      it->second.first = Store(v, it->first, it->second.first);
      it->second.second = v;
    } else {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      std::uint32_t first = it->second.first;
      file_->FreeBlobChainAt(first, it->first);
      EXPECT_EQ(first, 0u);
      model.erase(it);
    }
    if (step % 20 == 19) {
      // Read back a few through the cache.
      for (auto& [rec, fv] : model) ASSERT_EQ(Load(fv.first, rec), fv.second) << rec;
    }
  }
  // Megabyte values that stay to the end: one new, one grown in place and
  // shrunk again, so the file holds long chains built both ways.
  for (std::size_t size : {std::size_t{5} * 1024 * 1024 / kSlow + 7, std::size_t{3} * 1024 * 1024 / kSlow}) {
    Bytes v = RandomBytes(rng, size);
    const std::uint32_t rec = next_record++;
    model[rec] = {Store(v, rec), v};
  }
  {
    auto& [first, value] = model.begin()->second;
    value = RandomBytes(rng, 4 * 1024 * 1024 / kSlow);
    first = Store(value, model.begin()->first, first);
    value = RandomBytes(rng, 1024 * 1024 / kSlow + 3);
    first = Store(value, model.begin()->first, first);
  }
  EXPECT_EQ(file_->PinnedBlockCount(), 0u);
  Reopen();  // writes the dirty blocks and the header
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  for (auto& [rec, fv] : model) {
    ASSERT_EQ(Load(fv.first, rec), fv.second) << rec;
    chains.emplace_back(fv.first, rec);
  }
  std::string out = Check(chains);
  for (auto& [rec, fv] : model) {
    if (fv.first == 0) continue;
    char line[80];
    std::snprintf(line, sizeof line, "chain %u length %zu crc %08x", fv.first, fv.second.size(),
                  Crc32(fv.second));
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
}

// The free list is used before the file grows: storing, freeing and storing
// again values of the same sizes leaves the file as long as before.
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
  file_->FlushBlob();
  const std::uint32_t end = file_->GetEndOffset();
  for (auto& f : firsts) file_->FreeBlobChainAt(f, 1);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  for (std::size_t s : sizes) chains.emplace_back(Store(RandomBytes(rng, s), 2), 2);
  EXPECT_EQ(file_->GetEndOffset(), end);
  file_->FlushBlob();
  std::string out = Check(chains);
  EXPECT_NE(out.find("free 0"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, BlobRoundTrip, ::testing::Values(64u, 512u, 4096u));

// ---------------------------------------------------------------- handles

TEST_F(BlobTest, OpenValueLimitAndHandles) {
  Create(512);
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 64; ++i) {
    std::int32_t h = 0;
    ASSERT_EQ(file_->OpenBlob(0, static_cast<std::uint16_t>(i), h), 0);
    EXPECT_GT(h, 0);
    handles.push_back(h);
  }
  std::int32_t h = 0;
  EXPECT_EQ(file_->OpenBlob(0, 99, h), 9494);
  // Closing the second of three moves the third down; its handle still works.
  ASSERT_EQ(file_->CloseBlob(handles[1]), 0);
  EXPECT_EQ(file_->OpenBlobAt(1)->Handle(), handles[2]);
  EXPECT_EQ(file_->OpenBlobAt(1)->FieldNumber(), 2);
  EXPECT_TRUE(file_->IsOpenBlob(handles[2]));
  EXPECT_EQ(file_->CloseBlob(handles[1]), 10030);  // closed
  EXPECT_EQ(file_->CloseBlob(0), 10030);
  EXPECT_EQ(file_->CloseBlob(-handles[3]), 10030);
  // A handle is never handed out again, even after its value closed.
  ASSERT_EQ(file_->OpenBlob(0, 1, h), 0);
  for (std::int32_t old : handles) EXPECT_NE(h, old);
  file_->CloseAllBlobs();
  EXPECT_EQ(file_->OpenBlobCount(), 0);
  EXPECT_FALSE(file_->IsOpenBlob(h));
}

TEST_F(BlobTest, ReadAndWriteAtTheEdges) {
  Create(64);
  std::int32_t h = 0;
  ASSERT_EQ(file_->OpenBlob(0, 1, h), 0);
  EXPECT_FALSE(file_->FindBlob(h)->Modified());  // an empty value opens clean
  const Bytes v = {1, 2, 3, 4, 5};
  ASSERT_EQ(file_->WriteBlob(h, 3, 5, v.data()), 0);  // grows; bytes 0..2 zero
  std::int32_t size = 0;
  ASSERT_EQ(file_->GetBlobSize(h, size), 0);
  EXPECT_EQ(size, 8);
  std::array<std::uint8_t, 16> buf{};
  std::int32_t got = -1;
  struct Case {
    std::int32_t offset, count;
    std::uint16_t code;
    std::int32_t got;
  } cases[] = {
      {0, 8, 0, 8},          {7, 4, 8711, 1},        {8, 4, 8711, 0},
      {9, 0, 8711, 0},       {8, 0, 0, 0},           {-1, 4, 9998, 0},
      {INT32_MAX, 1, 9998, 0}, {1, INT32_MAX, 9998, 0}, {0, -1, 10029, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file_->ReadBlob(h, c.offset, got, c.count, buf.data()), c.code)
        << c.offset << "," << c.count;
    EXPECT_EQ(got, c.got) << c.offset << "," << c.count;
  }
  EXPECT_EQ(file_->ReadBlob(h, 0, got, 8, buf.data()), 0);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 8), (Bytes{0, 0, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(file_->WriteBlob(h, -5, 1, v.data()), 9998);
  EXPECT_EQ(file_->WriteBlob(h, INT32_MAX - 2, 5, v.data()), 9998);
  EXPECT_EQ(file_->WriteBlob(h, 0, -2, v.data()), 10029);
  EXPECT_EQ(file_->GetBlobSize(h, size), 0);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(file_->ReadBlob(h + 1000, 0, got, 1, buf.data()), 10030);
  EXPECT_EQ(file_->WriteBlob(h + 1000, 0, 1, v.data()), 10030);
  EXPECT_EQ(file_->TruncateBlob(h + 1000, 1), 10030);
  EXPECT_EQ(file_->GetBlobSize(h + 1000, size), 10030);
  EXPECT_EQ(size, 0);
  ASSERT_EQ(file_->TruncateBlob(h, 2), 0);
  EXPECT_EQ(file_->ReadBlob(h, 0, got, 3, buf.data()), 8711);
  EXPECT_EQ(got, 2);
}

// Changes not saved are dropped with the value; the chain on disk stays.
TEST_F(BlobTest, CloseWithoutSaveKeepsTheStoredValue) {
  Create(64);
  const Bytes v(100, 9);
  const std::uint32_t first = Store(v, 5);
  std::int32_t h = 0;
  ASSERT_EQ(file_->OpenBlob(first, 1, h, 5), 0);
  const Bytes w(300, 1);
  ASSERT_EQ(file_->WriteBlob(h, 0, 300, w.data()), 0);
  std::uint32_t back = 0;
  ASSERT_EQ(file_->CloseBlob(h, &back), 0);
  EXPECT_EQ(back, first);
  EXPECT_EQ(Load(first), v);
}

TEST_F(BlobTest, SavingValuesOfTwoRecordsTogetherIsRefused) {
  Create(64);
  std::int32_t a = 0, b = 0;
  ASSERT_EQ(file_->OpenBlob(0, 1, a), 0);
  ASSERT_EQ(file_->OpenBlob(0, 2, b), 0);
  const Bytes v(10, 1);
  ASSERT_EQ(file_->WriteBlob(a, 0, 10, v.data()), 0);
  ASSERT_EQ(file_->WriteBlob(b, 0, 10, v.data()), 0);
  file_->FindBlob(a)->SetRecordNumber(1);
  file_->FindBlob(b)->SetRecordNumber(2);
  EXPECT_EQ(CodeOf([&] { file_->SaveModifiedBlobs(); }), 8963);
  EXPECT_EQ(file_->GetEndOffset(), 512u);  // nothing was written
  file_->SetBlobRecordNumbers(3);
  file_->SaveModifiedBlobs();
  std::vector<std::pair<std::uint16_t, std::uint32_t>> refs;
  file_->StoreBlobReferences([&](std::uint16_t f, std::uint32_t o) { refs.emplace_back(f, o); });
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_EQ(refs[0], (std::pair<std::uint16_t, std::uint32_t>{1, 512}));
  EXPECT_EQ(refs[1], (std::pair<std::uint16_t, std::uint32_t>{2, 576}));
  EXPECT_FALSE(file_->FindBlob(a)->Modified());
}

}  // namespace
}  // namespace storage::blobtest
