// The catalogue's bar charts of record counts per category, and
// TGenericGraphForm, the window that shows one of them large with a
// "Print" button.
//
// Chart n (1..3) counts:
//   1  "Journal Entries"   Type1GraphQuery  "Count Of type1num"
//   2  "Activity Entries"  Type2GraphQuery  "Count Of type2num"
//   3  "Internet Links"    Type4GraphQuery  "Count Of type4num"
// one red bar with its value mark per category (the query's "category"),
// no legend, flat, no back wall. A chart follows its query: PrepareData
// reopens the three queries, and every chart on them refills.
#pragma once

#include <functional>

#include "framework/chart/db_chart.h"
#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"

class QPrinter;

namespace app {

// A new count chart n owned by owner, named name; its view shows in
// parent, filling it (hidden when hidden is set).
fw::TDBChart* NewCountChart(fw::TComponent* owner, const std::string& name, int n, fw::TWinControl& parent,
                            bool hidden);

// Closes Type1GraphQuery, Type2GraphQuery and Type4GraphQuery, gives each
// its SELECT again and opens it.
void PrepareGraphData();

class TGenericGraphForm : public fw::TForm {
 public:
  explicit TGenericGraphForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TPanel* GraphPanel;
  fw::TDBChart* Type1Graph;
  fw::TDBChart* Type2Graph;
  fw::TDBChart* Type3Graph;
  fw::TButton* PrintBut;
  fw::TBitBtn* OKBut;

  // Large chart n (1..3), nullptr for other numbers.
  fw::TDBChart* Graph(int n) const;
  // Shows large chart n filling GraphPanel.
  void ShowGraph(int n);
  bool GraphVisible(int n) const;

  void FormActivate(fw::TComponent* sender);
  // Prints each large chart that is shown.
  void PrintButClick(fw::TComponent* sender);
  void PrepareData();

  // Sets up the printer of a chart's print, false skips that chart; when
  // not set, the print dialog asks (a printer, or a PDF file).
  std::function<bool(QPrinter& printer)> OnPrinterSetup;
};

}  // namespace app
