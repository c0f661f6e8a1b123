#pragma once
// The SQL each backend speaks: name quoting, today's date, column types,
// order expressions and the values bound for them, the spelling of stored
// query text, and the statements that set up a session or number new rows.
// Everything that differs between SQLite and PostgreSQL in SQL text or types
// lives here, one class per backend.
#include "customerdb/Catalog.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

namespace Db {

enum class Backend { SQLite, PostgreSQL };

class SqlDialect {
public:
    virtual ~SqlDialect() = default;

    // The dialect of a backend (one shared instance each).
    static const SqlDialect& of(Backend backend);

    virtual Backend backend() const = 0;
    // The Qt SQL driver, and the statements run once a connection is open.
    virtual QString driverName() const = 0;
    virtual QStringList sessionSetup() const = 0;
    // True where every statement is a round trip to a server: keyset reads
    // are one statement each, and on a distant server (Connection::
    // isDistant) a move reads the rows around its record that a grid will
    // show in the same statement. An embedded database reads exactly what
    // is asked, in the simplest statements.
    virtual bool readsAhead() const = 0;

    // Quoted column or table name in this backend's spelling.
    virtual QString quoteName(const QString& name) const = 0;
    // A table's name as the database's own catalog lists it.
    virtual QString storedTableName(const QString& name) const = 0;

    // SQL expression of the current date: the pinned date when valid, else
    // the database's date.
    virtual QString todayExpression(const QDate& pinnedToday) const = 0;
    // Turns stored query text into this backend's dialect: CurDate() and
    // date arithmetic, quoted names, the order of nulls.
    QString translateSql(const QString& sql, const QDate& pinnedToday) const;

    // Column type of a declared field, and the hidden row id column.
    virtual QString columnType(const FieldDef& f) const = 0;
    virtual QString rowIdColumn() const = 0;

    // The expression that orders and compares a field: nulls sort with the
    // lowest value of their type (empty text for text) on both backends.
    virtual QString orderExpression(const QString& quoted, FieldType t) const = 0;
    // The value a field's order expression yields for a field value.
    virtual QVariant orderValue(const FieldDef& f, const QVariant& raw) const = 0;
    // A field value in the form bound for its column.
    virtual QVariant bindValue(const FieldDef& f, const QVariant& v) const = 0;

    // Numbering of a table's auto-number field: statements run before the
    // table is created, the column's default, and statements run after it.
    virtual QStringList autoNumberBefore(const TableDef& t) const = 0;
    virtual QString autoNumberDefault(const TableDef& t) const = 0;
    virtual QStringList autoNumberAfter(const TableDef& t) const = 0;

    // The record of changes (the ChangeLog table): one row per changed
    // field of an insert, update or delete of a recorded table (its
    // TableDef::recordKey), and one per billing run.
    // Statements making the record's table and its index; idempotent.
    virtual QStringList changeLogSchema() const = 0;
    // Statements that record every change of t, in the transaction of the
    // change: on PostgreSQL triggers of the database, recording the role the
    // session logged in as; on SQLite triggers of this session alone,
    // recording user.
    virtual QStringList recordTriggers(const TableDef& t, const QString& user) const = 0;
    // Statements that stop recording t's changes until recordTriggers.
    virtual QStringList dropRecordTriggers(const TableDef& t) const = 0;
    // Expression reading a change's time as UTC text "yyyy-MM-dd HH:mm:ss.zzz".
    virtual QString changeTimeText() const = 0;

    // A text as an SQL literal, quotes doubled.
    static QString textLiteral(const QString& s);
    // The name of the trigger (PostgreSQL; on SQLite the stem of the
    // triggers) that records t's changes.
    static QString recordTriggerName(const TableDef& t);

