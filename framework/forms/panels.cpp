#include "framework/forms/panels.h"

#include <algorithm>

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

#include "framework/forms/qt_text.h"

namespace fw {

namespace {

// A bevel: top-left in one colour, bottom-right in the other.
void DrawBevel(QPainter& p, QRect r, TPanelBevel kind, int width) {
  if (kind == TPanelBevel::bvNone || kind == TPanelBevel::bvSpace) return;
  const QColor light(255, 255, 255), dark(128, 128, 128);
  const QColor& top_left = kind == TPanelBevel::bvRaised ? light : dark;
  const QColor& bottom_right = kind == TPanelBevel::bvRaised ? dark : light;
  for (int i = 0; i < width && r.width() > 1 && r.height() > 1; ++i) {
    p.setPen(top_left);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottom_right);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    r.adjust(1, 1, -1, -1);
  }
}

}  // namespace

class PanelWidget : public QWidget {
 public:
  explicit PanelWidget(TPanel* panel) : panel_(panel) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (panel_ == nullptr) return;
    QPainter p(this);
    QRect r = rect();
    DrawBevel(p, r, panel_->bevel_outer_, panel_->bevel_width_);
    if (panel_->bevel_outer_ != TPanelBevel::bvNone) r.adjust(panel_->bevel_width_, panel_->bevel_width_,
                                                               -panel_->bevel_width_, -panel_->bevel_width_);
    r.adjust(panel_->border_width_, panel_->border_width_, -panel_->border_width_, -panel_->border_width_);
    DrawBevel(p, r, panel_->bevel_inner_, panel_->bevel_width_);
    const std::string caption = panel_->Caption();
    if (!caption.empty()) {
      const int h = panel_->alignment_ == TAlignment::taCenter        ? Qt::AlignHCenter
                    : panel_->alignment_ == TAlignment::taRightJustify ? Qt::AlignRight
                                                                       : Qt::AlignLeft;
      p.setPen(palette().color(QPalette::WindowText));
      p.drawText(r, h | Qt::AlignVCenter, QStr(caption));
    }
  }

 private:
  TPanel* panel_;
};

TPanel::TPanel(TComponent* owner) : TWinControl(owner, new PanelWidget(this)) { ColorChanged(); }

void TPanel::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  Invalidate();
}

void TPanel::Changed() {
  Invalidate();
  AlignControls();
}

void TPanel::SetBevelOuter(TPanelBevel b) {
  bevel_outer_ = b;
  Changed();
}

void TPanel::SetBevelInner(TPanelBevel b) {
  bevel_inner_ = b;
  Changed();
}

void TPanel::SetBevelWidth(int w) {
  bevel_width_ = std::max(1, w);
  Changed();
}

void TPanel::SetBorderWidth(int w) {
  border_width_ = std::max(0, w);
  Changed();
}

void TPanel::SetAlignment(TAlignment a) {
  alignment_ = a;
  Invalidate();
}

int TPanel::FrameWidth() const {
  int w = border_width_;
  if (bevel_outer_ != TPanelBevel::bvNone) w += bevel_width_;
  if (bevel_inner_ != TPanelBevel::bvNone) w += bevel_width_;
  return w;
}

QRect TPanel::AlignRect() const {
  const int f = FrameWidth();
  return QRect(f, f, std::max(0, Width() - 2 * f), std::max(0, Height() - 2 * f));
}

void TPanel::ColorChanged() {
  QWidget* w = Widget();
  if (w == nullptr) return;
  QPalette p = w->palette();
  p.setColor(QPalette::Window, QtColor(Color()));
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner, new QGroupBox) {}

void TGroupBox::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  static_cast<QGroupBox*>(Widget())->setTitle(QStr(caption));
}

QRect TGroupBox::AlignRect() const {
  // Inside the frame and below the title.
  const QRect r = Widget()->contentsRect();
  const int top = std::max(r.top(), Widget()->fontMetrics().height());
  return QRect(r.left() + 2, top + 2, std::max(0, r.width() - 4), std::max(0, r.bottom() - top - 2));
}

namespace {

class ScrollArea : public QScrollArea {
 public:
  explicit ScrollArea(TScrollBox* box) : box_(box) {}

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QScrollArea::resizeEvent(e);
    if (box_ != nullptr) box_->UpdateScrollRange();
  }

