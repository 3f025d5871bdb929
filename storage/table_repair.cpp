// Table repair: checks and mends a table's .DAT, .IDX and .BLB.
//
// The files are never mended where they lie. The repair
//   1. holds the old .DAT open exclusively (nobody opens the table
//      meanwhile) and reads its header and field descriptors leniently,
//      mending what can be recomputed from the field types (offsets,
//      numbers, record size, BLOB count, record count, free-list head);
//   2. writes a new set under temporary names (NAME_rpPID.DAT/.IDX/.BLB):
//      the mended header and descriptors with every whole record of the
//      old file, the old index header with every tree emptied, and a copy
//      of the BLOB file with its header made readable;
//   3. opens the new set as a table and runs the record pass on it (keys
//      rebuilt, BLOB chains checked, free lists rebuilt);
//   4. flushes it to disk and renames the new files over the old ones.
// Whatever fails before step 4 deletes the new files and leaves the old
// ones exactly as they were. The renames go BLOB file, index file, data
// file; each one is atomic. A crash between two of them leaves a table
// whose records are those of the old .DAT with the new index or BLOB file:
// a second repair (from the .DAT, which alone is authoritative) mends it.
//
// What the repair cannot mend it refuses, changing nothing: a data file too
// short for its header or descriptors, a field count outside 1..1024, a
// descriptor that is not a field definition at all (unknown type, string
// widths, declared size), an index file without a readable header (the
// index definitions live there only), a locale that is not installed.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/ticks.h"
#include "storage/blob_block.h"
#include "storage/blob_file.h"
#include "storage/blob_format.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"

namespace storage {

namespace {

constexpr std::size_t kMaxLogLine = 255;  // the log event takes a short string
constexpr std::size_t kCopyChunk = 1u << 20;

std::string Stem(const std::string& name) {
  const std::size_t slash = name.find_last_of("\\/:");
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    return name.substr(0, dot);
  return name;
}

// A plain file of the table, opened or created exclusively.
class RawFile {
 public:
  explicit RawFile(const std::string& name) {
    file_.SetExclusive(true);
    file_.SetFileName(name);
  }
  ~RawFile() {
    try {
      file_.Close();
    } catch (...) {
    }
  }
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;
  bool Exists() { return file_.FileExists(); }
  void Open() { file_.Open(); }
  void Create() { file_.CreateFile(); }
  void Close() { file_.Close(); }
  std::int64_t Size() { return file_.GetFileSize(); }
  // Exactly n bytes at position or false.
  bool ReadExact(std::int64_t position, void* buffer, std::size_t n) {
    return file_.ReadAt(position, buffer, static_cast<std::int32_t>(n)) ==
           static_cast<std::int32_t>(n);
  }
  void WriteAt(std::int64_t position, const void* buffer, std::size_t n) {
    if (n > 0) file_.WriteAt(position, buffer, static_cast<std::int32_t>(n));
  }
  const std::string& Name() const { return file_.FileName(); }

 private:
  TFileHandler file_;
};

void CopyRange(RawFile& from, RawFile& to, std::int64_t start, std::int64_t length) {
  std::vector<std::uint8_t> buffer(kCopyChunk);
  std::int64_t done = 0;
  while (done < length) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::int64_t>(length - done, static_cast<std::int64_t>(kCopyChunk)));
    if (!from.ReadExact(start + done, buffer.data(), n)) EngineError(ErrorCode::kCorruptRecords, from.Name());
    to.WriteAt(start + done, buffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
}

// Round(n / m x 100) with ties to even (the rounding of the progress
// percentage), computed exactly in integers.
std::uint16_t Percent(std::uint64_t n, std::uint64_t m) {
  const std::uint64_t q = n * 100 / m;
  const std::uint64_t r2 = (n * 100 % m) * 2;
  std::uint64_t p = q;
  if (r2 > m || (r2 == m && (q & 1) != 0)) ++p;
  return static_cast<std::uint16_t>(p);
}

}  // namespace

// The repair of one TDataFile (see the file comment). REQUIRES: the data
// file is closed, exclusive, writable and on disk.
class TableRepair {
 public:
  explicit TableRepair(TDataFile& table) : table_(table) {}
  void Run();

 private:
  void Log(const std::string& line) { table_.DoRepairLog(line); }
  void MendDataHeader(RawFile& dat);
  void WriteNewDataFile(RawFile& dat);
  void WriteNewIndexFile();
  void WriteNewBlobFile();
  void RecordPass(TDataFile& work);
  static void ReclaimBlocks(TBlobFile& blob, const std::vector<std::uint32_t>& live_chains);
  void RemoveNewFiles() noexcept;
  void ReplaceOldFiles();

