// Shared pieces of the locking tests: the documented lock ranges (the
// tests' own copy, which the engine's must match), a child process on
// pipes, the locks /proc/locks shows on a file, and a fixture that makes
// small tables.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/lock_guards.h"
#include "storage/session.h"

namespace storage::locktest {

constexpr std::int64_t kSemaphore = 0x7FFFFFFF;
constexpr std::int64_t kRecordTop = 0x7FFFFFFE;
constexpr std::int64_t kTableStart = 2047483646;
constexpr std::int64_t kTableLength = 100000000;
constexpr std::int64_t kWriteStart = 0x7FFF0000;  // index and BLOB files
constexpr std::int64_t kWriteLength = 65535;
constexpr std::int64_t kReadTop = 0x7FFFFFFF;  // read byte r: this - r

// The engine code f raised; 0 when it raised nothing.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A child process that talks with the parent over two pipes, one byte per
// message. The child runs body and exits with its result (99 when it
// threw); it never returns into the test framework. A child still running
// when its Peer goes is killed.
class Peer {
 public:
  explicit Peer(const std::function<int(Peer&)>& body) {
    int down[2];
    int up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      child_ = true;
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
    if (pid_ > 0 && !reaped_) Kill();
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  [[nodiscard]] bool Started() const { return pid_ > 0; }
  [[nodiscard]] pid_t Pid() const { return pid_; }

  void Send(char c) const {
    if (write(out_, &c, 1) != 1) {
      // The other side is gone; its exit status tells.
    }
  }
  // The next byte from the other side; 0 on timeout or when it is gone.
  [[nodiscard]] char Receive(int timeout_ms = 60000) const {
    pollfd p{in_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return 0;
    char c = 0;
    return read(in_, &c, 1) == 1 ? c : 0;
  }
  // Waits for the child (bounded): its exit code, -1 when it did not exit
  // normally within the time.
  int Wait(int timeout_ms = 60000) {
    if (pid_ <= 0 || reaped_) return -1;
    const auto t0 = std::chrono::steady_clock::now();
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (SecondsSince(t0) * 1000 > timeout_ms) {
        Kill();
        return -1;
      }
      usleep(2000);
    }
  }
  void Kill() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
  }

 private:
  pid_t pid_ = -1;
  bool child_ = false;
  bool reaped_ = false;
  int in_ = -1;
  int out_ = -1;
};

struct HeldRange {
  std::int64_t start = 0;
  std::int64_t length = 0;
  bool operator<(const HeldRange& o) const {
    return start != o.start ? start < o.start : length < o.length;
  }
  bool operator==(const HeldRange& o) const = default;
};

// Every open-file-description lock on path's file (any process) below the
// platform's reserved sharing area, from one read of /proc/locks.
// One snapshot: /proc/locks read to its end.
inline std::multiset<HeldRange> ProcLocksOnce(const struct stat& st) {
  std::multiset<HeldRange> out;
  const int fd = ::open("/proc/locks", O_RDONLY);
  if (fd < 0) return out;
  std::string text;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::istringstream all(text);
  std::string line;
  while (std::getline(all, line)) {
    if (line.find("->") != std::string::npos) continue;  // a waiter
    std::istringstream in(line);
    std::string id, kind, mode, access, pid, where, start, end;
    if (!(in >> id >> kind >> mode >> access >> pid >> where >> start >> end)) continue;
    if (kind != "OFDLCK") continue;
    unsigned major_no = 0;
    unsigned minor_no = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major_no, &minor_no, &inode) != 3) continue;
    if (major_no != major(st.st_dev) || minor_no != minor(st.st_dev) || inode != st.st_ino) continue;
    if (end == "EOF") continue;
    const std::int64_t s = std::stoll(start);
    const std::int64_t e = std::stoll(end);
    if (s >= (std::int64_t{1} << 62)) continue;  // the sharing scheme's own
    out.insert({s, e - s + 1});
  }
  return out;
}

// The locks on the file as the kernel reports them. The kernel builds the
// listing page by page while other processes (other tests running at the
// same time) take and drop locks, so one read can repeat or skip lines:
// reads are repeated until two in a row agree. The locks of the file under
// test only change when the test changes them, so a stable pair is the
// truth.
inline std::multiset<HeldRange> ProcLocks(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  std::multiset<HeldRange> last = ProcLocksOnce(st);
  for (int i = 0; i < 200; ++i) {
    std::multiset<HeldRange> next = ProcLocksOnce(st);
    if (next == last) return next;
    last = std::move(next);
  }
  return last;
}

inline std::multiset<HeldRange> Ranges(std::initializer_list<HeldRange> r) { return {r}; }

// A table of three fields (Id integer, Text string, optionally Memo BLOB)
// with a primary key on Id, in a fresh directory.
class LockTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_lock_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  [[nodiscard]] std::string Path(const std::string& leaf) const { return dir_ + "/" + leaf; }
  [[nodiscard]] std::string Table() const { return Path("T"); }

  static TFieldDescriptor Field(std::uint16_t number, const std::string& name, FieldType type,
                                std::uint8_t size = 0) {
    TFieldDescriptor f;
    f.FieldNumber = number;
    f.Name.Assign(name);
    f.FieldType = TypeCode(type);
    f.Size = size;
    return f;
  }

  void CreateTable(bool with_blob) {
    DataTableDefinition def;
    def.creator1 = 1;
    def.fields = {Field(1, "Id", FieldType::kInteger), Field(2, "Text", FieldType::kString, 20)};
    if (with_blob) def.fields.push_back(Field(3, "Memo", FieldType::kBlob));
    def.primary.FieldNumbers[0] = 1;
    TDataFile t;
    t.SetFileName(Table());
    t.SetExclusive(true);
    t.CreateDataTable(def);
  }

  // A shared (or exclusive) open of the table with the given retry rule.
  [[nodiscard]] std::unique_ptr<TDataFile> Open(std::uint8_t retries = 15,
                                                std::uint16_t wait_ms = 100,
                                                bool exclusive = false) const {
    auto t = std::make_unique<TDataFile>();
    t->SetFileName(Table());
    t->SetExclusive(exclusive);
    t->SetLockRetryCount(retries);
    t->SetLockWaitTime(wait_ms);
    t->Open();
    return t;
  }

  std::string dir_;
};

}  // namespace storage::locktest
