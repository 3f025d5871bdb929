// IndexStore: header, index definitions and the page cache.
#include <algorithm>
#include <utility>

#include "platform/text.h"
#include "storage/fault_injection.h"
#include "storage/index_store.h"
#include "storage/table_names.h"

namespace storage {

std::uint16_t ValidateIndexHeader(const IndexHeader& h, std::uint64_t file_size) {
  if (h.Version() != kIndexVersion) return Code(ErrorCode::kWrongVersion);
  const std::uint32_t end = h.EndOffset();
  // Offsets are kept in 32 bits and read through a signed 32-bit count.
  // Pages are written before the header that counts them, so the end
  // offset never lies beyond the file.
  if (end < kIndexBlockSize || end % kIndexBlockSize != 0 || end > 0x7FFFF000u ||
      end > file_size)
    return Code(ErrorCode::kCorruptIndex);
  if (h.SecondaryCount() > kMaxSecondaryIndexes) return Code(ErrorCode::kCorruptIndex);
  // Slot 0 before the primary index is defined (or without one) must not
  // hold pages.
  if (!SlotInUse(h, 0) && (h.Root(0) != 0 || h.FreeHead(0) != 0)) return Code(ErrorCode::kCorruptIndex);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    if (!SlotInUse(h, slot)) continue;
    TIndexDescriptor d = h.Descriptor(slot);
    if (d.KeySize == 0 || d.KeySize > kMaxKeySize || d.NameLength > 30)
      return Code(ErrorCode::kCorruptIndex);
    if (slot == kSysDeletedSlot) {
      if (d.KeySize != kSysDeletedKeySize || d.Compressed != 0) return Code(ErrorCode::kCorruptIndex);
    } else if (d.FieldCount < 1 || d.FieldCount > kMaxKeyFields) {
      return Code(ErrorCode::kCorruptIndex);
    }
    for (std::uint32_t link : {d.RootPage, d.FreePageHead}) {
      if (link != 0 && (link % kIndexBlockSize != 0 || link >= end))
        return Code(ErrorCode::kCorruptIndex);
    }
  }
  return 0;
}

void CheckIndexDefinitions(const IndexFileOwner& owner, const IndexDefinition* primary,
                           std::span<const IndexDefinition> secondary) {
  const std::string table = owner.DataFileName();
  auto check_fields = [&](const IndexDefinition& d, std::string_view name, int extra_fields) {
    if (d.field_numbers.size() + extra_fields > static_cast<std::size_t>(kMaxKeyFields))
      EngineError(ErrorCode::kIndexLimits, table, {}, name);
    for (std::uint16_t n : d.field_numbers) {
      IndexFieldInfo info;
      if (!owner.KeyFieldInfo(n, info)) EngineError(ErrorCode::kInvalidIndexField, table, {}, name);
      if (info.type == FieldType::kBlob)
        EngineError(ErrorCode::kInvalidIndexFieldType, table, {}, name);
    }
    if (d.key_size == 0 || d.key_size > kMaxKeySize)
      EngineError(ErrorCode::kInvalidKeySize, table, {}, name);
  };
  int primary_fields = 0;
  if (primary && !primary->field_numbers.empty()) {
    check_fields(*primary, "Primary", 0);
    primary_fields = static_cast<int>(primary->field_numbers.size());
  }
  if (secondary.size() > static_cast<std::size_t>(kMaxSecondaryIndexes))
    EngineError(ErrorCode::kIndexLimits, table, {}, secondary[kMaxSecondaryIndexes].name);
  std::vector<std::string> seen;
  for (const IndexDefinition& d : secondary) {
    if (d.field_numbers.empty()) EngineError(ErrorCode::kIndexLimits, table, {}, d.name);
    const std::string trimmed(TrimBlanks(d.name));
    if (trimmed.empty()) EngineError(ErrorCode::kIndexNameMissing, table, {}, d.name);
    if (!platform::IsCharAlphaA(static_cast<unsigned char>(d.name[0])))
      EngineError(ErrorCode::kInvalidIndexName, table, {}, d.name);
    std::string upper = platform::AnsiUpperCase(trimmed.substr(0, 30));
    if (std::find(seen.begin(), seen.end(), upper) != seen.end())
      EngineError(ErrorCode::kIndexExists, table, {}, d.name);
    seen.push_back(upper);
    check_fields(d, d.name, primary_fields);
  }
}

IndexStore::IndexStore(IndexFileOwner* owner) : owner_(owner) {}

IndexStore::~IndexStore() = default;

void IndexStore::Corrupt() const { EngineError(ErrorCode::kCorruptIndex, owner_->DataFileName()); }

