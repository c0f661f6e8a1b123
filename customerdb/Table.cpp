#include "customerdb/Table.h"

#include "customerdb/Connection.h"
#include "customerdb/EngineError.h"
#include "customerdb/FieldValues.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace Db {

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
    requireActive();
    checkBrowseMode();
    resolveIndex(list, QString());
    // The cursor stays on its record: re-read it to get its key in the new
    // order (a detail yet to read its first record reads it in that order).
    if (m_hasCurrent && !m_followPending) {
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
    requireActive();
    checkBrowseMode();
    resolveIndex(QStringList(), name);
    if (m_hasCurrent && !m_followPending) {
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
    return m_conn->dialect().orderExpression(m_conn->quoteName(f.name), f.type);
}

QVariant Table::keyValue(int keyPos, const QVariant& v) const
{
    return m_conn->dialect().orderValue(m_fields[m_keyFieldIdx[keyPos]], v);
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
            c.values << m_conn->dialect().bindValue(f, toFieldValue(f, t.value));
        }
    }
    if (m_master) {
        if (masterHasNoRow()) {
            parts << QStringLiteral("1 = 0");
        } else {
            for (const auto& [di, v] : masterConditions()) {
                const FieldDef& f = m_fields[di];
                parts << m_conn->dialect().orderExpression(m_conn->quoteName(f.name), f.type) + QStringLiteral(" = ?");
                c.values << m_conn->dialect().orderValue(f, v);
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
    // The limit is a value of the statement, so that reads of any number
    // of rows share it.
    const QString cacheKey = base.sql + QChar(0x1f) + where + QChar(0x1f) + order;
    const std::shared_ptr<QSqlQuery> q = cachedStatement(cacheKey, [&] {
        QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), m_conn->quoteName(m_def->name));
        if (!conds.isEmpty())
            sql += QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
        if (!order.isEmpty())
            sql += QStringLiteral(" ORDER BY ") + order;
        return sql + QStringLiteral(" LIMIT ?");
    });
    int i = 0;
    for (const QVariant& v : base.values)
        q->bindValue(i++, v);
    for (const QVariant& v : values)
        q->bindValue(i++, v);
    q->bindValue(i, limit);
    execCached(*q, cacheKey);
    QList<Record> out;
    while (q->next())
        out << readRowOf(*q);
    q->finish();
    return out;
}

// The statement kept under cacheKey, prepared from sql() when there is
// none yet; a statement that fails to prepare is not kept.
std::shared_ptr<QSqlQuery> Table::cachedStatement(const QString& cacheKey, const std::function<QString()>& sql)
{
    std::shared_ptr<QSqlQuery>& kept = m_stmts[cacheKey];
    if (!kept) {
        auto q = std::make_shared<QSqlQuery>(m_conn->database());
        q->setForwardOnly(true);
        if (!q->prepare(sql())) {
            const QSqlError e = q->lastError();
            m_stmts.remove(cacheKey);
            throw m_conn->failure(e);
        }
        kept = q;
    }
    return kept;
}

// Runs a kept statement; one that fails is prepared afresh next time.
void Table::execCached(QSqlQuery& q, const QString& cacheKey)
{
    Connection::aboutToWait();
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        m_stmts.remove(cacheKey);
        throw m_conn->failure(e);
    }
}

Record Table::readRowOf(const QSqlQuery& q) const
{
    Record r = readRow(q);
    const_cast<Table*>(this)->applyCalc(r);
    return r;
}

