// The key encodings and key byte operations: exact bytes, and the order of
// random values against the bytewise order of their keys.
#include "storage/key_encoding.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace storage {
namespace {

using V = std::vector<std::uint8_t>;

template <std::size_t N>
V Bytes(const std::array<std::uint8_t, N>& a) {
  return V(a.begin(), a.end());
}

// Keys compare as unsigned bytes from the first, as the index does.
template <class T, class Enc>
void CheckOrder(const std::vector<T>& values, Enc enc) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto ki = enc(values[i]);
    for (std::size_t j = 0; j < values.size(); j += 1 + values.size() / 64) {
      const auto kj = enc(values[j]);
      const int c = std::memcmp(ki.data(), kj.data(), ki.size());
      ASSERT_EQ((c > 0) - (c < 0), (values[i] > values[j]) - (values[i] < values[j]))
          << values[i] << " and " << values[j];
    }
  }
}

TEST(KeyEncoding, ExactBytes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<V, V> cases[] = {
      {Bytes(EncodeIntegerKey(-1)), {0x7F, 0xFF, 0xFF, 0xFF}},
      {Bytes(EncodeIntegerKey(0x01020304)), {0x81, 0x02, 0x03, 0x04}},
      {Bytes(EncodeIntegerKey(std::numeric_limits<std::int32_t>::min())), {0, 0, 0, 0}},
      {Bytes(EncodeSmallIntKey(0x1234)), {0x92, 0x34}},
      {Bytes(EncodeWordKey(0xFFFF)), {0xFF, 0xFF}},
      {Bytes(EncodeInt64Key(-1)), {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {Bytes(EncodeFloatKey(1.0)), {0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {Bytes(EncodeFloatKey(-1.0)), {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      // Minus zero equals zero; NaN of either sign sorts above +inf.
      {Bytes(EncodeFloatKey(-0.0)), {0x80, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  for (double x : {nan, -nan}) EXPECT_GT(Bytes(EncodeFloatKey(x)), Bytes(EncodeFloatKey(INFINITY)));
}

TEST(KeyEncoding, RandomValuesSortLikeTheirKeys) {
  std::mt19937_64 rng(1234);
  const double dmin = std::numeric_limits<double>::denorm_min();
  std::vector<std::int32_t> i32 = {0, -1, 1, INT32_MIN, INT32_MAX};
  std::vector<std::int16_t> i16 = {0, -1, 1, -32768, 32767};
  std::vector<std::uint16_t> u16 = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
  std::vector<std::int64_t> i64 = {0, -1, 1, INT64_MIN, INT64_MAX};
  std::vector<double> f64 = {-INFINITY, -1.0, -dmin, -0.0, 0.0, dmin, 1.0, INFINITY};
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t r = rng();
    i32.push_back(static_cast<std::int32_t>(r));
    i32.push_back(static_cast<std::int32_t>(r % 7) - 3);  // many equal values
    i16.push_back(static_cast<std::int16_t>(r >> 20));
    u16.push_back(static_cast<std::uint16_t>(r >> 40));
    i64.push_back(static_cast<std::int64_t>(r));
    // Random bit patterns: denormals, huge and tiny values of both signs.
    if (const double d = std::bit_cast<double>(rng()); !std::isnan(d)) f64.push_back(d);
    f64.push_back(static_cast<double>(static_cast<int>(r % 5) - 2));
  }
  CheckOrder(i32, EncodeIntegerKey);
  CheckOrder(i16, EncodeSmallIntKey);
  CheckOrder(u16, EncodeWordKey);
  CheckOrder(i64, EncodeInt64Key);
  CheckOrder(f64, EncodeFloatKey);
}

// Every 2-byte key against the number it spells (both ends saturate).
TEST(KeyEncoding, IncrementDecrementMatchArithmetic) {
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    std::uint8_t up[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    std::uint8_t down[2] = {up[0], up[1]};
    IncrementKey(up, 2);
    DecrementKey(down, 2);
    ASSERT_EQ(up[0] << 8 | up[1], static_cast<int>(std::min<std::uint32_t>(v + 1, 0xFFFF)));
    ASSERT_EQ(down[0] << 8 | down[1], static_cast<int>(v == 0 ? 0 : v - 1));
  }
  V empty;
  IncrementKey(empty.data(), 0);
  DecrementKey(empty.data(), 0);
}

TEST(KeyEncoding, FillAndInvert) {
  V k = {1, 2, 3, 4, 5};
  FillKeyHigh(k.data(), 2, 5);
  FillKeyLow(k.data(), 4, 5);
  FillKeyLow(k.data(), 7, 5);  // from past the end: nothing
  EXPECT_EQ(k, (V{1, 2, 0xFF, 0xFF, 0}));
  InvertKeyBytes(k.data(), 5);
  EXPECT_EQ(k, (V{0xFE, 0xFD, 0, 0, 0xFF}));
}

}  // namespace
}  // namespace storage
