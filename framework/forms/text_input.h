// Text the user types or pastes into the framework's text controls. The
// program keeps text in code page 1252 (qt_text.h), where a character that
// the code page has no form for would turn into '?' unnoticed. A control
// applies one of two rules to such characters as they come in:
//   kRefuse         they are taken out again and a box names them
//                   (ForeignCharsMessage); the rest of the edit stays;
//   kPercentEncode  for URLs: each becomes the percent escapes of its UTF-8
//                   bytes, as a browser sends it ("魚" gives "%E9%AD%9A");
//                   characters the code page has stay as they are, since
//                   the HTTP client escapes those itself (nm_http.h).
// The controls guard only what the user enters: text the program sets is
// code page 1252 text already.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>

class QLineEdit;
class QPlainTextEdit;

namespace fw {

class TControl;

enum class TForeignChars { kRefuse, kPercentEncode };

// The code points of text that code page 1252 has no form for, each once,
// in the order of their first appearance.
std::vector<char32_t> ForeignChars(const QString& text);

// What is kept of text under rule; refused (when given) receives the
// characters that kRefuse took out.
QString KeepStorable(const QString& text, TForeignChars rule, std::vector<char32_t>* refused = nullptr);

// "These characters cannot be stored and were left out: U+9B5A, U+306E."
// (at most the first 20, then "...").
std::string ForeignCharsMessage(const std::vector<char32_t>& chars);

// Applies the rule (asked at each edit) to every edit the user makes in
// edit, before the other handlers of its textEdited signal that are
// connected later: the text is put right (the cursor keeps its place
// among the characters kept), then a kRefuse box names what was refused.
void GuardTextInput(QLineEdit* edit, std::function<TForeignChars()> rule, TControl* sender);
// The same with kRefuse for a plain text editor (its textChanged signal).
void GuardTextInput(QPlainTextEdit* edit, TControl* sender);

}  // namespace fw
