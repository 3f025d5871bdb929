#include "framework/report/report_band.h"

#include <algorithm>
#include <cmath>

#include "framework/report/quick_rep.h"
#include "framework/report/report_printable.h"

namespace fw {

TQRBand::TQRBand(TQuickRep* report, TQRBandType type) : TComponent(report), report_(report), type_(type) {}

TQRBand::~TQRBand() = default;

int TQRBand::Width() const {
  return report_ != nullptr ? static_cast<int>(std::lround(report_->Page().ContentWidthPixels())) : 0;
}

std::vector<TQRPrintable*> TQRBand::Controls() const {
  std::vector<TQRPrintable*> out;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* c = dynamic_cast<TQRPrintable*>(Components(i))) out.push_back(c);
  return out;
}

double TQRBand::Prepare() {
  placed_.clear();
  for (TQRPrintable* c : Controls())
    if (c->Visible()) placed_.push_back({c, 0, 0});
  std::stable_sort(placed_.begin(), placed_.end(),
                   [](const Placed& a, const Placed& b) { return a.control->Top() < b.control->Top(); });
  double extra = 0;
  for (std::size_t i = 0; i < placed_.size(); ++i) {
    Placed& p = placed_[i];
    p.grow = std::max(0.0, p.control->PrepareContent());
    // Every control above whose original bottom is not below this top
    // pushes it down by its own move plus growth.
    for (std::size_t j = 0; j < i; ++j) {
      const Placed& above = placed_[j];
      if (above.control->Top() + above.control->Height() <= p.control->Top())
        p.shift = std::max(p.shift, above.shift + above.grow);
    }
    extra = std::max(extra, p.shift + p.grow);
  }
  return Height() + extra;
}

void TQRBand::Emit(std::vector<TQRItem>& items, double left, double top) {
  for (const Placed& p : placed_) {
    const TQRPrintable* c = p.control;
    const QRectF rect(left + c->Left(), top + c->Top() + p.shift, c->Width(), c->Height() + p.grow);
    p.control->EmitContent(items, rect);
    p.control->EmitFrame(items, rect);
  }
}

}  // namespace fw