  TDataFile& table_;
  std::string old_dat_, old_idx_, old_blb_;
  std::string new_dat_, new_idx_, new_blb_;
  DataFileHeader header_;
  std::vector<TFieldDescriptor> fields_;
  std::int64_t data_bytes_ = 0;  // whole records kept
  std::uint32_t blob_fields_ = 0;
};

void TableRepair::MendDataHeader(RawFile& dat) {
  const std::string& name = old_dat_;
  const std::int64_t size = dat.Size();
  if (size < static_cast<std::int64_t>(kDataHeaderSize) ||
      !dat.ReadExact(0, header_.Data(), kDataHeaderSize))
    EngineError(ErrorCode::kHeaderError, name);
  // Step 2 of the algorithm: the version is simply set.
  header_.SetVersion(kDataFileVersion);
  const std::uint16_t count = header_.FieldCount();
  if (count == 0 || count > kMaxFields || header_.EncryptedByte() > 1 ||
      header_.Description().Length > kMaxDescriptionLength ||
      header_.Password().Length > kMaxPasswordLength ||
      static_cast<std::uint64_t>(size) < header_.DataStart())
    EngineError(ErrorCode::kHeaderError, name);
  fields_.resize(count);
  const std::size_t bytes = std::size_t{count} * kFieldDescriptorSize;
  if (!dat.ReadExact(kDataHeaderSize, fields_.data(), bytes)) EngineError(ErrorCode::kHeaderError, name);
  if (header_.Encrypted()) ScrambleTableContents(fields_.data(), bytes);

  // Field definitions: r runs over the stored record from the 9-byte
  // prefix, s over the computed area.
  std::uint64_t r = kRecordPrefixSize;
  std::uint64_t s = 0;
  blob_fields_ = 0;
  for (int i = 1; i <= count; ++i) {
    TFieldDescriptor& f = fields_[static_cast<std::size_t>(i - 1)];
    if (!IsKnownFieldType(f.FieldType) || f.Name.Length > 30 || f.SecondText.Length > 50 ||
        f.MinValue.Length > 50 || f.MaxValue.Length > 50 || f.DefaultValue.Length > 50 ||
        f.Computed > 1)
      EngineError(ErrorCode::kHeaderError, name);
    const FieldType type = f.Type();
    int declared = 0;
    if (HasDeclaredSize(type)) {
      if (f.Size > kMaxDeclaredSize) EngineError(ErrorCode::kHeaderError, name);
      declared = f.Size;
    } else {
      f.Size = 0;
    }
    f.PhysicalSize = static_cast<std::uint8_t>(PhysicalSize(type, declared));
    if (type != FieldType::kCurrency) f.Decimals = 0;
    f.PhysicalDecimals = f.Decimals;
    const std::string field_name(f.Name.View());
    if (f.IsComputed()) {
      // Placed after the stored record once its size is known (below).
      s += f.PhysicalSize + 1u;
    } else if (f.IsAutoIncrement()) {
      f.Offset = kRecordIdOffset;
    } else {
      if (f.Offset != r) {
        Log("Invalid field offset for field " + field_name + " in data file header, error fixed");
        f.Offset = static_cast<std::uint16_t>(r);
      }
      r += f.PhysicalSize + 1u;
    }
    if (f.FieldNumber != i) {
      Log("Invalid field number for field " + field_name + " in data file header, error fixed");
      f.FieldNumber = static_cast<std::uint16_t>(i);
    }
    if (type == FieldType::kBlob) ++blob_fields_;
    if (r + s > kMaxRecordBufferSize) EngineError(ErrorCode::kHeaderError, name);
  }
  std::uint64_t c = r;
  for (TFieldDescriptor& f : fields_) {
    if (!f.IsComputed()) continue;
    f.Offset = static_cast<std::uint16_t>(c);
    c += f.PhysicalSize + 1u;
  }
  if (blob_fields_ > static_cast<std::uint32_t>(kMaxBlobFields)) EngineError(ErrorCode::kHeaderError, name);
  if (header_.RecordSize() != r) {
    Log("Invalid physical record length in data file header, error fixed");
    header_.SetRecordSize(static_cast<std::uint16_t>(r));
  }
  header_.SetComputedSize(static_cast<std::uint16_t>(s));

  const std::int64_t start = static_cast<std::int64_t>(header_.DataStart());
  const std::int64_t record_size = static_cast<std::int64_t>(r);
  std::int64_t area = size - start;
  if (area > 0 && area % record_size != 0) {
    Log("Physical records not aligned on even record size boundaries, error fixed");
    area -= area % record_size;
  }
  // Record numbers are 32-bit and positions stay below 2^31: records past
  // that are out of reach of every reader.
  const std::int64_t reachable = (0x7FFFFFFFLL - start) / record_size - 1;
  std::int64_t records = area / record_size;
  if (records > reachable) records = reachable;
  data_bytes_ = records * record_size;
  const std::uint32_t next = static_cast<std::uint32_t>(records + 1);
  if (header_.NextRecord() != next) {
    Log("Physical record count not correct, error fixed");
    header_.SetNextRecord(next);
  }
  header_.SetCounter(platform::GetTickCount() + next);
  if (header_.BlobCount() != blob_fields_) {
    Log("Invalid BLOB field count in data file header, error fixed");
    header_.SetBlobCount(static_cast<std::uint16_t>(blob_fields_));
  }
  header_.SetFreeHead(0);
}

void TableRepair::WriteNewDataFile(RawFile& dat) {
  RawFile out(new_dat_);
  out.Create();
  out.WriteAt(0, header_.Data(), kDataHeaderSize);
  std::vector<TFieldDescriptor> block = fields_;
  for (TFieldDescriptor& f : block) f.ExpressionRef = 0;
  const std::size_t bytes = block.size() * kFieldDescriptorSize;
  if (header_.Encrypted()) ScrambleTableContents(block.data(), bytes);
  out.WriteAt(kDataHeaderSize, block.data(), bytes);
  CopyRange(dat, out, static_cast<std::int64_t>(header_.DataStart()), data_bytes_);
  out.Close();
}

// The index definitions live only in the old header: without a readable
// one the table can't be repaired. The trees are dropped (every key is
// inserted again), so the old pages don't matter, damaged or not.
void TableRepair::WriteNewIndexFile() {
  RawFile old(old_idx_);
  if (!old.Exists()) EngineError(ErrorCode::kHeaderError, old_dat_);
  old.Open();
  IndexHeader h;
  if (!old.ReadExact(0, h.Data(), kIndexBlockSize)) EngineError(ErrorCode::kHeaderError, old_dat_);
  old.Close();
  if (header_.Encrypted()) ScrambleTableContents(h.Data(), kIndexBlockSize);
  if (h.Version() != kIndexVersion) EngineError(ErrorCode::kWrongVersion, old_dat_);
  if (h.SecondaryCount() > kMaxSecondaryIndexes) EngineError(ErrorCode::kCorruptIndex, old_dat_);
  h.SetEndOffset(kIndexBlockSize);
  h.SetRecordCount(0);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    TIndexDescriptor d = h.Descriptor(slot);
    d.RootPage = 0;
    d.FreePageHead = 0;
    if (SlotInUse(h, slot) && slot != kSysDeletedSlot) {
      // Numbers out of range would keep the file from opening; the
      // descriptor check of the repair recomputes them from the fields
      // (and logs the key size it mends).
      if (d.NameLength > 30) d.NameLength = 30;
      if (d.KeySize == 0 || d.KeySize > kMaxKeySize) d.KeySize = 1;
      if (d.FieldCount < 1 || d.FieldCount > kMaxKeyFields) d.FieldCount = 1;
    }
    h.SetDescriptor(slot, d);
  }
  TIndexDescriptor sys = h.Descriptor(kSysDeletedSlot);
  sys.SetName(kSysDeletedName);
  sys.KeySize = kSysDeletedKeySize;
  sys.Compressed = 0;
  h.SetDescriptor(kSysDeletedSlot, sys);
  if (header_.Encrypted()) ScrambleTableContents(h.Data(), kIndexBlockSize);
  RawFile out(new_idx_);
  out.Create();
  out.WriteAt(0, h.Data(), kIndexBlockSize);
  out.Close();
}

