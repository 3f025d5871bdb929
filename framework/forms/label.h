// TLabel: a line (or, with WordWrap, a block) of text. With AutoSize (the
// default) the label takes the size of its caption whenever it changes.
#pragma once

#include "framework/forms/control.h"

class QLabel;

namespace fw {

class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);
  std::string Caption() const override { return TControl::Caption(); }
  void SetCaption(const std::string& caption) override;
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v);
  // Not transparent: the label's Color fills its background.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);

 protected:
  void FontChanged() override;
  void ColorChanged() override;

 private:
  QLabel* Label() const;
  void Fit();
  bool auto_size_ = true;
  bool word_wrap_ = false;
  bool transparent_ = false;
  TAlignment alignment_ = TAlignment::taLeftJustify;
};

}  // namespace fw
