#include "framework/forms/edit.h"

#include <QLineEdit>

#include "framework/forms/application.h"
#include "framework/forms/clipboard.h"
#include "framework/forms/qt_text.h"

namespace fw {

TEdit::TEdit(TComponent* owner) : TControl(owner, new QLineEdit) {
  GuardTextInput(Edit(), [this] { return foreign_chars_; }, this);
  QObject::connect(Edit(), &QLineEdit::textChanged, Edit(), [this] {
    if (OnChange) Guarded([&] { OnChange(this); }, this);
  });
  Edit()->setMaxLength(32767);
}

QLineEdit* TEdit::Edit() const { return static_cast<QLineEdit*>(Widget()); }

std::string TEdit::Text() const { return Edit() != nullptr ? AnsiStr(Edit()->text()) : std::string(); }

void TEdit::SetText(const std::string& text) {
  if (Edit() != nullptr) Edit()->setText(QStr(text));
}

bool TEdit::ReadOnly() const { return Edit() != nullptr && Edit()->isReadOnly(); }
void TEdit::SetReadOnly(bool v) { Edit()->setReadOnly(v); }

void TEdit::SetMaxLength(int v) {
  max_length_ = v;
  Edit()->setMaxLength(v > 0 ? v : 32767);
}

void TEdit::SelectAll() { Edit()->selectAll(); }

int TEdit::SelStart() const {
  return Edit()->hasSelectedText() ? Edit()->selectionStart() : Edit()->cursorPosition();
}

void TEdit::SetSelStart(int v) { Edit()->setCursorPosition(v); }

int TEdit::SelLength() const { return static_cast<int>(Edit()->selectedText().size()); }

void TEdit::SetSelLength(int v) { Edit()->setSelection(SelStart(), v); }

std::string TEdit::SelText() const { return AnsiStr(Edit()->selectedText()); }

void TEdit::SetSelText(const std::string& text) { Edit()->insert(QStr(text)); }

void TEdit::CopyToClipboard() {
  if (Edit()->hasSelectedText()) Clipboard().SetAsText(SelText());
}

void TEdit::CutToClipboard() {
  if (!Edit()->hasSelectedText()) return;
  Clipboard().SetAsText(SelText());
  Edit()->del();
}

void TEdit::PasteFromClipboard() {
  if (Clipboard().HasText()) Edit()->paste();
}

}  // namespace fw
