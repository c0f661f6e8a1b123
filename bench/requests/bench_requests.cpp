// The Requests tab on a large request table, and the request report.
//
// Builds the real Requests tab offscreen (window 762 x 677 as the console's)
// on two request tables it fills itself when they do not hold the wanted
// number of rows: a large one for the search box and the grid, and one of
// 1,000 requests for the report.
//
// Environment:
//   TRELLANE_BENCH_BACKEND         sqlite (default) or postgres
//   TRELLANE_BENCH_REQUESTS_DIR    SQLite: folder of the two database files
//                                  (default: a scratch folder)
//   TRELLANE_BENCH_REQUESTS_PGDB   PostgreSQL: database of the large table
//   TRELLANE_BENCH_REPORT_PGDB     PostgreSQL: database of the report table
//   TRELLANE_BENCH_REQUESTS        rows of the large table (default 100000)
//   TRELLANE_BENCH_KEYSTROKES      keystrokes typed (default 2000)
//   TRELLANE_BENCH_CUSTOMER_DB     SQLite, optional: a generated customer
//                                  database whose accounts grid is compared
//   PGDATABASE                     PostgreSQL, optional: the same
//
// Output, one line per figure (name value unit backend):
//   request_keystroke_p50_us, request_keystroke_p99_us   a key typed into the
//       search box (whole register names, one key at a time) until the grid
//       shows the found request and the window has repainted
//   request_grid_step_p50_us, request_grid_step_p99_us   Page Down / Page Up
//       and Ctrl+End / Ctrl+Home on the grid until the window has repainted
//   accounts_grid_step_p50_us, accounts_grid_step_p99_us   the same steps on
//       the accounts grid (register-name order) of the customer database
//       TRELLANE_BENCH_CUSTOMER_DB / PGDATABASE, when one is given
//   request_report_preview_1000_ms   "Print Report" until the preview has
//       built and shown all 1,000 pages
//   request_report_rss_growth_mb     resident memory when the preview is
//       shown, less memory before "Print Report"
//   request_report_pages_per_s       the report of 1,000 requests into a PDF
// Through the latency proxy (TRELLANE_BENCH_ROUNDTRIP_FILE, see
// BenchSupport.h) also the round trips to the server per keystroke and per
// grid step, on average and at most (..._statements_mean, ..._statements_max).
#include "bench/BenchSupport.h"
#include "customerdb/DBGrid.h"
#include "customerdb/DataModule.h"
#include "helpers/Console.h"
#include "helpers/ConsoleStyle.h"
#include "requests/ReqRptFrm.h"
#include "requests/RequestsTab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString backendName;

class BenchConsole : public Console {
public:
    BenchConsole(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice)
        : m_data(customer, practice)
    {
        m_host.setObjectName(QStringLiteral("frmMain"));
    }
    TDataModule& data() override { return m_data; }
    void DisableButtons(bool enabled) override
    {
        for (QPushButton* b : m_host.findChildren<QPushButton*>())
            b->setEnabled(enabled);
    }
    QTextEdit* RichEdit1() override { return nullptr; }
    QPlainTextEdit* Memo2() override { return nullptr; }
    OutputLog* frmOutput() override { return nullptr; }
    QWidget* window() override { return &m_host; }
    QWidget* host() { return &m_host; }

private:
    QWidget m_host;
    TDataModule m_data;
};

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.1f %s %s\n", name, value, unit, qPrintable(backendName));
    std::fflush(stdout);
}

double percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0;
}

QString registerName(qint64 i)
{
    return QStringLiteral("PRACTICE %1").arg(i);
}

// Fills the Requests table with n generated requests unless it holds n.
void fill(Db::Connection& conn, qint64 n)
{
    conn.connect();
    conn.createSchema();
    const QString t = conn.quoteName(QStringLiteral("Requests"));
    if (conn.scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t)).toLongLong() == n)
        return;
    auto q = [&conn](const char* name) { return conn.quoteName(QLatin1String(name)); };
    const bool pg = conn.backend() == Db::Backend::PostgreSQL;
    const QString rows = pg ? QStringLiteral("generate_series(1, CAST(? AS integer)) AS g(i)") : QStringLiteral("g");
    const QString with = pg ? QString()
                            : QStringLiteral("WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g WHERE i < ?) ");
    conn.beginTransaction();
    try {
        conn.exec(QStringLiteral("DELETE FROM %1").arg(t));
        conn.exec(with
                      + QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9, %10, %11, %12, %13, %14, %15) "
                                       "SELECT i, 'REGISTRATION', 'PRACTICE ' || i, 'CONTACT ' || i, i || ' OAK AVE', "
                                       "'SPRINGFIELD', 'IL', '62701', '5551234567', 'office' || i || '@practice.example', "
                                       "'MEDISOFT', i % 2 = 0, i % 3 = 0, 'FAMILY PRACTICE' FROM ")
                            .arg(t, q("SerialNumber"), q("RequestType"), q("RegisterName"), q("ContactName"),
                                 q("Street1"), q("City"), q("State"), q("ZipCode"), q("Phone"))
                            .arg(q("Email"), q("CoreProduct"), q("HCFA"), q("ERA"), q("Specialty"))
                      + rows,
                  {n});
        conn.commit();
    } catch (...) {
        conn.rollback();
        throw;
    }
}

