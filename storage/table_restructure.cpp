// TDataFile::AlterDataTable: a table altered to new field and index
// definitions, its records carried over.
//
// Field matching. Each new field descriptor carries in its field-number slot
// the number of the existing field whose values it takes (a number no
// existing field has makes a new, empty field); index descriptors name key
// fields by the same numbers. Before anything is created the numbers are
// turned into positions (the form every stored table has), and the mapping
// carried number -> new position is kept for the copy. So the new table is
// created already renumbered, and its index key fields never name a number
// that is not a position.
//
// Two ways:
//   - Only field and index names, field descriptions (the text at offset
//     33), the letter case of limit and default texts, the password, the
//     table description or the creator values differ: the stored
//     definitions and the header are rewritten in place.
//   - Otherwise a new table is built beside the old one under a temporary
//     name, every active record is copied (values converted by
//     ConvertFieldValue, losses reported through the data-lost event), and
//     the new files replace the old ones.
//
// Replacing the files (table_swap.h): the new set is built in the table's
// own directory as NAME~RS<pid> (a rename never crosses file systems, and
// the name tells a killed run's leftovers apart), the old files become the
// backups NAME.DBK, NAME.IBK and NAME.BBK, and the swap is one step as the
// next open sees it. The old table stays open, exclusively, until the swap's
// intent is on disk. A failure before the swap deletes the new files and
// leaves the old table open as it was; a failure inside it moves back what
// it moved.
//
// Losses. Besides the causes of the data-lost event for a dropped field (3)
// and a pair of types without conversion (4), a value carried over only in
// part is reported with cause 4: a string or bytes value cut to a shorter
// field (blanks apart), an integer that does not fit a narrower type, text
// that does not read as the new type (stored as zero). Nothing that becomes
// a BLOB field comes from a value of another type: raw bytes are no BLOB
// offset (records would share one chain, and deleting one would free the
// others' data), so such a value is stored as null and reported (cause 4).
#include "storage/table_restructure.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "platform/file.h"
#include "platform/text.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/expression_types.h"
#include "storage/index_file.h"
#include "storage/session.h"
#include "storage/table_names.h"
#include "storage/table_swap.h"
#include "storage/value_text.h"

