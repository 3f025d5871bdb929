// The test CGI program behind a real web server: lighttpd with mod_cgi on
// 127.0.0.1 and a free port, configured in a temporary folder, driven with
// libcurl (and a raw socket for a client that stalls).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "tests/cgi/session_file_reader.h"

namespace {

namespace fs = std::filesystem;

std::string FindLighttpd() {
  for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return "";
}

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof(a);
  int port = -1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

int Connect(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

struct Response {
  long status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string Header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
      if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
    }
    return "";
  }
  bool HasHeader(const std::string& name) const {
    for (const auto& [n, v] : headers) {
      if (strcasecmp(n.c_str(), name.c_str()) == 0) return true;
    }
    return false;
  }
};

std::size_t CollectBody(char* data, std::size_t size, std::size_t n, void* user) {
  static_cast<Response*>(user)->body.append(data, size * n);
  return size * n;
}

std::size_t CollectHeader(char* data, std::size_t size, std::size_t n, void* user) {
  std::string line(data, size * n);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const std::size_t colon = line.find(':');
  if (colon != std::string::npos) {
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    static_cast<Response*>(user)->headers.emplace_back(line.substr(0, colon), value);
  }
  return size * n;
}

class LighttpdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string server = FindLighttpd();
    if (server.empty()) return;
    dir_ = fs::temp_directory_path() / ("cgi_lighttpd_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "www" / "tmp");
    fs::copy_file(TOLMID_CGI_TEST_PROGRAM, dir_ / "www" / "app.cgi", fs::copy_options::overwrite_existing);
    port_ = FreePort();
    const fs::path conf = dir_ / "lighttpd.conf";
    {
      std::ofstream c(conf);
      c << "server.document-root = \"" << (dir_ / "www").string() << "\"\n"
        << "server.bind = \"127.0.0.1\"\n"
        << "server.port = " << port_ << "\n"
        << "server.modules = ( \"mod_cgi\" )\n"
        << "server.errorlog = \"" << (dir_ / "error.log").string() << "\"\n"
        // Start the program before the whole body is in, so that a client
        // that stalls reaches it.
        << "server.stream-request-body = 2\n"
        << "cgi.assign = ( \".cgi\" => \"\" )\n";
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(server.c_str(), server.c_str(), "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      const int s = Connect(port_);
      if (s >= 0) {
        ::close(s);
        started_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (!dir_.empty()) fs::remove_all(dir_);
    curl_global_cleanup();
  }

  void SetUp() override {
    if (FindLighttpd().empty()) GTEST_SKIP() << "lighttpd is not installed";
    if (!started_) {
      std::ifstream log(dir_ / "error.log");
      std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
      FAIL() << "lighttpd did not start: " << text;
    }
  }

  static std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  static Response Fetch(const std::string& path, const std::function<void(CURL*)>& setup = {}) {
    Response r;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, Url(path).c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (setup) setup(curl);
    const CURLcode rc = curl_easy_perform(curl);
    EXPECT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_cleanup(curl);
    return r;
  }

  static inline fs::path dir_;
  static inline int port_ = 0;
  static inline pid_t pid_ = -1;
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
  EXPECT_TRUE(HasLine(r.body, "server_port=" + std::to_string(port_)));
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

TEST_F(LighttpdTest, StalledClientIsEndedByTheWatchdog) {
  const fs::path pid_file = dir_ / "www" / "tmp" / "stall.pid";
  fs::remove(pid_file);
  const int s = Connect(port_);
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
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
  while (alive() && elapsed() < 40) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double seconds = elapsed();
  ::close(s);
  EXPECT_FALSE(alive()) << "the watchdog did not end the stalled request";
  EXPECT_GE(seconds, 25.0) << "ended before the deadline";
}

}  // namespace
