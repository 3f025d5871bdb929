// The front picture over HTTP from a local server: fetched into
// "_front.jpg" on every activation of the main window, without a loop of
// its own (the activation returns at once and the picture is placed when
// it arrives), shown at its size; every failure (no sponsor file, no URL,
// 404, an empty body, a stalled server, a picture that is not a JPEG or is
// cut short) shows the home picture and says nothing. A sponsor site that
// answers late lets no click of the user's run inside another action.
#include <QCoreApplication>
#include <QTimer>

#include <cmath>

#include "app/type1_edit_form.h"
#include "app/type4_edit_form.h"

#include "tests/app/app_test_support.h"
#include "tests/common/http_server.h"
#include "tests/common/widget_grab.h"

namespace apptest {
namespace {

class FrontPictureTest : public CatalogueTest {
 protected:
  static void SetUpTestSuite() {
    server_ = new testsupport::LocalHttpServer;
    if (!server_->Started()) return;
    front_ = new std::string(JpegBytes(180, 120, QColor(20, 90, 160)));
    server_->AddFile("front.jpg", *front_);
    server_->AddFile("front.gif", GifBytes(50, 40));
    server_->AddFile("cut.jpg", front_->substr(0, front_->size() / 2));
    server_->AddFile("empty.jpg", "");
    const fs::path www = server_->DocRoot() / "www";
    // Counts its answers in the file "hits" beside the pages.
    server_->AddCgi("count.cgi", "echo x >> '" + (server_->DocRoot() / "hits").string() +
                                     "'\nprintf 'Content-Type: image/jpeg\\r\\n\\r\\n'\nexec cat '" +
                                     (www / "front.jpg").string() + "'\n");
    server_->AddCgi("stall.cgi", "exec sleep 600\n");
    // Answers once the test opens the gate (the script waits, not the
    // test): a sponsor site as slow as the test wants it.
    server_->AddCgi("late.cgi", "i=0\nwhile [ ! -e '" + Gate().string() +
                                    "' ] && [ $i -lt 3000 ]; do sleep 0.02; i=$((i+1)); done\n"
                                    "printf 'Content-Type: image/jpeg\\r\\n\\r\\n'\nexec cat '" +
                                    (www / "front.jpg").string() + "'\n");
  }
  static void TearDownTestSuite() {
    delete server_;
    delete front_;
    server_ = nullptr;
    front_ = nullptr;
  }
  void SetUp() override {
    CatalogueTest::SetUp();
    if (!server_->Started()) GTEST_SKIP() << "no lighttpd";
    fs::remove(server_->DocRoot() / "hits");
    fs::remove(Gate());
  }
  static fs::path Gate() { return server_->DocRoot() / "gate"; }
  static void OpenGate() { WriteBytes(Gate(), ""); }
  static void CloseGate() { fs::remove(Gate()); }
  // Runs the program's event loop until the front picture is placed.
  static void WaitForFrontPicture(app::TMainForm& m) {
    while (m.FrontPicturePending()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  static void PlaceAndWait(app::TMainForm& m) {
    m.PlaceFrontImage();
    WaitForFrontPicture(m);
  }
  // The user's next click, handled by whichever event loop runs next (as
  // the framework handles a click); then the late server answers.
  static void AtOnce(const std::function<void()>& click) {
    QTimer::singleShot(0, [click] {
      fw::Guarded(click);
      OpenGate();
    });
  }
  static int Hits() {
    std::ifstream f(server_->DocRoot() / "hits");
    int n = 0;
    for (std::string line; std::getline(f, line);) ++n;
    return n;
  }
  void Sponsor(const std::string& text) { WriteBytes(home_ / "_sponsor.txt", text); }

  static testsupport::LocalHttpServer* server_;
  static std::string* front_;
};

testsupport::LocalHttpServer* FrontPictureTest::server_ = nullptr;
std::string* FrontPictureTest::front_ = nullptr;

// The first activation places the picture twice (the set-up, then the
// activation itself); the later placing cancels the set-up's fetch before
// it is sent.
TEST_F(FrontPictureTest, FetchedOnEveryActivation) {
  Sponsor(server_->Url("count.cgi") + "\r\nhttp://second.line/ignored.jpg\r\n");
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  EXPECT_EQ(Hits(), 0);
  m.Show();
  // No empty frame while the first picture is on its way.
  EXPECT_FALSE(m.OptionsGB->Visible());
  WaitForFrontPicture(m);
  EXPECT_EQ(Hits(), 1);
  EXPECT_TRUE(m.OptionsGB->Visible());
  EXPECT_EQ(ReadBytes(home_ / "_front.jpg"), *front_);
  EXPECT_TRUE(m.FrontImage->Visible());
  EXPECT_EQ(m.FrontImage->Width(), 180);
  EXPECT_EQ(m.FrontImage->Height(), 120);
  // The introduction is centred at the size of the picture that arrived.
  auto centred = [](int outer, int inner) { return std::max(5, static_cast<int>(std::nearbyint((outer - inner) / 2.0))); };
  EXPECT_EQ(m.OptionsGB->Width(), 180 + 9 + 10);
  EXPECT_EQ(m.OptionsGB->Left(), centred(m.ResultsPanel->Width(), m.OptionsGB->Width()));
  EXPECT_EQ(m.OptionsGB->Top(), centred(m.ResultsPanel->Height(), m.OptionsGB->Height()));
  testsupport::GrabToPng(m, "app_front_picture");
  // Back from a modal window: the main window is activated again.
  app_->OnModalShown = [](fw::TForm& form) { form.SetModalResult(fw::mrOk); };
  m.About1->Click();
  app_->OnModalShown = nullptr;
  WaitForFrontPicture(m);
  EXPECT_EQ(Hits(), 2);
  EXPECT_TRUE(boxes_.requests.empty());
  Stop();
}

TEST_F(FrontPictureTest, FailuresShowTheHomePictureSilently) {
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  m.Show();  // no sponsor file: nothing is fetched
  EXPECT_FALSE(fs::exists(home_ / "_front.jpg"));
  EXPECT_EQ(m.FrontImage->Width(), 297);
  const std::string gif = ReadBytes(server_->DocRoot() / "www" / "front.gif");
  const std::string cut = ReadBytes(server_->DocRoot() / "www" / "cut.jpg");
  const struct {
    const char* name;
    std::string sponsor;  // "" : no sponsor file
    int timeout_ms;
    bool shows_front;
    std::string front_after;  // "_front.jpg" afterwards
  } cases[] = {
      {"no sponsor file", "", 5000, false, ""},
      {"empty sponsor file", "\n", 5000, false, ""},
      {"front", server_->Url("front.jpg") + "\n", 5000, true, *front_},
      {"404", server_->Url("missing.jpg"), 5000, false, *front_},
      {"empty body", server_->Url("empty.jpg"), 5000, false, *front_},
      {"stalled", server_->Url("stall.cgi"), 100, false, *front_},
      {"not http", "ftp://127.0.0.1/front.jpg", 5000, false, *front_},
      {"a gif", server_->Url("front.gif"), 5000, false, gif},
      {"cut short", server_->Url("cut.jpg"), 5000, false, cut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sponsor.empty())
      fs::remove(home_ / "_sponsor.txt");
    else
      Sponsor(c.sponsor);
    m.NMHTTP1->SetTimeOut(c.timeout_ms);
    PlaceAndWait(m);
    EXPECT_TRUE(m.FrontImage->Visible());
    EXPECT_EQ(m.FrontImage->Width(), c.shows_front ? 180 : 297);
    EXPECT_EQ(fs::exists(home_ / "_front.jpg") ? ReadBytes(home_ / "_front.jpg") : "", c.front_after);
  }
  // An activation while a fetch waits: the later fetch cancels the earlier
  // one and alone places the picture.
  Sponsor(server_->Url("stall.cgi"));
  m.NMHTTP1->SetTimeOut(0);
  fs::remove(home_ / "_front.jpg");
  m.PlaceFrontImage();
  EXPECT_TRUE(m.NMHTTP1->Busy());
  Sponsor(server_->Url("front.jpg"));
  PlaceAndWait(m);
  EXPECT_EQ(m.FrontImage->Width(), 180);
  EXPECT_EQ(ReadBytes(home_ / "_front.jpg"), *front_);

  // Without the home picture the picture is empty and the panels follow.
  fs::remove(home_ / "_tavlin2.jpg");
  fs::remove(home_ / "_sponsor.txt");
  PlaceAndWait(m);
  EXPECT_EQ(m.FrontImage->Picture().Graphic(), nullptr);
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(Hits(), 0);
  Stop();
}

// The window works while the first activation's fetch waits: Show
// returns at once, a kind listed meanwhile stays on show under its title,
// and the introduction does not come back over it when the picture
// arrives.
TEST_F(FrontPictureTest, AKindListedDuringTheFirstFetchStaysOnShow) {
  Sponsor(server_->Url("late.cgi"));
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  AtOnce([&] { m.Type1But->Click(); });
  m.Show();
  EXPECT_TRUE(m.FrontPicturePending());
  WaitForFrontPicture(m);
  EXPECT_TRUE(m.FunctionPad->Visible());
  EXPECT_EQ(m.FunctionPad->ActivePage(), "Category");
  EXPECT_EQ(m.Caption(), "Browsing All Morvella Category Entries");
  EXPECT_EQ(m.FrontImage->Width(), 180);
  EXPECT_FALSE(m.OptionsGB->Visible());
  testsupport::GrabToPng(m, "app_front_kind_listed_during_fetch");
  EXPECT_TRUE(boxes_.requests.empty());
  Stop();
}

// A sponsor site that answers late, and the user clicks at once after
// closing an editor: the click is handled once the editor's result is
// applied and the editor freed, not inside the activation that the
// closing brings. (Handled inside it, the click listed another kind and so
// posted the link the user had cancelled, or opened a second editor
// beside the first: "A component named Type1EditForm already exists".)
TEST_F(FrontPictureTest, AClickAfterAnEditorWaitsForItsEnd) {
  Sponsor(server_->Url("late.cgi"));
  OpenGate();
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  m.Show();
  WaitForFrontPicture(m);
  Put(1, {{"JournalName", "Fish Health"}, {"Type1Num", "1000"}});

  // Internet, New, a name typed, Cancel, then a mode button.
  bool editor_left = true;
  fw::TDataSetState links = fw::TDataSetState::dsInactive;
  m.Type4But->Click();
  CloseGate();
  app_->OnModalShown = [&](fw::TForm& f) {
    auto& e = dynamic_cast<app::TType4EditForm&>(f);
    e.LinkNameTE->SetText("cancelled link");
    AtOnce([&] {
      editor_left = m.FindComponent("Type4EditForm") != nullptr;
      links = app::Datamodule1->Type4Table->State();
      m.Type1But->Click();
    });
    e.CancelBut->Click();
  };
  m.NewBut->Click();
  WaitForFrontPicture(m);
  EXPECT_FALSE(editor_left);
  EXPECT_EQ(links, fw::TDataSetState::dsBrowse);
  EXPECT_EQ(Column(4, "LinkName"), Names{});
  EXPECT_EQ(m.Caption(), "Browsing All Morvella Category Entries");

  // Category, Edit, Cancel, then Edit again.
  CloseGate();
  int shown = 0;
  app_->OnModalShown = [&](fw::TForm& f) {
    if (++shown == 1) AtOnce([&] { m.EditBut->Click(); });
    dynamic_cast<app::TType1EditForm&>(f).CancelBut->Click();
  };
  m.EditBut->Click();
  WaitForFrontPicture(m);
  app_->OnModalShown = nullptr;
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(Column(1, "JournalName"), Names{"Fish Health"});
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(m.FrontImage->Width(), 180);
  Stop();
}

}  // namespace
}  // namespace apptest
