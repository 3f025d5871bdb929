// THttpCGIEngine driven in-process: server variables and their aliases,
// form fields, refused requests, the response's status line and headers,
// the debug appendix, and sessions kept in files (read back by the engine
// and deciphered independently with OpenSSL).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "cgi/blowfish.h"
#include "cgi/http_engine.h"
#include "cgi/request_parser.h"
#include "cgi/session_store.h"
#include "cgi/watchdog.h"
#include "tests/cgi/cgi_process.h"
#include "tests/cgi/session_file_reader.h"
#include "tests/common/scratch_dir.h"

namespace cgi {
namespace {

namespace fs = std::filesystem;

// Collects what the engine writes.
class StringSink : public fw::TStream {
 public:
  explicit StringSink(std::string* out) : out_(out) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    out_->append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }
  std::int64_t Seek(std::int64_t, fw::TSeekOrigin) override { return static_cast<std::int64_t>(out_->size()); }
  void SetSize(std::int64_t) override {}

 private:
  std::string* out_;
};

// Makes the test a console program for its lifetime (so that EndRequest
// adds the content length), and a windowed one again afterwards.
struct ConsoleProgram {
  ConsoleProgram() { SetConsoleProgram(true); }
  ~ConsoleProgram() { SetConsoleProgram(false); }
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { SessionEnd("", true); }
  void TearDown() override {
    if (engine_) engine_->EndRequest();
    engine_.reset();
    SessionEnd("", true);
  }

  THttpCGIEngine& Start(const std::vector<std::string>& vars, const std::string& body = "") {
    if (engine_) engine_->EndRequest();
    out_.clear();
    engine_ = std::make_unique<THttpCGIEngine>(nullptr);
    engine_->SetCGIAutoTerminate(false);
    engine_->SetTempDir(dir_.path());
    fw::TStringList list;
    for (const auto& v : vars) list.Add(v);
    engine_->SetServerVariables(list);
    auto in = std::make_unique<fw::TMemoryStream>();
    if (!body.empty()) in->WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
    in->SetPosition(0);
    input_ = in.get();
    engine_->SetRequestStreams(std::move(in), std::make_unique<StringSink>(&out_));
    return *engine_;
  }
  // A POST of body with the given type.
  THttpCGIEngine& Post(const std::string& type, const std::string& body) {
    return Start({"REQUEST_METHOD=POST", "CONTENT_TYPE=" + type, "CONTENT_LENGTH=" + std::to_string(body.size())},
                 body);
  }
  // Ends the request and returns what was sent.
  std::string Finish() {
    engine_->EndRequest();
    engine_.reset();
    return out_;
  }

