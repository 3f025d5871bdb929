// TDataFile as a cursor: choosing the index, moving, counting, positions,
// key searches, ranges, bookmarks and repositioning after changes.
//
// Index order is the index file's cursor (index_cursor.cpp). Natural order
// (no index, or index 0 of a table without primary key) is walked here, by
// physical record number over the records that are not deleted:
//   natural_record_  the record stood on (0: none)
//   natural_bof_/natural_eof_  before the first / after the last record;
//                    both set: the view is empty.
// As in index order, a step off either end leaves the cursor on the record
// it had and sets the flag.
//
// Between records (data_file.h, cursor section): between_ with the place a
// record left, between_key_ in index order and between_record_ in natural
// order. The cursor itself stands on a record (the nearest one after the
// place, or the record followed to its new key); the next read, forward
// or backward, goes from the place instead (StepFromBetween) and ends the
// state, as every move, search, index switch and write of this cursor do.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/text.h"
#include "storage/data_file.h"
#include "storage/filter_engine.h"
#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/lock_guards.h"
#include "storage/session.h"

namespace storage {
namespace {

using Key = std::array<std::uint8_t, kKeyBufferSize>;

}  // namespace

// ------------------------------------------------------------------ index choice

bool TDataFile::InNaturalOrder() const {
  const int slot = index_file_->CurrentIndex();
  return slot == kNoIndex || (slot == 0 && index_file_->NoPrimaryKey());
}

int TDataFile::CurrentIndexNumber() const { return index_file_->CurrentIndex(); }

std::string TDataFile::GetCurrentIndexName() const {
  const int slot = index_file_->CurrentIndex();
  if (slot == kNoIndex) return {};
  return index_file_->GetDescriptorCopy(slot).NameText();
}

std::uint16_t TDataFile::CurrentKeySize() const { return index_file_->KeySize(); }

int TDataFile::CurrentIndexFieldCount() const {
  const int slot = index_file_->CurrentIndex();
  return slot == kNoIndex ? 0 : index_file_->GetDescriptorCopy(slot).FieldCount;
}

bool TDataFile::IsCurrentIndexUnique() const {
  const int slot = index_file_->CurrentIndex();
  if (slot == kNoIndex) return false;
  return slot == 0 ? !index_file_->NoPrimaryKey() : index_file_->GetDescriptorCopy(slot).Unique != 0;
}

int TDataFile::SecondaryIndexCount() const { return index_file_->SecondaryIndexCount(); }

TIndexDescriptor TDataFile::GetIndexDescriptor(int n) const {
  return index_file_->GetDescriptorCopy(n);
}

void TDataFile::SwitchToIndex(std::uint8_t n) {
  if (n == index_file_->CurrentIndex()) return;
  ReadSectionGuard section(*this);
  // A place between records is a key of the index left.
  between_ = false;
  key_range_active_ = false;
  index_file_->ClearRange();
  index_file_->SelectIndex(n);
  index_file_->ClearRange();
  RefreshRangeAndFilters();
  ResyncCursor();
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

void TDataFile::SwitchToIndexByName(std::string_view name) {
  if (platform::AnsiUpperCase(name) == platform::AnsiUpperCase(GetCurrentIndexName()) &&
      index_file_->CurrentIndex() != kNoIndex)
    return;
  ReadSectionGuard section(*this);
  between_ = false;
  key_range_active_ = false;
  index_file_->ClearRange();
  index_file_->SelectIndexByName(name);
  index_file_->ClearRange();
  if (platform::AnsiUpperCase(name) != platform::AnsiUpperCase(GetCurrentIndexName()))
    Fail(ErrorCode::kInvalidIndexName, {}, name);
  RefreshRangeAndFilters();
  ResyncCursor();
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

// ------------------------------------------------------------------ natural order

bool TDataFile::NaturalVisible(std::uint32_t n) {
  if (n == 0 || n >= header_.NextRecord()) return false;
  // A record the filter bitmap leaves out is not read: the test below
  // would answer false for it whatever its status.
  if (FilterBitClear(n)) return false;
  // Under a filter bitmap, records after n are read with it only when the
  // next one is in the bitmap too: a run of records it leaves out would be
  // loaded into the cache for nothing.
  const bool read_ahead = !FilterBitClear(n + 1);
  if (!read_ahead) PrefetchFiltered(n);
  const bool live =
      RecordPin(GetRecordBuffer(n, read_ahead, ReadDirection::kForward, false))->Status() == 0;
  return live && FilterAccepts(n);
}

bool TDataFile::NaturalSeek(std::uint32_t from, bool forward) {
  const std::uint32_t next = header_.NextRecord();
  if (forward) {
    for (std::uint32_t n = std::max<std::uint32_t>(from, 1); n < next; ++n) {
      if (NaturalVisible(n)) {
        natural_record_ = n;
        return true;
      }
    }
  } else {
    for (std::uint32_t n = std::min<std::uint32_t>(from, next - 1); n >= 1; --n) {
      if (NaturalVisible(n)) {
        natural_record_ = n;
        return true;
      }
    }
  }
  return false;
}

void TDataFile::SetNaturalPosition(std::uint32_t n) {
  if (NaturalSeek(n, true) || NaturalSeek(n, false)) {
    natural_bof_ = natural_eof_ = false;
    return;
  }
  natural_record_ = 0;
  natural_bof_ = natural_eof_ = true;
}

// ------------------------------------------------------------------ repositioning

void TDataFile::ResetCursor() {
  record_lost_ = false;
  between_ = false;
  check_key_valid_ = check_followed_ = false;
  SetCurrentRecord(nullptr);
  natural_record_ = 0;
  natural_bof_ = natural_eof_ = true;
  key_range_active_ = false;
}

void TDataFile::LoadCursorRecord(ReadDirection direction) {
  CheckHeaderChanged();
  const bool natural = InNaturalOrder();
  if (natural && natural_record_ >= header_.NextRecord()) {
    // Left from an earlier opening (or the table was emptied): no record.
    natural_record_ = 0;
    natural_bof_ = natural_eof_ = true;
  }
  const std::uint32_t n = natural ? natural_record_ : index_file_->GetCurrentRecordNumber();
  SetCurrentRecord(nullptr);
  if (n == 0) return;
  // An index entry names an existing slot, never the append position.
  if (n >= header_.NextRecord()) Fail(ErrorCode::kCorruptRecords);
  current_ = GetRecordBuffer(n, true, direction, !natural);
}

void TDataFile::CopyOut(std::span<std::byte> buffer) const {
  if (buffer.empty() || current_ == nullptr) return;
  std::memcpy(buffer.data(), current_->Data().data(),
              std::min(buffer.size(), GetRecordBufferSize()));
}

const std::byte* TDataFile::CurrentRecordData() const {
  return current_ != nullptr ? current_->Data().data() : nullptr;
}

void TDataFile::RefreshRangeAndFilters() {
  if (!InNaturalOrder()) index_file_->SetRangeBounds();
  // The filters follow this cursor's own writes record by record
  // (NoteRecordChanged, NoteRecordDeleted) and are rebuilt by each filter
  // operation. Another program's writes are seen only as moved counters:
  // then every bitmap is built again from the files, the data header first
  // (its next record number sizes the bitmaps).
  if (!table_changed_) return;
  CheckHeaderChanged();
  table_changed_ = false;
  if (filters_) Filters().Rebuild();
}

bool TDataFile::CursorBof() const {
  return InNaturalOrder() ? natural_bof_ : index_file_->Bof();
}

bool TDataFile::CursorEof() const {
  return InNaturalOrder() ? natural_eof_ : index_file_->Eof();
}

TDataFile::CursorPlace TDataFile::SaveCursorPlace() {
  CursorPlace place;
  place.bof = CursorBof();
  place.eof = CursorEof();
  if (InNaturalOrder()) {
    place.natural_record = natural_record_;
    place.on_record = natural_record_ != 0;
  } else {
    const auto k = index_file_->CurrentKey();
    place.on_record = !k.empty();
    if (place.on_record) std::memcpy(place.key.data(), k.data(), std::min(k.size(), place.key.size()));
  }
  return place;
}

void TDataFile::RepositionInView(const CursorPlace& place) {
  if (InNaturalOrder()) {
    const std::uint32_t last = header_.NextRecord() - 1;
    natural_record_ = place.natural_record;
    if (!place.on_record) {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    } else if (place.bof) {
      if (NaturalSeek(1, true)) {
        natural_bof_ = true;
        natural_eof_ = false;
      } else {
        natural_record_ = 0;
        natural_bof_ = natural_eof_ = true;
      }
    } else if (place.eof) {
      if (NaturalSeek(last, false)) {
        natural_bof_ = false;
        natural_eof_ = true;
      } else {
        natural_record_ = 0;
        natural_bof_ = natural_eof_ = true;
      }
    } else if (NaturalSeek(natural_record_, true)) {
      natural_bof_ = natural_eof_ = false;
    } else if (NaturalSeek(natural_record_, false)) {
      natural_bof_ = false;
      natural_eof_ = true;
    } else {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    }
  } else {
    TIndexFile& ix = *index_file_;
    if (!place.on_record) {
      // Nowhere before: nowhere now (a read from here starts at the first
      // record).
    } else if (place.bof) {
      if (ix.FirstKey()) ix.MoveBy(-1);
    } else if (place.eof) {
      if (ix.LastKey()) ix.MoveBy(1);
    } else {
      ix.FindKey(place.key.data(), true, false);
    }
  }
  LoadCursorRecord(ReadDirection::kForward);
}

void TDataFile::ResyncCursor() {
  if (InNaturalOrder()) {
    // On the record itself, else the one after it (a deleted record), else
    // the last one with the after-last flag.
    const std::uint32_t n = current_ != nullptr ? current_->RecordNumber() : 1;
    if (NaturalSeek(n, true)) {
      natural_bof_ = natural_eof_ = false;
    } else if (NaturalSeek(n, false)) {
      natural_bof_ = false;
      natural_eof_ = true;
    } else {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    }
    return;
  }
  Key key{};
  if (current_ != nullptr) BuildIndexKey(current_->Data(), key.data());
  index_file_->FindKey(key.data(), true, false);
}

TDataFile::RecordIdentity TDataFile::StoodOn() const {
  if (current_ == nullptr || CursorBof() || CursorEof()) return {};
  return {current_->RecordNumber(), current_->RecordId()};
}

void TDataFile::NoteRecordLeft(const RecordIdentity& before, const std::uint8_t* old_key) {
  if (before.number == 0) return;
  const bool natural = InNaturalOrder();
  bool on_it = false;
  if (!CursorBof() && !CursorEof()) {
    const std::uint32_t n = natural ? natural_record_ : index_file_->GetCurrentRecordNumber();
    if (n == before.number && n < header_.NextRecord()) {
      const RecordPin r(GetRecordBuffer(n, false, ReadDirection::kForward, !natural));
      on_it = r && r->Status() == 0 && r->RecordId() == before.id;
    }
  }
  if (on_it && (natural || !check_followed_)) return;  // in its place
  if (!on_it) record_lost_ = true;
  if (between_ || (!natural && old_key == nullptr)) return;
  StandBetween(old_key, before.number);
}

void TDataFile::StandBetween(const std::uint8_t* key, std::uint32_t record) {
  between_ = true;
  if (InNaturalOrder()) {
    between_record_ = record;
  } else {
    between_key_.fill(0);
    std::memcpy(between_key_.data(), key, std::min<std::size_t>(index_file_->KeySize(), kMaxKeySize));
  }
}

bool TDataFile::StepFromBetween(bool forward) {
  if (InNaturalOrder()) {
    const std::uint32_t last = header_.NextRecord() - 1;
    if (forward ? NaturalSeek(between_record_, true)
                : between_record_ > 1 && NaturalSeek(between_record_ - 1, false)) {
      natural_bof_ = natural_eof_ = false;
      return true;
    }
    // Off that end: on the record at it with the flag, as a move off it.
    if (forward ? NaturalSeek(last, false) : NaturalSeek(1, true)) {
      natural_bof_ = !forward;
      natural_eof_ = forward;
    } else {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    }
    return false;
  }
  TIndexFile& ix = *index_file_;
  const std::uint8_t* place = between_key_.data();
  // The nearest search stands on the first entry of the view at or after
  // the place; past the end of the view (or of its range) it stands on the
  // last entry, which lies before the place.
  ix.FindKey(place, true, false);
  const auto k = ix.CurrentKey();
  const bool at_or_after = !ix.Eof() && !k.empty() && ix.CompareKeys(k.data(), place, ix.KeySize()) >= 0;
  if (forward) {
    if (at_or_after) return true;
    if (ix.LastKey()) ix.MoveBy(1);
    return false;
  }
  return at_or_after ? ix.MoveBy(-1) : ix.LastKey();
}

void TDataFile::IndexChangedByOther() {
  // Another program changed the index: cached records go, and the cursor
  // finds its record again by the key of the record it stood on (its
  // position may have moved).
  std::vector<std::byte> image;
  RecordIdentity stood;
  if (current_ != nullptr) {
    image.assign(current_->Data().begin(), current_->Data().end());
    stood = {current_->RecordNumber(), current_->RecordId()};
  }
  DropAllRecords();
  NoteChangedByOther();
  RefreshRangeAndFilters();
  // Without a record the cursor stays nowhere (the index check emptied it).
  if (InNaturalOrder() || image.empty()) return;
  Key key{};
  BuildIndexKey(image, key.data());
  // The place the record stood at, for the AfterChangeCheck that follows.
  std::memcpy(check_key_.data(), key.data(), check_key_.size());
  check_key_valid_ = true;
  TIndexFile& ix = *index_file_;
  if (ix.FindKey(key.data(), true, false) && ix.GetCurrentRecordNumber() == stood.number) return;
  // Not there by its old key: the record was deleted, or another user
  // gave it a new key. In the second case its slot still holds it (same
  // record ID), and the cursor goes to its new key when the view has it
  // (a walk goes on from the old place all the same, NoteRecordLeft);
  // else it stays on the nearest record, which is not the one it stood
  // on.
  // (An exact search that fails leaves the index cursor where it was.)
  if (stood.number == 0 || stood.number >= header_.NextRecord()) return;
  const RecordPin r(GetRecordBuffer(stood.number, false, ReadDirection::kForward, true));
  if (!r || r->Status() != 0 || r->RecordId() != stood.id) return;
  BuildIndexKey(r->Data(), key.data());
  check_followed_ = ix.FindKey(key.data(), false, false);
}

// ------------------------------------------------------------------ movement

std::uint16_t TDataFile::MoveToBegin() {
  ReadSectionGuard section(*this);
  if (InNaturalOrder()) {
    if (NaturalSeek(1, true)) {
      natural_bof_ = true;
      natural_eof_ = false;
    } else {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    }
  } else if (index_file_->FirstKey()) {
    index_file_->MoveBy(-1);
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
  return 0;
}

std::uint16_t TDataFile::MoveToEnd() {
  ReadSectionGuard section(*this);
  if (InNaturalOrder()) {
    if (NaturalSeek(header_.NextRecord() - 1, false)) {
      natural_eof_ = true;
      natural_bof_ = false;
    } else {
      natural_record_ = 0;
      natural_bof_ = natural_eof_ = true;
    }
  } else if (index_file_->LastKey()) {
    index_file_->MoveBy(1);
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kBackward);
  section.Release();
  return 0;
}

std::uint16_t TDataFile::ReadCurrentRecord(std::span<std::byte> buffer, bool lock) {
  // With the lock: taken (or waited for) before the read section, on the
  // record the cursor stood on; the section then finds out whether another
  // user took that record away meanwhile.
  RecordLockGuard record;
  RecordIdentity want;
  if (lock) {
    CheckNotFailed();
    if (record_lost_) Fail(ErrorCode::kRecordNotFound);
    if (current_ == nullptr) RefreshCurrentRecord();
    want = StoodOn();
    if (want.number != 0) record = RecordLockGuard(*this, want.number);
  }
  ReadSectionGuard section(*this);
  const bool bof = CursorBof();
  const bool eof = CursorEof();
  LoadCursorRecord(ReadDirection::kForward);
  // The section's change check marks the record lost when the cursor no
  // longer stands on the record locked.
  if (want.number != 0 && record_lost_) Fail(ErrorCode::kRecordNotFound);
  std::uint16_t rc = 0;
  if (bof || eof || current_ == nullptr) {
    if (!buffer.empty()) ApplyDefaultValues(buffer);
    rc = Code(bof ? ErrorCode::kBeginningOfFile : ErrorCode::kEndOfFile);
  } else {
    CopyOut(buffer);
    if (!buffer.empty()) record_lost_ = between_ = false;
  }
  section.Release();
  record.Keep();
  return rc;
}

std::uint16_t TDataFile::ReadNextRecord(std::span<std::byte> buffer) {
  if (ReadNextCached(buffer)) return 0;
  ReadSectionGuard section(*this);
  bool ok;
  if (between_) {
    ok = StepFromBetween(true);
  } else if (InNaturalOrder()) {
    ok = natural_bof_ || natural_record_ == 0 ? NaturalSeek(1, true)
                                              : NaturalSeek(natural_record_ + 1, true);
    if (ok) {
      natural_bof_ = natural_eof_ = false;
    } else {
      natural_eof_ = true;
      if (natural_record_ != 0) natural_bof_ = false;
    }
  } else {
    ok = index_file_->Bof() ? index_file_->FirstKey() : index_file_->MoveBy(1);
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kForward);
  std::uint16_t rc = 0;
  if (!ok) {
    if (!buffer.empty()) ApplyDefaultValues(buffer);
    rc = Code(ErrorCode::kEndOfFile);
  } else {
    CopyOut(buffer);
  }
  section.Release();
  return rc;
}

std::uint16_t TDataFile::ReadPriorRecord(std::span<std::byte> buffer) {
  ReadSectionGuard section(*this);
  bool ok;
  if (between_) {
    ok = StepFromBetween(false);
  } else if (InNaturalOrder()) {
    if (natural_eof_ || natural_record_ == 0) {
      ok = NaturalSeek(header_.NextRecord() - 1, false);
    } else {
      ok = natural_record_ > 1 && NaturalSeek(natural_record_ - 1, false);
    }
    if (ok) {
      natural_bof_ = natural_eof_ = false;
    } else {
      natural_bof_ = true;
      if (natural_record_ != 0) natural_eof_ = false;
    }
  } else {
    ok = index_file_->Eof() ? index_file_->LastKey() : index_file_->MoveBy(-1);
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kBackward);
  std::uint16_t rc = 0;
  if (!ok) {
    if (!buffer.empty()) ApplyDefaultValues(buffer);
    rc = Code(ErrorCode::kBeginningOfFile);
  } else {
    CopyOut(buffer);
  }
  section.Release();
  return rc;
}

std::uint32_t TDataFile::GetRecordPosition() {
  if (InNaturalOrder()) return natural_bof_ ? 0 : natural_record_;
  if (index_file_->Bof()) return 0;
  const std::int32_t p = index_file_->GetLogicalPosition();
  return p > 0 ? static_cast<std::uint32_t>(p) : 0;
}

void TDataFile::SetRecordPosition(std::uint32_t n) {
  ReadSectionGuard section(*this);
  if (InNaturalOrder()) {
    SetNaturalPosition(n);
  } else {
    index_file_->SetLogicalPosition(static_cast<std::int32_t>(std::min<std::uint32_t>(n, INT32_MAX)));
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

std::uint32_t TDataFile::RecordCount() {
  ReadSectionGuard section(*this);
  CheckHeaderChanged();
  // With filters active the count is that of the records they let through.
  const std::uint32_t n = FilteredRecordCount();
  section.Release();
  return n;
}

std::uint32_t TDataFile::PhysicalRecordCount() const { return header_.NextRecord() - 1; }

// ------------------------------------------------------------------ search

bool TDataFile::GotoKey(bool key_given, const void* value, int field_count, bool nearest,
                        std::uint8_t partial_length, std::span<std::byte> out) {
  if (value == nullptr) return false;
  ReadSectionGuard section(*this);
  TIndexFile& ix = *index_file_;
  bool found = false;
  if (!InNaturalOrder()) {
    const std::size_t key_size = std::min<std::size_t>(ix.KeySize(), kMaxKeySize);
    Key key{};
    if (key_given) {
      std::memcpy(key.data(), value, key_size);
    } else {
      BuildIndexKey({static_cast<const std::byte*>(value), GetRecordBufferSize()}, key.data());
    }
    const int slot = ix.CurrentIndex();
    const TIndexDescriptor d = ix.GetDescriptorCopy(slot);
    const bool unique = slot == 0 || d.Unique != 0;
    bool landed = true;  // a nearest search moves the cursor in any case
    if ((field_count < 1 || field_count >= d.FieldCount) && unique &&
        (field_count != 0 || partial_length == 0)) {
      found = ix.FindKey(key.data(), nearest, false);
      landed = nearest || found;
    } else {
      if (!unique && field_count == 0 && partial_length == 0) field_count = d.FieldCount;
      std::size_t prefix = 0;
      for (int i = 0; i < field_count && i < d.FieldCount && i < kMaxKeyFields; ++i)
        prefix += GetFieldDescriptor(false, d.FieldNumbers[i]).PhysicalSize + 1u;
      if (partial_length != 0) prefix += partial_length + 1u;
      prefix = std::min(prefix, key_size);
      if (d.Descending != 0) {
        FillKeyHigh(key.data(), prefix, key_size);
      } else {
        FillKeyLow(key.data(), prefix, key_size);
      }
      ix.FindKey(key.data(), true, false);
      if (!ix.Eof()) {
        const auto cur = ix.CurrentKey();
        found = !cur.empty() && ix.CompareKeys(cur.data(), key.data(), prefix) == 0;
      }
    }
    // A search that ran past the last record stands on the last one; an
    // exact search that failed leaves the cursor as it was.
    if (landed && ix.Eof()) ix.LastKey();
  }
  record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kForward);
  CopyOut(out);
  section.Release();
  return found;
}

bool TDataFile::GotoExactKey(std::span<const std::byte> record, std::span<std::byte> out) {
  CheckRecordSpan(record);
  ReadSectionGuard section(*this);
  bool found = false;
  if (!InNaturalOrder()) {
    TIndexFile& ix = *index_file_;
    Key key{};
    BuildIndexKey(record, key.data());
    const int slot = ix.CurrentIndex();
    std::size_t n = ix.KeySize();
    if (slot != 0 && ix.GetDescriptorCopy(slot).Unique == 0 && n >= 4) n -= 4;
    found = ix.FindKeyPrefix(key.data(), n);
  }
  if (found) record_lost_ = between_ = false;
  LoadCursorRecord(ReadDirection::kForward);
  if (found) CopyOut(out);
  section.Release();
  return found;
}

std::uint16_t TDataFile::SyncToCursor(TDataFile& other) {
  ReadSectionGuard section(*this);
  bool found;
  Key key{};
  const std::uint32_t n = other.current_ != nullptr ? other.current_->RecordNumber() : 0;
  if (InNaturalOrder()) {
    found = NaturalVisible(n);
    if (found) {
      natural_record_ = n;
      natural_bof_ = natural_eof_ = false;
    }
  } else {
    if (other.current_ != nullptr) BuildIndexKey(other.current_->Data(), key.data());
    found = index_file_->FindKey(key.data(), false, false);
  }
  // Not found: the cursor is not on the record asked for, and a walk goes
  // on from that record's place (when there was one).
  record_lost_ = !found;
  between_ = false;
  if (!found && other.current_ != nullptr) StandBetween(key.data(), n);
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
  return found ? 0 : Code(ErrorCode::kRecordNotFound);
}

// ------------------------------------------------------------------ ranges

void TDataFile::SetKeyRange(bool key_given, const void* start, int start_field_count,
                            const void* end, int end_field_count) {
  ReadSectionGuard section(*this);
  TIndexFile& ix = *index_file_;
  if (!InNaturalOrder()) {
    const int slot = ix.CurrentIndex();
    const TIndexDescriptor d = ix.GetDescriptorCopy(slot);
    const std::size_t key_size = std::min<std::size_t>(ix.KeySize(), kMaxKeySize);
    const bool non_unique_secondary = slot != 0 && d.Unique == 0;
    const bool descending = d.Descending != 0;
    auto make = [&](const void* value, int count, bool is_end, Key& key) {
      key.fill(0);
      if (value == nullptr) return;
      if (key_given) {
        std::memcpy(key.data(), value, key_size);
      } else {
        BuildIndexKey({static_cast<const std::byte*>(value), GetRecordBufferSize()}, key.data());
      }
      if (!((count > 0 && count < d.FieldCount) || non_unique_secondary)) return;
      if (count == 0) count = d.FieldCount;
      std::size_t prefix = 0;
      for (int i = 0; i < count && i < d.FieldCount && i < kMaxKeyFields; ++i)
        prefix += GetFieldDescriptor(false, d.FieldNumbers[i]).PhysicalSize + 1u;
      prefix = std::min(prefix, key_size);
      if (is_end != descending) {
        FillKeyHigh(key.data(), prefix, key_size);
      } else {
        FillKeyLow(key.data(), prefix, key_size);
      }
    };
    Key low{}, high{};
    make(start, start_field_count, false, low);
    make(end, end_field_count, true, high);
    ix.SetRangeStart(low.data());
    ix.SetRangeEnd(high.data());
    ix.ActivateRange();
    key_range_active_ = true;
    range_low_.assign(low.begin(), low.begin() + static_cast<std::ptrdiff_t>(key_size));
    range_high_.assign(high.begin(), high.begin() + static_cast<std::ptrdiff_t>(key_size));
  }
  RefreshRangeAndFilters();
  ResyncCursor();
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

void TDataFile::ClearKeyRange() {
  ReadSectionGuard section(*this);
  index_file_->ClearRange();
  key_range_active_ = false;
  RefreshRangeAndFilters();
  ResyncCursor();
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

// ------------------------------------------------------------------ bookmarks

std::uint16_t TDataFile::GetBookmarkSize() const {
  return InNaturalOrder() ? std::uint16_t{4} : CurrentKeySize();
}

void TDataFile::GetBookmark(std::span<std::uint8_t> bookmark) {
  std::fill(bookmark.begin(), bookmark.end(), std::uint8_t{0});
  if (InNaturalOrder()) {
    if (bookmark.size() >= 4 && current_ != nullptr)
      StoreLittle<std::uint32_t>(bookmark.data(), current_->RecordNumber());
    return;
  }
  const auto key = index_file_->CurrentKey();
  std::memcpy(bookmark.data(), key.data(), std::min(bookmark.size(), key.size()));
}

void TDataFile::GotoBookmark(std::span<const std::uint8_t> bookmark) {
  ReadSectionGuard section(*this);
  // A bookmark names a record: when it is not there the cursor stands on
  // the nearest one, which is not the record asked for, and a walk goes on
  // from the bookmark's place.
  bool found;
  Key key{};
  const std::uint32_t n = bookmark.size() >= 4 ? LoadLittle<std::uint32_t>(bookmark.data()) : 0;
  if (InNaturalOrder()) {
    SetNaturalPosition(n);
    found = n != 0 && natural_record_ == n && !natural_bof_ && !natural_eof_;
  } else {
    std::memcpy(key.data(), bookmark.data(), std::min<std::size_t>(bookmark.size(), kMaxKeySize));
    found = index_file_->FindKey(key.data(), true, false);
    // A bookmark past every key (one taken on another index) goes to the
    // last record, as a key search does, not after it.
    if (index_file_->Eof()) index_file_->LastKey();
  }
  record_lost_ = !found;
  between_ = false;
  if (!found) StandBetween(key.data(), n);
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

bool TDataFile::GotoBookmarkedRecord(std::span<const std::uint8_t> bookmark,
                                     std::uint32_t record_number, std::uint32_t record_id) {
  ReadSectionGuard section(*this);
  auto on_record = [&] {
    return current_ != nullptr && !CursorBof() && !CursorEof() &&
           current_->RecordNumber() == record_number && current_->RecordId() == record_id &&
           current_->Status() == 0;
  };
  GotoBookmark(bookmark);
  bool found = on_record();
  bool followed = false;
  if (!found && !InNaturalOrder() && record_number != 0 && record_number < header_.NextRecord()) {
    // Not at the bookmark's key: another user may have given the record a
    // new key (its slot holds it still, under its own record ID), or
    // deleted it (the slot holds nothing, or a record inserted since).
    Key key{};
    bool live = false;
    {
      const RecordPin r(GetRecordBuffer(record_number, false, ReadDirection::kForward, true));
      live = r && r->Status() == 0 && r->RecordId() == record_id;
      if (live) BuildIndexKey(r->Data(), key.data());
    }
    // An exact search that fails leaves the cursor where it was.
    if (live && index_file_->FindKey(key.data(), false, false)) {
      LoadCursorRecord(ReadDirection::kForward);
      found = followed = on_record();
    }
  }
  // Missed (also where another record now has the bookmark's key or slot),
  // or followed to a new key: a walk goes on from the bookmark's place.
  record_lost_ = !found;
  between_ = false;
  if (!found || followed) {
    Key place{};
    std::memcpy(place.data(), bookmark.data(), std::min<std::size_t>(bookmark.size(), kMaxKeySize));
    StandBetween(place.data(), bookmark.size() >= 4 ? LoadLittle<std::uint32_t>(bookmark.data()) : 0);
  }
  section.Release();
  return found;
}

int TDataFile::CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                int* result) {
  int c = 0;
  if (InNaturalOrder()) {
    // Natural order: by physical record number.
    const std::uint32_t x = a.size() >= 4 ? LoadLittle<std::uint32_t>(a.data()) : 0;
    const std::uint32_t y = b.size() >= 4 ? LoadLittle<std::uint32_t>(b.data()) : 0;
    c = x < y ? -1 : (x > y ? 1 : 0);
  } else {
    Key ka{}, kb{};
    std::memcpy(ka.data(), a.data(), std::min<std::size_t>(a.size(), kMaxKeySize));
    std::memcpy(kb.data(), b.data(), std::min<std::size_t>(b.size(), kMaxKeySize));
    c = index_file_->CompareKeys(ka.data(), kb.data(), index_file_->KeySize());
  }
  if (result != nullptr) *result = c;
  return c;
}

// ------------------------------------------------------------------ cloning

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
  if (Exclusive()) Fail(ErrorCode::kAccessDenied);
  ReadSectionGuard section(*this);
  auto clone = std::make_unique<TDataFile>(Owner());
  // The clone opens with this table's password, lent to the session for
  // the time of the open when the session lacks it.
  SessionPassword password;
  password.AddIfMissing(GetTablePassword());
  clone->SetInMemory(InMemory());
  clone->SetFileName(FileName());
  clone->SetExclusive(false);
  clone->SetReadOnly(ReadOnly());
  clone->Open();
  clone->SetWorkingFieldDefs(std::span<const TFieldDescriptor>(working_.data(),
                                                               static_cast<std::size_t>(working_count_)));
  if (index_file_->CurrentIndex() == kNoIndex) {
    clone->SwitchToIndex(kNoIndex);
  } else if (index_file_->CurrentIndex() != 0) {
    clone->SwitchToIndexByName(GetCurrentIndexName());
  }
  if (key_range_active_ && !InNaturalOrder())
    clone->SetKeyRange(true, range_low_.data(), 0, range_high_.data(), 0);
  CopyFiltersTo(*clone);
  // A record the clone cannot see (8710) leaves it where the search ended,
  // as on a record deleted under a cursor.
  static_cast<void>(clone->SyncToCursor(*this));
  section.Release();
  return clone;
}

}  // namespace storage
