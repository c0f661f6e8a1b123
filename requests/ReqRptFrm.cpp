#include "requests/ReqRptFrm.h"

#include "customerdb/DBGrid.h"
#include "customerdb/Engine.h"
#include "helpers/Command.h"
#include "helpers/QtPlatform.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QWidget>

#include <stdexcept>

namespace {

constexpr int kWalkBlock = 200;  // rows read per statement while walking
constexpr int kBandWidth = 720;  // 7.5 inches, in 1/96 inch: the margins' width

TfrmReqReport::PreviewRunner& previewRunner()
{
    static TfrmReqReport::PreviewRunner runner;
    return runner;
}

QFont reportFont(bool bold)
{
    // Arial, or a face with its metrics (Liberation Sans) where it is missing.
    QFont f(QStringLiteral("Arial"));
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(10);
    f.setBold(bold);
    return f;
}

[[noreturn]] void printFailed(const QString& what)
{
    throw std::runtime_error(QStringLiteral("Printing the requests failed: %1").arg(what).toStdString());
}

} // namespace

struct TfrmReqReport::Fonts {
    QFont caption;
    QFont value;
    double captionAscent;
    double valueAscent;
    double sx;  // device pixels per 1/96 inch
    double sy;
    QFontMetricsF valueMetrics;
};

const QList<TfrmReqReport::Line>& TfrmReqReport::lines()
{
    static const QList<Line> l = {
        {8, "SN", 53, "SerialNumber", 80},
        {8, nullptr, 0, "RequestType", 608},
        {32, "Reg Name", 5, "RegisterName", 80},
        {32, nullptr, 0, "CoreProduct", 608},
        {56, "Vendor ID", 8, "VendorID", 80},
        {56, "Specialty", 544, "Specialty", 608},
        {80, nullptr, 0, "Street1", 80},
        {104, nullptr, 0, "Street2", 80},
        {128, nullptr, 0, "City", 80},
        {152, nullptr, 0, "State", 80},
        {176, nullptr, 0, "ZipCode", 80},
        {200, "Phone", 35, "Phone", 80},
        {224, "Fax", 52, "Fax", 80},
        {248, "Email", 38, "Email", 80},
        {272, "Contact", 26, "ContactName", 80},
        {296, "Dealer", 32, "DealerCode", 80},
        {296, nullptr, 0, "DealerName", 160},
        {320, nullptr, 0, "DealerPhone", 80},
        {352, "HCFA", 40, "HCFA", 80},
        {352, "UB92", 171, "UB92", 208},
        {352, "SorvantaMX", 288, "SorvantaMX", 376},
        {376, "NSF", 49, "NSF", 88},
        {376, "ERA", 176, "ERA", 208},
        {408, "Blue", 48, "BlueCross", 88},
        {408, "Comm", 160, "Commercial", 208},
        {432, "Caid", 48, "Medicaid", 88},
        {432, "Care", 168, "Medicare", 208},
        {456, "Promo", 40, "Promotion", 88},
    };
    return l;
}

TfrmReqReport::TfrmReqReport(Db::Table* requests, QWidget* window, QObject* parent)
    : QObject(parent)
    , m_requests(requests)
    , m_window(window)
{
}

TfrmReqReport::~TfrmReqReport() = default;

void TfrmReqReport::setQuietDuringWalk(TDBGrid* grid) { m_quiet = grid; }

void TfrmReqReport::setPreviewRunner(PreviewRunner runner)
{
    previewRunner() = std::move(runner);
}

QPrinter* TfrmReqReport::printer()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        setUpPage(*m_printer);
    }
    return m_printer.get();
}

void TfrmReqReport::setUpPage(QPrinter& printer)
{
    printer.setFullPage(false);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                                      QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch));
}

