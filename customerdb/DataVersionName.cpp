#include "customerdb/DataVersionName.h"

#include <QStringList>

QString DataVersionName(const QString& code)
{
    // Codes 17 to 28 in order; there was no release 13.
    static const QStringList names = {
        QStringLiteral("8"),  QStringLiteral("9"),      QStringLiteral("10"),
        QStringLiteral("11"), QStringLiteral("11 SP2"), QStringLiteral("11 SP3 or SP4"),
        QStringLiteral("12"), QStringLiteral("14"),     QStringLiteral("14 SP1"),
        QStringLiteral("15"), QStringLiteral("16"),     QStringLiteral("17"),
    };
    bool ok = false;
    const int n = code.trimmed().toInt(&ok);
    if (!ok || n < 17 || n > 28)
        return QStringLiteral("?");
    return names[n - 17];
}
