#pragma once
// Shared set-up of the request tests: requests and accounts written straight
// into the test database, stored rows read back, and statements that make
// the database refuse a write.
#include "customerdb/Engine.h"
#include "tests/support/TestDb.h"

#include <QVariantMap>

namespace Fixture {

inline void request(Db::Connection* conn, const QString& name, const QString& type, const QVariant& serial,
                    QVariantMap values = {})
{
    values.insert(QStringLiteral("RegisterName"), name);
    values.insert(QStringLiteral("RequestType"), type);
    if (!serial.isNull())
        values.insert(QStringLiteral("SerialNumber"), serial);
    TestDb::insertRow(conn, QStringLiteral("Requests"), values);
}

inline void account(Db::Connection* conn, int serial, const QString& name)
{
    TestDb::insertRow(conn, QStringLiteral("Registration"),
                      {{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("RegisterName"), name}});
}

// The first stored row of table whose field equals value, as a field map
// (empty when there is none).
inline QVariantMap stored(Db::Connection* conn, const QString& table, const QString& field, const QVariant& value)
{
    Db::Table t(conn);
    t.setTableName(table);
    t.setIndexFieldNames(field);
    t.open();
    QVariantMap out;
    if (!t.findKey({value}))
        return out;
    for (const Db::FieldDef& f : t.fields())
        out.insert(f.name, t.fieldByName(f.name).value());
    return out;
}

inline qint64 count(Db::Connection* conn, const QString& table)
{
    return conn->scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(conn->quoteName(table))).toLongLong();
}

// Makes the database refuse every insert into or delete from table with the
// message "refused by test". With what "COMMIT" the deletes run and the
// commit of a transaction that deleted from table is refused instead.
inline void refuse(Db::Connection* conn, const QString& table, const QString& what)
{
    const QString t = conn->quoteName(table);
    const bool atCommit = what == QLatin1String("COMMIT");
    if (conn->backend() == Db::Backend::SQLite) {
        if (atCommit) {
            // A deferred foreign key left broken fails the commit alone.
            conn->exec(QStringLiteral("PRAGMA foreign_keys = ON"));
            conn->exec(QStringLiteral("CREATE TABLE refuse_child (id INTEGER REFERENCES refuse_child (x) DEFERRABLE INITIALLY DEFERRED, x INTEGER UNIQUE)"));
            conn->exec(QStringLiteral("CREATE TRIGGER refuse_%1 AFTER DELETE ON %2 BEGIN INSERT INTO refuse_child (id) VALUES (1); END")
                           .arg(table, t));
            return;
        }
        conn->exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %2 ON %3 BEGIN SELECT RAISE(ABORT, 'refused by test'); END")
                       .arg(table, what, t));
        return;
    }
    conn->exec(QStringLiteral("CREATE OR REPLACE FUNCTION refuse_write() RETURNS trigger LANGUAGE plpgsql AS "
                              "$$BEGIN RAISE EXCEPTION 'refused by test'; END$$"));
    conn->exec(atCommit ? QStringLiteral("CREATE CONSTRAINT TRIGGER refuse_%1 AFTER DELETE ON %2 DEFERRABLE INITIALLY DEFERRED "
                                         "FOR EACH ROW EXECUTE FUNCTION refuse_write()")
                              .arg(table, t)
                        : QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %2 ON %3 FOR EACH ROW EXECUTE FUNCTION refuse_write()")
                              .arg(table, what, t));
}

} // namespace Fixture
