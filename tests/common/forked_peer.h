// A second process for tests that need two: forked from the test, it
// answers one text command per line with the handler's reply, until the
// pipe closes or "exit" comes. A dead peer answers "dead" (SIGPIPE is
// ignored), so that a crash fails the test instead of ending it.
//
//   ForkedPeer peer([&](const std::string& command) { return Run(command); });
//   EXPECT_EQ(peer.Do("lock 0 10 1"), "ok");
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace testsupport {

class ForkedPeer {
 public:
  explicit ForkedPeer(const std::function<std::string(const std::string&)>& handler) {
    ::signal(SIGPIPE, SIG_IGN);
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) std::abort();
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      for (std::string line; ReadLine(down[0], line) && line != "exit";) {
        const std::string reply = handler(line) + "\n";
        if (::write(up[1], reply.data(), reply.size()) < 0) break;
      }
      ::_exit(0);
    }
    ::close(down[0]);
    ::close(up[1]);
    out_ = down[1];
    in_ = up[0];
  }
  ~ForkedPeer() {
    if (pid_ > 0) {
      Do("exit");
      Kill();
    }
  }
  ForkedPeer(const ForkedPeer&) = delete;
  ForkedPeer& operator=(const ForkedPeer&) = delete;

  // Sends one command and waits for its reply.
  std::string Do(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(out_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "dead";
    std::string reply;
    return ReadLine(in_, reply) ? reply : "dead";
  }
  // Ends the peer at once, as a crash would (its descriptors close with it).
  void Kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(out_);
    ::close(in_);
    pid_ = -1;
  }

 private:
  static bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (char c; ::read(fd, &c, 1) == 1;) {
      if (c == '\n') return true;
      line += c;
    }
    return false;
  }

  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
};

}  // namespace testsupport
