// TQuickRep: a banded report over a dataset, built in code:
//
//   auto* rep = new TQuickRep(owner);
//   rep->SetDataSet(query);
//   rep->SetReportTitle("Link List");
//   auto* title = new TQRBand(rep, TQRBandType::rbTitle);
//   title->SetHeight(33);
//   (new TQRLabel(title))->SetCaption("Internet Link List");
//   auto* detail = new TQRBand(rep, TQRBandType::rbDetail);
//   ...
//   rep->Preview();                  // or Print(), or PrintTo(pdf_printer)
//
// Running the report (Prepare): the dataset goes to its first record and
// on to the last, with its controls disabled; afterwards it is put back on
// the record it was on. Pages fill from the top margin down:
//   every page   page header at the top; page footer at the bottom of the
//                content area (the space above it is what other bands get);
//   first page   title band after the page header;
//   each record  the detail band;
//   at the end   the summary band.
// For each band to print the band's BeforePrint event runs first (the
// dataset on the record the band prints); then its controls are read and
// its height known; a band that does not fit below what the page already
// holds starts a new page. A band taller than an empty page prints on it
// all the same, cut by the paper. Without a DataSet the detail band prints
// once; an empty dataset prints none.
//
// Errors. An exception from an event or a control ends the run: the pages
// built so far (the last one finished with its footer) stay prepared and
// the exception goes on to the caller. Preview reports it (OnError, else a
// message box) and then shows what was built; Print and PrintTo print
// nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/report/prepared_report.h"
#include "framework/report/report_band.h"
#include "framework/report/report_image.h"
#include "framework/report/report_label.h"
#include "framework/report/report_page.h"
#include "framework/report/report_shape.h"

class QPrinter;
class QWidget;

namespace fw {

class TDataSet;

class TQuickRep : public TComponent {
 public:
  explicit TQuickRep(TComponent* owner);
  ~TQuickRep() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  // The preview's caption and the print job's (and PDF's) title.
  const std::string& ReportTitle() const { return report_title_; }
  void SetReportTitle(const std::string& title) { report_title_ = title; }
  TQRPage& Page() { return page_; }
  const TQRPage& Page() const { return page_; }
  std::vector<TQRBand*> Bands() const;

  // Runs the report into pages (see the top of the file).
  void Prepare();
  // The pages of the last Prepare (nullptr before the first).
  const TQRPreparedReport* Prepared() const { return prepared_.get(); }
  int PageCount() const { return prepared_ ? prepared_->PageCount() : 0; }
  // While preparing: the page being filled (1-based) and the number of the
  // record being printed (1-based, 0 outside detail bands).
  int PageNumber() const { return page_number_; }
  int RecordNumber() const { return record_number_; }

  // Prepares and shows the preview window modally (parent: the active
  // window).
  void Preview();
  // Prepares and prints on the default printer; EPrinter when there is none.
  void Print();
  // Prepares and prints on printer (a PDF file with QPrinter::PdfFormat).
  void PrintTo(QPrinter& printer);

  // The preview's report of an error (default: a warning box).
  std::function<void(const std::string& message)> OnError;
  // The preview's Print button: sets up the printer, false cancels
  // (default: the print dialog).
  std::function<bool(QPrinter& printer)> OnPrinterSetup;

  // Reports message through OnError or a warning box over parent.
  void ReportError(const std::string& message, QWidget* parent = nullptr);

 protected:
  void Notification(TComponent* component, bool inserting) override;

 private:
  class Builder;
  TDataSet* dataset_ = nullptr;
  std::string report_title_;
  TQRPage page_;
  std::unique_ptr<TQRPreparedReport> prepared_;
  int page_number_ = 0;
  int record_number_ = 0;
};

}  // namespace fw
