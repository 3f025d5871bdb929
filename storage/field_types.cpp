#include "storage/field_types.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace storage {

// Extended layout (little-endian): bytes 0..7 mantissa with the integer bit
// at bit 63, bytes 8..9 sign (bit 15) and exponent (bits 0..14, bias 16383).
double ExtendedToDouble(const void* ten_bytes) {
  const auto* b = static_cast<const unsigned char*>(ten_bytes);
  const std::uint64_t mantissa = LoadLittle<std::uint64_t>(b);
  const std::uint16_t se = LoadLittle<std::uint16_t>(b + 8);
  const bool negative = (se & 0x8000) != 0;
  const int exponent = se & 0x7FFF;
  double v;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::quiet_NaN();
  } else if (mantissa == 0) {
    v = 0.0;
  } else {
    // value = mantissa x 2^(exponent - 16383 - 63); denormals use exponent 1.
    const int e = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    v = std::ldexp(static_cast<double>(mantissa), e);
  }
  return negative ? -v : v;
}

void DoubleToExtended(double value, void* ten_bytes) {
  auto* b = static_cast<unsigned char*>(ten_bytes);
  std::uint16_t se = std::signbit(value) ? 0x8000 : 0;
  std::uint64_t mantissa = 0;
  if (std::isnan(value)) {
    se |= 0x7FFF;
    mantissa = 0xC000000000000000ULL;
  } else if (std::isinf(value)) {
    se |= 0x7FFF;
    mantissa = 0x8000000000000000ULL;
  } else if (value != 0.0) {
    int e = 0;
    const double frac = std::frexp(std::fabs(value), &e);  // [0.5, 1) x 2^e
    // frac x 2^64 fits exactly: a double has 53 significant bits.
    mantissa = static_cast<std::uint64_t>(std::ldexp(frac, 64));
    se |= static_cast<std::uint16_t>(e - 1 + 16383);
  }
  StoreLittle<std::uint64_t>(b, mantissa);
  StoreLittle<std::uint16_t>(b + 8, se);
}

bool IsNotANumber(FieldType type, const void* value) {
  if (type != FieldType::kFloat && type != FieldType::kTimestamp) return false;
  return std::isnan(LoadLittle<double>(value));
}

void ClearField(std::span<std::byte> record, const FieldSlot& slot) {
  assert(slot.Extent() <= record.size());
  if (slot.IsAutoIncrement()) return;
  std::fill_n(record.begin() + slot.offset, std::size_t{1} + slot.physical_size, std::byte{0});
}

void PutFieldBytes(std::span<std::byte> record, const FieldSlot& slot,
                   std::span<const std::byte> value) {
  assert(slot.Extent() <= record.size());
  if (slot.IsAutoIncrement()) return;
  record[slot.offset] = std::byte{1};
  auto dest = record.subspan(slot.offset + std::size_t{1}, slot.physical_size);
  const std::size_t n = std::min(value.size(), dest.size());
  std::copy_n(value.begin(), n, dest.begin());
  std::fill(dest.begin() + n, dest.end(), std::byte{0});
}

std::string_view GetFieldString(std::span<const std::byte> record, const FieldSlot& slot) {
  auto bytes = FieldValueBytes(record, slot);
  const char* p = reinterpret_cast<const char*>(bytes.data());
  const std::size_t n = std::find(bytes.begin(), bytes.end(), std::byte{0}) - bytes.begin();
  return std::string_view(p, n);
}

void PutFieldString(std::span<std::byte> record, const FieldSlot& slot, std::string_view text) {
  const std::size_t room = slot.physical_size > 0 ? slot.physical_size - std::size_t{1} : 0;
  text = text.substr(0, std::min(room, text.find('\0')));
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) {
    ClearField(record, slot);
    return;
  }
  // The zero fill after the text is the terminator.
  PutFieldBytes(record, slot, std::as_bytes(std::span<const char>(text.data(), text.size())));
}

bool GetFieldBoolean(std::span<const std::byte> record, const FieldSlot& slot) {
  return GetFieldValue<std::uint16_t>(record, slot) != 0;
}

void PutFieldBoolean(std::span<std::byte> record, const FieldSlot& slot, bool value) {
  PutFieldValue<std::uint16_t>(record, slot, value ? 1 : 0);
}

}  // namespace storage
