// The billing runs offscreen on real databases: which charges an account
// gets in each mode, the duplicate window, new cases from the field
// defaults, one transaction per account, Cancel, and the renewals file.
#include "billing/BillingTab.h"
#include "billing/RenewalsExport.h"
#include "customerdb/DataModule.h"
#include "helpers/Command.h"
#include "shell/Outputfrm.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kNone = -999;  // no expiry date

class ScriptedFeedback : public Billing::RunFeedback {
public:
    qint64 total = -1;
    int stopAfter = -1;  // accounts posted before Cancel is pressed
    int shown = 0;
    QString shownText;
    TfrmOutput* output = nullptr;
    void started(qint64 t) override { total = t; }
    bool advanced(qint64 done, qint64) override { return stopAfter < 0 || done < stopAfter; }
    void finished() override {}
    void showOutput() override
    {
        ++shown;
        shownText = output->text();
    }
};

} // namespace

class TestBilling : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TBillingTab* tab = nullptr;
    ScriptedFeedback* feedback = nullptr;
    const QDate today{2026, 12, 9};

    TDataModule& data() { return console->data(); }
    QLineEdit* box(const char* name) { return tab->findChild<QLineEdit*>(QLatin1String(name)); }

    // Flags: "H" Professional, "U" Institutional, "E" ERA, "M" monthly.
    void addAccount(int serial, const QString& dealer, const QString& chart, const QString& flags, int prof,
                    int inst = kNone, int era = kNone, const QString& name = QString())
    {
        auto date = [&](int d) { return d == kNone ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(d)); };
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Registration"),
                          {{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("DealerCode"), dealer},
                           {QStringLiteral("ChartNumber"), chart},
                           {QStringLiteral("RegisterName"), name.isEmpty() ? QStringLiteral("PRACTICE %1").arg(serial, 3, 10, QLatin1Char('0')) : name},
                           {QStringLiteral("HasHCFA"), flags.contains(QLatin1Char('H'))},
                           {QStringLiteral("HasUB92"), flags.contains(QLatin1Char('U'))},
                           {QStringLiteral("HasERA"), flags.contains(QLatin1Char('E'))},
                           {QStringLiteral("IsMonthly"), flags.contains(QLatin1Char('M'))},
                           {QStringLiteral("ExpiresProf"), date(prof)}, {QStringLiteral("ExpiresInst"), date(inst)},
                           {QStringLiteral("ExpiresERA"), date(era)}});
    }
    void practice(const QString& table, const QVariantMap& values)
    {
        TestDb::insertRow(data().connMedisoft, table, values);
    }
    void addDefault(const QString& table, const QString& field, const QString& value)
    {
        practice(QStringLiteral("MWDEF"), {{QStringLiteral("Table"), table}, {QStringLiteral("Field"), field},
                                           {QStringLiteral("Default"), value}});
    }
    // Rows of a practice table in stored order, the given columns as text
    // joined by "|".
    QStringList rows(const QString& table, const QStringList& columns)
    {
        Db::Connection& c = *data().connMedisoft;
        c.connect();
        QStringList cols;
        for (const QString& n : columns)
            cols << QStringLiteral("COALESCE(CAST(%1 AS TEXT), '-')").arg(c.quoteName(n));
        QSqlQuery q(c.database());
        q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY _rid").arg(cols.join(QStringLiteral(" || '|' || ")), c.quoteName(table)));
        QStringList out;
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    QStringList charges() { return rows(QStringLiteral("MWTRN"), {QStringLiteral("Chart Number"), QStringLiteral("Procedure Code"), QStringLiteral("Amount")}); }
    QString log() { return console->frmOutput()->text(); }
    // A click as the window runs it: an escaping error goes to the error box.
    void click(void (TBillingTab::*handler)()) { Trellane::runCommand([&] { (tab->*handler)(); }); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("billing"));
        tab = new TBillingTab(*console, console->host());
        auto f = std::make_unique<ScriptedFeedback>();
        feedback = f.get();
        feedback->output = console->frmOutput();
        tab->setRunFeedback(std::move(f));
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("Assigned Provider"), QStringLiteral("1"));
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("Facility"), QStringLiteral("MAIN"));
        data().tblMWPAT->open();
    }
    void cleanup()
    {
        console.reset();
        platform.reset();
        QLocale::setDefault(QLocale::c());
    }

    // Which charges one account gets, by mode, billing period and dates.
    void chargeRules_data()
    {
        QTest::addColumn<bool>("dealer");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QList<int>>("days");  // Professional, Institutional, ERA
        QTest::addColumn<QStringList>("expected");
        const QList<int> due{30, 31, 32};
        QTest::newRow("direct, three annual") << false << "HUE" << due
            << QStringList{"C1|EDIAPROF|599.00", "C1|EDIAINST|299.00", "C1|EDIAERA|299.00"};
        QTest::newRow("direct, Institutional alone") << false << "U" << due << QStringList{"C1|EDIAINST|599.00"};
        QTest::newRow("direct, monthly") << false << "HUEM" << due
            << QStringList{"C1|EDIMOPROF|65.00", "C1|EDIMOINST|65.00", "C1|EDIMOERA|65.00"};
        QTest::newRow("dealer, annual Institutional with Professional") << true << "HU" << due
            << QStringList{"C1|EDIAPROF|599.00", "C1|EDIAINST|599.00"};
        QTest::newRow("dealer, monthly Institutional") << true << "UEM" << due << QStringList{"C1|EDIMOERA|65.00"};
        QTest::newRow("today and today + 75") << false << "HUE" << QList<int>{0, 75, 10} << QStringList{"C1|EDIAERA|299.00"};
        QTest::newRow("tomorrow and today + 74") << false << "HE" << QList<int>{1, kNone, 74}
            << QStringList{"C1|EDIAPROF|599.00", "C1|EDIAERA|299.00"};
        QTest::newRow("due but not subscribed") << false << "U" << QList<int>{10, kNone, kNone} << QStringList{};
    }
    void chargeRules()
    {
        QFETCH(bool, dealer);
        QFETCH(QString, flags);
        QFETCH(QList<int>, days);
        QFETCH(QStringList, expected);
        const QString code = dealer ? QStringLiteral("ACME") : QStringLiteral("M");
        addAccount(1, code, QStringLiteral("C1"), flags, days[0], days[1], days[2]);
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Dealers"), {{QStringLiteral("DealerCode"), code}});
        data().tblDealer->open();
        click(dealer ? &TBillingTab::Button12Click : &TBillingTab::Button11Click);
        QVERIFY2(platform->errors.isEmpty(), qPrintable(platform->errors.join(QLatin1Char('\n'))));
        QCOMPARE(charges(), expected);
        // A case is added even when nothing is charged.
        QCOMPARE(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}), QStringList{"C1"});
    }

    // A full run: the log, every column of a charge, the second run, the
    // window and the patient table afterwards.
    void runAndRerun()
    {
        addAccount(2, QStringLiteral("M"), QStringLiteral("SMITHJO0"), QStringLiteral("HUE"), 30, 31, 32, QStringLiteral("B PRACTICE"));
        addAccount(3, QStringLiteral("M"), QString(), QStringLiteral("H"), 30, kNone, kNone, QStringLiteral("C PRACTICE"));
        addAccount(4, QStringLiteral("M"), QStringLiteral("OLD00004"), QStringLiteral("H"), 20, kNone, kNone, QStringLiteral("A PRACTICE"));
        addAccount(5, QStringLiteral("ACME"), QStringLiteral("X5"), QStringLiteral("H"), 20);
        practice(QStringLiteral("MWCAS"), {{QStringLiteral("Chart Number"), QStringLiteral("OLD00004")},
                                          {QStringLiteral("Billing Code"), QStringLiteral("E1")},
                                          {QStringLiteral("Case Closed"), false},
                                          {QStringLiteral("Assigned Provider"), QStringLiteral("DR1")},
                                          {QStringLiteral("Facility"), QStringLiteral("F1")}});
        box("edtAnnProfChg")->setText(QStringLiteral("19.99"));
        box("edtAnnProf")->setText(QStringLiteral("EDIAPROF  X"));  // stored, logged and found again as EDIAPROF
        click(&TBillingTab::Button11Click);
        const QString e = slash(today.addDays(30));
        QCOMPARE(log(), QStringList({"Added Renewal EDIAPROF " + slash(today.addDays(20)) + " for Chart: OLD00004",
                                     "Added Case for Chart: SMITHJO0", "Added Renewal EDIAPROF " + e + " for Chart: SMITHJO0",
                                     "Added Renewal EDIAINST " + slash(today.addDays(31)) + " for Chart: SMITHJO0",
                                     "Added Renewal EDIAERA " + slash(today.addDays(32)) + " for Chart: SMITHJO0",
                                     "The chart number was blank for serial number 3"}).join(QLatin1Char('\n')));
        QCOMPARE(feedback->shown, 1);
        QCOMPARE(feedback->total, 3);
        QCOMPARE(console->enableCalls, 1);
        QCOMPARE(charges().first(), QStringLiteral("OLD00004|EDIAPROF|19.99"));
        QCOMPARE(rows(QStringLiteral("MWTRN"), {QStringLiteral("Case Number"), QStringLiteral("Date From"), QStringLiteral("Document Number"),
                                                QStringLiteral("Description"), QStringLiteral("Attending Provider"), QStringLiteral("Transaction Type"),
                                                QStringLiteral("Units"), QStringLiteral("Facility"), QStringLiteral("Procedure Description"),
                                                QStringLiteral("Check Number"), QStringLiteral("Price Indicator"), QStringLiteral("Documentation Type")})
                     .first(),
                 QStringLiteral("1|%1|2612090000|SN: 4 EXP: %2|DR1|A|1|F1|Kestrelpoint Professional Annual||A|T")
                     .arg(today.addDays(20).toString(Qt::ISODate), today.addDays(20).toString(QStringLiteral("MM-dd-yy"))));
        QCOMPARE(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number"), QStringLiteral("Guarantor"), QStringLiteral("Assigned Provider"),
                                                QStringLiteral("Facility"), QStringLiteral("Description"), QStringLiteral("Date Created")})
                     .last(),
                 QStringLiteral("SMITHJO0|-|1|MAIN|Kestrelpoint|%1").arg(today.toString(Qt::ISODate)));
        // The account screen's chart check still finds patients.
        QVERIFY(data().tblMWPAT->isOpen());
        // The run is one entry of the record: who, which run, what it posted.
        qint64 cents = 0;
        for (const QString& c : charges())
            cents += qRound64(c.section(QLatin1Char('|'), 2).toDouble() * 100);
        QList<Db::Change> runs = Db::billingRuns(*data().connTrellaneEMC);
        QCOMPARE(runs.size(), 1);
        QVERIFY(!runs[0].who.isEmpty());
        QCOMPARE(QStringList({runs[0].field, runs[0].key, runs[0].newValue}),
                 QStringList({"direct", "M",
                              "3 accounts, 1 cases, 4 charges, total " + Billing::formatAmount(cents)}));

        click(&TBillingTab::Button11Click);
        QCOMPARE(Db::billingRuns(*data().connTrellaneEMC).value(0).newValue, QStringLiteral("3 accounts, 0 cases, 0 charges, total 0.00"));
        QCOMPARE(log(), QStringLiteral("The chart number was blank for serial number 3"));
        QCOMPARE(charges().size(), 4);
        QCOMPARE(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}).size(), 2);
    }

    // Every row of the given tables, every column as text, in stored order.
    QStringList snapshot(Db::Connection& c, const QStringList& tables)
    {
        c.connect();
        QStringList out;
        for (const QString& t : tables) {
            QSqlQuery q(c.database());
            q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY _rid").arg(c.quoteName(t)));
            while (q.next()) {
                QStringList values;
                for (int i = 0; i < q.record().count(); ++i)
                    values << (q.isNull(i) ? QStringLiteral("-") : q.value(i).toString());
                out << t + QLatin1Char(':') + values.join(QLatin1Char('|'));
            }
        }
        return out;
    }

    // The preview flags an account whose chart has no patient; the run
    // posts its charges all the same.
    void previewFlagsAChartWithoutPatient()
    {
        addAccount(1, QStringLiteral("M"), QStringLiteral("NOPAT01"), QStringLiteral("H"), 30, kNone, kNone, QStringLiteral("A PRACTICE"));
        addAccount(2, QStringLiteral("M"), QStringLiteral("HASPAT01"), QStringLiteral("H"), 30, kNone, kNone, QStringLiteral("B PRACTICE"));
        practice(QStringLiteral("MWPAT"), {{QStringLiteral("Chart Number"), QStringLiteral("HASPAT01")}});
        click(&TBillingTab::btnPreviewMClick);
        const QStringList out = log().split(QLatin1Char('\n'));
        const qsizetype a = out.indexOf(QStringLiteral("Serial 1  A PRACTICE  Chart NOPAT01"));
        const qsizetype b = out.indexOf(QStringLiteral("Serial 2  B PRACTICE  Chart HASPAT01"));
        QVERIFY(a > 0 && b > a);
        QCOMPARE(out.mid(a + 1, 2), QStringList({"    Flag: no patient record for this chart", "    Add a case"}));
        QCOMPARE(out.at(b + 1), QStringLiteral("    Add a case"));
        QVERIFY(out.contains(QStringLiteral("Accounts without a patient record: 1")));
        QCOMPARE(tab->lastPreview().withoutPatient(), 1);
        click(&TBillingTab::Button11Click);
        QCOMPARE(charges(), QStringList({"NOPAT01|EDIAPROF|599.00", "HASPAT01|EDIAPROF|599.00"}));
    }

    // A preview lists exactly what the run then posts, in the same order,
    // and leaves both databases as they were.
    void previewThenRun_data()
    {
        QTest::addColumn<bool>("dealer");
        QTest::newRow("direct") << false;
        QTest::newRow("dealer") << true;
    }
    void previewThenRun()
    {
        QFETCH(bool, dealer);
        const QString code = dealer ? QStringLiteral("ACME") : QStringLiteral("M");
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Dealers"),
                          {{QStringLiteral("DealerCode"), code}, {QStringLiteral("ChartNumber"), QStringLiteral("DLR")},
                           {QStringLiteral("Provider"), QStringLiteral("AC")}});
        data().tblDealer->open();
        addAccount(1, code, QStringLiteral("C1"), QStringLiteral("HUE"), 30, 31, 32, QStringLiteral("A ALL THREE"));
        addAccount(2, code, QString(), QStringLiteral("H"), 30, kNone, kNone, QStringLiteral("B BLANK"));
        addAccount(3, code, QStringLiteral("C3"), QStringLiteral("HE"), 20, kNone, 40, QStringLiteral("C POSTED"));
        addAccount(4, code, QStringLiteral("C4"), QStringLiteral("UEM"), 10, 11, 12, QStringLiteral("D MONTHLY"));
        // Two accounts of one chart: the second finds the first one's case
        // and charges.
        addAccount(5, code, QStringLiteral("C5"), QStringLiteral("H"), 50, kNone, kNone, QStringLiteral("E SHARED"));
        addAccount(6, code, QStringLiteral("C5"), QStringLiteral("HU"), 50, 60, kNone, QStringLiteral("F SHARED"));
        practice(QStringLiteral("MWCAS"), {{QStringLiteral("Chart Number"), QStringLiteral("C3")},
                                          {QStringLiteral("Billing Code"), QStringLiteral("E1")}, {QStringLiteral("Case Closed"), false}});
        practice(QStringLiteral("MWTRN"), {{QStringLiteral("Chart Number"), QStringLiteral("C3")}, {QStringLiteral("Case Number"), 1},
                                          {QStringLiteral("Procedure Code"), QStringLiteral("EDIAERA")},
                                          {QStringLiteral("Date From"), today.addDays(40)}});
        const QStringList practiceTables{QStringLiteral("MWCAS"), QStringLiteral("MWTRN"), QStringLiteral("MWDEF"),
                                         QStringLiteral("MWPAT")};
        const QStringList customerTables{QStringLiteral("Registration"), QStringLiteral("Dealers")};
        const QStringList practiceBefore = snapshot(*data().connMedisoft, practiceTables);
        const QStringList customerBefore = snapshot(*data().connTrellaneEMC, customerTables);
        const qsizetype oldCharges = charges().size();
        box("edtAnnProf")->setText(QStringLiteral("EDIAPROF2025"));  // posted as EDIAPROF20

        click(dealer ? &TBillingTab::btnPreviewDealerClick : &TBillingTab::btnPreviewMClick);
        QVERIFY2(platform->errors.isEmpty(), qPrintable(platform->errors.join(QLatin1Char('\n'))));
        QCOMPARE(feedback->shown, 1);
        QCOMPARE(snapshot(*data().connMedisoft, practiceTables), practiceBefore);
        QCOMPARE(snapshot(*data().connTrellaneEMC, customerTables), customerBefore);
        const QString text = feedback->shownText;
        QVERIFY(text.contains(QStringLiteral("Serial 2  B BLANK  Chart (blank)\n    Pass over: the chart number is blank")));
        QVERIFY(text.contains(QStringLiteral("    Skip EDIAERA  Kestrelpoint ERA Annual  expires %1  299.00  (posted already)").arg(slash(today.addDays(40)))));

        QStringList planned, cases;
        for (const Billing::AccountPlan& a : tab->lastPreview().accounts()) {
            if (a.addCase)
                cases << a.chart;
            for (const Billing::Charge& c : a.charges)
                if (!c.duplicate)
                    planned << QStringList{a.chart, c.code, c.description, c.expiry.toString(Qt::ISODate), Billing::formatAmount(c.cents)}.join(QLatin1Char('|'));
        }
        QCOMPARE(tab->lastPreview().accounts().size(), 6);
        QCOMPARE(tab->lastPreview().chargesToPost(), planned.size());
        QVERIFY(text.endsWith(QStringLiteral("Cases to add: %1\nCharges to post: %2\nTotal amount: %3")
                                  .arg(cases.size()).arg(planned.size()).arg(Billing::formatAmount(tab->lastPreview().totalCents()))));

        click(dealer ? &TBillingTab::Button12Click : &TBillingTab::Button11Click);
        QVERIFY2(platform->errors.isEmpty(), qPrintable(platform->errors.join(QLatin1Char('\n'))));
        QStringList posted = rows(QStringLiteral("MWTRN"), {QStringLiteral("Chart Number"), QStringLiteral("Procedure Code"),
                                                            QStringLiteral("Procedure Description"), QStringLiteral("Date From"),
                                                            QStringLiteral("Amount")});
        posted.remove(0, oldCharges);
        QCOMPARE(posted, planned);
        QStringList added = rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")});
        added.removeFirst();
        QCOMPARE(added, cases);
        // The shared chart got one case and no charge twice.
        QCOMPARE(cases.count(QStringLiteral("C5")), 1);
        QCOMPARE(posted.filter(QStringLiteral("C5|EDIAPROF")).size(), 1);
    }

    // A charge of the same code counts as posted within 75 days either side.
    void duplicateWindow_data()
    {
        QTest::addColumn<int>("offset");  // old charge's "Date From" less the expiry
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("posted");
        QTest::newRow("same date") << 0 << "EDIAPROF" << false;
        QTest::newRow("74 before") << -74 << "EDIAPROF" << false;
        QTest::newRow("74 after") << 74 << "EDIAPROF" << false;
        QTest::newRow("75 before") << -75 << "EDIAPROF" << true;
        QTest::newRow("75 after") << 75 << "EDIAPROF" << true;
        QTest::newRow("a year before") << -365 << "EDIAPROF" << true;
        QTest::newRow("last month") << -30 << "EDIAPROF" << false;
        QTest::newRow("another code") << 0 << "EDIPROF" << true;
    }
    void duplicateWindow()
    {
        QFETCH(int, offset);
        QFETCH(QString, code);
        QFETCH(bool, posted);
        addAccount(1, QStringLiteral("M"), QStringLiteral("C1"), QStringLiteral("H"), 40);
        practice(QStringLiteral("MWCAS"), {{QStringLiteral("Chart Number"), QStringLiteral("C1")},
                                          {QStringLiteral("Billing Code"), QStringLiteral("E1")}, {QStringLiteral("Case Closed"), false}});
        practice(QStringLiteral("MWTRN"), {{QStringLiteral("Chart Number"), QStringLiteral("C1")}, {QStringLiteral("Case Number"), 1},
                                          {QStringLiteral("Procedure Code"), code},
                                          {QStringLiteral("Date From"), today.addDays(40 + offset)}});
        click(&TBillingTab::Button11Click);
        QCOMPARE(charges().size(), posted ? 2 : 1);
    }

    // A new case takes the field defaults of MWCAS rows; the special fields
    // by their exact names, the reseller's chart and provider in dealer mode.
    void newCase_data()
    {
        QTest::addColumn<bool>("dealer");
        QTest::addColumn<QString>("dealerChart");
        QTest::addColumn<QString>("expected");  // Guarantor|Assigned Provider|Billing Code|Referring Provider
        QTest::newRow("direct") << false << "" << "C1|1|E1|RP";
        QTest::newRow("dealer") << true << "DLR1" << "DLR1|AC|E1|RP";
        QTest::newRow("dealer without a chart") << true << "" << "|AC|E1|RP";
    }
    void newCase()
    {
        QFETCH(bool, dealer);
        QFETCH(QString, dealerChart);
        QFETCH(QString, expected);
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("Case Number"), QStringLiteral("77"));
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("Guarantor"), QStringLiteral("IGNORED"));
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("Billing Code"), QStringLiteral("ZZ"));
        addDefault(QStringLiteral("MWCAS"), QStringLiteral("referring provider"), QStringLiteral("RP"));
        addDefault(QStringLiteral("MWPAT"), QStringLiteral("No Such Column"), QStringLiteral("X"));
        for (const char* f : {"CASE NUMBER", "billing code", "CHART NUMBER", "Case Closed"})  // other spellings: no effect
            addDefault(QStringLiteral("MWCAS"), QLatin1String(f), QStringLiteral("7"));
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Dealers"),
                          {{QStringLiteral("DealerCode"), QStringLiteral("ACME")}, {QStringLiteral("ChartNumber"), dealerChart},
                           {QStringLiteral("Provider"), QStringLiteral("AC")}});
        data().tblDealer->open();
        addAccount(1, dealer ? QStringLiteral("ACME") : QStringLiteral("M"), QStringLiteral("C1"), QStringLiteral("H"), 30);
        click(dealer ? &TBillingTab::Button12Click : &TBillingTab::Button11Click);
        QVERIFY2(platform->errors.isEmpty(), qPrintable(platform->errors.join(QLatin1Char('\n'))));
        const QStringList cases = rows(QStringLiteral("MWCAS"), {QStringLiteral("Guarantor"), QStringLiteral("Assigned Provider"),
                                                                 QStringLiteral("Billing Code"), QStringLiteral("Referring Provider"),
                                                                 QStringLiteral("Case Number")});
        QCOMPARE(cases, QStringList{expected + QStringLiteral("|1")});
        click(dealer ? &TBillingTab::Button12Click : &TBillingTab::Button11Click);
        QCOMPARE(charges(), QStringList{"C1|EDIAPROF|599.00"});
        QCOMPARE(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}), QStringList{"C1"});
    }

    // The Dealers tab's runs refuse reseller M, whose accounts the direct run bills.
    void resellerMRefused()
    {
        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Dealers"), {{QStringLiteral("DealerCode"), QStringLiteral("M")}});
        data().tblDealer->open();
        addAccount(1, QStringLiteral("M"), QStringLiteral("C1"), QStringLiteral("HU"), 30, 30);
        click(&TBillingTab::Button12Click);
        click(&TBillingTab::btnPreviewDealerClick);
        QCOMPARE(platform->messages, QStringList(2, "The accounts of reseller M are billed with \"Add Charges for M\" on the Billing tab."));
        QCOMPARE(feedback->shown, 0);
        QVERIFY(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}).isEmpty());
    }

    // An error ends the run: the account in progress is left as it was, the
    // ones before it stay posted (the error box says how many), a second run
    // completes the rest, and a preview stops as the run would.
    void errorLeavesAccountWhole_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("posted");  // accounts done before the error; -1: it came before the walk
        QTest::newRow("price not a number") << "price" << "'29,9x' is not a valid floating point value" << 0;
        QTest::newRow("unknown default column") << "default" << "Field 'No Such Column' not found" << 1;
        QTest::newRow("missing transaction column") << "column" << "" << -1;
        QTest::newRow("refused post") << "post" << "" << 1;
    }
    void errorLeavesAccountWhole()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, posted);
        addAccount(1, QStringLiteral("M"), QStringLiteral("C1"), QStringLiteral("HE"), 30, kNone, 31, QStringLiteral("A FIRST"));
        addAccount(2, QStringLiteral("M"), QStringLiteral("C2"), QStringLiteral("HE"), 30, kNone, 31, QStringLiteral("B SECOND"));
        practice(QStringLiteral("MWCAS"), {{QStringLiteral("Chart Number"), QStringLiteral("C1")},
                                          {QStringLiteral("Billing Code"), QStringLiteral("E1")}, {QStringLiteral("Case Closed"), false}});
        Db::Connection& p = *data().connMedisoft;
        if (fault == QLatin1String("price"))
            box("edtAnnERAChg")->setText(QStringLiteral("29,9x"));
        if (fault == QLatin1String("default"))
            addDefault(QStringLiteral("MWCAS"), QStringLiteral("No Such Column"), QStringLiteral("X"));
        if (fault == QLatin1String("post")) {
            // The second ERA charge breaks a rule of the practice database.
            p.exec(QStringLiteral("CREATE UNIQUE INDEX refuse_era ON %1 (%2)").arg(p.quoteName(QStringLiteral("MWTRN")), p.quoteName(QStringLiteral("Procedure Code"))));
        }
        if (fault == QLatin1String("column"))
            p.exec(QStringLiteral("ALTER TABLE %1 DROP COLUMN %2").arg(p.quoteName(QStringLiteral("MWTRN")), p.quoteName(QStringLiteral("Quantity"))));
        click(&TBillingTab::btnPreviewMClick);
        QCOMPARE(platform->errors.size(), fault == QLatin1String("post") ? 0 : 1);
        if (!message.isEmpty())
            QCOMPARE(platform->errors.first(), message);
        platform->errors.clear();
        feedback->shown = 0;

        const bool nothingPosted = fault == QLatin1String("price") || fault == QLatin1String("column");
        click(&TBillingTab::Button11Click);
        QCOMPARE(platform->errors.size(), 1);
        const QString sentence = posted < 0 ? QString() : QStringLiteral("\n%1 of 2 accounts were posted before the error; run again to post the rest.").arg(posted);
        QVERIFY2(platform->errors.first().endsWith(message + sentence), qPrintable(platform->errors.first()));
        QCOMPARE(feedback->shown, 0);
        QVERIFY(data().tblMWPAT->isOpen());
        QVERIFY(tab->findChild<QPushButton*>(QStringLiteral("Button11"))->isEnabled());
        // The first account is posted (unless its own price or the table failed), nothing of the second.
        QCOMPARE(charges(), nothingPosted ? QStringList{} : QStringList({"C1|EDIAPROF|599.00", "C1|EDIAERA|299.00"}));
        QCOMPARE(rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}), QStringList{"C1"});
        QVERIFY(!log().contains(QLatin1String("C2")));
        // The preview is not recorded; the failed run is, with what it
        // posted, unless it failed before it went through any account.
        const QList<Db::Change> runs = Db::billingRuns(*data().connTrellaneEMC);
        QCOMPARE(runs.size(), fault == QLatin1String("column") ? 0 : 1);
        QVERIFY2(runs.isEmpty() || runs[0].newValue.startsWith(nothingPosted ? QStringLiteral("0 accounts, 0 cases, 0 charges, total 0.00; ended by an error")
                                                           : QStringLiteral("1 accounts, 0 cases, 2 charges, total 898.00; ended by an error")),
                 qPrintable(runs.value(0).newValue));

        // Mended, the same run posts what is missing and nothing twice.
        platform->errors.clear();
        box("edtAnnERAChg")->setText(QStringLiteral("299.00"));
        p.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = 'No Such Column'").arg(p.quoteName(QStringLiteral("MWDEF")), p.quoteName(QStringLiteral("Field"))));
        if (fault == QLatin1String("post"))
            p.exec(QStringLiteral("DROP INDEX refuse_era"));
        if (fault == QLatin1String("column"))
            p.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 INTEGER").arg(p.quoteName(QStringLiteral("MWTRN")), p.quoteName(QStringLiteral("Quantity"))));
        click(&TBillingTab::Button11Click);
        QVERIFY(platform->errors.isEmpty());
        QCOMPARE(charges(), QStringList({"C1|EDIAPROF|599.00", "C1|EDIAERA|299.00", "C2|EDIAPROF|599.00", "C2|EDIAERA|299.00"}));
    }

    // Accounts are read and written in blocks. An account refused in the
    // middle of a block leaves the ones before it posted, itself and the rest
    // not; a second run completes them. Accounts of one chart share the case
    // the first of them adds, in the same block and in a later one.
    void blocksFailAccountByAccount()
    {
        auto chart = [](int i) { return QStringLiteral("C%1").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 1; i <= 249; ++i)
            addAccount(i, QStringLiteral("M"), i == 5 ? chart(4) : chart(i), i == 5 ? QStringLiteral("U") : QStringLiteral("HE"),
                       i == 5 ? kNone : 30, i == 5 ? 31 : kNone, i == 5 ? kNone : 31);
        addAccount(250, QStringLiteral("M"), chart(1), QStringLiteral("U"), kNone, 31);
        // Chart C150 takes one charge: its account's second one is refused.
        Db::Connection& p = *data().connMedisoft;
        const QString chartColumn = p.quoteName(QStringLiteral("Chart Number"));
        p.exec(QStringLiteral("CREATE UNIQUE INDEX refuse_c150 ON %1 (%2) WHERE %2 = 'C150'").arg(p.quoteName(QStringLiteral("MWTRN")), chartColumn));
        auto chargedCharts = [&] {
            QSet<QString> out;
            for (const QString& c : charges())
                out.insert(c.section(QLatin1Char('|'), 0, 0));
            return out;
        };
        auto casesByChart = [&] {
            QMap<QString, int> out;
            for (const QString& c : rows(QStringLiteral("MWCAS"), {QStringLiteral("Chart Number")}))
                ++out[c];
            return out;
        };
        click(&TBillingTab::Button11Click);
        QCOMPARE(platform->errors.size(), 1);
        QVERIFY2(platform->errors.first().endsWith(QStringLiteral("\n149 of 250 accounts were posted before the error; run again to post the rest.")),
                 qPrintable(platform->errors.first()));
        QSet<QString> expected;
        for (int i = 1; i <= 149; ++i)
            expected.insert(chart(i == 5 ? 4 : i));
        QCOMPARE(chargedCharts(), expected);
        QCOMPARE(casesByChart().size(), expected.size());
        QCOMPARE(charges().size(), 2 * 148 + 1);

        platform->errors.clear();
        p.exec(QStringLiteral("DROP INDEX refuse_c150"));
        click(&TBillingTab::Button11Click);
        QVERIFY(platform->errors.isEmpty());
        QCOMPARE(charges().size(), 2 * 248 + 2);
        const QMap<QString, int> cases = casesByChart();
        QCOMPARE(cases.size(), 248);
        QCOMPARE(cases.value(chart(1)), 1);
        QCOMPARE(cases.value(chart(4)), 1);
        // The charges of a shared chart are on its one case.
        for (const QString& shared : {chart(1), chart(4)}) {
            QStringList codes;
            QSet<QString> caseNumbers;
            for (const QString& r : rows(QStringLiteral("MWTRN"), {QStringLiteral("Chart Number"), QStringLiteral("Case Number"),
                                                                  QStringLiteral("Procedure Code")})) {
                if (r.section(QLatin1Char('|'), 0, 0) != shared)
                    continue;
                caseNumbers.insert(r.section(QLatin1Char('|'), 1, 1));
                codes << r.section(QLatin1Char('|'), 2);
            }
            QCOMPARE(codes, QStringList({"EDIAPROF", "EDIAERA", "EDIAINST"}));
            QCOMPARE(caseNumbers.size(), 1);
        }
    }

    // No reseller shown: the dealer run selects nothing and shows an empty log.
    void emptyRun()
    {
        addAccount(1, QStringLiteral("ACME"), QStringLiteral("C1"), QStringLiteral("H"), 30);
        console->frmOutput()->appendLine(QStringLiteral("old text"));
        click(&TBillingTab::Button12Click);
        QCOMPARE(feedback->shown, 1);
        QCOMPARE(feedback->total, 0);
        QCOMPARE(feedback->shownText, QString());
        QVERIFY(charges().isEmpty());
    }

    void cancel()
    {
        for (int i = 1; i <= 3; ++i)
            addAccount(i, QStringLiteral("M"), QStringLiteral("C%1").arg(i), QStringLiteral("H"), 30);
        feedback->stopAfter = 1;
        click(&TBillingTab::Button11Click);
        QCOMPARE(feedback->shown, 1);
        QCOMPARE(feedback->shownText, QStringLiteral("Added Case for Chart: C1\nAdded Renewal EDIAPROF %1 for Chart: C1\n"
                                                     "The run was cancelled after 1 of 3 accounts.").arg(slash(today.addDays(30))));
        QCOMPARE(charges(), QStringList{"C1|EDIAPROF|599.00"});
        QCOMPARE(Db::billingRuns(*data().connTrellaneEMC).value(0).newValue,
                 QStringLiteral("1 accounts, 1 cases, 1 charges, total 599.00; cancelled after 1 of 3 accounts"));
    }

    // Prices in the workstation's number format, in exact cents.
    void amounts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("cents");  // -1: refused
        QTest::newRow("599.00") << "en_US" << "599.00" << qint64(59900);
        QTest::newRow("19.99") << "en_US" << "19.99" << qint64(1999);
        QTest::newRow("blanks around") << "en_US" << " 65 " << qint64(6500);
        QTest::newRow("group separator") << "en_US" << "1,000.00" << qint64(-1);
        QTest::newRow("empty") << "en_US" << "" << qint64(-1);
        QTest::newRow("German comma") << "de_DE" << "599,00" << qint64(59900);
        QTest::newRow("German point") << "de_DE" << "599.00" << qint64(-1);
    }
    void amounts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(qint64, cents);
        try {
            QCOMPARE(Billing::parseAmount(text, QLocale(locale)), cents);
        } catch (const Db::EngineError& e) {
            QCOMPARE(cents, qint64(-1));
            QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid floating point value").arg(text));
        }
    }

    void exportFile()
    {
        auto add = [&](int serial, const QString& dealer, const QString& name, const QString& other, int prof, int inst, int era) {
            auto date = [&](int d) { return d == kNone ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(d)); };
            TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Registration"),
                              {{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("DealerCode"), dealer},
                               {QStringLiteral("ChartNumber"), QStringLiteral("CH%1").arg(serial)},
                               {QStringLiteral("RegisterName"), name}, {QStringLiteral("OtherName"), other},
                               {QStringLiteral("ExpiresProf"), date(prof)}, {QStringLiteral("ExpiresInst"), date(inst)},
                               {QStringLiteral("ExpiresERA"), date(era)}});
        };
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("renewals.csv"));
        platform->saveFileAnswers << file;
        click(&TBillingTab::Button7Click);
        QCOMPARE(platform->proposedSaveNames, QStringList{"2026-12-09.csv"});
        auto read = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("(missing)");
        };
        const QString header = Billing::exportHeader() + QStringLiteral("\r\n");
        QCOMPARE(read(), header);

        TestDb::insertRow(data().connTrellaneEMC, QStringLiteral("Dealers"),
                          {{QStringLiteral("DealerCode"), QStringLiteral("ACME")}, {QStringLiteral("Name"), QStringLiteral("ACME, \"THE\" CO")}});
        add(1, QStringLiteral("ACME"), QStringLiteral("O'Brien, Smith & Co."), QStringLiteral("Café-Nord_2"), 10, 400, kNone);
        add(2, QString(), QStringLiteral("NO DEALER"), QString(), kNone, kNone, 60);
        add(3, QStringLiteral("M"), QStringLiteral("DIRECT"), QString(), 10, kNone, kNone);
        add(4, QStringLiteral("ACME"), QStringLiteral("ABLE"), QString(), 1, kNone, 61);
        add(5, QStringLiteral("ZED"), QStringLiteral("ONLY ERA"), QString(), kNone, kNone, 2);
        platform->saveFileAnswers << file;
        click(&TBillingTab::Button7Click);
        auto d = [&](int days) { return slash(today.addDays(days)); };
        const QString expected = header + QStringLiteral(",,2,CH2,NO DEALER,,,,%1\r\n").arg(d(60))
            + QStringLiteral("ACME,\"ACME, \"\"THE\"\" CO\",1,CH1,OBrien Smith  Co,Caf-Nord_2,%1,%2,\r\n").arg(d(10), d(400))
            + QStringLiteral("ZED,,5,CH5,ONLY ERA,,,,%1\r\n").arg(d(2));
        QCOMPARE(read(), expected);
        QCOMPARE(console->Memo2()->toPlainText() + QLatin1Char('\n'), QString(expected).remove(QLatin1Char('\r')));
        QVERIFY(platform->messages.isEmpty() && platform->errors.isEmpty());
        QVERIFY(!data().qryFutureRegs->isOpen());

        // Cancelling the dialog changes nothing.
        console->Memo2()->setPlainText(QStringLiteral("kept"));
        click(&TBillingTab::Button7Click);
        QCOMPARE(console->Memo2()->toPlainText(), QStringLiteral("kept"));

        // A file that cannot be written: the message, the text in Memo2, the
        // older file as it was.
        platform->saveFileAnswers << dir.filePath(QStringLiteral("missing/renewals.csv"));
        click(&TBillingTab::Button7Click);
        QCOMPARE(platform->errors.size(), 1);
        QVERIFY(platform->errors.first().startsWith(QStringLiteral("Cannot create file \"%1\".").arg(dir.filePath(QStringLiteral("missing/renewals.csv")))));
        QVERIFY(console->Memo2()->toPlainText().startsWith(Billing::exportHeader()));
        // As root only an immutable folder refuses the new file.
        bool locked = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir.path()}) == 0;
        if (!locked) {
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            QFile probe(dir.filePath(QStringLiteral("probe")));
            locked = !probe.open(QIODevice::WriteOnly);
        }
        if (locked) {
            platform->saveFileAnswers << file;
            click(&TBillingTab::Button7Click);
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dir.path()});
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QCOMPARE(platform->errors.size(), 2);
            QCOMPARE(read(), expected);
        }
    }

private:
    static QString slash(const QDate& d) { return d.toString(QStringLiteral("MM/dd/yyyy")); }
};

QTEST_MAIN(TestBilling)
#include "test_billing.moc"
