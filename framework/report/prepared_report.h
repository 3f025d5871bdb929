// TQRPreparedReport: the pages of a report after it has run, as drawing
// items in report pixels from the top-left corner of the paper. The
// preview and the printer paint the same items, so what is previewed is
// what prints; nothing reads the dataset again.
//
// Text items carry their lines already broken (at 96 dpi font metrics) and
// are drawn line by line without clipping, so a printer's finer metrics
// never re-wrap a line.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include "framework/gui/graphics.h"

class QPainter;
class QPrinter;

namespace fw {

enum class TQRAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TQRBandType { rbTitle, rbPageHeader, rbDetail, rbPageFooter, rbSummary };

struct TQRFont {
  std::string Name = "Arial";  // a missing face falls back to a similar one
  double Size = 10;            // points
  TColor Color = clBlack;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
};

struct TQRTextItem {
  QRectF Rect;
  TQRFont Font;
  QStringList Lines;
  std::vector<double> LineWidths;
  double LineHeight = 0;
  double Ascent = 0;
  TQRAlignment Alignment = TQRAlignment::taLeftJustify;
};

struct TQRLineItem {
  QPointF From;
  QPointF To;
  QColor Color;
  double Width = 1;
};

struct TQRRectItem {
  QRectF Rect;
  QColor Color;
  double Width = 1;
};

struct TQRImageItem {
  QRectF Rect;  // where the whole picture goes
  QRectF Clip;  // the control's area; the picture shows only inside it
  QImage Image;
};

using TQRItem = std::variant<TQRTextItem, TQRLineItem, TQRRectItem, TQRImageItem>;

// Where a band went: its kind, its area on the page and, for detail bands,
// the 1-based number of the record it printed (0 otherwise).
struct TQRPlacedBand {
  TQRBandType Type;
  QRectF Rect;
  int Record = 0;
};

struct TQRPreparedPage {
  std::vector<TQRItem> Items;
  std::vector<TQRPlacedBand> Bands;
};

class TQRPreparedReport {
 public:
  TQRPreparedReport(double paper_width, double paper_height, QString title)
      : paper_width_(paper_width), paper_height_(paper_height), title_(std::move(title)) {}

  int PageCount() const { return static_cast<int>(pages_.size()); }
  const TQRPreparedPage& Page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
  std::vector<TQRPreparedPage>& Pages() { return pages_; }
  double PaperWidth() const { return paper_width_; }
  double PaperHeight() const { return paper_height_; }
  const QString& Title() const { return title_; }

  // Paints page index on painter, whose transform maps report pixels to
  // its device.
  void PaintPage(int index, QPainter& painter) const;
  // Page index on white at zoom percent (100: one image pixel a report pixel).
  QImage RenderPage(int index, int zoom) const;
  // Prints every page; the printer's paper is set to the report's. EPrinter
  // when the printer cannot print.
  void Print(QPrinter& printer) const;

 private:
  double paper_width_;
  double paper_height_;
  QString title_;
  std::vector<TQRPreparedPage> pages_;
};

// The Qt font for a report font (point size as given).
QFont ToQFont(const TQRFont& font);
QColor ToQColor(TColor color);

}  // namespace fw
