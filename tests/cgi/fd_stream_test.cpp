// TFdStream writing to a reader that has gone (a pipe or a socket closed at
// the other end): the write fails with EPIPE and the process goes on,
// whatever the program does with SIGPIPE; its handler is not called, no
// SIGPIPE is left pending and its signal mask is as it was, while a SIGPIPE
// that was pending before the write stays pending. Each case runs in a
// forked child, since the fault it guards against ends the process.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "cgi/fd_stream.h"
#include "tests/cgi/cgi_process.h"

namespace {

volatile sig_atomic_t g_handler_calls = 0;
void CountingHandler(int) { g_handler_calls = g_handler_calls + 1; }

bool SameSignals(const sigset_t& a, const sigset_t& b) {
  for (int sig = 1; sig < SIGRTMAX; ++sig) {
    if (sigismember(&a, sig) != sigismember(&b, sig)) return false;
  }
  return true;
}

TEST(FdStreamTest, WriteToAClosedReaderFailsWithoutSigpipe) {
  const struct {
    const char* name;
    bool socket;
    bool program_handler;  // else the default action (the process ends)
    bool pending_before;   // SIGPIPE blocked and pending before the write
  } cases[] = {
      {"pipe", false, false, false},
      {"socket", true, false, false},
      {"pipe, program's handler", false, true, false},
      {"socket, program's handler", true, true, false},
      {"pipe, SIGPIPE pending before", false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const cgi_test::ForkedRun r = cgi_test::RunForked([&](const auto& report) {
      struct sigaction action {};
      action.sa_handler = c.program_handler ? CountingHandler : SIG_DFL;
      sigemptyset(&action.sa_mask);
      ::sigaction(SIGPIPE, &action, nullptr);
      sigset_t sigpipe;
      sigemptyset(&sigpipe);
      sigaddset(&sigpipe, SIGPIPE);
      if (c.pending_before) {
        ::pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
        ::raise(SIGPIPE);
      }
      sigset_t mask_before;
      ::pthread_sigmask(SIG_BLOCK, nullptr, &mask_before);
      int fds[2];
      if ((c.socket ? ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) : ::pipe(fds)) != 0) return;
      ::close(fds[0]);
      cgi::TFdStream stream(fds[1]);
      const std::int64_t n = stream.Write("abc", 3);
      const int error = errno;
      sigset_t mask_after, pending;
      ::pthread_sigmask(SIG_BLOCK, nullptr, &mask_after);
      ::sigpending(&pending);
      report("n=" + std::to_string(n) + " errno=" + std::strerror(error) +
             " pending=" + std::to_string(sigismember(&pending, SIGPIPE)) +
             " handler_calls=" + std::to_string(g_handler_calls) +
             " mask_kept=" + std::to_string(SameSignals(mask_before, mask_after)));
    });
    EXPECT_TRUE(r.ExitedNormally()) << "ended by signal " << r.Signal();
    EXPECT_EQ(r.report, std::string("n=-1 errno=") + std::strerror(EPIPE) + " pending=" +
                            (c.pending_before ? "1" : "0") + " handler_calls=0 mask_kept=1");
  }
}

}  // namespace
