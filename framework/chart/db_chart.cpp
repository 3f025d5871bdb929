#include "framework/chart/db_chart.h"

#include <algorithm>
#include <set>

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QApplication>
#include <QGraphicsLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QValueAxis>

#include "framework/printing/print_job.h"
#include "framework/streams.h"
#include "platform/text.h"

namespace fw {

namespace {

constexpr QSize kDefaultSize(640, 480);
// Paper margin of a printed chart, report pixels (half an inch).
constexpr double kPrintMargin = kReportPixelsPerInch / 2;
// A category axis keeps one entry per distinct text; labels that are
// empty or repeat get zero-width spaces added, which show nothing. The axis
// draws its labels as HTML, so they go to it escaped: a label is the
// user's text, never markup.
const QChar kZeroWidthSpace(0x200B);
// Type of a compact chart, points.
constexpr int kCompactTitlePoints = 8;
constexpr int kCompactLabelPoints = 7;

// A compact chart's label: its words on lines of their own, centred under
// each other; a word of one or two characters ("/", "&amp;" counts as one)
// stays on the line before it. text is HTML-escaped already.
QString StackedLabel(const QString& text) {
  QStringList lines;
  for (const QString& word : text.split(QChar(' '), Qt::SkipEmptyParts)) {
    static const QRegularExpression kEntity(QStringLiteral("&[a-z]+;"));
    const qsizetype shown = QString(word).replace(kEntity, QStringLiteral("x")).size();
    if (!lines.isEmpty() && shown <= 2)
      lines.back() += QChar(' ') + word;
    else
      lines.append(word);
  }
  if (lines.size() < 2) return text;
  return QStringLiteral("<div align=\"center\">") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</div>");
}

QFont PointFont(int points, bool bold = false) {
  QFont f = QApplication::font();
  f.setPointSize(points);
  f.setBold(bold);
  return f;
}

QString FromAnsi(const std::string& text) { return QString::fromStdString(platform::Cp1252ToUtf8(text)); }

QColor ToColor(TColor color) {
  const TColor c = ColorToRGB(color);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

}  // namespace

class TDBChart::ClickFilter : public QObject {
 public:
  explicit ClickFilter(TDBChart& chart) : chart_(chart) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonRelease || !chart_.OnClick) return QObject::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton ||
        !static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint()))
      return false;
    try {
      chart_.OnClick(chart_);
    } catch (const std::exception& e) {
      QMessageBox::warning(chart_.view_, QApplication::applicationDisplayName(),
                           QString::fromStdString(platform::Cp1252ToUtf8(e.what())));
    }
    return false;
  }

 private:
  TDBChart& chart_;
};

TDBChart::TDBChart(TComponent* owner)
    : TComponent(owner), view_(new QChartView), chart_(new QChart), click_filter_(std::make_unique<ClickFilter>(*this)) {
  view_->viewport()->installEventFilter(click_filter_.get());
  chart_->setAnimationOptions(QChart::NoAnimation);
  // A chart view comes with a chart of its own, which setChart gives up
  // without freeing.
  QChart* initial = view_->chart();
  view_->setChart(chart_);
  delete initial;
  view_->setRenderHint(QPainter::Antialiasing);
  SetBackWall(back_wall_);
}

TDBChart::~TDBChart() {
  // The series tell the chart when they go; the chart must still be whole.
  MarkDestroying();
  DestroyComponents();
  if (view_ != nullptr) view_->viewport()->removeEventFilter(click_filter_.get());
  delete view_.data();
}

void TDBChart::SetTitle(const std::string& title) {
  title_ = title;
  chart_->setTitle(FromAnsi(title));
}

void TDBChart::SetLegendVisible(bool v) {
  legend_visible_ = v;
  chart_->legend()->setVisible(v);
}

void TDBChart::SetCompact(bool v) {
  compact_ = v;
  if (v) {
    chart_->setTitleFont(PointFont(kCompactTitlePoints, true));
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chart_->setBackgroundRoundness(0);
    if (chart_->layout() != nullptr) chart_->layout()->setContentsMargins(0, 0, 0, 0);
  } else {
    const QChart defaults;
    chart_->setTitleFont(defaults.titleFont());
    chart_->setMargins(defaults.margins());
    chart_->setBackgroundRoundness(defaults.backgroundRoundness());
    if (chart_->layout() != nullptr && defaults.layout() != nullptr) {
      qreal l, t, r, b;
      defaults.layout()->getContentsMargins(&l, &t, &r, &b);
      chart_->layout()->setContentsMargins(l, t, r, b);
    }
  }
  Rebuild();
}

void TDBChart::SetBackWall(const TChartWall& wall) {
  back_wall_ = wall;
  chart_->setPlotAreaBackgroundBrush(ToColor(wall.Color));
  chart_->setPlotAreaBackgroundVisible(!wall.Transparent);
}

