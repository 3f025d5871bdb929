// The application object and forms: exceptions from handlers become the
// exception box and the program goes on, modal results and closing, the
// activation rule, the message loop's end, and the message boxes' texts.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "framework/db/db_common.h"
#include "framework/forms/buttons.h"
#include "framework/forms/dialogs.h"
#include "framework/forms/menus.h"
#include "framework/forms/timer.h"
#include "framework/thread.h"
#include "tests/common/manual_timers.h"
#include "tests/forms/forms_test_support.h"

namespace {

using formstest::AppTest;
using formstest::TestForm;
using testsupport::ScriptedMessages;

using ApplicationTest = AppTest;

// Each road by which Qt calls a handler must end in the exception box,
// captioned with the title, with the exception's own text, and leave the
// program running.
TEST_F(ApplicationTest, HandlerExceptionsBecomeTheExceptionBox) {
  testsupport::ManualTimers timers;
  ScriptedMessages boxes;
  boxes.AnswerAll(fw::mrOk);
  auto* form = fw::NewForm<TestForm>(&App());
  auto* button = form->Make<fw::TButton>("OkBut", form);
  auto* menu = new fw::TMainMenu(form);
  auto* item = new fw::TMenuItem(form);
  item->SetCaption("&File");
  auto* sub = new fw::TMenuItem(form);
  sub->SetCaption("&New");
  item->Add(sub);
  menu->Add(item);
  form->SetMenu(menu);
  auto* timer = new fw::TTimer(form);
  timer->SetInterval(50);
  timer->SetEnabled(false);
  timer->SetEnabled(true);
  auto thrower = [](const char* text) { return [text](fw::TComponent*) { throw fw::EDatabaseError(text); }; };
  button->OnClick = thrower("from a button");
  sub->OnClick = thrower("from a menu");
  timer->OnTimer = thrower("from a timer");
  form->OnActivate = thrower("from activation");
  form->Show();
  QTest::mouseClick(button->Widget(), Qt::LeftButton);
  for (QAction* a : form->Widget()->findChildren<QAction*>())
    if (a->text() == "&New") a->trigger();
  timers.Advance(50);
  button->OnClick = [](fw::TComponent*) { throw fw::EAbort("silent"); };
  QTest::mouseClick(button->Widget(), Qt::LeftButton);
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"from activation", "from a button", "from a menu", "from a timer"}));
  for (const auto& r : boxes.requests) {
    EXPECT_EQ(r.caption, "Morvella Software");
    EXPECT_EQ(r.type, fw::TMsgDlgType::mtError);
    EXPECT_EQ(r.buttons, std::vector<fw::TMsgDlgBtn>{fw::TMsgDlgBtn::mbOK});
  }
  EXPECT_FALSE(App().Terminated());
  delete form;  // its timer before the manual timers
}

TEST_F(ApplicationTest, ModalResultsAndCloseRules) {
  ScriptedMessages boxes;
  struct Case {
    const char* name;
    std::function<void(TestForm&, fw::TButton&, fw::TButton&)> act;
    bool refuse_first_close;
    fw::TModalResult expected;
    int close_queries;
  };
  const std::vector<Case> cases = {
      {"OK button", [](TestForm&, fw::TButton& ok, fw::TButton&) { ok.Click(); }, false, fw::mrOk, 1},
      {"Cancel button", [](TestForm&, fw::TButton&, fw::TButton& cancel) { cancel.Click(); }, false, fw::mrCancel, 1},
      {"Close", [](TestForm& f, fw::TButton&, fw::TButton&) { f.Close(); }, false, fw::mrCancel, 1},
      {"close box", [](TestForm& f, fw::TButton&, fw::TButton&) { f.Widget()->close(); }, false, fw::mrCancel, 1},
      {"refused once, then OK",
       [](TestForm&, fw::TButton& ok, fw::TButton&) {
         ok.Click();
         QTimer::singleShot(0, [&ok] { ok.Click(); });
       },
       true, fw::mrOk, 2},
      {"disabled OK clicked by code",
       [](TestForm&, fw::TButton& ok, fw::TButton&) {
         ok.SetEnabled(false);
         ok.Click();
       },
       false, fw::mrOk, 1},
  };
  for (const Case& c : cases) {
    auto* form = fw::NewForm<TestForm>(&App(), "Editor");
    auto* ok = form->Make<fw::TButton>("OkBut", form);
    ok->SetModalResult(fw::mrOk);
    auto* cancel = form->Make<fw::TButton>("CancelBut", form);
    cancel->SetModalResult(fw::mrCancel);
    int queries = 0, closes = 0;
    form->OnCloseQuery = [&](fw::TComponent*, bool& can) {
      can = !c.refuse_first_close || queries > 0;
      ++queries;
    };
    form->OnClose = [&](fw::TComponent*, fw::TCloseAction&) { ++closes; };
    App().OnModalShown = [&](fw::TForm&) { c.act(*form, *ok, *cancel); };
    EXPECT_EQ(form->ShowModal(), c.expected) << c.name;
    EXPECT_EQ(queries, c.close_queries) << c.name;
    EXPECT_EQ(closes, 1) << c.name;
    EXPECT_FALSE(form->Visible()) << c.name;
    EXPECT_FALSE(form->Modal()) << c.name;
    delete form;
  }
  App().OnModalShown = nullptr;
  EXPECT_TRUE(boxes.requests.empty());
}

