// In-memory table files: TMemoryFile and the session's TMemoryFileList.
//
// Every operation here runs under the engine lock, taken by the caller (the
// file handler); nothing here locks.
//
// Sizes and positions are 32-bit: a file never grows beyond kMaxMemorySize
// bytes. A write or a size past it is refused (0 bytes written / false),
// never wrapped. Growth zero-fills, so a gap written past the end (or bytes
// beyond an earlier truncation) read as zeros, as on disk.
//
// Handles: each open has a number unique among the file's handles (the
// first is 1) and its own position. Lock ranges belong to the handle that
// took them: only that handle can unlock them and closing it releases them.
// A new range conflicts with every held range it overlaps, whoever holds it,
// the same handle included (the table is shared by all holders).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace storage {

class TMemoryFile {
 public:
  static constexpr std::int64_t kMaxMemorySize = 0x7FFFFFFF;
  static constexpr std::int32_t kBlockGranule = 65535;

  explicit TMemoryFile(std::string name);
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;

  [[nodiscard]] const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  [[nodiscard]] bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  [[nodiscard]] std::int32_t Size() const { return size_; }
  [[nodiscard]] std::int32_t Allocated() const { return allocated_; }
  [[nodiscard]] std::int32_t OpenCount() const { return static_cast<std::int32_t>(handles_.size()); }
  [[nodiscard]] std::size_t LockCount() const { return ranges_.size(); }

  // Opens a new handle at position 0; returns its number.
  std::int32_t OpenHandle();
  // Removes the handle and releases its lock ranges; unknown handles are
  // ignored.
  void CloseHandle(std::int32_t handle);
  // Bytes read at the handle's position (0 for an unknown handle or a
  // position outside 0..size); the position advances by that much.
  std::int32_t ReadAt(std::int32_t handle, void* buffer, std::int32_t n);
  // n > 0: writes n bytes at the position, growing the file; returns n, or
  // 0 when the handle is unknown, the position negative or the end would
  // pass kMaxMemorySize. n == 0: truncates (or extends) to the position.
  std::int32_t WriteAt(std::int32_t handle, const void* buffer, std::int32_t n);
  // origin 0: offset; 1: position + offset; 2: size + offset. Returns the
  // new position; -1 (position unchanged) for an unknown handle or a target
  // outside 0..kMaxMemorySize.
  std::int64_t SeekHandle(std::int32_t handle, std::int64_t offset, int origin);
  // Block := n rounded up to a multiple of 65535. False (nothing changed)
  // for n outside 0..kMaxMemorySize or when memory runs out.
  bool SetSize(std::int64_t n);
  [[nodiscard]] std::int64_t Position(std::int32_t handle) const;

  // [start, start + length - 1] for handle. Fails when start lies in a held
  // range or a held range's start lies in the new one.
  bool LockMemoryRange(std::int32_t handle, std::int64_t start, std::int64_t length);
  // Removes the handle's first range with this start and length.
  bool UnlockMemoryRange(std::int32_t handle, std::int64_t start, std::int64_t length);

  // The data as it stands (size bytes).
  [[nodiscard]] const std::byte* Data() const { return data_.get(); }

 private:
  struct HandleEntry {
    std::int32_t number;
    std::int64_t position;
  };
  struct LockEntry {
    std::int32_t handle;
    std::int64_t start;
    std::int64_t end;  // inclusive
    std::int64_t length;
  };

  HandleEntry* FindHandle(std::int32_t handle);
  const HandleEntry* FindHandle(std::int32_t handle) const;

  bool exclusive_ = false;
  std::string name_;
  std::int32_t size_ = 0;
  std::unique_ptr<std::byte[]> data_;
  std::int32_t allocated_ = 0;
  std::vector<LockEntry> ranges_;
  std::vector<HandleEntry> handles_;
  std::int32_t next_handle_ = 1;
};

// The in-memory files of one session, owned and looked up by name (blanks
// trimmed at both ends, letter case ignored). Results that are codes are
// negative engine codes (-11010 no such file, -11013 in use).
class TMemoryFileList {
 public:
  TMemoryFileList() = default;
  TMemoryFileList(const TMemoryFileList&) = delete;
  TMemoryFileList& operator=(const TMemoryFileList&) = delete;

  // A handle or a negative code. An existing closed file is emptied.
  std::int32_t CreateMemoryFile(std::string_view name, TMemoryFile** file);
  std::int32_t OpenMemoryFile(std::string_view name, TMemoryFile** file, bool exclusive);
  // False when the file is absent or open, or another file has new_name.
  bool RenameMemoryFile(std::string_view name, std::string_view new_name);
  // 0 or the first failure's negative code.
  std::int32_t CopyMemoryFile(std::string_view source, std::string_view destination);
  bool DeleteMemoryFile(std::string_view name);
  [[nodiscard]] bool MemoryFileExists(std::string_view name) const;
  [[nodiscard]] TMemoryFile* Find(std::string_view name) const;
  [[nodiscard]] std::size_t Count() const { return files_.size(); }

 private:
  std::vector<std::unique_ptr<TMemoryFile>> files_;
};

}  // namespace storage
