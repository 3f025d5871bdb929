// TGraphic: the abstract picture of the class framework. A graphic has a
// size, draws itself into a rectangle of a canvas and is read from and
// written to streams and files. OnChange is called after every change.
#pragma once

#include <functional>
#include <string>

#include "framework/gui/graphics.h"
#include "framework/streams.h"

namespace fw {

class TCanvas;

class TGraphic {
 public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  // The class name used in messages ("Cannot assign a TBitmap to a ...").
  virtual const char* ClassName() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;
  virtual bool Empty() const = 0;
  // Draws the picture scaled into rect of canvas. Called through
  // TCanvas::Draw and TCanvas::StretchDraw.
  virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);

  // Copies source into this graphic: source.AssignTo(*this) is asked first,
  // then EConvertError "Cannot assign a <source> to a <this>".
  virtual void Assign(const TGraphic& source);
  // Copies this graphic into dest when this class knows how; false when not.
  virtual bool AssignTo(TGraphic& dest) const;

  virtual bool Transparent() const { return transparent_; }
  virtual void SetTransparent(bool transparent);
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool PaletteModified() const { return palette_modified_; }
  void SetPaletteModified(bool modified) { palette_modified_ = modified; }

  std::function<void(TGraphic* sender)> OnChange;

 protected:
  // Marks the graphic modified and calls OnChange.
  virtual void Changed();

 private:
  bool transparent_ = false;
  bool modified_ = false;
  bool palette_modified_ = false;
};

}  // namespace fw
