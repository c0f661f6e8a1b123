// The request report rendered to PDF and read back word by word with its
// position (pdftotext -bbox), and its print preview.
#include "customerdb/DBGrid.h"
#include "customerdb/DataModule.h"
#include "requests/ReqRptFrm.h"
#include "requests/RequestsTab.h"
#include "tests/requests/RequestsFixture.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestPlatform.h"

#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Word {
    double x, y;  // top-left corner, points from the page's top-left
    QString text;
    double right;
};
using Page = QList<Word>;

// The words of every page of a PDF, and the pages' sizes in points.
QList<Page> readPdf(const QString& pdf, QList<QSizeF>* sizes = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        qFatal("pdftotext failed");
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    QList<Page> pages;
    static const QRegularExpression re(
        QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)"|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re"));
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            pages.append(Page());
            if (sizes)
                sizes->append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
        } else {
            pages.last().append({m.captured(3).toDouble(), m.captured(4).toDouble(),
                                 m.captured(6).replace(QLatin1String("&amp;"), QLatin1String("&")),
                                 m.captured(5).toDouble()});
        }
    }
    return pages;
}

// The words whose line starts at y, from x on and left of untilX (all in
// 1/96 inch from the band's corner, half an inch in from the page's). The
// line and its first word must sit within a point of where they belong (a
// misplaced one is off by 1/12 inch, 6 points, or more): a first word that
// starts further right comes back with its position, so that it differs.
QString textAt(const Page& page, int x96, int y96, int untilX96 = 10000)
{
    constexpr double tolerance = 1.0;
    const double top = 36 + y96 * 0.75;
    const double left = 36 + x96 * 0.75;
    QStringList words;
    double firstX = 1e9;
    for (const Word& w : page) {
        if (qAbs(w.y - top) <= tolerance && w.x >= left - tolerance && w.x < 36 + untilX96 * 0.75 - tolerance) {
            words << w.text;
            firstX = qMin(firstX, w.x);
        }
    }
    if (!words.isEmpty() && firstX > left + tolerance)
        words << QStringLiteral("(at x %1)").arg((firstX - 36) / 0.75);
    return words.join(QLatin1Char(' '));
}

} // namespace

