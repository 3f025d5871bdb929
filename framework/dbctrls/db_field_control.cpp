#include "framework/dbctrls/db_field_control.h"

#include <QEvent>
#include <QLabel>

#include "framework/db/dataset.h"
#include "framework/db/field.h"
#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"

namespace fw {

TFieldControl::TFieldControl(TComponent* owner, QWidget* widget) : TControl(owner, widget) {
  link_.OnDataChange = [this] {
    showing_ = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{showing_};
    DataChange();
  };
  link_.OnUpdateData = [this] { UpdateData(); };
  link_.OnActiveChange = [this] { link_.Reset(); };
}

TFieldControl::~TFieldControl() {
  link_.OnDataChange = nullptr;
  link_.OnUpdateData = nullptr;
  link_.OnActiveChange = nullptr;
  link_.SetDataSource(nullptr);
}

bool TFieldControl::BeginUserChange() {
  if (read_only_ || !link_.Edit()) {
    link_.Reset();
    return false;
  }
  link_.SetModified();
  return true;
}

bool TFieldControl::WidgetEvent(QEvent* event) {
  // Leaving the control stores its value (a bad value shows the error).
  if (event->type() == QEvent::FocusOut && link_.Modified() && link_.Editing()) link_.UpdateRecord();
  return TControl::WidgetEvent(event);
}

TDBText::TDBText(TComponent* owner) : TFieldControl(owner, new QLabel) { SetClickOnMouseRelease(true); }

void TDBText::DataChange() {
  auto* label = static_cast<QLabel*>(Widget());
  if (label == nullptr) return;
  TField* f = Field();
  label->setText(f != nullptr ? QStr(f->DisplayText()) : (link_.Active() ? QString() : QStr(Name())));
}

}  // namespace fw
