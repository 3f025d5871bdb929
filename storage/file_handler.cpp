#include "storage/file_handler.h"

#include <memory>

#include "framework/sync.h"
#include "storage/engine_error.h"
#include "storage/fault_injection.h"
#include "storage/memory_file.h"
#include "storage/session.h"

namespace storage {
namespace {

constexpr char kTraceLogName[] = "tolmidio.log";

std::string Num(std::int64_t n) { return std::to_string(n); }

// Copies source to dest (created or replaced) in chunks of 8192 bytes.
// Returns 0, or the negated Windows error number of the first failure
// (opening, reading or writing either file).
int CopyDiskFile(std::string_view source, std::string_view dest) {
  auto fail = [](std::uint32_t fallback) {
    std::uint32_t err = platform::GetLastError();
    if (err == platform::ERROR_SUCCESS) err = fallback;
    return -static_cast<int>(err);
  };
  platform::File in;
  if (!in.Open(source, platform::Access::Read, platform::Share::ReadWrite,
               platform::Disposition::OpenExisting)) {
    return fail(platform::ERROR_FILE_NOT_FOUND);
  }
  platform::File out;
  if (!out.Open(dest, platform::Access::ReadWrite, platform::Share::None,
                platform::Disposition::CreateAlways)) {
    return fail(platform::ERROR_ACCESS_DENIED);
  }
  constexpr std::uint32_t kChunk = 8192;
  std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[kChunk]);
  for (;;) {
    std::uint32_t got = 0;
    if (!in.Read(buf.get(), kChunk, &got)) return fail(platform::ERROR_READ_FAULT);
    if (got > 0) {
      std::uint32_t put = 0;
      if (!out.Write(buf.get(), got, &put)) return fail(platform::ERROR_WRITE_FAULT);
      if (put != got) return -static_cast<int>(platform::ERROR_HANDLE_DISK_FULL);
    }
    if (got < kChunk) break;
  }
  return 0;
}

}  // namespace

TFileHandler::TFileHandler() = default;

TFileHandler::~TFileHandler() {
  // Subclasses close their own state first; here only the base's handle is
  // left, and Close never throws.
  if (open_) TFileHandler::Close();
  trace_file_.reset();
}

void TFileHandler::Fail(std::uint16_t code) const { EngineError(code, name_); }

std::uint16_t TFileHandler::MapOSCode(std::uint32_t os_error) {
  switch (os_error) {
    case platform::ERROR_FILE_NOT_FOUND:
    case platform::ERROR_PATH_NOT_FOUND:
      return Code(ErrorCode::kInvalidPath);
    case platform::ERROR_TOO_MANY_OPEN_FILES:
      return Code(ErrorCode::kTooManyFiles);
    case platform::ERROR_ACCESS_DENIED:
    case platform::ERROR_SHARING_VIOLATION:
    case platform::ERROR_NETWORK_ACCESS_DENIED:
      return Code(ErrorCode::kAccessDenied);
    case platform::ERROR_INVALID_HANDLE:
      return Code(ErrorCode::kInvalidFileHandle);
    case platform::ERROR_NOT_ENOUGH_MEMORY:
      return Code(ErrorCode::kNoMemory);
    case platform::ERROR_INVALID_DRIVE:
      return Code(ErrorCode::kDeviceDenied);
    case platform::ERROR_NOT_SAME_DEVICE:
      return Code(ErrorCode::kFileMoved);
    default:
      return Code(ErrorCode::kUnknownOSError);
  }
}

std::uint16_t TFileHandler::MapOSError(std::int32_t code) const {
  if (in_memory_) return static_cast<std::uint16_t>(code);
  return MapOSCode(platform::GetLastError());
}

// One line per operation, written at the end of the log. A log that cannot
// be written is dropped: tracing must not change what the operation does.
void TFileHandler::TraceLine(const std::string& text) {
  if (!trace_) return;
  try {
    if (!trace_file_) {
      auto log = std::make_unique<TFileHandler>();
      log->SetFileName(kTraceLogName);
      if (!log->FileExists()) {
        log->SetExclusive(true);
        log->CreateFile();
        log->Close();
        log->SetExclusive(false);
      }
      log->Open();
      trace_file_ = std::move(log);
    }
    const std::string line = text + "\r\n";
    trace_file_->Seek(0, 2);
    trace_file_->Write(line.data(), static_cast<std::int32_t>(line.size()));
  } catch (...) {
    trace_file_.reset();
  }
}

