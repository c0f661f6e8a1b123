#include "customerdb/DataSetModel.h"

#include "helpers/Command.h"
#include "helpers/Platform.h"

DataSetModel::DataSetModel(Db::DataSet* ds, QObject* parent)
    : QAbstractTableModel(parent)
    , m_ds(ds)
{
    if (!ds)
        return;
    setColumns({});
    connect(ds, &Db::DataSet::afterScroll, this, &DataSetModel::followCursor);
    connect(ds, &Db::DataSet::stateChanged, this, &DataSetModel::followCursor);
    connect(ds, &Db::DataSet::dataChanged, this, &DataSetModel::reload);
    connect(ds, &Db::DataSet::afterOpen, this, [this] { setColumns(m_requested); });
    connect(ds, &Db::DataSet::afterClose, this, &DataSetModel::reload);
    reload();
}

DataSetModel::~DataSetModel()
{
    // No grid shows the data set any more: its moves read no rows around.
    if (m_ds)
        m_ds->setWindowHint({});
}

void DataSetModel::setColumns(const QStringList& fieldNames)
{
    m_requested = fieldNames;
    beginResetModel();
    m_columns.clear();
    m_fieldIdx.clear();
    if (m_ds) {
        const QList<Db::FieldDef>& defs = m_ds->fields();
        if (fieldNames.isEmpty()) {
            for (int i = 0; i < defs.size(); ++i) {
                m_columns << defs[i].name;
                m_fieldIdx << i;
            }
        } else {
            for (const QString& name : fieldNames) {
                m_columns << name;
                m_fieldIdx << m_ds->fieldIndex(name);
            }
        }
    }
    endResetModel();
    reload();
}

void DataSetModel::setWindowSize(int rows, int wholeRows)
{
    rows = qMax(1, rows);
    wholeRows = wholeRows < 0 ? rows : qBound(1, wholeRows, rows);
    if (rows == m_windowSize && wholeRows == m_wholeRows)
        return;
    m_windowSize = rows;
    m_wholeRows = wholeRows;
    if (m_currentRow >= m_wholeRows)
        m_currentRow = m_wholeRows - 1;
    reload();
}

// Rebuilds the window around the current record, keeping it on the screen
// row it had (a seek keeps the grid's row; a step past the edge scrolls).
void DataSetModel::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused && m_stale)
        reload();
    updateHint();
}

void DataSetModel::updateHint()
{
    if (!m_ds)
        return;
    Db::DataSet::WindowHint hint;
    if (!m_paused) {
        hint.above = m_currentRow < 0 ? 0 : qMin(m_currentRow, m_wholeRows - 1);
        hint.below = m_windowSize - 1 - hint.above;
        hint.size = m_windowSize;
        hint.whole = m_wholeRows;
        const int shown = qMin(int(m_rows.size()), m_wholeRows);
        hint.stepsDown = m_currentRow < 0 ? 0 : qMax(0, shown - 1 - m_currentRow);
        hint.stepsUp = qMax(0, qMin(m_currentRow, shown - 1));
    }
    m_ds->setWindowHint(hint);
}

