// TMemo: a multi-line text box; Lines() reads and writes its lines.
#pragma once

#include <memory>

#include "framework/forms/control.h"
#include "framework/forms/control_strings.h"

class QPlainTextEdit;

namespace fw {

class TMemo : public TControl {
 public:
  explicit TMemo(TComponent* owner);
  ~TMemo() override;
  TControlStrings& Lines() { return *lines_; }
  const TControlStrings& Lines() const { return *lines_; }
  // The whole text, lines separated by CR LF (no CR LF after the last).
  std::string Text() const;
  void SetText(const std::string& text);
  std::string Caption() const override { return Text(); }
  void SetCaption(const std::string& caption) override { SetText(caption); }
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v);
  void Clear() { SetText(""); }
  void SelectAll();

  TNotifyEvent OnChange;

 protected:
  QPlainTextEdit* Edit() const;

 private:
  std::unique_ptr<TControlStrings> lines_;
  bool word_wrap_ = true;
};

// Text of a plain-text widget with CR LF line ends, and back.
std::string PlainTextToAnsi(const QString& text);
QString AnsiToPlainText(const std::string& text);

}  // namespace fw
