// Billing run and renewals file speed, and memory.
//
//   bench_billing
//
// Environment: TRELLANE_BENCH_BACKEND (sqlite, the default, or postgres).
// SQLite: TRELLANE_BENCH_CUSTOMER_DB (a customer database filled with
// `trellane-admin generate N`, for the renewals file) and TRELLANE_BENCH_DIR
// (a folder for the billing run's own two databases). PostgreSQL: the libpq
// environment, PGDATABASE naming the generated customer database, and
// TRELLANE_BENCH_BILLING_DBS the billing run's customer and practice
// databases (two empty databases, space-separated).
// TRELLANE_BENCH_ACCOUNTS: due accounts of the billing run (default 10000).
// TRELLANE_BENCH_BILLING_RUN_ONLY=1: the run, its re-run and preview only.
// Through the latency proxy (TRELLANE_BENCH_ROUNDTRIP_FILE, see
// BenchSupport.h) the round trips per account of each are printed too.
// TRELLANE_BENCH_CHARGES: charges of the practice database the
// reconciliation reads beside the generated accounts (default 1000000).
// SQLite makes that practice database in TRELLANE_BENCH_DIR; PostgreSQL puts
// its tables into the generated customer database, so that they are filled
// from the accounts by statements the server runs.
//
// Prints one line per figure: name value unit backend.
#include "bench/BenchSupport.h"
#include "billing/BillingTab.h"
#include "billing/ForecastWindow.h"
#include "billing/ReconcileWindow.h"
#include "billing/RenewalsExport.h"
#include "customerdb/DataModule.h"
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "helpers/Console.h"
#include "helpers/QtPlatform.h"
#include "shell/Outputfrm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdio>
#include <ctime>

namespace {

QString backendName;

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.1f %s %s\n", name, value, unit, qPrintable(backendName));
    std::fflush(stdout);
}

class BenchConsole : public Console {
public:
    BenchConsole(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice)
        : m_data(customer, practice)
    {
        m_memo2 = new QPlainTextEdit(&m_host);
        m_memo2->resize(360, 160);
        m_richEdit1 = new QTextEdit(&m_host);
        m_richEdit1->hide();
        m_host.resize(400, 200);
    }
    ~BenchConsole() override { delete m_output; }
    TDataModule& data() override { return m_data; }
    void DisableButtons(bool) override {}
    QTextEdit* RichEdit1() override { return m_richEdit1; }
    QPlainTextEdit* Memo2() override { return m_memo2; }
    TfrmOutput* frmOutput() override
    {
        if (!m_output)
            m_output = new TfrmOutput();
        return m_output;
    }
    QWidget* window() override { return &m_host; }
    QWidget& host() { return m_host; }

private:
    QWidget m_host;
    TDataModule m_data;
    QPlainTextEdit* m_memo2;
    QTextEdit* m_richEdit1;
    TfrmOutput* m_output = nullptr;
};

// No dialogs: the run's progress is not shown and the output window stays
// closed.
class SilentFeedback : public Billing::RunFeedback {
public:
    void started(qint64) override {}
    bool advanced(qint64, qint64) override { return true; }
    void finished() override {}
    void showOutput() override {}
};

