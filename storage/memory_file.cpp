#include "storage/memory_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "storage/engine_error.h"
#include "storage/table_names.h"

namespace storage {
namespace {

constexpr std::int32_t kNoSuchFile = -static_cast<std::int32_t>(Code(ErrorCode::kInvalidPath));
constexpr std::int32_t kInUse = -static_cast<std::int32_t>(Code(ErrorCode::kAccessDenied));
constexpr std::int32_t kCopyChunk = 8192;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  a = TrimBlanks(a);
  b = TrimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The file name without directory and extension, trimmed.
std::string_view BareName(std::string_view name) {
  const std::size_t cut = name.find_last_of("\\/:");
  if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return TrimBlanks(name);
}

}  // namespace

TMemoryFile::TMemoryFile(std::string name) : name_(std::move(name)) {}

TMemoryFile::HandleEntry* TMemoryFile::FindHandle(std::int32_t handle) {
  for (HandleEntry& h : handles_) {
    if (h.number == handle) return &h;
  }
  return nullptr;
}

const TMemoryFile::HandleEntry* TMemoryFile::FindHandle(std::int32_t handle) const {
  return const_cast<TMemoryFile*>(this)->FindHandle(handle);
}

std::int32_t TMemoryFile::OpenHandle() {
  // Numbers only grow, so a stale number never reaches a newer open; on
  // the (theoretical) wrap, search for a free one.
  std::int32_t number = next_handle_;
  while (number <= 0 || FindHandle(number) != nullptr) {
    number = (number <= 0 || number == INT32_MAX) ? 1 : number + 1;
  }
  next_handle_ = number == INT32_MAX ? 1 : number + 1;
  handles_.push_back(HandleEntry{number, 0});
  return number;
}

void TMemoryFile::CloseHandle(std::int32_t handle) {
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [handle](const HandleEntry& h) { return h.number == handle; });
  if (it == handles_.end()) return;
  handles_.erase(it);
  std::erase_if(ranges_, [handle](const LockEntry& r) { return r.handle == handle; });
}

bool TMemoryFile::SetSize(std::int64_t n) {
  if (n < 0 || n > kMaxMemorySize) return false;
  std::int64_t block = n;
  if (n % kBlockGranule != 0) block = (n / kBlockGranule + 1) * kBlockGranule;
  if (block > kMaxMemorySize) block = kMaxMemorySize;  // only the very last granule
  const auto new_size = static_cast<std::int32_t>(n);
  const auto new_block = static_cast<std::int32_t>(block);
  if (new_block != allocated_) {
    if (new_block == 0) {
      data_.reset();
    } else {
      std::unique_ptr<std::byte[]> grown(new (std::nothrow) std::byte[new_block]);
      if (!grown) return false;
      const std::int32_t keep = std::min(size_, new_size);
      if (keep > 0) std::memcpy(grown.get(), data_.get(), static_cast<std::size_t>(keep));
      data_ = std::move(grown);
    }
    allocated_ = new_block;
  }
  // Bytes past the old size read as zeros, whatever the block held before.
  if (new_size > size_) {
    std::memset(data_.get() + size_, 0, static_cast<std::size_t>(new_size - size_));
  }
  size_ = new_size;
  return true;
}

std::int64_t TMemoryFile::Position(std::int32_t handle) const {
  const HandleEntry* h = FindHandle(handle);
  return h == nullptr ? -1 : h->position;
}

std::int32_t TMemoryFile::ReadAt(std::int32_t handle, void* buffer, std::int32_t n) {
  HandleEntry* h = FindHandle(handle);
  if (h == nullptr || n <= 0 || h->position < 0 || h->position > size_) return 0;
  const auto count =
      static_cast<std::int32_t>(std::min<std::int64_t>(n, std::int64_t{size_} - h->position));
  if (count > 0) std::memcpy(buffer, data_.get() + h->position, static_cast<std::size_t>(count));
  h->position += count;
  return count;
}

std::int32_t TMemoryFile::WriteAt(std::int32_t handle, const void* buffer, std::int32_t n) {
  HandleEntry* h = FindHandle(handle);
  if (h == nullptr || n < 0 || h->position < 0) return 0;
  if (n == 0) {
    SetSize(h->position);
    return 0;
  }
  const std::int64_t end = h->position + n;
  if (end > kMaxMemorySize) return 0;
  if (end > size_ && !SetSize(end)) return 0;
  std::memcpy(data_.get() + h->position, buffer, static_cast<std::size_t>(n));
  h->position = end;
  return n;
}

