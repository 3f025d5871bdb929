#include "framework/forms/progress_bar.h"

#include <algorithm>

#include <QProgressBar>

namespace fw {

TProgressBar::TProgressBar(TComponent* owner) : TControl(owner, new QProgressBar) {
  Bar()->setRange(0, 100);
  Bar()->setValue(0);
  Bar()->setTextVisible(false);
}

QProgressBar* TProgressBar::Bar() const { return static_cast<QProgressBar*>(Widget()); }

int TProgressBar::Min() const { return Bar()->minimum(); }
void TProgressBar::SetMin(int v) { Bar()->setMinimum(v); }
int TProgressBar::Max() const { return Bar()->maximum(); }
void TProgressBar::SetMax(int v) { Bar()->setMaximum(v); }
int TProgressBar::Position() const { return Bar()->value(); }
void TProgressBar::SetPosition(int v) { Bar()->setValue(std::clamp(v, Min(), Max())); }
void TProgressBar::StepBy(int delta) { SetPosition(Position() + delta); }

}  // namespace fw
