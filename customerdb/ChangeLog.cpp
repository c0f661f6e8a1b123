#include "customerdb/ChangeLog.h"

#include "customerdb/Connection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include <pwd.h>
#include <unistd.h>

namespace Db {

QString workstationUser()
{
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("uid %1").arg(geteuid()) : user;
}

QStringList changeColumns()
{
    return {QStringLiteral("When"),  QStringLiteral("Who"),       QStringLiteral("Change"),
            QStringLiteral("Field"), QStringLiteral("Old value"), QStringLiteral("New value")};
}

QStringList changeCells(const Change& c, const QString& mainTable)
{
    QString action = c.action;
    if (action == QLatin1String("INSERT"))
        action = QStringLiteral("Added");
    else if (action == QLatin1String("UPDATE"))
        action = QStringLiteral("Changed");
    else if (action == QLatin1String("DELETE"))
        action = QStringLiteral("Deleted");
    else if (action == QLatin1String("RUN"))
        action = QStringLiteral("Billing run");
    const QString field = c.table == QLatin1String("BillingRun")
        ? QStringLiteral("%1 run for %2").arg(c.field, c.key.isEmpty() ? QStringLiteral("(no reseller)") : c.key)
        : c.table.compare(mainTable, Qt::CaseInsensitive) == 0 ? c.field
                                                               : c.table + QLatin1Char('.') + c.field;
    return {c.when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), c.who, action, field, c.oldValue,
            c.newValue};
}

namespace {

QList<Change> read(Connection& conn, const QString& where, const QVariantList& values)
{
    conn.connect();
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("SELECT %1, changed_by, table_name, row_key, action, field_name, old_value, new_value "
                                       "FROM %2 WHERE %3 ORDER BY changed_at DESC, id DESC")
                            .arg(conn.dialect().changeTimeText(), conn.quoteName(QStringLiteral("ChangeLog")), where);
    if (!q.prepare(sql))
        throw conn.failure(q.lastError());
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw conn.failure(q.lastError());
    QList<Change> changes;
    while (q.next()) {
        Change c;
        c.when = QDateTime::fromString(q.value(0).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        c.when.setTimeZone(QTimeZone::utc());
        c.who = q.value(1).toString();
        c.table = q.value(2).toString();
        c.key = q.value(3).toString();
        c.action = q.value(4).toString();
        c.field = q.value(5).toString();
        if (!q.isNull(6))
            c.oldValue = q.value(6).toString();
        if (!q.isNull(7))
            c.newValue = q.value(7).toString();
        changes << c;
    }
    return changes;
}

} // namespace

QList<Change> changesOf(Connection& conn, const QStringList& tables, const QString& key)
{
    QStringList marks;
    QVariantList values;
    for (const QString& t : tables) {
        marks << QStringLiteral("?");
        values << t;
    }
    values << key;
    return read(conn, QStringLiteral("table_name IN (%1) AND row_key = ?").arg(marks.join(QStringLiteral(", "))), values);
}

QList<Change> billingRuns(Connection& conn)
{
    return read(conn, QStringLiteral("table_name = ?"), {QStringLiteral("BillingRun")});
}

void recordBillingRun(Connection& conn, const QString& kind, const QString& dealer, const QString& summary)
{
    if (conn.backend() == Backend::PostgreSQL) {
        conn.scalar(QStringLiteral("SELECT trellane_record_run(?, ?, ?)"), {kind, dealer, summary});
        return;
    }
    conn.exec(QStringLiteral("INSERT INTO \"ChangeLog\" (changed_at, changed_by, table_name, row_key, action, field_name, "
                             "new_value) VALUES (strftime('%Y-%m-%d %H:%M:%f','now'), ?, 'BillingRun', ?, 'RUN', ?, ?)"),
              {conn.recordingUser(), dealer, kind, summary});
}

RecordingSuspended::RecordingSuspended(Connection& conn)
    : m_conn(&conn)
{
    for (const TableDef& t : conn.catalog().tables)
        if (!t.recordKey.isEmpty())
            for (const QString& statement : conn.dialect().dropRecordTriggers(t))
                conn.exec(statement);
}

RecordingSuspended::~RecordingSuspended()
{
    try {
        resume();
    } catch (...) {
    }
}

void RecordingSuspended::resume()
{
    if (!m_conn)
        return;
    Connection* conn = m_conn;
    m_conn = nullptr;
    conn->startRecording();
}

} // namespace Db
