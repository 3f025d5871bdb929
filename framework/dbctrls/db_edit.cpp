#include "framework/dbctrls/db_edit.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <algorithm>

#include "framework/db/field.h"
#include "framework/forms/application.h"
#include "framework/forms/memo.h"
#include "framework/forms/qt_text.h"

namespace fw {

TDBEdit::TDBEdit(TComponent* owner) : TFieldControl(owner, new QLineEdit) {
  GuardTextInput(Edit(), [this] { return foreign_chars_; }, this);
  QObject::connect(Edit(), &QLineEdit::textEdited, Edit(), [this] { Guarded([&] { UserEdited(); }, this); });
}

QLineEdit* TDBEdit::Edit() const { return static_cast<QLineEdit*>(Widget()); }

std::string TDBEdit::Text() const { return AnsiStr(Edit()->text()); }

void TDBEdit::SetText(const std::string& text) {
  Edit()->setText(QStr(text));
  UserEdited();
}

void TDBEdit::SetReadOnly(bool v) {
  TFieldControl::SetReadOnly(v);
  Edit()->setReadOnly(v);
}

void TDBEdit::SelectAll() { Edit()->selectAll(); }

void TDBEdit::UserEdited() {
  // Going into edit state re-shows the field; the user's text wins.
  const QString typed = Edit()->text();
  const int cursor = Edit()->cursorPosition();
  if (!BeginUserChange()) return;
  if (Edit()->text() != typed) {
    showing_ = true;
    Edit()->setText(typed);
    Edit()->setCursorPosition(cursor);
    showing_ = false;
    link_.SetModified();
  }
}

void TDBEdit::SetMaxLength(int max_length) {
  max_length_ = std::max(0, max_length);
  ApplyMaxLength();
}

void TDBEdit::SetCutToField(bool v) {
  cut_to_field_ = v;
  ApplyMaxLength();
}

void TDBEdit::ApplyMaxLength() {
  TField* f = Field();
  int limit = cut_to_field_ && f != nullptr && f->DataType() == TFieldType::ftString && f->Size() > 0 ? f->Size()
                                                                                                       : 32767;
  if (max_length_ > 0) limit = std::min(limit, max_length_);
  Edit()->setMaxLength(limit);
}

void TDBEdit::DataChange() {
  TField* f = Field();
  ApplyMaxLength();
  Edit()->setText(f != nullptr ? QStr(f->Text()) : QString());
}

void TDBEdit::UpdateData() {
  if (TField* f = Field()) f->SetText(Text());
}

TDBMemo::TDBMemo(TComponent* owner) : TFieldControl(owner, new QPlainTextEdit) {
  GuardTextInput(Edit(), this);
  QObject::connect(Edit(), &QPlainTextEdit::textChanged, Edit(), [this] {
    if (!showing_) Guarded([&] { UserEdited(); }, this);
  });
}

QPlainTextEdit* TDBMemo::Edit() const { return static_cast<QPlainTextEdit*>(Widget()); }

std::string TDBMemo::Text() const { return PlainTextToAnsi(Edit()->toPlainText()); }

void TDBMemo::SetText(const std::string& text) { Edit()->setPlainText(AnsiToPlainText(text)); }

void TDBMemo::SetReadOnly(bool v) {
  TFieldControl::SetReadOnly(v);
  Edit()->setReadOnly(v);
}

void TDBMemo::UserEdited() {
  const QString typed = Edit()->toPlainText();
  if (!BeginUserChange()) return;
  if (Edit()->toPlainText() != typed) {
    showing_ = true;
    Edit()->setPlainText(typed);
    Edit()->moveCursor(QTextCursor::End);
    showing_ = false;
    link_.SetModified();
  }
}

void TDBMemo::DataChange() {
  TField* f = Field();
  Edit()->setPlainText(f != nullptr ? AnsiToPlainText(f->AsString()) : QString());
}

void TDBMemo::UpdateData() {
  if (TField* f = Field()) f->SetAsString(Text());
}

}  // namespace fw
