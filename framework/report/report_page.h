// TQRPage: the paper of a report. Sizes and margins are in tenths of a
// millimetre, given for the portrait paper (landscape turns it); the
// report lays out in report pixels (framework/printing/print_job.h), 96 to
// the inch, so a Letter page with half-inch margins has a content area of
// 720 x 960 pixels.
#pragma once

namespace fw {

enum class TQRPaperSize { Letter, Legal, A4, Custom };
enum class TQROrientation { poPortrait, poLandscape };

struct TQRPage {
  TQRPaperSize PaperSize = TQRPaperSize::Letter;
  TQROrientation Orientation = TQROrientation::poPortrait;
  // Paper width and length (portrait), tenths of a millimetre.
  double Width = 2159.0;
  double Length = 2794.0;
  double TopMargin = 127.0;
  double BottomMargin = 127.0;
  double LeftMargin = 127.0;
  double RightMargin = 127.0;
  // Zoom of the preview when it opens, percent.
  int Zoom = 100;

  // Sets PaperSize and the Width and Length that go with it (Custom keeps
  // them).
  void SetPaperSize(TQRPaperSize size);

  // In report pixels, orientation applied.
  double PaperWidthPixels() const;
  double PaperHeightPixels() const;
  double LeftPixels() const;
  double TopPixels() const;
  // The area between the margins.
  double ContentWidthPixels() const;
  double ContentHeightPixels() const;
};

// Tenths of a millimetre to report pixels.
double TenthsMmToPixels(double tenths);

}  // namespace fw
