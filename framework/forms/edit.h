// TEdit: a one-line text box. Its Caption is its Text. OnChange runs after
// every change of the text, by the user or by code. Characters the user
// enters that code page 1252 lacks follow ForeignChars (text_input.h):
// refused with a box, or percent-escaped in a box that holds a URL.
#pragma once

#include "framework/forms/control.h"
#include "framework/forms/text_input.h"

class QLineEdit;

namespace fw {

class TEdit : public TControl {
 public:
  explicit TEdit(TComponent* owner);
  std::string Text() const;
  void SetText(const std::string& text);
  std::string Caption() const override { return Text(); }
  void SetCaption(const std::string& caption) override { SetText(caption); }
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int v);  // 0: no limit
  void Clear() { SetText(""); }
  TForeignChars ForeignChars() const { return foreign_chars_; }
  void SetForeignChars(TForeignChars rule) { foreign_chars_ = rule; }

  void SelectAll();
  int SelStart() const;
  void SetSelStart(int v);
  int SelLength() const;
  void SetSelLength(int v);
  std::string SelText() const;
  // Replaces the selection (inserts at the cursor when none).
  void SetSelText(const std::string& text);
  void CopyToClipboard();
  void CutToClipboard();
  // Replaces the selection with the clipboard's text (nothing when the
  // clipboard holds no text), as the user's paste does.
  void PasteFromClipboard();

  TNotifyEvent OnChange;

 protected:
  QLineEdit* Edit() const;

 private:
  int max_length_ = 0;
  TForeignChars foreign_chars_ = TForeignChars::kRefuse;
};

}  // namespace fw
