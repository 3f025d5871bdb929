// TDataFile: creating and emptying tables, and the definition rules.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <unordered_set>

#include "platform/locale.h"
#include "platform/text.h"
#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/session.h"
#include "storage/table_names.h"
#include "storage/table_swap.h"
#include "storage/value_text.h"

namespace storage {
namespace {

template <std::size_t N>
void Normalise(ShortString<N>& s) {
  s.Assign(std::string(s.View()));
}

bool IsUpperWord(std::string_view text, std::string_view word) {
  return platform::AnsiUpperCase(text) == word;
}

}  // namespace

bool TDataFile::IsValidValueText(std::string_view text, std::uint8_t type) {
  if (text.empty()) return true;
  switch (static_cast<FieldType>(type)) {
    case FieldType::kString:
    case FieldType::kBytes: return true;
    case FieldType::kBoolean: return IsBooleanText(text);
    case FieldType::kWord: return IsWordText(text);
    case FieldType::kSmallInt: return IsSmallIntText(text);
    case FieldType::kInteger: return IsIntegerText(text);
    case FieldType::kFloat: return IsFloatText(text);
    case FieldType::kCurrency: return IsCurrencyText(text);
    case FieldType::kDate: return IsUpperWord(text, "DATE") || IsDateText(text);
    case FieldType::kTime: return IsUpperWord(text, "TIME") || IsTimeText(text);
    case FieldType::kTimestamp:
      return IsUpperWord(text, "NOW") || IsUpperWord(text, "DATE") || IsUpperWord(text, "TIME") ||
             IsDateText(text) || IsTimeText(text) || IsDateTimeText(text);
    default: return true;
  }
}

void TDataFile::CheckFieldDefinitions(std::vector<TFieldDescriptor>& fields,
                                      bool assign_offsets) const {
  std::unordered_set<std::string> names;
  std::unordered_set<std::uint16_t> numbers;
  std::uint32_t offset = kRecordPrefixSize;
  for (TFieldDescriptor& f : fields) {
    const std::string name(TrimBlanks(f.Name.View()));
    f.Name.Assign(name);
    if (name.empty() || !platform::IsCharAlphaA(static_cast<unsigned char>(name[0])) ||
        !names.insert(platform::AnsiUpperCase(name)).second)
      Fail(ErrorCode::kInvalidFieldName, name);
    if (!numbers.insert(f.FieldNumber).second || f.FieldType == 0)
      Fail(ErrorCode::kInvalidFieldDefinition, name);
    // Type 18 (64-bit integers) has no stored form: its value would have
    // size 0 and be lost. Unknown types have no layout at all.
    if (!IsKnownFieldType(f.FieldType) || f.Type() == FieldType::kLargeInt)
      Fail(ErrorCode::kInvalidFieldDefinition, name);
    if (!HasDeclaredSize(f.Type())) {
      f.Size = 0;
    } else if (f.Size > kMaxDeclaredSize) {
      Fail(ErrorCode::kInvalidFieldDefinition, name);
    }
    Normalise(f.MinValue);
    Normalise(f.MaxValue);
    Normalise(f.DefaultValue);
    if (!IsValidValueText(f.DefaultValue.View(), f.FieldType) ||
        !IsValidValueText(f.MinValue.View(), f.FieldType) ||
        !IsValidValueText(f.MaxValue.View(), f.FieldType))
      Fail(ErrorCode::kInvalidValidityCheck, name);
    if (f.Type() != FieldType::kCurrency) f.Decimals = 0;
    f.PhysicalSize = static_cast<std::uint8_t>(PhysicalSize(f.Type(), f.Size));
    f.PhysicalDecimals = f.Decimals;
    f.Computed = f.Computed != 0 ? 1 : 0;
    if (assign_offsets) {
      // What is written to the file is fully defined: strings padded with
      // zeros, reserved bytes zero, no run-time reference.
      Normalise(f.SecondText);
      Normalise(f.Expression);
      f.Reserved1 = 0;
      std::memset(f.Reserved2, 0, sizeof(f.Reserved2));
      f.ExpressionRef = 0;
      if (f.IsComputed()) {
        continue;  // placed in the computed area below
      } else if (f.IsAutoIncrement()) {
        f.Offset = kRecordIdOffset;
      } else {
        // Past 65535 the record is refused later (9477); the stored offset
        // is then never used.
        f.Offset = static_cast<std::uint16_t>(offset);
        offset += f.PhysicalSize + 1u;
      }
    }
  }
  if (assign_offsets) {
    // Computed fields get their offsets in the computed area, in order, so
    // that a stored definition never points anywhere else.
    for (TFieldDescriptor& f : fields) {
      if (!f.IsComputed()) continue;
      f.Offset = static_cast<std::uint16_t>(offset);
      offset += f.PhysicalSize + 1u;
    }
  }
}

void TDataFile::CheckIndexDefinitions(const std::vector<TFieldDescriptor>& fields,
                                      TIndexDescriptor& primary,
                                      std::vector<TIndexDescriptor>& secondary,
                                      bool allow_empty_primary, int& primary_field_count) const {
  // Walks the field numbers of d (at most 16, up to the first 0); returns
  // the key size and sets count. Field numbers are positions 1..count.
  auto walk = [&](TIndexDescriptor& d, std::string_view index_name, bool stop_at_unknown,
                  int& count) {
    std::uint32_t key = 0;
    count = 0;
    for (int i = 0; i < kMaxKeyFields; ++i) {
      const std::uint16_t n = d.FieldNumbers[i];
      if (n == 0) break;
      if (n > fields.size()) {
        if (stop_at_unknown) break;
        Fail(ErrorCode::kInvalidIndexField, std::to_string(n), index_name);
      }
      if (fields[n - 1].Type() == FieldType::kBlob)
        Fail(ErrorCode::kInvalidIndexFieldType, {}, index_name);
      key += fields[n - 1].PhysicalSize + 1u;
      ++count;
    }
    for (int i = count; i < kMaxKeyFields; ++i) {
      d.FieldNumbers[i] = 0;
      d.FieldDescending[i] = 0;
    }
    return key;
  };

  int count = 0;
  std::uint32_t key = walk(primary, "Primary", allow_empty_primary, count);
  if (key > kMaxKeySize || (key == 0 && !allow_empty_primary))
    Fail(ErrorCode::kInvalidKeySize, {}, "Primary");
  primary.SetName("");
  primary.FieldCount = static_cast<std::uint8_t>(count);
  primary.KeySize = static_cast<std::uint16_t>(key);
  primary.RootPage = 0;
  primary.FreePageHead = 0;
  primary_field_count = count;

  std::unordered_set<std::string> names;
  for (TIndexDescriptor& d : secondary) {
    const std::string name(TrimBlanks(d.NameText()));
    key = walk(d, name, false, count);
    // The index file allows 16 key fields for a secondary index together
    // with the primary key's.
    if (count + primary_field_count > kMaxKeyFields) Fail(ErrorCode::kIndexLimits, {}, name);
    if (key == 0 || key > kMaxKeySize) Fail(ErrorCode::kInvalidKeySize, {}, name);
    if (name.empty()) Fail(ErrorCode::kIndexNameMissing);
    if (!platform::IsCharAlphaA(static_cast<unsigned char>(name[0])))
      Fail(ErrorCode::kInvalidIndexName, {}, name);
    if (!names.insert(platform::AnsiUpperCase(name.substr(0, 30))).second)
      Fail(ErrorCode::kIndexExists, {}, name);
    // A non-unique key carries the record ID: the whole must still fit.
    if (d.Unique == 0) key += 4;
    if (key > kMaxKeySize) Fail(ErrorCode::kInvalidKeySize, {}, name);
    d.SetName(name);
    d.FieldCount = static_cast<std::uint8_t>(count);
    d.KeySize = static_cast<std::uint16_t>(key);
    d.Unique = d.Unique != 0 ? 1 : 0;
    d.RootPage = 0;
    d.FreePageHead = 0;
  }
}

void TDataFile::CreateIndexes(const TIndexDescriptor& primary, int primary_field_count,
                              const std::vector<TIndexDescriptor>& secondary) {
  // The descriptors are packed: their arrays are copied out before spans of
  // 16-bit numbers are made over them.
  struct Keys {
    std::array<std::uint8_t, kMaxKeyFields> descending{};
    std::array<std::uint16_t, kMaxKeyFields> numbers{};
    int count = 0;
  };
  auto keys = [](const TIndexDescriptor& d, int count) {
    Keys k;
    k.count = std::min(count, kMaxKeyFields);
    for (int i = 0; i < k.count; ++i) {
      k.descending[i] = d.FieldDescending[i];
      k.numbers[i] = d.FieldNumbers[i];
    }
    return k;
  };
  const Keys p = keys(primary, primary_field_count);
  index_file_->CreatePrimaryIndex(primary.KeySize, p.count,
                                  std::span<const std::uint8_t>(p.descending.data(), p.count),
                                  std::span<const std::uint16_t>(p.numbers.data(), p.count),
                                  primary.CaseInsensitive != 0, primary.Descending != 0);
  for (const TIndexDescriptor& d : secondary) {
    const Keys k = keys(d, d.FieldCount);
    index_file_->AddIndex(d.NameText(), d.KeySize,
                          std::span<const std::uint8_t>(k.descending.data(), k.count),
                          std::span<const std::uint16_t>(k.numbers.data(), k.count),
                          d.Unique != 0, d.CaseInsensitive != 0, d.Descending != 0, k.count);
  }
}

// A definition that passed every creation rule, as the files will hold it.
struct TDataFile::NewTable {
  DataFileHeader header;
  std::vector<TFieldDescriptor> fields;
  TIndexDescriptor primary;
  std::vector<TIndexDescriptor> secondary;
  int primary_field_count = 0;
  std::string password;  // trimmed; lent to the session while the files are made
};

namespace {

// A temporary name reserved on disk (session.h) is given back when no
// table comes into being over it, and claimed when one does.
struct TempNameReservation {
  const TDataFile& table;
  bool claimed = false;
  ~TempNameReservation() {
    if (claimed || table.InMemory()) return;
    try {
      ReleaseTempTableName(table.FileName());
    } catch (...) {
      // The creation's own error is on its way; an empty file is no harm.
    }
  }
  void Claim() {
    claimed = true;
    if (!table.InMemory()) ClaimTempTableName(table.FileName());
  }
};

// The error e raised again naming table (e named a temporary set of it).
[[noreturn]] void RaiseFor(const ETolmidEngineError& e, std::string_view table) {
  ErrorContext c;
  if (const TFileSession* session = CurrentSessionOrNull()) c = session->Context();
  EngineError(static_cast<std::uint16_t>(e.ErrorCode()), table, c.field_name, c.index_name,
              c.extra_text);
}

}  // namespace

void TDataFile::CreateDataTable(const DataTableDefinition& def) {
  if (InMemory()) {
    CreateTable(def, false, false);
    return;
  }
  // A new table appears under its names whole or not at all: its files are
  // made as NAME~CR<pid> beside them and swapped in as one step
  // (table_swap.h), whatever stood under the names going aside and away.
  // A program killed while it makes them leaves no table (its files are
  // deleted by a later creation or repair of the table once it is gone);
  // one killed in the swap leaves a swap the next open finishes.
  TempNameReservation reservation{*this};
  const NewTable t = CheckNewTable(def);
  const std::string name = FileName();
  // A swap a killed program left under these names is finished first: its
  // intent stands where this creation's goes.
  RecoverTableSwap(name);
  const std::string fresh = TemporaryTableName(name, "CR");
  if (ExtractTableName(fresh).size() > kMaxSwapBaseName) {
    // A name too long to take the temporary suffix: made in place.
    MakeTableFiles(t, false, false);
  } else {
    RemoveDeadCreations(name);
    SetFileName(fresh);
    try {
      MakeTableFiles(t, false, false);
    } catch (const ETolmidEngineError& e) {
      SetFileName(name);
      RaiseFor(e, name);
    } catch (...) {
      SetFileName(name);
      throw;
    }
    SetFileName(name);
    TableSwap swap(name, fresh, TableSwap::Aside::kDropped);
    swap.Prepare(t.header.BlobCount() > 0 ? 7 : 3);
    swap.Commit();
  }
  reservation.Claim();
}

void TDataFile::CreateAndOpenDataTable(const DataTableDefinition& def, bool delete_on_close) {
  CreateTable(def, true, delete_on_close);
}

void TDataFile::CreateTable(const DataTableDefinition& def, bool stay_open, bool delete_on_close) {
  TempNameReservation reservation{*this};
  const NewTable t = CheckNewTable(def);
  MakeTableFiles(t, stay_open, delete_on_close);
  reservation.Claim();
}

TDataFile::NewTable TDataFile::CheckNewTable(const DataTableDefinition& def) const {
  if (IsOpen()) Fail(ErrorCode::kInUse);
  if (!Exclusive()) Fail(ErrorCode::kMustBeExclusive);
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);

