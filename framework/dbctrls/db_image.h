// TDBImage: the picture held in a graphic (BLOB) field. The field holds a
// picture file's bytes (BMP, JPEG, GIF, ...); the class is picked by the
// bytes' signature among the registered picture classes. A field that
// holds no known picture, or a bad one, shows nothing, and the error is
// reported once (from the event loop, not from inside the dataset's event).
//
// Copy puts the picture on the clipboard; Cut also empties the field;
// Paste stores the clipboard's picture in the field in its own format
// (a plain image as BMP). Both put the dataset into edit state first.
#pragma once

#include "framework/dbctrls/db_field_control.h"
#include "framework/gui/bitmap.h"
#include "framework/gui/picture.h"

namespace fw {

class TDBImage : public TFieldControl {
 public:
  explicit TDBImage(TComponent* owner);
  ~TDBImage() override;
  TPicture& Picture() { return picture_; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool v);
  bool Center() const { return center_; }
  void SetCenter(bool v);
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  // The control as it is painted now.
  QImage Snapshot();

 protected:
  void DataChange() override;

 private:
  friend class DBImageWidget;
  void Paint(QImage& target);
  // Stores graphic's bytes in the field (nullptr empties it).
  void Store(TGraphic* graphic);
  TPicture picture_;
  TBitmap screen_;
  // The failed bytes last reported (their hash), so that showing the same
  // bad value again does not report it again.
  std::size_t reported_ = 0;
  bool stretch_ = false;
  bool center_ = true;
};

// A new graphic of the registered class whose file signature starts bytes
// (BMP "BM", JPEG FF D8, GIF "GIF8"), or nullptr.
std::unique_ptr<TGraphic> GraphicForBytes(const std::uint8_t* bytes, std::size_t size);

}  // namespace fw
