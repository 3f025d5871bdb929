// The capture window against a local lighttpd, beyond the end-to-end
// test's one clipboard URL: what Capture refuses, URLs beyond code page
// 1252, auto-capture over ranges where some numbers are missing (attended
// with scripted answers, unattended, up and down, leading zeroes,
// counters), Abort and the close box in the middle of a fetch, View (and
// the actions it keeps out while it waits), Delete,
// the picture files Process names, what a failed, bad or aborted Process
// leaves, and a Process killed at each of its steps.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTimer>

#include "app/auto_capture_form.h"
#include "app/pending_pictures.h"
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
    // A name beyond code page 1252, as the server's file system holds it.
    fs::create_directories(server_->DocRoot() / "www" / "pics");
    server_->AddFile("pics/\u9b5a.jpg", ReadBytes(server_->DocRoot() / "www" / "aqua02.jpg"));
    // Slow pictures: slow1 and slow3 come at once, slow2 sends a piece and
    // then nothing. Their URLs end in "/p.jpg" (a path after the script's
    // name), which makes them JPEG pictures to the program.
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
    if (aborted || !form_->NMHTTP1->Busy() || form_->PhotoTE->Text() != Url("slow2.cgi/p.jpg")) return;
    aborted = true;
    EXPECT_TRUE(form_->Running());
    EXPECT_FALSE(form_->AutoCapBut->Enabled());
    EXPECT_FALSE(form_->URLGrid->Enabled());
    form_->AbortBut->Click();
  });
  ticker.start(0);
  // Attended: the first picture is kept; the aborted one asks nothing.
  boxes_.Answer(fw::mrYes);
  AutoCapture({Url("slow"), ".cgi/p.jpg", "1", "3", false, false, false, "Research"});
  EXPECT_TRUE(aborted);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Keep this Photo?"});
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, Url("slow1.cgi/p.jpg"), "Research"}}));
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
    if (closed || !form_->NMHTTP1->Busy() || form_->PhotoTE->Text() != Url("slow2.cgi/p.jpg")) return;
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
    settings.URLSuffixTE->SetText(".cgi/p.jpg");
    settings.StartTE->SetText("1");
    settings.EndTE->SetText("3");
    settings.OKBut->Click();
  };
  EXPECT_EQ(form_->ShowModal(), fw::mrCancel);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(form_->Visible());
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, Url("slow1.cgi/p.jpg"), ""}}));
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
  AddCaptured(1003, Url("slow2.cgi/p.jpg"));
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
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1003, Url("slow2.cgi/p.jpg"), ""}, {1004, Url("aqua02.jpg"), ""}}));
  EXPECT_EQ(Rows("type3.dat").size(), 1u);
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(Data())) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".dat" && ext != ".idx" && ext != ".blb") files.push_back(e.path().filename().string());
  }
  EXPECT_EQ(files, std::vector<std::string>{"0"});
}

// A URL with characters that code page 1252 lacks is captured as a browser
// sends it, percent-escaped, and fetches the picture it names; a "." in
// the query does not make the extension.
TEST_F(CaptureTest, UrlsBeyondTheCodePageAreCapturedPercentEscaped) {
  QApplication::clipboard()->setText(QString::fromStdString(Url("pics/\u9b5a.jpg")));
  form_->CaptureBut->Click();
  const std::string escaped = Url("pics/%E9%AD%9A.jpg");
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1000, escaped, ""}}));
  form_->ViewBut->Click();
  EXPECT_EQ(ReadBytes(home_ / "temp"), ServedBytes("aqua02.jpg"));
  EXPECT_TRUE(form_->Image1->Visible());
  // Typed into the URL box: escaped as well, no box.
  QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("/\u9b5a"));
  QApplication::sendEvent(form_->PhotoURLEdit->Widget(), &typed);
  EXPECT_EQ(form_->PhotoURLEdit->Text(), escaped + "/%E9%AD%9A");
  EXPECT_TRUE(boxes_.requests.empty());
}

