// Key encoders and the LIKE matcher: inner loops of key building and
// filters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "storage/key_encoding.h"
#include "storage/like_pattern.h"

namespace {

template <class T, class Enc>
void EncodeLoop(benchmark::State& state, Enc enc) {
  std::mt19937_64 rng(1);
  std::vector<T> values(1024);
  for (auto& v : values) v = static_cast<T>(rng());
  std::size_t i = 0;
  for (auto _ : state) {
    auto k = enc(values[i++ & 1023]);
    benchmark::DoNotOptimize(k);
  }
}

void BM_EncodeIntegerKey(benchmark::State& s) { EncodeLoop<std::int32_t>(s, storage::EncodeIntegerKey); }
void BM_EncodeSmallIntKey(benchmark::State& s) { EncodeLoop<std::int16_t>(s, storage::EncodeSmallIntKey); }
void BM_EncodeWordKey(benchmark::State& s) { EncodeLoop<std::uint16_t>(s, storage::EncodeWordKey); }
void BM_EncodeInt64Key(benchmark::State& s) { EncodeLoop<std::int64_t>(s, storage::EncodeInt64Key); }
void BM_EncodeFloatKey(benchmark::State& state) {
  std::mt19937_64 rng(1);
  std::vector<double> values(1024);
  for (auto& v : values) v = std::uniform_real_distribution<double>(-1e9, 1e9)(rng);
  std::size_t i = 0;
  for (auto _ : state) {
    auto k = storage::EncodeFloatKey(values[i++ & 1023]);
    benchmark::DoNotOptimize(k);
  }
}
BENCHMARK(BM_EncodeIntegerKey);
BENCHMARK(BM_EncodeSmallIntKey);
BENCHMARK(BM_EncodeWordKey);
BENCHMARK(BM_EncodeInt64Key);
BENCHMARK(BM_EncodeFloatKey);

// A typical filter: a 40-character name against a prefix, a suffix and an
// infix pattern.
void BM_LikeTypical(benchmark::State& state) {
  const std::string text = "Sunset over the harbour, photo 0012.jpg";
  const char* patterns[] = {"Sun%", "%.jpg", "%harb_ur%", "%photo%00__%"};
  const char* pattern = patterns[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(storage::MatchLikePattern(text, pattern));
  state.SetLabel(pattern);
}
BENCHMARK(BM_LikeTypical)->DenseRange(0, 3);

// Many '%' against a long text that never matches the final character:
// the worst case of the backtracking matcher, O(text x pattern).
void BM_LikeAdversarial(benchmark::State& state) {
  const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
  const std::string pattern = "%a%a%a%a%a%a%a%a%a%a%b";
  for (auto _ : state) benchmark::DoNotOptimize(storage::MatchLikePattern(text, pattern));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LikeAdversarial)->Arg(255)->Arg(10000);

// A long literal after '%' that almost matches everywhere: each restart
// re-reads up to the literal's length, so work is text x literal.
void BM_LikeLongLiteral(benchmark::State& state) {
  const std::string text(10000, 'a');
  const std::string pattern = "%" + std::string(static_cast<std::size_t>(state.range(0)), 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(storage::MatchLikePattern(text, pattern));
}
BENCHMARK(BM_LikeLongLiteral)->Arg(10)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
