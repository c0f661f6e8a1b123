#include "customerdb/DBGrid.h"

#include "helpers/Command.h"

#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QWheelEvent>

namespace {

// Paints a cell as one line of plain text clipped at its edges, on the
// selection colour when selected. Laying text out is most of the cost of a
// repaint, and the grid repaints on every cursor move (every keystroke of a
// search), so each distinct text is laid out once and kept; values repeat a
// lot between neighbouring rows and successive windows. Editing goes through
// the standard delegate.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QVariant check = index.data(Qt::CheckStateRole);
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active)                              ? QPalette::Active
                                                                                  : QPalette::Inactive;
        if (selected)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        if (check.isValid()) {
            paintCheck(painter, option, check.toInt() == Qt::Checked);
            return;
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty())
            return;
        if (m_lineHeight == 0 || option.font != m_font) {
            m_cache.clear();
            m_font = option.font;
            m_lineHeight = QFontMetrics(m_font).height();
        }
        auto it = m_cache.constFind(text);
        if (it == m_cache.constEnd()) {
            if (m_cache.size() >= kCacheSize)
                m_cache.clear();
            QString line = text;
            for (QChar& c : line)
                if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
                    c = QLatin1Char(' ');
            QStaticText st(line);
            st.setTextFormat(Qt::PlainText);
            st.setPerformanceHint(QStaticText::AggressiveCaching);
            st.prepare(QTransform(), m_font);
            it = m_cache.insert(text, st);
        }
        // The view paints cells with no clip of its own, so the cell's clip
        // is set and dropped again rather than saving the painter's state.
        const QColor pen = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        if (painter->pen().color() != pen)
            painter->setPen(pen);
        if (painter->font() != m_font)
            painter->setFont(m_font);
        const bool clipped = painter->hasClipping();
        const QRegion previous = clipped ? painter->clipRegion() : QRegion();
        painter->setClipRect(option.rect.adjusted(0, 0, -1, 0), clipped ? Qt::IntersectClip : Qt::ReplaceClip);
        const int y = option.rect.y() + (option.rect.height() - m_lineHeight) / 2;
        painter->drawStaticText(QPointF(option.rect.x() + 3, y), *it);
        if (clipped)
            painter->setClipRegion(previous);
        else
            painter->setClipping(false);
    }

    // Yes/no cells: a click or the space bar toggles the box; they open no
    // text editor.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (!(index.flags() & Qt::ItemIsUserCheckable))
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        bool toggle = false;
        switch (event->type()) {
        case QEvent::MouseButtonRelease:
            toggle = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
                && option.rect.contains(static_cast<QMouseEvent*>(event)->position().toPoint());
            break;
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            toggle = key == Qt::Key_Space || key == Qt::Key_Select;
            break;
        }
        default: return false;
        }
        if (!toggle)
            return false;
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        return true;
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (index.flags() & Qt::ItemIsUserCheckable)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

private:
    static void paintCheck(QPainter* painter, const QStyleOptionViewItem& option, bool checked)
    {
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        QStyleOptionViewItem box = option;
        const int size = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, widget);
        box.rect = QRect(option.rect.x() + 3, option.rect.y() + (option.rect.height() - size) / 2, size, size);
        box.state = (option.state & QStyle::State_Enabled) | (checked ? QStyle::State_On : QStyle::State_Off);
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
    }

    static constexpr int kCacheSize = 4096;
    mutable QHash<QString, QStaticText> m_cache;
    mutable QFont m_font;
    mutable int m_lineHeight = 0;
};

} // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab go on to the next and previous control; the arrow
    // keys, Home, End and the page keys move within the grid. A cell being
    // edited still passes Tab on to the next cell.
    setTabKeyNavigation(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumWidth(14);
    horizontalHeader()->setHighlightSections(false);
    setItemDelegate(new CellDelegate(this));
    // The rows on screen are the whole model: the view never scrolls
    // vertically, and its scroll bar shows where the window is instead (at
    // the start, somewhere in the middle, or at the end of the data) and
    // moves the cursor when used.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setObjectName(QStringLiteral("gridScrollBar"));
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TDBGrid::onScrollBarAction);
    connect(qApp, &QApplication::focusChanged, this, &TDBGrid::focusMoved);
    // Escape in a cell's editor abandons the whole row, as it does outside.
    connect(itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                if (hint == QAbstractItemDelegate::RevertModelCache)
                    cancelRow();
            });
}

