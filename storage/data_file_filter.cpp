// TDataFile: filters, the flush to disk and the password request.
//
// The filters of a table live in a FilterEngine (filter_engine.h) made on
// first use; the table is its FilterSource. Every filter operation runs in
// a read section: the index file's operation, then (when it succeeded) the
// bitmaps, then the current record is found again.
#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/sysutils.h"
#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/data_file_scan.h"
#include "storage/filter_engine.h"
#include "storage/index_file.h"
#include "storage/lock_guards.h"
#include "storage/session.h"

namespace storage {

// The table as the filters see it.
class DataFileFilterSource : public FilterSource {
 public:
  explicit DataFileFilterSource(TDataFile& table) : t_(table) {}

  std::string DataFileName() const override { return t_.DataFileName(); }

  std::optional<FilterField> FindFilterField(std::string_view name) const override {
    for (int n = 1; n <= t_.WorkingFieldCount(); ++n) {
      const TFieldDescriptor& d = t_.GetFieldDescriptor(true, n);
      if (fw::AnsiSameText(d.Name.View(), name)) {
        return FilterField{static_cast<std::uint16_t>(n), d.Type(), d.PhysicalSize};
      }
    }
    return std::nullopt;
  }

  FieldSlot FilterFieldSlot(std::uint16_t n) const override {
    if (n < 1 || n > t_.WorkingFieldCount()) return FieldSlot{};
    return t_.GetFieldDescriptor(true, n).Slot();
  }

  std::uint8_t FilterLanguage() const override {
    return static_cast<std::uint8_t>(t_.LocaleLanguage() & 0xFF);
  }
  std::uint8_t FilterSort() const override {
    return static_cast<std::uint8_t>(t_.LocaleSortId() & 0xFF);
  }

  std::uint32_t RecordSlots() override {
    const std::uint32_t next = t_.Header().NextRecord();
    return next > 0 ? next - 1 : 0;
  }

  // From the status bytes, read in blocks; through "Sys Deleted" only
  // where the blocks cannot be read past the record cache.
  void LiveRecords(RecordBitmap& bitmap) override {
    bitmap.ClearAll();
    const std::uint32_t slots = std::min(RecordSlots(), bitmap.Slots());
    if (t_.ScanStoredRecords(nullptr, slots, [&](std::uint32_t r, std::span<const std::byte>) {
          bitmap.Set(r);
          return true;
        }))
      return;
    if (LiveFromDeletedIndex(bitmap)) return;
    ForEachRecord(nullptr, [&](std::uint32_t r, std::span<const std::byte>) { bitmap.Set(r); });
  }

  void ForEachRecord(
      const RecordBitmap* only,
      const std::function<void(std::uint32_t, std::span<const std::byte>)>& visit) override {
    const std::uint32_t slots = std::min(RecordSlots(), only ? only->Slots() : RecordSlots());
    if (t_.ScanStoredRecords(only, slots, [&](std::uint32_t r, std::span<const std::byte> data) {
          visit(r, data);
          return true;
        }))
      return;
    for (std::uint32_t r = only ? only->NextSet(0) : 1; r >= 1 && r <= slots;
         r = only ? only->NextSet(r) : r + 1) {
      const RecordPin rec(t_.GetRecordBuffer(r, true, ReadDirection::kForward, false));
      if (rec->Status() != 0) continue;  // deleted
      visit(r, rec->Data());
    }
  }

  std::vector<std::byte> ReadRecordCopy(std::uint32_t r) override {
    if (r < 1 || r > RecordSlots()) return {};
    const RecordPin rec(t_.GetRecordBuffer(r, false, ReadDirection::kForward, false));
    if (rec->Status() != 0) return {};
    auto data = rec->Data();
    return std::vector<std::byte>(data.begin(), data.end());
  }

  IndexStore* FilterIndex() override {
    return t_.IndexFile().IsOpen() ? static_cast<IndexStore*>(&t_.IndexFile()) : nullptr;
  }