class BenchPlatform : public Trellane::QtPlatform {
public:
    QString saveAs;
    QString getSaveFileName(const QString&) override { return saveAs; }
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void showError(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
};

void exec(Db::Connection& c, const QString& sql, const QVariantList& values = {}) { c.exec(sql, values); }

// n due accounts of the direct reseller, all three modules annual and due
// within the window; every tenth already has an open case. Each table is
// filled by one statement, so that filling costs little over a slow link.
void fillBillingData(Db::Connection& customer, Db::Connection& practice, int n, const QDate& today)
{
    const bool pg = customer.backend() == Db::Backend::PostgreSQL;
    for (Db::Connection* c : {&customer, &practice}) {
        c->connect();
        c->createSchema();
        for (const Db::TableDef& t : c->catalog().tables)
            exec(*c, QStringLiteral("DELETE FROM %1").arg(c->quoteName(t.name)));
    }
    auto q = [&](Db::Connection& c, const char* n) { return c.quoteName(QLatin1String(n)); };
    // The numbers 1 to n as rows of i, the chart of account i, and today
    // plus some days.
    const QString numbers = pg ? QStringLiteral("generate_series(1, CAST(? AS integer)) AS g(i)") : QStringLiteral("g");
    const QString with = pg ? QString()
                            : QStringLiteral("WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g WHERE i < ?) ");
    const QString chart = pg ? QStringLiteral("'B' || lpad(CAST(i AS text), 7, '0')") : QStringLiteral("'B' || printf('%07d', i)");
    const QString name = pg ? QStringLiteral("'PRACTICE ' || lpad(CAST((i * 7919) % ") + QString::number(n) + QStringLiteral(" AS text), 6, '0')")
                            : QStringLiteral("'PRACTICE ' || printf('%06d', (i * 7919) % ") + QString::number(n) + QLatin1Char(')');
    auto due = [&](int first) {
        return pg ? QStringLiteral("DATE '%1' + (%2 + i % 60)").arg(today.toString(Qt::ISODate)).arg(first)
                  : QStringLiteral("date('%1', '+' || (%2 + i % 60) || ' days')").arg(today.toString(Qt::ISODate)).arg(first);
    };
    const QString yes = pg ? QStringLiteral("true") : QStringLiteral("1");
    const QString no = pg ? QStringLiteral("false") : QStringLiteral("0");
    QStringList cols;
    for (const char* c : {"SerialNumber", "ChartNumber", "RegisterName", "DealerCode", "HasHCFA", "HasUB92", "HasERA",
                          "IsMonthly", "ExpiresProf", "ExpiresInst", "ExpiresERA"})
        cols << q(customer, c);
    // Joined rather than filled in with arg(): SQLite's printf formats hold
    // "%0..." that arg() would take for its own markers.
    exec(customer, with + QStringLiteral("INSERT INTO %1 (%2) SELECT i, ").arg(q(customer, "Registration"), cols.join(QStringLiteral(", ")))
                       + QStringList{chart, name, QStringLiteral("'M'"), yes, yes, yes, no, due(5), due(6), due(7)}.join(QStringLiteral(", "))
                       + QStringLiteral(" FROM ") + numbers,
         {n});
    exec(practice, with + QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) SELECT i, ")
                              .arg(q(practice, "MWCAS"), q(practice, "Case Number"), q(practice, "Chart Number"),
                                   q(practice, "Billing Code"), q(practice, "Case Closed"), q(practice, "Assigned Provider"))
                       + chart + QStringLiteral(", 'E1', ") + no + QStringLiteral(", '1' FROM ") + numbers
                       + QStringLiteral(" WHERE i % 10 = 0"),
         {n});
    const char* const defaults[][2] = {{"Case Number", "0"}, {"Chart Number", ""}, {"Guarantor", ""},
                                       {"Billing Code", "E1"}, {"Assigned Provider", "1"}, {"Facility", "MAIN"},
                                       {"Referring Provider", "RP1"}, {"Price Code", "A"}};
    QStringList rows;
    QVariantList values;
    for (const auto& d : defaults) {
        rows << QStringLiteral("('MWCAS', ?, ?)");
        values << QString::fromLatin1(d[0]) << QString::fromLatin1(d[1]);
    }
    exec(practice, QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES %5")
                       .arg(q(practice, "MWDEF"), q(practice, "Table"), q(practice, "Field"), q(practice, "Default"),
                            rows.join(QStringLiteral(", "))),
         values);
    if (pg) {
        exec(customer, QStringLiteral("ANALYZE"));
        exec(practice, QStringLiteral("ANALYZE"));
    }
}

// Round trips per account of a billing run or preview, as the latency proxy
// counted them (nothing without the proxy).
void printStatements(const char* name, qint64 sentBefore, int accounts)
{
    if (sentBefore < 0)
        return;
    std::printf("%s %.2f statements %s\n", name, double(roundTrips() - sentBefore) / double(accounts),
                qPrintable(backendName));
    std::fflush(stdout);
}

// The findings planted in the practice data of the reconciliation, one of
// each kind (the shared chart lists both of its accounts).
const int kPlanted[Billing::kFindingKinds] = {1, 2, 1, 1, 1};
const char kPlantedName[] = "PLANTED SHARED CHART";

