// HttpTransfer: one HTTP GET on libcurl's multi interface, driven by the Qt
// event loop. libcurl tells us which sockets to watch and when to call it
// back; QSocketNotifiers and a QTimer do the watching, so the program's
// windows stay alive while a transfer runs, and Cancel ends it at once.
//
// Two ways to run it: Run waits for the end in a nested event loop (every
// handler the loop runs meanwhile, a user's click included, runs inside
// the caller); Start returns at once and the program's own event loop
// drives the transfer, calling done back when it has ended.
//
// The body goes to a sink (a file or memory); the transfer counts as
// stalled when nothing arrives for stall_timeout_ms, and is then ended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fw::net {

struct TransferRequest {
  std::string url;
  int stall_timeout_ms = 30000;  // 0: wait for ever
  std::int64_t max_body = std::int64_t{256} << 20;
  // Takes each piece of the body; false stops the transfer (a write error).
  std::function<bool(const char* data, std::size_t size)> sink;
};

enum class TransferEnd { kDone, kCancelled, kStalled, kTooLarge, kSinkFailed, kFailed };

struct TransferResult {
  TransferEnd end = TransferEnd::kFailed;
  long status = 0;            // the last response's status code
  std::string reason;         // its reason phrase ("Not Found")
  std::string headers;        // every header line received, CR LF ended
  std::int64_t body_bytes = 0;
  std::string error;          // libcurl's text when kFailed
};

class HttpTransfer {
 public:
  using Done = std::function<void(const TransferResult& result)>;

  HttpTransfer();
  // Ends a transfer under way; a Start's done is then never called.
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // Runs the transfer to its end; a Qt event loop runs meanwhile.
  TransferResult Run(const TransferRequest& request);
  // Starts the transfer and returns; done runs once, from the event loop
  // (never from inside Start or Cancel), when the transfer has ended and
  // libcurl has let go of it. done may destroy this object.
  void Start(const TransferRequest& request, Done done);
  // Ends the running transfer (from a handler the event loop runs).
  void Cancel();
  bool Running() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace fw::net
