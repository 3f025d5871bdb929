// Engine error codes, the raise routine and the engine exception.
//
// Every engine failure goes through EngineError, which records the error
// context in the current session and raises ETolmidEngineError whose
// message is "Tolmid Engine Error # <code> <text>". Codes are 16-bit; their
// high byte groups them (0x22 end of data / not found, 0x23 corrupt buffers,
// 0x24 I/O, 0x25 limits, 0x26 key and value checks, 0x27 invalid
// definitions, 0x28 locks, 0x29 rights, 0x2A engine state and BLOB fields,
// 0x2B operating system, 0x2E SQL, 0x2F version, 0x30 index field type,
// 0x3E locale). Some cursor routines return the same codes instead of
// raising them.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/exceptions.h"

namespace storage {

enum class ErrorCode : std::uint16_t {
  kNone = 0,
  kBeginningOfFile = 8705,
  kEndOfFile = 8706,
  kKeyNotFound = 8708,
  kRecordNotFound = 8710,
  kBlobEnded = 8711,
  kCorruptRecords = 8962,
  kCorruptBlob = 8963,
  kCorruptIndex = 8965,
  kReadError = 9217,
  kWriteError = 9218,
  kCannotDelete = 9220,
  kHeaderError = 9221,
  kRecordTooLarge = 9477,
  kTooManyFilters = 9482,
  kIndexLimits = 9487,
  kFieldLimits = 9492,
  kTooManyBlobs = 9494,
  kBlobFieldLimits = 9498,
  kDuplicateKey = 9729,
  kMinimumExceeded = 9730,
  kMaximumExceeded = 9731,
  kValueRequired = 9732,
  kInvalidField = 9985,
  kPrimaryIndexExists = 9993,
  kInvalidBlobOffset = 9998,
  kInvalidFieldDefinition = 10000,
  kInvalidValidityCheck = 10006,
  kIndexNameMissing = 10010,
  kInvalidPassword = 10015,
  kInvalidIndexName = 10022,
  kInvalidIndexField = 10023,
  kInvalidKeySize = 10026,
  kIndexExists = 10027,
  kInvalidBlobLength = 10029,
  kInvalidBlobHandle = 10030,
  kInUse = 10031,
  kInvalidFieldName = 10038,
  kInvalidFilterHandle = 10050,
  kInvalidFilterExpression = 10051,
  kCannotRemovePrimary = 10055,
  kTableLocked = 10241,
  kCannotUnlock = 10242,
  kLockFailure = 10249,
  kMustBeExclusive = 10253,
  kRecordInUse = 10258,
  kPasswordRequired = 10498,
  kInvalidBlobField = 10753,
  kNotInitialized = 10758,
  kInvalidPath = 11010,
  kTooManyFiles = 11012,
  kAccessDenied = 11013,
  kInvalidFileHandle = 11014,
  kNoMemory = 11016,
  kInvalidMemoryLength = 11017,
  kDeviceDenied = 11023,
  kFileMoved = 11025,
  kUnknownOSError = 11047,
  kSql = 11949,
  kWrongVersion = 12035,
  kInvalidIndexFieldType = 12292,
  kLocaleNotAvailable = 15878,
};

constexpr std::uint16_t Code(ErrorCode c) { return static_cast<std::uint16_t>(c); }

// The error context of a session: overwritten by every raise.
struct ErrorContext {
  std::uint16_t code = 0;
  std::string field_name;
  std::string data_file_name;
  std::string extra_text;
  std::string index_name;
};

// The engine-wide raise routine: clears the current session's error
// context, stores code and texts (both skipped for 10758, raised when there
// is no session) and raises ETolmidEngineError. Never returns.
[[noreturn]] void EngineError(std::uint16_t code, std::string_view data_file_name = {},
                              std::string_view field_name = {}, std::string_view index_name = {},
                              std::string_view extra_text = {});
[[noreturn]] inline void EngineError(ErrorCode code, std::string_view data_file_name = {},
                                     std::string_view field_name = {},
                                     std::string_view index_name = {},
                                     std::string_view extra_text = {}) {
  EngineError(Code(code), data_file_name, field_name, index_name, extra_text);
}

void ClearErrorContext();
// Stores the five values in the current session; nothing for code 10758.
void SetErrorContext(std::uint16_t code, std::string_view data_file_name,
                     std::string_view field_name, std::string_view index_name,
                     std::string_view extra_text);

// The message for code built from the context: at most 127 characters.
std::string GetEngineErrorMessage(std::uint16_t code, const ErrorContext& context);
// The same from the current session's context (no context for 10758 or
// when the engine is not initialised).
std::string GetEngineErrorMessage(std::uint16_t code);

// One engine error entry of an ETolmidEngineError.
struct TTolmidError {
  std::int32_t ErrorCode;
  std::string Message;
};

// The engine exception: message "Tolmid Engine Error # " + code + " " + text,
// with exactly one TTolmidError entry.
class ETolmidEngineError : public fw::EDatabaseError {
 public:
  explicit ETolmidEngineError(std::int32_t code);
  std::int32_t ErrorCode() const { return errors_.front().ErrorCode; }
  const std::vector<TTolmidError>& Errors() const { return errors_; }

 private:
  std::vector<TTolmidError> errors_;
};

// Runs f; a failure goes into first unless an earlier one is there: where
// several steps must all be tried (releases, closes), the first failure is
// the one reported.
template <typename F>
void KeepFirstError(std::exception_ptr& first, F&& f) {
  try {
    f();
  } catch (...) {
    if (!first) first = std::current_exception();
  }
}

// Constructs and raises ETolmidEngineError for code.
[[noreturn]] void RaiseEngineError(std::int32_t code);
// Nothing for 0; any other value raises.
void CheckEngineResult(std::int32_t code);

}  // namespace storage
