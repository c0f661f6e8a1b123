#pragma once
// The one error type of the database engine.
#include <QString>

#include <stdexcept>

class QSqlError;

namespace Db {

// Every engine failure: carries the engine's message and native error code.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const QString& message, const QString& nativeCode = QString());
    QString message() const { return m_message; }
    QString nativeCode() const { return m_nativeCode; }
    // The help-context number of the error; the database layer gives none.
    int helpContext() const { return 0; }
    // True when the write was refused because another record already holds
    // the same value of a unique key.
    bool isUniqueViolation() const;

private:
    QString m_message;
    QString m_nativeCode;
};

// An engine error from a Qt SQL error: the database's own text, with what
// was being done in front of it when given.
EngineError sqlError(const QSqlError& e, const QString& context = QString());

// The error of a write or re-read that finds its row changed away or gone.
EngineError recordChangedError();

} // namespace Db
