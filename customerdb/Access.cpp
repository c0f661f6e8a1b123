#include "customerdb/Access.h"

#include "customerdb/Connection.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace Db {

namespace {

const QStringList kAllRights{QStringLiteral("SELECT"), QStringLiteral("INSERT"), QStringLiteral("UPDATE"),
                             QStringLiteral("DELETE")};

QStringList rightsOf(const TableDef& t) { return t.consoleRights.isEmpty() ? kAllRights : t.consoleRights; }

// A role's or schema's name quoted as it is written, capitals kept.
QString quoteIdentifier(const QString& name)
{
    QString r = name;
    r.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + r + QLatin1Char('"');
}

QString literal(const QString& s) { return SqlDialect::textLiteral(s); }

// The first column of every row of a statement.
QStringList column(Connection& conn, const QString& sql)
{
    conn.connect();
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw conn.failure(q.lastError());
    QStringList values;
    while (q.next())
        values << q.value(0).toString();
    return values;
}

// The tables the session sees, as the database names them.
QSet<QString> visibleTables(Connection& conn)
{
    if (conn.backend() == Backend::SQLite) {
        conn.connect();
        const QStringList tables = conn.database().tables();
        return QSet<QString>(tables.begin(), tables.end());
    }
    const QStringList tables =
        column(conn, QStringLiteral("SELECT relname FROM pg_class WHERE relkind IN ('r', 'p') AND pg_table_is_visible(oid)"));
    return QSet<QString>(tables.begin(), tables.end());
}

void requirePostgres(Connection& conn)
{
    if (conn.backend() != Backend::PostgreSQL)
        throw EngineError(QStringLiteral("Roles and logins are kept by PostgreSQL; the %1 is an SQLite file.").arg(conn.title()));
}

bool roleExists(Connection& conn, const QString& role)
{
    return conn.scalar(QStringLiteral("SELECT COUNT(*) FROM pg_roles WHERE rolname = ?"), {role}).toInt() > 0;
}

void checkRoleName(const QString& role)
{
    if (role.trimmed().isEmpty() || role.toUtf8().size() > 63 || role.contains(QChar(0)))
        throw EngineError(QStringLiteral("\"%1\" is not a role name (1 to 63 bytes).").arg(role));
}

} // namespace

QStringList accessProblems(Connection& conn)
{
    const Catalog& catalog = conn.catalog();
    const SqlDialect& sql = conn.dialect();
    const bool pg = conn.backend() == Backend::PostgreSQL;
    const QSet<QString> present = visibleTables(conn);
    QStringList problems;
    QStringList usable;  // declared tables present, as stored
    for (const TableDef& t : catalog.tables) {
        const QString stored = sql.storedTableName(t.name);
        if (!present.contains(stored)) {
            problems << QStringLiteral("the table %1 is missing").arg(t.name);
            continue;
        }
        usable << stored;
        const QSqlRecord columns = conn.database().record(stored);
        QStringList missing;
        for (const FieldDef& f : t.fields) {
            if (f.calculated)
                continue;
            bool found = false;
            for (int i = 0; i < columns.count() && !found; ++i)
                found = columns.fieldName(i).compare(f.name, Qt::CaseInsensitive) == 0;
            if (!found)
                missing << f.name;
        }
        if (!missing.isEmpty())
            problems << QStringLiteral("the table %1 lacks the fields %2").arg(t.name, missing.join(QStringLiteral(", ")));
    }
    const QString log = sql.storedTableName(QStringLiteral("ChangeLog"));
    const bool hasLog = catalog.recordsChanges() && present.contains(log);
    if (catalog.recordsChanges() && !hasLog)
        problems << QStringLiteral("the record of changes (the table ChangeLog) is missing");
    if (!pg)
        return problems;

    if (hasLog) {
        const QStringList triggers = column(conn, QStringLiteral("SELECT t.tgname FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid "
                                                                 "WHERE pg_table_is_visible(c.oid) AND NOT t.tgisinternal "
                                                                 "AND t.tgenabled <> 'D'"));
        for (const TableDef& t : catalog.tables) {
            if (!t.recordKey.isEmpty() && usable.contains(sql.storedTableName(t.name))
                && !triggers.contains(SqlDialect::recordTriggerName(t)))
                problems << QStringLiteral("the changes of %1 are not recorded").arg(t.name);
        }
    }

    // The rights of the session's role, in one statement.
    QStringList pairs;
    for (const TableDef& t : catalog.tables) {
        if (!usable.contains(sql.storedTableName(t.name)))
            continue;
        for (const QString& right : rightsOf(t))
            pairs << QStringLiteral("(%1, %2, %3)").arg(literal(t.name), literal(conn.quoteName(t.name)), literal(right));
    }
    if (hasLog)
        pairs << QStringLiteral("('ChangeLog', %1, 'SELECT')").arg(literal(conn.quoteName(QStringLiteral("ChangeLog"))));
    if (pairs.isEmpty())
        return problems;
    conn.connect();
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    const QString lacking = QStringLiteral("SELECT current_user, t, p FROM (VALUES %1) v(t, q, p) WHERE NOT has_table_privilege(q, p)")
                                .arg(pairs.join(QStringLiteral(", ")));
    if (!q.exec(lacking))
        throw conn.failure(q.lastError());
    QString role;
    QMap<QString, QStringList> missing;  // by table
    QStringList order;
    while (q.next()) {
        role = q.value(0).toString();
        const QString table = q.value(1).toString();
        if (!missing.contains(table))
            order << table;
        missing[table] << q.value(2).toString();
    }
    q.finish();
    if (hasLog && !conn.scalar(QStringLiteral("SELECT to_regprocedure('trellane_record_run(text,text,text)') IS NOT NULL "
                                              "AND has_function_privilege('trellane_record_run(text,text,text)', 'EXECUTE')"))
                       .toBool()) {
        role = conn.scalar(QStringLiteral("SELECT current_user")).toString();
        order << QStringLiteral("billing run entries");
        missing[order.last()] << QStringLiteral("EXECUTE trellane_record_run");
    }
    for (const QString& table : order)
        problems << QStringLiteral("the role \"%1\" may not %2 on %3").arg(role, missing[table].join(QStringLiteral(", ")), table);
    return problems;
}

