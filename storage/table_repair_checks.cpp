// What a repair may trust (table_repair.h): the data-file header and field
// descriptors and the index definitions, each mended where its witnesses
// agree on the damage and refused where they do not, and the BLOB layout
// the data file's header claims.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/ticks.h"
#include "storage/blob_format.h"
#include "storage/engine_error.h"
#include "storage/table_names.h"
#include "storage/table_repair.h"

namespace storage {

namespace {

constexpr int kMaxEvidence = 256;  // values looked at per field
constexpr int kBlockSamples = 64;  // blocks looked at for the block size

struct Layout {
  bool valid = false;        // every descriptor is a field definition
  std::uint64_t record = 0;  // record size the types give
  std::uint64_t computed = 0;
};

// The descriptor names a type and sizes a record can hold.
bool IsDefinition(const TFieldDescriptor& f) {
  if (!IsKnownFieldType(f.FieldType) || f.Computed > 1) return false;
  return !HasDeclaredSize(f.Type()) || f.Size <= kMaxDeclaredSize;
}

int TypePhysicalSize(const TFieldDescriptor& f) {
  return PhysicalSize(f.Type(), HasDeclaredSize(f.Type()) ? f.Size : 0);
}

Layout LayoutOf(const std::vector<TFieldDescriptor>& fields) {
  Layout l;
  l.record = kRecordPrefixSize;
  for (const TFieldDescriptor& f : fields) {
    if (!IsDefinition(f)) return l;
    const std::uint64_t size = static_cast<std::uint64_t>(TypePhysicalSize(f)) + 1u;
    if (f.IsComputed()) {
      l.computed += size;
    } else if (!f.IsAutoIncrement()) {
      l.record += size;
    }
  }
  l.valid = true;
  return l;
}

// Every stored statement of the descriptor at position agrees with its
// type: the field that a sound table has there. offset: where the record
// layout so far puts it.
bool Plausible(const TFieldDescriptor& f, int position, std::uint64_t offset) {
  if (!IsDefinition(f) || f.Computed != 0 || f.FieldNumber != position) return false;
  if (f.Name.Length == 0 || f.Name.Length > 30 || !platform::IsCharAlphaA(static_cast<unsigned char>(f.Name.Chars[0])))
    return false;
  if (f.PhysicalSize != TypePhysicalSize(f)) return false;
  return f.IsAutoIncrement() ? f.Offset == kRecordIdOffset : f.Offset == offset;
}

bool FourByteValue(const TFieldDescriptor& f) {
  if (!f.IsStored()) return false;
  switch (f.Type()) {
    case FieldType::kInteger:
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kLongWord:
    case FieldType::kBlob: return true;
    default: return false;
  }
}

bool AllZero(const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return std::all_of(b, b + n, [](std::uint8_t x) { return x == 0; });
}

}  // namespace

// ------------------------------------------------------------------ data file

void TableRepair::ReadDescriptors(RepairFile& dat, std::uint16_t count) {
  fields_.resize(count);
  const std::size_t bytes = std::size_t{count} * kFieldDescriptorSize;
  if (!dat.ReadExact(kDataHeaderSize, fields_.data(), bytes)) EngineError(ErrorCode::kHeaderError, old_dat_);
  if (header_.Encrypted()) ScrambleTableContents(fields_.data(), bytes);
}

// The header's field count against the descriptors and the record size:
// a count too small leaves sound descriptors after the last one read, a
// count too large reads record bytes as descriptors. Plain tables only
// (the scrambling of the descriptor area depends on the count).
bool TableRepair::MendFieldCount(RepairFile& dat, std::int64_t size) {
  if (header_.Encrypted()) return false;
  const std::uint64_t want = header_.RecordSize();
  const Layout given = LayoutOf(fields_);
  if (given.valid && given.record == want && fields_.size() == header_.FieldCount()) return false;
  auto accept = [&](std::vector<TFieldDescriptor> fields) {
    fields_ = std::move(fields);
    header_.SetFieldCount(static_cast<std::uint16_t>(fields_.size()));
    Log("Invalid field count in data file header, error fixed");
    return true;
  };
  if (given.valid && fields_.size() == header_.FieldCount()) {
    std::vector<TFieldDescriptor> more = fields_;
    std::uint64_t offset = given.record;
    while (more.size() < static_cast<std::size_t>(kMaxFields)) {
      const std::int64_t at =
          kDataHeaderSize + static_cast<std::int64_t>(more.size()) * kFieldDescriptorSize;
      TFieldDescriptor d;
      if (at + static_cast<std::int64_t>(kFieldDescriptorSize) > size ||
          !dat.ReadExact(at, &d, kFieldDescriptorSize) ||
          !Plausible(d, static_cast<int>(more.size()) + 1, offset))
        break;
      if (d.IsStored()) offset += d.PhysicalSize + 1u;
      more.push_back(d);
      if (offset == want) return accept(std::move(more));
    }
  }
  std::uint64_t offset = kRecordPrefixSize;
  for (std::size_t k = 0; k + 1 < fields_.size(); ++k) {
    const TFieldDescriptor& f = fields_[k];
    if (!Plausible(f, static_cast<int>(k) + 1, offset)) break;
    if (f.IsStored()) offset += f.PhysicalSize + 1u;
    if (offset == want && !Plausible(fields_[k + 1], static_cast<int>(k) + 2, offset))
      return accept(std::vector<TFieldDescriptor>(fields_.begin(), fields_.begin() + static_cast<std::ptrdiff_t>(k) + 1));
  }
  return false;
}

void TableRepair::MendDataHeader(RepairFile& dat) {
  const std::string& name = old_dat_;
  const std::int64_t size = dat.Size();
  if (size < static_cast<std::int64_t>(kDataHeaderSize) ||
      !dat.ReadExact(0, header_.Data(), kDataHeaderSize))
    EngineError(ErrorCode::kHeaderError, name);
  // A wrong version byte is mended without a log line: the rest of the
  // header decides whether the file is a table.
  header_.SetVersion(kDataFileVersion);
  if (header_.EncryptedByte() > 1) EngineError(ErrorCode::kHeaderError, name);
  if (header_.Description().Length > kMaxDescriptionLength) {
    header_.SetDescription(ShortString<50>());
    Log("Invalid table description in data file header, error fixed");
  }
  const ShortString<15> password = header_.Password();
  if (header_.Encrypted()) {
    // Without its password nobody opens the table again.
    if (password.Length == 0 || password.Length > kMaxPasswordLength)
      EngineError(ErrorCode::kHeaderError, name);
  } else if (password.Length != 0) {
    header_.SetPassword(ShortString<15>());
    Log("Invalid password in data file header, error fixed");
  }
  std::memset(header_.Data() + 113, 0, kDataHeaderSize - 113);  // reserved

  const std::uint16_t count = header_.FieldCount();
  if (count == 0 || count > kMaxFields) EngineError(ErrorCode::kHeaderError, name);
  const std::int64_t room = (size - static_cast<std::int64_t>(kDataHeaderSize)) /
                            static_cast<std::int64_t>(kFieldDescriptorSize);
  if (room < count && header_.Encrypted()) EngineError(ErrorCode::kHeaderError, name);
  ReadDescriptors(dat, static_cast<std::uint16_t>(std::min<std::int64_t>(count, room)));
  if (fields_.empty()) EngineError(ErrorCode::kHeaderError, name);
  if (!MendFieldCount(dat, size) && fields_.size() != count) EngineError(ErrorCode::kHeaderError, name);

  // Field definitions: r runs over the stored record from the 9-byte
  // prefix, s over the computed area. The type and declared size say what
  // a field's bytes are; a descriptor that is no definition is refused.
  const Layout layout = LayoutOf(fields_);
  if (!layout.valid) EngineError(ErrorCode::kHeaderError, name);
  if (layout.record + layout.computed > kMaxRecordBufferSize) EngineError(ErrorCode::kHeaderError, name);
  std::uint64_t r = kRecordPrefixSize;
  const TFieldDescriptor* inconsistent = nullptr;
  for (const TFieldDescriptor& f : fields_) {
    const std::uint64_t size_here = static_cast<std::uint64_t>(TypePhysicalSize(f));
    const bool agrees = f.PhysicalSize == size_here &&
                        (f.IsComputed() || (f.IsAutoIncrement() ? f.Offset == kRecordIdOffset : f.Offset == r));
    if (!agrees && inconsistent == nullptr) inconsistent = &f;
    if (f.IsStored()) r += size_here + 1u;
  }
  // The header's record size against the types: when the descriptors agree
  // among themselves the header's number is the damaged one; when they do
  // not, a type or size may be (the records would be misread): refused.
  const bool size_differs = header_.RecordSize() != layout.record;
  if (size_differs && inconsistent != nullptr)
    EngineError(ErrorCode::kInvalidFieldDefinition, name, inconsistent->Name.View());

  r = kRecordPrefixSize;
  std::uint64_t s = 0;
  blob_fields_ = 0;
  for (int i = 1; i <= static_cast<int>(fields_.size()); ++i) {
    TFieldDescriptor& f = fields_[static_cast<std::size_t>(i - 1)];
    const FieldType type = f.Type();
    if (!HasDeclaredSize(type)) f.Size = 0;
    f.PhysicalSize = static_cast<std::uint8_t>(TypePhysicalSize(f));
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
  }
  std::uint64_t c = r;
  for (TFieldDescriptor& f : fields_) {
    if (!f.IsComputed()) continue;
    f.Offset = static_cast<std::uint16_t>(c);
    c += f.PhysicalSize + 1u;
  }
  if (blob_fields_ > static_cast<std::uint32_t>(kMaxBlobFields)) EngineError(ErrorCode::kHeaderError, name);
  if (size_differs) {
    Log("Invalid physical record length in data file header, error fixed");
    header_.SetRecordSize(static_cast<std::uint16_t>(r));
  }
  header_.SetComputedSize(static_cast<std::uint16_t>(s));
  MendFieldTexts();

  const std::int64_t start = static_cast<std::int64_t>(header_.DataStart());
  const std::int64_t record_size = static_cast<std::int64_t>(r);
  std::int64_t area = std::max<std::int64_t>(size - start, 0);
  if (area % record_size != 0) {
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
  CheckBlobFields(dat);
  // The block size is read from the field's low 16 bits, 0 meaning 512
  // (blob_format.h); a table with BLOB fields had a size below the least
  // refused above, one without has no use for its size.
  const std::uint32_t block = EffectiveBlobBlockSize(header_.BlobBlockSize());
  if (header_.BlobBlockSize() != block || block < kBlobMinBlockSize) {
    Log("Invalid BLOB block size in data file header, error fixed");
    header_.SetBlobBlockSize(block < kBlobMinBlockSize ? kBlobDefaultBlockSize : block);
  }
  header_.SetFreeHead(0);
}

// Names and texts carry no record bytes: damaged ones are replaced (a name
// by "Field" and the position, which a restructure to the table's
// definitions renames back), so that the table opens and checks.
void TableRepair::MendFieldTexts() {
  std::vector<std::string> upper;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TFieldDescriptor& f = fields_[i];
    auto name_ok = [&](const ShortString<30>& n) {
      if (n.Length == 0 || n.Length > 30 || !platform::IsCharAlphaA(static_cast<unsigned char>(n.Chars[0]))) return false;
      const std::string u = platform::AnsiUpperCase(n.View());
      return std::find(upper.begin(), upper.end(), u) == upper.end();
    };
    if (!name_ok(f.Name)) {
      for (int k = 0;; ++k) {
        ShortString<30> n;
        n.Assign("Field" + std::to_string(i + 1) + (k == 0 ? "" : "_" + std::to_string(k)));
        if (name_ok(n)) {
          f.Name = n;
          break;
        }
      }
      Log("Invalid field name for field " + std::string(f.Name.View()) +
          " in data file header, error fixed");
    }
    upper.push_back(platform::AnsiUpperCase(f.Name.View()));
    bool texts = false;
    if (f.SecondText.Length > 50) {
      f.SecondText = ShortString<50>();
      texts = true;
    }
    for (ShortString<50>* t : {&f.MinValue, &f.MaxValue, &f.DefaultValue}) {
      if (t->Length > 50 || !TDataFile::IsValidValueText(t->View(), f.FieldType)) {
        *t = ShortString<50>();
        texts = true;
      }
    }
    if (texts) {
      Log("Invalid validity check for field " + std::string(f.Name.View()) +
          " in data file header, error fixed");
    }
    f.Reserved1 = 0;
    f.ExpressionRef = 0;
    std::memset(f.Reserved2, 0, sizeof(f.Reserved2));
  }
}

bool TableRepair::ReadOldRecord(RepairFile& dat, std::uint32_t n, std::vector<std::uint8_t>& out) {
  const std::size_t size = header_.RecordSize();
  const std::int64_t at = static_cast<std::int64_t>(header_.DataStart()) +
                          static_cast<std::int64_t>(n - 1) * static_cast<std::int64_t>(size);
  if (at + static_cast<std::int64_t>(size) > static_cast<std::int64_t>(header_.DataStart()) + data_bytes_)
    return false;
  out.resize(size);
  if (!dat.ReadExact(at, out.data(), size)) return false;
  if (header_.Encrypted()) ScrambleTableContents(out.data(), size);
  return true;
}

TableRepair::BlobEvidence TableRepair::EvidenceOfBlobs(RepairFile& dat, const TFieldDescriptor& f) {
  BlobEvidence e;
  RepairFile blb(old_blb_);
  std::int64_t blob_size = 0;
  if (blb.Exists()) {
    blb.Open();
    blob_size = blb.Size();
  }
  const std::uint32_t b = EffectiveBlobBlockSize(header_.BlobBlockSize());
  const std::uint32_t records = static_cast<std::uint32_t>(data_bytes_ / header_.RecordSize());
  std::vector<std::uint8_t> rec;
  for (std::uint32_t n = 1; n <= records && e.values < kMaxEvidence; ++n) {
    if (!ReadOldRecord(dat, n, rec) || rec[0] != 0 || rec[f.Offset] != 1) continue;
    std::uint32_t v = 0;
    std::memcpy(&v, &rec[f.Offset + 1u], 4);
    if (v == 0) continue;
    ++e.values;
    std::uint8_t head[kBlockHeaderSize];
    if (v < kBlobHeaderSize || (v - kBlobHeaderSize) % b != 0 ||
        static_cast<std::int64_t>(v) + kBlockHeaderSize > blob_size ||
        !blb.ReadExact(v, head, kBlockHeaderSize))
      continue;
    if (header_.Encrypted()) ScrambleTableContents(head, kBlockHeaderSize);
    if (LoadLittle<std::uint32_t>(&head[kBlockRecord]) == n &&
        LoadLittle<std::uint32_t>(&head[kBlockPrev]) == 0 &&
        LoadLittle<std::uint16_t>(&head[kBlockUsed]) <= b - kBlockHeaderSize)
      ++e.chains;
  }
  return e;
}

// The header's BLOB count against the field types. A type damaged between
// BLOB and another four-byte type keeps every size; only the values tell:
// a BLOB field's values name chains their records own, an integer's do
// not. The count is mended when the values side with the types.
void TableRepair::CheckBlobFields(RepairFile& dat) {
  auto looks_like_blobs = [](const BlobEvidence& e) {
    return e.values > 0 && e.chains * 4 >= e.values * 3;
  };
  if (header_.BlobCount() != blob_fields_) {
    for (const TFieldDescriptor& f : fields_) {
      if (!FourByteValue(f)) continue;
      const bool typed_blob = f.Type() == FieldType::kBlob;
      // More BLOB types than the header counts: each must hold chains (or
      // nothing). Fewer: no other field may hold chains.
      if (typed_blob != (header_.BlobCount() < blob_fields_)) continue;
      const BlobEvidence e = EvidenceOfBlobs(dat, f);
      const bool suspect = typed_blob ? e.values > 0 && !looks_like_blobs(e) : looks_like_blobs(e);
      if (suspect) EngineError(ErrorCode::kInvalidFieldDefinition, old_dat_, f.Name.View());
    }
    Log("Invalid BLOB field count in data file header, error fixed");
    header_.SetBlobCount(static_cast<std::uint16_t>(blob_fields_));
  }
  if (blob_fields_ > 0) CheckBlobBlockSize(dat);
}

// The block size against the BLOB file. Blocks lie at 512 + k x B: with the
// right B every block header read there is a block's (bytes used within
// the data area, links 0 or on a block boundary inside the file) and every
// value names a block boundary; with a wrong one most reads land inside
// blocks. Damage to a few blocks leaves most of them sound, so only a
// quarter or more found wrong refuses.
void TableRepair::CheckBlobBlockSize(RepairFile& dat) {
  const std::uint32_t raw = header_.BlobBlockSize() & 0xFFFF;
  const std::uint32_t b = EffectiveBlobBlockSize(raw);
  if (raw != 0 && raw < kBlobMinBlockSize) {
    Log("Invalid BLOB block size in data file header, error not fixed");
    EngineError(ErrorCode::kBlobFieldLimits, old_dat_);
  }
  RepairFile blb(old_blb_);
  if (!blb.Exists()) return;
  blb.Open();
  const std::int64_t size = blb.Size();
  if (size <= static_cast<std::int64_t>(kBlobHeaderSize)) return;
  int looked = 0, wrong = 0;
  auto boundary = [&](std::uint32_t link) {
    return link == 0 || (link >= kBlobHeaderSize && (link - kBlobHeaderSize) % b == 0 &&
                         static_cast<std::int64_t>(link) < size);
  };
  const std::int64_t blocks = (size - kBlobHeaderSize) / b;
  const std::int64_t step = std::max<std::int64_t>(1, blocks / kBlockSamples);
  for (std::int64_t k = 0; k < blocks; k += step) {
    std::uint8_t head[kBlockHeaderSize];
    if (!blb.ReadExact(kBlobHeaderSize + k * b, head, kBlockHeaderSize)) break;
    if (header_.Encrypted()) ScrambleTableContents(head, kBlockHeaderSize);
    ++looked;
    if (LoadLittle<std::uint16_t>(&head[kBlockUsed]) > b - kBlockHeaderSize ||
        !boundary(LoadLittle<std::uint32_t>(&head[kBlockPrev])) ||
        !boundary(LoadLittle<std::uint32_t>(&head[kBlockNext])))
      ++wrong;
  }
  for (const TFieldDescriptor& f : fields_) {
    if (f.Type() != FieldType::kBlob || !f.IsStored()) continue;
    const std::uint32_t records = static_cast<std::uint32_t>(data_bytes_ / header_.RecordSize());
    std::vector<std::uint8_t> rec;
    int values = 0;
    for (std::uint32_t n = 1; n <= records && values < kBlockSamples; ++n) {
      if (!ReadOldRecord(dat, n, rec) || rec[0] != 0 || rec[f.Offset] != 1) continue;
      std::uint32_t v = 0;
      std::memcpy(&v, &rec[f.Offset + 1u], 4);
      if (v == 0 || static_cast<std::int64_t>(v) >= size) continue;  // cut off: no witness
      ++values;
      ++looked;
      if (!boundary(v)) ++wrong;
    }
  }
  if (wrong >= 2 && wrong * 4 >= looked) {
    Log("Invalid BLOB block size in data file header, error not fixed");
    EngineError(ErrorCode::kBlobFieldLimits, old_dat_);
  }
}

// ------------------------------------------------------------------ index file

namespace {

// A slot with no more bytes set than this (tree links aside) holds no
// definition: a definition sets its name length and a character (the
// primary: its unique flag), key size, field count and a field number, and
// one damaged byte leaves four of them.
constexpr int kStrayBytes = 2;

int BytesSet(const IndexHeader& h, int slot) {
  TIndexDescriptor d = h.Descriptor(slot);
  d.RootPage = 0;
  d.FreePageHead = 0;
  const auto* b = reinterpret_cast<const std::uint8_t*>(&d);
  return static_cast<int>(std::count_if(b, b + kDescriptorSize, [](std::uint8_t x) { return x != 0; }));
}

}  // namespace

std::optional<TableRepair::IndexRefusal> TableRepair::ReadIndexDefinitions(IndexHeader& h) {
  RepairFile old(old_idx_);
  if (!old.Exists()) return IndexRefusal{ErrorCode::kHeaderError, {}, {}};
  old.Open();
  const bool read = old.ReadExact(0, h.Data(), kIndexBlockSize);
  old.Close();
  if (!read) return IndexRefusal{ErrorCode::kHeaderError, {}, {}};
  if (header_.Encrypted()) ScrambleTableContents(h.Data(), kIndexBlockSize);
  if (h.Version() != kIndexVersion) return IndexRefusal{ErrorCode::kWrongVersion, {}, {}};
  return MendIndexHeader(h);
}

// The index definitions live only here; the trees are rebuilt from the
// records, so only the definitions matter. Mended: the secondary count and
// the no-primary flag from the slots' contents, stray bytes in unused
// slots, flags that are not 0 or 1, name lengths, the unique flag where the
// key size (which carries the record-ID suffix of a non-unique index) says
// it is damaged, a field count shorter than the field list where the key
// size sides with the count. Refused: a slot without a definition among
// the used ones; a unique index (the primary among them) that lost a key
// field or names one the table lacks, since its duplicates would then
// delete records that are not damaged; an index without a key the table's
// fields make. The key sizes and the rest are checked by the index file's
// descriptor check in the record pass.
std::optional<TableRepair::IndexRefusal> TableRepair::MendIndexHeader(IndexHeader& h) {
  int used = 0;
  for (int slot = 1; slot <= kMaxSecondaryIndexes; ++slot) {
    if (BytesSet(h, slot) > kStrayBytes) used = slot;
  }
  for (int slot = 1; slot <= used; ++slot) {
    if (BytesSet(h, slot) <= kStrayBytes) return IndexRefusal{ErrorCode::kCorruptIndex, {}, {}};
  }
  if (h.SecondaryCount() != used) {
    Log("Invalid secondary index count in index file header, error fixed");
    h.SetSecondaryCount(static_cast<std::uint8_t>(used));
  }
  const bool no_primary = BytesSet(h, 0) <= kStrayBytes;
  if (h.Data()[kHdrNoPrimaryKey] != (no_primary ? 1 : 0)) {
    Log("Invalid primary index flag in index file header, error fixed");
    h.SetNoPrimaryKey(no_primary);
  }
  // Unused bytes: nothing reads them, they stay zero.
  std::memset(h.Data() + 4, 0, 4);
  std::memset(h.Data() + kHdrNoPrimaryKey + 1, 0, kIndexBlockSize - kHdrNoPrimaryKey - 1);
  for (int slot = used + 1; slot <= kMaxSecondaryIndexes; ++slot) h.SetDescriptor(slot, TIndexDescriptor());
  if (no_primary) h.SetDescriptor(0, TIndexDescriptor());
  h.SetDescriptor(kIndexSlots - 1, TIndexDescriptor());

  auto known = [&](std::uint16_t n) {
    if (n < 1 || n > fields_.size()) return false;
    const TFieldDescriptor& f = fields_[n - 1u];
    return f.Type() != FieldType::kBlob && !f.IsComputed();
  };
  for (int slot = no_primary ? 1 : 0; slot <= used; ++slot) {
    TIndexDescriptor d = h.Descriptor(slot);
    const std::string index_name = slot == 0 ? std::string("Primary") : d.NameText();
    const std::string where = slot == 0 ? std::string("primary index") : "secondary index " + index_name;
    if (d.NameLength > 30) d.NameLength = 30;
    bool flags = false;
    auto flag = [&](std::uint8_t& v) {
      if (v > 1) {
        v = 1;
        flags = true;
      }
    };
    flag(d.Descending);
    flag(d.CaseInsensitive);
    flag(d.Compressed);
    for (std::uint8_t& v : d.FieldDescending) flag(v);
    std::memset(d.Unused, 0, sizeof(d.Unused));

    std::vector<std::uint16_t> list;
    for (int i = 0; i < kMaxKeyFields && d.FieldNumbers[i] != 0; ++i) list.push_back(d.FieldNumbers[i]);
    const bool all_known = std::all_of(list.begin(), list.end(), known);
    auto key_size = [&](std::size_t count) {
      std::uint32_t size = 0;
      for (std::size_t i = 0; i < count; ++i) size += fields_[list[i] - 1u].PhysicalSize + 1u;
      return size;
    };
    bool unique = slot == 0 || d.Unique == 1;
    if (slot == 0) {
      if (d.Unique != 1) flags = true;
    } else if (all_known && !list.empty()) {
      const std::uint32_t plain = key_size(list.size());
      if (d.Unique > 1) {
        unique = d.KeySize == plain;
        flags = true;
      } else if (d.Unique == 1 && d.KeySize == plain + 4) {
        unique = false;
        Log("Invalid unique flag for " + where + ", error fixed");
      } else if (d.Unique == 0 && d.KeySize == plain) {
        unique = true;
        Log("Invalid unique flag for " + where + ", error fixed");
      }
    } else if (d.Unique > 1) {
      // Nothing tells: a non-unique index deletes no record.
      unique = false;
      flags = true;
    }
    d.Unique = unique ? 1 : 0;
    if (flags) Log("Invalid flags for " + where + ", error fixed");
    // A field count shorter than the list, with the key size on its side:
    // the numbers after it are the damage.
    const std::size_t count = d.FieldCount;
    if (count >= 1 && count < list.size() &&
        std::all_of(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(count), known) &&
        key_size(count) + (unique ? 0u : 4u) == d.KeySize) {
      for (std::size_t i = count; i < static_cast<std::size_t>(kMaxKeyFields); ++i) {
        d.FieldNumbers[i] = 0;
        d.FieldDescending[i] = 0;
      }
      list.resize(count);
      Log("Invalid field list for " + where + ", error fixed");
    }
    if (unique) {
      for (std::uint16_t n : list) {
        if (!known(n)) return IndexRefusal{ErrorCode::kInvalidIndexField, std::to_string(n), index_name};
      }
      if (list.empty() || (count > list.size() && count <= static_cast<std::size_t>(kMaxKeyFields)))
        return IndexRefusal{ErrorCode::kInvalidIndexField, "0", index_name};
    }
    // The key the descriptor check will compute: the fields the table has.
    std::uint32_t size = 0;
    for (std::uint16_t n : list) {
      if (known(n)) size += fields_[n - 1u].PhysicalSize + 1u;
    }
    if (size == 0 || size > kMaxKeySize) return IndexRefusal{ErrorCode::kInvalidKeySize, {}, index_name};
    h.SetDescriptor(slot, d);
  }
  return std::nullopt;
}

bool TableRepair::UniqueIndexesImposed(const IndexHeader& h) const {
  // The primary index is unique whatever its definition says.
  auto same = [&](const TIndexDescriptor& d, const RepairIndexDefinition& def, bool primary) {
    if (!(primary || def.unique) || def.fields.size() > static_cast<std::size_t>(kMaxKeyFields)) return false;
    std::size_t i = 0;
    for (; i < static_cast<std::size_t>(kMaxKeyFields) && d.FieldNumbers[i] != 0; ++i) {
      const std::uint16_t n = d.FieldNumbers[i];
      if (i >= def.fields.size() || n > fields_.size() ||
          platform::AnsiUpperCase(fields_[n - 1u].Name.View()) != platform::AnsiUpperCase(TrimBlanks(def.fields[i])))
        return false;
    }
    return i == def.fields.size();
  };
  for (int slot = h.NoPrimaryKey() ? 1 : 0; slot <= h.SecondaryCount(); ++slot) {
    const TIndexDescriptor d = h.Descriptor(slot);
    if (slot != 0 && d.Unique == 0) continue;
    const bool found = slot == 0 ? same(d, imposed_.front(), true)
                                 : std::any_of(imposed_.begin() + 1, imposed_.end(),
                                               [&](const RepairIndexDefinition& def) { return same(d, def, false); });
    if (!found) return false;
  }
  return true;
}

// Each imposed definition becomes a descriptor as the table component
// makes one (every per-field descending flag the index's own), its fields
// found by name among the table's; one naming a field the table lacks, a
// BLOB field, or more key than an index holds is left out (a primary left
// out leaves the table without primary key). Key sizes and compression
// follow the index format; the descriptor check of the pass checks them
// again.
IndexHeader TableRepair::ImposedIndexHeader() const {
  IndexHeader h;
  h.SetVersion(kIndexVersion);
  auto make = [&](const RepairIndexDefinition& def, bool primary, int room, TIndexDescriptor& d) {
    if (def.fields.empty() || def.fields.size() > static_cast<std::size_t>(room)) return false;
    const bool unique = primary || def.unique;
    std::uint32_t size = unique ? 0 : 4;
    bool first_is_string = false;
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      const std::string want = platform::AnsiUpperCase(TrimBlanks(def.fields[i]));
      const auto f = std::find_if(fields_.begin(), fields_.end(), [&](const TFieldDescriptor& x) {
        return platform::AnsiUpperCase(x.Name.View()) == want;
      });
      if (f == fields_.end() || f->Type() == FieldType::kBlob || f->IsComputed()) return false;
      if (i == 0) first_is_string = f->Type() == FieldType::kString;
      d.FieldNumbers[i] = static_cast<std::uint16_t>(f - fields_.begin() + 1);
      d.FieldDescending[i] = def.descending ? 1 : 0;
      size += f->PhysicalSize + 1u;
    }
    if (size > kMaxKeySize) return false;
    if (!primary) d.SetName(TrimBlanks(def.name));
    d.KeySize = static_cast<std::uint16_t>(size);
    d.Descending = def.descending ? 1 : 0;
    d.CaseInsensitive = def.case_insensitive ? 1 : 0;
    d.Unique = unique ? 1 : 0;
    d.FieldCount = static_cast<std::uint8_t>(def.fields.size());
    d.Compressed = CompressionFor(d.FieldCount, unique, first_is_string) ? 1 : 0;
    return true;
  };
  TIndexDescriptor primary;
  const bool has_primary = make(imposed_.front(), true, kMaxKeyFields, primary);
  h.SetNoPrimaryKey(!has_primary);
  if (has_primary) h.SetDescriptor(0, primary);
  const int room = kMaxKeyFields - (has_primary ? primary.FieldCount : 0);
  int count = 0;
  for (std::size_t k = 1; k < imposed_.size() && count < kMaxSecondaryIndexes; ++k) {
    TIndexDescriptor d;
    if (make(imposed_[k], false, room, d)) h.SetDescriptor(++count, d);
  }
  h.SetSecondaryCount(static_cast<std::uint8_t>(count));
  h.SetSysDeletedDescriptor();
  return h;
}

