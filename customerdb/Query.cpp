#include "customerdb/Query.h"

#include "customerdb/Connection.h"
#include "customerdb/EngineError.h"
#include "customerdb/FieldValues.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace Db {

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

// A parameter as it goes to the database: dates as ISO text and instants
// as local text, as the engine writes them into its columns; a missing one
// (or no date) as a null text.
static QVariant paramValue(const QVariant& v)
{
    const QVariant none{QMetaType(QMetaType::QString)};
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return none;
    case QMetaType::QDate:
        return v.toDate().isValid() ? QVariant(v.toDate().toString(Qt::ISODate)) : none;
    case QMetaType::QDateTime:
        return v.toDateTime().isValid() ? QVariant(v.toDateTime().toString(QString::fromLatin1(kDateTimeFormat))) : none;
    default:
        return v;
    }
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
    for (const QString& n : names)
        q.bindValue(QLatin1Char(':') + n, paramValue(params.value(n.toLower())));
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

void Query::takeFields(const QSqlRecord& rec)
{
    if (!m_fields.isEmpty() || !m_resultToField.isEmpty())
        return;
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

// Reads up to max rows of an executed statement, numbered from firstPos.
// Calculated fields are filled once the statement is done with, so that a
// calc function may run statements of its own.
QList<Record> Query::readRows(QSqlQuery& q, qint64 firstPos, int max)
{
    takeFields(q.record());
    QList<Record> rows;
    qint64 pos = firstPos;
    while (rows.size() < max && q.next()) {
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
            if (type == FieldType::Date || type == FieldType::DateTime || type == FieldType::Boolean
                || type == FieldType::Currency)
                v = fromDb(m_fields[fi], v);
            r.values[fi] = v;
        }
        rows << r;
    }
    q.finish();
    for (Record& r : rows)
        applyCalc(r);
    return rows;
}

// PostgreSQL's driver prepares statements as SQL-level PREPARE, which cannot
// hold a DECLARE: the parameters go into the statement text as literals, each
// written by the driver's own formatting, the same escaping it uses for the
// values it binds.
QString Query::withLiterals(const QString& sql) const
{
    static const QRegularExpression re(QStringLiteral("(?<![:\\w]):([A-Za-z_]\\w*)"));
    return mapOutsideLiterals(sql, [&](const QString& part) {
        QString out;
        qsizetype last = 0;
        auto it = re.globalMatch(part);
        while (it.hasNext()) {
            const auto m = it.next();
            out += part.mid(last, m.capturedStart() - last);
            out += m_conn->literal(paramValue(m_params.value(m.captured(1).toLower())));
            last = m.capturedEnd();
        }
        out += part.mid(last);
        return out;
    });
}

void Query::cacheBlock(qint64 block, const QList<Record>& rows)
{
    m_blocks.insert(block, rows);
    m_blockOrder.removeAll(block);
    m_blockOrder.append(block);
    while (m_blockOrder.size() > 4)
        m_blocks.remove(m_blockOrder.takeFirst());
}

static int s_storeSerial = 0;

// Runs the statement once. A result of at most one block is read whole and
// leaves nothing behind in the database; a larger one stays in the database
// for the blocks that follow.
void Query::execute()
{
    m_executed = false;
    releaseStore();
    m_blocks.clear();
    m_blockOrder.clear();
    m_count = -1;
    m_cursorAt = -1;
    const QString sql = effectiveSql();
    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    const QString name = QStringLiteral("trellane_q%1").arg(++s_storeSerial);
    QList<Record> rows;
    if (m_conn->backend() == Backend::PostgreSQL) {
        // WITH HOLD keeps the result after the statement's transaction ends;
        // the server holds it until the cursor is closed.
        if (!q.exec(QStringLiteral("DECLARE %1 SCROLL CURSOR WITH HOLD FOR %2").arg(name, withLiterals(sql))))
            throw m_conn->failure(q.lastError());
        m_store = Store::Cursor;
        m_storeName = name;
        if (!q.exec(QStringLiteral("FETCH FORWARD %1 FROM %2").arg(kBlock + 1).arg(name)))
            throw m_conn->failure(q.lastError());
        rows = readRows(q, 0, kBlock + 1);
        m_cursorAt = rows.size();
    } else {
        // A probe of one block and one row more: a small result is kept as
        // read; a larger one is stored once, in the query's order by rowid.
        const QString probe = sql + QStringLiteral("\nLIMIT %1").arg(kBlock + 1);
        if (!q.prepare(probe))
            throw m_conn->failure(q.lastError());
        bindNamed(q, probe, m_params);
        if (!q.exec())
            throw m_conn->failure(q.lastError());
        rows = readRows(q, 0, kBlock + 1);
        if (rows.size() > kBlock) {
            const QString create = QStringLiteral("CREATE TEMP TABLE %1 AS %2").arg(name, sql);
            if (!q.prepare(create))
                throw m_conn->failure(q.lastError());
            bindNamed(q, create, m_params);
            if (!q.exec())
                throw m_conn->failure(q.lastError());
            q.finish();
            m_store = Store::TempTable;
            m_storeName = name;
            readStoredBlock(0);
            m_executed = true;
            return;
        }
    }
    if (rows.size() <= kBlock) {
        releaseStore();
        m_count = rows.size();
    } else {
        rows.removeLast();
    }
    cacheBlock(0, rows);
    m_executed = true;
}

