// Support of the catalogue program's tests: a fixture that runs each test
// in a scratch home directory (the process's current directory) with the
// built home picture in it, a fresh engine, an application object on the
// offscreen platform and scripted message boxes; the real start-up and
// shut-down; and reading or writing the catalogue's tables behind the
// program's back through components of the test's own.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include "app/catalogue_schema.h"
#include "app/create_tables.h"
#include "app/data_module.h"
#include "app/generic_report_form.h"
#include "app/main_form.h"
#include "app/program.h"
#include "dataset/tolmid_database.h"
#include "dataset/tolmid_session.h"
#include "dataset/tolmid_table.h"
#include "framework/forms/application.h"
#include "framework/report/report_preview.h"
#include "framework/gui/bitmap.h"
#include "framework/gui/jpeg_image.h"
#include "framework/streams.h"
#include "gif/gui/gif_graphic.h"
#include "storage/session.h"
#include "tests/common/scratch_dir.h"
#include "tests/common/scripted_messages.h"
#include "tests/tools/run_tool.h"

namespace apptest {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& p) { return testsupport::ReadFile(p); }

// Every file of dir (name -> bytes).
inline std::map<std::string, std::string> DirBytes(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = ReadBytes(e.path());
  return out;
}

inline void WriteBytes(const fs::path& p, const std::string& bytes) { testsupport::WriteFile(p, bytes); }

// A picture of w x h: a colour field with a band across it, so that a
// screenshot shows where it went and how it was scaled.
inline void DrawPicture(fw::TBitmap& b, int w, int h, QColor colour) {
  b.SetPixelFormat(fw::TPixelFormat::pf32bit);
  b.SetSize(w, h);
  QPainter p(&b.PaintImage());
  p.fillRect(0, 0, w, h, colour);
  p.setPen(QPen(Qt::white, std::max(2, std::min(w, h) / 8)));
  p.drawLine(0, h, w, 0);
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(0, 0, w - 1, h - 1);
}

inline std::string JpegBytes(int w, int h, QColor colour = QColor(40, 110, 170)) {
  fw::TBitmap b;
  DrawPicture(b, w, h, colour);
  fw::TJPEGImage jpeg;
  jpeg.Assign(b);
  const std::vector<std::uint8_t>& d = jpeg.Data();
  return std::string(d.begin(), d.end());
}

