// The test CGI programs run directly, as a web server runs them (CGI
// variables in the environment, the body on standard input): every request
// gets exactly one complete answer with a correct Content-Length and the
// program ends by itself, whichever way the engine is kept; failures give a
// clean 500 with the reason on standard error, never an abort; large
// bodies stay within a memory bound; a client that stops sending is ended
// by the watchdog.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/cgi/cgi_process.h"
#include "tests/common/scratch_dir.h"

namespace {

using cgi_test::ChildOptions;
using cgi_test::ChildResult;
using cgi_test::SplitAnswer;

const std::string kServerError = "500 Internal Server Error\r\n";

class CgiProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "tmp");
    std::ofstream(dir_ / "afile") << "not a folder";
  }
  ChildResult Run(const std::string& program, std::vector<std::string> env, const std::string& input = "") {
    env.insert(env.end(),
               {"SCRIPT_FILENAME=" + dir_ / "app.cgi", "GATEWAY_INTERFACE=CGI/1.1", "SERVER_SOFTWARE=lighttpd/1.4.69"});
    return cgi_test::RunChild(program, {env, input, 0, {}, false, dir_.path(), 30});
  }
  testsupport::ScratchDir dir_;
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

TEST_F(CgiProgramTest, EveryProgramAnswersEveryRequestOnce) {
  const std::string ok = "HTTP/1.0 200 OK", failed = "HTTP/1.0 500 Internal Server Error";
  const std::string bad_name = "Request failed: Invalid session variable name";
  // Heap: only where the engine runs the handler (the heap program) can it
  // catch what the handler lets through.
  const struct {
    std::string method, path, query, input;
    std::string status, body, log;  // body: its start; log: a line of standard error
    bool heap = false;
  } cases[] = {
      {"GET", "/vars", "a=1&b=x+y", "", ok, "method=GET", ""},
      // A session is saved before the status line goes out, so a folder it
      // cannot be saved in turns the answer into a 500.
      {"GET", "/session-set", "name=n&value=v&tmp=tmp", "", ok, "id=", ""},
      {"GET", "/session-set", "name=n&value=v&tmp=nosuch", "", failed, kServerError, "Session not saved"},
      {"GET", "/session-set", "name=n&value=v&tmp=afile", "", failed, kServerError, "Session not saved"},
      {"GET", "/session-set", "name=n&value=v&tmp=proc", "", failed, kServerError,
       "Session not saved"},  // even for root
      {"GET", "/session-set", "name=n&value=v&tmp=default", "", failed, kServerError, "Session not saved"},  // "Temp"
      // What a handler lets through (names the engine refuses, any
      // exception) ends in a 500; its output is dropped.
      {"GET", "/session-bad", "kind=empty", "", failed, kServerError, bad_name, true},
      {"GET", "/session-bad", "kind=nul", "", failed, kServerError, bad_name, true},
      {"GET", "/session-bad", "kind=eq", "", failed, kServerError, bad_name, true},
      {"GET", "/session-bad", "kind=long", "", failed, kServerError, bad_name, true},
      {"GET", "/throw", "", "", failed, kServerError, "Request failed: handler failed on purpose", true},
      // With DebugException the debug appendix follows the text.
      {"GET", "/throw", "debug=1", "", failed, kServerError, "", true},
      // Standard input ends after 3 of the announced 100 bytes: the read
      // stops there and the request is refused.
      {"POST", "/vars", "", "a=1", "HTTP/1.0 400 Bad Request", "refused: Client input ended early", ""},
  };
  for (const char* program : {TOLMID_CGI_TEST_PROGRAM, TOLMID_CGI_STACK_PROGRAM})
    for (const auto& c : cases) {
      if (c.heap && program != std::string(TOLMID_CGI_TEST_PROGRAM)) continue;
      SCOPED_TRACE(std::string(program) + " " + c.path + "?" + c.query);
      const ChildResult r = Run(program,
                                {"REQUEST_METHOD=" + c.method, "PATH_INFO=" + c.path, "QUERY_STRING=" + c.query,
                                 "CONTENT_LENGTH=" + std::string(c.input.empty() ? "0" : "100"),
                                 "CONTENT_TYPE=application/x-www-form-urlencoded"},
                                c.input);
      ExpectOneAnswer(r, c.status);
      const cgi_test::Answer a = SplitAnswer(r.out);
      EXPECT_EQ(a.body.rfind(c.body, 0), 0u) << a.body;
      EXPECT_NE(r.err.find(c.log), std::string::npos) << r.err;
      if (c.query == "debug=1") {
        EXPECT_NE(a.body.find("(***    User Log      ***)\r\n(************************)\r\n"
                              "Request failed: handler failed on purpose\r\n"), std::string::npos) << a.body;
        EXPECT_NE(a.body.find("(*** Server variables ***)"), std::string::npos);
      }
      if (c.status == failed) {
        EXPECT_EQ(a.Header("content-type"), "text/plain");
        EXPECT_EQ(a.Header("X-Partial"), "");
      }
    }
}

