#include "framework/dbctrls/db_date_edit.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QKeyEvent>

#include <cmath>

#include "framework/db/field.h"
#include "framework/forms/application.h"

namespace fw {

namespace {

// Day 0 of TDateTime; the blank value sits below every real date.
const QDate kDayZero(1899, 12, 30);
const QDate kBlank(100, 1, 1);

QDate ToQDate(TDateTime v) { return kDayZero.addDays(static_cast<qint64>(std::floor(v))); }
TDateTime FromQDate(const QDate& d) { return static_cast<TDateTime>(kDayZero.daysTo(d)); }

// The calendar of a blank date opens at the current month: the blank value
// is the year 100, where nobody would look for a date to pick.
class BlankDateCalendar : public QObject {
 public:
  BlankDateCalendar(QDateEdit* edit, QObject* parent) : QObject(parent), edit_(edit) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && edit_->date() == kBlank) {
      const QDate today = QDate::currentDate();
      static_cast<QCalendarWidget*>(watched)->setCurrentPage(today.year(), today.month());
    }
    return false;
  }

 private:
  QDateEdit* edit_;
};

}  // namespace

TDBDateEdit::TDBDateEdit(TComponent* owner) : TFieldControl(owner, new QDateEdit) {
  Edit()->setCalendarPopup(true);
  Edit()->setMinimumDate(kBlank);
  Edit()->setSpecialValueText(QStringLiteral(" "));
  Edit()->setDisplayFormat(QStringLiteral("M/d/yyyy"));
  Edit()->setDate(kBlank);
  QCalendarWidget* calendar = Edit()->calendarWidget();
  calendar->installEventFilter(new BlankDateCalendar(Edit(), calendar));
  QObject::connect(Edit(), &QDateEdit::dateChanged, Edit(), [this] {
    if (!showing_) Guarded([&] { UserChanged(); }, this);
  });
}

QDateEdit* TDBDateEdit::Edit() const { return static_cast<QDateEdit*>(Widget()); }

bool TDBDateEdit::Date(TDateTime& value) const {
  if (Edit()->date() == kBlank) return false;
  value = FromQDate(Edit()->date());
  return true;
}

void TDBDateEdit::SetDate(TDateTime value) { Edit()->setDate(value < 0 ? kBlank : ToQDate(value)); }

void TDBDateEdit::SetReadOnly(bool v) {
  TFieldControl::SetReadOnly(v);
  Edit()->setReadOnly(v);
}

void TDBDateEdit::UserChanged() {
  const QDate chosen = Edit()->date();
  if (!BeginUserChange()) return;
  if (Edit()->date() != chosen) {
    showing_ = true;
    Edit()->setDate(chosen);
    showing_ = false;
    link_.SetModified();
  }
}

bool TDBDateEdit::WidgetEvent(QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
      !Edit()->isReadOnly()) {
    Edit()->setDate(kBlank);
    return true;
  }
  return TFieldControl::WidgetEvent(event);
}

void TDBDateEdit::DataChange() {
  TField* f = Field();
  Edit()->setDate(f != nullptr && !f->IsNull() ? ToQDate(f->AsDateTime()) : kBlank);
}

void TDBDateEdit::UpdateData() {
  TField* f = Field();
  if (f == nullptr) return;
  TDateTime v;
  if (!Date(v)) {
    f->Clear();
    return;
  }
  // A date-and-time field keeps its time of day.
  if (f->DataType() == TFieldType::ftDateTime && !f->IsNull()) {
    const TDateTime old = f->AsDateTime();
    v += old - std::floor(old);
  }
  f->SetAsDateTime(v);
}

}  // namespace fw