void IndexStore::Fail(ErrorCode code, std::string_view index_name) const {
  EngineError(code, owner_->DataFileName(), {}, index_name);
}

// ------------------------------------------------------------------ header

void IndexStore::ReadHeader() {
  IndexHeader h;
  if (ReadBlock(0, h.Data(), kIndexBlockSize) != static_cast<std::int32_t>(kIndexBlockSize))
    Fail(ErrorCode::kHeaderError);
  if (owner_->Scrambled()) owner_->ScrambleBlock({h.Data(), kIndexBlockSize});
  std::uint16_t rc = ValidateIndexHeader(h, StorageSize());
  if (rc != 0) EngineError(rc, owner_->DataFileName());
  header_ = h;
  header_dirty_ = false;
}

void IndexStore::WriteHeader() {
  header_dirty_ = false;
  header_.SetCounter(header_.Counter() + 1);
  if (owner_->Scrambled()) {
    IndexHeader copy = header_;
    owner_->ScrambleBlock({copy.Data(), kIndexBlockSize});
    WriteBlock(0, copy.Data(), kIndexBlockSize);
  } else {
    WriteBlock(0, std::as_const(header_).Data(), kIndexBlockSize);
  }
}

bool IndexStore::CheckIndexHeaderChanged() {
  if (write_lock_held_) return false;
  // The counter alone first (the scrambler rolls from the block's first
  // byte, so four bytes unscramble as the header's first four do); the
  // whole header only when it moved.
  std::uint8_t counter[4];
  if (ReadBlock(0, counter, 4) != 4) Fail(ErrorCode::kHeaderError);
  if (owner_->Scrambled()) owner_->ScrambleBlock({counter, 4});
  if (LoadLittle<std::uint32_t>(counter) == header_.Counter()) return false;
  IndexHeader h;
  if (ReadBlock(0, h.Data(), kIndexBlockSize) != static_cast<std::int32_t>(kIndexBlockSize))
    Fail(ErrorCode::kHeaderError);
  if (owner_->Scrambled()) owner_->ScrambleBlock({h.Data(), kIndexBlockSize});
  if (h.Counter() == header_.Counter()) return false;
  std::uint16_t rc = ValidateIndexHeader(h, StorageSize());
  if (rc != 0) EngineError(rc, owner_->DataFileName());
  EmptyCursor();
  ResetAllPages();
  header_ = h;
  header_dirty_ = false;
  LoadCurrentDescriptor();
  owner_->IndexChangedByOther();
  return true;
}

bool IndexStore::CounterIsCurrent(const std::uint8_t* head) const {
  std::uint8_t counter[4];
  std::memcpy(counter, head, 4);
  if (owner_->Scrambled()) owner_->ScrambleBlock({counter, 4});
  return LoadLittle<std::uint32_t>(counter) == header_.Counter();
}

void IndexStore::InitNewHeader() {
  header_ = IndexHeader();
  header_.SetVersion(kIndexVersion);
  header_.SetEndOffset(kIndexBlockSize);
  header_.SetSysDeletedDescriptor();
  WriteHeader();
  // A new file is open exclusively: no locks are ever taken on it.
  write_lock_held_ = true;
  cur_slot_ = -1;
  SelectIndex(0);
  ClearRange();
}

void IndexStore::VerifyFreeLists() {
  // Each list must end within as many steps as there are pages.
  const std::uint32_t pages = header_.EndOffset() / kIndexBlockSize;
  std::vector<std::uint8_t> buf(kIndexBlockSize);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    if (!SlotInUse(header_, slot)) continue;
    std::uint32_t link = header_.FreeHead(slot);
    for (std::uint32_t steps = 0; link != 0; ++steps) {
      if (steps >= pages) Corrupt();
      ReadPageImage(link, buf.data());
      std::uint32_t next = LoadLittle<std::uint32_t>(buf.data() + kPageNext);
      if (next != 0 && (next % kIndexBlockSize != 0 || next >= header_.EndOffset())) Corrupt();
      link = next;
    }
  }
}

void IndexStore::Attach(bool lock_free) {
  write_lock_held_ = false;
  ReadHeader();
  if (lock_free) write_lock_held_ = true;
  VerifyFreeLists();
  cur_slot_ = -1;
  SelectIndex(0);
  ClearRange();
  if (!owner_->SuppressFirstKeyAtOpen() && !header_.NoPrimaryKey()) FirstKey();
}

void IndexStore::Detach() {
  EmptyCursor();
  DropAllPages();
  range_active_ = false;
  range_first_ = range_last_ = 0;
  position_ = 0;
  bof_ = eof_ = false;
}

