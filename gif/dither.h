// Ditherers: map a picture to palette indexes one row after another through
// a colour lookup, walking the rows in alternating directions (serpentine).
// All but the plain engine spread each pixel's quantisation error over
// pixels not yet visited with a fixed integer kernel.
//
// Kernel weights; 0 is the pixel being mapped, positive offsets lie ahead in
// the current direction, row 0 is the current row:
//
//   kernel           divisor  row 0         row 1                           row 2                      row 3
//   Floyd-Steinberg    16     +1:7          -1:3 0:5 +1:1
//   Stucki             42     +1:8 +2:4     -2:2 -1:4 0:8 +1:4 +2:2          -2:1 -1:2 0:4 +1:2 +2:1
//   Sierra             32     +1:5 +2:3     -2:2 -1:4 0:5 +1:4 +2:2          -1:2 0:3 +1:2
//   Jarvis-Judice-N.   48     +1:7 +2:5     -2:3 -1:5 0:7 +1:5 +2:3          -2:1 -1:3 0:5 +1:3 +2:1
//   4-row kernel      200     +2:32         -3:12 -1:26 +1:30 +3:16          -2:12 0:26 +2:12           -3:5 -1:12 +1:12 +3:5
//   Burkes             32     +1:8 +2:4     -2:2 -1:4 0:8 +1:4 +2:2
//
// Each kernel row is kept per channel as 32-bit error sums over the picture
// row plus a margin of the kernel's reach on both sides, so no weight ever
// lands outside the buffer; what lands in a margin is dropped. A pixel's
// value is its colour plus (sum + divisor / 2) / divisor (truncated toward
// zero), clamped to 0..255. Sums stay within 255 x divisor in magnitude.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/color_lookup.h"

namespace gif {

enum class TDitherMode : std::uint8_t {
  dmNearest = 0,
  dmFloydSteinberg = 1,
  dmStucki = 2,
  dmSierra = 3,
  dmJaJuNI = 4,
  dmSteveArche = 5,
  dmBurkes = 6,
};

// The plain engine: the lookup's colour for each pixel, no diffusion.
class TDitherEngine {
 public:
  // A negative width counts as 0. The lookup must outlive the engine.
  TDitherEngine(int width, TColorLookup& lookup);
  virtual ~TDitherEngine() = default;
  TDitherEngine(const TDitherEngine&) = delete;
  TDitherEngine& operator=(const TDitherEngine&) = delete;

  // The palette index for the pixel at Column(); chosen receives its colour.
  // The column then moves one step in Direction().
  virtual int Dither(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen);
  // Called after every row: the direction flips and the column goes to the
  // row's first pixel in the new direction.
  virtual void NextLine();
  // Moves one step without mapping a pixel (a transparent pixel): it
  // neither takes nor spreads error.
  void Skip() { column_ += direction_; }

  int Direction() const { return direction_; }
  int Column() const { return column_; }
  int Width() const { return width_; }
  // True while Column() is inside the row.
  bool InRow() const { return column_ >= 0 && column_ < width_; }

 protected:
  int direction_ = 1;
  int column_ = 0;
  TColorLookup& lookup_;
  int width_;
};

// Base of the error-diffusion kernels: keeps the error rows and maps pixels;
// the kernels only say where an error goes.
class ErrorDiffusionDitherer : public TDitherEngine {
 public:
  int Dither(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) override;
  void NextLine() override;

 protected:
  // rows 1..4, margin >= the kernel's largest offset, divisor = sum of weights.
  ErrorDiffusionDitherer(int width, TColorLookup& lookup, int rows, int margin, int divisor);
  // Adds error x weight at the kernel's places of one channel; at[k] points
  // at the current column of kernel row k.
  virtual void Spread(std::int32_t* const* at, std::int32_t error) = 0;

 private:
  std::int32_t* Row(int kernel_row, int channel) {
    return store_.data() +
           static_cast<std::size_t>(order_[static_cast<std::size_t>(kernel_row)] * 3 + channel) * stride_;
  }

  int rows_;
  int margin_;
  int divisor_;
  int rounding_;
  std::size_t stride_;
  std::vector<std::int32_t> store_;  // rows_ x 3 channels x stride_
  std::array<int, 4> order_{0, 1, 2, 3};  // storage row of each kernel row
};

class TFloydSteinbergDitherer : public ErrorDiffusionDitherer {
 public:
  TFloydSteinbergDitherer(int width, TColorLookup& lookup);

 protected:
  void Spread(std::int32_t* const* at, std::int32_t error) override;
};

// The three kernels of three rows and reach 2.
class T5by3Ditherer : public ErrorDiffusionDitherer {
 public:
  void NextLine() override;

 protected:
  T5by3Ditherer(int width, TColorLookup& lookup, int divisor);
  void Spread(std::int32_t* const* at, std::int32_t error) override;
  // Each pointer is at the current column of its row.
  virtual void DistributeError(std::int32_t* current, std::int32_t* next, std::int32_t error,
                               std::int32_t* after_next) = 0;

  int direction2_ = 2;  // twice the direction
};

class TStuckiDitherer : public T5by3Ditherer {
 public:
  TStuckiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 42) {}

 protected:
  void DistributeError(std::int32_t* current, std::int32_t* next, std::int32_t error,
                       std::int32_t* after_next) override;
};

class TSierraDitherer : public T5by3Ditherer {
 public:
  TSierraDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 32) {}

 protected:
  void DistributeError(std::int32_t* current, std::int32_t* next, std::int32_t error,
                       std::int32_t* after_next) override;
};

class TJaJuNiDitherer : public T5by3Ditherer {
 public:
  TJaJuNiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 48) {}

 protected:
  void DistributeError(std::int32_t* current, std::int32_t* next, std::int32_t error,
                       std::int32_t* after_next) override;
};

// The 4-row kernel.
class TSteveArcheDitherer : public ErrorDiffusionDitherer {
 public:
  TSteveArcheDitherer(int width, TColorLookup& lookup);

 protected:
  void Spread(std::int32_t* const* at, std::int32_t error) override;
};

class TBurkesDitherer : public ErrorDiffusionDitherer {
 public:
  TBurkesDitherer(int width, TColorLookup& lookup);

 protected:
  void Spread(std::int32_t* const* at, std::int32_t error) override;
};

// The ditherer of a dither mode; null for a mode outside 0..6.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode mode, int width, TColorLookup& lookup);

}  // namespace gif
