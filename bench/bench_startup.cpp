// The catalogue program's start on a catalogue of 10,000 records in each
// record table (a name, a date, a number and a memo of a few hundred
// bytes each), on the offscreen platform:
//   StartUp       the whole start: splash window, the data module (the
//                 tables repaired and restructured), OpenDBs, the main
//                 window shown;
//   CreateTables  the data module's creation alone;
//   Repair        RepairTable on the five tables;
//   Restructure   RestructureTable on the five tables (same layout).
// The summary prints the start's time and the share of it spent in repair
// and restructure. Set STARTUP_RECORDS to use another record count.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <QApplication>

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
  const char* e = std::getenv("STARTUP_RECORDS");
  return e != nullptr ? std::atoi(e) : 10000;
}

// Seconds of each piece of work, summed over its iterations, and counts.
std::map<std::string, std::pair<double, int>>& Times() {
  static std::map<std::string, std::pair<double, int>> t;
  return t;
}

double Mean(const std::string& name) {
  const auto& [sum, n] = Times().at(name);
  return sum / n;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Boxes are printed and answered OK: a benchmark waits for no one.
class PrintedMessages : public fw::TMessageService {
 public:
  fw::TModalResult Ask(const fw::TMessageRequest& request) override {
    std::fprintf(stderr, "box \"%s\": %s\n", request.caption.c_str(), request.text.c_str());
    return fw::mrOk;
  }
};

int g_argc = 1;
char g_arg0[] = "bench_startup";
char* g_argv[] = {g_arg0, nullptr};

// One application object for a piece of work, then everything it made
// freed and the sessions stopped.
template <class F>
void WithApplication(F&& f) {
  {
    fw::TApplication app(g_argc, g_argv);
    app.SetTitle(app::kApplicationTitle);
    f(app);
    if (app::MainForm != nullptr) app::MainForm->Close();
  }
  dataset::FinalizeSessions();
}

// A catalogue made by the program itself, then filled behind its back.
void MakeCatalogue() {
  WithApplication([](fw::TApplication& app) { app::StartProgram(app); });
  fw::TComponent owner(nullptr);
  auto* db = new dataset::TTolmidDatabase(&owner);
  db->SetDatabaseName("Fill");
  db->SetDirectory((fs::current_path() / "data").string());
  db->Open();
  const char* names[] = {"JournalName", "ActivityName", "ResourceName", "LinkName"};
  for (int kind = 1; kind <= 4; ++kind) {
    auto* t = new dataset::TTolmidTable(&owner);
    t->SetDatabaseName("Fill");
    t->SetTableName("type" + std::to_string(kind) + ".dat");
    t->SetExclusive(true);
    t->Open();
    for (int i = 0; i < Records(); ++i) {
      t->Append();
      t->FieldByName(names[kind - 1])->SetAsString("Record number " + std::to_string(i * 7919 % 10007));
      t->FieldByName("Type" + std::to_string(kind) + "Num")->SetAsInteger(1000 + i);
      t->FieldByName("Category")->SetAsString("Category " + std::to_string(i % 12));
      t->FieldByName("Details")->SetAsString(std::string(static_cast<std::size_t>(100 + i % 600), 'd'));
      t->Post();
    }
    t->Close();
  }
  dataset::FinalizeSessions();
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
  state.SetIterationTime(seconds);
  Times()[name].first += seconds;
  Times()[name].second += 1;
}

void StartUp(benchmark::State& state) {
  for (auto _ : state) {
    double seconds = 0;
    bool ok = false;
    WithApplication([&](fw::TApplication& app) {
      const auto t0 = Clock::now();
      ok = app::StartProgram(app);
      app::MainForm->Show();
      app.ProcessMessages();
      seconds = Since(t0);
    });
    if (!ok) state.SkipWithError("start failed");
    Record(state, "startup", seconds);
  }
}

void CreateTables(benchmark::State& state) {
  for (auto _ : state) {
    double seconds = 0;
    WithApplication([&](fw::TApplication& app) {
      const auto t0 = Clock::now();
      app.CreateForm(app::Datamodule1);
      seconds = Since(t0);
    });
    Record(state, "create tables", seconds);
  }
}

// op on each of the five tables through a table component of its own.
template <class Op>
double EachTable(Op op) {
  double seconds = 0;
  {
    fw::TComponent owner(nullptr);
    auto* db = new dataset::TTolmidDatabase(&owner);
    db->SetDatabaseName("Ops");
    db->SetDirectory((fs::current_path() / "data").string());
    db->Open();
    for (const app::CatalogueTable& layout : app::CatalogueTables()) {
      auto* t = new dataset::TTolmidTable(&owner);
      t->SetDatabaseName("Ops");
      t->SetTableName(layout.table_name);
      t->SetExclusive(true);
      const auto t0 = Clock::now();
      op(*t, layout);
      seconds += Since(t0);
    }
  }
  dataset::FinalizeSessions();
  return seconds;
}

void Repair(benchmark::State& state) {
  for (auto _ : state)
    Record(state, "repair", EachTable([](dataset::TTolmidTable& t, const app::CatalogueTable&) { t.RepairTable(); }));
}

void Restructure(benchmark::State& state) {
  for (auto _ : state)
    Record(state, "restructure", EachTable([](dataset::TTolmidTable& t, const app::CatalogueTable& layout) {
             int n = 0;
             for (const app::CatalogueField& f : layout.fields)
               t.RestructureFieldDefs().Add(f.name, f.type, ++n, {}, {}, {}, {}, f.required, f.size);
             t.IndexDefs().Add("", layout.fields.front().name,
                               {fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique});
             if (!layout.secondary_index.empty())
               t.IndexDefs().Add(layout.secondary_index, layout.secondary_field,
                                 {fw::TIndexOption::ixCaseInsensitive});
             t.RestructureTable(0, 0, 512, "", "", false, 0, true);
           }));
}

}  // namespace

#define TIMED ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(StartUp) TIMED;
BENCHMARK(CreateTables) TIMED;
BENCHMARK(Repair) TIMED;
BENCHMARK(Restructure) TIMED;

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qt(argc, argv);
  PrintedMessages boxes;
  fw::SetMessageService(&boxes);
  char tmpl[] = "/tmp/bench_startup_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  // The home picture beside the catalogue: the build puts it beside the
  // program in <build>/app.
  const fs::path picture = fs::absolute(fs::path(argv[0])).parent_path() / ".." / "app" / "_tavlin2.jpg";
  std::error_code ec;
  fs::copy_file(picture, fs::path(tmpl) / "_tavlin2.jpg", ec);
  const fs::path old = fs::current_path();
  fs::current_path(tmpl);
  MakeCatalogue();

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto& t = Times();
  if (t.count("startup") && t.count("create tables") && t.count("repair") && t.count("restructure")) {
    const double start = Mean("startup");
    std::printf("\nstart-up on %d records per table: %.0f ms (mean)\n", Records(), start * 1000);
    std::printf("  data module (create, repair, restructure): %.0f ms, %.0f%% of the start\n",
                Mean("create tables") * 1000, 100 * Mean("create tables") / start);
    std::printf("  repair alone %.0f ms (%.0f%%), restructure alone %.0f ms (%.0f%%)\n", Mean("repair") * 1000,
                100 * Mean("repair") / start, Mean("restructure") * 1000, 100 * Mean("restructure") / start);
  }
  benchmark::Shutdown();
  fw::SetMessageService(nullptr);
  fs::current_path(old);
  fs::remove_all(tmpl, ec);
  return 0;
}
