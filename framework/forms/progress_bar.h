// TProgressBar: a bar from Min to Max at Position; StepIt adds Step.
#pragma once

#include "framework/forms/control.h"

class QProgressBar;

namespace fw {

class TProgressBar : public TControl {
 public:
  explicit TProgressBar(TComponent* owner);
  int Min() const;
  void SetMin(int v);
  int Max() const;
  void SetMax(int v);
  int Position() const;
  void SetPosition(int v);  // clamped to Min..Max
  int Step() const { return step_; }
  void SetStep(int v) { step_ = v; }
  void StepIt() { StepBy(step_); }
  void StepBy(int delta);
  // Smooth: one continuous bar (the look only).
  bool Smooth() const { return smooth_; }
  void SetSmooth(bool v) { smooth_ = v; }

 private:
  QProgressBar* Bar() const;
  int step_ = 10;
  bool smooth_ = false;
};

}  // namespace fw
