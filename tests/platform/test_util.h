// Helpers for the platform tests: a scratch directory and a child process
// that runs file commands sent over a pipe.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file.h"

namespace platform_test {

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/platform_test.XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~ScratchDir() {
    std::error_code ec;
    // Read-only files under the directory must not stop the clean-up.
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// A forked process holding its own platform::File handles, driven by text
// commands, one per line; each reply is "ok" or "err <code>":
//   open <slot> <path> <r|rw> <none|rw> <existing|always|new>
//   lock <slot> <offset> <length>      unlock <slot> <offset> <length>
//   close <slot>    delete <path>    move <from> <to>
//   ro   (open read handles on read-only descriptors from now on)
class Child {
 public:
  Child() {
    signal(SIGPIPE, SIG_IGN);  // a dead child must fail the test, not kill it
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) std::abort();
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(to_child[1]);
      close(from_child[0]);
      Serve(to_child[0], from_child[1]);
      _exit(0);
    }
    close(to_child[0]);
    close(from_child[1]);
    out_ = to_child[1];
    in_ = from_child[0];
  }
  ~Child() {
    if (pid_ > 0) {
      Do("exit");
      close(out_);
      close(in_);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  // Sends one command and waits for its reply.
  std::string Do(const std::string& command) {
    const std::string line = command + "\n";
    if (write(out_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "dead";
    std::string reply;
    char c;
    while (read(in_, &c, 1) == 1 && c != '\n') reply += c;
    return reply;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    close(out_);
    close(in_);
    pid_ = -1;
  }

 private:
  static void Serve(int in, int out) {
    std::map<int, platform::File> files;
    std::string line;
    char c;
    for (;;) {
      line.clear();
      while (read(in, &c, 1) == 1 && c != '\n') line += c;
      if (line.empty() || line == "exit") return;
      std::istringstream is(line);
      std::string cmd;
      is >> cmd;
      bool ok = false;
      if (cmd == "open") {
        int slot;
        std::string path, acc, share, disp;
        is >> slot >> path >> acc >> share >> disp;
        ok = files[slot].Open(path, acc == "rw" ? platform::Access::ReadWrite : platform::Access::Read,
                              share == "none" ? platform::Share::None : platform::Share::ReadWrite,
                              disp == "always" ? platform::Disposition::CreateAlways
                              : disp == "new"  ? platform::Disposition::CreateNew
                                               : platform::Disposition::OpenExisting);
      } else if (cmd == "lock" || cmd == "unlock") {
        int slot;
        std::uint64_t off, len;
        is >> slot >> off >> len;
        ok = cmd == "lock" ? files[slot].LockFile(off, len) : files[slot].UnlockFile(off, len);
      } else if (cmd == "close") {
        int slot;
        is >> slot;
        files[slot].Close();
        ok = true;
      } else if (cmd == "delete") {
        std::string path;
        is >> path;
        ok = platform::DeleteFile(path);
      } else if (cmd == "move") {
        std::string from, to;
        is >> from >> to;
        ok = platform::MoveFile(from, to);
      } else if (cmd == "ro") {
        platform::internal::SetPreferReadOnlyDescriptors(true);
        ok = true;
      }
      const std::string reply =
          ok ? "ok\n" : "err " + std::to_string(platform::GetLastError()) + "\n";
      if (write(out, reply.data(), reply.size()) < 0) return;
    }
  }

  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
};

// OFD locks the kernel reports in /proc/locks for one file (device and
// inode), as (type, first byte, last byte) with type "READ" or "WRITE".
// The kernel builds the listing page by page while other processes take and
// drop locks, so one pass can repeat or skip lines of other files' locks
// around ours: the file is read to its end repeatedly until two passes in a
// row agree (the locks of the file under test change only when the test
// changes them).
using KernelLock = std::tuple<std::string, std::uint64_t, std::uint64_t>;
inline std::vector<KernelLock> KernelLocksOnce(const std::string& dev) {
  std::vector<KernelLock> out;
  const int fd = open("/proc/locks", O_RDONLY);
  if (fd < 0) return out;
  std::string text;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream is(line);
    std::string id, kind, mode, type, pid, file, start, end;
    is >> id >> kind;
    if (kind == "->") is >> kind;  // a blocked waiter
    is >> mode >> type >> pid >> file >> start >> end;
    if (kind != "OFDLCK" || file != dev) continue;
    out.emplace_back(type, std::stoull(start), end == "EOF" ? ~0ull : std::stoull(end));
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline std::vector<KernelLock> KernelLocks(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  char dev[64];
  std::snprintf(dev, sizeof dev, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::vector<KernelLock> last = KernelLocksOnce(dev);
  for (int i = 0; i < 200; ++i) {
    std::vector<KernelLock> next = KernelLocksOnce(dev);
    if (next == last) return next;
    last = std::move(next);
  }
  return last;
}

// KernelLocks once it equals want, waiting up to about two seconds: under a
// heavily loaded machine the kernel's listing can lag a handle that another
// process has just opened or closed.
inline std::vector<KernelLock> KernelLocksSettled(const std::string& path,
                                                  const std::vector<KernelLock>& want) {
  std::vector<KernelLock> got = KernelLocks(path);
  for (int i = 0; i < 200 && got != want; ++i) {
    usleep(10 * 1000);
    got = KernelLocks(path);
  }
  return got;
}

}  // namespace platform_test
