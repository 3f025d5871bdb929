#include "framework/report/report_label.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QImage>
#include <QTextLayout>

#include "framework/db/field.h"
#include "framework/printing/print_job.h"
#include "platform/text.h"

namespace fw {

namespace {

// The device text is measured on: report pixels, 96 to the inch.
const QPaintDevice* MeasureDevice() {
  static const QImage* device = [] {
    auto* image = new QImage(1, 1, QImage::Format_RGB32);
    const int dpm = static_cast<int>(std::lround(kReportPixelsPerInch / 0.0254));
    image->setDotsPerMeterX(dpm);
    image->setDotsPerMeterY(dpm);
    return image;
  }();
  return device;
}

QString FromAnsi(const std::string& text) { return QString::fromStdString(platform::Cp1252ToUtf8(text)); }

// Drops the spaces a line break leaves at the end of a line.
QString TrimRight(QString s) {
  qsizetype n = s.size();
  while (n > 0 && s[n - 1].isSpace()) --n;
  s.truncate(n);
  return s;
}

}  // namespace

double ReportLineHeight(const TQRFont& font) {
  return QFontMetricsF(ToQFont(font), MeasureDevice()).lineSpacing();
}

double ReportAscent(const TQRFont& font) { return QFontMetricsF(ToQFont(font), MeasureDevice()).ascent(); }

QStringList BreakTextLines(const QString& text, const TQRFont& font, double width, std::vector<double>* widths) {
  QString normal = text;
  normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  normal.replace(QChar('\r'), QChar('\n'));
  const QFont qfont = ToQFont(font);
  const QFontMetricsF metrics(qfont, MeasureDevice());
  QStringList lines;
  auto add = [&](const QString& line) {
    lines.append(line);
    if (widths != nullptr) widths->push_back(metrics.horizontalAdvance(line));
  };
  for (const QString& paragraph : normal.split(QChar('\n'))) {
    if (width <= 0 || paragraph.isEmpty()) {
      add(paragraph);
      continue;
    }
    QTextLayout layout(paragraph, qfont, MeasureDevice());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      add(TrimRight(paragraph.mid(line.textStart(), line.textLength())));
    }
    layout.endLayout();
  }
  return lines;
}

double TQRCustomLabel::PrepareContent() {
  widths_.clear();
  const bool wrap = auto_stretch_ || word_wrap_;
  lines_ = BreakTextLines(FromAnsi(PrintText()), Font(), wrap ? Width() : 0, &widths_);
  line_height_ = ReportLineHeight(Font());
  ascent_ = ReportAscent(Font());
  if (!auto_stretch_) return 0;
  const double needed = line_height_ * static_cast<double>(lines_.size());
  return std::max(0.0, std::ceil(needed - Height()));
}

void TQRCustomLabel::EmitContent(std::vector<TQRItem>& items, const QRectF& rect) {
  TQRTextItem text;
  text.Rect = rect;
  if (auto_size_ && !auto_stretch_ && !word_wrap_) {
    const double widest = widths_.empty() ? 0 : *std::max_element(widths_.begin(), widths_.end());
    text.Rect.setWidth(std::ceil(widest));
  }
  // The first line always shows; the others while they fit.
  qsizetype shown = lines_.size();
  if (!auto_stretch_ && line_height_ > 0) {
    const auto fit = static_cast<qsizetype>(std::floor((rect.height() + 0.01) / line_height_));
    shown = std::min(shown, std::max<qsizetype>(fit, 1));
  }
  text.Lines = lines_.mid(0, shown);
  text.LineWidths.assign(widths_.begin(), widths_.begin() + std::min<qsizetype>(shown, static_cast<qsizetype>(widths_.size())));
  text.LineHeight = line_height_;
  text.Ascent = ascent_;
  text.Font = Font();
  text.Alignment = alignment_;
  items.push_back(std::move(text));
}

std::string TQRDBText::PrintText() const {
  TDataSet* dataset = EffectiveDataSet(binding_.DataSet());
  if (dataset == nullptr || binding_.DataField().empty()) return {};
  dataset->CheckActive();
  const TField* field = dataset->FieldByName(binding_.DataField());
  switch (field->DataType()) {
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
      return field->AsString();
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
      return {};
    default:
      return field->DisplayText();
  }
}

void TQRDBText::Notification(TComponent* component, bool inserting) {
  TQRCustomLabel::Notification(component, inserting);
  if (!inserting) binding_.Forget(component);
}

}  // namespace fw
