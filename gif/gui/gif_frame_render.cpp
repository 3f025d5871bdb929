#include "gif/gui/gif_frame_render.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <QImage>

#include "framework/gui/picture.h"

#include "gif/color_lookup.h"
#include "gif/dither.h"
#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gif/gif_image.h"

namespace gif {

namespace {

void Report(TGIFSubImage& frame, TProgressStage stage, int percent, const char* message) {
  if (frame.Image()) frame.Image()->Progress(&frame, stage, percent, message);
}

// Ends a progress run with 100, or with 0 when an exception leaves.
class ProgressRun {
 public:
  ProgressRun(TGIFSubImage& frame, const char* message) : frame_(frame), message_(message) {
    Report(frame_, TProgressStage::psStarting, 0, message_);
  }
  ~ProgressRun() { Report(frame_, TProgressStage::psEnding, done_ ? 100 : 0, message_); }
  void Row(int y, int height) {
    if (y % 32 == 0 && height > 0) Report(frame_, TProgressStage::psRunning, y * 100 / height, message_);
  }
  void Done() { done_ = true; }

 private:
  TGIFSubImage& frame_;
  const char* message_;
  bool done_ = false;
};

std::vector<fw::TColor> WebPaletteColors() {
  std::vector<fw::TColor> out;
  for (const TGIFColor& c : WebSafePalette()) out.push_back(ColorValue(c));
  return out;
}

}  // namespace

TGIFFrameMask::TGIFFrameMask(int width, int height)
    : width_(width),
      height_(height),
      stride_((width + 15) / 16 * 2),
      bits_(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height), 0) {}

int TransparentIndex(const TGIFSubImage& frame) {
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  if (!frame.Transparent() || !gce || !gce->Transparent()) return -1;
  return gce->TransparentColorIndex();
}

std::vector<fw::TColor> FramePalette(TGIFSubImage& frame) {
  std::vector<fw::TColor> palette(256, fw::clBlack);
  const TGIFColorMap& map = frame.ActiveColorMap();
  for (int i = 0; i < map.Count(); ++i) palette[static_cast<std::size_t>(i)] = ColorValue(map.Colors(i));
  return palette;
}

TGIFFrameBitmap RenderFrame(TGIFSubImage& frame, bool dither) {
  TGIFFrameBitmap out;
  out.Bitmap = std::make_unique<fw::TBitmap>();
  out.Bitmap->SetPixelFormat(fw::TPixelFormat::pf8bit);
  // A frame whose pixel buffer does not match its size shows nothing.
  if (frame.Empty() || frame.DataSize() != static_cast<std::size_t>(frame.Width()) * frame.Height()) return out;
  ProgressRun progress(frame, kRenderingMessage);
  const int w = frame.Width();
  const int h = frame.Height();
  out.Bitmap->SetSize(w, h);
  const std::vector<fw::TColor> palette = FramePalette(frame);
  out.Bitmap->SetPalette(dither ? WebPaletteColors() : palette);
  const int transparent = TransparentIndex(frame);
  TGIFFrameMask mask;
  bool any_transparent = false;
  if (transparent >= 0) mask = TGIFFrameMask(w, h);
  if (!dither) {
    for (int y = 0; y < h; ++y) {
      progress.Row(y, h);
      const std::uint8_t* src = frame.Data() + static_cast<std::size_t>(y) * w;
      std::memcpy(out.Bitmap->ScanLine(y), src, static_cast<std::size_t>(w));
      if (transparent >= 0)
        for (int x = 0; x < w; ++x)
          if (src[x] == transparent) {
            mask.Set(x, y);
            any_transparent = true;
          }
    }
  } else {
    TNetscapeColorLookup lookup;
    TFloydSteinbergDitherer ditherer(w, lookup);
    std::uint8_t fill = 0;
    if (transparent >= 0) {
      const fw::TColor c = palette[static_cast<std::size_t>(transparent)];
      TGIFColor chosen{};
      fill = static_cast<std::uint8_t>(lookup.Lookup(fw::GetRValue(c), fw::GetGValue(c), fw::GetBValue(c), chosen));
    }
    for (int y = 0; y < h; ++y) {
      progress.Row(y, h);
      const std::uint8_t* src = frame.Data() + static_cast<std::size_t>(y) * w;
      std::uint8_t* dst = out.Bitmap->ScanLine(y);
      std::memset(dst, fill, static_cast<std::size_t>(w));
      for (int k = 0; k < w && ditherer.InRow(); ++k) {
        const int x = ditherer.Column();
        if (src[x] == transparent) {
          mask.Set(x, y);
          any_transparent = true;
          ditherer.Skip();
          continue;
        }
        const fw::TColor c = palette[src[x]];
        TGIFColor chosen{};
        dst[x] = static_cast<std::uint8_t>(
            ditherer.Dither(fw::GetRValue(c), fw::GetGValue(c), fw::GetBValue(c), chosen));
      }
      ditherer.NextLine();
    }
  }
  if (any_transparent) out.Mask = std::move(mask);
  progress.Done();
  return out;
}

