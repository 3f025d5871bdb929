#include "app/data_module.h"

#include "app/catalogue_schema.h"
#include "app/create_tables.h"
#include "framework/db/field.h"

namespace app {

TDatamodule1* Datamodule1 = nullptr;

namespace {

constexpr const char* kDatabaseName = "Quennet";

void SetRetries(dataset::TTolmidTable* t) {
  t->SetLockRetryCount(15);
  t->SetLockWaitTime(100);
}

// Persistent fields of every column of the table's layout.
void AddFields(fw::TComponent* owner, dataset::TTolmidTable* table, const CatalogueTable& layout) {
  for (const CatalogueField& f : layout.fields) {
    fw::TField* field = fw::CreateFieldOfType(f.type, owner);
    field->SetName(table->Name() + f.name);
    field->SetFieldName(f.name);
    if (f.size > 0) field->SetSize(f.size);
    field->SetRequired(f.required);
    field->SetDataSet(table);
  }
}

}  // namespace

TDatamodule1::TDatamodule1(fw::TComponent* owner) : TDataModule(owner) {
  SetName("Datamodule1");
  QuennetDB = new dataset::TTolmidDatabase(this);
  QuennetDB->SetName("QuennetDB");
  QuennetDB->SetDatabaseName(kDatabaseName);
  QuennetDB->SetDirectory("data");
  QuennetDB->SetSessionName("Default");

  Type1Table = MakeTable("Type1Table", "type1.dat");
  Type2Table = MakeTable("Type2Table", "type2.dat");
  Type3Table = MakeTable("Type3Table", "type3.dat");
  Type3Table->SetIndexName("ResName");
  Type4Table = MakeTable("Type4Table", "type4.dat");
  Type4Table->SetIndexName("Name");
  DefaultsTable = MakeTable("DefaultsTable", "defaults.DAT");
  const std::vector<CatalogueTable>& layouts = CatalogueTables();
  for (int kind = 1; kind <= 4; ++kind) AddFields(this, TypeTable(kind), layouts[static_cast<std::size_t>(kind - 1)]);

  Type1Source = MakeSource("Type1Source", Type1Table);
  Type1Source->OnDataChange = [this](fw::TDataSource& s, fw::TField* f) { Type1SourceDataChange(s, f); };
  Type2Source = MakeSource("Type2Source", Type2Table);
  Type3Source = MakeSource("Type3Source", Type3Table);
  Type4Source = MakeSource("Type4Source", Type4Table);
  DefaultsSource = MakeSource("DefaultsSource", DefaultsTable);

  StandardUpdateQuery = MakeQuery("StandardUpdateQuery", "");
  StandardUpdateQuery->SetRequestLive(true);
  StandardSelectQuery = MakeQuery("StandardSelectQuery", "");
  StandardSelectQuery2 = MakeQuery("StandardSelectQuery2", "");
  StandardCountQuery = MakeQuery("StandardCountQuery", "");
  StandardCountQuery2 = MakeQuery("StandardCountQuery2", "");
  StandardSelectSource = MakeSource("StandardSelectSource", StandardSelectQuery);
  StandardSelectSource2 = MakeSource("StandardSelectSource2", StandardSelectQuery2);
  StandardCountSource = MakeSource("StandardCountSource", StandardCountQuery);
  Type1ReportQuery = MakeQuery("Type1ReportQuery", "select * from type1");
  Type2ReportQuery = MakeQuery("Type2ReportQuery", "select * from type2");
  Type3ReportQuery = MakeQuery("Type3ReportQuery", "select * from type3");
  Type4ReportQuery = MakeQuery("Type4ReportQuery", "select * from type4");
  Type1GraphQuery = MakeQuery("Type1GraphQuery", "select category, count(*) as \"Count Of type1num\" from type1 group by category");
  Type2GraphQuery = MakeQuery("Type2GraphQuery", "select category, count(*) as \"Count Of type2num\" from type2 group by category");
  Type3GraphQuery = MakeQuery("Type3GraphQuery", "select category, count(*) as \"Count Of type3num\" from type3 group by category");
  Type4GraphQuery = MakeQuery("Type4GraphQuery", "select category, count(*) as \"Count Of type4num\" from type4 group by category");

  OnCreate = [this](fw::TComponent* s) { Datamodule1Create(s); };
  // Connected as the module is loaded, before its OnCreate.
  QuennetDB->SetConnected(true);
}

TDatamodule1::~TDatamodule1() {
  // The datasets close before the database and the sources they refer to.
  DestroyComponents();
  if (Datamodule1 == this) Datamodule1 = nullptr;
}

dataset::TTolmidTable* TDatamodule1::MakeTable(const std::string& name, const std::string& table_name) {
  auto* t = new dataset::TTolmidTable(this);
  t->SetName(name);
  t->SetDatabaseName(kDatabaseName);
  t->SetTableName(table_name);
  SetRetries(t);
  return t;
}

dataset::TTolmidQuery* TDatamodule1::MakeQuery(const std::string& name, const std::string& sql) {
  auto* q = new dataset::TTolmidQuery(this);
  q->SetName(name);
  q->SetDatabaseName(kDatabaseName);
  q->SetLockRetryCount(15);
  q->SetLockWaitTime(100);
  if (!sql.empty()) q->SetSQLText(sql);
  return q;
}

fw::TDataSource* TDatamodule1::MakeSource(const std::string& name, fw::TDataSet* dataset) {
  auto* s = new fw::TDataSource(this);
  s->SetName(name);
  s->SetDataSet(dataset);
  return s;
}

dataset::TTolmidTable* TDatamodule1::TypeTable(int kind) const {
  switch (kind) {
    case 1: return Type1Table;
    case 2: return Type2Table;
    case 3: return Type3Table;
    case 4: return Type4Table;
    default: return nullptr;
  }
}

void TDatamodule1::Datamodule1Create(fw::TComponent*) { CreateTables(*this); }

void TDatamodule1::Type1SourceDataChange(fw::TDataSource&, fw::TField*) {}

}  // namespace app