  // Every rule first: nothing is created for a refused definition.
  NewTable t;
  t.password = std::string(TrimBlanks(def.password));
  if (def.encrypted && (t.password.empty() || t.password.size() > kMaxPasswordLength))
    Fail(ErrorCode::kInvalidPassword);
  if (def.language != 0 && !platform::IsValidLocale(MakeLong(def.language, def.sort)))
    Fail(ErrorCode::kLocaleNotAvailable);
  if (def.fields.empty() || def.fields.size() > static_cast<std::size_t>(kMaxFields))
    Fail(ErrorCode::kFieldLimits);
  if (def.secondary.size() > static_cast<std::size_t>(kMaxSecondaryIndexes))
    Fail(ErrorCode::kIndexLimits);
  // The BLOB file reads the low 16 bits of the block size.
  if (def.blob_block_size < kDataMinBlobBlockSize || def.blob_block_size > 0xFFFF)
    Fail(ErrorCode::kBlobFieldLimits);
  t.fields = def.fields;
  CheckFieldDefinitions(t.fields, true);
  t.primary = def.primary;
  t.secondary = def.secondary;
  CheckIndexDefinitions(t.fields, t.primary, t.secondary, def.allow_empty_primary,
                        t.primary_field_count);
  std::uint16_t blobs = 0;
  for (const TFieldDescriptor& f : t.fields) {
    if (f.Type() == FieldType::kBlob && ++blobs > kMaxBlobFields) Fail(ErrorCode::kBlobFieldLimits);
  }
  const RecordSizes sizes = ComputeRecordSizes(t.fields);
  if (sizes.record + sizes.computed > kMaxRecordBufferSize) Fail(ErrorCode::kRecordTooLarge);

