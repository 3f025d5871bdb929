// Code page 1252 text services: letter tests, ANSI case mapping and
// conversion to and from UTF-8 for the GUI. Engine text is single-byte
// code page 1252 held in std::string.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// IsCharAlphaA semantics for code page 1252: A-Z, a-z, 0x83, 0x8A, 0x8C,
// 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA, 0xC0-0xFF except 0xD7
// and 0xF7.
bool IsCharAlphaA(unsigned char c);
// Letters plus the digits 0-9 (IsCharAlphaNumericA).
bool IsCharAlphaNumericA(unsigned char c);

// ANSI upper/lower case of one character and of a string (CharUpperA /
// CharLowerA for code page 1252).
unsigned char AnsiUpperChar(unsigned char c);
unsigned char AnsiLowerChar(unsigned char c);
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

// Conversions for the GUI. Characters with no code page 1252 form become '?'.
std::string Cp1252ToUtf8(std::string_view s);
std::string Utf8ToCp1252(std::string_view s);

}  // namespace platform
