#include "framework/report/quick_rep.h"

#include <optional>

#include <QApplication>
#include <QMessageBox>
#include <QPrinter>

#include "framework/db/dataset.h"
#include "framework/db/dataset_walk.h"
#include "framework/report/report_preview.h"
#include "platform/text.h"

namespace fw {

// Fills the prepared pages band by band. Page geometry in report pixels:
// content from top_ to top_ + height_; body bands go down to body_bottom_,
// the footer's area lies below it.
class TQuickRep::Builder {
 public:
  Builder(TQuickRep& report, TQRPreparedReport& out) : report_(report), out_(out) {
    const TQRPage& page = report.Page();
    left_ = page.LeftPixels();
    top_ = page.TopPixels();
    height_ = page.ContentHeightPixels();
    double footer = 0;
    for (TQRBand* b : BandsOf(TQRBandType::rbPageFooter)) footer += b->Height();
    body_bottom_ = top_ + height_ - footer;
  }

  void Run() {
    std::optional<DataSetWalk> walk;
    if (report_.DataSet() != nullptr) walk.emplace(*report_.DataSet());
    try {
      // The first page's bands see the first record.
      if (TDataSet* ds = report_.DataSet()) ds->First();
      StartPage();
      PrintBands(TQRBandType::rbTitle);
      if (TDataSet* ds = report_.DataSet()) {
        while (!ds->Eof()) {
          ++report_.record_number_;
          PrintBands(TQRBandType::rbDetail);
          ds->Next();
        }
      } else {
        report_.record_number_ = 1;
        PrintBands(TQRBandType::rbDetail);
      }
      report_.record_number_ = 0;
      PrintBands(TQRBandType::rbSummary);
      EndPage();
    } catch (...) {
      report_.record_number_ = 0;
      if (page_open_) {
        // The page ends without its footer when the footer fails too.
        try {
          EndPage();
        } catch (...) {
          ClosePage();
        }
      }
      throw;
    }
  }

 private:
  std::vector<TQRBand*> BandsOf(TQRBandType type) const {
    std::vector<TQRBand*> out;
    for (TQRBand* b : report_.Bands())
      if (b->Enabled() && b->BandType() == type) out.push_back(b);
    return out;
  }

  // Runs the band's event and lays it out; false when it does not print.
  static bool Ready(TQRBand& band, double& height) {
    bool print = true;
    if (band.BeforePrint) band.BeforePrint(band, print);
    if (!print) return false;
    height = band.Prepare();
    return true;
  }

  void Place(TQRBand& band, double top, double height) {
    band.Emit(page_.Items, left_, top);
    const int record = band.BandType() == TQRBandType::rbDetail ? report_.record_number_ : 0;
    page_.Bands.push_back({band.BandType(), QRectF(left_, top, band.Width(), height), record});
  }

  void PrintBands(TQRBandType type) {
    for (TQRBand* band : BandsOf(type)) {
      double height = 0;
      if (!Ready(*band, height)) continue;
      if (has_body_ && y_ + height > body_bottom_) {
        EndPage();
        StartPage();
      }
      Place(*band, y_, height);
      y_ += height;
      has_body_ = true;
    }
  }

  void StartPage() {
    page_ = TQRPreparedPage();
    page_open_ = true;
    has_body_ = false;
    ++report_.page_number_;
    y_ = top_;
    for (TQRBand* band : BandsOf(TQRBandType::rbPageHeader)) {
      double height = 0;
      if (!Ready(*band, height)) continue;
      Place(*band, y_, height);
      y_ += height;
    }
  }

  void EndPage() {
    // Footers stack upwards from the bottom of the content area.
    double bottom = top_ + height_;
    std::vector<TQRBand*> footers = BandsOf(TQRBandType::rbPageFooter);
    for (auto it = footers.rbegin(); it != footers.rend(); ++it) {
      double height = 0;
      if (!Ready(**it, height)) continue;
      bottom -= height;
      Place(**it, bottom, height);
    }
    ClosePage();
  }

  void ClosePage() {
    out_.Pages().push_back(std::move(page_));
    page_ = TQRPreparedPage();
    page_open_ = false;
  }

  TQuickRep& report_;
  TQRPreparedReport& out_;
  double left_ = 0;
  double top_ = 0;
  double height_ = 0;
  double body_bottom_ = 0;
  double y_ = 0;
  bool page_open_ = false;
  bool has_body_ = false;
  TQRPreparedPage page_;
};

TQuickRep::TQuickRep(TComponent* owner) : TComponent(owner) {}

TQuickRep::~TQuickRep() = default;

void TQuickRep::SetDataSet(TDataSet* dataset) {
  if (dataset_ == dataset) return;
  if (dataset_ != nullptr) RemoveFreeNotification(dataset_);
  dataset_ = dataset;
  if (dataset_ != nullptr) FreeNotification(dataset_);
}

void TQuickRep::Notification(TComponent* component, bool inserting) {
  TComponent::Notification(component, inserting);
  if (!inserting && component == dataset_) dataset_ = nullptr;
}

std::vector<TQRBand*> TQuickRep::Bands() const {
  std::vector<TQRBand*> out;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* b = dynamic_cast<TQRBand*>(Components(i))) out.push_back(b);
  return out;
}

void TQuickRep::Prepare() {
  auto out = std::make_unique<TQRPreparedReport>(page_.PaperWidthPixels(), page_.PaperHeightPixels(),
                                                 QString::fromStdString(platform::Cp1252ToUtf8(report_title_)));
  page_number_ = 0;
  record_number_ = 0;
  prepared_.reset();
  struct Reset {
    int& page;
    ~Reset() { page = 0; }
  } reset{page_number_};
  try {
    Builder(*this, *out).Run();
  } catch (...) {
    if (out->PageCount() > 0) prepared_ = std::move(out);
    throw;
  }
  prepared_ = std::move(out);
}

void TQuickRep::Preview() {
  std::string error;
  try {
    Prepare();
  } catch (const std::exception& e) {
    if (!prepared_) throw;
    error = e.what();
  }
  TQRPreview preview(*this, QApplication::activeWindow());
  if (!error.empty()) ReportError(error, QApplication::activeWindow());
  preview.exec();
}

void TQuickRep::Print() {
  QPrinter printer(QPrinter::HighResolution);
  PrintTo(printer);
}

void TQuickRep::PrintTo(QPrinter& printer) {
  Prepare();
  prepared_->Print(printer);
}

void TQuickRep::ReportError(const std::string& message, QWidget* parent) {
  if (OnError) {
    OnError(message);
    return;
  }
  QMessageBox::warning(parent, QApplication::applicationDisplayName(),
                       QString::fromStdString(platform::Cp1252ToUtf8(message)));
}

}  // namespace fw
