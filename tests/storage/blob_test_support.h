// Shared pieces of the BLOB file tests: a test owner, a BLOB file whose
// writes fail on demand, a fixture in a scratch folder with value helpers,
// and the independent checker tests/tools/blbcheck.py.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "storage/blob_file.h"
#include "storage/engine_error.h"
#include "storage/scrambler.h"
#include "storage/session.h"
#include "tests/common/scratch_dir.h"
#include "tests/storage/data_file_test_support.h"
#include "tests/tools/run_tool.h"

namespace storage::blobtest {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlow = 4;
#else
constexpr int kSlow = 1;
#endif

using Bytes = std::vector<std::uint8_t>;
using datatest::CodeOf;

class TestOwner : public BlobFileOwner {
 public:
  std::string DataFileName() const override { return "TEST.DAT"; }
  std::uint32_t BlobBlockSizeField() const override { return block_size; }
  bool IsEncrypted() const override { return encrypted; }
  void ScrambleContents(std::span<std::uint8_t> b) const override {
    ScrambleBuffer(b.data(), static_cast<std::uint16_t>(b.size()), 0x5A, 0xC3);
  }
  bool InBatch() const override { return batch; }
  bool Repairing() const override { return repairing; }
  void DoRepairLog(std::string_view line) override { log.emplace_back(line); }
  void BlobWriteLockChanged(bool locked) override { write_locked = locked; }
  void BlobReadLockChanged(bool locked) override { read_locked = locked; }

  std::uint32_t block_size = 512;
  bool encrypted = false, batch = false, repairing = false;
  bool write_locked = false, read_locked = false;
  std::vector<std::string> log;
};

// A BLOB file whose writes of data fail (disk full) while fail is set.
class FailingBlobFile : public TBlobFile {
 public:
  using TBlobFile::TBlobFile;
  void Write(const void* buffer, std::int32_t n) override {
    if (fail && n > 0) EngineError(ErrorCode::kWriteError, FileName());
    TFileHandler::Write(buffer, n);
  }
  bool fail = false;
};

inline std::uint32_t Crc32(const Bytes& v) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : v) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

inline std::uint32_t U32At(const Bytes& b, std::size_t off) { return LoadLittle<std::uint32_t>(&b[off]); }
inline void PutU32(Bytes& b, std::size_t off, std::uint32_t v) { StoreLittle<std::uint32_t>(&b[off], v); }

class BlobTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override {
    file_.reset();
    ShutdownEngine();
  }
  std::string Path() const { return scratch_ / "T.BLB"; }

  void Create(std::uint32_t block_size, bool exclusive = true) {
    owner_.block_size = block_size;
    file_ = std::make_unique<FailingBlobFile>(&owner_);
    file_->SetFileName(scratch_ / "T.DAT");
    file_->SetExclusive(true);
    file_->CreateFile();
    if (!exclusive) {
      file_->Close();
      file_->SetExclusive(false);
      file_->Open();
    }
  }
  void Reopen() {
    file_->Close();
    file_->Open();
  }

  // Stores value as a new chain (or rewrites the chain at first) for record;
  // returns the first-block offset. Saved to the cache only.
  std::uint32_t Store(const Bytes& value, std::uint32_t record, std::uint32_t first = 0) {
    std::int32_t h = 0;
    CheckEngineResult(file_->OpenBlob(first, 1, h));
    CheckEngineResult(file_->TruncateBlob(h, static_cast<std::int32_t>(value.size())));
    if (!value.empty()) CheckEngineResult(file_->WriteBlob(h, 0, static_cast<std::int32_t>(value.size()), value.data()));
    file_->FindBlob(h)->SetModified(true);
    file_->SetBlobRecordNumbers(record);
    file_->SaveModifiedBlobs();
    std::uint32_t out = 1;
    CheckEngineResult(file_->CloseBlob(h, &out));
    return out;
  }
  // The value at first; any failure raises.
  Bytes Load(std::uint32_t first, std::uint32_t record = 0) {
    std::int32_t h = 0, size = 0, got = 0;
    CheckEngineResult(file_->OpenBlob(first, 1, h, record));
    struct Closer {
      FailingBlobFile* f;
      std::int32_t h;
      ~Closer() { (void)f->CloseBlob(h); }
    } closer{file_.get(), h};
    CheckEngineResult(file_->GetBlobSize(h, size));
    Bytes v(static_cast<std::size_t>(size));
    CheckEngineResult(file_->ReadBlob(h, 0, got, size, v.data()));
    return v;
  }

  // Runs the independent checker; chains are (first offset, record).
  std::string Check(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& chains,
                    bool expect_ok = true, bool scrambled = false) {
    std::string extra = std::to_string(file_ ? file_->GetBlockSize() : owner_.block_size);
    if (scrambled) extra += " --scramble 90,195";
    for (auto [first, rec] : chains)
      if (first != 0) extra += " " + std::to_string(first) + ":" + std::to_string(rec);
    const tooltest::ToolResult r = tooltest::RunTool("blbcheck.py", Path(), extra);
    EXPECT_EQ(r.status, expect_ok ? 0 : 1) << r.output;
    return r.output;
  }

  Bytes FileBytes() const {
    const std::string s = testsupport::ReadFile(Path());
    return {s.begin(), s.end()};
  }
  void SetFileBytes(const Bytes& b) const { testsupport::WriteFile(Path(), std::string(b.begin(), b.end())); }

  testsupport::ScratchDir scratch_;
  TestOwner owner_;
  std::unique_ptr<FailingBlobFile> file_;
};

}  // namespace storage::blobtest
