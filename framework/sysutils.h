// Conversion and text routines of the class framework.
//
// One fixed format set, the English (United States) defaults; the process's
// C locale is never consulted (numbers are parsed and printed with
// std::from_chars/std::to_chars and own code):
//
//   ShortDateFormat  "M/d/yyyy"             DateSeparator     '/'
//   LongDateFormat   "dddd, MMMM dd, yyyy"  TimeSeparator     ':'
//   ShortTimeFormat  "h:mm AMPM"            TimeAMString      "AM"
//   LongTimeFormat   "h:mm:ss AMPM"         TimePMString      "PM"
//   DecimalSeparator '.'                    ThousandSeparator ','
//   CurrencyString   "$"                    CurrencyFormat    0 ("$1")
//   NegCurrFormat    0 ("($1)")             CurrencyDecimals  2
//   TwoDigitYearCenturyWindow 0 (two-digit years fall in the current century)
//
// Strings are single-byte code page 1252 text. Conversion failures raise
// EConvertError with the framework's messages.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace fw {

// ---------------------------------------------------------------------------
// The format set.
inline constexpr char kDecimalSeparator = '.';
inline constexpr char kThousandSeparator = ',';
inline constexpr char kDateSeparator = '/';
inline constexpr char kTimeSeparator = ':';
inline constexpr const char* kShortDateFormat = "M/d/yyyy";
inline constexpr const char* kLongDateFormat = "dddd, MMMM dd, yyyy";
inline constexpr const char* kShortTimeFormat = "h:mm AMPM";
inline constexpr const char* kLongTimeFormat = "h:mm:ss AMPM";
inline constexpr const char* kTimeAMString = "AM";
inline constexpr const char* kTimePMString = "PM";
inline constexpr const char* kCurrencyString = "$";
inline constexpr int kCurrencyFormat = 0;
inline constexpr int kNegCurrFormat = 0;
inline constexpr int kCurrencyDecimals = 2;

// ---------------------------------------------------------------------------
// Integers.
std::string IntToStr(std::int64_t value);
// Leading blanks, an optional sign and a '$' (or 0x) hexadecimal prefix are
// accepted; anything else raises EConvertError
// "'<text>' is not a valid integer value".
int StrToInt(const std::string& s);
int StrToIntDef(const std::string& s, int def);
std::int64_t StrToInt64(const std::string& s);
std::int64_t StrToInt64Def(const std::string& s, std::int64_t def);
bool TryStrToInt(const std::string& s, int& value);
bool TryStrToInt64(const std::string& s, std::int64_t& value);
// Upper-case hexadecimal, at least digits long; a negative value shows its
// two's complement in the width of its type (IntToHex(-1, 2) of an int is
// "FFFFFFFF").
std::string IntToHexU(std::uint64_t value, int digits);
template <typename T>
  requires std::is_integral_v<T>
std::string IntToHex(T value, int digits) {
  return IntToHexU(static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value)), digits);
}

// Rounds to the nearest integer, halves to the even neighbour; EInvalidOp
// "Invalid floating point operation" outside the 64-bit range or for NaN.
std::int64_t Round(double x);
// Cuts the fraction off (toward zero); EInvalidOp as Round.
std::int64_t Trunc(double x);

// The framework's random numbers: one process-wide linear congruential
// generator (seed := seed * 0x08088405 + 1); Random(n) takes the high 32
// bits of seed * n, so a given seed repeats the same sequence.
void Randomize();  // seeds from the clock
void SetRandSeed(std::uint32_t seed);
std::uint32_t RandSeed();
int Random(int range);  // 0 <= result < range (0 for range <= 0)
double Random();        // 0 <= result < 1

// ---------------------------------------------------------------------------
// Floating point.
enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// General format with 15 significant digits ("0.1", "1E20", "1.5E-5").
std::string FloatToStr(double value);
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
// Format masks: '0' digit, '#' optional digit, '.' decimal point, ','
// thousands, "E+00"/"E-00"/"e+00" exponent, quoted text and up to three
// sections separated by ';' (positive; negative; zero).
std::string FormatFloat(const std::string& format, double value);
// Accepts blanks around the number, a sign, a decimal point, an exponent;
// "'<text>' is not a valid floating point value" on failure.
double StrToFloat(const std::string& s);
double StrToFloatDef(const std::string& s, double def);
bool TryStrToFloat(const std::string& s, double& value);
// TextToFloat: as TryStrToFloat (the framework's raw form).
bool TextToFloat(const std::string& s, double& value);

// ---------------------------------------------------------------------------
// Currency: a signed 64-bit count of 1/10000.
struct Currency {
  std::int64_t value = 0;  // units of 1/10000
  static Currency FromRaw(std::int64_t raw) { return Currency{raw}; }
  friend bool operator==(Currency a, Currency b) { return a.value == b.value; }
  friend auto operator<=>(Currency a, Currency b) { return a.value <=> b.value; }
};
std::string CurrToStr(Currency value);
// Exact decimal parsing (an exponent is allowed); more than four decimals
// round half to even, as the conversion through the floating-point unit
// did; "'<text>' is not a valid floating point value" on failure.
Currency StrToCurr(const std::string& s);
bool TryStrToCurr(const std::string& s, Currency& value);
std::string FormatCurr(const std::string& format, Currency value);
std::string CurrToStrF(Currency value, TFloatFormat format, int digits);
double CurrToDouble(Currency value);
// Nearest 1/10000, halves to even; EConvertError outside the range.
Currency DoubleToCurr(double value);

