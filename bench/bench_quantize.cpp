// Colour reduction of a 1024 x 768 photo-like picture: the octree palette
// alone, Floyd-Steinberg mapping through a fast lookup and the web lookup,
// and whole reductions (octree + Floyd-Steinberg, web + each kernel).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "gif/color_quantizer.h"
#include "gif/color_reduction.h"

namespace {

const gif::TrueColorImage& Picture() {
  static const gif::TrueColorImage image = [] {
    constexpr int w = 1024, h = 768;
    gif::TrueColorImage p(w, h);
    std::mt19937 rng(1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int n = static_cast<int>(rng() % 13) - 6;
        auto ch = [&](int v) { return static_cast<std::uint8_t>(std::clamp(v + n, 0, 255)); };
        p.Pixel(x, y) = {ch(x * 255 / (w - 1)), ch(y * 255 / (h - 1)), ch(((x ^ y) & 0xFF))};
      }
    return p;
  }();
  return image;
}

void SetPixels(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * Picture().Width() * Picture().Height());
}

void BM_OctreePalette(benchmark::State& state) {
  const auto& p = Picture();
  for (auto _ : state) benchmark::DoNotOptimize(gif::OctreePalette(p, static_cast<int>(state.range(0)), 8, false));
  SetPixels(state);
}
BENCHMARK(BM_OctreePalette)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_FloydSteinbergFastLookup(benchmark::State& state) {
  const auto& p = Picture();
  const gif::ColorPalette palette = gif::OctreePalette(p, 256, 8, false);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(p.Width()) * p.Height());
  for (auto _ : state) {
    gif::TFastColorLookup lookup(palette);
    gif::TFloydSteinbergDitherer d(p.Width(), lookup);
    gif::DitherImage(p, d, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_FloydSteinbergFastLookup)->Unit(benchmark::kMillisecond);

void BM_ReduceOctreeFloydSteinberg(benchmark::State& state) {
  const auto& p = Picture();
  for (auto _ : state)
    benchmark::DoNotOptimize(gif::ReduceColors(p, gif::TColorReduction::rmQuantize,
                                               gif::TDitherMode::dmFloydSteinberg, nullptr, 8));
  SetPixels(state);
}
BENCHMARK(BM_ReduceOctreeFloydSteinberg)->Unit(benchmark::kMillisecond);

void BM_ReduceWeb(benchmark::State& state) {
  const auto& p = Picture();
  const auto mode = static_cast<gif::TDitherMode>(state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(gif::ReduceColors(p, gif::TColorReduction::rmNetscape, mode, nullptr, 8));
  SetPixels(state);
}
BENCHMARK(BM_ReduceWeb)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
