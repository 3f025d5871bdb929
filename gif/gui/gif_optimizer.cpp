#include "gif/gui/gif_optimizer.h"

#include <algorithm>
#include <vector>

#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gif/gui/gif_frame_render.h"
#include "gif/gui/gif_graphic.h"

namespace gif {

namespace {

int Disposal(const TGIFSubImage& f) {
  const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
  return gce ? gce->Disposal() : 0;
}

struct Box {
  int left, top, right, bottom;
  bool Empty() const { return left >= right || top >= bottom; }
  bool operator==(const Box&) const = default;
};

Box FrameBox(const TGIFSubImage& f) { return {f.Left(), f.Top(), f.Left() + f.Width(), f.Top() + f.Height()}; }

Box Intersect(const Box& a, const Box& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool UsesIndex(const TGIFSubImage& f, int index) {
  const std::uint8_t* p = f.Data();
  return std::find(p, p + f.DataSize(), static_cast<std::uint8_t>(index)) != p + f.DataSize();
}

bool FullyTransparent(const TGIFSubImage& f) {
  const int t = TransparentIndex(f);
  if (t < 0 || f.Empty()) return false;
  const std::uint8_t* p = f.Data();
  return std::all_of(p, p + f.DataSize(), [&](std::uint8_t v) { return v == t; });
}

TGIFGraphicControlExtension* EnsureGCE(TGIFSubImage& f) {
  if (TGIFGraphicControlExtension* gce = f.GraphicControlExtension()) return gce;
  return static_cast<TGIFGraphicControlExtension*>(
      f.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(&f)));
}

// Turns the pixels of frame that repeat the earlier frame into transparent
// ones.
void MergeFrame(TGIFImage& image, TGIFSubImage& frame, TGIFSubImage& earlier) {
  const Box overlap = Intersect(FrameBox(frame), FrameBox(earlier));
  if (overlap.Empty()) return;
  if (frame.DataSize() != static_cast<std::size_t>(frame.Width()) * frame.Height() ||
      earlier.DataSize() != static_cast<std::size_t>(earlier.Width()) * earlier.Height())
    return;
  const bool had_transparency = TransparentIndex(frame) >= 0;
  int t = TransparentIndex(frame);
  const int te = TransparentIndex(earlier);
  TGIFColorMap& map = frame.ActiveColorMap();
  TGIFColorMap& earlier_map = earlier.ActiveColorMap();
  const bool same_table = &map == &earlier_map;
  const bool local = frame.ColorMap().Count() > 0;
  auto make_index = [&]() -> int {
    if (!local) {
      if (image.GlobalColorMap().Count() == 0) return -1;
      // Another global-table frame's transparent index, unless this frame
      // shows that colour itself.
      for (const auto& other_ptr : image.Images()) {
        TGIFSubImage* other = other_ptr.get();
        if (other == &frame || other->ColorMap().Count() > 0) continue;
        const int ot = TransparentIndex(*other);
        if (ot >= 0 && !UsesIndex(frame, ot)) return ot;
      }
      if (image.GlobalColorMap().Count() >= 256) return -1;
      return image.GlobalColorMap().Add(0);
    }
    if (frame.ColorMap().Count() >= 256) return -1;
    return frame.ColorMap().Add(0);
  };
  bool made = false;
  for (int y = overlap.top; y < overlap.bottom; ++y) {
    for (int x = overlap.left; x < overlap.right; ++x) {
      std::uint8_t& p = frame.Data()[static_cast<std::size_t>(y - frame.Top()) * frame.Width() + (x - frame.Left())];
      const std::uint8_t q =
          earlier.Data()[static_cast<std::size_t>(y - earlier.Top()) * earlier.Width() + (x - earlier.Left())];
      if (p == t || q == te) continue;
      bool same;
      if (same_table)
        same = p == q;
      else
        same = p < map.Count() && q < earlier_map.Count() && map.Colors(p) == earlier_map.Colors(q);
      if (!same) continue;
      if (t < 0) {
        t = make_index();
        if (t < 0) return;  // no room for a transparent colour
        made = true;
      }
      p = static_cast<std::uint8_t>(t);
    }
  }
  if (!had_transparency && made) {
    TGIFGraphicControlExtension* gce = EnsureGCE(frame);
    gce->SetTransparent(true);
    gce->SetTransparentColorIndexRaw(static_cast<std::uint8_t>(t));
  }
}

}  // namespace

void OptimizeImage(TGIFImage& image, std::uint8_t options, TColorReduction method, TDitherMode, int) {
  if (image.Empty()) return;
  TGIFImageList& frames = image.Images();
  const int total = 6 * frames.Count();
  int step = 0;
  auto progress = [&](int steps) {
    step += steps;
    image.Progress(&image, TProgressStage::psRunning, total > 0 ? std::min(100, step * 100 / total) : 100,
                   kOptimizingMessage);
  };
  image.Progress(&image, TProgressStage::psStarting, 0, kOptimizingMessage);
  try {
    const int n = frames.Count();
    if (options & ooColorMap) {
      if (image.GlobalColorMap().Count() > 0) image.GlobalColorMap().Optimize();
      for (const auto& f : frames)
        if (f->ColorMap().Count() > 0) f->ColorMap().Optimize();
    }
    progress(n);
    if (options & ooCleanup) {
      for (const auto& f : frames) {
        const int t = TransparentIndex(*f);
        if (t >= 0 && !f->Empty() && !UsesIndex(*f, t)) f->GraphicControlExtension()->SetTransparent(false);
      }
      // A restore is pointless where the next frame covers this one with
      // opaque pixels, unless the next frame restores to what was before it
      // (that picture would then hold this frame).
      for (int i = 0; i + 1 < frames.Count(); ++i) {
        TGIFSubImage* f = frames[i];
        TGIFSubImage* next = frames[i + 1];
        const int d = Disposal(*f);
        if ((d == 2 || d == 3) && TransparentIndex(*next) < 0 && Disposal(*next) != 3 && !f->Empty() &&
            !next->Empty() && Intersect(FrameBox(*f), FrameBox(*next)) == FrameBox(*f))
          f->GraphicControlExtension()->SetDisposal(0);
      }
    }
    progress(n);
    if (options & ooMerge) {
      for (int i = frames.Count() - 1; i >= 1; --i) {
        int j = i - 1;
        while (j > 0 && Disposal(*frames[j]) == 3) --j;
        TGIFSubImage* f = frames[i];
        TGIFSubImage* e = frames[j];
        if (f->Empty() || e->Empty()) continue;
        if (Disposal(*e) == 2 || Disposal(*e) == 3) continue;
        MergeFrame(image, *f, *e);
      }
    }
    progress(n);
    if (options & ooCrop) {
      for (int i = frames.Count() - 1; i >= 0; --i) {
        TGIFSubImage* f = frames[i];
        if (f->Empty() || TransparentIndex(*f) < 0) continue;
        // Restoring to the background covers the frame's rectangle, so a
        // smaller rectangle would leave old pixels: such frames keep theirs.
        if (Disposal(*f) == 2) continue;
        if (FullyTransparent(*f)) {
          // The first frame holds the loop extension and the start: it stays.
          // After a frame that restores, this one shows the restored picture
          // for its delay: it stays too.
          if (i == 0 || Disposal(*frames[i - 1]) >= 2) continue;
          TGIFGraphicControlExtension* gce = f->GraphicControlExtension();
          TGIFGraphicControlExtension* before = frames[i - 1]->GraphicControlExtension();
          if (before && gce)
            before->SetDelay(static_cast<std::uint16_t>(std::min(0xFFFF, before->Delay() + gce->Delay())));
          frames.Delete(i);
          continue;
        }
        CropFrame(*f);
      }
    }
    progress(n);
    if (options & ooCleanup) {
      const int count = frames.Count();
      for (int i = count - 1; i >= 0; --i) {
        TGIFSubImage* f = frames[i];
        TGIFExtensionList& exts = f->Extensions();
        for (int k = exts.Count() - 1; k >= 0; --k) {
          TGIFExtension* ext = exts[k];
          bool drop = false;
          if (dynamic_cast<TGIFCommentExtension*>(ext) || dynamic_cast<TGIFTextExtension*>(ext)) {
            drop = true;
          } else if (dynamic_cast<TGIFAppExtNSLoop*>(ext)) {
            drop = !(i == 0 && count > 1);
          } else if (dynamic_cast<TGIFApplicationExtension*>(ext)) {
            drop = true;
          } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext)) {
            drop = (gce->Delay() == 0 || count == 1) && !gce->Transparent() && !gce->UserInput() &&
                   (gce->Disposal() < 2 || count == 1);
          }
          if (drop) exts.Delete(k);
        }
        if (f->Empty() && exts.Count() == 0) frames.Delete(i);
      }
    } else if ((options & ooReduceColors) && method == TColorReduction::rmPalette) {
      RaiseGIFError(kInvalidReductionMethod);
    }
    progress(2 * n);
  } catch (...) {
    image.Progress(&image, TProgressStage::psEnding, 0, kOptimizingMessage);
    throw;
  }
  image.Progress(&image, TProgressStage::psEnding, 100, kOptimizingMessage);
}

}  // namespace gif