std::vector<TBarSeries*> TDBChart::Series() const {
  std::vector<TBarSeries*> out;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* s = dynamic_cast<TBarSeries*>(Components(i))) out.push_back(s);
  return out;
}

void TDBChart::RefreshData() {
  for (TBarSeries* s : Series()) s->CheckDataSource();
}

void TDBChart::SeriesChanged() {
  if (!Destroying()) Rebuild();
}

void TDBChart::Rebuild() {
  chart_->removeAllSeries();
  for (QAbstractAxis* axis : chart_->axes()) {
    chart_->removeAxis(axis);
    delete axis;
  }
  const std::vector<TBarSeries*> series = Series();
  if (series.empty()) return;

  QStringList categories;
  std::set<QString> used;
  for (int i = 0; i < series.front()->Count(); ++i) {
    QString text = FromAnsi(series.front()->XLabel(i)).toHtmlEscaped();
    if (compact_) text = StackedLabel(text);
    if (text.isEmpty()) text = kZeroWidthSpace;
    while (!used.insert(text).second) text += kZeroWidthSpace;
    categories.append(text);
  }

  double low = 0;
  double high = 0;
  std::vector<QBarSeries*> bars;
  for (TBarSeries* s : series) {
    auto* set = new QBarSet(FromAnsi(s->Title()));
    for (int i = 0; i < s->Count(); ++i) {
      set->append(s->YValue(i));
      low = std::min(low, s->YValue(i));
      high = std::max(high, s->YValue(i));
    }
    auto* bar = new QBarSeries;
    bar->append(set);
    bar->setLabelsVisible(s->MarksVisible());
    bar->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    bar->setLabelsFormat(QStringLiteral("@value"));
    chart_->addSeries(bar);
    // After addSeries: the chart's theme paints the sets as they join it.
    set->setColor(ToColor(s->SeriesColor()));
    set->setBorderColor(Qt::black);
    set->setLabelColor(Qt::black);
    if (compact_) set->setLabelFont(PointFont(kCompactLabelPoints));
    bars.push_back(bar);
  }

  auto* x_axis = new QBarCategoryAxis;
  x_axis->append(categories);
  chart_->addAxis(x_axis, Qt::AlignBottom);
  auto* y_axis = new QValueAxis;
  // Room above the tallest bar for its value mark.
  y_axis->setRange(low, high > low ? high + (high - low) * 0.1 : low + 1);
  y_axis->applyNiceNumbers();
  y_axis->setLabelFormat(QStringLiteral("%g"));
  if (compact_) {
    // Stacked, the labels fit their categories; the chart's own estimate of
    // their room is narrower than what it gives them.
    x_axis->setLabelsFont(PointFont(kCompactLabelPoints));
    x_axis->setTruncateLabels(false);
    // The bars carry their values: the width goes to the categories.
    y_axis->setLabelsVisible(false);
  }
  chart_->addAxis(y_axis, Qt::AlignLeft);
  for (QBarSeries* bar : bars) {
    bar->attachAxis(x_axis);
    bar->attachAxis(y_axis);
  }
}

QSize TDBChart::LogicalSize() const {
  return view_ != nullptr && view_->isVisible() && !view_->size().isEmpty() ? view_->size() : kDefaultSize;
}

void TDBChart::Render(QPainter& painter, const QRectF& target, QSize size) {
  // The chart is laid out at size for the drawing, then put back.
  const QRectF old = chart_->geometry();
  chart_->setGeometry(QRectF(QPointF(0, 0), size));
  if (chart_->layout() != nullptr) chart_->layout()->activate();
  chart_->scene()->render(&painter, target, QRectF(QPointF(0, 0), size), Qt::IgnoreAspectRatio);
  chart_->setGeometry(old);
  if (chart_->layout() != nullptr) chart_->layout()->activate();
}

QImage TDBChart::Grab(QSize size) {
  if (size.isEmpty()) size = LogicalSize();
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  Render(painter, QRectF(QPointF(0, 0), size), size);
  painter.end();
  return image;
}

void TDBChart::SaveToPngFile(const std::string& file_name, QSize size) {
  if (!Grab(size).save(QString::fromStdString(file_name), "PNG"))
    throw EFCreateError("Cannot create file " + file_name);
}

void TDBChart::Print() {
  QPrinter printer(QPrinter::HighResolution);
  PrintTo(printer);
}

void TDBChart::PrintTo(QPrinter& printer) {
  TPrintJob job(printer, FromAnsi(title_));
  const QSize size = LogicalSize();
  const double width = job.PageWidth() - 2 * kPrintMargin;
  const double height = job.PageHeight() - 2 * kPrintMargin;
  const double scale = std::min(width / size.width(), height / size.height());
  Render(job.Painter(), QRectF(kPrintMargin, kPrintMargin, size.width() * scale, size.height() * scale), size);
  job.Finish();
}

}  // namespace fw