void IndexStore::EmptyAllIndexes() {
  EmptyCursor();
  // Every cached page goes, dirty or not: the pages are about to vanish
  // from the file and a later flush must not write them back.
  DropAllPages();
  TruncateTo(kIndexBlockSize);
  header_.SetVersion(kIndexVersion);
  header_.SetEndOffset(kIndexBlockSize);
  header_.SetRecordCount(0);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    header_.SetRoot(slot, 0);
    header_.SetFreeHead(slot, 0);
  }
  WriteHeader();
  LoadCurrentDescriptor();
  range_first_ = range_last_ = 0;
  position_ = 0;
  bof_ = eof_ = true;
}

// ------------------------------------------------------------------ definitions

void IndexStore::CreatePrimaryIndex(std::uint16_t key_size, int field_count,
                                    std::span<const std::uint8_t> field_descending,
                                    std::span<const std::uint16_t> field_numbers,
                                    bool case_insensitive, bool descending) {
  if (!ExclusiveAccess()) Fail(ErrorCode::kMustBeExclusive);
  if (header_.Descriptor(0).KeySize != 0) Fail(ErrorCode::kPrimaryIndexExists, "Primary");
  if (field_count < 0 || field_count > kMaxKeyFields) Fail(ErrorCode::kIndexLimits, "Primary");
  if (static_cast<int>(field_descending.size()) < field_count ||
      static_cast<int>(field_numbers.size()) < field_count)
    Fail(ErrorCode::kIndexLimits, "Primary");
  bool first_is_string = false;
  for (int i = 0; i < field_count; ++i) {
    IndexFieldInfo info;
    if (!owner_->KeyFieldInfo(field_numbers[i], info)) Fail(ErrorCode::kInvalidIndexField, "Primary");
    if (info.type == FieldType::kBlob) Fail(ErrorCode::kInvalidIndexFieldType, "Primary");
    if (i == 0) first_is_string = info.type == FieldType::kString;
  }
  if (field_count > 0 && (key_size == 0 || key_size > kMaxKeySize))
    Fail(ErrorCode::kInvalidKeySize, "Primary");
  TIndexDescriptor d;
  if (field_count > 0) {
    d.KeySize = key_size;
    d.Descending = descending;
    d.CaseInsensitive = case_insensitive;
    d.Unique = 1;
    d.Compressed = CompressionFor(field_count, true, first_is_string);
    d.FieldCount = static_cast<std::uint8_t>(field_count);
    for (int i = 0; i < field_count; ++i) {
      d.FieldNumbers[i] = field_numbers[i];
      d.FieldDescending[i] = field_descending[i];
    }
    header_.SetNoPrimaryKey(false);
  } else {
    header_.SetNoPrimaryKey(true);
  }
  header_.SetDescriptor(0, d);
  WriteHeader();
  cur_slot_ = -1;
  SelectIndex(0);
  ClearRange();
}

void IndexStore::AddIndex(std::string_view name, std::uint16_t key_size,
                          std::span<const std::uint8_t> field_descending,
                          std::span<const std::uint16_t> field_numbers, bool unique,
                          bool case_insensitive, bool descending, int field_count) {
  if (!ExclusiveAccess()) Fail(ErrorCode::kMustBeExclusive);
  if (header_.SecondaryCount() >= kMaxSecondaryIndexes) Fail(ErrorCode::kIndexLimits, name);
  const int primary_fields = header_.NoPrimaryKey() ? 0 : header_.Descriptor(0).FieldCount;
  if (field_count < 1 || field_count + primary_fields > kMaxKeyFields ||
      static_cast<int>(field_descending.size()) < field_count ||
      static_cast<int>(field_numbers.size()) < field_count)
    Fail(ErrorCode::kIndexLimits, name);
  const std::string trimmed(TrimBlanks(name));
  if (trimmed.empty()) Fail(ErrorCode::kIndexNameMissing, name);
  if (!platform::IsCharAlphaA(static_cast<unsigned char>(name[0])))
    Fail(ErrorCode::kInvalidIndexName, name);
  const std::string upper = platform::AnsiUpperCase(trimmed.substr(0, 30));
  for (int slot = 1; slot <= header_.SecondaryCount(); ++slot) {
    if (platform::AnsiUpperCase(TrimBlanks(header_.Descriptor(slot).NameText())) == upper)
      Fail(ErrorCode::kIndexExists, name);
  }
  bool first_is_string = false;
  for (int i = 0; i < field_count; ++i) {
    IndexFieldInfo info;
    if (!owner_->KeyFieldInfo(field_numbers[i], info)) Fail(ErrorCode::kInvalidIndexField, name);
    if (info.type == FieldType::kBlob) Fail(ErrorCode::kInvalidIndexFieldType, name);
    if (i == 0) first_is_string = info.type == FieldType::kString;
  }
  if (key_size == 0 || key_size > kMaxKeySize) Fail(ErrorCode::kInvalidKeySize, name);
  const int slot = header_.SecondaryCount() + 1;
  TIndexDescriptor d;
  d.SetName(name);
  d.KeySize = key_size;
  d.Descending = descending;
  d.CaseInsensitive = case_insensitive;
  d.Unique = unique;
  d.Compressed = CompressionFor(field_count, unique, first_is_string);
  d.FieldCount = static_cast<std::uint8_t>(field_count);
  for (int i = 0; i < field_count; ++i) {
    d.FieldNumbers[i] = field_numbers[i];
    d.FieldDescending[i] = field_descending[i];
  }
  header_.SetDescriptor(slot, d);
  header_.SetSecondaryCount(static_cast<std::uint8_t>(slot));
  WriteHeader();
  cur_slot_ = -1;
  SelectIndex(slot);
  ClearRange();
}