void requireUsable(Connection& conn)
{
    const QStringList problems = accessProblems(conn);
    if (problems.isEmpty())
        return;
    QString text = QStringLiteral("The %1 cannot be used by this console:\n").arg(conn.title());
    for (const QString& p : problems)
        text += QStringLiteral("- ") + p + QLatin1Char('\n');
    text += conn.backend() == Backend::PostgreSQL
        ? QStringLiteral("The office's administrator makes and upgrades the tables with \"trellane-admin create\" and "
                         "gives a staff login the console's rights with \"trellane-admin grant LOGIN\".")
        : QStringLiteral("Make or upgrade the tables with \"trellane-admin create\".");
    throw EngineError(text);
}

void grantConsoleRole(Connection& conn, const QString& role)
{
    requirePostgres(conn);
    checkRoleName(role);
    const QString r = quoteIdentifier(role);
    if (!roleExists(conn, role))
        conn.exec(QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(r));
    const QString schema = conn.scalar(QStringLiteral("SELECT current_schema()")).toString();
    const QString sq = quoteIdentifier(schema);
    conn.exec(QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(sq, r));
    // Nobody else makes tables beside the console's (only a warning when
    // the schema is not ours).
    conn.exec(QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM PUBLIC").arg(sq));
    for (const TableDef& t : conn.catalog().tables) {
        const QString tq = conn.quoteName(t.name);
        conn.exec(QStringLiteral("REVOKE ALL ON %1 FROM %2").arg(tq, r));
        conn.exec(QStringLiteral("GRANT %1 ON %2 TO %3").arg(rightsOf(t).join(QStringLiteral(", ")), tq, r));
        const QString sequence =
            conn.scalar(QStringLiteral("SELECT pg_get_serial_sequence(?, '_rid')"), {tq}).toString();
        if (!sequence.isEmpty() && rightsOf(t).contains(QStringLiteral("INSERT")))
            conn.exec(QStringLiteral("GRANT USAGE ON SEQUENCE %1 TO %2").arg(sequence, r));
    }
    if (conn.catalog().recordsChanges()) {
        const QString log = conn.quoteName(QStringLiteral("ChangeLog"));
        conn.exec(QStringLiteral("REVOKE ALL ON %1 FROM %2").arg(log, r));
        conn.exec(QStringLiteral("GRANT SELECT ON %1 TO %2").arg(log, r));
        conn.exec(QStringLiteral("GRANT EXECUTE ON FUNCTION trellane_record_run(TEXT, TEXT, TEXT) TO %1").arg(r));
    }
}

QString grantLogin(Connection& conn, const QString& login, const QString& role)
{
    requirePostgres(conn);
    checkRoleName(login);
    if (!roleExists(conn, role))
        throw EngineError(QStringLiteral("The role \"%1\" does not exist; \"trellane-admin create\" makes it.").arg(role));
    QString done;
    if (!roleExists(conn, login)) {
        conn.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(quoteIdentifier(login)));
        done = QStringLiteral("Made the login \"%1\" (without a password). ").arg(login);
    }
    conn.exec(QStringLiteral("GRANT %1 TO %2").arg(quoteIdentifier(role), quoteIdentifier(login)));
    return done + QStringLiteral("\"%1\" may use the console's databases as a member of \"%2\".").arg(login, role);
}

QString revokeLogin(Connection& conn, const QString& login, const QString& role)
{
    requirePostgres(conn);
    checkRoleName(login);
    if (!roleExists(conn, login))
        throw EngineError(QStringLiteral("There is no login \"%1\".").arg(login));
    if (!roleExists(conn, role) || !conn.scalar(QStringLiteral("SELECT COUNT(*) FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid "
                                                               "JOIN pg_roles u ON u.oid = m.member WHERE g.rolname = ? AND u.rolname = ?"),
                                                {role, login})
                                           .toInt())
        return QStringLiteral("\"%1\" is not a member of \"%2\"; nothing to take away.").arg(login, role);
    conn.exec(QStringLiteral("REVOKE %1 FROM %2").arg(quoteIdentifier(role), quoteIdentifier(login)));
    return QStringLiteral("\"%1\" is no longer a member of \"%2\" and may no longer use the console's databases.").arg(login, role);
}

} // namespace Db
