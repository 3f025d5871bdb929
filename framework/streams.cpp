// Streams of the class framework.
//
// Positions: both stream kinds keep a position that may lie beyond the end
// (a write there extends the stream, the gap reading as zero bytes); a seek
// to a negative position is refused: the position stays and Seek returns -1.
//
// File streams sit directly on POSIX descriptors. The share-mode bits of the
// open mode are accepted and ignored: exclusive sharing between handles is
// the business of platform::File, which the table engine uses.
#include "framework/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/file.h"

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const std::int64_t result = count;
  constexpr std::int64_t kMaxBufSize = 0xF000;
  std::vector<std::byte> buffer(static_cast<std::size_t>(std::min(count, kMaxBufSize)));
  while (count > 0) {
    std::int64_t n = std::min(count, kMaxBufSize);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return result;
}

// ---------------------------------------------------------------------------
// TMemoryStream

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  std::int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ > INT64_MAX - count) return 0;
  const std::int64_t end = position_ + count;
  if (end > Size()) SetSize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = position_; break;
    case TSeekOrigin::soEnd: base = Size(); break;
  }
  if ((offset > 0 && base > INT64_MAX - offset)) return -1;
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t new_size) {
  if (new_size < 0) new_size = 0;
  if (static_cast<std::uint64_t>(new_size) > data_.max_size()) throw EOutOfMemory("Out of memory");
  try {
    data_.resize(static_cast<std::size_t>(new_size));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory");
  } catch (const std::length_error&) {
    throw EOutOfMemory("Out of memory");
  }
  if (position_ > new_size) position_ = new_size;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t count = source.Size();
  SetSize(count);
  if (count != 0) source.ReadBuffer(data_.data(), count);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream stream(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (!data_.empty()) dest.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& file_name) {
  TFileStream stream(file_name, fmCreate);
  SaveToStream(stream);
}

// ---------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& file_name, std::uint32_t mode) : file_name_(file_name) {
  // Names as the program keeps them: '\' or '/', any letter case.
  const std::string path = platform::ResolvePath(file_name);
  if (mode == fmCreate) {
    do {
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw EFCreateError("Cannot create file " + NativeFileName(file_name));
    return;
  }
  int flags = O_CLOEXEC;
  switch (mode & 0x3) {
    case fmOpenRead: flags |= O_RDONLY; break;
    case fmOpenWrite: flags |= O_WRONLY; break;
    default: flags |= O_RDWR; break;
  }
  do {
    fd_ = ::open(path.c_str(), flags);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ >= 0) {
    struct stat st;
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  if (fd_ < 0) throw EFOpenError("Cannot open file " + NativeFileName(file_name));
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    ssize_t n = ::read(fd_, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    ssize_t n = ::write(fd_, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::soEnd) whence = SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

void TFileStream::SetSize(std::int64_t new_size) {
  if (new_size < 0) new_size = 0;
  const std::int64_t pos = Position();
  int r;
  do {
    r = ::ftruncate(fd_, static_cast<off_t>(new_size));
  } while (r != 0 && errno == EINTR);
  if (r != 0) throw EWriteError("Stream write error");
  if (pos > new_size) Seek(new_size, TSeekOrigin::soBeginning);
}

}  // namespace fw
