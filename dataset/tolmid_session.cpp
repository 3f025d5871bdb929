#include "dataset/tolmid_session.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "dataset/component_errors.h"
#include "dataset/tolmid_database.h"
#include "dataset/tolmid_db_dataset.h"
#include "framework/sysutils.h"
#include "storage/session.h"

namespace dataset {
namespace {

TTolmidSessionList* g_sessions = nullptr;
PasswordDialogHook g_password_dialog;

std::string_view Cut(std::string_view s, std::size_t n) { return s.substr(0, n); }

}  // namespace

// ---------------------------------------------------------------- list

TTolmidSessionList::~TTolmidSessionList() {
  destroying_ = true;
  // Sessions other than the default first, the last first; the default
  // session goes last since stopping it shuts the engine down.
  while (!sessions_.empty()) {
    TTolmidSession* s = sessions_.back();
    if (s == default_ && sessions_.size() > 1) s = sessions_[sessions_.size() - 2];
    delete s;  // removes itself from the list
  }
}

TTolmidSession* TTolmidSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return default_;
  for (TTolmidSession* s : sessions_)
    if (fw::SameText(s->SessionName(), name)) return s;
  return nullptr;
}

TTolmidSession& TTolmidSessionList::GetSession(std::string_view name) const {
  TTolmidSession* s = FindSession(name);
  if (s == nullptr) RaiseComponentError(ComponentMessage::kInvalidSessionName, name);
  return *s;
}

void TTolmidSessionList::Add(TTolmidSession* session) {
  fw::CriticalSectionGuard g(lock_);
  if (sessions_.empty()) {
    default_ = session;
    session->is_default_ = true;
  }
  sessions_.push_back(session);
}

void TTolmidSessionList::Remove(TTolmidSession* session) {
  fw::CriticalSectionGuard g(lock_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
  if (default_ == session) default_ = nullptr;
}

int TTolmidSessionList::TakeAutoNumber() {
  for (std::size_t i = 0; i < auto_numbers_.size(); ++i) {
    if (!auto_numbers_[i]) {
      auto_numbers_[i] = true;
      return static_cast<int>(i);
    }
  }
  auto_numbers_.push_back(true);
  return static_cast<int>(auto_numbers_.size() - 1);
}

void TTolmidSessionList::ReleaseAutoNumber(int number) {
  fw::CriticalSectionGuard g(lock_);
  if (number >= 0 && static_cast<std::size_t>(number) < auto_numbers_.size())
    auto_numbers_[static_cast<std::size_t>(number)] = false;
}

TTolmidSessionList& Sessions() {
  if (g_sessions == nullptr) {
    g_sessions = new TTolmidSessionList;
    auto* def = new TTolmidSession(nullptr);  // joins the list as its default
    def->SetSessionName("Default");
  }
  return *g_sessions;
}

TTolmidSession& Session() {
  TTolmidSessionList& list = Sessions();
  if (list.default_ == nullptr) {
    // The default session was freed by hand: components that rely on it get
    // a new one instead of a dangling reference.
    auto* def = new TTolmidSession(nullptr);
    if (list.default_ == nullptr) {
      fw::CriticalSectionGuard g(list.lock_);
      list.default_ = def;
      def->is_default_ = true;
    }
    def->SetSessionName("Default");
  }
  return *list.default_;
}

void FinalizeSessions() {
  TTolmidSessionList* list = g_sessions;
  g_sessions = nullptr;
  delete list;
}

PasswordDialogHook SetPasswordDialogHook(PasswordDialogHook hook) {
  std::swap(g_password_dialog, hook);
  return hook;
}

// ---------------------------------------------------------------- session

fw::TComponent* TTolmidSession::CheckOwner(fw::TComponent* owner) {
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* s = dynamic_cast<TTolmidSession*>(owner->Components(i));
      if (s != nullptr && s->AutoSessionName())
        RaiseComponentError(ComponentMessage::kAutoSessionExists);
    }
  }
  return owner;
}

TTolmidSession::TTolmidSession(fw::TComponent* owner) : fw::TComponent(CheckOwner(owner)) {
  // The list made by Sessions() gets its default session from there, so the
  // first Sessions() call must not recurse into this constructor.
  list_ = g_sessions != nullptr ? g_sessions : &Sessions();
  list_->Add(this);
}

TTolmidSession::~TTolmidSession() {
  try {
    SetActive(false);
  } catch (const std::exception&) {
    // A destructor must not raise; the engine session is gone either way.
  }
  // Owned databases refer back to this session: free them while it is whole.
  DestroyComponents();
  for (TTolmidDatabase* db : databases_) db->session_ = nullptr;
  databases_.clear();
  if (auto_number_ >= 0) list_->ReleaseAutoNumber(auto_number_);
  list_->Remove(this);
}

