// lighttpd on 127.0.0.1 and a free port, configured in a temporary folder,
// for the CGI engine's tests: the programs in www/ whose names end in ".cgi"
// run through mod_cgi, and a library-mode program answers under /lib.scgi
// through mod_scgi (lighttpd starts it once and sends it every request).
// Requests are made with libcurl.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace cgi_test {

namespace fs = std::filesystem;

inline std::string FindLighttpd() {
  for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return "";
}

inline int ConnectLoopback(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

struct HttpResponse {
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

class LighttpdServer {
 public:
  ~LighttpdServer() { Stop(); }

  // Serves dir/www, which holds the CGI programs; returns false (see
  // ErrorLog) when the server did not come up.
  bool Start(const fs::path& dir, const std::string& scgi_program) {
    const std::string server = FindLighttpd();
    if (server.empty()) return false;
    dir_ = dir;
    port_ = FreePort();
    const fs::path conf = dir / "lighttpd.conf";
    {
      std::ofstream c(conf);
      c << "server.document-root = \"" << (dir / "www").string() << "\"\n"
        << "server.bind = \"127.0.0.1\"\n"
        << "server.port = " << port_ << "\n"
        << "server.modules = ( \"mod_cgi\", \"mod_scgi\" )\n"
        << "server.errorlog = \"" << (dir / "error.log").string() << "\"\n"
        // The programs' standard error (the engine logs its 500s there).
        << "server.breakagelog = \"" << (dir / "programs.log").string() << "\"\n"
        // Start a program before the whole body is in, so that a client
        // that stalls reaches it.
        << "server.stream-request-body = 2\n"
        << "cgi.assign = ( \".cgi\" => \"\" )\n";
      if (!scgi_program.empty()) {
        c << "scgi.server = ( \"/lib.scgi\" => (( \"socket\" => \"" << (dir / "lib.sock").string()
          << "\", \"bin-path\" => \"" << scgi_program
          << "\", \"check-local\" => \"disable\", \"max-procs\" => 1 )) )\n";
      }
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(server.c_str(), server.c_str(), "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 400; ++i) {  // up to 20 s for the server to listen
      const int s = ConnectLoopback(port_);
      if (s >= 0) {
        ::close(s);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  std::string ErrorLog() const {
    std::ifstream log(dir_ / "error.log");
    return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  }

  int Port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  HttpResponse Fetch(const std::string& path, const std::function<void(CURL*)>& setup = {}) const {
    HttpResponse r;
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
    if (rc != CURLE_OK) r.status = -static_cast<long>(rc);
    else curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_cleanup(curl);
    return r;
  }

 private:
  static int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port = ntohs(a.sin_port);
    }
    ::close(s);
    return port;
  }

  static std::size_t CollectBody(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<HttpResponse*>(user)->body.append(data, size * n);
    return size * n;
  }

  static std::size_t CollectHeader(char* data, std::size_t size, std::size_t n, void* user) {
    std::string line(data, size * n);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      static_cast<HttpResponse*>(user)->headers.emplace_back(line.substr(0, colon), value);
    }
    return size * n;
  }

  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace cgi_test
