#include "gif/gui/gif_graphic.h"

#include <algorithm>
#include <mutex>

#include <QBuffer>
#include <QImage>

#include "framework/gui/canvas.h"
#include "framework/gui/picture.h"
#include "gif/color_lookup.h"
#include "gif/gif_exception.h"
#include "gif/gui/gif_optimizer.h"

namespace gif {

namespace {

std::unique_ptr<fw::TGraphic> NewGIFGraphic() { return std::make_unique<TGIFGraphic>(); }

std::mutex g_init_mutex;
unsigned g_clipboard_format = 0;

// A display with 8 bits or fewer a pixel; offscreen and modern displays
// are true colour.
constexpr bool kPaletteDisplay = false;

}  // namespace

void GIFImageInitialization() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  fw::TPicture::RegisterFileFormat("gif", kGIFImageFormatName, &NewGIFGraphic);
  g_clipboard_format = fw::TPicture::RegisterClipboardFormat(kGIFImageFormatName, &NewGIFGraphic);
}

void GIFImageFinalization() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  fw::TPicture::UnregisterGraphicClass(&NewGIFGraphic);
}

unsigned GIFClipboardFormat() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (g_clipboard_format == 0)
    g_clipboard_format = fw::TPicture::RegisterClipboardFormat(kGIFImageFormatName, &NewGIFGraphic);
  return g_clipboard_format;
}

TGIFGraphic::TGIFGraphic() {
  image_.OnWarning = [this](const void* sender, int severity, const std::string& message) {
    ReportWarning(sender, severity, message);
  };
  image_.OnProgress = [this](const void* sender, TProgressStage stage, int percent, const std::string& message) {
    if (OnProgress) OnProgress(sender, stage, percent, message);
  };
  image_.OnGlobalColorMapChange = [this] { palette_.reset(); };
}

TGIFGraphic::~TGIFGraphic() {
  // A handler served while waiting may start another painter.
  while (PainterCount() > 0) StopAllPainters();
  ReapPainters();
  FreeBitmap();
  frame_bitmaps_.clear();
  image_.OnGlobalColorMapChange = nullptr;
}

void TGIFGraphic::ReportWarning(const void* sender, int severity, const std::string& message) {
  if (OnWarning) OnWarning(sender, severity, message);
}

bool TGIFGraphic::Dithering() const {
  return (DrawOptions & goDither) && !((DrawOptions & goAutoDither) && !kPaletteDisplay);
}

void TGIFGraphic::FreeBitmap() {
  while (bitmap_) {
    fw::TBitmap* cache = bitmap_.get();
    const fw::TCanvas* canvas = &cache->Canvas();
    StopPainters([canvas](const TGIFPainter& p) { return p.Canvas() == canvas; });
    // A handler served meanwhile may have freed it already.
    if (bitmap_.get() == cache) {
      cache->OnChange = nullptr;
      bitmap_.reset();
    }
  }
}

void TGIFGraphic::InvalidateFrames() {
  StopAllPainters();
  frame_bitmaps_.clear();
  palette_.reset();
}

void TGIFGraphic::Clear() {
  InvalidateFrames();
  image_.Clear();
}

void TGIFGraphic::SetWidth(int width) {
  if (width == Width()) return;
  image_.SetWidth(width);  // raises while a frame does not fit
  FreeBitmap();
  Changed();
}

void TGIFGraphic::SetHeight(int height) {
  if (height == Height()) return;
  image_.SetHeight(height);
  FreeBitmap();
  Changed();
}

void TGIFGraphic::LoadFromStream(fw::TStream& stream) {
  InvalidateFrames();
  try {
    image_.LoadFromStream(stream);
  } catch (...) {
    Changed();
    throw;
  }
  Changed();
}

void TGIFGraphic::SaveToStream(fw::TStream& stream) { image_.SaveToStream(stream); }

void TGIFGraphic::Add(const fw::TGraphic* source) {
  if (!source) RaiseGIFError(kUnsupportedObject);
  auto frame = std::make_unique<TGIFSubImage>(&image_);
  TGIFImportSettings settings;
  settings.Reduction = ColorReduction;
  settings.Dither = DitherMode;
  settings.ReductionBits = ReductionBits;
  // The import may grow the logical screen, which the cache is sized by.
  FreeBitmap();
  ImportFrame(*frame, *source, settings);
  Add(std::move(frame));
}

