#include "gif/color_reduction.h"

#include <algorithm>
#include <memory>

#include "gif/color_quantizer.h"
#include "gif/gif_exception.h"

namespace gif {

void DitherImage(const TrueColorImage& source, TDitherEngine& ditherer, std::uint8_t* pixels) {
  const int width = source.Width();
  TGIFColor chosen;
  for (int y = 0; y < source.Height(); ++y) {
    const TGIFColor* row = source.ScanLine(y);
    std::uint8_t* out = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    // At most width steps: the walk cannot run on whatever the engine does.
    for (int n = 0; n < width && ditherer.InRow(); ++n) {
      const int x = ditherer.Column();
      if (x >= width) break;  // a ditherer made for a wider picture
      const TGIFColor& c = row[x];
      out[x] = static_cast<std::uint8_t>(ditherer.Dither(c.Red, c.Green, c.Blue, chosen));
    }
    ditherer.NextLine();
  }
}

IndexedImage ReduceColors(const TrueColorImage& source, TColorReduction method, TDitherMode dither_mode,
                          const ColorPalette* palette, int color_bits) {
  IndexedImage result;
  if (method == TColorReduction::rmNone) return result;
  if (static_cast<int>(method) > static_cast<int>(TColorReduction::rmPalette)) return result;
  if (static_cast<int>(dither_mode) > static_cast<int>(TDitherMode::dmBurkes)) return result;
  if (method == TColorReduction::rmPalette && (palette == nullptr || palette->empty())) return result;
  if (source.Empty()) RaiseGIFError(kInvalidImageDimensions);

  ColorPalette colors;
  std::unique_ptr<TColorLookup> lookup;
  switch (method) {
    case TColorReduction::rmWindows20: colors = SystemDefaultPalette(); break;
    case TColorReduction::rmWindows256: colors = HalftonePalette(); break;
    case TColorReduction::rmWindowsGray: colors = GrayPalette4(); break;
    case TColorReduction::rmMonochrome:
      colors = MonochromePalette();
      lookup = std::make_unique<TMonochromeLookup>();
      break;
    case TColorReduction::rmGrayScale:
      colors = GrayPalette256();
      lookup = std::make_unique<TGrayScaleLookup>();
      break;
    case TColorReduction::rmNetscape:
      colors = WebSafePalette();
      lookup = std::make_unique<TNetscapeColorLookup>();
      break;
    case TColorReduction::rmQuantize:
      color_bits = std::clamp(color_bits, 1, 8);
      colors = OctreePalette(source, 1 << color_bits, 8, false);
      break;
    case TColorReduction::rmQuantizeWindows: colors = OctreePalette(source, 256, 8, true); break;
    case TColorReduction::rmPalette:
      colors.assign(palette->begin(), palette->begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(palette->size(), 256)));
      break;
    case TColorReduction::rmNone: return result;
  }
  if (!lookup) lookup = std::make_unique<TFastColorLookup>(colors);
  if (lookup->Colors() == 0) return result;

  std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(dither_mode, source.Width(), *lookup);
  if (!ditherer) return result;
  result.width = source.Width();
  result.height = source.Height();
  result.pixels.assign(static_cast<std::size_t>(result.width) * static_cast<std::size_t>(result.height), 0);
  DitherImage(source, *ditherer, result.pixels.data());
  result.palette = std::move(colors);
  return result;
}

}  // namespace gif
