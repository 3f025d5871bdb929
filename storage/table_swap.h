// Replacing the files of a disk table as one step, as the next open sees
// it, and finishing a replacement that a killed program left half done.
//
// A table is NAME.DAT, NAME.IDX and, with BLOB fields, NAME.BLB. Repair and
// restructure build a new set beside it under temporary names (NAME~RP<pid>
// and NAME~RS<pid>, same directory) and then swap, in this order:
//   1. every new file is flushed to disk; whatever stands under the old
//      files' aside names is deleted (restructure: the backups NAME.DBK,
//      NAME.IBK, NAME.BBK of the previous restructure; repair: nothing, its
//      aside names are NAME~RO<pid>.*); the directory is flushed;
//   2. the intent file NAME.SWP is created, written and flushed, and the
//      directory flushed. The swapping program keeps it open, unshared,
//      until it deletes it;
//   3. each old file is moved to its aside name, then each new file to the
//      table's name;
//   4. the directory is flushed, NAME.SWP deleted, the directory flushed;
//      a repair then deletes the old files under their aside names.
//
// Invariants:
//   (1) While NAME.SWP exists, every new file is whole on disk, under its
//       temporary name or under the table's name.
//   (2) While NAME.SWP exists, each file k of the table is in one of three
//       states: (a) old under the table's name, new under the temporary
//       name; (b) nothing under the table's name, old aside, new under the
//       temporary name; (c) new under the table's name, old aside. The
//       temporary name tells (c) from the others, the table's name (a)
//       from (b).
//   (3) While NAME.SWP does not exist, the table's names hold the whole old
//       set (before step 2) or the whole new set (after step 4).
// So a program that finds NAME.SWP and can open it unshared (its writer is
// gone: the open would fail while the writer lives) finishes the swap from
// any state of (2) with the same moves (roll forward), before the table is
// opened. The swapping program itself, when a move fails, moves back what
// it moved (roll back): undoing (c) gives (b) and undoing (b) gives (a), so
// a roll back that stops half way still leaves states of (2) for the next
// open to roll forward. A NAME.SWP that does not read whole was cut by a
// power failure in step 2, before any file moved: it is deleted.
//
// Intent file NAME.SWP (little-endian):
//   OFFSET  SIZE  DESCRIPTION
//      0      8   "TOLSWAP1"
//      8      1   flags: 1 = aside names are the backups NAME.DBK/.IBK/.BBK,
//                 else the aside base name below with .DAT/.IDX/.BLB;
//                 2 = delete the aside files at the end (repair)
//      9      1   files of the old set (1 .DAT, 2 .IDX, 4 .BLB)
//     10      1   files of the new set (same bits)
//     11      1   length n of the new set's base name (file name, no
//                 directory, no extension), 1..200
//     12      n   the new set's base name
//   12+n      1   length m of the aside base name (0 with flag 1)
//   13+n      m   the aside base name
//   13+n+m    4   FNV-1a hash (32 bits) of every byte before it
//
// Temporary files of a run that was killed before step 2 are not part of
// any swap: repair and restructure delete them (RemoveLeftoverFiles) while
// they hold the table exclusively, whatever process made them. A new table
// (TDataFile::CreateDataTable) is built as NAME~CR<pid> and swapped in the
// same way (its old set: whatever stood under the table's names, dropped);
// a creation holds nothing that keeps other programs away, so its files
// are deleted only once the process named in them is gone.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace storage {

// Test seam: called with the name of each point a creation, repair,
// restructure or swap passes (after the step named is done): "table files
// made", "indexes made" (a table's files made, in place or as a new set),
// "copy record", "repair record", "new files written", "new files synced",
// "asides deleted", "intent written", "table closed", "old DAT aside" (IDX,
// BLB), "new DAT in place" (IDX, BLB), "intent removed", "asides dropped". A program killed at any of them
// must leave a table the next open finishes. An exception the hook throws
// is handled as a failure of the step that follows.
using TableStepHook = std::function<void(std::string_view point)>;
void SetTableStepHook(TableStepHook hook);
void TableStep(std::string_view point);

// The names of one table's files, resolved (actual spelling of what
// exists), from the .DAT name the table was given.
struct TableNames {
  explicit TableNames(std::string_view data_file_name);
  std::string directory;  // no trailing separator; "." for the current one
  std::string base;       // file name without extension
  std::array<std::string, 3> file;    // .DAT, .IDX, .BLB
  std::array<std::string, 3> backup;  // .DBK, .IBK, .BBK
  std::string intent;                 // .SWP
  // directory + "/" + base_name + extension of file k.
  [[nodiscard]] std::string Sibling(std::string_view base_name, int k) const;
};

// The longest base name (file name without directory and extension) of a
// new set that a swap can record in its intent.
inline constexpr std::size_t kMaxSwapBaseName = 200;

// The .DAT name of a temporary set of the table: NAME~<tag><pid>.DAT, tag
// "RP" (repair), "RS" (restructure), "RO" (repair's aside names) or "CR"
// (creation).
std::string TemporaryTableName(std::string_view data_file_name, std::string_view tag);

// Deletes the temporary sets left beside the table by runs that were
// killed: of every repair and restructure (any process id), and of every
// creation whose process is gone. REQUIRES: the caller holds the table
// exclusively and no swap is pending (RecoverTableSwap ran).
void RemoveLeftoverFiles(std::string_view data_file_name);
// Deletes the sets of creations of the table whose process is gone; needs
// no hold on the table.
void RemoveDeadCreations(std::string_view data_file_name);

// Finishes a swap a killed program left (see the top of this file);
// nothing when there is no NAME.SWP. 11013 while the swapping program
// still holds it; 9221 when the files are in no state a swap leaves.
void RecoverTableSwap(std::string_view data_file_name);

class TableSwap {
 public:
  enum class Aside { kBackups, kDropped };
  // table: the table's .DAT name; fresh: the .DAT name of the new set, in
  // the same directory, closed.
  TableSwap(std::string_view table, std::string_view fresh, Aside aside);
  // Abandon() unless committed.
  ~TableSwap();
  TableSwap(const TableSwap&) = delete;
  TableSwap& operator=(const TableSwap&) = delete;

  // Steps 1 and 2 for the files named by files (1 .DAT, 2 .IDX, 4 .BLB);
  // the others stay as they are. REQUIRES: the caller still holds the
  // table, so that no program opens it before the intent exists.
  void Prepare(std::uint8_t files = 7);
  // Steps 3 and 4, after the caller closed the table. On a failure the
  // moves done are undone and the error raised; when undoing fails too, the
  // intent stays for the next open to finish and the new files with it.
  void Commit();
  // Before a commit: removes the intent when written and the new files.
  // After a commit that left its intent: nothing. Never throws.
  void Abandon() noexcept;

 private:
  enum class State { kBuilt, kPrepared, kCommitted, kLeftForRecovery, kAbandoned };
  TableNames names_;
  std::string fresh_base_;
  Aside aside_;
  std::array<std::string, 3> aside_file_;
  std::uint8_t old_set_ = 0;
  std::uint8_t new_set_ = 0;
  platform::File intent_;
  State state_ = State::kBuilt;
};

}  // namespace storage