  testsupport::ScratchDir dir_;
  std::string out_;
  std::unique_ptr<THttpCGIEngine> engine_;
  fw::TMemoryStream* input_ = nullptr;
};

const std::string kForm = "application/x-www-form-urlencoded";

TEST_F(EngineTest, ServerVariablesAndAliases) {
  struct Case {
    std::vector<std::string> vars;
    const char* asked;
    const char* expected;
  };
  const Case cases[] = {
      // A direct hit first, then the alias group in its own order.
      {{"HTTP_USER_AGENT=direct"}, "http-user-agent", "direct"},
      {{"USER_AGENT=short", "HTTP_USER_AGENT="}, "http-user-agent", "short"},
      {{"USER_AGENT=short", "X=1"}, "HTTP_USER_AGENT", "short"}, {{"HTTP_USER_AGENT=long"}, "USER_AGENT", "long"},
      {{"USER_AGENT=short", "HTTP_USER_AGENT=long"}, "user agent", "short"},
      {{"SERVER_NAME=host"}, "SERVER SOFTWARE", "host"}, {{"URL=/u", "URI=/i"}, "SCRIPT_NAME", "/u"},
      {{"HTTP_URL=/h", "URI=/i"}, "EXECUTABLE_PATH", "/h"}, {{"QUERY=a=1"}, "QUERY_STRING", "a=1"},
      {{"IP=10.0.0.1"}, "REMOTE_ADDR", "10.0.0.1"}, {{"METHOD=POST"}, "REQUEST_METHOD", "POST"},
      {{"DNS=example"}, "remote-host", "example"}, {{"REFERER=r", "HTTP_REFERER=h"}, "HTTP_REFERER", "h"},
      {{"REFERER=", "HTTP_REFERER=h"}, "REFERER", "h"}, {{"COOKIE=c=1"}, "HTTP_COOKIE", "c=1"},
      {{"PATH_TRANSLATED=/t"}, "DOCUMENT_ROOT", "/t"}, {{"PROTOCOL=HTTP/1.1"}, "SERVER_PROTOCOL", "HTTP/1.1"},
      {{"HTTP_AUTHORIZATION=Basic dXNlcjpwdw=="}, "AUTH_USER", "user"},
      {{"HTTP_AUTHORIZATION=Basic dXNlcjpwdw=="}, "AUTHENTICATED_PASSWORD", "pw"},
      {{"AUTH_USER=given", "HTTP_AUTHORIZATION=Basic dXNlcjpwdw=="}, "AUTH_USER", "given"},
      {{"HTTP_AUTHORIZATION=Digest dXNlcjpwdw=="}, "AUTH_USER", ""},
      {{"HTTP_AUTHORIZATION=Basic !!!!"}, "AUTH_PASSWORD", ""}, {{"SOMETHING=1"}, "UNKNOWN_NAME", ""},
  };
  for (const auto& c : cases) {
    THttpCGIEngine& e = Start(c.vars);
    EXPECT_EQ(e.GetServerVariable(c.asked), c.expected) << c.asked << " from " << c.vars[0];
  }
  THttpCGIEngine& e = Start({"SERVER_PORT_SECURE=1", "CONTENT_LENGTH=12x", "SERVER_PORT=443"});
  EXPECT_TRUE(e.ServerPortSecure());
  EXPECT_EQ(e.ContentLength(), 0);  // not a number
  EXPECT_EQ(e.ServerPort(), "443");
}

TEST_F(EngineTest, FieldsFromQueryStringAndUrlEncodedBody) {
  const std::string body = "f=2&g=+%20trimmed%09+&bad=%zz&e=";
  THttpCGIEngine& e =
      Start({"REQUEST_METHOD=POST", "QUERY_STRING=q=1&x=a+b", "CONTENT_TYPE=" + kForm + "; charset=UTF-8",
             "CONTENT_LENGTH=" + std::to_string(body.size())},
            body);
  EXPECT_TRUE(e.PrepareRequest());
  EXPECT_EQ(e.GetField("q"), "1");
  EXPECT_EQ(e.GetField("x"), "a b");
  EXPECT_EQ(e.GetField("X"), "a b");  // names match without regard to case
  EXPECT_EQ(e.GetField("f"), "2");
  EXPECT_EQ(e.GetField("g"), "trimmed");
  EXPECT_EQ(e.GetField("e", "default"), "default");
  EXPECT_EQ(e.GetField("missing", "default"), "default");
  EXPECT_EQ(e.GetField("bad", "dropped"), "dropped");
  EXPECT_EQ(e.GetFieldNames()->ToVector(), (std::vector<std::string>{"q", "x", "f", "g", "e"}));
  e.CGISession().SetTrimFields(false);
  EXPECT_EQ(e.GetField("g"), "  trimmed\t ");
}

std::string MultipartBody(const std::string& file_content) {
  return "--XyZ\r\n"
         "Content-Disposition: form-data; name=\"title\"\r\n\r\n"
         "My picture\r\n"
         "--XyZ\r\n"
         "Content-Disposition: form-data; name=\"pic\"; filename=\"../../etc/x.gif\"\r\n"
         "Content-Type: image/gif\r\n\r\n" +
         file_content +
         "\r\n--XyZ--\r\n";
}

TEST_F(EngineTest, MultipartUploadGoesToATemporaryFileRemovedAtTheEnd) {
  std::string content;
  for (int i = 0; i < 5000; ++i) content.push_back(static_cast<char>(i * 7));
  THttpCGIEngine& e = Post("multipart/form-data; boundary=XyZ", MultipartBody(content));
  ASSERT_TRUE(e.PrepareRequest()) << e.RequestError();
  EXPECT_EQ(e.GetField("title"), "My picture");
  EXPECT_EQ(e.GetField("pic"), "x.gif");
  ASSERT_EQ(e.Uploads().size(), 1u);
  const TUploadedFile up = e.Uploads()[0];
  EXPECT_EQ(up.content_type, "image/gif");
  EXPECT_EQ(up.size, 5000);
  EXPECT_EQ(fs::path(up.temp_path).parent_path(), dir_.path());
  EXPECT_EQ(testsupport::ReadFile(up.temp_path), content);
  Finish();
  EXPECT_FALSE(fs::exists(up.temp_path));
}

std::vector<std::string> UploadFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("upload-", 0) == 0) names.push_back(name);
  }
  return names;
}

