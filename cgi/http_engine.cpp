#include "cgi/http_engine.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <random>

#include "cgi/blowfish.h"
#include "cgi/fd_stream.h"
#include "cgi/request_parser.h"
#include "cgi/session_store.h"
#include "cgi/upload_files.h"
#include "cgi/watchdog.h"

extern char** environ;

namespace cgi {

namespace {

// Per-thread request state. Every member belongs to the request running on
// the thread; the engine objects only hold configuration.
struct TRequestState {
  THttpEngine* engine = nullptr;
  std::unique_ptr<fw::TStream> input;
  std::unique_ptr<fw::TStream> output;
  std::unique_ptr<fw::TMemoryStream> client_copy;
  std::unique_ptr<fw::TMemoryStream> user_log;
  std::unique_ptr<fw::TStringList> server_vars;
  TFormFields fields;
  TNameValueList cookies;
  std::vector<std::string> temp_files;
  std::vector<TUploadedFile> uploads;
  // Held from before the first upload file is made until temp_files are
  // removed (RemoveTempFiles).
  std::optional<TUploadFilesInUse> uploads_in_use;
  fw::TMemoryStream body;
  std::vector<std::string> nested;  // nested output buffers, innermost last
  std::vector<std::pair<std::string, std::string>> headers;  // pending
  bool headers_sent = false;
  bool output_sent = false;
  bool prepared = false;
  bool executed = false;  // OnExecRequest has run for this request
  // The request was answered and its state freed; setting up the next
  // request (SetRequestStreams, SetServerVariables) clears it.
  bool ended = false;
  int debug_level = 0;
  int random_number = 0;
  std::string request_error;
  std::string session_id;
  std::string session_file;
  bool session_started = false;
};

// The main thread's state lives as long as the process (the unit's end may
// still need it after thread-local objects are gone); other threads free
// theirs when they end.
thread_local TRequestState* t_state = nullptr;
struct TStateReaper {
  ~TStateReaper() {
    if (t_state != nullptr && !is_main) {
      delete t_state;
      t_state = nullptr;
    }
  }
  bool is_main = false;
};
thread_local TStateReaper t_reaper;
TRequestState* g_main_state = nullptr;

TRequestState& State() {
  if (t_state == nullptr) {
    t_state = new TRequestState;
    static std::once_flag once;
    bool main = false;
    std::call_once(once, [&] { main = true; });
    if (main) {
      g_main_state = t_state;
      t_reaper.is_main = true;
    } else {
      t_reaper.is_main = false;  // the first use makes this thread's reaper
    }
  }
  return *t_state;
}

// Engine globals.
std::mutex g_globals_mutex;
TWatchDogThread* g_watchdog = nullptr;  // GUARDED_BY(g_globals_mutex)
int g_init_count = 0;
bool g_console = false;
bool g_library = false;
std::mt19937 g_random;

std::string Upper(std::string s) {
  for (auto& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// The whole text of a 500 answer: short, and telling nothing about the
// program (the reason goes to the error log and the debug appendix).
constexpr char kServerErrorText[] = "500 Internal Server Error\r\n";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Strict decimal content length; false for anything else (signs, blanks,
// hexadecimal, overflow).
bool ParseContentLength(const std::string& text, std::int64_t& value) {
  value = 0;
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string HexId(std::size_t bytes) {
  std::string raw(bytes, '\0');
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::getrandom(raw.data() + done, bytes - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EHttpEngineError("No random numbers for a session");
    }
    done += static_cast<std::size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  SecureWipe(raw);
  return out;
}

std::string HexOf(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

bool IsSessionId(const std::string& id) {
  if (id.size() != 32) return false;
  for (char c : id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsSafeName(const std::string& s, std::size_t max) {
  if (s.empty() || s.size() > max) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-')) {
      return false;
    }
  }
  return true;
}

void AppendText(fw::TMemoryStream& stream, const std::string& text) {
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void RemoveTempFiles(TRequestState& st) {
  for (const auto& f : st.temp_files) ::unlink(f.c_str());
  st.temp_files.clear();
  st.uploads_in_use.reset();
}

}  // namespace

void SetConsoleProgram(bool console) { g_console = console; }
bool IsConsoleProgram() { return g_console; }
void SetLibraryProgram(bool library) { g_library = library; }
bool IsLibraryProgram() { return g_library; }

THttpEngine* CurrentEngine() { return State().engine; }

bool WatchdogRunning() {
  std::lock_guard<std::mutex> lock(g_globals_mutex);
  return g_watchdog != nullptr;
}

fw::TThreadPriority WatchdogPriority() {
  std::lock_guard<std::mutex> lock(g_globals_mutex);
  return g_watchdog != nullptr ? g_watchdog->Priority() : fw::TThreadPriority::tpNormal;
}

// ---------------------------------------------------------------------------
// Session properties.

void TSessionProperties::SetFileBased(bool v) {
  file_based_ = v;
  if (!v && visibility_ == TSessionVisibility::AllApplications) visibility_ = TSessionVisibility::ThisApplication;
}

void TSessionProperties::SetVisibility(TSessionVisibility v) {
  visibility_ = v;
  if (v == TSessionVisibility::AllApplications && !file_based_) file_based_ = true;
}

// ---------------------------------------------------------------------------
// Construction and properties.

THttpEngine::THttpEngine(fw::TComponent* owner) : fw::TComponent(owner) {
  State().engine = this;
  if (!Designing() && !g_library) {
    std::lock_guard<std::mutex> lock(g_globals_mutex);
    if (g_watchdog == nullptr) {
      TWatchDogThread::SetDeadline(0);
      // Not free-on-terminate: the unit's end joins and frees it, so that it
      // never runs on while the process tears down its static objects.
      g_watchdog = new TWatchDogThread();
      g_watchdog->SetPriority(fw::TThreadPriority::tpHighest);
      g_watchdog->Resume();
    }
  }
}

THttpEngine::~THttpEngine() {
  TRequestState& st = State();
  if (st.engine == this) st.engine = nullptr;
}

template <typename F>
void THttpEngine::Mirror(F apply) {
  apply(*this);
  THttpEngine* current = State().engine;
  if (current != nullptr && current != this) apply(*current);
}

void THttpEngine::SetAllowedMethods(const TAllowedMethods& v) {
  Mirror([&](THttpEngine& e) { e.allowed_methods_ = v; });
}
void THttpEngine::SetAutoContentType(const std::string& v) {
  Mirror([&](THttpEngine& e) { e.auto_content_type_ = v; });
}
void THttpEngine::SetAutoReadInput(bool v) {
  Mirror([&](THttpEngine& e) { e.auto_read_input_ = v; });
}
void THttpEngine::SetAutoReadLimit(std::int64_t v) {
  Mirror([&](THttpEngine& e) { e.auto_read_limit_ = v; });
}
void THttpEngine::SetAutoHttpHeader(bool v) {
  Mirror([&](THttpEngine& e) { e.auto_http_header_ = v; });
}
void THttpEngine::SetCGIMode(TCGIMode v) {
  Mirror([&](THttpEngine& e) { e.cgi_mode_ = v; });
}
void THttpEngine::SetDebugMode(TDebugMode v) {
  Mirror([&](THttpEngine& e) { e.debug_mode_ = v; });
}
void THttpEngine::SetNoCache(bool v) {
  Mirror([&](THttpEngine& e) { e.no_cache_ = v; });
}
void THttpEngine::SetTempDir(const std::string& v) {
  Mirror([&](THttpEngine& e) { e.temp_dir_ = v; });
}
void THttpEngine::SetCGISession(const TSessionProperties& v) {
  Mirror([&](THttpEngine& e) { e.cgi_session_ = v; });
}
void THttpEngine::SetSessionName(const std::string& v) {
  Mirror([&](THttpEngine& e) { e.cgi_session_.SetSessionName(v); });
}

THttpCGIEngine::THttpCGIEngine(fw::TComponent* owner) : THttpEngine(owner) {
  TRequestState& st = State();
  if (!st.input) st.input = std::make_unique<TFdStream>(STDIN_FILENO);
  if (!st.output) st.output = std::make_unique<TFdStream>(STDOUT_FILENO);
}

// Here rather than in ~THttpEngine: by then this class's header writers are
// gone.
THttpCGIEngine::~THttpCGIEngine() {
  if (State().engine == this) FinishRequest(false);
}

void THttpCGIEngine::SetCGIAutoTerminate(bool v) {
  cgi_auto_terminate_ = v;
  auto* current = dynamic_cast<THttpCGIEngine*>(State().engine);
  if (current != nullptr && current != this) current->cgi_auto_terminate_ = v;
}

// ---------------------------------------------------------------------------
// Server variables.

void THttpEngine::UnknownVariable(const std::string&, std::string& value) { value.clear(); }

void THttpEngine::SetServerVariables(const fw::TStringList& variables) {
  TRequestState& st = State();
  st.server_vars = std::make_unique<fw::TStringList>(variables);
  st.ended = false;
}

std::string THttpEngine::GetServerVariable(const std::string& raw_name) {
  TRequestState& st = State();
  if (!st.server_vars) {
    st.server_vars = std::make_unique<fw::TStringList>();
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) st.server_vars->Add(*e);
  }
  std::string name = Upper(raw_name);
  for (auto& c : name) {
    if (c == '-' || c == ' ') c = '_';
  }
  const fw::TStringList& vars = *st.server_vars;
  auto lookup = [&](const char* n) { return vars.Values(n); };
  std::string value = lookup(name.c_str());
  if (!value.empty()) return value;

  // Plain arrays: no destructor, so the table still works when the unit's
  // end runs after static objects have been destroyed.
  struct Group {
    const char* names[6];
    const char* order[6];
  };
  static constexpr Group kGroups[] = {
      {{"EXECUTABLE_PATH", "SCRIPT_NAME", "URL", "URI", "HTTP_URL"},
       {"SCRIPT_NAME", "EXECUTABLE_PATH", "URL", "HTTP_URL", "URI"}},
      {{"QUERY_STRING", "QUERY"}, {"QUERY_STRING", "QUERY"}},
      {{"SERVER_SOFTWARE", "SERVER_NAME"}, {"SERVER_SOFTWARE", "SERVER_NAME"}},
      {{"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}, {"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}},
      {{"REQUEST_METHOD", "METHOD"}, {"REQUEST_METHOD", "METHOD"}},
      {{"REMOTE_HOST", "HOST", "DNS"}, {"REMOTE_HOST", "HOST", "DNS"}},
      {{"AUTH_TYPE", "AUTHETICATION_METHOD"}, {"AUTH_TYPE", "AUTHETICATION_METHOD"}},
      {{"HTTP_USER_AGENT", "USER_AGENT"}, {"USER_AGENT", "HTTP_USER_AGENT"}},
      {{"HTTP_REFERER", "REFERER"}, {"REFERER", "HTTP_REFERER"}},
      {{"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"}, {"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"}},
      {{"HTTP_COOKIE", "COOKIE"}, {"HTTP_COOKIE", "COOKIE"}},
      {{"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}, {"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}},
      {{"AUTH_USER", "AUTHENTICATED_USERNAME"}, {"AUTH_USER", "AUTHENTICATED_USERNAME"}},
      {{"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}, {"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}},
  };
  for (std::size_t g = 0; g < std::size(kGroups); ++g) {
    const Group& group = kGroups[g];
    bool member = false;
    for (const char* n : group.names) member = member || (n != nullptr && name == n);
    if (!member) continue;
    for (const char* n : group.order) {
      if (n == nullptr) break;
      value = lookup(n);
      if (!value.empty()) return value;
    }
    if (StartsWith(name, "AUTH_USER") || StartsWith(name, "AUTHENTICATED_USERNAME") ||
        StartsWith(name, "AUTH_PASSWORD") || StartsWith(name, "AUTHENTICATED_PASSWORD")) {
      std::string user;
      std::string password;
      if (DecodeBasicAuthorization(lookup("HTTP_AUTHORIZATION"), user, password)) {
        value = (name == "AUTH_USER" || name == "AUTHENTICATED_USERNAME") ? user : password;
      }
      SecureWipe(password);
      return value;
    }
    return "";
  }
  UnknownVariable(name, value);
  return value;
}

std::string THttpEngine::ServerSoftware() { return GetServerVariable("SERVER SOFTWARE"); }
std::string THttpEngine::GatewayInterface() { return GetServerVariable("GATEWAY INTERFACE"); }
std::string THttpEngine::ServerProtocol() { return GetServerVariable("SERVER_PROTOCOL"); }
std::string THttpEngine::ServerPort() { return GetServerVariable("SERVER_PORT"); }
bool THttpEngine::ServerPortSecure() { return GetServerVariable("SERVER_PORT_SECURE") == "1"; }
std::string THttpEngine::RequestMethod() { return GetServerVariable("REQUEST_METHOD"); }
std::string THttpEngine::PathInfo() { return GetServerVariable("PATH_INFO"); }
std::string THttpEngine::PathTranslated() { return GetServerVariable("PATH_TRANSLATED"); }
std::string THttpEngine::ScriptName() { return GetServerVariable("SCRIPT_NAME"); }
std::string THttpEngine::QueryString() { return GetServerVariable("QUERY_STRING"); }
std::string THttpEngine::RemoteHost() { return GetServerVariable("REMOTE_HOST"); }
std::string THttpEngine::RemoteAddr() { return GetServerVariable("REMOTE_ADDR"); }
std::string THttpEngine::AuthType() { return GetServerVariable("AUTH_TYPE"); }
std::string THttpEngine::RemoteUser() { return GetServerVariable("REMOTE_USER"); }
std::string THttpEngine::RemoteIdent() { return GetServerVariable("REMOTE_IDENT"); }
std::string THttpEngine::ContentType() { return GetServerVariable("CONTENT_TYPE"); }
std::int64_t THttpEngine::ContentLength() {
  std::int64_t v = 0;
  return ParseContentLength(GetServerVariable("CONTENT_LENGTH"), v) ? v : 0;
}
std::string THttpEngine::Url() { return GetServerVariable("URL"); }
std::string THttpEngine::UserAgent() { return GetServerVariable("USER_AGENT"); }
std::string THttpEngine::HttpCookie() { return GetServerVariable("HTTP_COOKIE"); }
std::string THttpEngine::HttpReferer() { return GetServerVariable("HTTP_REFERER"); }
std::string THttpEngine::ExecutablePath() { return GetServerVariable("EXECUTABLE_PATH"); }

// ---------------------------------------------------------------------------
// Request preparation.

void THttpEngine::SetRequestStreams(std::unique_ptr<fw::TStream> input, std::unique_ptr<fw::TStream> output) {
  TRequestState& st = State();
  st.input = std::move(input);
  st.output = std::move(output);
  st.ended = false;
}

void THttpEngine::RefuseRequest(int status, const std::string& reason, const std::string& error) {
  TRequestState& st = State();
  st.request_error = error;
  // Replace any status line queued so far.
  for (auto it = st.headers.begin(); it != st.headers.end();) {
    it = IsStatusLine(it->first) ? st.headers.erase(it) : it + 1;
  }
  st.headers.insert(st.headers.begin(), {"HTTP/1.0 " + std::to_string(status) + " " + reason, ""});
  if (debug_mode_ == TDebugMode::DebugException && st.debug_level == 0) st.debug_level = 1;
}

void THttpEngine::ServerError(const std::string& reason) {
  TRequestState& st = State();
  std::fprintf(stderr, "THttpEngine: %s\n", reason.c_str());
  if (st.headers_sent || st.output_sent) return;  // too late to change the answer
  std::erase_if(st.headers, [](const auto& h) { return Upper(h.first) != "SET-COOKIE"; });
  st.headers.insert(st.headers.begin(), {"HTTP/1.0 500 Internal Server Error", ""});
  st.headers.emplace_back("content-type", "text/plain");
  st.nested.clear();
  st.body.Clear();
  AppendText(st.body, kServerErrorText);
  if (debug_mode_ > TDebugMode::NoDebug) {
    if (!st.client_copy) st.client_copy = std::make_unique<fw::TMemoryStream>();
    st.debug_level = std::max(st.debug_level, 1);
    UserLog(reason);
  }
}

void THttpEngine::SaveSessionBeforeAnswer() {
  TThreadSession& ts = ThreadSession();
  if (!ts.file_based || ts.saved || ts.key.empty()) return;
  try {
    SaveSessionVariables(cgi_session_.EncryptionKey());
  } catch (const std::exception& e) {
    ts.saved = true;  // reported once, here; the end of the request does not try again
    ServerError(std::string("Session not saved: ") + e.what());
  }
}

bool THttpEngine::PrepareRequest() {
  TRequestState& st = State();
  if (st.prepared) return st.request_error.empty();
  st.prepared = true;
  if (debug_mode_ == TDebugMode::DebugAlways) st.debug_level = 1;
  if (debug_mode_ > TDebugMode::NoDebug) {
    if (!st.client_copy) st.client_copy = std::make_unique<fw::TMemoryStream>();
    if (!st.user_log) st.user_log = std::make_unique<fw::TMemoryStream>();
  }

  const std::string method = Upper(RequestMethod());
  bool allowed;
  if (method.empty() || method == "GET" || method == "HEAD") {
    allowed = allowed_methods_.Get;
  } else if (method == "POST") {
    allowed = allowed_methods_.Post;
  } else if (method == "PUT") {
    allowed = allowed_methods_.Put;
  } else {
    allowed = false;
  }
  if (!allowed) {
    RefuseRequest(405, "Method Not Allowed", "Method not allowed: " + method.substr(0, 32));
    return false;
  }

  {
    TUrlEncodedParser query(st.fields);
    query.Feed(QueryString());
    query.Finish();
  }
  st.cookies.clear();
  ParseCookies(HttpCookie(), st.cookies);

  bool ok = true;
  const std::string length_text = GetServerVariable("CONTENT_LENGTH");
  if (auto_read_input_ && (method == "POST" || method == "PUT") && !length_text.empty()) {
    std::int64_t length = 0;
    if (!ParseContentLength(length_text, length)) {
      RefuseRequest(400, "Bad Request", "Bad content length");
      ok = false;
    } else if (auto_read_limit_ > 0 && length > auto_read_limit_) {
      RefuseRequest(413, "Request Entity Too Large", "Request body too large");
      ok = false;
    } else if (length > 0) {
      ok = ReadFormBody(ContentType(), length);
    }
  }
  if (OnPrepareRequest) OnPrepareRequest(this);
  return ok;
}

// The body is parsed while it is read, straight into the field list: a
// URL-encoded body costs its decoded fields (TFormFields) and one read
// buffer, never a copy of the raw text; multipart file parts go to
// temporary files. Past kMaxFormFields the request is refused (413) and the
// rest of the body is not read.
bool THttpEngine::ReadFormBody(const std::string& content_type, std::int64_t length) {
  TRequestState& st = State();
  THeaderParams type;
  if (!ParseHeaderParams(content_type, type)) {
    RefuseRequest(400, "Bad Request", "Bad content type");
    return false;
  }
  const bool urlencoded = type.value == "application/x-www-form-urlencoded";
  const bool multipart = type.value == "multipart/form-data";
  if (!urlencoded && !multipart) return true;  // the program reads it with ReadClient

  std::unique_ptr<TUrlEncodedParser> form;
  std::unique_ptr<TMultipartParser> parser;
  // State of the current multipart part; it lives as long as the parser.
  std::string part_name;
  bool part_is_file = false;
  bool field_open = false;  // a plain part is being added to st.fields
  int part_fd = -1;
  TUploadedFile part_upload;
  bool store_failed = false;
  if (urlencoded) form = std::make_unique<TUrlEncodedParser>(st.fields, kMaxFormFields);
  if (multipart) {
    const std::string* boundary = type.Find("boundary");
    if (boundary == nullptr || !IsValidBoundary(*boundary)) {
      RefuseRequest(400, "Bad Request", "Bad multipart boundary");
      return false;
    }
    parser = std::make_unique<TMultipartParser>(*boundary);
    parser->on_part_begin = [&](const TMultipartParser::TPartInfo& info) {
      part_name = info.name;
      part_is_file = info.has_file_name;
      if (!part_is_file) {
        st.fields.BeginField();
        st.fields.Append(info.name);
        st.fields.EndName();
        field_open = true;
        return true;
      }
      part_upload = TUploadedFile{info.name, info.file_name, info.content_type, "", 0};
      if (!st.uploads_in_use) st.uploads_in_use.emplace();
      std::string templ = PrepareUploadFolder(temp_dir_);
      part_fd = ::mkostemp(templ.data(), O_CLOEXEC);
      if (part_fd < 0) {
        store_failed = true;
        return false;
      }
      part_upload.temp_path = templ;
      st.temp_files.push_back(templ);
      return true;
    };
    parser->on_part_data = [&](std::string_view data) {
      if (!part_is_file) {
        st.fields.Append(data);
        return true;
      }
      std::size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = ::write(part_fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          store_failed = true;
          return false;
        }
        done += static_cast<std::size_t>(n);
      }
      part_upload.size += static_cast<std::int64_t>(data.size());
      return true;
    };
    parser->on_part_end = [&]() {
      if (part_is_file) {
        ::close(part_fd);
        part_fd = -1;
        st.fields.Add(part_name, part_upload.file_name);
        st.uploads.push_back(part_upload);
      } else {
        st.fields.CommitField();
        field_open = false;
      }
      return true;
    };
  }

  std::vector<char> buffer(64 * 1024);
  std::int64_t left = length;
  TMultipartStatus status = TMultipartStatus::kOk;
  bool too_many = false;
  bool truncated = false;
  while (left > 0 && status == TMultipartStatus::kOk && !too_many) {
    const int want = static_cast<int>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
    const int got = ReadClient(buffer.data(), want);
    if (got > 0) {
      left -= got;
      if (multipart) {
        status = parser->Feed(buffer.data(), static_cast<std::size_t>(got));
      } else {
        too_many = !form->Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
      }
    }
    if (got < want) {
      truncated = true;
      break;
    }
  }
  if (part_fd >= 0) ::close(part_fd);
  if (field_open) st.fields.DropField();
  if (form && !too_many && !truncated) too_many = !form->Finish();
  form.reset();  // drops a pair cut off by the end of input
  if (too_many || status == TMultipartStatus::kTooManyParts) {
    RefuseRequest(413, "Request Entity Too Large", "Too many form fields");
    return false;
  }
  if (truncated) {
    RefuseRequest(400, "Bad Request", "Client input ended early");
    return false;
  }
  if (store_failed) {
    RefuseRequest(500, "Internal Server Error", "Cannot store an uploaded file");
    return false;
  }
  if (multipart) {
    if (status == TMultipartStatus::kOk) status = parser->Finish();
    if (status != TMultipartStatus::kOk) {
      RefuseRequest(400, "Bad Request", MultipartStatusText(status));
      return false;
    }
  }
  return true;
}

const std::string& THttpEngine::RequestError() {
  PrepareRequest();
  return State().request_error;
}

const std::vector<TUploadedFile>& THttpEngine::Uploads() {
  PrepareRequest();
  return State().uploads;
}

std::string THttpEngine::GetCookie(const std::string& name) {
  PrepareRequest();
  for (const auto& [n, v] : State().cookies) {
    if (n == name) return v;
  }
  return "";
}

std::string THttpEngine::GetField(const std::string& name, const std::string& default_value) {
  PrepareRequest();
  const TFormFields& fields = State().fields;
  // Names match without regard to ASCII case, as the field list's name
  // look-up always has; the first field of the name wins.
  const std::optional<std::size_t> i = fields.Find(name);
  if (!i) return default_value;
  std::string_view value = fields.Value(*i);
  if (cgi_session_.TrimFields()) value = Trimmed(value);
  return value.empty() ? default_value : std::string(value);
}

std::unique_ptr<fw::TStringList> THttpEngine::GetFieldNames() {
  PrepareRequest();
  auto names = std::make_unique<fw::TStringList>();
  const TFormFields& fields = State().fields;
  for (std::size_t i = 0; i < fields.Count(); ++i) names->Add(std::string(fields.Name(i)));
  return names;
}

const TFormFields& THttpEngine::FormFields() {
  PrepareRequest();
  return State().fields;
}

// ---------------------------------------------------------------------------
// Client input.

int THttpEngine::ReadClient(void* buffer, int count) {
  TRequestState& st = State();
  if (!st.input) return -1;
  if (count <= 0) return 0;
  TWatchDogThread::ArmDeadline();
  auto* out = static_cast<char*>(buffer);
  int done = 0;
  bool failed = false;
  while (done < count) {
    const int piece = std::min(count - done, kReadPieceSize);
    const std::int64_t n = st.input->Read(out + done, piece);
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) break;  // end of input: no more will come
    done += static_cast<int>(n);
    TWatchDogThread::ArmDeadline();
  }
  TWatchDogThread::SetDeadline(0);
  if (debug_mode_ > TDebugMode::NoDebug && done > 0) {
    if (!st.client_copy) st.client_copy = std::make_unique<fw::TMemoryStream>();
    st.client_copy->WriteBuffer(out, done);
  }
  return (failed && done == 0) ? -1 : done;
}

// ---------------------------------------------------------------------------
// Output.

fw::TStream* THttpEngine::OutputStream() { return State().output.get(); }

void THttpEngine::SendHeader(const std::string& name, const std::string& value) {
  TRequestState& st = State();
  if (st.debug_level > 0) {
    if (!st.output) return;
    const std::string line = value.empty() ? name + "\r\n" : name + ": " + value + "\r\n";
    st.output->WriteBuffer(line.data(), static_cast<std::int64_t>(line.size()));
  } else {
    WriteHeaderLine(name, value);
  }
}

void THttpEngine::SetHeader(const std::string& name, const std::string& value) {
  if (!IsValidHeaderName(name) || !IsValidHeaderValue(value) || (IsStatusLine(name) && !value.empty())) {
    throw EHttpEngineError("Invalid header line");
  }
  State().headers.emplace_back(name, value);
}

void THttpEngine::SetFileHeaders(const std::string& content_type, const std::string& file_name) {
  std::string type(Trimmed(content_type));
  if (type.empty()) type = "application/binary";
  const std::string name = QuoteString(LastPathPart(file_name));
  SetHeader("Content-Type", type + "; name=" + name);
  SetHeader("Content-Transfer-Encoding", "8bit");
  SetHeader("Content-Disposition", "attachment; filename=" + name);
}

void THttpEngine::Write(const std::string& text) {
  TRequestState& st = State();
  if (!st.nested.empty()) {
    st.nested.back() += text;
  } else {
    AppendText(st.body, text);
  }
}

void THttpEngine::WriteLn(const std::string& text) { Write(text + "\r\n"); }

void THttpEngine::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0) State().body.WriteBuffer(buffer, count);
}

void THttpEngine::WriteStream(fw::TStream& stream) {
  char piece[kReadPieceSize];
  for (;;) {
    const std::int64_t n = stream.Read(piece, sizeof(piece));
    if (n <= 0) break;
    WriteBuffer(piece, n);
  }
}

void THttpEngine::ClearOutput() { State().body.Clear(); }

void THttpEngine::BeginOutputBuffer() { State().nested.emplace_back(); }

std::string THttpEngine::EndOutputBuffer() {
  TRequestState& st = State();
  if (st.nested.empty()) return "";
  std::string text = std::move(st.nested.back());
  st.nested.pop_back();
  return text;
}

void THttpEngine::UserLog(const std::string& text) {
  TRequestState& st = State();
  if (!st.user_log) st.user_log = std::make_unique<fw::TMemoryStream>();
  AppendText(*st.user_log, text + "\r\n");
}

int THttpEngine::DebugLevel() const { return State().debug_level; }
void THttpEngine::SetDebugLevel(int level) { State().debug_level = level; }
bool THttpEngine::HeadersSent() const { return State().headers_sent; }
bool THttpEngine::OutputSent() const { return State().output_sent; }

void THttpEngine::AppendDebugAppendix() {
  TRequestState& st = State();
  if (st.debug_level <= 0) return;
  auto stream_text = [](const std::unique_ptr<fw::TMemoryStream>& s) {
    if (!s || s->Size() == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(s->Memory()), static_cast<std::size_t>(s->Size()));
  };
  WriteLn("(*** END ***)");
  WriteLn("\r\n(************************)\r\n(***    User Log      ***)\r\n(************************)");
  WriteLn(stream_text(st.user_log));
  WriteLn("\r\n(************************)\r\n(***   Client input   ***)\r\n(************************)");
  WriteLn(stream_text(st.client_copy));
  WriteLn("\r\n(************************)\r\n(*** Server variables ***)\r\n(************************)");
  if (st.server_vars) {
    for (int i = 0; i < st.server_vars->Count(); ++i) {
      const std::string& line = st.server_vars->Get(i);
      const std::string name = Upper(line.substr(0, line.find('=')));
      // Credentials stay out of the page.
      if (name == "HTTP_AUTHORIZATION" || name == "AUTH_PASSWORD" || name == "AUTHENTICATED_PASSWORD") {
        WriteLn(line.substr(0, line.find('=')) + "=(hidden)");
      } else {
        WriteLn(line);
      }
    }
  }
  st.debug_level = 0;
}

void THttpEngine::SendResponse() {
  TRequestState& st = State();
  // Before the status line goes out, so that a session that cannot be saved
  // still turns the answer into a 500.
  if (!st.headers_sent && !st.output_sent) SaveSessionBeforeAnswer();
  auto pending = [&](const char* name) {
    for (const auto& [n, v] : st.headers) {
      if (Upper(n) == Upper(name)) return true;
    }
    return false;
  };
  if (auto_http_header_ && !st.headers_sent && !st.output_sent && !pending("location")) {
    // The automatic lines are queued behind any status line and ahead of
    // the program's own headers, so that a status line always comes first.
    std::stable_partition(st.headers.begin(), st.headers.end(),
                          [](const auto& h) { return StartsWith(Upper(h.first), "HTTP/1."); });
    auto first_header = std::find_if(st.headers.begin(), st.headers.end(),
                                     [](const auto& h) { return !StartsWith(Upper(h.first), "HTTP/1."); });
    const bool has_status = first_header != st.headers.begin();
    std::vector<std::pair<std::string, std::string>> automatic;
    if (!has_status) automatic.emplace_back("HTTP/1.0 200 OK", "");
    if (!pending("content-type")) {
      if (!IsValidHeaderValue(auto_content_type_)) throw EHttpEngineError("Invalid header line");
      automatic.emplace_back("content-type", auto_content_type_);
    }
    st.headers.insert(first_header, automatic.begin(), automatic.end());
    if (no_cache_) {
      const std::int64_t past = static_cast<std::int64_t>(std::time(nullptr)) - 1000LL * 86400;
      SetHeader("Pragma", "no-cache");
      SetHeader("Cache-Control", "no-cache");
      SetHeader("Expires", HttpDate(past));
    }
  }
  if (!st.headers_sent && (!st.headers.empty() || auto_http_header_)) {
    // A status line goes first, whatever order it was queued in.
    std::stable_partition(st.headers.begin(), st.headers.end(),
                          [](const auto& h) { return StartsWith(Upper(h.first), "HTTP/1."); });
    auto headers = std::move(st.headers);
    st.headers.clear();
    for (const auto& [n, v] : headers) SendHeader(n, v);
    st.headers_sent = true;
    EndHeaders();
  }
  AppendDebugAppendix();
  if (st.body.Size() > 0 && st.output) {
    st.output->WriteBuffer(st.body.Memory(), st.body.Size());
    st.output_sent = true;
  }
  st.body.Clear();
}

void THttpEngine::EndRequest() {
  TRequestState& st = State();
  // The session is saved and the uploads removed before the response goes
  // out: a client that sends its next request as soon as it has this
  // response must find the session already written, and a session that
  // cannot be saved still turns the answer into a 500. SessionEnd then only
  // forgets the session; it has nothing left to save.
  SaveSessionBeforeAnswer();
  SessionEnd(cgi_session_.EncryptionKey(), false);
  if (st.debug_level > 0) {
    WriteLn("");
    AppendDebugAppendix();  // before the length, so that the length counts it
  }
  bool has_length = false;
  for (const auto& [n, v] : st.headers) has_length = has_length || Upper(n) == "CONTENT-LENGTH";
  if (g_console && !g_library && st.output && auto_http_header_ && !st.output_sent && !st.headers_sent &&
      st.body.Size() > 0 && !has_length) {
    SetHeader("content-length", std::to_string(st.body.Size()));
    SetHeader("Connection", "Keep-Alive");
  }
  RemoveTempFiles(st);
  try {
    if (st.output) SendResponse();
  } catch (...) {
    FreeRequest();
    throw;
  }
  FreeRequest();
}

void THttpEngine::FinishRequest(bool run_handler) noexcept {
  TRequestState& st = State();
  if (st.ended) return;
  try {
    if (run_handler && OnExecRequest && !st.executed) {
      st.executed = true;
      try {
        OnExecRequest(this);
      } catch (const std::exception& e) {
        ServerError(std::string("Request failed: ") + e.what());
      } catch (...) {
        ServerError("Request failed: unknown exception");
      }
    }
    THttpEngine::EndRequest();
  } catch (const std::exception& e) {
    // The answer could not be sent (the client went away, the output
    // failed): nobody is left to tell but the error log.
    std::fprintf(stderr, "THttpEngine: answer not sent: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "THttpEngine: answer not sent\n");
  }
  if (!st.ended) FreeRequest();
}

void THttpEngine::FreeRequest() {
  TRequestState& st = State();
  st.ended = true;
  st.input.reset();
  st.output.reset();
  st.client_copy.reset();
  st.user_log.reset();
  ThreadSession() = TThreadSession();  // saved by EndRequest
  st.session_started = false;
  st.session_id.clear();
  st.session_file.clear();
  st.server_vars.reset();
  st.fields.Clear();
  st.cookies.clear();
  RemoveTempFiles(st);
  st.uploads.clear();
  st.headers.clear();
  st.body.Clear();
  st.nested.clear();
  st.prepared = false;
  st.executed = false;
  st.request_error.clear();
  st.headers_sent = false;
  st.output_sent = false;
  st.debug_level = 0;
}

void THttpEngine::RunRequest() { RunCGIRequest(); }

void THttpEngine::CreateLock(fw::TCriticalSection*& lock) { lock = new fw::TCriticalSection; }
void THttpEngine::Lock(fw::TCriticalSection* lock) {
  if (lock != nullptr) lock->Enter();
}
void THttpEngine::Unlock(fw::TCriticalSection* lock) {
  if (lock != nullptr) lock->Leave();
}
void THttpEngine::FreeLock(fw::TCriticalSection*& lock) {
  delete lock;
  lock = nullptr;
}

// ---------------------------------------------------------------------------
// The CGI flavour.

void THttpCGIEngine::WriteHeaderLine(const std::string& name, const std::string& value) {
  fw::TStream* out = OutputStream();
  if (out == nullptr) return;
  std::string line;
  const std::string software = Upper(ServerSoftware());
  if (StartsWith(Upper(name), "HTTP/1.") &&
      (software.find("NETSCAPE") != std::string::npos || software.find("APACHE") != std::string::npos ||
       software.find("STRONGHOLD") != std::string::npos)) {
    line = "Status:" + name.substr(std::min<std::size_t>(8, name.size())) + "\r\n";
  } else if (value.empty()) {
    line = name + "\r\n";
  } else {
    line = name + ": " + value + "\r\n";
  }
  out->WriteBuffer(line.data(), static_cast<std::int64_t>(line.size()));
}

void THttpCGIEngine::EndHeaders() {
  fw::TStream* out = OutputStream();
  if (out != nullptr) out->WriteBuffer("\r\n", 2);
}

void THttpCGIEngine::EndRequest() {
  THttpEngine::EndRequest();
  if (!g_console && cgi_auto_terminate_ && CGIMode() == TCGIMode::NormalMode) RunRequest();
}

// ---------------------------------------------------------------------------
// Sessions.

void THttpEngine::StartSession() {
  TRequestState& st = State();
  if (st.session_started) return;
  const std::string& name = cgi_session_.SessionName();
  if (!IsSafeName(name, 64)) throw EHttpEngineError("Invalid session name");
  const std::size_t key_length = cgi_session_.EncryptionKey().size();
  if (key_length < TBlowfish::kMinKeyLength || key_length > TBlowfish::kMaxKeyLength) {
    throw EBlowfishError(kBlowfishKeyLengthError);
  }
  std::string prefix = "hsess_";
  if (cgi_session_.Visibility() == TSessionVisibility::ThisApplication) {
    std::string app = LastPathPart(ScriptName());
    if (app.empty()) app = "app";
    for (auto& c : app) {
      if (!IsSafeName(std::string(1, c), 1)) c = '_';
    }
    prefix += app.substr(0, 64) + "_";
  }
  auto key_of = [&](const std::string& id) { return prefix + name + "_" + id; };
  auto file_of = [&](const std::string& id) {
    if (!cgi_session_.FileBased()) return std::string();
    std::string file = temp_dir_.empty() ? std::string("./") : temp_dir_;
    if (file.back() != '/') file.push_back('/');
    return file + key_of(id) + ".ses";
  };
  std::string id;
  bool opened = false;
  switch (cgi_session_.SessionType()) {
    case TSessionType::sPrivateCookie: {
      // The client's ID is taken only when a live session stands behind
      // it. Any other ID (never issued, expired, its file gone or damaged)
      // is replaced by a fresh random one, so that nobody can choose a
      // victim's session ID in advance.
      const std::string cookie_name = "HSESS_" + name;
      id = GetCookie(cookie_name);
      opened = IsSessionId(id) && OpenLiveSession(key_of(id), file_of(id), cgi_session_.EncryptionKey());
      if (!opened) {
        id = HexId(16);
        SetHeader("Set-Cookie", cookie_name + "=" + id + "; Path=/; HttpOnly");
      }
      break;
    }
    case TSessionType::sPrivateAuth: {
      const std::string user = AuthUser();
      if (user.empty() || user.size() > 64) throw EHttpEngineError("No authenticated user for the session");
      id = "u" + HexOf(user);
      break;
    }
    case TSessionType::sGlobal:
      id = "global";
      break;
  }
  const std::string file = file_of(id);
  if (!opened) {
    // A new session is stored once something is put in it: a request that
    // stores nothing leaves no file behind (clients without a cookie must
    // not fill the folder), and its ID is replaced on the next request.
    OpenSession(key_of(id), file, cgi_session_.EncryptionKey());
  }
  st.session_id = id;
  st.session_file = file;
  st.session_started = true;
}

std::string THttpEngine::GetSessionVariable(const std::string& name) {
  StartSession();
  return cgi::GetSessionVariable(name);
}

void THttpEngine::SetSessionVariable(const std::string& name, const std::string& value) {
  StartSession();
  if (!cgi::SetSessionVariable(name, value)) throw EHttpEngineError("Invalid session variable name");
}

void THttpEngine::ClearSession() {
  StartSession();
  ClearSessionVariables();
}

std::int64_t THttpEngine::SessionExpires() {
  StartSession();
  return cgi::SessionExpires();
}

void THttpEngine::SetSessionExpires(std::int64_t unix_seconds) {
  StartSession();
  cgi::SetSessionExpires(unix_seconds);
}

bool THttpEngine::SessionExpired() {
  StartSession();
  return cgi::SessionExpired();
}

const std::string& THttpEngine::SessionID() {
  StartSession();
  return State().session_id;
}

const std::string& THttpEngine::SessionFileName() {
  StartSession();
  return State().session_file;
}

// ---------------------------------------------------------------------------
// End of run and the unit's start and end.

void RunCGIRequest() {
  TRequestState& st = State();
  std::string key;
  if (THttpEngine* engine = st.engine; engine != nullptr) {
    key = engine->CGISession().EncryptionKey();
    // Runs OnExecRequest, sends the answer (a 500 when the handler let an
    // exception through), deletes the temporary files and saves the
    // session; THttpCGIEngine's own EndRequest is bypassed so that it does
    // not come back here. Never throws: this may run from the unit's end.
    engine->FinishRequest(true);
  }
  {
    std::lock_guard<std::mutex> lock(g_globals_mutex);
    if (g_watchdog != nullptr) {
      g_watchdog->Terminate();  // the process ends below; a library joins it at its end
      if (g_library) {
        g_watchdog->WaitFor();
        delete g_watchdog;
      }
      g_watchdog = nullptr;
    }
  }
  if (g_library) return;
  try {
    SessionEnd(key, true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "THttpEngine: session not saved: %s\n", e.what());
  }
  ::_exit(0);
}

void HttpEngInitialization() {
  std::lock_guard<std::mutex> lock(g_globals_mutex);
  if (g_init_count++ > 0) return;
  g_watchdog = nullptr;
  std::random_device rd;
  g_random.seed(rd());
  TRequestState& st = State();
  st.engine = nullptr;
  st.random_number = static_cast<int>(g_random() % 10000);
}

void HttpEngFinalization() {
  TWatchDogThread* watchdog = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_globals_mutex);
    if (g_init_count == 0 || --g_init_count > 0) return;
    if (!g_console) {
      watchdog = g_watchdog;
      g_watchdog = nullptr;
    }
  }
  if (watchdog != nullptr) {
    watchdog->Terminate();
    watchdog->WaitFor();  // at most one 100 ms nap
    delete watchdog;
  }
  if (g_console) RunCGIRequest();
}

namespace {
// Runs the unit's start with the program's static initialisation and its
// end after main returns.
struct TUnitLifetime {
  TUnitLifetime() { HttpEngInitialization(); }
  ~TUnitLifetime() { HttpEngFinalization(); }
};
TUnitLifetime g_unit_lifetime;
}  // namespace

}  // namespace cgi
