#include "cgi/upload_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace cgi {

namespace {

// Folders this process has stored uploads in, as open descriptors + 1 (0 =
// an empty slot). Filled once each and never closed, so that the SIGTERM
// handler can read them at any moment; zero-initialised before any code
// runs.
std::atomic<int> g_folder_fds[kMaxUploadFolders];
static_assert(std::atomic<int>::is_always_lock_free);

std::mutex g_mutex;
// Never destroyed: a request may still end while static objects are torn
// down.
std::vector<std::string>& PreparedFolders() {  // GUARDED_BY(g_mutex)
  static auto* folders = new std::vector<std::string>;
  return *folders;
}
int g_folder_count = 0;    // GUARDED_BY(g_mutex)
int g_users = 0;           // requests holding upload files; GUARDED_BY(g_mutex)
bool g_installed = false;  // the SIGTERM handler was put in place by us; GUARDED_BY(g_mutex)

// Writes the decimal digits of v (> 0) to out; returns their count.
// Async-signal-safe.
int FormatDecimal(long v, char* out) {
  char digits[24];
  int n = 0;
  while (v > 0 && n < 24) {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// Calls visit(dir, name) for every entry of the folder dir_fd, through a
// descriptor of its own (so that its reading position is not shared).
// Async-signal-safe when visit is.
template <typename Visit>
void ForEachEntry(int dir_fd, Visit visit) {
  const int fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buffer[4096];
  for (;;) {
    const ssize_t n = ::getdents64(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      visit(fd, entry->d_name);
      at += entry->d_reclen;
    }
  }
  ::close(fd);
}

bool HasPrefix(const char* name, const char* prefix, std::size_t length) {
  return std::strncmp(name, prefix, length) == 0;
}

// The pid of a name "upload-<pid>-XXXXXX", or 0 for any other name.
pid_t PidOfUploadName(const char* name) {
  const std::size_t prefix = sizeof(kUploadFilePrefix) - 1;
  if (!HasPrefix(name, kUploadFilePrefix, prefix)) return 0;
  const char* p = name + prefix;
  long pid = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == 10) return 0;
    pid = pid * 10 + (*p - '0');
  }
  if (digits == 0 || *p != '-' || std::strlen(p + 1) != 6 || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

// Removes the upload files of programs that no longer run.
void Sweep(int dir_fd) {
  const pid_t self = ::getpid();
  ForEachEntry(dir_fd, [self](int fd, const char* name) {
    const pid_t pid = PidOfUploadName(name);
    if (pid == 0 || pid == self) return;
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlinkat(fd, name, 0);
  });
}

void OnTerminate(int signal_number) {
  const int saved_errno = errno;
  RemoveUploadFilesOfThisProcess();
  // Then what the default action does: end the process by this signal. It
  // is blocked while this handler runs, so it is delivered as the handler
  // returns.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

bool IsOurHandler(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == OnTerminate;
}

bool IsDefault(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

}  // namespace

std::string PrepareUploadFolder(const std::string& folder) {
  std::string result = folder.empty() ? std::string("./") : folder;
  if (result.back() != '/') result.push_back('/');
  result += kUploadFilePrefix + std::to_string(::getpid()) + "-XXXXXX";
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& f : PreparedFolders()) {
      if (f == folder) return result;
    }
  }
  // Opened and swept outside the lock; two threads that both get here for
  // one folder sweep it twice, which is harmless, and the second closes
  // its descriptor below.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return result;  // storing the file fails too, and says so
  Sweep(fd);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string& f : PreparedFolders()) {
    if (f == folder) {
      ::close(fd);
      return result;
    }
  }
  PreparedFolders().push_back(folder);
  if (g_folder_count < kMaxUploadFolders) {
    g_folder_fds[g_folder_count++].store(fd + 1);
  } else {
    ::close(fd);  // left to the sweep
  }
  return result;
}

TUploadFilesInUse::TUploadFilesInUse() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_users++ > 0) return;
  struct sigaction current {};
  if (::sigaction(SIGTERM, nullptr, &current) != 0 || !IsDefault(current)) return;
  struct sigaction ours {};
  ours.sa_handler = OnTerminate;
  sigfillset(&ours.sa_mask);
  ours.sa_flags = SA_RESTART;
  g_installed = ::sigaction(SIGTERM, &ours, nullptr) == 0;
}

TUploadFilesInUse::~TUploadFilesInUse() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (--g_users > 0 || !g_installed) return;
  g_installed = false;
  // A handler the program installed meanwhile stays. (Between this look
  // and the change below the program could still install one; a program
  // that sets its handler while requests run on other threads has that
  // race with any code that touches SIGTERM.)
  struct sigaction current {};
  if (::sigaction(SIGTERM, nullptr, &current) != 0 || !IsOurHandler(current)) return;
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(SIGTERM, &default_action, nullptr);
}

void RemoveUploadFilesOfThisProcess() noexcept {
  // "upload-<pid>-"
  char prefix[sizeof(kUploadFilePrefix) + 24];
  std::size_t length = sizeof(kUploadFilePrefix) - 1;
  std::memcpy(prefix, kUploadFilePrefix, length);
  length += static_cast<std::size_t>(FormatDecimal(::getpid(), prefix + length));
  prefix[length++] = '-';
  for (std::atomic<int>& slot : g_folder_fds) {
    const int dir_fd = slot.load() - 1;
    if (dir_fd < 0) continue;
    // Entries removed while a folder is read may shift others past the
    // reading position: read again until a pass removes nothing.
    for (int pass = 0; pass < 4; ++pass) {
      bool removed = false;
      ForEachEntry(dir_fd, [&](int fd, const char* name) {
        if (HasPrefix(name, prefix, length) && ::unlinkat(fd, name, 0) == 0) removed = true;
      });
      if (!removed) break;
    }
  }
}

}  // namespace cgi
