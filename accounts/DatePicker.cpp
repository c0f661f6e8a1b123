#include "accounts/DatePicker.h"

#include "helpers/Platform.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

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
    const bool typing = m_typing;
    m_typing = false;
    m_setting = true;
    if (typing || date() != shown)
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
    if (!finishTyping())
        return;
    if (isEmpty()) {
        startFromToday();
        return;
    }
    QDateEdit::stepBy(steps);
}

QValidator::State TDatePicker::validate(QString& input, int& pos) const
{
    // What is being typed is checked when the typing ends, not per key.
    if (m_typing)
        return QValidator::Intermediate;
    return QDateEdit::validate(input, pos);
}

bool TDatePicker::event(QEvent* e)
{
    // Escape abandons the typing before any shortcut of the window sees it.
    if (m_typing && e->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
        e->accept();
        return true;
    }
    return QDateEdit::event(e);
}

void TDatePicker::keyPressEvent(QKeyEvent* e)
{
    const QString text = e->text();
    const QChar c = text.size() == 1 && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) ? text.at(0)
                                                                                                      : QChar();
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
        typeDigit(c);
        e->accept();
        return;
    }
    if (m_typing) {
        switch (e->key()) {
        case Qt::Key_Escape:
            m_typing = false;  // abandoned: the picker's own date again
            showDate();
            e->accept();
            return;
        case Qt::Key_Delete:
            m_typing = false;  // and the picker is emptied below
            break;
        case Qt::Key_Backspace:
            if (m_typed > 0) {
                m_parts[m_part].chop(1);
                --m_typed;
                showTyping();
            }
            e->accept();
            return;
        default:
            if (QStringLiteral("/-. ").contains(c)) {
                // A separator ends a part typed into; after a part that was
                // full already it is passed over.
                if (m_typed > 0)
                    nextPart();
                e->accept();
                return;
            }
            // Other characters are no part of a date; any other key (Enter,
            // an arrow) ends the typing first.
            if (c.isPrint() || !finishTyping()) {
                e->accept();
                return;
            }
        }
    }
    if (e->key() == Qt::Key_Delete) {
        clearValue();
        e->accept();
        return;
    }
    QDateEdit::keyPressEvent(e);
}

void TDatePicker::typeDigit(QChar digit)
{
    if (!m_typing) {
        // Typing starts in the part under the cursor, the others as shown;
        // in an empty picker from today's date.
        const bool empty = isEmpty();
        const QDate from = empty ? Trellane::platform().today() : date();
        m_parts[0] = from.toString(QStringLiteral("MM"));
        m_parts[1] = from.toString(QStringLiteral("dd"));
        m_parts[2] = from.toString(QStringLiteral("yyyy"));
        const Section section = empty ? MonthSection : currentSection();
        m_part = section == YearSection ? 2 : section == DaySection ? 1 : 0;
        m_typed = 0;
        m_typing = true;
    }
    QString& part = m_parts[m_part];
    if (m_typed == 0)
        part.clear();
    part += digit;
    ++m_typed;
    // A month from 2 or a day from 4 on has no second digit.
    const bool single = m_typed == 1
        && ((m_part == 0 && digit > QLatin1Char('1')) || (m_part == 1 && digit > QLatin1Char('3')));
    if (part.size() == (m_part == 2 ? 4 : 2) || single) {
        if (m_part == 2)
            finishTyping();
        else
            nextPart();
        return;
    }
    showTyping();
}

// The part typed into is complete: on to the next one.
void TDatePicker::nextPart()
{
    if (m_part == 2)
        return;
    if (m_typed > 0)
        m_parts[m_part] = m_parts[m_part].rightJustified(2, QLatin1Char('0'));
    ++m_part;
    m_typed = 0;
    showTyping();
}

void TDatePicker::showTyping()
{
    // Written past the date parser, which would read each part on its own
    // and change what was typed.
    QLineEdit* edit = lineEdit();
    const QSignalBlocker quiet(edit);
    edit->setText(typedText());
    int start = 0;
    for (int i = 0; i < m_part; ++i)
        start += int(m_parts[i].size()) + 1;
    // A part not yet typed into is selected: the next digit replaces it.
    if (m_typed == 0)
        edit->setSelection(start, int(m_parts[m_part].size()));
    else
        edit->setCursorPosition(start + int(m_parts[m_part].size()));
}

void TDatePicker::showDate()
{
    setDate(date());  // the same date: nothing changes but the text
}

QString TDatePicker::typedText() const
{
    return m_parts[0] + QLatin1Char('/') + m_parts[1] + QLatin1Char('/') + m_parts[2];
}

bool TDatePicker::finishTyping()
{
    return endTyping(false);
}

bool TDatePicker::endTyping(bool messageLater)
{
    if (!m_typing)
        return true;
    m_typing = false;
    for (int i = 0; i < 2; ++i)
        m_parts[i] = m_parts[i].rightJustified(2, QLatin1Char('0'));
    const QString typed = typedText();
    const QDate d = m_parts[2].size() == 4 ? QDate::fromString(typed, QStringLiteral("MM/dd/yyyy")) : QDate();
    if (d.isValid() && d > minimumDate() && d <= maximumDate()) {
        setDate(d);
        return true;
    }
    showDate();
    const QString message = typed + QStringLiteral(" is not a valid date.");
    if (messageLater)
        QTimer::singleShot(0, this, [message] { Trellane::platform().showMessage(message); });
    else
        Trellane::platform().showMessage(message);
    return false;
}

bool TDatePicker::finishPanel(const QWidget* panel)
{
    for (TDatePicker* picker : panel->findChildren<TDatePicker*>()) {
        if (!picker->finishTyping()) {
            picker->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    return true;
}

void TDatePicker::focusOutEvent(QFocusEvent* e)
{
    // Leaving the picker ends the typing; a refusal is told once the focus
    // has moved.
    endTyping(true);
    QDateEdit::focusOutEvent(e);
}

void TDatePicker::mousePressEvent(QMouseEvent* e)
{
    if (!finishTyping()) {
        e->accept();
        return;
    }
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
