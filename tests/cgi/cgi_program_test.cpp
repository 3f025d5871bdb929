// The test CGI programs run directly, as a web server runs them (CGI
// variables in the environment, the body on standard input), and the
// library program over SCGI: every request gets one complete answer with a
// correct Content-Length, whichever way the engine is kept; failures give a
// clean 500, never an abort; large bodies stay within a memory bound; a
// client that stops sending is ended by the watchdog.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/cgi/cgi_process.h"

namespace {

namespace fs = std::filesystem;
using cgi_test::ChildOptions;
using cgi_test::ChildResult;
using cgi_test::SplitAnswer;

const std::string kServerError = "500 Internal Server Error\r\n";

class CgiProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cgi_program_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "tmp");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> Env(std::vector<std::string> extra) {
    extra.push_back("SCRIPT_FILENAME=" + (dir_ / "app.cgi").string());
    extra.push_back("GATEWAY_INTERFACE=CGI/1.1");
    bool software = false;
    for (const auto& e : extra) software = software || e.rfind("SERVER_SOFTWARE=", 0) == 0;
    if (!software) extra.push_back("SERVER_SOFTWARE=lighttpd/1.4.69");
    return extra;
  }

  ChildResult Get(const std::string& program, const std::string& path, const std::string& query = "") {
    ChildOptions o;
    o.env = Env({"REQUEST_METHOD=GET", "PATH_INFO=" + path, "QUERY_STRING=" + query});
    o.cwd = dir_.string();
    return cgi_test::RunChild(program, o);
  }

  fs::path dir_;
};

// One answer, complete, with the given status line and a Content-Length
// that counts its body; the program ended by itself with exit code 0.
void ExpectOneAnswer(const ChildResult& r, const std::string& status_line) {
  ASSERT_TRUE(r.exited) << "still running";
  EXPECT_EQ(r.signal, 0) << r.err;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
  const cgi_test::Answer a = SplitAnswer(r.out);
  ASSERT_TRUE(a.complete) << r.out;
  EXPECT_EQ(a.head[0], status_line);
  EXPECT_EQ(a.Header("content-length"), std::to_string(a.body.size()));
  EXPECT_EQ(r.out.find("HTTP/1.", 1), std::string::npos) << "a second answer:\n" << r.out;
}

const char* const kPrograms[] = {TOLMID_CGI_TEST_PROGRAM, TOLMID_CGI_STACK_PROGRAM};

TEST_F(CgiProgramTest, EveryProgramAnswersOnceWithItsLength) {
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const ChildResult r = Get(program, "/vars", "a=1&b=x+y");
    ExpectOneAnswer(r, "HTTP/1.0 200 OK");
    EXPECT_NE(r.out.find("content-type: text/html\r\ncontent-length: "), std::string::npos);
    EXPECT_NE(r.out.find("\r\nfield a=1\r\nfield b=x y\r\n"), std::string::npos);
  }
}

TEST_F(CgiProgramTest, StatusHeaderBehindApache) {
  ChildOptions o;
  o.env = Env({"REQUEST_METHOD=GET", "PATH_INFO=/redirect", "SERVER_SOFTWARE=Apache/2.4.57"});
  const ChildResult r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM, o);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.out, "Status: 302 Found\r\nLocation: http://127.0.0.1/elsewhere\r\n\r\n");
}

// A session is saved before the status line goes out, so a folder it cannot
// be saved in turns the answer into a 500 (it used to abort after "200 OK").
TEST_F(CgiProgramTest, SessionFolderMissingOrUnwritableGivesA500) {
  std::ofstream(dir_ / "afile") << "not a folder";
  struct Case {
    const char* tmp;
    const char* status;
  };
  const Case cases[] = {
      {"nosuch", "HTTP/1.0 500 Internal Server Error"}, {"afile", "HTTP/1.0 500 Internal Server Error"},
      {"proc", "HTTP/1.0 500 Internal Server Error"},     // /proc/self: not writable, even by root
      {"default", "HTTP/1.0 500 Internal Server Error"},  // "Temp" under the working folder, missing
      {"tmp", "HTTP/1.0 200 OK"},
  };
  for (const char* program : kPrograms) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(program) + " " + c.tmp);
      const ChildResult r = Get(program, "/session-set", std::string("name=n&value=v&tmp=") + c.tmp);
      ExpectOneAnswer(r, c.status);
      if (std::string(c.status).find("500") != std::string::npos) {
        EXPECT_EQ(SplitAnswer(r.out).body, kServerError);
        EXPECT_EQ(SplitAnswer(r.out).Header("content-type"), "text/plain");
        EXPECT_NE(r.err.find("Session not saved"), std::string::npos) << r.err;
      }
    }
  }
}

