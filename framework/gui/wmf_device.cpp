// libwmf's headers define macros (U8, U16, U32, ...) that clash with Qt's
// own names: every Qt header comes first.
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

#include "platform/little_endian.h"
#include "framework/gui/wmf_device.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

extern "C" {
#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/font.h>
#include <libwmf/ipa.h>
#include <libwmf/macro.h>
}

namespace fw::wmf {

namespace {

// Raster operations of bitmap records (the DWORD codes of the records).
constexpr U32 kSrcCopy = 0x00CC0020;
constexpr U32 kSrcAnd = 0x008800C6;
constexpr U32 kSrcPaint = 0x00EE0086;
constexpr U32 kSrcInvert = 0x00660046;
// ... and of PatBlt.
constexpr U32 kBlackness = 0x00000042;
constexpr U32 kWhiteness = 0x00FF0062;
constexpr U32 kDstInvert = 0x00550009;

// Pixels of one bitmap: a file with a larger one is refused.
constexpr int kMaxBitmapPixels = 1 << 25;

// API->device_data. libwmf frees it with the API, so it is plain memory
// from wmf_malloc; the painter belongs to whoever plays the file.
struct DeviceData {
  QPainter* painter;
};

QPainter* PainterOf(wmfAPI* api) {
  const auto* d = static_cast<const DeviceData*>(api->device_data);
  return d != nullptr ? d->painter : nullptr;
}

QColor ColorOf(const wmfRGB& c) { return QColor(c.r, c.g, c.b); }

QPointF PointOf(const wmfD_Coord& c) { return QPointF(c.x, c.y); }

QRectF RectOf(const wmfD_Coord& tl, const wmfD_Coord& br) { return QRectF(PointOf(tl), PointOf(br)).normalized(); }

QPen PenOf(const wmfDC* dc) {
  const wmfPen* p = WMF_DC_PEN(dc);
  if (p == nullptr || WMF_PEN_STYLE(p) == PS_NULL) return QPen(Qt::NoPen);
  QPen pen(ColorOf(*WMF_PEN_COLOR(p)));
  // Width 0 is one device pixel whatever the scale: Qt's cosmetic pen.
  const double width = WMF_PEN_WIDTH(p);
  pen.setWidthF(std::isfinite(width) && width > 0 ? width : 0);
  switch (WMF_PEN_STYLE(p)) {
    case PS_DASH:
      pen.setStyle(Qt::DashLine);
      break;
    case PS_DOT:
    case PS_ALTERNATE:
      pen.setStyle(Qt::DotLine);
      break;
    case PS_DASHDOT:
      pen.setStyle(Qt::DashDotLine);
      break;
    case PS_DASHDOTDOT:
      pen.setStyle(Qt::DashDotDotLine);
      break;
    default:
      pen.setStyle(Qt::SolidLine);
  }
  switch (WMF_PEN_ENDCAP(p)) {
    case PS_ENDCAP_SQUARE:
      pen.setCapStyle(Qt::SquareCap);
      break;
    case PS_ENDCAP_FLAT:
      pen.setCapStyle(Qt::FlatCap);
      break;
    default:
      pen.setCapStyle(Qt::RoundCap);
  }
  switch (WMF_PEN_JOIN(p)) {
    case PS_JOIN_BEVEL:
      pen.setJoinStyle(Qt::BevelJoin);
      break;
    case PS_JOIN_MITER:
      pen.setJoinStyle(Qt::MiterJoin);
      break;
    default:
      pen.setJoinStyle(Qt::RoundJoin);
  }
  return pen;
}

// The pixels of a bitmap libwmf decoded, rows top to bottom; a null image
// for none or one too large.
QImage ImageOf(wmfAPI* api, wmfBMP* bmp, int x0, int y0, int w, int h) {
  if (bmp == nullptr || bmp->data == nullptr || w <= 0 || h <= 0 || x0 < 0 || y0 < 0 || x0 + w > bmp->width ||
      y0 + h > bmp->height || static_cast<long long>(w) * h > kMaxBitmapPixels)
    return QImage();
  QImage image(w, h, QImage::Format_ARGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x) {
      wmfRGB rgb{};
      // libwmf counts bitmap rows from the bottom, as a DIB stores them.
      const int opacity = wmf_ipa_bmp_color(api, bmp, &rgb, static_cast<unsigned>(x0 + x),
                                            static_cast<unsigned>(bmp->height - 1 - (y0 + y)));
      row[x] = qRgba(rgb.r, rgb.g, rgb.b, opacity < 0 ? 0 : 255);
    }
  }
  return image;
}

QBrush BrushOf(wmfAPI* api, const wmfDC* dc) {
  wmfBrush* b = WMF_DC_BRUSH(dc);
  if (b == nullptr) return QBrush(Qt::NoBrush);
  const QColor color = ColorOf(*WMF_BRUSH_COLOR(b));
  switch (WMF_BRUSH_STYLE(b)) {
    case BS_NULL:
      return QBrush(Qt::NoBrush);
    case BS_HATCHED:
      switch (WMF_BRUSH_HATCH(b)) {
        case HS_HORIZONTAL:
          return QBrush(color, Qt::HorPattern);
        case HS_VERTICAL:
          return QBrush(color, Qt::VerPattern);
        case HS_FDIAGONAL:
          return QBrush(color, Qt::FDiagPattern);
        case HS_BDIAGONAL:
          return QBrush(color, Qt::BDiagPattern);
        case HS_CROSS:
          return QBrush(color, Qt::CrossPattern);
        default:
          return QBrush(color, Qt::DiagCrossPattern);
      }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT: {
      wmfBMP* bmp = WMF_BRUSH_BITMAP(b);
      const QImage tile = ImageOf(api, bmp, 0, 0, bmp->width, bmp->height);
      if (!tile.isNull()) return QBrush(tile);
      return QBrush(color);
    }
    default:
      return QBrush(color);
  }
}

// Sets the painter up for a shape: pen, brush, background of hatches and
// dashes.
QPainter* ShapePainter(wmfAPI* api, const wmfDC* dc, bool filled) {
  QPainter* p = PainterOf(api);
  if (p == nullptr || dc == nullptr) return nullptr;
  p->setPen(PenOf(dc));
  p->setBrush(filled ? BrushOf(api, dc) : QBrush(Qt::NoBrush));
  p->setBackgroundMode(WMF_DC_OPAQUE(dc) ? Qt::OpaqueMode : Qt::TransparentMode);
  p->setBackground(ColorOf(*WMF_DC_BACKGROUND(dc)));
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  return p;
}

Qt::FillRule FillRuleOf(const wmfDC* dc) { return WMF_DC_POLYFILL(dc) == WINDING ? Qt::WindingFill : Qt::OddEvenFill; }

// ---- the device functions

void DeviceOpen(wmfAPI*) {}
void DeviceClose(wmfAPI*) {}
void DeviceBegin(wmfAPI*) {}
void DeviceEnd(wmfAPI*) {}
void Flood(wmfAPI*, wmfFlood_t*) {}

void DrawPixel(wmfAPI* api, wmfDrawPixel_t* d) {
  QPainter* p = PainterOf(api);
  if (p == nullptr) return;
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->fillRect(QRectF(d->pt.x, d->pt.y, d->pixel_width, d->pixel_height), ColorOf(d->color));
}

// The angle, in degrees counter-clockwise, of the point of the ellipse in
// rect on the ray from its centre through radial (a point relative to the
// centre, y down), as QPainterPath::arcTo measures it.
double ArcAngle(const QRectF& rect, const wmfD_Coord& radial) {
  const double rx = rect.width() / 2, ry = rect.height() / 2;
  if (rx <= 0 || ry <= 0) return 0;
  return std::atan2(-radial.y / ry, radial.x / rx) * 180 / std::numbers::pi;
}

enum class ArcKind { kArc, kPie, kChord };

// libwmf gives the radial points relative to the ellipse's centre, and
// the arc runs counter-clockwise on the page from its end point to its
// start point (its names for the file's second and first radial).
void DrawArcKind(wmfAPI* api, wmfDrawArc_t* d, ArcKind kind) {
  QPainter* p = ShapePainter(api, d->dc, kind != ArcKind::kArc);
  if (p == nullptr) return;
  const QRectF rect = RectOf(d->TL, d->BR);
  const double start = ArcAngle(rect, d->end);
  double sweep = ArcAngle(rect, d->start) - start;
  if (sweep <= 0) sweep += 360;
  QPainterPath path;
  if (kind == ArcKind::kPie) {
    path.moveTo(rect.center());
  } else {
    path.arcMoveTo(rect, start);
  }
  path.arcTo(rect, start, sweep);
  if (kind != ArcKind::kArc) path.closeSubpath();
  p->drawPath(path);
}

void DrawPie(wmfAPI* api, wmfDrawArc_t* d) { DrawArcKind(api, d, ArcKind::kPie); }
void DrawChord(wmfAPI* api, wmfDrawArc_t* d) { DrawArcKind(api, d, ArcKind::kChord); }
void DrawArc(wmfAPI* api, wmfDrawArc_t* d) { DrawArcKind(api, d, ArcKind::kArc); }

void DrawEllipse(wmfAPI* api, wmfDrawArc_t* d) {
  if (QPainter* p = ShapePainter(api, d->dc, true)) p->drawEllipse(RectOf(d->TL, d->BR));
}

void DrawLine(wmfAPI* api, wmfDrawLine_t* d) {
  if (QPainter* p = ShapePainter(api, d->dc, false)) p->drawLine(PointOf(d->from), PointOf(d->to));
}

QPolygonF PolygonOf(const wmfD_Coord* pt, unsigned count) {
  QPolygonF poly;
  poly.reserve(static_cast<qsizetype>(count));
  for (unsigned i = 0; i < count; ++i) poly.append(PointOf(pt[i]));
  return poly;
}

void PolyLine(wmfAPI* api, wmfPolyLine_t* d) {
  QPainter* p = ShapePainter(api, d->dc, false);
  if (p == nullptr || d->pt == nullptr || d->count < 2) return;
  p->drawPolyline(PolygonOf(d->pt, d->count));
}

void DrawPolygon(wmfAPI* api, wmfPolyLine_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr || d->pt == nullptr || d->count < 2) return;
  p->drawPolygon(PolygonOf(d->pt, d->count), FillRuleOf(d->dc));
}

