#pragma once
// The database engine interface: connections, tables with declared layouts and
// indexes, keyset browsing and seeks, editing, master-detail links, calculated
// fields and parameterised queries, over Qt SQL on SQLite or PostgreSQL.
//
// No operation loads a whole table: every move reads a few rows by key
// ("keyset" queries on the current index, ties broken by the hidden row id).
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <stdexcept>

namespace Db {

// ---- Errors ---------------------------------------------------------------

// Every engine failure: carries the engine's message and native error code.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const QString& message, const QString& nativeCode = QString());
    QString message() const { return m_message; }
    QString nativeCode() const { return m_nativeCode; }
    // The help-context number of the error; the database layer gives none.
    int helpContext() const { return 0; }

private:
    QString m_message;
    QString m_nativeCode;
};

// ---- Declared layouts -----------------------------------------------------

enum class FieldType { Integer, Text, Boolean, Date, DateTime, Float, Currency };

struct FieldDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;             // text width in characters; 0 for other types
    bool calculated = false;  // computed on fetch by the data set's calc function, never stored
};

struct IndexDef {
    QString name;
    QStringList fields;  // key fields, leading first
    bool unique = false;
};

struct TableDef {
    QString name;
    QList<FieldDef> fields;     // stored order
    QList<IndexDef> indexes;
    // An integer field the database fills when a row is posted without it
    // (a practice case's number); empty when none.
    QString autoNumberField;

    const FieldDef* field(const QString& name) const;  // case-insensitive
    const IndexDef* indexByName(const QString& name) const;
    // The index whose leading key fields are exactly the given list.
    const IndexDef* indexByFields(const QStringList& fields) const;
};

// The tables one database declares.
struct Catalog {
    QString name;  // "TrellaneEMC", "Medisoft"
    int schemaVersion = 1;
    QList<TableDef> tables;
    const TableDef* table(const QString& name) const;  // case-insensitive
};

// ---- Connections ----------------------------------------------------------

enum class Backend { SQLite, PostgreSQL };

struct ConnectionSettings {
    Backend backend = Backend::SQLite;
    QString sqliteFile;   // SQLite: the database file
    QString pgService;    // PostgreSQL: libpq service name (password from libpq's password file)
    QString pgDatabase;   // PostgreSQL: database name overriding the service's, may be empty
};

class DataSet;

class Connection : public QObject {
    Q_OBJECT
public:
    Connection(const QString& name, const Catalog* catalog, QObject* parent = nullptr);
    ~Connection() override;

    void setSettings(const ConnectionSettings& s) { m_settings = s; }
    const ConnectionSettings& settings() const { return m_settings; }
    const Catalog& catalog() const { return *m_catalog; }
    QString name() const { return m_name; }
    Backend backend() const { return m_settings.backend; }

    // Opens the connection (does nothing when open); throws EngineError.
    void connect();
    // Closes every table and query of this connection, then the connection.
    void disconnect();
    bool isConnected() const;

    QSqlDatabase database() const;

    // "Today" of the database: pinned by tests, else the server's date.
    void setPinnedToday(const QDate& d) { m_pinnedToday = d; }
    QDate pinnedToday() const { return m_pinnedToday; }
    // SQL expression of the database's current date.
    QString todayExpression() const;

    // Creates or upgrades the declared tables and indexes; idempotent.
    void createSchema();
    // Schema version stored in the database, 0 when none.
    int storedSchemaVersion();

    // Quoted column or table name in this backend's spelling.
    QString quoteName(const QString& name) const;
    // Turns stored query text into this backend's dialect: CurDate() and
    // date arithmetic, quoted names.
    QString translateSql(const QString& sql) const;

    // Runs a statement with positional values; throws EngineError.
    void exec(const QString& sql, const QVariantList& values = {});
    // Runs a statement and returns the first column of its first row.
    QVariant scalar(const QString& sql, const QVariantList& values = {});

    void beginTransaction();
    void commit();
    void rollback();

