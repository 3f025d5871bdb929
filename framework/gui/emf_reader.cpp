#include "framework/gui/emf_reader.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdlib>
#include <memory>

extern "C" {
#include <emf2svg.h>
}

#include "platform/little_endian.h"
#include "framework/gui/picture_size.h"

// libemf2svg ends its font look-up for glyph-index text (ExtTextOut with
// ETO_GLYPH_INDEX) with FcFini(), which tears down fontconfig's global state
// while Qt still holds fontconfig caches: fontconfig then aborts the program
// on an assertion. This definition in the program takes that call (the
// program's own symbols come first in the dynamic link) and does nothing:
// fontconfig stays up for the life of the process, as Qt expects.
extern "C" void FcFini() {}

namespace fw::emf {

namespace {

constexpr std::size_t kHeaderSize = 88;
constexpr std::uint32_t kHeaderType = 1;
constexpr std::uint32_t kEofType = 14;
constexpr double kPixelsPerInch = 96;
constexpr double kHundredthsOfMmPerInch = 2540;

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::LoadLittle<std::uint32_t>(b.data() + at);
}
std::int32_t GetS32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(Get32(b, at));
}

struct Rect32 {
  double left, top, right, bottom;
  double Width() const { return right - left; }
  double Height() const { return bottom - top; }
};

Rect32 GetRect(std::span<const std::uint8_t> b, std::size_t at) {
  return {static_cast<double>(GetS32(b, at)), static_cast<double>(GetS32(b, at + 4)),
          static_cast<double>(GetS32(b, at + 8)), static_cast<double>(GetS32(b, at + 12))};
}

struct Layout {
  Rect32 bounds{};  // reference device pixels
  Rect32 frame{};   // the picture, in reference device pixels
  int width = 0;    // pixels at 96 per inch
  int height = 0;
};

std::string CheckLayout(std::span<const std::uint8_t> b, Layout& out) {
  if (!LooksLikeEmf(b)) return "bad header";
  const std::uint32_t header_size = Get32(b, 4);
  if (header_size < kHeaderSize || header_size % 4 != 0) return "bad header";
  out.bounds = GetRect(b, 8);
  const Rect32 frame = GetRect(b, 24);  // 0.01 mm
  const double device_cx = GetS32(b, 72), device_cy = GetS32(b, 76);
  const double mm_cx = GetS32(b, 80), mm_cy = GetS32(b, 84);
  if (frame.Width() > 0 && frame.Height() > 0) {
    // Reference pixels per 0.01 mm; 96 per inch when the header gives none.
    const double px = device_cx > 0 && mm_cx > 0 ? device_cx / (mm_cx * 100) : kPixelsPerInch / kHundredthsOfMmPerInch;
    const double py = device_cy > 0 && mm_cy > 0 ? device_cy / (mm_cy * 100) : kPixelsPerInch / kHundredthsOfMmPerInch;
    out.frame = {frame.left * px, frame.top * py, frame.right * px, frame.bottom * py};
    out.width = WholePixels(frame.Width() * kPixelsPerInch / kHundredthsOfMmPerInch);
    out.height = WholePixels(frame.Height() * kPixelsPerInch / kHundredthsOfMmPerInch);
  } else {
    out.frame = out.bounds;
    out.width = WholePixels(out.bounds.Width());
    out.height = WholePixels(out.bounds.Height());
  }
  if (out.width < 1 || out.height < 1) return "empty picture";
  // (2), (3): each step moves on by at least 8 bytes.
  std::size_t at = 0;
  while (true) {
    if (b.size() - at < 8) return "cut short";
    const std::uint32_t type = Get32(b, at), size = Get32(b, at + 4);
    if (size < 8 || size % 4 != 0) return "bad record size at byte " + std::to_string(at);
    if (size > b.size() - at) return "cut short";
    if (type == kEofType) return "";
    at += size;
  }
}

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

bool LooksLikeEmf(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kHeaderSize && Get32(bytes, 0) == kHeaderType && Get32(bytes, 40) == kSignature;
}

std::string ReadSize(std::span<const std::uint8_t> bytes, int& width, int& height) {
  Layout layout;
  if (std::string e = CheckLayout(bytes, layout); !e.empty()) return e;
  width = layout.width;
  height = layout.height;
  return "";
}

std::string Play(std::span<const std::uint8_t> bytes, int width, int height, QImage& out) {
  Layout layout;
  if (std::string e = CheckLayout(bytes, layout); !e.empty()) return e;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return "no application to draw text";
  // No namespace prefix: libemf2svg does not free its copy of one.
  generatorOptions options{};
  options.nameSpace = nullptr;
  options.verbose = false;
  options.emfplus = true;
  options.svgDelimiter = true;
  char* svg = nullptr;
  std::size_t svg_size = 0;
  // libemf2svg only reads the bytes.
  const int converted = emf2svg(reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data())), bytes.size(), &svg,
                                &svg_size, &options);
  const std::unique_ptr<char, FreeDeleter> owned(svg);
  if (converted == 0 || svg == nullptr) return "bad record";
  QSvgRenderer renderer(QByteArray::fromRawData(svg, static_cast<qsizetype>(svg_size)));
  if (!renderer.isValid()) return "bad record";
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return "too much memory needed";
  image.fill(Qt::transparent);
  // The SVG covers the bounds, from their top-left corner; the picture is
  // the frame.
  const QRectF view = renderer.viewBoxF();
  const double sx = width / layout.frame.Width(), sy = height / layout.frame.Height();
  const QRectF target((layout.bounds.left - layout.frame.left) * sx, (layout.bounds.top - layout.frame.top) * sy,
                      view.width() * sx, view.height() * sy);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, target);
  painter.end();
  out = std::move(image);
  return "";
}

}  // namespace fw::emf
