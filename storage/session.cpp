#include "storage/session.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>

#include "platform/file.h"
#include "storage/memory_file.h"
#include "storage/table_names.h"
#include "storage/temp_table_sweep.h"

namespace storage {
namespace {

constexpr std::size_t kMaxShortString = 255;

// The engine's globals. The engine runs on the main thread; the pointers
// are atomic only so that a stray reader on another thread sees a whole
// value.
std::atomic<TFileSession*> g_current{nullptr};
std::atomic<TFileSession*> g_default{nullptr};
std::atomic<bool> g_initialized{false};

std::string ShortString(std::string_view s) { return std::string(s.substr(0, kMaxShortString)); }

// Names reserved on disk by this process and not yet claimed by a table,
// by resolved path. GUARDED_BY(EngineLock()).
std::set<std::string>& Reservations() {
  static std::set<std::string> names;
  return names;
}

// Directories swept of dead temporary tables since the engine started
// (temp_table_sweep.h), by resolved path. GUARDED_BY(EngineLock()).
std::set<std::string>& SweptDirectories() {
  static std::set<std::string> dirs;
  return dirs;
}

// Sweeps dir unless it was swept since the engine started.
void SweepOnce(const std::string& dir) {
  std::string trimmed = dir;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  const std::string path = platform::ResolvePath(trimmed.empty() ? std::string(".") : trimmed);
  {
    fw::CriticalSectionGuard guard(EngineLock());
    if (!SweptDirectories().insert(path).second) return;
  }
  RemoveDeadTemporaryTables(path);
}

}  // namespace

void TPasswordList::Add(std::string_view text) {
  if (text.empty()) return;
  items_.push_back(ShortString(text));
}

void TPasswordList::Remove(std::string_view text) {
  const std::string key = ShortString(text);
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (*it == key) {
      items_.erase(it);
      return;
    }
  }
}

SessionPassword::~SessionPassword() {
  if (!added_) return;
  if (TFileSession* s = CurrentSessionOrNull()) s->RemovePassword(password_);
}

void SessionPassword::AddIfMissing(const std::string& password) {
  if (added_ || password.empty()) return;
  TFileSession* s = CurrentSession();
  if (s->HasPassword(password)) return;
  s->AddPassword(password);
  password_ = password;
  added_ = true;
}

bool TPasswordList::Has(std::string_view text) const {
  const std::string key = ShortString(text);
  for (const std::string& p : items_) {
    if (p == key) return true;
  }
  return false;
}

TFileSession::TFileSession()
    : memory_files_(std::make_unique<TMemoryFileList>()),
      passwords_(std::make_unique<TPasswordList>()) {}

TFileSession::~TFileSession() = default;

void TFileSession::SetPrivateDirectory(std::string_view dir) { private_directory_ = ShortString(dir); }

fw::TCriticalSection& EngineLock() {
  static fw::TCriticalSection lock;
  return lock;
}

void InitializeEngine() {
  if (g_initialized.load()) return;
  auto* session = new TFileSession();
  g_default.store(session);
  g_current.store(session);
  g_initialized.store(true);
  // Result tables that killed programs left where this one starts.
  {
    fw::CriticalSectionGuard guard(EngineLock());
    SweptDirectories().clear();
  }
  SweepOnce(platform::GetCurrentDirectory());
}

// Frees the session the engine made. The caller is meant to have made it
// current again; a dataset-layer session left current is not ours to free.
void ShutdownEngine() {
  if (!g_initialized.load()) return;
  delete g_default.exchange(nullptr);
  g_current.store(nullptr);
  g_initialized.store(false);
}

bool EngineInitialized() { return g_initialized.load(); }

TFileSession* CurrentSessionOrNull() noexcept {
  return g_initialized.load() ? g_current.load() : nullptr;
}

TFileSession* CurrentSession() {
  TFileSession* session = CurrentSessionOrNull();
  if (session == nullptr) EngineError(ErrorCode::kNotInitialized);
  return session;
}

void SetCurrentSession(TFileSession* session) { g_current.store(session); }

void SetPrivateDirectory(std::string_view dir) { CurrentSession()->SetPrivateDirectory(dir); }

std::string GetPrivateDirectory() { return CurrentSession()->PrivateDirectory(); }

TFileSession* CreateSession() { return new TFileSession(); }

void FreeSession(TFileSession* session) {
  if (session == nullptr) return;
  if (g_current.load() == session) g_current.store(nullptr);
  delete session;
}

std::string GetTempTableName(bool in_memory, std::string_view prefix) {
  TFileSession* session = CurrentSession();
  std::string dir = session->PrivateDirectory();
  if (dir.empty()) dir = platform::GetCurrentDirectory();
  dir = IncludeTrailingBackslash(dir);
  const std::string stem = dir + std::string(prefix);
  if (in_memory) {
    fw::CriticalSectionGuard guard(EngineLock());
    for (std::uint64_t k = 0;; ++k) {
      std::string name = stem + std::to_string(k) + std::string(kDataExtension);
      if (!session->MemoryFiles().MemoryFileExists(name)) return name;
    }
  }
  SweepOnce(dir);
  for (std::uint64_t k = 0;; ++k) {
    std::string name = stem + std::to_string(k) + std::string(kDataExtension);
    platform::File reservation;
    if (reservation.Open(name, platform::Access::ReadWrite, platform::Share::ReadWrite,
                         platform::Disposition::CreateNew)) {
      // The empty file stays as the reservation.
      fw::CriticalSectionGuard guard(EngineLock());
      Reservations().insert(platform::ResolvePath(name));
      return name;
    }
    const std::uint32_t error = platform::GetLastError();
    if (error == platform::ERROR_FILE_EXISTS || error == platform::ERROR_ALREADY_EXISTS ||
        error == platform::ERROR_SHARING_VIOLATION || platform::FileExists(name)) {
      continue;
    }
    // The directory cannot take a file (missing, no rights): nothing can be
    // reserved there. The name is still free, and creating the table over it
    // reports the real failure.
    return name;
  }
}

void ReleaseTempTableName(std::string_view name) {
  const std::string path = platform::ResolvePath(name);
  fw::CriticalSectionGuard guard(EngineLock());
  if (Reservations().erase(path) == 0) return;
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 0 && !ec) (void)platform::DeleteFile(path);
}

void ClaimTempTableName(std::string_view name) {
  const std::string path = platform::ResolvePath(name);
  fw::CriticalSectionGuard guard(EngineLock());
  Reservations().erase(path);
}

std::string GetTempTableName(bool in_memory) {
  const long id = static_cast<long>(gettid());
  std::string prefix = std::to_string(std::labs(id)).substr(0, 5);
  return GetTempTableName(in_memory, prefix);
}

}  // namespace storage
