// The catalogue's own table sequence through the table component: its
// photo table (every kind of column) and its counters created with
// CreateTable, filled, closed, repaired and restructured to the
// definitions they already have (RestructureTable(0, 0, 512, '', '', 0, 0,
// true)), reopened: nothing lost, record ids kept, every file sound by the
// independent checkers (the copy path of a changed definition is the app
// start-up test's). Also the limits of table paths and definitions.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::TIndexOption;

struct TableSpec {
  std::string file;
  std::vector<Column> columns;
  std::string secondary_name;  // "" for none
  std::string secondary_field;
};

const std::vector<TableSpec>& Schema() {
  static const std::vector<TableSpec> tables = {
      {"type3.dat",
       {{"RecordNum", TFieldType::ftAutoInc, 0, true}, {"ResourceName", TFieldType::ftString, 250},
        {"PhotoDate", TFieldType::ftDate}, {"Category", TFieldType::ftString, 40},
        {"Details", TFieldType::ftMemo}, {"Type3Num", TFieldType::ftInteger},
        {"Pic", TFieldType::ftGraphic}, {"Filename", TFieldType::ftString, 250},
        {"Filetype", TFieldType::ftString, 10}, {"ShowStyle", TFieldType::ftString, 10},
        {"PhotoURL", TFieldType::ftString, 250}, {"CategoryFK", TFieldType::ftInteger},
        {"ExtType", TFieldType::ftString, 10}},
       "ResName", "ResourceName"},
      {"defaults.dat",
       {{"RecordID", TFieldType::ftAutoInc}, {"NextType1Num", TFieldType::ftInteger},
        {"NextType2Num", TFieldType::ftInteger}, {"NextType3Num", TFieldType::ftInteger},
        {"NextType4Num", TFieldType::ftInteger}, {"NextPicNum", TFieldType::ftInteger}},
       "", ""},
  };
  return tables;
}

void DefineIndexes(TTolmidTable& t, const TableSpec& spec) {
  t.IndexDefs().Clear();
  t.IndexDefs().Add("", spec.columns[0].name, kPrimary);
  if (!spec.secondary_name.empty())
    t.IndexDefs().Add(spec.secondary_name, spec.secondary_field, {TIndexOption::ixCaseInsensitive});
}

// Every column's value as text, and the auto-increment id, of every record
// in primary order.
std::vector<std::string> Snapshot(TTolmidTable& t) {
  std::vector<std::string> rows;
  t.Open();
  t.First();
  while (!t.Eof()) {
    std::string row;
    for (int i = 0; i < t.FieldCount(); ++i) row += t.Fields(i)->AsString() + "|";
    rows.push_back(row);
    t.Next();
  }
  t.Close();
  return rows;
}

class CatalogueTables : public DataSetTest {};

TEST_F(CatalogueTables, CreateFillRepairRestructureKeepsEverything) {
  auto* t = new TTolmidTable(owner_.get());
  t->SetDatabaseName("db");  // names match without regard to case
  std::vector<std::vector<std::string>> before;
  for (const TableSpec& spec : Schema()) {
    t->SetTableName(spec.file);
    t->SetExclusive(true);
    t->FieldDefs().Clear();
    for (const Column& c : spec.columns) t->FieldDefs().Add(c.name, c.type, c.size, c.required);
    DefineIndexes(*t, spec);
    t->CreateTable();
    t->Open();
    const int records = spec.file == "defaults.dat" ? 1 : 40;
    for (int r = 0; r < records; ++r) {
      t->Append();
      for (int i = 1; i < t->FieldCount(); ++i) {
        fw::TField* f = t->Fields(i);
        if ((r + i) % 7 == 0) continue;  // some nulls
        switch (f->DataType()) {
          case TFieldType::ftString: f->SetAsString(f->FieldName().substr(0, 3) + std::to_string(r * 31 % 17)); break;
          case TFieldType::ftInteger: f->SetAsInteger(r * 13 - 100); break;
          case TFieldType::ftDate: f->SetAsDateTime(40000 + r % 9); break;
          case TFieldType::ftBoolean: f->SetAsBoolean(r % 2 == 0); break;
          default: f->SetAsString(std::string(static_cast<std::size_t>(r * 37 % 1500), char('a' + r % 26)));
        }
      }
      t->Post();
    }
    // Gaps: deleted records leave free slots that the repair and the
    // restructure must carry over as they are.
    if (records > 1) {
      t->First();
      t->MoveBy(5);
      t->Delete();
      t->Last();
      t->Delete();
    }
    t->Close();
    before.push_back(Snapshot(*t));
  }

  for (std::size_t k = 0; k < Schema().size(); ++k) {
    const TableSpec& spec = Schema()[k];
    SCOPED_TRACE(spec.file);
    t->SetTableName(spec.file);
    std::vector<std::string> log;
    t->OnRepairLog = [&](TTolmidTable&, const std::string& line) { log.push_back(line); };
    t->RepairTable();
    t->RestructureFieldDefs().Clear();
    for (std::size_t i = 0; i < spec.columns.size(); ++i) {
      const Column& c = spec.columns[i];
      t->RestructureFieldDefs().Add(c.name, c.type, static_cast<int>(i) + 1, {}, {}, {}, {},
                                    c.required, c.size);
    }
    DefineIndexes(*t, spec);
    int lost = 0;
    t->OnDataLost = [&](TTolmidTable&, std::uint8_t, bool&, bool&) { ++lost; };
    t->RestructureTable(0, 0, 512, "", "", false, 0, true);
    EXPECT_EQ(lost, 0);
    const std::string base = spec.file.substr(0, spec.file.size() - 4);
    // Every definition compares equal to the stored one, so the engine
    // rewrites them in place: no records are copied, no backup is made.
    EXPECT_FALSE(std::filesystem::exists(FindFileNoCase(dir_, base + ".DBK")));
    EXPECT_EQ(Snapshot(*t), before[k]);
    EXPECT_EQ(CheckTableFiles(dir_, base), "");
  }
}

