#include "gif/dither.h"

#include <algorithm>

namespace gif {

TDitherEngine::TDitherEngine(int width, TColorLookup& lookup) : lookup_(lookup), width_(std::max(width, 0)) {}

int TDitherEngine::Dither(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  const int index = lookup_.Lookup(red, green, blue, chosen);
  column_ += direction_;
  return index;
}

void TDitherEngine::NextLine() {
  direction_ = -direction_;
  column_ = direction_ > 0 ? 0 : width_ - 1;
}

ErrorDiffusionDitherer::ErrorDiffusionDitherer(int width, TColorLookup& lookup, int rows, int margin, int divisor)
    : TDitherEngine(width, lookup),
      rows_(rows),
      margin_(margin),
      divisor_(divisor),
      rounding_(divisor / 2),
      stride_(static_cast<std::size_t>(width_) + 2 * static_cast<std::size_t>(margin)),
      store_(static_cast<std::size_t>(rows) * 3 * stride_, 0) {}

int ErrorDiffusionDitherer::Dither(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  // A caller walking past the row gets plain mapping: no error is read or
  // written outside the buffers.
  if (!InRow()) return TDitherEngine::Dither(red, green, blue, chosen);
  const std::size_t pos = static_cast<std::size_t>(margin_ + column_);
  const int in[3] = {red, green, blue};
  int value[3];
  for (int c = 0; c < 3; ++c) {
    // Integer division truncates toward zero, as the sums are meant to.
    const int v = in[c] + (Row(0, c)[pos] + rounding_) / divisor_;
    value[c] = std::clamp(v, 0, 255);
  }
  const int index = lookup_.Lookup(static_cast<std::uint8_t>(value[0]), static_cast<std::uint8_t>(value[1]),
                                   static_cast<std::uint8_t>(value[2]), chosen);
  const int out[3] = {chosen.Red, chosen.Green, chosen.Blue};
  for (int c = 0; c < 3; ++c) {
    const std::int32_t error = value[c] - out[c];
    if (error == 0) continue;
    std::int32_t* at[4] = {};
    for (int k = 0; k < rows_; ++k) at[k] = Row(k, c) + pos;
    Spread(at, error);
  }
  column_ += direction_;
  return index;
}

void ErrorDiffusionDitherer::NextLine() {
  // The next row becomes the current one; the old current row, cleared
  // (margins too), becomes the last.
  const int done = order_[0];
  for (int k = 0; k + 1 < rows_; ++k) order_[static_cast<std::size_t>(k)] = order_[static_cast<std::size_t>(k + 1)];
  order_[static_cast<std::size_t>(rows_ - 1)] = done;
  std::fill_n(store_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(done) * 3 * stride_),
              3 * stride_, 0);
  TDitherEngine::NextLine();
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup)
    : ErrorDiffusionDitherer(width, lookup, 2, 1, 16) {}

void TFloydSteinbergDitherer::Spread(std::int32_t* const* at, std::int32_t e) {
  const int d = direction_;
  at[0][d] += 7 * e;
  at[1][-d] += 3 * e;
  at[1][0] += 5 * e;
  at[1][d] += e;
}

T5by3Ditherer::T5by3Ditherer(int width, TColorLookup& lookup, int divisor)
    : ErrorDiffusionDitherer(width, lookup, 3, 2, divisor) {}

void T5by3Ditherer::NextLine() {
  ErrorDiffusionDitherer::NextLine();
  direction2_ = 2 * direction_;
}

void T5by3Ditherer::Spread(std::int32_t* const* at, std::int32_t error) { DistributeError(at[0], at[1], error, at[2]); }

void TStuckiDitherer::DistributeError(std::int32_t* cur, std::int32_t* next, std::int32_t e, std::int32_t* after) {
  const int d = direction_, d2 = direction2_;
  cur[d] += 8 * e;
  cur[d2] += 4 * e;
  next[-d2] += 2 * e;
  next[-d] += 4 * e;
  next[0] += 8 * e;
  next[d] += 4 * e;
  next[d2] += 2 * e;
  after[-d2] += e;
  after[-d] += 2 * e;
  after[0] += 4 * e;
  after[d] += 2 * e;
  after[d2] += e;
}

void TSierraDitherer::DistributeError(std::int32_t* cur, std::int32_t* next, std::int32_t e, std::int32_t* after) {
  const int d = direction_, d2 = direction2_;
  cur[d] += 5 * e;
  cur[d2] += 3 * e;
  next[-d2] += 2 * e;
  next[-d] += 4 * e;
  next[0] += 5 * e;
  next[d] += 4 * e;
  next[d2] += 2 * e;
  after[-d] += 2 * e;
  after[0] += 3 * e;
  after[d] += 2 * e;
}

void TJaJuNiDitherer::DistributeError(std::int32_t* cur, std::int32_t* next, std::int32_t e, std::int32_t* after) {
  const int d = direction_, d2 = direction2_;
  cur[d] += 7 * e;
  cur[d2] += 5 * e;
  next[-d2] += 3 * e;
  next[-d] += 5 * e;
  next[0] += 7 * e;
  next[d] += 5 * e;
  next[d2] += 3 * e;
  after[-d2] += e;
  after[-d] += 3 * e;
  after[0] += 5 * e;
  after[d] += 3 * e;
  after[d2] += e;
}

TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : ErrorDiffusionDitherer(width, lookup, 4, 3, 200) {}

void TSteveArcheDitherer::Spread(std::int32_t* const* at, std::int32_t e) {
  const int d = direction_;
  at[0][2 * d] += 32 * e;
  at[1][-3 * d] += 12 * e;
  at[1][-d] += 26 * e;
  at[1][d] += 30 * e;
  at[1][3 * d] += 16 * e;
  at[2][-2 * d] += 12 * e;
  at[2][0] += 26 * e;
  at[2][2 * d] += 12 * e;
  at[3][-3 * d] += 5 * e;
  at[3][-d] += 12 * e;
  at[3][d] += 12 * e;
  at[3][3 * d] += 5 * e;
}

TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup) : ErrorDiffusionDitherer(width, lookup, 2, 2, 32) {}

void TBurkesDitherer::Spread(std::int32_t* const* at, std::int32_t e) {
  const int d = direction_;
  at[0][d] += 8 * e;
  at[0][2 * d] += 4 * e;
  at[1][-2 * d] += 2 * e;
  at[1][-d] += 4 * e;
  at[1][0] += 8 * e;
  at[1][d] += 4 * e;
  at[1][2 * d] += 2 * e;
}

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode mode, int width, TColorLookup& lookup) {
  switch (mode) {
    case TDitherMode::dmNearest: return std::make_unique<TDitherEngine>(width, lookup);
    case TDitherMode::dmFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case TDitherMode::dmStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case TDitherMode::dmSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case TDitherMode::dmJaJuNI: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case TDitherMode::dmSteveArche: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case TDitherMode::dmBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
  }
  return nullptr;
}

}  // namespace gif
