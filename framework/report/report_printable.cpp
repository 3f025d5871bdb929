#include "framework/report/report_printable.h"

#include "framework/report/quick_rep.h"
#include "framework/report/report_band.h"

namespace fw {

TQRPrintable::TQRPrintable(TQRBand* parent) : TComponent(parent), parent_(parent) {}

TQRPrintable::~TQRPrintable() = default;

TQuickRep* TQRPrintable::Report() const { return parent_ != nullptr ? parent_->Report() : nullptr; }

void TQRPrintable::SetBounds(int left, int top, int width, int height) {
  SetLeft(left);
  SetTop(top);
  SetWidth(width);
  SetHeight(height);
}

void TQRPrintable::EmitFrame(std::vector<TQRItem>& items, const QRectF& rect) const {
  if (frame_.Width <= 0) return;
  const QColor color = ToQColor(frame_.Color);
  const double w = frame_.Width;
  // Lines run on the control's edges, half their width inside.
  const double h = w / 2;
  const double l = rect.left() + h, r = rect.right() - h, t = rect.top() + h, b = rect.bottom() - h;
  if (frame_.DrawTop) items.push_back(TQRLineItem{{rect.left(), t}, {rect.right(), t}, color, w});
  if (frame_.DrawBottom) items.push_back(TQRLineItem{{rect.left(), b}, {rect.right(), b}, color, w});
  if (frame_.DrawLeft) items.push_back(TQRLineItem{{l, rect.top()}, {l, rect.bottom()}, color, w});
  if (frame_.DrawRight) items.push_back(TQRLineItem{{r, rect.top()}, {r, rect.bottom()}, color, w});
}

TDataSet* TQRPrintable::EffectiveDataSet(TDataSet* own) const {
  if (own != nullptr) return own;
  TQuickRep* report = Report();
  return report != nullptr ? report->DataSet() : nullptr;
}

void TQRDataBinding::SetDataSet(TDataSet* dataset) {
  if (dataset_ == dataset) return;
  if (dataset_ != nullptr) control_.RemoveFreeNotification(dataset_);
  dataset_ = dataset;
  if (dataset_ != nullptr) control_.FreeNotification(dataset_);
}

}  // namespace fw
