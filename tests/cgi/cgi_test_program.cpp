// A small CGI program on THttpCGIEngine, run by the tests directly and
// behind lighttpd. What it does is chosen by PATH_INFO. One source, three
// programs, one for each way an engine ends its requests:
//
//   cgi_test_program     (default) its engine lives on the heap, owned by
//                        nobody; the request runs as OnExecRequest, and the
//                        unit's end (RunCGIRequest) answers and ends the
//                        process.
//   cgi_stack_program    (TOLMID_ENGINE_ON_STACK) its engine lives on main's
//                        stack; main runs the request and returns, and the
//                        engine answers as it is destroyed.
//   cgi_library_program  (TOLMID_LIBRARY_PROGRAM) library mode, as a web
//                        server module: one engine answers request after
//                        request with RunRequest on the main thread. The
//                        requests come by SCGI on the listening socket that
//                        is standard input (as lighttpd's mod_scgi hands it
//                        over): a netstring of NUL-separated variables, then
//                        the body; the connection is closed after the
//                        answer.
//
// Temporary and session files go to the folder "tmp" beside the program
// (SCRIPT_FILENAME), or to the one the field "tmp" names: "default" keeps
// the engine's own ("Temp", relative to the working folder), "proc" is a
// folder nobody can write to (/proc/self), any other name a folder beside
// the program.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "cgi/fd_stream.h"
#include "cgi/http_engine.h"
#include "cgi/watchdog.h"