// ------------------------------------------------------------------ record values

bool TableRepair::NormaliseValue(std::span<std::byte> rec, const TFieldDescriptor& f) {
  auto* const flag = reinterpret_cast<std::uint8_t*>(rec.data() + f.Offset);
  std::uint8_t* const value = flag + 1;
  const std::size_t size = f.PhysicalSize;
  bool changed = false;
  if (*flag > 1) {
    *flag = AllZero(value, size) ? 0 : 1;
    changed = true;
  }
  if (*flag == 1 && f.Type() == FieldType::kString && size > 0) {
    // The characters end at the first zero byte, inside the field (the
    // bytes after it are not looked at).
    std::size_t n = static_cast<std::size_t>(std::find(value, value + size, 0) - value);
    if (n == size) {
      value[--n] = 0;
      changed = true;
    }
    while (n > 0 && value[n - 1] == ' ') {
      value[--n] = 0;
      changed = true;
    }
    if (n == 0) *flag = 0;
  }
  if (*flag == 1 && f.Type() == FieldType::kBoolean && LoadLittle<std::uint16_t>(value) > 1) {
    StoreLittle<std::uint16_t>(value, 1);
    changed = true;
  }
  if (*flag == 0 && !AllZero(value, size)) {
    std::memset(value, 0, size);
    changed = true;
  }
  return changed;
}

}  // namespace storage
