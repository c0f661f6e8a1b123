#include "accounts/PhoneEdit.h"

#include <QRegularExpression>

namespace Accounts {

namespace {
// Qt's mask letters: '0' a digit that may stay blank, '9' a required digit.
const QString kMask = QStringLiteral("(000)999-9999;_");
}

PhoneEdit::PhoneEdit(QWidget* parent)
    : QLineEdit(parent)
{
    applyMask();
    // A free-text value emptied by the user gets the template back.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& now) {
        if (isFreeText() && now.isEmpty()) {
            applyMask();
            setCursorPosition(0);
        }
    });
}

void PhoneEdit::applyMask()
{
    setInputMask(kMask);
    QLineEdit::setText(QString());
}

QString PhoneEdit::text() const
{
    if (isFreeText())
        return QLineEdit::text();
    QString shown = displayText();
    shown.replace(QLatin1Char('_'), QLatin1Char(' '));
    return shown;
}

void PhoneEdit::setText(const QString& value)
{
    static const QRegularExpression formatted(QStringLiteral("^\\(([0-9 ]{3})\\)([0-9]{3})-([0-9]{4})$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9]{10}$"));
    QString positions;  // the ten template positions, blanks allowed in the area code
    if (value.isEmpty()) {
        positions = QString(10, QLatin1Char(' '));
    } else if (const auto m = formatted.match(value); m.hasMatch()) {
        positions = m.captured(1) + m.captured(2) + m.captured(3);
    } else if (digits.match(value).hasMatch()) {
        positions = value;
    }
    if (positions.isEmpty()) {
        setInputMask(QString());
        QLineEdit::setText(value);
        return;
    }
    if (isFreeText())
        setInputMask(kMask);
    QLineEdit::setText(QLatin1Char('(') + positions.left(3) + QLatin1Char(')') + positions.mid(3, 3)
                       + QLatin1Char('-') + positions.mid(6));
}

} // namespace Accounts
