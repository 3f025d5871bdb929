// The password dialog on the offscreen platform: the enabling rules of its
// buttons; OK and Add put passwords into the session, Cancel does not;
// typed text reaches the session in code page 1252 and error texts come
// back from it; the real modal dialog answers a PasswordRequest.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "dataset/gui/password_dialog.h"
#include "framework/exceptions.h"
#include "session_test_support.h"

namespace dataset::sessiontest {
namespace {

class PasswordDialogTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    session_ = &Session();
    session_->SetActive(true);
  }
  bool Has(const char* password) const { return session_->Handle()->HasPassword(password); }
  std::size_t Count() const { return session_->Handle()->Passwords().Count(); }
  TTolmidSession* session_ = nullptr;
};

TEST_F(PasswordDialogTest, ButtonsFollowTheEditAndChangeTheSession) {
  TTolmidPasswordDialog d(*session_);
  EXPECT_FALSE(d.AddButton->isEnabled() || d.RemoveButton->isEnabled() || d.OKButton->isEnabled());
  d.Edit->setText("one");
  EXPECT_TRUE(d.AddButton->isEnabled());
  EXPECT_TRUE(d.RemoveButton->isEnabled());
  EXPECT_TRUE(d.OKButton->isEnabled());
  d.AddButton->click();
  EXPECT_TRUE(Has("one"));
  EXPECT_TRUE(d.PasswordAdded());
  EXPECT_EQ(d.Edit->text(), "");
  EXPECT_FALSE(d.AddButton->isEnabled());
  EXPECT_FALSE(d.RemoveButton->isEnabled());
  EXPECT_TRUE(d.OKButton->isEnabled()) << "a password was added";
  d.Edit->setText("two");
  d.AddButton->click();
  d.Edit->setText("ONE");
  d.RemoveButton->click();
  EXPECT_TRUE(Has("one")) << "removal is case-sensitive";
  d.Edit->setText("one");
  d.RemoveButton->click();
  EXPECT_FALSE(Has("one"));
  EXPECT_TRUE(Has("two"));
  d.RemoveAllButton->click();
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(d.result(), 0) << "nothing closed the dialog";
}

TEST_F(PasswordDialogTest, TypedTextReachesTheSessionInCodePage1252) {
  // A table's password is kept (and compared) as code page 1252 bytes.
  const struct {
    const char* typed;     // UTF-8, as the edit holds it
    const char* expected;  // code page 1252, as the session holds it
  } cases[] = {
      {"caf\xC3\xA9", "caf\xE9"},
      {"\xC3\x86r\xC3\xB8 \xE2\x82\xAC" "5", "\xC6r\xF8 \x80" "5"},
      {"\xC5\x81\xC3\xB3" "d\xC5\xBA", "?\xF3" "d?"},  // no 1252 form: '?'
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    TTolmidPasswordDialog d(*session_);
    d.Edit->setText(QString::fromUtf8(c.typed));
    d.AddButton->click();
    EXPECT_TRUE(Has(c.expected));
    d.Edit->setText(QString::fromUtf8(c.typed));
    d.RemoveButton->click();
    EXPECT_FALSE(Has(c.expected));
    d.Edit->setText(QString::fromUtf8(c.typed));
    d.OKButton->click();
    EXPECT_TRUE(Has(c.expected));
    EXPECT_EQ(Count(), 1u) << "nothing but the converted text";
    session_->RemoveAllPasswords();
  }
}

TEST_F(PasswordDialogTest, ErrorTextsAreShownFromCodePage1252) {
  // A session that fails to start: Add reaches it and shows its error.
  auto* other = new TTolmidSession(nullptr);
  other->SetSessionName("Other");
  other->OnStartup = [](TTolmidSession&) {
    throw fw::Exception("Zugang f\xFCr M\xFCller verweigert \x80");
  };
  TTolmidPasswordDialog d(*other);
  QString shown;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
        shown = box->text();
        box->done(QMessageBox::Ok);
      }
    }
  });
  d.Edit->setText("x");
  d.AddButton->click();
  EXPECT_EQ(shown, QString::fromUtf8("Zugang f\xC3\xBCr M\xC3\xBCller verweigert \xE2\x82\xAC"));
  EXPECT_FALSE(d.PasswordAdded());
}

TEST_F(PasswordDialogTest, InstalledDialogAnswersPasswordRequests) {
  InstallPasswordDialog();
  // The modal dialog is answered from the event loop it runs.
  auto answer = [](const char* text, bool ok) {
    QTimer::singleShot(0, [=] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* d = dynamic_cast<TTolmidPasswordDialog*>(w);
        if (d == nullptr || !d->isVisible()) continue;
        d->Edit->setText(text);
        (ok ? d->OKButton : d->CancelButton)->click();
      }
    });
  };
  answer("Typed", true);
  EXPECT_TRUE(session_->PasswordRequest());
  EXPECT_TRUE(Has("Typed"));
  answer("Other", false);
  EXPECT_FALSE(session_->PasswordRequest());
  EXPECT_FALSE(Has("Other"));
}

}  // namespace
}  // namespace dataset::sessiontest
