// Opens fuzzed index files and walks every tree: header and page checks
// must refuse what they can't read with an engine error, never crash or
// read out of bounds. The file lives in an in-memory file of the engine.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/file_handler.h"
#include "storage/index_file.h"
#include "storage/session.h"

namespace {

using namespace storage;

class FuzzOwner : public IndexFileOwner {
 public:
  std::string DataFileName() const override { return "FUZZ.DAT"; }
  platform::LCID LocaleId() const override { return locale; }
  bool Scrambled() const override { return false; }
  void ScrambleBlock(std::span<std::uint8_t>) const override {}
  bool InBatch() const override { return false; }
  bool SuppressFirstKeyAtOpen() const override { return false; }
  bool KeyFieldInfo(std::uint16_t n, IndexFieldInfo& info) const override {
    if (n < 1 || n > 64) return false;
    info.type = n % 2 ? FieldType::kString : FieldType::kInteger;
    info.stored_size = static_cast<std::uint16_t>(n % 2 ? 15 : 4);
    return true;
  }
  void IndexChangedByOther() override {}
  platform::LCID locale = 0;
};

void Walk(TIndexFile& f) {
  std::vector<int> slots;
  if (!f.NoPrimaryKey()) slots.push_back(0);
  for (int i = 1; i <= f.SecondaryIndexCount(); ++i) slots.push_back(i);
  slots.push_back(kSysDeletedSlot);
  std::vector<std::uint8_t> key(kKeyBufferSize, 0x41);
  for (int slot : slots) {
    try {
      f.SelectIndex(slot);
      f.ClearRange();
      const std::uint32_t n = f.RangeCount();
      if (f.FirstKey()) {
        for (std::uint32_t i = 0; i <= n && i < 100000 && f.MoveBy(1); ++i) {
        }
      }
      f.LastKey();
      f.MoveBy(-2);
      f.SetLogicalPosition(static_cast<std::int32_t>(n / 2 + 1));
      f.FindKey(key.data(), true, true);
      f.FindKeyPrefix(key.data(), 3);
      f.SetRangeStart(key.data());
      f.SetRangeEnd(key.data());
      f.ActivateRange();
      f.SetRangeBounds();
      f.FirstKey();
      f.ClearRange();
      f.InsertKey(key.data(), 7);
      f.DeleteKey(key.data());
    } catch (const ETolmidEngineError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = [] {
    InitializeEngine();
    return true;
  }();
  (void)started;
  if (size > (1u << 20)) return 0;
  const std::string name = "FUZZ.IDX";
  {
    TFileHandler h;
    h.SetInMemory(true);
    h.SetExclusive(true);
    h.SetFileName(name);
    h.CreateFile();
    if (size > 0) h.Write(data, static_cast<std::int32_t>(size));
    h.Close();
  }
  for (bool exclusive : {true, false}) {
    FuzzOwner owner;
    owner.locale = size > 0 && (data[0] & 1) ? platform::kLocaleEnglishUS : 0;
    TIndexFile f(&owner);
    f.SetInMemory(true);
    f.SetExclusive(exclusive);
    f.SetFileName(name);
    try {
      f.Open();
      Walk(f);
      f.Close();
    } catch (const ETolmidEngineError&) {
    }
  }
  {
    TFileHandler h;
    h.SetInMemory(true);
    h.SetFileName(name);
    try {
      h.DeleteFile();
    } catch (const ETolmidEngineError&) {
    }
  }
  return 0;
}
