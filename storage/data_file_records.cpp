// TDataFile: field values in record buffers, default values, checks, index
// keys, and inserting, modifying and deleting records with their keys and
// BLOB values.
//
// Everything that can refuse the record (checks, duplicate keys, missing
// old keys, BLOB chains that do not load) is tried before the first byte of
// a cache changes; whatever fails after that (a damaged page, a failed read
// or write, a cache with no room) is undone by the write undo
// (data_file_undo.cpp). Either way a failed write leaves the caches and the
// files as they were.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include "framework/sysutils.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "storage/blob_file.h"
#include "storage/blob_format.h"
#include "storage/data_file.h"
#include "storage/expression_eval.h"
#include "storage/expression_types.h"
#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/lock_guards.h"
#include "storage/value_text.h"

namespace storage {
namespace {

// Room for any field value: a string of 250 characters and its zero.
constexpr std::size_t kScratchSize = 256;
constexpr std::size_t kMaxStringChars = 250;
// Day number of 1899-12-30, the origin of the framework's dates.
constexpr double kDateBias = 693594.0;
constexpr std::uint32_t kMapHalfWidth = 0x00400000;
constexpr std::uint32_t kMapUpperCase = 0x00000200;

std::int32_t DayNumber(fw::TDateTime dt) {
  return static_cast<std::int32_t>(std::trunc(dt) + kDateBias);
}
std::int32_t MillisOfDay(fw::TDateTime dt) {
  const double frac = std::fabs(dt - std::trunc(dt));
  return static_cast<std::int32_t>(std::llround(frac * kMSecsPerDay));
}
double TimestampOf(fw::TDateTime dt) {
  return static_cast<double>(DayNumber(dt)) * kMSecsPerDay + MillisOfDay(dt);
}

bool SameText(std::string_view a, std::string_view b) {
  return platform::AnsiUpperCase(a) == platform::AnsiUpperCase(b);
}

template <class T>
int Compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

void TDataFile::CheckRecordSpan(std::span<const std::byte> record) const {
  if (record.size() < GetRecordBufferSize()) Fail(ErrorCode::kCorruptRecords);
}

std::uint32_t TDataFile::GetRecordID(std::span<const std::byte> record) {
  return LoadLittle<std::uint32_t>(record.data() + kRecordIdOffset);
}

void TDataFile::SetRecordID(std::uint32_t id, std::span<std::byte> record) {
  StoreLittle<std::uint32_t>(record.data() + kRecordIdOffset, id);
}

// ------------------------------------------------------------------ values

void TDataFile::GetFieldValue(bool working, int field_no, bool& is_blank, void* value,
                              std::span<const std::byte> record) const {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.IsAutoIncrement()) {
    is_blank = false;
    if (value != nullptr) {
      std::memset(value, 0, f.PhysicalSize);
      std::memcpy(value, record.data() + kRecordIdOffset, 4);
    }
    return;
  }
  if (std::size_t{f.Offset} + 1 + f.PhysicalSize > record.size()) Fail(ErrorCode::kCorruptRecords);
  const std::byte* p = record.data() + f.Offset;
  is_blank = std::to_integer<std::uint8_t>(p[0]) == 0;
  // A stored NaN reads as null with the value 0 (field_types.h).
  const bool nan = !is_blank && f.PhysicalSize >= 8 && IsNotANumber(f.Type(), p + 1);
  if (nan) is_blank = true;
  if (f.Type() == FieldType::kBlob) {
    const auto v = LoadLittle<std::int32_t>(p + 1);
    if (v < 0) {
      // An open value: blank exactly when it is empty. A handle whose value
      // was closed no longer tells anything; it counts as not blank.
      is_blank = false;
      std::int32_t size = 0;
      if (header_.BlobCount() > 0 && BlobFileOpen() &&
          blob_file_->GetBlobSize(Negate(v), size) == 0)
        is_blank = size == 0;
    }
  }
  if (value != nullptr) {
    std::memset(value, 0, f.PhysicalSize);
    if (!nan) std::memcpy(value, p + 1, f.PhysicalSize);
  }
}

void TDataFile::SetFieldValue(bool working, int field_no, bool force, const void* value,
                              std::span<std::byte> record) const {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.IsComputed() && !force) return;
  if (f.IsAutoIncrement()) {
    if (value != nullptr) std::memcpy(record.data() + kRecordIdOffset, value, 4);
    CalculateComputedFields(record);
    return;
  }
  if (std::size_t{f.Offset} + 1 + f.PhysicalSize > record.size()) Fail(ErrorCode::kCorruptRecords);
  std::byte* p = record.data() + f.Offset;
  std::memset(p + 1, 0, f.PhysicalSize);
  if (value == nullptr) {
    p[0] = std::byte{0};
    if (!f.IsComputed()) CalculateComputedFields(record);
    return;
  }
  std::uint8_t flag = 1;
  switch (f.Type()) {
    case FieldType::kString: {
      // The caller's text ends at its zero byte or after 250 characters.
      const char* src = static_cast<const char*>(value);
      std::size_t n = 0;
      while (n < kMaxStringChars && src[n] != '\0') ++n;
      PutFieldString(record, f.Slot(), {src, n});
      flag = std::to_integer<std::uint8_t>(p[0]);
      break;
    }
    case FieldType::kBlob: {
      const auto v = LoadLittle<std::int32_t>(value);
      StoreLittle<std::int32_t>(p + 1, v);
      if (v == 0) {
        flag = 0;
      } else if (v < 0) {
        std::int32_t size = 0;
        flag = header_.BlobCount() > 0 && BlobFileOpen() &&
                       blob_file_->GetBlobSize(Negate(v), size) == 0 && size > 0
                   ? 1
                   : 0;
      }
      break;
    }
    case FieldType::kBoolean: {
      const auto v = LoadLittle<std::uint16_t>(value);
      StoreLittle<std::uint16_t>(p + 1, v == 0 ? 0 : 1);
      break;
    }
    default:
      // NaN is stored as null (field_types.h).
      if (f.PhysicalSize >= 8 && IsNotANumber(f.Type(), value)) {
        flag = 0;
      } else {
        std::memcpy(p + 1, value, f.PhysicalSize);
      }
      break;
  }
  p[0] = std::byte{flag};
  // A computed field's own store (force) starts no evaluation: that is
  // what keeps CalculateComputedFields from running inside itself.
  if (!f.IsComputed()) CalculateComputedFields(record);
}