void IndexStore::ReplaceIndexDescriptor(int n, const TIndexDescriptor& descriptor) {
  if (!ExclusiveAccess()) Fail(ErrorCode::kMustBeExclusive);
  if (n < 0 || n >= kIndexSlots) Fail(ErrorCode::kIndexLimits);
  TIndexDescriptor d = header_.Descriptor(n);
  d.SetName(descriptor.NameText());
  std::memcpy(d.FieldNumbers, descriptor.FieldNumbers, sizeof(d.FieldNumbers));
  header_.SetDescriptor(n, d);
  if (n == cur_slot_) LoadCurrentDescriptor();
}

TIndexDescriptor IndexStore::GetDescriptorCopy(int n) const {
  if (n < 0 || n >= kIndexSlots) return TIndexDescriptor();
  return header_.Descriptor(n);
}

std::array<std::uint16_t, kMaxKeyFields> IndexStore::GetIndexFieldNumbers(int n) const {
  std::array<std::uint16_t, kMaxKeyFields> out{};
  TIndexDescriptor d = GetDescriptorCopy(n);
  std::memcpy(out.data(), d.FieldNumbers, sizeof(d.FieldNumbers));
  return out;
}

void IndexStore::VerifyIndexDescriptors(const std::function<void(const std::string&)>& log) {
  const int count = std::min<int>(header_.SecondaryCount(), kMaxSecondaryIndexes);
  const bool no_primary = header_.NoPrimaryKey();
  for (int slot = 0; slot <= count; ++slot) {
    TIndexDescriptor d = header_.Descriptor(slot);
    const std::string name = d.NameText();
    const std::string where =
        slot == 0 ? std::string("primary index") : "secondary index " + name;
    // 1. Fields.
    std::uint32_t size = 0;
    int kept = 0;
    bool first_is_string = false;
    for (int i = 0; i < kMaxKeyFields && d.FieldNumbers[i] != 0;) {
      IndexFieldInfo info;
      if (!owner_->KeyFieldInfo(d.FieldNumbers[i], info)) {
        if (slot == 0 && no_primary) break;
        log("Invalid field number " + std::to_string(d.FieldNumbers[i]) + " in " + where +
            ", field removed");
        for (int j = i; j + 1 < kMaxKeyFields; ++j) {
          d.FieldNumbers[j] = d.FieldNumbers[j + 1];
          d.FieldDescending[j] = d.FieldDescending[j + 1];
        }
        d.FieldNumbers[kMaxKeyFields - 1] = 0;
        d.FieldDescending[kMaxKeyFields - 1] = 0;
        continue;
      }
      if (kept == 0) first_is_string = info.type == FieldType::kString;
      size += info.stored_size + 1u;
      ++kept;
      ++i;
    }
    // 2. Size limits.
    if (size > kMaxKeySize || (size == 0 && !(slot == 0 && no_primary))) {
      log("Invalid key size of " + std::to_string(size) + " for " + where + ", error not fixed");
    }
    // 3. Names.
    if (slot == 0) {
      d.SetName("");
    } else {
      const std::string upper = platform::AnsiUpperCase(TrimBlanks(name));
      bool duplicate = false;
      for (int other = 1; other < slot; ++other) {
        if (platform::AnsiUpperCase(TrimBlanks(header_.Descriptor(other).NameText())) == upper)
          duplicate = true;
      }
      if (upper.empty() || !platform::IsCharAlphaA(static_cast<unsigned char>(upper[0]))) {
        d.SetName(("_" + name).substr(0, 30));
        log("Invalid index name for " + where + ", error fixed - added underscore");
      } else if (duplicate) {
        d.SetName(("_" + name).substr(0, 30));
        log("Duplicate index name for " + where + ", error fixed - added underscore");
      }
    }
    // 4. Record-ID suffix and the stored size.
    if (slot != 0 && !d.Unique) size += 4;
    if (size <= 0xFFFF && d.KeySize != size && !(slot == 0 && no_primary)) {
      log("Invalid key size of " + std::to_string(d.KeySize) + " for " + where + ", error fixed");
      d.KeySize = static_cast<std::uint16_t>(size);
    }
    // 5. Count and compression.
    d.FieldCount = static_cast<std::uint8_t>(kept);
    d.Compressed = kept > 0 && CompressionFor(kept, slot == 0 || d.Unique, first_is_string);
    header_.SetDescriptor(slot, d);
  }
  header_.SetSysDeletedDescriptor();
  if (cur_slot_ >= 0 && cur_slot_ < kIndexSlots) LoadCurrentDescriptor();
}

