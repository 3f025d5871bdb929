#include "framework/report/report_preview.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "framework/report/quick_rep.h"
#include "platform/text.h"

namespace fw {

namespace {

constexpr int kMinZoom = 10;
constexpr int kMaxZoom = 800;
constexpr int kZoomStep = 25;

}  // namespace

TQRPreview::TQRPreview(TQuickRep& report, QWidget* parent) : QDialog(parent), report_(report) {
  setWindowTitle(QString::fromStdString(platform::Cp1252ToUtf8(report.ReportTitle())));
  auto* layout = new QVBoxLayout(this);
  toolbar_ = new QWidget(this);
  auto* bar = new QHBoxLayout(toolbar_);
  bar->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(toolbar_);

  connect(AddButton("ZoomFitButton", QStringLiteral("Whole Page")), &QPushButton::clicked, this, [this] { ZoomToFit(); });
  connect(AddButton("ZoomWidthButton", QStringLiteral("Page Width")), &QPushButton::clicked, this, [this] { ZoomToWidth(); });
  connect(AddButton("Zoom100Button", QStringLiteral("100 %")), &QPushButton::clicked, this, [this] { SetZoom(100); });
  connect(AddButton("ZoomInButton", QStringLiteral("+")), &QPushButton::clicked, this, [this] { SetZoom(zoom_ + kZoomStep); });
  connect(AddButton("ZoomOutButton", QStringLiteral("-")), &QPushButton::clicked, this, [this] { SetZoom(zoom_ - kZoomStep); });
  connect(AddButton("FirstPageButton", QStringLiteral("|<")), &QPushButton::clicked, this, [this] { ShowPage(1); });
  connect(AddButton("PriorPageButton", QStringLiteral("<")), &QPushButton::clicked, this, [this] { ShowPage(page_ - 1); });
  page_label_ = new QLabel(toolbar_);
  page_label_->setObjectName("PageLabel");
  bar->addWidget(page_label_);
  connect(AddButton("NextPageButton", QStringLiteral(">")), &QPushButton::clicked, this, [this] { ShowPage(page_ + 1); });
  connect(AddButton("LastPageButton", QStringLiteral(">|")), &QPushButton::clicked, this, [this] { ShowPage(PageCount()); });
  bar->addStretch(1);
  connect(AddButton("PrintButton", QStringLiteral("Print")), &QPushButton::clicked, this, [this] { PrintReport(); });
  QPushButton* close = AddButton("CloseButton", QStringLiteral("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  scroll_ = new QScrollArea(this);
  scroll_->setAlignment(Qt::AlignCenter);
  scroll_->setBackgroundRole(QPalette::Dark);
  view_ = new QLabel;
  view_->setObjectName("PageView");
  scroll_->setWidget(view_);
  layout->addWidget(scroll_, 1);

  zoom_ = std::clamp(report.Page().Zoom, kMinZoom, kMaxZoom);
  resize(900, 800);
  Render();
}

QPushButton* TQRPreview::AddButton(const char* name, const QString& text) {
  auto* button = new QPushButton(text, toolbar_);
  button->setObjectName(name);
  button->setAutoDefault(false);
  toolbar_->layout()->addWidget(button);
  return button;
}

int TQRPreview::PageCount() const { return report_.Prepared() != nullptr ? report_.Prepared()->PageCount() : 0; }

void TQRPreview::ShowPage(int page) {
  page_ = std::clamp(page, 1, std::max(1, PageCount()));
  Render();
}

void TQRPreview::SetZoom(int percent) {
  zoom_ = std::clamp(percent, kMinZoom, kMaxZoom);
  Render();
}

void TQRPreview::ZoomToFit() {
  const TQRPreparedReport* r = report_.Prepared();
  if (r == nullptr) return;
  const QSize area = scroll_->viewport()->size();
  const double z = std::min(area.width() / r->PaperWidth(), area.height() / r->PaperHeight()) * 100;
  SetZoom(static_cast<int>(std::floor(z)));
}

void TQRPreview::ZoomToWidth() {
  const TQRPreparedReport* r = report_.Prepared();
  if (r == nullptr) return;
  const int width = scroll_->viewport()->width() - scroll_->verticalScrollBar()->sizeHint().width();
  SetZoom(static_cast<int>(std::floor(width / r->PaperWidth() * 100)));
}

void TQRPreview::Render() {
  const int count = PageCount();
  page_label_->setText(QStringLiteral("Page %1 of %2").arg(count == 0 ? 0 : page_).arg(count));
  for (const char* name : {"FirstPageButton", "PriorPageButton"})
    toolbar_->findChild<QPushButton*>(name)->setEnabled(page_ > 1);
  for (const char* name : {"NextPageButton", "LastPageButton"})
    toolbar_->findChild<QPushButton*>(name)->setEnabled(page_ < count);
  toolbar_->findChild<QPushButton*>("PrintButton")->setEnabled(count > 0);
  if (count == 0) {
    view_->clear();
    view_->adjustSize();
    return;
  }
  view_->setPixmap(QPixmap::fromImage(report_.Prepared()->RenderPage(page_ - 1, zoom_)));
  view_->adjustSize();
}

void TQRPreview::PrintReport() {
  const TQRPreparedReport* prepared = report_.Prepared();
  if (prepared == nullptr) return;
  try {
    QPrinter printer(QPrinter::HighResolution);
    bool go;
    if (report_.OnPrinterSetup) {
      go = report_.OnPrinterSetup(printer);
    } else {
      QPrintDialog dialog(&printer, this);
      go = dialog.exec() == QDialog::Accepted;
    }
    if (go) prepared->Print(printer);
  } catch (const std::exception& e) {
    report_.ReportError(e.what(), this);
  }
}

void TQRPreview::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageDown: ShowPage(page_ + 1); return;
    case Qt::Key_PageUp: ShowPage(page_ - 1); return;
    case Qt::Key_Home:
      if (event->modifiers() & Qt::ControlModifier) {
        ShowPage(1);
        return;
      }
      break;
    case Qt::Key_End:
      if (event->modifiers() & Qt::ControlModifier) {
        ShowPage(PageCount());
        return;
      }
      break;
    default: break;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace fw
