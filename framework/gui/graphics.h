// Basic graphics types of the class framework: colours, rectangles, pixel
// formats and the graphics exceptions.
//
// TColor layout (32 bits, as the framework stores colours):
//   0x00BBGGRR          an RGB colour, red in the lowest byte
//   0x80000000 | n      system colour n (clWindow and friends)
//   0x1FFFFFFF          clNone
//   0x20000000          clDefault
#pragma once

#include <cstdint>

#include "framework/exceptions.h"

namespace fw {

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clSystemColor = 0x80000000;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clWindowText = clSystemColor | 8;

// Resolves system colours to RGB (the light default scheme); clNone and
// clDefault become black; an RGB colour stays as it is.
TColor ColorToRGB(TColor color);
inline constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
inline constexpr std::uint8_t GetRValue(TColor c) { return static_cast<std::uint8_t>(c); }
inline constexpr std::uint8_t GetGValue(TColor c) { return static_cast<std::uint8_t>(c >> 8); }
inline constexpr std::uint8_t GetBValue(TColor c) { return static_cast<std::uint8_t>(c >> 16); }

// Left/top inclusive, right/bottom exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
inline constexpr TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline constexpr TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

// Row layouts of TBitmap::ScanLine:
//   pf1bit   8 pixels a byte, leftmost in the highest bit, palette of 2
//   pf8bit   1 byte a pixel, an index into the palette
//   pf24bit  3 bytes a pixel: blue, green, red
//   pf32bit  4 bytes a pixel: blue, green, red, unused
// pfDevice is pf32bit. There is no 4-, 15- or 16-bit layout here: asking
// for one gives pf8bit, pf24bit and pf24bit.
enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

FW_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
FW_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
FW_DECLARE_EXCEPTION(EOutOfResources, Exception);

// Round(a * b / c), halves away from zero, as the platform's MulDiv; -1 when
// c is 0 or the result does not fit.
int MulDiv(int a, int b, int c);

}  // namespace fw
