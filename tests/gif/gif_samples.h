// The test files: the corpus of real files and files built with giflib's
// encoder for what the corpus lacks.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "gif_test_support.h"

namespace giftest {

struct Sample {
  std::string name;
  Bytes data;
};

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
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v;
      if (noisy)
        v = static_cast<int>(rng() % static_cast<unsigned>(colors));
      else
        v = ((x / 7 + y / 5) + (rng() % 16 == 0 ? 1 : 0)) % colors;
      p[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>(v);
    }
  return p;
}

inline GenFrame Frame(int left, int top, int w, int h, int colors, std::uint32_t seed, bool noisy = false) {
  GenFrame f;
  f.left = left;
  f.top = top;
  f.width = w;
  f.height = h;
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
  std::vector<Bytes> blocks{Text(id)};
  for (auto& d : data) blocks.push_back(std::move(d));
  return {0xFF, std::move(blocks)};
}

inline std::vector<Sample> BuiltSamples() {
  std::vector<Sample> out;
  auto add = [&](const std::string& name, const GenGif& g) { out.push_back({name, BuildWithGiflib(g)}); };
  {
    GenGif g;  // 87a, global table of 2
    g.version89 = false;
    g.width = 7;
    g.height = 5;
    g.global = Palette(2, 1);
    g.frames.push_back(Frame(0, 0, 7, 5, 2, 2, true));
    add("built-87a-two-colours", g);
  }
  {
    GenGif g;  // local tables of 4, 16 and 256 entries at offsets
    g.width = 64;
    g.height = 48;
    g.global = Palette(2, 3);
    GenFrame a = Frame(3, 4, 20, 10, 4, 4);
    a.local = Palette(4, 5);
    GenFrame b = Frame(10, 11, 33, 21, 16, 6, true);
    b.local = Palette(16, 7);
    b.interlace = true;
    GenFrame c = Frame(0, 0, 64, 48, 256, 8, true);
    c.local = Palette(256, 9);
    g.frames = {a, b, c};
    add("built-local-tables", g);
  }
  {
    GenGif g;  // no global table at all
    g.width = 16;
    g.height = 16;
    GenFrame a = Frame(0, 0, 16, 16, 8, 10);
    a.local = Palette(8, 11);
    g.frames = {a};
    add("built-no-global", g);
  }
  {
    GenGif g;  // plain text, comments (one line over 255 bytes), trailing comment
    g.width = 40;
    g.height = 20;
    g.global = Palette(32, 12);
    GenFrame a = Frame(0, 0, 40, 20, 32, 13);
    a.extensions.push_back({0x01, {{0, 0, 0, 0, 40, 0, 20, 0, 8, 10, 1, 0}, Text("Hello"), Text("world")}});
    a.extensions.push_back({0xFE, {Bytes(255, 'a'), Text("tail of a long line")}});
    g.frames = {a};
    g.trailing.push_back({0xFE, {Text("after the last image")}});
    add("built-text-comment", g);
  }
  {
    GenGif g;  // loop counts and an unknown application block
    g.width = 10;
    g.height = 10;
    g.global = Palette(4, 14);
    GenFrame a = Frame(0, 0, 10, 10, 4, 15);
    a.extensions.push_back(App("NETSCAPE2.0", {{1, 5, 0}}));
    a.extensions.push_back(App("XMP DataXMP", {Text("<x:xmpmeta>"), Bytes(200, 7), Text("end")}));
    a.extensions.push_back(Gce(1, false, 0, 25));
    GenFrame b = Frame(2, 2, 5, 5, 4, 16);
    b.extensions.push_back(App("ANIMEXTS1.0", {{1, 0x34, 0x12}, {2, 0, 0x10, 0, 0}}));
    g.frames = {a, b};
    add("built-applications", g);
  }
  {
    GenGif g;  // disposal 0 to 3, transparency, user input, delays
    g.width = 30;
    g.height = 30;
    g.global = Palette(16, 17);
    for (int d = 0; d < 4; ++d) {
      GenFrame f = Frame(d * 3, d * 2, 20, 20, 16, 18 + static_cast<std::uint32_t>(d));
      f.extensions.push_back(Gce(d, d % 2 == 1, d * 4, d * 100 + 3, d == 2));
      g.frames.push_back(f);
    }
    g.frames[0].extensions.insert(g.frames[0].extensions.begin(), App("NETSCAPE2.0", {{1, 0, 0}}));
    add("built-disposal", g);
  }
  {
    GenGif g;  // interlaced frames of many heights
    g.width = 23;
    g.height = 40;
    g.global = Palette(64, 20);
    for (int h : {1, 2, 3, 4, 5, 8, 9, 17, 33, 40}) {
      GenFrame f = Frame(0, 0, 23, h, 64, 21 + static_cast<std::uint32_t>(h), h % 2 == 0);
      f.interlace = true;
      g.frames.push_back(f);
    }
    add("built-interlaced", g);
  }
  {
    GenGif g;  // 256-colour noise: full string tables and clear codes
    g.width = 200;
    g.height = 150;
    g.global = Palette(256, 22);
    g.frames.push_back(Frame(0, 0, 200, 150, 256, 23, true));
    add("built-noise-256", g);
  }
  {
    GenGif g;  // one colour throughout: very long strings
    g.width = 300;
    g.height = 300;
    g.global = Palette(2, 24);
    GenFrame f;
    f.width = 300;
    f.height = 300;
    f.pixels = Bytes(300u * 300u, 1);
    g.frames.push_back(f);
    add("built-one-colour", g);
  }
  return out;
}

inline std::vector<Sample> CorpusSamples() {
  std::vector<Sample> out;
  for (const auto& name : CorpusFiles()) out.push_back({name, ReadFileBytes(CorpusDir() + "/" + name)});
  return out;
}

inline std::vector<Sample> AllSamples() {
  std::vector<Sample> all = CorpusSamples();
  for (auto& s : BuiltSamples()) all.push_back(std::move(s));
  return all;
}

}  // namespace giftest
