// Opens fuzzed data files, and valid data files beside fuzzed index files,
// and reads every record through the record cache: the header, descriptor
// and record checks must refuse what they can't use with an engine error,
// never crash or read out of bounds. Files live in the engine's in-memory
// files.
//
// Input: byte 0 picks the case (bit 0: fuzz the index file instead of the
// data file; bit 1: open shared instead of exclusively); the rest is the
// fuzzed file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/file_handler.h"
#include "storage/index_file.h"
#include "storage/session.h"

namespace {

using namespace storage;

void WriteMemoryFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  TFileHandler h;
  h.SetInMemory(true);
  h.SetExclusive(true);
  h.SetFileName(name);
  h.CreateFile();
  if (size > 0) h.Write(data, static_cast<std::int32_t>(size));
  h.Close();
}

std::vector<std::uint8_t> ReadMemoryFile(const std::string& name) {
  TFileHandler h;
  h.SetInMemory(true);
  h.SetExclusive(true);
  h.SetFileName(name);
  h.Open();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(h.GetFileSize()));
  h.ReadAt(0, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  h.Close();
  return bytes;
}

TFieldDescriptor Field(std::uint16_t n, const char* name, FieldType type, std::uint8_t size,
                       FieldSubtype sub = FieldSubtype::kNone) {
  TFieldDescriptor f;
  f.FieldNumber = n;
  f.Name.Assign(name);
  f.FieldType = TypeCode(type);
  f.Subtype = SubtypeCode(sub);
  f.Size = size;
  return f;
}

// A valid table to pair with a fuzzed index file: a primary key, one
// secondary index, ten records, two deleted.
struct Template {
  std::vector<std::uint8_t> dat;
  std::vector<std::uint8_t> idx;
};

Template MakeTemplate() {
  DataTableDefinition def;
  def.fields = {Field(1, "Id", FieldType::kInteger, 0, FieldSubtype::kAutoIncrement),
                Field(2, "Name", FieldType::kString, 15), Field(3, "Count", FieldType::kInteger, 0)};
  def.primary.FieldNumbers[0] = 1;
  TIndexDescriptor byname;
  byname.SetName("ByName");
  byname.FieldNumbers[0] = 2;
  def.secondary.push_back(byname);
  TDataFile t;
  t.SetInMemory(true);
  t.SetExclusive(true);
  t.SetFileName("TPL");
  t.CreateDataTable(def);
  t.Open();
  for (int i = 0; i < 10; ++i) {
    TRecord* r = t.TakeFreeRecord();
    t.InitRecordBuffer(r);
    PutFieldString(r->Data(), t.GetFieldDescriptor(false, 2).Slot(), "name" + std::to_string(i));
    r->modified = true;
    t.ReleaseRecordBuffer(r);
  }
  for (std::uint32_t n : {3u, 7u}) {
    TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
    t.MarkRecordDeleted(r);
    t.ReleaseRecordBuffer(r);
  }
  t.Close();
  return {ReadMemoryFile("TPL.DAT"), ReadMemoryFile("TPL.IDX")};
}

void Exercise(TDataFile& t) {
  const std::uint32_t next = t.Header().NextRecord();
  for (std::uint32_t n = 1; n < next && n < 2000; ++n) {
    TRecord* r = t.GetRecordBuffer(n, true, ReadDirection::kForward, false);
    t.ReleaseRecordBuffer(r);
  }
  for (std::uint32_t n = next - 1; n >= 1 && n + 2000 > next; --n) {
    TRecord* r = t.GetRecordBuffer(n, n % 3 != 0, ReadDirection::kBackward, false);
    t.ReleaseRecordBuffer(r);
  }
  for (int i = 0; i < 4; ++i) {
    TRecord* r = t.TakeFreeRecord();
    t.InitRecordBuffer(r);
    r->modified = true;
    t.ReleaseRecordBuffer(r);
  }
  t.FlushTable(true);
  t.RefreshCurrentRecord();
  t.CheckHeaderChanged();
  if (t.Exclusive()) t.EmptyDataTable();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Template tpl = [] {
    InitializeEngine();
    // Damaged headers met by a shared open are not retried: nobody is
    // writing these files.
    CurrentSession()->SetSharedOpenRetries(0, 0);
    // The password of the encrypted seed, so that its contents are read.
    CurrentSession()->AddPassword("pw");
    return MakeTemplate();
  }();
  if (size < 1 || size > (1u << 20)) return 0;
  const bool fuzz_index = (data[0] & 1) != 0;
  const bool shared = (data[0] & 2) != 0;
  ++data;
  --size;
  if (fuzz_index) {
    WriteMemoryFile("FUZZ.DAT", tpl.dat.data(), tpl.dat.size());
    WriteMemoryFile("FUZZ.IDX", data, size);
  } else {
    WriteMemoryFile("FUZZ.DAT", data, size);
    WriteMemoryFile("FUZZ.IDX", tpl.idx.data(), tpl.idx.size());
  }
  {
    TDataFile t;
    t.SetInMemory(true);
    t.SetExclusive(!shared);
    t.SetFileName("FUZZ");
    try {
      t.Open();
      Exercise(t);
      t.Close();
    } catch (const ETolmidEngineError&) {
    }
  }
  for (const char* name : {"FUZZ.DAT", "FUZZ.IDX"}) {
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
