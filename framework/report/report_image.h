// Pictures on a report band. TQRImage prints the picture the program puts
// into it (typically in the band's BeforePrint event, for the record about
// to print); the picture stays until the program changes or clears it
// (Picture().Assign(nullptr)). TQRDBImage prints the picture held in a
// graphic BLOB field of the record being printed.
//
// Placement: Stretch scales the picture to the control's area; otherwise
// it is drawn in its own size (one picture pixel a report pixel) at the
// control's top-left corner, or centred with Center, and cut at the
// control's edges.
//
// Detail kept: a picture is stored with the prepared pages at no more than
// twice the pixels of the area it prints on (192 dpi), so that long
// reports of large photos stay within memory.
#pragma once

#include <memory>
#include <span>

#include <QImage>

#include "framework/gui/picture.h"
#include "framework/report/report_printable.h"

namespace fw {

class TQRImage : public TQRPrintable {
 public:
  explicit TQRImage(TQRBand* parent);
  ~TQRImage() override;

  TPicture& Picture() { return picture_; }
  // With AutoSize the control takes the picture's size whenever the
  // picture changes (and at once when switched on).
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool v) { stretch_ = v; }
  bool Center() const { return center_; }
  void SetCenter(bool v) { center_ = v; }

 protected:
  void EmitContent(std::vector<TQRItem>& items, const QRectF& rect) override;

 private:
  void PictureChanged();
  TPicture picture_;
  bool auto_size_ = false;
  bool stretch_ = false;
  bool center_ = false;
};

// The field's bytes are read as a BMP, GIF or JPEG picture (by their
// signature) through the picture class registered for that kind; a null
// field, unknown bytes or a picture that fails to read print nothing (the
// frame still prints). Without a DataSet of its own it reads the report's.
class TQRDBImage : public TQRPrintable {
 public:
  explicit TQRDBImage(TQRBand* parent) : TQRPrintable(parent), binding_(*this) {}
  TDataSet* DataSet() const { return binding_.DataSet(); }
  void SetDataSet(TDataSet* dataset) { binding_.SetDataSet(dataset); }
  const std::string& DataField() const { return binding_.DataField(); }
  void SetDataField(const std::string& name) { binding_.SetDataField(name); }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool v) { stretch_ = v; }
  bool Center() const { return center_; }
  void SetCenter(bool v) { center_ = v; }

 protected:
  double PrepareContent() override;
  void EmitContent(std::vector<TQRItem>& items, const QRectF& rect) override;
  void Notification(TComponent* component, bool inserting) override;

 private:
  TQRDataBinding binding_;
  TPicture picture_;  // the current record's
  bool stretch_ = false;
  bool center_ = false;
};

// The registry extension for picture bytes ("bmp", "gif", "jpg"), or empty
// when the signature is none of these.
std::string PictureKindOf(std::span<const std::byte> bytes);
// Reads bytes into picture through the registered class of their kind;
// false (picture cleared) when the kind is unknown or unregistered or the
// bytes do not read.
bool LoadPictureFromBytes(TPicture& picture, std::span<const std::byte> bytes);
// The drawing item for graphic in rect by the placement rules above; false
// when nothing shows.
bool PictureItem(TGraphic* graphic, const QRectF& rect, bool stretch, bool center, TQRImageItem& item);

}  // namespace fw
