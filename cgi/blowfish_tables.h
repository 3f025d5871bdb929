// The Blowfish standard's initial P-array and S-boxes (hexadecimal digits of
// pi), copied into every cipher object before its key schedule.
#pragma once

#include <cstdint>

namespace cgi {

extern const std::uint32_t kBlowfishInitP[18];
extern const std::uint32_t kBlowfishInitS[4][256];

}  // namespace cgi