// What a request handler lets through is caught by the end of the run and
// answered with a 500: bad session-variable names, and any exception.
TEST_F(CgiProgramTest, HandlerExceptionsGiveA500) {
  for (const char* kind : {"empty", "nul", "eq", "long"}) {
    SCOPED_TRACE(kind);
    const ChildResult r = Get(TOLMID_CGI_TEST_PROGRAM, "/session-bad", std::string("kind=") + kind);
    ExpectOneAnswer(r, "HTTP/1.0 500 Internal Server Error");
    EXPECT_EQ(SplitAnswer(r.out).body, kServerError) << "the handler's output is dropped";
    EXPECT_NE(r.err.find("Request failed: Invalid session variable name"), std::string::npos) << r.err;
  }
  ChildResult r = Get(TOLMID_CGI_TEST_PROGRAM, "/throw");
  ExpectOneAnswer(r, "HTTP/1.0 500 Internal Server Error");
  EXPECT_EQ(SplitAnswer(r.out).Header("X-Partial"), "");
  EXPECT_EQ(SplitAnswer(r.out).body, kServerError);

  // With DebugException the reason and the debug appendix follow the text.
  r = Get(TOLMID_CGI_TEST_PROGRAM, "/throw", "debug=1");
  ExpectOneAnswer(r, "HTTP/1.0 500 Internal Server Error");
  const std::string body = SplitAnswer(r.out).body;
  EXPECT_EQ(body.rfind(kServerError, 0), 0u) << body;
  EXPECT_NE(body.find("(***    User Log      ***)\r\n(************************)\r\n"
                      "Request failed: handler failed on purpose\r\n"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("(*** Server variables ***)"), std::string::npos);
}

// The body of a form is parsed while it is read, into compact fields: a
// 50 MB body of tiny fields is refused after its 4,096th field (it used to
// take 1.55 GB), and a 200 MB field costs about its own size.
TEST_F(CgiProgramTest, LargeBodiesStayWithinAMemoryBound) {
  const ChildResult small = Get(TOLMID_CGI_TEST_PROGRAM, "/sizes", "a=1");
  ExpectOneAnswer(small, "HTTP/1.0 200 OK");
  const long base_kb = small.max_rss_kb;

  auto post = [&](std::uint64_t size, std::string prefix, std::function<void(char*, std::size_t, std::uint64_t)> gen) {
    ChildOptions o;
    o.env = Env({"REQUEST_METHOD=POST", "PATH_INFO=/sizes", "CONTENT_TYPE=application/x-www-form-urlencoded",
                 "CONTENT_LENGTH=" + std::to_string(prefix.size() + size)});
    o.input = std::move(prefix);
    o.generated_size = size;
    o.generate = std::move(gen);
    o.max_seconds = 120;
    return cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM, o);
  };
  const std::uint64_t k50MB = 50ULL << 20;
  const ChildResult tiny = post(k50MB, "", [](char* p, std::size_t n, std::uint64_t at) {
    for (std::size_t i = 0; i < n; ++i) p[i] = "k=v&"[(at + i) % 4];
  });
  ExpectOneAnswer(tiny, "HTTP/1.0 413 Request Entity Too Large");
  EXPECT_EQ(SplitAnswer(tiny.out).body, "refused: Too many form fields");
  std::printf("[   INFO   ] 50 MB of tiny fields: peak RSS %ld KiB (a small request: %ld KiB)\n",
              tiny.max_rss_kb, base_kb);
  EXPECT_LT(tiny.max_rss_kb - base_kb, 8 * 1024);

  const std::uint64_t k200MB = 200ULL << 20;
  const ChildResult big = post(k200MB, "v=", [&](char* p, std::size_t n, std::uint64_t at) {
    std::memset(p, 'a', n);
    if (at + n == k200MB) p[n - 1] = 'z';
  });
  ExpectOneAnswer(big, "HTTP/1.0 200 OK");
  EXPECT_EQ(SplitAnswer(big.out).body,
            "fields=1\r\nfield v size=" + std::to_string(k200MB) + " first=a last=z\r\n");
  std::printf("[   INFO   ] one 200 MB field: peak RSS %ld KiB\n", big.max_rss_kb);
  EXPECT_LT(big.max_rss_kb - base_kb, static_cast<long>(k200MB / 1024) + 16 * 1024);
}