namespace storage {
namespace {

// ---------------------------------------------------------------- conversion

// Text of a stored string value: up to its zero byte, never past the
// physical size.
std::string StoredText(const TFieldDescriptor& f, std::span<const std::uint8_t> v) {
  const std::size_t limit = std::min<std::size_t>(f.PhysicalSize, v.size());
  std::size_t n = 0;
  while (n < limit && v[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(v.data()), n);
}

void Zero(std::span<std::uint8_t> v) { std::fill(v.begin(), v.begin() + kConvertScratchSize, 0); }

// Stores text as target's string value (cut to physical size - 1); lossy
// when the cut drops anything but blanks.
void PutText(const TFieldDescriptor& target, std::string_view text, std::span<std::uint8_t> v,
             bool& lossy) {
  Zero(v);
  const std::size_t room = target.PhysicalSize > 0 ? target.PhysicalSize - 1u : 0u;
  const std::size_t n = std::min(text.size(), room);
  if (text.substr(n).find_first_not_of(' ') != std::string_view::npos) lossy = true;
  std::memcpy(v.data(), text.data(), n);
}

// Raw copy of the shorter physical size; lossy when non-zero bytes are cut.
void RawCopy(const TFieldDescriptor& source, const TFieldDescriptor& target,
             std::span<std::uint8_t> v, bool& lossy) {
  const std::size_t from = std::min<std::size_t>(source.PhysicalSize, kConvertScratchSize);
  const std::size_t to = std::min<std::size_t>(target.PhysicalSize, kConvertScratchSize);
  if (to < from && std::any_of(v.begin() + to, v.begin() + from, [](auto b) { return b != 0; }))
    lossy = true;
  std::fill(v.begin() + std::min(from, to), v.begin() + kConvertScratchSize, 0);
}

// Stores an integer into an integer-like target, cut to its width (the low
// 16 bits for small integer, word and Boolean).
void PutInteger(FieldType target, std::int64_t x, std::span<std::uint8_t> v, bool& lossy) {
  Zero(v);
  switch (target) {
    case FieldType::kSmallInt: {
      const auto c = static_cast<std::int16_t>(static_cast<std::uint16_t>(x & 0xFFFF));
      if (c != x) lossy = true;
      StoreLittle<std::int16_t>(v.data(), c);
      break;
    }
    case FieldType::kWord:
    case FieldType::kBoolean: {
      const auto c = static_cast<std::uint16_t>(x & 0xFFFF);
      if (target == FieldType::kWord && c != x) lossy = true;
      StoreLittle<std::uint16_t>(v.data(), c);
      break;
    }
    case FieldType::kInteger: {
      const auto c = static_cast<std::int32_t>(static_cast<std::uint32_t>(x & 0xFFFFFFFF));
      if (c != x) lossy = true;
      StoreLittle<std::int32_t>(v.data(), c);
      break;
    }
    default: break;
  }
}

void PutDouble(double d, std::span<std::uint8_t> v) {
  Zero(v);
  StoreLittle<double>(v.data(), d);
}

void PutCurrency(const TFieldDescriptor& target, Currency c, std::span<std::uint8_t> v) {
  Zero(v);
  StoreLittle<std::int64_t>(v.data(), RoundCurrency(c, target.Decimals));
}

bool IsIntegerTarget(FieldType t) {
  return t == FieldType::kSmallInt || t == FieldType::kInteger || t == FieldType::kWord;
}

// The conversion proper; may throw (framework conversion errors), which the
// caller turns into zero bytes.
bool ConvertUnguarded(const TFieldDescriptor& source, const TFieldDescriptor& target,
                      std::span<std::uint8_t> v, bool& lossy) {
  const FieldType s = source.Type();
  const FieldType t = target.Type();
  // A BLOB field holds the offset of a chain of its own: no other type's
  // bytes make one.
  if (t == FieldType::kBlob && s != FieldType::kBlob) return false;
  if (s == t) {
    if (s == FieldType::kString) {
      PutText(target, StoredText(source, v), v, lossy);
    } else {
      RawCopy(source, target, v, lossy);
    }
    return true;
  }
  if (t == FieldType::kBytes && s != FieldType::kBlob) {
    // Every source type listed converts to bytes by a raw copy.
    RawCopy(source, target, v, lossy);
    return true;
  }
  switch (s) {
    case FieldType::kString: {
      const std::string text = StoredText(source, v);
      switch (t) {
        case FieldType::kDate:
          Zero(v);
          StoreLittle<std::int32_t>(v.data(), fw::DateTimeToTimeStamp(fw::StrToDate(text)).Date);
          return true;
        case FieldType::kTime:
          Zero(v);
          StoreLittle<std::int32_t>(v.data(), fw::DateTimeToTimeStamp(fw::StrToTime(text)).Time);
          return true;
        case FieldType::kTimestamp:
          PutDouble(fw::TimeStampToMSecs(fw::DateTimeToTimeStamp(fw::StrToDateTime(text))), v);
          return true;
        case FieldType::kBoolean:
          PutInteger(t, TextToBool(text) ? 1 : 0, v, lossy);
          return true;
        case FieldType::kSmallInt:
        case FieldType::kInteger:
        case FieldType::kWord:
          PutInteger(t, fw::StrToInt(text), v, lossy);
          return true;
        case FieldType::kFloat: PutDouble(fw::StrToFloat(text), v); return true;
        case FieldType::kCurrency: PutCurrency(target, fw::StrToCurr(text).value, v); return true;
        default: return false;
      }
    }
    case FieldType::kInteger:
    case FieldType::kSmallInt:
    case FieldType::kWord: {
      std::int64_t x = 0;
      if (s == FieldType::kInteger) x = LoadLittle<std::int32_t>(v.data());
      if (s == FieldType::kSmallInt) x = LoadLittle<std::int16_t>(v.data());
      if (s == FieldType::kWord) x = LoadLittle<std::uint16_t>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::IntToStr(x), v, lossy);
      } else if (IsIntegerTarget(t)) {
        PutInteger(t, x, v, lossy);
      } else if (t == FieldType::kBoolean && s != FieldType::kInteger) {
        PutInteger(t, x, v, lossy);  // the raw 16-bit value; storing makes it 0 or 1
      } else if (t == FieldType::kFloat) {
        PutDouble(static_cast<double>(x), v);
      } else if (t == FieldType::kCurrency) {
        PutCurrency(target, x * kCurrencyScale, v);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kBoolean: {
      const bool b = LoadLittle<std::uint16_t>(v.data()) != 0;
      if (t == FieldType::kString) {
        PutText(target, BoolToText(b), v, lossy);
      } else if (IsIntegerTarget(t)) {
        PutInteger(t, b ? 1 : 0, v, lossy);
      } else if (t == FieldType::kCurrency) {
        // The scaled value 0 or 1: an amount of 0 or 0.0001.
        Zero(v);
        StoreLittle<std::int64_t>(v.data(), b ? 1 : 0);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kFloat: {
      const double d = LoadLittle<double>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::FloatToStr(d), v, lossy);
      } else if (IsIntegerTarget(t)) {
        PutInteger(t, fw::Round(d), v, lossy);
      } else if (t == FieldType::kCurrency) {
        PutCurrency(target, fw::DoubleToCurr(d).value, v);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kCurrency: {
      const std::int64_t c = LoadLittle<std::int64_t>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::CurrToStr(fw::Currency::FromRaw(c)), v, lossy);
      } else if (IsIntegerTarget(t)) {
        PutInteger(t, fw::Round(fw::CurrToDouble(fw::Currency::FromRaw(c))), v, lossy);
      } else if (t == FieldType::kFloat) {
        PutDouble(fw::CurrToDouble(fw::Currency::FromRaw(c)), v);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kDate: {
      const std::int32_t days = LoadLittle<std::int32_t>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::DateToStr(static_cast<double>(days) - fw::kDateDelta), v, lossy);
      } else if (t == FieldType::kTimestamp) {
        PutDouble(static_cast<double>(days) * kMSecsPerDay, v);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kTime: {
      const std::int32_t ms = LoadLittle<std::int32_t>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::TimeToStr(static_cast<double>(ms) / kMSecsPerDay), v, lossy);
      } else if (t == FieldType::kTimestamp) {
        PutDouble(static_cast<double>(fw::kDateDelta) * kMSecsPerDay + ms, v);
      } else {
        return false;
      }
      return true;
    }
    case FieldType::kTimestamp: {
      const double ms = LoadLittle<double>(v.data());
      if (t == FieldType::kString) {
        PutText(target, fw::DateTimeToStr(fw::TimeStampToDateTime(fw::MSecsToTimeStamp(ms))), v,
                lossy);
      } else if (t == FieldType::kDate) {
        Zero(v);
        StoreLittle<std::int32_t>(v.data(), static_cast<std::int32_t>(TimestampDays(ms)));
      } else if (t == FieldType::kTime) {
        Zero(v);
        StoreLittle<std::int32_t>(v.data(), static_cast<std::int32_t>(TimestampTimeOfDay(ms)));
      } else {
        return false;
      }
      return true;
    }
    default:
      // BLOB, bytes and the other types: a raw copy into every type.
      RawCopy(source, target, v, lossy);
      return true;
  }
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return platform::AnsiUpperCase(a) == platform::AnsiUpperCase(b);
}

}  // namespace

bool ConvertFieldValue(const TFieldDescriptor& source, const TFieldDescriptor& target,
                       std::span<std::uint8_t> value, bool* lossy) {
  assert(value.size() >= kConvertScratchSize);
  bool lost = false;
  bool converted = true;
  try {
    converted = ConvertUnguarded(source, target, value, lost);
  } catch (const std::exception&) {
    // The value did not read as the target type: zero bytes, converted.
    Zero(value);
    lost = true;
  }
  if (lossy != nullptr) *lossy = converted && lost;
  return converted;
}

bool SameFieldDefinition(const TFieldDescriptor& a, const TFieldDescriptor& b) {
  return a.FieldNumber == b.FieldNumber && a.FieldType == b.FieldType && a.Subtype == b.Subtype &&
         a.PhysicalSize == b.PhysicalSize && a.Decimals == b.Decimals &&
         a.Required == b.Required && a.Reserved1 == b.Reserved1 &&
         EqualNoCase(a.DefaultValue.View(), b.DefaultValue.View()) &&
         EqualNoCase(a.MinValue.View(), b.MinValue.View()) &&
         EqualNoCase(a.MaxValue.View(), b.MaxValue.View()) && a.Computed == b.Computed &&
         EqualNoCase(a.Expression.View(), b.Expression.View());
}

// ------------------------------------------------------------------ restructure

class TableRestructure {
 public:
  TableRestructure(TDataFile& table, const DataTableDefinition& def) : t_(table), def_(def) {}

