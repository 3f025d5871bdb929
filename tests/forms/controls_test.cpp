// Controls: alignment and anchors when a form grows, clicks (real and by
// code), check and radio boxes, memo lines against a string list, the
// notebook, images, the clipboard, the shell opener, timers on the
// injected clock, and characters beyond code page 1252 entered into text
// controls.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>


#include "framework/forms/buttons.h"
#include "framework/forms/check_box.h"
#include "framework/forms/clipboard.h"
#include "framework/forms/combo_box.h"
#include "framework/forms/edit.h"
#include "framework/forms/image.h"
#include "framework/forms/memo.h"
#include "framework/forms/notebook.h"
#include "framework/forms/panels.h"
#include "framework/forms/shell.h"
#include "framework/forms/timer.h"
#include "framework/gui/canvas.h"
#include "gif/gui/gif_graphic.h"
#include "tests/common/manual_timers.h"
#include "tests/forms/forms_test_support.h"

namespace {

using formstest::AppTest;
using formstest::TestForm;

using ControlsTest = AppTest;

// Aligned panels share the form's client area in the order top, bottom,
// left, right, client (inside the client panel's frame and border), and
// anchored controls keep their distances when the form grows.
TEST_F(ControlsTest, AlignedAndAnchoredChildrenFollowTheForm) {
  auto* form = fw::NewForm<TestForm>(&App());
  form->SetClientSize(400, 300);
  using A = fw::TAlign;
  const struct {
    int parent;  // row of the parent, -1: the form
    A align;
    int anchors;
    QRect bounds, grown;  // grown: after the form grows to 600 x 500
  } rows[] = {
      {-1, A::alTop, 0, {0, 0, 10, 40}, {0, 0, 600, 40}},       {-1, A::alBottom, 0, {0, 0, 10, 30}, {0, 470, 600, 30}},
      {-1, A::alLeft, 0, {0, 0, 50, 10}, {0, 40, 50, 430}},     {-1, A::alRight, 0, {0, 0, 60, 10}, {540, 40, 60, 430}},
      {-1, A::alClient, 0, {0, 0, 10, 10}, {50, 40, 490, 430}}, {4, A::alClient, 0, {0, 0, 10, 10}, {4, 4, 482, 422}},
      {1, A::alNone, fw::akRight | fw::akTop, {300, 2, 75, 25}, {500, 2, 75, 25}},
      {0, A::alNone, fw::akLeft | fw::akTop | fw::akRight, {10, 5, 380, 20}, {10, 5, 580, 20}},
      {4, A::alNone, fw::akRight | fw::akBottom, {250, 170, 20, 10}, {450, 370, 20, 10}},
  };
  std::vector<fw::TPanel*> panels;
  for (const auto& r : rows) {
    auto* p = form->Make<fw::TPanel>("P" + std::to_string(panels.size()),
                                     r.parent < 0 ? static_cast<fw::TWinControl*>(form) : panels[r.parent]);
    p->SetBounds(r.bounds.x(), r.bounds.y(), r.bounds.width(), r.bounds.height());
    p->SetAlign(r.align);
    if (r.anchors != 0) p->SetAnchors(r.anchors);
    if (panels.size() == 4) p->SetBorderWidth(3);  // frame 1 (outer bevel) + 3
    panels.push_back(p);
  }
  form->SetClientSize(600, 500);
  for (std::size_t i = 0; i < panels.size(); ++i) {
    const fw::TPanel* p = panels[i];
    EXPECT_EQ(QRect(p->Left(), p->Top(), p->Width(), p->Height()), rows[i].grown) << "row " << i;
  }
  panels[0]->Hide();  // a hidden aligned panel gives its strip back
  EXPECT_EQ(panels[2]->Height(), 470);
}

TEST_F(ControlsTest, ClicksByUserAndByCode) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* button = form->Make<fw::TButton>("NewBut", form);
  button->SetBounds(10, 10, 80, 25);
  std::vector<std::string> log;
  button->OnClick = [&](fw::TComponent* s) { log.push_back(static_cast<fw::TButton*>(s)->Name()); };
  form->Show();
  QTest::mouseClick(button->Widget(), Qt::LeftButton);
  button->SetEnabled(false);
  QTest::mouseClick(button->Widget(), Qt::LeftButton);  // a user cannot click it
  button->Click();                                        // code can
  EXPECT_EQ(log, (std::vector<std::string>{"NewBut", "NewBut"}));

