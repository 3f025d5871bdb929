// TQRPreview: the window that shows a prepared report: one page at a time
// at a zoom, with page navigation, Print and Close. It shows the pages the
// report prepared last and prints those same pages.
//
// Widgets carry object names for code that drives the window:
// "FirstPageButton", "PriorPageButton", "NextPageButton", "LastPageButton",
// "PageLabel" ("Page 2 of 5"), "ZoomFitButton", "ZoomWidthButton",
// "Zoom100Button", "ZoomInButton", "ZoomOutButton", "PrintButton",
// "CloseButton", and "PageView" (the label holding the page image).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QScrollArea;

namespace fw {

class TQuickRep;

class TQRPreview : public QDialog {
 public:
  TQRPreview(TQuickRep& report, QWidget* parent = nullptr);

  // 1-based; clamped to the pages there are.
  int PageNumber() const { return page_; }
  void ShowPage(int page);
  // Percent, 10 to 800.
  int Zoom() const { return zoom_; }
  void SetZoom(int percent);
  // The zoom at which a whole page / the page's width fits the view.
  void ZoomToFit();
  void ZoomToWidth();
  // What the Print button does: sets up a printer (the report's
  // OnPrinterSetup, else the print dialog) and prints the shown report.
  // Errors go to the report's ReportError.
  void PrintReport();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Render();
  int PageCount() const;
  QPushButton* AddButton(const char* name, const QString& text);

  TQuickRep& report_;
  int page_ = 1;
  int zoom_ = 100;
  QScrollArea* scroll_ = nullptr;
  QLabel* view_ = nullptr;
  QLabel* page_label_ = nullptr;
  QWidget* toolbar_ = nullptr;
};

}  // namespace fw
