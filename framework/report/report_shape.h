// TQRShape: a line or rectangle on a report band. A horizontal line runs
// across the control's width at half its height, a vertical line down its
// height at half its width; a rectangle outlines the control.
#pragma once

#include "framework/report/report_printable.h"

namespace fw {

enum class TQRShapeType { qrsRectangle, qrsHorLine, qrsVertLine };

struct TQRPen {
  TColor Color = clBlack;
  int Width = 1;
};

class TQRShape : public TQRPrintable {
 public:
  using TQRPrintable::TQRPrintable;
  TQRShapeType Shape() const { return shape_; }
  void SetShape(TQRShapeType shape) { shape_ = shape; }
  TQRPen& Pen() { return pen_; }
  const TQRPen& Pen() const { return pen_; }

 protected:
  void EmitContent(std::vector<TQRItem>& items, const QRectF& rect) override;

 private:
  TQRShapeType shape_ = TQRShapeType::qrsRectangle;
  TQRPen pen_;
};

}  // namespace fw
