#include "customerdb/SqlDialect.h"

#include "customerdb/FieldValues.h"

#include <QRegularExpression>

namespace Db {

// ---- Both backends ----------------------------------------------------------

const SqlDialect& SqlDialect::of(Backend backend)
{
    static const SqliteDialect sqlite;
    static const PostgresDialect postgres;
    if (backend == Backend::PostgreSQL)
        return postgres;
    return sqlite;
}

QString SqlDialect::objectName(const QString& s)
{
    QString out;
    for (QChar c : s.toLower())
        out += (c.isLetterOrNumber() && c.unicode() < 128) ? c : QLatin1Char('_');
    return out;
}

QString mapOutsideLiterals(const QString& sql, const std::function<QString(const QString&)>& fn)
{
    QString out;
    QString chunk;
    bool inLiteral = false;
    bool inQuoted = false;  // a quoted name: a quote inside it starts no literal
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (!inLiteral && c == QLatin1Char('"'))
            inQuoted = !inQuoted;
        if (c == QLatin1Char('\'') && !inQuoted) {
            if (!inLiteral) {
                out += fn(chunk);
                chunk.clear();
                inLiteral = true;
                out += c;
            } else {
                out += c;
                if (i + 1 < sql.size() && sql.at(i + 1) == QLatin1Char('\'')) {
                    out += sql.at(++i);
                } else {
                    inLiteral = false;
                }
            }
            continue;
        }
        if (inLiteral)
            out += c;
        else
            chunk += c;
    }
    out += fn(chunk);
    return out;
}