Db::ConnectionSettings settingsFor(bool pg, const QString& dir, const char* file, const char* pgEnv)
{
    Db::ConnectionSettings s;
    if (pg) {
        s.backend = Db::Backend::PostgreSQL;
        s.pgDatabase = qEnvironmentVariable(pgEnv);
    } else {
        s.sqliteFile = dir + QLatin1Char('/') + QLatin1String(file);
        s.createIfMissing = true;  // the benchmark's own scratch databases
    }
    return s;
}

// Round trips of a series of actions, on average and at most.
struct Statements {
    qint64 total = 0, most = 0, actions = 0;
    void add(qint64 n)
    {
        total += n;
        most = std::max(most, n);
        ++actions;
    }
    void print(const char* name) const
    {
        if (roundTrips() < 0 || actions == 0)
            return;
        std::printf("%s_statements_mean %.2f statements %s\n", name, double(total) / double(actions), qPrintable(backendName));
        std::printf("%s_statements_max %lld statements %s\n", name, static_cast<long long>(most), qPrintable(backendName));
        std::fflush(stdout);
    }
};

// Page Down, Page Up, Down, Ctrl+End and Ctrl+Home on a grid, each until
// the window has repainted: the time of every step.
std::vector<qint64> gridSteps(QApplication& app, TDBGrid* grid, int count, Statements& statements)
{
    grid->setFocus();
    std::vector<qint64> steps;
    const std::pair<int, Qt::KeyboardModifiers> moves[] = {
        {Qt::Key_PageDown, Qt::NoModifier}, {Qt::Key_PageDown, Qt::NoModifier}, {Qt::Key_PageUp, Qt::NoModifier},
        {Qt::Key_Down, Qt::NoModifier},     {Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Home, Qt::ControlModifier},
    };
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        const auto& [key, mods] = moves[i % std::size(moves)];
        const qint64 sent = roundTrips();
        t.start();
        QTest::keyClick(grid, Qt::Key(key), mods);
        app.processEvents();
        steps.push_back(t.nsecsElapsed());
        statements.add(roundTrips() - sent);
    }
    return steps;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Trellane::useConsoleStyle();

    const bool pg = qEnvironmentVariable("TRELLANE_BENCH_BACKEND").compare(QLatin1String("postgres"), Qt::CaseInsensitive) == 0;
    backendName = pg ? QStringLiteral("postgres") : QStringLiteral("sqlite");
    if (pg && (qEnvironmentVariableIsEmpty("TRELLANE_BENCH_REQUESTS_PGDB") || qEnvironmentVariableIsEmpty("TRELLANE_BENCH_REPORT_PGDB"))) {
        std::fprintf(stderr, "TRELLANE_BENCH_REQUESTS_PGDB and TRELLANE_BENCH_REPORT_PGDB must name two databases\n");
        return 2;
    }
    QTemporaryDir scratch;
    const QString dir = qEnvironmentVariableIsEmpty("TRELLANE_BENCH_REQUESTS_DIR") ? scratch.path()
                                                                                   : qEnvironmentVariable("TRELLANE_BENCH_REQUESTS_DIR");
    const qint64 rows = qEnvironmentVariableIntValue("TRELLANE_BENCH_REQUESTS") > 0
        ? qEnvironmentVariableIntValue("TRELLANE_BENCH_REQUESTS")
        : 100000;
    const int keystrokes = qMax(1, qEnvironmentVariableIntValue("TRELLANE_BENCH_KEYSTROKES") ?: 2000);
    Db::ConnectionSettings practice;
    practice.sqliteFile = scratch.filePath(QStringLiteral("practice.sqlite"));
    QRandomGenerator rng(1);

    try {
        // ---- Search and grid on the large table ---------------------------
        {
            BenchConsole console(settingsFor(pg, dir, "requests-large.sqlite", "TRELLANE_BENCH_REQUESTS_PGDB"), practice);
            fill(*console.data().connTrellaneEMC, rows);
            console.data().tblRequests->open();
            auto* tab = new TRequestsTab(console, console.host());
            console.host()->resize(762, 677);
            tab->resize(754, 646);
            console.host()->show();
            QApplication::setActiveWindow(console.host());
            app.processEvents();

            QLineEdit* box = tab->edtReqRegisterName();
            std::vector<qint64> keys;
            Statements keyStatements;
            QElapsedTimer t;
            while (int(keys.size()) < keystrokes) {
                box->clear();
                app.processEvents();
                const QString name = registerName(1 + qint64(rng.bounded(quint32(rows))));
                for (const QChar c : name) {
                    const qint64 sent = roundTrips();
                    t.start();
                    QTest::keyClick(box, c.toLatin1());
                    app.processEvents();
                    keys.push_back(t.nsecsElapsed());
                    keyStatements.add(roundTrips() - sent);
                }
                if (console.data().tblRequests->fieldByName(QStringLiteral("RegisterName")).asString() != name) {
                    std::fprintf(stderr, "search did not find %s\n", qPrintable(name));
                    return 1;
                }
            }
            print("request_keystroke_p50_us", percentile(keys, 0.50), "us");
            print("request_keystroke_p99_us", percentile(keys, 0.99), "us");
            keyStatements.print("request_keystroke");

            Statements stepStatements;
            const std::vector<qint64> steps = gridSteps(app, tab->DBGrid1(), keystrokes, stepStatements);
            print("request_grid_step_p50_us", percentile(steps, 0.50), "us");
            print("request_grid_step_p99_us", percentile(steps, 0.99), "us");
            stepStatements.print("request_grid_step");
        }

        // ---- The same steps on the accounts grid, for comparison -----------
        Db::ConnectionSettings accounts;
        if (pg) {
            accounts.backend = Db::Backend::PostgreSQL;
            accounts.pgDatabase = qEnvironmentVariable("PGDATABASE");
        } else {
            accounts.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_CUSTOMER_DB");
        }
        if (!accounts.pgDatabase.isEmpty() || (!accounts.sqliteFile.isEmpty() && QFile::exists(accounts.sqliteFile))) {
            BenchConsole console(accounts, practice);
            Db::Table* reg = console.data().tblRegistration;
            reg->open();
            reg->setIndexFieldNames(QStringLiteral("RegisterName"));
            auto* grid = new TDBGrid(console.host());
            grid->setReadOnlyGrid(true);
            grid->setDataSet(reg);
            grid->setGeometry(0, 0, 754, 174);
            console.host()->resize(762, 677);
            console.host()->show();
            QApplication::setActiveWindow(console.host());
            app.processEvents();
            Statements stepStatements;
            const std::vector<qint64> steps = gridSteps(app, grid, keystrokes, stepStatements);
            print("accounts_grid_step_p50_us", percentile(steps, 0.50), "us");
            print("accounts_grid_step_p99_us", percentile(steps, 0.99), "us");
            stepStatements.print("accounts_grid_step");
        }

        // ---- The report of 1,000 requests ----------------------------------
        {
            BenchConsole console(settingsFor(pg, dir, "requests-report.sqlite", "TRELLANE_BENCH_REPORT_PGDB"), practice);
            fill(*console.data().connTrellaneEMC, 1000);
            console.data().tblRequests->open();
            auto* tab = new TRequestsTab(console, console.host());
            console.host()->resize(762, 677);
            console.host()->show();
            app.processEvents();

            // Warm the fonts and the statements with one run into a PDF.
            const QString pdf = scratch.filePath(QStringLiteral("report.pdf"));
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            tab->frmReqReport()->Print(printer);

            QElapsedTimer t;
            const double before = rssMb();
            double shownMs = 0;
            double shownRss = 0;
            TfrmReqReport::setPreviewRunner([&](QPrintPreviewDialog& dialog) {
                dialog.show();
                app.processEvents();
                shownMs = double(t.nsecsElapsed()) / 1e6;
                shownRss = rssMb();
                const auto* widget = dialog.findChild<QPrintPreviewWidget*>();
                if (!widget || widget->pageCount() != 1000)
                    std::fprintf(stderr, "the preview shows %d pages\n", widget ? widget->pageCount() : -1);
                dialog.close();
            });
            t.start();
            tab->Button4Click();
            TfrmReqReport::setPreviewRunner(nullptr);
            print("request_report_preview_1000_ms", shownMs, "ms");
            print("request_report_rss_growth_mb", shownRss - before, "MB");

            QPrinter again(QPrinter::HighResolution);
            again.setOutputFormat(QPrinter::PdfFormat);
            again.setOutputFileName(pdf);
            t.start();
            const int pages = tab->frmReqReport()->Print(again);
            const double s = double(t.nsecsElapsed()) / 1e9;
            print("request_report_pages_per_s", pages / s, "pages/s");
        }
    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
