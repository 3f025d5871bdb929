// Colour tables of a GIF file: the global one of the header and a frame's
// local one. Stored as count x 3 bytes (red, green, blue), padded with zero
// triples to 2^BitsNeeded(count) entries when written.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "framework/streams.h"

namespace gif {

class TGIFImage;
class TGIFSubImage;

struct TGIFColor {
  std::uint8_t Red;
  std::uint8_t Green;
  std::uint8_t Blue;
  bool operator==(const TGIFColor&) const = default;
};

// A framework colour value: 0x00BBGGRR.
using TColorValue = std::uint32_t;
inline TColorValue ColorValue(const TGIFColor& c) {
  return static_cast<TColorValue>(c.Red) | (static_cast<TColorValue>(c.Green) << 8) |
         (static_cast<TColorValue>(c.Blue) << 16);
}
inline TGIFColor GIFColor(TColorValue v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16)};
}

// 0 for 0 colours, 1 for up to 2, else the smallest n with 2^n >= count.
int BitsNeeded(int count);

struct TUsageCount {
  int Count;
  int Index;
};
using TColorUsage = std::array<TUsageCount, 256>;
using TColorRemap = std::array<std::uint8_t, 256>;

class TGIFColorMap {
 public:
  static constexpr int kMaxColors = 256;

  TGIFColorMap() = default;
  virtual ~TGIFColorMap() = default;
  TGIFColorMap(const TGIFColorMap&) = delete;
  TGIFColorMap& operator=(const TGIFColorMap&) = delete;

  int Count() const { return count_; }
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }
  const TGIFColor* Data() const { return colors_.data(); }
  TGIFColor& Colors(int index) { return colors_.at(static_cast<std::size_t>(index)); }
  const TGIFColor& Colors(int index) const { return colors_.at(static_cast<std::size_t>(index)); }
  int BitsPerPixel() const { return BitsNeeded(count_); }

  // "Color table overflow" with 256 entries already.
  int Add(TColorValue color);
  // -1 when absent.
  int IndexOf(TColorValue color) const;
  int AddUnique(TColorValue color);
  // "Invalid color index" outside 0..count-1.
  void Delete(int index);
  void Clear();
  // The colour of an index; outside the table a warning and entry 0;
  // "Color table is empty" for an empty table.
  TColorValue GetColor(int index);
  void SetColor(int index, TColorValue color);
  // Replaces the entries (at most 256 are taken).
  void ImportColors(const TGIFColor* colors, int count);
  // From 4-byte blue, green, red, reserved entries.
  void ImportRGBQuads(const std::uint8_t* quads, int count);
  void Assign(const TGIFColorMap& source);

  // Reads count entries exactly.
  void LoadFromStream(fw::TStream& stream, int count);
  void SaveToStream(fw::TStream& stream) const;

  virtual void ReportWarning(const std::string& message) = 0;
  // One (use count, index) pair per entry, over the pixels that use this table.
  virtual void CountUsage(TColorUsage& usage) = 0;
  // Rewrites those pixels (and transparent indexes) through map.
  virtual void RemapPixels(const TColorRemap& map) = 0;
  // Sorts the entries by use, most used first, and drops unused ones.
  void Optimize();
  virtual void Changed() {}

 protected:
  std::array<TGIFColor, kMaxColors> colors_{};
  int count_ = 0;
  bool sorted_ = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGIFImage* image) : image_(image) {}
  void ReportWarning(const std::string& message) override;
  void CountUsage(TColorUsage& usage) override;
  void RemapPixels(const TColorRemap& map) override;
  // Tells the image (TGIFImage::OnGlobalColorMapChange).
  void Changed() override;

 private:
  TGIFImage* image_;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  explicit TGIFLocalColorMap(TGIFSubImage* sub_image) : sub_image_(sub_image) {}
  void ReportWarning(const std::string& message) override;
  void CountUsage(TColorUsage& usage) override;
  void RemapPixels(const TColorRemap& map) override;

 private:
  TGIFSubImage* sub_image_;
};

}  // namespace gif