namespace {

// Whether ConvertExpressionValue has a rule from one type to the other:
// equal types, numeric to numeric, date to and from timestamp.
bool ConvertibleValue(FieldType from, FieldType to) {
  if (from == to) return true;
  const auto numeric = [](FieldType t) {
    return t == FieldType::kSmallInt || t == FieldType::kInteger || t == FieldType::kFloat ||
           t == FieldType::kCurrency || t == FieldType::kWord;
  };
  if (numeric(from) && numeric(to)) return true;
  return (from == FieldType::kDate && to == FieldType::kTimestamp) ||
         (from == FieldType::kTimestamp && to == FieldType::kDate);
}

}  // namespace

void TDataFile::CalculateComputedFields(std::span<std::byte> record) const {
  if (!has_computed_) return;
  CheckRecordSpan(record);
  const std::span<const std::byte> in = record;
  // Field nodes name stored fields; a number outside them leaves the node
  // as the tree holds it.
  // Captures two words: kept in the callback object, nothing allocated.
  const FieldCallback field = [this, &in](TExpressionNode& result) {
    const int n = result.field_number;
    if (n < 1 || n > FieldCount()) return;
    bool blank = false;
    GetFieldValue(false, n, blank, nullptr, in);
    LoadRecordValue(in, GetFieldDescriptor(false, n).Slot(), result);
    result.null = blank ? 1 : 0;
  };
  const auto language = static_cast<std::uint8_t>(header_.Language() & 0xFF);
  const auto sort = static_cast<std::uint8_t>(header_.SortId() & 0xFF);
  for (int i = 1; i <= working_count_; ++i) {
    const TFieldDescriptor& f = working_[i - 1];
    if (!f.IsComputed()) continue;
    const TExpressionNode* tree = Expression(f.ExpressionRef);
    if (tree == nullptr) continue;
    TExpressionNode result;
    EvaluateExpression(*tree, field, language, sort, result);
    // A value the field's type cannot take (no conversion rule) stores
    // null rather than zero bytes posing as a value.
    if (result.null != 0 || result.type == FieldType::kNone ||
        !ConvertibleValue(result.type, f.Type())) {
      SetFieldValue(true, i, true, nullptr, record);
      continue;
    }
    std::uint8_t v[kScratchSize] = {};
    if (result.type == f.Type()) {
      if (f.Type() == FieldType::kString) {
        const std::string_view text = NodeString(result);
        std::memcpy(v, text.data(), std::min(text.size(), kMaxStringChars));
      } else {
        std::memcpy(v, result.value.data(), std::min<std::size_t>(f.PhysicalSize, kNodeValueSize));
      }
    } else {
      TExpressionNode target;
      target.type = f.Type();
      target.size = f.PhysicalSize;
      ConvertExpressionValue(result, result.value, target, std::span<std::uint8_t>(v, kScratchSize));
    }
    SetFieldValue(true, i, true, v, record);
  }
}