void DataSetModel::reload()
{
    if (m_paused) {
        m_stale = true;
        return;
    }
    m_stale = false;
    QList<Db::Record> rows;
    int cur = -1;
    if (m_ds && m_ds->isOpen() && !m_ds->isEmpty()) {
        const Db::Record& current = m_ds->currentRecord();
        const bool inserting = m_ds->state() == Db::DataSetState::Insert;
        if (inserting) {
            // The pending new record shows under the row that was current,
            // the other rows staying where they were (those under it move
            // down one); it stays on the rows shown whole.
            int at = m_currentRow + 1;
            for (int i = 0; i < m_rows.size(); ++i) {
                if (isPending(m_rows[i])) {
                    at = i;
                    continue;
                }
                rows << m_rows[i];
            }
            at = qBound(0, at, int(rows.size()));
            rows.insert(at, current);
            while (at >= m_wholeRows) {
                rows.removeFirst();
                --at;
            }
            while (rows.size() > m_windowSize)
                rows.removeLast();
            cur = at;
        } else {
            const int above = m_currentRow < 0 ? 0 : qMin(m_currentRow, m_wholeRows - 1);
            QList<Db::Record> before = above > 0 ? m_ds->rowsBefore(current, above) : QList<Db::Record>();
            // Near the start the rows below fill the window, near the end
            // the rows above.
            const int below = m_windowSize - 1 - int(before.size());
            QList<Db::Record> after = m_ds->rowsAfter(&current, below, false);
            // At the end of the data the last record stays on the last row
            // shown whole, with nothing under it.
            const int wholeBelow = m_wholeRows - 1 - int(before.size());
            if (after.size() < wholeBelow && before.size() == above) {
                const int more = wholeBelow - int(after.size());
                before = m_ds->rowsBefore(current, above + more);
            }
            rows = before;
            rows << current;
            cur = rows.size() - 1;
            rows << after;
            while (rows.size() > m_windowSize && cur < rows.size() - 1)
                rows.removeLast();
        }
    } else if (m_ds && m_ds->isOpen() && m_ds->state() == Db::DataSetState::Insert) {
        rows << m_ds->currentRecord();
        cur = 0;
    }
    if (rows.size() == m_rows.size() && !rows.isEmpty()) {
        m_rows = rows;
        emit dataChanged(index(0, 0), index(rows.size() - 1, qMax(0, int(m_columns.size()) - 1)));
    } else {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    m_currentRow = cur;
    updateHint();
    emit currentRowChanged(m_currentRow);
}

void DataSetModel::followCursor()
{
    if (m_paused) {
        m_stale = true;
        return;
    }
    if (!m_ds || !m_ds->isOpen() || m_ds->isEmpty() || m_ds->state() != Db::DataSetState::Browse) {
        reload();
        return;
    }
    const Db::Record& current = m_ds->currentRecord();
    // A new record that was pending is gone (stored or abandoned): its row
    // goes, and the window is read again around the current record.
    for (int i = 0; i < m_rows.size(); ++i) {
        if (isPending(m_rows[i])) {
            m_rows.removeAt(i);
            for (int j = 0; j < m_rows.size(); ++j)
                if (m_ds->sameRow(m_rows[j], current))
                    m_currentRow = j;
            reload();
            return;
        }
    }
    // A record on the row cut off at the bottom scrolls the window instead.
    for (int i = 0; i < qMin(int(m_rows.size()), m_wholeRows); ++i) {
        if (m_ds->sameRow(m_rows[i], current)) {
            // A row that shows the same values is not repainted (a search
            // that stays on the same account moves nothing).
            const bool changed = m_rows[i].values != current.values;
            m_rows[i] = current;
            if (changed)
                emit dataChanged(index(i, 0), index(i, qMax(0, int(m_columns.size()) - 1)));
            m_currentRow = i;
            updateHint();
            emit currentRowChanged(i);
            return;
        }
    }
    reload();
}

// The pending new record: not yet stored, so without a row id or position.
bool DataSetModel::isPending(const Db::Record& rec)
{
    return rec.rid == 0 && rec.position < 0;
}

bool DataSetModel::activateRow(int row)
{
    if (!m_ds || row < 0 || row >= m_rows.size())
        return false;
    if (row == m_currentRow)
        return true;
    const Db::Record target = m_rows[row];
    if (isPending(target))
        return false;
    if (!m_ds->gotoRecord(target)) {
        reload();
        return false;
    }
    return true;
}

const Db::Record* DataSetModel::recordAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

int DataSetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int DataSetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns.size();
}

QString DataSetModel::display(const Db::Record& rec, int fieldIndex) const
{
    if (fieldIndex < 0 || fieldIndex >= rec.values.size())
        return QString();
    const QVariant& v = rec.values[fieldIndex];
    if (v.isNull())
        return QString();
    switch (m_ds->fields()[fieldIndex].type) {
    case Db::FieldType::Boolean:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case Db::FieldType::Date:
        return v.toDate().toString(QStringLiteral("M/d/yyyy"));
    case Db::FieldType::DateTime:
        return v.toDateTime().toString(QStringLiteral("M/d/yyyy h:mm:ss AP"));
    default:
        return v.toString();
    }
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_fieldIdx.size())
        return {};
    const int field = m_fieldIdx[index.column()];
    if (isCheckColumn(index.column())) {
        if (role != Qt::CheckStateRole)
            return {};
        const QVariant& v = m_rows[index.row()].values.value(field);
        return !v.isNull() && v.toBool() ? Qt::Checked : Qt::Unchecked;
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return display(m_rows[index.row()], field);
    return {};
}

QVariant DataSetModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (o == Qt::Horizontal)
        return section < m_columns.size() ? m_columns[section] : QVariant();
    return section == m_currentRow ? QStringLiteral("\u25B6") : QString();
}

void DataSetModel::setEditable(bool editable)
{
    if (editable == m_editable)
        return;
    beginResetModel();
    m_editable = editable;
    endResetModel();
}

