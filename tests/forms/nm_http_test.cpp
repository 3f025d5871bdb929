// The HTTP client against a local lighttpd: pictures arrive byte for byte
// in the named file; 404, an empty body, a stall (ended by a short injected
// timeout) and a cancel fail with clear messages and leave the file as it
// was, with no temporary file behind; only http and https are fetched; the
// event loop runs during a fetch, and a component freed by a handler while
// it fetches does not bring the program down. GetAsync returns at once and
// calls back from the event loop with what Get would have raised; a fetch
// that is cancelled, overtaken or whose component goes calls back at most
// with EAbort, never from inside the call that ended it.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "framework/db/db_common.h"
#include "framework/gui/jpeg_codec.h"
#include "framework/net/nm_http.h"
#include "tests/common/http_server.h"
#include "tests/common/scratch_dir.h"
#include "tests/forms/forms_test_support.h"
#include "tests/common/error_text.h"

namespace {

namespace fs = std::filesystem;
using formstest::AppTest;

std::string ReadAll(const fs::path& p) { return testsupport::ReadFile(p); }

std::string JpegBytes() {
  std::vector<std::uint8_t> px(32 * 24 * 4, 0x80), out;
  EXPECT_TRUE(fw::jpeg::Encode(px.data(), 32, 24, {}, out).ok());
  return std::string(out.begin(), out.end());
}

class NMHTTPTest : public AppTest {
 protected:
  static void SetUpTestSuite() {
    server_ = new testsupport::LocalHttpServer;
    server_->AddFile("front.jpg", JpegBytes());
    server_->AddFile("aqua01.gif", ReadAll(fs::path(TOLMID_TEST_DATA) / "gif" / "tk-logo64.gif"));
    server_->AddFile("empty.jpg", "");
    // Headers and a piece of the body, then nothing.
    server_->AddCgi("stall_body.cgi",
                    "printf 'Content-Type: image/jpeg\\r\\n\\r\\n'\nprintf 'partial'\nexec sleep 600\n");
    server_->AddCgi("stall.cgi", "exec sleep 600\n");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->Started()) GTEST_SKIP() << "lighttpd is not installed";
    dir_ = fs::temp_directory_path() / ("tolmid_nmhttp_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "data");
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Files in the folder of the fetched files.
  std::vector<std::string> Files(const fs::path& d) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(d)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  static inline testsupport::LocalHttpServer* server_ = nullptr;
  fs::path dir_;
};

TEST_F(NMHTTPTest, PicturesArriveByteForByte) {
  fw::TNMHTTP http(nullptr);
  http.SetInputFileMode(true);
  struct Case {
    const char* path;
    const char* file;  // as the program names it
    fs::path lands;
  };
  const Case cases[] = {
      {"front.jpg", "_front.jpg", "_front.jpg"},
      {"aqua01.gif", "DATA\\0", "data/0"},  // backslash, folder matched without case
  };
  const fs::path home = fs::current_path();
  fs::current_path(dir_);
  for (const Case& c : cases) {
    http.SetBody((dir_ / c.file).string());
    if (std::string(c.file).find('\\') != std::string::npos) http.SetBody(c.file);
    http.Get(server_->Url(c.path));
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(ReadAll(dir_ / c.lands), ReadAll(server_->DocRoot() / "www" / c.path)) << c.path;
  }
  EXPECT_EQ(Files(dir_), (std::vector<std::string>{"_front.jpg", "data"}));
  EXPECT_EQ(Files(dir_ / "data"), std::vector<std::string>{"0"});
  fs::current_path(home);

  http.SetInputFileMode(false);
  http.Get(server_->Url("aqua01.gif"));
  EXPECT_EQ(http.Body(), ReadAll(server_->DocRoot() / "www" / "aqua01.gif"));
}

// A URL as the program holds it (code page 1252, as typed or copied) is
// requested as a browser requests it: characters beyond ASCII as UTF-8
// percent escapes, blanks as %20, escapes already there kept.
TEST_F(NMHTTPTest, UrlsBeyondAsciiAreRequestedEscaped) {
  struct Case {
    const char* served;  // the file's name on the server (UTF-8)
    const char* path;    // the URL's path as the program holds it
  };
  const Case cases[] = {
      {"caf\u00e9.jpg", "caf\xE9.jpg"},
      {"\u20ac 5.jpg", "\x80 5.jpg"},
      {"\u00e9t\u00e9.jpg", "%C3%A9t%C3%A9.jpg"},
  };
  fw::TNMHTTP http(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    server_->AddFile(c.served, c.path);
    http.Get(server_->Url(c.path));
    EXPECT_EQ(http.Body(), c.path);
  }
}

TEST_F(NMHTTPTest, FailuresKeepTheFileAndSayWhy) {
  const fs::path target = dir_ / "data" / "3.jpg";
  {
    std::ofstream f(target);
    f << "earlier picture";
  }
  struct Case {
    std::string url;
    int timeout_ms;
    std::string message;
  };
  const std::vector<Case> cases = {
      {server_->Url("missing.jpg"), 5000, "HTTP error 404 (Not Found) from " + server_->Url("missing.jpg")},
      {server_->Url("empty.jpg"), 5000, "Empty answer from " + server_->Url("empty.jpg")},
      {server_->Url("stall.cgi"), 20, "No answer from " + server_->Url("stall.cgi") + " within 20 ms"},
      {server_->Url("stall_body.cgi"), 20, "No answer from " + server_->Url("stall_body.cgi") + " within 20 ms"},
      {"ftp://127.0.0.1/x.jpg", 5000, "Only http and https addresses can be fetched: ftp://127.0.0.1/x.jpg"},
      {"file:///etc/passwd", 5000, "Only http and https addresses can be fetched: file:///etc/passwd"},
      {"data\\3.jpg", 5000, "Only http and https addresses can be fetched: data\\3.jpg"},
  };
  fw::TNMHTTP http(nullptr);
  http.SetInputFileMode(true);
  http.SetBody(target.string());
  for (const Case& c : cases) {
    http.SetTimeOut(c.timeout_ms);
    EXPECT_EQ(testsupport::ErrorText<fw::EHTTPError>([&] { http.Get(c.url); }), c.message);
    EXPECT_EQ(ReadAll(target), "earlier picture") << c.url;
    EXPECT_EQ(Files(dir_ / "data"), std::vector<std::string>{"3.jpg"}) << c.url;
  }
}

TEST_F(NMHTTPTest, CancelEndsTheFetchAtOnceAndTheLoopRuns) {
  fw::TNMHTTP http(nullptr);
  http.SetInputFileMode(true);
  http.SetBody((dir_ / "temp").string());
  http.SetTimeOut(0);  // only the cancel can end it
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (++ticks == 3) {
      EXPECT_TRUE(http.Busy());
      // A second fetch while one runs is refused.
      EXPECT_THROW(http.Get(server_->Url("front.jpg")), fw::EHTTPError);
      http.Cancel();
    }
  });
  ticker.start(0);
  EXPECT_THROW(http.Get(server_->Url("stall_body.cgi")), fw::EAbort);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(http.Busy());
  EXPECT_TRUE(Files(dir_).size() == 1);  // only "data"
}

