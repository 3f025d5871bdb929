// TQRPrintable: a control on a report band (label, data text, shape,
// picture). A control is owned by its band and placed in band pixels
// from the band's top-left corner.
//
// Printing a band runs in two steps for each visible control:
//   1. PrepareContent reads what the control shows for the record about
//      to print (after the band's BeforePrint event) and returns how many
//      pixels taller than Height the control must grow (only stretching
//      texts grow);
//   2. EmitContent adds the control's drawing items for its final area,
//      growth included; the frame is added after the content.
#pragma once

#include <vector>

#include <QRectF>

#include "framework/component.h"
#include "framework/db/dataset.h"
#include "framework/report/prepared_report.h"

namespace fw {

class TQRBand;
class TQuickRep;

struct TQRFrame {
  bool DrawTop = false;
  bool DrawBottom = false;
  bool DrawLeft = false;
  bool DrawRight = false;
  TColor Color = clBlack;
  int Width = 1;
  // All four sides on or off.
  void SetAll(bool on) { DrawTop = DrawBottom = DrawLeft = DrawRight = on; }
};

class TQRPrintable : public TComponent {
 public:
  explicit TQRPrintable(TQRBand* parent);
  ~TQRPrintable() override;

  TQRBand* Parent() const { return parent_; }
  TQuickRep* Report() const;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { left_ = v; }
  void SetTop(int v) { top_ = v; }
  void SetWidth(int v) { width_ = v < 0 ? 0 : v; }
  void SetHeight(int v) { height_ = v < 0 ? 0 : v; }
  void SetBounds(int left, int top, int width, int height);

  // Hidden controls do not print.
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  void Show() { visible_ = true; }
  void Hide() { visible_ = false; }

  TQRFrame& Frame() { return frame_; }
  const TQRFrame& Frame() const { return frame_; }
  TQRFont& Font() { return font_; }
  const TQRFont& Font() const { return font_; }

 protected:
  friend class TQRBand;
  virtual double PrepareContent() { return 0; }
  virtual void EmitContent(std::vector<TQRItem>& items, const QRectF& rect) = 0;
  void EmitFrame(std::vector<TQRItem>& items, const QRectF& rect) const;
  // The dataset a data-aware control reads: its own, else its report's.
  TDataSet* EffectiveDataSet(TDataSet* own) const;

 private:
  TQRBand* parent_;
  int left_ = 0;
  int top_ = 0;
  int width_ = 65;
  int height_ = 17;
  bool visible_ = true;
  TQRFrame frame_;
  TQRFont font_;
};

// A data-aware control's dataset and field. The dataset is watched: when it
// is destroyed the control forgets it.
class TQRDataBinding {
 public:
  explicit TQRDataBinding(TComponent& control) : control_(control) {}
  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  const std::string& DataField() const { return data_field_; }
  void SetDataField(const std::string& name) { data_field_ = name; }
  // Called from the control's Notification.
  void Forget(TComponent* component) {
    if (component == dataset_) dataset_ = nullptr;
  }

 private:
  TComponent& control_;
  TDataSet* dataset_ = nullptr;
  std::string data_field_;
};

}  // namespace fw
