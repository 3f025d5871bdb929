// The password dialog: a session's fallback when a table asks for a
// password and no OnPassword handler is set. The user types passwords into
// the session's list; OK closes and lets the engine try again. Passwords
// go to the session, and error texts come from it, in code page 1252
// (characters it lacks become '?').
#pragma once

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace dataset {

class TTolmidSession;

class TTolmidPasswordDialog : public QDialog {
 public:
  // session: the session that asked; it outlives the dialog.
  explicit TTolmidPasswordDialog(TTolmidSession& session, QWidget* parent = nullptr);

  [[nodiscard]] bool PasswordAdded() const { return password_added_; }

  QGroupBox* GroupBox1;
  QLineEdit* Edit;
  QPushButton* AddButton;
  QPushButton* RemoveButton;
  QPushButton* RemoveAllButton;
  QPushButton* OKButton;
  QPushButton* CancelButton;

 private:
  void EditChanged();
  void AddClick();
  void RemoveClick();
  void RemoveAllClick();
  void OKClick();
  // Runs a session call; an error is shown instead of leaving the slot.
  template <typename F>
  bool Guarded(F&& f);

  TTolmidSession& session_;
  bool password_added_ = false;
};

// Shows the dialog modally for session; true when it was closed with OK.
bool ShowPasswordDialog(TTolmidSession& session);
// Makes ShowPasswordDialog the sessions' password dialog.
void InstallPasswordDialog();

}  // namespace dataset
