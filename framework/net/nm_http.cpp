#include "framework/net/nm_http.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/db/db_common.h"
#include "framework/net/http_transfer.h"
#include "framework/sysutils.h"
#include "platform/file.h"
#include "platform/text.h"

namespace fw {

namespace {

bool HasScheme(const std::string& url, const char* scheme) {
  const std::size_t n = std::strlen(scheme);
  if (url.size() <= n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
  return true;
}

// The URL as it goes on the wire. The program holds URLs as typed or
// copied, in code page 1252; a browser sends such a URL with every
// character beyond ASCII as the percent escapes of its UTF-8 bytes, and
// blanks and control characters escaped too (libcurl refuses a blank).
// Escapes already in the URL stay as they are.
std::string RequestUrl(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : platform::Cp1252ToUtf8(url)) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// A temporary file beside the target, removed unless kept.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target) {
    const std::size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    path_ = dir + "." + base + ".part-XXXXXX";
    fd_ = ::mkstemp(path_.data());
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  bool Open() const { return fd_ >= 0; }
  bool Write(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Moves the finished file to its name; false (and errno) when it fails.
  bool Keep() {
    // The permissions a new file would get (mkstemp makes it private).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
      fd_ = -1;
      return false;
    }
    fd_ = -1;
    if (::rename(path_.c_str(), target_.c_str()) != 0) return false;
    kept_ = true;
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

}  // namespace

TNMHTTP::TNMHTTP(TComponent* owner) : TComponent(owner), alive_(std::make_shared<bool>(true)) {}

TNMHTTP::~TNMHTTP() {
  // A Get under way (further up this thread's stack) sees the cancel and
  // returns without touching this object.
  *alive_ = false;
  if (transfer_) transfer_->Cancel();
}

bool TNMHTTP::Busy() const { return transfer_ && transfer_->Running(); }

void TNMHTTP::Cancel() {
  if (transfer_) transfer_->Cancel();
}

// What one fetch needs until its end: the URL as given, and where the
// body goes.
struct TNMHTTP::Fetch {
  std::string url;
  std::unique_ptr<TempFile> file;  // InputFileMode
  std::string text;                // else
  net::TransferRequest request;
};

std::shared_ptr<TNMHTTP::Fetch> TNMHTTP::Prepare(const std::string& url) {
  if (Busy()) throw EHTTPError("A fetch is already under way (" + url + ")");
  if (!HasScheme(url, "http://") && !HasScheme(url, "https://"))
    throw EHTTPError("Only http and https addresses can be fetched: " + url);
  header_.clear();
  status_ = 0;
  auto fetch = std::make_shared<Fetch>();
  fetch->url = url;
  net::TransferRequest& request = fetch->request;
  request.url = RequestUrl(url);
  request.stall_timeout_ms = time_out_;
  request.max_body = max_body_;
  // The sink is called only while the transfer runs, and the transfer's
  // owner keeps the fetch until then.
  Fetch* f = fetch.get();
  if (input_file_mode_) {
    if (body_.empty()) throw EHTTPError("No file named for the body of " + url);
    f->file = std::make_unique<TempFile>(platform::ResolvePath(body_));
    if (!f->file->Open())
      throw EHTTPError("Cannot create a file beside " + NativeFileName(body_) + ": " + std::strerror(errno));
    request.sink = [f](const char* data, std::size_t size) { return f->file->Write(data, size); };
  } else {
    request.sink = [f](const char* data, std::size_t size) {
      f->text.append(data, size);
      return true;
    };
  }
  return fetch;
}

void TNMHTTP::Conclude(Fetch& fetch, const net::TransferResult& r) {
  const std::string& url = fetch.url;
  header_ = r.headers;
  status_ = r.status;
  switch (r.end) {
    case net::TransferEnd::kDone:
      break;
    case net::TransferEnd::kCancelled:
      throw EAbort("Fetch cancelled");
    case net::TransferEnd::kStalled:
      throw EHTTPError("No answer from " + url + " within " + std::to_string(fetch.request.stall_timeout_ms) + " ms");
    case net::TransferEnd::kTooLarge:
      throw EHTTPError("The answer from " + url + " is larger than " + std::to_string(fetch.request.max_body) +
                       " bytes");
    case net::TransferEnd::kSinkFailed:
      throw EHTTPError("Cannot write " + NativeFileName(body_) + ": " + std::strerror(errno));
    case net::TransferEnd::kFailed:
      throw EHTTPError("Cannot fetch " + url + ": " + r.error);
  }
  if (r.status < 200 || r.status >= 300) {
    std::string status = "HTTP error " + std::to_string(r.status);
    if (!r.reason.empty()) status += " (" + r.reason + ")";
    throw EHTTPError(status + " from " + url);
  }
  if (r.body_bytes == 0) throw EHTTPError("Empty answer from " + url);
  if (fetch.file) {
    if (!fetch.file->Keep()) throw EHTTPError("Cannot write " + NativeFileName(body_) + ": " + std::strerror(errno));
  } else {
    body_ = std::move(fetch.text);
  }
}

void TNMHTTP::Get(const std::string& url) {
  const std::shared_ptr<Fetch> fetch = Prepare(url);
  // The transfer outlives this object if a handler frees the component
  // while the fetch runs.
  auto transfer = std::make_shared<net::HttpTransfer>();
  const std::shared_ptr<bool> alive = alive_;
  transfer_ = transfer;
  const net::TransferResult r = transfer->Run(fetch->request);
  // A handler freed this component while the fetch ran.
  if (!*alive) throw EAbort("Fetch cancelled");
  Conclude(*fetch, r);
}

void TNMHTTP::GetAsync(const std::string& url, TFetchDone done) {
  const std::shared_ptr<Fetch> fetch = Prepare(url);
  // Only transfer_ holds the transfer: a later fetch or the component's
  // end destroys it, and with it the callback.
  transfer_ = std::make_shared<net::HttpTransfer>();
  transfer_->Start(fetch->request, [this, fetch, done = std::move(done)](const net::TransferResult& r) {
    std::exception_ptr error;
    try {
      Conclude(*fetch, r);
    } catch (...) {
      error = std::current_exception();
    }
    done(error);
  });
}

}  // namespace fw