// Fills the practice tables from the generated accounts with statements the
// database runs: a patient for every chart, a charge for every renewal
// expired in the last 60 days (each on its account's "E1" case, made by a
// run), earlier years' charges on the same cases up to `charges` in all,
// and one planted finding of each kind. The shared chart is an account
// added to the generated ones; removePlanted() takes it away again.
void fillReconcileData(Db::Connection& customer, Db::Connection& practice, const QString& customerFile, qint64 charges,
                       const QDate& today)
{
    const bool pg = customer.backend() == Db::Backend::PostgreSQL;
    auto c = [&](const char* n) { return customer.quoteName(QLatin1String(n)); };
    auto p = [&](const char* n) { return practice.quoteName(QLatin1String(n)); };
    auto date = [&](const QDate& d) { return pg ? QVariant(d) : QVariant(d.toString(Qt::ISODate)); };
    const QString created = (pg ? QStringLiteral("DATE '%1'") : QStringLiteral("'%1'")).arg(today.addDays(-60).toString(Qt::ISODate));
    auto minusDays = [&](const QString& expr, const QString& days) {
        return pg ? QStringLiteral("(%1 - %2)").arg(expr, days) : QStringLiteral("date(%1, '-' || (%2) || ' days')").arg(expr, days);
    };
    exec(customer, QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(c("Registration"), c("RegisterName")),
         {QString::fromLatin1(kPlantedName)});

    // Fresh tables, filled without their indexes, which are built afterwards.
    practice.connect();
    for (const Db::TableDef& t : practice.catalog().tables)
        exec(practice, QStringLiteral("DROP TABLE IF EXISTS %1").arg(practice.quoteName(t.name)));
    practice.createSchema();
    for (const Db::TableDef& t : practice.catalog().tables)
        for (const Db::IndexDef& ix : t.indexes)
            for (const char* kind : {"ix_", "uq_"})
                exec(practice, QStringLiteral("DROP INDEX IF EXISTS %1%2")
                                   .arg(QLatin1String(kind), Db::SqlDialect::objectName(t.name + QLatin1Char('_') + ix.name)));
    QString reg = c("Registration");
    if (!pg) {
        exec(practice, QStringLiteral("ATTACH DATABASE ? AS generated"), {customerFile});
        reg = QStringLiteral("generated.") + reg;
    }
    const QVariant from = date(today.addDays(-60)), to = date(today);
    auto scalar = [&](const QString& sql, const QVariantList& v = {}) { return practice.scalar(sql, v).toLongLong(); };
    // The first accounts of the generated set carry the planted findings:
    // 11 has no patient, 12 shares its chart, 13 has an empty case; the
    // unbilled renewal is the first Professional one past account 100.
    const qint64 unbilled = scalar(QStringLiteral("SELECT MIN(%1) FROM %2 WHERE %3 AND %4 >= ? AND %4 <= ? AND %1 > 100")
                                       .arg(c("SerialNumber"), reg, c("HasHCFA"), c("ExpiresProf")),
                                   {from, to});

    practice.beginTransaction();
    const QString trnColumns = QStringList{p("Chart Number"), p("Case Number"), p("Date From"), p("Date To"),
                                           p("Procedure Code"), p("Procedure Description"), p("Description"),
                                           p("Transaction Type"), p("Units")}
                                   .join(QStringLiteral(", "));
    QStringList renewals;
    QVariantList values;
    const struct {
        const char* flag;
        const char* expires;
        const char* code;
        const char* name;
    } modules[] = {{"HasHCFA", "ExpiresProf", "EDIAPROF", "Professional"},
                   {"HasUB92", "ExpiresInst", "EDIAINST", "Institutional"},
                   {"HasERA", "ExpiresERA", "EDIAERA", "ERA"}};
    for (const auto& m : modules) {
        renewals << QStringLiteral("SELECT %1, %2, %3, %3, '%4', 'Kestrelpoint %5 Annual', 'SN: ' || %2, 'A', 1 "
                                   "FROM %6 WHERE %7 AND %3 >= ? AND %3 <= ? AND %2 <> ?")
                        .arg(c("ChartNumber"), c("SerialNumber"), c(m.expires), QLatin1String(m.code),
                             QLatin1String(m.name), reg, c(m.flag));
        values << from << to << (&m == &modules[0] ? unbilled : -1);
    }
    exec(practice, QStringLiteral("INSERT INTO %1 (%2) %3").arg(p("MWTRN"), trnColumns, renewals.join(QStringLiteral(" UNION ALL "))),
         values);
    // Earlier years' charges of the same cases, up to the number asked for.
    const qint64 history = qMax<qint64>(0, charges - 1 - scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(p("MWTRN"))));
    exec(practice,
         QStringLiteral("INSERT INTO %1 (%2) SELECT %3, %4, %5, %5, %6, 'EMC renewal', %7, 'A', 1 FROM %8, "
                        "(SELECT 1 AS y UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5) years "
                        "LIMIT ?")
             .arg(p("MWTRN"), trnColumns, p("Chart Number"), p("Case Number"), minusDays(p("Date From"), QStringLiteral("365 * y")),
                  p("Procedure Code"), p("Description"), p("MWTRN")),
         {history});
    // Planted: a charge of no account.
    exec(practice, QStringLiteral("INSERT INTO %1 (%2) VALUES ('NOACCT01', 1, ?, ?, 'EDIAPROF', 'Kestrelpoint Professional Annual', "
                                  "'SN: 99999999', 'A', 1)")
                       .arg(p("MWTRN"), trnColumns),
         {date(today.addDays(-10)), date(today.addDays(-10))});
    // The cases the charges are on, as a run adds them; planted: an empty one.
    exec(practice, QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7) SELECT DISTINCT %2, %3, 'E1', false, 'Kestrelpoint', %8 "
                                  "FROM %9 WHERE %3 <> 'NOACCT01'")
                       .arg(p("MWCAS"), p("Case Number"), p("Chart Number"), p("Billing Code"), p("Case Closed"),
                            p("Description"), p("Date Created"), created, p("MWTRN")));
    exec(practice, QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7) SELECT MAX(%2) + 1, 'G0000013', 'E1', false, "
                                  "'Kestrelpoint', %8 FROM %1")
                       .arg(p("MWCAS"), p("Case Number"), p("Chart Number"), p("Billing Code"), p("Case Closed"),
                            p("Description"), p("Date Created"), created));
    // A patient for every chart; planted: none for account 11.
    exec(practice, QStringLiteral("INSERT INTO %1 (%2, %3) SELECT %4, substr(%5, 1, 20) FROM %6 WHERE %4 IS NOT NULL AND %7 <> 11")
                       .arg(p("MWPAT"), p("Chart Number"), p("Last Name"), c("ChartNumber"), c("RegisterName"), reg,
                            c("SerialNumber")));
    practice.commit();
    if (!pg)
        exec(practice, QStringLiteral("DETACH DATABASE generated"));
    practice.createSchema();
    exec(customer, QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) SELECT MAX(%2) + 1, 'G0000012', ?, 'D1' FROM %1")
                       .arg(c("Registration"), c("SerialNumber"), c("ChartNumber"), c("RegisterName"), c("DealerCode")),
         {QString::fromLatin1(kPlantedName)});
    if (pg)
        exec(practice, QStringLiteral("ANALYZE"));
}