// The first upload a process stores in a folder removes the upload files
// there whose process no longer runs (the pid in the name); files of a
// running process and files named otherwise stay.
TEST_F(EngineTest, UploadFilesOfEndedProgramsAreSweptAtTheNextUpload) {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended), alive = std::to_string(::getppid());
  const struct {
    std::string name;
    bool stays;
  } files[] = {
      {"upload-" + dead + "-a1B2c3", false},     {"upload-" + alive + "-a1B2c3", true},
      {"upload-a1B2c3", true},                   {"upload-" + dead + "-a1B2c3.gif", true},
      {"upload-" + dead + "x-a1B2c3", true},     {"session-" + dead + "-a1B2c3", true},
  };
  for (const auto& f : files) testsupport::WriteFile(dir_ / f.name, "left");
  THttpCGIEngine& e = Post("multipart/form-data; boundary=XyZ", MultipartBody("data"));
  ASSERT_TRUE(e.PrepareRequest()) << e.RequestError();
  const std::string own = fs::path(e.Uploads().at(0).temp_path).filename().string();
  EXPECT_TRUE(std::regex_match(own, std::regex("upload-" + std::to_string(::getpid()) + "-[A-Za-z0-9]{6}"))) << own;
  for (const auto& f : files) EXPECT_EQ(fs::exists(dir_ / f.name), f.stays) << f.name;
  Finish();
}

volatile sig_atomic_t g_sigterm_calls = 0;
void CountSigterm(int) { g_sigterm_calls = g_sigterm_calls + 1; }

std::string SigtermDisposition() {
  struct sigaction a {};
  ::sigaction(SIGTERM, nullptr, &a);
  if (a.sa_handler == SIG_DFL) return "default";
  if (a.sa_handler == SIG_IGN) return "ignored";
  return a.sa_handler == CountSigterm ? "program's" : "engine's";
}

// SIGTERM while a request holds an upload file. With the default action
// the engine removes the file and the process still ends by SIGTERM. A
// program that ignores SIGTERM or handles it itself is left to it: its
// request goes on with its file. Once the request has ended the default
// action is back, unless the program installed a handler meanwhile.
TEST_F(EngineTest, SigtermWhileAnUploadIsHeld) {
  const struct {
    const char* before;    // the disposition the program set
    bool install_handler;  // the program installs its handler during the request
    bool sigterm;
    std::string report;
    int signal;  // that ended the process
  } cases[] = {
      {"default", false, true, "made engine's;", SIGTERM},
      {"ignored", false, true, "made ignored;kept 1 calls 0;after ignored", 0},
      {"program's", false, true, "made program's;kept 1 calls 1;after program's", 0},
      {"default", false, false, "made engine's;after default", 0},
      {"default", true, false, "made engine's;after program's", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + (c.install_handler ? ", handler installed" : "") +
                 (c.sigterm ? ", SIGTERM" : ""));
    const cgi_test::ForkedRun r = cgi_test::RunForked([&](const auto& report) {
      struct sigaction a {};
      sigemptyset(&a.sa_mask);
      a.sa_handler = std::string(c.before) == "default" ? SIG_DFL
                     : std::string(c.before) == "ignored" ? SIG_IGN
                                                          : CountSigterm;
      ::sigaction(SIGTERM, &a, nullptr);
      THttpCGIEngine& e = Post("multipart/form-data; boundary=XyZ", MultipartBody("data"));
      if (!e.PrepareRequest() || e.Uploads().size() != 1) return report("no upload");
      const std::string path = e.Uploads()[0].temp_path;
      report("made " + SigtermDisposition() + ";");
      if (c.install_handler) {
        a.sa_handler = CountSigterm;
        ::sigaction(SIGTERM, &a, nullptr);
      }
      if (c.sigterm) {
        ::raise(SIGTERM);
        report("kept " + std::to_string(fs::exists(path)) + " calls " + std::to_string(g_sigterm_calls) + ";");
      }
      Finish();
      report("after " + SigtermDisposition());
    });
    EXPECT_EQ(r.Signal(), c.signal);
    EXPECT_EQ(r.report, c.report);
    EXPECT_EQ(UploadFilesIn(dir_.path()), std::vector<std::string>{});
  }
}

