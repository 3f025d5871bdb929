// The preview window over a three-page report: page navigation and its
// buttons, zoom, Print through the printer set-up hook (to PDF) and its
// error report, and Preview shown modally after an error in an event.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "framework/report/quick_rep.h"
#include "framework/report/report_preview.h"
#include "printing_test_support.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

class ReportPreviewTest : public ::testing::Test {
 protected:
  ReportPreviewTest() : ds_(nullptr, {{"Name", TFieldType::ftString, 40}}), rep_(nullptr) {
    ds_.Open();
    for (const char* n : {"Guppy", "Molly", "Platy"}) ds_.AppendRecord({Variant(n)});
    rep_.SetDataSet(&ds_);
    rep_.SetReportTitle("Fish");
    detail_ = new TQRBand(&rep_, TQRBandType::rbDetail);
    detail_->SetHeight(921);
    auto* name = new TQRDBText(detail_);
    name->SetDataField("Name");
    name->SetBounds(100, 100, 200, 17);
    rep_.OnError = [this](const std::string& m) { errors_.push_back(m); };
  }

  static QString PageLabel(QWidget& w) { return w.findChild<QLabel*>("PageLabel")->text(); }
  static QPushButton* Button(QWidget& w, const char* name) { return w.findChild<QPushButton*>(name); }

  MemoryDataSet ds_;
  TQuickRep rep_;
  TQRBand* detail_;
  std::vector<std::string> errors_;
};

TEST_F(ReportPreviewTest, NavigatesZoomsAndPrints) {
  rep_.Prepare();
  TQRPreview preview(rep_);
  EXPECT_EQ(preview.windowTitle(), "Fish");
  EXPECT_EQ(PageLabel(preview), "Page 1 of 3");
  EXPECT_FALSE(Button(preview, "PriorPageButton")->isEnabled());
  Button(preview, "NextPageButton")->click();
  Button(preview, "NextPageButton")->click();
  EXPECT_EQ(PageLabel(preview), "Page 3 of 3");
  EXPECT_FALSE(Button(preview, "NextPageButton")->isEnabled());
  EXPECT_FALSE(Button(preview, "LastPageButton")->isEnabled());
  Button(preview, "FirstPageButton")->click();
  EXPECT_EQ(preview.PageNumber(), 1);

  auto* view = preview.findChild<QLabel*>("PageView");
  EXPECT_EQ(view->pixmap().size(), QSize(816, 1056));
  preview.SetZoom(50);
  EXPECT_EQ(view->pixmap().size(), QSize(408, 528));
  Button(preview, "ZoomInButton")->click();
  EXPECT_EQ(preview.Zoom(), 75);
  preview.SetZoom(5000);
  EXPECT_EQ(preview.Zoom(), 800);

  // The preview prints the pages it shows: the dataset is not read again.
  ds_.Close();
  const std::string pdf = printtest::OutputPath("preview.pdf");
  rep_.OnPrinterSetup = [&](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  };
  Button(preview, "PrintButton")->click();
  EXPECT_EQ(printtest::PdfPages(pdf), 3);
  EXPECT_TRUE(printtest::InOrder(printtest::PdfText(pdf), {"Guppy", "\f", "Molly", "\f", "Platy"}));
  EXPECT_TRUE(errors_.empty());

  rep_.OnPrinterSetup = [](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("/nonexistent-folder/x.pdf");
    return true;
  };
  Button(preview, "PrintButton")->click();
  EXPECT_EQ(errors_, std::vector<std::string>{"Cannot create file /nonexistent-folder/x.pdf"});
}

TEST_F(ReportPreviewTest, ModalPreviewAfterAFailingEvent) {
  detail_->BeforePrint = [&](TQRBand&, bool&) {
    if (rep_.RecordNumber() == 2) throw EInvalidGraphic("Picture is broken");
  };
  QString shown;
  bool closed = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (dynamic_cast<TQRPreview*>(w) != nullptr && w->isVisible()) modal = w;
    if (modal == nullptr) return;
    shown = PageLabel(*modal);
    Button(*modal, "CloseButton")->click();
    closed = true;
  });
  rep_.Preview();
  EXPECT_TRUE(closed);
  EXPECT_EQ(errors_, std::vector<std::string>{"Picture is broken"});
  EXPECT_EQ(shown, "Page 1 of 1");
}

}  // namespace
}  // namespace fw
