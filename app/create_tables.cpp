#include "app/create_tables.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "app/catalogue_schema.h"
#include "app/data_module.h"
#include "app/home.h"
#include "dataset/tolmid_table.h"
#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/sysutils.h"
#include "platform/file.h"
#include "storage/data_file_format.h"
#include "storage/table_swap.h"

namespace app {
namespace {

const fw::TIndexOptions kPrimaryIndex{fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique};

void DefineIndexes(dataset::TTolmidTable& t, const CatalogueTable& layout) {
  t.IndexDefs().Clear();
  t.IndexDefs().Add("", layout.fields.front().name, kPrimaryIndex);
  if (!layout.secondary_index.empty())
    t.IndexDefs().Add(layout.secondary_index, layout.secondary_field, {fw::TIndexOption::ixCaseInsensitive});
}

void Create(dataset::TTolmidTable& t, const CatalogueTable& layout) {
  t.FieldDefs().Clear();
  for (const CatalogueField& f : layout.fields) t.FieldDefs().Add(f.name, f.type, f.size, f.required);
  DefineIndexes(t, layout);
  t.CreateTable();
}

// The number a picture file's name starts with ("7", "7.gif",
// "7.gif.pending"; a photo's Filename "data\7.gif"): -1 for any other name.
int PictureNumber(std::string_view name) {
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || (digits < name.size() && name[digits] != '.')) return -1;
  return std::stoi(std::string(name.substr(0, digits)));
}

// The numbers a catalogue holds already: the highest number of each kind
// in its table (0 when none) and the highest picture number named in the
// data folder or by a photo (-1 when none).
struct HeldNumbers {
  std::array<int, 4> kind{};
  int picture = -1;
};

HeldNumbers NumbersHeld(const std::string& data_folder) {
  HeldNumbers held;
  std::unique_ptr<dataset::TTolmidTable> t(new dataset::TTolmidTable(fw::Application));
  for (int kind = 1; kind <= 4; ++kind) {
    const CatalogueTable& layout = CatalogueTables()[static_cast<std::size_t>(kind - 1)];
    t->SetDatabaseName(layout.database_name);
    t->SetTableName(layout.table_name);
    t->SetExclusive(true);
    t->Open();
    const fw::TField* number = t->FieldByName("Type" + std::to_string(kind) + "Num");
    const fw::TField* file = kind == 3 ? t->FieldByName("Filename") : nullptr;
    for (t->First(); !t->Eof(); t->Next()) {
      held.kind[static_cast<std::size_t>(kind - 1)] = std::max(held.kind[static_cast<std::size_t>(kind - 1)],
                                                             number->AsInteger());
      if (file != nullptr) held.picture = std::max(held.picture, PictureNumber(file->AsString()));
    }
    t->Close();
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(platform::ResolvePath(data_folder), ec), end; !ec && it != end;
       it.increment(ec))
    held.picture = std::max(held.picture, PictureNumber(it->path().filename().string()));
  return held;
}

// The counters table's one record when the table holds none: just made, or
// made by a start killed before it wrote the record (the table appears
// whole but empty), or made anew on a catalogue whose counters table was
// lost. On a new catalogue the counters of one (999, and no picture
// number); on a catalogue in use, counters above every number it holds, so
// that no new record takes the number of an existing one and no new
// picture the file of another photo. Nothing when the table has its
// record; else whether the catalogue was in use.
std::optional<bool> WriteNewCounters(dataset::TTolmidTable& t, const std::string& data_folder) {
  t.Open();
  const bool empty = t.IsEmpty();
  t.Close();
  if (!empty) return std::nullopt;
  const HeldNumbers held = NumbersHeld(data_folder);
  const bool in_use = std::any_of(held.kind.begin(), held.kind.end(), [](int n) { return n >= kFirstUserNumber; });
  t.Open();
  t.Insert();
  for (int kind = 1; kind <= 4; ++kind) {
    const int highest = held.kind[static_cast<std::size_t>(kind - 1)];
    t.FieldByName("nextType" + std::to_string(kind) + "Num")
        ->SetAsInteger(in_use ? std::max(kFirstUserNumber, highest < INT_MAX ? highest + 1 : highest)
                              : kNewCatalogueCounter);
  }
  if (held.picture >= 0) t.FieldByName("NextPicNum")->SetAsInteger(held.picture + 1);
  t.Post();
  t.Close();
  return in_use || held.picture >= 0;
}

void Restructure(dataset::TTolmidTable& t, const CatalogueTable& layout) {
  t.RestructureFieldDefs().Clear();
  int field_no = 0;
  for (const CatalogueField& f : layout.fields)
    t.RestructureFieldDefs().Add(f.name, f.type, ++field_no, {}, {}, {}, {}, f.required, f.size);
  DefineIndexes(t, layout);
  t.RestructureTable(0, 0, 512, "", "", false, 0, true);
}

[[noreturn]] void RestoreFailed(const std::string& from, const std::string& to) {
  throw fw::Exception("Table file " + to + " is missing and could not be restored from its backup " + from +
                      " (system error " + std::to_string(platform::GetLastError()) + ")");
}

// Puts a copy of from at to: copied under a temporary name, then renamed,
// so to never names a partial file.
void CopyInPlace(const std::string& from, const std::string& to) {
  const std::string temp = to + ".restore";
  if (platform::FileExists(temp) && !platform::DeleteFile(temp)) RestoreFailed(from, to);
  if (!platform::CopyFile(from, temp, true)) RestoreFailed(from, to);
  if (platform::FileExists(to) && !platform::DeleteFile(to)) RestoreFailed(from, to);
  if (!platform::MoveFile(temp, to)) RestoreFailed(from, to);
}

StartupLogSink& LogSink() {
  static StartupLogSink sink;
  return sink;
}

void Log(const std::string& line) {
  if (LogSink()) {
    LogSink()(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

// The size of the data file at path when it ends inside its header and
// field definitions (storage/data_file_format.h): it holds no record then,
// nor a layout to read one by. Nothing when it is whole, missing or held
// by another program (the repair reports what then stands in the way).
std::optional<std::uint64_t> HeaderlessDataFile(const std::string& path) {
  platform::File f;
  if (!f.Open(path, platform::Access::Read, platform::Share::ReadWrite, platform::Disposition::OpenExisting))
    return std::nullopt;
  const std::int64_t size = f.Size();
  if (size < 0) return std::nullopt;
  const auto bytes = static_cast<std::uint64_t>(size);
  // The header first: a file as long as its descriptors say needs no more.
  std::vector<std::uint8_t> head(std::min<std::uint64_t>(bytes, storage::kDataHeaderSize));
  std::uint32_t got = 0;
  if (!f.Read(head.data(), static_cast<std::uint32_t>(head.size()), &got) || got != head.size())
    return std::nullopt;
  if (head.size() == storage::kDataHeaderSize) {
    storage::DataFileHeader h;
    std::copy(head.begin(), head.end(), h.Data());
    if (bytes >= h.DataStart()) return std::nullopt;
    head.resize(static_cast<std::size_t>(bytes));  // below the descriptors' end: the whole file
    const auto rest = static_cast<std::uint32_t>(bytes - storage::kDataHeaderSize);
    if (!f.Read(head.data() + storage::kDataHeaderSize, rest, &got) || got != rest) return std::nullopt;
  }
  if (!storage::EndsInsideItsHeader(head, bytes)) return std::nullopt;
  return bytes;
}

// The restructure's backups of the table at path (the data file name):
// the start that brought the table to its layout no longer needs them,
// and a later start must never take them for the table.
void RemoveBackups(const std::string& path) {
  const std::string base = fw::ChangeFileExt(path, "");
  // The data backup first: without it no start restores from the others.
  for (const char* ext : {".DBK", ".IBK", ".BBK"}) {
    const std::string backup = base + ext;
    if (platform::FileExists(backup) && !platform::DeleteFile(backup))
      Log("Backup file " + fw::NativeFileName(backup) + " could not be deleted (system error " +
          std::to_string(platform::GetLastError()) + ")");
  }
}

}  // namespace

void SetStartupLogSink(StartupLogSink sink) { LogSink() = std::move(sink); }

bool RestoreFromBackup(const std::string& table_path) {
  const std::string base = fw::ChangeFileExt(table_path, "");
  if (platform::FileExists(table_path) || !platform::FileExists(base + ".DBK")) return false;
  // The backups are one table; the index and BLOB files beside the lost
  // data file belong to it, not to them. The data file comes last, so a
  // restore cut short is done again at the next start.
  static constexpr const char* kPartners[2][2] = {{".IBK", ".IDX"}, {".BBK", ".BLB"}};
  for (const auto& [backup, file] : kPartners)
    if (platform::FileExists(base + backup)) CopyInPlace(base + backup, base + file);
  CopyInPlace(base + ".DBK", table_path);
  return true;
}

void CreateTables(TDatamodule1& module) {
  const std::string home = HomeDirectory();
  platform::CreateDirectory(home + "\\data");  // may exist already
  // Owned by the application, as the program's other components; freed
  // here whatever happens.
  std::unique_ptr<dataset::TTolmidTable> table(new dataset::TTolmidTable(fw::Application));
  std::string path;  // of the table in hand
  table->OnRepairLog = [&path](dataset::TTolmidTable&, const std::string& line) { Log(fw::NativeFileName(path) + ": " + line); };
  for (const CatalogueTable& layout : CatalogueTables()) {
    table->SetDatabaseName(layout.database_name);
    table->SetTableName(layout.table_name);
    table->SetExclusive(true);
    // The database's directory is still the stored relative "data" here.
    path = home + "\\" + module.QuennetDB->Directory() + "\\" + layout.table_name;
    // A swap of the table's files that a killed creation, repair or
    // restructure left half done is finished first (its data file may be
    // aside then, and the backups older than it); only a data file that is
    // still missing afterwards is restored from a backup.
    storage::RecoverTableSwap(path);
    // A data file cut inside its header holds no records: the table is
    // missing, and comes back as a missing one does.
    if (const std::optional<std::uint64_t> size = HeaderlessDataFile(path)) {
      Log("Data file " + fw::NativeFileName(path) + " holds " + std::to_string(*size) +
          " bytes, too few for its header: the table holds no records and is taken as missing");
      if (!platform::DeleteFile(path))
        throw fw::Exception("Data file " + path + " could not be deleted (system error " +
                            std::to_string(platform::GetLastError()) + ")");
    }
    if (RestoreFromBackup(path)) Log("Table " + fw::NativeFileName(path) + " restored from its backup " +
                                   fw::NativeFileName(fw::ChangeFileExt(path, ".DBK")));
    const bool created = !platform::FileExists(path);
    if (created) {
      Create(*table, layout);
      Log("Table " + fw::NativeFileName(path) + " created");
    } else {
      table->Close();
      // The layout's indexes: the repair rebuilds the index file from
      // them when the stored definitions are unreadable.
      DefineIndexes(*table, layout);
      table->RepairTable(table->IndexDefs());
    }
    Restructure(*table, layout);
    RemoveBackups(path);
    if (layout.table_name != "defaults.dat") continue;
    const std::optional<bool> in_use = WriteNewCounters(*table, home + "\\" + module.QuennetDB->Directory());
    if (in_use && *in_use)
      Log("Table " + fw::NativeFileName(path) + " held no record of counters: one is written with counters above the numbers the "
          "catalogue holds");
    else if (in_use && !created)
      Log("Table " + fw::NativeFileName(path) + " held no record of counters: one is written with the counters of a new catalogue");
  }
}

}  // namespace app
