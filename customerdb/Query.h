#pragma once
// A read-only result of stored SQL text with named parameters. The statement
// runs once per open: a result larger than one block is kept by the database
// (a server-side cursor on PostgreSQL, a temporary table on SQLite) and read
// in blocks of rows around the cursor, so that a walk sees one consistent
// result while only a few blocks are held in memory.
#include "customerdb/DataSet.h"

#include <QHash>

class QSqlQuery;
class QSqlRecord;

namespace Db {

class Query : public DataSet {
    Q_OBJECT
public:
    explicit Query(Connection* conn, QObject* parent = nullptr);
    ~Query() override;

    // The SQL text, held as lines as stored.
    QStringList sql() const { return m_sql; }
    void setSql(const QStringList& lines);
    void setSqlText(const QString& text);
    void addSqlLine(const QString& line);
    void insertSqlLine(int index, const QString& line);

    // Named ":param" parameters, set before open.
    void setParam(const QString& name, const QVariant& value);
    QVariant param(const QString& name) const;

    QList<Record> rowsAfter(const Record* anchor, int count, bool inclusive) override;
    QList<Record> rowsBefore(const Record& anchor, int count) override;
    bool gotoRecord(const Record& rec) override;
    bool sameRow(const Record& a, const Record& b) const override { return a.position == b.position && a.position >= 0; }
    bool readOnly() const override { return true; }

protected:
    void doOpen() override;
    void doClose() override;
    bool fetchFirst(Record& out) override;
    bool fetchLast(Record& out) override;
    bool fetchNext(const Record& from, Record& out) override;
    bool fetchPrior(const Record& from, Record& out) override;
    qint64 doCount() override;
    bool refetch(const Record& rec, Record& out) override;
    qint64 doInsert(const Record& rec) override;
    void doUpdate(const Record& before, const Record& after) override;
    void doDelete(const Record& rec) override;

private:
    enum class Store { None, Cursor, TempTable };

    bool rowAt(qint64 pos, Record& out);
    void loadBlock(qint64 block);
    void readStoredBlock(qint64 block);
    void cacheBlock(qint64 block, const QList<Record>& rows);
    QString effectiveSql() const;
    QString withLiterals(const QString& sql) const;
    void execute();
    void requireResult();
    void releaseStore();
    void takeFields(const QSqlRecord& rec);
    QList<Record> readRows(QSqlQuery& q, qint64 firstPos, int max);

    QStringList m_sql;
    QHash<QString, QVariant> m_params;
    QHash<qint64, QList<Record>> m_blocks;  // a few blocks of rows around the cursor
    QList<qint64> m_blockOrder;
    qint64 m_count = -1;
    QList<int> m_resultToField;  // result column -> field index
    int m_ridColumn = -1;
    Store m_store = Store::None;
    QString m_storeName;         // the cursor or temporary table
    qint64 m_cursorAt = -1;      // rows the cursor has passed, -1 unknown
    bool m_executed = false;     // the statement ran to its end: its result is there to read
};

} // namespace Db