// Process names each picture file data\<n>, or data\<n>.<ext> with "Hide
// extension" unchecked, the extension from the URL's path; the name is
// stored as it is and the file is on disk in data/.
TEST_F(CaptureTest, ProcessNamesThePictureFiles) {
  const struct {
    bool hide;
    std::vector<std::string> urls;
    std::vector<std::string> stored;
  } cases[] = {
      {true, {"aqua01.jpg", "betta8.gif"}, {"data\\0", "data\\1"}},
      {false, {"aqua02.jpg?x=1.5", "betta10.gif", "aqua04.jpg#v2.5"}, {"data\\2.jpg", "data\\3.gif", "data\\4.jpg"}},
  };
  int number = 1000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hide);
    for (const std::string& u : c.urls) AddCaptured(number++, Url(u));
    form_->MaskCB->SetChecked(c.hide);
    form_->ProcessBut->Click();
    EXPECT_TRUE(boxes_.requests.empty());
    EXPECT_TRUE(CapturedUrls().empty());
    for (std::size_t i = 0; i < c.urls.size(); ++i) {
      ASSERT_TRUE(app::Datamodule1->Type3Table->Locate("PhotoURL", {fw::Variant(Url(c.urls[i]))}, {}));
      EXPECT_EQ(app::Datamodule1->Type3Table->FieldByName("Filename")->AsString(), c.stored[i]);
      const std::string leaf = c.stored[i].substr(5);
      const std::string served = c.urls[i].substr(0, c.urls[i].find_first_of("?#"));
      EXPECT_EQ(ReadBytes(Data(leaf)), ServedBytes(served)) << leaf;
    }
  }
  EXPECT_EQ(Counter("NextPicNum"), 5);
}

// View shows the current URL's picture inside the panel's frame; a failed
// View leaves no picture of another URL on show.
TEST_F(CaptureTest, AFailedViewClearsThePicture) {
  AddCaptured(1000, Url("aqua01.jpg"));
  AddCaptured(1001, Url("aqua03.jpg"));  // not served
  AddCaptured(1002, Url("bad.jpg"));     // no picture
  const int frame = form_->PicPanel->FrameWidth();
  ASSERT_GT(frame, 0);
  dataset::TTolmidTable& t = *app::Datamodule1->Type2Table;
  t.First();
  form_->ViewBut->Click();
  ASSERT_TRUE(form_->Image1->Visible());
  EXPECT_EQ(form_->Image1->Left(), frame);
  EXPECT_EQ(form_->Image1->Top(), frame);
  EXPECT_LE(form_->Image1->Width(), form_->PicPanel->Width() - 2 * frame);
  EXPECT_LE(form_->Image1->Height(), form_->PicPanel->Height() - 2 * frame);
  for (int i = 0; i < 2; ++i) {
    t.Next();
    boxes_.Answer(fw::mrOk);
    fw::Guarded([&] { form_->ViewBut->Click(); });
    EXPECT_FALSE(form_->Image1->Visible());
    EXPECT_EQ(form_->Image1->Picture().Graphic(), nullptr);
    t.First();
    form_->ViewBut->Click();
    ASSERT_TRUE(form_->Image1->Visible());
    t.Next();
  }
  EXPECT_EQ(boxes_.requests.size(), 2u);
}

// While a View's fetch waits, the window's other actions are off, as in a
// run: a second View, Process or Auto-Cap would otherwise run inside it,
// and the first View's end would clear the picture they left. "Abort"
// ends the View silently.
TEST_F(CaptureTest, AViewThatWaitsLetsNoOtherActionIn) {
  form_->NMHTTP1->SetTimeOut(0);
  AddCaptured(1000, Url("slow2.cgi/p.jpg"));
  app::Datamodule1->Type2Table->First();
  bool waited = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (waited || !form_->NMHTTP1->Busy()) return;
    waited = true;
    EXPECT_TRUE(form_->Running());
    for (fw::TControl* c : std::initializer_list<fw::TControl*>{form_->ViewBut, form_->ProcessBut, form_->AutoCapBut,
                                                                form_->CaptureBut, form_->DeleteBut, form_->URLGrid})
      EXPECT_FALSE(c->Enabled()) << c->Name();
    EXPECT_TRUE(form_->AbortBut->Enabled());
    form_->AbortBut->Click();
  });
  ticker.start(0);
  fw::Guarded([&] { form_->ViewBut->Click(); });
  ticker.stop();
  EXPECT_TRUE(waited);
  EXPECT_FALSE(form_->Running());
  EXPECT_TRUE(form_->ViewBut->Enabled());
  EXPECT_FALSE(form_->Image1->Visible());
  EXPECT_TRUE(boxes_.requests.empty());
}