// ---------------------------------------------------------------------------
// Booleans.
// "True"/"False" with use_bool_strs, else "-1"/"0".
std::string BoolToStr(bool b, bool use_bool_strs = false);
// "True"/"False" in any case, or a number (non-zero is true);
// "'<text>' is not a valid boolean value" on failure.
bool StrToBool(const std::string& s);
bool TryStrToBool(const std::string& s, bool& value);

// ---------------------------------------------------------------------------
// Dates and times: TDateTime counts days since 1899-12-30; the fraction is
// the time of day (negative values keep the fraction positive in meaning:
// -1.25 is 1899-12-29 06:00).
using TDateTime = double;

struct TTimeStamp {
  int Time = 0;  // milliseconds since midnight
  int Date = 0;  // days; 0001-01-01 is day 1
};
inline constexpr int kDateDelta = 693594;  // days from 0001-01-01 (day 1) to 1899-12-30 (day 0)

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime date);

TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
// Milliseconds since 0001-01-01 00:00 (day 1 at 0 ms counts as one day).
double TimeStampToMSecs(const TTimeStamp& ts);
TTimeStamp MSecsToTimeStamp(double msecs);

std::string DateToStr(TDateTime d);      // "M/d/yyyy"
std::string TimeToStr(TDateTime t);      // "h:mm:ss AMPM"
std::string DateTimeToStr(TDateTime dt); // date, and " time" unless midnight
// Specifiers: c d dd ddd dddd ddddd dddddd m mm mmm mmmm yy yyyy h hh n nn
// s ss z zzz t tt am/pm a/p ampm / : "text" 'text'; 'm' right after an
// 'h' means minutes.
std::string FormatDateTime(const std::string& format, TDateTime dt);
// Fields in the order month/day/year, separator '/'; a missing year is the
// current year; a two-digit year lies in the current century.
TDateTime StrToDate(const std::string& s);   // "'%s' is not a valid date"
TDateTime StrToTime(const std::string& s);   // "'%s' is not a valid time"
TDateTime StrToDateTime(const std::string& s);  // "'%s' is not a valid date and time"
bool TryStrToDate(const std::string& s, TDateTime& value);
bool TryStrToTime(const std::string& s, TDateTime& value);
bool TryStrToDateTime(const std::string& s, TDateTime& value);

TDateTime Now();   // local time
TDateTime Date();  // today, local
TDateTime Time();  // time of day, local

// ---------------------------------------------------------------------------
// Text.
// Trim removes every character up to and including the blank (NUL too).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s);  // ASCII letters only
std::string LowerCase(std::string_view s);
unsigned char AnsiUpperChar(unsigned char c);  // code page 1252
unsigned char AnsiLowerChar(unsigned char c);
std::string AnsiUpperCase(std::string_view s);  // code page 1252
std::string AnsiLowerCase(std::string_view s);
// <0, 0, >0; CompareText folds ASCII letters, CompareStr compares bytes.
int CompareStr(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Code page 1252: AnsiCompareText compares the upper-case forms bytewise,
// AnsiCompareStr compares bytes.
int AnsiCompareText(std::string_view a, std::string_view b);
int AnsiCompareStr(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
std::string QuotedStr(std::string_view s);                 // 'it''s'
std::string AnsiQuotedStr(std::string_view s, char quote);
// 1-based position of sub in s, 0 when absent (Pos).
int Pos(std::string_view sub, std::string_view s);
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// Format: %s %d %u %x %X %f %e %g %n %m %% with '-', width, '.precision'
// and '*'; the arguments are taken in order. A mismatch raises EConvertError
// "Format '<format>' invalid or incompatible with argument".
using FormatArg = std::variant<std::int64_t, std::uint64_t, double, std::string, Currency>;
struct TVarRec {
  FormatArg value;
  TVarRec(int v) : value(static_cast<std::int64_t>(v)) {}
  TVarRec(long v) : value(static_cast<std::int64_t>(v)) {}
  TVarRec(long long v) : value(static_cast<std::int64_t>(v)) {}
  TVarRec(unsigned v) : value(static_cast<std::uint64_t>(v)) {}
  TVarRec(unsigned long v) : value(static_cast<std::uint64_t>(v)) {}
  TVarRec(unsigned long long v) : value(static_cast<std::uint64_t>(v)) {}
  TVarRec(double v) : value(v) {}
  TVarRec(const char* v) : value(std::string(v)) {}
  TVarRec(std::string v) : value(std::move(v)) {}
  TVarRec(std::string_view v) : value(std::string(v)) {}
  TVarRec(char v) : value(std::string(1, v)) {}
  TVarRec(Currency v) : value(v) {}
};
std::string Format(const std::string& format, std::initializer_list<TVarRec> args);

// ---------------------------------------------------------------------------
// File names: '/' and '\' both separate.
std::string ExtractFileName(const std::string& name);
std::string ExtractFilePath(const std::string& name);  // with the separator
std::string ExtractFileDir(const std::string& name);   // without it
std::string ExtractFileExt(const std::string& name);   // with the dot
std::string ChangeFileExt(const std::string& name, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& name);  // adds '/'
std::string ExcludeTrailingPathDelimiter(const std::string& name);
// A file name as the platform writes it, for messages: each '\' shown as
// the platform's separator '/' ("data\8.jpg" reads "data/8.jpg").
std::string NativeFileName(const std::string& name);
bool FileExists(const std::string& name);
// Last-write time of a file as a local date-time; false when it is missing.
bool FileAge(const std::string& name, TDateTime& age);
// Sets the last-write (and access) time from a local date-time.
bool FileSetDate(const std::string& name, TDateTime date);
bool DirectoryExists(const std::string& name);
bool DeleteFile(const std::string& name);
bool RenameFile(const std::string& from, const std::string& to);

}  // namespace fw