// "(k1, ..., kn[, _rid]) op (?, ...)" over the first `keys` key
// expressions: on PostgreSQL one range of the index, however many keys.
QString Table::rowCompare(int keys, bool withRid, const QString& op) const
{
    QStringList exprs;
    for (int k = 0; k < keys; ++k)
        exprs << keyExpr(k);
    if (withRid)
        exprs << QStringLiteral("_rid");
    if (exprs.size() == 1)
        return exprs.first() + QLatin1Char(' ') + op + QStringLiteral(" ?");
    return QStringLiteral("(%1) %2 (%3)")
        .arg(exprs.join(QStringLiteral(", ")), op, QStringList(exprs.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
}

// Seek values as the leading keys' order expressions yield them.
QVariantList Table::seekValues(const QVariantList& values) const
{
    QVariantList kv;
    const int j = std::min(int(values.size()), int(m_keyFieldIdx.size()));
    for (int k = 0; k < j; ++k)
        kv << keyValue(k, values[k]);
    return kv;
}

bool Table::readsAhead() const
{
    return m_conn->isDistant() && moving() && m_hint.size > 0 && !m_keyFieldIdx.isEmpty();
}

// The rows before a place in the order (up to `before`, nearest last) and
// from it on (up to `after`), read by one statement: both parts are index
// ranges, joined and put in order.
Table::Around Table::readAround(const Place& place, int before, int after)
{
    QVariantList cut;
    int keys = 0;
    bool withRid = false;
    QString opBefore, opAfter;
    switch (place.kind) {
    case Place::Start:
    case Place::End:
        break;
    case Place::AtRecord:
    case Place::AfterRecord:
        keys = int(m_keyFieldIdx.size());
        withRid = true;
        for (int k = 0; k < keys; ++k)
            cut << place.record->key.value(k);
        cut << place.record->rid;
        break;
    case Place::AtValues:
        cut = seekValues(place.values);
        keys = int(cut.size());
        break;
    }
    const bool at = place.kind != Place::AfterRecord;
    opBefore = at ? QStringLiteral("<") : QStringLiteral("<=");
    opAfter = at ? QStringLiteral(">=") : QStringLiteral(">");
    const bool hasCut = keys > 0 || withRid;
    const bool readBefore = before > 0 && place.kind != Place::Start;
    const bool readAfter = after > 0 && place.kind != Place::End;
    Around out;
    if (!readBefore && !readAfter)
        return out;

    const Cond base = baseConditions();
    // The position of the part's mark among the columns: after the row id,
    // the stored fields and the keys.
    int columns = 1 + int(m_keyFieldIdx.size());
    for (const FieldDef& f : m_fields)
        columns += f.calculated ? 0 : 1;
    const QString cacheKey = QStringLiteral("around") + QChar(0x1f) + base.sql + QChar(0x1f)
        + QString::number(int(place.kind)) + QChar(0x1f) + QString::number(keys) + QChar(0x1f)
        + QString::number(int(readBefore) * 2 + int(readAfter));
    const std::shared_ptr<QSqlQuery> q = cachedStatement(cacheKey, [&] {
        auto part = [&](bool isBefore) {
            QStringList conds;
            if (!base.sql.isEmpty())
                conds << base.sql;
            if (hasCut)
                conds << rowCompare(keys, withRid, isBefore ? opBefore : opAfter);
            QString sql = QStringLiteral("SELECT %1, %2 FROM %3")
                              .arg(selectList(), isBefore ? QStringLiteral("0") : QStringLiteral("1"), m_conn->quoteName(m_def->name));
            if (!conds.isEmpty())
                sql += QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
            return sql + QStringLiteral(" ORDER BY %1 LIMIT ?").arg(orderBy(isBefore));
        };
        if (!(readBefore && readAfter))
            return part(readBefore);
        QStringList order{QString::number(columns + 1)};
        for (int k = 0; k < m_keyFieldIdx.size(); ++k)
            order << QString::number(columns - int(m_keyFieldIdx.size()) + 1 + k);
        order << QStringLiteral("1");
        return QStringLiteral("(%1) UNION ALL (%2) ORDER BY %3").arg(part(true), part(false), order.join(QStringLiteral(", ")));
    });
    int i = 0;
    auto bindPart = [&](int limit) {
        for (const QVariant& v : base.values)
            q->bindValue(i++, v);
        if (hasCut)
            for (const QVariant& v : cut)
                q->bindValue(i++, v);
        q->bindValue(i++, limit);
    };
    if (readBefore)
        bindPart(before);
    if (readAfter)
        bindPart(after);
    execCached(*q, cacheKey);
    while (q->next()) {
        if (readBefore && readAfter ? q->value(columns).toInt() == 0 : readBefore)
            out.before << readRowOf(*q);
        else
            out.after << readRowOf(*q);
    }
    q->finish();
    if (readBefore && !readAfter)
        std::reverse(out.before.begin(), out.before.end());
    return out;
}

void Table::keepNearby(const Around& around, int current, int askedBefore, int askedAfter, const Place& place)
{
    Nearby n;
    n.rows = around.before + around.after;
    n.current = current;
    n.atStart = place.kind == Place::Start || around.before.size() < askedBefore;
    n.atEnd = place.kind == Place::End || around.after.size() < askedAfter;
    setNearby(std::move(n));
}

// Rows after (or before) the position (key, rid) in index order. The tuple
// comparison is split into one range scan per key level so that every scan
// is a plain index range on both backends.
QList<Record> Table::keysetScan(const QVariantList& key, qint64 rid, bool forward, bool inclusive, int count)
{
    QList<Record> out;
    const int n = int(m_keyFieldIdx.size());
    if (m_conn->dialect().readsAhead()) {
        // One statement: the tuple comparison is one index range there.
        QVariantList vals;
        for (int k = 0; k < n; ++k)
            vals << key.value(k);
        vals << rid;
        const QString op = forward ? (inclusive ? QStringLiteral(">=") : QStringLiteral(">"))
                                   : (inclusive ? QStringLiteral("<=") : QStringLiteral("<"));
        return runSelect(rowCompare(n, true, op), vals, orderBy(!forward), count);
    }
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
    const QVariantList kv = seekValues(values);
    if (m_conn->dialect().readsAhead())
        return runSelect(rowCompare(j, false, QStringLiteral(">=")), kv, orderBy(false), count);
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
    if (readsAhead()) {
        const Place start;
        const Around a = readAround(start, 0, m_hint.size);
        if (a.after.isEmpty())
            return false;
        keepNearby(a, 0, 0, m_hint.size, start);
        out = a.after.first();
        return true;
    }
    const QList<Record> r = runSelect(QString(), {}, orderBy(false), 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchLast(Record& out)
{
    if (readsAhead()) {
        // The last record goes on the last row shown whole.
        const Place end{Place::End};
        const int before = std::max(m_hint.whole, m_hint.above + 1);
        const Around a = readAround(end, before, 0);
        if (a.before.isEmpty())
            return false;
        keepNearby(a, int(a.before.size()) - 1, before, 0, end);
        out = a.before.last();
        return true;
    }
    const QList<Record> r = runSelect(QString(), {}, orderBy(true), 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchNext(const Record& from, Record& out)
{
    if (readsAhead() && m_hint.stepsDown < 1) {
        const Place after{Place::AfterRecord, &from};
        const Around a = readAround(after, m_hint.above, 1 + m_hint.below);
        if (a.after.isEmpty())
            return false;
        keepNearby(a, int(a.before.size()), m_hint.above, 1 + m_hint.below, after);
        out = a.after.first();
        return true;
    }
    const QList<Record> r = keysetScan(from.key, from.rid, true, false, 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

bool Table::fetchPrior(const Record& from, Record& out)
{
    if (readsAhead() && m_hint.stepsUp < 1) {
        const Place at{Place::AtRecord, &from};
        const Around a = readAround(at, 1 + m_hint.above, m_hint.below);
        if (a.before.isEmpty())
            return false;
        keepNearby(a, int(a.before.size()) - 1, 1 + m_hint.above, m_hint.below, at);
        out = a.before.last();
        return true;
    }
    const QList<Record> r = keysetScan(from.key, from.rid, false, false, 1);
    if (r.isEmpty())
        return false;
    out = r.first();
    return true;
}

QList<Record> Table::rowsForMove(int distance)
{
    if (distance > 0 && readsAhead() && distance > m_hint.stepsDown) {
        const Place after{Place::AfterRecord, &m_current};
        const Around a = readAround(after, m_hint.above, distance + m_hint.below);
        const QList<Record> passed = a.after.mid(0, distance);
        if (!passed.isEmpty())
            keepNearby(a, int(a.before.size() + passed.size()) - 1, m_hint.above, distance + m_hint.below, after);
        return passed;
    }
    if (distance < 0 && readsAhead() && -distance > m_hint.stepsUp) {
        const Place at{Place::AtRecord, &m_current};
        const Around a = readAround(at, -distance + m_hint.above, m_hint.below);
        const QList<Record> passed = a.before.mid(std::max(0, int(a.before.size()) + distance));
        if (!passed.isEmpty())
            keepNearby(a, int(a.before.size() - passed.size()), -distance + m_hint.above, m_hint.below, at);
        return passed;
    }
    return DataSet::rowsForMove(distance);
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
        vals << m_conn->dialect().bindValue(f, rec.values[i]);
    }
    const QString tq = m_conn->quoteName(m_def->name);
    const QString sql = cols.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING _rid").arg(tq)
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING _rid")
              .arg(tq, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    QSqlQuery q(m_conn->database());
    if (!q.prepare(sql))
        throw m_conn->failure(q.lastError());
    for (int i = 0; i < vals.size(); ++i)
        q.bindValue(i, vals[i]);
    if (!q.exec())
        throw m_conn->failure(q.lastError());
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
        vals << m_conn->dialect().bindValue(f, b);
    }
    if (sets.isEmpty())
        return;
    vals << after.rid;
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE _rid = ?").arg(m_conn->quoteName(m_def->name), sets.join(QStringLiteral(", ")));
    if (execCountingRows(sql, vals) == 0)
        throw recordChangedError();
}

void Table::doDelete(const Record& rec)
{
    if (execCountingRows(QStringLiteral("DELETE FROM %1 WHERE _rid = ?").arg(m_conn->quoteName(m_def->name)), {rec.rid}) == 0)
        throw recordChangedError();
}

// Fields of a unique index tell records apart: cutting one could make it
// another record's value.
bool Table::keepsWhole(int fieldIndex) const
{
    if (!m_def)
        return false;
    const QString& name = m_fields[fieldIndex].name;
    for (const IndexDef& ix : m_def->indexes)
        if (ix.unique)
            for (const QString& f : ix.fields)
                if (f.compare(name, Qt::CaseInsensitive) == 0)
                    return true;
    return false;
}

// Runs a write of one row and returns how many rows it changed.
int Table::execCountingRows(const QString& sql, const QVariantList& vals)
{
    m_conn->connect();
    QSqlQuery q(m_conn->database());
    if (!q.prepare(sql))
        throw m_conn->failure(q.lastError());
    for (int i = 0; i < vals.size(); ++i)
        q.bindValue(i, vals[i]);
    if (!q.exec())
        throw m_conn->failure(q.lastError());
    return q.numRowsAffected();
}

// A key value read back as the seek values were bound: text and whole
// numbers, the keys a window is read with on a seek (others are sought
// exactly, without one).
static bool sameKey(const QVariant& stored, const QVariant& sought, FieldType type)
{
    return type == FieldType::Integer ? stored.toLongLong() == sought.toLongLong() : stored.toString() == sought.toString();
}

bool Table::findKey(const QVariantList& values)
{
    requireActive();
    checkBrowseMode();
    // The cursor stays where it is when nothing is found.
    settle();
    MoveScope move(this);
    const int j = std::min(int(values.size()), int(m_keyFieldIdx.size()));
    if (j == 0)
        throw EngineError(QStringLiteral("Table %1 has no current index to seek on").arg(m_def->name));
    bool textOrNumbers = true;
    for (int k = 0; k < j; ++k) {
        const FieldType t = m_fields[m_keyFieldIdx[k]].type;
        textOrNumbers = textOrNumbers && (t == FieldType::Text || t == FieldType::Integer);
    }
    Record found;
    if (readsAhead() && textOrNumbers) {
        // The first record at or after the values, with the grid's rows
        // around it: found when its leading keys are the values.
        const Place at{Place::AtValues, nullptr, values.mid(0, j)};
        const Around a = readAround(at, m_hint.above, 1 + m_hint.below);
        const QVariantList sought = seekValues(at.values);
        bool same = !a.after.isEmpty();
        for (int k = 0; k < j && same; ++k)
            same = sameKey(a.after.first().key.value(k), sought[k], m_fields[m_keyFieldIdx[k]].type);
        if (!same)
            return false;
        keepNearby(a, int(a.before.size()), m_hint.above, 1 + m_hint.below, at);
        found = a.after.first();
    } else {
        QStringList parts;
        QVariantList vals;
        for (int k = 0; k < j; ++k) {
            parts << keyExpr(k) + QStringLiteral(" = ?");
            vals << keyValue(k, values[k]);
        }
        const QList<Record> r = runSelect(parts.join(QStringLiteral(" AND ")), vals, orderBy(false, j), 1);
        if (r.isEmpty())
            return false;
        found = r.first();
    }
    setCurrent(found);
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

void Table::findNearest(const QVariantList& values)
{
    requireActive();
    checkBrowseMode();
    MoveScope move(this);
    if (readsAhead()) {
        // The first record at or after the values with the grid's rows
        // around it; past the end, the last record and those before it.
        const Place at{Place::AtValues, nullptr, values};
        const int before = std::max(m_hint.above, 1);
        const Around a = readAround(at, before, 1 + m_hint.below);
        m_followPending = false;
        if (!a.after.isEmpty()) {
            keepNearby(a, int(a.before.size()), before, 1 + m_hint.below, at);
            setCurrent(a.after.first());
            m_eof = m_bof = false;
        } else if (!a.before.isEmpty()) {
            keepNearby(a, int(a.before.size()) - 1, before, 1 + m_hint.below, at);
            setCurrent(a.before.last());
            m_eof = true;
            m_bof = false;
        } else {
            setNoCurrent();
            m_eof = m_bof = true;
        }
        emitScroll();
        return;
    }
    const QList<Record> r = seekScan(values, 1);
    Record rec;
    m_followPending = false;
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
    QList<Record> near;
    if (nearbyAfter(*anchor, count, inclusive, near))
        return near;
    return keysetScan(anchor->key, anchor->rid, true, inclusive, count);
}

QList<Record> Table::rowsBefore(const Record& anchor, int count)
{
    if (!isOpen() || count <= 0 || anchor.rid == 0)
        return {};
    QList<Record> near;
    if (nearbyBefore(anchor, count, near))
        return near;
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
    if (!m_followPending && m_hasCurrent && rec.rid == m_current.rid && m_state == DataSetState::Browse)
        return true;
    checkBrowseMode();
    Record r;
    if (!refetch(rec, r))
        return false;
    m_followPending = false;
    setCurrent(r);
    m_eof = m_bof = false;
    emitScroll();
    return true;
}

} // namespace Db