// A value as the report prints it: text as stored, numbers in digits,
// yes/no as "True" or "False", nothing for no value.
static QString displayText(const QVariant& v)
{
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    QString s = v.toString();
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

void TfrmReqReport::paintBand(QPainter& painter, const Fonts& fonts, const Db::Record& rec, const QList<int>& fieldIdx)
{
    // Captions first, then the values, so the painter changes font twice
    // per band rather than at every line.
    painter.setFont(fonts.caption);
    for (const Line& line : lines()) {
        if (line.caption)
            painter.drawText(QPointF(line.captionX * fonts.sx, line.y * fonts.sy + fonts.captionAscent),
                             QString::fromLatin1(line.caption));
    }
    painter.setFont(fonts.value);
    for (int i = 0; i < lines().size(); ++i) {
        const Line& line = lines()[i];
        QString text = displayText(rec.values.value(fieldIdx[i]));
        if (text.isEmpty())
            continue;
        // A value running past the right margin is shortened with an
        // ellipsis rather than cut off mid-letter by the page's edge.
        const double room = (kBandWidth - line.valueX) * fonts.sx;
        if (fonts.valueMetrics.horizontalAdvance(text) > room)
            text = fonts.valueMetrics.elidedText(text, Qt::ElideRight, room);
        painter.drawText(QPointF(line.valueX * fonts.sx, line.y * fonts.sy + fonts.valueAscent), text);
    }
}

int TfrmReqReport::Print(QPrinter& printer)
{
    const QPageLayout wanted(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0.5, 0.5, 0.5, 0.5),
                             QPageLayout::Inch);
    if (!printer.pageLayout().isEquivalentTo(wanted) || printer.fullPage())
        setUpPage(printer);
    QPainter painter;
    if (!painter.begin(&printer))
        printFailed(QStringLiteral("the printer could not start the job."));
    Fonts fonts{reportFont(true), reportFont(false), 0, 0, printer.logicalDpiX() / 96.0,
                printer.logicalDpiY() / 96.0, QFontMetricsF(reportFont(false), &printer)};
    fonts.captionAscent = QFontMetricsF(fonts.caption, &printer).ascent();
    fonts.valueAscent = fonts.valueMetrics.ascent();

    // The grid need not follow every step of the walk; it shows where the
    // walk ended once the report is built.
    const bool quiet = m_quiet && m_quiet->dataSetModel() && !m_quiet->dataSetModel()->isPaused();
    if (quiet)
        m_quiet->dataSetModel()->setPaused(true);
    int pages = 0;
    try {
        if (m_requests->isOpen()) {
            QList<int> fieldIdx;
            for (const Line& line : lines()) {
                fieldIdx << m_requests->fieldIndex(QLatin1String(line.field));
                if (fieldIdx.last() < 0)
                    throw Db::EngineError(QStringLiteral("Field '%1' not found").arg(QLatin1String(line.field)));
            }
            // The walk goes from the first request to the last in the
            // table's order, reading the rows a block at a time: one
            // statement per block rather than one per row.
            m_requests->first();
            QList<Db::Record> block;
            if (!m_requests->isEmpty())
                block << m_requests->currentRecord();
            Db::Record last;
            while (!block.isEmpty()) {
                for (const Db::Record& rec : block) {
                    // A band is taller than half the printable height: each
                    // request starts a page of its own.
                    if (pages > 0 && !printer.newPage())
                        printFailed(QStringLiteral("the printer refused a new page."));
                    paintBand(painter, fonts, rec, fieldIdx);
                    ++pages;
                }
                last = block.last();
                block = m_requests->rowsAfter(&last, kWalkBlock, false);
            }
            // The walk ends on the last request, past its end.
            if (pages > 0) {
                m_requests->gotoRecord(last);
                m_requests->next();
            }
        }
    } catch (...) {
        painter.end();
        if (quiet && m_quiet && m_quiet->dataSetModel())
            m_quiet->dataSetModel()->setPaused(false);
        throw;
    }
    if (quiet && m_quiet && m_quiet->dataSetModel())
        m_quiet->dataSetModel()->setPaused(false);
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        printFailed(QStringLiteral("the printer could not finish the job."));
    return pages;
}

void TfrmReqReport::Preview()
{
    const Trellane::FocusReturn focus;
    QPrintPreviewDialog dialog(printer(), m_window);
    dialog.setObjectName(QStringLiteral("frmReqReport"));
    dialog.setWindowTitle(QStringLiteral("Requests"));
    dialog.setWindowState(Qt::WindowNoState);
    // Tall enough for a legible page, inside the screen.
    QSize size(720, 900);
    if (const QScreen* screen = m_window ? m_window->screen() : QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        const int h = qMin(size.height(), room.height() * 9 / 10);
        size = QSize(qMin(room.width(), h * 4 / 5), h);
    }
    dialog.resize(size);
    if (auto* preview = dialog.findChild<QPrintPreviewWidget*>())
        preview->fitInView();
    // A failure while the preview builds its pages, or prints them, shows
    // in the error box; the preview stays open.
    connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
            [this](QPrinter* target) { Trellane::runCommand([&] { Print(*target); }); });
    if (previewRunner())
        previewRunner()(dialog);
    else
        dialog.exec();
}