void IndexStore::LoadCurrentDescriptor() {
  if (cur_slot_ < 0 || cur_slot_ >= kIndexSlots) {
    // Natural order (no index, slot 255) has no descriptor to load.
    key_size_ = 0;
    index_name_.clear();
    parts_.clear();
    return;
  }
  TIndexDescriptor d = header_.Descriptor(cur_slot_);
  key_size_ = d.KeySize;
  compressed_ = d.Compressed != 0;
  descending_ = d.Descending != 0;
  unique_ = d.Unique != 0;
  index_name_ = d.NameText();
  locale_ = owner_->LocaleId();
  parts_.clear();
  bool any_string = false;
  if (cur_slot_ != kSysDeletedSlot && locale_ != 0) {
    std::uint32_t o = 0;
    for (int i = 0; i < d.FieldCount && i < kMaxKeyFields; ++i) {
      IndexFieldInfo info;
      if (!owner_->KeyFieldInfo(d.FieldNumbers[i], info)) break;
      bool s = info.type == FieldType::kString;
      any_string = any_string || s;
      parts_.push_back({o, info.stored_size, s});
      o += 1 + info.stored_size;
    }
  }
  bytewise_ = !any_string;
}

// ------------------------------------------------------------------ cache

void IndexStore::Unlink(PageList& list, TPage* p) {
  if (p->lru_prev) p->lru_prev->lru_next = p->lru_next;
  else list.head = p->lru_next;
  if (p->lru_next) p->lru_next->lru_prev = p->lru_prev;
  else list.tail = p->lru_prev;
  p->lru_prev = p->lru_next = nullptr;
}

void IndexStore::PushFront(PageList& list, TPage* p) {
  p->lru_prev = nullptr;
  p->lru_next = list.head;
  if (list.head) list.head->lru_prev = p;
  list.head = p;
  if (!list.tail) list.tail = p;
}

PagePin IndexStore::Pinned(TPage* p) {
  if (!p->Pin()) Corrupt();
  return PagePin(p);
}

// A page object for a new offset: a new one while the list has room (or the
// cache is under its budget, or in a batch), else the least recently used
// clean unpinned page.
TPage* IndexStore::TakeSlot(PageList& list) {
  if (FaultHit(FaultSite::kCacheSlot)) Corrupt();
  if (list.pages.size() < list.capacity || owner_->InBatch() ||
      CachedPageCount() < PageBudgetNow()) {
    list.pages.push_back(std::make_unique<TPage>());
    TPage* p = list.pages.back().get();
    PushFront(list, p);
    return p;
  }
  for (int round = 0; round < 2; ++round) {
    // The first round looks only near the tail: stepping past thousands of
    // dirty pages on every miss costs more than writing them all in order.
    int left = round == 0 ? kEvictScan : -1;
    for (TPage* p = list.tail; p && left != 0; p = p->lru_prev, --left) {
      if (p->Pins() == 0 && !p->Dirty()) {
        if (p->Offset() != 0) list.map.Erase(p->Offset());
        p->SetOffset(0);
        p->undo_stamp = 0;
        p->undo_recorder = nullptr;
        Unlink(list, p);
        PushFront(list, p);
        return p;
      }
    }
    if (round == 0) {
      if (undo_active_) {
        if (WritePages(true)) {
          undo_flushed_ = true;
          header_dirty_ = true;
        }
      } else if (FlushIndexPages()) {
        WriteHeader();
      }
    }
  }
  // Every page is pinned (a deep split cascade): grow rather than fail.
  ++list.capacity;
  list.pages.push_back(std::make_unique<TPage>());
  TPage* p = list.pages.back().get();
  PushFront(list, p);
  return p;
}