  void Run() {
    Prepare();
    t_.Open();
    bool copy = true;
    try {
      copy = NeedsCopy();
      if (!copy) ChangeInPlace();
    } catch (...) {
      CloseQuietly(t_);
      throw;
    }
    if (copy) CopyAndReplace();
  }

 private:
  static void CloseQuietly(TDataFile& f) {
    try {
      if (f.IsOpen()) f.Close();
    } catch (...) {
    }
  }

  // Every definition rule is checked before anything is opened or made.
  void Prepare() {
    password_ = std::string(TrimBlanks(def_.password));
    if (def_.encrypted && (password_.empty() || password_.size() > kMaxPasswordLength))
      t_.Fail(ErrorCode::kInvalidPassword);
    if (def_.fields.empty() || def_.fields.size() > static_cast<std::size_t>(kMaxFields))
      t_.Fail(ErrorCode::kFieldLimits);
    if (def_.secondary.size() > static_cast<std::size_t>(kMaxSecondaryIndexes))
      t_.Fail(ErrorCode::kIndexLimits);
    // The carried numbers must be unique like any field numbers.
    fields_ = def_.fields;
    t_.CheckFieldDefinitions(fields_, true);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      carried_.push_back(fields_[i].FieldNumber);
      fields_[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
    }
    primary_ = def_.primary;
    secondary_ = def_.secondary;
    MapKeyFields(primary_);
    for (TIndexDescriptor& d : secondary_) MapKeyFields(d);
    // The index rules on copies: CreateDataTable checks the originals
    // again; the copies give the key sizes the comparison needs.
    checked_primary_ = primary_;
    checked_secondary_ = secondary_;
    std::vector<TFieldDescriptor> fields = fields_;
    int primary_count = 0;
    t_.CheckIndexDefinitions(fields, checked_primary_, checked_secondary_,
                             def_.allow_empty_primary, primary_count);
  }

