#include "customerdb/Engine.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace Db {

// ---- Errors ---------------------------------------------------------------

EngineError::EngineError(const QString& message, const QString& nativeCode)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_nativeCode(nativeCode)
{
}

static EngineError sqlError(const QSqlError& e, const QString& context = QString())
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

// ---- Declared layouts -----------------------------------------------------

const FieldDef* TableDef::field(const QString& n) const
{
    for (const FieldDef& f : fields)
        if (f.name.compare(n, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

const IndexDef* TableDef::indexByName(const QString& n) const
{
    for (const IndexDef& i : indexes)
        if (i.name.compare(n, Qt::CaseInsensitive) == 0)
            return &i;
    return nullptr;
}

const IndexDef* TableDef::indexByFields(const QStringList& wanted) const
{
    for (const IndexDef& i : indexes) {
        if (i.fields.size() != wanted.size())
            continue;
        bool same = true;
        for (int k = 0; k < wanted.size() && same; ++k)
            same = i.fields[k].compare(wanted[k].trimmed(), Qt::CaseInsensitive) == 0;
        if (same)
            return &i;
    }
    return nullptr;
}

const TableDef* Catalog::table(const QString& n) const
{
    QString wanted = n;
    // A table may be named with its file extension, as "Registration.adt".
    const int dot = wanted.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        wanted = wanted.left(dot);
    for (const TableDef& t : tables)
        if (t.name.compare(wanted, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

// ---- Values ---------------------------------------------------------------

static QString rtrimmed(const QString& s)
{
    int n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
        --n;
    return s.left(n);
}

static const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss.zzz";

static QDate toDate(const QVariant& v)
{
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate();
    case QMetaType::QDateTime:
        return v.toDateTime().date();
    default: {
        const QString s = v.toString().trimmed();
        if (s.isEmpty())
            return {};
        QDate d = QDate::fromString(s.left(10), Qt::ISODate);
        return d;
    }
    }
}

static QDateTime toDateTime(const QVariant& v)
{
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime();
    case QMetaType::QDate:
        return QDateTime(v.toDate(), QTime(0, 0));
    default: {
        QString s = v.toString().trimmed();
        if (s.isEmpty())
            return {};
        s.replace(QLatin1Char('T'), QLatin1Char(' '));
        QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(kDateTimeFormat));
        if (!dt.isValid())
            dt = QDateTime::fromString(s.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!dt.isValid()) {
            const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
            if (d.isValid())
                dt = QDateTime(d, QTime(0, 0));
        }
        return dt;
    }
    }
}

// Converts a value read from the database into the field's type.
static QVariant fromDb(const FieldDef& f, const QVariant& v)
{
    if (v.isNull())
        return QVariant();
    switch (f.type) {
    case FieldType::Text:
        return rtrimmed(v.toString());
    case FieldType::Integer:
        return QVariant(v.toInt());
    case FieldType::Boolean:
        return QVariant(v.toBool());
    case FieldType::Float:
        return QVariant(v.toDouble());
    case FieldType::Currency:
        // Stored as exact decimal text (SQLite) or NUMERIC (PostgreSQL).
        return QVariant(double(qRound64(v.toDouble() * 100.0)) / 100.0);
    case FieldType::Date: {
        const QDate d = toDate(v);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case FieldType::DateTime: {
        const QDateTime d = toDateTime(v);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    }
    return v;
}

// Converts a value given by a caller into the field's type; text is cut to
// the field's width and loses its trailing blanks.
static QVariant toFieldValue(const FieldDef& f, const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    switch (f.type) {
    case FieldType::Text: {
        QString s = v.typeId() == QMetaType::QDate ? v.toDate().toString(QStringLiteral("MM/dd/yyyy")) : v.toString();
        if (f.size > 0 && s.size() > f.size)
            s.truncate(f.size);
        return rtrimmed(s);
    }
    case FieldType::Integer: {
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed();
            if (s.isEmpty())
                return QVariant();
            bool ok = false;
            const int n = s.toInt(&ok);
            if (!ok)
                throw EngineError(QStringLiteral("'%1' is not a valid integer value for field %2").arg(s, f.name));
            return n;
        }
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok)
            throw EngineError(QStringLiteral("Invalid integer value for field %1").arg(f.name));
        return QVariant(static_cast<int>(n));
    }
    case FieldType::Boolean:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toLower();
            return QVariant(s == QLatin1String("true") || s == QLatin1String("t") || s == QLatin1String("1")
                            || s == QLatin1String("yes") || s == QLatin1String("y"));
        }
        return QVariant(v.toBool());
    case FieldType::Float:
    case FieldType::Currency: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            throw EngineError(QStringLiteral("'%1' is not a valid floating point value for field %2").arg(v.toString(), f.name));
        return d;
    }
    case FieldType::Date: {
        const QDate d = toDate(v);
        if (!d.isValid())
            throw EngineError(QStringLiteral("'%1' is not a valid date for field %2").arg(v.toString(), f.name));
        return d;
    }
    case FieldType::DateTime: {
        const QDateTime d = toDateTime(v);
        if (!d.isValid())
            throw EngineError(QStringLiteral("'%1' is not a valid date and time for field %2").arg(v.toString(), f.name));
        return d;
    }
    }
    return v;
}

// Binds a field value in the backend's form: dates as ISO text on SQLite,
// instants as local text (no time-zone conversion), booleans as bool.
static QVariant toDb(Backend b, const FieldDef& f, const QVariant& v)
{
    if (v.isNull())
        return QVariant(QMetaType(f.type == FieldType::Integer ? QMetaType::Int : QMetaType::QString));
    switch (f.type) {
    case FieldType::Date:
        return b == Backend::SQLite ? QVariant(v.toDate().toString(Qt::ISODate)) : QVariant(v.toDate());
    case FieldType::DateTime:
        return QVariant(v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat)));
    case FieldType::Boolean:
        return b == Backend::SQLite ? QVariant(v.toBool() ? 1 : 0) : QVariant(v.toBool());
    case FieldType::Currency: {
        // Whole cents written as decimal text, so that 19.99 is stored as
        // exactly 19.99 and never as the nearest binary fraction.
        const qint64 cents = qRound64(v.toDouble() * 100.0);
        const qint64 whole = cents < 0 ? -cents : cents;
        return QStringLiteral("%1%2.%3")
            .arg(cents < 0 ? QStringLiteral("-") : QString())
            .arg(whole / 100)
            .arg(whole % 100, 2, 10, QLatin1Char('0'));
    }
    default:
        return v;
    }
}

// ---- Connection -----------------------------------------------------------

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
        : QSqlDatabase::addDatabase(m_settings.backend == Backend::SQLite ? QStringLiteral("QSQLITE")
                                                                          : QStringLiteral("QPSQL"),
                                    cn);
    if (!db.isValid())
        throw EngineError(QStringLiteral("The database driver for %1 is not available").arg(m_name));
    if (m_settings.backend == Backend::SQLite) {
        if (m_settings.sqliteFile.isEmpty())
            throw EngineError(QStringLiteral("No database file is set for %1").arg(m_name));
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
    if (m_settings.backend == Backend::SQLite) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        q.exec(QStringLiteral("PRAGMA case_sensitive_like=ON"));
    } else {
        q.exec(QStringLiteral("SET client_min_messages TO warning"));
    }
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