void TDataFile::CalculateComputedFields(TRecord* r) {
  if (r != nullptr) CalculateComputedFields(r->Data());
}

void TDataFile::ApplyDefaultValues(std::span<std::byte> record) const {
  CheckRecordSpan(record);
  std::memset(record.data(), 0, GetRecordBufferSize());
  if (!has_defaults_) return;
  for (int i = 1; i <= working_count_; ++i) {
    const TFieldDescriptor& f = working_[i - 1];
    if (f.DefaultValue.Empty() || f.IsAutoIncrement() || f.IsComputed()) continue;
    const std::string text(f.DefaultValue.View());
    std::uint8_t v[kScratchSize] = {};
    switch (f.Type()) {
      case FieldType::kString:
        std::memcpy(v, text.data(), std::min(text.size(), kMaxStringChars));
        break;
      case FieldType::kDate: {
        const std::int32_t d =
            SameText(text, "DATE") ? DayNumber(fw::Date()) : DayNumber(fw::StrToDate(text));
        StoreLittle<std::int32_t>(v, d);
        break;
      }
      case FieldType::kBoolean:
        StoreLittle<std::uint16_t>(v, TextToBool(text) ? 1 : 0);
        break;
      case FieldType::kSmallInt:
        StoreLittle<std::int16_t>(v, static_cast<std::int16_t>(fw::StrToInt(text)));
        break;
      case FieldType::kWord:
        StoreLittle<std::uint16_t>(v, static_cast<std::uint16_t>(fw::StrToInt(text)));
        break;
      case FieldType::kInteger:
        StoreLittle<std::int32_t>(v, fw::StrToInt(text));
        break;
      case FieldType::kFloat:
        StoreLittle<double>(v, fw::StrToFloat(text));
        break;
      case FieldType::kCurrency:
        StoreLittle<std::int64_t>(v, FormatCurrencyDigits(fw::StrToCurr(text).value, f.Decimals));
        break;
      case FieldType::kTime: {
        const std::int32_t ms =
            SameText(text, "TIME") ? MillisOfDay(fw::Time()) : MillisOfDay(fw::StrToTime(text));
        StoreLittle<std::int32_t>(v, ms);
        break;
      }
      case FieldType::kTimestamp: {
        double ts;
        if (SameText(text, "NOW")) {
          ts = TimestampOf(fw::Now());
        } else if (SameText(text, "DATE")) {
          ts = static_cast<double>(DayNumber(fw::Date())) * kMSecsPerDay;
        } else if (SameText(text, "TIME")) {
          ts = kDateBias * kMSecsPerDay + MillisOfDay(fw::Time());
        } else {
          ts = TimestampOf(fw::StrToDateTime(text));
        }
        StoreLittle<double>(v, ts);
        break;
      }
      case FieldType::kBlob:
        continue;  // stays empty
      default:
        break;  // zero bytes, flag 1
    }
    SetFieldValue(true, i, false, v, record);
  }
}

