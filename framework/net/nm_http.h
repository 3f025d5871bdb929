// TNMHTTP: the HTTP client component. Get fetches a URL with an HTTP/1.0
// GET and returns when the fetch is over; the Qt event loop runs meanwhile,
// so windows repaint and buttons work (a button's handler may Cancel), and
// any handler the user sets off runs inside the caller of Get. GetAsync
// fetches the same way but returns at once: the program's own event loop
// drives the fetch, and a callback gets the outcome.
//
// The URL is requested as a browser requests it: characters beyond ASCII
// (the URL is code page 1252 text) as the percent escapes of their UTF-8
// bytes, blanks as %20.
//
// With InputFileMode the response body goes into the file named by Body,
// else into Body itself. A fetch fails with EHTTPError and a message that
// names the URL when:
//   - the URL is not http:// or https:// (nothing is fetched);
//   - the server cannot be reached, or answers with a status outside
//     200..299, or with an empty body;
//   - nothing arrives for TimeOut milliseconds (a stalled fetch);
//   - the body is larger than MaxBodySize, or the file cannot be written.
// Cancel (or Abort, or Disconnect) ends a fetch under way at once; Get
// then raises EAbort, the silent exception. One fetch at a time: a fetch
// asked for while one is under way fails with EHTTPError.
//
// The file is written under a temporary name beside it and renamed to its
// name only when the whole body has arrived: a failed or cancelled fetch
// leaves the file as it was before (or absent).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/exceptions.h"

namespace fw {

FW_DECLARE_EXCEPTION(EHTTPError, Exception);

namespace net {
class HttpTransfer;
struct TransferResult;
}

class TNMHTTP : public TComponent {
 public:
  explicit TNMHTTP(TComponent* owner);
  ~TNMHTTP() override;

  bool InputFileMode() const { return input_file_mode_; }
  void SetInputFileMode(bool v) { input_file_mode_ = v; }
  // The file the body goes to (InputFileMode), or the body received.
  // File names may use '/' or '\' and match existing folders without
  // regard to case.
  const std::string& Body() const { return body_; }
  void SetBody(const std::string& body) { body_ = body; }
  // The response header lines of the last fetch.
  const std::string& Header() const { return header_; }
  // The status code of the last response (0 when none came).
  long StatusCode() const { return status_; }
  // Milliseconds without any data after which a fetch is given up (0: wait
  // for ever). 30000 at first.
  int TimeOut() const { return time_out_; }
  void SetTimeOut(int ms) { time_out_ = ms < 0 ? 0 : ms; }
  std::int64_t MaxBodySize() const { return max_body_; }
  void SetMaxBodySize(std::int64_t bytes) { max_body_ = bytes; }

  void Get(const std::string& url);
  // The outcome of GetAsync: nullptr when the fetch succeeded, else the
  // exception Get would have raised (EAbort after a Cancel).
  using TFetchDone = std::function<void(std::exception_ptr error)>;
  // Starts fetching url as Get does and returns; a URL that cannot be
  // fetched at all raises here, as in Get. done runs once, from the event
  // loop, when the fetch is over, with Body, Header and StatusCode set as
  // after Get. It never runs once the component is destroyed, or once a
  // later fetch of the component has started.
  void GetAsync(const std::string& url, TFetchDone done);
  void Cancel();
  void Abort() { Cancel(); }
  // Ends a fetch under way; each fetch opens its own connection, so there
  // is nothing else to close.
  void Disconnect() { Cancel(); }
  bool Busy() const;

 private:
  struct Fetch;
  std::shared_ptr<Fetch> Prepare(const std::string& url);
  // Takes the result of a fetch: the body, headers and status; raises what
  // Get raises on a failure.
  void Conclude(Fetch& fetch, const net::TransferResult& result);
  std::shared_ptr<net::HttpTransfer> transfer_;
  // False once destroyed; a Get running further up the stack checks it.
  std::shared_ptr<bool> alive_;
  bool input_file_mode_ = false;
  std::string body_;
  std::string header_;
  long status_ = 0;
  int time_out_ = 30000;
  std::int64_t max_body_ = std::int64_t{256} << 20;
};

}  // namespace fw