TEST_F(CatalogueTables, RefusedDefinitionsAndPaths) {
  TTolmidTable* t = NewTable("nokeys.dat");
  t->FieldDefs().Add("A", TFieldType::ftInteger);
  EXPECT_EQ(ErrorOf([&] { t->CreateTable(); }),
            "No index definitions: a table needs its primary index (index definition 0)");
  EXPECT_FALSE(std::filesystem::exists(FindFileNoCase(dir_, "nokeys.dat")));

  // Never cut to 255 characters, which would name another table.
  const std::string dir(220, 'd');
  std::filesystem::create_directories(dir_ + "/" + dir);
  const std::string name = dir + "/type1.dat.extra-name-that-runs-past-the-limit.dat";
  TTolmidTable* longer = NewTable(name);
  longer->FieldDefs().Add("A", TFieldType::ftInteger);
  longer->IndexDefs().Add("", "A", kPrimary);
  const std::string error = ErrorOf([&] { longer->CreateTable(); });
  EXPECT_EQ(error.rfind("Table path is longer than 255 characters: ", 0), 0u) << error;
  EXPECT_EQ(ErrorOf([&] { longer->Open(); }).rfind("Table path is longer", 0), 0u);

  // Sizes by type: strings 1 to 250, BCD decimals 0
  // to 8, other types none.
  const struct {
    TFieldType type;
    int size;
    bool ok;
  } sizes[] = {{TFieldType::ftString, 0, false},  {TFieldType::ftString, 1, true},
               {TFieldType::ftString, 250, true}, {TFieldType::ftString, 251, false},
               {TFieldType::ftBCD, -1, false},    {TFieldType::ftBCD, 0, true},
               {TFieldType::ftBCD, 8, true},      {TFieldType::ftBCD, 9, false},
               {TFieldType::ftInteger, 0, true},  {TFieldType::ftInteger, 4, false}};
  for (const auto& c : sizes) {
    SCOPED_TRACE(static_cast<int>(c.type) * 1000 + c.size);
    t->RestructureFieldDefs().Clear();
    EXPECT_EQ(ErrorOf([&] { t->RestructureFieldDefs().Add("F", c.type, 1, "", "", "", "", false, c.size); }),
              c.ok ? "" : "Invalid field size");
    EXPECT_EQ(t->RestructureFieldDefs().Count(), c.ok ? 1 : 0);
  }

  TTolmidTable* unnamed = NewTable("");
  EXPECT_EQ(ErrorOf([&] { unnamed->Open(); }), "Missing table name.");
  TTolmidTable* missing = NewTable("nosuch.dat");
  EXPECT_EQ(CodeOf([&] { missing->Open(); }), 11010);
  EXPECT_EQ(missing->DBFlags(), 0);
}

}  // namespace
}  // namespace dataset::dstest