  // Speed buttons of one group stay down one at a time.
  std::vector<fw::TSpeedButton*> modes;
  for (const char* name : {"Type1But", "Type2But", "Type3But"}) {
    auto* b = form->Make<fw::TSpeedButton>(name, form);
    b->SetGroupIndex(1);
    modes.push_back(b);
  }
  QTest::mouseClick(modes[1]->Widget(), Qt::LeftButton);
  modes[2]->Click();
  QTest::mouseClick(modes[2]->Widget(), Qt::LeftButton);  // stays down
  EXPECT_FALSE(modes[0]->Down());
  EXPECT_FALSE(modes[1]->Down());
  EXPECT_TRUE(modes[2]->Down());
  EXPECT_TRUE(static_cast<QToolButton*>(modes[2]->Widget())->isChecked());
}

TEST_F(ControlsTest, CheckBoxesRunOnClickOncePerChange) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* cb = form->Make<fw::TCheckBox>("CategoryFilterCB", form);
  cb->SetBounds(5, 5, 200, 20);
  auto* up = form->Make<fw::TRadioButton>("ASCRB", form);
  auto* down = form->Make<fw::TRadioButton>("DESCRB", form);
  up->SetBounds(5, 30, 100, 20);
  down->SetBounds(5, 50, 100, 20);
  int clicks = 0;
  cb->OnClick = [&](fw::TComponent*) { ++clicks; };
  form->Show();
  cb->SetChecked(true);
  cb->SetChecked(true);  // no change, no click
  QTest::mouseClick(cb->Widget(), Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_FALSE(cb->Checked());
  EXPECT_EQ(clicks, 2);
  int up_clicks = 0, down_clicks = 0;
  up->OnClick = [&](fw::TComponent*) { ++up_clicks; };
  down->OnClick = [&](fw::TComponent*) { ++down_clicks; };
  up->SetChecked(true);
  QTest::mouseClick(down->Widget(), Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_FALSE(up->Checked());
  EXPECT_TRUE(down->Checked());
  // Switched off by its neighbour: no click of its own.
  EXPECT_EQ(up_clicks, 1);
  EXPECT_EQ(down_clicks, 1);
}

// Memo lines against a string list model.
TEST_F(ControlsTest, MemoLinesBehaveLikeAStringList) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* memo = form->Make<fw::TMemo>("Memo1", form);
  fw::TStringList model;
  struct Op {
    char kind;  // a add, i insert, p put, d delete, c clear, t set text
    int index;
    std::string text;
  };
  const Op ops[] = {{'a', 0, "img/v1"}, {'a', 0, "2/pic"}, {'a', 0, "jpg"},     {'i', 0, "first"},
                    {'p', 2, "two"},    {'d', 3, ""},      {'i', 3, "end"},     {'d', 0, ""},
                    {'c', 0, ""},       {'a', 0, "again"}, {'t', 0, "x\r\ny\rz\n"}, {'d', 2, ""}};
  for (const Op& op : ops) {
    switch (op.kind) {
      case 'a': memo->Lines().Add(op.text); model.Add(op.text); break;
      case 'i': memo->Lines().Insert(op.index, op.text); model.Insert(op.index, op.text); break;
      case 'p': memo->Lines().Put(op.index, op.text); model.Put(op.index, op.text); break;
      case 'd': memo->Lines().Delete(op.index); model.Delete(op.index); break;
      case 'c': memo->Lines().Clear(); model.Clear(); break;
      case 't': memo->Lines().SetText(op.text); model.SetText(op.text); break;
    }
    ASSERT_EQ(memo->Lines().ToStringList().ToVector(), model.ToVector()) << op.kind << op.index;
  }
  EXPECT_THROW(memo->Lines().Get(5), fw::EStringListError);
  memo->SetText("caf\xE9\r\nna\xEFve");
  EXPECT_EQ(memo->Lines()[0], "caf\xE9");
  EXPECT_EQ(memo->Text(), "caf\xE9\r\nna\xEFve");
}

TEST_F(ControlsTest, NotebookRunsOnClickOnlyForTheUsersTabClick) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* pad = form->Make<fw::TTabbedNotebook>("FunctionPad", form);
  pad->SetAlign(fw::TAlign::alClient);
  for (const char* page : {"Category", "Capture", "Photos", "Internet"}) pad->AddPage(page);
  auto* grid_stand_in = form->Make<fw::TPanel>("ExpenseGrid", pad->Pages(2));
  grid_stand_in->SetAlign(fw::TAlign::alClient);
  std::vector<std::string> seen;
  pad->OnClick = [&](fw::TComponent*) { seen.push_back(pad->ActivePage()); };
  form->Show();
  pad->SetActivePage("Photos");
  EXPECT_TRUE(seen.empty());
  auto* bar = static_cast<QTabWidget*>(pad->Widget())->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
  EXPECT_EQ(seen, std::vector<std::string>{"Internet"});
  EXPECT_THROW(pad->SetActivePage("Graphs"), fw::EInvalidOperation);
  EXPECT_EQ(grid_stand_in->ParentForm(), form);
  EXPECT_GT(grid_stand_in->Width(), 0);
}