TEST_F(EngineTest, RefusedRequests) {
  const std::string good = MultipartBody("data");
  std::string many_fields;
  for (std::size_t i = 0; i <= kMaxFormFields; ++i) many_fields += "a=1&";
  many_fields += std::string(100000, 'x');
  std::string many_parts;
  for (std::size_t i = 0; i <= kMaxFormFields; ++i)
    many_parts += "--XyZ\r\nContent-Disposition: form-data; name=a\r\n\r\n\r\n";
  many_parts += "--XyZ--\r\n";
  const std::string multipart = "multipart/form-data; boundary=XyZ";
  const struct {
    std::string method, type, body;
    std::string length;  // announced, "": the body's own
    std::int64_t read_limit;
    const char *status, *error;
    bool body_untouched;
  } cases[] = {
      {"DELETE", "", "", "0", 0, "405 Method Not Allowed", "Method not allowed: DELETE", true},
      {"PUT", "", "x", "1", 0, "405 Method Not Allowed", "Method not allowed: PUT", true},
      {"POST", kForm, "a=123456789", "", 10, "413 Request Entity Too Large", "Request body too large", true},
      {"POST", kForm, "a=1", "-5", 0, "400 Bad Request", "Bad content length", true},
      {"POST", kForm, "a=1", "0x10", 0, "400 Bad Request", "Bad content length", true},
      {"POST", kForm, "a=1&b=2", "100", 0, "400 Bad Request", "Client input ended early", false},
      {"POST", "multipart/form-data; boundary=\"bad;boundary\"", good, "", 0, "400 Bad Request",
       "Bad multipart boundary", true},
      {"POST", multipart, good.substr(0, 30), "", 0, "400 Bad Request", "multipart body ended early", false},
      {"POST", multipart, good, std::to_string(good.size() + 50), 0, "400 Bad Request", "Client input ended early",
       false},
      {"POST", kForm, many_fields, "", 0, "413 Request Entity Too Large", "Too many form fields", false},
      {"POST", multipart, many_parts, "", 0, "413 Request Entity Too Large", "Too many form fields", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const std::string length = c.length.empty() ? std::to_string(c.body.size()) : c.length;
    THttpCGIEngine& e =
        Start({"REQUEST_METHOD=" + c.method, "CONTENT_TYPE=" + c.type, "CONTENT_LENGTH=" + length}, c.body);
    e.SetAutoReadLimit(c.read_limit);
    EXPECT_FALSE(e.PrepareRequest());
    EXPECT_EQ(e.RequestError(), c.error);
    if (c.body_untouched) { EXPECT_EQ(input_->Position(), 0) << "nothing may be read of a refused body"; }
    if (c.body == many_fields) {
      EXPECT_LT(input_->Position(), 64 * 1024 + 1) << "the rest of a refused body is not read";
    }
    const std::string out = Finish();
    EXPECT_EQ(out.substr(0, out.find("\r\n")), std::string("HTTP/1.0 ") + c.status);
  }
  // Up to the cap the fields are taken, the query string's beside them.
  const std::string at_cap = many_fields.substr(0, 4 * kMaxFormFields);
  THttpCGIEngine& full = Start({"REQUEST_METHOD=POST", "QUERY_STRING=q=1", "CONTENT_TYPE=" + kForm,
                                "CONTENT_LENGTH=" + std::to_string(at_cap.size())}, at_cap);
  EXPECT_TRUE(full.PrepareRequest()) << full.RequestError();
  EXPECT_EQ(full.FormFields().Count(), kMaxFormFields + 1);
  // Within the limit the same body is read.
  THttpCGIEngine& e = Post(kForm, "a=123456789");
  e.SetAutoReadLimit(11);
  EXPECT_TRUE(e.PrepareRequest());
  EXPECT_EQ(e.GetField("a"), "123456789");
  // Other body types are left for ReadClient, which reads in pieces.
  THttpCGIEngine& raw = Post("application/octet-stream", std::string(5000, 'z'));
  EXPECT_TRUE(raw.PrepareRequest());
  std::string got(6000, '\0');
  EXPECT_EQ(raw.ReadClient(got.data(), 6000), 5000);
  EXPECT_EQ(raw.ReadClient(got.data(), 10), 0);  // end of input, at once
}

TEST_F(EngineTest, StatusLineAndHeaders) {
  ConsoleProgram console;
  struct Case {
    std::string software;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      {"lighttpd/1.4", {}, "hi",
       "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 2\r\nConnection: Keep-Alive\r\n\r\nhi"},
      {"Apache/2.4.57 (Debian)", {}, "hi",
       "Status: 200 OK\r\ncontent-type: text/html\r\ncontent-length: 2\r\nConnection: Keep-Alive\r\n\r\nhi"},
      {"Netscape-Enterprise/6.0", {{"HTTP/1.1 404 Not Found", ""}}, "",
       "Status: 404 Not Found\r\ncontent-type: text/html\r\n\r\n"},
      {"lighttpd", {{"X-A", "1"}, {"HTTP/1.1 302 Found", ""}}, "",
       "HTTP/1.1 302 Found\r\ncontent-type: text/html\r\nX-A: 1\r\n\r\n"},
      {"lighttpd", {{"Location", "/x"}}, "", "Location: /x\r\n\r\n"},
      {"lighttpd", {{"Content-Type", "text/plain"}, {"Content-Length", "3"}}, "abc",
       "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nabc"},
  };
  for (const auto& c : cases) {
    THttpCGIEngine& e = Start({"SERVER_SOFTWARE=" + c.software});
    for (const auto& [n, v] : c.headers) e.SetHeader(n, v);
    e.Write(c.body);
    EXPECT_EQ(Finish(), c.expected) << c.software;
  }
}

TEST_F(EngineTest, HeaderInjectionIsRefused) {
  THttpCGIEngine& e = Start({});
  const std::pair<std::string, std::string> bad[] = {
      {"X-A", "a\r\nSet-Cookie: evil=1"}, {"X-A", "a\nb"}, {"X-A", "a\rb"}, {"X-A", std::string("a\0b", 3)},
      {"X-A\r\nSet-Cookie", "1"}, {"Bad Name", "1"}, {"", "1"}, {"HTTP/1.1 200 OK", "value"},
      {"HTTP/1.1 200 OK\r\nX: 1", ""},
  };
  for (const auto& [n, v] : bad) {
    EXPECT_THROW(e.SetHeader(n, v), EHttpEngineError) << n;
  }
  EXPECT_THROW(e.SetFileHeaders("text/plain\r\nX-Evil: 1", "a.txt"), EHttpEngineError);
  EXPECT_THROW(e.SetFileHeaders("text/plain", "a\r\n.txt"), EHttpEngineError);
  e.Write("x");
  e.SetAutoContentType("text/html\r\nSet-Cookie: evil=1");
  EXPECT_THROW(e.SendResponse(), EHttpEngineError);
  e.SetAutoContentType("text/html");
  const std::string out = Finish();
  EXPECT_EQ(out.find("evil"), std::string::npos);
  EXPECT_EQ(out.find("Evil"), std::string::npos);
}

TEST_F(EngineTest, DownloadHeadersAndNoCache) {
  THttpCGIEngine& e = Start({});
  e.SetFileHeaders("  ", "C:\\Reports\\..\\my \"list\".txt");
  e.Write("x");
  EXPECT_EQ(Finish(),
            "HTTP/1.0 200 OK\r\n"
            "Content-Type: application/binary; name=\"my \\\"list\\\".txt\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "Content-Disposition: attachment; filename=\"my \\\"list\\\".txt\"\r\n\r\nx");
  THttpCGIEngine& n = Start({});
  n.SetNoCache(true);
  const std::string out = Finish();
  EXPECT_NE(out.find("\r\nPragma: no-cache\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
  EXPECT_EQ(out.find("Document"), std::string::npos);  // no header name with a blank
  EXPECT_TRUE(std::regex_search(out, std::regex("\r\nExpires: \\w{3}, \\d\\d \\w{3} \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n")))
      << out;  // 1,000 days back: the server-side check of the date is lighttpd_test.cpp's
}

TEST_F(EngineTest, DebugAppendixIsCountedInTheContentLength) {
  ConsoleProgram console;
  const std::string body = "a=1";
  THttpCGIEngine& e = Start({"REQUEST_METHOD=POST", "CONTENT_TYPE=" + kForm, "CONTENT_LENGTH=3",
                             "HTTP_AUTHORIZATION=Basic dXNlcjpwdw=="}, body);
  e.SetDebugMode(TDebugMode::DebugAlways);
  ASSERT_TRUE(e.PrepareRequest());
  e.UserLog("log line");
  e.Write("page");
  const std::string out = Finish();
  const std::size_t end = out.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos);
  const std::string sent = out.substr(end + 4);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("content-length: (\\d+)\r\n")));
  EXPECT_EQ(std::stoul(m[1]), sent.size());
  EXPECT_EQ(sent.rfind("page\r\n(*** END ***)\r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("(***    User Log      ***)\r\n(************************)\r\nlog line"), std::string::npos);
  EXPECT_NE(sent.find("(***   Client input   ***)\r\n(************************)\r\na=1"), std::string::npos);
  EXPECT_NE(sent.find("(*** Server variables ***)"), std::string::npos);
  EXPECT_NE(sent.find("HTTP_AUTHORIZATION=(hidden)"), std::string::npos);
  EXPECT_EQ(sent.find("dXNlcjpwdw"), std::string::npos);
}

TEST_F(EngineTest, NestedOutputBuffers) {
  THttpCGIEngine& e = Start({});
  e.Write("a");
  e.BeginOutputBuffer();
  e.Write("inner");
  e.BeginOutputBuffer();
  e.Write("deep");
  EXPECT_EQ(e.EndOutputBuffer(), "deep");
  EXPECT_EQ(e.EndOutputBuffer(), "inner");
  e.Write("b");
  e.WriteBuffer("c", 1);
  fw::TMemoryStream s;
  s.WriteBuffer(std::string(3000, 'd').data(), 3000);
  s.SetPosition(2990);
  e.WriteStream(s);
  const std::string out = Finish();
  EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), "abc" + std::string(10, 'd'));
}

