// Shared pieces of the locking tests: the documented lock ranges (the
// tests' own copy, which the engine's must match), a child process on
// pipes, the locks /proc/locks shows on a file, and a fixture that makes
// a small table.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "storage/lock_guards.h"
#include "tests/common/proc_locks.h"
#include "tests/storage/data_file_test_support.h"

namespace storage::locktest {

constexpr std::int64_t kSemaphore = 0x7FFFFFFF;
constexpr std::int64_t kRecordTop = 0x7FFFFFFE;  // record n: this - n
constexpr std::int64_t kTableStart = 2047483646;
constexpr std::int64_t kTableLength = 100000000;
constexpr std::int64_t kWriteStart = 0x7FFF0000;  // index and BLOB files
constexpr std::int64_t kWriteLength = 65535;
constexpr std::int64_t kReadTop = 0x7FFFFFFF;  // read byte r: this - r

using datatest::CodeOf;

// A child process that talks with the parent over two pipes, one byte per
// message. The child runs body and exits with its result (99 when it
// threw); it never returns into the test framework. A child still running
// when its Peer goes is killed; a dead child answers 0 (SIGPIPE is
// ignored), so that a crash fails the test instead of ending it.
class Peer {
 public:
  explicit Peer(const std::function<int(Peer&)>& body) {
    ::signal(SIGPIPE, SIG_IGN);
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(down[1]);
      close(up[0]);
      in_ = down[0];
      out_ = up[1];
      int rc = 99;
      try {
        rc = body(*this);
      } catch (...) {
      }
      _exit(rc);
    }
    close(down[0]);
    close(up[1]);
    in_ = up[0];
    out_ = down[1];
  }
  ~Peer() {
    Kill();
    close(in_);
    close(out_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  [[nodiscard]] bool Started() const { return pid_ > 0; }
  void Send(char c) const { (void)!write(out_, &c, 1); }
  // The next byte from the other side; 0 when it is gone or after a minute.
  [[nodiscard]] char Receive(int timeout_ms = 60000) const {
    pollfd p{in_, POLLIN, 0};
    char c = 0;
    return poll(&p, 1, timeout_ms) == 1 && read(in_, &c, 1) == 1 ? c : 0;
  }
  // The child's exit code once it ends; -1 when it did not exit normally.
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
};

struct HeldRange {
  std::int64_t start = 0, length = 0;
  auto operator<=>(const HeldRange&) const = default;
};

// The open-file-description locks on path's file (any process) below the
// platform's reserved sharing area. The kernel builds the listing while
// other processes take and drop locks, so it is read until two readings in
// a row agree: the locks of the file under test only change when the test
// changes them.
inline std::multiset<HeldRange> ProcLocks(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  auto once = [&] {
    std::multiset<HeldRange> out;
    for (const auto& [type, first, last] : testsupport::KernelLocksOnce(id))
      if (first < (std::uint64_t{1} << 62) && last != ~0ull)
        out.insert({static_cast<std::int64_t>(first), static_cast<std::int64_t>(last - first + 1)});
    return out;
  };
  std::multiset<HeldRange> last = once();
  for (int i = 0; i < 200; ++i) {
    std::multiset<HeldRange> next = once();
    if (next == last) break;
    last = std::move(next);
  }
  return last;
}

inline std::multiset<HeldRange> Ranges(std::initializer_list<HeldRange> r) { return {r}; }

// A table T of three fields (Id integer, Text string, optionally Memo BLOB)
// with a primary key on Id.
class LockTestBase : public datatest::DataFileTestBase {
 protected:
  [[nodiscard]] std::string Table() const { return Path("T"); }

  void CreateTable(bool with_blob) {
    DataTableDefinition def = Definition({datatest::Field(1, "Id", FieldType::kInteger),
                                          datatest::Field(2, "Text", FieldType::kString, 20)});
    if (with_blob) def.fields.push_back(datatest::Field(3, "Memo", FieldType::kBlob));
    Create(Table(), def);
  }

  // A shared (or exclusive) open of the table with the given retry rule.
  [[nodiscard]] std::unique_ptr<TDataFile> Open(std::uint8_t retries = 15, std::uint16_t wait_ms = 100,
                                                bool exclusive = false) const {
    auto t = std::make_unique<TDataFile>();
    t->SetFileName(Table());
    t->SetExclusive(exclusive);
    t->SetLockRetryCount(retries);
    t->SetLockWaitTime(wait_ms);
    t->Open();
    return t;
  }
};

}  // namespace storage::locktest
