#include "customerdb/EngineError.h"

#include <QSqlError>

namespace Db {

EngineError::EngineError(const QString& message, const QString& nativeCode)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_nativeCode(nativeCode)
{
}

bool EngineError::isUniqueViolation() const
{
    // PostgreSQL's SQLSTATE unique_violation.
    if (m_nativeCode == QLatin1String("23505"))
        return true;
    // SQLite: the extended codes of a unique or primary key failure, or the
    // plain constraint code when the driver gives no extended one.
    bool ok = false;
    const int code = m_nativeCode.toInt(&ok);
    return ok && (code == 2067 || code == 1555 || code == 19);
}

EngineError sqlError(const QSqlError& e, const QString& context)
{
    QString msg = e.databaseText().trimmed();
    if (msg.isEmpty())
        msg = e.text().trimmed();
    if (msg.isEmpty())
        msg = QStringLiteral("Unknown database error");
    if (!context.isEmpty())
        msg = context + QStringLiteral(": ") + msg;
    return EngineError(msg, e.nativeErrorCode());
}

EngineError recordChangedError()
{
    return EngineError(QStringLiteral("The record was changed or deleted by another user."));
}

} // namespace Db