  void MapKeyFields(TIndexDescriptor& d) const {
    for (int i = 0; i < kMaxKeyFields; ++i) {
      const std::uint16_t n = d.FieldNumbers[i];
      if (n == 0) break;
      const auto it = std::find(carried_.begin(), carried_.end(), n);
      if (it == carried_.end()) t_.Fail(ErrorCode::kInvalidField, std::to_string(n));
      d.FieldNumbers[i] = static_cast<std::uint16_t>(it - carried_.begin() + 1);
    }
  }

  // The new descriptor i as the caller gave it (carried number), normalised.
  TFieldDescriptor CarriedField(std::size_t i) const {
    TFieldDescriptor f = fields_[i];
    f.FieldNumber = carried_[i];
    return f;
  }

  static bool SameIndex(const TIndexDescriptor& old, const TIndexDescriptor& neu, bool primary) {
    if (old.KeySize != neu.KeySize || old.FieldCount != neu.FieldCount ||
        old.Descending != neu.Descending || old.CaseInsensitive != neu.CaseInsensitive)
      return false;
    if (!primary && old.Unique != neu.Unique) return false;
    for (int i = 0; i < kMaxKeyFields && i < old.FieldCount; ++i) {
      if (old.FieldNumbers[i] != neu.FieldNumbers[i] ||
          old.FieldDescending[i] != neu.FieldDescending[i])
        return false;
    }
    return true;
  }

