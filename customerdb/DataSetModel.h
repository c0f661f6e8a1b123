#pragma once
// A Qt item model over an open table or query, for the grids. It never loads
// the data set: it holds a window of rows around the data set's current
// record, read by key from the current record on, and re-reads the window
// when the cursor moves or rows change. Row numbers are window positions, so
// no row count is needed on the seek path.
#include "customerdb/Engine.h"

#include <QAbstractTableModel>
#include <QPointer>

class DataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DataSetModel(Db::DataSet* ds, QObject* parent = nullptr);
    ~DataSetModel() override;

    Db::DataSet* dataSet() const { return m_ds; }

    // Columns by field name, titled with the field name; by default every
    // field of the data set in stored order.
    void setColumns(const QStringList& fieldNames);
    QStringList columns() const { return m_columns; }

    // Editable models write through the data set: a cell's value is set on
    // the current record in edit mode, and the row is stored when the cursor
    // leaves it (the grid decides when). A value the field cannot hold is
    // refused with a message and the row keeps its other edits. Yes/no
    // fields show and edit as check boxes.
    void setEditable(bool editable);
    bool isEditable() const { return m_editable; }

    // Number of rows the window holds around the cursor (the visible page),
    // and how many of them the screen shows whole (by default all): the
    // current record is kept on one of those, never on a row cut off at the
    // bottom.
    void setWindowSize(int rows, int wholeRows = -1);
    int windowSize() const { return m_windowSize; }
    int wholeRows() const { return m_wholeRows; }

    // Row of the current record in the window, -1 when none.
    int currentRow() const { return m_currentRow; }
    // Makes the record on a window row current (a click on the grid).
    bool activateRow(int row);
    // Re-reads the window around the current record.
    void reload();
    // While paused (its grid is not on screen) the model reads nothing: it
    // notes that the data set moved and re-reads the window when resumed.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    // The record shown on a row.
    const Db::Record* recordAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Why value cannot go into the field as typed (empty when it can); the
    // value in the field's type goes to *converted.
    static QString refusal(const Db::FieldDef& field, const QVariant& value, QVariant* converted);

signals:
    // The current record's row changed (the grid selects it).
    void currentRowChanged(int row);

private:
    void followCursor();
    // Tells the data set what the window shows around the current record,
    // for the rows a move reads with it.
    void updateHint();
    static bool isPending(const Db::Record& rec);
    QString display(const Db::Record& rec, int fieldIndex) const;
    bool isCheckColumn(int column) const;
    bool writeField(int row, int field, const QVariant& value);

    QPointer<Db::DataSet> m_ds;
    QStringList m_requested;
    QStringList m_columns;
    QList<int> m_fieldIdx;
    QList<Db::Record> m_rows;
    int m_currentRow = -1;
    int m_windowSize = 40;
    int m_wholeRows = 40;
    bool m_editable = false;
    bool m_inActivate = false;
    bool m_paused = false;
    bool m_stale = false;  // moved or changed while paused
};