 private:
  // The live records from the keys of "Sys Deleted" with status 0, when
  // the table keeps that index (tables with a primary key) and its live
  // keys account for every record the index file counts; false otherwise
  // (the caller reads the status bytes instead).
  bool LiveFromDeletedIndex(RecordBitmap& bitmap) {
    IndexStore* store = FilterIndex();
    if (store == nullptr || store->NoPrimaryKey()) return false;
    const TIndexDescriptor d = store->GetDescriptorCopy(kSysDeletedSlot);
    if (d.KeySize < 5 || d.KeySize > kMaxKeySize) return false;
    const int previous = store->CurrentIndex();
    const std::int32_t position = previous == kNoIndex ? 0 : store->GetLogicalPosition();
    bool ok = false;
    try {
      store->SelectIndex(kSysDeletedSlot);
      std::vector<std::uint8_t> low(d.KeySize, 0x00), high(d.KeySize, 0xFF);
      high[0] = 0x00;
      SetBitsForKeyRange(*store, low.data(), high.data(), bitmap);
      ok = bitmap.Count() == store->RecordCount();
    } catch (...) {
      store->SelectIndex(previous);
      throw;
    }
    store->SelectIndex(previous);
    if (position > 0) store->SetLogicalPositionUnfiltered(position);
    if (!ok) bitmap.ClearAll();
    return ok;
  }