TMemoryFile* TFileHandler::RequireMemoryFile(std::uint16_t code) const {
  if (memory_file_ == nullptr) Fail(code);
  return memory_file_;
}

std::string TFileHandler::NormaliseFileName(std::string_view name) { return std::string(name); }

void TFileHandler::SetFlag(bool& flag, bool value) {
  if (flag != value && open_) Fail(Code(ErrorCode::kInUse));
  flag = value;
}

void TFileHandler::SetInMemory(bool in_memory) { SetFlag(in_memory_, in_memory); }
void TFileHandler::SetExclusive(bool exclusive) { SetFlag(exclusive_, exclusive); }
void TFileHandler::SetReadOnly(bool read_only) { SetFlag(read_only_, read_only); }

void TFileHandler::SetFileName(std::string_view name) {
  std::string normalised = NormaliseFileName(name);
  if (normalised != name_ && open_) Fail(Code(ErrorCode::kInUse));
  name_ = std::move(normalised);
}

void TFileHandler::Open() {
  if (open_) return;
  if (trace_) TraceLine("Open of file " + name_);
  forced_read_only_ = false;
  if (in_memory_) {
    fw::CriticalSectionGuard guard(EngineLock());
    TMemoryFile* file = nullptr;
    const std::int32_t handle =
        CurrentSession()->MemoryFiles().OpenMemoryFile(name_, &file, exclusive_);
    if (handle < 0) Fail(static_cast<std::uint16_t>(-handle));
    memory_file_ = file;
    handle_ = handle;
  } else {
    if (!platform::FileExists(name_)) Fail(Code(ErrorCode::kInvalidPath));
    bool attribute_read_only = false;
    if (!platform::GetReadOnly(name_, &attribute_read_only)) Fail(MapOSError(0));
    const bool asked_read_only = read_only_;
    if (attribute_read_only) {
      read_only_ = true;
      forced_read_only_ = true;
    }
    if (!file_.Open(name_, read_only_ ? platform::Access::Read : platform::Access::ReadWrite,
                    exclusive_ ? platform::Share::None : platform::Share::ReadWrite,
                    platform::Disposition::OpenExisting)) {
      const std::uint16_t code = MapOSError(0);
      // The attribute forces read only for an open that happens; a failed
      // one leaves the handle as the caller set it.
      read_only_ = asked_read_only;
      forced_read_only_ = false;
      Fail(code);
    }
  }
  position_ = 0;
  size_ = -1;
  open_ = true;
}

void TFileHandler::Close() {
  if (trace_) TraceLine("Close of file " + name_);
  if (in_memory_) {
    if (memory_file_ != nullptr) {
      fw::CriticalSectionGuard guard(EngineLock());
      memory_file_->CloseHandle(handle_);
    }
    memory_file_ = nullptr;
  } else {
    file_.Close();
  }
  position_ = 0;
  size_ = -1;
  handle_ = 0;
  open_ = false;
}

void TFileHandler::CreateFile() {
  if (open_) Fail(Code(ErrorCode::kInUse));
  if (!exclusive_) Fail(Code(ErrorCode::kMustBeExclusive));
  if (trace_) TraceLine("Creation of file " + name_);
  if (in_memory_) {
    fw::CriticalSectionGuard guard(EngineLock());
    TMemoryFile* file = nullptr;
    const std::int32_t handle = CurrentSession()->MemoryFiles().CreateMemoryFile(name_, &file);
    if (handle < 0) Fail(static_cast<std::uint16_t>(-handle));
    memory_file_ = file;
    handle_ = handle;
  } else {
    if (!file_.Open(name_, platform::Access::ReadWrite, platform::Share::None,
                    platform::Disposition::CreateAlways)) {
      Fail(MapOSError(0));
    }
  }
  position_ = 0;
  size_ = -1;
  open_ = true;
}

void TFileHandler::DeleteFile() {
  if (open_) Fail(Code(ErrorCode::kInUse));
  if (trace_) TraceLine("Deletion of file " + name_);
  bool done;
  if (in_memory_) {
    fw::CriticalSectionGuard guard(EngineLock());
    done = CurrentSession()->MemoryFiles().DeleteMemoryFile(name_);
  } else {
    done = platform::DeleteFile(name_);
  }
  if (!done) Fail(Code(ErrorCode::kCannotDelete));
}

