// giflib as the peer of the GIF tests: its decoder over memory (DGifSlurp)
// and its encoder writing files described frame by frame, with generators
// of palettes, pixels and extensions for those descriptions.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gif/gif_color_map.h"

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string CorpusDir() { return std::string(TOLMID_TEST_DATA) + "/gif"; }

// The corpus of real files, by name.
inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(CorpusDir()))
    if (e.path().extension() == ".gif") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A file slurped by giflib; file is null when giflib failed.
struct GiflibImage {
  const Bytes* data = nullptr;
  std::size_t pos = 0;
  GifFileType* file = nullptr;
  int error = 0;
  GiflibImage() = default;
  GiflibImage(const GiflibImage&) = delete;
  GiflibImage& operator=(const GiflibImage&) = delete;
  ~GiflibImage() {
    if (file) DGifCloseFile(file, &error);
  }
};

inline std::unique_ptr<GiflibImage> LoadGiflib(const Bytes& data) {
  auto g = std::make_unique<GiflibImage>();
  g->data = &data;
  g->file = DGifOpen(g.get(), [](GifFileType* gif, GifByteType* buf, int len) {
    auto* in = static_cast<GiflibImage*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), in->data->size() - in->pos);
    if (n) std::memcpy(buf, in->data->data() + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
  }, &g->error);
  if (g->file && DGifSlurp(g->file) != GIF_OK) {
    DGifCloseFile(g->file, &g->error);
    g->file = nullptr;
  }
  return g;
}

// What giflib's encoder is to write: extensions as their sub-blocks; colour
// tables (empty: none) with power-of-two sizes (giflib's rule).
struct GenExtension {
  int label;
  std::vector<Bytes> blocks;
};

struct GenFrame {
  int left = 0, top = 0, width = 1, height = 1;
  bool interlace = false;
  std::vector<gif::TGIFColor> local;
  Bytes pixels;  // width * height, display order
  std::vector<GenExtension> extensions;
};

struct GenGif {
  int width = 1, height = 1, background = 0;
  std::vector<gif::TGIFColor> global;
  bool version89 = true;
  std::vector<GenFrame> frames;
  std::vector<GenExtension> trailing;
};

inline Bytes BuildWithGiflib(const GenGif& gif) {
  Bytes out;
  int err = 0;
  GifFileType* g = EGifOpen(&out, [](GifFileType* f, const GifByteType* buf, int len) {
    static_cast<Bytes*>(f->UserData)->insert(static_cast<Bytes*>(f->UserData)->end(), buf, buf + len);
    return len;
  }, &err);
  if (!g) return out;
  auto map = [](const std::vector<gif::TGIFColor>& colors) -> ColorMapObject* {
    if (colors.empty()) return nullptr;
    std::vector<GifColorType> c;
    for (const auto& e : colors) c.push_back({e.Red, e.Green, e.Blue});
    return GifMakeMapObject(static_cast<int>(c.size()), c.data());
  };
  auto put_extensions = [&](const std::vector<GenExtension>& exts) {
    for (const auto& e : exts) {
      EGifPutExtensionLeader(g, e.label);
      for (const auto& b : e.blocks) EGifPutExtensionBlock(g, static_cast<int>(b.size()), b.data());
      EGifPutExtensionTrailer(g);
    }
  };
  EGifSetGifVersion(g, gif.version89);
  ColorMapObject* global = map(gif.global);
  EGifPutScreenDesc(g, gif.width, gif.height, 8, gif.background, global);
  for (const GenFrame& f : gif.frames) {
    put_extensions(f.extensions);
    ColorMapObject* local = map(f.local);
    EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, local);
    Bytes row(static_cast<std::size_t>(f.width));
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (f.interlace ? 4 : 1); ++pass)
      for (int y = f.interlace ? start[pass] : 0; y < f.height; y += f.interlace ? step[pass] : 1) {
        std::memcpy(row.data(), f.pixels.data() + static_cast<std::size_t>(y) * f.width, row.size());
        EGifPutLine(g, row.data(), f.width);
      }
    if (local) GifFreeMapObject(local);
  }
  put_extensions(gif.trailing);
  if (global) GifFreeMapObject(global);
  EGifCloseFile(g, &err);
  return out;
}

inline std::vector<gif::TGIFColor> Palette(int n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<gif::TGIFColor> c(static_cast<std::size_t>(n));
  for (auto& e : c)
    e = {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())};
  return c;
}

// Pixels below colors: noisy (every pixel random), or in runs and patterns
// that make long strings.
inline Bytes Pixels(int w, int h, int colors, std::uint32_t seed, bool noisy) {
  std::mt19937 rng(seed);
  Bytes p(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (std::size_t i = 0; i < p.size(); ++i) {
    const int x = static_cast<int>(i % static_cast<std::size_t>(w)),
              y = static_cast<int>(i / static_cast<std::size_t>(w));
    p[i] = static_cast<std::uint8_t>(noisy ? rng() % static_cast<unsigned>(colors)
                                           : ((x / 7 + y / 5) + (rng() % 16 == 0 ? 1 : 0)) % colors);
  }
  return p;
}

inline GenFrame Frame(int left, int top, int w, int h, int colors, std::uint32_t seed, bool noisy = false) {
  GenFrame f;
  f.left = left, f.top = top, f.width = w, f.height = h;
  f.pixels = Pixels(w, h, colors, seed, noisy);
  return f;
}

inline GenExtension Gce(int disposal, bool transparent, int index, int delay, bool user_input = false) {
  const auto packed = static_cast<std::uint8_t>((disposal << 2) | (user_input ? 2 : 0) | (transparent ? 1 : 0));
  return {0xF9, {{packed, static_cast<std::uint8_t>(delay), static_cast<std::uint8_t>(delay >> 8),
                  static_cast<std::uint8_t>(index)}}};
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline GenExtension App(const std::string& id, std::vector<Bytes> data) {
  data.insert(data.begin(), Text(id));
  return {0xFF, std::move(data)};
}

}  // namespace giftest