QString Connection::quoteName(const QString& name) const
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    if (backend() == Backend::PostgreSQL)
        n = n.toLower();
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString Connection::todayExpression() const
{
    if (m_pinnedToday.isValid()) {
        const QString iso = m_pinnedToday.toString(Qt::ISODate);
        return backend() == Backend::SQLite ? QStringLiteral("'%1'").arg(iso) : QStringLiteral("DATE '%1'").arg(iso);
    }
    return backend() == Backend::SQLite ? QStringLiteral("date('now','localtime')") : QStringLiteral("CURRENT_DATE");
}

// Applies fn to every stretch of sql outside single-quoted literals.
static QString mapOutsideLiterals(const QString& sql, const std::function<QString(const QString&)>& fn)
{
    QString out;
    QString chunk;
    bool inLiteral = false;
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'')) {
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

// PostgreSQL sorts nulls after every value, SQLite before: the top-level
// ORDER BY of a statement gets SQLite's order spelled out, so that queries
// list their rows alike on both.
static QString nullsFirstOrder(const QString& sql)
{
    int depth = 0;
    bool inLiteral = false, inQuoted = false;
    qsizetype orderAt = -1;
    static const QRegularExpression orderBy(QStringLiteral("\\Aorder\\s+by\\b"), QRegularExpression::CaseInsensitiveOption);
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
        } else if (depth == 0 && (c == QLatin1Char('o') || c == QLatin1Char('O'))
                   && (i == 0 || !sql.at(i - 1).isLetterOrNumber())) {
            const auto m = orderBy.match(QStringView(sql).mid(i));
            if (m.hasMatch()) {
                orderAt = i + m.capturedLength();
                commas.clear();
                i += m.capturedLength() - 1;
            }
        } else if (depth == 0 && orderAt >= 0 && c == QLatin1Char(',')) {
            commas << i;
        }
    }
    if (orderAt < 0)
        return sql;
    QStringList terms;
    qsizetype from = orderAt;
    commas << sql.size();
    for (qsizetype to : commas) {
        terms << sql.mid(from, to - from);
        from = to + 1;
    }
    for (QString& t : terms) {
        const QString trimmed = t.trimmed();
        if (trimmed.isEmpty() || trimmed.contains(QLatin1String("nulls"), Qt::CaseInsensitive))
            continue;
        const bool desc = trimmed.endsWith(QLatin1String(" desc"), Qt::CaseInsensitive);
        // Keep the term's own trailing blanks and line ends after the addition.
        const qsizetype end = t.lastIndexOf(trimmed) + trimmed.size();
        t.insert(end, desc ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST"));
    }
    return sql.left(orderAt) + terms.join(QLatin1Char(','));
}

QString Connection::translateSql(const QString& sql) const
{
    QString translated;
    const Backend b = backend();
    const QString today = todayExpression();
    translated = mapOutsideLiterals(sql, [&](const QString& part) {
        QString s = part;
        static const QRegularExpression plusDays(QStringLiteral("CurDate\\s*\\(\\s*\\)\\s*\\+\\s*(\\d+)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression curDate(QStringLiteral("CurDate\\s*\\(\\s*\\)"),
                                                QRegularExpression::CaseInsensitiveOption);
        QString out;
        qsizetype last = 0;
        auto it = plusDays.globalMatch(s);
        while (it.hasNext()) {
            const auto m = it.next();
            out += s.mid(last, m.capturedStart() - last);
            const QString n = m.captured(1);
            if (b == Backend::SQLite)
                out += QStringLiteral("date(%1,'+%2 days')").arg(today, n);
            else
                out += QStringLiteral("(%1 + %2)").arg(today, n);
            last = m.capturedEnd();
        }
        out += s.mid(last);
        out.replace(curDate, b == Backend::SQLite ? QStringLiteral("date(%1)").arg(today) : today);
        if (b == Backend::PostgreSQL) {
            static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
            QString lowered;
            qsizetype pos = 0;
            auto qi = quoted.globalMatch(out);
            while (qi.hasNext()) {
                const auto m = qi.next();
                lowered += out.mid(pos, m.capturedStart() - pos);
                lowered += QLatin1Char('"') + m.captured(1).toLower() + QLatin1Char('"');
                pos = m.capturedEnd();
            }
            lowered += out.mid(pos);
            out = lowered;
        }
        return out;
    });
    return backend() == Backend::PostgreSQL ? nullsFirstOrder(translated) : translated;
}

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

static QString sqlType(Backend b, const FieldDef& f)
{
    switch (f.type) {
    case FieldType::Integer:
        return QStringLiteral("INTEGER");
    case FieldType::Text:
        if (b == Backend::SQLite)
            return QStringLiteral("TEXT");
        return f.size > 0 ? QStringLiteral("VARCHAR(%1) COLLATE \"C\"").arg(f.size) : QStringLiteral("TEXT COLLATE \"C\"");
    case FieldType::Boolean:
        return QStringLiteral("BOOLEAN");
    case FieldType::Date:
        return QStringLiteral("DATE");
    case FieldType::DateTime:
        return b == Backend::SQLite ? QStringLiteral("DATETIME") : QStringLiteral("TIMESTAMP");
    case FieldType::Float:
        return b == Backend::SQLite ? QStringLiteral("REAL") : QStringLiteral("DOUBLE PRECISION");
    case FieldType::Currency:
        // Exact cents: SQLite keeps the decimal text as written (a numeric
        // affinity would turn 19.99 into a binary fraction).
        return b == Backend::SQLite ? QStringLiteral("TEXT") : QStringLiteral("NUMERIC(14,2)");
    }
    return QStringLiteral("TEXT");
}

// The expression that orders and compares a field: nulls sort with the
// lowest value of their type (empty text for text) on both backends.
static QString orderExpr(Backend b, const QString& quoted, FieldType t)
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
        return b == Backend::SQLite ? QStringLiteral("COALESCE(%1,'')").arg(quoted)
                                    : QStringLiteral("COALESCE(%1,DATE '0001-01-01')").arg(quoted);
    case FieldType::DateTime:
        return b == Backend::SQLite ? QStringLiteral("COALESCE(%1,'')").arg(quoted)
                                    : QStringLiteral("COALESCE(%1,TIMESTAMP '0001-01-01 00:00:00')").arg(quoted);
    case FieldType::Boolean:
        return b == Backend::SQLite ? QStringLiteral("COALESCE(%1,0)").arg(quoted)
                                    : QStringLiteral("COALESCE(%1,false)").arg(quoted);
    }
    return quoted;
}