bool TDataFile::CheckLimit(std::string_view limit, bool is_maximum, const TFieldDescriptor& field,
                           const std::uint8_t* value) const {
  const std::string text(limit);
  int c = 0;
  switch (field.Type()) {
    case FieldType::kString: {
      const char* s = reinterpret_cast<const char*>(value);
      const std::size_t n = strnlen(s, field.PhysicalSize);
      c = CompareStrings(static_cast<std::uint8_t>(header_.Language()),
                         static_cast<std::uint8_t>(header_.SortId()), std::string_view(s, n), false,
                         0, text);
      break;
    }
    case FieldType::kDate:
      c = Compare3(LoadLittle<std::int32_t>(value), DayNumber(fw::StrToDate(text)));
      break;
    case FieldType::kTime:
      c = Compare3(LoadLittle<std::int32_t>(value), MillisOfDay(fw::StrToTime(text)));
      break;
    case FieldType::kTimestamp:
      c = Compare3(LoadLittle<double>(value), TimestampOf(fw::StrToDateTime(text)));
      break;
    case FieldType::kSmallInt:
      c = Compare3<std::int32_t>(LoadLittle<std::int16_t>(value), fw::StrToInt(text));
      break;
    case FieldType::kInteger:
      c = Compare3<std::int32_t>(LoadLittle<std::int32_t>(value), fw::StrToInt(text));
      break;
    case FieldType::kWord:
      c = Compare3<std::int64_t>(LoadLittle<std::uint16_t>(value),
                                 static_cast<std::uint16_t>(fw::StrToInt(text)));
      break;
    case FieldType::kFloat:
      c = Compare3(LoadLittle<double>(value), fw::StrToFloat(text));
      break;
    case FieldType::kCurrency:
      c = Compare3(LoadLittle<std::int64_t>(value),
                   FormatCurrencyDigits(fw::StrToCurr(text).value, field.Decimals));
      break;
    default:
      return true;
  }
  return is_maximum ? c <= 0 : c >= 0;
}

void TDataFile::ValidateRecord(std::span<const std::byte> record) const {
  if (!has_checks_) return;
  const int count = std::min(static_cast<int>(stored_.size()), working_count_);
  for (int i = 1; i <= count; ++i) {
    const TFieldDescriptor& f = stored_[i - 1];
    if (!f.HasChecks()) continue;
    std::uint8_t scratch[kScratchSize] = {};
    bool blank = false;
    GetFieldValue(false, i, blank, scratch, record);
    if (f.Required != 0 && blank) Fail(ErrorCode::kValueRequired, f.Name.View());
    if (!f.MinValue.Empty() && !CheckLimit(f.MinValue.View(), false, f, scratch))
      Fail(ErrorCode::kMinimumExceeded, f.Name.View());
    if (!f.MaxValue.Empty() && !CheckLimit(f.MaxValue.View(), true, f, scratch))
      Fail(ErrorCode::kMaximumExceeded, f.Name.View());
  }
}

// ------------------------------------------------------------------ keys

