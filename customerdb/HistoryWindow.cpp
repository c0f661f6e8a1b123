#include "customerdb/HistoryWindow.h"

#include "customerdb/Connection.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

void TChangeModel::setChanges(QList<Db::Change> changes, const QString& mainTable)
{
    beginResetModel();
    m_changes = std::move(changes);
    m_cells.clear();
    m_cells.reserve(m_changes.size());
    for (const Db::Change& c : std::as_const(m_changes))
        m_cells << Db::changeCells(c, mainTable);
    endResetModel();
}

int TChangeModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_cells.size()); }

int TChangeModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(Db::changeColumns().size()); }

QVariant TChangeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_cells.size())
        return {};
    const QString& text = m_cells[index.row()].at(index.column());
    switch (role) {
    case Qt::DisplayRole: {
        // Notes keep their line breaks in the tooltip; the row stays one line.
        QString line = text;
        line.replace(QLatin1String("\r\n"), QStringLiteral(" \u21b5 "));
        line.replace(QLatin1Char('\n'), QStringLiteral(" \u21b5 "));
        return line;
    }
    case Qt::ToolTipRole:
        return text.contains(QLatin1Char('\n')) || text.size() > 40 ? QVariant(text) : QVariant();
    default:
        return {};
    }
}

QVariant TChangeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return Db::changeColumns().value(section);
    return {};
}

THistoryWindow::THistoryWindow(QWidget* parent)
    : QDialog(parent)
    , m_heading(new QLabel(this))
    , m_view(new QTableView(this))
    , m_model(new TChangeModel(this))
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History"));
    m_heading->setObjectName(QStringLiteral("lblHistory"));
    m_view->setObjectName(QStringLiteral("grdHistory"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setAlternatingRowColors(true);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Column widths from the first rows: measuring a thousand rows would
    // cost more than reading them.
    m_view->horizontalHeader()->setResizeContentsPrecision(50);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(860, 460);
}

void THistoryWindow::showHistory(Db::Connection& conn, const QStringList& tables, const QString& key, const QString& what)
{
    QList<Db::Change> changes = Db::changesOf(conn, tables, key);
    const qsizetype count = changes.size();
    m_model->setChanges(std::move(changes), tables.value(0));
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    m_heading->setText(count == 0 ? QStringLiteral("No changes are recorded for %1.").arg(what)
                                  : QStringLiteral("Changes of %1, newest first: %2 %3.")
                                        .arg(what, english.toString(count), count == 1 ? QStringLiteral("entry") : QStringLiteral("entries")));
    setWindowTitle(QStringLiteral("History of %1").arg(what));
    m_view->resizeColumnsToContents();
    // Long values are cut in their column; the whole text is the tooltip.
    for (int c = 0; c < m_model->columnCount() - 1; ++c)
        m_view->setColumnWidth(c, qMin(m_view->columnWidth(c), 260));
    m_view->scrollToTop();
}

QString THistoryWindow::heading() const { return m_heading->text(); }