// The value a field's order expression yields for v.
static QVariant orderValue(Backend b, const FieldDef& f, const QVariant& raw)
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
        if (b == Backend::SQLite)
            return v.isNull() ? QString(QLatin1String("")) : v.toDate().toString(Qt::ISODate);
        return v.isNull() ? QVariant(QDate(1, 1, 1)) : QVariant(v.toDate());
    case FieldType::DateTime:
        if (b == Backend::SQLite || !v.isNull())
            return v.isNull() ? QString(QLatin1String("")) : v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat));
        return QStringLiteral("0001-01-01 00:00:00");
    case FieldType::Boolean:
        if (b == Backend::SQLite)
            return v.toBool() ? 1 : 0;
        return v.toBool();
    }
    return v;
}

static QString sanitize(const QString& s)
{
    QString out;
    for (QChar c : s.toLower())
        out += (c.isLetterOrNumber() && c.unicode() < 128) ? c : QLatin1Char('_');
    return out;
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

void Connection::createSchema()
{
    connect();
    const Backend b = backend();
    beginTransaction();
    try {
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS _schema_version (catalog TEXT, version INTEGER NOT NULL)"));
        if (!schemaVersionHasCatalog())
            exec(QStringLiteral("ALTER TABLE _schema_version ADD COLUMN catalog TEXT"));
        for (const TableDef& t : m_catalog->tables) {
            const QString tq = quoteName(t.name);
            QString seq;
            if (!t.autoNumberField.isEmpty() && b == Backend::PostgreSQL) {
                seq = sanitize(t.name + QStringLiteral("_") + t.autoNumberField) + QStringLiteral("_seq");
                exec(QStringLiteral("CREATE SEQUENCE IF NOT EXISTS %1").arg(seq));
            }
            auto columnSql = [&](const FieldDef& f) {
                QString c = quoteName(f.name) + QLatin1Char(' ') + sqlType(b, f);
                if (!seq.isEmpty() && f.name.compare(t.autoNumberField, Qt::CaseInsensitive) == 0)
                    c += QStringLiteral(" DEFAULT nextval('%1')").arg(seq);
                return c;
            };
            QStringList cols;
            cols << (b == Backend::SQLite ? QStringLiteral("_rid INTEGER PRIMARY KEY")
                                          : QStringLiteral("_rid BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
            for (const FieldDef& f : t.fields)
                if (!f.calculated)
                    cols << columnSql(f);
            exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)").arg(tq, cols.join(QStringLiteral(", "))));

            // Upgrade: add columns that a later layout declares.
            const QSqlRecord existing = database().record(b == Backend::PostgreSQL ? t.name.toLower() : t.name);
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
                    exprs << orderExpr(b, quoteName(f->name), f->type);
                    raw << quoteName(f->name);
                }
                exprs << QStringLiteral("_rid");
                const QString base = sanitize(t.name + QStringLiteral("_") + ix.name);
                exec(QStringLiteral("CREATE INDEX IF NOT EXISTS ix_%1 ON %2 (%3)").arg(base, tq, exprs.join(QStringLiteral(", "))));
                if (ix.unique)
                    exec(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS uq_%1 ON %2 (%3)").arg(base, tq, raw.join(QStringLiteral(", "))));
            }
            if (!t.autoNumberField.isEmpty() && b == Backend::SQLite) {
                const QString fq = quoteName(t.autoNumberField);
                // The highest number is read through the field's order
                // expression, which an index on the field serves, rather than
                // by reading every row (a plain MAX cannot use that index).
                exec(QStringLiteral("DROP TRIGGER IF EXISTS tr_%1_autonumber").arg(sanitize(t.name)));
                exec(QStringLiteral("CREATE TRIGGER tr_%1_autonumber AFTER INSERT ON %2 WHEN NEW.%3 IS NULL "
                                    "BEGIN UPDATE %2 SET %3 = (SELECT COALESCE(MAX(%3),0)+1 FROM (SELECT %3 FROM %2 "
                                    "ORDER BY %4 DESC LIMIT 1)) WHERE _rid = NEW._rid; END")
                         .arg(sanitize(t.name), tq, fq, orderExpr(b, fq, FieldType::Integer)));
            }
        }
        exec(QStringLiteral("DELETE FROM _schema_version WHERE catalog = ? OR catalog IS NULL"), {m_catalog->name});
        exec(QStringLiteral("INSERT INTO _schema_version (catalog, version) VALUES (?, ?)"),
             {m_catalog->name, m_catalog->schemaVersion});
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

// ---- Field ----------------------------------------------------------------

QString Field::fieldName() const { return m_ds->m_fields[m_index].name; }
FieldType Field::dataType() const { return m_ds->m_fields[m_index].type; }
int Field::size() const { return m_ds->m_fields[m_index].size; }

QVariant Field::value() const
{
    if (!m_ds->isOpen() || (!m_ds->m_hasCurrent && m_ds->m_state == DataSetState::Browse))
        return QVariant();
    const Record& r = m_ds->m_current;
    return m_index < r.values.size() ? r.values[m_index] : QVariant();
}

bool Field::isNull() const { return value().isNull(); }

QString Field::asString() const
{
    const QVariant v = value();
    if (v.isNull())
        return QString();
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("MM/dd/yyyy"));
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("MM/dd/yyyy hh:mm:ss AP"));
    default:
        return rtrimmed(v.toString());
    }
}

int Field::asInteger() const
{
    bool ok = false;
    const int n = value().toString().trimmed().toInt(&ok);
    if (ok)
        return n;
    return static_cast<int>(value().toDouble());
}

qint64 Field::asLargeInt() const { return value().toLongLong(); }

bool Field::asBoolean() const
{
    const QVariant v = value();
    if (v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString)
        return v.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || v.toString() == QLatin1String("1");
    return v.toBool();
}

double Field::asFloat() const { return value().toDouble(); }
QDate Field::asDate() const { return toDate(value()); }
QDateTime Field::asDateTime() const { return toDateTime(value()); }

void Field::setValue(const QVariant& v)
{
    if (m_ds->m_state != DataSetState::Edit && m_ds->m_state != DataSetState::Insert)
        throw EngineError(QStringLiteral("Dataset not in edit or insert mode"));
    const FieldDef& f = m_ds->m_fields[m_index];
    if (f.calculated)
        throw EngineError(QStringLiteral("Field '%1' cannot be modified").arg(f.name));
    m_ds->m_current.values[m_index] = toFieldValue(f, v);
    m_ds->m_modified = true;
}

void Field::setNull() { setValue(QVariant()); }

QVariant RecordAccess::value(const QString& field) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(field, Qt::CaseInsensitive) == 0)
            return i < m_rec.values.size() ? m_rec.values[i] : QVariant();
    throw EngineError(QStringLiteral("Field '%1' not found").arg(field));
}

QString RecordAccess::asString(const QString& field) const
{
    const QVariant v = value(field);
    return v.isNull() ? QString() : rtrimmed(v.toString());
}

