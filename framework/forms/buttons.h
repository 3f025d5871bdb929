// Buttons. TButton and TBitBtn: a push button; its ModalResult, when set,
// becomes the form's ModalResult on a click (closing a modal form) before
// OnClick runs. A TBitBtn's Kind sets its caption and result (bkOK: "OK",
// mrOk; bkCancel: "Cancel", mrCancel; bkClose: "&Close", closes the form).
// TSpeedButton: a flat tool button; buttons of one parent with the same
// non-zero GroupIndex stay down one at a time.
//
// Click() runs the handler directly, even on a disabled button: code
// "clicks" buttons to share their handlers.
#pragma once

#include "framework/forms/control.h"
#include "framework/forms/message_service.h"

class QAbstractButton;

namespace fw {

class TButton : public TControl {
 public:
  explicit TButton(TComponent* owner);
  void SetCaption(const std::string& caption) override;
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult r) { modal_result_ = r; }
  // Enter presses the default button, Escape the cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool v);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool v);
  void Click() override;

 protected:
  TButton(TComponent* owner, QAbstractButton* widget);

 private:
  void Connect();
  TModalResult modal_result_ = mrNone;
  bool default_ = false;
  bool cancel_ = false;
};

enum class TBitBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry, bkIgnore, bkAll };

class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* owner) : TButton(owner) {}
  TBitBtnKind Kind() const { return kind_; }
  void SetKind(TBitBtnKind kind);
  void Click() override;

 private:
  TBitBtnKind kind_ = TBitBtnKind::bkCustom;
};

class TSpeedButton : public TButton {
 public:
  explicit TSpeedButton(TComponent* owner);
  int GroupIndex() const { return group_index_; }
  void SetGroupIndex(int v) { group_index_ = v; }
  bool Down() const { return down_; }
  void SetDown(bool v);
  bool AllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool v) { allow_all_up_ = v; }
  bool Flat() const { return flat_; }
  void SetFlat(bool v);
  void Click() override;

 private:
  int group_index_ = 0;
  bool down_ = false;
  bool allow_all_up_ = false;
  bool flat_ = false;
};

}  // namespace fw
