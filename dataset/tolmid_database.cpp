#include "dataset/tolmid_database.h"

#include <algorithm>
#include <exception>

#include "dataset/component_errors.h"
#include "dataset/tolmid_session.h"
#include "framework/sysutils.h"

namespace dataset {

bool IsPathName(std::string_view name) {
  return name.find_first_of(":\\/") != std::string_view::npos;
}

TTolmidDatabase::TTolmidDatabase(fw::TComponent* owner) : fw::TComponent(owner) {
  auto* session = dynamic_cast<TTolmidSession*>(owner);
  if (session == nullptr && owner != nullptr) {
    // An auto-named session of the same owner claims the database.
    for (int i = 0; i < owner->ComponentCount() && session == nullptr; ++i) {
      auto* s = dynamic_cast<TTolmidSession*>(owner->Components(i));
      if (s != nullptr && s->AutoSessionName()) session = s;
    }
  }
  if (session == nullptr) session = &dataset::Session();
  session_ = session;
  session_name_ = session->SessionName();
  session->AddDatabase(this);
}

TTolmidDatabase::~TTolmidDatabase() {
  // Datasets detaching while it closes must not free it a second time.
  MarkDestroying();
  try {
    Close();
  } catch (const std::exception&) {
    // Closing only detaches datasets; a destructor must not raise.
  }
  if (session_ != nullptr) session_->RemoveDatabase(this);
}

void TTolmidDatabase::SetConnected(bool value) {
  if (Loading()) {
    stream_connected_ = value;
    return;
  }
  if (value)
    Open();
  else
    Close();
}

void TTolmidDatabase::Open() {
  if (Connected()) return;
  if (database_name_.empty() && !temporary_)
    RaiseComponentError(ComponentMessage::kDatabaseNameMissing);
  TTolmidSession& target = Sessions().GetSession(session_name_);
  if (&target != session_) {
    CheckNameUnique(&target, database_name_);
    MoveToSession(&target);
  }
  target.SetActive(true);
  if (handle_shared_) {
    for (int i = 0; i < target.DatabaseCount(); ++i) {
      TTolmidDatabase* other = target.Databases(i);
      if (other != this && other->Connected() && other->HandleShared() &&
          fw::SameText(other->DatabaseName(), database_name_)) {
        handle_ = other->handle_;
        return;
      }
    }
  }
  SessionLock l(target);
  handle_ = 1;
  target.DoDatabaseEvent(TTolmidSession::DatabaseEvent::kOpened, *this);
}

void TTolmidDatabase::Close() {
  if (!Connected()) return;
  if (session_ != nullptr)
    session_->DoDatabaseEvent(TTolmidSession::DatabaseEvent::kClosed, *this);
  while (!datasets_.empty()) {
    AttachedDataSet* last = datasets_.back();
    last->Disconnect();
    // Disconnect detaches the dataset; should it not, it goes here, so that
    // the loop always ends.
    if (!datasets_.empty() && datasets_.back() == last) datasets_.pop_back();
  }
  handle_ = 0;
  ref_count_ = 0;
}

void TTolmidDatabase::SetDatabaseName(std::string_view value) {
  if (Loading()) {
    database_name_ = std::string(value);
    return;
  }
  if (value == database_name_) return;
  if (Connected()) RaiseComponentError(ComponentMessage::kDatabaseOpen);
  if (!value.empty() && !temporary_ && IsPathName(value))
    RaiseComponentError(ComponentMessage::kInvalidDatabaseName, value);
  if (session_ != nullptr) CheckNameUnique(session_, value);
  database_name_ = std::string(value);
}

void TTolmidDatabase::CheckNameUnique(TTolmidSession* session, std::string_view name) {
  if (name.empty()) return;
  for (int i = 0; i < session->DatabaseCount(); ++i) {
    TTolmidDatabase* other = session->Databases(i);
    if (other == this || !fw::SameText(other->DatabaseName(), name)) continue;
    if (other->HandleShared() && handle_shared_) return;
    if (!other->Temporary() || other->RefCount() > 0)
      RaiseComponentError(ComponentMessage::kDuplicateDatabaseName, name);
    // An unused temporary database gives way to the named one.
    if (!other->Destroying()) delete other;
    return;
  }
}

std::string TTolmidDatabase::Directory() const {
  if (temporary_ && IsPathName(database_name_)) return database_name_;
  return directory_;
}

void TTolmidDatabase::SetDirectory(std::string_view value) {
  if (Loading()) {
    directory_ = std::string(value);
    return;
  }
  if (Connected()) RaiseComponentError(ComponentMessage::kDatabaseOpen);
  directory_ = std::string(value);
}

void TTolmidDatabase::SetKeepConnection(bool value) {
  if (value == keep_connection_) return;
  keep_connection_ = value;
  if (!value && ref_count_ == 0) Close();
}

void TTolmidDatabase::SetSessionName(std::string_view value) {
  if (Loading()) {
    session_name_ = std::string(value);
    return;
  }
  if (Connected()) RaiseComponentError(ComponentMessage::kDatabaseOpen);
  if (value == session_name_) return;
  session_name_ = std::string(value);
  ResolveSession();
}

void TTolmidDatabase::ResolveSession() {
  TTolmidSession* s = Sessions().FindSession(session_name_);
  if (s != nullptr && s != session_) MoveToSession(s);
}

void TTolmidDatabase::MoveToSession(TTolmidSession* session) {
  if (session_ != nullptr) session_->RemoveDatabase(this);
  session_ = session;
  if (session_ != nullptr) session_->AddDatabase(this);
}

void TTolmidDatabase::AddDataSet(AttachedDataSet* dataset) {
  if (dataset != nullptr && std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end())
    datasets_.push_back(dataset);
}

void TTolmidDatabase::RemoveDataSet(AttachedDataSet* dataset) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

void TTolmidDatabase::Loaded() {
  fw::TComponent::Loaded();
  if (stream_connected_)
    Open();
  else
    ResolveSession();
}

void TTolmidDatabase::Notification(fw::TComponent* component, bool inserting) {
  fw::TComponent::Notification(component, inserting);
  if (!inserting && component != nullptr && component == session_ &&
      !session_->IsDefault())
    session_ = nullptr;
}

}  // namespace dataset