void DrawPolyPolygon(wmfAPI* api, wmfPolyPoly_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr || d->pt == nullptr || d->count == nullptr) return;
  QPainterPath path;
  path.setFillRule(FillRuleOf(d->dc));
  for (unsigned i = 0; i < d->npoly; ++i) {
    if (d->pt[i] == nullptr || d->count[i] < 2) continue;
    path.addPolygon(PolygonOf(d->pt[i], d->count[i]));
    path.closeSubpath();
  }
  p->drawPath(path);
}

void DrawRectangle(wmfAPI* api, wmfDrawRectangle_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr) return;
  const QRectF rect = RectOf(d->TL, d->BR);
  // width and height are the axes of the corner ellipses.
  if (d->width > 0 && d->height > 0) {
    p->drawRoundedRect(rect, d->width / 2, d->height / 2);
  } else {
    p->drawRect(rect);
  }
}

void RopDraw(wmfAPI* api, wmfROP_Draw_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr) return;
  const QRectF rect = RectOf(d->TL, d->BR);
  switch (d->ROP) {
    case kBlackness:
      p->fillRect(rect, Qt::black);
      break;
    case kWhiteness:
      p->fillRect(rect, Qt::white);
      break;
    case kDstInvert:
      p->setCompositionMode(QPainter::RasterOp_NotDestination);
      p->fillRect(rect, Qt::black);
      break;
    default:
      p->fillRect(rect, p->brush());
  }
}