void TTolmidSession::SetActive(bool value) {
  if (Loading()) {
    stream_active_ = value;
    return;
  }
  if (value == Active()) return;
  if (value)
    Start();
  else
    Stop();
}

void TTolmidSession::Start() {
  fw::CriticalSectionGuard g(list_->Lock());
  if (OnStartup) OnStartup(*this);
  if (session_name_.empty()) RaiseComponentError(ComponentMessage::kSessionNameMissing);
  if (!is_default_) {
    TTolmidSession* def = list_->DefaultSession();
    if (def != nullptr) def->SetActive(true);
  }
  if (is_default_) {
    storage::InitializeEngine();
    handle_ = storage::CurrentSession();
  } else {
    handle_ = storage::CreateSession();
  }
  if (!private_dir_.empty()) SetPrivateDir(private_dir_);
}

void TTolmidSession::Stop() {
  fw::CriticalSectionGuard g(list_->Lock());
  // The engine goes down with the default session, so no other session may
  // stay active on it.
  if (is_default_) {
    for (int i = list_->Count() - 1; i >= 0; --i) {
      TTolmidSession* s = list_->Sessions(i);
      if (s != this) s->SetActive(false);
    }
  }
  storage::SetCurrentSession(handle_);
  for (std::size_t i = databases_.size(); i > 0; --i) {
    if (i > databases_.size()) continue;
    TTolmidDatabase* db = databases_[i - 1];
    if (db->Temporary()) {
      if (!db->Destroying()) delete db;
    } else {
      db->Close();
    }
  }
  if (!is_default_) {
    storage::FreeSession(handle_);
    TTolmidSession* def = list_->DefaultSession();
    storage::SetCurrentSession(def != nullptr ? def->handle_ : nullptr);
  } else {
    storage::SetCurrentSession(handle_);
    storage::ShutdownEngine();
  }
  handle_ = nullptr;
}

void TTolmidSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (value) {
    if (Active()) RaiseComponentError(ComponentMessage::kSessionActive);
    if (Owner() != nullptr) {
      for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* s = dynamic_cast<TTolmidSession*>(Owner()->Components(i));
        if (s != nullptr && s != this) RaiseComponentError(ComponentMessage::kAutoSessionActive);
      }
    }
    {
      fw::CriticalSectionGuard g(list_->Lock());
      auto_number_ = list_->TakeAutoNumber();
    }
    auto_session_name_ = true;
    const std::string old_name = session_name_;
    try {
      BuildAutoName();
    } catch (...) {
      session_name_ = old_name;
      auto_session_name_ = false;
      list_->ReleaseAutoNumber(auto_number_);
      auto_number_ = -1;
      throw;
    }
  } else {
    auto_session_name_ = false;
    list_->ReleaseAutoNumber(auto_number_);
    auto_number_ = -1;
  }
}

void TTolmidSession::BuildAutoName() {
  updating_auto_name_ = true;
  try {
    SetSessionName(Name() + "_" + std::to_string(auto_number_ + 1));
  } catch (...) {
    updating_auto_name_ = false;
    throw;
  }
  updating_auto_name_ = false;
  ApplyNameToOwnerComponents();
}

void TTolmidSession::ApplyNameToOwnerComponents() {
  if (Owner() == nullptr) return;
  // All or nothing: when one component refuses the name (an open dataset, a
  // connected database), those renamed before it get their names back.
  std::vector<std::function<void()>> undo;
  auto give_name = [&](auto* component) {
    if (fw::SameText(component->SessionName(), session_name_)) return;
    const std::string old = component->SessionName();
    component->SetSessionName(session_name_);
    undo.push_back([component, old] { component->SetSessionName(old); });
  };
  try {
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
      fw::TComponent* c = Owner()->Components(i);
      if (auto* ds = dynamic_cast<TTolmidDBDataSet*>(c))
        give_name(ds);
      else if (auto* db = dynamic_cast<TTolmidDatabase*>(c))
        give_name(db);
    }
  } catch (...) {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) (*it)();
    throw;
  }
}

void TTolmidSession::SetSessionName(std::string_view value) {
  if (auto_session_name_ && !updating_auto_name_)
    RaiseComponentError(ComponentMessage::kAutoSessionNameSet);
  if (Active()) RaiseComponentError(ComponentMessage::kSessionActive);
  if (!value.empty()) {
    TTolmidSession* other = list_->FindSession(value);
    if (other != nullptr && other != this)
      RaiseComponentError(ComponentMessage::kDuplicateSessionName, value);
  }
  session_name_ = std::string(value);
}

std::string TTolmidSession::PrivateDir() {
  if (Active()) {
    fw::CriticalSectionGuard g(list_->Lock());
    return fw::UpperCase(handle_->PrivateDirectory());
  }
  return fw::UpperCase(private_dir_);
}

