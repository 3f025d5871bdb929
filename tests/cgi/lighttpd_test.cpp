// The test CGI programs behind a real web server: lighttpd with mod_cgi and
// mod_scgi on 127.0.0.1 and a free port, driven with libcurl (and a raw
// socket for a client that stalls). Every request gets one complete answer,
// whichever way the program keeps its engine.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "tests/cgi/lighttpd_server.h"
#include "tests/cgi/session_file_reader.h"

namespace {

namespace fs = std::filesystem;
using cgi_test::HttpResponse;
using Response = cgi_test::HttpResponse;

class LighttpdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (cgi_test::FindLighttpd().empty()) return;
    dir_ = fs::temp_directory_path() / ("cgi_lighttpd_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "www" / "tmp");
    fs::copy_file(TOLMID_CGI_TEST_PROGRAM, dir_ / "www" / "app.cgi", fs::copy_options::overwrite_existing);
    fs::copy_file(TOLMID_CGI_STACK_PROGRAM, dir_ / "www" / "stack.cgi", fs::copy_options::overwrite_existing);
    server_ = new cgi_test::LighttpdServer;
    started_ = server_->Start(dir_, TOLMID_CGI_LIBRARY_PROGRAM);
  }

  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    if (!dir_.empty()) fs::remove_all(dir_);
    curl_global_cleanup();
  }

  void SetUp() override {
    if (cgi_test::FindLighttpd().empty()) GTEST_SKIP() << "lighttpd is not installed";
    if (!started_) FAIL() << "lighttpd did not start: " << server_->ErrorLog();
  }

  static Response Fetch(const std::string& path, const std::function<void(CURL*)>& setup = {}) {
    Response r = server_->Fetch(path, setup);
    EXPECT_GT(r.status, 0) << "curl error " << -r.status << " for " << path;
    return r;
  }

  static inline fs::path dir_;
  static inline cgi_test::LighttpdServer* server_ = nullptr;
  static inline bool started_ = false;
};

bool HasLine(const std::string& body, const std::string& line) {
  return ("\r\n" + body).find("\r\n" + line + "\r\n") != std::string::npos;
}

TEST_F(LighttpdTest, ServerVariablesQueryCookiesAndBasicAuthorization) {
  Response r = Fetch("/app.cgi/vars?a=1&b=x+y%26z", [](CURL* c) {
    curl_easy_setopt(c, CURLOPT_USERAGENT, "tolmid-test/1.0");
    curl_easy_setopt(c, CURLOPT_COOKIE, "a=1; b=two");
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(c, CURLOPT_USERPWD, "user:p w");
  });
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  for (const std::string line :
       {"method=GET", "query=a=1&b=x+y%26z", "script=/app.cgi", "path_info=/vars", "content_length=0",
        "user_agent=tolmid-test/1.0", "remote_addr=127.0.0.1", "protocol=HTTP/1.1", "has_authorization=yes",
        "auth_user=user", "auth_password=p w", "cookie_a=1", "cookie_b=two", "field a=1", "field b=x y&z"}) {
    EXPECT_TRUE(HasLine(r.body, line)) << line << " in\n" << r.body;
  }
  EXPECT_TRUE(HasLine(r.body, "server_port=" + std::to_string(server_->Port())));
  EXPECT_NE(r.body.find("software=lighttpd/"), std::string::npos);
}

