#include "framework/forms/text_input.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>
#include <cstdio>

#include "framework/forms/application.h"
#include "framework/forms/control.h"
#include "framework/forms/dialogs.h"
#include "platform/text.h"

namespace fw {

namespace {

constexpr std::size_t kNamedAtMost = 20;

bool HasAnsiForm(char32_t c) {
  if (c < 0x80) return true;
  const std::string utf8 = QString::fromUcs4(&c, 1).toStdString();
  return platform::Utf8ToCp1252(utf8) != "?";
}

// Calls fn(code point, index of its first UTF-16 unit, its unit count) for
// each character of text; a lone surrogate counts as a character of its own
// (U+FFFD, which has no form either).
template <class Fn>
void ForEachChar(const QString& text, Fn fn) {
  for (qsizetype i = 0; i < text.size();) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      fn(QChar::surrogateToUcs4(c, text[i + 1]), i, qsizetype{2});
      i += 2;
    } else {
      fn(c.isSurrogate() ? char32_t{0xFFFD} : char32_t{c.unicode()}, i, qsizetype{1});
      ++i;
    }
  }
}

// The percent escapes of c's UTF-8 bytes.
QString PercentEscapes(char32_t c) {
  QString out;
  for (const char byte : QString::fromUcs4(&c, 1).toUtf8()) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(byte));
    out += QLatin1String(hex);
  }
  return out;
}

// Puts what rule keeps of text in place of it; *cursor moves with the
// characters before it. Returns the characters refused.
std::vector<char32_t> KeepStorableAt(QString& text, TForeignChars rule, int* cursor) {
  std::vector<char32_t> refused;
  QString kept;
  int new_cursor = cursor != nullptr ? *cursor : 0;
  ForEachChar(text, [&](char32_t c, qsizetype at, qsizetype units) {
    if (HasAnsiForm(c)) {
      kept += text.mid(at, units);
      return;
    }
    const QString instead = rule == TForeignChars::kPercentEncode ? PercentEscapes(c) : QString();
    if (rule == TForeignChars::kRefuse && std::find(refused.begin(), refused.end(), c) == refused.end())
      refused.push_back(c);
    kept += instead;
    if (cursor != nullptr && at < *cursor) new_cursor += static_cast<int>(instead.size() - units);
  });
  text = kept;
  if (cursor != nullptr) *cursor = new_cursor;
  return refused;
}

void SayRefused(const std::vector<char32_t>& refused) {
  if (!refused.empty())
    MessageDlg(ForeignCharsMessage(refused), TMsgDlgType::mtInformation, {TMsgDlgBtn::mbOK});
}

bool AllAnsi(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

}  // namespace

std::vector<char32_t> ForeignChars(const QString& text) {
  std::vector<char32_t> out;
  ForEachChar(text, [&](char32_t c, qsizetype, qsizetype) {
    if (!HasAnsiForm(c) && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  });
  return out;
}

QString KeepStorable(const QString& text, TForeignChars rule, std::vector<char32_t>* refused) {
  QString kept = text;
  std::vector<char32_t> out = KeepStorableAt(kept, rule, nullptr);
  if (refused != nullptr) *refused = std::move(out);
  return kept;
}

std::string ForeignCharsMessage(const std::vector<char32_t>& chars) {
  std::string names;
  for (std::size_t i = 0; i < chars.size() && i < kNamedAtMost; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(chars[i]));
    if (!names.empty()) names += ", ";
    names += name;
  }
  if (chars.size() > kNamedAtMost) names += ", ...";
  return "These characters cannot be stored and were left out: " + names + ".";
}

void GuardTextInput(QLineEdit* edit, std::function<TForeignChars()> rule, TControl* sender) {
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, rule = std::move(rule), sender] {
    Guarded([&] {
      QString text = edit->text();
      if (AllAnsi(text)) return;
      int cursor = edit->cursorPosition();
      const std::vector<char32_t> refused = KeepStorableAt(text, rule(), &cursor);
      if (text == edit->text()) return;
      edit->setText(text);
      edit->setCursorPosition(cursor);
      SayRefused(refused);
    }, sender);
  });
}

void GuardTextInput(QPlainTextEdit* edit, TControl* sender) {
  QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, sender] {
    Guarded([&] {
      QString text = edit->toPlainText();
      if (AllAnsi(text)) return;
      int cursor = edit->textCursor().position();
      const std::vector<char32_t> refused = KeepStorableAt(text, TForeignChars::kRefuse, &cursor);
      if (refused.empty()) return;
      edit->setPlainText(text);
      QTextCursor c = edit->textCursor();
      c.setPosition(std::min(cursor, static_cast<int>(text.size())));
      edit->setTextCursor(c);
      SayRefused(refused);
    }, sender);
  });
}

}  // namespace fw
