// The output window: its text, showing maximized, and printing to a PDF
// printer whose result is read back with poppler's pdfinfo and pdftotext.
#include "shell/Outputfrm.h"
#include "tests/support/TestPlatform.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

namespace {

QString run(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct Pdf {
    int pages = 0;
    QString title;
    QString text;
};

Pdf readPdf(const QString& file)
{
    Pdf pdf;
    const QString info = run(QStringLiteral("pdfinfo"), {file});
    pdf.pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info).captured(1).toInt();
    pdf.title = QRegularExpression(QStringLiteral("Title:\\s+([^\\n]*)")).match(info).captured(1);
    pdf.text = run(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
    return pdf;
}

} // namespace

class TestOutputfrm : public QObject {
    Q_OBJECT

    TestPlatform* plat = nullptr;
    TfrmOutput* frm = nullptr;
    QTemporaryDir dir;
    QString pdfFile;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("poppler-utils (pdfinfo, pdftotext) are needed to read the printed PDF");
    }

    void init()
    {
        plat = new TestPlatform;
        frm = new TfrmOutput;
        pdfFile = dir.filePath(QStringLiteral("out%1.pdf").arg(QDateTime::currentMSecsSinceEpoch()));
        frm->printer()->setOutputFormat(QPrinter::PdfFormat);
        frm->printer()->setOutputFileName(pdfFile);
    }

    void cleanup()
    {
        delete frm;
        delete plat;
    }

    void textLinesAppendAndClear()
    {
        frm->appendLine(QStringLiteral("first"));
        frm->appendLine(QString());
        frm->appendLine(QStringLiteral("third"));
        QCOMPARE(frm->text(), QStringLiteral("first\n\nthird"));
        frm->clear();
        QCOMPARE(frm->text(), QString());
        frm->appendLine(QStringLiteral("again"));
        QCOMPARE(frm->text(), QStringLiteral("again"));
    }

    void showingAgainKeepsTextAndIsMaximized()
    {
        frm->appendLine(QStringLiteral("kept between showings"));
        for (int round = 0; round < 2; ++round) {
            bool maximized = false;
            QString shownText;
            QTimer::singleShot(0, frm, [&] {
                maximized = frm->isMaximized();
                shownText = frm->text();
                frm->accept();
            });
            frm->showModal();
            QVERIFY(maximized);
            QCOMPARE(shownText, QStringLiteral("kept between showings"));
            // The user restores and shrinks the window before closing it.
            frm->setWindowState(Qt::WindowNoState);
            frm->resize(300, 200);
        }
    }

    void manyLinesPrintOnAsManyPagesAsNeededInOrder()
    {
        frm->appendLine(QStringLiteral("only line"));
        QVERIFY(frm->PrintReport(QStringLiteral("Short"), false));
        const Pdf one = readPdf(pdfFile);
        QCOMPARE(one.pages, 1);
        QCOMPARE(one.title, QStringLiteral("Short"));
        QVERIFY(one.text.contains(QStringLiteral("only line")));

        frm->clear();
        for (int i = 1; i <= 400; ++i)
            frm->appendLine(QStringLiteral("Log line %1").arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(frm->PrintReport(QStringLiteral("Long"), false));
        const Pdf many = readPdf(pdfFile);
        QVERIFY2(many.pages >= 3, qPrintable(QString::number(many.pages)));
        qsizetype last = -1;
        for (int i = 1; i <= 400; ++i) {
            const qsizetype at = many.text.indexOf(QStringLiteral("Log line %1").arg(i, 3, 10, QLatin1Char('0')));
            QVERIFY2(at > last, qPrintable(QStringLiteral("line %1 missing or out of order").arg(i)));
            last = at;
        }
        QCOMPARE(frm->text().count(QLatin1Char('\n')), 399); // printing leaves the text alone
    }

    void longLineWrapsOnPaperButNotOnScreen()
    {
        QStringList words;
        for (int i = 0; i < 300; ++i)
            words << QStringLiteral("w%1").arg(i);
        const QString unbroken(600, QLatin1Char('X'));
        frm->appendLine(words.join(QLatin1Char(' ')));
        frm->appendLine(unbroken);
        frm->show();
        QCoreApplication::processEvents();
        const QTextBlock block = frm->mmoOutput()->document()->firstBlock();
        QCOMPARE(block.layout()->lineCount(), 1);

        QVERIFY(frm->PrintReport(QStringLiteral("Wrap"), false));
        const Pdf pdf = readPdf(pdfFile);
        const QStringList printed = pdf.text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(printed.size() >= 4, qPrintable(pdf.text));
        QVERIFY(printed.first().startsWith(QStringLiteral("w0 w1")));
        QVERIFY(pdf.text.contains(QStringLiteral("w299")));
        QCOMPARE(QString(pdf.text).remove(QRegularExpression(QStringLiteral("[^X]"))).size(), 600);
    }

    void cancelledDialogPrintsNothing()
    {
        frm->appendLine(QStringLiteral("not printed"));
        plat->printDialogAnswers.enqueue(false);
        QVERIFY(!frm->PrintReport(QStringLiteral("Cancelled"), true));
        QVERIFY(!QFile::exists(pdfFile));
        QCOMPARE(frm->text(), QStringLiteral("not printed"));
    }

    void menuPrintsTypedTextAfterTheDialog()
    {
        frm->appendLine(QStringLiteral("from the run"));
        frm->mmoOutput()->moveCursor(QTextCursor::End);
        QTest::keyClicks(frm->mmoOutput(), QStringLiteral(" typed by the user"));
        plat->printDialogAnswers.enqueue(true);
        frm->printAction()->trigger();
        QVERIFY(plat->printDialogAnswers.isEmpty());
        QVERIFY(plat->errors.isEmpty());
        const Pdf pdf = readPdf(pdfFile);
        QCOMPARE(pdf.title, QStringLiteral("SorvantaMX Report"));
        QVERIFY(pdf.text.contains(QStringLiteral("from the run typed by the user")));
        QVERIFY(!pdf.text.contains(QStringLiteral("SorvantaMX"))); // the title is not printed
    }

    void printerFailureThrowsAndMenuShowsIt()
    {
        frm->appendLine(QStringLiteral("text"));
        frm->printer()->setOutputFileName(dir.filePath(QStringLiteral("no/such/folder/out.pdf")));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, frm->PrintReport(QStringLiteral("Bad"), false));
        plat->printDialogAnswers.enqueue(true);
        frm->printAction()->trigger();
        QCOMPARE(plat->errors.size(), 1);
        QVERIFY(plat->errors.first().contains(QStringLiteral("SorvantaMX Report")));
        QCOMPARE(frm->text(), QStringLiteral("text"));
    }
};

QTEST_MAIN(TestOutputfrm)
#include "test_outputfrm.moc"