void BmpDraw(wmfAPI* api, wmfBMP_Draw_t* d) {
  QPainter* p = PainterOf(api);
  if (p == nullptr) return;
  const QImage image = ImageOf(api, &d->bmp, d->crop.x, d->crop.y, d->crop.w, d->crop.h);
  if (image.isNull()) return;
  // pixel_width and pixel_height: the size of one bitmap pixel in device
  // units.
  const QRectF target(d->pt.x, d->pt.y, d->crop.w * d->pixel_width, d->crop.h * d->pixel_height);
  switch (d->type) {
    case kSrcAnd:
      p->setCompositionMode(QPainter::RasterOp_SourceAndDestination);
      break;
    case kSrcPaint:
      p->setCompositionMode(QPainter::RasterOp_SourceOrDestination);
      break;
    case kSrcInvert:
      p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      break;
    case kSrcCopy:
    default:
      p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  p->drawImage(target.normalized(), image);
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// ---- text

struct OutlineSink {
  QPainterPath* path;
  double x;      // pen position, font units
  double scale;  // device units per font unit
  QPointF At(const FT_Vector* v) const { return QPointF((x + v->x) * scale, -v->y * scale); }
};

int MoveTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  s->path->moveTo(s->At(to));
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  s->path->lineTo(s->At(to));
  return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  s->path->quadTo(s->At(control), s->At(to));
  return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  s->path->cubicTo(s->At(c1), s->At(c2), s->At(to));
  return 0;
}

// The string's glyphs along a baseline from (0, 0), in device units at a
// font height of height; returns the advance.
double GlyphPath(FT_Face face, const char* text, double height, double extra, QPainterPath& path) {
  static const FT_Outline_Funcs kFuncs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
  const double units = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  OutlineSink sink{&path, 0, height / units};
  for (const char* c = text; *c != '\0'; ++c) {
    const FT_UInt glyph = FT_Get_Char_Index(face, static_cast<unsigned char>(*c));
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) != 0) continue;
    if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) FT_Outline_Decompose(&face->glyph->outline, &kFuncs, &sink);
    sink.x += static_cast<double>(face->glyph->advance.x) + extra / sink.scale;
  }
  return sink.x * sink.scale;
}