// A copy of the old BLOB file (a new empty one when there is none) whose
// header opens: version 3, no free list, end offset at the last whole
// block. The trailing partial block is left for AlignBlobFile, which logs it.
void TableRepair::WriteNewBlobFile() {
  const std::uint32_t b = EffectiveBlobBlockSize(header_.BlobBlockSize());
  RawFile out(new_blb_);
  out.Create();
  std::vector<std::uint8_t> head(kBlobHeaderSize, 0);
  std::int64_t size = 0;
  RawFile old(old_blb_);
  if (old.Exists()) {
    old.Open();
    size = old.Size();
    if (size >= static_cast<std::int64_t>(kBlobHeaderSize)) {
      if (!old.ReadExact(0, head.data(), kBlobHeaderSize)) EngineError(ErrorCode::kHeaderError, old_dat_);
      if (header_.Encrypted()) ScrambleTableContents(head.data(), kBlobHeaderSize);
      const std::int64_t top = 0xFFFFFFFFLL - b + 1;
      if (size > top) size = top;
      CopyRange(old, out, kBlobHeaderSize, size - kBlobHeaderSize);
    } else {
      size = 0;
    }
    old.Close();
  }
  std::int64_t end = kBlobHeaderSize;
  if (size > static_cast<std::int64_t>(kBlobHeaderSize))
    end = size - (size - kBlobHeaderSize) % b;
  head[kHeaderVersion] = kBlobVersion;
  BlobPutU32(&head[kHeaderFreeHead], 0);
  BlobPutU32(&head[kHeaderEndOffset], static_cast<std::uint32_t>(end));
  if (header_.Encrypted()) ScrambleTableContents(head.data(), kBlobHeaderSize);
  out.WriteAt(0, head.data(), kBlobHeaderSize);
  out.Close();
}

