#include "sql/sql_lexer.h"

#include "platform/text.h"
#include "sql/sql_error.h"

namespace sql {

bool SameAnsiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (platform::AnsiUpperChar(static_cast<unsigned char>(a[i])) !=
        platform::AnsiUpperChar(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void SqlLexer::Reset(std::string_view text) {
  text_.assign(text);
  pos_ = start_ = quoted_end_ = prev_end_ = 0;
  type_ = kTokenEnd;
  delimiter_ = 0;
}

void SqlLexer::SkipBlanks() {
  while (pos_ < text_.size() && At(pos_) >= 1 && At(pos_) <= 32) ++pos_;
}

void SqlLexer::SkipComment() {
  if (At(pos_) != '/' || At(pos_ + 1) != '*') return;
  // The first '*' inside the comment must close it.
  const std::size_t star = text_.find('*', pos_ + 2);
  if (star == std::string::npos || At(star + 1) != '/') {
    SqlError("Missing ending comment slash and asterisk in SQL statement");
  }
  pos_ = star + 2;
}

void SqlLexer::ReadQuoted(char close, bool doubling, const char* message) {
  type_ = kTokenQuoted;
  delimiter_ = text_[start_];
  std::size_t i = start_ + 1;
  while (true) {
    if (i >= text_.size()) {
      // Unterminated: the text after the opening delimiter, less the last
      // character of the statement, names the place.
      pos_ = text_.size() - 1;
      const std::size_t from = start_ + 1;
      const std::size_t to = text_.size() - 1;
      std::string_view shown;
      if (to > from) shown = std::string_view(text_).substr(from, to - from);
      SqlError(std::string(message) + ShortString(shown) + "'" + " in SQL statement");
    }
    if (text_[i] == close) {
      if (doubling && At(i + 1) == static_cast<unsigned char>(close) && i + 1 < text_.size()) {
        i += 2;
        continue;
      }
      break;
    }
    ++i;
  }
  pos_ = i + 1;
  quoted_end_ = pos_;
}

int SqlLexer::NextToken() {
  prev_end_ = pos_;
  SkipBlanks();
  SkipComment();
  SkipBlanks();
  start_ = pos_;
  delimiter_ = 0;
  if (pos_ >= text_.size()) {
    type_ = kTokenEnd;
    return type_;
  }
  const unsigned char c = At(pos_);
  if (platform::IsCharAlphaA(c) || c == '_') {
    ++pos_;
    while (pos_ < text_.size() && (platform::IsCharAlphaNumericA(At(pos_)) || At(pos_) == '_')) {
      ++pos_;
    }
    type_ = kTokenIdentifier;
  } else if (c == '\'') {
    ReadQuoted('\'', true, "Missing single quote after '");
  } else if (c == '"') {
    ReadQuoted('"', true, "Missing double quote after '");
  } else if (c == '[') {
    ReadQuoted(']', false, "Missing right bracket after '");
  } else if (platform::IsCharAlphaNumericA(c)) {
    auto is_digit = [this](std::size_t i) {
      return platform::IsCharAlphaNumericA(At(i)) && !platform::IsCharAlphaA(At(i));
    };
    // '+' belongs to a number only as the sign of its exponent (1E+5);
    // after any other character it is the operator (4+5, qty*3+2).
    auto is_number_char = [this](std::size_t i) {
      const unsigned char b = At(i);
      if (b == '+') return i > 0 && (At(i - 1) == 'E' || At(i - 1) == 'e');
      return b == '.' || b == 'E' || b == 'e';
    };
    while (pos_ < text_.size() && is_digit(pos_)) ++pos_;
    type_ = kTokenInteger;
    if (pos_ < text_.size() && is_number_char(pos_)) {
      type_ = kTokenNumber;
      while (pos_ < text_.size() && (is_digit(pos_) || is_number_char(pos_))) ++pos_;
    }
  } else if (c == 0) {
    type_ = kTokenNulByte;
    ++pos_;
  } else {
    type_ = c;
    ++pos_;
  }
  return type_;
}

std::string_view SqlLexer::TokenSpan() const {
  std::string_view t(text_);
  if (type_ == kTokenQuoted) {
    const std::size_t from = start_ + 1;
    const std::size_t to = quoted_end_ - 1;
    return to > from ? t.substr(from, to - from) : std::string_view();
  }
  return t.substr(start_, pos_ - start_);
}

std::string SqlLexer::TokenText() const { return ShortString(TokenSpan()); }

std::string SqlLexer::TokenValue() const {
  const std::string_view span = TokenSpan();
  if (type_ != kTokenQuoted || delimiter_ == '[') return std::string(span);
  std::string value;
  value.reserve(span.size());
  for (std::size_t i = 0; i < span.size(); ++i) {
    value += span[i];
    if (span[i] == delimiter_ && i + 1 < span.size() && span[i + 1] == delimiter_) ++i;
  }
  return value;
}

bool SqlLexer::IsKeyword(std::string_view word) const {
  return type_ == kTokenIdentifier && SameAnsiText(TokenSpan(), word);
}

bool SqlLexer::IsQuotedWord(std::string_view word) const {
  return type_ == kTokenQuoted && SameAnsiText(TokenSpan(), word);
}

}  // namespace sql
