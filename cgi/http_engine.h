// THttpEngine and THttpCGIEngine: the request engine components of a CGI
// program. The engine reads the request (server variables, form fields from
// the query string and the body, cookies, Basic authorization), buffers the
// response body, sends the status line and headers, keeps file-based
// sessions with enciphered variables, and arms the watchdog while it waits
// for client input.
//
// Request state belongs to the thread (each request thread has its own);
// an engine works on the state of the thread that calls it. The thread's
// current engine is the one constructed last on that thread; property
// setters of another engine are mirrored onto it.
//
// Request checks (all input is untrusted):
//   - REQUEST_METHOD must be one of GET/HEAD (AllowedMethods.Get), POST
//     (.Post) or PUT (.Put); others answer 405 and read nothing.
//   - CONTENT_LENGTH must be a decimal number; a body longer than
//     AutoReadLimit (when above 0) answers 413 and is not read; a body that
//     ends before CONTENT_LENGTH bytes answers 400.
//   - Form bodies are read only for application/x-www-form-urlencoded and
//     multipart/form-data; any other body is left for ReadClient. A body of
//     more than kMaxFormFields fields or parts answers 413; the rest of it
//     is not read.
//   - Header names and values are checked before they are queued; a CR or LF
//     (response splitting) raises EHttpEngineError.
//
// Memory of a request: a form body is parsed while it is read; it costs its
// decoded fields (bytes plus 24 a field, see TFormFields) and a 64 KiB read
// buffer, never a copy of the raw body, and file parts go to upload files
// in TempDir, which a request that never ends does not leave behind either
// (SIGTERM, the watchdog, the sweep of upload_files.h). With
// AutoReadLimit at its default of 0 a body is not bounded: a program that
// takes requests from untrusted clients bounds them with SetAutoReadLimit.
// DebugMode above NoDebug keeps a copy of the client input as well.
//
// Every request ends with one answer, sent once:
//   - RunRequest (and the unit's end in a console program, RunCGIRequest)
//     runs OnExecRequest and answers; an exception the handler lets through
//     becomes "500 Internal Server Error" with a short plain text (the
//     reason goes to standard error, and to the debug appendix when
//     DebugMode is above NoDebug).
//   - A THttpCGIEngine that is the thread's current engine answers a
//     request still open when it is destroyed (an engine on main's stack);
//     it does not run OnExecRequest then.
//   - The session is saved before the status line goes out; when it cannot
//     be saved (TempDir missing or not writable) the answer becomes a 500.
//     TempDir is not created: the default "Temp" is relative to the working
//     folder, which behind a web server is often the document root.
//   - A request begins when it is given its streams or server variables, so
//     a library answers every request of a thread.
//   - A client that has gone away is a write error (TFdStream never lets a
//     SIGPIPE end the process): that request ends unanswered, the reason
//     goes to standard error, and a library goes on to its next request.
//
// Sessions of type sPrivateCookie: the ID in the client's cookie is taken
// only when a live session stands behind it (in the process's list, or a
// session file that reads back and has not expired). Any other ID, one the
// server never issued above all, is replaced by a fresh random ID sent in
// a Set-Cookie header, so that nobody can fix a victim's session ID in
// advance. A new session is saved once something is stored in it: a
// request that stores nothing leaves no session file, so clients without a
// cookie cannot fill the folder, and such a client's next request is given
// another ID.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cgi/form_fields.h"
#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/streams.h"
#include "framework/string_list.h"
#include "framework/sync.h"
#include "framework/thread.h"

namespace cgi {

class EHttpEngineError : public fw::Exception {
 public:
  using fw::Exception::Exception;
};

enum class TCGIMode { NormalMode, ServerMode, ServerThreadMode };
enum class TDebugMode { NoDebug, DebugException, DebugAlways };
enum class TSessionType { sPrivateCookie, sPrivateAuth, sGlobal };
enum class TSessionVisibility { ThisApplication, AllApplications };

inline constexpr char kHttpEngineVersion[] = "5.0.0";
inline constexpr char kDefaultEncryptionKey[] = "3F9D0B6E27C1A854E6D7B2093CA4F1E5";
// Pieces in which client input and streams are copied.
inline constexpr int kReadPieceSize = 1032;

struct TAllowedMethods {
  bool Get = true;
  bool Post = true;
  bool Put = false;
};

class TSessionProperties {
 public:
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& v) { session_name_ = v; }
  TSessionType SessionType() const { return session_type_; }
  void SetSessionType(TSessionType v) { session_type_ = v; }
  bool FileBased() const { return file_based_; }
  // Not file based cannot be visible to all applications.
  void SetFileBased(bool v);
  TSessionVisibility Visibility() const { return visibility_; }
  void SetVisibility(TSessionVisibility v);
  const std::string& EncryptionKey() const { return encryption_key_; }
  void SetEncryptionKey(const std::string& v) { encryption_key_ = v; }
  bool TrimFields() const { return trim_fields_; }
  void SetTrimFields(bool v) { trim_fields_ = v; }