void TGIFGraphic::Add(std::unique_ptr<TGIFSubImage> frame) {
  if (!frame) RaiseGIFError(kUnsupportedObject);
  FreeBitmap();
  image_.Add(std::move(frame));
  // Painters on other canvases go on, now with the new frame.
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    for (TGIFPainter* p : painters_) p->UpdateTiming();
  }
  Changed();
}

void TGIFGraphic::Assign(const fw::TGraphic& source) {
  if (&source == this) return;
  const auto* gif = dynamic_cast<const TGIFGraphic*>(&source);
  if (!gif) {
    Clear();
    Add(&source);
    return;
  }
  Clear();
  // The source's handlers report this copy; afterwards the copy has none.
  OnProgress = gif->OnProgress;
  OnWarning = gif->OnWarning;
  try {
    if (OnProgress) OnProgress(this, TProgressStage::psStarting, 0, kCopyingMessage);
    image_.Header().Assign(gif->image_.Header());
    image_.SetCompression(gif->image_.Compression());
    image_.SetMaxFramePixels(gif->image_.MaxFramePixels());
    image_.SetMaxTotalPixels(gif->image_.MaxTotalPixels());
    ThreadPriority = gif->ThreadPriority;
    BackgroundColor = gif->BackgroundColor;
    DrawOptions = gif->DrawOptions;
    ColorReduction = gif->ColorReduction;
    ReductionBits = gif->ReductionBits;
    DitherMode = gif->DitherMode;
    const int count = gif->image_.Images().Count();
    for (int i = 0; i < count; ++i) {
      auto frame = std::make_unique<TGIFSubImage>(&image_);
      frame->Assign(*gif->image_.Images()[i]);
      image_.Add(std::move(frame));
      if (OnProgress) OnProgress(this, TProgressStage::psRunning, (i + 1) * 100 / count, kCopyingMessage);
    }
    if (OnProgress) OnProgress(this, TProgressStage::psEnding, 100, kCopyingMessage);
  } catch (...) {
    if (OnProgress) OnProgress(this, TProgressStage::psEnding, 0, kCopyingMessage);
    OnProgress = nullptr;
    OnWarning = nullptr;
    throw;
  }
  OnProgress = nullptr;
  OnWarning = nullptr;
  Changed();
}

bool TGIFGraphic::AssignTo(fw::TGraphic& dest) const {
  auto* bitmap = dynamic_cast<fw::TBitmap*>(&dest);
  if (!bitmap) return false;
  fw::TBitmap* own = const_cast<TGIFGraphic*>(this)->Bitmap();
  if (own)
    bitmap->Assign(*own);
  else
    bitmap->SetSize(0, 0);
  return true;
}

void TGIFGraphic::RenderFrame(int index) {
  if (index < 0 || index >= image_.Images().Count()) return;
  TGIFSubImage* frame = image_.Images()[index];
  if (frame_bitmaps_.count(frame)) return;
  frame_bitmaps_.emplace(frame, gif::RenderFrame(*frame, Dithering()));
  if (PaletteModified()) Changed();
}

const TGIFFrameBitmap& TGIFGraphic::FrameBitmap(int index) {
  RenderFrame(index);
  // The change handler may have dropped the rendered frames: looked up again.
  TGIFSubImage* frame = image_.Images().Items(index);
  auto it = frame_bitmaps_.find(frame);
  if (it == frame_bitmaps_.end()) it = frame_bitmaps_.emplace(frame, gif::RenderFrame(*frame, Dithering())).first;
  return it->second;
}

void TGIFGraphic::DrawFrame(fw::TCanvas& canvas, const fw::TRect& rect, int index, bool transparent, bool tile) {
  if (index < 0 || index >= image_.Images().Count()) return;
  const TGIFFrameBitmap& rendered = FrameBitmap(index);
  if (index >= image_.Images().Count()) return;
  gif::DrawFrame(canvas, rect, *image_.Images()[index], rendered, transparent, tile);
}