TEST_F(LighttpdTest, UrlEncodedAndMultipartPosts) {
  Response r = Fetch("/app.cgi/vars?q=0", [](CURL* c) {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, "f=1&g=h%20i&bad=%00");
  });
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(HasLine(r.body, "method=POST"));
  EXPECT_TRUE(HasLine(r.body, "content_type=application/x-www-form-urlencoded"));
  EXPECT_TRUE(HasLine(r.body, "field q=0"));
  EXPECT_TRUE(HasLine(r.body, "field f=1"));
  EXPECT_TRUE(HasLine(r.body, "field g=h i"));
  EXPECT_EQ(r.body.find("field bad"), std::string::npos);

  const std::string file = "first line\r\nsecond -- line\r\n--not a boundary\r\n" + std::string(3000, 'x');
  CURL* curl_for_mime = curl_easy_init();
  curl_mime* mime = curl_mime_init(curl_for_mime);
  curl_mimepart* part = curl_mime_addpart(mime);
  curl_mime_name(part, "title");
  curl_mime_data(part, "My picture", CURL_ZERO_TERMINATED);
  part = curl_mime_addpart(mime);
  curl_mime_name(part, "pic");
  curl_mime_data(part, file.data(), file.size());
  curl_mime_filename(part, "pic.txt");
  curl_mime_type(part, "text/plain");
  Response m = Fetch("/app.cgi/vars", [&](CURL* c) { curl_easy_setopt(c, CURLOPT_MIMEPOST, mime); });
  curl_mime_free(mime);
  curl_easy_cleanup(curl_for_mime);
  EXPECT_EQ(m.status, 200);
  EXPECT_NE(m.body.find("content_type=multipart/form-data; boundary="), std::string::npos);
  EXPECT_TRUE(HasLine(m.body, "field title=My picture"));
  EXPECT_TRUE(HasLine(m.body, "field pic=pic.txt"));
  EXPECT_NE(m.body.find("upload pic name=pic.txt type=text/plain size=" + std::to_string(file.size()) +
                        " content=" + file + "\r\n"),
            std::string::npos)
      << m.body.substr(0, 400);
  // The temporary file is gone after the request.
  std::size_t uploads_left = 0;
  for (const auto& e : fs::directory_iterator(dir_ / "www" / "tmp")) {
    uploads_left += e.path().filename().string().rfind("upload-", 0) == 0;
  }
  EXPECT_EQ(uploads_left, 0u);
}

TEST_F(LighttpdTest, StatusHeadersDownloadsAndNoCache) {
  Response created = Fetch("/app.cgi/headers");
  EXPECT_EQ(created.status, 201);
  EXPECT_EQ(created.Header("X-Test"), "value 1");
  EXPECT_EQ(created.body, "created");

  Response moved = Fetch("/app.cgi/redirect");
  EXPECT_EQ(moved.status, 302);
  EXPECT_EQ(moved.Header("Location"), "http://127.0.0.1/elsewhere");

  Response download = Fetch("/app.cgi/download");
  EXPECT_EQ(download.status, 200);
  EXPECT_EQ(download.Header("Content-Disposition"), "attachment; filename=\"list \\\"1\\\".txt\"");
  EXPECT_EQ(download.Header("Content-Type"), "text/plain; name=\"list \\\"1\\\".txt\"");
  EXPECT_EQ(download.body, "line 1\r\nline 2\r\n");

  Response fresh = Fetch("/app.cgi/nocache");
  EXPECT_EQ(fresh.status, 200) << "the server must accept the no-cache headers";
  EXPECT_EQ(fresh.body, "fresh");
  EXPECT_EQ(fresh.Header("Pragma"), "no-cache");
  EXPECT_EQ(fresh.Header("Cache-Control"), "no-cache");
  struct tm tm {};
  ASSERT_NE(strptime(fresh.Header("Expires").c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm), nullptr)
      << fresh.Header("Expires");
  EXPECT_LT(timegm(&tm), std::time(nullptr) - 999L * 86400);
}

TEST_F(LighttpdTest, HeaderInjectionIsRefused) {
  Response r = Fetch("/app.cgi/inject");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "refused: Invalid header line");
  EXPECT_FALSE(r.HasHeader("Set-Cookie"));
  EXPECT_FALSE(r.HasHeader("X-Bad"));
}

TEST_F(LighttpdTest, SessionVariablesAcrossTwoRequests) {
  Response set = Fetch("/app.cgi/session-set?name=color&value=blue+green");
  EXPECT_EQ(set.status, 200);
  std::smatch m;
  const std::string cookie_header = set.Header("Set-Cookie");
  ASSERT_TRUE(std::regex_match(cookie_header, m, std::regex("(HSESS_Default=[0-9a-f]{32}); Path=/; HttpOnly")))
      << cookie_header;
  const std::string cookie = m[1].str();
  ASSERT_TRUE(std::regex_search(set.body, m, std::regex("file=([^\r]+)\r\n")));
  const std::string file = m[1].str();
  EXPECT_EQ(fs::path(file).parent_path(), dir_ / "www" / "tmp");

  auto lines = cgi_test::ReadSessionFileWithOpenSsl(file, "session-key-for-tests");
  ASSERT_TRUE(lines.has_value());
  EXPECT_EQ(*lines, std::vector<std::string>{"color=blue green"});

  Response get = Fetch("/app.cgi/session-get?name=color",
                       [&](CURL* c) { curl_easy_setopt(c, CURLOPT_COOKIE, cookie.c_str()); });
  EXPECT_TRUE(HasLine(get.body, "value=blue green")) << get.body;
  EXPECT_FALSE(get.HasHeader("Set-Cookie"));
  // Without the cookie: another, empty session.
  Response other = Fetch("/app.cgi/session-get?name=color");
  EXPECT_TRUE(HasLine(other.body, "value=")) << other.body;
}

