// The catalogue's own table sequence through the table component: the five
// tables created with CreateTable, filled, closed, repaired and restructured
// to the definitions they already have (RestructureTable(0, 0, 512, '', '',
// 0, 0, true)), reopened: nothing lost, record ids kept, every file sound by
// the independent checkers. Also the header bytes CreateTable writes, and
// the limits of table paths and definitions.
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
      {"type1.dat",
       {{"RecordNum", TFieldType::ftAutoInc, 0, true}, {"JournalName", TFieldType::ftString, 250},
        {"JournalDate", TFieldType::ftDate}, {"Category", TFieldType::ftString, 40},
        {"Details", TFieldType::ftMemo}, {"Type1Num", TFieldType::ftInteger},
        {"CategoryFK", TFieldType::ftInteger}},
       "JDate", "JournalDate"},
      {"type2.dat",
       {{"RecordNum", TFieldType::ftAutoInc, 0, true}, {"ActivityName", TFieldType::ftString, 250},
        {"ActivityDate", TFieldType::ftDate}, {"Category", TFieldType::ftString, 40},
        {"DueDate", TFieldType::ftDate}, {"Done", TFieldType::ftBoolean},
        {"Details", TFieldType::ftMemo}, {"Type2Num", TFieldType::ftInteger},
        {"CategoryFK", TFieldType::ftInteger}, {"ExtType", TFieldType::ftString, 10}},
       "ActDate", "ActivityDate"},
      {"type3.dat",
       {{"RecordNum", TFieldType::ftAutoInc, 0, true}, {"ResourceName", TFieldType::ftString, 250},
        {"PhotoDate", TFieldType::ftDate}, {"Category", TFieldType::ftString, 40},
        {"Details", TFieldType::ftMemo}, {"Type3Num", TFieldType::ftInteger},
        {"Pic", TFieldType::ftGraphic}, {"Filename", TFieldType::ftString, 250},
        {"Filetype", TFieldType::ftString, 10}, {"ShowStyle", TFieldType::ftString, 10},
        {"PhotoURL", TFieldType::ftString, 250}, {"CategoryFK", TFieldType::ftInteger},
        {"ExtType", TFieldType::ftString, 10}},
       "ResName", "ResourceName"},
      {"type4.dat",
       {{"RecordNum", TFieldType::ftAutoInc, 0, true}, {"LinkName", TFieldType::ftString, 250},
        {"URL", TFieldType::ftString, 250}, {"ParmURL", TFieldType::ftString, 250},
        {"ParmPrefix", TFieldType::ftString, 30}, {"ParmSuffix", TFieldType::ftString, 30},
        {"URLSuffix", TFieldType::ftString, 60}, {"ParmSeparator", TFieldType::ftString, 20},
        {"IsDefaultStock", TFieldType::ftBoolean}, {"Type4Num", TFieldType::ftInteger},
        {"pic", TFieldType::ftGraphic}, {"Category", TFieldType::ftString, 40},
        {"Details", TFieldType::ftMemo}, {"CategoryFK", TFieldType::ftInteger}},
       "Name", "LinkName"},
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

  // A changed size takes the copy path, which must keep the record ids.
  const TableSpec& spec = Schema()[2];
  t->SetTableName(spec.file);
  t->RestructureFieldDefs().Clear();
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    const Column& c = spec.columns[i];
    t->RestructureFieldDefs().Add(c.name, c.type, static_cast<int>(i) + 1, {}, {}, {}, {},
                                  c.required, c.name == "Filetype" ? 12 : c.size);
  }
  DefineIndexes(*t, spec);
  t->RestructureTable(0, 0, 512, "", "", false, 0, true);
  EXPECT_TRUE(std::filesystem::exists(FindFileNoCase(dir_, "type3.DBK")));
  EXPECT_EQ(Snapshot(*t), before[2]);
  EXPECT_EQ(CheckTableFiles(dir_, "type3"), "");
}