  TDataFile& t_;
};

struct TDataFile::FilterState {
  explicit FilterState(TDataFile& t) : owner(t), source(t), engine(source) {}
  TDataFile& owner;
  DataFileFilterSource source;
  FilterEngine engine;
};

// The index file outlives the filters (it is declared first): its cursor
// must not keep asking an engine that is gone.
void TDataFile::FilterStateDeleter::operator()(FilterState* s) const {
  if (s == nullptr) return;
  if (s->owner.index_file_) s->owner.index_file_->SetRecordFilter(nullptr);
  delete s;
}

FilterEngine& TDataFile::Filters() {
  if (!filters_) {
    filters_.reset(new FilterState(*this));
    index_file_->SetRecordFilter(&filters_->engine);
  }
  return filters_->engine;
}

// After the bitmaps, the cursor is placed in the new view: before the first
// or after the last record when it stood there, else on the record it
// stood on, or the nearest one the view still shows; with no record at all
// on the first record of the view. The current record is reloaded, so it is
// always the one the cursor stands on (none when the view is empty).
ErrorCode TDataFile::RunFilterOperation(const std::function<ErrorCode(FilterEngine&)>& op,
                                        bool build, std::int32_t handle) {
  FilterEngine& engine = Filters();
  ReadSectionGuard section(*this);
  CheckHeaderChanged();
  const CursorPlace place = SaveCursorPlace();
  const ErrorCode code = op(engine);
  if (code != ErrorCode::kNone) return code;
  if (build) {
    const ErrorCode built = engine.BuildFilterBitmap(handle);
    if (built != ErrorCode::kNone) return built;
  }
  engine.BuildResultBitmap();
  if (!IsOpen()) return ErrorCode::kNone;
  if (place.on_record) {
    RepositionInView(place);
  } else {
    SetCurrentRecord(nullptr);
    ResyncCursor();
    LoadCursorRecord(ReadDirection::kForward);
  }
  return ErrorCode::kNone;
}

void TDataFile::CheckFilterLimit() {
  if (Filters().Registry().FilterCount() >= FilterEngine::kMaxExpressionFilters)
    Fail(ErrorCode::kTooManyFilters);
}

ErrorCode TDataFile::AddFilter(std::span<const std::byte> buffer, bool option,
                               std::int32_t& handle) {
  CheckFilterLimit();
  return Filters().Registry().AddFilter(option, buffer, handle);
}

ErrorCode TDataFile::AddFilter(ExpressionPtr tree, bool option, std::int32_t& handle) {
  CheckFilterLimit();
  return Filters().Registry().AddFilter(option, std::move(tree), handle);
}

ErrorCode TDataFile::AddFilter(TExpressionNode* lent_tree, bool option, std::int32_t& handle) {
  CheckFilterLimit();
  return Filters().Registry().AddFilter(option, lent_tree, handle);
}

ErrorCode TDataFile::AddCallbackFilter(FilterRoutine routine, void* client_data,
                                       std::int32_t& handle) {
  return Filters().Registry().AddCallbackFilter(routine, client_data, handle);
}

ErrorCode TDataFile::DropFilter(std::int32_t handle) {
  return RunFilterOperation([&](FilterEngine& e) { return e.DropFilter(handle); }, false, handle);
}

ErrorCode TDataFile::ActivateFilter(std::int32_t handle) {
  return RunFilterOperation([&](FilterEngine& e) { return e.ActivateFilter(handle); }, true,
                            handle);
}

ErrorCode TDataFile::DeactivateFilter(std::int32_t handle) {
  return RunFilterOperation([&](FilterEngine& e) { return e.DeactivateFilter(handle); }, false,
                            handle);
}

ErrorCode TDataFile::UpdateFilter(std::span<const std::byte> buffer, std::int32_t handle) {
  return RunFilterOperation(
      [&](FilterEngine& e) { return e.Registry().UpdateFilter(buffer, handle); }, true, handle);
}

ErrorCode TDataFile::UpdateFilter(ExpressionPtr tree, std::int32_t handle) {
  return RunFilterOperation(
      [&](FilterEngine& e) { return e.Registry().UpdateFilter(std::move(tree), handle); }, true,
      handle);
}

ErrorCode TDataFile::UpdateFilter(TExpressionNode* lent_tree, std::int32_t handle) {
  return RunFilterOperation(
      [&](FilterEngine& e) { return e.Registry().UpdateFilter(lent_tree, handle); }, true,
      handle);
}

std::uint32_t TDataFile::FilteredRecordCount() {
  if (!filters_) return index_file_->RangeCount();
  FilterEngine& engine = filters_->engine;
  const bool bitmap = engine.BitmapMode();
  const bool callback = engine.CallbackActive();
  if (!bitmap && !callback) return index_file_->RangeCount();
  const bool range = key_range_active_ && !InNaturalOrder();
  // The result bitmap is the live records that pass every active
  // expression filter: exactly the view when nothing else narrows it.
  if (bitmap && !callback && !range) return engine.ViewCount();
  if (!InNaturalOrder()) return index_file_->PassingCount();
  std::uint32_t n = 0;
  for (std::uint32_t r = 1; r < header_.NextRecord(); ++r) {
    if (NaturalVisible(r)) ++n;
  }
  return n;
}

std::optional<std::uint32_t> TDataFile::ViewPlace() {
  if (!filters_ || !filters_->engine.BitmapMode() || filters_->engine.CallbackActive())
    return std::nullopt;
  ReadSectionGuard section(*this);
  CheckHeaderChanged();
  std::optional<std::uint32_t> place = 0;
  if (InNaturalOrder()) {
    const std::uint32_t n = natural_record_;
    FilterEngine& engine = filters_->engine;
    if (!natural_bof_ && n != 0 && engine.Accept(n)) place = engine.Result().CountUpTo(n);
  } else {
    place = index_file_->PassingRank();
    if (place && index_file_->Bof()) place = 0;
  }
  section.Release();
  return place;
}

bool TDataFile::SetViewPlace(std::uint32_t n) {
  if (!filters_ || !filters_->engine.BitmapMode() || filters_->engine.CallbackActive())
    return false;
  ReadSectionGuard section(*this);
  CheckHeaderChanged();
  // n within 1 .. count; 0 (no record) for an empty view.
  const auto place = [n](std::uint32_t count) { return std::min(std::max(n, 1u), count); };
  bool answered = true;
  if (InNaturalOrder()) {
    const RecordBitmap& result = filters_->engine.Result();
    const std::uint32_t r = result.Select(place(result.Count()));
    natural_record_ = r;
    natural_bof_ = natural_eof_ = r == 0;
  } else {
    // Without a range the view's size is the result bitmap's count: no
    // walk of the index for it.
    const std::uint32_t count =
        key_range_active_ ? index_file_->PassingCount() : filters_->engine.ViewCount();
    answered = index_file_->SeekPassingRank(place(count));
  }
  if (answered) {
    record_lost_ = between_ = false;  // a move like any other
    LoadCursorRecord(ReadDirection::kForward);
  }
  section.Release();
  return answered;
}

void TDataFile::CopyFiltersTo(TDataFile& clone) {
  if (!filters_) return;
  const FilterRegistry& registry = filters_->engine.Registry();
  for (std::size_t i = 0; i < registry.FilterCount(); ++i) {
    const TFilter& f = registry.FilterAt(i);
    std::int32_t handle = 0;
    CheckEngineResult(static_cast<std::int32_t>(
        clone.AddFilter(CopyExpression(f.Tree()), f.Option(), handle)));
    if (f.Active()) CheckEngineResult(static_cast<std::int32_t>(clone.ActivateFilter(handle)));
  }
  for (std::size_t i = 0; i < registry.CallbackFilterCount(); ++i) {
    const TCallbackFilter& f = registry.CallbackFilterAt(i);
    std::int32_t handle = 0;
    CheckEngineResult(static_cast<std::int32_t>(
        clone.AddCallbackFilter(f.Routine(), f.ClientData(), handle)));
    if (f.Active()) CheckEngineResult(static_cast<std::int32_t>(clone.ActivateFilter(handle)));
  }
}

bool TDataFile::FilterBitClear(std::uint32_t record_number) const {
  if (!filters_) return false;
  const FilterEngine& e = filters_->engine;
  return record_number <= e.Result().Slots() && !e.TestBit(record_number);
}

bool TDataFile::FilterAccepts(std::uint32_t record_number) {
  if (!filters_) return true;
  return filters_->engine.Accept(record_number);
}

void TDataFile::ResetFilters() {
  if (filters_) filters_->engine.Reset();
}

void TDataFile::NoteRecordChanged(std::uint32_t record_number) {
  if (filters_) filters_->engine.RecordChanged(record_number);
}

void TDataFile::NoteRecordDeleted(std::uint32_t record_number) {
  if (filters_) filters_->engine.RecordDeleted(record_number);
}

// ------------------------------------------------------------------ flush

void TDataFile::FlushToDisk() {
  if (!IsOpen() || ReadOnly()) return;
  // The operating system can only write what the files hold: records and
  // pages still in the caches go there first, so that after this call the
  // files are the whole table.
  // Records held by the cursor (in use) are written too: outside a write
  // nothing is half-changed, and the use counts are given back after.
  std::vector<std::pair<TRecord*, std::uint16_t>> held;
  for (TRecord* r : cache_.All()) {
    if (r->InUse()) held.emplace_back(r, r->UseCount());
  }
  struct Restore {
    std::vector<std::pair<TRecord*, std::uint16_t>>& held;
    ~Restore() {
      for (auto& [r, uses] : held) {
        r->ClearUses();
        for (std::uint16_t i = 0; i < uses; ++i) r->AddUse();
      }
    }
  } restore{held};
  for (auto& [r, uses] : held) r->ClearUses();
  FlushTable(false);
  Flush();
  if (index_file_->IsOpen()) index_file_->Flush();
  if (header_.BlobCount() > 0 && BlobFileOpen()) BlobFile().Flush();
}

// ------------------------------------------------------------------ passwords

void TDataFile::RequestTablePassword(std::string_view password) {
  // The callback says "try again" after adding a password to the session.
  // One that says so without adding anything would be asked for ever: it
  // gets 10498 at once, and every callback gets it after
  // kMaxPasswordRequests answers.
  for (int asked = 0; !CurrentSession()->HasPassword(password); ++asked) {
    if (asked >= kMaxPasswordRequests) Fail(ErrorCode::kPasswordRequired);
    const std::size_t before = CurrentSession()->Passwords().Count();
    if (!RequestPassword()) Fail(ErrorCode::kPasswordRequired);
    TFileSession* s = CurrentSession();
    if (!s->HasPassword(password) && s->Passwords().Count() <= before)
      Fail(ErrorCode::kPasswordRequired);
  }
}

}  // namespace storage
