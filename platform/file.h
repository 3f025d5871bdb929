// Files with Windows semantics on Linux.
//
// - Byte-range locks belong to one open handle (open-file-description locks,
//   F_OFD_SETLK), never to the process. Each handle also keeps a registry of
//   the ranges it holds: a lock overlapping one the same handle holds fails,
//   and an unlock must name a held range exactly. Locks may lie far beyond
//   the end of the file.
// - Sharing: a file opened with share mode none excludes every other open,
//   in this process and in others; an open fails while another holds the
//   file exclusively (ERROR_SHARING_VIOLATION). Deleting, renaming over or
//   re-creating a file another handle has open fails the same way.
// - Rename fails when the target exists.
// - Names match without regard to case; both '/' and '\' separate.
// - The read-only attribute is "no write permission for the owner".
//
// Failures return false / an invalid handle and set the thread's last error
// to a Windows error number (GetLastError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>

namespace platform {

// Windows error numbers used by the engine's mapping.
enum : std::uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DATA = 13,
  ERROR_INVALID_DRIVE = 15,
  ERROR_NOT_SAME_DEVICE = 17,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_LOCK_VIOLATION = 33,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_NETWORK_ACCESS_DENIED = 65,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_NEGATIVE_SEEK = 131,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_NOT_LOCKED = 158,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_FILENAME_EXCED_RANGE = 206,
};

// The Windows error number for an errno value (ENOENT 2, EMFILE 4, EACCES 5,
// EBADF 6, ENOMEM 8, EXDEV 17, EAGAIN 33, EEXIST 80, ENOSPC 112, ...).
std::uint32_t WindowsErrorFromErrno(int err);

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// A read-only, shared view of part of a file (File::MapView), unmapped
// when it goes: what any handle or program writes to those bytes is seen
// at once.
class FileView {
 public:
  FileView() = default;
  ~FileView() { Reset(); }
  FileView(FileView&& other) noexcept { *this = std::move(other); }
  FileView& operator=(FileView&& other) noexcept;
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  void Reset();

 private:
  friend class File;
  void* base_ = nullptr;  // the mapping, from a page boundary
  std::size_t mapped_ = 0;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

enum class Access { Read, ReadWrite };
enum class Share { None, ReadWrite };
enum class Disposition { OpenExisting, CreateAlways, CreateNew };

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens or creates; false on failure with the last error set.
  bool Open(std::string_view name, Access access, Share share, Disposition disposition);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Read/write at the current position; return false on an OS failure, and
  // the count done in *done.
  bool Read(void* buffer, std::uint32_t count, std::uint32_t* done);
  bool Write(const void* buffer, std::uint32_t count, std::uint32_t* done);
  // The same at a given offset, leaving the current position alone (one
  // pread/pwrite each).
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* done);
  bool WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count,
               std::uint32_t* done);
  // origin 0 begin, 1 current, 2 end; returns the new position or -1.
  std::int64_t Seek(std::int64_t offset, int origin);
  bool SetEndOfFile();  // truncates or extends at the current position
  bool SetSize(std::uint64_t size);  // truncates or extends to size
  bool Flush();
  std::int64_t Size();

  // Non-blocking byte-range lock/unlock owned by this handle. A range
  // conflicting with another handle's lock, or overlapping one this handle
  // holds, fails with ERROR_LOCK_VIOLATION; an unlock must name a held range
  // exactly (else ERROR_NOT_LOCKED). Offsets from 2^62 up are reserved for
  // the sharing locks, and an empty range is refused (both
  // ERROR_INVALID_PARAMETER).
  bool LockFile(std::uint64_t offset, std::uint64_t length);
  bool UnlockFile(std::uint64_t offset, std::uint64_t length);

  // The file's first n bytes (n <= 4096) mapped read-only and shared: what
  // any handle or program writes there is seen at once, without a read.
  // nullptr when the file holds fewer than n bytes or cannot be mapped.
  // The mapping lives until Close. A read of it faults (SIGBUS) once the
  // file has been cut to nothing: map only files whose owner never lets
  // them become shorter than n bytes.
  const std::uint8_t* MapHead(std::size_t n);

  // Up to n bytes from offset, cut at the file's present end, mapped into
  // view: a scan of them costs no copy. False, with
  // view empty, when nothing lies there or the file cannot be mapped (the
  // caller reads instead). As with MapHead, a read of the view faults once
  // the file is cut below it: map only files nobody shortens while the
  // view lives.
  bool MapView(std::uint64_t offset, std::size_t n, FileView& view);

 private:
  struct Impl;
  int fd_ = -1;
  std::string path_;
  Impl* impl_ = nullptr;
};

// Resolves a name the way the program asks for it: separators '/' or '\',
// each existing component matched without regard to case. Components that
// do not exist are kept as given (so a new file gets the name as given).
std::string ResolvePath(std::string_view name);

// While one lives on a thread, ResolvePath on that thread lists each
// directory it searches once and answers later misses in the same
// directory from that listing (a table open resolves several names that
// usually do not exist, each of which would otherwise read the whole
// directory). Files made, renamed or deleted in the directory while it
// lives may be missed: keep it to a few lookups that change nothing.
// Scopes nest; the outermost one owns the listings.
class DirectoryListingScope {
 public:
  DirectoryListingScope();
  ~DirectoryListingScope();
  DirectoryListingScope(const DirectoryListingScope&) = delete;
  DirectoryListingScope& operator=(const DirectoryListingScope&) = delete;

 private:
  bool outer_ = false;
};

bool FileExists(std::string_view name);
bool DirectoryExists(std::string_view name);
bool CreateDirectory(std::string_view name);
// Fails with ERROR_SHARING_VIOLATION when the file is open anywhere.
bool DeleteFile(std::string_view name);
// Fails when the target exists, or when either file is open.
bool MoveFile(std::string_view from, std::string_view to);
// Copies; fails_if_exists refuses an existing target.
bool CopyFile(std::string_view from, std::string_view to, bool fail_if_exists);
// Read-only attribute = no owner write permission.
bool GetReadOnly(std::string_view name, bool* read_only);
bool SetReadOnly(std::string_view name, bool read_only);
std::string GetCurrentDirectory();
bool SetCurrentDirectory(std::string_view dir);
// Makes the entries of a directory (files created, renamed or deleted in
// it) durable, as File::Flush does a file's contents. NTFS journals its
// names and needs no such call; here a rename survives a power cut only
// after it.
bool FlushDirectory(std::string_view dir);

// Offset of the first byte reserved for the sharing scheme (file.cpp); no
// byte-range lock may reach it.
constexpr std::uint64_t kReservedLockBase = std::uint64_t{1} << 62;

namespace internal {
// For tests: open every descriptor read-only when the handle's access is
// Read, as happens for a non-root user on a read-only file, so that the
// read-only locking path can be exercised under root.
void SetPreferReadOnlyDescriptors(bool on);
}  // namespace internal

}  // namespace platform