    // A name for an index, sequence or trigger made of declared names:
    // lower-case ASCII letters and digits, anything else as "_".
    static QString objectName(const QString& s);

protected:
    // CurDate() plus or minus whole days, and CurDate() alone.
    virtual QString dateAddDays(const QString& today, const QString& sign, const QString& days) const = 0;
    virtual QString currentDate(const QString& today) const = 0;
    // Rewrites a stretch of text outside literals after the dates are done.
    virtual QString translatePart(const QString& part) const { return part; }
    // Rewrites the whole translated statement.
    virtual QString translateStatement(const QString& sql) const { return sql; }
    // A recorded value as text, alike on both backends (dates ISO, booleans
    // "true" and "false").
    virtual QString recordText(const QString& ref, FieldType t) const = 0;
    // The statement a trigger runs for op ("INSERT", "UPDATE", "DELETE"):
    // one ChangeLog row per field set, changed or cleared. timeAndUser, when
    // given, are the expressions of the first two columns.
    QString recordStatement(const TableDef& t, const QString& op, const QString& distinct,
                            const QStringList& timeAndUser) const;
};

class SqliteDialect : public SqlDialect {
public:
    Backend backend() const override { return Backend::SQLite; }
    QString driverName() const override;
    QStringList sessionSetup() const override;
    bool readsAhead() const override { return false; }
    QString quoteName(const QString& name) const override;
    QString storedTableName(const QString& name) const override { return name; }
    QString todayExpression(const QDate& pinnedToday) const override;
    QString columnType(const FieldDef& f) const override;
    QString rowIdColumn() const override;
    QString orderExpression(const QString& quoted, FieldType t) const override;
    QVariant orderValue(const FieldDef& f, const QVariant& raw) const override;
    QVariant bindValue(const FieldDef& f, const QVariant& v) const override;
    QStringList autoNumberBefore(const TableDef&) const override { return {}; }
    QString autoNumberDefault(const TableDef&) const override { return {}; }
    QStringList autoNumberAfter(const TableDef& t) const override;
    QStringList changeLogSchema() const override;
    QStringList recordTriggers(const TableDef& t, const QString& user) const override;
    QStringList dropRecordTriggers(const TableDef& t) const override;
    QString changeTimeText() const override;

protected:
    QString dateAddDays(const QString& today, const QString& sign, const QString& days) const override;
    QString currentDate(const QString& today) const override;
    QString recordText(const QString& ref, FieldType t) const override;
};

class PostgresDialect : public SqlDialect {
public:
    Backend backend() const override { return Backend::PostgreSQL; }
    QString driverName() const override;
    QStringList sessionSetup() const override;
    bool readsAhead() const override { return true; }
    QString quoteName(const QString& name) const override;
    QString storedTableName(const QString& name) const override { return name.toLower(); }
    QString todayExpression(const QDate& pinnedToday) const override;
    QString columnType(const FieldDef& f) const override;
    QString rowIdColumn() const override;
    QString orderExpression(const QString& quoted, FieldType t) const override;
    QVariant orderValue(const FieldDef& f, const QVariant& raw) const override;
    QVariant bindValue(const FieldDef& f, const QVariant& v) const override;
    QStringList autoNumberBefore(const TableDef&) const override { return {}; }
    QString autoNumberDefault(const TableDef&) const override { return {}; }
    QStringList autoNumberAfter(const TableDef& t) const override;
    QStringList changeLogSchema() const override;
    QStringList recordTriggers(const TableDef& t, const QString& user) const override;
    QStringList dropRecordTriggers(const TableDef& t) const override;
    QString changeTimeText() const override;

protected:
    QString dateAddDays(const QString& today, const QString& sign, const QString& days) const override;
    QString currentDate(const QString& today) const override;
    QString translatePart(const QString& part) const override;
    QString translateStatement(const QString& sql) const override;
    QString recordText(const QString& ref, FieldType t) const override;

private:
    QString sequenceName(const TableDef& t) const;
};

// Applies fn to every stretch of sql outside single-quoted literals (a quote
// inside a double-quoted name is part of the name).
QString mapOutsideLiterals(const QString& sql, const std::function<QString(const QString&)>& fn);

} // namespace Db
