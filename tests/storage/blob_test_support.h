// Shared pieces of the BLOB file tests: a test owner, a BLOB file whose
// writes fail on demand, a fixture with a temporary directory, value
// helpers, a CRC-32 and the runner of tests/tools/blbcheck.py.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "storage/blob_file.h"
#include "storage/engine_error.h"
#include "storage/scrambler.h"
#include "storage/session.h"

namespace storage::blobtest {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlow = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kSlow = 4;
#else
constexpr int kSlow = 1;
#endif
#else
constexpr int kSlow = 1;
#endif

constexpr std::uint8_t kScrambleLow = 0x5A;
constexpr std::uint8_t kScrambleHigh = 0xC3;

using Bytes = std::vector<std::uint8_t>;

class TestOwner : public BlobFileOwner {
 public:
  std::string DataFileName() const override { return "TEST.DAT"; }
  std::uint32_t BlobBlockSizeField() const override { return block_size; }
  bool IsEncrypted() const override { return encrypted; }
  void ScrambleContents(std::span<std::uint8_t> b) const override {
    ScrambleBuffer(b.data(), static_cast<std::uint16_t>(b.size()), kScrambleLow, kScrambleHigh);
  }
  bool InBatch() const override { return batch; }
  bool Repairing() const override { return repairing; }
  void DoRepairLog(std::string_view line) override { log.emplace_back(line); }
  void BlobWriteLockChanged(bool locked) override { write_locked = locked; }
  void BlobReadLockChanged(bool locked) override { read_locked = locked; }

  std::uint32_t block_size = 512;
  bool encrypted = false;
  bool batch = false;
  bool repairing = false;
  bool write_locked = false;
  bool read_locked = false;
  std::vector<std::string> log;
};

// A BLOB file whose writes of data fail (disk full) while fail is set.
class FailingBlobFile : public TBlobFile {
 public:
  using TBlobFile::TBlobFile;
  void Write(const void* buffer, std::int32_t n) override {
    if (fail && n > 0) {
      ++failed;
      EngineError(ErrorCode::kWriteError, FileName());
    }
    TFileHandler::Write(buffer, n);
  }
  bool fail = false;
  int failed = 0;
};

inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

inline std::uint32_t Crc32(const Bytes& v) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : v) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

inline std::string RunCommand(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

class BlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_blob_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    file_.reset();
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path() const { return dir_ + "/T.BLB"; }

  void Create(std::uint32_t block_size, bool exclusive = true) {
    owner_.block_size = block_size;
    file_ = std::make_unique<FailingBlobFile>(&owner_);
    file_->SetFileName(dir_ + "/T.DAT");
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
  std::unique_ptr<FailingBlobFile> OpenAnother(bool exclusive = false) {
    auto f = std::make_unique<FailingBlobFile>(&owner_);
    f->SetFileName(Path());
    f->SetExclusive(exclusive);
    f->Open();
    return f;
  }

  // Stores value as a new chain (or rewrites the chain at first) for record;
  // returns the first-block offset. Saved to the cache only.
  std::uint32_t Store(const Bytes& value, std::uint32_t record, std::uint32_t first = 0) {
    std::int32_t h = 0;
    EXPECT_EQ(file_->OpenBlob(first, 1, h), 0);
    EXPECT_EQ(file_->TruncateBlob(h, static_cast<std::int32_t>(value.size())), 0);
    if (!value.empty()) {
      EXPECT_EQ(file_->WriteBlob(h, 0, static_cast<std::int32_t>(value.size()), value.data()), 0);
    }
    TBlobBuffer* b = file_->FindBlob(h);
    b->SetModified(true);
    file_->SetBlobRecordNumbers(record);
    file_->SaveModifiedBlobs();
    std::uint32_t out = 1;
    EXPECT_EQ(file_->CloseBlob(h, &out), 0);
    return out;
  }
  Bytes Load(std::uint32_t first, std::uint32_t record = 0) {
    std::int32_t h = 0;
    EXPECT_EQ(file_->OpenBlob(first, 1, h, record), 0);
    std::int32_t size = -1;
    EXPECT_EQ(file_->GetBlobSize(h, size), 0);
    Bytes v(static_cast<std::size_t>(size));
    std::int32_t got = -1;
    EXPECT_EQ(file_->ReadBlob(h, 0, got, size, v.data()), 0);
    EXPECT_EQ(got, size);
    EXPECT_EQ(file_->CloseBlob(h), 0);
    return v;
  }

  // Runs the independent checker; chains are (first offset, record).
  std::string Check(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& chains,
                    bool expect_ok = true, bool scrambled = false) {
    std::string cmd = "python3 " + std::string(TOLMID_TOOLS_DIR) + "/blbcheck.py '" + Path() +
                      "' " + std::to_string(file_ ? file_->GetBlockSize() : owner_.block_size);
    if (scrambled) {
      cmd += " --scramble " + std::to_string(kScrambleLow) + "," + std::to_string(kScrambleHigh);
    }
    for (auto [first, rec] : chains) {
      if (first != 0) cmd += " " + std::to_string(first) + ":" + std::to_string(rec);
    }
    int status = 0;
    std::string out = RunCommand(cmd, &status);
    if (expect_ok) {
      EXPECT_EQ(status, 0) << out;
    } else {
      EXPECT_EQ(status, 1) << out;
    }
    return out;
  }

  Bytes ReadFileBytes() const {
    std::ifstream in(Path(), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void WriteFileBytes(const Bytes& b) const {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }

  std::string dir_;
  TestOwner owner_;
  std::unique_ptr<FailingBlobFile> file_;
};

inline std::uint32_t U32At(const Bytes& b, std::size_t off) {
  return LoadLittle<std::uint32_t>(&b[off]);
}
inline void PutU32(Bytes& b, std::size_t off, std::uint32_t v) {
  StoreLittle<std::uint32_t>(&b[off], v);
}

}  // namespace storage::blobtest