QString SqlDialect::translateSql(const QString& sql, const QDate& pinnedToday) const
{
    const QString today = todayExpression(pinnedToday);
    const QString translated = mapOutsideLiterals(sql, [&](const QString& part) {
        static const QRegularExpression plusDays(QStringLiteral("CurDate\\s*\\(\\s*\\)\\s*([-+])\\s*(\\d+)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression curDate(QStringLiteral("CurDate\\s*\\(\\s*\\)"),
                                                QRegularExpression::CaseInsensitiveOption);
        QString out;
        qsizetype last = 0;
        auto it = plusDays.globalMatch(part);
        while (it.hasNext()) {
            const auto m = it.next();
            out += part.mid(last, m.capturedStart() - last);
            out += dateAddDays(today, m.captured(1), m.captured(2));
            last = m.capturedEnd();
        }
        out += part.mid(last);
        out.replace(curDate, currentDate(today));
        return translatePart(out);
    });
    return translateStatement(translated);
}

// An amount as whole cents written in decimal text, so that 19.99 is stored
// as exactly 19.99 and never as the nearest binary fraction.
static QVariant centsText(const QVariant& v)
{
    const qint64 cents = qRound64(v.toDouble() * 100.0);
    const qint64 whole = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(whole / 100)
        .arg(whole % 100, 2, 10, QLatin1Char('0'));
}

// ---- The record of changes ----------------------------------------------------

QString SqlDialect::textLiteral(const QString& s)
{
    QString t = s;
    t.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

// INSERT INTO ChangeLog ... SELECT over one row per declared field with its
// old and new value as text, kept where the operation set, changed or
// cleared it. An insert is recorded under its new key, an update under its
// new key (a changed key shows as a change of that field), a delete under
// its old key.
QString SqlDialect::recordStatement(const TableDef& t, const QString& op, const QString& distinct,
                                    const QStringList& timeAndUser) const
{
    const bool hasOld = op != QLatin1String("INSERT");
    const bool hasNew = op != QLatin1String("DELETE");
    const QString none = QStringLiteral("CAST(NULL AS TEXT)");
    QStringList rows;
    for (const FieldDef& f : t.fields) {
        if (f.calculated)
            continue;
        const QString column = quoteName(f.name);
        const QString o = hasOld ? recordText(QStringLiteral("OLD.") + column, f.type) : none;
        const QString n = hasNew ? recordText(QStringLiteral("NEW.") + column, f.type) : none;
        rows << (rows.isEmpty() ? QStringLiteral("SELECT %1 AS f, %2 AS o, %3 AS n") : QStringLiteral("SELECT %1, %2, %3"))
                    .arg(textLiteral(f.name), o, n);
    }
    const FieldDef* keyField = t.field(t.recordKey);
    const QString key = recordText((hasNew ? QStringLiteral("NEW.") : QStringLiteral("OLD.")) + quoteName(t.recordKey),
                                   keyField ? keyField->type : FieldType::Integer);
    const QString kept = op == QLatin1String("INSERT") ? QStringLiteral("n IS NOT NULL")
        : op == QLatin1String("DELETE")                 ? QStringLiteral("o IS NOT NULL")
                                                        : QStringLiteral("o %1 n").arg(distinct);
    QStringList columns{QStringLiteral("table_name"), QStringLiteral("row_key"), QStringLiteral("action"),
                        QStringLiteral("field_name"), QStringLiteral("old_value"), QStringLiteral("new_value")};
    QStringList values{textLiteral(t.name), key, textLiteral(op), QStringLiteral("f"), QStringLiteral("o"), QStringLiteral("n")};
    if (!timeAndUser.isEmpty()) {
        columns.prepend(QStringLiteral("changed_by"));
        columns.prepend(QStringLiteral("changed_at"));
        values = timeAndUser + values;
    }
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM (%4) c WHERE %5")
        .arg(quoteName(QStringLiteral("ChangeLog")), columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")),
             rows.join(QStringLiteral(" UNION ALL ")), kept);
}

QString SqlDialect::recordTriggerName(const TableDef& t)
{
    return QStringLiteral("tr_%1_record").arg(objectName(t.name));
}

// A SQLite session's trigger of one operation (or one updated column).
static QString sessionTriggerName(const TableDef& t, const QString& op)
{
    return SqlDialect::recordTriggerName(t) + QLatin1Char('_') + op.toLower();
}

static QString updateTriggerName(const TableDef& t, const FieldDef& f)
{
    return sessionTriggerName(t, QStringLiteral("update_") + SqlDialect::objectName(f.name));
}

// The operations a SQLite session records with one trigger each; updates
// have one per column.
static const char* const kRowOperations[] = {"INSERT", "DELETE"};

// ---- SQLite -----------------------------------------------------------------

QString SqliteDialect::driverName() const { return QStringLiteral("QSQLITE"); }

QStringList SqliteDialect::sessionSetup() const
{
    return {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=NORMAL"),
            QStringLiteral("PRAGMA case_sensitive_like=ON")};
}

QString SqliteDialect::quoteName(const QString& name) const
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString SqliteDialect::todayExpression(const QDate& pinnedToday) const
{
    if (pinnedToday.isValid())
        return QStringLiteral("'%1'").arg(pinnedToday.toString(Qt::ISODate));
    return QStringLiteral("date('now','localtime')");
}

QString SqliteDialect::dateAddDays(const QString& today, const QString& sign, const QString& days) const
{
    return QStringLiteral("date(%1,'%2%3 days')").arg(today, sign, days);
}

QString SqliteDialect::currentDate(const QString& today) const { return QStringLiteral("date(%1)").arg(today); }

QString SqliteDialect::columnType(const FieldDef& f) const
{
    switch (f.type) {
    case FieldType::Integer:
        return QStringLiteral("INTEGER");
    case FieldType::Text:
        return QStringLiteral("TEXT");
    case FieldType::Boolean:
        return QStringLiteral("BOOLEAN");
    case FieldType::Date:
        return QStringLiteral("DATE");
    case FieldType::DateTime:
        return QStringLiteral("DATETIME");
    case FieldType::Float:
        return QStringLiteral("REAL");
    case FieldType::Currency:
        // Exact cents: SQLite keeps the decimal text as written (a numeric
        // affinity would turn 19.99 into a binary fraction).
        return QStringLiteral("TEXT");
    }
    return QStringLiteral("TEXT");
}

QString SqliteDialect::rowIdColumn() const { return QStringLiteral("_rid INTEGER PRIMARY KEY"); }

QString SqliteDialect::orderExpression(const QString& quoted, FieldType t) const
{
    switch (t) {
    case FieldType::Text:
    case FieldType::Date:
    case FieldType::DateTime:
        return QStringLiteral("COALESCE(%1,'')").arg(quoted);
    case FieldType::Integer:
        return QStringLiteral("COALESCE(%1,-2147483649)").arg(quoted);
    case FieldType::Float:
    case FieldType::Currency:
        return QStringLiteral("COALESCE(%1,-1e308)").arg(quoted);
    case FieldType::Boolean:
        return QStringLiteral("COALESCE(%1,0)").arg(quoted);
    }
    return quoted;
}

QVariant SqliteDialect::orderValue(const FieldDef& f, const QVariant& raw) const
{
    const QVariant v = raw.isNull() ? QVariant() : toFieldValue(f, raw);
    switch (f.type) {
    case FieldType::Text: {
        // A null QString binds as SQL NULL: order keys use the empty text.
        const QString text = v.toString();
        return text.isNull() ? QString(QLatin1String("")) : text;
    }
    case FieldType::Integer:
        return v.isNull() ? QVariant(qlonglong(-2147483649LL)) : QVariant(v.toLongLong());
    case FieldType::Float:
    case FieldType::Currency:
        return v.isNull() ? QVariant(-1e308) : QVariant(v.toDouble());
    case FieldType::Date:
        return v.isNull() ? QString(QLatin1String("")) : v.toDate().toString(Qt::ISODate);
    case FieldType::DateTime:
        return v.isNull() ? QString(QLatin1String("")) : v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat));
    case FieldType::Boolean:
        return v.toBool() ? 1 : 0;
    }
    return v;
}