fw::TRect ScaleFrameRect(const TGIFSubImage& frame, int image_width, int image_height, const fw::TRect& dest) {
  const int w = dest.Width();
  const int h = dest.Height();
  // An image without a screen size draws frames in their own size.
  if (image_width <= 0) image_width = w;
  if (image_height <= 0) image_height = h;
  return {fw::MulDiv(frame.Left(), w, image_width) + dest.Left, fw::MulDiv(frame.Top(), h, image_height) + dest.Top,
          fw::MulDiv(frame.Left() + frame.Width(), w, image_width) + dest.Left,
          fw::MulDiv(frame.Top() + frame.Height(), h, image_height) + dest.Top};
}

void TransparentStretchBlt(fw::TCanvas& canvas, const fw::TRect& dest_rect, const fw::TBitmap& source,
                           const TGIFFrameMask& mask) {
  if (source.Empty()) return;
  QImage img = source.Image().convertToFormat(QImage::Format_ARGB32);
  if (img.isNull()) throw fw::EOutOfResources("Out of system resources");
  const int h = std::min(img.height(), mask.Height());
  const int w = std::min(img.width(), mask.Width());
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < w; ++x)
      if (mask.Test(x, y)) row[x] = 0;
  }
  canvas.StretchDrawImage(dest_rect, img);
}

void DrawFrame(fw::TCanvas& canvas, const fw::TRect& rect, TGIFSubImage& frame, const TGIFFrameBitmap& rendered,
               bool transparent, bool tile) {
  if (!rendered.Bitmap || rendered.Bitmap->Empty()) return;
  const int image_width = frame.Image() ? frame.Image()->Width() : 0;
  const int image_height = frame.Image() ? frame.Image()->Height() : 0;
  const bool masked = transparent && frame.Transparent() && rendered.HasMask();
  auto paint = [&](const fw::TRect& r) {
    if (masked)
      TransparentStretchBlt(canvas, r, *rendered.Bitmap, rendered.Mask);
    else
      canvas.StretchDrawImage(r, rendered.Bitmap->Image());
  };
  if (!tile) {
    paint(ScaleFrameRect(frame, image_width, image_height, rect));
    return;
  }
  // Cells step by the logical screen's size (the frame's, without one).
  const int step_x = image_width > 0 ? image_width : frame.Width();
  const int step_y = image_height > 0 ? image_height : frame.Height();
  if (step_x <= 0 || step_y <= 0) return;
  for (int x = rect.Left + frame.Left(); x < rect.Right; x += step_x)
    for (int y = rect.Top + frame.Top(); y < rect.Bottom; y += step_y)
      paint(fw::Bounds(x, y, frame.Width(), frame.Height()));
}

namespace {

void GrowImage(TGIFSubImage& frame, int width, int height) {
  TGIFImage* image = frame.Image();
  if (!image) return;
  const bool had_size = image->Width() > 0 || image->Height() > 0;
  bool grew = false;
  if (image->Width() < frame.Left() + width) {
    if (had_size) image->ReportWarning(&frame, 1, kImageWidthTooSmall);
    image->Header().SetWidth(static_cast<std::uint16_t>(std::min(0xFFFF, frame.Left() + width)));
    grew = true;
  }
  if (image->Height() < frame.Top() + height) {
    if (had_size) image->ReportWarning(&frame, 1, kImageHeightTooSmall);
    image->Header().SetHeight(static_cast<std::uint16_t>(std::min(0xFFFF, frame.Top() + height)));
    grew = true;
  }
  if (grew && had_size) image->ReportWarning(&frame, 1, kImageExceedsScreen);
}

// The 24-bit path: colours enter the table as they come. An 8-entry ring of
// recent (colour, index) pairs, searched backwards from the last hit, saves
// most table searches on pictures with runs of equal colours.
void ImportTrueColors(TGIFSubImage& frame, const QImage& rgb, ProgressRun& progress) {
  const int w = rgb.width();
  const int h = rgb.height();
  TGIFColorMap& map = frame.ColorMap();
  std::array<std::pair<fw::TColor, int>, 8> ring;
  ring.fill({0xFFFFFFFF, -1});
  int last = 0;
  int next_slot = 0;
  for (int y = 0; y < h; ++y) {
    progress.Row(y, h);
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    std::uint8_t* dst = frame.Data() + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      const fw::TColor c = fw::RGBColor(static_cast<std::uint8_t>(qRed(row[x])), static_cast<std::uint8_t>(qGreen(row[x])),
                                        static_cast<std::uint8_t>(qBlue(row[x])));
      int index = -1;
      for (int k = 0; k < 8; ++k) {
        const int slot = (last - k + 8) % 8;
        if (ring[static_cast<std::size_t>(slot)].first == c) {
          index = ring[static_cast<std::size_t>(slot)].second;
          last = slot;
          break;
        }
      }
      if (index < 0) {
        index = map.IndexOf(c);
        if (index < 0) index = map.Add(c);  // "Color table overflow" past 256
        ring[static_cast<std::size_t>(next_slot)] = {c, index};
        last = next_slot;
        next_slot = (next_slot + 1) % 8;
      }
      dst[x] = static_cast<std::uint8_t>(index);
    }
  }
}

