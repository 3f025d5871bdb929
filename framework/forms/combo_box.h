// TComboBox: a drop-down list; csDropDown lets the user type any text,
// csDropDownList only pick an item. OnChange runs when the text changes.
#pragma once

#include <memory>

#include "framework/forms/control.h"
#include "framework/forms/control_strings.h"

class QComboBox;

namespace fw {

enum class TComboBoxStyle { csDropDown, csSimple, csDropDownList };

class TComboBox : public TControl {
 public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;
  TControlStrings& Items() { return *items_; }
  const TControlStrings& Items() const { return *items_; }
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle style);
  std::string Text() const;
  // In csDropDownList the text must be an item's (else no item is chosen).
  void SetText(const std::string& text);
  std::string Caption() const override { return Text(); }
  void SetCaption(const std::string& caption) override { SetText(caption); }
  int ItemIndex() const;
  void SetItemIndex(int index);
  int DropDownCount() const;
  void SetDropDownCount(int n);

  TNotifyEvent OnChange;

 protected:
  QComboBox* Combo() const;

 private:
  std::unique_ptr<TControlStrings> items_;
  TComboBoxStyle style_ = TComboBoxStyle::csDropDown;
};

// The items of a QComboBox as control strings.
std::unique_ptr<TControlStrings> ComboItems(QComboBox* combo);

}  // namespace fw
