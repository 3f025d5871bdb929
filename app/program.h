// The program's start and end.
//
// Start, in this order: the units' initialisation (string routines, the
// sessions and their password dialog, GIF pictures, the CGI request
// engine); the application object with its title; the splash window,
// shown and painted; the auto-created windows and the data module:
// TMainForm, TDatamodule1 (which builds the tables), TReportForm,
// TGraphForm, TAutoCaptureForm, TAutoCaptureHelpForm; the splash window's
// OpenDBs; the splash window freed. Then the message loop
// runs until the main window closes, the application frees the windows and
// the data module, and the units' finalisation runs in reverse.
//
// A start-up error (the data module's tables, or OpenDBs) is shown in the
// application's error box and ends the program before the message loop:
// nothing more is opened or written.
#pragma once

namespace fw {
class TApplication;
}

namespace app {

inline constexpr const char* kApplicationTitle = "Morvella Software";

// Runs the start from the splash window to the freeing of the splash
// window on app (made, titled); true when the program may run its message
// loop. Tests drive this on the offscreen platform in a scratch directory.
bool StartProgram(fw::TApplication& app);

// The units' start and end, each run once.
void UnitsInitialization();
void UnitsFinalization();

// Whether Qt has a display to show windows on: a platform named in
// QT_QPA_PLATFORM, or an X11 or Wayland display.
bool HasDisplay();

// The whole program; returns the process's exit status.
int RunProgram(int argc, char** argv);

}  // namespace app
