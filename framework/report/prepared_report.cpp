#include "framework/report/prepared_report.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include "framework/printing/print_job.h"

namespace fw {

QFont ToQFont(const TQRFont& font) {
  QFont f(QString::fromStdString(font.Name));
  f.setPointSizeF(font.Size > 0 ? font.Size : 10);
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  return f;
}

QColor ToQColor(TColor color) {
  const TColor c = ColorToRGB(color);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

namespace {

struct ItemPainter {
  QPainter& p;

  void operator()(const TQRTextItem& t) const {
    p.setFont(PaintFont(ToQFont(t.Font), *p.device()));
    p.setPen(ToQColor(t.Font.Color));
    for (qsizetype i = 0; i < t.Lines.size(); ++i) {
      const double w = static_cast<std::size_t>(i) < t.LineWidths.size() ? t.LineWidths[static_cast<std::size_t>(i)] : 0;
      double x = t.Rect.left();
      if (t.Alignment == TQRAlignment::taRightJustify) x = t.Rect.right() - w;
      if (t.Alignment == TQRAlignment::taCenter) x = t.Rect.left() + (t.Rect.width() - w) / 2;
      p.drawText(QPointF(x, t.Rect.top() + static_cast<double>(i) * t.LineHeight + t.Ascent), t.Lines[i]);
    }
  }
  void operator()(const TQRLineItem& l) const {
    p.setPen(QPen(l.Color, l.Width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(l.From, l.To);
  }
  void operator()(const TQRRectItem& r) const {
    p.setPen(QPen(r.Color, r.Width));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.Rect);
  }
  void operator()(const TQRImageItem& im) const {
    p.save();
    p.setClipRect(im.Clip, Qt::IntersectClip);
    p.drawImage(im.Rect, im.Image);
    p.restore();
  }
};

}  // namespace

void TQRPreparedReport::PaintPage(int index, QPainter& painter) const {
  const TQRPreparedPage& page = Page(index);
  painter.save();
  for (const TQRItem& item : page.Items) std::visit(ItemPainter{painter}, item);
  painter.restore();
}

QImage TQRPreparedReport::RenderPage(int index, int zoom) const {
  zoom = std::clamp(zoom, 10, 800);
  const double s = zoom / 100.0;
  QImage image(std::max(1, static_cast<int>(std::lround(paper_width_ * s))),
               std::max(1, static_cast<int>(std::lround(paper_height_ * s))), QImage::Format_RGB32);
  // The image's resolution is the report's, so fonts in points come out
  // at their size at zoom 100.
  const int dpm = static_cast<int>(std::lround(kReportPixelsPerInch / 0.0254));
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.scale(s, s);
  PaintPage(index, painter);
  return image;
}

void TQRPreparedReport::Print(QPrinter& printer) const {
  const QSizeF paper_mm(paper_width_ * 25.4 / kReportPixelsPerInch, paper_height_ * 25.4 / kReportPixelsPerInch);
  const bool landscape = paper_mm.width() > paper_mm.height();
  const QSizeF portrait = landscape ? paper_mm.transposed() : paper_mm;
  printer.setPageLayout(QPageLayout(QPageSize(portrait, QPageSize::Millimeter),
                                    landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
  TPrintJob job(printer, title_);
  for (int i = 0; i < PageCount(); ++i) {
    if (i > 0) job.NewPage();
    PaintPage(i, job.Painter());
  }
  job.Finish();
}

}  // namespace fw
