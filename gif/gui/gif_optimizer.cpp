#include "gif/gui/gif_optimizer.h"

#include <algorithm>
#include <functional>
#include <memory>
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

// Bytes the image takes when written; -1 when it cannot be written.
std::int64_t WrittenSize(TGIFImage& image) {
  fw::TMemoryStream stream;
  try {
    image.SaveToStream(stream);
  } catch (const GIFException&) {
    return -1;
  }
  return stream.Size();
}

// One run of the steps over an image. widen: a colour made for
// transparency may widen its table's codes (a table of 2^n colours gets a
// 2^n + 1st entry); without it such frames are not merged.
class Steps {
 public:
  Steps(TGIFImage& image, std::uint8_t options, bool widen, std::function<void(int done, int total)> progress)
      : image_(image),
        frames_(image.Images()),
        options_(options),
        widen_(widen),
        per_step_(image.Images().Count()),
        progress_(std::move(progress)) {}

  void Run() {
    ColorTables();
    Finish(1);
    if (options_ & ooCleanup) UnusedTransparency();
    Finish(2);
    if (options_ & ooCleanup) CoveredDisposal();
    Finish(3);
    if (options_ & ooMerge) Merge();
    Finish(4);
    if (options_ & ooCrop) Crop();
    Finish(5);
    if (options_ & ooCleanup) Cleanup();
    Finish(6);
  }

 private:
  // One step (a frame) of the current part done.
  void Step() {
    ++done_;
    if (progress_) progress_(done_, 6 * per_step_);
  }
  // The parts up to part count as done; a part switched off counts its
  // share at once.
  void Finish(int part) {
    if (done_ >= part * per_step_) return;
    done_ = part * per_step_;
    if (progress_) progress_(done_, 6 * per_step_);
  }

  void ColorTables() {
    if (!(options_ & ooColorMap)) return;
    if (image_.GlobalColorMap().Count() > 0) image_.GlobalColorMap().Optimize();
    for (const auto& f : frames_) {
      if (f->ColorMap().Count() > 0) f->ColorMap().Optimize();
      Step();
    }
  }

  // Transparency that no pixel uses is dropped.
  void UnusedTransparency() {
    for (const auto& f : frames_) {
      const int t = TransparentIndex(*f);
      if (t >= 0 && !f->Empty() && !UsesIndex(*f, t)) f->GraphicControlExtension()->SetTransparent(false);
      Step();
    }
  }

  // A restore is pointless where the next frame covers this one with
  // opaque pixels, unless the next frame restores to what was before it
  // (that picture would then hold this frame).
  void CoveredDisposal() {
    for (int i = 0; i < frames_.Count(); ++i) {
      if (i + 1 < frames_.Count()) {
        TGIFSubImage* f = frames_[i];
        TGIFSubImage* next = frames_[i + 1];
        const int d = Disposal(*f);
        if ((d == 2 || d == 3) && TransparentIndex(*next) < 0 && Disposal(*next) != 3 && !f->Empty() &&
            !next->Empty() && Intersect(FrameBox(*f), FrameBox(*next)) == FrameBox(*f))
          f->GraphicControlExtension()->SetDisposal(0);
      }
      Step();
    }
  }

  void Merge() {
    for (int i = frames_.Count() - 1; i >= 0; --i) {
      if (i >= 1) {
        int j = i - 1;
        while (j > 0 && Disposal(*frames_[j]) == 3) --j;
        TGIFSubImage* f = frames_[i];
        TGIFSubImage* e = frames_[j];
        if (!f->Empty() && !e->Empty() && Disposal(*e) != 2 && Disposal(*e) != 3) MergeFrame(*f, *e);
      }
      Step();
    }
  }

  // Whether the table takes another colour: not past 256, not with wider
  // codes unless allowed, and not at an index that pixels beyond the table
  // already hold (they would take the new colour).
  bool Room(TGIFColorMap& map) const {
    const int count = map.Count();
    if (count >= 256) return false;
    if (!widen_ && BitsNeeded(count + 1) != BitsNeeded(count)) return false;
    for (const auto& f : frames_)
      if (&f->ActiveColorMap() == &map && UsesIndex(*f, count)) return false;
    return true;
  }

  // Turns the pixels of frame that repeat the earlier frame into
  // transparent ones.
  void MergeFrame(TGIFSubImage& frame, TGIFSubImage& earlier) {
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
        if (image_.GlobalColorMap().Count() == 0) return -1;
        // Another global-table frame's transparent index, unless this frame
        // shows that colour itself.
        for (const auto& other_ptr : frames_) {
          TGIFSubImage* other = other_ptr.get();
          if (other == &frame || other->ColorMap().Count() > 0) continue;
          const int ot = TransparentIndex(*other);
          if (ot >= 0 && !UsesIndex(frame, ot)) return ot;
        }
        if (!Room(image_.GlobalColorMap())) return -1;
        return image_.GlobalColorMap().Add(0);
      }
      if (!Room(frame.ColorMap())) return -1;
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

