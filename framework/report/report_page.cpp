#include "framework/report/report_page.h"

#include <algorithm>

#include "framework/printing/print_job.h"

namespace fw {

double TenthsMmToPixels(double tenths) { return tenths * kReportPixelsPerInch / 254.0; }

void TQRPage::SetPaperSize(TQRPaperSize size) {
  PaperSize = size;
  switch (size) {
    case TQRPaperSize::Letter: Width = 2159.0; Length = 2794.0; break;
    case TQRPaperSize::Legal: Width = 2159.0; Length = 3556.0; break;
    case TQRPaperSize::A4: Width = 2100.0; Length = 2970.0; break;
    case TQRPaperSize::Custom: break;
  }
}

double TQRPage::PaperWidthPixels() const {
  return TenthsMmToPixels(Orientation == TQROrientation::poPortrait ? Width : Length);
}

double TQRPage::PaperHeightPixels() const {
  return TenthsMmToPixels(Orientation == TQROrientation::poPortrait ? Length : Width);
}

double TQRPage::LeftPixels() const { return TenthsMmToPixels(LeftMargin); }
double TQRPage::TopPixels() const { return TenthsMmToPixels(TopMargin); }

double TQRPage::ContentWidthPixels() const {
  return std::max(0.0, PaperWidthPixels() - TenthsMmToPixels(LeftMargin + RightMargin));
}

double TQRPage::ContentHeightPixels() const {
  return std::max(0.0, PaperHeightPixels() - TenthsMmToPixels(TopMargin + BottomMargin));
}

}  // namespace fw
