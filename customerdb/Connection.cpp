#include "customerdb/Connection.h"

#include "customerdb/DataSet.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace Db {

Connection::Connection(const QString& name, const Catalog* catalog, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_catalog(catalog)
{
}

Connection::~Connection()
{
    disconnect();
    const QString cn = m_name + QStringLiteral("_%1").arg(reinterpret_cast<quintptr>(this));
    if (QSqlDatabase::contains(cn))
        QSqlDatabase::removeDatabase(cn);
}

QSqlDatabase Connection::database() const
{
    const QString cn = m_name + QStringLiteral("_%1").arg(reinterpret_cast<quintptr>(this));
    return QSqlDatabase::database(cn, false);
}

bool Connection::isConnected() const
{
    const QSqlDatabase db = database();
    return db.isValid() && db.isOpen();
}

void Connection::connect()
{
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
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
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
    QSqlQuery q(db);
    for (const QString& statement : dialect().sessionSetup())
        q.exec(statement);
}

void Connection::disconnect()
{
    const QList<QPointer<DataSet>> sets = m_dataSets;
    for (const QPointer<DataSet>& ds : sets)
        if (ds && ds->isOpen())
            ds->close();
    QSqlDatabase db = database();
    if (db.isValid() && db.isOpen())
        db.close();
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
            throw sqlError(q.lastError());
        return;
    }
    if (!q.prepare(sql))
        throw sqlError(q.lastError());
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw sqlError(q.lastError());
}

QVariant Connection::scalar(const QString& sql, const QVariantList& values)
{
    connect();
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw sqlError(q.lastError());
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw sqlError(q.lastError());
    return q.next() ? q.value(0) : QVariant();
}

void Connection::beginTransaction()
{
    connect();
    if (!database().transaction())
        throw sqlError(database().lastError());
}

void Connection::commit()
{
    if (!database().commit())
        throw sqlError(database().lastError());
}

void Connection::rollback()
{
    database().rollback();
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
        throw sqlError(q.lastError());
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
