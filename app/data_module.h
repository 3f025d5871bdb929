// TDatamodule1: the datasets every window binds to. One instance, made by
// the start-up (CreateForm) after the main window; making it runs
// CreateTables, which builds or repairs and restructures the catalogue's
// tables (app/create_tables.h) before any window uses a dataset.
//
// Every dataset names the database "Quennet" (QuennetDB, Directory "data"
// until the splash window points it at the absolute data folder) and
// retries a locked record 15 times, 100 ms apart. The four record tables
// carry persistent fields for every column of their layout, owned by the
// module and named table + field ("Type1TableJournalName"); DefaultsTable
// has none and is read by name.
#pragma once

#include "dataset/tolmid_database.h"
#include "dataset/tolmid_query.h"
#include "dataset/tolmid_table.h"
#include "framework/db/data_link.h"
#include "framework/forms/application.h"

namespace app {

class TDatamodule1 : public fw::TDataModule {
 public:
  explicit TDatamodule1(fw::TComponent* owner);
  ~TDatamodule1() override;

  dataset::TTolmidDatabase* QuennetDB;
  dataset::TTolmidTable* Type1Table;
  dataset::TTolmidTable* Type2Table;
  dataset::TTolmidTable* Type3Table;
  dataset::TTolmidTable* Type4Table;
  dataset::TTolmidTable* DefaultsTable;
  fw::TDataSource* Type1Source;
  fw::TDataSource* Type2Source;
  fw::TDataSource* Type3Source;
  fw::TDataSource* Type4Source;
  fw::TDataSource* DefaultsSource;
  dataset::TTolmidQuery* StandardUpdateQuery;
  dataset::TTolmidQuery* StandardSelectQuery;
  dataset::TTolmidQuery* StandardSelectQuery2;
  dataset::TTolmidQuery* StandardCountQuery;
  dataset::TTolmidQuery* StandardCountQuery2;
  fw::TDataSource* StandardSelectSource;
  fw::TDataSource* StandardSelectSource2;
  fw::TDataSource* StandardCountSource;
  dataset::TTolmidQuery* Type1ReportQuery;
  dataset::TTolmidQuery* Type2ReportQuery;
  dataset::TTolmidQuery* Type3ReportQuery;
  dataset::TTolmidQuery* Type4ReportQuery;
  dataset::TTolmidQuery* Type1GraphQuery;
  dataset::TTolmidQuery* Type2GraphQuery;
  dataset::TTolmidQuery* Type3GraphQuery;
  dataset::TTolmidQuery* Type4GraphQuery;

  // The record table of kind 1..4.
  dataset::TTolmidTable* TypeTable(int kind) const;

  void Datamodule1Create(fw::TComponent* sender);
  void Type1SourceDataChange(fw::TDataSource& sender, fw::TField* field);

 private:
  dataset::TTolmidTable* MakeTable(const std::string& name, const std::string& table_name);
  dataset::TTolmidQuery* MakeQuery(const std::string& name, const std::string& sql);
  fw::TDataSource* MakeSource(const std::string& name, fw::TDataSet* dataset);
};

// The one data module (nullptr before it is made and after it is freed).
extern TDatamodule1* Datamodule1;

}  // namespace app
