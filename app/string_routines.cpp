#include "app/string_routines.h"

#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QStyle>
#include <QStyleHints>
#include <QApplication>
#include <QFontMetrics>

#include "framework/forms/control_strings.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"

namespace app {

void NextToken(std::string& s, char sep, std::string& token) {
  const std::size_t at = s.find(sep);
  if (at == std::string::npos) {
    token = s;
    s.clear();
    return;
  }
  token = s.substr(0, at);
  s.erase(0, at + 1);
}

namespace {

template <class Lines>
void Split(const std::string& text, char sep, Lines& lines) {
  lines.Clear();
  std::string rest = text;
  std::string token;
  for (;;) {
    NextToken(rest, sep, token);
    if (token.empty()) break;
    lines.Add(token);
  }
}

// This system reports itself as the NT family, version 5.0.
constexpr int kMinorVersion = 0;
constexpr bool kNtPlatform = true;

// Windows primary language ids of the system locale's language (0, neutral,
// for languages without one here).
int PrimaryLanguageOf(QLocale::Language language) {
  switch (language) {
    case QLocale::German: return 7;
    case QLocale::English: return 9;
    case QLocale::Spanish: return 10;
    case QLocale::French: return 12;
    case QLocale::Italian: return 16;
    case QLocale::Dutch: return 19;
    case QLocale::Portuguese: return 22;
    case QLocale::Russian: return 25;
    default: return 0;
  }
}

int StyleMetric(QStyle::PixelMetric m) {
  QStyle* style = qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::style() : nullptr;
  return style != nullptr ? style->pixelMetric(m) : 0;
}

int g_init_count = 0;
XProcsGlobals g_globals;

}  // namespace

void SplitToLines(const std::string& text, char sep, fw::TStringList& lines) { Split(text, sep, lines); }
void SplitToLines(const std::string& text, char sep, fw::TControlStrings& lines) { Split(text, sep, lines); }

int GetSystemMetrics(int index) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 0;
  const QRect all = screen->geometry();
  const QRect work = screen->availableGeometry();
  switch (index) {
    case 0: return all.width();
    case 1: return all.height();
    case 2: case 3: case 20: case 21: return StyleMetric(QStyle::PM_ScrollBarExtent);
    case 4: return StyleMetric(QStyle::PM_TitleBarHeight);
    case 5: case 6: return 1;
    case 7: case 8: case 32: case 33: return StyleMetric(QStyle::PM_DefaultFrameWidth);
    case 9: case 10: return StyleMetric(QStyle::PM_ScrollBarSliderMin);
    case 11: case 12: case 38: case 39: return StyleMetric(QStyle::PM_LargeIconSize);
    case 13: case 14: return 32;
    case 15: return QFontMetrics(QGuiApplication::font()).height() + 2 * StyleMetric(QStyle::PM_MenuBarVMargin) + 4;
    case 16: return work.width();
    case 17: return work.height();
    case 30: case 31: return StyleMetric(QStyle::PM_TitleBarButtonSize);
    case 36: case 37: return 2 * QGuiApplication::styleHints()->startDragDistance();
    default: return 0;
  }
}

int LanguageBase(int primary_language) {
  switch (primary_language) {
    case 7: return 70000;
    case 10: return 72000;
    case 12: return 75000;
    case 16: return 74000;
    case 22: return 76000;
    case 25: return 73000;
    default: return 71000;
  }
}

XProcsGlobals& XProcs() { return g_globals; }

void XProcsInitialization() {
  if (g_init_count++ > 0) return;
  fw::Randomize();
  auto* m = new TSystemMetric;
  int depth = 0;
  if (QScreen* screen = QGuiApplication::primaryScreen()) depth = screen->depth();
  m->Colors = std::uint32_t{1} << (depth % 32);  // one plane
  m->MenuHeight = GetSystemMetrics(15);
  m->CaptionHeight = GetSystemMetrics(4);
  static constexpr int kPairs[14][2] = {{5, 6},   {32, 33}, {7, 8},   {30, 31}, {21, 3},  {2, 20},  {10, 9},
                                        {16, 17}, {28, 29}, {34, 35}, {13, 14}, {11, 12}, {36, 37}, {38, 39}};
  for (std::size_t i = 0; i < m->Pairs.size(); ++i)
    m->Pairs[i] = {GetSystemMetrics(kPairs[i][0]), GetSystemMetrics(kPairs[i][1])};
  g_globals.SysMetric = m;
  g_globals.IsWin95 = kMinorVersion >= 95;
  g_globals.IsWinNT = kNtPlatform;
  g_globals.PrimaryLanguage = PrimaryLanguageOf(QLocale::system().language()) & 0x3FF;
  g_globals.LanguageBase = LanguageBase(g_globals.PrimaryLanguage);
}

void XProcsFinalization() {
  if (g_init_count == 0 || --g_init_count > 0) return;
  delete g_globals.SysMetric;
  g_globals = XProcsGlobals{};
}

}  // namespace app