std::string CookieFrom(const std::string& out) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex("Set-Cookie: (HSESS_\\w+)=([0-9a-f]{32}); Path=/; HttpOnly\r\n"))) {
    return "";
  }
  return m[1].str() + "=" + m[2].str();
}

TEST_F(EngineTest, SessionKeptInAnEncipheredFileAcrossRequests) {
  const std::string key = "an encryption key";
  THttpCGIEngine& e = Start({});
  e.CGISession().SetEncryptionKey(key);
  e.SetSessionVariable("color", "blue green");
  e.SetSessionVariable("n", "1");
  e.SetSessionVariable("n", "2");
  e.SetSessionVariable("gone", "x");
  e.SetSessionVariable("gone", "");
  EXPECT_THROW(e.SetSessionVariable("a=b", "1"), EHttpEngineError);
  const std::string file = e.SessionFileName();
  const std::string id = e.SessionID();
  EXPECT_EQ(fs::path(file).parent_path(), dir_.path());
  EXPECT_EQ(fs::path(file).filename().string(), "hsess_Default_" + id + ".ses");
  const std::string out = Finish();
  const std::string cookie = CookieFrom(out);
  ASSERT_EQ(cookie, "HSESS_Default=" + id) << out;

  // The file, read by OpenSSL's Blowfish and an own decoder.
  auto lines = cgi_test::ReadSessionFileWithOpenSsl(file, key);
  ASSERT_TRUE(lines.has_value());
  EXPECT_EQ(*lines, (std::vector<std::string>{"color=blue green", "n=2"}));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 0) << "no expiry is stored as time 0";
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A second request with the cookie reads the file back (the in-memory
  // list is emptied first, as in a new process).
  SessionEnd("", true);
  THttpCGIEngine& e2 = Start({"HTTP_COOKIE=other=1; " + cookie});
  e2.CGISession().SetEncryptionKey(key);
  EXPECT_EQ(e2.GetSessionVariable("color"), "blue green");
  EXPECT_EQ(e2.GetSessionVariable("n"), "2");
  EXPECT_EQ(e2.SessionID(), id);
  EXPECT_EQ(e2.SessionExpires(), 0);
  EXPECT_FALSE(e2.SessionExpired()) << "a session without expiry is not expired";
  EXPECT_EQ(CookieFrom(Finish()), "");  // no new cookie

  // With the wrong key the file does not decipher: an empty session.
  SessionEnd("", true);
  THttpCGIEngine& e3 = Start({"HTTP_COOKIE=" + cookie});
  e3.CGISession().SetEncryptionKey("another key, wrong");
  EXPECT_EQ(e3.GetSessionVariable("color"), "");
  Finish();
}