TDBGrid::~TDBGrid()
{
    // The focus moves away while the widget is torn down: the grid must not
    // hear of it any more.
    disconnect(qApp, nullptr, this, nullptr);
}

bool TDBGrid::leaveRow()
{
    Db::DataSet* ds = dataSet();
    if (m_readOnly || !ds || !ds->isOpen() || ds->state() == Db::DataSetState::Browse)
        return true;
    return Trellane::runCommand([ds] { ds->checkBrowseMode(); });
}

void TDBGrid::cancelRow()
{
    Db::DataSet* ds = dataSet();
    if (m_readOnly || !ds || !ds->isOpen() || ds->state() == Db::DataSetState::Browse)
        return;
    Trellane::runCommand([ds] { ds->cancel(); });
}

// Focus that goes from the grid (or its cell editor) to another control of
// the same window leaves the row. Focus lost to another window (a message
// box, another program) does not.
void TDBGrid::focusMoved(QWidget* from, QWidget* to)
{
    if (m_readOnly || !from || !to || (from != this && !isAncestorOf(from)))
        return;
    if (to == this || isAncestorOf(to) || to->window() != window())
        return;
    leaveRow();
}

void TDBGrid::setDataSet(Db::DataSet* ds)
{
    if (m_model && m_model->dataSet() == ds)
        return;
    DataSetModel* old = m_model;
    m_model = ds ? new DataSetModel(ds, this) : nullptr;
    if (m_model) {
        m_model->setEditable(!m_readOnly);
        m_model->setWindowSize(visibleRows(), wholeRows());
        connect(m_model, &DataSetModel::currentRowChanged, this, &TDBGrid::selectCurrent);
        connect(m_model, &QAbstractItemModel::modelReset, this, &TDBGrid::selectCurrent);
    }
    // A grid that is not on screen (a tab not shown) reads no rows until it is.
    if (m_model)
        m_model->setPaused(!isVisible());
    setModel(m_model);
    delete old;
    selectCurrent();
}

Db::DataSet* TDBGrid::dataSet() const
{
    return m_model ? m_model->dataSet() : nullptr;
}

void TDBGrid::setColumns(const QStringList& fieldNames)
{
    if (m_model)
        m_model->setColumns(fieldNames);
}

void TDBGrid::setReadOnlyGrid(bool readOnly)
{
    m_readOnly = readOnly;
    setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                             : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                   | QAbstractItemView::AnyKeyPressed);
    setSelectionBehavior(readOnly ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    if (m_model)
        m_model->setEditable(!readOnly);
}

int TDBGrid::visibleRows() const
{
    const int rowHeight = qMax(1, verticalHeader()->defaultSectionSize());
    return qMax(1, viewport()->height() / rowHeight + 1);
}

int TDBGrid::wholeRows() const
{
    const int rowHeight = qMax(1, verticalHeader()->defaultSectionSize());
    return qMax(1, viewport()->height() / rowHeight);
}

// The window fills the viewport, the row cut off at its foot included; the
// current row stays on the rows shown whole. The viewport shrinks when the
// horizontal scroll bar appears, which the grid hears of here, not as a
// resize of its own.
void TDBGrid::fitWindow()
{
    if (m_model)
        m_model->setWindowSize(visibleRows(), wholeRows());
}