namespace {

std::vector<fw::TColor> TableColors(const TGIFColorMap& map) {
  std::vector<fw::TColor> out;
  for (int i = 0; i < map.Count(); ++i) out.push_back(ColorValue(map.Colors(i)));
  return out;
}

std::vector<fw::TColor> WebColors() {
  std::vector<fw::TColor> out;
  for (const TGIFColor& c : WebSafePalette()) out.push_back(ColorValue(c));
  return out;
}

}  // namespace

std::vector<fw::TColor> TGIFGraphic::GetPalette() {
  if (palette_query_) RaiseGIFError(kNoColorTable);
  palette_query_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{palette_query_};
  if (bitmap_) {
    std::vector<fw::TColor> p = bitmap_->Palette();
    if (!p.empty()) return p;
  }
  if (palette_) return *palette_;
  if (Dithering()) {
    palette_ = WebColors();
    return *palette_;
  }
  if (image_.GlobalColorMap().Count() > 0) {
    palette_ = TableColors(image_.GlobalColorMap());
    return *palette_;
  }
  if (!Empty()) return FramePaletteOf(0);
  return {};
}

std::vector<fw::TColor> TGIFGraphic::FramePaletteOf(int index) {
  TGIFSubImage* frame = image_.Images().Items(index);
  auto it = frame_bitmaps_.find(frame);
  if (it != frame_bitmaps_.end() && it->second.Bitmap) {
    std::vector<fw::TColor> p = it->second.Bitmap->Palette();
    if (!p.empty()) return p;
  }
  if (Dithering()) return WebColors();
  if (frame->ColorMap().Count() == 0) return GetPalette();
  return TableColors(frame->ColorMap());
}

void TGIFGraphic::SetPalette(const std::vector<fw::TColor>& palette) {
  if (!palette_ || *palette_ != palette) palette_ = palette;
  if (bitmap_ && bitmap_->Palette() != palette) {
    FreeBitmap();
    SetPaletteModified(true);
    Changed();
  }
}

// The cache starts as a copy of the first frame's picture, with index 0 of
// the image's palette where the frame does not cover the screen.
fw::TBitmap* TGIFGraphic::Bitmap() {
  if (Empty()) return nullptr;
  if (bitmap_) return bitmap_.get();
  auto b = std::make_unique<fw::TBitmap>();
  TGIFSubImage* first = image_.Images()[0];
  if (first->Left() == 0 && first->Top() == 0 && first->Width() == Width() && first->Height() == Height()) {
    b->Assign(*FrameBitmap(0).Bitmap);
  } else {
    b->SetPixelFormat(fw::TPixelFormat::pf32bit);
    b->SetSize(Width(), Height());
    std::vector<fw::TColor> palette;
    try {
      palette = GetPalette();
    } catch (const GIFException&) {
      // No colour table anywhere: nothing but black to show.
    }
    b->Canvas().SetBrushColor(palette.empty() ? fw::clBlack : palette[0]);
    b->Canvas().FillRect(fw::Rect(0, 0, Width(), Height()));
    DrawFrame(b->Canvas(), fw::Rect(0, 0, Width(), Height()), 0, false, false);
  }
  // Rendering may have signalled a change whose handler made a cache.
  if (bitmap_) return bitmap_.get();
  b->OnChange = [this](fw::TGraphic*) { Changed(); };
  bitmap_ = std::move(b);
  return bitmap_.get();
}

void TGIFGraphic::PaintCache(fw::TCanvas& canvas, const fw::TRect& rect) {
  if (!bitmap_) return;
  if (DrawOptions & goTile) {
    if (Width() <= 0 || Height() <= 0) return;
    for (int x = rect.Left; x < rect.Right; x += Width())
      for (int y = rect.Top; y < rect.Bottom; y += Height())
        canvas.StretchDrawImage(fw::Bounds(x, y, Width(), Height()), bitmap_->Image());
  } else {
    canvas.StretchDrawImage(rect, bitmap_->Image());
  }
}

