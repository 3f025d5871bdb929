// The catalogue's five tables, in the folder "data" under the home
// directory: one per record kind and the one-record table of counters.
//
//   type1.dat     category entries       secondary index "JDate"   on JournalDate
//   type2.dat     captured photo URLs    secondary index "ActDate" on ActivityDate
//   type3.dat     photos                 secondary index "ResName" on ResourceName
//   type4.dat     internet links         secondary index "Name"    on LinkName
//   defaults.dat  counters NextType1Num .. NextType4Num, NextPicNum
//
// Each record table has an unnamed primary index on RecordNum (primary,
// unique) and its secondary index (case-insensitive); defaults.dat has only
// the primary index on RecordID. Only RecordNum is required. Field numbers
// count from 1 in the order listed. Application numbers below 1000
// (Type1Num .. Type4Num) mark the sample records of a new catalogue, whose
// defaults record holds 999 in the four type counters.
#pragma once

#include <string>
#include <vector>

#include "framework/db/db_common.h"

namespace app {

struct CatalogueField {
  std::string name;
  fw::TFieldType type;
  int size = 0;  // characters of a string; 0 for other types
  bool required = false;
};

struct CatalogueTable {
  std::string table_name;     // "type1.dat"
  std::string database_name;  // the name CreateTables gives the table component
  std::vector<CatalogueField> fields;
  std::string secondary_index;  // "" for none
  std::string secondary_field;
};

// The five tables in the order they are created: type1 .. type4, defaults.
const std::vector<CatalogueTable>& CatalogueTables();

// Characters of the Category columns. A category entry's name (JournalName)
// is what the other kinds store in theirs, so it takes no more.
inline constexpr int kCategorySize = 40;

// The sample-data threshold and the counter value of a new catalogue.
inline constexpr int kFirstUserNumber = 1000;
inline constexpr int kNewCatalogueCounter = 999;

}  // namespace app
