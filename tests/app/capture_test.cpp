// The capture window against a local lighttpd, beyond the end-to-end
// test's one clipboard URL: what Capture refuses, auto-capture over ranges
// where some numbers are missing (attended with scripted answers,
// unattended, up and down, leading zeroes, counters), Abort and the close
// box in the middle of a fetch, and what a failed, bad or aborted Process
// leaves.
#include <QTimer>

#include "app/auto_capture_form.h"
#include "app/type2_edit_form.h"
#include "framework/forms/clipboard.h"
#include "tests/app/app_test_support.h"
#include "tests/common/http_server.h"

namespace apptest {
namespace {

constexpr const char* kTooLong = "The URL is longer than the 250 characters a captured URL can hold.";

struct Captured {
  int number;
  std::string url;
  std::string category;
  bool operator==(const Captured&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Captured& c) {
  return os << "{" << c.number << ", " << c.url << ", " << c.category << "}";
}

class CaptureTest : public CatalogueTest {
 protected:
  static void SetUpTestSuite() {
    // Picture files. Missing on purpose: aqua03, aqua05..08, aqua11,
    // betta9, betta11.
    server_ = new testsupport::LocalHttpServer;
    int shade = 0;
    for (const char* n : {"aqua01.jpg", "aqua02.jpg", "aqua04.jpg", "aqua09.jpg", "aqua10.jpg", "aqua12.jpg"})
      server_->AddFile(n, JpegBytes(200, 150, QColor(200, 90, 40 * shade++)));
    for (const auto& [served, file] : {std::pair{"betta8.gif", "tk-logo64.gif"}, {"betta10.gif", "cscope-c.gif"},
                                       {"betta12.gif", "tk-logo100.gif"}})
      server_->AddFile(served, GifFile(file));
    server_->AddFile("bad.jpg", "these bytes are not a JPEG picture");
    // Slow pictures: slow1 and slow3 come at once, slow2 sends a piece and
    // then nothing. Their URLs end in "?.jpg", which makes them JPEG
    // pictures to the program.
    const std::string jpeg = "printf 'Content-Type: image/jpeg\\r\\n\\r\\n'\ncat '" +
                             (server_->DocRoot() / "www" / "aqua01.jpg").string() + "'\n";
    server_->AddCgi("slow1.cgi", jpeg);
    server_->AddCgi("slow2.cgi", "printf 'Content-Type: image/jpeg\\r\\n\\r\\n'\nprintf 'partial'\nexec sleep 60\n");
    server_->AddCgi("slow3.cgi", jpeg);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    CatalogueTest::SetUp();
    if (!server_->Started()) GTEST_SKIP() << "lighttpd is not installed";
    ASSERT_TRUE(Start());
    form_ = new app::TType2EditForm(app::MainForm);
  }
  void TearDown() override {
    app_->OnModalShown = nullptr;
    delete form_;
    CatalogueTest::TearDown();
  }

  static std::string Url(const std::string& path) { return server_->Url(path); }
  static std::string ServedBytes(const std::string& name) {
    return ReadBytes(server_->DocRoot() / "www" / name);
  }

  // The captured URLs as the table holds them, in record order.
  std::vector<Captured> CapturedUrls() {
    std::vector<Captured> out;
    WithTable("type2.dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      for (t.First(); !t.Eof(); t.Next())
        out.push_back({t.FieldByName("Type2Num")->AsInteger(), t.FieldByName("ActivityName")->AsString(),
                       t.FieldByName("Category")->AsString()});
    });
    return out;
  }
  void AddCaptured(int number, const std::string& url, const std::string& category = "") {
    dataset::TTolmidTable& t = *app::Datamodule1->Type2Table;
    t.Append();
    t.FieldByName("Type2Num")->SetAsInteger(number);
    t.FieldByName("ActivityName")->SetAsString(url);
    if (!category.empty()) t.FieldByName("Category")->SetAsString(category);
    t.Post();
  }

