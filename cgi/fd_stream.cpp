#include "cgi/fd_stream.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "framework/exceptions.h"

namespace cgi {

namespace {

bool IsSocket(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// write() with SIGPIPE blocked in this thread. A SIGPIPE for a broken pipe
// is sent to the writing thread, so while it is blocked it stays pending
// here and sigtimedwait takes it back; one that was pending before the
// write belongs to someone else and is left for the restored mask.
ssize_t WriteWithoutSigpipe(int fd, const void* buffer, std::size_t count) {
  sigset_t sigpipe;
  sigemptyset(&sigpipe);
  sigaddset(&sigpipe, SIGPIPE);
  sigset_t old_mask;
  pthread_sigmask(SIG_BLOCK, &sigpipe, &old_mask);
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t n = ::write(fd, buffer, count);
  const int write_errno = errno;
  if (n < 0 && write_errno == EPIPE && !was_pending) {
    const struct timespec no_wait {};
    while (sigtimedwait(&sigpipe, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = write_errno;
  return n;
}

}  // namespace

TFdStream::TFdStream(int fd) : fd_(fd), socket_(IsSocket(fd)) {}

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
    const std::size_t left = static_cast<std::size_t>(count - done);
    const ssize_t n = socket_ ? ::send(fd_, p + done, left, MSG_NOSIGNAL) : WriteWithoutSigpipe(fd_, p + done, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      position_ += done;
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