    // Data sets register themselves so that disconnect closes them.
    void attach(DataSet* ds);
    void detach(DataSet* ds);

private:
    bool schemaVersionHasCatalog();

    QString m_name;
    const Catalog* m_catalog;
    ConnectionSettings m_settings;
    QDate m_pinnedToday;
    QList<QPointer<DataSet>> m_dataSets;
};

// ---- Records and fields ---------------------------------------------------

// One row as the data set holds it: its row identity (0 for a new row or a
// query row), its field values in field order, and its order key.
struct Record {
    qint64 rid = 0;
    int position = -1;      // queries: zero-based row number
    QVector<QVariant> values;
    QVariantList key;       // tables: the order key (index expressions)
};

enum class DataSetState { Inactive, Browse, Edit, Insert };

class Field {
public:
    Field(DataSet* ds, int index) : m_ds(ds), m_index(index) {}
    QString fieldName() const;
    FieldType dataType() const;
    int size() const;
    bool isNull() const;
    QVariant value() const;
    QString asString() const;     // null: empty text; text without trailing blanks
    int asInteger() const;        // null or not a number: 0
    qint64 asLargeInt() const;
    bool asBoolean() const;       // null: false
    double asFloat() const;       // null: 0
    QDate asDate() const;         // null: no date
    QDateTime asDateTime() const; // null: no date
    void setValue(const QVariant& v);  // text cut to the field's width
    void setNull();

private:
    DataSet* m_ds;
    int m_index;
};

// Reads and writes the values of one record by field name (calc functions).
class RecordAccess {
public:
    RecordAccess(const QList<FieldDef>& fields, Record& rec) : m_fields(fields), m_rec(rec) {}
    QVariant value(const QString& field) const;
    QString asString(const QString& field) const;
    void setValue(const QString& field, const QVariant& v);

private:
    const QList<FieldDef>& m_fields;
    Record& m_rec;
};

using CalcFunction = std::function<void(RecordAccess&)>;

// ---- Data sets --------------------------------------------------------------

class DataSet : public QObject {
    Q_OBJECT
public:
    explicit DataSet(Connection* conn, QObject* parent = nullptr);
    ~DataSet() override;

    Connection* connection() const { return m_conn; }

    void open();
    void close();
    bool isOpen() const { return m_state != DataSetState::Inactive; }
    DataSetState state() const { return m_state; }
    bool isBrowsing() const { return m_state == DataSetState::Browse; }

    // Navigation over the visible records in the current order.
    void first();
    void last();
    void next();
    void prior();
    int moveBy(int distance);  // returns the distance actually moved
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool isEmpty() const { return !m_hasCurrent; }
    // Counts the visible records (a COUNT query: keep it off the seek path).
    qint64 recordCount();

    // Editing. Read-only data sets (queries) refuse to start an edit.
    virtual bool readOnly() const { return false; }
    void append();
    void edit();
    void post();
    void cancel();
    void del();
    // Posts a modified pending record, cancels an unmodified one.
    void checkBrowseMode();
    bool isModified() const { return m_modified; }
    // Re-reads the current record (and the detail rows) from the database.
    void refresh();

    // Fields of the current record.
    const QList<FieldDef>& fields() const { return m_fields; }
    int fieldIndex(const QString& name) const;  // case-insensitive, -1 when absent
    Field fieldByName(const QString& name);     // throws when absent
    const Record& currentRecord() const { return m_current; }

    // Master-detail: only records whose detail fields equal the master's
    // current values are visible; the detail follows the master's cursor.
    void setMasterSource(DataSet* master, const QStringList& masterFields, const QStringList& detailFields);
    DataSet* masterSource() const { return m_master; }

    void setOnCalcFields(CalcFunction fn) { m_calc = std::move(fn); }