std::int64_t TMemoryFile::SeekHandle(std::int32_t handle, std::int64_t offset, int origin) {
  HandleEntry* h = FindHandle(handle);
  if (h == nullptr) return -1;
  std::int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = h->position; break;
    case 2: base = size_; break;
    default: return -1;
  }
  // Offsets come from callers, so guard the sum itself.
  if (offset > kMaxMemorySize || offset < -kMaxMemorySize) return -1;
  const std::int64_t target = base + offset;
  if (target < 0 || target > kMaxMemorySize) return -1;
  h->position = target;
  return target;
}

bool TMemoryFile::LockMemoryRange(std::int32_t handle, std::int64_t start, std::int64_t length) {
  const std::int64_t end = start + length - 1;
  for (const LockEntry& r : ranges_) {
    if ((start >= r.start && start <= r.end) || (r.start >= start && r.start <= end)) {
      return false;
    }
  }
  ranges_.push_back(LockEntry{handle, start, end, length});
  return true;
}

bool TMemoryFile::UnlockMemoryRange(std::int32_t handle, std::int64_t start,
                                    std::int64_t length) {
  auto it = std::find_if(ranges_.begin(), ranges_.end(), [&](const LockEntry& r) {
    return r.handle == handle && r.start == start && r.length == length;
  });
  if (it == ranges_.end()) return false;
  ranges_.erase(it);
  return true;
}

// ---------------------------------------------------------------- list

TMemoryFile* TMemoryFileList::Find(std::string_view name) const {
  for (const auto& f : files_) {
    if (SameName(f->Name(), name)) return f.get();
  }
  return nullptr;
}

bool TMemoryFileList::MemoryFileExists(std::string_view name) const {
  return Find(name) != nullptr;
}

std::int32_t TMemoryFileList::CreateMemoryFile(std::string_view name, TMemoryFile** file) {
  if (BareName(name).empty()) return kNoSuchFile;
  TMemoryFile* f = Find(name);
  if (f != nullptr) {
    if (f->OpenCount() > 0) return kInUse;
    f->SetSize(0);
  } else {
    files_.push_back(std::make_unique<TMemoryFile>(std::string(name)));
    f = files_.back().get();
  }
  f->SetExclusive(true);
  if (file != nullptr) *file = f;
  return f->OpenHandle();
}

std::int32_t TMemoryFileList::OpenMemoryFile(std::string_view name, TMemoryFile** file,
                                             bool exclusive) {
  TMemoryFile* f = Find(name);
  if (f == nullptr) return kNoSuchFile;
  if (f->OpenCount() == 0) {
    f->SetExclusive(exclusive);
  } else if (f->Exclusive() || exclusive) {
    return kInUse;
  }
  if (file != nullptr) *file = f;
  return f->OpenHandle();
}

bool TMemoryFileList::RenameMemoryFile(std::string_view name, std::string_view new_name) {
  TMemoryFile* f = Find(name);
  if (f == nullptr || f->OpenCount() > 0) return false;
  // Two files answering to one name could never be told apart again.
  TMemoryFile* other = Find(new_name);
  if (other != nullptr && other != f) return false;
  f->SetName(std::string(new_name));
  return true;
}

std::int32_t TMemoryFileList::CopyMemoryFile(std::string_view source,
                                             std::string_view destination) {
  TMemoryFile* from = nullptr;
  const std::int32_t in = OpenMemoryFile(source, &from, true);
  if (in < 0) return in;
  TMemoryFile* to = nullptr;
  const std::int32_t out = CreateMemoryFile(destination, &to);
  if (out < 0) {
    from->CloseHandle(in);
    return out;
  }
  std::byte chunk[kCopyChunk];
  std::int32_t got;
  do {
    got = from->ReadAt(in, chunk, kCopyChunk);
    if (got > 0) to->WriteAt(out, chunk, got);
  } while (got == kCopyChunk);
  from->CloseHandle(in);
  to->CloseHandle(out);
  return 0;
}

bool TMemoryFileList::DeleteMemoryFile(std::string_view name) {
  auto it = std::find_if(files_.begin(), files_.end(),
                         [&](const auto& f) { return SameName(f->Name(), name); });
  if (it == files_.end() || (*it)->OpenCount() > 0) return false;
  files_.erase(it);
  return true;
}

}  // namespace storage
