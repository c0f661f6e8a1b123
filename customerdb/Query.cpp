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
        throw m_conn->failure(q.lastError());
    bindNamed(q, sql, m_params);
    if (!q.exec())
        throw m_conn->failure(q.lastError());
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
        throw m_conn->failure(q.lastError());
    bindNamed(q, sql, m_params);
    if (!q.exec())
        throw m_conn->failure(q.lastError());
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