 private:
  std::string session_name_ = "Default";
  TSessionType session_type_ = TSessionType::sPrivateCookie;
  bool file_based_ = true;
  TSessionVisibility visibility_ = TSessionVisibility::AllApplications;
  std::string encryption_key_ = kDefaultEncryptionKey;
  bool trim_fields_ = true;
};

// A file part of a multipart body, kept in a temporary file in TempDir
// until the request ends. The form field of the same name holds file_name.
struct TUploadedFile {
  std::string field_name;
  std::string file_name;     // last path part of the client's name
  std::string content_type;  // as sent
  std::string temp_path;
  std::int64_t size = 0;
};

class THttpEngine;
using TNotifyEvent = std::function<void(THttpEngine* sender)>;
using TRequestErrorEvent = std::function<void(THttpEngine* sender, const std::exception& reason)>;
using TRemoveSessionObjectEvent =
    std::function<void(THttpEngine* sender, const std::string& class_name, void* value)>;
using TUploadPrepareFileEvent =
    std::function<void(THttpEngine* sender, fw::TStringList& content_info, fw::TStream*& out_stream,
                       bool& free_out_stream, bool& cancel_upload)>;

// Which kind of program links the engine. The catalogue is a windowed
// program; a CGI program says it is a console program at start.
void SetConsoleProgram(bool console);
bool IsConsoleProgram();
void SetLibraryProgram(bool library);
bool IsLibraryProgram();

class THttpEngine : public fw::TComponent {
 public:
  explicit THttpEngine(fw::TComponent* owner);
  ~THttpEngine() override;

  // --- properties
  const TAllowedMethods& AllowedMethods() const { return allowed_methods_; }
  void SetAllowedMethods(const TAllowedMethods& v);
  const std::string& AutoContentType() const { return auto_content_type_; }
  void SetAutoContentType(const std::string& v);
  bool AutoReadInput() const { return auto_read_input_; }
  void SetAutoReadInput(bool v);
  std::int64_t AutoReadLimit() const { return auto_read_limit_; }
  void SetAutoReadLimit(std::int64_t v);
  bool AutoHttpHeader() const { return auto_http_header_; }
  void SetAutoHttpHeader(bool v);
  TCGIMode CGIMode() const { return cgi_mode_; }
  void SetCGIMode(TCGIMode v);
  TDebugMode DebugMode() const { return debug_mode_; }
  void SetDebugMode(TDebugMode v);
  bool NoCache() const { return no_cache_; }
  void SetNoCache(bool v);
  const std::string& TempDir() const { return temp_dir_; }
  void SetTempDir(const std::string& v);
  std::string Version() const { return kHttpEngineVersion; }
  TSessionProperties& CGISession() { return cgi_session_; }
  void SetCGISession(const TSessionProperties& v);
  const std::string& SessionName() const { return cgi_session_.SessionName(); }
  void SetSessionName(const std::string& v);
  bool BufferedOutput() const { return true; }
  void SetBufferedOutput(bool) {}  // the body is always buffered

  TRemoveSessionObjectEvent OnRemoveSessionObject;
  TNotifyEvent OnExecRequest, OnFirstExecRequest, OnLastExecRequest, OnPrepareRequest;
  TRequestErrorEvent OnRequestError;
  TUploadPrepareFileEvent OnUploadPrepareFile;

  // --- header output; the base class cannot write headers
  virtual void WriteHeaderLine(const std::string& name, const std::string& value) = 0;
  virtual void EndHeaders() = 0;
  virtual void UnknownVariable(const std::string& name, std::string& value);
  virtual void EndRequest();

  // --- server variables
  std::string ServerSoftware();
  std::string GatewayInterface();
  std::string ServerProtocol();
  std::string ServerPort();
  bool ServerPortSecure();
  std::string RequestMethod();
  std::string PathInfo();
  std::string PathTranslated();
  std::string ScriptName();
  std::string QueryString();
  std::string RemoteHost();
  std::string RemoteAddr();
  std::string AuthType();
  std::string RemoteUser();
  std::string RemoteIdent();
  std::string ContentType();
  std::int64_t ContentLength();
  std::string Url();
  std::string UserAgent();
  std::string HttpCookie();
  std::string HttpReferer();
  std::string ExecutablePath();

  // --- response
  virtual void SendResponse();
  virtual void ClearOutput();
  // Queues a header; raises EHttpEngineError for a name that is not a token
  // (or a status line "HTTP/1.x NNN reason") or a value with CR, LF or
  // another control character.
  virtual void SetHeader(const std::string& name, const std::string& value);
  virtual void SetFileHeaders(const std::string& content_type, const std::string& file_name);
  virtual void Write(const std::string& text);
  virtual void WriteLn(const std::string& text);
  virtual void WriteStream(fw::TStream& stream);
  virtual void WriteBuffer(const void* buffer, std::int64_t count);
  // Reads up to count bytes of client input; returns the count read (less at
  // the end of input), or -1 without an input stream or on a read error.
  virtual int ReadClient(void* buffer, int count);
  virtual std::string GetServerVariable(const std::string& name);
  virtual std::string GetField(const std::string& name, const std::string& default_value = "");
  virtual void RunRequest();
  virtual void CreateLock(fw::TCriticalSection*& lock);
  virtual void Lock(fw::TCriticalSection* lock);
  virtual void Unlock(fw::TCriticalSection* lock);
  virtual void FreeLock(fw::TCriticalSection*& lock);
  virtual std::unique_ptr<fw::TStringList> GetFieldNames();
  // The form fields themselves, as views (no copy of a large value).
  const TFormFields& FormFields();

