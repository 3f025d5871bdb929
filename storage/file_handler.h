// TFileHandler: one file of a table, on disk or in memory.
//
// The base of the data, index and BLOB files. It opens, creates, deletes,
// renames and copies its file, reads and writes at the current position,
// locks byte ranges, and maps operating-system failures to engine codes.
// Every failure is raised through EngineError with the handler's full name
// as the data-file context.
//
// In-memory files live in the current session's TMemoryFileList and are
// touched only under the engine lock. Every operation means the same for
// both kinds: a test runs one random sequence on each and compares.
//
// Disk files go through platform::File, whose byte-range locks belong to
// the handle (never the process), so two handlers on one file conflict
// exactly like two programs.
//
// With the trace flag set, every operation first appends a line to
// "tolmidio.log" in the current directory (see TraceLine in the .cpp); the
// line's text is built only then.
//
// Read and Write are fault sites (fault_injection.h): a test can make any
// one of them fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace storage {

class TMemoryFile;

class TFileHandler {
 public:
  TFileHandler();
  // Closes the file when open, then the trace log. Never throws. A subclass
  // that overrides Close must close in its own destructor: here only the
  // base's Close can run.
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;
  TFileHandler(TFileHandler&&) = delete;
  TFileHandler& operator=(TFileHandler&&) = delete;

  // Slot 1: the base keeps the name; subclasses force their extension.
  virtual std::string NormaliseFileName(std::string_view name);
  // Slot 2. On disk the file must exist (11010); a read-only attribute makes
  // the handler read only (and forced read only). A failure leaves it closed.
  virtual void Open();
  // Slot 3. Never fails.
  virtual void Close();
  // Slot 4: creates or replaces the file, open exclusively. Needs the
  // exclusive flag (10253); 10031 when open.
  virtual void CreateFile();
  // Slot 5: 10031 when open; 9220 on failure.
  virtual void DeleteFile();
  // Slot 6: 10031 when open; 11047 on failure; the name becomes new_name.
  virtual void RenameFile(std::string_view new_name);
  // Slot 7: 10031 when open; failures are mapped OS/memory-file codes.
  virtual void CopyFile(std::string_view destination);
  // Slot 8: bytes read at the current position. A short count is 9217,
  // except on an exclusively opened file, which gets the short count.
  virtual std::int32_t Read(void* buffer, std::int32_t n);
  // Slot 9: n > 0 writes n bytes (fewer is 9218); n == 0 truncates (or
  // extends) the file at the current position.
  virtual void Write(const void* buffer, std::int32_t n);
  // Slot 10: flushes the OS buffers of a disk file.
  virtual void Flush();

  // origin 0 start, 1 current, 2 end. A target below 0 (or, in memory,
  // beyond 2^31 - 1) raises 11047, as the OS's failed seek maps.
  std::int64_t Seek(std::int64_t offset, int origin);
  // Seeks to the end and returns the position (the position moves).
  std::int64_t GetFileSize();
  // True when done; a no-op returning true when the file is open
  // exclusively. No waiting: the caller retries.
  bool LockRange(std::int64_t offset, std::int64_t length, bool lock);
  [[nodiscard]] bool FileExists();
  // An open disk file's first n bytes mapped (platform::File::MapHead);
  // nullptr for a file in memory, a closed one, or one shorter than n.
  [[nodiscard]] const std::uint8_t* MappedHead(std::size_t n);
  // Up to n bytes from position, cut at the file's end, as a mapped view
  // (platform::File::MapView): for scans that read a file's bytes once.
  // False, view empty, for a file in memory or a closed one, when tracing
  // (the reads are traced instead) or when the file cannot be mapped; the
  // caller then reads. A fault site as Read.
  bool MapView(std::int64_t position, std::int32_t n, platform::FileView& view);

  // Conveniences: Seek(position, 0) then Read / Write.
  std::int32_t ReadAt(std::int64_t position, void* buffer, std::int32_t n);
  // Seek(position, 0) then a read that returns the count read whatever the
  // sharing mode (short at the end of the file, 0 beyond it): one call
  // where a size probe and a read would be two. Traced and a fault site
  // as Read.
  std::int32_t ReadAtMost(std::int64_t position, void* buffer, std::int32_t n);
  void WriteAt(std::int64_t position, const void* buffer, std::int32_t n);

  // Each raises 10031 when the value changes while the file is open.
  void SetInMemory(bool in_memory);
  void SetExclusive(bool exclusive);
  void SetReadOnly(bool read_only);
  // Stores NormaliseFileName(name); 10031 when that differs while open.
  void SetFileName(std::string_view name);

  // Disk: the thread's last OS error mapped (code ignored). Memory: the
  // engine code passed, unchanged.
  [[nodiscard]] std::uint16_t MapOSError(std::int32_t code) const;
  // The OS error table: 2,3 -> 11010; 4 -> 11012; 5,32,65 -> 11013;
  // 6 -> 11014; 8 -> 11016; 15 -> 11023; 17 -> 11025; else 11047.
  static std::uint16_t MapOSCode(std::uint32_t os_error);

  [[nodiscard]] const std::string& FileName() const { return name_; }
  [[nodiscard]] bool InMemory() const { return in_memory_; }
  [[nodiscard]] bool Exclusive() const { return exclusive_; }
  [[nodiscard]] bool ReadOnly() const { return read_only_; }
  [[nodiscard]] bool ForcedReadOnly() const { return forced_read_only_; }
  [[nodiscard]] bool IsOpen() const { return open_; }
  // The in-memory handle number; 0 when closed or on disk.
  [[nodiscard]] std::int32_t Handle() const { return handle_; }
  [[nodiscard]] bool Trace() const { return trace_; }
  void SetTrace(bool trace) { trace_ = trace; }

 protected:
  // Raises code with this file's name as context.
  [[noreturn]] void Fail(std::uint16_t code) const;
  void TraceLine(const std::string& text);
  // Where the next read or write of a disk file goes.
  [[nodiscard]] std::int64_t Position() const { return position_; }

 private:
  void SetFlag(bool& flag, bool value);
  // Read's work, without the short-count rule.
  std::int32_t ReadBytes(void* buffer, std::int32_t n);
  // Write's work, without its trace line or fault site.
  void WriteBytes(const void* buffer, std::int32_t n);
  [[nodiscard]] TMemoryFile* RequireMemoryFile(std::uint16_t code) const;
  // The size of the open disk file (see the .cpp for when it is cached).
  std::int64_t DiskSize();

  bool in_memory_ = false;
  TMemoryFile* memory_file_ = nullptr;  // owned by the session's list
  std::string name_;
  std::int32_t handle_ = 0;
  platform::File file_;
  // Disk files: the handler keeps the position itself (every read and write
  // is one pread/pwrite at it) and the file size while it is known (-1 when
  // not); both are reset by Open, CreateFile and Close.
  std::int64_t position_ = 0;
  std::int64_t size_ = -1;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool forced_read_only_ = false;
  bool open_ = false;
  bool trace_ = false;
  bool short_read_allowed_ = false;  // inside ReadAtMost
  std::unique_ptr<TFileHandler> trace_file_;
};

}  // namespace storage
