#include "accounts/EntryRules.h"

#include "helpers/EntryRule.h"

#include <QLineEdit>

namespace Accounts {

void setUpperCase(QLineEdit* edit, bool upper)
{
    Trellane::EntryRule::of(edit)->setUpperCase(upper);
}

bool isUpperCase(const QLineEdit* edit)
{
    const auto* rule = qobject_cast<const Trellane::EntryRule*>(edit->validator());
    return rule && rule->upperCase();
}

std::optional<int> wholeNumber(const QString& text)
{
    int i = 0;
    const int n = int(text.size());
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i >= n)
        return std::nullopt;
    qint64 value = 0;
    for (; i < n; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > qint64(2147483648LL))
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL || value < -2147483648LL)
        return std::nullopt;
    return int(value);
}

ExpiryShade expiryShade(const QDate& stored, bool subscribed, const QDate& today)
{
    if (!stored.isValid())
        return ExpiryShade::NoDate;
    const bool running = stored > today;
    if (subscribed != running)
        return ExpiryShade::Warning;
    return ExpiryShade::Normal;
}

QColor shadeColor(ExpiryShade shade)
{
    switch (shade) {
    case ExpiryShade::NoDate: return QColor(0, 0, 255);
    case ExpiryShade::Warning: return QColor(255, 0, 0);
    case ExpiryShade::Normal: break;
    }
    return QColor(255, 255, 255);
}

QString trimControls(const QString& text)
{
    int from = 0;
    int to = int(text.size());
    while (from < to && text.at(from).unicode() <= 0x20)
        ++from;
    while (to > from && text.at(to - 1).unicode() <= 0x20)
        --to;
    return text.mid(from, to - from);
}

} // namespace Accounts
