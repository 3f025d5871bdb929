// Runs a program as a child process with a given environment and standard
// input, the way a web server runs a CGI program, for a bounded time; and
// runs test code in a forked child (RunForked).
// Standard input is written while the output is read (so a large body
// cannot deadlock against a large answer), may be generated on the fly (so
// the test process stays small however large the body), and stops at once
// when the child no longer reads it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace cgi_test {

struct ChildOptions {
  std::vector<std::string> env;  // the whole environment
  std::string input;             // written first
  // Then generated_size bytes from generate(buffer, size, offset).
  std::uint64_t generated_size = 0;
  std::function<void(char*, std::size_t, std::uint64_t)> generate;
  bool keep_input_open = false;  // a stalled client: the pipe stays open
  std::string cwd;
  double max_seconds = 30;
};

struct ChildResult {
  bool exited = false;  // false: still running at the time limit (then killed)
  int exit_code = -1;   // when exited normally
  int signal = 0;       // when ended by a signal
  std::string out, err;
  double seconds = 0;
  // Peak resident memory of the child; it also covers the test process as
  // it was when forked, so it is an upper bound.
  long max_rss_kb = 0;
};

inline ChildResult RunChild(const std::string& program, const ChildOptions& o) {
  ChildResult r;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0), ::dup2(out[1], 1), ::dup2(err[1], 2);
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> envp;
    for (const auto& e : o.env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(in[0]), ::close(out[1]), ::close(err[1]);
  ::signal(SIGPIPE, SIG_IGN);
  for (int fd : {in[1], out[0], err[0]}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  int in_fd = in[1], fds[2] = {out[0], err[0]};
  std::string* sinks[2] = {&r.out, &r.err};
  std::string piece = o.input;  // bytes due next on standard input
  std::size_t piece_at = 0;
  std::uint64_t generated = 0;
  int status = 0;
  struct rusage usage {};
  char buf[65536];
  for (;;) {
    if (in_fd >= 0 && piece_at == piece.size()) {
      piece.assign(static_cast<std::size_t>(std::min<std::uint64_t>(o.generated_size - generated, 256 * 1024)), '\0');
      if (!piece.empty()) o.generate(piece.data(), piece.size(), generated);
      generated += piece.size();
      piece_at = 0;
      if (piece.empty() && !o.keep_input_open) ::close(in_fd), in_fd = -1;
    }
    pollfd p[3];
    nfds_t n = 0;
    for (int fd : fds)
      if (fd >= 0) p[n++] = {fd, POLLIN, 0};
    if (in_fd >= 0 && piece_at < piece.size()) p[n++] = {in_fd, POLLOUT, 0};
    ::poll(p, n, 20);
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0) continue;
      const ssize_t got = ::read(fds[i], buf, sizeof(buf));
      if (got > 0) sinks[i]->append(buf, static_cast<std::size_t>(got));
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) ::close(fds[i]), fds[i] = -1;
    }
    if (in_fd >= 0 && piece_at < piece.size()) {
      const ssize_t put = ::write(in_fd, piece.data() + piece_at, piece.size() - piece_at);
      if (put > 0) piece_at += static_cast<std::size_t>(put);
      if (put < 0 && errno != EAGAIN && errno != EINTR) ::close(in_fd), in_fd = -1;  // the child stopped reading
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (fds[0] < 0 && fds[1] < 0 && ::wait4(pid, &status, WNOHANG, &usage) == pid) {
      r.exited = true;
      break;
    }
    if (r.seconds > o.max_seconds) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      break;
    }
  }
  for (int fd : {fds[0], fds[1], in_fd})
    if (fd >= 0) ::close(fd);
  r.max_rss_kb = usage.ru_maxrss;
  if (r.exited && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (r.exited && WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

// Runs body in a forked copy of the test process, for what may end a
// process (signals, their dispositions). body writes its findings with
// report, which sends them at once, so that what came before a fatal
// signal is still seen.
struct ForkedRun {
  int status = 0;  // as waitpid gives it
  std::string report;
  bool ExitedNormally() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
  int Signal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

inline ForkedRun RunForked(const std::function<void(const std::function<void(const std::string&)>& report)>& body) {
  ForkedRun r;
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) return r;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    body([&](const std::string& text) {
      if (::write(p[1], text.data(), text.size()) < 0) ::_exit(3);
    });
    ::_exit(0);
  }
  ::close(p[1]);
  char buf[4096];
  for (ssize_t n; (n = ::read(p[0], buf, sizeof(buf))) != 0;) {
    if (n > 0) r.report.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR) break;
  }
  ::close(p[0]);
  ::waitpid(pid, &r.status, 0);
  return r;
}

// An answer split into its head lines and body.
struct Answer {
  std::vector<std::string> head;  // status line and header lines
  std::string body;
  bool complete = false;  // a head ended by an empty line was found
  std::string Header(const std::string& name) const {
    for (const auto& line : head)
      if (line.size() > name.size() + 1 && line[name.size()] == ':' &&
          ::strncasecmp(line.c_str(), name.c_str(), name.size()) == 0)
        return line.substr(name.size() + 1 + (line[name.size() + 1] == ' '));
    return "";
  }
};

inline Answer SplitAnswer(const std::string& raw) {
  Answer a;
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return a;
  a.complete = true;
  for (std::size_t pos = 0, eol; pos < end; pos = eol + 2)
    a.head.push_back(raw.substr(pos, (eol = raw.find("\r\n", pos)) - pos));
  a.body = raw.substr(end + 4);
  return a;
}

}  // namespace cgi_test
