// Containers and decorations: TPanel (a bevelled area with an optional
// centred caption), TGroupBox (a framed, captioned group), TScrollBox (a
// scrolling area as large as its children need), TBevel (a frame or line)
// and TStatusBar (a line of text at the bottom of a form).
//
// A panel's aligned children share its area inside the border and bevels:
// BorderWidth, plus BevelWidth for each of the outer and inner bevels
// that is not bvNone.
#pragma once

#include "framework/forms/control.h"

namespace fw {

enum class TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);
  void SetCaption(const std::string& caption) override;
  TPanelBevel BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TPanelBevel b);
  TPanelBevel BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TPanelBevel b);
  int BevelWidth() const { return bevel_width_; }
  void SetBevelWidth(int w);
  int BorderWidth() const { return border_width_; }
  void SetBorderWidth(int w);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  // The width of the frame inside which children are aligned.
  int FrameWidth() const;

 protected:
  QRect AlignRect() const override;
  void ColorChanged() override;

 private:
  friend class PanelWidget;
  void Changed();
  TPanelBevel bevel_outer_ = TPanelBevel::bvRaised;
  TPanelBevel bevel_inner_ = TPanelBevel::bvNone;
  int bevel_width_ = 1;
  int border_width_ = 0;
  TAlignment alignment_ = TAlignment::taCenter;
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);
  void SetCaption(const std::string& caption) override;

 protected:
  QRect AlignRect() const override;
};

class TScrollBox : public TWinControl {
 public:
  explicit TScrollBox(TComponent* owner);
  // Makes the scrolled area as large as the view, or as the children need.
  void UpdateScrollRange();

 protected:
  bool WidgetEvent(QEvent* event) override;
  void ApplyBounds(const QRect& r) override;
};

enum class TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum class TBevelStyle { bsLowered, bsRaised };

class TBevel : public TControl {
 public:
  explicit TBevel(TComponent* owner);
  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape s);
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle s);

 private:
  friend class BevelWidget;
  TBevelShape shape_ = TBevelShape::bsBox;
  TBevelStyle style_ = TBevelStyle::bsLowered;
};

class TStatusBar : public TControl {
 public:
  // Aligned to the bottom of its parent.
  explicit TStatusBar(TComponent* owner);
  std::string SimpleText() const { return Caption(); }
  void SetSimpleText(const std::string& text) { SetCaption(text); }
  void SetCaption(const std::string& caption) override;
};

}  // namespace fw