void TTolmidSession::SetPrivateDir(std::string_view value) {
  const std::string v(Cut(value, kMaxPrivateDirLength));
  if (Active()) {
    SessionLock l(*this);
    storage::SetPrivateDirectory(v);
  }
  private_dir_ = std::string(value);
}

void TTolmidSession::AddPassword(std::string_view password) {
  SessionLock l(*this);
  handle_->AddPassword(Cut(password, kMaxPasswordLength));
}

void TTolmidSession::RemovePassword(std::string_view password) {
  SessionLock l(*this);
  handle_->RemovePassword(Cut(password, kMaxPasswordLength));
}

void TTolmidSession::RemoveAllPasswords() {
  SessionLock l(*this);
  handle_->RemoveAllPasswords();
}

bool TTolmidSession::PasswordRequest() {
  if (OnPassword) {
    bool again = false;
    OnPassword(*this, again);
    return again;
  }
  if (g_password_dialog) return g_password_dialog(*this);
  return false;
}

void TTolmidSession::LockSession() {
  if (lock_depth_ == 0) {
    list_->Lock().Enter();
    try {
      if (!Active()) SetActive(true);
      storage::SetCurrentSession(handle_);
    } catch (...) {
      list_->Lock().Leave();
      throw;
    }
  }
  ++lock_depth_;
}

void TTolmidSession::UnlockSession() {
  if (lock_depth_ == 0) return;
  if (--lock_depth_ == 0) list_->Lock().Leave();
}

TTolmidDatabase* TTolmidSession::FindDatabase(std::string_view name) const {
  for (TTolmidDatabase* db : databases_)
    if (fw::SameText(db->DatabaseName(), name)) return db;
  return nullptr;
}

TTolmidDatabase* TTolmidSession::OpenDatabase(std::string_view database_name,
                                              fw::TComponent* owner) {
  SessionLock l(*this);
  TTolmidDatabase* found = nullptr;
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount() && found == nullptr; ++i) {
      auto* db = dynamic_cast<TTolmidDatabase*>(owner->Components(i));
      if (db != nullptr && db->Session() == this && db->HandleShared() &&
          fw::SameText(db->DatabaseName(), database_name))
        found = db;
    }
  }
  if (found == nullptr) {
    for (TTolmidDatabase* db : databases_) {
      if ((!db->DatabaseName().empty() || db->Temporary()) &&
          fw::SameText(db->DatabaseName(), database_name)) {
        found = db;
        break;
      }
    }
  }
  bool made = false;
  if (found == nullptr) {
    found = new TTolmidDatabase(this);
    made = true;
    found->temporary_ = true;
    found->SetKeepConnection(keep_connections_);
    try {
      found->SetDatabaseName(database_name);
    } catch (...) {
      delete found;
      throw;
    }
  }
  try {
    found->Open();
  } catch (...) {
    if (made) delete found;
    throw;
  }
  ++found->ref_count_;
  return found;
}

void TTolmidSession::CloseDatabase(TTolmidDatabase* database) {
  if (database == nullptr) return;
  if (database->ref_count_ > 0) --database->ref_count_;
  if (database->ref_count_ == 0 && !database->KeepConnection()) {
    if (!database->Temporary())
      database->Close();
    else if (!database->Destroying())
      delete database;
  }
}

void TTolmidSession::AddDatabase(TTolmidDatabase* database) {
  databases_.push_back(database);
  DoDatabaseEvent(DatabaseEvent::kAdded, *database);
}

void TTolmidSession::RemoveDatabase(TTolmidDatabase* database) {
  const auto it = std::find(databases_.begin(), databases_.end(), database);
  if (it == databases_.end()) return;
  databases_.erase(it);
  DoDatabaseEvent(DatabaseEvent::kRemoved, *database);
}

void TTolmidSession::DoDatabaseEvent(DatabaseEvent event, TTolmidDatabase& database) {
  if (OnDatabaseEvent) OnDatabaseEvent(event, database);
}

void TTolmidSession::Loaded() {
  fw::TComponent::Loaded();
  if (auto_session_name_) ApplyNameToOwnerComponents();
  if (stream_active_) SetActive(true);
}

void TTolmidSession::SetName(const std::string& name) {
  fw::TComponent::SetName(name);
  if (auto_session_name_) BuildAutoName();
}

void TTolmidSession::Notification(fw::TComponent* component, bool inserting) {
  fw::TComponent::Notification(component, inserting);
  if (inserting && auto_session_name_ && component != nullptr && component != this &&
      component->Owner() == Owner()) {
    if (auto* ds = dynamic_cast<TTolmidDBDataSet*>(component)) {
      if (!ds->Active()) ds->SetSessionName(session_name_);
    } else if (auto* db = dynamic_cast<TTolmidDatabase*>(component)) {
      if (!db->Connected() && db->Session() != this) db->MoveToSession(this);
    }
  }
}

}  // namespace dataset
