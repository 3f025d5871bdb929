// A framework stream over an open file descriptor (the CGI program's
// standard input and output). Reads and writes go straight to the
// descriptor; a read returns 0 at the end of input and -1 on an error. The
// stream cannot seek; it does not close the descriptor.
#pragma once

#include "framework/streams.h"

namespace cgi {

class TFdStream : public fw::TStream {
 public:
  explicit TFdStream(int fd) : fd_(fd) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Writes all count bytes (retrying short writes); -1 on an error.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Only asks for the position, which is the count of bytes moved so far.
  std::int64_t Seek(std::int64_t offset, fw::TSeekOrigin origin) override;
  void SetSize(std::int64_t new_size) override;
  std::int64_t Size() override { return position_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  std::int64_t position_ = 0;
};

}  // namespace cgi
