// Engine sessions and the engine's process-wide state.
//
// One TFileSession is current for the whole process (not per thread). The
// engine lock guards every in-memory file and the in-memory temporary-name
// search; nothing else in the engine locks.
//
// Temporary table names are directory + prefix + k + ".DAT" for the first
// k = 0, 1, ... that is free. For disk tables "free" is decided by creating
// the file with O_CREAT|O_EXCL: the empty file that comes into being is the
// reservation, so two processes (or threads) never get the same name; the
// caller then creates its table over it (a create-or-replace, fine since
// nobody has it open). The process remembers its reservations until a
// table is created over them: when TDataFile::CreateDataTable refuses or
// fails there, or the caller gives the name up (ReleaseTempTableName), the
// empty file goes again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/sync.h"
#include "storage/engine_error.h"

namespace storage {

class TMemoryFileList;

// A session's table passwords: exact, case-sensitive texts; duplicates kept.
class TPasswordList {
 public:
  void Add(std::string_view text);  // nothing for ""
  void Remove(std::string_view text);  // the first equal entry
  void RemoveAll() { items_.clear(); }
  [[nodiscard]] bool Has(std::string_view text) const;
  [[nodiscard]] std::size_t Count() const { return items_.size(); }

 private:
  std::vector<std::string> items_;  // each at most 255 characters
};

class TFileSession {
 public:
  TFileSession();
  ~TFileSession();
  TFileSession(const TFileSession&) = delete;
  TFileSession& operator=(const TFileSession&) = delete;

  [[nodiscard]] const std::string& PrivateDirectory() const { return private_directory_; }
  void SetPrivateDirectory(std::string_view dir);
  ErrorContext& Context() { return error_context_; }
  [[nodiscard]] const ErrorContext& Context() const { return error_context_; }
  TMemoryFileList& MemoryFiles() { return *memory_files_; }
  TPasswordList& Passwords() { return *passwords_; }

  // A shared open that meets a table's headers half-written (another
  // program is in the middle of a write) tries again: retries times,
  // delay_ms apart. Tests and fuzz targets that open damaged files on
  // purpose set fewer, or none.
  static constexpr int kDefaultOpenRetries = 49;
  static constexpr std::uint32_t kDefaultOpenRetryDelayMs = 10;
  void SetSharedOpenRetries(int retries, std::uint32_t delay_ms) {
    open_retries_ = retries < 0 ? 0 : retries;
    open_retry_delay_ms_ = delay_ms;
  }
  [[nodiscard]] int SharedOpenRetries() const { return open_retries_; }
  [[nodiscard]] std::uint32_t SharedOpenRetryDelayMs() const { return open_retry_delay_ms_; }

  void AddPassword(std::string_view text) { passwords_->Add(text); }
  void RemovePassword(std::string_view text) { passwords_->Remove(text); }
  void RemoveAllPasswords() { passwords_->RemoveAll(); }
  [[nodiscard]] bool HasPassword(std::string_view text) const { return passwords_->Has(text); }

 private:
  std::string private_directory_;
  ErrorContext error_context_;
  std::unique_ptr<TMemoryFileList> memory_files_;
  std::unique_ptr<TPasswordList> passwords_;
  int open_retries_ = kDefaultOpenRetries;
  std::uint32_t open_retry_delay_ms_ = kDefaultOpenRetryDelayMs;
};

// A table password lent to the current session for the length of a scope
// (creating, restructuring or cloning a password-protected table): added
// only when the session lacks it, and then removed again on every path.
class SessionPassword {
 public:
  SessionPassword() = default;
  ~SessionPassword();
  SessionPassword(const SessionPassword&) = delete;
  SessionPassword& operator=(const SessionPassword&) = delete;
  // Nothing for "", for a password the session holds, or a second time.
  void AddIfMissing(const std::string& password);

 private:
  bool added_ = false;
  std::string password_;
};

// Creates the default session and makes it current, and removes the
// temporary tables that dead programs left in the current directory
// (temp_table_sweep.h); nothing when already initialised.
void InitializeEngine();
// Frees the default session; current := none. Nothing when not initialised.
void ShutdownEngine();
[[nodiscard]] bool EngineInitialized();
// The current session; raises 10758 (touching no session) before
// InitializeEngine.
TFileSession* CurrentSession();
// The same without raising: nullptr when there is none.
TFileSession* CurrentSessionOrNull() noexcept;
void SetCurrentSession(TFileSession* session);
void SetPrivateDirectory(std::string_view dir);
std::string GetPrivateDirectory();
TFileSession* CreateSession();
void FreeSession(TFileSession* session);
// The engine lock (re-entrant); lives as long as the process.
fw::TCriticalSection& EngineLock();

// A free temporary table name in the current session's private directory
// (or the current directory); see the top of this file. The first name
// asked for on disk in a directory since the engine started sweeps it of
// the temporary tables of dead programs (temp_table_sweep.h), as
// InitializeEngine sweeps the current directory.
std::string GetTempTableName(bool in_memory);
// The same with a given prefix in place of the thread's.
std::string GetTempTableName(bool in_memory, std::string_view prefix);
// A name GetTempTableName reserved on disk and no table was created over:
// its file is deleted while it is still empty, and the name forgotten.
// Nothing for any other name.
void ReleaseTempTableName(std::string_view name);
// A table now exists under the name: it is no reservation any more.
void ClaimTempTableName(std::string_view name);

}  // namespace storage
