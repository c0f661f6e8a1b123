#include "customerdb/DataSetModel.h"

#include "helpers/Command.h"

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

void DataSetModel::setWindowSize(int rows)
{
    rows = qMax(1, rows);
    if (rows == m_windowSize)
        return;
    m_windowSize = rows;
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
            // The pending new record shows as the last row, under the rows
            // that lead up to the end of the data.
            QList<Db::Record> tail;
            if (!m_rows.isEmpty() && m_rows.last().rid != 0)
                tail = m_ds->rowsBefore(m_rows.last(), m_windowSize - 2) << m_rows.last();
            rows = tail;
            rows << current;
            cur = rows.size() - 1;
        } else {
            const int above = m_currentRow < 0 ? 0 : qMin(m_currentRow, m_windowSize - 1);
            QList<Db::Record> before = above > 0 ? m_ds->rowsBefore(current, above) : QList<Db::Record>();
            // Near the start the rows below fill the window, near the end
            // the rows above.
            const int below = m_windowSize - 1 - int(before.size());
            QList<Db::Record> after = m_ds->rowsAfter(&current, below, false);
            if (after.size() < below && before.size() == above) {
                const int more = below - int(after.size());
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
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_ds->sameRow(m_rows[i], current)) {
            // A row that shows the same values is not repainted (a search
            // that stays on the same account moves nothing).
            const bool changed = m_rows[i].values != current.values;
            m_rows[i] = current;
            if (changed)
                emit dataChanged(index(i, 0), index(i, qMax(0, int(m_columns.size()) - 1)));
            m_currentRow = i;
            emit currentRowChanged(i);
            return;
        }
    }
    reload();
}

bool DataSetModel::activateRow(int row)
{
    if (!m_ds || row < 0 || row >= m_rows.size())
        return false;
    if (row == m_currentRow)
        return true;
    const Db::Record target = m_rows[row];
    if (target.rid == 0 && target.position < 0)
        return false;  // the pending new record
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
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return display(m_rows[index.row()], m_fieldIdx[index.column()]);
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

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_editable && index.isValid() && index.column() < m_fieldIdx.size() && m_fieldIdx[index.column()] >= 0
        && !m_ds->fields()[m_fieldIdx[index.column()]].calculated)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!m_editable || role != Qt::EditRole || !index.isValid() || !m_ds)
        return false;
    const int field = m_fieldIdx.value(index.column(), -1);
    if (field < 0)
        return false;
    // Writes go through the data set as a command: an engine error shows in
    // the error box and the edit is cancelled, so the row keeps its values.
    return Trellane::runCommand([&] {
        if (!activateRow(index.row()))
            return;
        m_ds->edit();
        try {
            m_ds->fieldByName(m_ds->fields()[field].name).setValue(value);
            m_ds->post();
        } catch (...) {
            m_ds->cancel();
            throw;
        }
    });
}
