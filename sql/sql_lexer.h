// The SQL lexer: splits one statement into tokens.
//
// Token types: 0 end of text; 1 identifier; 2 quoted string or quoted name
// ('...', "..." or [...]); 3 integer; 4 number with a fraction or exponent;
// any other value is the code of a single character token (',' '.' '(' ...).
// A zero byte inside the text is not the end: it is a token of its own,
// type kTokenNulByte, so that nothing after it is silently dropped.
//
// Blanks are the bytes 1 to 32. One comment /* ... */ is skipped between two
// tokens; a second comment right after it reads as the character '/'.
// Numbers: digits, and when the byte after them is '.', 'E' or 'e', a type
// 4 token running over digits, '.', 'E', 'e' and a '+' right after an E
// ("1.5E+3" is one token, "1E-3" is "1E", '-', "3", and "4+5" is 4, '+',
// 5). '-' never starts a number.
//
// The lexer never reads past the end of its copy of the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sql {

inline constexpr int kTokenEnd = 0;
inline constexpr int kTokenIdentifier = 1;
inline constexpr int kTokenQuoted = 2;
inline constexpr int kTokenInteger = 3;
inline constexpr int kTokenNumber = 4;
inline constexpr int kTokenNulByte = 256;

class SqlLexer {
 public:
  // Copies text and moves before its first token.
  void Reset(std::string_view text);

  // Reads the next token and returns its type. Raises the SQL error for an
  // unterminated comment, quoted string or bracketed name.
  int NextToken();

  [[nodiscard]] int TokenType() const { return type_; }
  [[nodiscard]] bool IsTokenType(int t) const { return type_ == t; }
  // The current token as written: for a quoted token the bytes between its
  // delimiters as they stand (a doubled quote stays doubled), else the bytes
  // from the token start to the current position. Cut to 255 characters.
  [[nodiscard]] std::string TokenText() const;
  // The same, whole.
  [[nodiscard]] std::string_view TokenSpan() const;
  // What a quoted token stands for: its text with every doubled delimiter
  // ('' in '...', "" in "...") read as one. Other tokens: TokenSpan. Whole.
  [[nodiscard]] std::string TokenValue() const;
  // An identifier whose text equals word ignoring case.
  [[nodiscard]] bool IsKeyword(std::string_view word) const;
  // A quoted token whose text equals word ignoring case.
  [[nodiscard]] bool IsQuotedWord(std::string_view word) const;

  [[nodiscard]] std::size_t TokenStart() const { return start_; }
  // Where the previous token ended: the position before the blanks and the
  // comment that precede the current token.
  [[nodiscard]] std::size_t PreviousEnd() const { return prev_end_; }
  [[nodiscard]] std::string_view Text() const { return text_; }

 private:
  [[nodiscard]] unsigned char At(std::size_t i) const {
    return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
  }
  void SkipBlanks();
  void SkipComment();
  void ReadQuoted(char close, bool doubling, const char* message);

  std::string text_;
  std::size_t pos_ = 0;         // current position
  std::size_t start_ = 0;       // start of the current token
  std::size_t quoted_end_ = 0;  // just past the closing delimiter
  std::size_t prev_end_ = 0;
  int type_ = kTokenEnd;
  char delimiter_ = 0;          // opening delimiter of a quoted token
};

// Equal ignoring case (code page 1252 upper case).
bool SameAnsiText(std::string_view a, std::string_view b);

}  // namespace sql
