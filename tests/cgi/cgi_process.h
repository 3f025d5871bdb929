// Runs a program as a child process with a given environment and standard
// input, and waits for it a bounded time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace cgi_test {

struct ChildResult {
  bool exited = false;  // false: still running at the time limit (then killed)
  int exit_code = -1;   // when exited normally
  int signal = 0;       // when ended by a signal
  std::string out;
  double seconds = 0;
};

// Starts program with env as its whole environment. When keep_stdin_open,
// stdin_data is written and the pipe stays open (a stalled client) until the
// child ends; otherwise it is closed after the data.
inline ChildResult RunChild(const std::string& program, const std::vector<std::string>& env,
                            const std::string& stdin_data, bool keep_stdin_open, double max_seconds) {
  ChildResult result;
  int in_pipe[2];
  int out_pipe[2];
  if (::pipe(in_pipe) != 0 || ::pipe(out_pipe) != 0) return result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::signal(SIGPIPE, SIG_IGN);
  if (!stdin_data.empty()) {
    [[maybe_unused]] ssize_t n = ::write(in_pipe[1], stdin_data.data(), stdin_data.size());
  }
  if (!keep_stdin_open) ::close(in_pipe[1]);
  char buf[4096];
  int status = 0;
  for (;;) {
    pollfd p{out_pipe[0], POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::read(out_pipe[0], buf, sizeof(buf));
      if (n > 0) result.out.append(buf, static_cast<std::size_t>(n));
    }
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (done == pid) {
      result.exited = true;
      break;
    }
    if (result.seconds > max_seconds) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
  }
  ssize_t n;
  while ((n = ::read(out_pipe[0], buf, sizeof(buf))) > 0) result.out.append(buf, static_cast<std::size_t>(n));
  ::close(out_pipe[0]);
  if (keep_stdin_open) ::close(in_pipe[1]);
  if (result.exited) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace cgi_test