void TableRepair::RecordPass(TDataFile& w) {
  TIndexFile& ix = w.IndexFile();
  const bool blobs = w.header_.BlobCount() > 0;
  const bool primary = w.TableHasPrimaryKey();
  w.DropAllRecords();
  ix.EmptyAllIndexes();
  ix.VerifyIndexDescriptors([this](const std::string& line) { Log(line); });
  if (blobs) {
    w.BlobFile().ResetBlobBlocks();
    w.BlobFile().AlignBlobFile();
  }
  std::vector<int> indexes;
  if (primary) indexes.push_back(0);
  for (int i = 1; i <= ix.SecondaryIndexCount(); ++i) indexes.push_back(i);
  std::vector<const TFieldDescriptor*> blob_fields;
  for (const TFieldDescriptor& f : w.stored_) {
    if (f.Type() == FieldType::kBlob && !f.IsComputed()) blob_fields.push_back(&f);
  }

  using Key = std::array<std::uint8_t, kKeyBufferSize>;
  std::vector<Key> keys(indexes.size());
  Key deleted_key{};
  const std::uint32_t next = w.header_.NextRecord();
  std::vector<std::uint32_t> live_chains;
  std::uint32_t largest_id = 0;
  std::uint32_t active = 0;

  auto blob_offset = [](std::span<std::byte> rec, const TFieldDescriptor& f) {
    return LoadLittle<std::int32_t>(rec.data() + f.Offset + 1);
  };
  auto set_blob_offset = [](std::span<std::byte> rec, const TFieldDescriptor& f, std::uint32_t v) {
    StoreLittle<std::int32_t>(rec.data() + f.Offset + 1, static_cast<std::int32_t>(v));
    if (v == 0) rec[f.Offset] = std::byte{0};
  };
  // Frees the chains a record still names (never raises: a chain that
  // can't be followed is left where it is) and empties the fields.
  auto free_blobs = [&](TRecord* r, std::uint32_t n) {
    for (const TFieldDescriptor* f : blob_fields) {
      const std::int32_t v = blob_offset(r->Data(), *f);
      if (v == 0) continue;
      if (v > 0 && w.BlobFile().IsBlockOffset(static_cast<std::uint32_t>(v))) {
        // Only a chain the record owns: a damaged pointer into another
        // record's value must not free that value.
        try {
          BlockPin first = w.BlobFile().GetChainBlock(static_cast<std::uint32_t>(v));
          if (first->RecordNumber() == n) w.BlobFile().FreeBlobChain(std::move(first), n);
        } catch (const ETolmidEngineError&) {
        }
      }
      set_blob_offset(r->Data(), *f, 0);
    }
    r->modified = true;
  };
  auto push_deleted = [&](TRecord* r) {
    w.MarkRecordDeleted(r);
    if (primary) {
      ix.SelectIndex(kSysDeletedSlot);
      w.BuildDeletedKey(1, deleted_key.data(), r->Data());
      ix.InsertKey(deleted_key.data(), r->RecordNumber());
    }
  };

  for (std::uint32_t n = 1; n < next; ++n) {
    TRecord* r = w.GetRecordBuffer(n, false, ReadDirection::kForward, false);
    struct Release {
      TRecord* r;
      ~Release() { r->ReleaseUse(); }
    } release{r};
    std::span<std::byte> rec = r->Data();
    if (r->RecordId() == 0) {
      const std::uint32_t id = w.header_.LastRecordId() + 1;
      w.header_.SetLastRecordId(id);
      r->SetRecordId(id);
      TDataFile::SetRecordID(id, rec);
    }
    largest_id = std::max(largest_id, r->RecordId());
    if (r->Status() == 0) {
      // Every uniqueness test comes before the first insert, and keys
      // already inserted are taken out again on a failure: a record that
      // is deleted leaves no key behind.
      std::size_t inserted = 0;
      bool sys_inserted = false;
      try {
        for (std::size_t k = 0; k < indexes.size(); ++k) {
          ix.SelectIndex(indexes[k]);
          w.BuildIndexKey(rec, keys[k].data());
          ix.CheckUniqueKey(keys[k].data());
        }
        for (; inserted < indexes.size(); ++inserted) {
          ix.SelectIndex(indexes[inserted]);
          ix.InsertKey(keys[inserted].data(), n);
        }
        if (primary) {
          ix.SelectIndex(kSysDeletedSlot);
          w.BuildDeletedKey(0, deleted_key.data(), rec);
          ix.InsertKey(deleted_key.data(), n);
          sys_inserted = true;
        }
        for (const TFieldDescriptor* f : blob_fields) {
          const std::int32_t v = blob_offset(rec, *f);
          if (v == 0) continue;
          if (rec[f->Offset] == std::byte{0}) {
            // A null field names no value: whatever stands there is noise.
            set_blob_offset(rec, *f, 0);
            r->modified = true;
            continue;
          }
          std::uint32_t offset = static_cast<std::uint32_t>(v);
          if (v < 0 || offset >= w.BlobFile().GetEndOffset()) {
            Log("Invalid BLOB offset into BLOB file for physical record # " + std::to_string(n) +
                ", error fixed");
            offset = 0;
          } else {
            w.BlobFile().VerifyBlobChain(offset, n);
          }
          set_blob_offset(rec, *f, offset);
          r->modified = true;
          if (offset != 0) live_chains.push_back(offset);
        }
        ++active;
      } catch (const ETolmidEngineError&) {
        Log("Error rebuilding index keys for physical record # " + std::to_string(n) +
            ", error fixed but physical record deleted");
        for (std::size_t k = 0; k < inserted; ++k) {
          try {
            ix.SelectIndex(indexes[k]);
            ix.DeleteKey(keys[k].data());
          } catch (const ETolmidEngineError&) {
          }
        }
        if (sys_inserted) {
          try {
            ix.SelectIndex(kSysDeletedSlot);
            ix.DeleteKey(deleted_key.data());
          } catch (const ETolmidEngineError&) {
          }
        }
        free_blobs(r, n);
        push_deleted(r);
      }
    } else {
      // A status other than 0 or 1 is no record anyone wrote: it goes
      // with the deleted ones.
      free_blobs(r, n);
      push_deleted(r);
    }
    w.DoRepairProgress(static_cast<int>(n), Percent(n, next - 1));
  }
  ix.SetRecordCount(active);
  if (blobs) ReclaimBlocks(w.BlobFile(), live_chains);
  if (w.header_.LastRecordId() < largest_id) {
    Log("Invalid next available record ID (auto-increment), error fixed");
    w.header_.SetLastRecordId(largest_id);
  }
}