  DataFileHeader& h = t.header;
  h.SetLanguage(def.language);
  h.SetSortId(def.sort);
  h.SetCreator1(def.creator1);
  h.SetCreator2(def.creator2);
  h.SetEncrypted(def.encrypted);
  ShortString<50> description;
  description.Assign(def.description);
  ShortString<15> stored_password;
  if (def.encrypted) {
    stored_password.Assign(t.password);
    ScrambleHeaderString(description);
    ScrambleHeaderString(stored_password);
  } else {
    t.password.clear();
  }
  h.SetDescription(description);
  h.SetPassword(stored_password);
  h.SetFieldCount(static_cast<std::uint16_t>(t.fields.size()));
  h.SetBlobCount(blobs);
  h.SetBlobBlockSize(def.blob_block_size);
  h.SetVersion(kDataFileVersion);
  h.SetFreeHead(0);
  h.SetNextRecord(1);
  h.SetLastRecordId(0);
  h.SetRecordSize(static_cast<std::uint16_t>(sizes.record));
  h.SetComputedSize(static_cast<std::uint16_t>(sizes.computed));
  h.SetCounter(0);
  return t;
}

void TDataFile::MakeTableFiles(const NewTable& t, bool stay_open, bool delete_on_close) {
  SessionPassword password_guard;
  if (!t.password.empty()) password_guard.AddIfMissing(t.password);

  ClearOpenState();
  created_files_ = 0;
  header_ = t.header;
  stored_ = t.fields;
  record_size_ = header_.RecordSize();
  computed_size_ = header_.ComputedSize();
  try {
    CreateFile();
    WriteFieldDefs();
    TableStep("table files made");
    if (stay_open && header_.BlobCount() == 0) {
      // The files just made are taken up as Open takes them up after a
      // Close, without closing and finding them again: the table's state
      // read back from the .DAT, the index file attached.
      LoadOpenState();
      index_file_->AttachCreated();
    } else {
      Close();
      Open();
    }
    CreateIndexes(t.primary, t.primary_field_count, t.secondary);
    TableStep("indexes made");
    if (stay_open) {
      // The index file as its open leaves it (index 0 selected; the last
      // index added is selected now): its header, written by each index
      // made, read again.
      index_file_->AttachCreated();
      if (delete_on_close && !InMemory()) {
        // Held open from here until the close deletes it: marked so that a
        // later start in this folder removes it should this program die
        // first (temp_table_sweep.h).
        header_.SetCreator2(kTemporaryTableMark);
        WriteHeader();
      }
    } else {
      Close();
    }
    created_files_ = 0;
    if (stay_open) delete_on_close_ = delete_on_close;
  } catch (...) {
    // Nothing of a table that failed to come into being stays behind.
    try {
      CloseBlobFile();
    } catch (...) {
    }
    index_file_->Close();
    ClearOpenState();
    TFileHandler::Close();
    try {
      if (created_files_ & 1) TFileHandler::DeleteFile();
    } catch (...) {
    }
    try {
      PrepareIndexFile();
      if (created_files_ & 2) index_file_->DeleteFile();
    } catch (...) {
    }
    try {
      PrepareBlobFile();
      if (created_files_ & 4) blob_file_->DeleteFile();
    } catch (...) {
    }
    created_files_ = 0;
    throw;
  }
}

void TDataFile::EmptyDataTable() {
  if (!IsOpen()) Fail(ErrorCode::kInvalidFileHandle);
  if (!Exclusive()) Fail(ErrorCode::kMustBeExclusive);
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  TruncateTable();
  WriteHeader();
  DropAllRecords();
  index_file_->EmptyAllIndexes();
  if (header_.BlobCount() > 0) EmptyBlobFile();
  ResetCursor();
}

}  // namespace storage