void RecordAccess::setValue(const QString& field, const QVariant& v)
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(field, Qt::CaseInsensitive) == 0) {
            if (m_rec.values.size() <= i)
                m_rec.values.resize(m_fields.size());
            m_rec.values[i] = toFieldValue(m_fields[i], v);
            return;
        }
    throw EngineError(QStringLiteral("Field '%1' not found").arg(field));
}

// ---- DataSet --------------------------------------------------------------

DataSet::DataSet(Connection* conn, QObject* parent)
    : QObject(parent)
    , m_conn(conn)
    , m_connGuard(conn)
{
    m_conn->attach(this);
}

DataSet::~DataSet()
{
    if (m_connGuard)
        m_connGuard->detach(this);
}

void DataSet::requireActive() const
{
    if (m_state == DataSetState::Inactive)
        throw EngineError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void DataSet::open()
{
    if (isOpen())
        return;
    m_conn->connect();
    doOpen();
    m_state = DataSetState::Browse;
    m_modified = false;
    if (m_master) {
        connect(m_master, &DataSet::afterScroll, this, &DataSet::masterMoved, Qt::UniqueConnection);
        connect(m_master, &DataSet::afterClose, this, &DataSet::masterMoved, Qt::UniqueConnection);
        connect(m_master, &DataSet::afterOpen, this, &DataSet::masterMoved, Qt::UniqueConnection);
    }
    emit stateChanged();
    emit afterOpen();
    first();
}

void DataSet::close()
{
    if (!isOpen())
        return;
    doClose();
    m_state = DataSetState::Inactive;
    m_hasCurrent = false;
    m_current = Record();
    m_eof = m_bof = true;
    m_modified = false;
    emit stateChanged();
    emit afterClose();
    emit dataChanged();
}

void DataSet::setCurrent(const Record& rec)
{
    m_current = rec;
    m_hasCurrent = true;
}

void DataSet::setNoCurrent()
{
    m_current = blankRecord();
    m_hasCurrent = false;
}

Record DataSet::blankRecord() const
{
    Record r;
    r.values.resize(m_fields.size());
    return r;
}

void DataSet::applyCalc(Record& rec)
{
    if (!m_calc)
        return;
    bool hasCalc = false;
    for (const FieldDef& f : m_fields)
        hasCalc = hasCalc || f.calculated;
    if (!hasCalc)
        return;
    if (rec.values.size() < m_fields.size())
        rec.values.resize(m_fields.size());
    RecordAccess access(m_fields, rec);
    m_calc(access);
}

void DataSet::emitScroll()
{
    emit afterScroll();
}

void DataSet::masterMoved()
{
    if (!isOpen())
        return;
    checkBrowseMode();
    first();
    emit dataChanged();
}

bool DataSet::masterHasNoRow() const
{
    if (!m_master)
        return false;
    if (!m_master->isOpen() || m_master->isEmpty() || m_master->state() == DataSetState::Insert)
        return true;
    for (const QString& mf : m_masterFields) {
        const int i = m_master->fieldIndex(mf);
        if (i < 0 || m_master->m_current.values.value(i).isNull())
            return true;
    }
    return false;
}

QList<QPair<int, QVariant>> DataSet::masterConditions() const
{
    QList<QPair<int, QVariant>> out;
    if (!m_master)
        return out;
    for (int k = 0; k < m_masterFields.size() && k < m_detailFields.size(); ++k) {
        const int mi = m_master->fieldIndex(m_masterFields[k]);
        const int di = fieldIndex(m_detailFields[k]);
        if (mi < 0)
            throw EngineError(QStringLiteral("Field '%1' not found").arg(m_masterFields[k]));
        if (di < 0)
            throw EngineError(QStringLiteral("Field '%1' not found").arg(m_detailFields[k]));
        out.append({di, m_master->m_current.values.value(mi)});
    }
    return out;
}

void DataSet::setMasterSource(DataSet* master, const QStringList& masterFields, const QStringList& detailFields)
{
    if (m_master)
        disconnect(m_master, nullptr, this, nullptr);
    m_master = master;
    m_masterFields = masterFields;
    m_detailFields = detailFields;
    if (m_master && isOpen()) {
        connect(m_master, &DataSet::afterScroll, this, &DataSet::masterMoved, Qt::UniqueConnection);
        connect(m_master, &DataSet::afterClose, this, &DataSet::masterMoved, Qt::UniqueConnection);
        connect(m_master, &DataSet::afterOpen, this, &DataSet::masterMoved, Qt::UniqueConnection);
        masterMoved();
    }
}

int DataSet::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

Field DataSet::fieldByName(const QString& name)
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw EngineError(QStringLiteral("Field '%1' not found").arg(name));
    return Field(this, i);
}

QVariant DataSet::normalize(int fieldIndex, const QVariant& v) const
{
    return toFieldValue(m_fields[fieldIndex], v);
}

void DataSet::first()
{
    requireActive();
    checkBrowseMode();
    Record r;
    if (fetchFirst(r)) {
        setCurrent(r);
        m_eof = false;
    } else {
        setNoCurrent();
        m_eof = true;
    }
    m_bof = true;
    emitScroll();
}

void DataSet::last()
{
    requireActive();
    checkBrowseMode();
    Record r;
    if (fetchLast(r)) {
        setCurrent(r);
        m_bof = false;
    } else {
        setNoCurrent();
        m_bof = true;
    }
    m_eof = true;
    emitScroll();
}

void DataSet::next()
{
    requireActive();
    checkBrowseMode();
    if (!m_hasCurrent) {
        m_eof = true;
        return;
    }
    Record r;
    if (fetchNext(m_current, r)) {
        setCurrent(r);
        m_eof = m_bof = false;
        emitScroll();
    } else {
        m_eof = true;
    }
}

void DataSet::prior()
{
    requireActive();
    checkBrowseMode();
    if (!m_hasCurrent) {
        m_bof = true;
        return;
    }
    Record r;
    if (fetchPrior(m_current, r)) {
        setCurrent(r);
        m_eof = m_bof = false;
        emitScroll();
    } else {
        m_bof = true;
    }
}

int DataSet::moveBy(int distance)
{
    requireActive();
    checkBrowseMode();
    if (!m_hasCurrent || distance == 0)
        return 0;
    QList<Record> rows = distance > 0 ? rowsAfter(&m_current, distance, false) : rowsBefore(m_current, -distance);
    if (rows.isEmpty()) {
        if (distance > 0)
            m_eof = true;
        else
            m_bof = true;
        return 0;
    }
    const Record target = distance > 0 ? rows.last() : rows.first();
    setCurrent(target);
    m_eof = distance > 0 && rows.size() < distance;
    m_bof = distance < 0 && rows.size() < -distance;
    emitScroll();
    return distance > 0 ? int(rows.size()) : -int(rows.size());
}

qint64 DataSet::recordCount()
{
    requireActive();
    if (m_state == DataSetState::Insert)
        return doCount() + 1;
    return doCount();
}

