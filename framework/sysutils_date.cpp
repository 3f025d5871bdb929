// Dates and times.
//
// TDateTime: days since 1899-12-30 00:00 (day 0). The integer part is the
// day, the fraction's absolute value the time of day, also for negative
// values (-1.25 is 1899-12-29 06:00). TTimeStamp counts days from
// 0001-01-01 (day 1), so day 0 of TDateTime is timestamp day 693594.
#include <time.h>

#include <cmath>
#include <cstdlib>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

constexpr int kMSecsPerDay = 86400000;
constexpr int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
constexpr const char* kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
constexpr const char* kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                             "July",    "August",   "September", "October", "November", "December"};

// Day number (0001-01-01 = 1) of a valid date.
int DayNumber(int year, int month, int day) {
  const int leap = IsLeapYear(year) ? 1 : 0;
  for (int m = 0; m < month - 1; ++m) day += kMonthDays[leap][m];
  const int i = year - 1;
  return i * 365 + i / 4 - i / 100 + i / 400 + day;
}

void DayNumberToDate(int days, int& year, int& month, int& day) {
  if (days <= 0) {
    year = month = day = 0;
    return;
  }
  constexpr int D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
  int t = days - 1;
  int y = 1;
  y += (t / D400) * 400;
  t %= D400;
  int i = t / D100;
  int d = t % D100;
  if (i == 4) {
    --i;
    d += D100;
  }
  y += i * 100;
  y += (d / D4) * 4;
  d %= D4;
  i = d / D1;
  d %= D1;
  if (i == 4) {
    --i;
    d += D1;
  }
  y += i;
  const int leap = IsLeapYear(y) ? 1 : 0;
  int m = 0;
  while (d >= kMonthDays[leap][m]) {
    d -= kMonthDays[leap][m];
    ++m;
  }
  year = y;
  month = m + 1;
  day = d + 1;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

int CurrentYear() {
  int y, m, d;
  DecodeDate(Date(), y, m, d);
  return y;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  return kMonthDays[IsLeapYear(year) ? 1 : 0][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  date = static_cast<double>(DayNumber(year, month, day) - kDateDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime d;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
    return false;
  time = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
    throw EConvertError("'" + FloatToStr(value) + "' is not a valid timestamp");
  double day = std::trunc(value);
  std::int64_t ms = Round(std::fabs(value - day) * kMSecsPerDay);
  std::int64_t days = static_cast<std::int64_t>(day) + kDateDelta;
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    ++days;
  }
  TTimeStamp ts;
  ts.Date = static_cast<int>(days);
  ts.Time = static_cast<int>(ms);
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
  if (ts.Time < 0 || ts.Time >= kMSecsPerDay || ts.Date <= 0)
    throw EConvertError("'" + std::to_string(ts.Date) + "." + std::to_string(ts.Time) + "' is not a valid timestamp");
  std::int64_t t = (static_cast<std::int64_t>(ts.Date) - kDateDelta) * kMSecsPerDay;
  t = t >= 0 ? t + ts.Time : t - ts.Time;
  return static_cast<double>(t) / kMSecsPerDay;
}

double TimeStampToMSecs(const TTimeStamp& ts) {
  return static_cast<double>(ts.Date) * kMSecsPerDay + ts.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  std::int64_t ms = Trunc(msecs);
  TTimeStamp ts;
  ts.Date = static_cast<int>(ms / kMSecsPerDay);
  ts.Time = static_cast<int>(ms % kMSecsPerDay);
  return ts;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
  DayNumberToDate(DateTimeToTimeStamp(date).Date, year, month, day);
}

void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec) {
  int ms = DateTimeToTimeStamp(time).Time;
  hour = ms / 3600000;
  ms %= 3600000;
  min = ms / 60000;
  ms %= 60000;
  sec = ms / 1000;
  msec = ms % 1000;
}

int DayOfWeek(TDateTime date) { return DateTimeToTimeStamp(date).Date % 7 + 1; }

// ---------------------------------------------------------------------------
// Formatting.

namespace {

void AppendFormat(std::string& out, const std::string& format, TDateTime dt, int depth);

bool StartsWithCI(const std::string& s, std::size_t i, const char* what) {
  for (std::size_t k = 0; what[k]; ++k) {
    if (i + k >= s.size()) return false;
    char a = s[i + k], b = what[k];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

void AppendFormat(std::string& out, const std::string& format, TDateTime dt, int depth) {
  if (depth > 2) return;
  int year, month, day, hour, min, sec, msec;
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, min, sec, msec);
  const int dow = DayOfWeek(dt) - 1;
  // A 12-hour clock when the format holds an AM/PM specifier.
  bool twelve = false;
  {
    char quote = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
      char c = format[i];
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if (c == '"' || c == '\'') quote = c;
      else if (StartsWithCI(format, i, "am/pm") || StartsWithCI(format, i, "a/p") || StartsWithCI(format, i, "ampm"))
        twelve = true;
    }
  }
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  char last_token = 0;
  std::size_t i = 0;
  const std::size_t n = format.size();
  auto run = [&](char c) {
    std::size_t k = i;
    while (k < n && (format[k] == c || format[k] == static_cast<char>(c ^ 0x20))) ++k;
    return static_cast<int>(k - i);
  };
  while (i < n) {
    char c = format[i];
    char u = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (c == '"' || c == '\'') {
      std::size_t e = format.find(c, i + 1);
      std::size_t end = e == std::string::npos ? n : e;
      out.append(format, i + 1, end - i - 1);
      i = end == n ? n : end + 1;
      continue;
    }
    switch (u) {
      case 'C':
        AppendFormat(out, kShortDateFormat, dt, depth + 1);
        if (DateTimeToTimeStamp(dt).Time != 0) {
          out += ' ';
          AppendFormat(out, kLongTimeFormat, dt, depth + 1);
        }
        ++i;
        break;
      case 'D': {
        int k = run(c);
        if (k == 1) out += std::to_string(day);
        else if (k == 2) out += Pad(day, 2);
        else if (k == 3) out += kShortDayNames[dow];
        else if (k == 4) out += kLongDayNames[dow];
        else if (k == 5) AppendFormat(out, kShortDateFormat, dt, depth + 1);
        else AppendFormat(out, kLongDateFormat, dt, depth + 1);
        i += static_cast<std::size_t>(k > 6 ? 6 : k);
        break;
      }
      case 'M': {
        int k = run(c);
        if (k > 4) k = 4;
        if (last_token == 'H' && k <= 2) {
          out += k == 1 ? std::to_string(min) : Pad(min, 2);
        } else if (k == 1) {
          out += std::to_string(month);
        } else if (k == 2) {
          out += Pad(month, 2);
        } else if (k == 3) {
          out += kShortMonthNames[month - 1];
        } else {
          out += kLongMonthNames[month - 1];
        }
        i += static_cast<std::size_t>(k);
        break;
      }
      case 'Y': {
        int k = run(c);
        out += k <= 2 ? Pad(year % 100, 2) : Pad(year, 4);
        i += static_cast<std::size_t>(k);
        break;
      }
      case 'H': {
        int k = run(c);
        if (k > 2) k = 2;
        int h = twelve ? hour12 : hour;
        out += k == 1 ? std::to_string(h) : Pad(h, 2);
        i += static_cast<std::size_t>(k);
        break;
      }
      case 'N': {
        int k = run(c);
        if (k > 2) k = 2;
        out += k == 1 ? std::to_string(min) : Pad(min, 2);
        i += static_cast<std::size_t>(k);
        break;
      }
      case 'S': {
        int k = run(c);
        if (k > 2) k = 2;
        out += k == 1 ? std::to_string(sec) : Pad(sec, 2);
        i += static_cast<std::size_t>(k);
        break;
      }
      case 'Z': {
        int k = run(c);
        out += k < 3 ? std::to_string(msec) : Pad(msec, 3);
        i += static_cast<std::size_t>(k >= 3 ? 3 : k);
        break;
      }
      case 'T': {
        int k = run(c);
        AppendFormat(out, k == 1 ? kShortTimeFormat : kLongTimeFormat, dt, depth + 1);
        i += static_cast<std::size_t>(k >= 2 ? 2 : 1);
        break;
      }
      case 'A':
        if (StartsWithCI(format, i, "am/pm")) {
          // As written: "AM/PM" gives "AM", "am/pm" gives "am".
          const char* w = hour >= 12 ? "pm" : "am";
          bool upper = format[i] == 'A';
          out += upper ? (hour >= 12 ? "PM" : "AM") : w;
          i += 5;
        } else if (StartsWithCI(format, i, "a/p")) {
          bool upper = format[i] == 'A';
          out += hour >= 12 ? (upper ? 'P' : 'p') : (upper ? 'A' : 'a');
          i += 3;
        } else if (StartsWithCI(format, i, "ampm")) {
          out += hour >= 12 ? kTimePMString : kTimeAMString;
          i += 4;
        } else {
          out += c;
          ++i;
        }
        break;
      case '/':
        out += kDateSeparator;
        ++i;
        break;
      case ':':
        out += kTimeSeparator;
        ++i;
        break;
      default:
        out += c;
        ++i;
        continue;  // literals do not change the last token
    }
    if (u != 'A' && u != '/' && u != ':') last_token = u;
  }
}

}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime dt) {
  std::string out;
  AppendFormat(out, format.empty() ? std::string("c") : format, dt, 0);
  return out;
}