TEST_F(CgiProgramTest, BodyEndingEarlyEndsTheReadAtOnce) {
  // Standard input closes after 3 of the announced 100 bytes: the read must
  // stop there (no waiting for more) and the request is refused.
  ChildOptions o;
  o.env = Env({"REQUEST_METHOD=POST", "PATH_INFO=/vars", "CONTENT_LENGTH=100",
               "CONTENT_TYPE=application/x-www-form-urlencoded"});
  o.input = "a=1";
  const ChildResult r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM, o);
  ExpectOneAnswer(r, "HTTP/1.0 400 Bad Request");
  EXPECT_EQ(SplitAnswer(r.out).body, "refused: Client input ended early");
}

// A client that sends part of its body and then nothing: the watchdog ends
// the process once the deadline has passed (the program shortens the
// period to 300 ms for this request).
TEST_F(CgiProgramTest, StalledClientIsEndedByTheWatchdog) {
  ChildOptions o;
  o.env = Env({"REQUEST_METHOD=POST", "PATH_INFO=/stall", "CONTENT_LENGTH=100",
               "CONTENT_TYPE=application/x-www-form-urlencoded"});
  o.input = "a=";
  o.keep_input_open = true;
  o.max_seconds = 10;
  const ChildResult r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM, o);
  ASSERT_TRUE(r.exited) << "the watchdog did not end the process";
  EXPECT_EQ(r.exit_code, 124);
  EXPECT_EQ(r.out, "");
  EXPECT_GE(r.seconds, 0.3) << "ended before the deadline";
}

// The library program, started once, answers request after request on one
// thread over SCGI (the test plays the web server): each answer is whole and
// its own, including after a handler failure or a session that could not be
// saved.
TEST_F(CgiProgramTest, LibraryProgramAnswersEveryRequestOfItsThread) {
  const std::string socket_path = (dir_ / "lib.sock").string();
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof(addr.sun_path));
  std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  const std::string err_file = (dir_ / "stderr.txt").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(listener, 0);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, 2);
    ::chdir(dir_.c_str());
    char* argv[] = {const_cast<char*>(TOLMID_CGI_LIBRARY_PROGRAM), nullptr};
    char* envp[] = {nullptr};
    ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  ::close(listener);

  // One SCGI request; returns everything the program sent back.
  auto request = [&](const std::string& path, const std::string& query, const std::string& body = "") {
    std::string head;
    auto add = [&](const std::string& n, const std::string& v) { head += n + '\0' + v + '\0'; };
    add("CONTENT_LENGTH", std::to_string(body.size()));
    add("SCGI", "1");
    add("REQUEST_METHOD", body.empty() ? "GET" : "POST");
    add("SCRIPT_FILENAME", (dir_ / "lib.scgi").string());
    add("PATH_INFO", path);
    add("QUERY_STRING", query);
    if (!body.empty()) add("CONTENT_TYPE", "application/x-www-form-urlencoded");
    const std::string message = std::to_string(head.size()) + ":" + head + "," + body;
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string answer;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::send(s, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size())) {
      char buf[4096];
      ssize_t n;
      while ((n = ::recv(s, buf, sizeof(buf), 0)) > 0) answer.append(buf, static_cast<std::size_t>(n));
    }
    ::close(s);
    return answer;
  };
  struct Case {
    std::string path, query, body;
    std::string status;
    std::string answer_body;  // a regular expression
  };
  const Case cases[] = {
      {"/count", "", "", "HTTP/1.0 200 OK", "request 1 pid (\\d+) thread \\1"},
      {"/vars", "", "f=1&g=2", "HTTP/1.0 200 OK", "(.|\r\n)*\r\nfield f=1\r\nfield g=2\r\n"},
      {"/throw", "", "", "HTTP/1.0 500 Internal Server Error", "500 Internal Server Error\r\n"},
      {"/session-set", "name=n&value=v&tmp=nosuch", "", "HTTP/1.0 500 Internal Server Error",
       "500 Internal Server Error\r\n"},
      {"/session-bad", "kind=eq", "", "HTTP/1.0 500 Internal Server Error", "500 Internal Server Error\r\n"},
      {"/count", "", "", "HTTP/1.0 200 OK", "request 6 pid (\\d+) thread \\1"},
      {"/quit", "", "", "HTTP/1.0 200 OK", "bye"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + "?" + c.query);
    const std::string raw = request(c.path, c.query, c.body);
    const cgi_test::Answer a = SplitAnswer(raw);
    ASSERT_TRUE(a.complete) << raw;
    EXPECT_EQ(a.head[0], c.status);
    EXPECT_EQ(raw.find("HTTP/1.", 1), std::string::npos) << "a second answer:\n" << raw;
    EXPECT_TRUE(std::regex_match(a.body, std::regex(c.answer_body))) << a.body;
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  std::ifstream err(err_file);
  const std::string errors((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << errors;
  EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
}

}  // namespace
