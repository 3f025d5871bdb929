#include "dataset/tolmid_db_dataset.h"

#include "dataset/component_errors.h"
#include "dataset/tolmid_session.h"
#include "framework/sysutils.h"
#include "storage/engine_error.h"
#include "storage/table_names.h"

namespace dataset {

TTolmidDBDataSet::TTolmidDBDataSet(fw::TComponent* owner) : TTolmidDataSet(owner) {
  // The owner's auto-named session cannot see this dataset being inserted
  // (it is not one yet while the component base is made): take its name here.
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* s = dynamic_cast<TTolmidSession*>(owner->Components(i));
    if (s != nullptr && s->AutoSessionName()) session_name_ = s->SessionName();
  }
}

TTolmidDBDataSet::~TTolmidDBDataSet() {
  // Closing needs the concrete cursor: derived components close first; this
  // is the last chance for a dataset still attached.
  try {
    if (database_ != nullptr) {
      db_flags_ = 1;
      SetDBFlag(0, false);
    }
  } catch (...) {
  }
}

void TTolmidDBDataSet::SetDatabaseName(std::string_view value) {
  if (value == database_name_) return;
  CheckInactive();
  if (database_ != nullptr) RaiseComponentError(ComponentMessage::kDatabaseOpen);
  database_name_ = std::string(value);
  DataEvent(fw::TDataEvent::dePropertyChange);
}

void TTolmidDBDataSet::SetSessionName(std::string_view value) {
  CheckInactive();
  session_name_ = std::string(value);
  DataEvent(fw::TDataEvent::dePropertyChange);
}

TTolmidSession& TTolmidDBDataSet::DBSession() const {
  return Sessions().GetSession(session_name_);
}

std::string TTolmidDBDataSet::DirectoryPrefix() const {
  if (database_ == nullptr) return {};
  return storage::IncludeTrailingBackslash(database_->Directory());
}

void TTolmidDBDataSet::FixUpDatabase() {
  if (session_name_.empty() || database_name_.empty()) return;
  TTolmidSession* named = Sessions().FindSession(session_name_);
  if (named == nullptr || named->FindDatabase(database_name_) != nullptr) return;
  TTolmidDatabase* db = Session().FindDatabase(database_name_);
  if (db == nullptr || db->Session() == named) return;
  db->ResolveSession();
  if (db->Session() != nullptr) db->Session()->SetActive(true);
}

void TTolmidDBDataSet::SetDBFlag(int flag, bool value) {
  const auto bit = static_cast<std::uint16_t>(1u << (flag & 15));
  if (value) {
    if ((db_flags_ & bit) != 0) return;
    if (db_flags_ == 0) {
      FixUpDatabase();
      TTolmidSession& session = DBSession();
      TTolmidDatabase* db = session.OpenDatabase(database_name_, Owner());
      db->AddDataSet(this);
      database_ = db;
    }
    db_flags_ |= bit;
    return;
  }
  if ((db_flags_ & bit) == 0) return;
  db_flags_ &= static_cast<std::uint16_t>(~bit);
  if (db_flags_ != 0 || database_ == nullptr) return;
  TTolmidDatabase* db = database_;
  database_ = nullptr;
  db->RemoveDataSet(this);
  if (db->Session() != nullptr) db->Session()->CloseDatabase(db);
}

void TTolmidDBDataSet::OpenCursor(bool info_query) {
  SetDBFlag(kCursorFlag, true);
  TTolmidDataSet::OpenCursor(info_query);
}

void TTolmidDBDataSet::CloseCursor() {
  TTolmidDataSet::CloseCursor();
  SetDBFlag(kCursorFlag, false);
}

void TTolmidDBDataSet::Disconnect() { Close(); }

bool TTolmidDBDataSet::CheckResult(std::int32_t code) const {
  if (code != 0) storage::RaiseEngineError(code);
  return true;
}

}  // namespace dataset
