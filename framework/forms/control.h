// TControl and TWinControl: visual components on Qt widgets.
//
// A control is a component (owned by its owner, usually the form, which
// frees it) wrapping one QWidget, which it owns: the control's destructor
// deletes the widget unless Qt already did (its parent widget went first).
// The widget's object name is the component's name. The control's parent
// (a TWinControl) is the container it shows in; Qt's parent of the widget
// follows it.
//
// Layout: coordinates are the parent's client coordinates. A container
// lays out its children when its size changes:
//   - aligned children first, in this order: alTop (by Top), alBottom (by
//     bottom edge, lowest first), alLeft (by Left), alRight (by right edge,
//     rightmost first), each taking a strip of what is left, then alClient
//     children fill the rest;
//   - then anchored children: a control keeps its distance to each edge it
//     is anchored to (akLeft | akTop by default); anchored to both left and
//     right it stretches. Distances are taken when the control's bounds,
//     anchors or parent are set, from the parent's size at that moment:
//     give a container its size before placing anchored children in it.
//
// Every handler a control calls for Qt (clicks, keys, resizes) runs
// through Guarded (framework/forms/application.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QRect>
#include <QWidget>

#include "framework/component.h"
#include "framework/gui/graphics.h"

class QEvent;

namespace fw {

class ControlEventFilter;
class TForm;
class TWinControl;

using TNotifyEvent = std::function<void(TComponent* sender)>;
// key: the Qt key code; shift: TShiftState bits.
using TKeyEvent = std::function<void(TComponent* sender, int& key, unsigned shift)>;
enum TShiftState : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

struct TFont {
  std::string Name;     // empty: the default face
  int Size = 8;         // points
  TColor Color = clWindowText;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
};

class TControl : public TComponent {
 public:
  ~TControl() override;

  QWidget* Widget() const { return widget_; }
  // The window handle the platform calls take (ShellExecuteA's first
  // argument): the widget.
  void* Handle() const { return widget_.data(); }
  void SetName(const std::string& name) override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);
  // The form the control shows on (itself for a form), or nullptr.
  TForm* ParentForm() const;

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
  virtual void SetBounds(int left, int top, int width, int height);
  virtual int ClientWidth() const { return Width(); }
  virtual int ClientHeight() const { return Height(); }
  virtual void SetClientWidth(int v) { SetWidth(v); }
  virtual void SetClientHeight(int v) { SetHeight(v); }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  unsigned Anchors() const { return anchors_; }
  void SetAnchors(unsigned anchors);

  // The control's own visibility flag (it shows when its parents do).
  virtual bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);

  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  // Hints show only where ShowHint is on; a control follows its parent's
  // ShowHint until its own is set.
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool show);
  bool ParentShowHint() const { return parent_show_hint_; }

  // Label, button, panel and check-box captions; the window title of a
  // form; the text of an edit.
  virtual std::string Caption() const { return caption_; }
  virtual void SetCaption(const std::string& caption);
  TColor Color() const { return color_; }
  virtual void SetColor(TColor color);
  const TFont& Font() const { return font_; }
  virtual void SetFont(const TFont& font);

  void Invalidate();
  // Paints at once.
  void Repaint();
  void Refresh() { Repaint(); }
  void Update();
  bool Focused() const;
  virtual bool CanFocus() const;
  // Gives the control the keyboard focus (EInvalidOperation "Cannot focus
  // a disabled or invisible window" when it cannot take it).
  virtual void SetFocus();

  // What a user's click does: runs OnClick. Code may call it on a disabled
  // control; the handler runs all the same.
  virtual void Click();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;

 protected:
  // widget: the control's widget, owned from now on.
  TControl(TComponent* owner, QWidget* widget);
  // Qt events of the widget, before the widget sees them; true eats it.
  virtual bool WidgetEvent(QEvent* event);
  // Controls whose click is a mouse release on them (labels, images,
  // panels); buttons report clicks through their own signal.
  void SetClickOnMouseRelease(bool v) { click_on_release_ = v; }
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void ShowHintChanged();
  // Puts the widget where Qt's layout wants the bounds (forms move their
  // window, others their widget).
  virtual void ApplyBounds(const QRect& r);
  // Re-measures the anchor distances to the parent's edges.
  void TakeAnchorOrigin();
  // Shows or hides the widget by Visible (a parentless control stays as it
  // is: it would become a window of its own).
  virtual void ApplyVisibility();

 private:
  friend class TWinControl;
  friend class ControlEventFilter;
  void ApplyHint();
  void SetParentShowHintValue(bool show);
  void AnchorTo(int parent_width, int parent_height);

  QPointer<QWidget> widget_;
  QPointer<ControlEventFilter> filter_;  // a child of the widget
  TWinControl* parent_ = nullptr;
  TAlign align_ = TAlign::alNone;
  unsigned anchors_ = akLeft | akTop;
  // Distances to the parent's right and bottom edges when anchored.
  int right_gap_ = 0;
  int bottom_gap_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  bool show_hint_ = false;
  bool parent_show_hint_ = true;
  std::string caption_;
  TColor color_ = clBtnFace;
  TFont font_;
  bool click_on_release_ = false;
  bool mouse_pressed_ = false;
};

class TWinControl : public TControl {
 public:
  ~TWinControl() override;
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<std::size_t>(index)); }
  // The widget children are placed in.
  QWidget* ClientWidget() const { return client_ != nullptr ? client_.data() : Widget(); }
  int ClientWidth() const override;
  int ClientHeight() const override;
  // Lays out the aligned and anchored children (see the top of the file).
  void AlignControls();

 protected:
  // client: the widget children are placed in (nullptr: widget itself).
  TWinControl(TComponent* owner, QWidget* widget, QWidget* client = nullptr);
  // The client rectangle that aligned children share.
  virtual QRect AlignRect() const;
  // Puts a new child's widget into this container's widgets.
  virtual void InsertWidget(TControl* child);
  bool WidgetEvent(QEvent* event) override;
  void ShowHintChanged() override;
  void SetClientWidget(QWidget* client);

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
  QPointer<QWidget> client_;
  bool aligning_ = false;
};

// Colour conversions for Qt.
QColor QtColor(TColor color);

}  // namespace fw
