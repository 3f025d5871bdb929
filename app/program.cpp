#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "app/auto_capture_form.h"
#include "app/auto_capture_help_form.h"
#include "app/data_module.h"
#include "app/graph_form.h"
#include "app/main_form.h"
#include "app/report_form.h"
#include "app/splash_form.h"
#include "app/string_routines.h"
#include "cgi/http_engine.h"
#include "dataset/gui/password_dialog.h"
#include "dataset/tolmid_session.h"
#include "framework/forms/application.h"
#include "gif/gui/gif_graphic.h"

namespace app {

bool StartProgram(fw::TApplication& app) {
  SplashForm = fw::NewForm<TSplashForm>(&app);
  SplashForm->Show();
  SplashForm->Repaint();
  app.ProcessMessages();
  app.Initialize();
  app.SetTitle(kApplicationTitle);
  app.CreateForm(MainForm);
  app.CreateForm(Datamodule1);
  bool ok = !Datamodule1->CreateFailed();
  if (ok) {
    MainForm->ConnectDataSources(*Datamodule1);
    app.CreateForm(ReportForm);
    app.CreateForm(GraphForm);
    app.CreateForm(AutoCaptureForm);
    app.CreateForm(AutoCaptureHelpForm);
    try {
      SplashForm->OpenDBs();
    } catch (...) {
      app.HandleException(SplashForm);
      ok = false;
    }
  }
  SplashForm->Hide();
  delete SplashForm;
  SplashForm = nullptr;
  return ok;
}

void UnitsInitialization() {
  XProcsInitialization();
  // The dataset layer: the session list with the default session, and the
  // password dialog that a session shows when a table asks for a password
  // and no OnPassword handler answers.
  dataset::Sessions();
  dataset::InstallPasswordDialog();
  gif::GIFImageInitialization();
  cgi::HttpEngInitialization();
}

void UnitsFinalization() {
  cgi::HttpEngFinalization();
  gif::GIFImageFinalization();
  dataset::FinalizeSessions();
  dataset::SetPasswordDialogHook(nullptr);
  XProcsFinalization();
}

bool HasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

int RunProgram(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "Morvella Software needs a graphical display, and neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "Start it from a desktop session, or try it without a screen on Qt's offscreen platform\n"
                 "(nothing is shown; stop it with Ctrl+C):\n"
                 "    QT_QPA_PLATFORM=offscreen make run\n");
    return 1;
  }
  int status = 0;
  {
    fw::TApplication app(argc, argv);
    // The units read the screen, so they start once Qt is up.
    UnitsInitialization();
    // Titled before the splash window shows, so that a box it raises
    // carries the program's name.
    app.SetTitle(kApplicationTitle);
    try {
      if (StartProgram(app))
        app.Run();
      else
        status = 1;
    } catch (...) {
      // What the windows' constructors raise ends the program after the box.
      app.HandleException(nullptr);
      status = 1;
    }
  }
  UnitsFinalization();
  return status;
}

}  // namespace app
