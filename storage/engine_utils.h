// Small stateless routines shared by the engine and the SQL engine:
// sortable key encodings, key byte operations, the table scrambler, the
// LIKE matcher, short-string and file-name helpers, min/max, decimal
// rounding, value text checks, a file copy, a pointer quicksort and the
// lock-retry delay.
//
// Strings are single-byte text in code page 1252, held in std::string.
//
// Key encodings: every encoder returns the key bytes in an array whose
// bytewise (unsigned) order is the order of the values:
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
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace storage {

// Fixed-point decimal: signed count of 1/10000.
using Currency = std::int64_t;
constexpr Currency kCurrencyScale = 10000;

// ---------------------------------------------------------------- keys

std::array<std::uint8_t, 4> EncodeIntegerKey(std::int32_t value);
std::array<std::uint8_t, 2> EncodeSmallIntKey(std::int16_t value);
std::array<std::uint8_t, 2> EncodeWordKey(std::uint16_t value);
std::array<std::uint8_t, 8> EncodeInt64Key(std::int64_t value);
std::array<std::uint8_t, 8> EncodeFloatKey(double value);

// -1, 0 or 1 from the first differing byte (unsigned); 0 when n == 0.
// descending swaps the sign.
int CompareKeyBytes(const void* a, const void* b, std::size_t n, bool descending);

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

// -x. INT32_MIN has no positive counterpart and is returned unchanged.
std::int32_t Negate(std::int32_t x);

// ---------------------------------------------------------------- scrambler

// For each byte in order: b ^= low ^ high; ++low; --high (mod 256).
// Applying it twice from the same start pair restores the buffer; both
// names do the same thing. The length is 16-bit: callers pass it modulo
// 65536, which is how the files are written.
void ScrambleBuffer(void* buffer, std::uint16_t n, std::uint8_t low, std::uint8_t high);
void UnscrambleBuffer(void* buffer, std::uint16_t n, std::uint8_t low, std::uint8_t high);

// ---------------------------------------------------------------- LIKE

// SQL LIKE, case-sensitive, bytewise: '%' any run (also empty), '_' one
// character, anything else itself; no escape character. Both texts end at
// their first NUL byte, if any (they come from zero-terminated value
// areas). Runs in O(len(text) x len(pattern)) at worst.
bool MatchLikePattern(std::string_view text, std::string_view pattern);

// ---------------------------------------------------------------- strings

std::string PadLeft(std::string_view s, int n, char c);
std::string PadRight(std::string_view s, int n, char c);
std::string RepeatText(std::string_view s, int n);       // "" for n <= 0
std::string LeftStr(std::string_view s, int n);          // first n (all when shorter)
std::string RightStr(std::string_view s, int n);         // last n
int LastPos(std::string_view sub, std::string_view s);   // 1-based; 0 none or sub empty
std::string TrimChar(std::string_view s, char c);        // both ends
std::string TrimRightChar(std::string_view s, char c);
std::string TrimLeftChar(std::string_view s, char c);
int CountChar(char c, std::string_view s);
// Trailing blanks (' ') removed in place from a zero-terminated text.
void TrimTrailingBlanks(char* text);
void TrimTrailingBlanks(std::string& text);
std::string RemoveLineBreaks(std::string_view s);        // drops every CR and LF

// ---------------------------------------------------------------- file names
//
// '/' separates like '\' (Windows accepts both; paths here start with '/').

// Cut before the last '.' when it stands after the last separator.
std::string RemoveFileExt(std::string_view s);
// Trimmed of blanks and control characters at both ends; "\" appended
// when not empty and not already ending in a separator.
std::string IncludeTrailingBackslash(std::string_view s);
// True for "" and for names holding ':', '\' or '/'.
bool HasDirectoryPart(std::string_view s);
// Text after the last separator or ':', cut to 255 characters, without
// extension.
std::string ExtractTableName(std::string_view s);

// ---------------------------------------------------------------- values

std::string BoolToText(bool b);  // "True" / "False"
// "TRUE" / "FALSE" in any letter case; anything else throws
// fw::EConvertError("'" + s + "' is not a valid boolean value").
bool TextToBool(std::string_view s);
// high * 65536 + low (a locale id from language and sort ids).
std::uint32_t MakeLong(std::uint16_t low, std::uint16_t high);

// Larger / smaller of two. On a tie MaxInt, MaxWord, MaxSmallInt, MaxByte
// and MinInt64 return the second argument, the others the first (which
// shows for floats: MaxFloat(-0.0, 0.0) is -0.0). A NaN first argument is
// returned by MaxFloat/MinFloat; a NaN second argument is never chosen.
std::int32_t MaxInt(std::int32_t a, std::int32_t b);
std::int32_t MinInt(std::int32_t a, std::int32_t b);
std::uint16_t MaxWord(std::uint16_t a, std::uint16_t b);
std::uint16_t MinWord(std::uint16_t a, std::uint16_t b);
std::int16_t MaxSmallInt(std::int16_t a, std::int16_t b);
std::int16_t MinSmallInt(std::int16_t a, std::int16_t b);
std::int64_t MaxInt64(std::int64_t a, std::int64_t b);
std::int64_t MinInt64(std::int64_t a, std::int64_t b);
double MaxFloat(double a, double b);
double MinFloat(double a, double b);
std::uint8_t MaxByte(std::uint8_t a, std::uint8_t b);

// True when the framework's conversion of the text succeeds (current
// locale formats) and, for the 16-bit types, the value is in range. Never
// throws.
bool IsWordText(std::string_view s);
bool IsSmallIntText(std::string_view s);
bool IsIntegerText(std::string_view s);
bool IsBooleanText(std::string_view s);
bool IsFloatText(std::string_view s);
bool IsCurrencyText(std::string_view s);
bool IsDateText(std::string_view s);
bool IsDateTimeText(std::string_view s);
bool IsTimeText(std::string_view s);

// ---------------------------------------------------------------- rounding

// x to the n-th power by repeated multiplication: 1 for n == 0, x for
// n == 1 or x == 0; for n < 0 the reciprocal of x to the -n-th power.
double PowerOf(double x, int n);
// Same in currency arithmetic: each product rounded to 1/10000 (half to
// even, like the FPU's currency multiply); saturates instead of overflowing.
Currency CurrencyPowerOf(Currency x, int n);

// Rounds to n decimals, halves away from zero: trunc(x / f +- 0.5) * f
// with f = PowerOf(0.1, n). 0 stays 0; n < 0 counts as 0; NaN and
// infinities come back unchanged.
double RoundFloat(double x, int n);
// Rounds a currency value to n decimals (n limited to 0..4), halves away
// from zero, exactly. A value whose rounding would leave the 64-bit range
// is rounded toward zero instead.
Currency RoundCurrency(Currency c, int n);

// "##############0" plus "." and n zeros when n > 0.
std::string FormatMask(int n);
// RoundFloat, then the nearest double to the decimal text with n decimals.
double FormatFloatDigits(double x, int n);
// RoundCurrency with n limited to 4 (the decimal text of a currency value is
// exact, so formatting and reading it back changes nothing further).
Currency FormatCurrencyDigits(Currency c, int n);

// Reads the value's decimal text as digits whose last digit d is a count of
// decimals: drops d and puts the decimal point d places from the right
// (leading zeros as needed), keeping the sign. E.g. 12345 -> 0.01234,
// -1502 -> -1.50, 7 -> 0. A value whose text is not a whole number
// (fraction, exponent, infinity, NaN) comes back unchanged. The currency
// form reads the value in whole units (1.0000 -> "1").
double AdjustFloatPrecision(double x);
Currency AdjustCurrencyPrecision(Currency c);

// ---------------------------------------------------------------- other

// Quicksort of items[first..last] in place with compare(a, b) < 0, == 0,
// > 0. Pivot: the item at (first + last) / 2. Recurses into the smaller
// part and loops on the larger, so the stack stays O(log n). Index checks
// keep a comparison that is not a strict weak order inside the array.
template <class Compare>
void QuickSortPointers(void** items, int first, int last, Compare compare) {
  while (first < last) {
    int i = first;
    int j = last;
    void* pivot = items[first + (last - first) / 2];
    while (i <= j) {
      while (i < last && compare(items[i], pivot) < 0) ++i;
      while (j > first && compare(items[j], pivot) > 0) --j;
      if (i <= j) {
        std::swap(items[i], items[j]);
        ++i;
        --j;
      }
    }
    // Now items[first..j] <= pivot <= items[i..last].
    if (j - first < last - i) {
      if (first < j) QuickSortPointers(items, first, j, compare);
      first = i;
    } else {
      if (i < last) QuickSortPointers(items, i, last, compare);
      last = j;
    }
  }
}

// Copies source to dest (created or replaced) in chunks of 8192 bytes.
// Returns 0, or the negated Windows error number of the first failure
// (opening, reading or writing either file).
int CopyDiskFile(std::string_view source, std::string_view dest);

// Waits until more than ms milliseconds have passed on the tick count.
// Sleeps for the bulk and polls the tick count for the rest.
void Delay(std::uint32_t ms);

}  // namespace storage