void IndexStore::ReadPageImage(std::uint32_t offset, std::uint8_t* buffer) {
  if (offset < kIndexBlockSize || offset % kIndexBlockSize != 0 || offset >= header_.EndOffset())
    Corrupt();
  if (ReadBlock(offset, buffer, kIndexBlockSize) != static_cast<std::int32_t>(kIndexBlockSize) ||
      FaultHit(FaultSite::kDamage))
    Corrupt();
  if (owner_->Scrambled()) owner_->ScrambleBlock({buffer, kIndexBlockSize});
}

PagePin IndexStore::GetPage(std::uint32_t offset) {
  if (offset == 0) return {};
  if (cur_slot_ < 0 || cur_slot_ >= kIndexSlots) Corrupt();
  PageList& list = lists_[cur_slot_];
  if (TPage* p = list.map.Find(offset)) {
    // A page on a free list is no tree page: the tree points into its list.
    if (p->free_page) Corrupt();
    if (list.head != p) {
      Unlink(list, p);
      PushFront(list, p);
    }
    Journal(p, false);
    return Pinned(p);
  }
  if (offset == header_.EndOffset()) Corrupt();
  std::uint8_t buf[kIndexBlockSize];
  ReadPageImage(offset, buf);
  TPage* p = TakeSlot(list);
  p->Format(key_size_, compressed_);
  if (!p->Load(buf, header_.EndOffset())) {
    p->Clear();
    Corrupt();
  }
  p->SetOffset(offset);
  list.map.Assign(offset, p);
  Journal(p, false);
  return Pinned(p);
}

PagePin IndexStore::NewPage() {
  PageList& list = lists_[cur_slot_];
  const std::uint32_t head = header_.FreeHead(cur_slot_);
  TPage* p = nullptr;
  if (head != 0) {
    p = list.map.Find(head);
    if (p != nullptr) {
      // The free list must not lead into a page that is in use.
      if (p->Pins() > 0 || !p->free_page) Corrupt();
      Unlink(list, p);
      PushFront(list, p);
      Journal(p, false);
    } else {
      std::uint8_t buf[kIndexBlockSize];
      ReadPageImage(head, buf);
      p = TakeSlot(list);
      p->Format(key_size_, compressed_);
      if (!p->LoadFreeLink(buf, header_.EndOffset())) Corrupt();
      p->SetOffset(head);
      list.map.Assign(head, p);
      Journal(p, false);
    }
    if (p->Next() == head) Corrupt();
    header_.SetFreeHead(cur_slot_, p->Next());
  } else {
    const std::uint32_t end = header_.EndOffset();
    if (end > 0x7FFFF000u - kIndexBlockSize) Fail(ErrorCode::kIndexLimits);
    p = TakeSlot(list);
    p->SetOffset(end);
    list.map.Assign(end, p);
    Journal(p, true);
    header_.SetEndOffset(end + kIndexBlockSize);
  }
  p->Format(key_size_, compressed_);
  p->SetDirty(true);
  return Pinned(p);
}

void IndexStore::FreePage(TPage* page) {
  page->Clear();
  page->SetNext(header_.FreeHead(cur_slot_));
  page->free_page = true;
  page->SetDirty(true);
  header_.SetFreeHead(cur_slot_, page->Offset());
}

bool IndexStore::WritePages(bool untouched_only) {
  std::vector<TPage*> dirty;
  for (PageList& list : lists_) {
    for (auto& p : list.pages) {
      // The cursor's own pin does not keep its leaf from the disk: that page
      // is in no operation's hands.
      const int own = p.get() == cur_leaf_.get() ? 1 : 0;
      if (!p->Dirty() || p->Pins() != own || p->Offset() == 0) continue;
      if (untouched_only && p->undo_stamp == undo_stamp_) continue;
      dirty.push_back(p.get());
    }
  }
  if (dirty.empty()) return false;
  std::sort(dirty.begin(), dirty.end(),
            [](const TPage* a, const TPage* b) { return a->Offset() < b->Offset(); });
  // Not zeroed here: every page image is zeroed as it is packed (a flush
  // of a few hundred pages spent an eighth of an insert run zeroing twice).
  const auto buf = std::make_unique_for_overwrite<std::uint8_t[]>(dirty.size() * kIndexBlockSize);
  for (std::size_t i = 0; i < dirty.size(); ++i) {
    std::uint8_t* b = buf.get() + i * kIndexBlockSize;
    TPage* p = dirty[i];
    bool ok;
    if (p->free_page) {
      std::memset(b, 0, kIndexBlockSize);
      StoreLittle<std::uint32_t>(b + kPageNext, p->Next());
      ok = true;
    } else {
      ok = p->Store(b);
    }
    if (!ok) Corrupt();
    if (owner_->Scrambled()) owner_->ScrambleBlock({b, kIndexBlockSize});
  }
  std::size_t run = 0;
  for (std::size_t i = 1; i <= dirty.size(); ++i) {
    if (i == dirty.size() || dirty[i]->Offset() != dirty[i - 1]->Offset() + kIndexBlockSize) {
      WriteBlock(dirty[run]->Offset(), buf.get() + run * kIndexBlockSize,
                 static_cast<std::int32_t>((i - run) * kIndexBlockSize));
      run = i;
    }
  }
  for (TPage* p : dirty) p->SetDirty(false);
  return true;
}

