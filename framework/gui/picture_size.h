// Sizes that picture files declare, in whole pixels.
#pragma once

#include <climits>
#include <cmath>

namespace fw {

// v rounded to whole pixels: 0 for none or less (or not a number), at most
// INT_MAX.
inline int WholePixels(double v) {
  if (!(v > 0)) return 0;
  return v >= INT_MAX ? INT_MAX : static_cast<int>(std::lround(v));
}

}  // namespace fw
