#include "gif/gif_color_map.h"

#include <utility>

#include "gif/gif_exception.h"
#include "gif/gif_image.h"
#include "gif/gif_stream_io.h"
#include "gif/gif_sub_image.h"

namespace gif {

int BitsNeeded(int count) {
  if (count <= 0) return 0;
  if (count <= 2) return 1;
  int n = 1;
  while ((1 << n) < count) ++n;
  return n;
}

int TGIFColorMap::Add(TColorValue color) {
  if (count_ >= kMaxColors) RaiseGIFError(kColorTableOverflow);
  colors_[static_cast<std::size_t>(count_)] = GIFColor(color);
  sorted_ = false;
  Changed();
  return count_++;
}

int TGIFColorMap::IndexOf(TColorValue color) const {
  const TGIFColor c = GIFColor(color);
  if (sorted_) {
    for (int i = 0; i < count_; ++i)
      if (colors_[static_cast<std::size_t>(i)] == c) return i;
  } else {
    for (int i = count_ - 1; i >= 0; --i)
      if (colors_[static_cast<std::size_t>(i)] == c) return i;
  }
  return -1;
}

int TGIFColorMap::AddUnique(TColorValue color) {
  int i = IndexOf(color);
  return i >= 0 ? i : Add(color);
}

void TGIFColorMap::Delete(int index) {
  if (index < 0 || index >= count_) RaiseGIFError(kInvalidColorIndex);
  for (int i = index; i < count_ - 1; ++i)
    colors_[static_cast<std::size_t>(i)] = colors_[static_cast<std::size_t>(i + 1)];
  --count_;
  sorted_ = false;
  Changed();
}

void TGIFColorMap::Clear() {
  count_ = 0;
  sorted_ = false;
  Changed();
}

TColorValue TGIFColorMap::GetColor(int index) {
  if (count_ == 0) RaiseGIFError(kColorTableEmpty);
  if (index < 0 || index >= count_) {
    ReportWarning(kInvalidColorIndex);
    index = 0;
  }
  return ColorValue(colors_[static_cast<std::size_t>(index)]);
}

void TGIFColorMap::SetColor(int index, TColorValue color) {
  if (index < 0 || index >= count_) RaiseGIFError(kInvalidColorIndex);
  colors_[static_cast<std::size_t>(index)] = GIFColor(color);
  Changed();
}

void TGIFColorMap::ImportColors(const TGIFColor* colors, int count) {
  if (count > kMaxColors) count = kMaxColors;
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i) colors_[static_cast<std::size_t>(i)] = colors[i];
  count_ = count;
  sorted_ = false;
  Changed();
}

void TGIFColorMap::ImportRGBQuads(const std::uint8_t* quads, int count) {
  if (count > kMaxColors) count = kMaxColors;
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i)
    colors_[static_cast<std::size_t>(i)] = {quads[4 * i + 2], quads[4 * i + 1], quads[4 * i]};
  count_ = count;
  sorted_ = false;
  Changed();
}

void TGIFColorMap::Assign(const TGIFColorMap& source) {
  colors_ = source.colors_;
  count_ = source.count_;
  sorted_ = source.sorted_;
  Changed();
}

