#include "cgi/session_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "cgi/blowfish.h"
#include "cgi/request_parser.h"
#include "framework/exceptions.h"

namespace cgi {

namespace {

// The list, the lock and the main thread's session are never destroyed: the
// engine's end-of-run processing saves the session after main has returned,
// when ordinary static and thread-local objects may already be gone.
std::map<std::string, TSessionData>& SessionList() {
  static auto* list = new std::map<std::string, TSessionData>;
  return *list;
}

const std::thread::id g_main_thread = std::this_thread::get_id();
TThreadSession* g_main_session = nullptr;
thread_local TThreadSession* t_session = nullptr;

struct TSessionReaper {
  bool armed = false;
  ~TSessionReaper() {
    if (t_session != nullptr && t_session != g_main_session) {
      delete t_session;
      t_session = nullptr;
    }
  }
};
thread_local TSessionReaper t_session_reaper;

// REQUIRES: SessionLock() is held.
TSessionData* FindSession(const std::string& key) {
  if (key.empty()) return nullptr;
  auto it = SessionList().find(key);
  return it == SessionList().end() ? nullptr : &it->second;
}

// REQUIRES: SessionLock() is held.
bool Expired(const TSessionData& s) {
  return s.expiry > 0 && static_cast<std::int64_t>(std::time(nullptr)) > s.expiry;
}

bool ValidLine(const std::string& line) {
  const std::size_t eq = line.find('=');
  return eq != std::string::npos && IsValidFieldName(std::string_view(line).substr(0, eq));
}

// Reads a whole file of at most kMaxSessionFileSize bytes.
bool ReadSmallFile(const std::string& file_name, std::string& data, std::int64_t& mtime) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSessionFileSize;
  if (ok) {
    mtime = st.st_mtim.tv_sec;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
      } else {
        done += static_cast<std::size_t>(n);
      }
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

fw::TCriticalSection& SessionLock() {
  static auto* lock = new fw::TCriticalSection;
  return *lock;
}

TThreadSession& ThreadSession() {
  if (t_session == nullptr) {
    t_session = new TThreadSession;
    if (std::this_thread::get_id() == g_main_thread) {
      g_main_session = t_session;
    } else {
      t_session_reaper.armed = true;  // the first use makes this thread's reaper
    }
  }
  return *t_session;
}

bool LoadSessionFile(const std::string& file_name, const std::string& encryption_key,
                     std::vector<std::string>& variables, std::int64_t& expiry) {
  variables.clear();
  expiry = 0;
  std::string data;
  std::int64_t mtime = 0;
  if (!ReadSmallFile(file_name, data, mtime)) return false;
  if (!data.empty() && data.back() != '\0') return false;  // cut short
  TBlowfish cipher(encryption_key);
  std::string record;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t end = data.find('\0', pos);
    if (!UrlDecode(std::string_view(data).substr(pos, end - pos), record, TDecodeMode::kBinary)) {
      variables.clear();
      return false;
    }
    std::string plain = BlowfishDecryptString(cipher, record);
    const bool good = !plain.empty() && plain[0] == '\x01' && ValidLine(plain.substr(1));
    if (good) variables.push_back(plain.substr(1));
    SecureWipe(plain);
    if (!good) {
      variables.clear();
      return false;
    }
    pos = end + 1;
  }
  expiry = mtime;
  return true;
}

bool OpenLiveSession(const std::string& key, const std::string& file_name, const std::string& encryption_key) {
  TThreadSession& ts = ThreadSession();
  ts = TThreadSession();
  const bool file_based = !file_name.empty();
  bool expired = false;
  {
    fw::CriticalSectionGuard guard(SessionLock());
    auto it = SessionList().find(key);
    if (it != SessionList().end()) {
      if (!Expired(it->second)) {
        ts = TThreadSession{key, file_name, file_based, true};
        return true;
      }
      // A session kept in memory ends at its expiry as one read from its
      // file does: its variables and its file go.
      for (auto& line : it->second.variables) SecureWipe(line);
      SessionList().erase(it);
      expired = true;
    }
  }
  if (expired || !file_based) {
    if (expired && file_based) ::unlink(file_name.c_str());
    return false;
  }
  TSessionData data;
  data.key = key;
  if (!LoadSessionFile(file_name, encryption_key, data.variables, data.expiry)) return false;
  if (data.expiry > 0 && data.expiry < static_cast<std::int64_t>(std::time(nullptr))) {
    for (auto& line : data.variables) SecureWipe(line);
    ::unlink(file_name.c_str());
    return false;
  }
  fw::CriticalSectionGuard guard(SessionLock());
  SessionList().emplace(key, std::move(data));  // keeps an entry another thread made meanwhile
  ts = TThreadSession{key, file_name, file_based, true};
  return true;
}

void OpenSession(const std::string& key, const std::string& file_name, const std::string& encryption_key) {
  if (OpenLiveSession(key, file_name, encryption_key)) return;
  ThreadSession() = TThreadSession{key, file_name, !file_name.empty(), true};
  TSessionData data;
  data.key = key;
  fw::CriticalSectionGuard guard(SessionLock());
  SessionList().emplace(key, std::move(data));  // keeps an entry another thread made meanwhile
}

void SaveSessionVariables(const std::string& encryption_key) {
  TThreadSession& ts = ThreadSession();
  TSessionData copy;
  {
    fw::CriticalSectionGuard guard(SessionLock());
    const TSessionData* s = FindSession(ts.key);
    if (s == nullptr) return;
    copy = *s;
  }
  if (ts.file_name.empty()) {
    ts.saved = true;
    return;
  }
  std::string out;
  {
    TBlowfish cipher(encryption_key);
    for (auto& line : copy.variables) {
      std::string plain = "\x01" + line;
      out += UrlEncode(BlowfishEncryptString(cipher, plain));
      out.push_back('\0');
      SecureWipe(plain);
      SecureWipe(line);
    }
  }
  // Build the new file beside the old one and rename it over it, so that a
  // reader never sees half a session.
  // The temporary name is unique (mkostemp), so that two threads or two
  // programs saving one session never write into each other's file.
  std::string temp = ts.file_name + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw fw::EFCreateError("Cannot create file " + ts.file_name);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < out.size()) {
    const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  struct timespec times[2];
  times[0].tv_sec = copy.expiry > 0 ? copy.expiry : 0;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ok = ok && ::futimens(fd, times) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), ts.file_name.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw fw::EWriteError("Stream write error");
  }
  ts.saved = true;
}

