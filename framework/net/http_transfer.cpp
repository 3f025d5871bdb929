// HttpTransfer on curl_multi_socket_action.
//
// Invariants while a transfer is under way (Begin .. Release):
//   (1) notifiers holds one read and/or write notifier for each socket
//       libcurl asked us to watch, and none other (SocketCallback keeps it);
//   (2) curl_timer is running exactly when libcurl asked for a timeout;
//   (3) end is set exactly once, by Finish; Finish then quits the nested
//       loop of Run, or posts the completion of Start;
//   (4) libcurl's handles are released only outside libcurl's callbacks:
//       after Run's loop, in the posted completion, or on destruction.
// libcurl is only called from the thread that runs the event loop (the
// main thread).
#include "framework/net/http_transfer.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <mutex>
#include <optional>

#include "framework/forms/application.h"

namespace fw::net {

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct HttpTransfer::Impl : std::enable_shared_from_this<HttpTransfer::Impl> {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  TransferRequest request;
  TransferResult result;
  std::optional<TransferEnd> end;
  QEventLoop* loop = nullptr;  // Run's nested loop while it runs
  Done done;                   // Start's caller, until the completion
  // Counts the transfers begun; a posted completion belongs to one.
  std::uint64_t generation = 0;
  // Timers and the kick-off are owned here, so that nothing of a destroyed
  // transfer fires.
  QObject context;
  QTimer curl_timer;
  QTimer stall_timer;
  struct Watch {
    std::unique_ptr<QSocketNotifier> read, write;
  };
  std::map<curl_socket_t, Watch> notifiers;

  Impl() {
    curl_timer.setSingleShot(true);
    stall_timer.setSingleShot(true);
    QObject::connect(&curl_timer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    QObject::connect(&stall_timer, &QTimer::timeout, [this] { Finish(TransferEnd::kStalled); });
  }
  ~Impl() { Release(); }

  void Finish(TransferEnd how) {
    if (end) return;
    end = how;
    curl_timer.stop();
    stall_timer.stop();
    if (loop != nullptr) loop->quit();
    if (done) PostCompletion();
  }

  // The completion runs from the event loop, outside libcurl's callbacks
  // and outside the caller of Cancel. It is posted to the application
  // object, not to context: done may destroy the HttpTransfer, and the
  // completion holds this Impl alive until it returns.
  void PostCompletion() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [weak = weak_from_this(), gen = generation] {
          if (const std::shared_ptr<Impl> self = weak.lock()) self->Complete(gen);
        },
        Qt::QueuedConnection);
  }

  void Complete(std::uint64_t gen) {
    if (gen != generation || !end || !done) return;
    Release();
    result.end = *end;
    const Done call = std::move(done);
    done = nullptr;
    const TransferResult r = result;
    call(r);
  }

  void Progress() {
    if (request.stall_timeout_ms > 0) stall_timer.start(request.stall_timeout_ms);
  }

