// The test CGI program run directly as a console CGI program: the unit's end
// sends the response and ends the process; a client that stops sending is
// ended by the watchdog with a non-zero exit code; a body that ends early
// ends the read at once.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/cgi/cgi_process.h"

namespace {

namespace fs = std::filesystem;

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
    return extra;
  }

  fs::path dir_;
};

TEST_F(CgiProgramTest, EndOfRunSendsTheResponseAndExitsWithZero) {
  auto r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM,
                              Env({"REQUEST_METHOD=GET", "PATH_INFO=/vars", "QUERY_STRING=a=1&b=x+y",
                                   "SERVER_SOFTWARE=lighttpd/1.4.69"}),
                              "", false, 20);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m,
      std::regex("^HTTP/1\\.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: (\\d+)\r\nConnection: "
                 "Keep-Alive\r\n\r\n")))
      << r.out;
  EXPECT_EQ(std::stoul(m[1]), r.out.size() - m.length(0));
  EXPECT_NE(r.out.find("\r\nfield a=1\r\nfield b=x y\r\n"), std::string::npos);
}

TEST_F(CgiProgramTest, StatusHeaderBehindApache) {
  auto r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM,
                              Env({"REQUEST_METHOD=GET", "PATH_INFO=/redirect", "SERVER_SOFTWARE=Apache/2.4.57"}), "",
                              false, 20);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.out, "Status: 302 Found\r\nLocation: http://127.0.0.1/elsewhere\r\n\r\n");
}

TEST_F(CgiProgramTest, BodyEndingEarlyEndsTheReadAtOnce) {
  // Standard input closes after 3 of the announced 100 bytes: the read must
  // stop there (no waiting for more) and the request is refused.
  auto r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM,
                              Env({"REQUEST_METHOD=POST", "PATH_INFO=/vars", "CONTENT_LENGTH=100",
                                   "CONTENT_TYPE=application/x-www-form-urlencoded"}),
                              "a=1", false, 20);
  ASSERT_TRUE(r.exited) << "the program hung on a closed input";
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("HTTP/1.0 400 Bad Request\r\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("refused: Client input ended early"), std::string::npos);
}

// A client that sends part of its body and then nothing: the watchdog ends
// the process once the 30-second deadline has passed (polling every 2 s).
TEST_F(CgiProgramTest, StalledClientIsEndedByTheWatchdog) {
  auto r = cgi_test::RunChild(TOLMID_CGI_TEST_PROGRAM,
                              Env({"REQUEST_METHOD=POST", "PATH_INFO=/stall", "CONTENT_LENGTH=100",
                                   "CONTENT_TYPE=application/x-www-form-urlencoded"}),
                              "a=", true, 45);
  ASSERT_TRUE(r.exited) << "the watchdog did not end the process";
  EXPECT_EQ(r.exit_code, 124);
  EXPECT_EQ(r.out, "");
  EXPECT_GE(r.seconds, 25.0) << "ended before the deadline";
}

}  // namespace