void TGIFGraphic::Draw(fw::TCanvas& canvas, const fw::TRect& rect) {
  if (drawing_ || Empty()) return;
  drawing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{drawing_};
  ReapPainters();
  if (image_.Images().Count() == 1 || !(DrawOptions & goAnimate)) {
    DrawFrame(canvas, rect, 0, (DrawOptions & goTransparent) != 0, (DrawOptions & goTile) != 0);
    return;
  }
  if (bitmap_ && !(DrawOptions & goDirectDraw)) {
    PaintCache(canvas, rect);
    return;
  }
  fw::CriticalSectionGuard lock(painter_lock_);
  if (painter_ && painter_->Canvas() == &canvas && painter_->Rect() == rect) return;
  StopGIFPainters();
  fw::TCanvas* target = &canvas;
  fw::TRect target_rect = rect;
  if (!(DrawOptions & goDirectDraw)) {
    auto cache = std::make_unique<fw::TBitmap>();
    cache->SetPixelFormat(fw::TPixelFormat::pf32bit);
    cache->SetSize(Width(), Height());
    cache->Canvas().CopyRect(fw::Rect(0, 0, Width(), Height()), canvas, rect);
    cache->OnChange = [this](fw::TGraphic*) { Changed(); };
    bitmap_ = std::move(cache);
    target = &bitmap_->Canvas();
    target_rect = fw::Rect(0, 0, Width(), Height());
  }
  TGIFPainter* painter = CreateGIFPainter(*target, target_rect, DrawOptions);
  if (painter) {
    const std::uint64_t serial = painter->Serial();
    painter->Start();
    if (!(DrawOptions & goDirectDraw)) {
      ServeUntil(serial, [](const TGIFPainter& p) { return p.Started() || p.Terminated(); });
      PaintCache(canvas, rect);
    }
  }
}

TGIFPainter* TGIFGraphic::CreateGIFPainter(fw::TCanvas& canvas, const fw::TRect& rect, std::uint16_t options) {
  if (Empty() || rect.Left >= rect.Right || rect.Top >= rect.Bottom) return nullptr;
  if (image_.Images().Count() == 1) options &= static_cast<std::uint16_t>(~(goAsync | goAnimate));
  auto owned = std::make_unique<TGIFPainter>(this, &canvas, rect, options, PainterClock);
  TGIFPainter* painter = owned.get();
  painter->OnPainterStart = OnPainterStart;
  painter->OnFramePaint = OnFramePaint;
  painter->OnFrameAfterPaint = OnFrameAfterPaint;
  painter->OnPainterLoop = OnPainterLoop;
  painter->OnPainterEnd = OnPainterEnd;
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    painters_.push_back(painter);
    painter_ = painter;
    if (options & goAsync) owned_.push_back(std::move(owned));
  }
  if (options & goAsync) {
    painter->SetPriority(ThreadPriority);
    return painter;
  }
  // Freed on the way out; ends (or is given up) before that.
  painter->RunSynchronous();
  ReportKeptException(painter);
  return nullptr;
}

TGIFPainter* TGIFGraphic::CurrentPainter() {
  fw::CriticalSectionGuard lock(painter_lock_);
  return painter_;
}

int TGIFGraphic::PainterCount() {
  fw::CriticalSectionGuard lock(painter_lock_);
  return static_cast<int>(painters_.size());
}

void TGIFGraphic::PainterEnded(TGIFPainter* painter) {
  fw::CriticalSectionGuard lock(painter_lock_);
  if (painter_ == painter) painter_ = nullptr;
  std::erase(painters_, painter);
}

TGIFPainter* TGIFGraphic::FindPainter(std::uint64_t serial) {
  for (TGIFPainter* p : painters_)
    if (p->Serial() == serial) return p;
  return nullptr;
}

void TGIFGraphic::GiveUp(TGIFPainter* painter) {
  painter->Detach();
  if (painter_ == painter) painter_ = nullptr;
  std::erase(painters_, painter);
  for (auto it = owned_.begin(); it != owned_.end(); ++it) {
    if (it->get() != painter) continue;
    // Its thread is held in the synchronised call running up the stack;
    // it frees the painter once it has left its body.
    painter->SetFreeOnTerminate(true);
    (void)it->release();
    owned_.erase(it);
    break;
  }
}

