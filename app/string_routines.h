// The catalogue's general routines: cutting a name or URL into its pieces
// at a separator character (a file extension is the last piece after "."),
// and the unit's start-up record of screen metrics and machine facts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace fw {
class TControlStrings;
class TStringList;
}  // namespace fw

namespace app {

// If sep occurs in s, token is the text before its first occurrence and s
// loses that text and the separator; otherwise token is all of s and s
// becomes empty.
void NextToken(std::string& s, char sep, std::string& token);

// Clears lines, then adds the tokens of text (NextToken on a copy) until a
// token is empty: the first empty piece (two separators in a row, or a
// leading separator) ends the split and hides everything after it.
void SplitToLines(const std::string& text, char sep, fw::TStringList& lines);
void SplitToLines(const std::string& text, char sep, fw::TControlStrings& lines);

// The screen's metrics as the unit's start-up takes them. Indexes are the
// platform's system-metric numbers; values the platform does not have are
// 0.
struct TSystemMetric {
  struct Pair {
    int x = 0;
    int y = 0;
  };
  // 1 << ((bits per pixel * planes) mod 32).
  std::uint32_t Colors = 0;
  int MenuHeight = 0;     // metric 15
  int CaptionHeight = 0;  // metric 4
  // (5, 6), (32, 33), (7, 8), (30, 31), (21, 3), (2, 20), (10, 9),
  // (16, 17), (28, 29), (34, 35), (13, 14), (11, 12), (36, 37), (38, 39).
  std::array<Pair, 14> Pairs{};
};

// The metric of that number on this screen (0 when unknown or when there
// is no screen).
int GetSystemMetrics(int index);

// The base of the language-dependent numbers: 70000 German (7), 72000
// Spanish (10), 75000 French (12), 74000 Italian (16), 76000 Portuguese
// (22), 73000 Russian (25), 71000 any other primary language.
int LanguageBase(int primary_language);

struct XProcsGlobals {
  TSystemMetric* SysMetric = nullptr;
  bool IsWin95 = false;  // minor version number 95 or more
  bool IsWinNT = false;
  int PrimaryLanguage = 0;  // language id AND 0x3FF
  int LanguageBase = 71000;
};
// The unit's globals; filled by XProcsInitialization.
XProcsGlobals& XProcs();

// The unit's start and end: the first initialisation seeds the random
// numbers and fills the globals, the last finalisation frees the metrics.
// Reads the screen, so a QGuiApplication should exist by then.
void XProcsInitialization();
void XProcsFinalization();

}  // namespace app
