// Little-endian loads and stores of fixed-width values at any alignment:
// every field of the engine's files (data, index and BLOB files, the swap
// intent file) and of the values in a record is little-endian and packed,
// as are the headers and records of the picture files the framework reads
// itself (ICO directories, WMF and EMF records, DIB headers).
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

namespace platform {

template <class T>
inline T LoadLittle(const void* p) {
  static_assert(std::is_trivially_copyable_v<T>);
  T v;
  std::memcpy(&v, p, sizeof(T));  // a plain load on little-endian hosts
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&v);
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  return v;
}

template <class T>
inline void StoreLittle(void* p, T v) {
  static_assert(std::is_trivially_copyable_v<T>);
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&v);
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  std::memcpy(p, &v, sizeof(T));
}

}  // namespace platform