TEST_F(ApplicationTest, ActivationFollowsWindowsOfTheProgramOnly) {
  std::vector<std::string> log;
  auto* main = fw::NewForm<TestForm>(&App(), "MainForm");
  auto* editor = fw::NewForm<TestForm>(main, "Editor");
  main->OnActivate = [&](fw::TComponent*) { log.push_back("main"); };
  editor->OnActivate = [&](fw::TComponent*) { log.push_back("editor"); };
  main->Show();
  main->Show();  // already active
  // The program loses the focus to another program and gets it back.
  QEvent deactivate(QEvent::WindowDeactivate), activate(QEvent::WindowActivate);
  QApplication::sendEvent(main->Widget(), &deactivate);
  QApplication::sendEvent(main->Widget(), &activate);
  App().OnModalShown = [&](fw::TForm& f) {
    // Another program takes the focus while the editor is up.
    QApplication::sendEvent(f.Widget(), &deactivate);
    QApplication::sendEvent(f.Widget(), &activate);
    f.SetModalResult(fw::mrOk);
  };
  editor->ShowModal();
  EXPECT_EQ(log, (std::vector<std::string>{"main", "editor", "main"}));
  EXPECT_EQ(App().ActiveForm(), main);
  App().OnModalShown = nullptr;
}

TEST_F(ApplicationTest, RunEndsWhenTheMainFormCloses) {
  TestForm* main = nullptr;
  App().CreateForm(main);
  TestForm* second = nullptr;
  App().CreateForm(second);
  EXPECT_EQ(App().MainForm(), main);
  int closes = 0;
  main->OnClose = [&](fw::TComponent*, fw::TCloseAction&) { ++closes; };
  QTimer::singleShot(0, [&] {
    second->Show();
    second->Close();  // another form closing ends nothing
    QTimer::singleShot(0, [&] { main->Close(); });
  });
  App().Run();
  EXPECT_TRUE(App().Terminated());
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(main->Visible());
}

TEST_F(ApplicationTest, FailedCreateIsShownAndRemembered) {
  ScriptedMessages boxes;
  boxes.Answer(fw::mrOk);
  struct FailingForm : TestForm {
    explicit FailingForm(fw::TComponent* owner) : TestForm(owner, "Failing") {
      OnCreate = [](fw::TComponent*) { throw fw::EDatabaseError("Tolmid Engine Error # 10253 locked"); };
    }
  };
  FailingForm* f = nullptr;
  App().CreateForm(f);
  EXPECT_TRUE(f->CreateFailed());
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Tolmid Engine Error # 10253 locked"});
}

