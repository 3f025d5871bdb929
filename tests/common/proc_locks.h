// The open-file-description locks the kernel lists in /proc/locks for one
// file, as (type, first byte, last byte) with type "READ" or "WRITE",
// sorted: an oracle of which byte ranges a program really holds.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace testsupport {

using KernelLock = std::tuple<std::string, std::uint64_t, std::uint64_t>;

inline std::vector<KernelLock> KernelLocksOnce(const std::string& file_id) {
  std::vector<KernelLock> out;
  const int fd = ::open("/proc/locks", O_RDONLY);
  if (fd < 0) return out;
  std::string text;
  char chunk[1 << 16];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<std::size_t>(n));
  ::close(fd);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream is(line);
    std::string id, kind, mode, type, pid, file, start, end;
    is >> id >> kind;
    if (kind == "->") is >> kind;  // a blocked waiter
    is >> mode >> type >> pid >> file >> start >> end;
    if (kind == "OFDLCK" && file == file_id)
      out.emplace_back(type, std::stoull(start), end == "EOF" ? ~0ull : std::stoull(end));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The kernel builds the listing page by page while other processes take and
// drop locks, so one pass can repeat or skip lines around ours: read until
// the listing equals want. Under a heavy load the listing can also lag a
// handle another process has just closed: a listing that differs from want
// is read again for up to two seconds before it is returned.
inline std::vector<KernelLock> KernelLocks(const std::string& path, const std::vector<KernelLock>& want) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::vector<KernelLock> last = KernelLocksOnce(id);
  while (last != want && std::chrono::steady_clock::now() < give_up) {
    ::sched_yield();
    last = KernelLocksOnce(id);
  }
  return last;
}

}  // namespace testsupport
