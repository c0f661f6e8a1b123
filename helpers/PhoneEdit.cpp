#include "helpers/PhoneEdit.h"

#include "helpers/Platform.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>

namespace {

// Qt's mask letters are the reverse of the template's: '0' is a digit that
// may stay blank, '9' a required digit.
const QString kMask = QStringLiteral("(000)999-9999;");
const QChar kEditBlank = QLatin1Char('_');
const QChar kIdleBlank = QLatin1Char(' ');

// Where the ten digit places stand in the template's text.
constexpr int kPlaces[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 12};

const QString kInvalidInput = QStringLiteral("Invalid input value.  Use escape key to abandon changes");

} // namespace

TPhoneEdit::TPhoneEdit(QWidget* parent)
    : QLineEdit(parent)
{
    showTemplate(QString(10, kIdleBlank));
    // A free-text value emptied by the user gets the template back.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& now) {
        if (isFreeText() && now.isEmpty()) {
            showTemplate(QString(10, kIdleBlank));
            setModified(true);
            setCursorPosition(1);
        }
    });
}

QString TPhoneEdit::displayForm(const QString& stored)
{
    if (stored.size() != 10)
        return stored;
    return QLatin1Char('(') + stored.left(3) + QLatin1Char(')') + stored.mid(3, 3) + QLatin1Char('-')
        + stored.mid(6);
}

QString TPhoneEdit::text() const
{
    if (isFreeText())
        return QLineEdit::text();
    QString shown = displayText();
    shown.replace(kEditBlank, kIdleBlank);
    return shown;
}

void TPhoneEdit::setText(const QString& value)
{
    // The template with an area code that may hold blanks and a number that
    // is either complete or wholly blank.
    static const QRegularExpression fits(
        QStringLiteral("^\\(([0-9 _]{3})\\)(?:([0-9]{3})-([0-9]{4})|[ _]{3}-[ _]{4})$"));
    const QString shown = displayForm(value);
    m_lastSet = value;
    if (shown.isEmpty()) {
        showTemplate(QString(10, kIdleBlank));
    } else if (const auto m = fits.match(shown); m.hasMatch()) {
        QString positions = m.captured(1) + m.captured(2) + m.captured(3);
        positions = positions.leftJustified(10, kIdleBlank);
        showTemplate(positions.replace(kEditBlank, kIdleBlank));
    } else {
        setInputMask(QString());
        QLineEdit::setText(shown);
    }
    setModified(false);
}

// Shows the ten digit places (blanks for unfilled ones) in the template.
void TPhoneEdit::showTemplate(const QString& positions)
{
    const QChar blank = hasFocus() ? kEditBlank : kIdleBlank;
    setInputMask(kMask + blank);
    QString p = positions;
    p.replace(kIdleBlank, blank);
    QLineEdit::setText(QLatin1Char('(') + p.left(3) + QLatin1Char(')') + p.mid(3, 3) + QLatin1Char('-') + p.mid(6));
}

// Redraws the unfilled places with another character, keeping the entry.
void TPhoneEdit::setBlankChar(QChar blank)
{
    if (isFreeText() || inputMask().endsWith(blank))
        return;
    const QString t = text();  // blanks as ' '
    const bool modified = isModified();
    const int cursor = cursorPosition();
    setInputMask(kMask + blank);
    QString p = t.mid(1, 3) + t.mid(5, 3) + t.mid(9, 4);
    p.replace(kIdleBlank, blank);
    QLineEdit::setText(QLatin1Char('(') + p.left(3) + QLatin1Char(')') + p.mid(3, 3) + QLatin1Char('-') + p.mid(6));
    setModified(modified);
    setCursorPosition(cursor);
}

bool TPhoneEdit::isBlank() const
{
    if (isFreeText())
        return false;
    const QString t = text();
    for (int place : kPlaces)
        if (t.at(place) != kIdleBlank)
            return false;
    return true;
}

bool TPhoneEdit::validateEdit()
{
    if (m_validating || !isRefused())
        return true;
    m_validating = true;
    Trellane::platform().showError(kInvalidInput);
    m_validating = false;
    return false;
}

bool TPhoneEdit::validatePanel(const QWidget* panel)
{
    for (TPhoneEdit* box : panel->findChildren<TPhoneEdit*>()) {
        if (box->isRefused()) {
            box->setFocus(Qt::OtherFocusReason);
            box->validateEdit();
            return false;
        }
    }
    return true;
}

bool TPhoneEdit::event(QEvent* e)
{
    // An edited box takes Escape for itself before any shortcut sees it.
    if (e->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape
        && isModified()) {
        e->accept();
        return true;
    }
    return QLineEdit::event(e);
}

void TPhoneEdit::focusInEvent(QFocusEvent* e)
{
    setBlankChar(kEditBlank);
    QLineEdit::focusInEvent(e);
}

void TPhoneEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // Switching windows or opening a menu is not leaving the box.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason)
        return;
    if (isRefused()) {
        // Refused once the focus change is over: the message, then the focus
        // back here.
        QTimer::singleShot(0, this, [this] {
            if (!hasFocus() && !validateEdit())
                setFocus(Qt::OtherFocusReason);
        });
        return;
    }
    setBlankChar(kIdleBlank);
}

void TPhoneEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && isModified()) {
        setText(m_lastSet);
        e->accept();
        return;
    }
    if (e == QKeySequence::Paste && !isFreeText() && !isReadOnly()) {
        pastePhone(QGuiApplication::clipboard()->text());
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

// The context menu's Paste goes through the same rule as Ctrl+V.
void TPhoneEdit::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The standard menu's Paste is known by its key, shown after a tab.
    const QString pasteKey = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    for (QAction* action : menu->actions()) {
        if (action->text().section(QLatin1Char('\t'), 1) == pasteKey && !isFreeText()) {
            action->setObjectName(QStringLiteral("edit-paste"));
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this, [this] { pastePhone(QGuiApplication::clipboard()->text()); });
        }
    }
    menu->popup(e->globalPos());
}

// A number pasted in any common form ("512-555-9876", "512.555.9876",
// "+1 (512) 555 9876") keeps its digits in their places: the template's own
// paste would take each bracket, dash or dot as the next place. Ten digits,
// after a leading country code 1, are the whole number; fewer go in at the
// cursor as if typed.
void TPhoneEdit::pastePhone(const QString& pasted)
{
    QString digits;
    for (const QChar c : pasted)
        if (c.isDigit())
            digits += c;
    if (digits.size() == 11 && digits.startsWith(QLatin1Char('1')))
        digits.remove(0, 1);
    if (digits.size() == 10) {
        showTemplate(digits);
        setModified(true);
        setCursorPosition(kPlaces[9] + 1);
        emit textEdited(text());
        return;
    }
    if (!digits.isEmpty())
        insert(digits);
}

void TPhoneEdit::mousePressEvent(QMouseEvent* e)
{
    QLineEdit::mousePressEvent(e);
    if (isFreeText() || e->button() != Qt::LeftButton || (e->modifiers() & Qt::ShiftModifier) || hasSelectedText())
        return;
    // A click past the last digit goes to the place after it.
    const QString t = text();
    int next = kPlaces[0];
    for (int i = 0; i < 10; ++i)
        if (t.at(kPlaces[i]) != kIdleBlank)
            next = i + 1 < 10 ? kPlaces[i + 1] : -1;
    if (next >= 0 && cursorPosition() > next)
        setCursorPosition(next);
}
