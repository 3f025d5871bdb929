#include "cgi/fd_stream.h"

#include <cerrno>
#include <unistd.h>

#include "framework/exceptions.h"

namespace cgi {

std::int64_t TFdStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, static_cast<std::size_t>(count));
    if (n >= 0) {
      position_ += n;
      return n;
    }
    if (errno != EINTR) return -1;
  }
}

std::int64_t TFdStream::Write(const void* buffer, std::int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, static_cast<std::size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    done += n;
  }
  position_ += done;
  return done;
}

std::int64_t TFdStream::Seek(std::int64_t offset, fw::TSeekOrigin origin) {
  if (offset == 0 && origin == fw::TSeekOrigin::soCurrent) return position_;
  throw fw::EStreamError("Stream cannot seek");
}

void TFdStream::SetSize(std::int64_t) { throw fw::EStreamError("Stream cannot change its size"); }

}  // namespace cgi
