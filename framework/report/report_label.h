// Text controls of a report band: TQRLabel prints its Caption, TQRDBText
// the value of a dataset field for the record being printed.
//
// Sizing rules, in this order:
//   AutoStretch  the text wraps at word boundaries within Width, and the
//                control grows downwards until every line shows (its band
//                grows with it, controls below it move down);
//   WordWrap     the text wraps within Width; lines below Height are cut
//                (the first line always shows);
//   AutoSize     one line per paragraph, as wide as the text;
//   otherwise    one line per paragraph, cut at Height as above.
// Line breaks in the text (CR LF, LF or CR) always start a new line.
// Text is ANSI (code page 1252), as everywhere in the framework.
#pragma once

#include <string>

#include <QStringList>

#include "framework/report/report_printable.h"

namespace fw {

class TQRCustomLabel : public TQRPrintable {
 public:
  using TQRPrintable::TQRPrintable;

  TQRAlignment Alignment() const { return alignment_; }
  void SetAlignment(TQRAlignment a) { alignment_ = a; }
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool v) { auto_size_ = v; }
  bool AutoStretch() const { return auto_stretch_; }
  void SetAutoStretch(bool v) { auto_stretch_ = v; }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v) { word_wrap_ = v; }

  // The text to print for the current record.
  virtual std::string PrintText() const = 0;

 protected:
  double PrepareContent() override;
  void EmitContent(std::vector<TQRItem>& items, const QRectF& rect) override;

 private:
  TQRAlignment alignment_ = TQRAlignment::taLeftJustify;
  bool auto_size_ = true;
  bool auto_stretch_ = false;
  bool word_wrap_ = false;
  // Prepared for the record being printed.
  QStringList lines_;
  std::vector<double> widths_;
  double line_height_ = 0;
  double ascent_ = 0;
};

class TQRLabel : public TQRCustomLabel {
 public:
  using TQRCustomLabel::TQRCustomLabel;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  std::string PrintText() const override { return caption_; }

 private:
  std::string caption_;
};

// Prints the field's display text; memo fields print their whole text, other
// BLOB fields nothing. Without a DataSet of its own it reads the report's.
// A missing field raises "Field '<name>' not found" while printing.
class TQRDBText : public TQRCustomLabel {
 public:
  explicit TQRDBText(TQRBand* parent) : TQRCustomLabel(parent), binding_(*this) {}
  TDataSet* DataSet() const { return binding_.DataSet(); }
  void SetDataSet(TDataSet* dataset) { binding_.SetDataSet(dataset); }
  const std::string& DataField() const { return binding_.DataField(); }
  void SetDataField(const std::string& name) { binding_.SetDataField(name); }
  std::string PrintText() const override;

 protected:
  void Notification(TComponent* component, bool inserting) override;

 private:
  TQRDataBinding binding_;
};

// Lines of text broken for printing: paragraphs at line breaks, and each
// paragraph at word boundaries (inside a word when one word is wider)
// within width; width <= 0 breaks at line breaks only. Measured with the
// report's 96 dpi metrics; widths receives each line's width.
QStringList BreakTextLines(const QString& text, const TQRFont& font, double width, std::vector<double>* widths);
// Line spacing and ascent of font in report pixels.
double ReportLineHeight(const TQRFont& font);
double ReportAscent(const TQRFont& font);

}  // namespace fw