  bool NeedsCopy() {
    const DataFileHeader& h = t_.header_;
    if (def_.encrypted != h.Encrypted() || def_.blob_block_size != h.BlobBlockSize() ||
        def_.language != h.Language() || def_.sort != h.SortId() ||
        fields_.size() != t_.stored_.size())
      return true;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (!SameFieldDefinition(t_.stored_[i], CarriedField(i))) return true;
    }
    TIndexFile& ix = t_.IndexFile();
    if (static_cast<int>(checked_secondary_.size()) != ix.SecondaryIndexCount()) return true;
    if (!SameIndex(ix.GetDescriptorCopy(0), checked_primary_, true)) return true;
    for (std::size_t k = 0; k < checked_secondary_.size(); ++k) {
      if (!SameIndex(ix.GetDescriptorCopy(static_cast<int>(k) + 1), checked_secondary_[k], false))
        return true;
    }
    return false;
  }

  // Names, descriptions and the header's texts; the records stay.
  void ChangeInPlace() {
    TIndexFile& ix = t_.IndexFile();
    for (std::size_t k = 0; k < checked_secondary_.size(); ++k) {
      const int slot = static_cast<int>(k) + 1;
      TIndexDescriptor d = ix.GetDescriptorCopy(slot);
      d.SetName(checked_secondary_[k].NameText());
      ix.ReplaceIndexDescriptor(slot, d);
    }
    ix.WriteHeader();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      TFieldDescriptor& s = t_.stored_[i];
      const TFieldDescriptor& n = fields_[i];
      s.FieldNumber = carried_[i];
      s.Name = n.Name;
      s.Subtype = n.Subtype;
      s.SecondText = n.SecondText;
      s.Required = n.Required;
      s.MinValue = n.MinValue;
      s.MaxValue = n.MaxValue;
      s.DefaultValue = n.DefaultValue;
    }
    // The header's texts are written at once: a new password or
    // description that only lived in memory would be lost at close.
    DataFileHeader& h = t_.header_;
    ShortString<50> description;
    description.Assign(def_.description);
    ShortString<15> stored_password;
    SessionPassword session_password;
    if (h.Encrypted()) {
      stored_password.Assign(password_);
      ScrambleHeaderString(description);
      ScrambleHeaderString(stored_password);
      session_password.AddIfMissing(password_);
    }
    h.SetDescription(description);
    h.SetPassword(stored_password);
    h.SetCreator1(def_.creator1);
    h.SetCreator2(def_.creator2);
    t_.WriteHeader();
    t_.WriteFieldDefs();
    t_.Close();
    t_.Open();
  }

  void Lost(std::uint8_t cause) {
    if (stop_asking_) return;
    t_.DoDataLost(cause, continue_, stop_asking_);
  }