TEST_F(ControlsTest, ImagePlacesAndPaintsThePicture) {
  auto* form = fw::NewForm<TestForm>(&App());
  auto* image = form->Make<fw::TImage>("Image1", form);
  auto bitmap = std::make_unique<fw::TBitmap>();
  bitmap->SetPixelFormat(fw::TPixelFormat::pf32bit);
  bitmap->SetSize(400, 100);
  bitmap->Canvas().SetBrushColor(fw::clRed);
  bitmap->Canvas().FillRect(fw::Rect(0, 0, 400, 100));
  image->SetAutoSize(true);
  image->Picture().SetGraphic(std::move(bitmap));
  EXPECT_EQ(image->Width(), 400);  // auto-sized to the picture
  EXPECT_EQ(image->Height(), 100);
  image->SetAutoSize(false);
  image->SetBounds(0, 0, 147, 133);
  struct Case {
    bool stretch, proportional, center;
    fw::TRect expect;
  };
  const Case cases[] = {
      {false, false, false, fw::Rect(0, 0, 400, 100)}, {true, false, false, fw::Rect(0, 0, 147, 133)},
      {true, true, false, fw::Rect(0, 0, 147, 36)},    {true, true, true, fw::Rect(0, 48, 147, 84)},
      {false, false, true, fw::Rect(-126, 16, 274, 116)},
  };
  for (const Case& c : cases) {
    image->SetStretch(c.stretch);
    image->SetProportional(c.proportional);
    image->SetCenter(c.center);
    EXPECT_EQ(image->DestRect(), c.expect) << c.stretch << c.proportional << c.center;
  }
  image->SetStretch(true);
  image->SetProportional(false);
  image->SetCenter(false);
  const QImage shot = image->Snapshot();
  EXPECT_EQ(shot.size(), QSize(147, 133));
  EXPECT_EQ(QColor(shot.pixel(146, 132)), QColor(Qt::red));
}

// An animated GIF plays in an image through painter threads that paint via
// Synchronize; freeing the form stops them (ASan: nothing left running on
// freed memory).
TEST_F(ControlsTest, AnimatedGifPlaysAndStopsWithItsImage) {
  gif::GIFImageInitialization();
  auto* form = fw::NewForm<TestForm>(&App());
  auto* image = form->Make<fw::TImage>("FrontImage", form);
  image->SetAutoSize(true);
  image->Picture().LoadFromFile(std::string(TOLMID_TEST_DATA) + "/gif/qt-spinner.gif");
  auto* g = dynamic_cast<gif::TGIFGraphic*>(image->Picture().Graphic());
  ASSERT_NE(g, nullptr);
  ASSERT_GT(g->Image().Images().Count(), 1);
  form->Show();
  EXPECT_EQ(image->Snapshot().size(), QSize(16, 16));  // paints, which starts the painter
  EXPECT_GE(g->PainterCount(), 1);
  for (int i = 0; i < 10; ++i) App().ProcessMessages();
  delete form;
}

TEST_F(ControlsTest, ClipboardTextAndPictures) {
  gif::GIFImageInitialization();
  fw::Clipboard().SetAsText("http://example.test/caf\xE9.jpg");
  EXPECT_EQ(fw::Clipboard().AsText(), "http://example.test/caf\xE9.jpg");

  // "Select all and paste over it", and a paste without text keeps the edit.
  auto* form = fw::NewForm<TestForm>(&App());
  auto* edit = form->Make<fw::TEdit>("PhotoTE", form);
  edit->SetText("PhotoTE");
  edit->SelectAll();
  edit->PasteFromClipboard();
  EXPECT_EQ(edit->Text(), "http://example.test/caf\xE9.jpg");
  fw::Clipboard().Clear();
  edit->SelectAll();
  edit->PasteFromClipboard();
  EXPECT_EQ(edit->Text(), "http://example.test/caf\xE9.jpg");

  fw::TBitmap b;
  b.SetPixelFormat(fw::TPixelFormat::pf32bit);
  b.SetSize(7, 5);
  fw::Clipboard().Assign(b);
  auto back = fw::Clipboard().GetGraphic();
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->ClassName(), "TBitmap");
  EXPECT_EQ(back->Width(), 7);

  gif::TGIFGraphic g;
  g.LoadFromFile(std::string(TOLMID_TEST_DATA) + "/gif/cscope-up.gif");
  fw::Clipboard().Assign(g);
  auto pasted = fw::Clipboard().GetGraphic();
  ASSERT_NE(pasted, nullptr);
  EXPECT_STREQ(pasted->ClassName(), "TGIFImage");  // its own format first
  EXPECT_EQ(pasted->Width(), g.Width());
}