void TDBGrid::selectCurrent()
{
    if (m_model && m_model->currentRow() >= 0) {
        const int column = qMax(0, currentIndex().column());
        const QModelIndex idx = m_model->index(m_model->currentRow(), column);
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect
                                                   | (m_readOnly ? QItemSelectionModel::Rows
                                                                 : QItemSelectionModel::NoUpdate));
    } else if (selectionModel()) {
        selectionModel()->clear();
    }
    syncScrollBar();
    // The row marker moves with the current row.
    const int marked = m_model ? m_model->currentRow() : -1;
    if (marked != m_markedRow) {
        m_markedRow = marked;
        verticalHeader()->viewport()->update();
    }
}

void TDBGrid::syncScrollBar()
{
    keepFirstRowAtTop();
    // Data that fits on the rows shown whole has nothing to scroll: no bar.
    // Hiding it changes the viewport's width only, so the window stays.
    const bool fits = m_model && m_model->rowCount() < m_model->wholeRows();
    const Qt::ScrollBarPolicy policy = fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn;
    if (verticalScrollBarPolicy() != policy)
        setVerticalScrollBarPolicy(policy);
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker block(bar);
    bar->setRange(0, 2);
    bar->setPageStep(1);
    Db::DataSet* ds = dataSet();
    if (!ds || !ds->isOpen() || ds->isEmpty())
        bar->setValue(0);
    else if (ds->bof() && m_model->currentRow() == 0)
        bar->setValue(0);
    else if (ds->eof())
        bar->setValue(2);
    else
        bar->setValue(1);
}

void TDBGrid::onScrollBarAction(int action)
{
    Db::DataSet* ds = dataSet();
    if (!ds || !ds->isOpen())
        return;
    takeEditor();
    Trellane::runCommand([&] {
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd: ds->next(); break;
        case QAbstractSlider::SliderSingleStepSub: ds->prior(); break;
        case QAbstractSlider::SliderPageStepAdd: ds->moveBy(visibleRows() - 1); break;
        case QAbstractSlider::SliderPageStepSub: ds->moveBy(-(visibleRows() - 1)); break;
        case QAbstractSlider::SliderToMinimum: ds->first(); break;
        case QAbstractSlider::SliderToMaximum: ds->last(); break;
        case QAbstractSlider::SliderMove: {
            const int pos = verticalScrollBar()->sliderPosition();
            if (pos == 0)
                ds->first();
            else if (pos == 2)
                ds->last();
            break;
        }
        default: break;
        }
    });
    QMetaObject::invokeMethod(this, &TDBGrid::syncScrollBar, Qt::QueuedConnection);
}

// The cell being edited gives its text to the record and its editor closes,
// before anything moves the cursor: the move then stores the row, and no
// editor is left open over another row.
void TDBGrid::takeEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void TDBGrid::keyPressEvent(QKeyEvent* e)
{
    Db::DataSet* ds = dataSet();
    const int key = e->key();
    const bool vertical = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown;
    if (ds && ds->isOpen() && vertical)
        takeEditor();
    if (!ds || !ds->isOpen() || state() == QAbstractItemView::EditingState) {
        QTableView::keyPressEvent(e);
        return;
    }
    if (e->key() == Qt::Key_Escape && !m_readOnly && ds->state() != Db::DataSetState::Browse) {
        e->accept();
        cancelRow();
        return;
    }
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    std::function<void()> move;
    switch (e->key()) {
    case Qt::Key_Up: move = [ds] { ds->prior(); }; break;
    case Qt::Key_Down: move = [ds] { ds->next(); }; break;
    case Qt::Key_PageUp: move = [this, ds] { ds->moveBy(-(visibleRows() - 1)); }; break;
    case Qt::Key_PageDown: move = [this, ds] { ds->moveBy(visibleRows() - 1); }; break;
    case Qt::Key_Home:
        if (ctrl)
            move = [ds] { ds->first(); };
        break;
    case Qt::Key_End:
        if (ctrl)
            move = [ds] { ds->last(); };
        break;
    default: break;
    }
    if (!move) {
        QTableView::keyPressEvent(e);
        return;
    }
    e->accept();
    Trellane::runCommand(move);
}

