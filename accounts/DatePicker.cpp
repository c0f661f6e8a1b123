#include "accounts/DatePicker.h"

#include "helpers/Platform.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QKeyEvent>

namespace {
// The date that stands for "no date": below any date the console stores.
const QDate kNoDate(1752, 9, 14);
} // namespace

TDatePicker::TDatePicker(QWidget* parent)
    : QDateEdit(parent)
{
    setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
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

bool TDatePicker::focusNextPrevChild(bool next)
{
    // Tab goes to the next control, not to the next part of the date.
    return QWidget::focusNextPrevChild(next);
}

void TDatePicker::changeEvent(QEvent* e)
{
    QDateEdit::changeEvent(e);
    if (e->type() == QEvent::PaletteChange)
        keepCalendarPlain();
}

void TDatePicker::showEvent(QShowEvent* e)
{
    QDateEdit::showEvent(e);
    keepCalendarPlain();
}

// The calendar's window would take the picker's palette, and with it the
// box's colour as its own background. It gets the application's palette
// with every colour fixed, so that nothing of the picker's comes through.
void TDatePicker::keepCalendarPlain()
{
    QCalendarWidget* calendar = calendarPopup() ? calendarWidget() : nullptr;
    if (!calendar || calendar->window() == window())
        return;
    QWidget* popup = calendar->window();
    const QPalette plain = QApplication::palette(calendar);
    QPalette fixed;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (int role = 0; role < QPalette::NColorRoles; ++role)
            if (role != QPalette::NoRole)
                fixed.setBrush(group, QPalette::ColorRole(role), plain.brush(group, QPalette::ColorRole(role)));
    if (popup->palette() != fixed || popup->palette().resolveMask() != fixed.resolveMask())
        popup->setPalette(fixed);
}