namespace {

std::string Dir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int g_requests = 0;
// The library program's connection of the request being answered.
int g_connection = -1;

void Handle(cgi::THttpEngine& e) {
  ++g_requests;
  const std::string dir = Dir(e.GetServerVariable("SCRIPT_FILENAME"));
  // A library's engine serves many requests: every setting is made afresh.
  e.SetTempDir(dir + "/tmp");
  e.SetDebugMode(cgi::TDebugMode::NoDebug);
  e.SetNoCache(false);
  e.CGISession().SetEncryptionKey("session-key-for-tests");
  const std::string op = e.PathInfo();

  // The body the client never ends is read with the watchdog firing after
  // 300 ms instead of 30 s.
  if (op == "/stall") cgi::TWatchDogThread::SetTiming(300, 10);
  if (!e.PrepareRequest()) {
    e.Write("refused: " + e.RequestError());
    return;
  }
  const std::string tmp = e.GetField("tmp");
  if (tmp == "default") {
    e.SetTempDir("Temp");
  } else if (tmp == "proc") {
    e.SetTempDir("/proc/self");
  } else if (!tmp.empty() && tmp.find_first_not_of("abcdefghijklmnopqrstuvwxyz_.") == std::string::npos) {
    e.SetTempDir(dir + "/" + tmp);
  }

  if (op == "/vars") {
    e.WriteLn("method=" + e.RequestMethod());
    e.WriteLn("query=" + e.QueryString());
    e.WriteLn("script=" + e.ScriptName());
    e.WriteLn("path_info=" + e.PathInfo());
    e.WriteLn("content_type=" + e.ContentType());
    e.WriteLn("content_length=" + std::to_string(e.ContentLength()));
    e.WriteLn("user_agent=" + e.UserAgent());
    e.WriteLn("remote_addr=" + e.RemoteAddr());
    e.WriteLn("server_port=" + e.ServerPort());
    e.WriteLn("protocol=" + e.ServerProtocol());
    e.WriteLn("software=" + e.ServerSoftware());
    e.WriteLn("has_authorization=" +
              std::string(e.GetServerVariable("HTTP_AUTHORIZATION").empty() ? "no" : "yes"));
    e.WriteLn("auth_user=" + e.AuthUser());
    e.WriteLn("auth_password=" + e.AuthPassword());
    e.WriteLn("cookie_a=" + e.GetCookie("a"));
    e.WriteLn("cookie_b=" + e.GetCookie("b"));
    auto names = e.GetFieldNames();
    for (int i = 0; i < names->Count(); ++i) e.WriteLn("field " + names->Get(i) + "=" + e.GetField(names->Get(i)));
    for (const auto& up : e.Uploads()) {
      std::ifstream in(up.temp_path, std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      e.WriteLn("upload " + up.field_name + " name=" + up.file_name + " type=" + up.content_type +
                " size=" + std::to_string(up.size) + " content=" + content.str());
    }
  } else if (op == "/sizes") {
    // Sizes only, read through views: a large value is not copied.
    const cgi::TFormFields& fields = e.FormFields();
    e.WriteLn("fields=" + std::to_string(fields.Count()));
    for (std::size_t i = 0; i < fields.Count() && i < 3; ++i) {
      const std::string_view v = fields.Value(i);
      e.WriteLn("field " + std::string(fields.Name(i)) + " size=" + std::to_string(v.size()) +
                (v.empty() ? "" : " first=" + std::string(1, v.front()) + " last=" + std::string(1, v.back())));
    }
  } else if (op == "/redirect") {
    e.SetHeader("HTTP/1.1 302 Found", "");
    e.SetHeader("Location", "http://127.0.0.1/elsewhere");
  } else if (op == "/headers") {
    e.SetHeader("HTTP/1.0 201 Created", "");
    e.SetHeader("X-Test", "value 1");
    e.Write("created");
  } else if (op == "/download") {
    e.SetFileHeaders("text/plain", "C:\\reports\\list \"1\".txt");
    e.Write("line 1\r\nline 2\r\n");
  } else if (op == "/nocache") {
    e.SetNoCache(true);
    e.Write("fresh");
  } else if (op == "/session-set") {
    e.SetSessionVariable(e.GetField("name"), e.GetField("value"));
    e.WriteLn("id=" + e.SessionID());
    e.WriteLn("file=" + e.SessionFileName());
  } else if (op == "/session-get") {
    e.WriteLn("value=" + e.GetSessionVariable(e.GetField("name")));
    e.WriteLn("id=" + e.SessionID());
  } else if (op == "/session-bad") {
    // Names the engine refuses by throwing; the handler lets it through.
    const std::string kind = e.GetField("kind");
    std::string name = "x";
    if (kind == "empty") name = "";
    if (kind == "nul") name = std::string("a\0b", 3);
    if (kind == "eq") name = "a=b";
    if (kind == "long") name = std::string(300, 'n');
    e.Write("not an answer");
    e.SetSessionVariable(name, "1");
    e.Write("accepted");
  } else if (op == "/throw") {
    if (e.GetField("debug") == "1") e.SetDebugMode(cgi::TDebugMode::DebugException);
    e.SetHeader("X-Partial", "1");
    e.Write("half a page");
    throw std::runtime_error("handler failed on purpose");
  } else if (op == "/after-client-leaves" && g_connection >= 0) {
    // Tells the client (straight through the connection, past the engine)
    // that the request is here, waits until the server closes the
    // connection because the client went away, then answers: the engine's
    // writes meet a closed connection.
    const std::string early = "Status: 200 OK\r\nContent-Type: text/plain\r\n\r\nwaiting\r\n";
    if (::write(g_connection, early.data(), early.size()) != static_cast<ssize_t>(early.size())) return;
    pollfd p{g_connection, POLLRDHUP, 0};
    if (::poll(&p, 1, 20000) != 1) return;
    e.Write(std::string(1 << 20, 'x'));
  } else if (op == "/count") {
    e.Write("request " + std::to_string(g_requests) + " pid " + std::to_string(::getpid()) + " thread " +
            std::to_string(::gettid()));
  }
}

#ifdef TOLMID_LIBRARY_PROGRAM
bool ReadFully(int fd, char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::read(fd, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

// The SCGI header block: "<length>:" name NUL value NUL ... ",".
bool ReadScgiVariables(int fd, fw::TStringList& vars) {
  std::size_t length = 0;
  for (int digits = 0;; ++digits) {
    char c;
    if (digits > 7 || !ReadFully(fd, &c, 1)) return false;
    if (c == ':' && digits > 0) break;
    if (c < '0' || c > '9') return false;
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  std::string block(length + 1, '\0');
  if (!ReadFully(fd, block.data(), block.size()) || block.back() != ',') return false;
  block.pop_back();
  std::size_t pos = 0;
  while (pos < block.size()) {
    const std::size_t name_end = block.find('\0', pos);
    if (name_end == std::string::npos) return false;
    const std::size_t value_end = block.find('\0', name_end + 1);
    if (value_end == std::string::npos) return false;
    vars.Add(block.substr(pos, name_end - pos) + "=" + block.substr(name_end + 1, value_end - name_end - 1));
    pos = value_end + 1;
  }
  return true;
}
#endif

}  // namespace

int main() {
#if defined(TOLMID_LIBRARY_PROGRAM)
  cgi::SetLibraryProgram(true);
  cgi::THttpCGIEngine engine(nullptr);
  engine.OnExecRequest = [](cgi::THttpEngine* e) { Handle(*e); };
  for (;;) {
    const int c = ::accept4(STDIN_FILENO, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    fw::TStringList vars;
    if (ReadScgiVariables(c, vars)) {
      engine.SetServerVariables(vars);
      engine.SetRequestStreams(std::make_unique<cgi::TFdStream>(c), std::make_unique<cgi::TFdStream>(c));
      g_connection = c;
      engine.RunRequest();
      g_connection = -1;
    }
    ::close(c);
  }
#elif defined(TOLMID_ENGINE_ON_STACK)
  cgi::SetConsoleProgram(true);
  cgi::THttpCGIEngine engine(nullptr);
  Handle(engine);
  return 0;
#else
  cgi::SetConsoleProgram(true);
  auto* engine = new cgi::THttpCGIEngine(nullptr);  // owned by nobody: the unit's end answers
  engine->OnExecRequest = [](cgi::THttpEngine* e) { Handle(*e); };
  return 0;
#endif
}