void DataSet::append()
{
    requireActive();
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    checkBrowseMode();
    m_saved = m_current;
    m_savedHadCurrent = m_hasCurrent;
    Record r = blankRecord();
    if (m_master && !masterHasNoRow()) {
        for (const auto& [di, v] : masterConditions())
            r.values[di] = toFieldValue(m_fields[di], v);
    }
    initNewRecord(r);
    m_current = r;
    m_state = DataSetState::Insert;
    m_modified = false;
    emit stateChanged();
    emitScroll();
}

void DataSet::edit()
{
    requireActive();
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    if (!m_hasCurrent) {
        append();
        return;
    }
    // Re-read the record so that the edit starts from what is stored.
    Record fresh;
    if (refetch(m_current, fresh))
        setCurrent(fresh);
    m_saved = m_current;
    m_state = DataSetState::Edit;
    m_modified = false;
    emit stateChanged();
}

void DataSet::post()
{
    requireActive();
    if (m_state == DataSetState::Browse)
        return;
    Record stored;
    if (m_state == DataSetState::Insert) {
        const qint64 rid = doInsert(m_current);
        Record probe = m_current;
        probe.rid = rid;
        if (!refetch(probe, stored))
            stored = probe;
    } else {
        doUpdate(m_saved, m_current);
        if (!refetch(m_current, stored))
            stored = m_current;
    }
    m_state = DataSetState::Browse;
    m_modified = false;
    setCurrent(stored);
    m_eof = m_bof = false;
    emit stateChanged();
    emit dataChanged();
}

void DataSet::cancel()
{
    if (m_state == DataSetState::Insert) {
        m_state = DataSetState::Browse;
        m_modified = false;
        Record back;
        if (m_savedHadCurrent && refetch(m_saved, back)) {
            setCurrent(back);
        } else if (fetchFirst(back)) {
            setCurrent(back);
        } else {
            setNoCurrent();
        }
        m_eof = m_bof = !m_hasCurrent;
        emit stateChanged();
        emit dataChanged();
        emitScroll();
    } else if (m_state == DataSetState::Edit) {
        m_state = DataSetState::Browse;
        m_modified = false;
        m_current = m_saved;
        emit stateChanged();
        emit dataChanged();
    }
}

void DataSet::del()
{
    requireActive();
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (m_state == DataSetState::Edit)
        cancel();
    if (!m_hasCurrent)
        throw EngineError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const Record gone = m_current;
    doDelete(gone);
    Record r;
    const QList<Record> after = rowsAfter(&gone, 1, false);
    if (!after.isEmpty()) {
        setCurrent(after.first());
        m_eof = false;
    } else {
        const QList<Record> before = rowsBefore(gone, 1);
        if (!before.isEmpty()) {
            setCurrent(before.first());
            m_eof = true;
        } else {
            setNoCurrent();
            m_eof = m_bof = true;
        }
    }
    emit dataChanged();
    emitScroll();
}

void DataSet::checkBrowseMode()
{
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert) {
        if (m_modified)
            post();
        else
            cancel();
    }
}

void DataSet::refresh()
{
    requireActive();
    checkBrowseMode();
    if (m_hasCurrent) {
        Record r;
        if (refetch(m_current, r)) {
            setCurrent(r);
        } else {
            const QList<Record> after = rowsAfter(&m_current, 1, true);
            if (!after.isEmpty())
                setCurrent(after.first());
            else if (fetchLast(r))
                setCurrent(r);
            else
                setNoCurrent();
        }
    } else {
        Record r;
        if (fetchFirst(r))
            setCurrent(r);
    }
    emit dataChanged();
}

// ---- Table ----------------------------------------------------------------

Table::Table(Connection* conn, QObject* parent)
    : DataSet(conn, parent)
{
}

void Table::setTableName(const QString& name)
{
    if (isOpen())
        close();
    m_tableName = name;
    m_def = nullptr;
}

QString Table::indexName() const { return m_indexName; }

void Table::resolveIndex(const QStringList& fields, const QString& byName)
{
    if (!m_def)
        return;
    const IndexDef* ix = nullptr;
    if (!byName.isEmpty()) {
        ix = m_def->indexByName(byName);
        if (!ix)
            throw EngineError(QStringLiteral("Index '%1' not found in table %2").arg(byName, m_def->name));
    } else if (!fields.isEmpty()) {
        ix = m_def->indexByFields(fields);
        if (!ix) {
            // A list naming the leading fields of an index also selects it.
            for (const IndexDef& cand : m_def->indexes) {
                if (cand.fields.size() < fields.size())
                    continue;
                bool same = true;
                for (int k = 0; k < fields.size() && same; ++k)
                    same = cand.fields[k].compare(fields[k].trimmed(), Qt::CaseInsensitive) == 0;
                if (same) {
                    ix = &cand;
                    break;
                }
            }
        }
        if (!ix)
            throw EngineError(QStringLiteral("No index for fields '%1' in table %2").arg(fields.join(QLatin1Char(';')), m_def->name));
    }
    m_indexName = ix ? ix->name : QString();
    m_indexFields = ix ? ix->fields : QStringList();
    m_keyFieldIdx.clear();
    for (const QString& f : m_indexFields)
        m_keyFieldIdx << fieldIndex(f);
    m_stmts.clear();
}

void Table::setIndexFieldNames(const QString& fields)
{
    const QStringList list = fields.isEmpty() ? QStringList() : fields.split(QLatin1Char(';'));
    m_indexFieldNamesRequested = fields;
    if (!isOpen()) {
        // Checked when the table opens and its layout is known.
        m_indexName.clear();
        m_indexFields = list;
        return;
    }
    checkBrowseMode();
    resolveIndex(list, QString());
    // The cursor stays on its record: re-read it to get its key in the new order.
    if (m_hasCurrent) {
        Record r;
        if (refetch(m_current, r))
            setCurrent(r);
    }
    emit dataChanged();
}

void Table::setIndexName(const QString& name)
{
    m_indexFieldNamesRequested.clear();
    if (!isOpen()) {
        m_indexName = name;
        m_indexFields.clear();
        return;
    }
    checkBrowseMode();
    resolveIndex(QStringList(), name);
    if (m_hasCurrent) {
        Record r;
        if (refetch(m_current, r))
            setCurrent(r);
    }
    emit dataChanged();
}

void Table::setFilter(const QList<FilterTerm>& terms)
{
    m_filter = terms;
    m_stmts.clear();
    if (isOpen())
        first();
}

void Table::doOpen()
{
    m_def = m_conn->catalog().table(m_tableName);
    if (!m_def)
        throw EngineError(QStringLiteral("Table '%1' not found").arg(m_tableName));
    m_fields = m_def->fields;
    for (const FilterTerm& t : m_filter)
        if (!m_def->field(t.field))
            throw EngineError(QStringLiteral("Field '%1' not found").arg(t.field));
    m_stmts.clear();
    if (!m_indexName.isEmpty() && m_indexFields.isEmpty())
        resolveIndex(QStringList(), m_indexName);
    else
        resolveIndex(m_indexFields, QString());
}