void TDataFile::BuildIndexKey(std::span<const std::byte> record, std::uint8_t* key) {
  CheckRecordSpan(record);
  const int slot = index_file_->CurrentIndex();
  if (slot == kNoIndex) {
    std::memset(key, 0, kKeyBufferSize);
    return;
  }
  const TIndexDescriptor d = index_file_->GetDescriptorCopy(slot);
  // The key size comes from the file: nothing is written beyond it (nor
  // beyond the buffer), and only it is zeroed: every reader of a key
  // stops at the key size (clearing the whole buffer was the most of a
  // key's cost).
  const std::size_t key_size = std::min<std::size_t>(d.KeySize, kMaxKeySize);
  std::memset(key, 0, key_size);
  const bool whole_descending = d.Descending != 0;
  const bool ci = d.CaseInsensitive != 0;
  const platform::LCID locale = LocaleId();
  std::size_t p = 0;
  const int fields = std::min<int>(d.FieldCount, kMaxKeyFields);
  static constexpr std::uint8_t kZeros[kScratchSize] = {};
  for (int i = 0; i < fields; ++i) {
    const TFieldDescriptor& f = GetFieldDescriptor(false, d.FieldNumbers[i]);
    const std::size_t phys = f.PhysicalSize;
    if (p + 1 + phys > key_size) break;
    // The value as GetFieldValue reads it, taken in place: an
    // auto-increment field is the record ID, never blank; a stored NaN is
    // blank with value 0; otherwise the flag and the value bytes as stored.
    const std::uint8_t* v;
    bool blank;
    std::array<std::uint8_t, 8> id{};
    if (f.IsAutoIncrement()) {
      std::memcpy(id.data(), record.data() + kRecordIdOffset, 4);
      v = id.data();
      blank = false;
    } else {
      if (std::size_t{f.Offset} + 1 + phys > record.size()) Fail(ErrorCode::kCorruptRecords);
      const auto* at = reinterpret_cast<const std::uint8_t*>(record.data()) + f.Offset;
      blank = at[0] == 0;
      v = at + 1;
      if (!blank && phys >= 8 && IsNotANumber(f.Type(), v)) {
        blank = true;
        v = kZeros;
      }
    }
    key[p] = blank ? 0 : 1;
    std::uint8_t* out = key + p + 1;
    switch (f.Type()) {
      case FieldType::kString: {
        const char* s = reinterpret_cast<const char*>(v);
        const std::size_t n = strnlen(s, phys > 0 ? phys - 1 : 0);
        if (locale == 0) {
          for (std::size_t k = 0; k < n; ++k) {
            unsigned char ch = static_cast<unsigned char>(s[k]);
            if (ci && ch >= 'a' && ch <= 'z') ch = static_cast<unsigned char>(ch - 'a' + 'A');
            out[k] = ch;
          }
        } else {
          // Mapped text is cut to the field's slot (the terminator stays).
          std::string mapped;
          platform::LCMapStringA(locale, kMapHalfWidth | (ci ? kMapUpperCase : 0),
                                 std::string_view(s, n), mapped);
          const std::size_t m = std::min(mapped.size(), phys > 0 ? phys - 1 : 0);
          std::memcpy(out, mapped.data(), m);
        }
        break;
      }
      case FieldType::kDate:
      case FieldType::kInteger:
      case FieldType::kTime: {
        const auto k = EncodeIntegerKey(LoadLittle<std::int32_t>(v));
        std::memcpy(out, k.data(), k.size());
        break;
      }
      case FieldType::kBoolean:
      case FieldType::kWord: {
        const auto k = EncodeWordKey(LoadLittle<std::uint16_t>(v));
        std::memcpy(out, k.data(), k.size());
        break;
      }
      case FieldType::kSmallInt: {
        const auto k = EncodeSmallIntKey(LoadLittle<std::int16_t>(v));
        std::memcpy(out, k.data(), k.size());
        break;
      }
      case FieldType::kFloat:
      case FieldType::kTimestamp: {
        const auto k = EncodeFloatKey(LoadLittle<double>(v));
        std::memcpy(out, k.data(), k.size());
        break;
      }
      case FieldType::kCurrency: {
        const auto k = EncodeInt64Key(LoadLittle<std::int64_t>(v));
        std::memcpy(out, k.data(), k.size());
        break;
      }
      default:
        std::memcpy(out, v, phys);
        break;
    }
    if (d.FieldDescending[i] != 0 && !whole_descending) {
      const std::size_t n = f.Type() == FieldType::kString ? phys : phys + 1;
      InvertKeyBytes(key + p, n);
    }
    p += phys + 1;
  }
  if (slot != 0 && d.Unique == 0 && p + 4 <= key_size) {
    const auto k = EncodeIntegerKey(static_cast<std::int32_t>(GetRecordID(record)));
    std::memcpy(key + p, k.data(), k.size());
  }
}

void TDataFile::BuildDeletedKey(std::uint8_t status, std::uint8_t* key,
                                std::span<const std::byte> record) const {
  std::memset(key, 0, kKeyBufferSize);
  key[0] = status;
  const auto k = EncodeIntegerKey(static_cast<std::int32_t>(GetRecordID(record)));
  std::memcpy(key + 1, k.data(), k.size());
}

// ------------------------------------------------------------------ writes

namespace {

// The indexes every record has keys in: the primary index (when the table
// has one), then the secondary ones. Kept in place: a write allocates
// nothing for it.
class KeyedIndexes {
 public:
  explicit KeyedIndexes(TDataFile& t) {
    if (t.TableHasPrimaryKey()) slots_[count_++] = 0;
    const int secondary = std::min(t.IndexFile().SecondaryIndexCount(), kMaxSecondaryIndexes);
    for (int i = 1; i <= secondary; ++i) slots_[count_++] = i;
  }
  [[nodiscard]] const int* begin() const { return slots_.data(); }
  [[nodiscard]] const int* end() const { return slots_.data() + count_; }
  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] int operator[](std::size_t k) const { return slots_[k]; }

 private:
  std::array<int, 1 + kMaxSecondaryIndexes> slots_{};
  std::size_t count_ = 0;
};