  // Copies one value of old field i (1-based) into new field j (1-based).
  void CopyField(TDataFile& target, int i, int j, std::span<std::byte> old_rec,
                 std::span<std::byte> new_rec) {
    const TFieldDescriptor& f = t_.stored_[static_cast<std::size_t>(i) - 1];
    const TFieldDescriptor& nf = fields_[static_cast<std::size_t>(j) - 1];
    if (f.Type() == FieldType::kBlob) {
      bool blank = true;
      t_.GetFieldValue(false, i, blank, nullptr, old_rec);
      if (nf.Type() != FieldType::kBlob) {
        if (!blank) Lost(4);
        return;
      }
      if (blank) return;
      if (const auto code = t_.OpenBlobField(false, i, old_rec); code != 0)
        t_.Fail(static_cast<ErrorCode>(code), f.Name.View());
      std::int32_t size = 0;
      if (const auto code = t_.GetBlobFieldSize(false, i, size, old_rec); code != 0)
        t_.Fail(static_cast<ErrorCode>(code), f.Name.View());
      if (size <= 0) return;
      if (const auto code = target.OpenBlobField(false, j, new_rec); code != 0)
        t_.Fail(static_cast<ErrorCode>(code), nf.Name.View());
      constexpr std::int32_t kChunk = 65536;
      std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(size, kChunk)));
      for (std::int32_t offset = 0; offset < size;) {
        const std::int32_t want = std::min(kChunk, size - offset);
        std::int32_t got = 0;
        const auto rc = t_.ReadBlobField(false, i, got, offset, chunk.data(), want, old_rec);
        if (rc != 0 || got != want) t_.Fail(ErrorCode::kBlobEnded, f.Name.View());
        if (const auto wc = target.WriteBlobField(false, j, chunk.data(), offset, got, new_rec);
            wc != 0)
          t_.Fail(static_cast<ErrorCode>(wc), nf.Name.View());
        offset += got;
      }
      return;
    }
    std::uint8_t value[256] = {};
    bool blank = false;
    t_.GetFieldValue(false, i, blank, value, old_rec);
    if (blank) return;  // the new field keeps its default
    bool lossy = false;
    if (!ConvertFieldValue(f, nf, std::span<std::uint8_t>(value, sizeof(value)), &lossy)) {
      Lost(4);
      return;
    }
    target.SetFieldValue(false, j, false, value, new_rec);
    if (lossy) Lost(4);
  }

  static std::uint8_t CauseOf(std::int32_t code) {
    switch (code) {
      case static_cast<std::int32_t>(ErrorCode::kDuplicateKey): return 1;
      case static_cast<std::int32_t>(ErrorCode::kMinimumExceeded):
      case static_cast<std::int32_t>(ErrorCode::kMaximumExceeded):
      case static_cast<std::int32_t>(ErrorCode::kValueRequired): return 2;
      default: return 0;
    }
  }

  // Every physical record of the open table into the open target.
  void CopyRecords(TDataFile& target) {
    std::vector<std::byte> old_rec(t_.GetRecordBufferSize());
    std::vector<std::byte> new_rec(target.GetRecordBufferSize());
    const std::uint32_t next = t_.header_.NextRecord();
    const std::uint32_t last = next > 0 ? next - 1 : 0;
    for (std::uint32_t r = 1; r <= last && continue_; ++r) {
      {
        const RecordPin buffer(t_.GetRecordBuffer(r, true, ReadDirection::kForward, false));
        std::fill(old_rec.begin(), old_rec.end(), std::byte{0});
        std::memcpy(old_rec.data(), buffer->Data().data(),
                    std::min(old_rec.size(), buffer->Data().size()));
      }
      if (std::to_integer<std::uint8_t>(old_rec[0]) == 0) {
        CopyRecord(target, old_rec, new_rec);
        TableStep("copy record");
      }
      t_.FreeBlobBuffers();
      target.FreeBlobBuffers();
      const double percent = static_cast<double>(r) / static_cast<double>(last) * 100.0;
      t_.DoRestructureProgress(static_cast<int>(r), static_cast<std::uint16_t>(fw::Round(percent)));
    }
  }

  void CopyRecord(TDataFile& target, std::span<std::byte> old_rec, std::span<std::byte> new_rec) {
    target.ApplyDefaultValues(new_rec);
    for (int i = 1; i <= t_.FieldCount() && continue_; ++i) {
      const TFieldDescriptor& f = t_.stored_[static_cast<std::size_t>(i) - 1];
      if (f.IsComputed()) continue;
      const auto it = std::find(carried_.begin(), carried_.end(), f.FieldNumber);
      if (it == carried_.end()) {
        Lost(3);
        continue;
      }
      CopyField(target, i, static_cast<int>(it - carried_.begin()) + 1, old_rec, new_rec);
    }
    if (!continue_) return;
    const std::uint32_t id = TDataFile::GetRecordID(old_rec);
    TDataFile::SetRecordID(id, new_rec);
    try {
      target.InsertRecord(new_rec);
      max_id_ = std::max(max_id_, id);
    } catch (const ETolmidEngineError& e) {
      const std::uint8_t cause = CauseOf(e.ErrorCode());
      Lost(cause);
      // A rejected record is left out. Any other failure leaves the new
      // table in a state nobody knows: the restructure ends and the old
      // table stays.
      if (cause == 0) throw;
    }
  }

  void CopyAndReplace() {
    const bool in_memory = t_.InMemory();
    SessionPassword session_password;
    if (def_.encrypted) session_password.AddIfMissing(password_);
    // The table is held exclusively and no swap is pending (the open
    // finished any): every temporary set beside it is a killed run's.
    if (!in_memory) RemoveLeftoverFiles(t_.FileName());
    const std::string target_name =
        in_memory ? GetTempTableName(true) : TemporaryTableName(t_.FileName(), "RS");
    TDataFile target;
    std::optional<TableSwap> swap;
    try {
      target.SetInMemory(in_memory);
      target.SetFileName(target_name);
      target.SetExclusive(true);
      DataTableDefinition def = def_;
      def.fields = fields_;
      def.primary = primary_;
      def.secondary = secondary_;
      if (!in_memory) swap.emplace(t_.FileName(), target_name, TableSwap::Aside::kBackups);
      // Made in place: the new set is swapped in whole below.
      target.CreateTable(def, false, false);
      target.SetKeepRecordIds(true);
      target.Open();
      target.SwitchToIndex(kNoIndex);
      CopyRecords(target);
      // Inserts kept the old record IDs and drew none: the next ID must
      // still follow every ID the old table handed out.
      target.header_.SetLastRecordId(std::max(t_.header_.LastRecordId(), max_id_));
      target.WriteHeader();
      target.SetKeepRecordIds(false);
      target.Close();
      TableStep("new files written");
      if (!continue_) {
        // The table stays open as it was.
        if (swap) swap->Abandon();
        else target.DeleteTableFiles();
        return;
      }
      if (in_memory) {
        t_.Close();
        t_.DeleteTableFiles();
        target.RenameTableFiles(t_.FileName());
      } else {
        // The intent is written while the old table is still held: no
        // program opens it between the close and the moves unwarned.
        swap->Prepare();
        t_.Close();
        TableStep("table closed");
        swap->Commit();
      }
      t_.Open();
    } catch (...) {
      target.SetKeepRecordIds(false);
      CloseQuietly(target);
      if (swap) {
        swap->Abandon();
      } else if (in_memory) {
        try {
          target.DeleteTableFiles();
        } catch (...) {
        }
      }
      // Reopened as it stands: the old table, or the new one when a swap
      // that could not be undone is finished by this open.
      try {
        t_.Open();
      } catch (...) {
      }
      throw;
    }
  }

  TDataFile& t_;
  const DataTableDefinition& def_;
  std::string password_;
  std::vector<TFieldDescriptor> fields_;  // normalised, numbered by position
  std::vector<std::uint16_t> carried_;    // carried number of each new field
  TIndexDescriptor primary_;              // key fields by position
  std::vector<TIndexDescriptor> secondary_;
  TIndexDescriptor checked_primary_;  // the same after the index rules
  std::vector<TIndexDescriptor> checked_secondary_;
  bool continue_ = true;
  bool stop_asking_ = false;
  std::uint32_t max_id_ = 0;
};

void TDataFile::AlterDataTable(const DataTableDefinition& def) {
  if (IsOpen()) Fail(ErrorCode::kInUse);
  if (!Exclusive()) Fail(ErrorCode::kMustBeExclusive);
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  TableRestructure(*this, def).Run();
}

void TDataFile::DoRestructureProgress(int current_record, std::uint16_t percent_done) {
  if (on_restructure_progress_) on_restructure_progress_(*this, current_record, percent_done);
}

void TDataFile::DoDataLost(std::uint8_t cause, bool& continue_restructure, bool& stop_asking) {
  if (on_data_lost_) on_data_lost_(*this, cause, continue_restructure, stop_asking);
}

}  // namespace storage