QString Table::selectList() const
{
    QStringList cols;
    cols << QStringLiteral("_rid");
    for (const FieldDef& f : m_fields) {
        if (f.calculated)
            continue;
        cols << m_conn->quoteName(f.name);
    }
    for (int k = 0; k < m_keyFieldIdx.size(); ++k)
        cols << keyExpr(k);
    return cols.join(QStringLiteral(", "));
}

QString Table::keyExpr(int keyPos) const
{
    const FieldDef& f = m_fields[m_keyFieldIdx[keyPos]];
    return orderExpr(m_conn->backend(), m_conn->quoteName(f.name), f.type);
}

QVariant Table::keyValue(int keyPos, const QVariant& v) const
{
    return orderValue(m_conn->backend(), m_fields[m_keyFieldIdx[keyPos]], v);
}

QString Table::orderBy(bool descending, int fromKey) const
{
    QStringList parts;
    const QString dir = descending ? QStringLiteral(" DESC") : QString();
    for (int k = fromKey; k < m_keyFieldIdx.size(); ++k)
        parts << keyExpr(k) + dir;
    parts << QStringLiteral("_rid") + dir;
    return parts.join(QStringLiteral(", "));
}

Table::Cond Table::baseConditions() const
{
    Cond c;
    QStringList parts;
    for (const FilterTerm& t : m_filter) {
        const int i = fieldIndex(t.field);
        const FieldDef& f = m_fields[i];
        if (t.value.isNull()) {
            parts << m_conn->quoteName(f.name) + QStringLiteral(" IS NULL");
        } else {
            parts << m_conn->quoteName(f.name) + QStringLiteral(" = ?");
            c.values << toDb(m_conn->backend(), f, toFieldValue(f, t.value));
        }
    }
    if (m_master) {
        if (masterHasNoRow()) {
            parts << QStringLiteral("1 = 0");
        } else {
            for (const auto& [di, v] : masterConditions()) {
                const FieldDef& f = m_fields[di];
                parts << orderExpr(m_conn->backend(), m_conn->quoteName(f.name), f.type) + QStringLiteral(" = ?");
                c.values << orderValue(m_conn->backend(), f, v);
            }
        }
    }
    c.sql = parts.join(QStringLiteral(" AND "));
    return c;
}

Record Table::readRow(const QSqlQuery& q) const
{
    Record r;
    r.rid = q.value(0).toLongLong();
    r.values.resize(m_fields.size());
    int col = 1;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].calculated)
            continue;
        r.values[i] = fromDb(m_fields[i], q.value(col++));
    }
    for (int k = 0; k < m_keyFieldIdx.size(); ++k)
        r.key << q.value(col++);
    return r;
}

QList<Record> Table::runSelect(const QString& where, const QVariantList& values, const QString& order, int limit)
{
    const Cond base = baseConditions();
    QStringList conds;
    if (!base.sql.isEmpty())
        conds << base.sql;
    if (!where.isEmpty())
        conds << where;
    // Statements are kept by their varying parts only: the column list and
    // table name stay the same until the layout or the index changes (which
    // empties the cache), and hashing the full text of a wide table on every
    // cursor move would cost more than the seek itself.
    const QString cacheKey = base.sql + QChar(0x1f) + where + QChar(0x1f) + order + QChar(0x1f) + QString::number(limit);
    std::shared_ptr<QSqlQuery>& q = m_stmts[cacheKey];
    if (!q) {
        QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), m_conn->quoteName(m_def->name));
        if (!conds.isEmpty())
            sql += QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
        if (!order.isEmpty())
            sql += QStringLiteral(" ORDER BY ") + order;
        sql += QStringLiteral(" LIMIT %1").arg(limit);
        q = std::make_shared<QSqlQuery>(m_conn->database());
        q->setForwardOnly(true);
        if (!q->prepare(sql)) {
            const QSqlError e = q->lastError();
            m_stmts.remove(cacheKey);
            throw sqlError(e);
        }
    }
    int i = 0;
    for (const QVariant& v : base.values)
        q->bindValue(i++, v);
    for (const QVariant& v : values)
        q->bindValue(i++, v);
    if (!q->exec()) {
        const QSqlError e = q->lastError();
        m_stmts.remove(cacheKey);
        throw sqlError(e);
    }
    QList<Record> out;
    while (q->next()) {
        Record r = readRow(*q);
        applyCalc(r);
        out << r;
    }
    q->finish();
    return out;
}

// Rows after (or before) the position (key, rid) in index order. The tuple
// comparison is split into one range scan per key level so that every scan
// is a plain index range on both backends.
QList<Record> Table::keysetScan(const QVariantList& key, qint64 rid, bool forward, bool inclusive, int count)
{
    QList<Record> out;
    const int n = int(m_keyFieldIdx.size());
    const QString gt = forward ? QStringLiteral(" > ?") : QStringLiteral(" < ?");
    // Level n: same key, rid beyond; level j < n: same first j keys, key j beyond.
    for (int level = n; level >= 0 && out.size() < count; --level) {
        QStringList parts;
        QVariantList vals;
        for (int k = 0; k < level && k < n; ++k) {
            parts << keyExpr(k) + QStringLiteral(" = ?");
            vals << key.value(k);
        }
        if (level == n) {
            parts << QStringLiteral("_rid") + (inclusive ? (forward ? QStringLiteral(" >= ?") : QStringLiteral(" <= ?")) : gt);
            vals << rid;
        } else {
            parts << keyExpr(level) + gt;
            vals << key.value(level);
        }
        const QString order = level == n ? (forward ? QStringLiteral("_rid") : QStringLiteral("_rid DESC"))
                                         : orderBy(!forward, level);
        out << runSelect(parts.join(QStringLiteral(" AND ")), vals, order, count - int(out.size()));
    }
    return out;
}

// The first rows whose leading keys are at or after values.
QList<Record> Table::seekScan(const QVariantList& values, int count)
{
    QList<Record> out;
    const int j = std::min(int(values.size()), int(m_keyFieldIdx.size()));
    if (j == 0)
        return runSelect(QString(), {}, orderBy(false), count);
    QVariantList kv;
    for (int k = 0; k < j; ++k)
        kv << keyValue(k, values[k]);
    for (int level = j - 1; level >= 0 && out.size() < count; --level) {
        QStringList parts;
        QVariantList vals;
        for (int k = 0; k < level; ++k) {
            parts << keyExpr(k) + QStringLiteral(" = ?");
            vals << kv[k];
        }
        parts << keyExpr(level) + (level == j - 1 ? QStringLiteral(" >= ?") : QStringLiteral(" > ?"));
        vals << kv[level];
        out << runSelect(parts.join(QStringLiteral(" AND ")), vals, orderBy(false, level), count - int(out.size()));
    }
    return out;
}