// Dates as ISO text, instants as local text (no time-zone conversion),
// booleans as 0 and 1.
QVariant SqliteDialect::bindValue(const FieldDef& f, const QVariant& v) const
{
    if (v.isNull())
        return QVariant(QMetaType(f.type == FieldType::Integer ? QMetaType::Int : QMetaType::QString));
    switch (f.type) {
    case FieldType::Date:
        return QVariant(v.toDate().toString(Qt::ISODate));
    case FieldType::DateTime:
        return QVariant(v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat)));
    case FieldType::Boolean:
        return QVariant(v.toBool() ? 1 : 0);
    case FieldType::Currency:
        return centsText(v);
    default:
        return v;
    }
}

// A row posted without a number takes the highest number plus one. The
// highest number is read through the field's order expression, which the
// field's index serves, rather than by reading every row (a plain MAX cannot
// use that index); the trigger is made again on every schema update.
QStringList SqliteDialect::autoNumberAfter(const TableDef& t) const
{
    if (t.autoNumberField.isEmpty())
        return {};
    const QString tq = quoteName(t.name);
    const QString fq = quoteName(t.autoNumberField);
    const QString trigger = QStringLiteral("tr_%1_autonumber").arg(objectName(t.name));
    return {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger),
            QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 WHEN NEW.%3 IS NULL "
                           "BEGIN UPDATE %2 SET %3 = (SELECT COALESCE(MAX(%3),0)+1 FROM (SELECT %3 FROM %2 "
                           "ORDER BY %4 DESC LIMIT 1)) WHERE _rid = NEW._rid; END")
                .arg(trigger, tq, fq, orderExpression(fq, FieldType::Integer))};
}

QStringList SqliteDialect::changeLogSchema() const
{
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS \"ChangeLog\" (id INTEGER PRIMARY KEY, changed_at TEXT NOT NULL, "
                           "changed_by TEXT NOT NULL, table_name TEXT NOT NULL, row_key TEXT, action TEXT NOT NULL, "
                           "field_name TEXT, old_value TEXT, new_value TEXT)"),
            // The row id follows the time in every SQLite index.
            QStringLiteral("CREATE INDEX IF NOT EXISTS ix_changelog_key ON \"ChangeLog\" (table_name, row_key, changed_at)")};
}

