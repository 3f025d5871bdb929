// The sortable key encodings of field values and the byte operations on
// keys. Keys are byte strings compared as unsigned bytes from the first
// (index_format.h); every encoder returns the key bytes in an array whose
// bytewise order is the order of the values:
//
//   EncodeIntegerKey   i32   4 bytes big-endian, top bit of byte 0 flipped
//   EncodeSmallIntKey  i16   2 bytes big-endian, top bit flipped
//   EncodeWordKey      u16   2 bytes big-endian, unchanged
//   EncodeInt64Key     i64   8 bytes big-endian, top bit flipped
//   EncodeFloatKey     f64   x < 0: the 8 big-endian bytes, every bit inverted;
//                            otherwise big-endian with the top bit set.
//                            -0.0 is not below 0 and encodes like 0.0.
//                            NaN is not below 0 either: its bits get the
//                            top bit set, so NaNs of both signs sort above
//                            +inf. No key holds one: the data file reads a
//                            NaN field as null (field_types.h).
//
// Which field type uses which encoding: BuildKeyField (data_file_records.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace storage {

std::array<std::uint8_t, 4> EncodeIntegerKey(std::int32_t value);
std::array<std::uint8_t, 2> EncodeSmallIntKey(std::int16_t value);
std::array<std::uint8_t, 2> EncodeWordKey(std::uint16_t value);
std::array<std::uint8_t, 8> EncodeInt64Key(std::int64_t value);
std::array<std::uint8_t, 8> EncodeFloatKey(double value);

// Bytes from..n-1 set to 0x00 / 0xFF (low and high bounds of a partial
// key). Nothing happens when from >= n.
void FillKeyLow(void* key, std::size_t from, std::size_t n);
void FillKeyHigh(void* key, std::size_t from, std::size_t n);

// Adds / subtracts one, reading the n bytes as a big-endian number.
// All 0xFF stays all 0xFF; all 0x00 stays all 0x00 (no wrap).
void IncrementKey(void* key, std::size_t n);
void DecrementKey(void* key, std::size_t n);

// Inverts every byte (descending key fields).
void InvertKeyBytes(void* key, std::size_t n);

}  // namespace storage
