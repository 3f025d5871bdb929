// Locale services on code page 1252: IsValidLocale, CompareStringA and
// LCMapStringA for the Western European locales listed in locale.cpp.
// Other locale ids are not installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using LCID = std::uint32_t;

constexpr LCID kLocaleEnglishUS = 0x0409;
constexpr LCID kLocaleSystemDefault = 0x0800;
constexpr LCID kLocaleUserDefault = 0x0400;

// CompareStringA flags.
constexpr std::uint32_t NORM_IGNORECASE = 0x00000001;
constexpr std::uint32_t SORT_STRINGSORT = 0x00001000;
// LCMapStringA flags.
constexpr std::uint32_t LCMAP_LOWERCASE = 0x00000100;
constexpr std::uint32_t LCMAP_UPPERCASE = 0x00000200;
constexpr std::uint32_t LCMAP_HALFWIDTH = 0x00400000;

// Results of CompareStringA.
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

bool IsValidLocale(LCID locale);

// Three-level table-driven string sort: symbols before digits before
// letters; letters by base letter, then accent, then case (lower first).
// Returns CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; 0 for a locale
// that is not installed.
int CompareStringA(LCID locale, std::uint32_t flags, std::string_view a, std::string_view b);

// Maps the text; returns false for a locale that is not installed.
bool LCMapStringA(LCID locale, std::uint32_t flags, std::string_view src, std::string& dest);

}  // namespace platform
