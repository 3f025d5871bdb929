// Dates, times, text and file-name routines.
#include <gtest/gtest.h>

#include <random>

#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

template <typename F>
std::string ConvertErrorOf(F f) {
  return testsupport::ErrorText<EConvertError>(f);
}

TEST(SysUtilsDates, DayNumbersOfKnownDates) {
  struct Case { int y, m, d; double dt; int ts_day; int dow; };
  const Case cases[] = {
      {1899, 12, 30, 0, 693594, 7},  {2000, 1, 1, 36526, 730120, 7}, {1, 1, 1, -693593, 1, 2},
      {1900, 3, 1, 61, 693655, 5},   {9999, 12, 31, 2958465, 3652059, 6}, {1970, 1, 1, 25569, 719163, 5},
      {2024, 2, 29, 45351, 738945, 5}, {1899, 12, 29, -1, 693593, 6},
  };
  for (const Case& c : cases) {
    const TDateTime dt = EncodeDate(c.y, c.m, c.d);
    EXPECT_EQ(dt, c.dt) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(DateTimeToTimeStamp(dt).Date, c.ts_day);
    EXPECT_EQ(DayOfWeek(dt), c.dow);
  }
}

TEST(SysUtilsDates, EncodeErrors) {
  const int bad_dates[][3] = {{0, 1, 1},     {10000, 1, 1}, {2023, 2, 29}, {1900, 2, 29},
                              {2000, 13, 1}, {2000, 4, 31}, {2000, 1, 0}};
  for (auto& b : bad_dates)
    EXPECT_EQ(ConvertErrorOf([&] { EncodeDate(b[0], b[1], b[2]); }), "Invalid argument to date encode");
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  const int bad_times[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
  for (auto& b : bad_times)
    EXPECT_EQ(ConvertErrorOf([&] { EncodeTime(b[0], b[1], b[2], b[3]); }), "Invalid argument to time encode");
  EXPECT_TRUE(IsLeapYear(2000) && !IsLeapYear(1900) && IsLeapYear(2024));
}

// Random date-times: encode, decode, through time stamps and back.
TEST(SysUtilsDates, RandomRoundTrips) {
  std::mt19937 rng(5);
  for (int i = 0; i < 100000; ++i) {
    int y = 1 + static_cast<int>(rng() % 9999), m = 1 + static_cast<int>(rng() % 12);
    int d = 1 + static_cast<int>(rng() % static_cast<unsigned>(DaysInMonth(y, m)));
    int h = static_cast<int>(rng() % 24), n = static_cast<int>(rng() % 60), s = static_cast<int>(rng() % 60),
        ms = static_cast<int>(rng() % 1000);
    TDateTime date = EncodeDate(y, m, d);
    TDateTime dt = date >= 0 ? date + EncodeTime(h, n, s, ms) : date - EncodeTime(h, n, s, ms);
    int y2, m2, d2, h2, n2, s2, ms2;
    DecodeDate(dt, y2, m2, d2);
    DecodeTime(dt, h2, n2, s2, ms2);
    ASSERT_EQ(std::vector<int>({y2, m2, d2, h2, n2, s2, ms2}), std::vector<int>({y, m, d, h, n, s, ms}));
    TTimeStamp ts = DateTimeToTimeStamp(dt);
    ASSERT_EQ(ts.Time, ((h * 60 + n) * 60 + s) * 1000 + ms);
    ASSERT_NEAR(TimeStampToDateTime(ts), dt, 1e-9);
    ASSERT_EQ(StrToDate(DateToStr(date)), date);
  }
  EXPECT_EQ(ConvertErrorOf([] { TimeStampToDateTime(TTimeStamp{-1, 5}); }), "'5.-1' is not a valid timestamp");
}

TEST(SysUtilsDates, FormatsOfTheFixedSet) {
  const TDateTime d = EncodeDate(2024, 3, 5);
  const TDateTime t = EncodeTime(13, 5, 9, 7);
  EXPECT_EQ(DateToStr(d), "3/5/2024");
  EXPECT_EQ(TimeToStr(t), "1:05:09 PM");
  EXPECT_EQ(TimeToStr(0), "12:00:00 AM");
  EXPECT_EQ(TimeToStr(EncodeTime(12, 0, 0, 0)), "12:00:00 PM");
  EXPECT_EQ(DateTimeToStr(d), "3/5/2024");
  EXPECT_EQ(DateTimeToStr(d + t), "3/5/2024 1:05:09 PM");
  EXPECT_EQ(DateTimeToStr(0.5), "12/30/1899 12:00:00 PM");
  const TDateTime y2k = EncodeDate(2000, 1, 1) + t;
  struct Case { const char* format; const char* text; };
  const Case cases[] = {
      {"dddd, mmmm d, yyyy", "Saturday, January 1, 2000"}, {"dddddd", "Saturday, January 01, 2000"},
      {"ddd mmm yy", "Sat Jan 00"}, {"yyyy-mm-dd hh:nn:ss.zzz", "2000-01-01 13:05:09.007"}, {"h:mm am/pm", "1:05 pm"},
      {"hh:mm AM/PM", "01:05 PM"}, {"h:mm a/p", "1:05 p"}, {"hh:mm ampm", "01:05 PM"}, {"hh:mm", "13:05"},
      {"t", "1:05 PM"}, {"tt", "1:05:09 PM"}, {"'quoted' \"too\" yy", "quoted too 00"}, {"m/d/y", "1/1/00"},
      {"c", "1/1/2000 1:05:09 PM"}, {"", "1/1/2000 1:05:09 PM"},
  };
  for (const Case& c : cases) { EXPECT_EQ(FormatDateTime(c.format, y2k), c.text) << c.format; }
}

TEST(SysUtilsDates, Parsing) {
  EXPECT_EQ(StrToDate("3/5/2024"), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate(" 3 / 5 / 2024 "), EncodeDate(2024, 3, 5));
  int y, m, d;
  DecodeDate(Date(), y, m, d);
  EXPECT_EQ(StrToDate("3/5"), EncodeDate(y, 3, 5));
  EXPECT_EQ(StrToDate("3/5/24"), EncodeDate(y / 100 * 100 + 24, 3, 5));
  for (const char* bad : {"2/30/2024", "13/1/2000", "3-5-2024", "", "3/5/2024x", "abc"})
    EXPECT_EQ(ConvertErrorOf([&] { StrToDate(bad); }), std::string("'") + bad + "' is not a valid date");
  EXPECT_EQ(StrToTime("1:05:09 PM"), EncodeTime(13, 5, 9, 0));
  EXPECT_EQ(StrToTime("12:00 AM"), 0);
  EXPECT_EQ(StrToTime("12:30 pm"), EncodeTime(12, 30, 0, 0));
  EXPECT_EQ(StrToTime("PM 3:15"), EncodeTime(15, 15, 0, 0));
  EXPECT_EQ(StrToTime("10:30:15.250"), EncodeTime(10, 30, 15, 250));
  for (const char* bad : {"13:00 PM", "25:00", "10:60", "0:30 AM", "", "10:"})
    EXPECT_EQ(ConvertErrorOf([&] { StrToTime(bad); }), std::string("'") + bad + "' is not a valid time");
  EXPECT_EQ(StrToDateTime("3/5/2024 1:05 PM"), EncodeDate(2024, 3, 5) + EncodeTime(13, 5, 0, 0));
  EXPECT_EQ(StrToDateTime("3/5/2024"), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDateTime("10:30"), EncodeTime(10, 30, 0, 0));
  for (const char* bad : {"x", "3/5/2024 25:00", "2/30/2024 1:00"})
    EXPECT_EQ(ConvertErrorOf([&] { StrToDateTime(bad); }), std::string("'") + bad + "' is not a valid date and time");
  TDateTime dt = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0);
  EXPECT_EQ(StrToDateTime(DateTimeToStr(dt)), dt);
}

