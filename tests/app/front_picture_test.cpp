// The front picture over HTTP from a local server: fetched into
// "_front.jpg" on every activation of the main window (twice on the first,
// whose set-up places it too), shown at its size; every
// failure (no sponsor file, no URL, 404, an empty body, a stalled server, a
// picture that is not a JPEG or is cut short) shows the home picture and
// says nothing; a mode chosen while the first fetch waits stays on show.
#include <QTimer>

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

TEST_F(FrontPictureTest, FetchedOnEveryActivation) {
  Sponsor(server_->Url("count.cgi") + "\r\nhttp://second.line/ignored.jpg\r\n");
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  EXPECT_EQ(Hits(), 0);
  m.Show();
  EXPECT_EQ(Hits(), 2);
  EXPECT_EQ(ReadBytes(home_ / "_front.jpg"), *front_);
  EXPECT_TRUE(m.FrontImage->Visible());
  EXPECT_EQ(m.FrontImage->Width(), 180);
  EXPECT_EQ(m.FrontImage->Height(), 120);
  // Back from a modal window: the main window is activated again.
  app_->OnModalShown = [](fw::TForm& form) { form.SetModalResult(fw::mrOk); };
  m.About1->Click();
  app_->OnModalShown = nullptr;
  EXPECT_EQ(Hits(), 3);
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
    m.PlaceFrontImage();
    EXPECT_TRUE(m.FrontImage->Visible());
    EXPECT_EQ(m.FrontImage->Width(), c.shows_front ? 180 : 297);
    EXPECT_EQ(fs::exists(home_ / "_front.jpg") ? ReadBytes(home_ / "_front.jpg") : "", c.front_after);
  }
  // An activation while a fetch waits: the later fetch cancels the earlier
  // one and alone places the picture.
  Sponsor(server_->Url("stall.cgi"));
  m.NMHTTP1->SetTimeOut(0);
  fs::remove(home_ / "_front.jpg");
  QTimer::singleShot(0, [&] {
    Sponsor(server_->Url("front.jpg"));
    m.PlaceFrontImage();
  });
  m.PlaceFrontImage();
  EXPECT_EQ(m.FrontImage->Width(), 180);
  EXPECT_EQ(ReadBytes(home_ / "_front.jpg"), *front_);

  // Without the home picture the picture is empty and the panels follow.
  fs::remove(home_ / "_tavlin2.jpg");
  fs::remove(home_ / "_sponsor.txt");
  m.PlaceFrontImage();
  EXPECT_EQ(m.FrontImage->Picture().Graphic(), nullptr);
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(Hits(), 0);
  Stop();
}

// The window works while the first activation fetches the picture: a kind
// listed meanwhile stays on show under its title, and the introduction
// does not come back over it when the fetch ends.
TEST_F(FrontPictureTest, AKindListedDuringTheFirstFetchStaysOnShow) {
  Sponsor(server_->Url("stall.cgi"));
  ASSERT_TRUE(Start());
  app::TMainForm& m = Main();
  m.NMHTTP1->SetTimeOut(0);
  bool listed = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (listed || !m.NMHTTP1->Busy()) return;
    listed = true;
    m.Type1But->Click();
    // The activation places the picture once more after the set-up.
    Sponsor(server_->Url("front.jpg"));
    m.NMHTTP1->Cancel();
  });
  ticker.start(0);
  m.Show();
  ticker.stop();
  ASSERT_TRUE(listed);
  EXPECT_TRUE(m.FunctionPad->Visible());
  EXPECT_EQ(m.FunctionPad->ActivePage(), "Category");
  EXPECT_EQ(m.Caption(), "Browsing All Morvella Category Entries");
  testsupport::GrabToPng(m, "app_front_kind_listed_during_fetch");
  EXPECT_TRUE(boxes_.requests.empty());
  Stop();
}

}  // namespace
}  // namespace apptest
