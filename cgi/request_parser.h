// Parsing of untrusted CGI request data: URL encoding, URL-encoded and
// multipart/form-data bodies, cookies, Basic authorization, and the checks
// that response headers and download names must pass.
//
// Every routine here checks its input against an allow-list and refuses what
// does not fit rather than patching it up. None of them depends on the
// engine's per-request state, so they can be tested and fuzzed on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cgi/form_fields.h"

namespace cgi {

using TNameValueList = std::vector<std::pair<std::string, std::string>>;

// URL encoding of the session store and of responses: a space becomes "+";
// ".", "/", "0".."9", "A".."Z", "\" and "a".."z" stay; every other byte
// becomes "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

enum class TDecodeMode {
  kForm,    // form data: "+" is a space; %00 and raw NUL bytes are refused
  kBinary,  // session records: "+" is a space; %00 is a byte like any other
};

// Decodes %XX escapes (and "+"). Returns false, with out unspecified, on a
// "%" not followed by two hexadecimal digits, and in kForm mode on a NUL
// byte, escaped or raw.
[[nodiscard]] bool UrlDecode(std::string_view in, std::string& out, TDecodeMode mode = TDecodeMode::kForm);

// A form field name is accepted when it is 1 to kMaxFieldNameLength bytes
// long and holds no control character and no "=" (the field lists keep
// lines of the form name=value).
inline constexpr std::size_t kMaxFieldNameLength = 256;
bool IsValidFieldName(std::string_view name);

// Most form fields one request body may carry, URL-encoded or multipart;
// past it the request is refused (413). A query string needs no such cap:
// the web server bounds the request line, and the kernel one environment
// string (128 KiB).
inline constexpr std::size_t kMaxFormFields = 4096;

// Streaming parser of a query string or an application/x-www-form-urlencoded
// body: pairs separated by "&" (";" too, as the HTML 4 recommendation
// allows), each name=value (a pair without "=" has an empty value; a later
// "=" belongs to the value). Bytes may be fed in pieces split at any
// offset; each field is decoded straight into the field list, so the raw
// text need not be kept. Pairs that do not decode or whose name is not
// valid are dropped; a name is no longer stored once it is too long to be
// valid.
class TUrlEncodedParser {
 public:
  // Fields beyond max_fields stop the parser (TooManyFields).
  explicit TUrlEncodedParser(TFormFields& fields, std::size_t max_fields = SIZE_MAX);
  ~TUrlEncodedParser();
  TUrlEncodedParser(const TUrlEncodedParser&) = delete;
  TUrlEncodedParser& operator=(const TUrlEncodedParser&) = delete;

  // Returns false once the field cap was passed; later calls do nothing.
  bool Feed(std::string_view data);
  // Ends the last pair.
  bool Finish();
  bool TooManyFields() const { return too_many_; }
  std::size_t Dropped() const { return dropped_; }
  std::size_t Accepted() const { return accepted_; }

 private:
  enum class State { kStart, kName, kValue, kSkip };
  void EndPair();
  void Bad();
  // Adds decoded bytes to the pair's name or value; false for a name that
  // grows too long.
  bool Emit(std::string_view bytes);