TEST_F(NMHTTPTest, ComponentFreedDuringItsFetch) {
  auto* http = new fw::TNMHTTP(nullptr);
  http->SetTimeOut(0);
  QTimer::singleShot(0, [&] { delete http; });
  EXPECT_THROW(http->Get(server_->Url("stall.cgi")), fw::EAbort);
}

TEST_F(NMHTTPTest, UnreachableServer) {
  // Port 1 on the loopback: nothing listens there.
  fw::TNMHTTP http(nullptr);
  http.SetTimeOut(5000);
  try {
    http.Get("http://127.0.0.1:1/x.jpg");
    ADD_FAILURE();
  } catch (const fw::EHTTPError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot fetch http://127.0.0.1:1/x.jpg: ", 0), 0u) << e.Message();
  }
}

// Runs the event loop until done says so.
void RunUntil(const bool& done) {
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Runs the events posted so far (and what they post in turn up to a marker
// posted now).
void RunPostedEvents() {
  bool marker = false;
  QTimer::singleShot(0, [&] { marker = true; });
  RunUntil(marker);
}

std::string ErrorOf(std::exception_ptr error) {
  if (!error) return "";
  try {
    std::rethrow_exception(error);
  } catch (const fw::EAbort&) {
    return "abort";
  } catch (const fw::Exception& e) {
    return e.Message();
  }
}

TEST_F(NMHTTPTest, GetAsyncCallsBackFromTheEventLoop) {
  const fs::path target = dir_ / "data" / "3.jpg";
  const struct {
    const char* path;
    bool to_file;
    std::string error;  // "" : success
  } cases[] = {
      {"front.jpg", true, ""},
      {"aqua01.gif", false, ""},
      {"missing.jpg", true, "HTTP error 404 (Not Found) from " + server_->Url("missing.jpg")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    testsupport::WriteFile(target, "earlier picture");
    fw::TNMHTTP http(nullptr);
    http.SetInputFileMode(c.to_file);
    http.SetBody(c.to_file ? target.string() : "");
    bool called = false;
    std::string error = "not called";
    http.GetAsync(server_->Url(c.path), [&](std::exception_ptr e) {
      called = true;
      error = ErrorOf(e);
    });
    EXPECT_TRUE(http.Busy());
    EXPECT_FALSE(called);
    EXPECT_THROW(http.GetAsync(server_->Url("front.jpg"), [](std::exception_ptr) {}), fw::EHTTPError);
    RunUntil(called);
    EXPECT_EQ(error, c.error);
    EXPECT_FALSE(http.Busy());
    const std::string served = ReadAll(server_->DocRoot() / "www" / c.path);
    if (!c.error.empty()) {
      EXPECT_EQ(ReadAll(target), "earlier picture");
    } else if (c.to_file) {
      EXPECT_EQ(ReadAll(target), served);
    } else {
      EXPECT_EQ(http.Body(), served);
    }
    EXPECT_EQ(Files(dir_ / "data"), std::vector<std::string>{"3.jpg"});
  }
  // Not even started: raised at once, as Get raises it.
  fw::TNMHTTP http(nullptr);
  EXPECT_THROW(http.GetAsync("ftp://127.0.0.1/x.jpg", [](std::exception_ptr) { ADD_FAILURE(); }), fw::EHTTPError);
  RunPostedEvents();
}

// Cancel ends the fetch; its callback comes later, with EAbort. A fetch
// started before that callback ran drops it. A component freed while it
// fetches, or by its own callback, calls nothing more.
TEST_F(NMHTTPTest, GetAsyncCancelledOvertakenOrFreed) {
  auto* http = new fw::TNMHTTP(nullptr);
  http->SetTimeOut(0);
  std::vector<std::string> calls;
  auto record = [&](const std::string& name) {
    return [&calls, name](std::exception_ptr e) { calls.push_back(name + ": " + ErrorOf(e)); };
  };
  http->GetAsync(server_->Url("stall.cgi"), record("cancelled"));
  http->Cancel();
  EXPECT_TRUE(calls.empty());
  RunPostedEvents();
  EXPECT_EQ(calls, std::vector<std::string>{"cancelled: abort"});

  calls.clear();
  http->GetAsync(server_->Url("stall.cgi"), record("overtaken"));
  http->Cancel();
  bool done = false;
  http->GetAsync(server_->Url("front.jpg"), [&](std::exception_ptr e) {
    calls.push_back("later: " + ErrorOf(e));
    done = true;
  });
  RunUntil(done);
  RunPostedEvents();
  EXPECT_EQ(calls, std::vector<std::string>{"later: "});

  calls.clear();
  http->GetAsync(server_->Url("stall.cgi"), record("freed"));
  delete http;
  RunPostedEvents();
  EXPECT_TRUE(calls.empty());

  http = new fw::TNMHTTP(nullptr);
  done = false;
  http->GetAsync(server_->Url("front.jpg"), [&](std::exception_ptr) {
    delete http;
    done = true;
  });
  RunUntil(done);
  RunPostedEvents();
}

}  // namespace
