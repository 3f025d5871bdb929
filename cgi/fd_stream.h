// A framework stream over an open file descriptor (the CGI program's
// standard input and output, or a connection's socket). Reads and writes go
// straight to the descriptor; a read returns 0 at the end of input and -1
// on an error. The stream cannot seek; it does not close the descriptor.
//
// A write to a client that has gone away (a pipe or socket whose reader
// closed it) is an error like any other: Write returns -1 with errno EPIPE,
// the engine ends the request, and the program goes on. It never raises a
// SIGPIPE that would end the process, and it leaves the program's own
// handling of SIGPIPE alone: a socket is written with MSG_NOSIGNAL; any
// other descriptor is written with SIGPIPE blocked in the calling thread
// for the call, and a SIGPIPE that the write raised is taken back before
// the thread's signal mask is restored (one that was pending before the
// write stays pending).
#pragma once

#include "framework/streams.h"

namespace cgi {

class TFdStream : public fw::TStream {
 public:
  explicit TFdStream(int fd);
  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Writes all count bytes (retrying short writes); -1 on an error, or the
  // count written before it.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Only asks for the position, which is the count of bytes moved so far.
  std::int64_t Seek(std::int64_t offset, fw::TSeekOrigin origin) override;
  void SetSize(std::int64_t new_size) override;
  std::int64_t Size() override { return position_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  bool socket_;
  std::int64_t position_ = 0;
};

}  // namespace cgi
