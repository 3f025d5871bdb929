#include "gif/true_color_image.h"

#include <algorithm>

#include "gif/gif_exception.h"
#include "gif/gif_sub_image.h"

namespace gif {

TrueColorImage::TrueColorImage(int width, int height, TGIFColor fill) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<std::int64_t>(width) * height > kMaxPixels)
    RaiseGIFError(kImageTooLarge);
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
}

TGIFColor* TrueColorImage::ScanLine(int y) {
  if (y < 0 || y >= height_ || width_ == 0) RaiseGIFError(kInvalidPixelCoordinates);
  return pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
}

const TGIFColor* TrueColorImage::ScanLine(int y) const { return const_cast<TrueColorImage*>(this)->ScanLine(y); }

TGIFColor& TrueColorImage::Pixel(int x, int y) {
  if (x < 0 || x >= width_) RaiseGIFError(kInvalidPixelCoordinates);
  return ScanLine(y)[x];
}

const TGIFColor& TrueColorImage::Pixel(int x, int y) const { return const_cast<TrueColorImage*>(this)->Pixel(x, y); }

void AssignToFrame(const IndexedImage& image, TGIFSubImage& frame) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
    RaiseGIFError(kInvalidImageDimensions);
  frame.SetSize(image.width, image.height);
  std::copy(image.pixels.begin(), image.pixels.end(), frame.Data());
  frame.ColorMap().ImportColors(image.palette.data(), static_cast<int>(image.palette.size()));
}

}  // namespace gif
