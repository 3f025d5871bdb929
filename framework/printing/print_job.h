// TPrintJob: one document sent to a QPrinter, a real printer or a PDF file
// (QPrinter::PdfFormat with an output file name).
//
// Coordinates. The job draws in report pixels, 96 to the inch, with the
// origin at the top-left corner of the paper (the printer is switched to
// full-page mode): a Letter page is 816 x 1056 report pixels whatever the
// printer's resolution. Painter() is scaled accordingly; fonts given in
// points must go through PaintFont so that they keep their printed size
// under that scale.
#pragma once

#include <QPainter>
#include <QString>

#include "framework/exceptions.h"

class QFont;
class QPaintDevice;
class QPrinter;

namespace fw {

FW_DECLARE_EXCEPTION(EPrinter, Exception);

// Report pixels per inch: layouts of reports and charts are in these units.
inline constexpr double kReportPixelsPerInch = 96.0;

// A copy of font whose point size, drawn by a painter on device that is
// scaled from report pixels to device pixels, prints at the size the font
// gives. (A painter resolves point sizes against its device's resolution;
// the scale would then apply a second time.)
QFont PaintFont(const QFont& font, const QPaintDevice& device);

class TPrintJob {
 public:
  // Starts the document; title is the job's (and the PDF's) title.
  // EPrinter "No printer is available" when the printer cannot start, or
  // "Cannot create file <name>" for a PDF file that cannot be written.
  TPrintJob(QPrinter& printer, const QString& title);
  // Ends the document if Finish was not called (errors are then lost).
  ~TPrintJob();
  TPrintJob(const TPrintJob&) = delete;
  TPrintJob& operator=(const TPrintJob&) = delete;

  QPainter& Painter() { return painter_; }
  // Paper size in report pixels.
  double PageWidth() const { return page_width_; }
  double PageHeight() const { return page_height_; }
  // Starts the next page (the first page needs no call). EPrinter "Printing
  // failed" when the printer refuses.
  void NewPage();
  // Ends the document; EPrinter "Printing failed" when the printer reports
  // an error.
  void Finish();

 private:
  void ApplyScale();
  QPrinter& printer_;
  QPainter painter_;
  double page_width_ = 0;
  double page_height_ = 0;
};

}  // namespace fw