// Blocks that neither a kept value nor the free list reaches (cut-off
// chain tails, values of records that were cut off or lost their offset)
// go on the free list, so the file holds no block that nothing can reach.
// The chains are sound here (checked by VerifyBlobChain); each walk stops
// at a block already seen, so none can run longer than the file.
void TableRepair::ReclaimBlocks(TBlobFile& blob, const std::vector<std::uint32_t>& live_chains) {
  const std::uint32_t b = blob.GetBlockSize();
  const std::uint32_t end = blob.GetEndOffset();
  if (end <= kBlobHeaderSize) return;
  const std::size_t blocks = (end - kBlobHeaderSize) / b;
  std::vector<bool> reached(blocks, false);
  // tidy: a kept value, whose later blocks must carry total length 0 (the
  // chain check leaves a damaged one standing) and link back to the block
  // before them.
  auto walk = [&](std::uint32_t offset, bool tidy) {
    std::uint32_t prev = 0;
    while (offset != 0 && blob.IsBlockOffset(offset)) {
      const std::size_t i = (offset - kBlobHeaderSize) / b;
      if (reached[i]) return;
      reached[i] = true;
      BlockPin block = blob.GetChainBlock(offset);
      if (tidy && prev != 0) {
        if (block->TotalLength() != 0) block->SetTotalLength(0);
        if (block->PrevBlock() != prev) block->SetPrevBlock(prev);
      }
      prev = offset;
      offset = block->NextBlock();
    }
  };
  for (std::uint32_t first : live_chains) walk(first, true);
  walk(blob.GetFreeListHead(), false);
  for (std::size_t i = 0; i < blocks; ++i) {
    if (reached[i]) continue;
    BlockPin block = blob.GetChainBlock(static_cast<std::uint32_t>(kBlobHeaderSize + i * b));
    blob.FreeBlock(block.get());
  }
}

