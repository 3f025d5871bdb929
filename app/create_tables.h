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
// Before a table is looked for, a swap of its files that a killed
// creation, repair or restructure left half done is finished
// (storage/table_swap.h). A data file then too short to hold its header and
// field definitions holds no records: it is deleted, and the table is
// missing. A table whose data file is missing while its restructure backup
// (NAME.DBK, with NAME.IBK and NAME.BBK) is there is restored from the
// backup instead of being created empty: an empty table would be
// restructured over the only copy of its records. When the restore fails
// start-up stops with an error naming the files. Once a table has its
// layout, its backups are deleted: a start that ends well leaves only the
// tables' files in the folder. The counters table gets its record whenever
// it holds none: a new table appears whole but empty, and a start killed
// before the record was written leaves it so. On a new catalogue (no record
// numbered 1000 or above) the four counters are 999; on a catalogue in use
// (its counters table lost) each counter starts above the highest number
// of its kind, and the picture counter above the highest picture number in
// the data folder or in a photo's file name, so that nothing new takes the
// number or the file of what is there.
//
// A start killed at any moment leaves what the next start finishes: tables
// are created whole or not at all (storage/data_file.h, CreateDataTable).
//
// The start-up's log: one line for each table created, restored or taken
// as missing, each line of a repair (the table's path, ": ", the line) and
// a counters record written into an existing table. Exact texts:
//   "Data file <path> holds <n> bytes, too few for its header: the table
//    holds no records and is taken as missing"
//   "Table <path> restored from its backup <path of NAME.DBK>"
//   "Table <path> created"
//   "Table <path> held no record of counters: one is written with the
//    counters of a new catalogue"
//   "Table <path> held no record of counters: one is written with counters
//    above the numbers the catalogue holds"
//   "Backup file <path> could not be deleted (system error <n>)"
// Paths are shown as the platform writes them. Lines go to the standard
// error stream, or to the sink when one is set.
//
// Errors are not caught: the engine's (or the restore's) exception leaves
// through the data module's creation.
#pragma once

#include <functional>
#include <string>

namespace app {

class TDatamodule1;

void CreateTables(TDatamodule1& module);

using StartupLogSink = std::function<void(const std::string& line)>;
// Where the start-up's log lines go; none: the standard error stream.
void SetStartupLogSink(StartupLogSink sink);

// Restores table_path's files (the data file name, any case) from its
// restructure backups when the data file is missing and NAME.DBK exists;
// false when there was nothing to restore. Raises Exception when a copy
// fails.
bool RestoreFromBackup(const std::string& table_path);

}  // namespace app