void DrawText(wmfAPI* api, wmfDrawText_t* d) {
  QPainter* p = PainterOf(api);
  if (p == nullptr || d->dc == nullptr || d->str == nullptr) return;
  wmfFont* font = WMF_DC_FONT(d->dc);
  FT_Face face = font != nullptr ? WMF_FONT_FTFACE(font) : nullptr;
  if (face == nullptr || !std::isfinite(d->font_height) || !std::isfinite(d->font_ratio)) return;
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  const QColor background = ColorOf(*WMF_DC_BACKGROUND(d->dc));
  if (d->flags & ETO_OPAQUE) p->fillRect(RectOf(d->TL, d->BR), background);
  if (d->flags & ETO_CLIPPED) p->setClipRect(RectOf(d->TL, d->BR), Qt::IntersectClip);
  if (WMF_DC_OPAQUE(d->dc)) {
    const QPolygonF box({PointOf(d->bbox.TL), PointOf(d->bbox.TR), PointOf(d->bbox.BR), PointOf(d->bbox.BL)});
    p->setPen(Qt::NoPen);
    p->setBrush(background);
    p->drawPolygon(box);
  }
  QPainterPath glyphs;
  const double extra = d->font_ratio > 0 ? WMF_DC_CHAREXTRA(d->dc) / d->font_ratio : 0;
  const double advance = GlyphPath(face, d->str, d->font_height, extra, glyphs);
  // Underline and strike-out, from the face's own metrics.
  const double units = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  const double thickness = std::max(1.0, face->underline_thickness * d->font_height / units);
  if (WMF_TEXT_UNDERLINE(font))
    glyphs.addRect(0, -face->underline_position * d->font_height / units - thickness / 2, advance, thickness);
  if (WMF_TEXT_STRIKEOUT(font)) glyphs.addRect(0, -d->font_height * 0.3, advance, thickness);
  // pt is the start of the baseline; the escapement turns the baseline
  // counter-clockwise, and font_ratio stretches the glyphs across it.
  p->translate(PointOf(d->pt));
  p->rotate(-WMF_TEXT_ANGLE(font) * 180 / std::numbers::pi);
  p->scale(d->font_ratio > 0 ? d->font_ratio : 1, 1);
  p->fillPath(glyphs, ColorOf(*WMF_DC_TEXTCOLOR(d->dc)));
  p->restore();
}

// ---- regions

QPainterPath RegionPath(const wmfPolyRectangle_t* d) {
  QPainterPath path;
  if (d->TL == nullptr || d->BR == nullptr) return path;
  for (unsigned i = 0; i < d->count; ++i) path.addRect(RectOf(d->TL[i], d->BR[i]));
  return path;
}

void RegionFrame(wmfAPI* api, wmfPolyRectangle_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr || d->TL == nullptr || d->BR == nullptr) return;
  // Each rectangle's border, width x height thick, inside it.
  for (unsigned i = 0; i < d->count; ++i) {
    const QRectF r = RectOf(d->TL[i], d->BR[i]);
    QPainterPath frame;
    frame.addRect(r);
    frame.addRect(r.adjusted(d->width, d->height, -d->width, -d->height));
    frame.setFillRule(Qt::OddEvenFill);
    p->fillPath(frame, p->brush());
  }
}

void RegionPaint(wmfAPI* api, wmfPolyRectangle_t* d) {
  QPainter* p = ShapePainter(api, d->dc, true);
  if (p == nullptr) return;
  p->fillPath(RegionPath(d), p->brush());
}

void RegionClip(wmfAPI* api, wmfPolyRectangle_t* d) {
  QPainter* p = PainterOf(api);
  if (p == nullptr) return;
  if (d->count == 0) {
    p->setClipping(false);
  } else {
    p->setClipPath(RegionPath(d), Qt::ReplaceClip);
  }
}

// ---- bitmaps as read from the records