void ImportBitmap(TGIFSubImage& frame, const fw::TBitmap& source, const TGIFImportSettings& settings,
                  const std::vector<std::uint8_t>* marks) {
  frame.Clear();
  if (source.Empty()) return;
  const int w = source.Width();
  const int h = source.Height();
  GrowImage(frame, w, h);
  const QImage& img = source.Image();
  // Palette pictures keep their indexes. The framework holds 4-bit pictures
  // (16-colour BMP files among them) as 8-bit rows with their 16 colours.
  if (img.format() == QImage::Format_Mono || img.format() == QImage::Format_Indexed8) {
    frame.SetSize(w, h);
    ProgressRun progress(frame, kConvertingMessage);
    std::vector<TGIFColor> table;
    for (QRgb c : img.colorTable())
      table.push_back({static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                       static_cast<std::uint8_t>(qBlue(c))});
    frame.ColorMap().ImportColors(table.data(), static_cast<int>(std::min<std::size_t>(table.size(), 256)));
    for (int y = 0; y < h; ++y) {
      progress.Row(y, h);
      const std::uint8_t* src = img.constScanLine(y);
      std::uint8_t* dst = frame.Data() + static_cast<std::size_t>(y) * w;
      if (img.format() == QImage::Format_Indexed8)
        std::memcpy(dst, src, static_cast<std::size_t>(w));
      else
        for (int x = 0; x < w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
    }
    progress.Done();
  } else {
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull()) throw fw::EOutOfResources("Out of system resources");
    IndexedImage reduced;
    if (settings.Reduction != TColorReduction::rmNone) {
      TrueColorImage tc(w, h);
      for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        TGIFColor* out = tc.ScanLine(y);
        for (int x = 0; x < w; ++x)
          out[x] = {static_cast<std::uint8_t>(qRed(row[x])), static_cast<std::uint8_t>(qGreen(row[x])),
                    static_cast<std::uint8_t>(qBlue(row[x]))};
      }
      reduced = ReduceColors(tc, settings.Reduction, settings.Dither, nullptr, settings.ReductionBits);
    }
    if (!reduced.Empty()) {
      frame.SetSize(w, h);
      ProgressRun progress(frame, kConvertingMessage);
      for (int y = 0; y < h; ++y) {
        progress.Row(y, h);
        std::memcpy(frame.Data() + static_cast<std::size_t>(y) * w,
                    reduced.pixels.data() + static_cast<std::size_t>(y) * w, static_cast<std::size_t>(w));
      }
      frame.ColorMap().ImportColors(reduced.palette.data(), static_cast<int>(reduced.palette.size()));
      progress.Done();
    } else {
      frame.SetSize(w, h);
      ProgressRun progress(frame, kConvertingMessage);
      ImportTrueColors(frame, rgb, progress);
      progress.Done();
    }
  }
  if (marks) ImportFrameMask(frame, *marks);
}

std::vector<std::uint8_t> ColorMarks(const fw::TBitmap& source) {
  const QImage rgb = source.Image().convertToFormat(QImage::Format_RGB32);
  const fw::TColor key = source.TransparentColor();
  const QRgb k = qRgb(fw::GetRValue(key), fw::GetGValue(key), fw::GetBValue(key)) & 0xFFFFFF;
  std::vector<std::uint8_t> marks(static_cast<std::size_t>(rgb.width()) * rgb.height(), 0);
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x)
      if ((row[x] & 0xFFFFFF) == k) marks[static_cast<std::size_t>(y) * rgb.width() + x] = 1;
  }
  return marks;
}

}  // namespace

