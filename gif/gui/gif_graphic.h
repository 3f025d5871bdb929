// TGIFGraphic: the framework graphic class for GIF pictures, registered
// with TPicture for the extension "gif" (description "GIF Image") and the
// clipboard format "GIF Image" by GIFImageInitialization. It owns the file
// model (TGIFImage), draws the first frame or plays the animation through
// painters (TGIFPainter), and turns any other framework graphic into a
// frame. Its class name, as the framework reports it, is "TGIFImage".
//
// The file model stays free of the graphics library (the codec's reader and
// writer are built and fuzzed without it); this class wraps it.
//
// Lock rule: painter_lock_ guards painter_ and painters_; Draw,
// StopGIFPainters, StopAllPainters and the painters' end handlers take it,
// always on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/gui/bitmap.h"
#include "framework/gui/graphic.h"
#include "framework/sync.h"
#include "gif/color_reduction.h"
#include "gif/gif_image.h"
#include "gif/gui/gif_frame_render.h"
#include "gif/gui/gif_painter.h"

namespace gif {

// DrawOptions bits.
enum : std::uint16_t {
  goAsync = 0x0001,             // painter runs in its own thread
  goTransparent = 0x0002,       // draw through the frame masks
  goAnimate = 0x0004,
  goLoop = 0x0008,
  goLoopContinously = 0x0010,   // ignore the loop count
  goValidateCanvas = 0x0020,    // stop when the canvas goes away
  goDirectDraw = 0x0040,        // paint on the caller's canvas, no cache
  goClearOnLoop = 0x0080,       // clear to the background before frame 0
  goTile = 0x0100,
  goDither = 0x0200,            // web palette with Floyd-Steinberg
  goAutoDither = 0x0400,        // dither only on a palette display
};
inline constexpr std::uint16_t kDefaultDrawOptions = 0x060F;

// Optimize options.
enum : std::uint8_t {
  ooCrop = 0x01,
  ooMerge = 0x02,
  ooCleanup = 0x04,
  ooColorMap = 0x08,
  ooReduceColors = 0x10,
};

inline constexpr const char* kGIFImageFormatName = "GIF Image";
inline constexpr const char* kCopyingMessage = "Copying...";
inline constexpr const char* kOptimizingMessage = "Optimizing...";
inline constexpr const char* kUnsupportedClipboardFormat = "Unsupported clipboard format";
inline constexpr const char* kInvalidReductionMethod = "Invalid reduction method";
// The framework's clipboard format of a bitmap.
inline constexpr unsigned kClipboardBitmapFormat = 2;

// Registers the class with TPicture ("gif", "GIF Image") and the clipboard
// format "GIF Image"; safe to call more than once. Finalization undoes it.
void GIFImageInitialization();
void GIFImageFinalization();
// The clipboard format id of "GIF Image" (registers it when needed).
unsigned GIFClipboardFormat();

class TGIFGraphic : public fw::TGraphic {
 public:
  TGIFGraphic();
  ~TGIFGraphic() override;

  const char* ClassName() const override { return "TGIFImage"; }
  // The logical screen's size.
  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }
  // Every frame must fit, else GIFException "Image width too small for
  // contained frames" / "... height ..." and the size stays.
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override { return image_.Empty(); }
  void Draw(fw::TCanvas& canvas, const fw::TRect& rect) override;
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;
  void Assign(const fw::TGraphic& source) override;
  bool AssignTo(fw::TGraphic& dest) const override;

  TGIFImage& Image() { return image_; }
  const TGIFImage& Image() const { return image_; }
  // Stops the painters, frees the frames and the global table.
  void Clear();
  // A framework graphic becomes a new frame (converted with this image's
  // reduction settings); GIFException "Object type not supported for
  // operation" for nothing.
  void Add(const fw::TGraphic* source);
  void Add(std::unique_ptr<TGIFSubImage> frame);

  // The first frame at its place on a bitmap of the logical screen's size
  // (nullptr for an empty image).
  fw::TBitmap* Bitmap();
  // The frame rendered (cached until the frames change).
  const TGIFFrameBitmap& FrameBitmap(int index);
  // Draws one frame into rect (used by Draw and the painters).
  void DrawFrame(fw::TCanvas& canvas, const fw::TRect& rect, int index, bool transparent, bool tile);
  // The colours the image is shown with: the web palette when dithering,
  // else the global table, else the first frame's table.
  std::vector<fw::TColor> Palette();
  bool Dithering() const;

  // The clipboard: the GIF stream as the bytes of the "GIF Image" format.
  // This program has no clipboard of its own; the caller places the bytes.
  std::vector<std::uint8_t> SaveToClipboardFormat();
  // "GIF Image" bytes load as a stream; format 2 (a bitmap, as BMP bytes)
  // is converted; anything else GIFException "Unsupported clipboard format".
  void LoadFromClipboardFormat(unsigned format, const std::vector<std::uint8_t>& data);

  // Stops the current painter and waits for it.
  void StopGIFPainters();
  // Stops every painter and waits for them.
  void StopAllPainters();
  // A painter for canvas/rect, or nullptr (empty image, empty rect, or a
  // synchronous painter, which has already run when this returns).
  TGIFPainter* CreateGIFPainter(fw::TCanvas& canvas, const fw::TRect& rect, std::uint16_t options);
  TGIFPainter* CurrentPainter();
  int PainterCount();

  // Drops the rendered frames and the bitmap cache; call after changing
  // frames through Image() (the cache is keyed by frame).
  void InvalidateFrames();

  // Whole-image optimiser (options ooCrop..ooReduceColors).
  void Optimize(std::uint8_t options, TColorReduction method, TDitherMode dither, int color_bits);

  std::uint16_t DrawOptions = kDefaultDrawOptions;
  TColorReduction ColorReduction = TColorReduction::rmNetscape;
  int ReductionBits = 8;
  TDitherMode DitherMode = TDitherMode::dmNearest;
  fw::TThreadPriority ThreadPriority = fw::TThreadPriority::tpNormal;
  int AnimationSpeed = 100;  // percent
  fw::TColor BackgroundColor = fw::clNone;  // unset
  TGIFWarning OnWarning;
  TGIFProgress OnProgress;
  TGIFPainterEvent OnPainterStart, OnFramePaint, OnFrameAfterPaint, OnPainterLoop, OnPainterEnd;
  // Clock handed to new painters (nullptr: the system's).
  TGIFPainterClock* PainterClock = nullptr;

  void ReportWarning(const void* sender, int severity, const std::string& message);

 private:
  friend class TGIFPainter;
  void FreeBitmap();
  void PaintCache(fw::TCanvas& canvas, const fw::TRect& rect);
  // Frees ended painters (joining their threads).
  void ReapPainters();
  void PainterEnded(TGIFPainter* painter);

  TGIFImage image_;
  bool drawing_ = false;
  std::unique_ptr<fw::TBitmap> bitmap_;
  std::unordered_map<const TGIFSubImage*, TGIFFrameBitmap> frame_bitmaps_;
  fw::TCriticalSection painter_lock_;
  TGIFPainter* painter_ = nullptr;         // GUARDED_BY(painter_lock_)
  std::vector<TGIFPainter*> painters_;     // running; GUARDED_BY(painter_lock_)
  std::vector<std::unique_ptr<TGIFPainter>> owned_;  // all not yet freed
};

}  // namespace gif