void TFileHandler::RenameFile(std::string_view new_name) {
  if (open_) Fail(Code(ErrorCode::kInUse));
  std::string target = NormaliseFileName(new_name);
  if (trace_) TraceLine("Rename of file " + name_ + " to " + target);
  bool done;
  if (in_memory_) {
    fw::CriticalSectionGuard guard(EngineLock());
    done = CurrentSession()->MemoryFiles().RenameMemoryFile(name_, target);
  } else {
    done = platform::MoveFile(name_, target);
  }
  if (!done) Fail(Code(ErrorCode::kUnknownOSError));
  name_ = std::move(target);
}

void TFileHandler::CopyFile(std::string_view destination) {
  if (open_) Fail(Code(ErrorCode::kInUse));
  const std::string target = NormaliseFileName(destination);
  if (trace_) TraceLine("Copy of file " + name_ + " to " + target);
  if (in_memory_) {
    std::int32_t result;
    {
      fw::CriticalSectionGuard guard(EngineLock());
      result = CurrentSession()->MemoryFiles().CopyMemoryFile(name_, target);
    }
    if (result < 0) Fail(MapOSError(-result));
  } else {
    // The copy reports the OS error it met; map that one, not whatever the
    // thread's last error is by now.
    const int result = CopyDiskFile(name_, target);
    if (result < 0) Fail(MapOSCode(static_cast<std::uint32_t>(-static_cast<std::int64_t>(result))));
  }
}

std::int32_t TFileHandler::Read(void* buffer, std::int32_t n) {
  const std::int32_t got = ReadBytes(buffer, n);
  if (got < n && !exclusive_ && !short_read_allowed_) Fail(Code(ErrorCode::kReadError));
  return got;
}

std::int32_t TFileHandler::ReadAtMost(std::int64_t position, void* buffer, std::int32_t n) {
  Seek(position, 0);
  // Through slot 8 like every read, with its short-count rule lifted.
  struct Allow {
    bool& flag;
    explicit Allow(bool& f) : flag(f) { flag = true; }
    ~Allow() { flag = false; }
  } allow(short_read_allowed_);
  return Read(buffer, n);
}

std::int32_t TFileHandler::ReadBytes(void* buffer, std::int32_t n) {
  if (trace_) TraceLine("Read from file " + name_ + " of " + Num(n));
  const std::uint16_t kRead = Code(ErrorCode::kReadError);
  if (n < 0 || FaultHit(FaultSite::kRead)) Fail(kRead);
  std::int32_t got;
  if (in_memory_) {
    TMemoryFile* file = RequireMemoryFile(kRead);
    fw::CriticalSectionGuard guard(EngineLock());
    got = file->ReadAt(handle_, buffer, n);
  } else {
    std::uint32_t done = 0;
    const bool ok = file_.ReadAt(static_cast<std::uint64_t>(position_), buffer,
                                 static_cast<std::uint32_t>(n), &done);
    position_ += done;
    if (!ok) Fail(kRead);
    got = static_cast<std::int32_t>(done);
  }
  return got;
}

void TFileHandler::Write(const void* buffer, std::int32_t n) {
  if (trace_) TraceLine("Write to file " + name_ + " of " + Num(n));
  if (n < 0) Fail(Code(ErrorCode::kWriteError));
  if (FaultHit(FaultSite::kWrite)) {
    // A torn write: the first half reaches the file, then the error.
    if (n > 1) WriteBytes(buffer, n / 2);
    Fail(Code(ErrorCode::kWriteError));
  }
  WriteBytes(buffer, n);
}

void TFileHandler::WriteBytes(const void* buffer, std::int32_t n) {
  const std::uint16_t kWrite = Code(ErrorCode::kWriteError);
  if (in_memory_) {
    TMemoryFile* file = RequireMemoryFile(kWrite);
    // A disk file opened for reading refuses writes; so does a memory one.
    if (read_only_) Fail(kWrite);
    fw::CriticalSectionGuard guard(EngineLock());
    if (n == 0) {
      file->WriteAt(handle_, buffer, 0);
    } else if (file->WriteAt(handle_, buffer, n) < n) {
      Fail(kWrite);
    }
  } else if (n == 0) {
    if (!file_.SetSize(static_cast<std::uint64_t>(position_))) {
      size_ = -1;
      Fail(kWrite);
    }
    size_ = position_;
  } else {
    std::uint32_t done = 0;
    const bool ok = file_.WriteAt(static_cast<std::uint64_t>(position_), buffer,
                                  static_cast<std::uint32_t>(n), &done);
    position_ += done;
    if (!ok || done < static_cast<std::uint32_t>(n)) {
      size_ = -1;
      Fail(kWrite);
    }
    if (size_ >= 0 && position_ > size_) size_ = position_;
  }
}

