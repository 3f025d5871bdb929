// Octree colour quantizer: builds a palette of at most a given number of
// colours that fits a true-colour picture.
//
// Every pixel descends from the root by one bit of each channel per level
// (child = red bit << 2 | green bit << 1 | blue bit, top bits first) down to
// level ColorBits, where it lands in a leaf that sums its colour. Whenever
// there are more leaves than colours allowed, the first node of the deepest
// non-empty reducible list is folded: its children's counts and sums move
// into it and it becomes a leaf. The palette is the leaves' mean colours in
// depth-first child order.
//
// Folding never takes the root while the tree may hold 8 leaves: the root's
// children are then all leaves and there are at most 8 of them. Asked for
// fewer than 8 colours, the tree still keeps up to 8 leaves (folding the
// root would leave a single colour for the whole picture); the palette then
// merges the two leaves whose merge costs least (pixel-weighted squared
// distance of their means) until the count is reached.
//
// Invariants:
//   (1) A node is in its level's reducible list iff it is not a leaf.
//   (2) When a node of level L is folded, the list of level L + 1 is empty,
//       so all its children are leaves (nothing left in a list is freed).
//   (3) After every added pixel the leaf count is at most max(maximum, 8).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "gif/true_color_image.h"

namespace gif {

struct TOctreeNode {
  bool leaf = false;
  std::uint64_t pixel_count = 0;
  // 64 bits: a picture of kMaxPixels white pixels sums to about 2^36.
  std::uint64_t red_sum = 0;
  std::uint64_t green_sum = 0;
  std::uint64_t blue_sum = 0;
  TOctreeNode* next_reducible = nullptr;
  std::array<std::unique_ptr<TOctreeNode>, 8> children;
};

class TColorQuantizer {
 public:
  // max_colors is held to 1..256 and color_bits to 1..8.
  TColorQuantizer(int max_colors, int color_bits);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  void AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  void ProcessImage(const TrueColorImage& image);
  // The leaves' mean colours, depth first in child order; at most
  // MaxColors() entries.
  ColorPalette Palette() const;
  int LeafCount() const { return leaf_count_; }
  int MaxColors() const { return max_colors_; }
  int ColorBits() const { return color_bits_; }

 private:
  // Folds one node; false when there is none left to fold.
  bool Reduce();

  std::unique_ptr<TOctreeNode> root_;
  int leaf_count_ = 0;
  std::array<TOctreeNode*, 8> reducible_{};  // one list per level 0..7
  int max_colors_;
  int leaf_limit_;  // max(max_colors_, 8)
  int color_bits_;
};

// A palette for the picture. colors is held to 2..256 and color_bits to
// 1..8. With system colours the palette has 256 entries: the first ten
// static colours at 0..9, the last ten at 246..255 and at most 236 colours
// of the picture from 10 on (black in the unused entries); else it has one
// entry per leaf (none for an empty picture).
ColorPalette OctreePalette(const TrueColorImage& image, int colors, int color_bits, bool with_system_colors);

}  // namespace gif