  void Crop() {
    for (int i = frames_.Count() - 1; i >= 0; --i) {
      CropOne(i);
      Step();
    }
  }

  void CropOne(int i) {
    TGIFSubImage* f = frames_[i];
    if (f->Empty() || TransparentIndex(*f) < 0) return;
    // Restoring to the background covers the frame's rectangle, so a
    // smaller rectangle would leave old pixels: such frames keep theirs.
    if (Disposal(*f) == 2) return;
    if (!FullyTransparent(*f)) {
      CropFrame(*f);
      return;
    }
    // The first frame holds the loop extension and the start: it stays.
    // After a frame that restores, this one shows the restored picture for
    // its delay; after one without pixels, it is the picture that shows:
    // it stays in both cases.
    if (i == 0 || frames_[i - 1]->Empty() || Disposal(*frames_[i - 1]) >= 2) return;
    // Its time goes to the frame before, which shows the same picture.
    const TGIFGraphicControlExtension* gce = f->GraphicControlExtension();
    const int delay = gce ? gce->Delay() : 0;
    if (delay > 0) {
      TGIFSubImage* before = frames_[i - 1];
      const TGIFGraphicControlExtension* had = before->GraphicControlExtension();
      const int sum = (had ? had->Delay() : 0) + delay;
      if (sum > 0xFFFF) return;
      EnsureGCE(*before)->SetDelay(static_cast<std::uint16_t>(sum));
    }
    frames_.Delete(i);
  }

  void Cleanup() {
    const int count = frames_.Count();
    for (int i = count - 1; i >= 0; --i) {
      TGIFSubImage* f = frames_[i];
      TGIFExtensionList& exts = f->Extensions();
      // With more than one graphic control, the first hides the others:
      // none of them carries nothing.
      int controls = 0;
      for (const auto& ext : exts) controls += dynamic_cast<const TGIFGraphicControlExtension*>(ext.get()) != nullptr;
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
          drop = controls == 1 && (gce->Delay() == 0 || count == 1) && !gce->Transparent() && !gce->UserInput() &&
                 (gce->Disposal() < 2 || count == 1);
        }
        if (drop) exts.Delete(k);
      }
      if (f->Empty() && exts.Count() == 0) frames_.Delete(i);
      Step();
    }
  }

  TGIFImage& image_;
  TGIFImageList& frames_;
  const std::uint8_t options_;
  const bool widen_;
  const int per_step_;
  std::function<void(int, int)> progress_;
  int done_ = 0;
};

// A copy of image that the steps may change.
std::unique_ptr<TGIFImage> WorkCopy(const TGIFImage& image) {
  auto copy = std::make_unique<TGIFImage>();
  copy->SetMaxFramePixels(image.MaxFramePixels());
  copy->SetMaxTotalPixels(image.MaxTotalPixels());
  copy->Assign(image);
  return copy;
}

}  // namespace

void OptimizeImage(TGIFImage& image, std::uint8_t options, TColorReduction method, TDitherMode, int) {
  if (image.Empty()) return;
  image.Progress(&image, TProgressStage::psStarting, 0, kOptimizingMessage);
  try {
    if (!(options & ooCleanup) && (options & ooReduceColors) && method == TColorReduction::rmPalette)
      RaiseGIFError(kInvalidReductionMethod);
    const std::int64_t input = WrittenSize(image);
    auto run = [&](std::uint8_t opts, bool widen, bool report) {
      std::unique_ptr<TGIFImage> work = WorkCopy(image);
      if (report) {
        work->OnWarning = [&](const void* sender, int severity, const std::string& message) {
          image.ReportWarning(sender, severity, message);
        };
      }
      Steps steps(*work, opts, widen, [&](int done, int total) {
        if (report) image.Progress(&image, TProgressStage::psRunning, done * 100 / total, kOptimizingMessage);
      });
      steps.Run();
      work->OnWarning = nullptr;
      const std::int64_t size = WrittenSize(*work);
      return std::make_pair(std::move(work), size);
    };
    // The steps as they are; when that does not make the image smaller,
    // the same without widening a colour table, then without merging, and
    // the smallest of these when it is smaller than the image; else the
    // image stays as it is.
    auto [best, best_size] = run(options, true, true);
    if (input >= 0 && !(best_size >= 0 && best_size < input)) {
      auto [narrow, narrow_size] = run(options, false, false);
      auto [unmerged, unmerged_size] = run(static_cast<std::uint8_t>(options & ~ooMerge), false, false);
      best.reset();
      best_size = input;
      if (narrow_size >= 0 && narrow_size < best_size) {
        best = std::move(narrow);
        best_size = narrow_size;
      }
      if (unmerged_size >= 0 && unmerged_size < best_size) {
        best = std::move(unmerged);
        best_size = unmerged_size;
      }
    }
    if (best) image.Assign(*best);
  } catch (...) {
    image.Progress(&image, TProgressStage::psEnding, 0, kOptimizingMessage);
    throw;
  }
  image.Progress(&image, TProgressStage::psEnding, 100, kOptimizingMessage);
}

}  // namespace gif