// Triggers of this session (TEMP): they live as long as the connection and
// put the workstation's user into the record. Other programs writing the
// file are neither recorded nor hindered. An update is recorded by one
// trigger per column (AFTER UPDATE OF it): a statement compiles and runs the
// triggers of the columns it sets only, where one trigger comparing every
// column would double the time of a Save that changes one.
QStringList SqliteDialect::recordTriggers(const TableDef& t, const QString& user) const
{
    QStringList statements = dropRecordTriggers(t);
    const QString now = QStringLiteral("strftime('%Y-%m-%d %H:%M:%f','now')");
    const QStringList timeAndUser{now, textLiteral(user)};
    const QString table = quoteName(t.name);
    for (const char* op : kRowOperations) {
        statements << QStringLiteral("CREATE TEMP TRIGGER %1 AFTER %2 ON main.%3 BEGIN %4; END")
                          .arg(sessionTriggerName(t, QLatin1String(op)), QLatin1String(op), table,
                               recordStatement(t, QLatin1String(op), QStringLiteral("IS NOT"), timeAndUser));
    }
    const FieldDef* keyField = t.field(t.recordKey);
    const QString key = recordText(QStringLiteral("NEW.") + quoteName(t.recordKey), keyField ? keyField->type : FieldType::Integer);
    for (const FieldDef& f : t.fields) {
        if (f.calculated)
            continue;
        const QString column = quoteName(f.name);
        const QString o = recordText(QStringLiteral("OLD.") + column, f.type);
        const QString n = recordText(QStringLiteral("NEW.") + column, f.type);
        statements << QStringLiteral("CREATE TEMP TRIGGER %1 AFTER UPDATE OF %2 ON main.%3 WHEN %4 IS NOT %5 BEGIN "
                                     "INSERT INTO \"ChangeLog\" (changed_at, changed_by, table_name, row_key, action, "
                                     "field_name, old_value, new_value) VALUES (%6, %7, %8, %9, 'UPDATE', %10, %4, %5); END")
                          .arg(updateTriggerName(t, f), column, table, o, n, now, textLiteral(user), textLiteral(t.name), key)
                          .arg(textLiteral(f.name));
    }
    return statements;
}

QStringList SqliteDialect::dropRecordTriggers(const TableDef& t) const
{
    QStringList statements;
    for (const char* op : kRowOperations)
        statements << QStringLiteral("DROP TRIGGER IF EXISTS temp.%1").arg(sessionTriggerName(t, QLatin1String(op)));
    for (const FieldDef& f : t.fields)
        if (!f.calculated)
            statements << QStringLiteral("DROP TRIGGER IF EXISTS temp.%1").arg(updateTriggerName(t, f));
    return statements;
}

QString SqliteDialect::changeTimeText() const { return QStringLiteral("changed_at"); }

// Booleans as true and false, whole numbers of a REAL without ".0", as
// PostgreSQL writes them; empty text as no value, as it reads.
QString SqliteDialect::recordText(const QString& ref, FieldType t) const
{
    switch (t) {
    case FieldType::Text:
        return QStringLiteral("NULLIF(CAST(%1 AS TEXT), '')").arg(ref);
    case FieldType::Boolean:
        return QStringLiteral("CASE %1 WHEN 1 THEN 'true' WHEN 0 THEN 'false' ELSE CAST(%1 AS TEXT) END").arg(ref);
    case FieldType::Float:
        return QStringLiteral("CASE WHEN typeof(%1) = 'real' AND %1 = CAST(%1 AS INTEGER) THEN CAST(CAST(%1 AS INTEGER) AS TEXT) "
                              "ELSE CAST(%1 AS TEXT) END")
            .arg(ref);
    default:
        return QStringLiteral("CAST(%1 AS TEXT)").arg(ref);
    }
}

// ---- PostgreSQL ---------------------------------------------------------------

QString PostgresDialect::driverName() const { return QStringLiteral("QPSQL"); }

QStringList PostgresDialect::sessionSetup() const { return {QStringLiteral("SET client_min_messages TO warning")}; }

// Names are folded to lower case, as unquoted names are.
QString PostgresDialect::quoteName(const QString& name) const
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n.toLower() + QLatin1Char('"');
}

QString PostgresDialect::todayExpression(const QDate& pinnedToday) const
{
    if (pinnedToday.isValid())
        return QStringLiteral("DATE '%1'").arg(pinnedToday.toString(Qt::ISODate));
    return QStringLiteral("CURRENT_DATE");
}

QString PostgresDialect::dateAddDays(const QString& today, const QString& sign, const QString& days) const
{
    return QStringLiteral("(%1 %2 %3)").arg(today, sign, days);
}

QString PostgresDialect::currentDate(const QString& today) const { return today; }