using Key = std::array<std::uint8_t, kKeyBufferSize>;

}  // namespace

void TDataFile::FlushAfterWrite(TRecord* keep) {
  if (Exclusive() || ForcedReadOnly()) return;
  if (undo_active_) {
    // From here on the files change: a rollback cuts them back to these
    // sizes and writes the state before the write over the rest.
    undo_sizes_[0] = GetFileSize();
    undo_sizes_[1] = index_file_->IsOpen() ? index_file_->GetFileSize() : 0;
    undo_sizes_[2] =
        header_.BlobCount() > 0 && BlobFileOpen() ? blob_file_->GetFileSize() : 0;
    undo_flushing_ = true;
  }
  // Buffers in use are not written: every pin goes first and comes back
  // after, also when the flush fails. The flush recycles no buffer, so the
  // written record is still there to be pinned again until the cursor has
  // repositioned on it.
  const std::uint16_t uses = keep != nullptr ? keep->UseCount() : 0;
  ReleaseAllPins();
  auto repin = [&] {
    for (std::uint16_t i = 0; i < uses; ++i) keep->AddUse();
  };
  try {
    FlushTable(false);
  } catch (...) {
    repin();
    throw;
  }
  repin();
}

void TDataFile::CheckWriteTarget() const {
  if (record_lost_ || current_ == nullptr || current_->Status() != 0)
    Fail(ErrorCode::kRecordNotFound);
}

void TDataFile::RepositionAfterWrite(int saved_index) {
  index_file_->SelectIndex(saved_index);
  RefreshRangeAndFilters();
  ResyncCursor();
  LoadCursorRecord(ReadDirection::kForward);
}

void TDataFile::InsertRecord(std::span<std::byte> record) {
  CheckRecordSpan(record);
  // The slot is known once the section has checked the headers. Its
  // record lock is only tried there: another user may hold it (one who
  // stood on the deleted record the slot had, and needs the index to learn
  // that it is gone before letting go), and a wait for it inside the
  // section would keep that user waiting for the index until this wait ran
  // out. The section is then left, the lock waited for outside it, and the
  // section begun again; the slot may have changed meanwhile (another
  // user's insert took it), and the lock that was waited for is then given
  // back. As many rounds as a record lock has retries, then 10258.
  std::optional<WriteSectionGuard> section;
  RecordLockGuard waited;
  std::uint32_t waited_for = 0;  // the slot of waited; 0: none
  std::uint32_t n = 0;
  for (unsigned round = 0;; ++round) {
    section.emplace(*this);
    n = NextFreeRecordNo();
    if (n == waited_for) {
      section->AdoptRecordLock(std::move(waited));
      break;
    }
    waited.Release();
    waited_for = 0;
    if (section->TryLockRecord(n)) break;
    section->Release();
    section.reset();
    if (round >= lock_retry_count_) Fail(ErrorCode::kRecordInUse);
    waited = RecordLockGuard(*this, n);
    waited_for = n;
  }
  TIndexFile& ix = *index_file_;
  const int saved = ix.CurrentIndex();
  std::exception_ptr error;
  RecordPin slot;  // the slot until the cursor takes it
  bool reposition = false;
  try {
    ValidateRecord(record);
    if (header_.BlobCount() > 0) CheckBlobOffsets(record, {});
    reposition = true;
    if (!keep_record_ids_) SetRecordID(header_.LastRecordId() + 1, record);
    WriteUndo undo(*this);
    const KeyedIndexes indexes(*this);
    // Each index's key, built once for the duplicate test and the insert.
    insert_keys_.resize(indexes.size() * kKeyBufferSize);
    auto key_of = [&](std::size_t k) { return insert_keys_.data() + k * kKeyBufferSize; };
    for (std::size_t k = 0; k < indexes.size(); ++k) {
      ix.SelectIndex(indexes[k]);
      BuildIndexKey(record, key_of(k));
      if (!no_unique_checks_) ix.CheckUniqueKey(key_of(k));
    }
    // The slot: a reused one must really be a deleted record (checked
    // before any key is written).
    const bool reuse = n != header_.NextRecord();
    slot = RecordPin(TakeFreeRecord());
    n = slot->RecordNumber();
    Key old_deleted;  // read only for a reused slot: cleared there, not per insert
    if (reuse) {
      old_deleted.fill(0);
      BuildDeletedKey(1, old_deleted.data(), slot->Data());
    }
    for (std::size_t k = 0; k < indexes.size(); ++k) {
      ix.SelectIndex(indexes[k]);
      ix.InsertKey(key_of(k), n);
    }
    if (TableHasPrimaryKey()) {
      ix.SelectIndex(kSysDeletedSlot);
      Key key{};
      BuildDeletedKey(0, key.data(), record);
      if (reuse) {
        ix.ReplaceKey(old_deleted.data(), key.data(), n);
      } else {
        ix.InsertKey(key.data(), n);
      }
    }
    InitRecordBuffer(slot.get());
    slot->CopyRecordData(record);
    slot->SetRecordId(GetRecordID(record));
    slot->modified = true;
    ix.IncrementRecordCount();
    if (header_.BlobCount() > 0) WriteRecordBlobs(slot.get(), record, {});
    SetCurrentRecord(slot.release());  // the current record holds the pin
    FlushAfterWrite(current_);
    undo.Commit();
    NoteRecordChanged(n);
    record_lost_ = between_ = false;
  } catch (...) {
    error = std::current_exception();
    slot.reset();
  }
  if (reposition) {
    KeepFirstError(error, [&] { RepositionAfterWrite(saved); });
  } else {
    ix.SelectIndex(saved);
  }
  if (error) std::rethrow_exception(error);
  section->Release();
}

