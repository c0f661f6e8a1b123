#include "customerdb/DataSet.h"

#include "customerdb/Connection.h"
#include "customerdb/EngineError.h"
#include "customerdb/FieldValues.h"

#include <climits>
#include <utility>

namespace Db {

// ---- Field ----------------------------------------------------------------

QString Field::fieldName() const { return m_ds->m_fields[m_index].name; }
FieldType Field::dataType() const { return m_ds->m_fields[m_index].type; }
int Field::size() const { return m_ds->m_fields[m_index].size; }

QVariant Field::value() const
{
    m_ds->settle();
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
    const QVariant v = value();
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    if (ok)
        return n;
    // A number beyond 32 bits (a large sum or count) is not cut: it is an
    // error, and asLargeInt reads it whole.
    const double d = v.toDouble();
    if (d < double(INT_MIN) || d > double(INT_MAX))
        throw EngineError(QStringLiteral("The value %1 of field %2 is too large for an integer")
                              .arg(v.toString(), fieldName()));
    return static_cast<int>(d);
}

qint64 Field::asLargeInt() const { return value().toLongLong(); }

bool Field::asBoolean() const
{
    const QVariant v = value();
    if (v.isNull())
        return false;
    bool ok = false;
    return toBoolean(v, &ok);
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
    if (f.type == FieldType::Text && f.size > 0 && v.typeId() == QMetaType::QString && m_ds->keepsWhole(m_index)) {
        const QString text = rtrimmed(v.toString());
        if (text.size() > f.size)
            throw EngineError(QStringLiteral("'%1' is too long for %2: it holds at most %3 characters.")
                                  .arg(text, f.name)
                                  .arg(f.size));
    }
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

void DataSet::requireActive()
{
    if (m_state == DataSetState::Inactive)
        throw EngineError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    // Rows an earlier move read are not this action's.
    m_nearby = Nearby();
    m_conn->reconnectIfLost();
}

// A change is meant for the record the caller has in front of it. When a
// reconnect, in this action or an earlier one, found the current record
// deleted by another user meanwhile, the cursor has moved on to another
// record, perhaps after the caller took what to write: the first change
// after that is refused, as a change to a deleted record is without a
// reconnect, rather than made to a record the caller may not have seen.
void DataSet::requireActiveForChange()
{
    requireActive();
    if (std::exchange(m_movedOnReconnect, false) && m_state == DataSetState::Browse)
        throw recordChangedError();
}

void DataSet::resumeAfterReconnect()
{
    doOpen();
    m_nearby = Nearby();
    // A detail that has not read its first record yet reads it when asked.
    if (m_state == DataSetState::Browse && !m_followPending)
        m_movedOnReconnect = rereadCurrent();
    else
        emit dataChanged();
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
    m_followPending = false;
    m_nearby = Nearby();
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

bool DataSet::eof() const
{
    settle();
    return m_eof;
}

bool DataSet::bof() const
{
    settle();
    return m_bof;
}

bool DataSet::isEmpty() const
{
    settle();
    return !m_hasCurrent;
}

const Record& DataSet::currentRecord() const
{
    settle();
    return m_current;
}

// The first record for the master's current one, as first() reads it; the
// listeners were told when the master moved. Until it is read, the detail
// stays waiting for it (a failed read is tried again at the next access).
void DataSet::readFirstForMaster()
{
    MoveScope move(this);
    Record r;
    const bool found = fetchFirst(r);
    m_followPending = false;
    if (found)
        setCurrent(r);
    else
        setNoCurrent();
    m_eof = !found;
    m_bof = true;
}

void DataSet::setNearby(Nearby nearby)
{
    m_nearby = moving() ? std::move(nearby) : Nearby();
}

// The index of anchor in the rows read with the move, -1 when it is not there.
static int nearbyIndex(const DataSet& ds, const QList<Record>& rows, const Record& anchor)
{
    for (int i = 0; i < rows.size(); ++i)
        if (ds.sameRow(rows[i], anchor))
            return i;
    return -1;
}

bool DataSet::nearbyBefore(const Record& anchor, int count, QList<Record>& out) const
{
    if (!moving() || m_nearby.rows.isEmpty())
        return false;
    const int i = nearbyIndex(*this, m_nearby.rows, anchor);
    if (i < 0 || (i < count && !m_nearby.atStart))
        return false;
    const int n = qMin(i, count);
    out = m_nearby.rows.mid(i - n, n);
    return true;
}

bool DataSet::nearbyAfter(const Record& anchor, int count, bool inclusive, QList<Record>& out) const
{
    if (!moving() || m_nearby.rows.isEmpty())
        return false;
    int i = nearbyIndex(*this, m_nearby.rows, anchor);
    if (i < 0)
        return false;
    if (!inclusive)
        ++i;
    if (m_nearby.rows.size() - i < count && !m_nearby.atEnd)
        return false;
    out = m_nearby.rows.mid(i, count);
    return true;
}

QList<Record> DataSet::rowsForMove(int distance)
{
    return distance > 0 ? rowsAfter(&m_current, distance, false) : rowsBefore(m_current, -distance);
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
    m_movedOnReconnect = false;  // whoever shows the record has been told
    emit afterScroll();
}

void DataSet::masterMoved()
{
    if (!isOpen())
        return;
    requireActive();
    checkBrowseMode();
    // The first record is read when it is asked for (settle); the listeners
    // are told now, as after first().
    MoveScope move(this);
    m_followPending = true;
    emitScroll();
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
        if (i < 0 || m_master->currentRecord().values.value(i).isNull())
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
        out.append({di, m_master->currentRecord().values.value(mi)});
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
    MoveScope move(this);
    Record r;
    const bool found = fetchFirst(r);
    m_followPending = false;
    if (found) {
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
    MoveScope move(this);
    Record r;
    const bool found = fetchLast(r);
    m_followPending = false;
    if (found) {
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
    settle();
    MoveScope move(this);
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
    settle();
    MoveScope move(this);
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
    settle();
    MoveScope move(this);
    if (!m_hasCurrent || distance == 0)
        return 0;
    QList<Record> rows = rowsForMove(distance);
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
    // A new record needs no database until it is posted, so one can be
    // started again while the connection is lost (after a failed post).
    if (m_state == DataSetState::Inactive)
        throw EngineError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    checkBrowseMode();
    settle();
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
    requireActiveForChange();
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    settle();
    if (!m_hasCurrent) {
        append();
        return;
    }
    // Re-read the record so that the edit starts from what is stored; a
    // record that is gone cannot be edited.
    Record fresh;
    if (!refetch(m_current, fresh))
        throw recordChangedError();
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
    Record probe = m_current;
    if (m_state == DataSetState::Insert)
        probe.rid = doInsert(m_current);
    else
        doUpdate(m_saved, m_current);
    // The record is stored: from here on it is no longer pending, even when
    // reading it back fails (a connection lost just now), or the next post
    // would store it a second time. The reconnect reads it back.
    m_state = DataSetState::Browse;
    m_modified = false;
    Record stored;
    try {
        if (!refetch(probe, stored))
            stored = probe;
    } catch (...) {
        setCurrent(probe);
        m_eof = m_bof = false;
        throw;
    }
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
        if (m_conn->isLost()) {
            // Nothing to read from: back to the record as it was read last.
            if (m_savedHadCurrent)
                setCurrent(m_saved);
            else
                setNoCurrent();
        } else if (m_savedHadCurrent && refetch(m_saved, back)) {
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
    requireActiveForChange();
    if (readOnly())
        throw EngineError(QStringLiteral("Cannot modify a read-only dataset"));
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (m_state == DataSetState::Edit)
        cancel();
    settle();
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
    // A detail yet to read its first record reads it now, afresh.
    if (m_followPending) {
        settle();
        emit dataChanged();
        return;
    }
    rereadCurrent();
}

bool DataSet::rereadCurrent()
{
    const bool had = m_hasCurrent;
    const Record before = m_current;
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
    // A record deleted meanwhile leaves the cursor on another one: whoever
    // shows the current record is told, as after any move.
    const bool moved = had != m_hasCurrent || (had && !sameRow(before, m_current));
    if (moved) {
        m_eof = m_bof = !m_hasCurrent;
        emitScroll();
    }
    return moved;
}

} // namespace Db
