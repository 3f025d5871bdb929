// A local web server for tests: lighttpd on 127.0.0.1 serving files from a
// temporary document root (DocRoot()/www), running programs named *.cgi
// there through mod_cgi (shell scripts for answers a file cannot give, or
// real CGI programs), and optionally one program over SCGI under /lib.scgi
// (lighttpd starts it once and sends it every request). Request and
// response bodies stream, so that a client or a script can stop halfway;
// the programs' standard error goes to DocRoot()/programs.log. The
// listening socket is made here and handed to lighttpd by socket
// activation, so the server takes connections the moment the constructor
// returns (no waiting for it to come up, no port race).
//
//   LocalHttpServer server;
//   server.AddFile("a.gif", bytes);
//   http.Get(server.Url("a.gif"));
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

class LocalHttpServer {
 public:
  explicit LocalHttpServer(const std::string& scgi_program = "") {
    const std::string server = FindLighttpd();
    if (server.empty()) return;
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("tolmid_http_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(dir_ / "www");
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(sock, 64) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ::close(sock);
      return;
    }
    port_ = ntohs(a.sin_port);
    const std::filesystem::path conf = dir_ / "lighttpd.conf";
    {
      std::ofstream c(conf);
      c << "server.document-root = \"" << (dir_ / "www").string() << "\"\n"
        << "server.bind = \"127.0.0.1\"\n"
        << "server.port = " << port_ << "\n"
        << "server.systemd-socket-activation = \"enable\"\n"
        << "server.modules = ( \"mod_cgi\", \"mod_scgi\" )\n"
        << "server.errorlog = \"" << (dir_ / "error.log").string() << "\"\n"
        << "server.breakagelog = \"" << (dir_ / "programs.log").string() << "\"\n"
        << "server.stream-response-body = 2\n"
        << "server.stream-request-body = 2\n"
        << "cgi.assign = ( \".cgi\" => \"\" )\n"
        << "mimetype.assign = ( \".gif\" => \"image/gif\", \".jpg\" => \"image/jpeg\", \"\" => "
           "\"application/octet-stream\" )\n";
      if (!scgi_program.empty()) {
        c << "scgi.server = ( \"/lib.scgi\" => (( \"socket\" => \"" << (dir_ / "lib.sock").string()
          << "\", \"bin-path\" => \"" << scgi_program
          << "\", \"check-local\" => \"disable\", \"max-procs\" => 1 )) )\n";
      }
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // Socket activation: the socket is descriptor 3, for this process.
      if (sock != 3) {
        ::dup2(sock, 3);
        ::close(sock);
      }
      ::fcntl(3, F_SETFD, 0);
      ::setenv("LISTEN_FDS", "1", 1);
      ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
      ::execl(server.c_str(), server.c_str(), "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(sock);
  }

  ~LocalHttpServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  bool Started() const { return pid_ > 0 && port_ > 0; }
  int Port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }
  const std::filesystem::path& DocRoot() const { return dir_; }

  void AddFile(const std::string& name, const std::string& bytes) {
    std::ofstream f(dir_ / "www" / name, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Log(const std::string& name) const {
    std::ifstream f(dir_ / name);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  // A shell CGI script; its output is the answer (headers, blank line,
  // body).
  void AddCgi(const std::string& name, const std::string& script) {
    const std::filesystem::path p = dir_ / "www" / name;
    {
      std::ofstream f(p);
      f << "#!/bin/sh\n" << script;
    }
    ::chmod(p.c_str(), 0755);
  }

 private:
  static std::string FindLighttpd() {
    for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"})
      if (::access(p, X_OK) == 0) return p;
    return "";
  }
  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace testsupport