class TestReqReport : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TRequestsTab* tab = nullptr;
    QTemporaryDir dir;

    Db::Table& req() { return *console->data().tblRequests; }
    Db::Connection* conn() { return console->data().connTrellaneEMC; }
    QString reqName() { return req().fieldByName(QStringLiteral("RegisterName")).asString(); }

    QList<Page> render(int* printed = nullptr, QList<QSizeF>* sizes = nullptr)
    {
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        const int n = tab->frmReqReport()->Print(printer);
        if (printed)
            *printed = n;
        return readPdf(pdf, sizes);
    }
    void three()
    {
        Fixture::request(conn(), QStringLiteral("MIDDLE CLINIC"), QStringLiteral("REGISTRATION"), 12,
                         {{"CoreProduct", "MEDISOFT"}, {"VendorID", "V77"}, {"Specialty", "CARDIOLOGY"},
                          {"Street1", "12 ELM ST"}, {"City", "SALEM"}, {"State", "OR"}, {"ZipCode", "97301"},
                          {"Phone", "5551234567"}, {"Fax", "5557654321"}, {"Email", "desk@middle.example"},
                          {"ContactName", "ROSA DIAZ"}, {"DealerCode", "ACME"}, {"DealerName", "ACME SOFTWARE"},
                          {"DealerPhone", "5550001111"}, {"HCFA", true}, {"UB92", false}, {"ERA", true},
                          {"NSF", false}, {"BlueCross", true}, {"Commercial", false}, {"Medicaid", false},
                          {"Medicare", true}, {"Promotion", "FIRST MONTH FREE"},
                          {"RequestDate", QDateTime(QDate(2026, 12, 1), QTime(8, 0))}});
        Fixture::request(conn(), QStringLiteral("ZED CARE"), QStringLiteral("RENEWAL"), QVariant(),
                         {{"SorvantaMX", true}, {"Specialty", "PHYSICAL MEDICINE"}});
        Fixture::request(conn(), QStringLiteral("ABLE HEALTH"), QStringLiteral("REGISTRATION"), 0,
                         {{"Street2", "SUITE 9"}, {"City", "AUSTIN"}});
    }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("rpt"));
        tab = new TRequestsTab(*console, console->host());
        console->host()->show();
    }
    void cleanup()
    {
        TfrmReqReport::setPreviewRunner(nullptr);
        console.reset();
        platform.reset();
    }

    void pagesAndPositions()
    {
        three();
        req().open();
        int printed = 0;
        QList<QSizeF> sizes;
        const QList<Page> pages = render(&printed, &sizes);
        QCOMPARE(printed, 3);
        QCOMPARE(pages.size(), 3);
        QCOMPARE(sizes.first(), QSizeF(612, 792));  // US Letter, portrait
        // One request per page, in register-name order.
        QCOMPARE(textAt(pages[0], 80, 32, 600), QStringLiteral("ABLE HEALTH"));
        QCOMPARE(textAt(pages[1], 80, 32, 600), QStringLiteral("MIDDLE CLINIC"));
        QCOMPARE(textAt(pages[2], 80, 32, 600), QStringLiteral("ZED CARE"));
        QCOMPARE(textAt(pages[2], 608, 8), QStringLiteral("RENEWAL"));
        QCOMPARE(textAt(pages[2], 376, 352), QStringLiteral("True"));
        // A value too long for the room before the right margin is
        // shortened with an ellipsis; nothing runs past the margin.
        const QString specialty = textAt(pages[2], 608, 56);
        QVERIFY2(specialty.startsWith(QLatin1String("PHYS")) && specialty.endsWith(QChar(0x2026)), qPrintable(specialty));
        for (const Page& page : pages)
            for (const Word& w : page)
                QVERIFY2(w.right <= 576.5, qPrintable(w.text));

        const Page& p = pages[1];
        struct Expect {
            int x, y, until;
            const char* text;
        };
        const Expect expected[] = {
            {53, 8, 80, "SN"}, {80, 8, 600, "12"}, {608, 8, 10000, "REGISTRATION"},
            {5, 32, 80, "Reg Name"}, {80, 32, 600, "MIDDLE CLINIC"}, {608, 32, 10000, "MEDISOFT"},
            {8, 56, 80, "Vendor ID"}, {80, 56, 540, "V77"}, {544, 56, 608, "Specialty"}, {608, 56, 10000, "CARDIOLOGY"},
            {80, 80, 10000, "12 ELM ST"}, {80, 104, 10000, ""}, {80, 128, 10000, "SALEM"}, {80, 152, 10000, "OR"},
            {80, 176, 10000, "97301"}, {35, 200, 80, "Phone"}, {80, 200, 10000, "5551234567"},
            {52, 224, 80, "Fax"}, {80, 224, 10000, "5557654321"}, {38, 248, 80, "Email"}, {80, 248, 10000, "desk@middle.example"},
            {26, 272, 80, "Contact"}, {80, 272, 10000, "ROSA DIAZ"},
            {32, 296, 80, "Dealer"}, {80, 296, 160, "ACME"}, {160, 296, 10000, "ACME SOFTWARE"},
            {80, 320, 10000, "5550001111"},
            {40, 352, 80, "HCFA"}, {80, 352, 170, "True"}, {171, 352, 208, "UB92"}, {208, 352, 288, "False"},
            {288, 352, 376, "SorvantaMX"}, {376, 352, 10000, ""},  // no value: nothing printed
            {49, 376, 88, "NSF"}, {88, 376, 176, "False"}, {176, 376, 208, "ERA"}, {208, 376, 10000, "True"},
            {48, 408, 88, "Blue"}, {88, 408, 160, "True"}, {160, 408, 208, "Comm"}, {208, 408, 10000, "False"},
            {48, 432, 88, "Caid"}, {88, 432, 168, "False"}, {168, 432, 208, "Care"}, {208, 432, 10000, "True"},
            {40, 456, 88, "Promo"}, {88, 456, 10000, "FIRST MONTH FREE"},
        };
        for (const Expect& e : expected)
            QVERIFY2(textAt(p, e.x, e.y, e.until) == QLatin1String(e.text),
                     qPrintable(QStringLiteral("at %1,%2: '%3'").arg(e.x).arg(e.y).arg(textAt(p, e.x, e.y, e.until))));
        // Nothing else on the page: the request date is not printed.
        int words = 0;
        for (const Expect& e : expected)
            words += e.text[0] ? int(QString::fromLatin1(e.text).split(QLatin1Char(' ')).size()) : 0;
        QCOMPARE(p.size(), words);

        // An empty second address line leaves its gap; the lines below stay.
        QCOMPARE(textAt(pages[0], 80, 104), QStringLiteral("SUITE 9"));
        QCOMPARE(textAt(pages[1], 80, 104), QString());
        QCOMPARE(textAt(pages[0], 80, 128), QStringLiteral("AUSTIN"));

        // The walk ends on the last request, and the grid shows it.
        QCOMPARE(reqName(), QStringLiteral("ZED CARE"));
        DataSetModel* m = tab->DBGrid1()->dataSetModel();
        QCOMPARE(m->recordAt(m->currentRow())->rid, req().currentRecord().rid);
    }

    void noRequests()
    {
        req().open();
        int printed = -1;
        const QList<Page> pages = render(&printed);
        QCOMPARE(printed, 0);
        QVERIFY(pages.size() <= 1);
        QVERIFY(pages.isEmpty() || pages.first().isEmpty());
    }

    // "Print Report": a normal window zoomed to a whole page; printing from
    // it builds the same pages again.
    void preview()
    {
        three();
        req().open();
        const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
        int shownPages = -1;
        bool whole = false;
        bool maximized = true;
        TfrmReqReport::setPreviewRunner([&](QPrintPreviewDialog& dialog) {
            dialog.show();
            auto* widget = dialog.findChild<QPrintPreviewWidget*>();
            QVERIFY(widget);
            shownPages = widget->pageCount();
            whole = widget->zoomMode() == QPrintPreviewWidget::FitInView;
            maximized = dialog.isMaximized();
            req().first();
            dialog.printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog.printer()->setOutputFileName(pdf);
            widget->print();
            dialog.close();
        });
        tab->Button4Click();
        QCOMPARE(shownPages, 3);
        QVERIFY(whole);
        QVERIFY(!maximized);
        QCOMPARE(platform->errors, QStringList());
        const QList<Page> printed = readPdf(pdf);
        QCOMPARE(printed.size(), 3);
        QCOMPARE(textAt(printed[1], 80, 32, 600), QStringLiteral("MIDDLE CLINIC"));
        QCOMPARE(reqName(), QStringLiteral("ZED CARE"));
    }
};

QTEST_MAIN(TestReqReport)
#include "test_reqreport.moc"