void ImportFrameMask(TGIFSubImage& frame, const std::vector<std::uint8_t>& marks) {
  if (frame.Empty() || marks.size() != frame.DataSize()) return;
  TGIFColorMap& map = frame.ColorMap();
  map.Optimize();
  if (map.Count() == 0 || map.Count() >= 256) return;
  const int index = map.Add(0);  // black
  bool any = false;
  std::uint8_t* p = frame.Data();
  for (std::size_t i = 0; i < marks.size(); ++i)
    if (marks[i]) {
      p[i] = static_cast<std::uint8_t>(index);
      any = true;
    }
  if (!any) {
    map.Delete(index);
    return;
  }
  TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  if (!gce)
    gce = static_cast<TGIFGraphicControlExtension*>(
        frame.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(&frame)));
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(index);
}

void ImportFrame(TGIFSubImage& frame, const fw::TPicture& source, const TGIFImportSettings& settings) {
  if (!source.Graphic()) {
    frame.Clear();
    return;
  }
  ImportFrame(frame, *source.Graphic(), settings);
}

void ImportFrame(TGIFSubImage& frame, const fw::TGraphic& source, const TGIFImportSettings& settings) {
  if (const auto* bitmap = dynamic_cast<const fw::TBitmap*>(&source)) {
    std::vector<std::uint8_t> marks;
    if (bitmap->Transparent() && !bitmap->Empty()) marks = ColorMarks(*bitmap);
    ImportBitmap(frame, *bitmap, settings, marks.empty() ? nullptr : &marks);
    return;
  }
  frame.Clear();
  if (source.Empty()) return;
  fw::TBitmap temp;
  temp.SetPixelFormat(fw::TPixelFormat::pf24bit);
  temp.SetSize(source.Width(), source.Height());
  temp.Canvas().SetBrushColor(fw::clWhite);
  temp.Canvas().FillRect(fw::Rect(0, 0, temp.Width(), temp.Height()));
  temp.Canvas().StretchDraw(fw::Rect(0, 0, temp.Width(), temp.Height()), const_cast<fw::TGraphic&>(source));
  std::vector<std::uint8_t> marks;
  if (source.Transparent()) {
    // What the picture leaves uncovered differs between a white and a black
    // background.
    fw::TBitmap black;
    black.SetPixelFormat(fw::TPixelFormat::pf24bit);
    black.SetSize(source.Width(), source.Height());
    black.Canvas().SetBrushColor(fw::clBlack);
    black.Canvas().FillRect(fw::Rect(0, 0, black.Width(), black.Height()));
    black.Canvas().StretchDraw(fw::Rect(0, 0, black.Width(), black.Height()), const_cast<fw::TGraphic&>(source));
    const QImage a = temp.Image().convertToFormat(QImage::Format_RGB32);
    const QImage b = black.Image().convertToFormat(QImage::Format_RGB32);
    marks.assign(static_cast<std::size_t>(a.width()) * a.height(), 0);
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) marks[static_cast<std::size_t>(y) * a.width() + x] = 1;
  }
  ImportBitmap(frame, temp, settings, marks.empty() ? nullptr : &marks);
}

void CropFrame(TGIFSubImage& frame) {
  const int t = TransparentIndex(frame);
  if (frame.Empty() || t < 0 || frame.DataSize() != static_cast<std::size_t>(frame.Width()) * frame.Height()) return;
  const int w = frame.Width();
  const int h = frame.Height();
  const std::uint8_t* p = frame.Data();
  auto column_clear = [&](int x) {
    for (int y = 0; y < h; ++y)
      if (p[static_cast<std::size_t>(y) * w + x] != t) return false;
    return true;
  };
  int left = 0, right = w;
  while (left < right && column_clear(left)) ++left;
  if (left == right) {
    frame.SetSize(0, 0);  // transparent throughout
    return;
  }
  while (right > left && column_clear(right - 1)) --right;
  auto row_clear = [&](int y) {
    for (int x = left; x < right; ++x)
      if (p[static_cast<std::size_t>(y) * w + x] != t) return false;
    return true;
  };
  int top = 0, bottom = h;
  while (top < bottom && row_clear(top)) ++top;
  while (bottom > top && row_clear(bottom - 1)) --bottom;
  if (left == 0 && top == 0 && right == w && bottom == h) return;
  const int nw = right - left;
  const int nh = bottom - top;
  std::vector<std::uint8_t> kept(static_cast<std::size_t>(nw) * nh);
  for (int y = 0; y < nh; ++y)
    std::memcpy(kept.data() + static_cast<std::size_t>(y) * nw, p + static_cast<std::size_t>(y + top) * w + left,
                static_cast<std::size_t>(nw));
  frame.SetSize(nw, nh);
  std::memcpy(frame.Data(), kept.data(), kept.size());
  frame.SetLeft(static_cast<std::uint16_t>(frame.Left() + left));
  frame.SetTop(static_cast<std::uint16_t>(frame.Top() + top));
}

}  // namespace gif
