#include "customerdb/Connection.h"

#include "customerdb/ChangeLog.h"
#include "customerdb/DataSet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlField>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <libpq-fe.h>

#include <exception>

namespace Db {

Connection::Connection(const QString& name, const Catalog* catalog, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_catalog(catalog)
{
}

Connection::~Connection()
{
    // Whatever a data set's closing reports, the connection goes: nothing
    // may leave a destructor.
    try {
        disconnect();
    } catch (...) {
    }
    const QString cn = m_name + QStringLiteral("_%1").arg(reinterpret_cast<quintptr>(this));
    if (QSqlDatabase::contains(cn))
        QSqlDatabase::removeDatabase(cn);
}

QSqlDatabase Connection::database() const
{
    aboutToWait();
    const QString cn = m_name + QStringLiteral("_%1").arg(reinterpret_cast<quintptr>(this));
    return QSqlDatabase::database(cn, false);
}

void Connection::setWaitHook(void (*hook)())
{
    s_waitHook = hook;
}

bool Connection::isConnected() const
{
    const QSqlDatabase db = database();
    return db.isValid() && db.isOpen();
}

void Connection::connect()
{
    if (m_lost) {
        reconnectIfLost();
        return;
    }
    if (isConnected())
        return;
    const QString cn = m_name + QStringLiteral("_%1").arg(reinterpret_cast<quintptr>(this));
    QSqlDatabase db = QSqlDatabase::contains(cn) ? QSqlDatabase::database(cn, false)
        : QSqlDatabase::addDatabase(dialect().driverName(), cn);
    if (!db.isValid())
        throw EngineError(QStringLiteral("The database driver for %1 is not available").arg(m_name));
    if (m_settings.backend == Backend::SQLite) {
        if (m_settings.sqliteFile.isEmpty())
            throw EngineError(QStringLiteral("No database file is set for %1").arg(m_name));
        if (!m_settings.createIfMissing && !QFileInfo::exists(m_settings.sqliteFile))
            throw EngineError(QStringLiteral("The database file %1 does not exist.")
                                  .arg(QDir::toNativeSeparators(m_settings.sqliteFile)));
        db.setDatabaseName(m_settings.sqliteFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_settings.busyTimeoutMs));
    } else {
        QStringList opts;
        if (!m_settings.pgService.isEmpty())
            opts << QStringLiteral("service=") + m_settings.pgService;
        opts << QStringLiteral("connect_timeout=10");
        db.setConnectOptions(opts.join(QLatin1Char(';')));
        if (!m_settings.pgDatabase.isEmpty())
            db.setDatabaseName(m_settings.pgDatabase);
    }
    if (!db.open())
        throw sqlError(db.lastError(), QStringLiteral("Unable to connect to %1").arg(m_name));
    openDatabase(db);
}

// A new session: the per-session settings of the backend.
void Connection::openDatabase(QSqlDatabase& db)
{
    QSqlQuery q(db);
    // The quickest of the set-up statements is about one round trip.
    qint64 quickestNs = -1;
    for (const QString& statement : dialect().sessionSetup()) {
        QElapsedTimer took;
        took.start();
        q.exec(statement);
        const qint64 ns = took.nsecsElapsed();
        quickestNs = quickestNs < 0 ? ns : qMin(quickestNs, ns);
    }
    m_distant = dialect().readsAhead() && quickestNs >= qint64(m_settings.readAheadFromMs * 1e6);
    m_inTransaction = false;
    recordSession();
}

// An SQLite session records its changes through triggers of its own, once
// the database holds the recorded tables and the record.
void Connection::recordSession()
{
    if (m_settings.backend != Backend::SQLite || !m_catalog->recordsChanges())
        return;
    const QStringList present = database().tables();
    if (!present.contains(QStringLiteral("ChangeLog")))
        return;
    for (const TableDef& t : m_catalog->tables)
        if (!t.recordKey.isEmpty() && !present.contains(t.name))
            return;
    startRecording();
}

void Connection::setRecordingUser(const QString& user)
{
    m_recordingUser = user;
    if (isConnected())
        recordSession();
}

QString Connection::recordingUser() const
{
    return m_recordingUser.isEmpty() ? workstationUser() : m_recordingUser;
}

void Connection::startRecording()
{
    const QString user = recordingUser();
    for (const TableDef& t : m_catalog->tables)
        if (!t.recordKey.isEmpty())
            for (const QString& statement : dialect().recordTriggers(t, user))
                exec(statement);
}

void Connection::disconnect()
{
    // Every data set is closed and the session ended even when closing one
    // of them fails (a detail posting a pending change as its master
    // closes); the first failure is reported afterwards.
    std::exception_ptr failure;
    const QList<QPointer<DataSet>> sets = m_dataSets;
    for (const QPointer<DataSet>& ds : sets) {
        try {
            if (ds && ds->isOpen())
                ds->close();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    QSqlDatabase db = database();
    if (db.isValid() && db.isOpen())
        db.close();
    m_lost = false;
    m_inTransaction = false;
    m_transactionLost = false;
    if (failure)
        std::rethrow_exception(failure);
}

// The first line of the engine's text, blanks collapsed: libpq adds hints
// on further lines that say nothing to the user.
static QString engineLine(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    text = text.section(QLatin1Char('\n'), 0, 0).simplified();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.isEmpty() ? QStringLiteral("the server closed the connection") : text;
}

// libpq knows best whether its session is gone; the SQLSTATE classes of a
// broken connection and of an administrator's shutdown say so too.
bool Connection::sessionGone(const QSqlError& e) const
{
    if (m_settings.backend != Backend::PostgreSQL)
        return false;
    const QSqlDatabase db = database();
    if (db.isValid() && db.driver()) {
        const QVariant h = db.driver()->handle();
        // Qt names the handle by libpq's struct ("pg_conn*") or its typedef.
        if (h.isValid() && (qstrcmp(h.typeName(), "PGconn*") == 0 || qstrcmp(h.typeName(), "pg_conn*") == 0)) {
            PGconn* pg = *static_cast<PGconn* const*>(h.constData());
            if (!pg || PQstatus(pg) == CONNECTION_BAD)
                return true;
        }
    }
    const QString code = e.nativeErrorCode();
    return code.startsWith(QLatin1String("08")) || code == QLatin1String("57P01") || code == QLatin1String("57P02")
        || code == QLatin1String("57P03");
}

void Connection::markLost(const QString& engineText)
{
    m_lost = true;
    m_lostText = engineText;
    // The server rolled back whatever was open; a commit of it must fail.
    if (m_inTransaction)
        m_transactionLost = true;
    m_inTransaction = false;
}

QString Connection::lostMessage() const
{
    return QStringLiteral("The connection to the %1 was lost: %2. The next action reconnects.").arg(title(), m_lostText);
}

EngineError Connection::failure(const QSqlError& e, const QString& context)
{
    if (m_lost || sessionGone(e)) {
        markLost(m_lost && !m_lostText.isEmpty() ? m_lostText : engineLine(e));
        return EngineError(lostMessage(), e.nativeErrorCode());
    }
    // SQLite: SQLITE_BUSY (5, or an extended code of it) after the busy timeout.
    if (m_settings.backend == Backend::SQLite && (e.nativeErrorCode().toInt() & 0xff) == 5)
        return EngineError(QStringLiteral("The %1 is busy with another user's change (%2). Nothing was stored; "
                                          "try again in a moment.")
                               .arg(title(), engineLine(e)),
                           e.nativeErrorCode());
    return sqlError(e, context);
}

void Connection::reconnectIfLost()
{
    // A data set letting go of its results may run statements itself: on
    // the old session they fail, they do not reconnect from within.
    if (!m_lost || m_reconnecting)
        return;
    m_reconnecting = true;
    const auto done = qScopeGuard([this] { m_reconnecting = false; });
    // The old session's statements and results are useless: every open data
    // set lets go of them first (whatever it would still say to the server
    // fails, and is of no interest).
    const QList<QPointer<DataSet>> sets = m_dataSets;
    for (const QPointer<DataSet>& ds : sets) {
        if (ds && ds->isOpen()) {
            try {
                ds->doClose();
            } catch (...) {
            }
        }
    }
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
    if (!db.open()) {
        m_lostText = engineLine(db.lastError());
        throw EngineError(lostMessage(), db.lastError().nativeErrorCode());
    }
    m_lost = false;
    m_reconnecting = false;
    openDatabase(db);
    // One data set that cannot be read again keeps none of the others from
    // it. It is not left looking empty: a query runs its statement again on
    // its next use, or reports why it cannot; and the action that met the
    // failure reports it.
    std::exception_ptr failed;
    for (const QPointer<DataSet>& ds : sets) {
        if (ds && ds->isOpen()) {
            try {
                ds->resumeAfterReconnect();
            } catch (...) {
                if (!failed)
                    failed = std::current_exception();
            }
        }
    }
    if (failed)
        std::rethrow_exception(failed);
}

void Connection::attach(DataSet* ds)
{
    if (!m_dataSets.contains(ds))
        m_dataSets.append(ds);
}

void Connection::detach(DataSet* ds)
{
    m_dataSets.removeAll(ds);
}

QString Connection::quoteName(const QString& name) const { return dialect().quoteName(name); }

QString Connection::todayExpression() const { return dialect().todayExpression(m_pinnedToday); }

QString Connection::translateSql(const QString& sql) const { return dialect().translateSql(sql, m_pinnedToday); }

void Connection::exec(const QString& sql, const QVariantList& values)
{
    connect();
    QSqlQuery q(database());
    if (values.isEmpty()) {
        if (!q.exec(sql))
            throw failure(q.lastError());
        return;
    }
    if (!q.prepare(sql))
        throw failure(q.lastError());
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw failure(q.lastError());
}

QString Connection::literal(const QVariant& value) const
{
    QSqlField f(QString(), value.metaType());
    f.setValue(value);
    const QString text = database().driver()->formatValue(f);
    return text.startsWith(QLatin1Char('-')) ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

QList<QVariantList> Connection::execOnce(const QString& sql, const QVariantList& values)
{
    connect();
    QSqlQuery q(database());
    q.setForwardOnly(true);
    bool ok;
    if (dialect().readsAhead()) {
        qsizetype next = 0;
        const QString text = mapOutsideLiterals(sql, [&](const QString& part) {
            QString out;
            out.reserve(part.size());
            for (const QChar c : part)
                out += c == QLatin1Char('?') ? literal(values.value(next++)) : QString(c);
            return out;
        });
        ok = q.exec(text);
    } else {
        ok = q.prepare(sql);
        for (int i = 0; ok && i < values.size(); ++i)
            q.bindValue(i, values[i]);
        ok = ok && q.exec();
    }
    if (!ok)
        throw failure(q.lastError());
    QList<QVariantList> rows;
    const int columns = q.record().count();
    while (q.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << q.value(c);
        rows << row;
    }
    q.finish();
    return rows;
}

QVariant Connection::scalar(const QString& sql, const QVariantList& values)
{
    connect();
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw failure(q.lastError());
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw failure(q.lastError());
    return q.next() ? q.value(0) : QVariant();
}

void Connection::beginTransaction()
{
    connect();
    m_transactionLost = false;
    if (!database().transaction())
        throw failure(database().lastError());
    m_inTransaction = true;
}

void Connection::commit()
{
    if (m_transactionLost) {
        // Its statements went with the old session: nothing of it is stored.
        m_transactionLost = false;
        throw EngineError(lostMessage());
    }
    if (!database().commit())
        throw failure(database().lastError());
    m_inTransaction = false;
}

void Connection::rollback()
{
    if (!m_lost)
        database().rollback();
    m_inTransaction = false;
    m_transactionLost = false;
}

// The schema version is kept per catalog, so that catalogs sharing one
// database (a single PostgreSQL database holding both) keep their own. A row
// without a catalog comes from a database made before versions were kept
// per catalog and stands for every catalog.
bool Connection::schemaVersionHasCatalog()
{
    const QSqlRecord columns = database().record(QStringLiteral("_schema_version"));
    return columns.contains(QStringLiteral("catalog"));
}

int Connection::storedSchemaVersion()
{
    connect();
    const QStringList tables = database().tables();
    bool has = false;
    for (const QString& t : tables)
        if (t.compare(QLatin1String("_schema_version"), Qt::CaseInsensitive) == 0)
            has = true;
    if (!has)
        return 0;
    if (!schemaVersionHasCatalog())
        return scalar(QStringLiteral("SELECT MAX(version) FROM _schema_version")).toInt();
    return scalar(QStringLiteral("SELECT MAX(version) FROM _schema_version WHERE catalog = ? OR catalog IS NULL"),
                  {m_catalog->name})
        .toInt();
}

// The values of the given columns that more than one row holds (the first
// twenty, in order).
QStringList Connection::storedTwice(const QString& table, const QStringList& columns)
{
    QStringList whole;
    for (const QString& c : columns)
        whole << c + QStringLiteral(" IS NOT NULL");
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 GROUP BY %1 HAVING COUNT(*) > 1 ORDER BY %1 LIMIT 21")
                    .arg(columns.join(QStringLiteral(", ")), table, whole.join(QStringLiteral(" AND ")))))
        throw failure(q.lastError());
    QStringList values;
    while (q.next()) {
        QStringList parts;
        for (int i = 0; i < columns.size(); ++i)
            parts << q.value(i).toString();
        values << (parts.size() == 1 ? parts.first() : QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')'));
    }
    if (values.size() > 20)
        values.last() = QStringLiteral("...");
    return values;
}

QStringList Connection::createSchema()
{
    QStringList problems;
    connect();
    const SqlDialect& sql = dialect();
    beginTransaction();
    try {
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS _schema_version (catalog TEXT, version INTEGER NOT NULL)"));
        if (!schemaVersionHasCatalog())
            exec(QStringLiteral("ALTER TABLE _schema_version ADD COLUMN catalog TEXT"));
        for (const TableDef& t : m_catalog->tables) {
            const QString tq = quoteName(t.name);
            for (const QString& statement : sql.autoNumberBefore(t))
                exec(statement);
            auto columnSql = [&](const FieldDef& f) {
                QString c = quoteName(f.name) + QLatin1Char(' ') + sql.columnType(f);
                if (!t.autoNumberField.isEmpty() && f.name.compare(t.autoNumberField, Qt::CaseInsensitive) == 0)
                    c += sql.autoNumberDefault(t);
                return c;
            };
            QStringList cols;
            cols << sql.rowIdColumn();
            for (const FieldDef& f : t.fields)
                if (!f.calculated)
                    cols << columnSql(f);
            exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)").arg(tq, cols.join(QStringLiteral(", "))));

            // Upgrade: add columns that a later layout declares.
            const QSqlRecord existing = database().record(sql.storedTableName(t.name));
            for (const FieldDef& f : t.fields) {
                if (f.calculated)
                    continue;
                bool found = false;
                for (int i = 0; i < existing.count() && !found; ++i)
                    found = existing.fieldName(i).compare(f.name, Qt::CaseInsensitive) == 0;
                if (!found)
                    exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(tq, columnSql(f)));
            }

            for (const IndexDef& ix : t.indexes) {
                QStringList exprs;
                QStringList raw;
                for (const QString& fn : ix.fields) {
                    const FieldDef* f = t.field(fn);
                    if (!f)
                        throw EngineError(QStringLiteral("Index %1 of %2 names an unknown field %3").arg(ix.name, t.name, fn));
                    exprs << sql.orderExpression(quoteName(f->name), f->type);
                    raw << quoteName(f->name);
                }
                exprs << QStringLiteral("_rid");
                const QString base = SqlDialect::objectName(t.name + QStringLiteral("_") + ix.name);
                exec(QStringLiteral("CREATE INDEX IF NOT EXISTS ix_%1 ON %2 (%3)").arg(base, tq, exprs.join(QStringLiteral(", "))));
                if (!ix.unique)
                    continue;
                // Rows already stored twice keep a unique index from being
                // made: the rest of the schema is still made, and the
                // duplicates are named so that they can be mended.
                exec(QStringLiteral("SAVEPOINT unique_index"));
                try {
                    exec(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS uq_%1 ON %2 (%3)").arg(base, tq, raw.join(QStringLiteral(", "))));
                    exec(QStringLiteral("RELEASE SAVEPOINT unique_index"));
                    continue;
                } catch (const EngineError&) {
                    exec(QStringLiteral("ROLLBACK TO SAVEPOINT unique_index"));
                    exec(QStringLiteral("RELEASE SAVEPOINT unique_index"));
                    const QStringList values = storedTwice(tq, raw);
                    if (values.isEmpty())
                        throw;
                    problems << QStringLiteral("%1: %2 is not unique; stored more than once: %3")
                                    .arg(t.name, ix.fields.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
                }
            }
            for (const QString& statement : sql.autoNumberAfter(t))
                exec(statement);
        }
        if (m_catalog->recordsChanges()) {
            for (const QString& statement : sql.changeLogSchema())
                exec(statement);
            startRecording();
        }
        exec(QStringLiteral("DELETE FROM _schema_version WHERE catalog = ? OR catalog IS NULL"), {m_catalog->name});
        exec(QStringLiteral("INSERT INTO _schema_version (catalog, version) VALUES (?, ?)"),
             {m_catalog->name, m_catalog->schemaVersion});
        commit();
    } catch (...) {
        rollback();
        throw;
    }
    return problems;
}

} // namespace Db