  TFormFields& fields_;
  std::size_t max_fields_;
  State state_ = State::kStart;
  int escape_ = 0;  // hexadecimal digits still due after a "%"
  int escape_value_ = 0;
  std::size_t name_size_ = 0;
  std::size_t accepted_ = 0;
  std::size_t dropped_ = 0;
  bool too_many_ = false;
};

// Parses a whole query string or body with TUrlEncodedParser (no cap);
// returns the count of pairs dropped.
std::size_t ParseUrlEncoded(std::string_view text, TNameValueList& fields);

// Parses an HTTP Cookie header: "name=value" pairs separated by ";". Names
// must be RFC 6265 tokens; values may be in double quotes, which are
// removed; values are taken as they stand (cookies are not URL-encoded).
// Malformed pairs are dropped; returns the count dropped.
std::size_t ParseCookies(std::string_view header, TNameValueList& cookies);

// Basic authorization (RFC 7617): the scheme word "Basic" (any case), blanks,
// then strict Base64 of user ":" password. User and password are trimmed of
// blanks. Returns false, leaving both empty, for another scheme, bad Base64,
// a missing ":" or a NUL byte in the decoded text.
[[nodiscard]] bool DecodeBasicAuthorization(std::string_view header, std::string& user,
                                            std::string& password);
// Strict Base64 (RFC 4648 alphabet with "=" padding only at the end).
[[nodiscard]] bool Base64Decode(std::string_view in, std::string& out);
std::string Base64Encode(std::string_view in);

// Response header checks. A name is an RFC 7230 token; a value holds no
// control character other than horizontal tab (so no CR or LF can split the
// response). A status line "HTTP/1.x NNN reason" is accepted as a name with
// an empty value.
bool IsValidHeaderName(std::string_view name);
bool IsValidHeaderValue(std::string_view value);
bool IsStatusLine(std::string_view line);

// The last path part of a client-supplied or download file name ("/" and
// "\" both separate).
std::string LastPathPart(std::string_view name);
// An RFC 7230 quoted-string: the text in double quotes with "\" and '"'
// escaped by a backslash.
std::string QuoteString(std::string_view text);

// Reads the parameters of a header value such as
//   multipart/form-data; boundary=xyz
//   form-data; name="field"; filename="a.txt"
// The first item (before the first ";") goes to value, lower-cased; the
// parameter names are lower-cased. Returns false on a syntax error.
struct THeaderParams {
  std::string value;
  TNameValueList params;
  const std::string* Find(std::string_view name) const;
};
[[nodiscard]] bool ParseHeaderParams(std::string_view text, THeaderParams& out);

// A multipart boundary (RFC 2046): 1 to 70 characters from the bchars set,
// not ending in a blank.
bool IsValidBoundary(std::string_view boundary);

enum class TMultipartStatus {
  kOk,
  kBadSyntax,      // a delimiter, header or disposition that does not parse
  kHeaderTooLong,  // a part's header section beyond kMaxPartHeaderBytes
  kTooManyParts,
  kTruncated,      // input ended before the closing delimiter
};

const char* MultipartStatusText(TMultipartStatus status);

// Streaming multipart/form-data parser. Bytes may be fed in pieces split at
// any offset; the callbacks see the same parts either way. After an error
// every further call returns the same error.
class TMultipartParser {
 public:
  static constexpr std::size_t kMaxPartHeaderBytes = 16 * 1024;
  static constexpr std::size_t kMaxParts = kMaxFormFields;

  struct TPartInfo {
    std::string name;          // form field name
    std::string file_name;     // last path part of filename="..."; empty for fields
    bool has_file_name = false;
    std::string content_type;  // as sent, or empty
  };
  std::function<bool(const TPartInfo&)> on_part_begin;       // false stops with kBadSyntax
  std::function<bool(std::string_view data)> on_part_data;   // false stops with kBadSyntax
  std::function<bool()> on_part_end;

  // REQUIRES: IsValidBoundary(boundary)
  explicit TMultipartParser(std::string_view boundary);

  TMultipartStatus Feed(const char* data, std::size_t size);
  // Tells the parser that the input has ended.
  TMultipartStatus Finish();
  bool Done() const { return state_ == State::kEpilogue; }

 private:
  enum class State { kPreamble, kAfterDelimiter, kHeaders, kBody, kEpilogue, kError };
  TMultipartStatus Run();
  TMultipartStatus Fail(TMultipartStatus status);
  bool ParsePartHeaders(std::string_view block, TPartInfo& info);

  std::string delimiter_;  // CR LF "--" boundary
  std::string buffer_;     // bytes not yet consumed
  std::size_t offset_ = 0; // consumed prefix of buffer_
  State state_ = State::kPreamble;
  TMultipartStatus error_ = TMultipartStatus::kOk;
  std::size_t parts_ = 0;
};

// The HTTP date (RFC 7231 IMF-fixdate) of a moment given as seconds since
// 1970-01-01 UTC, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::int64_t unix_seconds);

}  // namespace cgi