void TDataFile::ModifyRecord(std::span<std::byte> record, bool unlock) {
  CheckRecordSpan(record);
  WriteSectionGuard section(*this);
  TIndexFile& ix = *index_file_;
  const int saved = ix.CurrentIndex();
  CheckWriteTarget();
  TRecord* cur = current_;
  cur->AddUse();
  const RecordPin pin(cur);  // until the cursor stands on it again
  const std::uint32_t n = cur->RecordNumber();
  std::exception_ptr error;
  bool reposition = false;
  try {
    ValidateRecord(record);
    if (header_.BlobCount() > 0) CheckBlobOffsets(record, cur->Data());
    SetRecordID(cur->RecordId(), record);
    reposition = true;
    WriteUndo undo(*this);
    JournalRecord(cur, false);
    const KeyedIndexes indexes(*this);
    std::vector<std::byte> old(cur->Data().begin(), cur->Data().end());
    struct Change {
      int index;
      Key old_key;
      Key new_key;
    };
    std::vector<Change> changes;
    for (int i : indexes) {
      ix.SelectIndex(i);
      Change c{i, {}, {}};
      BuildIndexKey(old, c.old_key.data());
      BuildIndexKey(record, c.new_key.data());
      if (std::memcmp(c.old_key.data(), c.new_key.data(), ix.KeySize()) == 0) continue;
      if (!no_unique_checks_) ix.CheckUniqueKey(c.new_key.data());
      if (!ix.SearchKey(c.old_key.data())) Fail(ErrorCode::kKeyNotFound, {}, GetCurrentIndexName());
      changes.push_back(c);
    }
    for (const Change& c : changes) {
      ix.SelectIndex(c.index);
      ix.ReplaceKey(c.old_key.data(), c.new_key.data(), n);
    }
    cur->CopyRecordData(record);
    if (header_.BlobCount() > 0) WriteRecordBlobs(cur, record, old);
    FlushAfterWrite(cur);
    undo.Commit();
    NoteRecordChanged(n);
    record_lost_ = between_ = false;
    if (unlock) UnlockRecord(n);
  } catch (...) {
    error = std::current_exception();
  }
  if (reposition) {
    KeepFirstError(error, [&] { RepositionAfterWrite(saved); });
  } else {
    ix.SelectIndex(saved);
  }
  if (error) std::rethrow_exception(error);
  section.Release();
}