// The bytes CreateTable writes, read against the data file layout.
TEST_F(CatalogueTables, CreateTableHeaderBytes) {
  const TableSpec& spec = Schema()[1];
  TTolmidTable* t = NewTable(spec.file);
  for (const Column& c : spec.columns) t->FieldDefs().Add(c.name, c.type, c.size, c.required);
  DefineIndexes(*t, spec);
  t->CreateTable();
  const std::vector<std::uint8_t> dat = ReadFileBytes(FindFileNoCase(dir_, "type2.dat"));
  ASSERT_EQ(dat.size(), 127u + 768u * spec.columns.size());
  auto u16 = [&](std::size_t o) { return dat[o] | (dat[o + 1] << 8); };
  auto u32 = [&](std::size_t o) { return static_cast<std::uint32_t>(u16(o) | (u16(o + 2) << 16)); };
  EXPECT_EQ(u32(4), 512u);          // BLOB block size
  EXPECT_EQ(dat[8], 3);             // version
  EXPECT_EQ(u32(9), 0u);            // no free records
  EXPECT_EQ(u32(13), 1u);           // next record number
  EXPECT_EQ(u32(17), 0u);           // last record id
  EXPECT_EQ(u16(23), 10);           // fields
  EXPECT_EQ(u16(25), 1);            // BLOB fields
  EXPECT_EQ(dat[35], 0);            // no description
  EXPECT_EQ(dat[86], 0);            // not encrypted
  EXPECT_EQ(u16(103), 0);           // no locale
  EXPECT_EQ(u16(105), 0);
  EXPECT_EQ(u16(107), 1);           // creator values 1 and 0
  EXPECT_EQ(u16(109), 0);
  // Record: 9-byte prefix; RecordNum takes none (offset 5); then each
  // field's flag byte and value.
  const int sizes[] = {4, 251, 4, 41, 4, 2, 4, 4, 4, 11};
  const int types[] = {6, 1, 2, 1, 2, 4, 3, 6, 6, 1};
  const int subtypes[] = {29, 0, 0, 0, 0, 0, 22, 0, 0, 0};
  int offset = 9;
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    SCOPED_TRACE(spec.columns[i].name);
    const std::size_t d = 127 + 768 * i;
    EXPECT_EQ(u16(d), static_cast<int>(i) + 1);
    EXPECT_EQ(std::string(dat.begin() + d + 3, dat.begin() + d + 3 + dat[d + 2]), spec.columns[i].name);
    EXPECT_EQ(dat[d + 84], types[i]);
    EXPECT_EQ(dat[d + 85], subtypes[i]);
    EXPECT_EQ(dat[d + 86], types[i] == 1 ? spec.columns[i].size : 0);
    EXPECT_EQ(dat[d + 88], sizes[i]);
    EXPECT_EQ(dat[d + 92], spec.columns[i].required ? 1 : 0);
    EXPECT_EQ(u16(d + 90), i == 0 ? 5 : offset);
    if (i > 0) offset += sizes[i] + 1;
  }
  EXPECT_EQ(u16(21), offset);  // record size
  // Index file header: secondary count, then descriptor 1 ("ActDate").
  const std::vector<std::uint8_t> idx = ReadFileBytes(FindFileNoCase(dir_, "type2.IDX"));
  ASSERT_GE(idx.size(), 4096u);
  EXPECT_EQ(idx[13], 1);
  const std::size_t d0 = 14, d1 = 14 + 120;
  EXPECT_EQ(idx[d0], 0);         // primary: no name
  EXPECT_EQ(idx[d0 + 35], 1);    // unique
  EXPECT_EQ(idx[d0 + 37], 1);    // one field
  EXPECT_EQ(idx[d0 + 54], 1);    // RecordNum
  EXPECT_EQ(std::string(idx.begin() + d1 + 1, idx.begin() + d1 + 1 + idx[d1]), "ActDate");
  EXPECT_EQ(idx[d1 + 34], 1);    // case-insensitive
  EXPECT_EQ(idx[d1 + 35], 0);    // not unique
  EXPECT_EQ(idx[d1 + 54], 3);    // ActivityDate
  EXPECT_EQ(idx[d1 + 31] | (idx[d1 + 32] << 8), 5 + 4);  // date slot + record id
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

  TTolmidTable* unnamed = NewTable("");
  EXPECT_EQ(ErrorOf([&] { unnamed->Open(); }), "Missing table name.");
  TTolmidTable* missing = NewTable("nosuch.dat");
  EXPECT_EQ(CodeOf([&] { missing->Open(); }), 11010);
  EXPECT_EQ(missing->DBFlags(), 0);
}

}  // namespace
}  // namespace dataset::dstest
