// TQRBand: one band of a report. Its kind says when it prints: the title
// once at the start, the page header at the top and the page footer at the
// bottom of every page, the detail once for every record, the summary once
// at the end. A band is as wide as the page's content area; its controls
// are the printables it owns, in the order they were made.
//
// Growing. A stretching control that needs h more pixels moves every
// control whose top is at or below its original bottom down by h (moves
// add up along chains of stretching controls), and the band grows by the
// largest move plus growth.
#pragma once

#include <functional>
#include <vector>

#include "framework/component.h"
#include "framework/report/prepared_report.h"

namespace fw {

class TQRPrintable;
class TQuickRep;

class TQRBand : public TComponent {
 public:
  // print_band: set false to leave the band out this time.
  using TQRBandBeforePrintEvent = std::function<void(TQRBand& sender, bool& print_band)>;

  TQRBand(TQuickRep* report, TQRBandType type);
  ~TQRBand() override;

  TQuickRep* Report() const { return report_; }
  TQRBandType BandType() const { return type_; }
  void SetBandType(TQRBandType type) { type_ = type; }
  int Height() const { return height_; }
  void SetHeight(int height) { height_ = height < 0 ? 0 : height; }
  // The report's content width, in pixels.
  int Width() const;
  // A disabled band never prints.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  std::vector<TQRPrintable*> Controls() const;

  // Runs before the band is laid out, with the dataset on the record about
  // to print (detail bands).
  TQRBandBeforePrintEvent BeforePrint;

  // Used by the report: reads every visible control's content and returns
  // the band's printed height.
  double Prepare();
  // Adds the prepared controls' items with the band's top-left corner at
  // (left, top).
  void Emit(std::vector<TQRItem>& items, double left, double top);

 private:
  struct Placed {
    TQRPrintable* control;
    double shift;
    double grow;
  };
  TQuickRep* report_;
  TQRBandType type_;
  int height_ = 40;
  bool enabled_ = true;
  std::vector<Placed> placed_;  // of the last Prepare
};

}  // namespace fw
