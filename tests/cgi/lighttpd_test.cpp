// The test CGI programs behind a real web server (tests/common's lighttpd
// with mod_cgi and mod_scgi), driven with libcurl and plain connections:
// what the engine reads from real requests, what the server makes of its
// answers, sessions across requests, and one complete answer to every
// request whichever way the program keeps its engine; clients that leave
// before the answer or in the middle of an upload, and session IDs the
// server never issued.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "tests/cgi/session_file_reader.h"
#include "tests/common/http_server.h"

namespace {

namespace fs = std::filesystem;

struct Response {
  long status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string Header(const std::string& name) const {
    for (const auto& [n, v] : headers)
      if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
    return "";
  }
  bool HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](auto& h) { return strcasecmp(h.first.c_str(), name.c_str()) == 0; });
  }
  bool HasLine(const std::string& line) const {
    return ("\r\n" + body).find("\r\n" + line + "\r\n") != std::string::npos;
  }
};

// A client on a plain connection, which can leave halfway through.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const timeval limit{20, 0};  // bounds a read that never gets its text
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) Leave();
  }
  ~RawClient() { Leave(); }
  bool Send(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Reads until text has come; false at the end of the answer.
  bool ReadUntil(const std::string& text) {
    std::string got;
    char buf[4096];
    while (got.find(text) == std::string::npos) {
      const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
      if (n <= 0) return false;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  // Goes at once, resetting the connection.
  void Leave() {
    if (fd_ < 0) return;
    const linger reset{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Entries made and removed in one folder, as they happen.
class FolderWatch {
 public:
  explicit FolderWatch(const fs::path& dir) : fd_(::inotify_init1(IN_CLOEXEC)) {
    ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_DELETE);
  }
  ~FolderWatch() { ::close(fd_); }
  // The name of the next entry that event (IN_CREATE or IN_DELETE) happens
  // to whose name starts with prefix; "" when none comes within 20 s.
  std::string Next(std::uint32_t event, const std::string& prefix) {
    alignas(inotify_event) char buf[4096];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20000) != 1) return "";
      const ssize_t n = ::read(fd_, buf, sizeof(buf));
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
        if ((e->mask & event) != 0 && e->len > 0 && std::string(e->name).rfind(prefix, 0) == 0) return e->name;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

 private:
  int fd_;
};

class LighttpdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    server_ = new testsupport::LocalHttpServer(TOLMID_CGI_LIBRARY_PROGRAM);
    if (!server_->Started()) return;
    fs::create_directories(Www() / "tmp");
    fs::copy_file(TOLMID_CGI_TEST_PROGRAM, Www() / "app.cgi");
    fs::copy_file(TOLMID_CGI_STACK_PROGRAM, Www() / "stack.cgi");
  }
  static void TearDownTestSuite() {
    // What the programs wrote to standard error: no sanitizer report.
    if (server_->Started()) { EXPECT_EQ(server_->Log("programs.log").find("Sanitizer"), std::string::npos); }
    delete server_;
    curl_global_cleanup();
  }
  void SetUp() override {
    if (!server_->Started()) GTEST_SKIP() << "lighttpd is not installed";
  }
  static fs::path Www() { return server_->DocRoot() / "www"; }

  static Response Fetch(const std::string& path, const std::function<void(CURL*)>& setup = {}) {
    Response r;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, server_->Url(path.substr(1)).c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* d, std::size_t size, std::size_t n, void* u) {
      static_cast<Response*>(u)->body.append(d, size * n);
      return size * n;
    });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +[](char* d, std::size_t size, std::size_t n, void* u) {
      std::string line(d, size * n);
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      if (const std::size_t colon = line.find(':'); colon != std::string::npos)
        static_cast<Response*>(u)->headers.emplace_back(line.substr(0, colon),
                                                        line.substr(line.find_first_not_of(' ', colon + 1)));
      return size * n;
    });
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (setup) setup(curl);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) r.status = -static_cast<long>(rc);
    else curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_cleanup(curl);
    EXPECT_GT(r.status, 0) << "curl error " << -r.status << " for " << path;
    return r;
  }

  static inline testsupport::LocalHttpServer* server_ = nullptr;
};

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
  const std::vector<std::string> lines = {
      "method=GET", "query=a=1&b=x+y%26z", "script=/app.cgi", "path_info=/vars", "content_length=0",
      "user_agent=tolmid-test/1.0", "remote_addr=127.0.0.1", "protocol=HTTP/1.1", "has_authorization=yes",
      "auth_user=user", "auth_password=p w", "cookie_a=1", "cookie_b=two", "field a=1", "field b=x y&z",
      "server_port=" + std::to_string(server_->Port())};
  for (const std::string& line : lines) { EXPECT_TRUE(r.HasLine(line)) << line << " in\n" << r.body; }
  EXPECT_NE(r.body.find("software=lighttpd/"), std::string::npos);
}