// Quoted names in stored text are folded like quoteName folds them.
QString PostgresDialect::translatePart(const QString& part) const
{
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    QString lowered;
    qsizetype pos = 0;
    auto qi = quoted.globalMatch(part);
    while (qi.hasNext()) {
        const auto m = qi.next();
        lowered += part.mid(pos, m.capturedStart() - pos);
        lowered += QLatin1Char('"') + m.captured(1).toLower() + QLatin1Char('"');
        pos = m.capturedEnd();
    }
    lowered += part.mid(pos);
    return lowered;
}

// PostgreSQL sorts nulls after every value, SQLite before: the top-level
// ORDER BY of a statement gets SQLite's order spelled out, so that queries
// list their rows alike on both.
QString PostgresDialect::translateStatement(const QString& sql) const
{
    int depth = 0;
    bool inLiteral = false, inQuoted = false;
    qsizetype orderAt = -1;
    qsizetype orderEnd = -1;
    static const QRegularExpression orderBy(QStringLiteral("\\Aorder\\s+by\\b"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression endOfOrder(QStringLiteral("\\A(limit|offset)\\b"), QRegularExpression::CaseInsensitiveOption);
    QList<qsizetype> commas;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (inLiteral) {
            inLiteral = c != QLatin1Char('\'');
            continue;
        }
        if (inQuoted) {
            inQuoted = c != QLatin1Char('"');
            continue;
        }
        if (c == QLatin1Char('\'')) {
            inLiteral = true;
        } else if (c == QLatin1Char('"')) {
            inQuoted = true;
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')')) {
            --depth;
        } else if (depth != 0 || orderEnd >= 0) {
            continue;
        } else if (c == QLatin1Char(';') && orderAt >= 0) {
            orderEnd = i;  // the order list ends with the statement
        } else if (c == QLatin1Char(',') && orderAt >= 0) {
            commas << i;
        } else if (c.isLetter() && (i == 0 || !sql.at(i - 1).isLetterOrNumber())) {
            const QStringView rest = QStringView(sql).mid(i);
            if (const auto m = orderBy.match(rest); m.hasMatch()) {
                orderAt = i + m.capturedLength();
                orderEnd = -1;
                commas.clear();
                i += m.capturedLength() - 1;
            } else if (orderAt >= 0 && endOfOrder.match(rest).hasMatch()) {
                orderEnd = i;  // or at its LIMIT or OFFSET
            }
        }
    }
    // Text with an open literal or quoted name is left for the database to
    // refuse: nothing is added inside it.
    if (orderAt < 0 || inLiteral || inQuoted)
        return sql;
    if (orderEnd < 0)
        orderEnd = sql.size();
    QStringList terms;
    qsizetype from = orderAt;
    commas << orderEnd;
    for (qsizetype to : commas) {
        terms << sql.mid(from, to - from);
        from = to + 1;
    }
    static const QRegularExpression descending(QStringLiteral("\\sdesc\\z"), QRegularExpression::CaseInsensitiveOption);
    for (QString& t : terms) {
        // The addition goes right after the term's last character, before
        // its own trailing blanks and line ends (counted here rather than
        // searched for: a search can place it elsewhere, inside the term or
        // past its end).
        qsizetype end = t.size();
        while (end > 0 && t.at(end - 1).isSpace())
            --end;
        const QString trimmed = t.left(end).trimmed();
        if (trimmed.isEmpty() || trimmed.contains(QLatin1String("nulls"), Qt::CaseInsensitive))
            continue;
        const bool desc = descending.match(trimmed).hasMatch();
        const bool glued = end == t.size() && &t == &terms.last() && orderEnd < sql.size()
            && sql.at(orderEnd).isLetter();
        t.insert(end, desc ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST"));
        // A LIMIT or OFFSET right after the list stays a word of its own.
        if (glued)
            t += QLatin1Char(' ');
    }
    return sql.left(orderAt) + terms.join(QLatin1Char(',')) + sql.mid(orderEnd);
}

QString PostgresDialect::columnType(const FieldDef& f) const
{
    switch (f.type) {
    case FieldType::Integer:
        return QStringLiteral("INTEGER");
    case FieldType::Text:
        return f.size > 0 ? QStringLiteral("VARCHAR(%1) COLLATE \"C\"").arg(f.size) : QStringLiteral("TEXT COLLATE \"C\"");
    case FieldType::Boolean:
        return QStringLiteral("BOOLEAN");
    case FieldType::Date:
        return QStringLiteral("DATE");
    case FieldType::DateTime:
        return QStringLiteral("TIMESTAMP");
    case FieldType::Float:
        return QStringLiteral("DOUBLE PRECISION");
    case FieldType::Currency:
        return QStringLiteral("NUMERIC(14,2)");
    }
    return QStringLiteral("TEXT");
}

QString PostgresDialect::rowIdColumn() const
{
    return QStringLiteral("_rid BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
}

QString PostgresDialect::orderExpression(const QString& quoted, FieldType t) const
{
    switch (t) {
    case FieldType::Text:
        return QStringLiteral("COALESCE(%1,'')").arg(quoted);
    case FieldType::Integer:
        return QStringLiteral("COALESCE(%1,-2147483649)").arg(quoted);
    case FieldType::Float:
    case FieldType::Currency:
        return QStringLiteral("COALESCE(%1,-1e308)").arg(quoted);
    case FieldType::Date:
        return QStringLiteral("COALESCE(%1,DATE '0001-01-01')").arg(quoted);
    case FieldType::DateTime:
        return QStringLiteral("COALESCE(%1,TIMESTAMP '0001-01-01 00:00:00')").arg(quoted);
    case FieldType::Boolean:
        return QStringLiteral("COALESCE(%1,false)").arg(quoted);
    }
    return quoted;
}

QVariant PostgresDialect::orderValue(const FieldDef& f, const QVariant& raw) const
{
    const QVariant v = raw.isNull() ? QVariant() : toFieldValue(f, raw);
    switch (f.type) {
    case FieldType::Text: {
        // A null QString binds as SQL NULL: order keys use the empty text.
        const QString text = v.toString();
        return text.isNull() ? QString(QLatin1String("")) : text;
    }
    case FieldType::Integer:
        return v.isNull() ? QVariant(qlonglong(-2147483649LL)) : QVariant(v.toLongLong());
    case FieldType::Float:
    case FieldType::Currency:
        return v.isNull() ? QVariant(-1e308) : QVariant(v.toDouble());
    case FieldType::Date:
        return v.isNull() ? QVariant(QDate(1, 1, 1)) : QVariant(v.toDate());
    case FieldType::DateTime:
        if (!v.isNull())
            return v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat));
        return QStringLiteral("0001-01-01 00:00:00");
    case FieldType::Boolean:
        return v.toBool();
    }
    return v;
}

