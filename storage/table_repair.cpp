// Table repair: the run, the new set's files, the record pass and the
// swap. The design (what is trusted, what is mended, what is refused) is at
// the top of table_repair.h; the checks of the definitions are in
// table_repair_checks.cpp.
#include "storage/table_repair.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/blob_block.h"
#include "storage/blob_file.h"
#include "storage/blob_format.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/session.h"
#include "storage/table_swap.h"

namespace storage {

namespace {

constexpr std::size_t kMaxLogLine = 255;  // the log event takes a short string
constexpr std::size_t kCopyChunk = 1u << 20;

void CopyRange(RepairFile& from, RepairFile& to, std::int64_t start, std::int64_t length) {
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

RepairFile::RepairFile(const std::string& name) {
  file_.SetExclusive(true);
  file_.SetFileName(name);
}

RepairFile::~RepairFile() {
  try {
    file_.Close();
  } catch (...) {
  }
}

bool RepairFile::ReadExact(std::int64_t position, void* buffer, std::size_t n) {
  return file_.ReadAt(position, buffer, static_cast<std::int32_t>(n)) == static_cast<std::int32_t>(n);
}

void RepairFile::WriteAt(std::int64_t position, const void* buffer, std::size_t n) {
  if (n > 0) file_.WriteAt(position, buffer, static_cast<std::int32_t>(n));
}

// The mended header and descriptors and every whole record, copied as
// they are; the largest record ID of any slot is noted on the way (new IDs
// must follow it even when the header's last ID is damaged).
void TableRepair::WriteNewDataFile(RepairFile& dat) {
  RepairFile out(new_dat_);
  out.Create();
  out.WriteAt(0, header_.Data(), kDataHeaderSize);
  std::vector<TFieldDescriptor> block = fields_;
  const std::size_t bytes = block.size() * kFieldDescriptorSize;
  if (header_.Encrypted()) ScrambleTableContents(block.data(), bytes);
  out.WriteAt(kDataHeaderSize, block.data(), bytes);
  const std::int64_t start = static_cast<std::int64_t>(header_.DataStart());
  const std::size_t record_size = header_.RecordSize();
  const std::size_t per_chunk = std::max<std::size_t>(1, kCopyChunk / record_size) * record_size;
  std::vector<std::uint8_t> buffer(per_chunk);
  for (std::int64_t done = 0; done < data_bytes_;) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::int64_t>(data_bytes_ - done, static_cast<std::int64_t>(per_chunk)));
    if (!dat.ReadExact(start + done, buffer.data(), n)) EngineError(ErrorCode::kCorruptRecords, old_dat_);
    for (std::size_t at = 0; at + record_size <= n; at += record_size) {
      std::uint8_t prefix[kRecordPrefixSize];
      std::memcpy(prefix, &buffer[at], kRecordPrefixSize);
      if (header_.Encrypted()) ScrambleTableContents(prefix, kRecordPrefixSize);
      std::uint32_t id = 0;
      std::memcpy(&id, prefix + kRecordIdOffset, 4);
      largest_id_ = std::max(largest_id_, id);
    }
    out.WriteAt(start + done, buffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
  out.Close();
}

// The trees are dropped (every key is inserted again), so the old pages
// don't matter, damaged or not: only the definitions are read, or built
// from the imposed ones (table_repair.h).
void TableRepair::WriteNewIndexFile() {
  IndexHeader h;
  const std::optional<IndexRefusal> refusal = ReadIndexDefinitions(h);
  if (!imposed_.empty() && (refusal || !UniqueIndexesImposed(h))) {
    h = ImposedIndexHeader();
    Log("Invalid index definitions in index file header, error fixed - rebuilt from the table definition");
  } else if (refusal) {
    EngineError(refusal->code, old_dat_, refusal->field, refusal->index);
  }
  h.SetEndOffset(kIndexBlockSize);
  h.SetRecordCount(0);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    TIndexDescriptor d = h.Descriptor(slot);
    d.RootPage = 0;
    d.FreePageHead = 0;
    const bool in_use = slot == 0 ? !h.NoPrimaryKey() : SlotInUse(h, slot);
    if (in_use && slot != kSysDeletedSlot) {
      // Numbers out of range would keep the file from opening; the
      // descriptor check of the repair recomputes them from the fields
      // (and logs the key size it mends).
      if (d.NameLength > 30) d.NameLength = 30;
      if (d.KeySize == 0 || d.KeySize > kMaxKeySize) d.KeySize = 1;
      if (d.FieldCount < 1 || d.FieldCount > kMaxKeyFields) d.FieldCount = 1;
    }
    h.SetDescriptor(slot, d);
  }
  h.SetSysDeletedDescriptor();
  if (header_.Encrypted()) ScrambleTableContents(h.Data(), kIndexBlockSize);
  RepairFile out(new_idx_);
  out.Create();
  out.WriteAt(0, h.Data(), kIndexBlockSize);
  out.Close();
}

// A copy of the old BLOB file (a new empty one when there is none) whose
// header opens: version 3, no free list, end offset at the last whole
// block. The trailing partial block is left for AlignBlobFile, which logs it.
void TableRepair::WriteNewBlobFile() {
  const std::uint32_t b = EffectiveBlobBlockSize(header_.BlobBlockSize());
  RepairFile out(new_blb_);
  out.Create();
  std::vector<std::uint8_t> head(kBlobHeaderSize, 0);
  std::int64_t size = 0;
  RepairFile old(old_blb_);
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
  StoreLittle<std::uint32_t>(&head[kHeaderFreeHead], 0);
  StoreLittle<std::uint32_t>(&head[kHeaderEndOffset], static_cast<std::uint32_t>(end));
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
  std::vector<int> indexes;
  if (primary) indexes.push_back(0);
  for (int i = 1; i <= ix.SecondaryIndexCount(); ++i) indexes.push_back(i);
  // An index the descriptor check could not make whole would reject every
  // record: refused, not run.
  std::vector<std::string> index_names;
  std::vector<bool> id_keyed;
  for (int slot : indexes) {
    const TIndexDescriptor d = ix.GetDescriptorCopy(slot);
    const std::string name = slot == 0 ? std::string("Primary") : d.NameText();
    if (d.FieldCount == 0 || d.KeySize == 0 || d.KeySize > kMaxKeySize)
      EngineError(ErrorCode::kInvalidKeySize, old_dat_, {}, name);
    bool by_id = false;
    for (int i = 0; i < d.FieldCount && i < kMaxKeyFields; ++i) {
      const std::uint16_t f = d.FieldNumbers[i];
      by_id = by_id || (f >= 1 && f <= w.stored_.size() && w.stored_[f - 1u].IsAutoIncrement());
    }
    index_names.push_back(name);
    id_keyed.push_back(by_id && d.Unique != 0);
  }
  if (blobs) {
    w.BlobFile().ResetBlobBlocks();
    w.BlobFile().AlignBlobFile();
  }
  std::vector<const TFieldDescriptor*> blob_fields;
  std::vector<const TFieldDescriptor*> valued_fields;
  for (const TFieldDescriptor& f : w.stored_) {
    if (f.Type() == FieldType::kBlob && !f.IsComputed()) blob_fields.push_back(&f);
    if (f.IsStored()) valued_fields.push_back(&f);
  }

  using Key = std::array<std::uint8_t, kKeyBufferSize>;
  std::vector<Key> keys(indexes.size());
  std::vector<std::uint32_t> duplicates(indexes.size(), 0);
  Key deleted_key{};
  const std::uint32_t next = w.header_.NextRecord();
  std::vector<std::uint32_t> live_chains;
  std::uint32_t largest_id = 0;
  std::uint32_t active = 0;
  // New IDs (for 0 and for a duplicate ID) follow every ID in the file.
  std::uint32_t next_id = std::max(w.header_.LastRecordId(), largest_id_);
  auto new_id = [&](TRecord* r) {
    const std::uint32_t id = ++next_id;
    w.header_.SetLastRecordId(std::max(w.header_.LastRecordId(), id));
    r->SetRecordId(id);
    TDataFile::SetRecordID(id, r->Data());
    return id;
  };

  auto blob_offset = [](std::span<std::byte> rec, const TFieldDescriptor& f) {
    return LoadLittle<std::int32_t>(rec.data() + f.Offset + 1);
  };
  auto set_blob_offset = [](std::span<std::byte> rec, const TFieldDescriptor& f, std::uint32_t v) {
    StoreLittle<std::int32_t>(rec.data() + f.Offset + 1, static_cast<std::int32_t>(v));
    if (v == 0) rec[f.Offset] = std::byte{0};
  };
  // Frees the chains a record still names and empties the fields. A chain
  // that can't be followed is left where it is (ReclaimBlocks finds its
  // blocks); only a chain the record owns is freed: a damaged pointer into
  // another record's value must not free that value.
  auto free_blobs = [&](TRecord* r, std::uint32_t n) {
    for (const TFieldDescriptor* f : blob_fields) {
      const std::int32_t v = blob_offset(r->Data(), *f);
      if (v == 0) continue;
      if (v > 0 && w.BlobFile().IsBlockOffset(static_cast<std::uint32_t>(v))) {
        BlockPin first = w.BlobFile().GetChainBlock(static_cast<std::uint32_t>(v));
        if (first->RecordNumber() == n) w.BlobFile().FreeBlobChain(std::move(first), n);
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
  // The index (position in indexes) in which the record's key is taken,
  // or -1; every key is built. Any other failure is the engine's and
  // raises.
  auto find_duplicate = [&](std::span<const std::byte> rec) {
    for (std::size_t k = 0; k < indexes.size(); ++k) {
      ix.SelectIndex(indexes[k]);
      w.BuildIndexKey(rec, keys[k].data());
      try {
        ix.CheckUniqueKey(keys[k].data());
      } catch (const ETolmidEngineError& e) {
        if (e.ErrorCode() != Code(ErrorCode::kDuplicateKey)) throw;
        return static_cast<int>(k);
      }
    }
    return -1;
  };

  for (std::uint32_t n = 1; n < next; ++n) {
    const RecordPin pin(w.GetRecordBuffer(n, false, ReadDirection::kForward, false));
    TRecord* r = pin.get();
    std::span<std::byte> rec = r->Data();
    if (r->RecordId() == 0) new_id(r);
    if (r->Status() == 0) {
      for (const TFieldDescriptor* f : valued_fields) {
        if (!NormaliseValue(rec, *f)) continue;
        r->modified = true;
        Log("Invalid field value for field " + std::string(f->Name.View()) + " in physical record # " +
            std::to_string(n) + ", error fixed");
      }
      int duplicate = find_duplicate(rec);
      if (duplicate >= 0 && id_keyed[static_cast<std::size_t>(duplicate)]) {
        // Two records with one ID: the engine hands out IDs, so one of
        // them is damaged, and a new ID keeps both.
        const std::uint32_t id = new_id(r);
        Log("Duplicate record ID for physical record # " + std::to_string(n) +
            ", error fixed - new record ID " + std::to_string(id));
        duplicate = find_duplicate(rec);
      }
      if (duplicate >= 0) {
        ++duplicates[static_cast<std::size_t>(duplicate)];
        Log("Error rebuilding index keys for physical record # " + std::to_string(n) +
            ", error fixed but physical record deleted");
        free_blobs(r, n);
        push_deleted(r);
      } else {
        for (std::size_t k = 0; k < indexes.size(); ++k) {
          ix.SelectIndex(indexes[k]);
          ix.InsertKey(keys[k].data(), n);
        }
        if (primary) {
          ix.SelectIndex(kSysDeletedSlot);
          w.BuildDeletedKey(0, deleted_key.data(), rec);
          ix.InsertKey(deleted_key.data(), n);
        }
        for (const TFieldDescriptor* f : blob_fields) {
          const std::int32_t v = blob_offset(rec, *f);
          if (v == 0) continue;  // a null value is 0 (NormaliseValue)
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
      }
    } else {
      // A status other than 0 or 1 is no record anyone wrote: it goes
      // with the deleted ones.
      free_blobs(r, n);
      push_deleted(r);
    }
    largest_id = std::max(largest_id, r->RecordId());
    TableStep("repair record");
    w.DoRepairProgress(static_cast<int>(n), Percent(n, next - 1));
  }
  // Duplicates in numbers say the index is defined on the wrong fields
  // (a damaged field number of the same size), not that the records are
  // damaged: nothing is deleted for them.
  std::uint32_t seen = active;
  for (std::uint32_t d : duplicates) seen += d;
  for (std::size_t k = 0; k < indexes.size(); ++k) {
    if (duplicates[k] >= 2 && std::uint64_t{duplicates[k]} * 20 > seen)
      EngineError(ErrorCode::kDuplicateKey, old_dat_, {}, index_names[k]);
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
  // tidy: a kept value. Its later blocks carry total length 0 and link back
  // to the block before them (the chain check leaves damaged ones
  // standing); readers take every block but the last as full, so the value
  // ends at the first one that is not (and no block counts more bytes than
  // its data area holds); its first block's total is what is left.
  const std::uint32_t data = blob.GetBlockDataSize();
  auto walk = [&](std::uint32_t offset, bool tidy) {
    const std::uint32_t first = offset;
    std::uint32_t prev = 0;
    std::uint64_t length = 0;
    while (offset != 0 && blob.IsBlockOffset(offset)) {
      const std::size_t i = (offset - kBlobHeaderSize) / b;
      if (reached[i]) break;
      reached[i] = true;
      BlockPin block = blob.GetChainBlock(offset);
      std::uint32_t next = block->NextBlock();
      if (tidy) {
        if (prev != 0) {
          if (block->TotalLength() != 0) block->SetTotalLength(0);
          if (block->PrevBlock() != prev) block->SetPrevBlock(prev);
        }
        if (block->BytesUsed() > data) block->WriteBlockData(static_cast<std::int32_t>(data), 0, nullptr);
        length += block->BytesUsed();
        if (next != 0 && block->BytesUsed() < data) {
          block->SetNextBlock(0);
          next = 0;
        }
      }
      prev = offset;
      offset = next;
    }
    if (tidy && first != 0) {
      BlockPin head = blob.GetChainBlock(first);
      if (head->TotalLength() != length) head->SetTotalLength(static_cast<std::uint32_t>(length));
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

void TableRepair::Run() {
  old_dat_ = table_.FileName();
  // A swap a killed program left is finished first: the repair works on
  // the table as it stands after it.
  RecoverTableSwap(old_dat_);
  const TableNames names(old_dat_);
  old_dat_ = names.file[0];
  old_idx_ = names.file[1];
  old_blb_ = names.file[2];
  const std::string temp = TemporaryTableName(old_dat_, "RP");
  const TableNames temp_names(temp);
  new_dat_ = temp_names.file[0];
  new_idx_ = temp_names.file[1];
  new_blb_ = temp_names.file[2];
  // Held exclusively until the swap's intent is on disk: nobody opens the
  // table meanwhile, and a second repair of it fails here.
  RepairFile dat(old_dat_);
  dat.Open();
  RemoveLeftoverFiles(old_dat_);
  TableSwap swap(old_dat_, new_dat_, TableSwap::Aside::kDropped);
  MendDataHeader(dat);
  WriteNewDataFile(dat);
  WriteNewIndexFile();
  if (blob_fields_ > 0) WriteNewBlobFile();
  try {
    TDataFile work(table_.Owner());
    work.SetExclusive(true);
    work.SetFileName(new_dat_);
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
    work.Close();
  } catch (const ETolmidEngineError& e) {
    // The new set is the repair's own: what it refuses is the table's.
    ErrorContext c;
    if (const TFileSession* session = CurrentSessionOrNull()) c = session->Context();
    EngineError(static_cast<std::uint16_t>(e.ErrorCode()), old_dat_, c.field_name, c.index_name,
                c.extra_text);
  }
  TableStep("new files written");
  // A .BLB beside a table without BLOB fields is no part of it: it stays.
  swap.Prepare(blob_fields_ > 0 ? 7 : 3);
  dat.Close();
  TableStep("table closed");
  swap.Commit();
}

// ------------------------------------------------------------------ TDataFile

void TDataFile::DoRepairLog(std::string_view line) {
  if (!on_repair_log_) return;
  on_repair_log_(*this, line.substr(0, std::min(line.size(), kMaxLogLine)));
}

void TDataFile::DoRepairProgress(int current_record, std::uint16_t percent_done) {
  if (on_repair_progress_) on_repair_progress_(*this, current_record, percent_done);
}

void TDataFile::RepairDataTable(const std::vector<RepairIndexDefinition>& imposed) {
  if (InMemory()) return;
  if (IsOpen()) Fail(ErrorCode::kInUse);
  if (!Exclusive()) Fail(ErrorCode::kMustBeExclusive);
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  repairing_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{repairing_};
  TableRepair(*this, imposed).Run();
}

}  // namespace storage