  struct Settings {
    std::string prefix;
    std::string suffix;
    std::string low;
    std::string high;
    bool zeros = false;
    bool down = false;
    bool unattended = true;
    std::string category;
  };
  // Auto-Cap with these settings entered and OK pressed; errors that reach
  // the application go to the scripted boxes.
  void AutoCapture(const Settings& s) {
    app_->OnModalShown = [&](fw::TForm& f) {
      auto* settings = dynamic_cast<app::TAutoCaptureForm*>(&f);
      ASSERT_NE(settings, nullptr);
      EXPECT_EQ(settings, form_->Settings());
      settings->URLPrefixTE->SetText(s.prefix);
      settings->URLSuffixTE->SetText(s.suffix);
      settings->StartTE->SetText(s.low);
      settings->EndTE->SetText(s.high);
      settings->LeadingZeroesCB->SetChecked(s.zeros);
      (s.down ? settings->DESCRB : settings->ASCRB)->SetChecked(true);
      settings->UnattendedCB->SetChecked(s.unattended);
      settings->CategoryDDLB->SetText(s.category);
      settings->OKBut->Click();
    };
    fw::Guarded([&] { form_->AutoCapBut->Click(); });
    app_->OnModalShown = nullptr;
    EXPECT_EQ(form_->Settings(), nullptr);
  }

  static inline testsupport::LocalHttpServer* server_ = nullptr;
  GifPictures gif_;
  app::TType2EditForm* form_ = nullptr;
};

// The clipboard capture the end-to-end test does not take: what is not one
// URL, or one too long for the table, stores nothing and uses no number.
TEST_F(CaptureTest, CaptureRefusesWhatIsNotOneUrl) {
  const std::string long_url = Url(std::string(251 - Url("").size() - 4, 'x') + ".jpg");
  const struct {
    std::string text;
    const char* box;
  } cases[] = {{"", "The clipboard holds no URL to capture."},
               {"  \t ", "The clipboard holds no URL to capture."},
               {Url("aqua01.jpg") + "\n" + Url("aqua02.jpg"), "The clipboard holds no URL to capture."},
               {long_url, kTooLong}};
  for (const auto& c : cases) {
    fw::Clipboard().Clear();
    if (!c.text.empty()) fw::Clipboard().SetAsText(c.text);
    boxes_.requests.clear();
    boxes_.Answer(fw::mrOk);
    form_->CaptureBut->Click();
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{c.box}) << c.text;
  }
  EXPECT_EQ(form_->PhotoTE->Text(), "PhotoTE");
  EXPECT_TRUE(CapturedUrls().empty());
  EXPECT_EQ(Counter("NextType2Num"), 1000);
  // Blanks and a line end around one URL are not part of it.
  fw::Clipboard().SetAsText("  " + Url("aqua04.jpg") + " \r\n");
  form_->CaptureBut->Click();
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, Url("aqua04.jpg"), ""}}));
}

