#include "gif/color_quantizer.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "gif/color_lookup.h"

namespace gif {

TColorQuantizer::TColorQuantizer(int max_colors, int color_bits)
    : max_colors_(std::clamp(max_colors, 1, 256)),
      leaf_limit_(std::max(max_colors_, 8)),
      color_bits_(std::clamp(color_bits, 1, 8)) {}

// Children are owned through unique_ptr; depth is at most 9, so the
// recursive destruction is shallow.
TColorQuantizer::~TColorQuantizer() = default;

void TColorQuantizer::AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  std::unique_ptr<TOctreeNode>* link = &root_;
  for (int level = 0;; ++level) {
    if (!*link) {
      *link = std::make_unique<TOctreeNode>();
      TOctreeNode* created = link->get();
      if (level == color_bits_) {
        created->leaf = true;
        ++leaf_count_;
      } else {
        created->next_reducible = reducible_[static_cast<std::size_t>(level)];
        reducible_[static_cast<std::size_t>(level)] = created;
      }
    }
    TOctreeNode* node = link->get();
    if (node->leaf) {
      ++node->pixel_count;
      node->red_sum += red;
      node->green_sum += green;
      node->blue_sum += blue;
      break;
    }
    const int shift = 7 - level;
    const int child = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
    link = &node->children[static_cast<std::size_t>(child)];
  }
  while (leaf_count_ > leaf_limit_)
    if (!Reduce()) break;
}

bool TColorQuantizer::Reduce() {
  int level = color_bits_ - 1;
  while (level > 0 && reducible_[static_cast<std::size_t>(level)] == nullptr) --level;
  TOctreeNode* node = reducible_[static_cast<std::size_t>(level)];
  if (node == nullptr) return false;  // only the root is left, already a leaf
  reducible_[static_cast<std::size_t>(level)] = node->next_reducible;
  node->next_reducible = nullptr;
  int children = 0;
  for (auto& child : node->children) {
    if (!child) continue;
    node->pixel_count += child->pixel_count;
    node->red_sum += child->red_sum;
    node->green_sum += child->green_sum;
    node->blue_sum += child->blue_sum;
    child.reset();
    ++children;
  }
  node->leaf = true;
  leaf_count_ += 1 - children;
  return true;
}

void TColorQuantizer::ProcessImage(const TrueColorImage& image) {
  for (const TGIFColor& c : image.Pixels()) AddColor(c.Red, c.Green, c.Blue);
}

namespace {

struct LeafSum {
  std::uint64_t count, red, green, blue;
};

void CollectLeaves(const TOctreeNode* node, std::vector<LeafSum>& out) {
  if (node == nullptr) return;
  if (node->leaf) {
    out.push_back({node->pixel_count, node->red_sum, node->green_sum, node->blue_sum});
    return;
  }
  for (const auto& child : node->children) CollectLeaves(child.get(), out);
}

double Mean(std::uint64_t sum, std::uint64_t count) {
  return count == 0 ? 0.0 : static_cast<double>(sum) / static_cast<double>(count);
}

// Cost of merging two leaves: the growth of the summed squared error.
double MergeCost(const LeafSum& a, const LeafSum& b) {
  if (a.count == 0 || b.count == 0) return 0.0;
  const double dr = Mean(a.red, a.count) - Mean(b.red, b.count);
  const double dg = Mean(a.green, a.count) - Mean(b.green, b.count);
  const double db = Mean(a.blue, a.count) - Mean(b.blue, b.count);
  const double na = static_cast<double>(a.count), nb = static_cast<double>(b.count);
  return na * nb / (na + nb) * (dr * dr + dg * dg + db * db);
}

}  // namespace

ColorPalette TColorQuantizer::Palette() const {
  std::vector<LeafSum> leaves;
  leaves.reserve(static_cast<std::size_t>(leaf_count_));
  CollectLeaves(root_.get(), leaves);
  // Only with fewer than 8 colours asked: at most 8 leaves here.
  while (leaves.size() > static_cast<std::size_t>(max_colors_)) {
    std::size_t best_i = 0, best_j = 1;
    double best = MergeCost(leaves[0], leaves[1]);
    for (std::size_t i = 0; i < leaves.size(); ++i)
      for (std::size_t j = i + 1; j < leaves.size(); ++j) {
        const double cost = MergeCost(leaves[i], leaves[j]);
        if (cost < best) {
          best = cost;
          best_i = i;
          best_j = j;
        }
      }
    LeafSum& into = leaves[best_i];
    into.count += leaves[best_j].count;
    into.red += leaves[best_j].red;
    into.green += leaves[best_j].green;
    into.blue += leaves[best_j].blue;
    leaves.erase(leaves.begin() + static_cast<std::ptrdiff_t>(best_j));
  }
  ColorPalette p;
  p.reserve(leaves.size());
  for (const LeafSum& l : leaves) {
    // An empty leaf (none is made by AddColor) would be black.
    if (l.count == 0) {
      p.push_back({0, 0, 0});
      continue;
    }
    p.push_back({static_cast<std::uint8_t>(l.red / l.count), static_cast<std::uint8_t>(l.green / l.count),
                 static_cast<std::uint8_t>(l.blue / l.count)});
  }
  return p;
}

ColorPalette OctreePalette(const TrueColorImage& image, int colors, int color_bits, bool with_system_colors) {
  colors = std::clamp(colors, 2, 256);
  if (with_system_colors) colors = 236;
  TColorQuantizer quantizer(colors, color_bits);
  quantizer.ProcessImage(image);
  ColorPalette leaves = quantizer.Palette();
  if (!with_system_colors) return leaves;
  const ColorPalette system = SystemDefaultPalette();
  ColorPalette p(256, TGIFColor{0, 0, 0});
  std::copy(system.begin(), system.begin() + 10, p.begin());
  std::copy(leaves.begin(), leaves.end(), p.begin() + 10);
  std::copy(system.begin() + 10, system.end(), p.begin() + 246);
  return p;
}

}  // namespace gif
