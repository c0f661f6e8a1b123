// The reconciliation on real databases: one planted disagreement of each
// kind beside accounts in order, the edges of its rules, the window's CSV
// file, printing and Cancel, and a case a billing run really adds.
#include "billing/BillingTab.h"
#include "billing/ReconcileWindow.h"
#include "billing/Reconciliation.h"
#include "customerdb/DataModule.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using Billing::Finding;

namespace {

constexpr int kNone = -999;

class ScriptedFeedback : public Billing::RunFeedback {
public:
    bool cancel = false;
    qint64 lastDone = -1;
    void started(qint64) override {}
    bool advanced(qint64 done, qint64) override
    {
        lastDone = done;
        return !cancel;
    }
    void finished() override {}
    void showOutput() override {}
};

} // namespace

class TestReconcile : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    const QDate today{2026, 12, 9};

    TDataModule& data() { return console->data(); }
    QVariant day(int offset) { return offset == kNone ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(offset)); }

    // Flags: "H" Professional, "U" Institutional, "E" ERA, "M" monthly.
    void account(int serial, const QString& name, const QString& chart, const QString& flags = QString(), int prof = kNone,
                 int inst = kNone, int era = kNone, const QString& dealer = QStringLiteral("M"))
    {
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Registration"),
                          {{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("RegisterName"), name},
                           {QStringLiteral("ChartNumber"), chart}, {QStringLiteral("DealerCode"), dealer},
                           {QStringLiteral("HasHCFA"), flags.contains(QLatin1Char('H'))},
                           {QStringLiteral("HasUB92"), flags.contains(QLatin1Char('U'))},
                           {QStringLiteral("HasERA"), flags.contains(QLatin1Char('E'))},
                           {QStringLiteral("IsMonthly"), flags.contains(QLatin1Char('M'))},
                           {QStringLiteral("ExpiresProf"), day(prof)}, {QStringLiteral("ExpiresInst"), day(inst)},
                           {QStringLiteral("ExpiresERA"), day(era)}});
    }
    void patient(const QString& chart)
    {
        TestDb::insertRow(data().connMedisoft, QStringLiteral("MWPAT"), {{QStringLiteral("Chart Number"), chart}});
    }
    void addCase(int number, const QString& chart, const QString& description, bool closed = false,
                 const QString& code = QStringLiteral("E1"))
    {
        TestDb::insertRow(data().connMedisoft, QStringLiteral("MWCAS"),
                          {{QStringLiteral("Case Number"), number}, {QStringLiteral("Chart Number"), chart},
                           {QStringLiteral("Billing Code"), code}, {QStringLiteral("Case Closed"), closed},
                           {QStringLiteral("Description"), description}, {QStringLiteral("Date Created"), today.addDays(-8)}});
    }
    void charge(const QString& chart, int caseNumber, int from, const QString& code,
                const QString& procedure = QString(), const QString& description = QString())
    {
        TestDb::insertRow(data().connMedisoft, QStringLiteral("MWTRN"),
                          {{QStringLiteral("Chart Number"), chart}, {QStringLiteral("Case Number"), caseNumber},
                           {QStringLiteral("Date From"), day(from)}, {QStringLiteral("Procedure Code"), code},
                           {QStringLiteral("Procedure Description"), procedure}, {QStringLiteral("Description"), description}});
    }

    static QString section(Finding f) { return Billing::Reconciliation::sectionName(f); }
    static QStringList lines(const Billing::Reconciliation& r)
    {
        QStringList out;
        for (const Billing::ReconcileLine& l : r.lines())
            out << QStringList{section(l.finding), l.serial ? QString::number(*l.serial) : QString(), l.registerName,
                               l.chart, l.problem}
                       .join(QLatin1Char('|'));
        return out;
    }

    // What the fixture holds that is wrong, in the report's order.
    const QStringList expected{
        "No patient|2|O'BRIEN, SMITH & CO. \"EAST\"|C2|no patient record for this chart",
        "Shared chart|3|SHARED A|C3|chart shared with serial 4",
        "Shared chart|4|SHARED B|C3|chart shared with serial 3",
        "Renewal not billed|5|NOT BILLED|C5|Professional expired 11/19/2026 and was never billed",
        "Renewal not billed|8|BLANK CHART||Professional expired 12/08/2026 and was never billed: the chart number is blank",
        "Renewal not billed|10|DAY OFF|C10|Professional expired 10/30/2026 and was never billed",
        "Renewal not billed|20|SIXTY DAYS AGO|C20|ERA expired 10/10/2026 and was never billed",
        "Renewal not billed|21|TODAY|C21|Institutional expired 12/09/2026 and was never billed",
        "Case without charge|6|EMPTY CASE|C6|open case 6 added 12/01/2026 holds no charge",
        "Case without charge|||NOACCT|open case 9 added 12/01/2026 holds no charge; no account has this chart",
        "Charge without account|4711||ZZ9|charge EDIAPROF dated 11/09/2026 on case 1: no account has this chart",
    };

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        platform = std::make_unique<TestPlatform>();
        platform->pinnedToday = today;
        console = std::make_unique<TestConsole>(QStringLiteral("reconcile"));
        try {
            // In order: renewals billed by code or by the run's description,
            // a module due but not subscribed, its run case holding charges.
            account(1, QStringLiteral("IN ORDER"), QStringLiteral("C1"), QStringLiteral("HE"), -10, -3, -5);
            patient(QStringLiteral("C1"));
            addCase(1, QStringLiteral("C1"), QStringLiteral("Kestrelpoint"));
            charge(QStringLiteral("C1"), 1, -10, QStringLiteral("EDIAPROF"));
            charge(QStringLiteral("C1"), 1, -5, QStringLiteral("OLDERA"), QStringLiteral("Kestrelpoint ERA Monthly"));
            // No patient (a name the CSV file must quote).
            account(2, QStringLiteral("O'BRIEN, SMITH & CO. \"EAST\""), QStringLiteral("C2"));
            // One chart, two accounts.
            account(3, QStringLiteral("SHARED A"), QStringLiteral("C3"));
            account(4, QStringLiteral("SHARED B"), QStringLiteral("C3"));
            patient(QStringLiteral("C3"));
            // Never billed: last year's charge, and this one's on a case of
            // another billing code.
            account(5, QStringLiteral("NOT BILLED"), QStringLiteral("C5"), QStringLiteral("H"), -20);
            patient(QStringLiteral("C5"));
            addCase(5, QStringLiteral("C5"), QStringLiteral("Kestrelpoint"));
            addCase(50, QStringLiteral("C5"), QStringLiteral("OTHER"), false, QStringLiteral("A1"));
            charge(QStringLiteral("C5"), 5, -385, QStringLiteral("EDIAPROF"));
            charge(QStringLiteral("C5"), 50, -20, QStringLiteral("EDIAPROF"));
            // Empty cases: an open one a run added is listed; a closed one,
            // and one the run did not add, are not.
            account(6, QStringLiteral("EMPTY CASE"), QStringLiteral("C6"));
            patient(QStringLiteral("C6"));
            addCase(6, QStringLiteral("C6"), QStringLiteral("Kestrelpoint"));
            addCase(7, QStringLiteral("C6"), QStringLiteral("Kestrelpoint"), true);
            addCase(8, QStringLiteral("C6"), QStringLiteral("EMC SERVICES"));
            addCase(9, QStringLiteral("NOACCT"), QStringLiteral("Kestrelpoint"));
            // A reseller's monthly Institutional module is never charged.
            account(7, QStringLiteral("RESELLER MONTHLY"), QStringLiteral("C7"), QStringLiteral("UM"), kNone, -3, kNone,
                    QStringLiteral("ACME"));
            patient(QStringLiteral("C7"));
            // Blank charts are no chart: neither missing a patient nor shared.
            account(8, QStringLiteral("BLANK CHART"), QString(), QStringLiteral("H"), -1);
            account(9, QStringLiteral("BLANK TOO"), QStringLiteral("  "));
            // A charge a day away from the expiry is another renewal's.
            account(10, QStringLiteral("DAY OFF"), QStringLiteral("C10"), QStringLiteral("H"), -40);
            patient(QStringLiteral("C10"));
            addCase(10, QStringLiteral("C10"), QStringLiteral("Kestrelpoint"));
            charge(QStringLiteral("C10"), 10, -41, QStringLiteral("EDIAPROF"));
            // The window: 60 days back and today are in it, a day beyond
            // either end is not.
            account(20, QStringLiteral("SIXTY DAYS AGO"), QStringLiteral("C20"), QStringLiteral("E"), kNone, kNone, -60);
            account(21, QStringLiteral("TODAY"), QStringLiteral("C21"), QStringLiteral("U"), kNone, 0);
            account(22, QStringLiteral("SIXTY-ONE DAYS AGO"), QStringLiteral("C22"), QStringLiteral("HUE"), -61, -61, -61);
            account(23, QStringLiteral("TOMORROW"), QStringLiteral("C23"), QStringLiteral("HUE"), 1, 1, 1);
            for (const char* c : {"C20", "C21", "C22", "C23"})
                patient(QLatin1String(c));
            // A chart beyond eight ASCII letters' worth, in order.
            account(11, QStringLiteral("UMLAUT"), QStringLiteral("MÜLLER01"), QStringLiteral("H"), -7);
            patient(QStringLiteral("MÜLLER01"));
            addCase(11, QStringLiteral("MÜLLER01"), QStringLiteral("Kestrelpoint"));
            charge(QStringLiteral("MÜLLER01"), 11, -7, QStringLiteral("EDIAPROF"));
            // A charge of no account.
            charge(QStringLiteral("ZZ9"), 1, -30, QStringLiteral("EDIAPROF"), QString(), QStringLiteral("SN: 4711 EXP: 11-09-26"));
        } catch (const Db::EngineError& e) {
            QFAIL(qPrintable(e.message()));
        }
    }
    void cleanupTestCase()
    {
        console.reset();
        platform.reset();
        QLocale::setDefault(QLocale::c());
    }

    void findsEachKind()
    {
        Billing::Reconciliation r(*data().connTrellaneEMC, *data().connMedisoft, Billing::defaultPrices());
        QVERIFY(r.run(today));
        QCOMPARE(lines(r), expected);
        const int counts[] = {1, 2, 5, 2, 1};
        for (int f = 0; f < Billing::kFindingKinds; ++f)
            QCOMPARE(r.count(Finding(f)), counts[f]);
        QCOMPARE(r.summary(), QStringLiteral("15 accounts, 11 patients, 8 E1 cases and 7 charges read on 12/09/2026: 11 findings."));
    }

    // The button: Cancel shows nothing; a finished reconciliation shows its
    // window, which saves the CSV file and prints.
    void windowSavesAndPrints()
    {
        auto* tab = new TBillingTab(*console, console->host());
        auto feedback = std::make_unique<ScriptedFeedback>();
        ScriptedFeedback* f = feedback.get();
        tab->setRunFeedback(std::move(feedback));
        auto* button = tab->findChild<QPushButton*>(QStringLiteral("btnReconcile"));
        f->cancel = true;
        button->click();
        QVERIFY(!tab->reconcileWindow());
        QCOMPARE(console->enableCalls, 1);
        f->cancel = false;
        button->click();
        QVERIFY2(platform->errors.isEmpty(), qPrintable(platform->errors.join(QLatin1Char('\n'))));
        TReconcileWindow* window = tab->reconcileWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(lines(window->result()), expected);
        QCOMPARE(f->lastDone, 15 + 11 + 8 + 7);

        QTemporaryDir dir;
        platform->saveFileAnswers << dir.filePath(QStringLiteral("report.csv"));
        window->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
        QCOMPARE(platform->proposedSaveNames.last(), QStringLiteral("reconcile-2026-12-09.csv"));
        QFile csv(dir.filePath(QStringLiteral("report.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.size(), expected.size() + 2);  // the header, and nothing after the last CR LF
        QCOMPARE(rows[0], QByteArray("Section,Serial Number,Register Name,ChartNumber,Problem\r"));
        QCOMPARE(rows[1], QByteArray("No patient,2,\"O'BRIEN, SMITH & CO. \"\"EAST\"\"\",C2,no patient record for this chart\r"));
        QCOMPARE(rows[10], QByteArray("Case without charge,,,NOACCT,open case 9 added 12/01/2026 holds no charge; no account has this chart\r"));
        QCOMPARE(rows[11], QByteArray("Charge without account,4711,,ZZ9,charge EDIAPROF dated 11/09/2026 on case 1: no account has this chart\r"));

        QPrinter* printer = window->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(dir.filePath(QStringLiteral("report.pdf")));
        platform->printDialogAnswers << false;
        window->findChild<QPushButton*>(QStringLiteral("btnPrint"))->click();
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("report.pdf"))));
        platform->printDialogAnswers << true;
        window->findChild<QPushButton*>(QStringLiteral("btnPrint"))->click();
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("report.pdf"))).size() > 0);
        QVERIFY(platform->errors.isEmpty());
        delete window;
        delete tab;
    }

    // A run adds a case for an account whose only due module is not
    // subscribed, and posts nothing on it: the reconciliation finds the
    // case by what the run wrote.
    void findsTheEmptyCaseARunAdds()
    {
        account(30, QStringLiteral("DUE NOT SUBSCRIBED"), QStringLiteral("C30"), QStringLiteral("U"), 10);
        patient(QStringLiteral("C30"));
        auto* tab = new TBillingTab(*console, console->host());
        tab->setRunFeedback(std::make_unique<ScriptedFeedback>());
        tab->Button11Click();
        QVERIFY(platform->errors.isEmpty());
        Billing::Reconciliation r(*data().connTrellaneEMC, *data().connMedisoft, Billing::defaultPrices());
        QVERIFY(r.run(today));
        QStringList now = expected;
        now.insert(9, QStringLiteral("Case without charge|30|DUE NOT SUBSCRIBED|C30|open case 51 added 12/09/2026 holds no charge"));
        QCOMPARE(lines(r), now);
        delete tab;
    }
};

QTEST_MAIN(TestReconcile)
#include "test_reconcile.moc"
