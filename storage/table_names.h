// The names of a table's files, and the name routines of the engine and
// the SQL engine.
//
// A table NAME is three files: NAME.DAT (data_file_format.h), NAME.IDX
// (index_format.h) and NAME.BLB (blob_format.h), which a restructure keeps
// as backups NAME.DBK, NAME.IBK and NAME.BBK (table_swap.h). Each file
// object normalises the name it is given to its own extension
// (TableFileName). Names of tables, fields and indexes, and passwords, are
// taken trimmed of blanks at both ends (TrimBlanks).
//
// '/' separates like '\' (Windows accepts both; paths here start with
// '/'); names are compared without regard to ASCII case by the platform
// layer.
#pragma once

#include <string>
#include <string_view>

namespace storage {

inline constexpr std::string_view kDataExtension = ".DAT";
inline constexpr std::string_view kIndexExtension = ".IDX";
inline constexpr std::string_view kBlobExtension = ".BLB";
inline constexpr std::string_view kDataBackupExtension = ".DBK";
inline constexpr std::string_view kIndexBackupExtension = ".IBK";
inline constexpr std::string_view kBlobBackupExtension = ".BBK";

// s without blanks (' ') at either end (a view into s).
std::string_view TrimBlanks(std::string_view s);

// name trimmed of blanks, with its extension (after the last '.' that
// follows the last separator) replaced by extension, or extension
// appended; a name whose extension is that one already (in any letter
// case) is kept as it is.
std::string TableFileName(std::string_view name, std::string_view extension);

// Cut before the last '.' when it stands after the last separator.
std::string RemoveFileExt(std::string_view s);
// Trimmed of blanks and control characters at both ends; "\" appended
// when not empty and not already ending in a separator.
std::string IncludeTrailingBackslash(std::string_view s);
// True for "" and for names holding ':', '\' or '/'.
bool HasDirectoryPart(std::string_view s);
// Text after the last separator or ':', cut to 255 characters, without
// extension.
std::string ExtractTableName(std::string_view s);

}  // namespace storage