// The view's current cell moved to another row by itself (Tab past the last
// column goes on to the next row): the record follows, which stores the row
// that was left; when that is refused, the view goes back to the record.
void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (!m_model || !current.isValid() || current.row() == m_model->currentRow())
        return;
    if (m_readOnly) {
        // A read-only grid moves its record only by its own keys, the
        // scroll bar and clicks; whatever else moved the view's current cell
        // would highlight a row that is not the current record.
        QMetaObject::invokeMethod(this, &TDBGrid::selectCurrent, Qt::QueuedConnection);
        return;
    }
    const int row = current.row();
    if (!Trellane::runCommand([&] { m_model->activateRow(row); }) || m_model->currentRow() != row)
        QMetaObject::invokeMethod(this, &TDBGrid::selectCurrent, Qt::QueuedConnection);
}

void TDBGrid::wheelEvent(QWheelEvent* e)
{
    Db::DataSet* ds = dataSet();
    if (!ds || !ds->isOpen()) {
        QTableView::wheelEvent(e);
        return;
    }
    const int steps = -e->angleDelta().y() / 120;
    if (steps != 0) {
        takeEditor();
        Trellane::runCommand([&] { ds->moveBy(steps); });
    }
    e->accept();
}

void TDBGrid::resizeEvent(QResizeEvent* e)
{
    QTableView::resizeEvent(e);
    // A window of rows read on a resize can fail like any read (a lost
    // connection): the error box shows it, nothing escapes the event.
    Trellane::runCommand([&] { fitWindow(); });
}

void TDBGrid::mousePressEvent(QMouseEvent* e)
{
    const QModelIndex idx = indexAt(e->position().toPoint());
    if (m_model && idx.isValid() && idx.row() != m_model->currentRow()) {
        const int row = idx.row();
        const int column = idx.column();
        Trellane::runCommand([&] { m_model->activateRow(row); });
        // The window may have moved under the click: select the current row.
        if (m_model->currentRow() >= 0)
            setCurrentIndex(m_model->index(m_model->currentRow(), column));
        // The release belongs to this press: it must not toggle a check box
        // that the moved window has put under the pointer.
        m_swallowRelease = true;
        if (!hasFocus() && focusPolicy() != Qt::NoFocus)
            setFocus(Qt::MouseFocusReason);
        e->accept();
        return;
    }
    m_swallowRelease = false;
    QTableView::mousePressEvent(e);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* e)
{
    if (m_swallowRelease) {
        m_swallowRelease = false;
        e->accept();
        return;
    }
    QTableView::mouseReleaseEvent(e);
}