void TGIFGraphic::ServeUntil(std::uint64_t serial, const std::function<bool(const TGIFPainter&)>& done) {
  while (true) {
    {
      fw::CriticalSectionGuard lock(painter_lock_);
      TGIFPainter* p = FindPainter(serial);
      if (!p || (done && done(*p))) return;
    }
    fw::TThread::WaitAndCheckSynchronize(5);
  }
}

void TGIFGraphic::ReportKeptException(TGIFPainter* painter) {
  if (!painter->KeptException()) return;
  try {
    std::rethrow_exception(painter->KeptException());
  } catch (const std::exception& e) {
    ReportWarning(painter, 1, e.what());
  } catch (...) {
    ReportWarning(painter, 1, "Painter failed");
  }
}

void TGIFGraphic::ReapPainters() {
  std::vector<std::unique_ptr<TGIFPainter>> ended;
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    for (auto it = owned_.begin(); it != owned_.end();) {
      if ((*it)->Ended()) {
        ended.push_back(std::move(*it));
        it = owned_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& p : ended) {
    if (!p->Suspended()) p->WaitFor();  // joins; the thread is past its end
    ReportKeptException(p.get());
  }
}

void TGIFGraphic::StopPainters(const std::function<bool(const TGIFPainter&)>& which) {
  std::vector<std::uint64_t> waiting;
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    std::vector<TGIFPainter*> given_up;
    for (auto it = painters_.rbegin(); it != painters_.rend(); ++it) {
      TGIFPainter* p = *it;
      if (!which(*p)) continue;
      p->Stop();
      if (p->InCall())
        given_up.push_back(p);
      else
        waiting.push_back(p->Serial());
    }
    for (TGIFPainter* p : given_up) GiveUp(p);
  }
  for (const std::uint64_t serial : waiting) {
    {
      fw::CriticalSectionGuard lock(painter_lock_);
      TGIFPainter* p = FindPainter(serial);
      if (!p) continue;
      if (p->Suspended()) {
        p->EndPainter();  // never started: nothing runs it
        continue;
      }
    }
    // Its end comes as a synchronised call, served here.
    ServeUntil(serial, nullptr);
  }
  ReapPainters();
}

void TGIFGraphic::StopGIFPainters() {
  std::uint64_t serial = 0;
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    if (painter_) serial = painter_->Serial();
  }
  if (serial != 0) StopPainters([serial](const TGIFPainter& p) { return p.Serial() == serial; });
  FreeBitmap();
}

void TGIFGraphic::StopAllPainters() {
  StopPainters([](const TGIFPainter&) { return true; });
  FreeBitmap();
}

std::vector<std::uint8_t> TGIFGraphic::SaveToClipboardFormat() {
  std::vector<std::uint8_t> out;
  if (Empty()) return out;
  fw::TMemoryStream stream;
  SaveToStream(stream);
  const auto& bytes = stream.Bytes();
  out.resize(bytes.size());
  std::memcpy(out.data(), bytes.data(), bytes.size());
  return out;
}

void TGIFGraphic::LoadFromClipboardFormat(unsigned format, const std::vector<std::uint8_t>& data) {
  fw::TMemoryStream stream;
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream.SetPosition(0);
  if (format == GIFClipboardFormat()) {
    LoadFromStream(stream);
  } else if (format == kClipboardBitmapFormat) {
    fw::TBitmap bitmap;
    bitmap.LoadFromStream(stream);
    Assign(bitmap);
  } else {
    RaiseGIFError(kUnsupportedClipboardFormat);
  }
}

void TGIFGraphic::Optimize(std::uint8_t options, TColorReduction method, TDitherMode dither, int color_bits) {
  if (Empty()) return;
  InvalidateFrames();
  {
    fw::CriticalSectionGuard lock(painter_lock_);
    OptimizeImage(image_, options, method, dither, color_bits);
  }
  InvalidateFrames();
  Changed();
}

}  // namespace gif