 private:
  TScrollBox* box_;
};

}  // namespace

TScrollBox::TScrollBox(TComponent* owner) : TWinControl(owner, new ScrollArea(this)) {
  auto* area = static_cast<QScrollArea*>(Widget());
  auto* inner = new QWidget;
  area->setWidget(inner);
  area->setWidgetResizable(false);
  area->setFrameShape(QFrame::StyledPanel);
  SetClientWidget(inner);
}

void TScrollBox::UpdateScrollRange() {
  auto* area = static_cast<QScrollArea*>(Widget());
  if (area == nullptr || ClientWidget() == nullptr) return;
  // The viewport's size as the area's size makes it (a hidden area's
  // viewport has not been laid out yet).
  const QSize view = area->maximumViewportSize();
  int w = view.width(), h = view.height();
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    if (!c->Visible() || c->Align() != TAlign::alNone) continue;
    w = std::max(w, c->Left() + c->Width());
    h = std::max(h, c->Top() + c->Height());
  }
  ClientWidget()->resize(w, h);
}

void TScrollBox::ApplyBounds(const QRect& r) {
  TWinControl::ApplyBounds(r);
  UpdateScrollRange();
}

bool TScrollBox::WidgetEvent(QEvent* event) {
  if (event->type() == QEvent::Show) UpdateScrollRange();
  return TWinControl::WidgetEvent(event);
}

class BevelWidget : public QWidget {
 public:
  explicit BevelWidget(TBevel* bevel) : bevel_(bevel) { setAttribute(Qt::WA_TransparentForMouseEvents); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const TPanelBevel kind = bevel_->style_ == TBevelStyle::bsRaised ? TPanelBevel::bvRaised : TPanelBevel::bvLowered;
    const QRect r = rect();
    const QColor light(255, 255, 255), dark(128, 128, 128);
    const QColor& first = kind == TPanelBevel::bvRaised ? light : dark;
    const QColor& second = kind == TPanelBevel::bvRaised ? dark : light;
    switch (bevel_->shape_) {
      case TBevelShape::bsBox:
        DrawBevel(p, r, kind, 1);
        break;
      case TBevelShape::bsFrame:
        DrawBevel(p, r, kind, 1);
        DrawBevel(p, r.adjusted(1, 1, -1, -1),
                  kind == TPanelBevel::bvRaised ? TPanelBevel::bvLowered : TPanelBevel::bvRaised, 1);
        break;
      case TBevelShape::bsTopLine:
        p.setPen(first);
        p.drawLine(r.topLeft(), r.topRight());
        p.setPen(second);
        p.drawLine(r.topLeft() + QPoint(0, 1), r.topRight() + QPoint(0, 1));
        break;
      case TBevelShape::bsBottomLine:
        p.setPen(first);
        p.drawLine(r.bottomLeft() - QPoint(0, 1), r.bottomRight() - QPoint(0, 1));
        p.setPen(second);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        break;
      case TBevelShape::bsLeftLine:
        p.setPen(first);
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(second);
        p.drawLine(r.topLeft() + QPoint(1, 0), r.bottomLeft() + QPoint(1, 0));
        break;
      case TBevelShape::bsRightLine:
        p.setPen(first);
        p.drawLine(r.topRight() - QPoint(1, 0), r.bottomRight() - QPoint(1, 0));
        p.setPen(second);
        p.drawLine(r.topRight(), r.bottomRight());
        break;
      case TBevelShape::bsSpacer:
        break;
    }
  }

 private:
  TBevel* bevel_;
};

TBevel::TBevel(TComponent* owner) : TControl(owner, new BevelWidget(this)) {}

void TBevel::SetShape(TBevelShape s) {
  shape_ = s;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle s) {
  style_ = s;
  Invalidate();
}

TStatusBar::TStatusBar(TComponent* owner) : TControl(owner, new QLabel) {
  auto* label = static_cast<QLabel*>(Widget());
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  label->setMargin(2);
  SetHeight(label->sizeHint().height() + 4);
  SetAlign(TAlign::alBottom);
}

void TStatusBar::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  static_cast<QLabel*>(Widget())->setText(QStr(caption));
}

}  // namespace fw
