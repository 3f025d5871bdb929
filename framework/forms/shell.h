// ShellExecuteA with the verb "open": opens a URL or file with the user's
// program for it (the desktop's URL handler). The opener is replaceable so
// that tests record what would be opened instead of starting a browser.
#pragma once

#include <functional>
#include <string>

namespace fw {

using HWND = void*;
inline constexpr int SW_SHOWNORMAL = 1;

// Opens file ("open" only; other verbs fail). Returns a value above 32 on
// success, as the platform does, and 2 (file not found) or 31 (no
// association) on failure. parameters, directory and show are accepted
// and not used.
int ShellExecuteA(HWND window, const char* verb, const char* file, const char* parameters, const char* directory,
                  int show);

// The opener: given the target, true when it was opened.
using TShellOpener = std::function<bool(const std::string& target)>;
// Installs opener (nullptr: the desktop's again); returns the one replaced.
TShellOpener SetShellOpener(TShellOpener opener);

}  // namespace fw
