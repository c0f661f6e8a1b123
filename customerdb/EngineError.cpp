#include "customerdb/EngineError.h"

#include <QSqlError>

namespace Db {

EngineError::EngineError(const QString& message, const QString& nativeCode)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_nativeCode(nativeCode)
{
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