bool IndexStore::FlushIndexPages() {
  const bool wrote = WritePages(false);
  return wrote || header_dirty_;
}

void IndexStore::FlushIndexFile() {
  FlushIndexPages();
  WriteHeader();
}

std::size_t IndexStore::CachedPageCount() const {
  std::size_t n = 0;
  for (const PageList& list : lists_) n += list.pages.size();
  return n;
}

std::size_t IndexStore::ListPageCount(int slot) const {
  return slot >= 0 && slot < kIndexSlots ? lists_[slot].pages.size() : 0;
}

std::size_t IndexStore::CleanPageCount(int slot) const {
  if (slot < 0 || slot >= kIndexSlots) return 0;
  std::size_t n = 0;
  for (const auto& p : lists_[slot].pages) n += p->Offset() != 0 && !p->Dirty() ? 1 : 0;
  return n;
}

void IndexStore::ShrinkPageLists() {
  std::size_t total = CachedPageCount();
  const std::size_t budget = PageBudgetNow();
  for (PageList& list : lists_) {
    list.capacity = kInitialListCapacity;
    if (list.pages.size() <= list.capacity || total <= budget) continue;
    std::vector<std::unique_ptr<TPage>> keep;
    for (auto& p : list.pages) {
      if (keep.size() < list.capacity || total <= budget || p->Pins() > 0 || p->Dirty()) {
        keep.push_back(std::move(p));
      } else {
        if (p->Offset() != 0) list.map.Erase(p->Offset());
        Unlink(list, p.get());
        --total;
      }
    }
    list.pages = std::move(keep);
  }
}

void IndexStore::ResetIndexCaches(bool trim) {
  DetachCursor();
  if (trim) {
    DropAllPages();
  } else {
    ResetAllPages();
  }
  ReadHeader();
  LoadCurrentDescriptor();
  RefreshCursor();
}

void IndexStore::ClearAllPins() {
  for (PageList& list : lists_) {
    for (auto& p : list.pages) p->ResetPins();
  }
  if (cur_leaf_ && !cur_leaf_->Pin()) Corrupt();
}

void IndexStore::DropAllPages() {
  ++tree_version_;
  cur_leaf_.reset();
  for (PageList& list : lists_) {
    list.map.Clear();
    list.pages.clear();
    list.head = list.tail = nullptr;
    list.capacity = kInitialListCapacity;
  }
}

void IndexStore::ResetAllPages() {
  ++tree_version_;
  cur_leaf_.reset();
  for (PageList& list : lists_) {
    list.map.Clear();
    for (auto& p : list.pages) {
      p->undo_recorder = nullptr;
      p->ResetPins();
      p->Clear();
      p->SetOffset(0);
      p->undo_stamp = 0;
    }
  }
}

// ------------------------------------------------------------------ undo

void IndexStore::BeginUndo(bool copy_clean) {
  undo_copy_clean_ = copy_clean;
  if (++undo_stamp_ == 0) {
    // Wrapped: no page may still carry a stamp from 2^32 writes ago.
    for (PageList& list : lists_) {
      for (auto& p : list.pages) p->undo_stamp = 0;
    }
    undo_stamp_ = 1;
  }
  // undo_header_ is only ever written here, so it equals header_ outside
  // the bytes header_ changed since the last write began.
  header_.CopyChangesTo(undo_header_);
  undo_header_dirty_ = header_dirty_;
  undo_flushed_ = false;
  undo_count_ = 0;
  undo_events_.clear();
  undo_bytes_.clear();
  undo_active_ = true;
}