// An expired session reads as empty and its file goes, whether it is read
// back from the file or still kept in the process's list (the process goes
// on to its next request).
TEST_F(EngineTest, SessionExpiry) {
  const std::time_t now = std::time(nullptr);
  for (const bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory ? "in memory" : "from the file");
    THttpCGIEngine& e = Start({});
    e.SetSessionVariable("v", "1");
    e.SetSessionExpires(now + 3600);
    const std::string file = e.SessionFileName();
    const std::string cookie = CookieFrom(Finish());
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, now + 3600);
    if (!in_memory) SessionEnd("", true);
    THttpCGIEngine& e2 = Start({"HTTP_COOKIE=" + cookie});
    EXPECT_EQ(e2.GetSessionVariable("v"), "1");
    EXPECT_EQ(e2.SessionExpires(), now + 3600);
    EXPECT_FALSE(e2.SessionExpired());
    e2.SetSessionExpires(now - 10);  // ends the session
    EXPECT_TRUE(e2.SessionExpired());
    if (in_memory) { EXPECT_EQ(e2.GetSessionVariable("v"), "") << "an expired session stops answering at once"; }
    Finish();
    if (!in_memory) SessionEnd("", true);
    THttpCGIEngine& e3 = Start({"HTTP_COOKIE=" + cookie});
    EXPECT_EQ(e3.GetSessionVariable("v"), "") << "an expired session reads as empty";
    EXPECT_FALSE(e3.SessionExpired()) << "emptied, it starts afresh";
    Finish();
    EXPECT_FALSE(fs::exists(file)) << "the expired file is removed";
  }
}