// Dates as dates, instants as local text (no time-zone conversion), booleans
// as booleans.
QVariant PostgresDialect::bindValue(const FieldDef& f, const QVariant& v) const
{
    if (v.isNull())
        return QVariant(QMetaType(f.type == FieldType::Integer ? QMetaType::Int : QMetaType::QString));
    switch (f.type) {
    case FieldType::Date:
        return QVariant(v.toDate());
    case FieldType::DateTime:
        return QVariant(v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat)));
    case FieldType::Boolean:
        return QVariant(v.toBool());
    case FieldType::Currency:
        return centsText(v);
    default:
        return v;
    }
}

QString PostgresDialect::sequenceName(const TableDef& t) const
{
    return objectName(t.name + QStringLiteral("_") + t.autoNumberField) + QStringLiteral("_seq");
}

// A row posted without a number takes the highest stored number plus one, as
// on SQLite, so that the numbering follows rows loaded by any means. New
// numbers are taken one transaction at a time (a lock held until commit), so
// that two consoles never take the same one. Databases made when a sequence
// numbered the rows lose the sequence and its column default.
QStringList PostgresDialect::autoNumberAfter(const TableDef& t) const
{
    if (t.autoNumberField.isEmpty())
        return {};
    const QString tq = quoteName(t.name);
    const QString fq = quoteName(t.autoNumberField);
    const QString name = QStringLiteral("tr_%1_autonumber").arg(objectName(t.name));
    return {QStringLiteral("ALTER TABLE %1 ALTER COLUMN %2 DROP DEFAULT").arg(tq, fq),
            QStringLiteral("DROP SEQUENCE IF EXISTS %1").arg(sequenceName(t)),
            QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $body$\n"
                           "BEGIN\n"
                           "  IF NEW.%2 IS NULL THEN\n"
                           "    PERFORM pg_advisory_xact_lock(hashtext('%3'));\n"
                           "    SELECT COALESCE(MAX(%2), 0) + 1 INTO NEW.%2\n"
                           "      FROM (SELECT %2 FROM %4 ORDER BY %5 DESC LIMIT 1) highest;\n"
                           "  END IF;\n"
                           "  RETURN NEW;\n"
                           "END\n"
                           "$body$")
                .arg(name, fq, name, tq, orderExpression(fq, FieldType::Integer)),
            QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(name, tq),
            QStringLiteral("CREATE TRIGGER %1 BEFORE INSERT ON %2 FOR EACH ROW EXECUTE FUNCTION %1()").arg(name, tq)};
}