void TFileHandler::Flush() {
  if (trace_) TraceLine("Flush to disk for file " + name_);
  if (in_memory_) return;
  if (!file_.Flush()) Fail(Code(ErrorCode::kWriteError));
}

std::int64_t TFileHandler::Seek(std::int64_t offset, int origin) {
  if (trace_) {
    TraceLine("Seek in file " + name_ + " from " + Num(origin) + " to position " + Num(offset));
  }
  std::int64_t position;
  if (in_memory_) {
    TMemoryFile* file = RequireMemoryFile(Code(ErrorCode::kInvalidFileHandle));
    fw::CriticalSectionGuard guard(EngineLock());
    position = file->SeekHandle(handle_, offset, origin);
  } else {
    if (!file_.IsOpen()) Fail(Code(ErrorCode::kInvalidFileHandle));
    switch (origin) {
      case 0:
        position = offset;
        break;
      case 1:
        position = position_ + offset;
        break;
      case 2:
        position = DiskSize() + offset;
        break;
      default:
        position = -1;
    }
    if (position >= 0) position_ = position;
  }
  if (position < 0) Fail(Code(ErrorCode::kUnknownOSError));
  return position;
}

std::int64_t TFileHandler::GetFileSize() {
  if (trace_) TraceLine("Get size of file " + name_);
  const bool trace = trace_;
  trace_ = false;  // one line for the whole operation
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{trace_, trace};
  return Seek(0, 2);
}

std::int64_t TFileHandler::DiskSize() {
  // No other handle can change an exclusively opened file, so its size is
  // read once and then kept by Write. A shared file may grow or shrink under
  // other programs at any time: its size is asked for every time.
  if (exclusive_ && size_ >= 0) return size_;
  const std::int64_t size = file_.Size();
  if (size < 0) Fail(Code(ErrorCode::kUnknownOSError));
  size_ = size;
  return size;
}

bool TFileHandler::LockRange(std::int64_t offset, std::int64_t length, bool lock) {
  if (exclusive_) return true;
  if (trace_) {
    TraceLine(std::string(lock ? "Lock" : "Unlock") + " in file " + name_ + " from position " +
              Num(offset) + " for " + Num(length));
  }
  if (in_memory_) {
    if (memory_file_ == nullptr) return false;
    fw::CriticalSectionGuard guard(EngineLock());
    return lock ? memory_file_->LockMemoryRange(handle_, offset, length)
                : memory_file_->UnlockMemoryRange(handle_, offset, length);
  }
  if (offset < 0 || length < 0) return false;
  return lock ? file_.LockFile(static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(length))
              : file_.UnlockFile(static_cast<std::uint64_t>(offset),
                                 static_cast<std::uint64_t>(length));
}

bool TFileHandler::MapView(std::int64_t position, std::int32_t n, platform::FileView& view) {
  view.Reset();
  if (!open_ || in_memory_ || trace_ || position < 0 || n <= 0) return false;
  if (FaultHit(FaultSite::kRead)) Fail(Code(ErrorCode::kReadError));
  return file_.MapView(static_cast<std::uint64_t>(position), static_cast<std::size_t>(n), view);
}

const std::uint8_t* TFileHandler::MappedHead(std::size_t n) {
  if (!open_ || in_memory_) return nullptr;
  return file_.MapHead(n);
}

bool TFileHandler::FileExists() {
  if (trace_) TraceLine("File exists test for file " + name_);
  if (in_memory_) {
    fw::CriticalSectionGuard guard(EngineLock());
    return CurrentSession()->MemoryFiles().MemoryFileExists(name_);
  }
  return platform::FileExists(name_);
}

std::int32_t TFileHandler::ReadAt(std::int64_t position, void* buffer, std::int32_t n) {
  Seek(position, 0);
  return Read(buffer, n);
}

void TFileHandler::WriteAt(std::int64_t position, const void* buffer, std::int32_t n) {
  Seek(position, 0);
  Write(buffer, n);
}

}  // namespace storage