TEST_F(CaptureTest, AutoCaptureTakesExactlyTheExistingNumbers) {
  using Box = std::pair<std::string, fw::TModalResult>;  // a question and its answer
  const Box keep{"Keep this Photo?", fw::mrYes}, drop{"Keep this Photo?", fw::mrNo};
  const Box go_on{"End Auto-Capture?", fw::mrNo}, end{"End Auto-Capture?", fw::mrYes};
  const Box error_go_on{"Error Encountered. End Auto-Capture?", fw::mrNo};
  const Box error_end{"Error Encountered. End Auto-Capture?", fw::mrYes};
  struct Case {
    const char* what;
    Settings settings;
    std::vector<Box> boxes;
    // URL paths kept, in capture order, with their number's distance from
    // the run's first number.
    std::vector<std::pair<std::string, int>> kept;
    int numbers_used;
  };
  const std::string aqua = Url("aqua");
  const std::string betta = Url("betta");
  const std::vector<Case> cases = {
      {"unattended, ascending, leading zeroes", {aqua, ".jpg", "1", "12", true, false, true, "Fish Health"}, {},
       {{"aqua01.jpg", 0}, {"aqua02.jpg", 1}, {"aqua04.jpg", 3}, {"aqua09.jpg", 8}, {"aqua10.jpg", 9},
        {"aqua12.jpg", 11}},
       12},
      {"attended, descending", {betta, ".gif", "8", "12", false, true, false, "Research"},
       {keep, error_go_on, drop, go_on, error_go_on, keep}, {{"betta12.gif", 0}, {"betta8.gif", 4}}, 5},
      {"attended: drop and end", {betta, ".gif", "8", "12", false, false, false, ""}, {drop, end}, {}, 1},
      {"attended: an error ends it", {betta, ".gif", "9", "11", false, true, false, ""}, {error_end}, {}, 1},
      {"descending with leading zeroes", {aqua, ".jpg", "8", "12", true, true, true, ""}, {},
       {{"aqua12.jpg", 0}, {"aqua10.jpg", 2}, {"aqua09.jpg", 3}}, 5},
      {"unattended, nothing there", {aqua, ".jpg", "13", "16", false, false, true, ""}, {}, {}, 4},
      {"low above high: the note, then nothing", {aqua, ".jpg", "12", "1", false, false, true, ""},
       {{"Note: Invalid Range (The Low end is Higher than the High End)", fw::mrOk}}, {}, 0},
      {"an empty range end: no run", {aqua, ".jpg", "1", "", false, false, true, ""}, {}, {}, 0},
      {"a range end that is no number", {aqua, ".jpg", "1", "2a", false, false, true, ""},
       {{"'2a' is not a valid integer value", fw::mrOk}}, {}, 0},
      // prefix9.jpg would fit, prefix10.jpg not.
      {"URLs longer than the table holds: no run",
       {aqua + std::string(245 - aqua.size(), 'x'), ".jpg", "9", "10", false, false, true, ""},
       {{kTooLong, fw::mrOk}}, {}, 0},
  };
  std::vector<Captured> expected;
  int next = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes_.requests.clear();
    std::vector<std::string> questions;
    for (const auto& [question, answer] : c.boxes) {
      boxes_.Answer(answer);
      questions.push_back(question);
    }
    AutoCapture(c.settings);
    EXPECT_EQ(boxes_.Texts(), questions);
    for (const auto& [path, offset] : c.kept) expected.push_back({next + offset, Url(path), c.settings.category});
    next += c.numbers_used;
    EXPECT_EQ(CapturedUrls(), expected);
    EXPECT_EQ(Counter("NextType2Num"), next);
    EXPECT_FALSE(form_->Running());
    EXPECT_TRUE(form_->CaptureBut->Enabled());
  }
  // The last picture viewed is the last one fetched.
  EXPECT_EQ(ReadBytes(home_ / "temp"), ServedBytes("aqua09.jpg"));
}

TEST_F(CaptureTest, AUrlHiddenByACategoryFilterIsDroppedAllTheSame) {
  // The main window's category filter is on the captured URLs; the run's
  // category is another, so its new URLs do not show in the table.
  dataset::TTolmidTable& t = *app::Datamodule1->Type2Table;
  t.SetFilter("category='Research'");
  t.SetFiltered(true);
  boxes_.Answer(fw::mrNo).Answer(fw::mrNo).Answer(fw::mrYes);
  AutoCapture({Url("aqua"), ".jpg", "1", "2", true, false, false, "Fish Health"});
  EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"Keep this Photo?", "End Auto-Capture?", "Keep this Photo?"}));
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1001, Url("aqua02.jpg"), "Fish Health"}}));
  EXPECT_EQ(ReadBytes(home_ / "temp"), ServedBytes("aqua02.jpg"));
  EXPECT_FALSE(app::Datamodule1->StandardUpdateQuery->Active());
  t.SetFiltered(false);
}

