#include "cgi/request_parser.h"

#include <algorithm>
#include <cstdio>

#include "cgi/blowfish.h"

namespace cgi {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// RFC 7230 tchar.
bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool IsToken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); });
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = LowerAscii(c);
  return out;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (c == ' ') {
      out.push_back('+');
    } else if (c == '.' || c == '/' || c == '\\' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
               (c >= 'a' && c <= 'z')) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

bool UrlDecode(std::string_view in, std::string& out, TDecodeMode mode) {
  out.clear();
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      if (in.size() - i < 3) return false;
      const int hi = HexValue(in[i + 1]);
      const int lo = HexValue(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0' && mode == TDecodeMode::kForm) return false;
    out.push_back(c);
  }
  return true;
}

bool IsValidFieldName(std::string_view name) {
  if (name.empty() || name.size() > kMaxFieldNameLength) return false;
  for (unsigned char c : name) {
    if (IsControl(c) || c == '=') return false;
  }
  return true;
}

TUrlEncodedParser::TUrlEncodedParser(TFormFields& fields, std::size_t max_fields)
    : fields_(fields), max_fields_(max_fields) {}

TUrlEncodedParser::~TUrlEncodedParser() {
  if (state_ == State::kName || state_ == State::kValue) fields_.DropField();
}

void TUrlEncodedParser::Bad() {
  fields_.DropField();
  ++dropped_;
  escape_ = 0;
  state_ = State::kSkip;
}

void TUrlEncodedParser::EndPair() {
  const State state = state_;
  state_ = State::kStart;
  if (state == State::kStart || state == State::kSkip) return;
  if (state == State::kName) fields_.EndName();
  const std::size_t name_size = state == State::kName ? fields_.Pending().size() : name_size_;
  if (escape_ > 0 || !IsValidFieldName(fields_.Pending().substr(0, name_size))) {
    escape_ = 0;
    fields_.DropField();
    ++dropped_;
    return;
  }
  if (++accepted_ > max_fields_) {
    fields_.DropField();
    too_many_ = true;
    return;
  }
  fields_.CommitField();
}

bool TUrlEncodedParser::Feed(std::string_view data) {
  // Bytes that are not plain text in a name or a value.
  auto special = [](char c) { return c == '%' || c == '+' || c == '&' || c == ';' || c == '=' || c == '\0'; };
  std::size_t i = 0;
  while (i < data.size() && !too_many_) {
    const char c = data[i];
    if (c == '&' || c == ';') {
      EndPair();
      ++i;
      continue;
    }
    if (state_ == State::kSkip) {
      ++i;
      continue;
    }
    if (state_ == State::kStart) {
      fields_.BeginField();
      name_size_ = 0;
      state_ = State::kName;
    }
    if (escape_ > 0) {
      const int digit = HexValue(c);
      if (digit < 0) {
        Bad();
        ++i;
        continue;
      }
      escape_value_ = escape_value_ * 16 + digit;
      ++i;
      if (--escape_ > 0) continue;
      if (escape_value_ == 0) {
        Bad();  // %00
        continue;
      }
      const char decoded = static_cast<char>(escape_value_);
      if (!Emit(std::string_view(&decoded, 1))) Bad();
      continue;
    }
    if (c == '%') {
      escape_ = 2;
      escape_value_ = 0;
      ++i;
      continue;
    }
    if (c == '=' && state_ == State::kName) {
      fields_.EndName();
      state_ = State::kValue;
      ++i;
      continue;
    }
    if (c == '\0') {
      Bad();
      ++i;
      continue;
    }
    if (c == '+') {
      if (!Emit(" ")) Bad();
      ++i;
      continue;
    }
    // A run of plain bytes ("=" is plain in a value).
    std::size_t run = i + 1;
    while (run < data.size() && (!special(data[run]) || (data[run] == '=' && state_ == State::kValue))) ++run;
    if (!Emit(data.substr(i, run - i))) Bad();
    i = run;
  }
  return !too_many_;
}

bool TUrlEncodedParser::Emit(std::string_view bytes) {
  if (state_ == State::kName) {
    // A name past the longest valid one is dropped anyway: stop storing it.
    if (bytes.size() > kMaxFieldNameLength - name_size_) return false;
    name_size_ += bytes.size();
  }
  fields_.Append(bytes);
  return true;
}

bool TUrlEncodedParser::Finish() {
  if (!too_many_) EndPair();
  return !too_many_;
}

