// Sessions of the dataset layer: TTolmidSession is the component face of one
// engine session (storage::TFileSession). All sessions of the process sit in
// one TTolmidSessionList; the first session added to an empty list is the
// default session, named "Default", which starts the engine and is the last
// one stopped (stopping it shuts the engine down).
//
// Lock rule: one re-entrant critical section (the list's) serves the whole
// session layer: start and stop, automatic numbers and every LockSession
// section. The engine's current session is one process-wide value, so every
// session operation that reaches the engine makes its own session current
// under that lock first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"
#include "framework/sync.h"

namespace storage {
class TFileSession;
}

namespace dataset {

class TTolmidDatabase;
class TTolmidSession;

class TTolmidSessionList {
 public:
  TTolmidSessionList() = default;
  // Frees every session still in the list, the last first.
  ~TTolmidSessionList();
  TTolmidSessionList(const TTolmidSessionList&) = delete;
  TTolmidSessionList& operator=(const TTolmidSessionList&) = delete;

  [[nodiscard]] int Count() const { return static_cast<int>(sessions_.size()); }
  [[nodiscard]] TTolmidSession* Sessions(int index) const { return sessions_.at(index); }
  // The first session added to the empty list; nullptr when there is none.
  [[nodiscard]] TTolmidSession* DefaultSession() const { return default_; }
  // "" gives the default session; else the first session whose name equals
  // name case-insensitively, or nullptr.
  [[nodiscard]] TTolmidSession* FindSession(std::string_view name) const;
  // The same, raising "Session name %s is not valid." when none is found.
  TTolmidSession& GetSession(std::string_view name) const;
  fw::TCriticalSection& Lock() { return lock_; }

 private:
  friend class TTolmidSession;
  friend TTolmidSession& Session();
  void Add(TTolmidSession* session);
  void Remove(TTolmidSession* session);
  int TakeAutoNumber();  // REQUIRES: lock_ is held
  void ReleaseAutoNumber(int number);

  std::vector<TTolmidSession*> sessions_;  // creation order; not owned by the vector
  TTolmidSession* default_ = nullptr;
  std::vector<bool> auto_numbers_;  // bit n set: n is in use
  fw::TCriticalSection lock_;
  bool destroying_ = false;
};

// The process's session list, created on first use together with the default
// session "Default".
TTolmidSessionList& Sessions();
// The default session.
TTolmidSession& Session();
// Unit end: frees the list with every session still in it; the default
// session is stopped last, which shuts the engine down. The next Sessions()
// starts afresh.
void FinalizeSessions();

// What shows the password dialog for a session: true when it was closed with
// OK. The plain dataset library has no window: until a hook is installed
// (dataset/gui installs the dialog) a request without OnPassword answers
// false. Returns the hook it replaces.
using PasswordDialogHook = std::function<bool(TTolmidSession& session)>;
PasswordDialogHook SetPasswordDialogHook(PasswordDialogHook hook);

class TTolmidSession : public fw::TComponent {
 public:
  static constexpr std::size_t kMaxPasswordLength = 255;
  static constexpr std::size_t kMaxPrivateDirLength = 255;

  using TNotifyEvent = std::function<void(TTolmidSession& sender)>;
  using TTolmidPasswordEvent = std::function<void(TTolmidSession& sender, bool& continue_)>;
  enum class DatabaseEvent { kOpened = 0, kClosed = 1, kAdded = 2, kRemoved = 3 };
  using DatabaseNotifyEvent = std::function<void(DatabaseEvent event, TTolmidDatabase& database)>;

  // Raises "This auto-session already exists." when owner holds a session
  // with AutoSessionName on.
  explicit TTolmidSession(fw::TComponent* owner);
  ~TTolmidSession() override;

  [[nodiscard]] bool Active() const { return handle_ != nullptr; }
  void SetActive(bool value);
  [[nodiscard]] bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  [[nodiscard]] bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  // Upper case; from the engine session while active.
  [[nodiscard]] std::string PrivateDir();
  void SetPrivateDir(std::string_view value);
  [[nodiscard]] const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string_view value);
  [[nodiscard]] bool IsDefault() const { return is_default_; }
  [[nodiscard]] int AutoNumber() const { return auto_number_; }
  // The engine session; nullptr while inactive.
  [[nodiscard]] storage::TFileSession* Handle() const { return handle_; }

  TTolmidPasswordEvent OnPassword;
  TNotifyEvent OnStartup;
  DatabaseNotifyEvent OnDatabaseEvent;

  // Each under LockSession, the password cut to 255 characters.
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();

  // The password callback of every data file opened in this session.
  bool PasswordRequest();

  // The database of that name, made (temporary) when none exists, opened and
  // counted. owner: the asking dataset's owner.
  TTolmidDatabase* OpenDatabase(std::string_view database_name, fw::TComponent* owner);
  void CloseDatabase(TTolmidDatabase* database);
  [[nodiscard]] int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  [[nodiscard]] TTolmidDatabase* Databases(int index) const { return databases_.at(index); }
  // A database of this session by name (case-insensitive); nullptr if none.
  [[nodiscard]] TTolmidDatabase* FindDatabase(std::string_view name) const;

  // Nested; the outermost call enters the session lock and makes this
  // session's engine session current (activating the session if needed).
  void LockSession();
  void UnlockSession();

  void Loaded() override;
  void SetName(const std::string& name) override;

 protected:
  void Notification(fw::TComponent* component, bool inserting) override;

 private:
  friend class TTolmidDatabase;
  friend class TTolmidSessionList;
  friend TTolmidSession& Session();
  static fw::TComponent* CheckOwner(fw::TComponent* owner);
  void Start();
  void Stop();
  void BuildAutoName();
  void ApplyNameToOwnerComponents();
  void AddDatabase(TTolmidDatabase* database);
  void RemoveDatabase(TTolmidDatabase* database);
  void DoDatabaseEvent(DatabaseEvent event, TTolmidDatabase& database);

  storage::TFileSession* handle_ = nullptr;
  std::vector<TTolmidDatabase*> databases_;
  bool stream_active_ = false;
  bool keep_connections_ = true;
  bool is_default_ = false;
  bool auto_session_name_ = false;
  bool updating_auto_name_ = false;
  std::string session_name_;
  int auto_number_ = -1;
  std::string private_dir_;
  int lock_depth_ = 0;
  TTolmidSessionList* list_ = nullptr;
};

// Holds a session's LockSession for a scope.
class SessionLock {
 public:
  explicit SessionLock(TTolmidSession& session) : session_(session) { session_.LockSession(); }
  ~SessionLock() { session_.UnlockSession(); }
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

 private:
  TTolmidSession& session_;
};

}  // namespace dataset