  // --- request set-up and parsing
  // Gives the request its streams (the CGI engine starts with standard
  // input and output) and its server variables (lines name=value; without
  // them the process environment is used).
  void SetRequestStreams(std::unique_ptr<fw::TStream> input, std::unique_ptr<fw::TStream> output);
  void SetServerVariables(const fw::TStringList& variables);
  // Loads the server variables, checks the method, parses the query string,
  // the cookies and (with AutoReadInput) the form body. Runs once per
  // request; the getters run it on first use. Returns false when the request
  // was refused (see RequestError; the status line is already queued).
  bool PrepareRequest();
  const std::string& RequestError();
  const std::vector<TUploadedFile>& Uploads();
  std::string GetCookie(const std::string& name);
  // The user and password of Basic authorization (AUTH_USER and
  // AUTH_PASSWORD groups of GetServerVariable).
  std::string AuthUser() { return GetServerVariable("AUTH_USER"); }
  std::string AuthPassword() { return GetServerVariable("AUTH_PASSWORD"); }
  // Opens a nested output buffer; Write goes to the innermost one until
  // EndOutputBuffer returns its text.
  void BeginOutputBuffer();
  std::string EndOutputBuffer();
  // Text for the debug appendix's user log.
  void UserLog(const std::string& text);
  int DebugLevel() const;
  void SetDebugLevel(int level);
  bool HeadersSent() const;
  bool OutputSent() const;

  // --- sessions (started on first use)
  std::string GetSessionVariable(const std::string& name);
  // An empty value removes the variable; raises EHttpEngineError for a name
  // that is not a valid field name.
  void SetSessionVariable(const std::string& name, const std::string& value);
  void ClearSession();
  // Seconds since 1970 UTC; 0 = the session does not expire.
  std::int64_t SessionExpires();
  void SetSessionExpires(std::int64_t unix_seconds);
  bool SessionExpired();
  const std::string& SessionID();
  const std::string& SessionFileName();

 protected:
  // Writes one header line the way the debug level asks for.
  void SendHeader(const std::string& name, const std::string& value);
  fw::TStream* OutputStream();
  // Appends the debug appendix to the body and clears the debug level.
  void AppendDebugAppendix();
  // Frees the request's state: streams, copies, session, lists, temporary
  // files, headers and body.
  void FreeRequest();
  // Answers the thread's request unless it was answered already: runs
  // OnExecRequest first when run_handler (a 500 when it throws), then
  // EndRequest. Never throws.
  void FinishRequest(bool run_handler) noexcept;
  template <typename F>
  void Mirror(F apply);

 private:
  friend void RunCGIRequest();
  bool ReadFormBody(const std::string& content_type, std::int64_t length);
  void RefuseRequest(int status, const std::string& reason, const std::string& error);
  // Makes the answer a 500 with a short plain text when none of it went out
  // yet (queued headers but Set-Cookie and the body are dropped); logs the
  // reason to standard error and, when debugging, to the user log.
  void ServerError(const std::string& reason);
  // Saves the thread's session when it has unsaved changes; a failure
  // becomes a ServerError.
  void SaveSessionBeforeAnswer();
  void StartSession();

  TAllowedMethods allowed_methods_;
  std::string auto_content_type_ = "text/html";
  bool auto_read_input_ = true;
  std::int64_t auto_read_limit_ = 0;
  bool auto_http_header_ = true;
  TCGIMode cgi_mode_ = TCGIMode::NormalMode;
  TDebugMode debug_mode_ = TDebugMode::NoDebug;
  bool no_cache_ = false;
  std::string temp_dir_ = "Temp";
  TSessionProperties cgi_session_;
};

class THttpCGIEngine : public THttpEngine {
 public:
  explicit THttpCGIEngine(fw::TComponent* owner);
  ~THttpCGIEngine() override;
  void WriteHeaderLine(const std::string& name, const std::string& value) override;
  void EndHeaders() override;
  void EndRequest() override;
  bool CGIAutoTerminate() const { return cgi_auto_terminate_; }
  void SetCGIAutoTerminate(bool v);

 private:
  bool cgi_auto_terminate_ = true;
};

// The thread's current engine, or nullptr.
THttpEngine* CurrentEngine();

// End-of-run processing: sends the pending response and ends the request,
// stops the watchdog and, in a program, saves the session and ends the
// process with exit code 0.
void RunCGIRequest();

// The unit's start and end; they run once each however often called (the
// first initialisation and the last finalisation count).
void HttpEngInitialization();
void HttpEngFinalization();

// Whether a watchdog thread runs (the first engine of a program starts it),
// and its priority.
bool WatchdogRunning();
fw::TThreadPriority WatchdogPriority();

}  // namespace cgi
