// TDBEdit (one line) and TDBMemo (a memo or string field, many lines):
// text controls bound to a field (see framework/dbctrls/db_field_control.h
// for the editing rule). Characters the user enters that code page 1252
// lacks are refused with a box (text_input.h); a TDBEdit that holds a URL
// percent-escapes them instead.
#pragma once

#include "framework/dbctrls/db_field_control.h"
#include "framework/forms/text_input.h"

class QLineEdit;
class QPlainTextEdit;

namespace fw {

class TDBEdit : public TFieldControl {
 public:
  explicit TDBEdit(TComponent* owner);
  std::string Text() const;
  // As typing does: puts the dataset into edit state first.
  void SetText(const std::string& text);
  void SetReadOnly(bool v) override;
  void SelectAll();
  // Characters the user may type: at most the string field's size, and at
  // most max_length when it is above 0 (0: the field's size alone).
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int max_length);
  // Off: the edit takes text of any length (MaxLength still applies), for
  // a form that refuses text the field would store cut short itself
  // instead of letting a paste be cut silently. On at first.
  bool CutToField() const { return cut_to_field_; }
  void SetCutToField(bool v);
  TForeignChars ForeignChars() const { return foreign_chars_; }
  void SetForeignChars(TForeignChars rule) { foreign_chars_ = rule; }

 protected:
  void DataChange() override;
  void UpdateData() override;

 private:
  QLineEdit* Edit() const;
  void UserEdited();
  void ApplyMaxLength();
  int max_length_ = 0;
  bool cut_to_field_ = true;
  TForeignChars foreign_chars_ = TForeignChars::kRefuse;
};

class TDBMemo : public TFieldControl {
 public:
  explicit TDBMemo(TComponent* owner);
  std::string Text() const;
  void SetText(const std::string& text);
  void SetReadOnly(bool v) override;

 protected:
  void DataChange() override;
  void UpdateData() override;

 private:
  QPlainTextEdit* Edit() const;
  void UserEdited();
};

}  // namespace fw
