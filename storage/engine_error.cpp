// Engine error messages, the raise routine and the engine exception.
//
// A message is built from a template of literal pieces and context fields
// (D data-file name, F field name, I index name, X extra text), then cut to
// kMaxMessageLength characters: a long path can push the tail of a message
// out, and callers receive only the head.
#include "storage/engine_error.h"

#include <string>

#include "storage/session.h"

namespace storage {
namespace {

// The working string of the message builder holds at most 255 characters;
// what callers get is at most 127 of them.
constexpr std::size_t kMaxWorkingLength = 255;
constexpr std::size_t kMaxMessageLength = 127;
constexpr std::size_t kMaxContextLength = 255;

// Appends pieces up to the working limit.
class MessageBuilder {
 public:
  MessageBuilder& operator+(std::string_view piece) {
    if (text_.size() < kMaxWorkingLength) {
      text_.append(piece.substr(0, kMaxWorkingLength - text_.size()));
    }
    return *this;
  }
  std::string Take() {
    if (text_.size() > kMaxMessageLength) text_.resize(kMaxMessageLength);
    return std::move(text_);
  }

 private:
  std::string text_;
};

std::string BuildMessage(std::uint16_t code, const ErrorContext& c) {
  const std::string_view D = c.data_file_name;
  const std::string_view F = c.field_name;
  const std::string_view I = c.index_name;
  const std::string_view X = c.extra_text;
  MessageBuilder m;
  switch (code) {
    case 8705: m + "Beginning of file encountered in data file " + D; break;
    case 8706: m + "End of file encountered in data file " + D; break;
    case 8708: m + "Key not found in index " + I + " of data file " + D; break;
    case 8710: m + "Record not found in data file " + D; break;
    case 8711: m + "End of blob data in data file " + D + " reached prematurely"; break;
    case 8962: m + "Data record buffers corrupt in data file " + D; break;
    case 8963: m + "BLOB block buffers corrupt in data file " + D; break;
    case 8965: m + "Index page buffers corrupt in data file " + D; break;
    case 9217: m + "Error reading from data file " + D; break;
    case 9218: m + "Error writing to data file " + D; break;
    case 9220: m + "Cannot delete data file " + D; break;
    case 9221: m + "Error accessing file header information for data file " + D; break;
    case 9477: m + "Maximum record size exceeded in data file " + D; break;
    case 9482: m + "Too many filters defined for data file " + D; break;
    case 9487:
      m + "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file " + D;
      break;
    case 9492:
      m + "Maximum or minimum limits on number of fields or field size exceeded in data file " + D;
      break;
    case 9494: m + "Too many blobs opened in data file " + D; break;
    case 9498:
      m + "Too many blob fields or invalid blob block size specified for data file " + D;
      break;
    case 9729: m + "Duplicate key found in index " + I + " of data file " + D; break;
    case 9730:
      m + "The minimum value has been exceeded for the field " + F + " in data file " + D;
      break;
    case 9731:
      m + "The maximum value has been exceeded for the field " + F + " in data file " + D;
      break;
    case 9732: m + "A value must be provied for the field " + F + " in data file " + D; break;
    case 9985:
      m + "Invalid field number or name " + F + " specified for data file " + D;
      break;
    case 9993:
      m + "A primary index is already defined for data file " + D + " and cannot be added " +
          "again";
      break;
    case 9998: m + "Invalid blob offset into data file " + D + " specified"; break;
    case 10000:
      m + "Invalid field definition specified for the field " + F + " in data file " + D;
      break;
    case 10006:
      m + "Invalid default, min or max validity check, or expression specified for " + F +
          " in data file " + D;
      break;
    case 10010:
      m + "The secondary index name is missing or not specified for data file " + D;
      break;
    // No blank between the name and "is": the text has always read so.
    case 10015: m + "Password provided for data file " + D + "is invalid"; break;
    case 10022:
      m + "Invalid secondary index name " + I + " specified " + "for data file " + D;
      break;
    case 10023:
      m + "Invalid field number " + F + " specified in " + "index " + I + " for data file " + D;
      break;
    case 10026: m + "Invalid key size specified in index " + I + " for data file " + D; break;
    case 10027: m + "The secondary index " + I + " already exists for data file " + D; break;
    case 10029: m + "Invalid blob length in data file " + D; break;
    case 10030: m + "Invalid blob handle for data file " + D + " specified"; break;
    case 10031: m + "Data file " + D + " is already in use"; break;
    case 10038:
      m + "Invalid or duplicate field name " + F + " specified for data file " + D;
      break;
    case 10050: m + "Invalid filter handle specified for data file " + D; break;
    case 10051: m + "Invalid filter expression specified for data file " + D; break;
    case 10055: m + "The primary index cannot be removed from data file " + D; break;
    case 10241: m + "The data file " + D + " is already locked by another user"; break;
    case 10242: m + "Cannot unlock data file or record in data file " + D; break;
    case 10249: m + "General lock failure with data file " + D; break;
    case 10253: m + "Data file " + D + " must be opened exclusively"; break;
    case 10258: m + "Record in data file " + D + " is in use by another user"; break;
    case 10498:
      m + "Insufficient rights to data file " + D + ", a password is required";
      break;
    case 10753: m + "Invalid blob field " + F + " specified for data file " + D; break;
    case 10758: m + "Tolmid engine not initialized"; break;
    case 11010: m + "Invalid path or file name for data file " + D; break;
    case 11012:
      m + "Too many files open while attempting to open data file " + D;
      break;
    case 11013: m + "Access denied to data file " + D; break;
    case 11014: m + "Invalid file handle for data file " + D; break;
    case 11016: m + "There is insufficient memory present for data file " + D; break;
    case 11017: m + "Invalid length for in-memory data file " + D; break;
    case 11023:
      m + "Access denied to logical operating system device for data file " + D;
      break;
    case 11025: m + "Data file " + D + " has been moved"; break;
    case 11047:
      m + "An unknown operating system error occurred with data file " + D;
      break;
    case 11949: m + "SQL - " + X; break;
    case 12035: m + "Data file " + D + " is not the correct version"; break;
    case 12292:
      m + "Invalid field type specified for index " + I + " in data file " + D;
      break;
    case 15878:
      m + "The language driver for data file " + D + " is not available or installed";
      break;
    default: m + "Unknown error occurred with data file " + D; break;
  }
  return m.Take();
}

std::string Cut(std::string_view text) {
  return std::string(text.substr(0, kMaxContextLength));
}

}  // namespace

std::string GetEngineErrorMessage(std::uint16_t code, const ErrorContext& context) {
  return BuildMessage(code, context);
}

std::string GetEngineErrorMessage(std::uint16_t code) {
  // 10758 is raised exactly when there is no session: read no context.
  if (code == Code(ErrorCode::kNotInitialized)) return BuildMessage(code, ErrorContext{});
  const TFileSession* session = CurrentSessionOrNull();
  if (session == nullptr) return BuildMessage(code, ErrorContext{});
  return BuildMessage(code, session->Context());
}

void ClearErrorContext() {
  TFileSession* session = CurrentSession();
  session->Context() = ErrorContext{};
}

void SetErrorContext(std::uint16_t code, std::string_view data_file_name,
                     std::string_view field_name, std::string_view index_name,
                     std::string_view extra_text) {
  if (code == Code(ErrorCode::kNotInitialized)) return;
  ErrorContext& c = CurrentSession()->Context();
  c.code = code;
  c.data_file_name = Cut(data_file_name);
  c.field_name = Cut(field_name);
  c.index_name = Cut(index_name);
  c.extra_text = Cut(extra_text);
}

// Without an engine there is no context to fill: ClearErrorContext then
// raises 10758 itself, which is what the caller sees.
void EngineError(std::uint16_t code, std::string_view data_file_name, std::string_view field_name,
                 std::string_view index_name, std::string_view extra_text) {
  if (code != Code(ErrorCode::kNotInitialized)) {
    ClearErrorContext();
    SetErrorContext(code, data_file_name, field_name, index_name, extra_text);
  }
  RaiseEngineError(code);
}

ETolmidEngineError::ETolmidEngineError(std::int32_t code) : fw::EDatabaseError(std::string()) {
  // Codes outside the 16-bit range (negative results passed to
  // CheckEngineResult) have no text of their own: the default template.
  const std::uint16_t text_code =
      (code >= 0 && code <= 0xFFFF) ? static_cast<std::uint16_t>(code) : std::uint16_t{0};
  std::string text = GetEngineErrorMessage(text_code);
  errors_.push_back(TTolmidError{code, text});
  SetMessage("Tolmid Engine Error # " + std::to_string(code) + " " + text);
}

void RaiseEngineError(std::int32_t code) { throw ETolmidEngineError(code); }

void CheckEngineResult(std::int32_t code) {
  if (code != 0) RaiseEngineError(code);
}

}  // namespace storage
