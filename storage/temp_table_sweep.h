// Temporary tables that a killed program left behind.
//
// A query's result on disk is a temporary table: GetTempTableName
// (session.h) names it directory + digits + ".DAT" (the .IDX, and the .BLB
// with BLOB columns, beside it), and its maker creates it open and
// exclusive, marks it once it holds it for good (creator value 2 :=
// kTemporaryTableMark, data_file_format.h) and deletes its files when it
// closes it. Between the mark and the close the maker's handle stays open;
// a program killed in between leaves the files for ever.
//
// RemoveDeadTemporaryTables removes them: in one directory, every file
// DIGITS.DAT (the extension in any case) that it can open with share mode
// none - which fails while any handle of any program has it open: the
// kernel drops the sharing locks of a killed program's handles with them -
// and whose header carries the mark loses its .IDX, its .BLB and then
// itself (a sweep killed half way leaves a marked .DAT the next one
// finishes).
//
// Never removed: a table some program has open; a table without the mark
// (one made by the table component, an INTO table of a query, a temporary
// table of a build that did not mark them, one whose maker was killed
// before the mark was written); a name reserved and not yet created over
// (an empty file). A maker that closes its table while a sweep deletes it
// finds its files gone and is content (TDataFile::Close).
//
// The engine sweeps the current directory when it starts (InitializeEngine)
// and any other directory the first time after its start that it makes a
// temporary table there (GetTempTableName).
#pragma once

#include <string_view>

namespace storage {

// Removes the dead temporary tables of directory (see above); never
// raises: what cannot be read or deleted stays.
void RemoveDeadTemporaryTables(std::string_view directory) noexcept;

}  // namespace storage