std::size_t ParseUrlEncoded(std::string_view text, TNameValueList& fields) {
  TFormFields parsed;
  std::size_t dropped;
  {
    TUrlEncodedParser parser(parsed);
    parser.Feed(text);
    parser.Finish();
    dropped = parser.Dropped();
  }
  for (std::size_t i = 0; i < parsed.Count(); ++i) {
    fields.emplace_back(std::string(parsed.Name(i)), std::string(parsed.Value(i)));
  }
  return dropped;
}

std::size_t ParseCookies(std::string_view header, TNameValueList& cookies) {
  std::size_t dropped = 0;
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    std::string_view pair = TrimBlanks(header.substr(0, end));
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) {
      ++dropped;
      continue;
    }
    const std::string_view name = TrimBlanks(pair.substr(0, eq));
    std::string_view value = TrimBlanks(pair.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    // cookie-octet of RFC 6265: no controls, blanks, '"', ',', ';' or '\'.
    const bool good_value = std::all_of(value.begin(), value.end(), [](char ch) {
      const auto c = static_cast<unsigned char>(ch);
      return c > 0x20 && c < 0x7F && c != '"' && c != ',' && c != ';' && c != '\\';
    });
    if (!IsToken(name) || !good_value) {
      ++dropped;
      continue;
    }
    cookies.emplace_back(std::string(name), std::string(value));
  }
  return dropped;
}

bool Base64Decode(std::string_view in, std::string& out) {
  out.clear();
  if (in.size() % 4 != 0) return false;
  out.reserve(in.size() / 4 * 3);
  for (std::size_t i = 0; i < in.size(); i += 4) {
    std::uint32_t acc = 0;
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = in[i + k];
      int v;
      if (c >= 'A' && c <= 'Z') {
        v = c - 'A';
      } else if (c >= 'a' && c <= 'z') {
        v = c - 'a' + 26;
      } else if (c >= '0' && c <= '9') {
        v = c - '0' + 52;
      } else if (c == '+') {
        v = 62;
      } else if (c == '/') {
        v = 63;
      } else if (c == '=' && i + 4 == in.size() && k >= 2) {
        v = 0;
        ++pad;
      } else {
        return false;
      }
      if (pad > 0 && c != '=') return false;  // "=" only at the very end
      acc = (acc << 6) | static_cast<std::uint32_t>(v);
    }
    out.push_back(static_cast<char>(acc >> 16));
    if (pad < 2) out.push_back(static_cast<char>(acc >> 8));
    if (pad < 1) out.push_back(static_cast<char>(acc));
  }
  return true;
}

std::string Base64Encode(std::string_view in) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    std::uint32_t acc = static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << 16;
    if (i + 1 < in.size()) acc |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i + 1])) << 8;
    if (i + 2 < in.size()) acc |= static_cast<unsigned char>(in[i + 2]);
    out.push_back(kAlphabet[(acc >> 18) & 63]);
    out.push_back(kAlphabet[(acc >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(acc >> 6) & 63] : '=');
    out.push_back(i + 2 < in.size() ? kAlphabet[acc & 63] : '=');
  }
  return out;
}

bool DecodeBasicAuthorization(std::string_view header, std::string& user, std::string& password) {
  user.clear();
  password.clear();
  header = TrimBlanks(header);
  const std::size_t space = header.find_first_of(" \t");
  if (space == std::string_view::npos || !SameAscii(header.substr(0, space), "Basic")) return false;
  std::string decoded;
  if (!Base64Decode(TrimBlanks(header.substr(space + 1)), decoded)) return false;
  const std::size_t colon = decoded.find(':');
  if (colon == std::string::npos || decoded.find('\0') != std::string::npos) return false;
  user = std::string(TrimBlanks(std::string_view(decoded).substr(0, colon)));
  password = std::string(TrimBlanks(std::string_view(decoded).substr(colon + 1)));
  SecureWipe(decoded);  // it held the password
  return true;
}

bool IsValidHeaderName(std::string_view name) { return IsToken(name) || IsStatusLine(name); }

bool IsValidHeaderValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == '\t' || !IsControl(c);
  });
}

