// TCheckBox and TRadioButton. Setting Checked in code runs OnClick when the
// state changes, as a click does; radio buttons of one parent exclude each
// other.
#pragma once

#include "framework/forms/control.h"

class QAbstractButton;

namespace fw {

class TCheckBox : public TControl {
 public:
  explicit TCheckBox(TComponent* owner);
  void SetCaption(const std::string& caption) override;
  bool Checked() const;
  void SetChecked(bool v);

 protected:
  TCheckBox(TComponent* owner, QAbstractButton* widget);

 private:
  QAbstractButton* Button() const;
  bool setting_ = false;
};

class TRadioButton : public TCheckBox {
 public:
  explicit TRadioButton(TComponent* owner);
};

}  // namespace fw