TEST(SysUtilsText, TrimAndCase) {
  EXPECT_EQ(Trim(std::string("\0 a b \t\0", 8)), "a b");
  EXPECT_EQ(TrimRight(std::string(" x\r\n\0", 5)), " x");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is not a blank
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(UpperCase("ab\xE9z"), "AB\xE9Z");
  EXPECT_EQ(AnsiUpperCase("ab\xE9\xFF\x9A"), "AB\xC9\x9F\x8A");
  EXPECT_EQ(CompareText("abc", "ABD"), -1);
  EXPECT_TRUE(SameText("Hello", "hELLO"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  EXPECT_TRUE(AnsiSameText("\xE9t\xE9", "\xC9T\xC9"));
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_GT(AnsiCompareText("b", "A"), 0);
  EXPECT_EQ(QuotedStr("it's"), "'it''s'");
  EXPECT_EQ(Pos("lo", "hello"), 4);
  EXPECT_EQ(Pos("x", "hello"), 0);
}

TEST(SysUtilsText, FileNames) {
  struct Case { const char* name; const char* file; const char* path; const char* ext; };
  const Case cases[] = {
      {"C:\\dir/sub\\file.txt", "file.txt", "C:\\dir/sub\\", ".txt"}, {"/a/b.dat", "b.dat", "/a/", ".dat"},
      {"dir.x\\file", "file", "dir.x\\", ""}, {"file.tar.gz", "file.tar.gz", "", ".gz"},
      {"C:name.ext", "name.ext", "C:", ".ext"}, {"noext", "noext", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
    EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
    EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
  }
  EXPECT_EQ(ChangeFileExt("a/b.dat", ".idx"), "a/b.idx");
  EXPECT_EQ(ChangeFileExt("a.d/b", ".x"), "a.d/b.x");
  EXPECT_EQ(ChangeFileExt("a.d\\b.c", ""), "a.d\\b");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\x\\"), "C:\\x\\");
}

}  // namespace
}  // namespace fw