// Paints the window's cells and the grid lines directly: the table view's own
// painting asks the style for every cell's panel and draws each grid line
// separately, which costs as much again as the text on every repaint.
void TDBGrid::paintEvent(QPaintEvent* e)
{
    if (!m_model) {
        QTableView::paintEvent(e);
        return;
    }
    QPainter painter(viewport());
    const QRect area = e->rect();
    const int rows = m_model->rowCount();
    const int columns = m_model->columnCount();
    const QColor gridColor = QColor::fromRgba(static_cast<QRgb>(
        style()->styleHint(QStyle::SH_Table_GridLineColor, nullptr, this)));
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QItemSelectionModel* selection = selectionModel();
    const QModelIndex current = currentIndex();
    const int firstColumn = qMax(0, columnAt(area.left()));
    int lastColumn = columnAt(area.right());
    if (lastColumn < 0)
        lastColumn = columns - 1;
    int bottom = 0;
    for (int row = 0; row < rows; ++row) {
        const int y = rowViewportPosition(row);
        const int h = rowHeight(row);
        bottom = y + h;
        if (y > area.bottom())
            break;
        if (bottom <= area.top())
            continue;
        for (int column = firstColumn; column <= lastColumn; ++column) {
            if (isColumnHidden(column))
                continue;
            const int x = columnViewportPosition(column);
            const int w = columnWidth(column);
            const QModelIndex index = m_model->index(row, column);
            option.rect = QRect(x, y, w - 1, h - 1);
            option.state = QStyle::State_Enabled;
            if (isEnabled() && window()->isActiveWindow())
                option.state |= QStyle::State_Active;
            if (selection && selection->isSelected(index))
                option.state |= QStyle::State_Selected;
            if (index == current && hasFocus())
                option.state |= QStyle::State_HasFocus;
            if (isPersistentEditorOpen(index) || (state() == EditingState && index == current))
                continue;  // the editor covers the cell
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
    // Grid lines: one pixel at the right and bottom edge of every cell.
    if (showGrid()) {
        const int right = columns > 0 ? columnViewportPosition(columns - 1) + columnWidth(columns - 1) : 0;
        for (int column = firstColumn; column <= lastColumn; ++column) {
            if (isColumnHidden(column))
                continue;
            const int x = columnViewportPosition(column) + columnWidth(column) - 1;
            painter.fillRect(QRect(x, area.top(), 1, qMin(bottom, area.bottom() + 1) - area.top()), gridColor);
        }
        for (int row = 0; row < rows; ++row) {
            const int y = rowViewportPosition(row) + rowHeight(row) - 1;
            if (y < area.top() || y > area.bottom())
                continue;
            painter.fillRect(QRect(area.left(), y, qMin(right, area.right() + 1) - area.left(), 1), gridColor);
        }
    }
    // The grid with the focus outlines its current row (the current cell of
    // an editable grid) with a dotted line, as Windows grids do: light on
    // the highlighted row, dark on a plain cell.
    if (hasFocus() && current.isValid() && state() != EditingState) {
        QRect outline = visualRect(current);
        if (m_readOnly && columns > 0)
            outline = QRect(QPoint(columnViewportPosition(0), outline.top()),
                            QPoint(columnViewportPosition(columns - 1) + columnWidth(columns - 1) - 2, outline.bottom() - 1));
        else
            outline.adjust(0, 0, -2, -1);
        const bool selected = selection && selection->isSelected(current);
        QPen pen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outline.adjusted(1, 1, -1, -1));
    }
}

// The focus outline spans the row: the whole viewport repaints when the
// focus comes or goes, not just the current cell.
void TDBGrid::focusInEvent(QFocusEvent* e)
{
    QTableView::focusInEvent(e);
    viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* e)
{
    QTableView::focusOutEvent(e);
    viewport()->update();
}

void TDBGrid::showEvent(QShowEvent* e)
{
    if (m_model)
        Trellane::runCommand([&] { m_model->setPaused(false); });  // re-reads a stale window
    QTableView::showEvent(e);
}

void TDBGrid::hideEvent(QHideEvent* e)
{
    // Leaving the tab leaves the row.
    leaveRow();
    QTableView::hideEvent(e);
    if (m_model)
        m_model->setPaused(true);
}

void TDBGrid::updateGeometries()
{
    QTableView::updateGeometries();
    // Later: the view is laying itself out, and the window's re-read resets
    // the model.
    QMetaObject::invokeMethod(this, &TDBGrid::fitWindow, Qt::QueuedConnection);
    syncScrollBar();
}

void TDBGrid::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    // Only sideways: the window's first row stays at the top.
    QTableView::scrollTo(index, hint);
    syncScrollBar();
}

void TDBGrid::scrollContentsBy(int dx, int)
{
    QTableView::scrollContentsBy(dx, 0);
    keepFirstRowAtTop();
}

// The view places rows by its vertical header's offset, which the table view
// takes from the scroll bar's value; the bar shows the window's place in the
// data instead, so the offset is held at zero.
void TDBGrid::keepFirstRowAtTop()
{
    if (verticalHeader()->offset() != 0) {
        verticalHeader()->setOffset(0);
        viewport()->update();
    }
}