void TDataFile::DeleteRecord() {
  // The record lock is taken (or waited for) before the write section,
  // which holds the index write lock that the lock's holder needs to post.
  // 11013 comes before anything is locked.
  CheckNotFailed();
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  if (record_lost_) Fail(ErrorCode::kRecordNotFound);
  const RecordIdentity want = StoodOn();
  auto holds = [this](std::uint32_t r) {
    return std::find(locked_records_.begin(), locked_records_.end(), r) != locked_records_.end();
  };
  const bool held_before = want.number != 0 && holds(want.number);
  RecordLockGuard early;
  if (want.number != 0) early = RecordLockGuard(*this, want.number);
  WriteSectionGuard section(*this);
  TIndexFile& ix = *index_file_;
  const int saved = ix.CurrentIndex();
  CheckWriteTarget();
  TRecord* cur = current_;
  const std::uint32_t n = cur->RecordNumber();
  // A lock this cursor held already (an edit) goes with the record too;
  // one taken for the delete goes with the delete.
  const bool held = want.number != 0 ? held_before : holds(n);
  section.LockRecord(n);
  cur->AddUse();
  const RecordPin pin(cur);  // until the cursor stands somewhere again
  std::exception_ptr error;
  std::vector<std::int32_t> handles;
  TBlobFile* blobs = header_.BlobCount() > 0 ? blob_file_.get() : nullptr;
  try {
    WriteUndo undo(*this);
    JournalRecord(cur, false);
    std::vector<std::byte> scratch(cur->Data().begin(), cur->Data().end());
    const KeyedIndexes indexes(*this);
    std::vector<std::pair<int, Key>> keys;
    for (int i : indexes) {
      ix.SelectIndex(i);
      Key k{};
      BuildIndexKey(scratch, k.data());
      if (!ix.SearchKey(k.data())) Fail(ErrorCode::kKeyNotFound, {}, GetCurrentIndexName());
      keys.emplace_back(i, k);
    }
    Key live{}, dead{};
    if (TableHasPrimaryKey()) {
      ix.SelectIndex(kSysDeletedSlot);
      BuildDeletedKey(0, live.data(), scratch);
      BuildDeletedKey(1, dead.data(), scratch);
      if (!ix.SearchKey(live.data())) Fail(ErrorCode::kKeyNotFound, {}, "Sys Deleted");
    }
    // The BLOB values are loaded before anything changes: a chain that does
    // not load (or too many open values) refuses the delete.
    if (blobs != nullptr) {
      for (int i = 1; i <= FieldCount(); ++i) {
        const TFieldDescriptor& f = stored_[i - 1];
        if (f.Type() != FieldType::kBlob) continue;
        const auto v = LoadLittle<std::int32_t>(scratch.data() + f.Offset + 1);
        if (v <= 0) continue;
        std::int32_t h = 0;
        const std::uint16_t rc =
            blobs->OpenBlob(static_cast<std::uint32_t>(v), static_cast<std::uint16_t>(i), h, n);
        if (rc != 0) EngineError(rc, FileName(), f.Name.View());
        handles.push_back(h);
      }
    }
    for (const auto& [i, k] : keys) {
      ix.SelectIndex(i);
      ix.DeleteKey(k.data());
    }
    if (TableHasPrimaryKey()) {
      ix.SelectIndex(kSysDeletedSlot);
      ix.ReplaceKey(live.data(), dead.data(), n);
    }
    ix.DecrementRecordCount();
    for (std::int32_t h : handles) {
      // The owner is set before the chain goes to the free list.
      if (const std::uint16_t rc = blobs->TruncateBlob(h, 0); rc != 0) EngineError(rc, FileName());
      blobs->SaveForRecord(h, n);
    }
    for (int i = 1; i <= FieldCount(); ++i) {
      const TFieldDescriptor& f = stored_[i - 1];
      if (f.Type() != FieldType::kBlob) continue;
      std::byte* p = cur->Data().data() + f.Offset;
      p[0] = std::byte{0};
      StoreLittle<std::uint32_t>(p + 1, 0);
    }
    MarkRecordDeleted(cur);
    FlushAfterWrite(cur);
    undo.Commit();
    NoteRecordDeleted(n);
    record_lost_ = between_ = false;
  } catch (...) {
    error = std::current_exception();
  }
  if (blobs != nullptr) {
    // Values opened here only to free their chains; each handle is open.
    for (std::int32_t h : handles) static_cast<void>(blobs->CloseBlob(h, nullptr));
  }
  KeepFirstError(error, [&] { RepositionAfterWrite(saved); });
  if (held) KeepFirstError(error, [&] { UnlockRecord(n); });
  if (error) std::rethrow_exception(error);
  section.Release();
  early.Release();
}

}  // namespace storage