    // For grids: the records from the anchor on (inclusive) or before it.
    virtual QList<Record> rowsAfter(const Record* anchor, int count, bool inclusive) = 0;
    virtual QList<Record> rowsBefore(const Record& anchor, int count) = 0;
    // Makes the given record current (a grid click); false when it is gone.
    virtual bool gotoRecord(const Record& rec) = 0;
    // True when a and b are the same row.
    virtual bool sameRow(const Record& a, const Record& b) const = 0;

signals:
    void afterScroll();
    void afterOpen();
    void afterClose();
    void stateChanged();
    // Rows were written, deleted or re-read: grids re-read their window.
    void dataChanged();

protected:
    friend class Field;
    friend class Connection;

    virtual void doOpen() = 0;
    virtual void doClose() {}
    virtual bool fetchFirst(Record& out) = 0;
    virtual bool fetchLast(Record& out) = 0;
    virtual bool fetchNext(const Record& from, Record& out) = 0;
    virtual bool fetchPrior(const Record& from, Record& out) = 0;
    virtual qint64 doCount() = 0;
    virtual bool refetch(const Record& rec, Record& out) = 0;
    virtual qint64 doInsert(const Record& rec) = 0;
    virtual void doUpdate(const Record& before, const Record& after) = 0;
    virtual void doDelete(const Record& rec) = 0;

    // Fills a new record's values beyond the master link's.
    virtual void initNewRecord(Record&) {}
    void setCurrent(const Record& rec);
    void setNoCurrent();
    void applyCalc(Record& rec);
    void emitScroll();
    void masterMoved();
    void requireActive() const;
    // Values the master link imposes: detail field index -> value.
    QList<QPair<int, QVariant>> masterConditions() const;
    bool masterHasNoRow() const;
    Record blankRecord() const;
    QVariant normalize(int fieldIndex, const QVariant& v) const;

    Connection* m_conn;
    QPointer<Connection> m_connGuard;
    QList<FieldDef> m_fields;
    DataSetState m_state = DataSetState::Inactive;
    Record m_current;
    Record m_saved;   // the record before edit / the current row before append
    bool m_hasCurrent = false;
    bool m_savedHadCurrent = false;
    bool m_eof = true;
    bool m_bof = true;
    bool m_modified = false;
    CalcFunction m_calc;
    QPointer<DataSet> m_master;
    QStringList m_masterFields;
    QStringList m_detailFields;
};

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
    qint64 doCount() override;
    bool refetch(const Record& rec, Record& out) override;
    qint64 doInsert(const Record& rec) override;
    void doUpdate(const Record& before, const Record& after) override;
    void doDelete(const Record& rec) override;

private:
    struct Cond {
        QString sql;
        QVariantList values;
    };
    QString selectList() const;
    QString keyExpr(int keyPos) const;
    QString orderBy(bool descending, int fromKey = 0) const;
    Cond baseConditions() const;
    QList<Record> runSelect(const QString& where, const QVariantList& values, const QString& order, int limit);
    QList<Record> keysetScan(const QVariantList& key, qint64 rid, bool forward, bool inclusive, int count);
    QList<Record> seekScan(const QVariantList& values, int count);
    Record readRow(const class QSqlQuery& q) const;
    QVariant keyValue(int keyPos, const QVariant& v) const;
    void resolveIndex(const QStringList& fields, const QString& byName);

    QString m_tableName;
    const TableDef* m_def = nullptr;
    QString m_indexName;
    QString m_indexFieldNamesRequested;
    QStringList m_indexFields;
    QList<int> m_keyFieldIdx;
    QList<FilterTerm> m_filter;
    QHash<QString, std::shared_ptr<class QSqlQuery>> m_stmts;
};

class Query : public DataSet {
    Q_OBJECT
public:
    explicit Query(Connection* conn, QObject* parent = nullptr);

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
    bool rowAt(qint64 pos, Record& out);
    void loadBlock(qint64 block);
    QString effectiveSql() const;

    QStringList m_sql;
    QHash<QString, QVariant> m_params;
    QHash<qint64, QList<Record>> m_blocks;  // a few blocks of rows around the cursor
    QList<qint64> m_blockOrder;
    qint64 m_count = -1;
    QList<int> m_resultToField;  // result column -> field index
    int m_ridColumn = -1;
};

} // namespace Db
