#include "accounts/DatePicker.h"

#include "helpers/Platform.h"

#include <QCalendarWidget>
#include <QKeyEvent>

namespace {
// The date that stands for "no date": below any date the console stores.
const QDate kNoDate(1752, 9, 14);
} // namespace

TDatePicker::TDatePicker(QWidget* parent)
    : QDateEdit(parent)
{
    setMinimumDate(kNoDate);
    setSpecialValueText(QStringLiteral(" "));
    setToolTip(QStringLiteral("Delete clears the date."));
    connect(this, &QDateEdit::dateChanged, this, [this] {
        if (!m_setting)
            m_changed = true;
    });
    setValue(QDate());
}

void TDatePicker::setValue(const QDate& d)
{
    const QDate shown = d.isValid() && d > kNoDate ? d : kNoDate;
    m_setting = true;
    if (date() != shown)
        setDate(shown);
    m_setting = false;
    m_changed = false;
}

QDate TDatePicker::value() const
{
    return isEmpty() ? QDate() : date();
}

void TDatePicker::startFromToday()
{
    setDate(Trellane::platform().today());
    setSelectedSection(QDateTimeEdit::MonthSection);
}

void TDatePicker::stepBy(int steps)
{
    if (isEmpty()) {
        startFromToday();
        return;
    }
    QDateEdit::stepBy(steps);
}

void TDatePicker::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Delete) {
        clearValue();
        e->accept();
        return;
    }
    if (isEmpty() && !e->text().isEmpty() && e->text().at(0).isDigit())
        startFromToday();
    QDateEdit::keyPressEvent(e);
}

void TDatePicker::mousePressEvent(QMouseEvent* e)
{
    const bool wasEmpty = isEmpty();
    QDateEdit::mousePressEvent(e);
    // The calendar of an empty picker opens on today, not on the blank date;
    // a click into the text alone changes nothing.
    if (wasEmpty && calendarPopup() && calendarWidget() && calendarWidget()->isVisible()) {
        const QDate today = Trellane::platform().today();
        setDate(today);
        calendarWidget()->setSelectedDate(today);
    }
}
