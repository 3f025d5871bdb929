#include "framework/forms/shell.h"

#include <cstring>

#include <QDesktopServices>
#include <QUrl>

#include "framework/forms/qt_text.h"

namespace fw {

namespace {

bool DesktopOpen(const std::string& target) {
  const QUrl url = QUrl::fromUserInput(QStr(target), QString(), QUrl::AssumeLocalFile);
  return url.isValid() && QDesktopServices::openUrl(url);
}

TShellOpener& Opener() {
  static TShellOpener opener;
  return opener;
}

constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;
constexpr int kDone = 42;

}  // namespace

TShellOpener SetShellOpener(TShellOpener opener) {
  TShellOpener old = std::move(Opener());
  Opener() = std::move(opener);
  return old;
}

int ShellExecuteA(HWND, const char* verb, const char* file, const char*, const char*, int) {
  if (file == nullptr || *file == '\0') return kFileNotFound;
  if (verb != nullptr && *verb != '\0' && std::strcmp(verb, "open") != 0) return kNoAssociation;
  const TShellOpener& opener = Opener();
  const bool ok = opener ? opener(file) : DesktopOpen(file);
  return ok ? kDone : kNoAssociation;
}

}  // namespace fw