TEST_F(ApplicationTest, MessageBoxTexts) {
  ScriptedMessages boxes;
  using B = fw::TMsgDlgBtn;
  boxes.Answer(fw::mrYes).Answer(fw::mrNo).Answer(fw::mrOk).Answer(fw::IDYES).Answer(fw::IDOK);
  EXPECT_EQ(fw::MessageDlg("Delete This Photo?", fw::TMsgDlgType::mtConfirmation, {B::mbNo, B::mbYes}), fw::mrYes);
  EXPECT_EQ(fw::MessageDlg("Keep this Photo?", fw::TMsgDlgType::mtConfirmation, {B::mbYes, B::mbNo}), fw::mrNo);
  fw::MessageDlg("Note: Invalid Range", fw::TMsgDlgType::mtInformation, {B::mbOK});
  App().MessageBox("Exit?", "Confirm exit", fw::MB_YESNO | fw::MB_ICONQUESTION);
  fw::ShowMessage("Done");
  struct Expect {
    fw::TMsgDlgType type;
    const char* caption;
    std::vector<B> buttons;
    B default_button;
    fw::TModalResult escape;
  };
  const std::vector<Expect> expect = {
      {fw::TMsgDlgType::mtConfirmation, "Confirm", {B::mbYes, B::mbNo}, B::mbYes, fw::mrNo},
      {fw::TMsgDlgType::mtConfirmation, "Confirm", {B::mbYes, B::mbNo}, B::mbYes, fw::mrNo},
      {fw::TMsgDlgType::mtInformation, "Information", {B::mbOK}, B::mbOK, fw::mrOk},
      {fw::TMsgDlgType::mtConfirmation, "Confirm exit", {B::mbYes, B::mbNo}, B::mbYes, fw::mrNone},
      {fw::TMsgDlgType::mtCustom, "Morvella Software", {B::mbOK}, B::mbOK, fw::mrOk},
  };
  ASSERT_EQ(boxes.requests.size(), expect.size());
  for (std::size_t i = 0; i < expect.size(); ++i) {
    const auto& r = boxes.requests[i];
    EXPECT_EQ(r.type, expect[i].type) << i;
    EXPECT_EQ(r.caption, expect[i].caption) << i;
    EXPECT_EQ(r.buttons, expect[i].buttons) << i;
    EXPECT_EQ(r.default_button, expect[i].default_button) << i;
    EXPECT_EQ(r.escape_result, expect[i].escape) << i;
  }
  EXPECT_STREQ(fw::ButtonText(B::mbYes), "&Yes");
  EXPECT_STREQ(fw::ButtonText(B::mbNo), "&No");
}

// The real box shows its text as written: an error naming a user's file
// or category is never taken for markup.
TEST_F(ApplicationTest, BoxTextIsPlainText) {
  for (const char* text : {"Cannot open file data\\<b>x</b>.jpg", "<img src=\"x\">", "a < b & c"}) {
    SCOPED_TRACE(text);
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      auto* label = box->findChild<QLabel*>("qt_msgbox_label");
      ASSERT_NE(label, nullptr);
      shown = label->text();
      format = label->textFormat();
      box->buttons().front()->click();
    });
    fw::MessageDlg(text, fw::TMsgDlgType::mtError, {fw::TMsgDlgBtn::mbOK});
    EXPECT_EQ(shown.toStdString(), text);
    EXPECT_EQ(format, Qt::PlainText);
  }
}

// A thread's Synchronize call must reach the main thread while it waits in
// the Qt event loop (GIF painters paint this way), without any polling.
TEST_F(ApplicationTest, SynchronizeRunsFromTheEventLoop) {
  QEventLoop loop;
  bool ran_on_main = false;
  struct Worker : fw::TThread {
    Worker(QEventLoop& l, bool& r) : TThread(true), loop(l), ran(r) {}
    void Execute() override {
      Synchronize([this] {
        ran = fw::TThread::IsMainThread();
        loop.quit();
      });
    }
    QEventLoop& loop;
    bool& ran;
  } worker(loop, ran_on_main);
  // A safety net only: the test fails (instead of hanging) if the call
  // never comes.
  bool gave_up = false;
  QTimer::singleShot(10000, &loop, [&] {
    gave_up = true;
    loop.quit();
  });
  worker.Start();
  App().RunLoop(loop);
  worker.WaitFor();
  EXPECT_FALSE(gave_up);
  EXPECT_TRUE(ran_on_main);
}

}  // namespace