bool IsStatusLine(std::string_view line) {
  // "HTTP/1." digit SP 3DIGIT [SP reason]
  if (line.size() < 12 || line.substr(0, 7) != "HTTP/1.") return false;
  if (line[7] < '0' || line[7] > '9' || line[8] != ' ') return false;
  for (int i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  if (line[9] < '1' || line[9] > '5') return false;
  if (line.size() > 12 && line[12] != ' ') return false;
  return IsValidHeaderValue(line);
}

std::string LastPathPart(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

std::string QuoteString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

const std::string* THeaderParams::Find(std::string_view name) const {
  for (const auto& [n, v] : params) {
    if (n == name) return &v;
  }
  return nullptr;
}

bool ParseHeaderParams(std::string_view text, THeaderParams& out) {
  out.value.clear();
  out.params.clear();
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto skip_blanks = [&] {
    while (i < n && IsBlank(text[i])) ++i;
  };
  skip_blanks();
  const std::size_t value_start = i;
  while (i < n && text[i] != ';') ++i;
  out.value = LowerAscii(TrimBlanks(text.substr(value_start, i - value_start)));
  if (!IsValidHeaderValue(out.value)) return false;
  while (i < n) {
    ++i;  // the ';'
    skip_blanks();
    if (i == n) break;  // a trailing ';'
    const std::size_t name_start = i;
    while (i < n && IsTokenChar(static_cast<unsigned char>(text[i]))) ++i;
    const std::string name = LowerAscii(text.substr(name_start, i - name_start));
    skip_blanks();
    if (name.empty() || i == n || text[i] != '=') return false;
    ++i;
    skip_blanks();
    std::string value;
    if (i < n && text[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        char c = text[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i == n) return false;
          c = text[i++];
        }
        if (IsControl(static_cast<unsigned char>(c)) && c != '\t') return false;
        value.push_back(c);
      }
      if (!closed) return false;
    } else {
      const std::size_t v_start = i;
      while (i < n && IsTokenChar(static_cast<unsigned char>(text[i]))) ++i;
      value = std::string(text.substr(v_start, i - v_start));
      if (value.empty()) return false;
    }
    skip_blanks();
    if (i < n && text[i] != ';') return false;
    out.params.emplace_back(name, std::move(value));
  }
  return true;
}

bool IsValidBoundary(std::string_view boundary) {
  if (boundary.empty() || boundary.size() > 70 || boundary.back() == ' ') return false;
  return std::all_of(boundary.begin(), boundary.end(), [](char c) {
    if ((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) return true;
    return std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
  });
}

const char* MultipartStatusText(TMultipartStatus status) {
  switch (status) {
    case TMultipartStatus::kOk: return "ok";
    case TMultipartStatus::kBadSyntax: return "malformed multipart body";
    case TMultipartStatus::kHeaderTooLong: return "multipart part header too long";
    case TMultipartStatus::kTooManyParts: return "too many multipart parts";
    case TMultipartStatus::kTruncated: return "multipart body ended early";
  }
  return "?";
}

// The body is scanned for CR LF "--" boundary. So that a delimiter at the
// very start (no preamble) is found too, the scan starts as if a CR LF came
// before the first byte.
TMultipartParser::TMultipartParser(std::string_view boundary)
    : delimiter_("\r\n--" + std::string(boundary)), buffer_("\r\n") {}

TMultipartStatus TMultipartParser::Fail(TMultipartStatus status) {
  state_ = State::kError;
  error_ = status;
  buffer_.clear();
  offset_ = 0;
  return status;
}

TMultipartStatus TMultipartParser::Feed(const char* data, std::size_t size) {
  if (state_ == State::kError) return error_;
  if (state_ == State::kEpilogue) return TMultipartStatus::kOk;  // the epilogue is ignored
  buffer_.append(data, size);
  const TMultipartStatus status = Run();
  // Drop the consumed prefix now and then, not on every call.
  if (offset_ > 4096 && offset_ * 2 > buffer_.size()) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  return status;
}

TMultipartStatus TMultipartParser::Finish() {
  if (state_ == State::kError) return error_;
  if (state_ != State::kEpilogue) return Fail(TMultipartStatus::kTruncated);
  return TMultipartStatus::kOk;
}

TMultipartStatus TMultipartParser::Run() {
  for (;;) {
    std::string_view rest(buffer_);
    rest.remove_prefix(offset_);
    switch (state_) {
      case State::kPreamble: {
        const std::size_t at = rest.find(delimiter_);
        if (at == std::string_view::npos) {
          // Keep only what could be the start of a delimiter.
          if (rest.size() >= delimiter_.size()) offset_ += rest.size() - (delimiter_.size() - 1);
          return TMultipartStatus::kOk;
        }
        offset_ += at + delimiter_.size();
        state_ = State::kAfterDelimiter;
        break;
      }
      case State::kAfterDelimiter: {
        // "--" closes; else optional blanks (transport padding) and CR LF.
        if (rest.size() < 2) return TMultipartStatus::kOk;
        if (rest.substr(0, 2) == "--") {
          offset_ += 2;
          state_ = State::kEpilogue;
          buffer_.clear();
          offset_ = 0;
          return TMultipartStatus::kOk;
        }
        std::size_t i = 0;
        while (i < rest.size() && IsBlank(rest[i])) ++i;
        if (i > 64) return Fail(TMultipartStatus::kBadSyntax);
        if (rest.size() - i < 2) return TMultipartStatus::kOk;
        if (rest.substr(i, 2) != "\r\n") return Fail(TMultipartStatus::kBadSyntax);
        offset_ += i + 2;
        if (++parts_ > kMaxParts) return Fail(TMultipartStatus::kTooManyParts);
        state_ = State::kHeaders;
        break;
      }
      case State::kHeaders: {
        // A part with no headers at all starts straight with CR LF.
        std::size_t end;
        std::size_t skip;
        if (rest.substr(0, 2) == "\r\n") {
          end = 0;
          skip = 2;
        } else {
          end = rest.find("\r\n\r\n");
          skip = 4;
        }
        if (end == std::string_view::npos) {
          if (rest.size() > kMaxPartHeaderBytes) return Fail(TMultipartStatus::kHeaderTooLong);
          return TMultipartStatus::kOk;
        }
        if (end > kMaxPartHeaderBytes) return Fail(TMultipartStatus::kHeaderTooLong);
        TPartInfo info;
        if (!ParsePartHeaders(rest.substr(0, end), info)) return Fail(TMultipartStatus::kBadSyntax);
        offset_ += end + skip;
        if (on_part_begin && !on_part_begin(info)) return Fail(TMultipartStatus::kBadSyntax);
        state_ = State::kBody;
        break;
      }
      case State::kBody: {
        const std::size_t at = rest.find(delimiter_);
        if (at == std::string_view::npos) {
          // Everything but a possible partial delimiter at the end is data.
          if (rest.size() >= delimiter_.size()) {
            const std::size_t safe = rest.size() - (delimiter_.size() - 1);
            if (on_part_data && !on_part_data(rest.substr(0, safe))) return Fail(TMultipartStatus::kBadSyntax);
            offset_ += safe;
          }
          return TMultipartStatus::kOk;
        }
        if (at > 0 && on_part_data && !on_part_data(rest.substr(0, at))) {
          return Fail(TMultipartStatus::kBadSyntax);
        }
        if (on_part_end && !on_part_end()) return Fail(TMultipartStatus::kBadSyntax);
        offset_ += at + delimiter_.size();
        state_ = State::kAfterDelimiter;
        break;
      }
      case State::kEpilogue:
        return TMultipartStatus::kOk;
      case State::kError:
        return error_;
    }
  }
}

// Only the MIME headers a form part needs are read; all others are
// ignored. Each line must still be "Name: value".
bool TMultipartParser::ParsePartHeaders(std::string_view block, TPartInfo& info) {
  bool have_disposition = false;
  while (!block.empty()) {
    const std::size_t eol = block.find("\r\n");
    const std::string_view line = block.substr(0, eol);
    block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return false;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!IsValidHeaderValue(value)) return false;
    if (SameAscii(name, "Content-Disposition")) {
      if (have_disposition) return false;
      have_disposition = true;
      THeaderParams params;
      if (!ParseHeaderParams(value, params) || params.value != "form-data") return false;
      const std::string* field = params.Find("name");
      if (field == nullptr || !IsValidFieldName(*field)) return false;
      info.name = *field;
      if (const std::string* file = params.Find("filename")) {
        if (file->find('\0') != std::string::npos) return false;
        info.has_file_name = true;
        info.file_name = LastPathPart(*file);
      }
    } else if (SameAscii(name, "Content-Type")) {
      info.content_type = std::string(value);
    }
  }
  return have_disposition;
}

std::string HttpDate(std::int64_t unix_seconds) {
  static const char kDays[] = "SunMonTueWedThuFriSat";
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::int64_t days = unix_seconds / 86400;
  std::int64_t secs = unix_seconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  // Civil date from a day count (H. Hinnant's algorithm).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t year = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  const std::int64_t weekday = ((days % 7) + 11) % 7;  // 1970-01-01 was a Thursday
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.3s, %02d %.3s %04lld %02d:%02d:%02d GMT", kDays + weekday * 3,
                static_cast<int>(day), kMonths + (month - 1) * 3, static_cast<long long>(year),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf;
}

}  // namespace cgi
