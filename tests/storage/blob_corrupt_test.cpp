// Damaged BLOB files: bad offsets, loops, foreign owners, huge lengths and
// bad headers must give an engine error (never a crash, never a walk into
// another record's blocks, never a huge allocation), leave no pins and no
// half-open value behind; the repair check cuts or drops such chains with
// the right log lines.
#include "tests/storage/blob_test_support.h"

namespace storage::blobtest {
namespace {

// A little-endian value of width bytes written at an offset.
struct Patch {
  std::uint32_t at, value;
  int width = 4;
};

// The base file, B = 64 (46 data bytes a block):
//   record 1: 138 bytes in 512 -> 576 -> 640
//   record 2:  60 bytes in 704 -> 768
// end offset 832, free list empty.
class BlobCorruptTest : public BlobTest {
 protected:
  void SetUp() override {
    BlobTest::SetUp();
    Create(64);
    std::mt19937 rng(11);
    a_ = RandomBytes(rng, 138);
    b_ = RandomBytes(rng, 60);
    ASSERT_EQ(Store(a_, 1), 512u);
    ASSERT_EQ(Store(b_, 2), 704u);
    file_->Close();
    base_ = FileBytes();
    ASSERT_EQ(base_.size(), 832u);
  }
  // Writes the base file with the patches and opens it again.
  void Damage(const std::vector<Patch>& patches) {
    Bytes b = base_;
    for (const Patch& p : patches)
      for (int i = 0; i < p.width; ++i) b[p.at + i] = static_cast<std::uint8_t>(p.value >> (8 * i));
    SetFileBytes(b);
    owner_.log.clear();
    file_->Open();
  }
  // The engine code of loading the value at first (0 when it loads).
  int OpenCode(std::uint32_t first, std::uint32_t record = 0) {
    const int before = file_->OpenBlobCount();
    const int code = CodeOf([&] { Load(first, record); });
    EXPECT_EQ(file_->OpenBlobCount(), before) << "a failed load left a buffer";
    EXPECT_EQ(file_->PinnedBlockCount(), 0u);
    return code;
  }

