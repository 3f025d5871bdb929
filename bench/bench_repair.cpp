// The catalogue's start-up work on one table: repair, then restructure to
// the layout the table already has (no copy: the definitions are rewritten
// in place), and, for a table of the previous layout, the restructure that
// copies every record into the new one. The table is laid out like the
// category table (a 250-character name, a date, a 40-character category, a
// memo, two integers; a primary index on the record number and a
// case-insensitive one on the date) with RECORDS_COUNT records (100,000),
// memos of 0 to 1,000 bytes. Beside each: a plain copy of the table's
// three files, flushed to disk as the repair and restructure flush theirs.
// Each benchmark runs once; the summary prints our time over the copy's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/data_file.h"
#include "storage/session.h"

namespace {

using namespace storage;
using Clock = std::chrono::steady_clock;

std::size_t Count() {
  const char* e = std::getenv("RECORDS_COUNT");
  return e ? std::strtoul(e, nullptr, 10) : 100000;
}

std::string Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/bench_repair_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
}

std::string Table() { return Dir() + "/type1.dat"; }

std::map<std::string, double>& Times() {
  static std::map<std::string, double> t;
  return t;
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
  state.SetIterationTime(seconds);
  Times()[name] = seconds;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

TFieldDescriptor Field(std::uint16_t n, const char* name, FieldType type, std::uint8_t size = 0,
                       FieldSubtype subtype = FieldSubtype::kNone) {
  TFieldDescriptor f;
  f.FieldNumber = n;
  f.Name.Assign(name);
  f.FieldType = TypeCode(type);
  f.Subtype = SubtypeCode(subtype);
  f.Size = size;
  return f;
}

DataTableDefinition Layout(bool current) {
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {Field(1, "RecordNum", FieldType::kInteger, 0, FieldSubtype::kAutoIncrement),
                Field(2, "JournalName", FieldType::kString, 250), Field(3, "JournalDate", FieldType::kDate),
                Field(4, "Category", FieldType::kString, 40),
                Field(5, "Details", FieldType::kBlob, 0, FieldSubtype::kMemo),
                Field(6, "Type1Num", FieldType::kInteger)};
  def.fields[0].Required = 1;
  if (current) def.fields.push_back(Field(7, "CategoryFK", FieldType::kInteger));
  def.primary.FieldNumbers[0] = 1;
  TIndexDescriptor jdate;
  jdate.SetName("JDate");
  jdate.FieldNumbers[0] = 3;
  jdate.CaseInsensitive = 1;
  def.secondary = {jdate};
  return def;
}

// The table of the given layout, built once and kept as a pristine copy.
void Build(bool current, const std::string& keep) {
  {
    TDataFile t;
    t.SetFileName(Table());
    t.SetExclusive(true);
    t.CreateDataTable(Layout(current));
  }
  TDataFile t;
  t.SetFileName(Table());
  t.SetExclusive(true);
  t.Open();
  std::mt19937 rng(77);
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  std::vector<std::uint8_t> memo(1000);
  for (std::size_t i = 0; i < Count(); ++i) {
    t.ApplyDefaultValues(rec);
    const std::string name = "Entry number " + std::to_string(i) + " of the catalogue";
    const std::int32_t day = 738000 + static_cast<std::int32_t>(i % 900);
    const std::int32_t number = 1000 + static_cast<std::int32_t>(i);
    t.SetFieldValue(false, 2, false, name.c_str(), rec);
    t.SetFieldValue(false, 3, false, &day, rec);
    t.SetFieldValue(false, 4, false, i % 3 ? "Painting" : "Sculpture", rec);
    t.SetFieldValue(false, 6, false, &number, rec);
    const std::size_t size = rng() % 1001;
    if (size > 0) {
      for (std::size_t k = 0; k < size; ++k) memo[k] = static_cast<std::uint8_t>('a' + (i + k) % 26);
      storage::CheckEngineResult(t.OpenBlobField(false, 5, rec));
      storage::CheckEngineResult(
          t.WriteBlobField(false, 5, memo.data(), 0, static_cast<std::int32_t>(size), rec));
    }
    t.InsertRecord(rec);
    t.FreeBlobBuffers();
  }
  t.Close();
  std::filesystem::create_directories(keep);
  for (const char* ext : {".dat", ".IDX", ".BLB"})
    std::filesystem::copy_file(Dir() + "/type1" + ext, keep + "/type1" + ext,
                               std::filesystem::copy_options::overwrite_existing);
}

void Restore(const std::string& keep) {
  for (const auto& e : std::filesystem::directory_iterator(Dir())) {
    if (e.is_regular_file()) std::filesystem::remove(e.path());
  }
  for (const char* ext : {".dat", ".IDX", ".BLB"})
    std::filesystem::copy_file(keep + "/type1" + ext, Dir() + "/type1" + ext);
}

std::string Current() { return Dir() + "/current"; }
std::string Previous() { return Dir() + "/previous"; }

void Prepare() {
  static bool done = false;
  if (done) return;
  Build(false, Previous());
  Build(true, Current());
  done = true;
}

void Repair() {
  TDataFile t;
  t.SetFileName(Table());
  t.SetExclusive(true);
  t.RepairDataTable();
}

void Restructure() {
  TDataFile t;
  t.SetFileName(Table());
  t.SetExclusive(true);
  t.AlterDataTable(Layout(true));
  t.Close();
}

void BM_Repair(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    Restore(Current());
    const auto t0 = Clock::now();
    Repair();
    Record(state, "repair", Since(t0));
  }
}

void BM_StartUp(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    Restore(Current());
    const auto t0 = Clock::now();
    Repair();
    Restructure();
    Record(state, "start-up", Since(t0));
  }
}

void BM_StartUpFromPreviousLayout(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    Restore(Previous());
    const auto t0 = Clock::now();
    Repair();
    Restructure();
    Record(state, "start-up, new layout", Since(t0));
  }
}

// The same bytes copied file by file and flushed to disk.
void BM_PlainCopy(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    Restore(Current());
    const auto t0 = Clock::now();
    for (const char* ext : {".dat", ".IDX", ".BLB"}) {
      const std::string to = Dir() + "/copy" + ext;
      platform::CopyFile(Dir() + "/type1" + ext, to, false);
      platform::File f;
      f.Open(to, platform::Access::ReadWrite, platform::Share::None, platform::Disposition::OpenExisting);
      f.Flush();
    }
    platform::FlushDirectory(Dir());
    Record(state, "plain copy", Since(t0));
  }
}

#define ONCE ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Repair) ONCE;
BENCHMARK(BM_StartUp) ONCE;
BENCHMARK(BM_StartUpFromPreviousLayout) ONCE;
BENCHMARK(BM_PlainCopy) ONCE;

}  // namespace

int main(int argc, char** argv) {
  storage::InitializeEngine();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto& t = Times();
  if (const auto copy = t.find("plain copy"); copy != t.end()) {
    std::printf("\n%-22s %10s %10s %8s\n", "work", "ours ms", "copy ms", "ratio");
    for (const char* op : {"repair", "start-up", "start-up, new layout"}) {
      const auto a = t.find(op);
      if (a == t.end()) continue;
      std::printf("%-22s %10.1f %10.1f %8.2f\n", op, a->second * 1000, copy->second * 1000,
                  a->second / copy->second);
    }
  }
  benchmark::Shutdown();
  storage::ShutdownEngine();
  std::filesystem::remove_all(Dir());
  return 0;
}