inline std::string GifBytes(int w, int h, QColor colour = QColor(170, 60, 40)) {
  gif::GIFImageInitialization();
  fw::TBitmap b;
  DrawPicture(b, w, h, colour);
  gif::TGIFGraphic g;
  g.Assign(b);
  fw::TMemoryStream s;
  g.SaveToStream(s);
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

// The bytes of a GIF picture of the test data.
inline std::string GifFile(const std::string& name) { return ReadBytes(fs::path(TOLMID_TEST_DATA) / "gif" / name); }

// The GIF picture class registered while an object lives.
class GifPictures {
 public:
  GifPictures() { gif::GIFImageInitialization(); }
  ~GifPictures() { gif::GIFImageFinalization(); }
};

// Runs one test of this binary again as a process of its own (its
// standard output thrown away), with the variables vars ("NAME=value")
// before the rest of the environment; its wait status. Everything the
// child needs is made before the fork: between fork and exec a process
// with threads may only make system calls.
inline int RunSelf(const std::string& test, std::vector<std::string> vars) {
  for (char** e = environ; *e != nullptr; ++e) vars.emplace_back(*e);
  std::vector<char*> env;
  for (std::string& v : vars) env.push_back(v.data());
  env.push_back(nullptr);
  std::string arg0 = "app_tests", filter = "--gtest_filter=" + test;
  char* argv[] = {arg0.data(), filter.data(), nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execve("/proc/self/exe", argv, env.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// The program in a child that RunSelf started: its home (the current
// directory) is home, and every message box is answered OK.
struct ChildProgram {
  explicit ChildProgram(const char* home) : at_home((std::filesystem::current_path(home), true)) {
    boxes.AnswerAll(fw::mrOk);
  }
  bool at_home;  // before the application is made
  int argc = 1;
  char arg0[10] = "app_tests";
  char* argv[2] = {arg0, nullptr};
  fw::TApplication application{argc, argv};
  testsupport::ScriptedMessages boxes;
};

// Runs step; once the modal loop that step starts is running, inside
// calls in_modal (then it must end that loop). Fails when no loop came.
inline void WithModalLoop(const std::function<void()>& step, const std::function<void()>& in_modal) {
  bool called = false;
  QTimer::singleShot(0, [&] {
    called = true;
    in_modal();
  });
  step();
  EXPECT_TRUE(called) << "no modal loop ran";
}

// Runs step, which previews a report of a TGenericReportForm owned by
// owner; prints the previewed report n to pdf from the preview's Print
// button and closes the preview.
inline void PreviewToPdf(const std::function<void()>& step, fw::TComponent& owner, int n, const std::string& pdf) {
  WithModalLoop(step, [&] {
    auto* form = dynamic_cast<app::TGenericReportForm*>(owner.FindComponent("GenericReportForm"));
    ASSERT_NE(form, nullptr);
    form->Report(n)->OnPrinterSetup = [&](QPrinter& printer) {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(pdf));
      return true;
    };
    fw::TQRPreview* preview = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = dynamic_cast<fw::TQRPreview*>(w); p != nullptr && p->isVisible()) preview = p;
    ASSERT_NE(preview, nullptr);
    preview->findChild<QPushButton*>("PrintButton")->click();
    preview->findChild<QPushButton*>("CloseButton")->click();
  });
}

using FieldValues = std::vector<std::pair<std::string, std::string>>;

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dataset::FinalizeSessions();
    storage::ShutdownEngine();
    char tmpl[] = "/tmp/catalogue_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(home_);
    fs::copy_file(TOLMID_HOME_PICTURE, home_ / "_tavlin2.jpg");
    app::SetStartupLogSink([this](const std::string& line) { startup_log_.push_back(line); });
    NewApplication();
  }
  void TearDown() override {
    app::SetStartupLogSink(nullptr);
    app_.reset();
    dataset::FinalizeSessions();
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  void NewApplication() {
    app_ = std::make_unique<fw::TApplication>(argc_, argv_);
    app_->SetTitle(app::kApplicationTitle);
  }

  // The program's start; true when it would run its message loop.
  bool Start() { return app::StartProgram(*app_); }
  // The main window closes (its OnClose posts and closes the tables), the
  // application frees the windows and the data module.
  void Stop() {
    if (app::MainForm != nullptr) app::MainForm->Close();
    app_.reset();
    dataset::FinalizeSessions();
    NewApplication();
  }
  // Start and Stop, no box expected.
  void StartAndStop() {
    ASSERT_TRUE(Start());
    Stop();
  }

  app::TMainForm& Main() { return *app::MainForm; }

  // Appends a record to the program's own table of kind 1..4 and posts it.
  void Put(int kind, const FieldValues& values) {
    dataset::TTolmidTable* t = app::Datamodule1->TypeTable(kind);
    t->Append();
    for (const auto& [field, value] : values) t->FieldByName(field)->SetAsString(value);
    t->Post();
  }

  // The program's counter, read through its own table.
  int AppCounter(const std::string& name) {
    dataset::TTolmidTable* d = app::Datamodule1->DefaultsTable;
    d->Open();
    return d->FieldByName(name)->AsInteger();
  }
  void SetAppCounter(const std::string& name, int value) {
    dataset::TTolmidTable* d = app::Datamodule1->DefaultsTable;
    d->Open();
    d->Edit();
    d->FieldByName(name)->SetAsInteger(value);
    d->Post();
  }

  // The values of field of every record of the program's table of kind, in
  // its index order (under its filter).
  std::vector<std::string> Column(int kind, const std::string& field) {
    dataset::TTolmidTable* t = app::Datamodule1->TypeTable(kind);
    const fw::TBookmark here = t->GetBookmark();
    std::vector<std::string> out;
    for (t->First(); !t->Eof(); t->Next()) out.push_back(t->FieldByName(field)->AsString());
    t->GotoBookmark(here);
    return out;
  }

  fs::path Data(const std::string& leaf = "") const { return leaf.empty() ? home_ / "data" : home_ / "data" / leaf; }

  // Runs fn on a table component of the test's own on data/name (shared).
  void WithTable(const std::string& name, const std::function<void(dataset::TTolmidTable&)>& fn) {
    fw::TComponent owner(nullptr);
    auto* db = new dataset::TTolmidDatabase(&owner);
    db->SetDatabaseName("Check");
    db->SetDirectory(Data().string());
    db->Open();
    auto* t = new dataset::TTolmidTable(&owner);
    t->SetDatabaseName("Check");
    t->SetTableName(name);
    fn(*t);
    t->Close();
  }

  // Every record in primary order as "field=value|..." (record ids and
  // memos included).
  std::vector<std::string> Rows(const std::string& name) {
    std::vector<std::string> rows;
    WithTable(name, [&](dataset::TTolmidTable& t) {
      t.Open();
      for (t.First(); !t.Eof(); t.Next()) {
        std::string row;
        for (int i = 0; i < t.FieldCount(); ++i) {
          fw::TField* f = t.Fields(i);
          row += f->FieldName() + "=" + (f->IsNull() ? "<null>" : f->AsString()) + "|";
        }
        rows.push_back(row);
      }
    });
    return rows;
  }

  int Counter(const std::string& name) {
    int value = -1;
    WithTable("defaults.dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      value = t.FieldByName(name)->AsInteger();
    });
    return value;
  }

  // The independent checkers' verdict on a table's files ("" when sound)
  // and their output.
  static tooltest::ToolResult Check(const std::string& tool, const fs::path& file, const std::string& extra = "") {
    return tooltest::RunTool(tool, file.string(), extra);
  }

  fs::path home_;
  fs::path old_cwd_;
  std::unique_ptr<fw::TApplication> app_;
  testsupport::ScriptedMessages boxes_;
  std::vector<std::string> startup_log_;  // the start-up's log lines (app/create_tables.h)

 private:
  static inline int argc_ = 1;
  static inline char arg0_[] = "app_tests";
  static inline char* argv_[] = {arg0_, nullptr};
};

// The program started and its main window shown (first activation done).
class StartedCatalogueTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    ASSERT_TRUE(Start());
    Main().Show();
  }
  void TearDown() override {
    app_->OnModalShown = nullptr;
    CatalogueTest::TearDown();
  }
  // Makes the record of kind whose field holds value current.
  static void Locate(int kind, const std::string& field, const std::string& value) {
    ASSERT_TRUE(app::Datamodule1->TypeTable(kind)->Locate(field, {fw::Variant(value)}, {}));
  }
};

using Names = std::vector<std::string>;

}  // namespace apptest