// The record belongs to the schema's owner: consoles may read it and add to
// it only through the owner's functions (the triggers and the billing run
// entry), which take the time and the logged-in role themselves.
QStringList PostgresDialect::changeLogSchema() const
{
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS changelog (id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
                           "changed_at TIMESTAMPTZ NOT NULL DEFAULT now(), changed_by TEXT NOT NULL DEFAULT session_user, "
                           "table_name TEXT COLLATE \"C\" NOT NULL, row_key TEXT COLLATE \"C\", action TEXT NOT NULL, "
                           "field_name TEXT, old_value TEXT, new_value TEXT)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS ix_changelog_key ON changelog (table_name, row_key, changed_at, id)"),
            QStringLiteral("CREATE OR REPLACE FUNCTION trellane_record_run(kind TEXT, dealer TEXT, summary TEXT) "
                           "RETURNS void LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $body$ "
                           "INSERT INTO changelog (table_name, row_key, action, field_name, new_value) "
                           "VALUES ('BillingRun', dealer, 'RUN', kind, summary) $body$"),
            QStringLiteral("REVOKE ALL ON FUNCTION trellane_record_run(TEXT, TEXT, TEXT) FROM PUBLIC")};
}

// Triggers of the database: changes by any program or psql are recorded,
// with the role the session logged in as (session_user, the column's
// default), in the transaction of the change.
QStringList PostgresDialect::recordTriggers(const TableDef& t, const QString&) const
{
    const QString name = recordTriggerName(t);
    const QString tq = quoteName(t.name);
    const QString distinct = QStringLiteral("IS DISTINCT FROM");
    return {QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
                           "SET search_path FROM CURRENT AS $body$\n"
                           "BEGIN\n"
                           "  IF TG_OP = 'INSERT' THEN\n    %2;\n"
                           "  ELSIF TG_OP = 'UPDATE' THEN\n    %3;\n"
                           "  ELSE\n    %4;\n"
                           "  END IF;\n"
                           "  RETURN NULL;\n"
                           "END\n"
                           "$body$")
                .arg(name, recordStatement(t, QStringLiteral("INSERT"), distinct, {}),
                     recordStatement(t, QStringLiteral("UPDATE"), distinct, {}),
                     recordStatement(t, QStringLiteral("DELETE"), distinct, {})),
            QStringLiteral("REVOKE ALL ON FUNCTION %1() FROM PUBLIC").arg(name),
            QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(name, tq),
            QStringLiteral("CREATE TRIGGER %1 AFTER INSERT OR UPDATE OR DELETE ON %2 FOR EACH ROW EXECUTE FUNCTION %1()")
                .arg(name, tq)};
}

QStringList PostgresDialect::dropRecordTriggers(const TableDef& t) const
{
    return {QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(recordTriggerName(t), quoteName(t.name))};
}

QString PostgresDialect::changeTimeText() const
{
    return QStringLiteral("to_char(changed_at AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS')");
}

// Dates and instants in ISO form whatever the session's DateStyle; empty
// text as no value, as it reads.
QString PostgresDialect::recordText(const QString& ref, FieldType t) const
{
    switch (t) {
    case FieldType::Text:
        return QStringLiteral("NULLIF((%1)::text, '')").arg(ref);
    case FieldType::Date:
        return QStringLiteral("to_char(%1, 'YYYY-MM-DD')").arg(ref);
    case FieldType::DateTime:
        return QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS.MS')").arg(ref);
    default:
        return QStringLiteral("(%1)::text").arg(ref);
    }
}

} // namespace Db
