#include "billing/ReconcileWindow.h"

#include "ui_ReconcileWindow.h"

#include "billing/RenewalsExport.h"
#include "helpers/Command.h"
#include "helpers/Platform.h"

#include <QAbstractItemModel>
#include <QFont>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include <stdexcept>

using Billing::Finding;
using Billing::ReconcileLine;
using Billing::Reconciliation;

namespace {

const char* const kColumns[4] = {"Serial", "Register Name", "Chart", "What is wrong"};

QString heading(const Reconciliation& r, Finding f)
{
    return QStringLiteral("%1: %2").arg(Reconciliation::sectionTitle(f)).arg(r.count(f));
}

QString cell(const ReconcileLine& l, int column)
{
    switch (column) {
    case 0: return l.serial ? QString::number(*l.serial) : QString();
    case 1: return l.registerName;
    case 2: return l.chart;
    default: return l.problem;
    }
}

QFont printFont(double points, bool bold)
{
    // Arial, or a face with its metrics (Liberation Sans) where it is missing.
    QFont f(QStringLiteral("Arial"));
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

[[noreturn]] void printFailed(const QString& what)
{
    throw std::runtime_error(QStringLiteral("Printing the reconciliation failed: %1").arg(what).toStdString());
}

} // namespace

// The sections as rows at the top level, their findings as rows below them.
class TReconcileWindow::Model : public QAbstractItemModel {
public:
    using QAbstractItemModel::QAbstractItemModel;

    void setResult(const Reconciliation* r)
    {
        beginResetModel();
        m_result = r;
        int at = 0;
        for (int s = 0; s < Billing::kFindingKinds; ++s) {
            m_start[s] = at;
            at += r ? r->count(Finding(s)) : 0;
        }
        endResetModel();
    }

    QModelIndex index(int row, int column, const QModelIndex& parent) const override
    {
        if (!hasIndex(row, column, parent))
            return {};
        return createIndex(row, column, quintptr(parent.isValid() ? parent.row() + 1 : 0));
    }
    QModelIndex parent(const QModelIndex& child) const override
    {
        if (!child.isValid() || child.internalId() == 0)
            return {};
        return createIndex(int(child.internalId() - 1), 0, quintptr(0));
    }
    int rowCount(const QModelIndex& parent) const override
    {
        if (!m_result)
            return 0;
        if (!parent.isValid())
            return Billing::kFindingKinds;
        if (parent.internalId() != 0 || parent.column() != 0)
            return 0;
        return m_result->count(Finding(parent.row()));
    }
    int columnCount(const QModelIndex&) const override { return 4; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || !m_result)
            return {};
        if (index.internalId() == 0) {
            if (role == Qt::DisplayRole && index.column() == 0)
                return heading(*m_result, Finding(index.row()));
            if (role == Qt::FontRole) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        }
        const ReconcileLine& l = m_result->lines()[m_start[index.internalId() - 1] + index.row()];
        if (role == Qt::DisplayRole || (role == Qt::ToolTipRole && index.column() == 3))
            return cell(l, index.column());
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
            return QLatin1String(kColumns[section]);
        return {};
    }

private:
    const Reconciliation* m_result = nullptr;
    int m_start[Billing::kFindingKinds] = {};
};

TReconcileWindow::TReconcileWindow(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ReconcileWindow>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    m_model = new Model(this);
    ui->tvFindings->setModel(m_model);
    ui->tvFindings->setUniformRowHeights(true);
    ui->tvFindings->setAllColumnsShowFocus(true);
    ui->tvFindings->header()->setStretchLastSection(true);
    const int widths[3] = {100, 280, 80};
    for (int c = 0; c < 3; ++c)
        ui->tvFindings->setColumnWidth(c, widths[c]);
    Trellane::onClick(ui->btnPrint, this, [this] { btnPrintClick(); });
    Trellane::onClick(ui->btnSave, this, [this] { btnSaveClick(); });
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
}

TReconcileWindow::~TReconcileWindow() = default;

void TReconcileWindow::setResult(std::unique_ptr<Reconciliation> result)
{
    m_model->setResult(nullptr);
    m_result = std::move(result);
    m_model->setResult(m_result.get());
    ui->lblSummary->setText(m_result->summary());
    for (int s = 0; s < Billing::kFindingKinds; ++s)
        ui->tvFindings->setFirstColumnSpanned(s, QModelIndex(), true);
    ui->tvFindings->expandAll();
}

QPrinter* TReconcileWindow::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return m_printer.get();
}

void TReconcileWindow::btnPrintClick()
{
    if (!Trellane::platform().execPrintDialog(*printer()))
        return;
    print(*printer());
}