void IndexStore::DiscardChanges() {
  ReleaseRecorders();
  undo_active_ = false;
  EmptyCursor();
  DropAllPages();
  header_dirty_ = false;
}

void IndexStore::JournalPage(TPage* p, bool appended) {
  if (undo_count_ == undo_pages_.size()) undo_pages_.emplace_back();
  PageUndo& u = undo_pages_[undo_count_];
  u.slot = cur_slot_;
  u.offset = p->Offset();
  u.appended = appended;
  u.was_dirty = p->Dirty();
  u.changed = false;
  u.drop = !appended && !p->Dirty() && !undo_copy_clean_;
  p->undo_stamp = undo_stamp_;
  p->undo_record = static_cast<std::uint32_t>(undo_count_);
  p->undo_recorder = appended || u.drop ? nullptr : this;
  ++undo_count_;
}

void IndexStore::AddUndoEvent(TPage& page, int i, UndoKind kind, bool keep_bytes) {
  const std::size_t at = undo_bytes_.size();
  if (keep_bytes) {
    const std::uint8_t* b = page.EntryBytes(i);
    undo_bytes_.insert(undo_bytes_.end(), b, b + page.EntrySize());
  }
  undo_events_.push_back({page.undo_record, i, kind, at});
  undo_pages_[page.undo_record].changed = true;
}

void IndexStore::EntryChanging(TPage& page, int i) {
  AddUndoEvent(page, i, UndoKind::kEntry, true);
}

void IndexStore::EntryInserted(TPage& page, int i) {
  AddUndoEvent(page, i, UndoKind::kInserted, false);
}

void IndexStore::EntryRemoving(TPage& page, int i) {
  AddUndoEvent(page, i, UndoKind::kRemoved, true);
}

void IndexStore::PageChanging(TPage& page) {
  // Let go first: saving must not come back here.
  page.undo_recorder = nullptr;
  page.Save(undo_pages_[page.undo_record].snapshot);
  AddUndoEvent(page, 0, UndoKind::kWhole, false);
}

TPage* IndexStore::UndoPage(const PageUndo& u) {
  TPage* p = lists_[u.slot].map.Find(u.offset);
  if (p == nullptr) return nullptr;
  return p->undo_stamp == undo_stamp_ ? p : nullptr;
}

void IndexStore::ReleaseRecorders() {
  for (std::size_t i = 0; i < undo_count_; ++i) {
    if (TPage* p = UndoPage(undo_pages_[i])) p->undo_recorder = nullptr;
  }
}

void IndexStore::CommitUndo() {
  if (!undo_active_) return;
  ReleaseRecorders();
  undo_active_ = false;
}

void IndexStore::RollbackUndo(bool rewrite) {
  if (!undo_active_) return;
  ReleaseRecorders();
  undo_active_ = false;
  DetachCursor();
  // Newest first, each event on the page as the later ones left it.
  for (std::size_t i = undo_events_.size(); i-- > 0;) {
    const UndoEvent& e = undo_events_[i];
    const PageUndo& u = undo_pages_[e.record];
    TPage* p = UndoPage(u);
    // A page with changes is dirty and stays cached for the write.
    if (p == nullptr) continue;
    const std::uint8_t* bytes = undo_bytes_.data() + e.bytes;
    switch (e.kind) {
      case UndoKind::kEntry:
        p->RestoreEntry(e.entry, bytes);
        break;
      case UndoKind::kInserted:
        p->RemoveAt(e.entry);
        break;
      case UndoKind::kRemoved:
        p->InsertAt(e.entry, bytes, LoadLittle<std::uint32_t>(bytes + p->KeySize()),
                    LoadLittle<std::uint32_t>(bytes + p->KeySize() + 4));
        break;
      case UndoKind::kWhole:
        p->Restore(u.snapshot);
        break;
    }
  }
  for (std::size_t i = undo_count_; i-- > 0;) {
    const PageUndo& u = undo_pages_[i];
    TPage* p = UndoPage(u);
    if (p == nullptr) continue;
    if (u.appended || u.drop) {
      // New in this write, or as the file holds it: out of the cache.
      lists_[u.slot].map.Erase(u.offset);
      p->ResetPins();
      p->Clear();
      p->SetOffset(0);
      p->undo_stamp = 0;
    } else if (u.changed) {
      p->SetDirty(u.was_dirty || rewrite);
    }
  }
  header_ = undo_header_;
  header_dirty_ = undo_header_dirty_ || undo_flushed_ || rewrite;
  if (cur_slot_ >= 0 && cur_slot_ < kIndexSlots) LoadCurrentDescriptor();
}

}  // namespace storage