TEST_F(EngineTest, DamagedOrHostileSessionInput) {
  THttpCGIEngine& e = Start({});
  e.SetSessionVariable("v", "secret value");
  const std::string file = e.SessionFileName();
  const std::string cookie = CookieFrom(Finish());
  // Flip one byte of the first record.
  std::string bytes = testsupport::ReadFile(file);
  bytes[2] = bytes[2] == 'A' ? 'B' : 'A';
  testsupport::WriteFile(file, bytes);
  SessionEnd("", true);
  THttpCGIEngine& e2 = Start({"HTTP_COOKIE=" + cookie});
  EXPECT_EQ(e2.GetSessionVariable("v"), "");
  Finish();
  // Cookie values outside the allow-list never name a file: a new session.
  for (const char* bad : {"HSESS_Default=../../etc/passwd", "HSESS_Default=ABCDEF0123456789ABCDEF0123456789",
                          "HSESS_Default=0123"}) {
    SessionEnd("", true);
    THttpCGIEngine& e3 = Start({std::string("HTTP_COOKIE=") + bad});
    const std::string id = e3.SessionID();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    Finish();
  }
  // Session names and keys are checked before any file is touched.
  THttpCGIEngine& e4 = Start({});
  e4.SetSessionName("../x");
  EXPECT_THROW(e4.GetSessionVariable("v"), EHttpEngineError);
  Finish();
  THttpCGIEngine& e5 = Start({});
  e5.CGISession().SetEncryptionKey("short");
  EXPECT_THROW(e5.GetSessionVariable("v"), EBlowfishError);
  Finish();
}

