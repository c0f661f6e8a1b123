#pragma once
// Data sets: the cursor over records that tables and queries share, with
// navigation, editing, master-detail links and calculated fields, and the
// records and fields it holds.
#include "customerdb/Catalog.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

namespace Db {

class Connection;
class DataSet;

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
    // Re-reads the current record (and the detail rows) from the database;
    // when another user deleted it, the cursor moves to the next record (or
    // the last) and says so with afterScroll.
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
    // True when a text field's values must be stored whole (a key that
    // tells records apart): a longer text is refused rather than cut.
    virtual bool keepsWhole(int) const { return false; }
    void setCurrent(const Record& rec);
    void setNoCurrent();
    // Refresh's re-read; true when the cursor moved (its record was gone).
    bool rereadCurrent();
    void applyCalc(Record& rec);
    void emitScroll();
    void masterMoved();
    // Before an action that reads or writes: the data set is open and its
    // connection usable (a lost one is opened again first).
    void requireActive();
    // The same before a change to the current record: refused once after a
    // reconnect moved the cursor off a record deleted meanwhile.
    void requireActiveForChange();
    // The connection was opened again after it was lost: the data set
    // prepares afresh and reads its current record again, keeping the
    // cursor on it; a pending edit or new record keeps its values.
    // A record deleted meanwhile gives way to the next, as on refresh.
    void resumeAfterReconnect();
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
    bool m_movedOnReconnect = false;  // a reconnect moved the cursor off a deleted record
    CalcFunction m_calc;
    QPointer<DataSet> m_master;
    QStringList m_masterFields;
    QStringList m_detailFields;
};

} // namespace Db