TEST_F(LighttpdTest, UrlEncodedAndMultipartPosts) {
  Response r =
      Fetch("/app.cgi/vars?q=0", [](CURL* c) { curl_easy_setopt(c, CURLOPT_POSTFIELDS, "f=1&g=h%20i&bad=%00"); });
  EXPECT_EQ(r.status, 200);
  for (const char* line :
       {"method=POST", "content_type=application/x-www-form-urlencoded", "field q=0", "field f=1", "field g=h i"})
    EXPECT_TRUE(r.HasLine(line)) << line;
  EXPECT_EQ(r.body.find("field bad"), std::string::npos);

  const std::string file = "first line\r\nsecond -- line\r\n--not a boundary\r\n" + std::string(3000, 'x');
  CURL* owner = curl_easy_init();
  curl_mime* mime = curl_mime_init(owner);
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
  curl_easy_cleanup(owner);
  EXPECT_EQ(m.status, 200);
  EXPECT_NE(m.body.find("content_type=multipart/form-data; boundary="), std::string::npos);
  EXPECT_TRUE(m.HasLine("field title=My picture"));
  EXPECT_TRUE(m.HasLine("field pic=pic.txt"));
  EXPECT_TRUE(
      m.HasLine("upload pic name=pic.txt type=text/plain size=" + std::to_string(file.size()) + " content=" + file))
      << m.body.substr(0, 400);
  for (const auto& e : fs::directory_iterator(Www() / "tmp"))  // the temporary file is gone after the request
    EXPECT_NE(e.path().filename().string().rfind("upload-", 0), 0u) << e.path();
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

TEST_F(LighttpdTest, SessionVariablesAcrossTwoRequests) {
  Response set = Fetch("/app.cgi/session-set?name=color&value=blue+green");
  EXPECT_EQ(set.status, 200);
  std::smatch m;
  const std::string cookie_header = set.Header("Set-Cookie");
  ASSERT_TRUE(std::regex_match(cookie_header, m, std::regex("(HSESS_Default=[0-9a-f]{32}); Path=/; HttpOnly")))
      << cookie_header;
  const std::string cookie = m[1].str();
  ASSERT_TRUE(std::regex_search(set.body, m, std::regex("file=([^\r]+)\r\n")));
  EXPECT_EQ(fs::path(m[1].str()).parent_path(), Www() / "tmp");
  EXPECT_EQ(cgi_test::ReadSessionFileWithOpenSsl(m[1].str(), "session-key-for-tests"),
            std::vector<std::string>{"color=blue green"});
  Response get =
      Fetch("/app.cgi/session-get?name=color", [&](CURL* c) { curl_easy_setopt(c, CURLOPT_COOKIE, cookie.c_str()); });
  EXPECT_TRUE(get.HasLine("value=blue green")) << get.body;
  EXPECT_FALSE(get.HasHeader("Set-Cookie"));
  EXPECT_TRUE(Fetch("/app.cgi/session-get?name=color").HasLine("value="));  // no cookie: another, empty session
}

// A session ID the server never issued is not taken: a fresh one comes
// back and what the request stores goes under it, while a session the
// server issued is still found by its own ID.
TEST_F(LighttpdTest, ForgedSessionIdIsReplacedRealOneIsFound) {
  const std::string forged = "HSESS_Default=" + std::string(32, '0');
  const std::regex set_cookie("(HSESS_Default=([0-9a-f]{32})); Path=/; HttpOnly");
  auto with_cookie = [](const std::string& cookie) {
    return [cookie](CURL* c) { curl_easy_setopt(c, CURLOPT_COOKIE, cookie.c_str()); };
  };
  for (const std::string program : {"/app.cgi", "/lib.scgi"}) {
    SCOPED_TRACE(program);
    std::smatch m;
    const std::string real_header = Fetch(program + "/session-set?name=color&value=red").Header("Set-Cookie");
    ASSERT_TRUE(std::regex_match(real_header, m, set_cookie)) << real_header;
    const std::string real = m[1];
    const Response fresh_set = Fetch(program + "/session-set?name=color&value=blue", with_cookie(forged));
    const std::string fresh_header = fresh_set.Header("Set-Cookie");
    ASSERT_TRUE(std::regex_match(fresh_header, m, set_cookie)) << "the forged ID was taken:\n" << fresh_set.body;
    const std::string fresh = m[1];
    EXPECT_TRUE(fresh != forged && fresh != real) << fresh;
    EXPECT_TRUE(fresh_set.HasLine("id=" + m[2].str())) << fresh_set.body;
    EXPECT_FALSE(fs::exists(Www() / "tmp" / ("hsess_Default_" + std::string(32, '0') + ".ses")));
    const struct {
      std::string cookie, value;
      bool new_id;
    } reads[] = {{real, "red", false}, {fresh, "blue", false}, {forged, "", true}};
    for (const auto& read : reads) {
      const Response got = Fetch(program + "/session-get?name=color", with_cookie(read.cookie));
      EXPECT_TRUE(got.HasLine("value=" + read.value)) << read.cookie << ":\n" << got.body;
      EXPECT_EQ(got.HasHeader("Set-Cookie"), read.new_id) << read.cookie;
    }
  }
}

// A client that leaves before its answer: the library program's writes
// meet a closed connection, which ends that request and nothing more; the
// same process answers the next request.
TEST_F(LighttpdTest, ClientLeavingBeforeTheAnswerLeavesTheProgramRunning) {
  const std::regex answer("request (\\d+) pid (\\d+) thread (\\d+)");
  std::smatch before, after;
  const std::string first = Fetch("/lib.scgi/count").body;
  ASSERT_TRUE(std::regex_match(first, before, answer)) << first;
  {
    RawClient client(server_->Port());
    ASSERT_TRUE(client.Send("GET /lib.scgi/after-client-leaves HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    ASSERT_TRUE(client.ReadUntil("waiting"));
  }
  const std::string next = Fetch("/lib.scgi/count").body;
  ASSERT_TRUE(std::regex_match(next, after, answer)) << next;
  EXPECT_EQ(after[2], before[2]) << "the program was ended and started again";
  EXPECT_EQ(std::stoi(after[1]), std::stoi(before[1]) + 2);
}

// A client that aborts its upload halfway leaves no upload file, whichever
// way the program ends: a CGI program by the server's SIGTERM, the
// library's request at the end of its input.
TEST_F(LighttpdTest, AbortedUploadLeavesNoFile) {
  const std::string body_start = "--XyZ\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"a.bin\"\r\n\r\n" +
                                 std::string(200 << 10, 'x');  // more than one read buffer of the engine
  for (const std::string program : {"/app.cgi", "/stack.cgi", "/lib.scgi"}) {
    SCOPED_TRACE(program);
    FolderWatch watch(Www() / "tmp");
    RawClient client(server_->Port());
    ASSERT_TRUE(client.Send("POST " + program +
                            "/vars HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: 10000000\r\n\r\n" +
                            body_start));
    const std::string file = watch.Next(IN_CREATE, "upload-");
    ASSERT_NE(file, "") << "no upload file was made";
    client.Leave();
    EXPECT_EQ(watch.Next(IN_DELETE, file), file) << file << " was left behind";
  }
}

// However a program keeps its engine (heap, main's stack, library mode),
// every request gets one complete answer; a session folder that is missing
// or cannot be written to gives a clean 500, as does an exception a request
// handler lets through (what it queued is dropped).
TEST_F(LighttpdTest, EveryProgramAnswersEveryRequestOnce) {
  const std::string kError = "500 Internal Server Error\r\n";
  const struct {
    std::string path;
    long status;
    std::string body_start;
  } cases[] = {
      {"/vars?a=1", 200, "method=GET"}, {"/session-set?name=n&value=v", 200, "id="},
      {"/session-set?name=n&value=v&tmp=nosuch", 500, kError},
      {"/session-set?name=n&value=v&tmp=default", 500, kError},  // "Temp" under the document root
      {"/session-set?name=n&value=v&tmp=proc", 500, kError}, {"/throw", 500, kError}, {"/vars?b=2", 200, "method=GET"},
  };
  for (const std::string program : {"/app.cgi", "/stack.cgi", "/lib.scgi"}) {
    for (const auto& c : cases) {
      if (program == "/stack.cgi" && c.path == "/throw") continue;  // main runs its handler itself
      SCOPED_TRACE(program + c.path);
      Response r = Fetch(program + c.path);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.body.rfind(c.body_start, 0), 0u) << r.body;
      EXPECT_FALSE(r.HasHeader("X-Partial"));
      if (c.status == 500) { EXPECT_EQ(r.Header("Content-Type"), "text/plain"); }
      // Library mode may leave the length to the server.
      if (program != "/lib.scgi" || r.HasHeader("Content-Length")) {
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
      }
    }
  }
}

// The library program is started once by the server and answers request
// after request on its main thread, a failed one among them.
TEST_F(LighttpdTest, LibraryProgramAnswersSeveralRequestsOnOneThread) {
  const std::regex answer("request (\\d+) pid (\\d+) thread (\\d+)");
  std::smatch seen[4];
  std::string bodies[4];
  for (int i = 0; i < 4; ++i) {
    bodies[i] = Fetch(i == 2 ? "/lib.scgi/throw" : "/lib.scgi/count").body;
    if (i != 2) { ASSERT_TRUE(std::regex_match(bodies[i], seen[i], answer)) << bodies[i]; }
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