void TableRepair::RemoveNewFiles() noexcept {
  for (const std::string* name : {&new_dat_, &new_idx_, &new_blb_}) {
    std::error_code ec;
    std::filesystem::remove(*name, ec);
  }
}

void TableRepair::ReplaceOldFiles() {
  auto replace = [&](const std::string& from, const std::string& to) {
    // The old file's own spelling: names are found without regard to case.
    const std::string target = platform::ResolvePath(to);
    std::error_code ec;
    std::filesystem::rename(from, target, ec);
    if (ec) EngineError(ErrorCode::kUnknownOSError, old_dat_);
  };
  if (blob_fields_ > 0) replace(new_blb_, old_blb_);
  replace(new_idx_, old_idx_);
  replace(new_dat_, old_dat_);
}

void TableRepair::Run() {
  old_dat_ = table_.FileName();
  const std::string stem = Stem(old_dat_);
  old_idx_ = stem + ".IDX";
  old_blb_ = stem + ".BLB";
  const std::string temp = stem + "_rp" + std::to_string(::getpid());
  new_dat_ = platform::ResolvePath(temp + ".DAT");
  new_idx_ = platform::ResolvePath(temp + ".IDX");
  new_blb_ = platform::ResolvePath(temp + ".BLB");
  // Held exclusively to the end: nobody opens the table meanwhile, and a
  // second repair of it fails here before touching the new files.
  RawFile dat(old_dat_);
  dat.Open();
  RemoveNewFiles();  // left by a repair that died
  try {
    MendDataHeader(dat);
    WriteNewDataFile(dat);
    WriteNewIndexFile();
    if (blob_fields_ > 0) WriteNewBlobFile();

    TDataFile work(table_.Owner());
    work.SetExclusive(true);
    work.SetFileName(temp + ".DAT");
    work.repairing_ = true;
    work.password_callback_ = table_.password_callback_;
    // Lines of the index and BLOB files come through the work table.
    work.on_repair_log_ = [this](TDataFile&, std::string_view line) { table_.DoRepairLog(line); };
    work.on_repair_progress_ = [this](TDataFile&, int n, std::uint16_t p) {
      table_.DoRepairProgress(n, p);
    };
    work.Open();
    RecordPass(work);
    // The header goes out with the free-list head and IDs of the pass.
    work.ReleaseAllPins();
    work.FlushRecordBuffers();
    work.WriteFieldDefs();
    if (work.header_.Counter() + 1 == 0) work.header_.SetCounter(1);
    work.WriteHeader();
    work.IndexFile().FlushIndexFile();
    if (blob_fields_ > 0) {
      work.BlobFile().ClearAllPins();
      work.BlobFile().FlushBlob();
      work.BlobFile().WriteBlobHeader();
    }
    work.FlushToDisk();
    work.Close();
    ReplaceOldFiles();
    dat.Close();
  } catch (...) {
    RemoveNewFiles();
    throw;
  }
}

// ------------------------------------------------------------------ TDataFile

void TDataFile::DoRepairLog(std::string_view line) {
  if (!on_repair_log_) return;
  on_repair_log_(*this, line.substr(0, std::min(line.size(), kMaxLogLine)));
}

void TDataFile::DoRepairProgress(int current_record, std::uint16_t percent_done) {
  if (on_repair_progress_) on_repair_progress_(*this, current_record, percent_done);
}

void TDataFile::RepairDataTable() {
  if (InMemory()) return;
  if (IsOpen()) Fail(ErrorCode::kInUse);
  if (!Exclusive()) Fail(ErrorCode::kMustBeExclusive);
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  repairing_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{repairing_};
  TableRepair(*this).Run();
}

}  // namespace storage