// A statement that did not run to its end (a failed re-read, a reconnect
// that stopped half-way) has no result to read from: it runs again, and
// reports why when it cannot, rather than reading as an empty result.
void Query::requireResult()
{
    if (!m_executed)
        execute();
}

void Query::readStoredBlock(qint64 block)
{
    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    const qint64 first = block * kBlock;
    if (m_store == Store::Cursor) {
        if (m_cursorAt != first
            && !q.exec(QStringLiteral("MOVE ABSOLUTE %1 IN %2").arg(first).arg(m_storeName)))
            throw m_conn->failure(q.lastError());
        if (!q.exec(QStringLiteral("FETCH FORWARD %1 FROM %2").arg(kBlock).arg(m_storeName)))
            throw m_conn->failure(q.lastError());
    } else {
        if (!q.prepare(QStringLiteral("SELECT * FROM temp.%1 WHERE rowid > ? AND rowid <= ? ORDER BY rowid").arg(m_storeName)))
            throw m_conn->failure(q.lastError());
        q.bindValue(0, first);
        q.bindValue(1, first + kBlock);
        if (!q.exec())
            throw m_conn->failure(q.lastError());
    }
    const QList<Record> rows = readRows(q, first, kBlock);
    m_cursorAt = rows.size() == kBlock ? first + kBlock : -1;
    if (rows.size() < kBlock && m_count < 0)
        m_count = first + rows.size();
    cacheBlock(block, rows);
}

// A result kept in the database disappears with a rolled-back transaction
// that made it (or with the connection): the statement then runs again.
static bool storeLost(const EngineError& e)
{
    return e.nativeCode() == QLatin1String("34000") || e.message().contains(QLatin1String("no such table"));
}

void Query::loadBlock(qint64 block)
{
    if (m_store == Store::None) {
        cacheBlock(block, {});  // a small result is whole in block 0
        return;
    }
    try {
        readStoredBlock(block);
    } catch (const EngineError& e) {
        if (!storeLost(e))
            throw;
        execute();
        if (block > 0 && m_store != Store::None)
            readStoredBlock(block);
    }
}

// Closes the cursor or drops the temporary table; a store the database has
// already lost (a rolled-back transaction, a closed connection) is let go.
void Query::releaseStore()
{
    if (m_store == Store::None)
        return;
    const Store store = m_store;
    m_store = Store::None;
    m_cursorAt = -1;
    if (!m_connGuard || !m_conn->isConnected())
        return;
    QSqlQuery q(m_conn->database());
    if (store == Store::Cursor)
        q.exec(QStringLiteral("CLOSE %1").arg(m_storeName));
    else
        q.exec(QStringLiteral("DROP TABLE IF EXISTS temp.%1").arg(m_storeName));
}

Query::~Query()
{
    releaseStore();
}

void Query::doOpen()
{
    m_fields.clear();
    m_resultToField.clear();
    if (m_sql.join(QString()).trimmed().isEmpty())
        throw EngineError(QStringLiteral("The query has no SQL text"));
    try {
        execute();
    } catch (...) {
        releaseStore();
        throw;
    }
}

void Query::doClose()
{
    m_executed = false;
    releaseStore();
    m_blocks.clear();
    m_blockOrder.clear();
    m_count = -1;
}

bool Query::rowAt(qint64 pos, Record& out)
{
    if (pos < 0)
        return false;
    requireResult();
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
    requireResult();
    if (m_count >= 0)
        return m_count;
    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    if (m_store == Store::Cursor) {
        // The rows after the start: the command reports how many it passed.
        if (!q.exec(QStringLiteral("MOVE ABSOLUTE 0 IN %1").arg(m_storeName))
            || !q.exec(QStringLiteral("MOVE FORWARD ALL IN %1").arg(m_storeName)))
            throw m_conn->failure(q.lastError());
        m_cursorAt = -1;
        m_count = q.numRowsAffected();
    } else {
        if (!q.exec(QStringLiteral("SELECT MAX(rowid) FROM temp.%1").arg(m_storeName)))
            throw m_conn->failure(q.lastError());
        m_count = q.next() ? q.value(0).toLongLong() : 0;
    }
    q.finish();
    return m_count;
}

// Re-reading a query runs its statement again.
bool Query::refetch(const Record& rec, Record& out)
{
    execute();
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
    m_followPending = false;
    setCurrent(r);
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

} // namespace Db
