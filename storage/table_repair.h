// The repair of one table, behind TDataFile::RepairDataTable: the class is
// shared by table_repair.cpp (the run, the record pass, the swap) and
// table_repair_checks.cpp (what the repair may trust: the definitions
// mended from their witnesses, the BLOB layout). No caller uses it
// directly.
//
// The files are never mended where they lie. The repair
//   1. finishes an interrupted swap of the table (table_swap.h), then holds
//      the old .DAT open exclusively (nobody opens the table meanwhile) and
//      removes the temporary files of killed runs;
//   2. reads the header and field descriptors leniently and mends what
//      their witnesses agree on (below); the index definitions likewise;
//   3. writes a new set NAME~RP<pid>.DAT/.IDX/.BLB: the mended header and
//      descriptors with every whole record of the old file, the index header
//      with every tree emptied, and a copy of the BLOB file with a header
//      that opens;
//   4. opens the new set as a table and runs the record pass on it (keys
//      rebuilt, BLOB chains checked, free lists rebuilt), flushes it and
//      swaps it in as one step.
// Whatever fails before the swap deletes the new files and leaves the old
// ones exactly as they were, so a refusal changes nothing.
//
// Witnesses. A table states most facts twice: the header's record size and
// the descriptors' offsets and sizes; the field count and the descriptors
// that follow it; the BLOB count and the field types; an index's key size
// and its fields and unique flag; the BLOB block size and the blocks of the
// BLOB file. Where one statement is damaged the other tells which, and the
// damaged one is mended (each with its log line). Where they disagree and
// nothing tells which is right, the repair refuses with an error naming the
// field or index: mending by guess would misread every record (a wrong
// record layout or block size) or delete records that are not damaged (a
// unique key on the wrong fields).
//
// Index definitions. The index file is derived data but for its
// definitions. A descriptor slot with at most two bytes set holds no
// definition (a definition sets at least its name length and a character,
// key size, field count and a field number): stray bytes there are dropped.
// Definitions that can't be read (no readable header, a slot missing among
// the used ones, a unique index without its key fields, a key that no field
// of the table makes) are refused, unless the caller imposes the
// definitions the table must have: the index file is then built from those,
// by field name. An imposed list also overrides stored definitions whose
// unique indexes are not among its own, since their duplicates would
// delete records that are not damaged.
//
// Records. Only a record's own bytes decide its fate: a status other than
// 0 (active) makes it deleted, a duplicate key in a unique index deletes
// the later record (a duplicate record ID gives it a new ID instead, since
// IDs are the engine's own), and a BLOB value whose chain is broken is cut.
// The values of an active record are brought to the format before its keys
// are built, each mended field with its log line: null flags 0 or 1 (1 when
// the value bytes hold anything), the bytes of a null value zero, a string
// ended inside its field, without trailing blanks and null when empty, a
// Boolean 0 or 1. Every other failure (I/O, locks, caches, definitions)
// raises and changes nothing. Many duplicates in one unique index (more
// than one, and more than 1 in 20 of the records) say the index definition
// is wrong, not the records: the repair refuses.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/file_handler.h"
#include "storage/index_format.h"

namespace storage {

// A plain file of the table, opened or created exclusively.
class RepairFile {
 public:
  explicit RepairFile(const std::string& name);
  ~RepairFile();
  RepairFile(const RepairFile&) = delete;
  RepairFile& operator=(const RepairFile&) = delete;
  bool Exists() { return file_.FileExists(); }
  void Open() { file_.Open(); }
  void Create() { file_.CreateFile(); }
  void Close() { file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }
  std::int64_t Size() { return file_.GetFileSize(); }
  // Exactly n bytes at position, or false.
  bool ReadExact(std::int64_t position, void* buffer, std::size_t n);
  void WriteAt(std::int64_t position, const void* buffer, std::size_t n);
  const std::string& Name() const { return file_.FileName(); }

 private:
  TFileHandler file_;
};

// REQUIRES: the data file is closed, exclusive, writable and on disk.
class TableRepair {
 public:
  TableRepair(TDataFile& table, const std::vector<RepairIndexDefinition>& imposed)
      : table_(table), imposed_(imposed) {}
  void Run();

 private:
  void Log(const std::string& line) { table_.DoRepairLog(line); }

  // Why the stored index definitions can't be used: the error a repair
  // without imposed definitions refuses with.
  struct IndexRefusal {
    ErrorCode code;
    std::string field;
    std::string index;
  };

  // table_repair_checks.cpp
  void MendDataHeader(RepairFile& dat);
  void ReadDescriptors(RepairFile& dat, std::uint16_t count);
  bool MendFieldCount(RepairFile& dat, std::int64_t size);
  void MendFieldTexts();
  void CheckBlobFields(RepairFile& dat);
  void CheckBlobBlockSize(RepairFile& dat);
  // The old index header, read and mended; a refusal when its definitions
  // can't be used.
  std::optional<IndexRefusal> ReadIndexDefinitions(IndexHeader& h);
  std::optional<IndexRefusal> MendIndexHeader(IndexHeader& h);
  // Every unique index of h (the primary among them) is one of the imposed
  // ones: the same fields in the same order.
  bool UniqueIndexesImposed(const IndexHeader& h) const;
  // A header holding the imposed definitions whose fields the table has.
  IndexHeader ImposedIndexHeader() const;
  // Mends one value of an active record to the format (table_repair.h,
  // Records); true when anything changed.
  static bool NormaliseValue(std::span<std::byte> rec, const TFieldDescriptor& f);
  // Record n of the old file as stored (unscrambled); false past the end.
  bool ReadOldRecord(RepairFile& dat, std::uint32_t n, std::vector<std::uint8_t>& out);
  // Of the non-null, non-zero values of a 4-byte field in active records
  // (at most 256): how many there are and how many name the first block of
  // a chain that record owns.
  struct BlobEvidence {
    int values = 0;
    int chains = 0;
  };
  BlobEvidence EvidenceOfBlobs(RepairFile& dat, const TFieldDescriptor& f);

  // table_repair.cpp
  void WriteNewDataFile(RepairFile& dat);
  void WriteNewIndexFile();
  void WriteNewBlobFile();
  void RecordPass(TDataFile& work);
  static void ReclaimBlocks(TBlobFile& blob, const std::vector<std::uint32_t>& live_chains);

  TDataFile& table_;
  const std::vector<RepairIndexDefinition>& imposed_;
  std::string old_dat_, old_idx_, old_blb_;
  std::string new_dat_, new_idx_, new_blb_;
  DataFileHeader header_;
  std::vector<TFieldDescriptor> fields_;
  std::int64_t data_bytes_ = 0;  // whole records kept
  std::uint32_t blob_fields_ = 0;
  std::uint32_t largest_id_ = 0;  // of every record slot of the old file
};

}  // namespace storage
