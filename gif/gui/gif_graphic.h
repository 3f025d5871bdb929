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
// Threads: every method runs on the main thread (the thread that serves
// TThread::Synchronize). Painter threads reach this class only through
// synchronised calls (see gif_painter.h for what they share).
//
// Lock rule: painter_lock_ guards painter_ and painters_; Draw,
// StopGIFPainters, StopAllPainters and the painters' ends take it.
//
// Invariants:
//   (1) No painter draws into a bitmap cache that has been freed: FreeBitmap
//       stops (or gives up on) the cache's painters first.
//   (2) No painter runs over frames that have been freed or replaced: Clear,
//       LoadFromStream, Assign, InvalidateFrames and Optimize stop every
//       painter first; Add only appends and hands the running painters the
//       new frame timing.
//   (3) A painter object is freed only after it has left painters_ and its
//       thread has been joined (ReapPainters), or by itself once given up.
//       Code that serves synchronised calls while it waits for a painter
//       finds it again by Serial() each round, since a handler may end it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
  // The frame rendered (cached until the frames change). After a render the
  // image signals a change when its palette was modified (SetPalette).
  const TGIFFrameBitmap& FrameBitmap(int index);
  // Renders frame index ahead of its use; nothing for an index outside the
  // frame list.
  void RenderFrame(int index);
  // Draws one frame into rect (used by Draw and the painters).
  void DrawFrame(fw::TCanvas& canvas, const fw::TRect& rect, int index, bool transparent, bool tile);
  // The palette: the bitmap cache's when it has one; else the one kept by
  // SetPalette or an earlier query; else the web palette when dithering, the
  // global table, or the first frame's palette. Asking again while a query
  // runs (a frame without colours asks the image) raises GIFException "No
  // global or local color table defined". Empty: none.
  std::vector<fw::TColor> GetPalette();
  // Keeps palette as the image's palette; when the bitmap cache shows
  // another one, the cache is freed, the palette marked modified and a
  // change signalled.
  void SetPalette(const std::vector<fw::TColor>& palette);
  // Frame index's palette: its rendered bitmap's; else the web palette when
  // dithering; else its local table; else, without local colours, the
  // image's (GetPalette).
  std::vector<fw::TColor> FramePaletteOf(int index);
  bool Dithering() const;

  // The clipboard: the GIF stream as the bytes of the "GIF Image" format.
  // This program has no clipboard of its own; the caller places the bytes.
  std::vector<std::uint8_t> SaveToClipboardFormat();
  // "GIF Image" bytes load as a stream; format 2 (a bitmap, as BMP bytes)
  // is converted; anything else GIFException "Unsupported clipboard format".
  void LoadFromClipboardFormat(unsigned format, const std::vector<std::uint8_t>& data);

  // Stops the current painter and waits for it, then frees the bitmap cache.
  void StopGIFPainters();
  // Stops every painter and waits for them, serving their synchronised
  // calls. A painter whose own call is running further up the stack (this is
  // called from one of its event handlers or while it paints) cannot be
  // waited for: it is given up (taken off the list, terminated, cut from
  // the image; an asynchronous one frees itself when its thread ends).
  void StopAllPainters();
  // A painter for canvas/rect, or nullptr (empty image, empty rect, or a
  // synchronous painter, which has already run when this returns).
  TGIFPainter* CreateGIFPainter(fw::TCanvas& canvas, const fw::TRect& rect, std::uint16_t options);
  TGIFPainter* CurrentPainter();
  int PainterCount();

  // Stops the painters and drops the rendered frames, the bitmap cache and
  // the kept palette; call after changing frames through Image() (rendered
  // frames are kept by frame).
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
  // Frees the bitmap cache once no painter draws into it (invariant 1).
  void FreeBitmap();
  void PaintCache(fw::TCanvas& canvas, const fw::TRect& rect);
  // Stops the painters that which picks; waits for them or gives up on
  // them (see StopAllPainters).
  void StopPainters(const std::function<bool(const TGIFPainter&)>& which);
  // Serves synchronised calls until the painter has left the list or
  // done(painter) holds.
  void ServeUntil(std::uint64_t serial, const std::function<bool(const TGIFPainter&)>& done);
  // REQUIRES: painter_lock_ held.
  TGIFPainter* FindPainter(std::uint64_t serial);
  // REQUIRES: painter_lock_ held; painter->InCall().
  void GiveUp(TGIFPainter* painter);
  // Frees ended painters (joining their threads).
  void ReapPainters();
  void PainterEnded(TGIFPainter* painter);
  void ReportKeptException(TGIFPainter* painter);

  TGIFImage image_;
  bool drawing_ = false;
  bool palette_query_ = false;  // GetPalette is running
  // Kept by SetPalette or an earlier GetPalette; dropped when the global
  // table changes.
  std::optional<std::vector<fw::TColor>> palette_;
  std::unique_ptr<fw::TBitmap> bitmap_;
  std::unordered_map<const TGIFSubImage*, TGIFFrameBitmap> frame_bitmaps_;
  fw::TCriticalSection painter_lock_;
  TGIFPainter* painter_ = nullptr;         // GUARDED_BY(painter_lock_)
  std::vector<TGIFPainter*> painters_;     // running; GUARDED_BY(painter_lock_)
  std::vector<std::unique_ptr<TGIFPainter>> owned_;  // asynchronous ones not yet freed
};

}  // namespace gif