// Delete asks first; No keeps the URL.
TEST_F(CaptureTest, DeleteAsksFirst) {
  AddCaptured(1000, Url("aqua01.jpg"));
  AddCaptured(1001, Url("aqua02.jpg"));
  app::Datamodule1->Type2Table->First();
  boxes_.Answer(fw::mrNo);
  form_->DeleteBut->Click();
  EXPECT_EQ(CapturedUrls().size(), 2u);
  boxes_.Answer(fw::mrYes);
  form_->DeleteBut->Click();
  EXPECT_EQ(boxes_.Texts(), Names(2, "Delete This URL?"));
  EXPECT_EQ(CapturedUrls(), (std::vector<Captured>{{1001, Url("aqua02.jpg"), ""}}));
}

// Files of the data folder that are not table files.
Names PictureFiles(const fs::path& data) {
  Names out;
  for (const auto& e : fs::directory_iterator(data)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".dat" && ext != ".idx" && ext != ".blb") out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The child of the test below: started as a process of its own (this test
// binary run again with the home directory and the kill point in its
// environment), it runs Process on the catalogue there and kills itself
// (SIGKILL) at the point, or in the middle of the fetch when the point is
// empty. Skipped when run otherwise.
TEST(ProcessChild, RunsProcessUntilKilled) {
  const char* home = std::getenv("TOLMID_KILL_HOME");
  const char* point = std::getenv("TOLMID_KILL_POINT");
  if (home == nullptr || point == nullptr) GTEST_SKIP() << "run by CaptureTest.ProcessKilledAtAnyStep...";
  ChildProgram program(home);
  if (!app::StartProgram(program.application)) _exit(2);
  auto* form = new app::TType2EditForm(app::MainForm);
  form->NMHTTP1->SetTimeOut(0);
  const std::string kill_at = point;
  app::SetProcessStepHook([&](std::string_view p) {
    if (p == kill_at) raise(SIGKILL);
  });
  // In the middle of the fetch: part of the body is in the client's file.
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (!kill_at.empty() || !form->NMHTTP1->Busy()) return;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("data", ec))
      if (e.path().filename().string().find(".part-") != std::string::npos && fs::file_size(e.path(), ec) > 0 && !ec)
        raise(SIGKILL);
  });
  ticker.start(0);
  try {
    form->Process();
  } catch (...) {
    _exit(3);
  }
  _exit(0);
}

// Process killed (SIGKILL) at each of its steps, in a process of its own;
// the next start leaves every picture file named by a photo and every
// photo's picture on disk. A kill in the middle of a fetch leaves the HTTP
// client's temporary file; one after the photo was posted, a picture that
// the start must move into place.
TEST_F(CaptureTest, ProcessKilledAtAnyStepLeavesNoPictureWithoutAPhoto) {
  const struct {
    const char* point;  // "" : in the middle of the fetch
    int photos;
  } kills[] = {{"", 0},
               {"picture fetched", 0},
               {"picture viewed", 0},
               {"photo posted", 1},
               {"picture in place", 1},
               {"captured URL deleted", 1}};
  for (const auto& k : kills) {
    SCOPED_TRACE(*k.point == '\0' ? "fetching" : k.point);
    delete form_;
    form_ = nullptr;
    Stop();
    fs::remove_all(Data());
    ASSERT_TRUE(Start());
    AddCaptured(1000, Url(*k.point == '\0' ? "slow2.cgi/p.jpg" : "aqua01.jpg"));
    Stop();

    const int status = RunSelf("ProcessChild.RunsProcessUntilKilled",
                               {"TOLMID_KILL_HOME=" + home_.string(), std::string("TOLMID_KILL_POINT=") + k.point});
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended with " << status;
    EXPECT_FALSE(PictureFiles(Data()).empty());  // the kill left something

    ASSERT_TRUE(Start());
    Names named;
    for (const std::string& f : Column(3, "Filename")) named.push_back(f.substr(5));
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named.size(), static_cast<std::size_t>(k.photos));
    EXPECT_EQ(PictureFiles(Data()), named);
    for (const std::string& leaf : named) EXPECT_EQ(ReadBytes(Data(leaf)), ServedBytes("aqua01.jpg"));
    form_ = new app::TType2EditForm(app::MainForm);
  }
}

}  // namespace
}  // namespace apptest
