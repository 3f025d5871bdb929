// TJPEGImage: the framework graphic class for JPEG pictures, registered with
// TPicture for the extensions "jpg" and "jpeg" ("JPEG Image File").
//
// A loaded picture keeps the file's bytes as they were read: saving a
// picture that was not changed writes those bytes again, unchanged. The
// pixels are decoded once, at load time, so a bad file fails to load
// (EJPEG "JPEG error #<code>: <the library's message>") instead of
// failing later when it is drawn. Assigning another graphic encodes it
// with CompressionQuality.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/gui/bitmap.h"
#include "framework/gui/graphic.h"
#include "framework/gui/jpeg_codec.h"

namespace fw {

FW_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic);

class TJPEGImage : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;

  const char* ClassName() const override { return "TJPEGImage"; }
  int Width() const override { return bitmap_.Width(); }
  int Height() const override { return bitmap_.Height(); }
  // EInvalidGraphicOperation "Cannot change the size of a JPEG image".
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override { return bitmap_.Empty(); }
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // Reads the rest of the stream; EJPEG on a bad or too large file, and
  // the picture stays as it was.
  void LoadFromStream(TStream& stream) override;
  // The bytes as loaded when unchanged, else a new encoding.
  void SaveToStream(TStream& stream) override;
  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;

  // 1..100; takes effect at the next encoding.
  int CompressionQuality() const { return options_.quality; }
  void SetCompressionQuality(int quality);
  bool ProgressiveEncoding() const { return options_.progressive; }
  void SetProgressiveEncoding(bool v) { options_.progressive = v; }
  // True for a one-component file; setting it makes the next encoding grey.
  bool Grayscale() const { return grayscale_; }
  void SetGrayscale(bool v);

  // The decoded pixels (pf32bit).
  const TBitmap& Bitmap() const { return bitmap_; }
  // The bytes that SaveToStream writes (encodes first when needed).
  const std::vector<std::uint8_t>& Data();

  // Decoding limits of every JPEG picture of the process.
  static jpeg::DecodeLimits& Limits();

 private:
  void Compress();
  TBitmap bitmap_;
  std::vector<std::uint8_t> data_;  // the file; empty when it must be encoded
  jpeg::EncodeOptions options_;
  bool grayscale_ = false;
};

// Registers TJPEGImage with TPicture for "jpg" and "jpeg"; the picture
// registry does this at its start, so only a test that unregistered the
// class needs it.
void RegisterJPEGImage();
std::unique_ptr<TGraphic> NewJPEGImage();

}  // namespace fw
