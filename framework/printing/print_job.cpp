#include "framework/printing/print_job.h"

#include <QFont>
#include <QPaintDevice>
#include <QPrinter>

namespace fw {

QFont PaintFont(const QFont& font, const QPaintDevice& device) {
  QFont f(font);
  const double dpi = device.logicalDpiY() > 0 ? device.logicalDpiY() : kReportPixelsPerInch;
  if (font.pointSizeF() > 0) f.setPointSizeF(font.pointSizeF() * kReportPixelsPerInch / dpi);
  return f;
}

TPrintJob::TPrintJob(QPrinter& printer, const QString& title) : printer_(printer) {
  printer_.setFullPage(true);
  printer_.setDocName(title);
  // Without a printer Qt falls back to PDF output; with no file named
  // that goes nowhere.
  if (printer_.outputFormat() == QPrinter::PdfFormat && printer_.outputFileName().isEmpty())
    throw EPrinter("No printer is available");
  if (!painter_.begin(&printer_)) {
    if (printer_.outputFormat() == QPrinter::PdfFormat && !printer_.outputFileName().isEmpty())
      throw EPrinter("Cannot create file " + printer_.outputFileName().toStdString());
    throw EPrinter("No printer is available");
  }
  const QRectF paper = printer_.paperRect(QPrinter::Inch);
  page_width_ = paper.width() * kReportPixelsPerInch;
  page_height_ = paper.height() * kReportPixelsPerInch;
  ApplyScale();
}

TPrintJob::~TPrintJob() {
  if (painter_.isActive()) painter_.end();
}

void TPrintJob::ApplyScale() {
  painter_.resetTransform();
  const double sx = printer_.logicalDpiX() / kReportPixelsPerInch;
  const double sy = printer_.logicalDpiY() / kReportPixelsPerInch;
  painter_.scale(sx, sy);
  painter_.setRenderHint(QPainter::Antialiasing, true);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

void TPrintJob::NewPage() {
  if (!printer_.newPage()) throw EPrinter("Printing failed");
  ApplyScale();
}

void TPrintJob::Finish() {
  if (!painter_.end() || printer_.printerState() == QPrinter::Error) throw EPrinter("Printing failed");
}

}  // namespace fw
