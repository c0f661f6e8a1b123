#include "shell/Outputfrm.h"
#include "ui_Outputfrm.h"

#include "helpers/Platform.h"
#include "helpers/QtPlatform.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextDocument>
#include <QTextOption>

#include <stdexcept>

namespace {

[[noreturn]] void throwPrintError(const QString& title, const QString& what)
{
    throw std::runtime_error(
        QStringLiteral("Printing \"%1\" failed: %2").arg(title, what).toStdString());
}

} // namespace

TfrmOutput::TfrmOutput(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TfrmOutput>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);

    // The log is plain text in a small sans-serif face, on screen and on paper.
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    ui->mmoOutput->setFont(font);

    MainMenu1 = new QMenuBar(this);
    MainMenu1->setNativeMenuBar(false);
    Print1 = MainMenu1->addAction(tr("&Print"));
    connect(Print1, &QAction::triggered, this, &TfrmOutput::Print1Click);
    layout()->setMenuBar(MainMenu1);
}

TfrmOutput::~TfrmOutput() = default;

QPlainTextEdit* TfrmOutput::mmoOutput() const { return ui->mmoOutput; }

void TfrmOutput::clear() { ui->mmoOutput->clear(); }

void TfrmOutput::appendLine(const QString& line) { ui->mmoOutput->appendPlainText(line); }

void TfrmOutput::setText(const QString& text) { ui->mmoOutput->setPlainText(text); }

QString TfrmOutput::text() const { return ui->mmoOutput->toPlainText(); }

void TfrmOutput::prepareShow()
{
    setWindowState((windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen))
                   | Qt::WindowMaximized);
}

void TfrmOutput::showModal()
{
    const Trellane::FocusReturn focus;
    prepareShow();
    exec();
}

QPrinter* TfrmOutput::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return m_printer.get();
}

bool TfrmOutput::PrintReport(const QString& Title, bool ShowDialog)
{
    QPrinter& target = *printer();
    if (ShowDialog && !Trellane::platform().execPrintDialog(target))
        return false;
    printText(target, Title);
    return true;
}

void TfrmOutput::printText(QPrinter& target, const QString& title) const
{
    target.setDocName(title);
    // The painter's origin and the page rectangle are the printer's printable
    // area; the document adds no margin of its own.
    target.setFullPage(false);
    const QRectF page = target.pageRect(QPrinter::DevicePixel);
    if (page.width() <= 0 || page.height() <= 0)
        throwPrintError(title, QStringLiteral("the printer has no printable area."));

    // Lay the text out at the printer's resolution; on paper long lines wrap
    // at the page width (at a word boundary where there is one), and the
    // paginated layout never splits a line across two pages.
    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&target);
    doc.setDefaultFont(ui->mmoOutput->font());
    doc.setDocumentMargin(0);
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
    doc.setPlainText(ui->mmoOutput->toPlainText());
    doc.setPageSize(page.size());

    QPainter painter;
    if (!painter.begin(&target))
        throwPrintError(title, QStringLiteral("the printer could not start the job."));
    const int pages = doc.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !target.newPage()) {
            painter.end();
            throwPrintError(title, QStringLiteral("the printer refused a new page."));
        }
        const QRectF band(0, i * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -band.top());
        doc.drawContents(&painter, band);
        painter.restore();
    }
    if (!painter.end() || target.printerState() == QPrinter::Error)
        throwPrintError(title, QStringLiteral("the printer could not finish the job."));
}

void TfrmOutput::Print1Click()
{
    try {
        PrintReport(QStringLiteral("SorvantaMX Report"), true);
    } catch (const std::exception& e) {
        Trellane::platform().showError(QString::fromStdString(e.what()));
    }
}
