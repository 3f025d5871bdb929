// CreateTables: brings the catalogue's five tables (app/catalogue_schema.h)
// into being and to their layout, at every start, before any window uses
// a dataset. For each table in order: a missing one is created (the
// defaults table with its one record of counters at 999), an existing one
// is repaired with the layout's indexes imposed (an index file whose
// definitions are unreadable is rebuilt from them: the index is derived
// from the records); then every table is restructured to the layout, so a
// table of an older layout gains what it lacks and one that has it is
// rewritten in place.
//
// Before a table is looked for, a swap of its files that a killed repair
// or restructure left half done is finished (storage/table_swap.h). A table
// whose data file is then still missing while its restructure backup
// (NAME.DBK, with NAME.IBK and NAME.BBK) is there is restored from the
// backup instead of being created empty: an empty table would be
// restructured over the only copy of its records. When the restore fails
// start-up stops with an error naming the files.
//
// Errors are not caught: the engine's (or the restore's) exception leaves
// through the data module's creation.
#pragma once

#include <string>

namespace app {

class TDatamodule1;

void CreateTables(TDatamodule1& module);

// Restores table_path's files (the data file name, any case) from its
// restructure backups when the data file is missing and NAME.DBK exists;
// false when there was nothing to restore. Raises Exception when a copy
// fails.
bool RestoreFromBackup(const std::string& table_path);

}  // namespace app