void SessionEnd(const std::string& encryption_key, bool free_list) {
  TThreadSession& ts = ThreadSession();
  if (ts.file_based && !ts.saved && !ts.key.empty()) SaveSessionVariables(encryption_key);
  ts = TThreadSession();
  if (free_list) {
    fw::CriticalSectionGuard guard(SessionLock());
    for (auto& [key, data] : SessionList()) {
      for (auto& line : data.variables) SecureWipe(line);
    }
    SessionList().clear();
  }
}

std::string GetSessionVariable(const std::string& name) {
  if (!IsValidFieldName(name)) return "";
  fw::CriticalSectionGuard guard(SessionLock());
  const TSessionData* s = FindSession(ThreadSession().key);
  if (s == nullptr || Expired(*s)) return "";
  for (const auto& line : s->variables) {
    if (line.size() > name.size() && line[name.size()] == '=' && line.compare(0, name.size(), name) == 0) {
      return line.substr(name.size() + 1);
    }
  }
  return "";
}

bool SetSessionVariable(const std::string& name, const std::string& value) {
  if (!IsValidFieldName(name)) return false;
  fw::CriticalSectionGuard guard(SessionLock());
  TSessionData* s = FindSession(ThreadSession().key);
  if (s == nullptr) return false;
  auto& vars = s->variables;
  for (auto it = vars.begin(); it != vars.end(); ++it) {
    if (it->size() > name.size() && (*it)[name.size()] == '=' && it->compare(0, name.size(), name) == 0) {
      SecureWipe(*it);
      if (value.empty()) {
        vars.erase(it);
      } else {
        *it = name + "=" + value;
      }
      ThreadSession().saved = false;
      return true;
    }
  }
  if (!value.empty()) {
    vars.push_back(name + "=" + value);
    ThreadSession().saved = false;
  }
  return true;
}

std::vector<std::string> SessionVariables() {
  fw::CriticalSectionGuard guard(SessionLock());
  const TSessionData* s = FindSession(ThreadSession().key);
  return s == nullptr || Expired(*s) ? std::vector<std::string>() : s->variables;
}

void ClearSessionVariables() {
  fw::CriticalSectionGuard guard(SessionLock());
  TSessionData* s = FindSession(ThreadSession().key);
  if (s == nullptr) return;
  for (auto& line : s->variables) SecureWipe(line);
  s->variables.clear();
  ThreadSession().saved = false;
}

std::int64_t SessionExpires() {
  fw::CriticalSectionGuard guard(SessionLock());
  const TSessionData* s = FindSession(ThreadSession().key);
  return s == nullptr ? 0 : s->expiry;
}

void SetSessionExpires(std::int64_t unix_seconds) {
  fw::CriticalSectionGuard guard(SessionLock());
  TSessionData* s = FindSession(ThreadSession().key);
  if (s == nullptr) return;
  s->expiry = unix_seconds > 0 ? unix_seconds : 0;
  ThreadSession().saved = false;
}

bool SessionExpired() {
  fw::CriticalSectionGuard guard(SessionLock());
  const TSessionData* s = FindSession(ThreadSession().key);
  return s != nullptr && Expired(*s);
}

}  // namespace cgi
