// TMetafile: the framework graphic class for Windows metafiles, registered
// with TPicture for "wmf" ("Metafiles") and "emf" ("Enhanced Metafiles").
// Which of the two a file is comes from its first bytes, not from its
// name: WMF files play through libwmf (wmf_reader.h), EMF files through
// libemf2svg and Qt SVG (emf_reader.h).
//
// The size of a metafile is its declared picture size at 96 pixels per
// inch. A metafile is a drawing, not pixels: Draw plays the records again
// at the size of the rectangle (up to kMaxRenderSide a side and
// kMaxRenderPixels, stretched beyond), transparent where they draw
// nothing. The last picture played is kept for the next Draw at the same
// size.
//
// LoadFromStream plays the whole file once, so a bad file fails to load
// (EInvalidGraphic "Metafile is not valid (<what>)", or "Metafile is too
// large" past kMaxFileSize or the bitmap limits of TBitmap) instead of
// failing when it is drawn. An EMF file's text is drawn with the application's
// fonts: playing one before a QGuiApplication exists raises
// EInvalidGraphicOperation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "framework/gui/graphic.h"

namespace fw {

class TMetafile : public TGraphic {
 public:
  static constexpr int kMaxRenderSide = 4096;
  static constexpr std::int64_t kMaxRenderPixels = std::int64_t{1} << 24;
  static constexpr std::int64_t kMaxFileSize = std::int64_t{64} << 20;

  TMetafile();
  ~TMetafile() override;

  const char* ClassName() const override { return "TMetafile"; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  // EInvalidGraphicOperation "Cannot change the size of a metafile".
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override { return data_.empty(); }
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // Reads the rest of the stream; on a bad file the picture stays as it
  // was.
  void LoadFromStream(TStream& stream) override;
  // The bytes as loaded.
  void SaveToStream(TStream& stream) override;
  // Another metafile is copied; anything else: EConvertError.
  void Assign(const TGraphic& source) override;

  // True for an EMF file, false for a WMF file.
  bool Enhanced() const { return enhanced_; }

 private:
  // The picture played at width x height, capped as Draw caps it; the
  // last picture played when playing again fails.
  const QImage& Render(int width, int height);
  std::vector<std::uint8_t> data_;
  bool enhanced_ = false;
  int width_ = 0;
  int height_ = 0;
  QImage played_;  // the last picture played
};

std::unique_ptr<TGraphic> NewMetafile();

}  // namespace fw
