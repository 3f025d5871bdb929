// Draws the program's home picture "_tavlin2.jpg" (splash, about and
// fall-back front picture): 297 x 220, a night-blue gradient with a row of
// framed pictures, the program's name and a dark strip at the bottom for
// the splash window's white "Opening Databases". Saved through the
// framework's JPEG picture class. Run by the build:
//   draw_splash <output.jpg>
#include <cstdio>
#include <exception>

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "framework/gui/bitmap.h"
#include "framework/gui/jpeg_image.h"

namespace {

constexpr int kWidth = 297;
constexpr int kHeight = 220;

// A small landscape in a white frame: sky, sun, two hills.
void Frame(QPainter& p, int x, int y, int w, int h, const QColor& sky, const QColor& hill) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(245, 245, 240));
  p.drawRect(x, y, w, h);
  const QRect in(x + 4, y + 4, w - 8, h - 8);
  p.setBrush(sky);
  p.drawRect(in);
  p.setBrush(QColor(255, 214, 90));
  p.drawEllipse(QPoint(in.right() - in.width() / 4, in.top() + in.height() / 3), in.height() / 7, in.height() / 7);
  QPainterPath hills;
  hills.moveTo(in.left(), in.bottom() + 1);
  hills.lineTo(in.left(), in.top() + in.height() * 2 / 3);
  hills.quadTo(in.left() + in.width() / 3, in.top() + in.height() / 3, in.left() + in.width() * 2 / 3,
               in.top() + in.height() * 3 / 4);
  hills.quadTo(in.right() - in.width() / 8, in.top() + in.height() / 2, in.right() + 1, in.top() + in.height() * 2 / 3);
  hills.lineTo(in.right() + 1, in.bottom() + 1);
  hills.closeSubpath();
  p.setBrush(hill);
  p.drawPath(hills);
}

QImage Draw() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0.0, QColor(18, 32, 84));
  sky.setColorAt(0.7, QColor(24, 96, 128));
  sky.setColorAt(1.0, QColor(10, 40, 60));
  p.fillRect(image.rect(), sky);

  Frame(p, 22, 78, 78, 62, QColor(120, 180, 230), QColor(60, 140, 80));
  Frame(p, 110, 68, 78, 82, QColor(230, 150, 110), QColor(120, 70, 110));
  Frame(p, 198, 78, 78, 62, QColor(160, 210, 200), QColor(40, 110, 130));

  QFont title("DejaVu Serif");
  title.setPixelSize(26);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRect(0, 14, kWidth, 34), Qt::AlignHCenter | Qt::AlignVCenter, "Morvella");
  QFont sub("DejaVu Sans");
  sub.setPixelSize(12);
  p.setFont(sub);
  p.setPen(QColor(200, 220, 240));
  p.drawText(QRect(0, 46, kWidth, 16), Qt::AlignHCenter | Qt::AlignVCenter, "Software  \xE2\x80\xA2  web art catalogue");

  p.fillRect(QRect(0, 178, kWidth, kHeight - 178), QColor(8, 20, 44));
  p.setPen(QColor(90, 140, 190));
  p.drawLine(0, 178, kWidth, 178);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_splash <output.jpg>\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  try {
    fw::TBitmap bitmap;
    bitmap.SetImage(Draw());
    fw::TJPEGImage jpeg;
    jpeg.SetCompressionQuality(92);
    jpeg.Assign(bitmap);
    jpeg.SaveToFile(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "draw_splash: %s\n", e.what());
    return 1;
  }
  return 0;
}
