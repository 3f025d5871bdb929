// Browsing the photos of a large catalogue in the main window, on the
// offscreen platform: BROWSE_RECORDS photos (100,000 by default) in ten
// categories, listed in the "Photos" grid without and with the category
// filter (a tenth of the photos):
//   List          the mode button: the page, the grid's first rows, the
//                 photo's detail box;
//   ScrollToEnd   the view scrolled to its last rows and painted;
//   SelectLast    the last row made current (the dataset moves there) and
//                 the first again;
//   FilterToggle  the filter box clicked on and off (three tables closed
//                 and opened each time).
// The grid finds a row by record number: on an unfiltered table the engine
// goes there through its counted index; under the filter through the rank
// of the filter's bitmap of the index's entries (made by one walk of the
// index's leaves, then kept until the table or the filter changes). At the
// end the filtered SelectLast is printed against its goal (under 20 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QTableView>

#include "app/catalogue_schema.h"
#include "app/data_module.h"
#include "app/main_form.h"
#include "app/program.h"
#include "dataset/tolmid_database.h"
#include "dataset/tolmid_session.h"
#include "dataset/tolmid_table.h"
#include "framework/forms/application.h"
#include "framework/forms/message_service.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int Records() {
  const char* e = std::getenv("BROWSE_RECORDS");
  return e != nullptr ? std::atoi(e) : 100000;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class PrintedMessages : public fw::TMessageService {
 public:
  fw::TModalResult Ask(const fw::TMessageRequest& request) override {
    std::fprintf(stderr, "box \"%s\": %s\n", request.caption.c_str(), request.text.c_str());
    return fw::mrOk;
  }
};

int g_argc = 1;
char g_arg0[] = "bench_browse";
char* g_argv[] = {g_arg0, nullptr};

// A catalogue made by the program, then filled with photos behind its back
// (no picture files: the detail box shows none).
void MakeCatalogue() {
  {
    fw::TApplication app(g_argc, g_argv);
    app.SetTitle(app::kApplicationTitle);
    app::StartProgram(app);
    app::MainForm->Close();
  }
  dataset::FinalizeSessions();
  fw::TComponent owner(nullptr);
  auto* db = new dataset::TTolmidDatabase(&owner);
  db->SetDatabaseName("Fill");
  db->SetDirectory((fs::current_path() / "data").string());
  db->Open();
  auto* categories = new dataset::TTolmidTable(&owner);
  categories->SetDatabaseName("Fill");
  categories->SetTableName("type1.dat");
  categories->Open();
  for (int c = 0; c < 10; ++c) {
    categories->Append();
    categories->FieldByName("JournalName")->SetAsString("Category " + std::to_string(c));
    categories->Post();
  }
  auto* photos = new dataset::TTolmidTable(&owner);
  photos->SetDatabaseName("Fill");
  photos->SetTableName("type3.dat");
  photos->SetExclusive(true);
  photos->Open();
  for (int i = 0; i < Records(); ++i) {
    photos->Append();
    photos->FieldByName("ResourceName")->SetAsString("Photo " + std::to_string(i * 7919 % 100003));
    photos->FieldByName("Type3Num")->SetAsInteger(1000 + i);
    photos->FieldByName("Category")->SetAsString("Category " + std::to_string(i % 10));
    photos->Post();
  }
  categories->Close();
  photos->Close();
  dataset::FinalizeSessions();
}

fw::TApplication* g_app = nullptr;

void Settle() { QApplication::processEvents(); }

void SetFilter(bool on) {
  app::TMainForm& m = *app::MainForm;
  if (on) {
    dataset::TTolmidTable* t1 = app::Datamodule1->Type1Table;
    t1->First();
    t1->MoveBy(3);
  }
  m.CategoryFilterCB->SetChecked(on);
}

template <class F>
void Timed(benchmark::State& state, F&& f) {
  for (auto _ : state) {
    const auto t0 = Clock::now();
    f();
    state.SetIterationTime(Since(t0));
  }
}

void List(benchmark::State& state) {
  SetFilter(state.range(0) != 0);
  Timed(state, [] {
    app::MainForm->Type3But->Click();
    Settle();
  });
  state.counters["rows"] = app::MainForm->ExpenseGrid->Model().rowCount();
}

void ScrollToEnd(benchmark::State& state) {
  SetFilter(state.range(0) != 0);
  app::TMainForm& m = *app::MainForm;
  m.Type3But->Click();
  Settle();
  Timed(state, [&] {
    m.ExpenseGrid->View()->scrollToBottom();
    Settle();
    m.ExpenseGrid->View()->scrollToTop();
    Settle();
  });
}

// Seconds of the filtered SelectLast: its slowest and fastest iterations.
double g_select_last_slowest = -1;
double g_select_last_fastest = -1;

void SelectLast(benchmark::State& state) {
  SetFilter(state.range(0) != 0);
  app::TMainForm& m = *app::MainForm;
  m.Type3But->Click();
  Settle();
  fw::TDataSetTableModel& model = m.ExpenseGrid->Model();
  double best = 1e30, worst = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    model.SetCurrentRow(model.rowCount() - 1);
    Settle();
    model.SetCurrentRow(0);
    Settle();
    const double s = Since(t0);
    best = std::min(best, s);
    worst = std::max(worst, s);
    state.SetIterationTime(s);
  }
  if (state.range(0) != 0) {
    g_select_last_fastest = best;
    g_select_last_slowest = worst;
  }
}

void FilterToggle(benchmark::State& state) {
  SetFilter(false);
  Timed(state, [] {
    SetFilter(true);
    SetFilter(false);
  });
}

}  // namespace

#define TIMED ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(List)->ArgName("filtered")->Arg(0)->Arg(1) TIMED;
BENCHMARK(ScrollToEnd)->ArgName("filtered")->Arg(0)->Arg(1) TIMED;
BENCHMARK(SelectLast)->ArgName("filtered")->Arg(0)->Arg(1) TIMED;
BENCHMARK(FilterToggle) TIMED;

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qt(argc, argv);
  PrintedMessages boxes;
  fw::SetMessageService(&boxes);
  char tmpl[] = "/tmp/bench_browse_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const fs::path picture = fs::absolute(fs::path(argv[0])).parent_path() / ".." / "app" / "_tavlin2.jpg";
  std::error_code ec;
  fs::copy_file(picture, fs::path(tmpl) / "_tavlin2.jpg", ec);
  const fs::path old = fs::current_path();
  fs::current_path(tmpl);
  MakeCatalogue();
  int status = 0;
  {
    fw::TApplication app(g_argc, g_argv);
    g_app = &app;
    app.SetTitle(app::kApplicationTitle);
    const auto t0 = Clock::now();
    if (!app::StartProgram(app)) {
      status = 1;
    } else {
      app::MainForm->Show();
      Settle();
      std::printf("start-up on %d photos: %.0f ms\n", Records(), Since(t0) * 1000);
      benchmark::Initialize(&argc, argv);
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      if (g_select_last_slowest >= 0) {
        std::printf("select the last row and the first under the filter (%d of %d photos): "
                    "slowest %.1f ms, fastest %.1f ms (goal under 20 ms)\n",
                    Records() / 10, Records(), g_select_last_slowest * 1000,
                    g_select_last_fastest * 1000);
      }
      app::MainForm->Close();
    }
    g_app = nullptr;
  }
  dataset::FinalizeSessions();
  fw::SetMessageService(nullptr);
  fs::current_path(old);
  fs::remove_all(tmpl, ec);
  return status;
}
