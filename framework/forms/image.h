// TImage: shows a TPicture.
//   AutoSize: the control takes the picture's size whenever the picture
//     changes (a fitting routine turns it off and sets the size itself);
//   Stretch: the picture is scaled to the control (Proportional: keeping
//     its aspect, as large as fits);
//   Center: an unscaled or proportional picture is centred, else it sits
//     at the top left.
// Animated GIF pictures play in the control (their painter threads paint
// through the framework's synchronisation, which the application's event
// loop serves).
#pragma once

#include "framework/forms/control.h"
#include "framework/gui/bitmap.h"
#include "framework/gui/picture.h"

namespace fw {

// Where a picture of pw x ph goes in a control of cw x ch by the rules
// above.
TRect PictureRect(int cw, int ch, int pw, int ph, bool stretch, bool proportional, bool center);
// Paints picture into screen (sized cw x ch, filled with background
// first) at dest.
void PaintPicture(TPicture& picture, TBitmap& screen, int cw, int ch, const QColor& background, const TRect& dest);

class TImage : public TControl {
 public:
  explicit TImage(TComponent* owner);
  ~TImage() override;

  TPicture& Picture() { return picture_; }
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool v);
  bool Center() const { return center_; }
  void SetCenter(bool v);
  bool Proportional() const { return proportional_; }
  void SetProportional(bool v);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);
  // Where the picture is drawn, in the control's coordinates.
  TRect DestRect() const;
  // The control as it is painted now (for tests and printing).
  QImage Snapshot();

 private:
  friend class ImageWidget;
  void PictureChanged();
  void Paint(QImage& target);
  TPicture picture_;
  TBitmap screen_;
  bool auto_size_ = false;
  bool stretch_ = false;
  bool center_ = false;
  bool proportional_ = false;
  bool transparent_ = false;
};

}  // namespace fw
