#pragma once
// A declared table browsed in the order of one of its indexes: keyset reads
// of a few rows by key, exact and nearest seeks, fixed filters, and writes by
// the hidden row id.
#include "customerdb/DataSet.h"

#include <QHash>

#include <functional>
#include <memory>

class QSqlQuery;

namespace Db {

// One equality term of a fixed filter.
struct FilterTerm {
    QString field;
    QVariant value;
};

class Table : public DataSet {
    Q_OBJECT
public:
    explicit Table(Connection* conn, QObject* parent = nullptr);

    void setTableName(const QString& name);
    QString tableName() const { return m_tableName; }
    const TableDef* tableDef() const { return m_def; }

    // Current index by its key field list ("A;B") or by name. The cursor
    // stays on its record. A list that matches no index is an error.
    void setIndexFieldNames(const QString& fields);
    void setIndexName(const QString& name);
    QString indexName() const;
    QStringList indexFields() const { return m_indexFields; }

    // Fixed filter: only records matching every term are visible.
    void setFilter(const QList<FilterTerm>& terms);
    const QList<FilterTerm>& filter() const { return m_filter; }

    // Exact seek on the leading key fields: cursor on the first match, or
    // false with the cursor left in place.
    bool findKey(const QVariantList& values);
    // Nearest seek: the first record at or after the values (the last record
    // when none is).
    void findNearest(const QVariantList& values);

    QList<Record> rowsAfter(const Record* anchor, int count, bool inclusive) override;
    QList<Record> rowsBefore(const Record& anchor, int count) override;
    bool gotoRecord(const Record& rec) override;
    bool sameRow(const Record& a, const Record& b) const override { return a.rid == b.rid && a.rid != 0; }

protected:
    void initNewRecord(Record& rec) override;
    void doOpen() override;
    void doClose() override { m_stmts.clear(); }
    bool fetchFirst(Record& out) override;
    bool fetchLast(Record& out) override;
    bool fetchNext(const Record& from, Record& out) override;
    bool fetchPrior(const Record& from, Record& out) override;
    QList<Record> rowsForMove(int distance) override;
    qint64 doCount() override;
    bool refetch(const Record& rec, Record& out) override;
    qint64 doInsert(const Record& rec) override;
    void doUpdate(const Record& before, const Record& after) override;
    void doDelete(const Record& rec) override;
    bool keepsWhole(int fieldIndex) const override;

private:
    int execCountingRows(const QString& sql, const QVariantList& vals);
    struct Cond {
        QString sql;
        QVariantList values;
    };
    QString selectList() const;
    QString keyExpr(int keyPos) const;
    QString orderBy(bool descending, int fromKey = 0) const;
    Cond baseConditions() const;
    QList<Record> runSelect(const QString& where, const QVariantList& values, const QString& order, int limit);
    std::shared_ptr<QSqlQuery> cachedStatement(const QString& cacheKey, const std::function<QString()>& sql);
    void execCached(QSqlQuery& q, const QString& cacheKey);
    QList<Record> keysetScan(const QVariantList& key, qint64 rid, bool forward, bool inclusive, int count);
    QList<Record> seekScan(const QVariantList& values, int count);
    QString rowCompare(int keys, bool withRid, const QString& op) const;
    QVariantList seekValues(const QVariantList& values) const;

    // Reading ahead (Connection::isDistant): a place in the order, the rows
    // before it and those from it on, in one statement.
    struct Place {
        enum Kind { Start, End, AtRecord, AfterRecord, AtValues };
        Place(Kind k = Start, const Record* r = nullptr, const QVariantList& v = {}) : kind(k), record(r), values(v) {}
        Kind kind;
        const Record* record;  // AtRecord, AfterRecord
        QVariantList values;   // AtValues: leading key values
    };
    struct Around {
        QList<Record> before;  // in order
        QList<Record> after;
    };
    bool readsAhead() const;
    Around readAround(const Place& place, int before, int after);
    // Keeps what was read for the move's listeners, current being the
    // index in before + after of the record moved to.
    void keepNearby(const Around& around, int current, int askedBefore, int askedAfter, const Place& place);
    Record readRowOf(const QSqlQuery& q) const;
    Record readRow(const QSqlQuery& q) const;
    QVariant keyValue(int keyPos, const QVariant& v) const;
    void resolveIndex(const QStringList& fields, const QString& byName);

    QString m_tableName;
    const TableDef* m_def = nullptr;
    QString m_indexName;
    QString m_indexFieldNamesRequested;
    QStringList m_indexFields;
    QList<int> m_keyFieldIdx;
    QList<FilterTerm> m_filter;
    QHash<QString, std::shared_ptr<QSqlQuery>> m_stmts;
};

} // namespace Db
