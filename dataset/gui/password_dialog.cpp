#include "dataset/gui/password_dialog.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <exception>

#include "dataset/tolmid_session.h"
#include "platform/text.h"

namespace dataset {
namespace {

// The engine keeps passwords and messages in code page 1252; the widgets
// hold Unicode. Text crosses between them here and nowhere else.
std::string EngineText(const QString& text) { return platform::Utf8ToCp1252(text.toStdString()); }

QString WidgetText(std::string_view engine_text) {
  return QString::fromStdString(platform::Cp1252ToUtf8(engine_text));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int l, int t,
                        int w, int h) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(l, t, w, h);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

// Client area 273 x 132; positions are the form's own, relative to the
// client area (and, inside the group box, to the box).
TTolmidPasswordDialog::TTolmidPasswordDialog(TTolmidSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("TolmidPasswordDialog"));
  setWindowTitle(QStringLiteral("Enter password"));
  setFixedSize(273, 132);
  setModal(true);

  GroupBox1 = new QGroupBox(QStringLiteral("Password"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 257, 81);
  Edit = new QLineEdit(GroupBox1);
  Edit->setObjectName(QStringLiteral("Edit"));
  Edit->setGeometry(16, 18, 225, 21);
  Edit->setEchoMode(QLineEdit::Password);  // shown as '*' by the style
  Edit->setMaxLength(static_cast<int>(TTolmidSession::kMaxPasswordLength));
  AddButton = MakeButton(GroupBox1, "AddButton", "&Add", 16, 46, 65, 25);
  RemoveButton = MakeButton(GroupBox1, "RemoveButton", "&Remove", 88, 46, 65, 25);
  RemoveAllButton = MakeButton(GroupBox1, "RemoveAllButton", "Re&move all", 160, 46, 81, 25);
  OKButton = MakeButton(this, "OKButton", "&OK", 109, 98, 75, 25);
  OKButton->setDefault(true);
  CancelButton = MakeButton(this, "CancelButton", "Cancel", 190, 98, 75, 25);

  AddButton->setEnabled(false);
  RemoveButton->setEnabled(false);
  OKButton->setEnabled(false);

  connect(Edit, &QLineEdit::textChanged, this, [this] { EditChanged(); });
  connect(AddButton, &QPushButton::clicked, this, [this] { AddClick(); });
  connect(RemoveButton, &QPushButton::clicked, this, [this] { RemoveClick(); });
  connect(RemoveAllButton, &QPushButton::clicked, this, [this] { RemoveAllClick(); });
  connect(OKButton, &QPushButton::clicked, this, [this] { OKClick(); });
  // Escape also lands here through QDialog::reject.
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(Edit, AddButton);
  Edit->setFocus();
}

template <typename F>
bool TTolmidPasswordDialog::Guarded(F&& f) {
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    QMessageBox::critical(this, windowTitle(), WidgetText(e.what()));
    return false;
  }
}

void TTolmidPasswordDialog::EditChanged() {
  const bool has_text = !Edit->text().isEmpty();
  AddButton->setEnabled(has_text);
  RemoveButton->setEnabled(has_text);
  OKButton->setEnabled(has_text || password_added_);
}

void TTolmidPasswordDialog::AddClick() {
  const std::string text = EngineText(Edit->text());
  if (!Guarded([&] { session_.AddPassword(text); })) return;
  password_added_ = true;
  Edit->clear();
  Edit->setFocus();
}

void TTolmidPasswordDialog::RemoveClick() {
  const std::string text = EngineText(Edit->text());
  if (!Guarded([&] { session_.RemovePassword(text); })) return;
  Edit->clear();
  Edit->setFocus();
}

void TTolmidPasswordDialog::RemoveAllClick() {
  Guarded([&] { session_.RemoveAllPasswords(); });
  Edit->setFocus();
}

void TTolmidPasswordDialog::OKClick() {
  const std::string text = EngineText(Edit->text());
  if (!text.empty() && !Guarded([&] { session_.AddPassword(text); })) return;
  accept();
}

bool ShowPasswordDialog(TTolmidSession& session) {
  TTolmidPasswordDialog dialog(session);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    dialog.move(area.center() - dialog.rect().center());
  }
  return dialog.exec() == QDialog::Accepted;
}

void InstallPasswordDialog() { SetPasswordDialogHook(&ShowPasswordDialog); }

}  // namespace dataset
