#pragma once
// The grid of a table or query: a table view over a DataSetModel with its own
// keyboard, wheel and scroll bar handling, so that browsing a million rows
// reads only the rows on screen. The scroll bar is approximate: it shows the
// window at the top, in the middle or at the end of the data.
#include "customerdb/DataSetModel.h"

#include <QTableView>

class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    // Shows ds (nullptr: nothing); the grid follows its cursor.
    void setDataSet(Db::DataSet* ds);
    Db::DataSet* dataSet() const;
    DataSetModel* dataSetModel() const { return m_model; }

    // Columns by field name (default: every field in stored order).
    void setColumns(const QStringList& fieldNames);
    // Read-only grids never edit; the requests grid is editable. An editable
    // grid stores a changed row when the user leaves it (another row,
    // another control, another tab); Escape abandons the row's changes.
    void setReadOnlyGrid(bool readOnly);
    bool isReadOnlyGrid() const { return m_readOnly; }

    // Stores the current row's pending changes, or drops an unchanged edit.
    // A row the database refuses keeps its typed values; the error shows in
    // the error box. False then.
    bool leaveRow();
    // Abandons the current row's pending changes.
    void cancelRow();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    int verticalOffset() const override { return 0; }
    void scrollContentsBy(int dx, int dy) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void focusMoved(QWidget* from, QWidget* to);
    void takeEditor();
    void selectCurrent();
    void syncScrollBar();
    void keepFirstRowAtTop();
    void onScrollBarAction(int action);
    int visibleRows() const;
    int wholeRows() const;
    void fitWindow();

    DataSetModel* m_model = nullptr;
    bool m_readOnly = true;
    int m_markedRow = -1;  // the row whose header shows the current-row marker
    bool m_swallowRelease = false;  // the press moved to another row
};