TEST_F(CaptureTest, AbortInTheMiddleOfAFetchEndsTheRunAtOnce) {
  form_->NMHTTP1->SetTimeOut(0);  // only the abort ends the stalled fetch
  bool aborted = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (aborted || !form_->NMHTTP1->Busy() || form_->PhotoTE->Text() != Url("slow2.cgi?.jpg")) return;
    aborted = true;
    EXPECT_TRUE(form_->Running());
    EXPECT_FALSE(form_->AutoCapBut->Enabled());
    EXPECT_FALSE(form_->URLGrid->Enabled());
    form_->AbortBut->Click();
  });
  ticker.start(0);
  // Attended: the first picture is kept; the aborted one asks nothing.
  boxes_.Answer(fw::mrYes);
  AutoCapture({Url("slow"), ".cgi?.jpg", "1", "3", false, false, false, "Research"});
  EXPECT_TRUE(aborted);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Keep this Photo?"});
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, Url("slow1.cgi?.jpg"), "Research"}}));
  EXPECT_EQ(Counter("NextType2Num"), 1002);  // slow3 was never started
  EXPECT_FALSE(form_->AutoCB->Checked());
  EXPECT_TRUE(form_->AutoCapBut->Enabled());
  EXPECT_EQ(ReadBytes(home_ / "temp"), ServedBytes("aqua01.jpg"));
  for (const auto& e : fs::directory_iterator(home_))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(CaptureTest, ClosingTheWindowInTheMiddleOfAFetchLeavesNoHalfRecord) {
  form_->NMHTTP1->SetTimeOut(0);
  bool closed = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (closed || !form_->NMHTTP1->Busy() || form_->PhotoTE->Text() != Url("slow2.cgi?.jpg")) return;
    closed = true;
    form_->Widget()->close();  // the window's close box
  });
  app_->OnModalShown = [&](fw::TForm& f) {
    if (&f == form_) {
      ticker.start(0);
      form_->AutoCapBut->Click();
      return;
    }
    auto& settings = dynamic_cast<app::TAutoCaptureForm&>(f);
    settings.URLPrefixTE->SetText(Url("slow"));
    settings.URLSuffixTE->SetText(".cgi?.jpg");
    settings.StartTE->SetText("1");
    settings.EndTE->SetText("3");
    settings.OKBut->Click();
  };
  EXPECT_EQ(form_->ShowModal(), fw::mrCancel);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(form_->Visible());
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, Url("slow1.cgi?.jpg"), ""}}));
  EXPECT_EQ(app::Datamodule1->Type2Table->State(), fw::TDataSetState::dsBrowse);
  EXPECT_EQ(Counter("NextType2Num"), 1002);
}

TEST_F(CaptureTest, ProcessStopsAtAFailureAndLeavesNoOrphanPicture) {
  form_->NMHTTP1->SetTimeOut(0);
  // aqua01 is done; aqua03 is missing (the run ends, its numbers are
  // used); then bad.jpg arrives but is no picture: its file goes again.
  AddCaptured(1000, Url("aqua01.jpg"));
  AddCaptured(1001, Url("aqua03.jpg"));
  AddCaptured(1002, Url("bad.jpg"));
  AddCaptured(1003, Url("slow2.cgi?.jpg"));
  AddCaptured(1004, Url("aqua02.jpg"));
  boxes_.Answer(fw::mrOk);
  fw::Guarded([&] { form_->ProcessBut->Click(); });
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"HTTP error 404 (Not Found) from " + Url("aqua03.jpg")});
  EXPECT_EQ(Counter("NextPicNum"), 2);
  EXPECT_EQ(Counter("NextType3Num"), 1002);
  EXPECT_EQ(Rows("type3.dat").size(), 1u);

  app::Datamodule1->Type2Table->First();
  app::Datamodule1->Type2Table->Delete();  // aqua03
  boxes_.requests.clear();
  boxes_.Answer(fw::mrOk);
  fw::Guarded([&] { form_->ProcessBut->Click(); });
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
  EXPECT_FALSE(fs::exists(Data("2")));  // bad.jpg's picture file
  EXPECT_EQ(Counter("NextPicNum"), 3);
  EXPECT_EQ(Rows("type3.dat").size(), 1u);

  // Abort during the stalled fetch: silent, nothing half-done.
  app::Datamodule1->Type2Table->First();
  app::Datamodule1->Type2Table->Delete();  // bad.jpg
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (form_->NMHTTP1->Busy()) form_->AbortBut->Click();
  });
  ticker.start(0);
  fw::Guarded([&] { form_->ProcessBut->Click(); });
  ticker.stop();
  EXPECT_TRUE(boxes_.requests.size() == 1u);
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1003, Url("slow2.cgi?.jpg"), ""}, {1004, Url("aqua02.jpg"), ""}}));
  EXPECT_EQ(Rows("type3.dat").size(), 1u);
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(Data())) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".dat" && ext != ".idx" && ext != ".blb") files.push_back(e.path().filename().string());
  }
  EXPECT_EQ(files, std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace apptest
