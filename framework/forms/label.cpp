#include "framework/forms/label.h"

#include <QLabel>

#include "framework/forms/qt_text.h"

namespace fw {

TLabel::TLabel(TComponent* owner) : TControl(owner, new QLabel) {
  SetClickOnMouseRelease(true);
  Label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ColorChanged();
}

QLabel* TLabel::Label() const { return static_cast<QLabel*>(Widget()); }

void TLabel::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  if (Label() == nullptr) return;
  Label()->setText(QStr(caption));
  Fit();
}

void TLabel::Fit() {
  if (!auto_size_ || Label() == nullptr) return;
  const QSize s = word_wrap_ ? QSize(Width(), Label()->heightForWidth(Width())) : Label()->sizeHint();
  SetBounds(Left(), Top(), s.width(), s.height());
}

void TLabel::SetAutoSize(bool v) {
  auto_size_ = v;
  Fit();
}

void TLabel::SetAlignment(TAlignment a) {
  alignment_ = a;
  Qt::Alignment h = a == TAlignment::taCenter        ? Qt::AlignHCenter
                    : a == TAlignment::taRightJustify ? Qt::AlignRight
                                                      : Qt::AlignLeft;
  if (Label() != nullptr) Label()->setAlignment(h | Qt::AlignTop);
}

void TLabel::SetWordWrap(bool v) {
  word_wrap_ = v;
  if (Label() != nullptr) Label()->setWordWrap(v);
  Fit();
}

void TLabel::SetTransparent(bool v) {
  transparent_ = v;
  ColorChanged();
}

void TLabel::FontChanged() {
  TControl::FontChanged();
  Fit();
}

void TLabel::ColorChanged() {
  if (Label() == nullptr) return;
  Label()->setAutoFillBackground(!transparent_);
  QPalette p = Label()->palette();
  p.setColor(QPalette::Window, QtColor(Color()));
  Label()->setPalette(p);
}

}  // namespace fw