// The body of a form is parsed while it is read, into compact fields: a
// 50 MB body of tiny fields is refused after its 4,096th field, and a 200
// MB field costs about its own size.
TEST_F(CgiProgramTest, LargeBodiesStayWithinAMemoryBound) {
  const ChildResult small =
      Run(TOLMID_CGI_TEST_PROGRAM, {"REQUEST_METHOD=GET", "PATH_INFO=/sizes", "QUERY_STRING=a=1"});
  ExpectOneAnswer(small, "HTTP/1.0 200 OK");
  auto post = [&](std::uint64_t size, std::string prefix, std::function<void(char*, std::size_t, std::uint64_t)> gen) {
    return cgi_test::RunChild(
        TOLMID_CGI_TEST_PROGRAM,
        {{"REQUEST_METHOD=POST", "PATH_INFO=/sizes", "CONTENT_TYPE=application/x-www-form-urlencoded",
          "CONTENT_LENGTH=" + std::to_string(prefix.size() + size), "SCRIPT_FILENAME=" + dir_ / "app.cgi"},
         prefix, size, std::move(gen), false, dir_.path(), 120});
  };
  const std::uint64_t k50MB = 50ULL << 20, k200MB = 200ULL << 20;
  const ChildResult tiny = post(k50MB, "", [](char* p, std::size_t n, std::uint64_t at) {
    for (std::size_t i = 0; i < n; ++i) p[i] = "k=v&"[(at + i) % 4];
  });
  ExpectOneAnswer(tiny, "HTTP/1.0 413 Request Entity Too Large");
  EXPECT_EQ(SplitAnswer(tiny.out).body, "refused: Too many form fields");
  EXPECT_LT(tiny.max_rss_kb - small.max_rss_kb, 8 * 1024) << "peak RSS of 50 MB of tiny fields";
  const ChildResult big = post(k200MB, "v=", [&](char* p, std::size_t n, std::uint64_t at) {
    std::memset(p, 'a', n);
    if (at + n == k200MB) p[n - 1] = 'z';
  });
  ExpectOneAnswer(big, "HTTP/1.0 200 OK");
  EXPECT_EQ(SplitAnswer(big.out).body, "fields=1\r\nfield v size=" + std::to_string(k200MB) + " first=a last=z\r\n");
  EXPECT_LT(big.max_rss_kb - small.max_rss_kb, static_cast<long>(k200MB / 1024) + 16 * 1024)
      << "peak RSS of one 200 MB field";
}

// A client that sends part of its body and then nothing: the watchdog ends
// the process, without an answer, once the deadline has passed (the
// program shortens the period to 300 ms for this request); an upload file
// it had begun goes with it.
TEST_F(CgiProgramTest, StalledClientIsEndedByTheWatchdog) {
  const std::string upload_head =
      "--XyZ\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"a.bin\"\r\n\r\n";
  const struct {
    std::string type, input;
  } cases[] = {
      {"application/x-www-form-urlencoded", "a="},
      // More than one read buffer, so that the file part is begun.
      {"multipart/form-data; boundary=XyZ", upload_head + std::string(100 << 10, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ChildOptions o{{"REQUEST_METHOD=POST", "PATH_INFO=/stall", "CONTENT_LENGTH=1000000",
                    "SCRIPT_FILENAME=" + dir_ / "app.cgi", "CONTENT_TYPE=" + c.type},
                   c.input, 0, {}, /*keep_input_open=*/true, dir_.path(), 10};
    const ChildResult r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM, o);
    ASSERT_TRUE(r.exited) << "the watchdog did not end the process";
    EXPECT_EQ(r.exit_code, 124);
    EXPECT_EQ(r.out, "");
    EXPECT_GE(r.seconds, 0.3) << "ended before the deadline";
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "tmp"))
      EXPECT_NE(e.path().filename().string().rfind("upload-", 0), 0u) << e.path() << " left behind";
  }
}

}  // namespace