bool DataSetModel::isCheckColumn(int column) const
{
    const int field = m_fieldIdx.value(column, -1);
    return m_editable && m_ds && field >= 0 && m_ds->fields()[field].type == Db::FieldType::Boolean;
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_editable && index.isValid() && index.column() < m_fieldIdx.size() && m_fieldIdx[index.column()] >= 0
        && !m_ds->fields()[m_fieldIdx[index.column()]].calculated) {
        f |= Qt::ItemIsEditable;
        if (isCheckColumn(index.column()))
            f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

QString DataSetModel::refusal(const Db::FieldDef& field, const QVariant& value, QVariant* converted)
{
    *converted = QVariant();
    if (value.isNull() || !value.isValid())
        return {};
    if (value.typeId() != QMetaType::QString) {
        *converted = value;
        return {};
    }
    QString text = value.toString();
    if (field.type != Db::FieldType::Text)
        text = text.trimmed();
    else
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
    if (text.isEmpty())
        return {};
    bool ok = false;
    switch (field.type) {
    case Db::FieldType::Text:
        if (field.size > 0 && text.size() > field.size)
            return QStringLiteral("%1 holds at most %2 characters; \"%3\" has %4.")
                .arg(field.name).arg(field.size).arg(text).arg(text.size());
        *converted = text;
        return {};
    case Db::FieldType::Integer: {
        const int n = text.toInt(&ok);
        if (!ok)
            return QStringLiteral("'%1' is not a valid integer value for %2.").arg(text, field.name);
        *converted = n;
        return {};
    }
    case Db::FieldType::Float:
    case Db::FieldType::Currency: {
        const double d = text.toDouble(&ok);
        if (!ok)
            return QStringLiteral("'%1' is not a valid number for %2.").arg(text, field.name);
        *converted = d;
        return {};
    }
    case Db::FieldType::Boolean:
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            *converted = true;
        else if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            *converted = false;
        else
            return QStringLiteral("'%1' is not a valid value for %2: type True or False.").arg(text, field.name);
        return {};
    case Db::FieldType::Date: {
        QDate d = QDate::fromString(text, QStringLiteral("M/d/yyyy"));
        if (!d.isValid())
            d = QDate::fromString(text, Qt::ISODate);
        if (!d.isValid())
            return QStringLiteral("'%1' is not a valid date for %2.").arg(text, field.name);
        *converted = d;
        return {};
    }
    case Db::FieldType::DateTime: {
        QDateTime dt;
        for (const char* pattern : {"M/d/yyyy h:mm:ss AP", "M/d/yyyy h:mm AP", "M/d/yyyy H:mm:ss", "M/d/yyyy H:mm"}) {
            dt = QDateTime::fromString(text, QLatin1String(pattern));
            if (dt.isValid())
                break;
        }
        if (!dt.isValid()) {
            const QDate d = QDate::fromString(text, QStringLiteral("M/d/yyyy"));
            if (d.isValid())
                dt = QDateTime(d, QTime(0, 0));
        }
        if (!dt.isValid())
            dt = QDateTime::fromString(text, Qt::ISODate);
        if (!dt.isValid())
            return QStringLiteral("'%1' is not a valid date and time for %2.").arg(text, field.name);
        *converted = dt;
        return {};
    }
    }
    return {};
}

bool DataSetModel::writeField(int row, int field, const QVariant& value)
{
    // Engine errors (the record cannot be re-read or edited) show in the
    // error box. The row stays in edit mode: it is stored when the cursor
    // leaves it.
    return Trellane::runCommand([&] {
        if (!activateRow(row))
            throw Db::EngineError(QStringLiteral("The record is no longer in the table."));
        m_ds->edit();
        m_ds->fieldByName(m_ds->fields()[field].name).setValue(value);
        if (m_currentRow >= 0 && m_currentRow < m_rows.size()) {
            m_rows[m_currentRow] = m_ds->currentRecord();
            emit dataChanged(index(m_currentRow, 0), index(m_currentRow, qMax(0, int(m_columns.size()) - 1)));
        }
    });
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!m_editable || !index.isValid() || !m_ds || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const int field = m_fieldIdx.value(index.column(), -1);
    if (field < 0)
        return false;
    if (isCheckColumn(index.column())) {
        if (role != Qt::CheckStateRole)
            return false;
        return writeField(index.row(), field, value.toInt() == Qt::Checked);
    }
    if (role != Qt::EditRole)
        return false;
    QVariant converted;
    const QString why = refusal(m_ds->fields()[field], value, &converted);
    if (!why.isEmpty()) {
        Trellane::platform().showMessage(why);
        return false;
    }
    // An unchanged cell does not put the row into edit mode.
    const Db::Record* rec = recordAt(index.row());
    if (rec && m_ds->state() == Db::DataSetState::Browse) {
        const QVariant& was = rec->values.value(field);
        if (was.isNull() == converted.isNull() && (was.isNull() || was == converted))
            return true;
    }
    return writeField(index.row(), field, converted);
}
