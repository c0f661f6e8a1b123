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
    bool eof() const;
    bool bof() const;
    bool isEmpty() const;
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
    const Record& currentRecord() const;

    // Master-detail: only records whose detail fields equal the master's
    // current values are visible; the detail follows the master's cursor.
    // It reads its first record for the master's new one when that is first
    // asked for (a field, a move, a grid on screen), not at the master's
    // move: a detail nobody looks at meanwhile costs nothing.
    void setMasterSource(DataSet* master, const QStringList& masterFields, const QStringList& detailFields);
    DataSet* masterSource() const { return m_master; }

    void setOnCalcFields(CalcFunction fn) { m_calc = std::move(fn); }

    // What a grid shows of this data set, kept up to date by its model.
    // Where every statement is a round trip to a server, a move reads the
    // rows the grid then shows together with the record it moves to.
    struct WindowHint {
        int above = 0;      // rows shown above the current record when a move scrolls
        int below = 0;      // rows shown below it then
        int size = 0;       // rows in the window
        int whole = 0;      // rows shown whole (the last record goes on the last of them)
        int stepsDown = 0;  // moves down that stay on the rows shown
        int stepsUp = 0;    // moves up that stay on the rows shown
    };
    void setWindowHint(const WindowHint& hint) { m_hint = hint; }

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
    // The records a move by distance passes, up to the one it moves to, in
    // order; by default read with rowsAfter or rowsBefore.
    virtual QList<Record> rowsForMove(int distance);
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
    // A detail whose master moved reads its first record now (see
    // setMasterSource); nothing to do otherwise.
    void settle() const { if (m_followPending) const_cast<DataSet*>(this)->readFirstForMaster(); }
    void readFirstForMaster();

    // While a move is in progress (and its listeners are told of it), rows
    // read with it around the record moved to; rowsAfter and rowsBefore take
    // them rather than reading again. Let go when the move is over.
    class MoveScope {
    public:
        explicit MoveScope(DataSet* ds) : m_ds(ds) { ++m_ds->m_moving; }
        ~MoveScope()
        {
            if (--m_ds->m_moving == 0)
                m_ds->m_nearby = Nearby();
        }
        MoveScope(const MoveScope&) = delete;
        MoveScope& operator=(const MoveScope&) = delete;

    private:
        DataSet* m_ds;
    };
    struct Nearby {
        QList<Record> rows;       // in order
        int current = -1;         // the record moved to
        bool atStart = false;     // nothing comes before rows
        bool atEnd = false;       // nothing comes after rows
    };
    bool moving() const { return m_moving > 0; }
    void setNearby(Nearby nearby);
    bool nearbyBefore(const Record& anchor, int count, QList<Record>& out) const;
    bool nearbyAfter(const Record& anchor, int count, bool inclusive, QList<Record>& out) const;
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
    bool m_followPending = false;     // the master moved: the first record is still to be read
    int m_moving = 0;                 // moves in progress (nested: a listener moving again)
    Nearby m_nearby;
    WindowHint m_hint;
    CalcFunction m_calc;
    QPointer<DataSet> m_master;
    QStringList m_masterFields;
    QStringList m_detailFields;
};

} // namespace Db