// The program shortens the watchdog's period to 300 ms for this request.
TEST_F(LighttpdTest, StalledClientIsEndedByTheWatchdog) {
  const fs::path pid_file = dir_ / "www" / "tmp" / "stall.pid";
  fs::remove(pid_file);
  const int s = cgi_test::ConnectLoopback(server_->Port());
  ASSERT_GE(s, 0);
  const std::string request =
      "POST /app.cgi/stall HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\na=123";
  ASSERT_EQ(::send(s, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  pid_t cgi_pid = 0;
  while (elapsed() < 10 && cgi_pid == 0) {
    std::ifstream in(pid_file);
    if (!(in >> cgi_pid)) {
      cgi_pid = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ASSERT_GT(cgi_pid, 0) << "the program did not start";
  // Gone (or a zombie lighttpd has not reaped yet) within the bound.
  auto alive = [&] {
    std::ifstream stat("/proc/" + std::to_string(cgi_pid) + "/stat");
    std::string pid, name, state;
    if (!(stat >> pid >> name >> state)) return false;
    return state != "Z";
  };
  while (alive() && elapsed() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double seconds = elapsed();
  ::close(s);
  EXPECT_FALSE(alive()) << "the watchdog did not end the stalled request";
  EXPECT_GE(seconds, 0.3) << "ended before the deadline";
}

// However a program keeps its engine (heap, main's stack, library mode),
// every request gets one complete answer; a session folder that is missing
// or cannot be written to gives a clean 500, as does an exception a request
// handler lets through.
TEST_F(LighttpdTest, EveryProgramAnswersEveryRequestOnce) {
  struct Case {
    std::string path;
    long status;
    std::string body_start;
  };
  const std::string kError = "500 Internal Server Error\r\n";
  const Case cases[] = {
      {"/vars?a=1", 200, "method=GET"}, {"/session-set?name=n&value=v", 200, "id="},
      {"/session-set?name=n&value=v&tmp=nosuch", 500, kError},
      {"/session-set?name=n&value=v&tmp=default", 500, kError},  // "Temp" under the document root
      {"/session-set?name=n&value=v&tmp=proc", 500, kError}, {"/vars?b=2", 200, "method=GET"},
  };
  for (const std::string program : {"/app.cgi", "/stack.cgi", "/lib.scgi"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(program + c.path);
      Response r = Fetch(program + c.path);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.body.rfind(c.body_start, 0), 0u) << r.body;
      if (program != "/lib.scgi") {
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
      } else if (r.HasHeader("Content-Length")) {  // library mode leaves it to the server
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
      }
    }
  }
  for (const std::string program : {"/app.cgi", "/lib.scgi"}) {
    Response r = Fetch(program + "/throw");
    EXPECT_EQ(r.status, 500) << program;
    EXPECT_EQ(r.body, kError);
    EXPECT_EQ(r.Header("Content-Type"), "text/plain");
    EXPECT_FALSE(r.HasHeader("X-Partial")) << "what the handler queued is dropped";
  }
}

// The library program is started once by the server and answers request
// after request on its main thread.
TEST_F(LighttpdTest, LibraryProgramAnswersSeveralRequestsOnOneThread) {
  const std::regex answer("request (\\d+) pid (\\d+) thread (\\d+)");
  std::vector<std::smatch> seen(4);
  std::vector<std::string> bodies(4);
  for (int i = 0; i < 4; ++i) {
    bodies[i] = Fetch(i == 2 ? "/lib.scgi/throw" : "/lib.scgi/count").body;
    if (i != 2) {
      ASSERT_TRUE(std::regex_match(bodies[i], seen[i], answer)) << bodies[i];
    }
  }
  EXPECT_EQ(bodies[2], "500 Internal Server Error\r\n");
  EXPECT_EQ(std::stoi(seen[1][1]), std::stoi(seen[0][1]) + 1);
  EXPECT_EQ(std::stoi(seen[3][1]), std::stoi(seen[0][1]) + 3);
  for (int i : {1, 3}) {
    EXPECT_EQ(seen[i][2], seen[0][2]) << "one process";
    EXPECT_EQ(seen[i][3], seen[0][3]) << "one thread";
  }
}

}  // namespace