void TGIFColorMap::LoadFromStream(fw::TStream& stream, int count) {
  if (count < 0 || count > kMaxColors) RaiseGIFError(kInvalidData);
  std::uint8_t raw[3 * kMaxColors];
  ReadCheck(stream, raw, 3 * count);
  for (int i = 0; i < count; ++i) colors_[static_cast<std::size_t>(i)] = {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
  count_ = count;
  Changed();
}

void TGIFColorMap::SaveToStream(fw::TStream& stream) const {
  if (count_ == 0) return;
  const int entries = 1 << BitsNeeded(count_);
  std::uint8_t raw[3 * kMaxColors] = {};
  for (int i = 0; i < count_; ++i) {
    raw[3 * i] = colors_[static_cast<std::size_t>(i)].Red;
    raw[3 * i + 1] = colors_[static_cast<std::size_t>(i)].Green;
    raw[3 * i + 2] = colors_[static_cast<std::size_t>(i)].Blue;
  }
  WriteBytes(stream, raw, 3 * entries);
}

namespace {

// Orders the pairs by count, highest first: a two-index partition sort with
// the middle pair's count as pivot.
void SortUsage(TColorUsage& pairs, int low, int high) {
  while (low < high) {
    int i = low;
    int j = high;
    const int pivot = pairs[static_cast<std::size_t>((low + high) / 2)].Count;
    do {
      while (pairs[static_cast<std::size_t>(i)].Count > pivot) ++i;
      while (pairs[static_cast<std::size_t>(j)].Count < pivot) --j;
      if (i <= j) {
        std::swap(pairs[static_cast<std::size_t>(i)], pairs[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (low < j) SortUsage(pairs, low, j);
    low = i;
  }
}

}  // namespace

void TGIFColorMap::Optimize() {
  if (count_ <= 1) return;
  sorted_ = true;
  TColorUsage usage;
  for (int i = 0; i < kMaxColors; ++i) usage[static_cast<std::size_t>(i)] = {0, i};
  CountUsage(usage);
  SortUsage(usage, 0, count_ - 1);
  bool identity = true;
  for (int i = 0; i < count_; ++i)
    if (usage[static_cast<std::size_t>(i)].Index != i) identity = false;
  if (identity) return;
  TColorRemap map;
  for (int i = 0; i < kMaxColors; ++i) map[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < count_; ++i)
    map[static_cast<std::size_t>(usage[static_cast<std::size_t>(i)].Index)] = static_cast<std::uint8_t>(i);
  RemapPixels(map);
  const std::array<TGIFColor, kMaxColors> old = colors_;
  int new_count = count_;
  for (int i = 0; i < count_; ++i) {
    colors_[static_cast<std::size_t>(i)] = old[static_cast<std::size_t>(usage[static_cast<std::size_t>(i)].Index)];
    if (usage[static_cast<std::size_t>(i)].Count == 0 && new_count == count_) new_count = i;
  }
  count_ = new_count;
  Changed();
}

namespace {

void CountFrame(TGIFSubImage& frame, TColorUsage& usage) {
  const std::uint8_t* p = frame.Data();
  const std::size_t n = frame.DataSize();
  for (std::size_t i = 0; i < n; ++i) ++usage[p[i]].Count;
}

void RemapFrame(TGIFSubImage& frame, const TColorRemap& map) {
  std::uint8_t* p = frame.Data();
  const std::size_t n = frame.DataSize();
  for (std::size_t i = 0; i < n; ++i) p[i] = map[p[i]];
  for (auto& ext : frame.Extensions()) {
    if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext.get()))
      gce->SetTransparentColorIndexRaw(map[gce->TransparentColorIndex()]);
  }
}

}  // namespace

void TGIFGlobalColorMap::ReportWarning(const std::string& message) {
  if (image_) image_->ReportWarning(this, 1, message);
}

void TGIFGlobalColorMap::Changed() {
  if (image_ && image_->OnGlobalColorMapChange) image_->OnGlobalColorMapChange();
}

void TGIFGlobalColorMap::CountUsage(TColorUsage& usage) {
  for (auto& frame : image_->Images())
    if (&frame->ActiveColorMap() == this) CountFrame(*frame, usage);
}

void TGIFGlobalColorMap::RemapPixels(const TColorRemap& map) {
  for (auto& frame : image_->Images())
    if (&frame->ActiveColorMap() == this) RemapFrame(*frame, map);
}

void TGIFLocalColorMap::ReportWarning(const std::string& message) {
  sub_image_->ReportWarning(this, 1, message);
}

void TGIFLocalColorMap::CountUsage(TColorUsage& usage) { CountFrame(*sub_image_, usage); }

void TGIFLocalColorMap::RemapPixels(const TColorRemap& map) { RemapFrame(*sub_image_, map); }

}  // namespace gif
