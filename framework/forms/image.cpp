#include "framework/forms/image.h"

#include <QPainter>
#include <QWidget>

#include "framework/forms/application.h"
#include "framework/gui/canvas.h"
#include "framework/gui/graphic.h"

namespace fw {

class ImageWidget : public QWidget {
 public:
  explicit ImageWidget(TImage* image) : image_(image) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (width() <= 0 || height() <= 0) return;
    QImage target;
    Guarded([&] { image_->Paint(target); }, image_);
    if (target.isNull()) return;
    QPainter p(this);
    p.drawImage(0, 0, target);
  }

 private:
  TImage* image_;
};

TImage::TImage(TComponent* owner) : TControl(owner, new ImageWidget(this)) {
  SetClickOnMouseRelease(true);
  screen_.SetPixelFormat(TPixelFormat::pf32bit);
  picture_.OnChange = [this](TPicture*) { PictureChanged(); };
}

TImage::~TImage() {
  picture_.OnChange = nullptr;
  // The picture (and any painter of an animation) goes before the widget
  // it paints for.
  picture_.SetGraphic(nullptr);
}

void TImage::PictureChanged() {
  if (auto_size_ && picture_.Graphic() != nullptr && !picture_.Graphic()->Empty())
    SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
  Invalidate();
}

void TImage::SetAutoSize(bool v) {
  auto_size_ = v;
  if (v) PictureChanged();
}

void TImage::SetStretch(bool v) {
  stretch_ = v;
  Invalidate();
}

void TImage::SetCenter(bool v) {
  center_ = v;
  Invalidate();
}

void TImage::SetProportional(bool v) {
  proportional_ = v;
  Invalidate();
}

void TImage::SetTransparent(bool v) {
  transparent_ = v;
  if (picture_.Graphic() != nullptr) picture_.Graphic()->SetTransparent(v);
  Invalidate();
}

TRect PictureRect(int cw, int ch, int w, int h, bool stretch, bool proportional, bool center) {
  if (stretch && w > 0 && h > 0) {
    if (!proportional) return Rect(0, 0, cw, ch);
    // As large as fits, keeping the aspect.
    if (static_cast<long long>(cw) * h <= static_cast<long long>(ch) * w) {
      h = static_cast<int>(static_cast<long long>(h) * cw / w);
      w = cw;
    } else {
      w = static_cast<int>(static_cast<long long>(w) * ch / h);
      h = ch;
    }
  }
  if (center) return Bounds((cw - w) / 2, (ch - h) / 2, w, h);
  return Bounds(0, 0, w, h);
}

void PaintPicture(TPicture& picture, TBitmap& screen, int cw, int ch, const QColor& background, const TRect& dest) {
  screen.SetPixelFormat(TPixelFormat::pf32bit);
  screen.SetSize(cw, ch);
  if (screen.Empty()) return;
  screen.PaintImage().fill(background);
  if (TGraphic* g = picture.Graphic(); g != nullptr && !g->Empty()) g->Draw(screen.Canvas(), dest);
}

TRect TImage::DestRect() const {
  return PictureRect(Width(), Height(), picture_.Width(), picture_.Height(), stretch_, proportional_, center_);
}

void TImage::Paint(QImage& target) {
  PaintPicture(picture_, screen_, Width(), Height(), Widget()->palette().color(QPalette::Window), DestRect());
  if (!screen_.Empty()) target = screen_.Image();
}

QImage TImage::Snapshot() {
  QImage target;
  Paint(target);
  return target;
}

}  // namespace fw
