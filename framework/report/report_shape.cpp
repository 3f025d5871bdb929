#include "framework/report/report_shape.h"

namespace fw {

void TQRShape::EmitContent(std::vector<TQRItem>& items, const QRectF& rect) {
  if (pen_.Width <= 0) return;
  const QColor color = ToQColor(pen_.Color);
  const double w = pen_.Width;
  switch (shape_) {
    case TQRShapeType::qrsHorLine: {
      const double y = rect.top() + rect.height() / 2;
      items.push_back(TQRLineItem{{rect.left(), y}, {rect.right(), y}, color, w});
      break;
    }
    case TQRShapeType::qrsVertLine: {
      const double x = rect.left() + rect.width() / 2;
      items.push_back(TQRLineItem{{x, rect.top()}, {x, rect.bottom()}, color, w});
      break;
    }
    case TQRShapeType::qrsRectangle:
      items.push_back(TQRRectItem{rect.adjusted(w / 2, w / 2, -w / 2, -w / 2), color, w});
      break;
  }
}

}  // namespace fw