// Whether a record's DIB (BITMAPCOREHEADER of 12 bytes or
// BITMAPINFOHEADER of 40 or more: size, width, height, planes, bits per
// pixel, compression, ...) has a header libwmf knows and no more pixels
// than its bytes can hold: libwmf's reader trusts the header (one of size
// 0 keeps it busy without end).
bool DibFits(const unsigned char* p, long length) {
  if (p == nullptr || length < 12) return false;
  const std::uint32_t header = platform::LoadLittle<std::uint32_t>(p);
  std::int64_t width = 0, height = 0;
  unsigned bits = 0;
  std::uint32_t compression = 0;
  if (header == 12) {
    width = platform::LoadLittle<std::uint16_t>(p + 4);
    height = platform::LoadLittle<std::uint16_t>(p + 6);
    bits = platform::LoadLittle<std::uint16_t>(p + 10);
  } else if (header == 40 || header == 52 || header == 56 || header == 64 || header == 108 || header == 124) {
    if (length < static_cast<long>(header)) return false;
    width = static_cast<std::int32_t>(platform::LoadLittle<std::uint32_t>(p + 4));
    height = std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(platform::LoadLittle<std::uint32_t>(p + 8))));
    bits = platform::LoadLittle<std::uint16_t>(p + 14);
    compression = platform::LoadLittle<std::uint32_t>(p + 16);
  } else {
    return false;
  }
  if (width <= 0 || height <= 0 || width * height > kMaxBitmapPixels) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  switch (compression) {
    case 0:  // BI_RGB
    case 3:  // BI_BITFIELDS
      return (width * bits + 31) / 32 * 4 * height <= length;
    case 1:  // BI_RLE8 and BI_RLE4: a run of 255 pixels takes 2 bytes
    case 2:
      return width * height <= static_cast<std::int64_t>(length) * 128;
    default:
      return false;
  }
}

void BmpRead(wmfAPI* api, wmfBMP_Read_t* r) {
  r->bmp.data = nullptr;
  if (!DibFits(r->buffer, r->length)) {
    api->err = wmf_E_BadFormat;
    return;
  }
  wmf_ipa_bmp_read(api, r);
}

void UserData(wmfAPI*, wmfUserData_t*) {}

// No C++ exception may cross libwmf's frames: one that leaves a drawing
// function (Qt's containers throw std::bad_alloc) ends the play with a
// device error.
template <auto F>
struct Safe;
template <class Arg, void (*F)(wmfAPI*, Arg*)>
struct Safe<F> {
  static void Call(wmfAPI* api, Arg* arg) noexcept {
    try {
      F(api, arg);
    } catch (...) {
      api->err = wmf_E_DeviceError;
    }
  }
};

}  // namespace

void InstallDevice(_wmfAPI* api) {
  if (api->function_reference == nullptr) {
    api->function_reference = wmf_malloc(api, sizeof(wmfFunctionReference));
    if (api->function_reference == nullptr) return;  // libwmf has set wmf_E_InsMem
  }
  auto* fr = static_cast<wmfFunctionReference*>(api->function_reference);
  fr->device_open = DeviceOpen;
  fr->device_close = DeviceClose;
  fr->device_begin = DeviceBegin;
  fr->device_end = DeviceEnd;
  fr->flood_interior = Flood;
  fr->flood_exterior = Flood;
  fr->draw_pixel = Safe<DrawPixel>::Call;
  fr->draw_pie = Safe<DrawPie>::Call;
  fr->draw_chord = Safe<DrawChord>::Call;
  fr->draw_arc = Safe<DrawArc>::Call;
  fr->draw_ellipse = Safe<DrawEllipse>::Call;
  fr->draw_line = Safe<DrawLine>::Call;
  fr->poly_line = Safe<PolyLine>::Call;
  fr->draw_polygon = Safe<DrawPolygon>::Call;
  fr->draw_polypolygon = Safe<DrawPolyPolygon>::Call;
  fr->draw_rectangle = Safe<DrawRectangle>::Call;
  fr->rop_draw = Safe<RopDraw>::Call;
  fr->bmp_draw = Safe<BmpDraw>::Call;
  fr->bmp_read = BmpRead;
  fr->bmp_free = wmf_ipa_bmp_free;
  fr->draw_text = Safe<DrawText>::Call;
  fr->udata_init = UserData;
  fr->udata_copy = UserData;
  fr->udata_set = UserData;
  fr->udata_free = UserData;
  fr->region_frame = Safe<RegionFrame>::Call;
  fr->region_paint = Safe<RegionPaint>::Call;
  fr->region_clip = Safe<RegionClip>::Call;
  auto* data = static_cast<DeviceData*>(wmf_malloc(api, sizeof(DeviceData)));
  if (data != nullptr) data->painter = nullptr;
  api->device_data = data;
}

void SetDevicePainter(_wmfAPI* api, QPainter* painter) {
  if (auto* d = static_cast<DeviceData*>(api->device_data)) d->painter = painter;
}

}  // namespace fw::wmf
