// CompareStringA on short keys (10-40 characters) against memcmp.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/locale.h"

namespace {

// Keys that look like catalogue names: a shared prefix now and then, mixed
// case, some accents and punctuation.
std::vector<std::string> MakeKeys(std::size_t n) {
  std::mt19937 rng(42);
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ   -.,0123456789\xE9\xE8\xE4\xF6\xFC\xDF";
  std::vector<std::string> keys(n);
  for (auto& k : keys) {
    const std::size_t len = 10 + rng() % 31;
    if (rng() % 2 == 0) k = "Photo Album ";
    while (k.size() < len) k += alphabet[rng() % alphabet.size()];
  }
  return keys;
}

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = MakeKeys(1024);
  return keys;
}

void BM_CompareStringA(benchmark::State& state) {
  const auto& keys = Keys();
  const auto flags = static_cast<std::uint32_t>(state.range(0));
  std::size_t i = 0;
  for (auto _ : state) {
    const int r = platform::CompareStringA(platform::kLocaleEnglishUS, flags, keys[i & 1023],
                                           keys[(i * 7 + 1) & 1023]);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}
BENCHMARK(BM_CompareStringA)->Arg(platform::SORT_STRINGSORT)->Arg(platform::NORM_IGNORECASE);

// Equal keys force all three levels over the whole string.
void BM_CompareStringAEqual(benchmark::State& state) {
  const auto& keys = Keys();
  std::vector<std::string> copies(keys);
  std::size_t i = 0;
  for (auto _ : state) {
    const int r = platform::CompareStringA(platform::kLocaleEnglishUS, platform::SORT_STRINGSORT,
                                           keys[i & 1023], copies[i & 1023]);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}
BENCHMARK(BM_CompareStringAEqual);

// Keys that differ only in the case of their first character: no common
// prefix to skip, levels 1 and 2 walk the whole keys, level 3 decides.
void BM_CompareStringACaseOnly(benchmark::State& state) {
  const auto& keys = Keys();
  std::vector<std::string> lower(keys);
  for (auto& k : lower) k[0] = static_cast<char>(k[0] ^ 0x20);
  std::size_t i = 0;
  for (auto _ : state) {
    const int r = platform::CompareStringA(platform::kLocaleEnglishUS, platform::SORT_STRINGSORT,
                                           lower[i & 1023], keys[i & 1023]);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}
BENCHMARK(BM_CompareStringACaseOnly);

void BM_Memcmp(benchmark::State& state) {
  const auto& keys = Keys();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = keys[i & 1023];
    const auto& b = keys[(i * 7 + 1) & 1023];
    int r = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (r == 0) r = a.size() < b.size() ? -1 : a.size() > b.size();
    benchmark::DoNotOptimize(r);
    ++i;
  }
}
BENCHMARK(BM_Memcmp);

}  // namespace

BENCHMARK_MAIN();
