#include "tests/support/TestDb.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <stdexcept>

namespace TestDb {

Db::Backend backend()
{
    return qEnvironmentVariable("TRELLANE_TEST_BACKEND").compare(QLatin1String("postgres"), Qt::CaseInsensitive) == 0
        ? Db::Backend::PostgreSQL
        : Db::Backend::SQLite;
}

bool isPostgres() { return backend() == Db::Backend::PostgreSQL; }

static QTemporaryDir& tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

Db::ConnectionSettings fresh(const QString& tag)
{
    static int counter = 0;
    const QString name = QStringLiteral("t_%1_%2_%3").arg(tag.toLower()).arg(QCoreApplication::applicationPid()).arg(++counter);
    Db::ConnectionSettings s;
    s.backend = backend();
    if (s.backend == Db::Backend::SQLite) {
        s.sqliteFile = tempDir().filePath(name + QStringLiteral(".sqlite"));
        s.createIfMissing = true;
        return s;
    }
    // A new database on the server the test script started (libpq env).
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("testdb_admin"));
        admin.setDatabaseName(QStringLiteral("postgres"));
        if (!admin.open())
            throw std::runtime_error(("PostgreSQL test server unreachable: " + admin.lastError().text()).toStdString());
        QSqlQuery q(admin);
        if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
            throw std::runtime_error(q.lastError().text().toStdString());
        admin.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testdb_admin"));
    s.pgDatabase = name;
    // Moves read ahead on the local server as on a distant one.
    s.readAheadFromMs = 0;
    return s;
}

void insertRow(Db::Connection* conn, const QString& table, const QVariantMap& values)
{
    Db::Table t(conn);
    t.setTableName(table);
    t.open();
    t.append();
    for (auto it = values.begin(); it != values.end(); ++it)
        t.fieldByName(it.key()).setValue(it.value());
    t.post();
}

} // namespace TestDb