bool Table::fetchFirst(Record& out)
{
    const QList<Record> r = runSelect(QString(), {}, orderBy(false), 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchLast(Record& out)
{
    const QList<Record> r = runSelect(QString(), {}, orderBy(true), 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchNext(const Record& from, Record& out)
{
    const QList<Record> r = keysetScan(from.key, from.rid, true, false, 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchPrior(const Record& from, Record& out)
{
    const QList<Record> r = keysetScan(from.key, from.rid, false, false, 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

qint64 Table::doCount()
{
    const Cond base = baseConditions();
    QString sql = QStringLiteral("SELECT COUNT(*) FROM %1").arg(m_conn->quoteName(m_def->name));
    if (!base.sql.isEmpty())
        sql += QStringLiteral(" WHERE ") + base.sql;
    return m_conn->scalar(sql, base.values).toLongLong();
}

bool Table::refetch(const Record& rec, Record& out)
{
    if (rec.rid == 0)
        return false;
    const QList<Record> r = runSelect(QStringLiteral("_rid = ?"), {rec.rid}, QString(), 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

qint64 Table::doInsert(const Record& rec)
{
    QStringList cols;
    QStringList marks;
    QVariantList vals;
    for (int i = 0; i < m_fields.size(); ++i) {
        const FieldDef& f = m_fields[i];
        if (f.calculated || rec.values.value(i).isNull())
            continue;
        cols << m_conn->quoteName(f.name);
        marks << QStringLiteral("?");
        vals << toDb(m_conn->backend(), f, rec.values[i]);
    }
    const QString tq = m_conn->quoteName(m_def->name);
    const QString sql = cols.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING _rid").arg(tq)
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING _rid")
              .arg(tq, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    QSqlQuery q(m_conn->database());
    if (!q.prepare(sql))
        throw sqlError(q.lastError());
    for (int i = 0; i < vals.size(); ++i)
        q.bindValue(i, vals[i]);
    if (!q.exec())
        throw sqlError(q.lastError());
    if (!q.next())
        throw EngineError(QStringLiteral("The new record of %1 was not stored").arg(m_def->name));
    const qint64 rid = q.value(0).toLongLong();
    q.finish();
    return rid;
}

void Table::doUpdate(const Record& before, const Record& after)
{
    QStringList sets;
    QVariantList vals;
    for (int i = 0; i < m_fields.size(); ++i) {
        const FieldDef& f = m_fields[i];
        if (f.calculated)
            continue;
        const QVariant a = before.values.value(i);
        const QVariant b = after.values.value(i);
        if (a.isNull() == b.isNull() && (a.isNull() || a == b))
            continue;
        sets << m_conn->quoteName(f.name) + QStringLiteral(" = ?");
        vals << toDb(m_conn->backend(), f, b);
    }
    if (sets.isEmpty())
        return;
    vals << after.rid;
    m_conn->exec(QStringLiteral("UPDATE %1 SET %2 WHERE _rid = ?").arg(m_conn->quoteName(m_def->name), sets.join(QStringLiteral(", "))), vals);
}

void Table::doDelete(const Record& rec)
{
    m_conn->exec(QStringLiteral("DELETE FROM %1 WHERE _rid = ?").arg(m_conn->quoteName(m_def->name)), {rec.rid});
}

bool Table::findKey(const QVariantList& values)
{
    requireActive();
    checkBrowseMode();
    const int j = std::min(int(values.size()), int(m_keyFieldIdx.size()));
    if (j == 0)
        throw EngineError(QStringLiteral("Table %1 has no current index to seek on").arg(m_def->name));
    QStringList parts;
    QVariantList vals;
    for (int k = 0; k < j; ++k) {
        parts << keyExpr(k) + QStringLiteral(" = ?");
        vals << keyValue(k, values[k]);
    }
    const QList<Record> r = runSelect(parts.join(QStringLiteral(" AND ")), vals, orderBy(false, j), 1);
    if (r.isEmpty())
        return false;
    setCurrent(r.first());
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

void Table::findNearest(const QVariantList& values)
{
    requireActive();
    checkBrowseMode();
    const QList<Record> r = seekScan(values, 1);
    Record rec;
    if (!r.isEmpty()) {
        setCurrent(r.first());
        m_eof = m_bof = false;
    } else if (fetchLast(rec)) {
        setCurrent(rec);
        m_eof = true;
        m_bof = false;
    } else {
        setNoCurrent();
        m_eof = m_bof = true;
    }
    emitScroll();
}

QList<Record> Table::rowsAfter(const Record* anchor, int count, bool inclusive)
{
    if (!isOpen() || count <= 0)
        return {};
    if (!anchor || anchor->rid == 0)
        return runSelect(QString(), {}, orderBy(false), count);
    return keysetScan(anchor->key, anchor->rid, true, inclusive, count);
}

QList<Record> Table::rowsBefore(const Record& anchor, int count)
{
    if (!isOpen() || count <= 0 || anchor.rid == 0)
        return {};
    QList<Record> r = keysetScan(anchor.key, anchor.rid, false, false, count);
    std::reverse(r.begin(), r.end());
    return r;
}

void Table::initNewRecord(Record& rec)
{
    // A record added to a filtered table takes the filter's values, so that
    // it stays visible after it is posted.
    for (const FilterTerm& t : m_filter) {
        const int i = fieldIndex(t.field);
        if (i >= 0 && rec.values[i].isNull() && !t.value.isNull())
            rec.values[i] = toFieldValue(m_fields[i], t.value);
    }
}

bool Table::gotoRecord(const Record& rec)
{
    requireActive();
    if (m_hasCurrent && rec.rid == m_current.rid && m_state == DataSetState::Browse)
        return true;
    checkBrowseMode();
    Record r;
    if (!refetch(rec, r))
        return false;
    setCurrent(r);
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

// ---- Query ----------------------------------------------------------------

static const int kBlock = 256;

Query::Query(Connection* conn, QObject* parent)
    : DataSet(conn, parent)
{
}

void Query::setSql(const QStringList& lines)
{
    if (isOpen())
        close();
    m_sql = lines;
}

void Query::setSqlText(const QString& text)
{
    setSql(text.split(QLatin1Char('\n')));
}

void Query::addSqlLine(const QString& line)
{
    if (isOpen())
        close();
    m_sql << line;
}

void Query::insertSqlLine(int index, const QString& line)
{
    if (isOpen())
        close();
    m_sql.insert(std::clamp(index, 0, int(m_sql.size())), line);
}

void Query::setParam(const QString& name, const QVariant& value)
{
    QString n = name;
    if (n.startsWith(QLatin1Char(':')))
        n = n.mid(1);
    m_params[n.toLower()] = value;
}

QVariant Query::param(const QString& name) const
{
    QString n = name;
    if (n.startsWith(QLatin1Char(':')))
        n = n.mid(1);
    return m_params.value(n.toLower());
}

QString Query::effectiveSql() const
{
    QString s = m_conn->translateSql(m_sql.join(QLatin1Char('\n'))).trimmed();
    while (s.endsWith(QLatin1Char(';')))
        s.chop(1);
    return s;
}

// Binds every ":name" the statement uses, outside literals, from the params.
static void bindNamed(QSqlQuery& q, const QString& sql, const QHash<QString, QVariant>& params)
{
    static const QRegularExpression re(QStringLiteral("(?<![:\\w]):([A-Za-z_]\\w*)"));
    QStringList names;
    mapOutsideLiterals(sql, [&](const QString& part) {
        auto it = re.globalMatch(part);
        while (it.hasNext())
            names << it.next().captured(1);
        return part;
    });
    for (const QString& n : names) {
        const QVariant v = params.value(n.toLower());
        QVariant bound = v;
        if (v.typeId() == QMetaType::QDate)
            bound = v.toDate().toString(Qt::ISODate);
        else if (!v.isValid())
            bound = QVariant(QMetaType(QMetaType::QString));
        q.bindValue(QLatin1Char(':') + n, bound);
    }
}

static FieldType typeOf(const QSqlField& f)
{
    switch (f.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return FieldType::Integer;
    case QMetaType::Double:
        return FieldType::Float;
    case QMetaType::Bool:
        return FieldType::Boolean;
    case QMetaType::QDate:
        return FieldType::Date;
    case QMetaType::QDateTime:
        return FieldType::DateTime;
    default:
        return FieldType::Text;
    }
}

void Query::loadBlock(qint64 block)
{
    const QString sql = effectiveSql() + QStringLiteral("\nLIMIT %1 OFFSET %2").arg(kBlock).arg(block * kBlock);
    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw sqlError(q.lastError());
    bindNamed(q, sql, m_params);
    if (!q.exec())
        throw sqlError(q.lastError());
    const QSqlRecord rec = q.record();
    if (m_fields.isEmpty() && m_resultToField.isEmpty()) {
        m_ridColumn = -1;
        for (int c = 0; c < rec.count(); ++c) {
            const QSqlField sf = rec.field(c);
            if (sf.name().compare(QLatin1String("_rid"), Qt::CaseInsensitive) == 0) {
                m_ridColumn = c;
                m_resultToField << -1;
                continue;
            }
            FieldDef fd;
            fd.name = sf.name();
            fd.type = typeOf(sf);
            // SQLite reports dates as text: a column named like a declared
            // field takes that field's type.
            for (const TableDef& t : m_conn->catalog().tables) {
                if (const FieldDef* declared = t.field(fd.name); declared && !declared->calculated) {
                    fd.type = declared->type;
                    break;
                }
            }
            m_resultToField << int(m_fields.size());
            m_fields << fd;
        }
    }
    QList<Record> rows;
    qint64 pos = block * kBlock;
    while (q.next()) {
        Record r;
        r.position = int(pos++);
        r.values.resize(m_fields.size());
        for (int c = 0; c < m_resultToField.size(); ++c) {
            const int fi = m_resultToField[c];
            if (fi < 0) {
                r.rid = q.value(c).toLongLong();
                continue;
            }
            if (q.isNull(c))
                continue;  // stays a null value
            QVariant v = q.value(c);
            if (v.typeId() == QMetaType::QString)
                v = rtrimmed(v.toString());
            if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::ULongLong)
                v = QVariant(v.toLongLong());
            const FieldType type = m_fields[fi].type;
            if (type == FieldType::Date || type == FieldType::DateTime || type == FieldType::Boolean)
                v = fromDb(m_fields[fi], v);
            r.values[fi] = v;
        }
        applyCalc(r);
        rows << r;
    }
    q.finish();
    if (rows.size() < kBlock && m_count < 0)
        m_count = block * kBlock + rows.size();
    m_blocks.insert(block, rows);
    m_blockOrder.removeAll(block);
    m_blockOrder.append(block);
    while (m_blockOrder.size() > 4)
        m_blocks.remove(m_blockOrder.takeFirst());
}

void Query::doOpen()
{
    m_fields.clear();
    m_resultToField.clear();
    m_blocks.clear();
    m_blockOrder.clear();
    m_count = -1;
    if (m_sql.join(QString()).trimmed().isEmpty())
        throw EngineError(QStringLiteral("The query has no SQL text"));
    loadBlock(0);
}

void Query::doClose()
{
    m_blocks.clear();
    m_blockOrder.clear();
    m_count = -1;
}

bool Query::rowAt(qint64 pos, Record& out)
{
    if (pos < 0)
        return false;
    if (m_count >= 0 && pos >= m_count)
        return false;
    const qint64 block = pos / kBlock;
    if (!m_blocks.contains(block))
        loadBlock(block);
    const QList<Record>& rows = m_blocks[block];
    const qint64 idx = pos - block * kBlock;
    if (idx >= rows.size())
        return false;
    out = rows[idx];
    return true;
}

bool Query::fetchFirst(Record& out) { return rowAt(0, out); }

bool Query::fetchLast(Record& out)
{
    const qint64 n = doCount();
    return n > 0 && rowAt(n - 1, out);
}

bool Query::fetchNext(const Record& from, Record& out) { return rowAt(from.position + 1, out); }
bool Query::fetchPrior(const Record& from, Record& out) { return rowAt(from.position - 1, out); }

qint64 Query::doCount()
{
    if (m_count >= 0)
        return m_count;
    const QString sql = QStringLiteral("SELECT COUNT(*) FROM (%1) q_count").arg(effectiveSql());
    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw sqlError(q.lastError());
    bindNamed(q, sql, m_params);
    if (!q.exec())
        throw sqlError(q.lastError());
    m_count = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return m_count;
}

bool Query::refetch(const Record& rec, Record& out)
{
    m_blocks.clear();
    m_blockOrder.clear();
    m_count = -1;
    return rowAt(rec.position, out);
}

qint64 Query::doInsert(const Record&) { throw EngineError(QStringLiteral("A query result cannot be modified")); }
void Query::doUpdate(const Record&, const Record&) { throw EngineError(QStringLiteral("A query result cannot be modified")); }
void Query::doDelete(const Record&) { throw EngineError(QStringLiteral("A query result cannot be modified")); }

QList<Record> Query::rowsAfter(const Record* anchor, int count, bool inclusive)
{
    QList<Record> out;
    if (!isOpen())
        return out;
    qint64 pos = anchor ? anchor->position + (inclusive ? 0 : 1) : 0;
    Record r;
    while (out.size() < count && rowAt(pos++, r))
        out << r;
    return out;
}

QList<Record> Query::rowsBefore(const Record& anchor, int count)
{
    QList<Record> out;
    if (!isOpen())
        return out;
    Record r;
    for (qint64 pos = anchor.position - 1; pos >= 0 && out.size() < count; --pos)
        if (rowAt(pos, r))
            out.prepend(r);
    return out;
}

bool Query::gotoRecord(const Record& rec)
{
    requireActive();
    Record r;
    if (!rowAt(rec.position, r))
        return false;
    setCurrent(r);
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

} // namespace Db