  void Act(curl_socket_t fd, int events) {
    if (end) return;
    int running = 0;
    curl_multi_socket_action(multi, fd, events, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE || end) continue;
      const CURLcode code = msg->data.result;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
      if (code == CURLE_OK) {
        Finish(TransferEnd::kDone);
      } else if (code == CURLE_WRITE_ERROR && end) {
        // already ended by the sink or the size limit
      } else {
        result.error = curl_easy_strerror(code);
        Finish(TransferEnd::kFailed);
      }
    }
  }

  // A notifier may be the one whose signal is running: it is disabled now
  // and deleted from the event loop.
  static void Retire(std::unique_ptr<QSocketNotifier>& n) {
    if (!n) return;
    n->setEnabled(false);
    n.release()->deleteLater();
  }

  static int SocketCallback(CURL*, curl_socket_t fd, int what, void* user, void*) {
    auto* self = static_cast<Impl*>(user);
    if (what == CURL_POLL_REMOVE) {
      auto it = self->notifiers.find(fd);
      if (it != self->notifiers.end()) {
        Retire(it->second.read);
        Retire(it->second.write);
        self->notifiers.erase(it);
      }
      return 0;
    }
    Watch& w = self->notifiers[fd];
    const bool want_read = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool want_write = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    auto make = [&](QSocketNotifier::Type type, int ev) {
      auto n = std::make_unique<QSocketNotifier>(static_cast<qintptr>(fd), type);
      QObject::connect(n.get(), &QSocketNotifier::activated, [self, fd, ev] { self->Act(fd, ev); });
      return n;
    };
    if (want_read && !w.read) w.read = make(QSocketNotifier::Read, CURL_CSELECT_IN);
    if (!want_read) Retire(w.read);
    if (want_write && !w.write) w.write = make(QSocketNotifier::Write, CURL_CSELECT_OUT);
    if (!want_write) Retire(w.write);
    return 0;
  }

  static int TimerCallback(CURLM*, long timeout_ms, void* user) {
    auto* self = static_cast<Impl*>(user);
    if (timeout_ms < 0)
      self->curl_timer.stop();
    else
      self->curl_timer.start(static_cast<int>(timeout_ms));
    return 0;
  }

  static std::size_t WriteCallback(char* data, std::size_t size, std::size_t n, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t bytes = size * n;
    if (self->end) return 0;
    self->Progress();
    // Only a success answer's body is kept; an error page is not the file.
    if (self->result.status < 200 || self->result.status >= 300) return bytes;
    if (self->result.body_bytes + static_cast<std::int64_t>(bytes) > self->request.max_body) {
      self->Finish(TransferEnd::kTooLarge);
      return 0;
    }
    if (!self->request.sink(data, bytes)) {
      self->Finish(TransferEnd::kSinkFailed);
      return 0;
    }
    self->result.body_bytes += static_cast<std::int64_t>(bytes);
    return bytes;
  }

  static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t n, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t bytes = size * n;
    self->Progress();
    std::string line(data, bytes);
    self->result.headers += line;
    // A status line starts each response (redirects bring several).
    if (line.rfind("HTTP/", 0) == 0) {
      const std::size_t sp1 = line.find(' ');
      const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
      self->result.status = sp1 == std::string::npos ? 0 : std::atol(line.c_str() + sp1 + 1);
      std::string reason = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
      while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) reason.pop_back();
      self->result.reason = reason;
    }
    return bytes;
  }

  // Sets up libcurl for request; false (and the end kFailed) when it
  // cannot.
  bool Begin(const TransferRequest& r) {
    Release();
    ++generation;
    request = r;
    result = TransferResult();
    end.reset();
    multi = curl_multi_init();
    easy = curl_easy_init();
    if (multi == nullptr || easy == nullptr) {
      end = TransferEnd::kFailed;
      result.error = "Out of memory";
      return false;
    }
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Morvella Software");
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::SocketCallback);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::TimerCallback);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    curl_multi_add_handle(multi, easy);
    Progress();
    // Kick off: libcurl starts the connection from its first timeout.
    QTimer::singleShot(0, &context, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    return true;
  }

  // Lets go of libcurl's handles and the notifiers; nothing of the
  // transfer fires afterwards. Safe to repeat.
  void Release() {
    curl_timer.stop();
    stall_timer.stop();
    if (easy != nullptr) {
      if (multi != nullptr) curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
    }
    for (auto& [fd, w] : notifiers) {
      Retire(w.read);
      Retire(w.write);
    }
    notifiers.clear();
    if (multi != nullptr) curl_multi_cleanup(multi);
    easy = nullptr;
    multi = nullptr;
  }
};

HttpTransfer::HttpTransfer() : impl_(std::make_shared<Impl>()) { GlobalInit(); }

HttpTransfer::~HttpTransfer() {
  impl_->done = nullptr;
  Cancel();
}

bool HttpTransfer::Running() const { return impl_->multi != nullptr && !impl_->end; }

void HttpTransfer::Cancel() {
  if (impl_->multi != nullptr) impl_->Finish(TransferEnd::kCancelled);
}

TransferResult HttpTransfer::Run(const TransferRequest& request) {
  // Held for the loop: a handler it runs may destroy this object.
  const std::shared_ptr<Impl> keep = impl_;
  Impl& s = *keep;
  s.done = nullptr;
  if (s.Begin(request)) {
    QEventLoop loop;
    s.loop = &loop;
    while (!s.end) {
      if (Application != nullptr) {
        Application->RunLoop(loop);
        if (Application->Terminated() && !s.end) s.Finish(TransferEnd::kCancelled);
      } else {
        loop.exec();
      }
    }
    s.loop = nullptr;
  }
  s.Release();
  s.result.end = *s.end;
  return s.result;
}

void HttpTransfer::Start(const TransferRequest& request, Done done) {
  Impl& s = *impl_;
  s.done = std::move(done);
  if (!s.Begin(request)) s.PostCompletion();
}

}  // namespace fw::net
