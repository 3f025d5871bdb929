// Fuzz target: opening a BLOB file and following its chains.
//
// Input: byte 0 picks the block size (64, 128, 512, or 64 + byte 1),
// byte 2 holds flags (bit 0 encrypted, bit 1 repairing, bit 2 exclusive),
// bytes 3..18 four u32 first-block offsets, bytes 19..22 a u32 record
// number; the rest is the file image. The file is an in-memory file of the
// engine session. Every engine error is an acceptable outcome; a crash, a
// sanitizer report, a hang or a huge allocation is not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "storage/blob_file.h"
#include "storage/engine_error.h"
#include "storage/file_handler.h"
#include "storage/scrambler.h"
#include "storage/session.h"

namespace {

using namespace storage;

class FuzzOwner : public BlobFileOwner {
 public:
  std::string DataFileName() const override { return "FUZZ.DAT"; }
  std::uint32_t BlobBlockSizeField() const override { return block_size; }
  bool IsEncrypted() const override { return encrypted; }
  void ScrambleContents(std::span<std::uint8_t> b) const override {
    ScrambleBuffer(b.data(), static_cast<std::uint16_t>(b.size()), 0x5A, 0xC3);
  }
  bool InBatch() const override { return false; }
  bool Repairing() const override { return repairing; }
  void DoRepairLog(std::string_view) override {}

  std::uint32_t block_size = 512;
  bool encrypted = false;
  bool repairing = false;
};

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const ETolmidEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool init = [] {
    InitializeEngine();
    return true;
  }();
  (void)init;
  if (size < 23) return 0;
  FuzzOwner owner;
  static const std::uint32_t kSizes[] = {64, 128, 512};
  owner.block_size = data[0] % 4 < 3 ? kSizes[data[0] % 4] : 64u + data[1];
  owner.encrypted = (data[2] & 1) != 0;
  owner.repairing = (data[2] & 2) != 0;
  const bool exclusive = (data[2] & 4) != 0;
  std::uint32_t firsts[4];
  for (int i = 0; i < 4; ++i) firsts[i] = LoadLittle<std::uint32_t>(data + 3 + 4 * i);
  const std::uint32_t record = LoadLittle<std::uint32_t>(data + 19);
  const std::uint8_t* image = data + 23;
  const auto image_size = static_cast<std::int32_t>(size - 23);

  {
    TFileHandler writer;
    writer.SetInMemory(true);
    writer.SetExclusive(true);
    writer.SetFileName("FUZZ.BLB");
    writer.CreateFile();
    if (image_size > 0) writer.Write(image, image_size);
    writer.Close();
  }

  TBlobFile file(&owner);
  file.SetInMemory(true);
  file.SetExclusive(exclusive);
  file.SetFileName("FUZZ.DAT");
  bool opened = false;
  Try([&] {
    file.Open();
    opened = true;
  });
  if (!opened) return 0;

  std::vector<std::uint8_t> buf;
  for (std::uint32_t first : firsts) {
    Try([&] {
      std::int32_t h = 0;
      if (file.OpenBlob(first, 1, h) != 0) return;
      std::int32_t n = 0, got = 0;
      if (file.GetBlobSize(h, n) != 0) return;
      buf.resize(static_cast<std::size_t>(n));
      if (file.ReadBlob(h, 0, got, n, buf.data()) != 0) return;
      // Rewrite it a little longer in place, as a record post would.
      const std::uint8_t more[70] = {1, 2, 3};
      if (file.WriteBlob(h, n, static_cast<std::int32_t>(sizeof more), more) != 0) return;
      std::uint32_t owner_record = record;
      if (first != 0) owner_record = file.GetChainBlock(first)->RecordNumber();
      file.SetBlobRecordNumbers(owner_record);
      file.SaveModifiedBlobs();
      if (file.CloseBlob(h) != 0) std::abort();  // the handle is open
    });
    file.CloseAllBlobs();
  }
  for (std::uint32_t first : firsts) {
    Try([&] {
      std::uint32_t f = first;
      file.VerifyBlobChain(f, record);
    });
    Try([&] {
      std::uint32_t f = first;
      file.FreeBlobChainAt(f, record);
    });
    file.ClearAllPins();
  }
  Try([&] {
    std::int32_t h = 0;
    if (file.OpenBlob(0, 2, h) != 0) return;
    std::vector<std::uint8_t> v(300, 0x5A);
    if (file.WriteBlob(h, 0, static_cast<std::int32_t>(v.size()), v.data()) != 0) return;
    file.SetBlobRecordNumbers(record);
    file.SaveModifiedBlobs();
  });
  file.CloseAllBlobs();
  Try([&] { file.FlushBlob(); });
  Try([&] { file.AlignBlobFile(); });
  file.Close();
  return 0;
}
