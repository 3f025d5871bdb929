#include "app/create_tables.h"

#include <memory>

#include "app/catalogue_schema.h"
#include "app/data_module.h"
#include "app/home.h"
#include "dataset/tolmid_table.h"
#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/sysutils.h"
#include "platform/file.h"
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
  if (layout.table_name != "defaults.dat") return;
  t.Open();
  t.Insert();
  for (const char* counter : {"nextType1Num", "nextType2Num", "nextType3Num", "nextType4Num"})
    t.FieldByName(counter)->SetAsInteger(kNewCatalogueCounter);
  t.Post();
  t.Close();
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

}  // namespace

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
  for (const CatalogueTable& layout : CatalogueTables()) {
    table->SetDatabaseName(layout.database_name);
    table->SetTableName(layout.table_name);
    table->SetExclusive(true);
    // The database's directory is still the stored relative "data" here.
    const std::string path = home + "\\" + module.QuennetDB->Directory() + "\\" + layout.table_name;
    // A swap of the table's files that a killed repair or restructure left
    // half done is finished first (its data file may be aside then, and
    // the backups older than it); only a data file that is still missing
    // afterwards is restored from a backup.
    storage::RecoverTableSwap(path);
    RestoreFromBackup(path);
    if (!platform::FileExists(path)) {
      Create(*table, layout);
    } else {
      table->Close();
      // The layout's indexes: the repair rebuilds the index file from
      // them when the stored definitions are unreadable.
      DefineIndexes(*table, layout);
      table->RepairTable(table->IndexDefs());
    }
    Restructure(*table, layout);
  }
}

}  // namespace app