std::string DateToStr(TDateTime d) { return FormatDateTime("ddddd", d); }
std::string TimeToStr(TDateTime t) { return FormatDateTime("tt", t); }
std::string DateTimeToStr(TDateTime dt) { return FormatDateTime("c", dt); }

// ---------------------------------------------------------------------------
// Parsing.

namespace {

void ScanBlanks(const std::string& s, std::size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
}

bool ScanNumber(const std::string& s, std::size_t& pos, int& value, int& length) {
  ScanBlanks(s, pos);
  std::size_t start = pos;
  value = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 4) {
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  length = static_cast<int>(pos - start);
  return length > 0;
}

bool ScanChar(const std::string& s, std::size_t& pos, char c) {
  ScanBlanks(s, pos);
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

bool ScanString(const std::string& s, std::size_t& pos, const char* what) {
  ScanBlanks(s, pos);
  if (StartsWithCI(s, pos, what)) {
    pos += std::char_traits<char>::length(what);
    return true;
  }
  return false;
}

// Month/day[/year] with '/' separators.
bool ScanDate(const std::string& s, std::size_t& pos, TDateTime& date) {
  int n1, n2, n3 = 0, l1, l2, l3 = 0;
  if (!ScanNumber(s, pos, n1, l1) || !ScanChar(s, pos, kDateSeparator) || !ScanNumber(s, pos, n2, l2)) return false;
  int year;
  if (ScanChar(s, pos, kDateSeparator)) {
    if (!ScanNumber(s, pos, n3, l3)) return false;
    year = n3;
    if (l3 <= 2) year += CurrentYear() / 100 * 100;
  } else {
    year = CurrentYear();
  }
  return TryEncodeDate(year, n1, n2, date);
}

bool ScanAmPm(const std::string& s, std::size_t& pos, int& base_hour) {
  if (ScanString(s, pos, kTimeAMString) || ScanString(s, pos, "AM") || ScanString(s, pos, "A")) {
    base_hour = 0;
    return true;
  }
  if (ScanString(s, pos, kTimePMString) || ScanString(s, pos, "PM") || ScanString(s, pos, "P")) {
    base_hour = 12;
    return true;
  }
  return false;
}

bool ScanTime(const std::string& s, std::size_t& pos, TDateTime& time) {
  int base_hour = -1;
  ScanAmPm(s, pos, base_hour);
  int hour, min = 0, sec = 0, msec = 0, len;
  if (!ScanNumber(s, pos, hour, len)) return false;
  if (ScanChar(s, pos, kTimeSeparator)) {
    if (!ScanNumber(s, pos, min, len)) return false;
    if (ScanChar(s, pos, kTimeSeparator)) {
      if (!ScanNumber(s, pos, sec, len)) return false;
      if (ScanChar(s, pos, kDecimalSeparator)) {
        if (!ScanNumber(s, pos, msec, len)) return false;
      }
    }
  }
  if (base_hour < 0) ScanAmPm(s, pos, base_hour);
  if (base_hour >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += base_hour;
  }
  ScanBlanks(s, pos);
  return TryEncodeTime(hour, min, sec, msec, time);
}

}  // namespace

bool TryStrToDate(const std::string& s, TDateTime& value) {
  std::size_t pos = 0;
  TDateTime d;
  if (!ScanDate(s, pos, d)) return false;
  ScanBlanks(s, pos);
  if (pos != s.size()) return false;
  value = d;
  return true;
}

bool TryStrToTime(const std::string& s, TDateTime& value) {
  std::size_t pos = 0;
  TDateTime t;
  if (!ScanTime(s, pos, t) || pos != s.size()) return false;
  value = t;
  return true;
}

bool TryStrToDateTime(const std::string& s, TDateTime& value) {
  std::size_t pos = 0;
  TDateTime d, t = 0;
  bool ok = ScanDate(s, pos, d);
  if (ok) {
    ScanBlanks(s, pos);
    if (pos < s.size()) ok = ScanTime(s, pos, t) && pos == s.size();
  }
  if (!ok) return TryStrToTime(s, value);
  value = d >= 0 ? d + t : d - t;
  return true;
}

TDateTime StrToDate(const std::string& s) {
  TDateTime v;
  if (!TryStrToDate(s, v)) throw EConvertError("'" + s + "' is not a valid date");
  return v;
}

TDateTime StrToTime(const std::string& s) {
  TDateTime v;
  if (!TryStrToTime(s, v)) throw EConvertError("'" + s + "' is not a valid time");
  return v;
}

TDateTime StrToDateTime(const std::string& s) {
  TDateTime v;
  if (!TryStrToDateTime(s, v)) throw EConvertError("'" + s + "' is not a valid date and time");
  return v;
}

// ---------------------------------------------------------------------------
// The clock (local time).

TDateTime Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  struct tm lt;
  localtime_r(&secs, &lt);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
         EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec > 59 ? 59 : lt.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

}  // namespace fw