TEST_F(EngineTest, SessionTypesAndVisibility) {
  THttpCGIEngine& e = Start({"HTTP_AUTHORIZATION=Basic " + std::string("dXNlcjpwdw=="), "SCRIPT_NAME=/cgi/my app.cgi"});
  e.CGISession().SetSessionType(TSessionType::sPrivateAuth);
  e.CGISession().SetVisibility(TSessionVisibility::ThisApplication);
  EXPECT_EQ(fs::path(e.SessionFileName()).filename().string(), "hsess_my_app_cgi_Default_u75736572.ses");
  Finish();
  THttpCGIEngine& g = Start({});
  g.CGISession().SetSessionType(TSessionType::sGlobal);
  g.SetSessionName("Shop");
  EXPECT_EQ(fs::path(g.SessionFileName()).filename().string(), "hsess_Shop_global.ses");
  Finish();
  THttpCGIEngine& a = Start({});
  a.CGISession().SetSessionType(TSessionType::sPrivateAuth);
  EXPECT_THROW(a.SessionID(), EHttpEngineError);  // no user
  Finish();
  // Not file based: nothing is written.
  THttpCGIEngine& m = Start({});
  m.CGISession().SetFileBased(false);
  EXPECT_EQ(m.CGISession().Visibility(), TSessionVisibility::ThisApplication);
  m.SetSessionVariable("v", "1");
  EXPECT_EQ(m.SessionFileName(), "");
  Finish();
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

// Request state belongs to the thread: requests on several threads at once
// keep their own variables, fields, output and sessions.
TEST(EngineThreadsTest, RequestsOnSeveralThreadsKeepTheirOwnState) {
  testsupport::ScratchDir dir;
  constexpr int kThreads = 8;
  std::vector<std::string> outs(kThreads);
  std::vector<std::string> files(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        THttpCGIEngine e(nullptr);
        e.SetCGIAutoTerminate(false);
        e.SetTempDir(dir.path());
        fw::TStringList vars;
        vars.Add("QUERY_STRING=t=" + std::to_string(t) + "&r=" + std::to_string(round));
        e.SetServerVariables(vars);
        std::string out;
        e.SetRequestStreams(std::make_unique<fw::TMemoryStream>(), std::make_unique<StringSink>(&out));
        e.SetSessionVariable("t", e.GetField("t"));
        files[t] = e.SessionFileName();
        e.Write(e.GetField("t") + "/" + e.GetField("r") + "/" + e.GetSessionVariable("t"));
        e.EndRequest();
        outs[t] += out.substr(out.find("\r\n\r\n") + 4) + ";";
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    std::string expected;
    for (int round = 0; round < 20; ++round) {
      expected += std::to_string(t) + "/" + std::to_string(round) + "/" + std::to_string(t) + ";";
    }
    EXPECT_EQ(outs[t], expected);
    auto lines = cgi_test::ReadSessionFileWithOpenSsl(files[t], kDefaultEncryptionKey);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, std::vector<std::string>{"t=" + std::to_string(t)});
  }
  SessionEnd("", true);
}

// Two threads of one process saving one session at once: every save lands
// whole and every answer is a 200 (with one temporary name per process, one
// thread's rename took the other's file away).
TEST(EngineThreadsTest, TwoThreadsSavingOneSession) {
  testsupport::ScratchDir dir;
  std::atomic<int> failed{0};
  auto run = [&](int t) {
    for (int round = 0; round < 200; ++round) {
      THttpCGIEngine e(nullptr);
      e.SetCGIAutoTerminate(false);
      e.SetTempDir(dir.path());
      e.CGISession().SetSessionType(TSessionType::sGlobal);
      std::string out;
      e.SetServerVariables(fw::TStringList());
      e.SetRequestStreams(std::make_unique<fw::TMemoryStream>(), std::make_unique<StringSink>(&out));
      e.SetSessionVariable("t", std::to_string(t) + "/" + std::to_string(round));
      e.EndRequest();
      if (out.rfind("HTTP/1.0 200 OK\r\n", 0) != 0) ++failed;
    }
  };
  std::thread a(run, 0);
  std::thread b(run, 1);
  a.join();
  b.join();
  EXPECT_EQ(failed.load(), 0);
  auto lines = cgi_test::ReadSessionFileWithOpenSsl(dir / "hsess_Default_global.ses", kDefaultEncryptionKey);
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), 1u);
  EXPECT_TRUE(std::regex_match((*lines)[0], std::regex("t=[01]/\\d+"))) << (*lines)[0];
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "temporary files left";
  SessionEnd("", true);
}

// While the deadline is 0 the watchdog never ends the process, however
// often it looks (a deadline that passes ends it: the stalled-client tests
// of the programs); it runs at the highest normal priority. The unit's start
// and end in a windowed program have no visible effect.
TEST(WatchdogTest, IdleWatchdogLeavesTheProcessAlone) {
  TWatchDogThread::SetTiming(20, 1);
  {
    THttpCGIEngine engine(nullptr);
    engine.SetRequestStreams(std::make_unique<fw::TMemoryStream>(), std::make_unique<fw::TMemoryStream>());
    ASSERT_TRUE(WatchdogRunning());
    EXPECT_EQ(WatchdogPriority(), fw::TThreadPriority::tpHighest);
    TWatchDogThread::SetDeadline(0);
    const std::uint64_t polls = TWatchDogThread::Polls();
    while (TWatchDogThread::Polls() < polls + 50) std::this_thread::yield();
    HttpEngInitialization();
    HttpEngFinalization();
    EXPECT_TRUE(WatchdogRunning());
  }
  TWatchDogThread::SetTiming(kWatchdogPeriodSeconds * 1000, kWatchdogPollMs);
}

}  // namespace
}  // namespace cgi