void removePlanted(Db::Connection& customer)
{
    exec(customer, QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                       .arg(customer.quoteName(QStringLiteral("Registration")), customer.quoteName(QStringLiteral("RegisterName"))),
         {QString::fromLatin1(kPlantedName)});
}

// Processor time of this process, in seconds: on a machine shared with
// other work it shows what the figure would be without the waiting.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

qint64 count(Db::Connection& c, const char* table)
{
    return c.scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(c.quoteName(QLatin1String(table)))).toLongLong();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    BenchPlatform platform;
    Trellane::setPlatform(&platform);

    const bool pg = qEnvironmentVariable("TRELLANE_BENCH_BACKEND") == QLatin1String("postgres");
    backendName = pg ? QStringLiteral("postgres") : QStringLiteral("sqlite");
    const int accounts = qEnvironmentVariableIntValue("TRELLANE_BENCH_ACCOUNTS") > 0
        ? qEnvironmentVariableIntValue("TRELLANE_BENCH_ACCOUNTS")
        : 10000;
    Db::ConnectionSettings generated, billingCustomer, billingPractice;
    if (pg) {
        const QStringList dbs = qEnvironmentVariable("TRELLANE_BENCH_BILLING_DBS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (dbs.size() != 2) {
            std::fprintf(stderr, "TRELLANE_BENCH_BILLING_DBS must name two databases\n");
            return 2;
        }
        generated = {Db::Backend::PostgreSQL, {}, {}, qEnvironmentVariable("PGDATABASE")};
        billingCustomer = {Db::Backend::PostgreSQL, {}, {}, dbs[0]};
        billingPractice = {Db::Backend::PostgreSQL, {}, {}, dbs[1]};
    } else {
        const QDir dir(qEnvironmentVariable("TRELLANE_BENCH_DIR", QDir::tempPath()));
        generated.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_CUSTOMER_DB");
        billingCustomer.sqliteFile = dir.filePath(QStringLiteral("billing-customer.sqlite"));
        billingPractice.sqliteFile = dir.filePath(QStringLiteral("billing-practice.sqlite"));
        // The run's own scratch databases are made here.
        billingCustomer.createIfMissing = billingPractice.createIfMissing = true;
    }

    try {
        // ---- The direct run over due accounts, then the same run again ----
        {
            BenchConsole console(billingCustomer, billingPractice);
            TDataModule& data = console.data();
            fillBillingData(*data.connTrellaneEMC, *data.connMedisoft, accounts, platform.today());
            auto* tab = new TBillingTab(console, &console.host());
            tab->setRunFeedback(std::make_unique<SilentFeedback>());
            data.tblMWPAT->open();

            // The preview first, on the same untouched data the run then posts.
            QElapsedTimer t;
            double cpu = cpuSeconds();
            qint64 sent = roundTrips();
            t.start();
            tab->btnPreviewMClick();
            const double preview = double(t.nsecsElapsed()) / 1e9;
            const double previewCpu = cpuSeconds() - cpu;
            if (count(*data.connMedisoft, "MWTRN") != 0)
                std::fprintf(stderr, "the preview posted charges\n");
            print("billing_preview_accounts_per_s", double(accounts) / preview, "accounts/s");
            printStatements("billing_preview_statements_per_account", sent, accounts);
            std::fprintf(stderr, "billing preview: %d accounts, %d charges in %.2f s (%.2f s processor)\n", accounts,
                         tab->lastPreview().chargesToPost(), preview, previewCpu);

            const double rss0 = rssMb();
            cpu = cpuSeconds();
            sent = roundTrips();
            t.start();
            tab->Button11Click();
            const double first = double(t.nsecsElapsed()) / 1e9;
            const double firstCpu = cpuSeconds() - cpu;
            const qint64 charges = count(*data.connMedisoft, "MWTRN");
            print("billing_run_charges_per_s", double(charges) / first, "charges/s");
            print("billing_run_accounts_per_s", double(accounts) / first, "accounts/s");
            printStatements("billing_run_statements_per_account", sent, accounts);
            print("billing_run_rss_growth_mb", rssMb() - rss0, "MB");

            cpu = cpuSeconds();
            sent = roundTrips();
            t.start();
            tab->Button11Click();
            const double second = double(t.nsecsElapsed()) / 1e9;
            const double secondCpu = cpuSeconds() - cpu;
            if (count(*data.connMedisoft, "MWTRN") != charges)
                std::fprintf(stderr, "the second run posted charges\n");
            print("billing_rerun_accounts_per_s", double(accounts) / second, "accounts/s");
            printStatements("billing_rerun_statements_per_account", sent, accounts);
            std::fprintf(stderr, "billing run: %lld charges in %.2f s (%.2f s processor, %.0f accounts/s), rerun %.2f s (%.2f s processor)\n",
                         static_cast<long long>(charges), first, firstCpu, double(accounts) / first, second, secondCpu);
        }

        // Over a slow link the run alone is measured.
        const bool runOnly = qEnvironmentVariableIntValue("TRELLANE_BENCH_BILLING_RUN_ONLY") != 0;

        // ---- The renewals forecast over the generated accounts -------------
        if (!runOnly && (pg || QFile::exists(generated.sqliteFile))) {
            BenchConsole console(generated, billingPractice);
            console.host().show();
            app.processEvents();
            auto* tab = new TBillingTab(console, &console.host());
            console.data().connTrellaneEMC->connect();
            QElapsedTimer t;
            double cpu = cpuSeconds();
            t.start();
            tab->btnForecastClick();
            TForecastWindow* window = tab->forecastWindow();
            app.processEvents();
            window->repaint();
            print("forecast_open_ms", double(t.nsecsElapsed()) / 1e6, "ms");
            std::fprintf(stderr, "forecast (M): %d renewals, %.0f ms processor\n", window->forecast().totalRenewals(),
                         (cpuSeconds() - cpu) * 1000);
            auto* scope = window->findChild<QComboBox*>(QStringLiteral("cbScope"));
            scope->setCurrentIndex(1);
            cpu = cpuSeconds();
            t.start();
            window->refresh();
            app.processEvents();
            window->repaint();
            print("forecast_resellers_ms", double(t.nsecsElapsed()) / 1e6, "ms");
            std::fprintf(stderr, "forecast (all resellers): %d renewals, %.0f ms processor\n",
                         window->forecast().totalRenewals(), (cpuSeconds() - cpu) * 1000);
            delete window;
        }

        // ---- The renewals file over the generated accounts ----------------
        if (!runOnly && (pg || QFile::exists(generated.sqliteFile))) {
            QTemporaryDir out;
            platform.saveAs = out.filePath(QStringLiteral("renewals.csv"));
            BenchConsole console(generated, billingPractice);
            console.host().show();
            app.processEvents();
            auto* tab = new TBillingTab(console, &console.host());
            console.data().connTrellaneEMC->connect();
            const double rss0 = rssMb();
            QElapsedTimer t;
            const double cpu = cpuSeconds();
            t.start();
            tab->Button7Click();
            app.processEvents();
            const double secs = double(t.nsecsElapsed()) / 1e9;
            const double secsCpu = cpuSeconds() - cpu;
            const qint64 rows = console.Memo2()->document()->blockCount() - 1;
            print("export_rows_per_s", double(rows) / secs, "rows/s");
            print("export_rss_growth_mb", rssMb() - rss0, "MB");
            std::fprintf(stderr, "export: %lld rows in %.2f s (%.2f s processor), %lld bytes\n", static_cast<long long>(rows),
                         secs, secsCpu, static_cast<long long>(QFile(platform.saveAs).size()));
            // Where the time goes: the query and the lines, Memo2, the file.
            t.start();
            const QStringList lines = Billing::exportLines(*console.data().qryFutureRegs);
            const double query = double(t.nsecsElapsed()) / 1e9;
            t.start();
            console.Memo2()->setPlainText(lines.join(QLatin1Char('\n')));
            app.processEvents();
            const double memo = double(t.nsecsElapsed()) / 1e9;
            t.start();
            Billing::writeLines(platform.saveAs, lines);
            std::fprintf(stderr, "export: query and lines %.2f s, Memo2 %.2f s, file %.2f s\n", query, memo,
                         double(t.nsecsElapsed()) / 1e9);
        }
        // ---- The reconciliation over the generated accounts ---------------
        if (!runOnly && (pg || QFile::exists(generated.sqliteFile))) {
            const qint64 charges = qEnvironmentVariableIntValue("TRELLANE_BENCH_CHARGES") > 0
                ? qEnvironmentVariableIntValue("TRELLANE_BENCH_CHARGES")
                : 1000000;
            Db::ConnectionSettings practice = generated;
            if (!pg) {
                practice.sqliteFile = QDir(qEnvironmentVariable("TRELLANE_BENCH_DIR", QDir::tempPath()))
                                          .filePath(QStringLiteral("reconcile-practice.sqlite"));
                practice.createIfMissing = true;
            }
            BenchConsole console(generated, practice);
            TDataModule& data = console.data();
            data.connTrellaneEMC->connect();
            QElapsedTimer t;
            t.start();
            fillReconcileData(*data.connTrellaneEMC, *data.connMedisoft, generated.sqliteFile, charges, platform.today());
            std::fprintf(stderr, "reconcile: practice data filled in %.1f s (%lld charges)\n", double(t.elapsed()) / 1000.0,
                         static_cast<long long>(count(*data.connMedisoft, "MWTRN")));
            console.host().show();
            app.processEvents();
            auto* tab = new TBillingTab(console, &console.host());
            tab->setRunFeedback(std::make_unique<SilentFeedback>());
            const double rss0 = rssMb();
            const double cpu = cpuSeconds();
            t.start();
            tab->btnReconcileClick();
            TReconcileWindow* window = tab->reconcileWindow();
            app.processEvents();
            window->repaint();
            const double secs = double(t.nsecsElapsed()) / 1e9;
            print("reconcile_s", secs, "s");
            print("reconcile_rss_growth_mb", rssMb() - rss0, "MB");
            const Billing::Reconciliation& r = window->result();
            std::fprintf(stderr, "reconcile: %s %.2f s (%.2f s processor)\n", qPrintable(r.summary()), secs,
                         cpuSeconds() - cpu);
            for (int f = 0; f < Billing::kFindingKinds; ++f)
                if (r.count(Billing::Finding(f)) != kPlanted[f])
                    std::fprintf(stderr, "reconcile: %d found of \"%s\", %d planted\n", r.count(Billing::Finding(f)),
                                 qPrintable(Billing::Reconciliation::sectionTitle(Billing::Finding(f))), kPlanted[f]);
            delete window;
            removePlanted(*data.connTrellaneEMC);
        }
    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    Trellane::setPlatform(nullptr);
    return 0;
}
