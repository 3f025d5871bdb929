// The key encodings and key byte operations: exact bytes, and the order of
// random values against the bytewise order of their keys.
#include "storage/key_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace storage {
namespace {

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& a) {
  return std::vector<std::uint8_t>(a.begin(), a.end());
}

template <class T>
int Cmp(T a, T b) {
  return (a > b) - (a < b);
}

// Keys compare as unsigned bytes from the first, as the index does.
template <std::size_t N>
int KeyCmp(const std::array<std::uint8_t, N>& a, const std::array<std::uint8_t, N>& b) {
  const int c = std::memcmp(a.data(), b.data(), N);
  return (c > 0) - (c < 0);
}

template <class T, class Enc>
void CheckOrder(const std::vector<T>& values, Enc enc) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    auto ki = enc(values[i]);
    for (std::size_t j = 0; j < values.size(); j += 1 + values.size() / 64) {
      ASSERT_EQ(KeyCmp(ki, enc(values[j])), Cmp(values[i], values[j]))
          << "values " << values[i] << " and " << values[j];
    }
  }
}

TEST(KeyEncoding, ExactBytes) {
  using V = std::vector<std::uint8_t>;
  EXPECT_EQ(Bytes(EncodeIntegerKey(-1)), (V{0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(0)), (V{0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(0x01020304)), (V{0x81, 0x02, 0x03, 0x04}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(std::numeric_limits<std::int32_t>::min())), (V{0, 0, 0, 0}));
  EXPECT_EQ(Bytes(EncodeSmallIntKey(-2)), (V{0x7F, 0xFE}));
  EXPECT_EQ(Bytes(EncodeSmallIntKey(0x1234)), (V{0x92, 0x34}));
  EXPECT_EQ(Bytes(EncodeWordKey(0x1234)), (V{0x12, 0x34}));
  EXPECT_EQ(Bytes(EncodeWordKey(0xFFFF)), (V{0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeInt64Key(-1)), (V{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeInt64Key(1)), (V{0x80, 0, 0, 0, 0, 0, 0, 1}));
  // 1.0 = 3FF0000000000000 -> top bit set; -1.0 = BFF0... -> all inverted.
  EXPECT_EQ(Bytes(EncodeFloatKey(1.0)), (V{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(EncodeFloatKey(-1.0)), (V{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeFloatKey(0.0)), (V{0x80, 0, 0, 0, 0, 0, 0, 0}));
  // Minus zero is not below zero: it must not land below +0.0 (or above it).
  EXPECT_EQ(Bytes(EncodeFloatKey(-0.0)), Bytes(EncodeFloatKey(0.0)));
}

TEST(KeyEncoding, FloatSpecialsOrder) {
  const double inf = std::numeric_limits<double>::infinity();
  const double dmin = std::numeric_limits<double>::denorm_min();
  const double nmin = std::numeric_limits<double>::min();
  const double dmax = std::numeric_limits<double>::max();
  std::vector<double> v = {-inf, -dmax, -1.0, -nmin, -nmin / 2, -dmin, -0.0, 0.0,
                           dmin, nmin / 2, nmin, 1.0, dmax, inf};
  CheckOrder(v, EncodeFloatKey);
  // -1.0 < -0.0 = 0.0 < 1.0
  auto a = EncodeFloatKey(-1.0), b = EncodeFloatKey(-0.0), c = EncodeFloatKey(0.0),
       d = EncodeFloatKey(1.0);
  EXPECT_EQ(KeyCmp(a, b), -1);
  EXPECT_EQ(KeyCmp(b, c), 0);
  EXPECT_EQ(KeyCmp(c, d), -1);
  // NaN of either sign lands above +inf rather than among the negatives.
  auto top = EncodeFloatKey(inf);
  for (double nan : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()}) {
    auto k = EncodeFloatKey(nan);
    EXPECT_EQ(KeyCmp(k, top), 1);
  }
}

TEST(KeyEncoding, RandomValuesSortLikeTheirKeys) {
  std::mt19937_64 rng(1234);
  std::vector<std::int32_t> i32 = {0, -1, 1, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()};
  std::vector<std::int16_t> i16 = {0, -1, 1, -32768, 32767};
  std::vector<std::uint16_t> u16 = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
  std::vector<std::int64_t> i64 = {0, -1, 1, std::numeric_limits<std::int64_t>::min(),
                                   std::numeric_limits<std::int64_t>::max()};
  std::vector<double> f64 = {0.0, -0.0};
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t r = rng();
    i32.push_back(static_cast<std::int32_t>(r));
    i16.push_back(static_cast<std::int16_t>(r >> 20));
    u16.push_back(static_cast<std::uint16_t>(r >> 40));
    i64.push_back(static_cast<std::int64_t>(r));
    // Random bit patterns cover denormals, huge and tiny values of both
    // signs; NaN has no order and is left out.
    double d = std::bit_cast<double>(rng());
    if (!std::isnan(d)) f64.push_back(d);
    f64.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
    // Small integers produce many equal values.
    i32.push_back(static_cast<std::int32_t>(r % 7) - 3);
    f64.push_back(static_cast<double>(static_cast<int>(r % 5) - 2));
  }
  CheckOrder(i32, EncodeIntegerKey);
  CheckOrder(i16, EncodeSmallIntKey);
  CheckOrder(u16, EncodeWordKey);
  CheckOrder(i64, EncodeInt64Key);
  CheckOrder(f64, EncodeFloatKey);
}

TEST(KeyEncoding, IncrementDecrementTable) {
  using V = std::vector<std::uint8_t>;
  struct Case {
    V in, inc, dec;
  };
  const Case cases[] = {
      {{0x00, 0xFF, 0xFF}, {0x01, 0x00, 0x00}, {0x00, 0xFF, 0xFE}},
      {{0xFF, 0xFF}, {0xFF, 0xFF}, {0xFF, 0xFE}},
      {{0x00, 0x00}, {0x00, 0x01}, {0x00, 0x00}},
      {{0x12, 0x00, 0x00}, {0x12, 0x00, 0x01}, {0x11, 0xFF, 0xFF}},
      {{0x7F}, {0x80}, {0x7E}},
      {{}, {}, {}},
  };
  for (const Case& c : cases) {
    V a = c.in, b = c.in;
    IncrementKey(a.data(), a.size());
    DecrementKey(b.data(), b.size());
    EXPECT_EQ(a, c.inc);
    EXPECT_EQ(b, c.dec);
  }
}

TEST(KeyEncoding, IncrementDecrementMatchArithmetic) {
  // Every 2-byte key against the number it spells.
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    std::uint8_t k[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    IncrementKey(k, 2);
    std::uint32_t up = std::min<std::uint32_t>(v + 1, 0xFFFF);
    ASSERT_EQ((k[0] << 8) | k[1], static_cast<int>(up));
    k[0] = static_cast<std::uint8_t>(v >> 8);
    k[1] = static_cast<std::uint8_t>(v);
    DecrementKey(k, 2);
    std::uint32_t down = v == 0 ? 0 : v - 1;
    ASSERT_EQ((k[0] << 8) | k[1], static_cast<int>(down));
  }
}

TEST(KeyEncoding, FillAndInvert) {
  std::uint8_t k[5] = {1, 2, 3, 4, 5};
  FillKeyHigh(k, 2, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0xFF}));
  FillKeyLow(k, 4, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0}));
  FillKeyLow(k, 7, 5);  // from past the end: nothing
  FillKeyHigh(k, 5, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0}));
  InvertKeyBytes(k, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{0xFE, 0xFD, 0, 0, 0xFF}));
  // An inverted key sorts in reverse.
  auto a = EncodeIntegerKey(5), b = EncodeIntegerKey(6);
  InvertKeyBytes(a.data(), 4);
  InvertKeyBytes(b.data(), 4);
  EXPECT_EQ(KeyCmp(a, b), 1);
}

}  // namespace
}  // namespace storage