void TReconcileWindow::btnSaveClick()
{
    const QString path = Trellane::platform().getSaveFileName(
        QStringLiteral("reconcile-%1.csv").arg(m_result->today().toString(QStringLiteral("yyyy-MM-dd"))));
    if (path.isEmpty())
        return;
    Billing::writeLines(path, m_result->csvLines());
}

int TReconcileWindow::print(QPrinter& printer) const
{
    printer.setDocName(QStringLiteral("Reconciliation"));
    printer.setFullPage(false);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                                      QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch));
    QPainter painter;
    if (!painter.begin(&printer))
        printFailed(QStringLiteral("the printer could not start the job."));
    const QRectF area = printer.pageRect(QPrinter::DevicePixel);
    const double width = area.width();
    const double bottom = area.height();
    const QFont title = printFont(12, true), bold = printFont(9, true), body = printFont(9, false);
    const QFontMetricsF titleMetrics(title, &printer), boldMetrics(bold, &printer), bodyMetrics(body, &printer);
    const double line = bodyMetrics.lineSpacing();
    const double gap = line * 0.4;
    // Columns as shares of the width: the problem gets the most room; a
    // name or problem too long for its column wraps onto more lines.
    const double left[5] = {0, width * 0.08, width * 0.45, width * 0.56, width};
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

    int pages = 1;
    double y = 0;
    auto pageHeading = [&] {
        painter.setFont(title);
        painter.drawText(QRectF(0, 0, width, titleMetrics.height()), Qt::AlignLeft,
                         QStringLiteral("Reconciliation of the customer and practice databases"));
        painter.setFont(body);
        painter.drawText(QRectF(0, 0, width, titleMetrics.height()), Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Page %1").arg(pages));
        y = titleMetrics.height();
        const QRectF summary = bodyMetrics.boundingRect(QRectF(0, y, width, 1e6), flags, m_result->summary());
        painter.drawText(QRectF(0, y, width, summary.height()), flags, m_result->summary());
        y += summary.height();
        painter.drawLine(QPointF(0, y + gap / 2), QPointF(width, y + gap / 2));
        y += gap * 2;
    };
    auto columnHeadings = [&] {
        painter.setFont(bold);
        for (int c = 0; c < 4; ++c)
            painter.drawText(QRectF(left[c], y, left[c + 1] - left[c], line), Qt::AlignLeft, QLatin1String(kColumns[c]));
        y += line;
        painter.setFont(body);
    };
    // A new page when what comes next does not fit on this one.
    auto room = [&](double height) {
        if (y + height <= bottom)
            return false;
        if (!printer.newPage()) {
            painter.end();
            printFailed(QStringLiteral("the printer refused a new page."));
        }
        ++pages;
        pageHeading();
        return true;
    };
    auto rowHeight = [&](const ReconcileLine& l) {
        double h = line;
        for (int c = 1; c < 4; c += 2)
            h = qMax(h, bodyMetrics.boundingRect(QRectF(0, 0, left[c + 1] - left[c] - 6, 1e6), flags, cell(l, c)).height());
        return h;
    };

    pageHeading();
    qsizetype at = 0;
    const QList<ReconcileLine>& lines = m_result->lines();
    for (int s = 0; s < Billing::kFindingKinds; ++s) {
        const Finding f = Finding(s);
        const int n = m_result->count(f);
        // A section starts where its heading, column headings and first
        // line fit together.
        room(gap + boldMetrics.lineSpacing() + line + (n > 0 ? rowHeight(lines[at]) : 0));
        y += gap;
        painter.setFont(bold);
        painter.drawText(QRectF(0, y, width, boldMetrics.lineSpacing()), Qt::AlignLeft, heading(*m_result, f));
        y += boldMetrics.lineSpacing();
        if (n > 0)
            columnHeadings();
        for (const qsizetype end = at + n; at < end; ++at) {
            const ReconcileLine& l = lines[at];
            const double h = rowHeight(l);
            if (room(h)) {
                painter.setFont(bold);
                painter.drawText(QRectF(0, y, width, boldMetrics.lineSpacing()), Qt::AlignLeft,
                                 heading(*m_result, f) + QStringLiteral(" (continued)"));
                y += boldMetrics.lineSpacing();
                columnHeadings();
            }
            for (int c = 0; c < 4; ++c)
                painter.drawText(QRectF(left[c], y, left[c + 1] - left[c] - 6, h), flags, cell(l, c));
            y += h;
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        printFailed(QStringLiteral("the printer could not finish the job."));
    return pages;
}