  Bytes base_, a_, b_;
};

// Block fields: +0 previous, +4 next, +8 bytes used (16 bits), +10 record,
// +14 total length (first block). Header: 9 free head, 13 end offset.
struct DamageCase {
  const char* name;
  std::vector<Patch> edit;
  std::uint32_t first;
  std::uint32_t record;  // expected owner given to OpenBlob (0: none)
  int code;
};

TEST_F(BlobCorruptTest, DamagedChainsGiveEngineErrors) {
  const DamageCase cases[] = {
      {"intact", {}, 512, 1, 0},
      {"first unaligned", {}, 513, 0, 8963},
      {"first inside header", {}, 64, 0, 8963},
      {"first beyond end", {}, 512 + 64 * 100, 0, 8963},
      {"first at end offset (no append)", {}, 832, 0, 8963},
      {"first owned by another record", {}, 704, 1, 8963},
      {"next unaligned", {{516, 600}}, 512, 0, 8963},
      {"next beyond end", {{580, 0x7FFFFFC0}}, 512, 0, 8963},
      {"next negative", {{580, 0x80000000u}}, 512, 0, 8963},
      {"next into header", {{580, 448}}, 512, 0, 8963},
      {"self loop", {{580, 576}, {526, 1000}}, 512, 0, 8963},
      {"long loop", {{648, 46}, {644, 512}, {526, 0x7FFFFFFF}}, 512, 0, 8963},
      {"next into another record", {{580, 704}, {584, 46}}, 512, 0, 8963},
      {"total beyond 2 GB", {{526, 0xFFFFFFF0u}}, 512, 0, 8963},
      {"total huge, chain short", {{526, 0x7FFFFFF0u}}, 512, 0, 8711},
      {"total one more than the chain", {{526, 139}}, 512, 0, 8711},
      {"middle block short", {{584, 3, 2}}, 512, 0, 8711},
      {"bytes used beyond block", {{648, 0xFFFF, 2}}, 512, 0, 0},
      {"end offset beyond the file", {{13, 512 + 64 * 1000}, {580, 512 + 64 * 500}}, 512, 0, 8963},
      {"end offset zero", {{13, 0}}, 512, 0, 8963},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    Damage(c.edit);
    EXPECT_EQ(OpenCode(c.first, c.record), c.code);
    file_->Close();
  }
}

TEST_F(BlobCorruptTest, DamagedHeaderRefusesAllocation) {
  const DamageCase cases[] = {
      {"end offset unaligned", {{13, 1000}}, 0, 0, 8963},
      {"end offset at the 4 GB edge", {{13, 0xFFFFFFC0u}}, 0, 0, 8963},
      {"end offset in the header", {{13, 0}}, 0, 0, 8963},
      // Appending there would write a block far past the end of the file.
      {"end offset beyond the file", {{13, 0x7FFFF000u}}, 0, 0, 8963},
      {"free head unaligned", {{9, 700}}, 0, 0, 8963},
      {"free head beyond end", {{9, 512 + 64 * 50}}, 0, 0, 8963},
      // A free list that leads back into the chain being written must not
      // make a chain loop on itself: record 2's last block, next itself.
      {"free list into the chain being written", {{9, 768}, {772, 768}}, 0, 0, 8963},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    Damage(c.edit);
    EXPECT_EQ(CodeOf([&] { Store(Bytes(100, 1), 3); }), c.code);
    EXPECT_EQ(file_->PinnedBlockCount(), 0u);
    file_->CloseAllBlobs();
    file_->ResetBlobBlocks();  // drop what the failed store left dirty
    file_->Close();
  }
}

TEST_F(BlobCorruptTest, FreeingDamagedChains) {
  struct Case {
    const char* name;
    std::vector<Patch> edit;
    const char* log;  // the repair line
  } cases[] = {
      {"into another record", {{580, 704}}, "Invalid intra-block pointer in BLOB file for physical record # 1, error fixed"},
      {"self loop", {{580, 576}}, "Recursive intra-block pointer in BLOB file for physical record # 1, error fixed"},
      {"long loop", {{644, 512}}, "Recursive intra-block pointer in BLOB file for physical record # 1, error fixed"},
      {"unaligned", {{580, 650}}, "Invalid intra-block pointer in BLOB file for physical record # 1, error fixed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    owner_.repairing = false;
    Damage(c.edit);
    std::uint32_t first = 512;
    EXPECT_EQ(CodeOf([&] { file_->FreeBlobChainAt(first, 1); }), 9998);
    EXPECT_EQ(file_->PinnedBlockCount(), 0u);
    file_->ResetBlobBlocks();
    file_->Close();

    owner_.repairing = true;
    Damage(c.edit);
    first = 512;
    file_->FreeBlobChainAt(first, 1);
    EXPECT_EQ(first, 0u);
    ASSERT_EQ(owner_.log.size(), 1u);
    EXPECT_EQ(owner_.log[0], c.log);
    EXPECT_EQ(file_->PinnedBlockCount(), 0u);
    // Record 2's value is untouched.
    EXPECT_EQ(Load(704, 2), b_);
    file_->Close();
  }
}

TEST_F(BlobCorruptTest, VerifyChainRepairs) {
  owner_.repairing = true;
  const char* kMismatch = "BLOB size mismatch in BLOB file for physical record # 1, error fixed";
  const char* kInvalidPointer = "Invalid intra-block pointer in BLOB file for physical record # 1, error fixed";
  struct Case {
    const char* name;
    std::vector<Patch> edit;
    std::uint32_t record;
    std::vector<std::string> log;
    std::uint32_t first_after;
    std::size_t length_after;  // of the value read back
    bool clean;                // no block left unreachable
  } cases[] = {
      {"intact", {}, 1, {}, 512, 138, true},
      {"foreign first block", {}, 7, {"Invalid BLOB offset into BLOB file for physical record # 7, error fixed"}, 0, 0, true},
      {"total too large", {{526, 0x7FFFFFF0u}}, 1, {kMismatch}, 512, 138, true},
      {"long loop", {{644, 512}}, 1, {"Recursive intra-block pointer in BLOB file for physical record # 1, error fixed"}, 512, 138, true},
      {"into another record", {{580, 704}}, 1, {kInvalidPointer, kMismatch}, 512, 92, false},
      {"negative pointer", {{516, 0x80000200u}}, 1, {kInvalidPointer, kMismatch}, 512, 46, false},
      {"zero total", {{526, 0}}, 1, {}, 0, 0, true},
      {"previous pointer wrong", {{640, 704}, {512, 9}}, 1, {}, 512, 138, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Damage(c.edit);
    std::uint32_t first = 512;
    file_->VerifyBlobChain(first, c.record);
    EXPECT_EQ(owner_.log, c.log);
    EXPECT_EQ(first, c.first_after);
    EXPECT_EQ(file_->PinnedBlockCount(), 0u);
    if (first != 0) {
      Bytes v = Load(first, c.record);
      ASSERT_EQ(v.size(), c.length_after);
      EXPECT_TRUE(std::equal(v.begin(), v.end(), a_.begin()));
    }
    Reopen();  // the fixes reach the file
    if (c.first_after != 0 && c.record == 1) {
      file_->FlushBlob();
      // The repaired chain is well formed; blocks cut off are leaked until
      // the repair rebuilds the free list, which the checker reports.
      Check({{c.first_after, 1}, {704, 2}}, c.clean);
    }
    file_->Close();
  }
}

}  // namespace
}  // namespace storage::blobtest