TEST_F(ControlsTest, ShellOpenGoesThroughTheOpener) {
  std::vector<std::string> opened;
  auto old = fw::SetShellOpener([&](const std::string& t) {
    opened.push_back(t);
    return true;
  });
  EXPECT_GT(fw::ShellExecuteA(nullptr, "open", "http://example.test/guide", "", "", fw::SW_SHOWNORMAL), 32);
  EXPECT_LE(fw::ShellExecuteA(nullptr, "print", "http://example.test/guide", "", "", 1), 32);
  EXPECT_LE(fw::ShellExecuteA(nullptr, "open", "", "", "", 1), 32);
  fw::SetShellOpener(std::move(old));
  EXPECT_EQ(opened, std::vector<std::string>{"http://example.test/guide"});
}

TEST_F(ControlsTest, TimersFireByTheInjectedClock) {
  testsupport::ManualTimers timers;
  auto* form = fw::NewForm<TestForm>(&App());
  auto* timer = new fw::TTimer(form);
  int ticks = 0;
  timer->OnTimer = [&](fw::TComponent*) {
    if (++ticks == 3) timer->SetEnabled(false);
  };
  timer->SetInterval(100);
  timers.Advance(250);
  EXPECT_EQ(ticks, 2);
  timers.Advance(1000);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(timers.Running(), 0);
  delete form;
}

// What the user types or pastes that code page 1252 lacks: refused with a
// box naming it (the rest of the edit kept, surrogate pairs as one
// character), or percent-escaped in a box that holds a URL.
TEST_F(ControlsTest, CharactersBeyondTheCodePage) {
  testsupport::ScriptedMessages boxes;
  auto* form = fw::NewForm<TestForm>(&App());
  auto* refusing = form->Make<fw::TEdit>("Refusing", form);
  auto* url = form->Make<fw::TEdit>("Url", form);
  url->SetForeignChars(fw::TForeignChars::kPercentEncode);
  auto* combo = form->Make<fw::TComboBox>("Combo", form);
  auto* memo = form->Make<fw::TMemo>("Memo", form);
  auto type = [](QWidget* w, const char* utf8) {
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(utf8));
    QApplication::sendEvent(w, &key);
  };
  const std::string refused = "These characters cannot be stored and were left out: U+9B5A, U+1F41F.";
  const struct {
    const char* what;
    std::function<void()> enter;
    std::function<std::string()> text;
    const char* want;  // code page 1252
    bool box;
  } cases[] = {
      {"typed", [&] { type(refusing->Widget(), "caf\u00e9 \u9b5a\U0001F41F\u9b5a!"); },
       [&] { return refusing->Text(); }, "caf\xe9 !", true},
      {"pasted URL", [&] {
         QApplication::clipboard()->setText(QString::fromUtf8("http://h/\u9b5a\u00e9.jpg"));
         url->PasteFromClipboard();
       }, [&] { return url->Text(); }, "http://h/%E9%AD%9A\xe9.jpg", false},
      {"combo", [&] { type(combo->Widget()->findChild<QLineEdit*>(), "a\u9b5ab\U0001F41F"); },
       [&] { return combo->Text(); }, "ab", true},
      {"memo", [&] {
         QApplication::clipboard()->setText(QString::fromUtf8("x\n\U0001F41Fy\u9b5a"));
         static_cast<QPlainTextEdit*>(memo->Widget())->paste();
       }, [&] { return memo->Text(); }, "x\r\ny", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.requests.clear();
    if (c.box) boxes.Answer(fw::mrOk);
    c.enter();
    EXPECT_EQ(c.text(), c.want);
    if (c.box) {
      ASSERT_EQ(boxes.requests.size(), 1u);
      EXPECT_NE(boxes.requests[0].text.find("U+9B5A"), std::string::npos) << boxes.requests[0].text;
    } else {
      EXPECT_TRUE(boxes.requests.empty());
    }
  }
  EXPECT_EQ(fw::ForeignCharsMessage({0x9B5A, 0x1F41F}), refused);
  delete form;
}

}  // namespace
