// What the record of changes costs: the account Save round trip with and
// without the record, and opening History on an account with 1,000 changes
// in a record of 10,000,000 rows (before the Saves add to it).
//
// Builds the real Accounts tab offscreen on databases of its own: 10,000
// accounts, and a record of TRELLANE_BENCH_RECORD_ROWS rows (default
// 10,000,000) made by one INSERT ... SELECT, 1,000 for every account when
// there are 10,000,000. Each Save sample is "&Save" of a changed city, from
// the click's handler to its end (the dealer and vendor checks, the post and
// the recording); History is the window reading the account's changes,
// filled and painted.
//
// Environment:
//   TRELLANE_BENCH_BACKEND        sqlite (default) or postgres
//   TRELLANE_BENCH_DIR            SQLite: folder of the bench's two databases
//   TRELLANE_BENCH_RECORD_DBS     PostgreSQL: two empty databases (customer,
//                                 practice), space-separated; libpq env for the rest
//   TRELLANE_BENCH_RECORD_ROWS    rows of the record (default 10000000)
//   TRELLANE_BENCH_SAVES          Saves per figure (default 1000)
//
// Prints one line per figure: name value unit backend.
#include "accounts/AccountsTab.h"
#include "customerdb/DataModule.h"
#include "customerdb/HistoryWindow.h"
#include "helpers/Console.h"
#include "helpers/QtPlatform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString backendName;

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.1f %s %s\n", name, value, unit, qPrintable(backendName));
    std::fflush(stdout);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

class BenchConsole : public Console {
public:
    BenchConsole(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice)
        : m_data(customer, practice)
    {
        m_richEdit1 = new QTextEdit(&m_host);
        m_memo2 = new QPlainTextEdit(&m_host);
        m_host.resize(762, 677);
    }
    TDataModule& data() override { return m_data; }
    void DisableButtons(bool) override {}
    QTextEdit* RichEdit1() override { return m_richEdit1; }
    QPlainTextEdit* Memo2() override { return m_memo2; }
    OutputLog* frmOutput() override { return nullptr; }
    QWidget* window() override { return &m_host; }
    QWidget& host() { return m_host; }

private:
    QWidget m_host;
    TDataModule m_data;
    QTextEdit* m_richEdit1;
    QPlainTextEdit* m_memo2;
};

class BenchPlatform : public Trellane::QtPlatform {
public:
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void showError(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
};

constexpr int kAccounts = 10000;
const QString kAccount = QStringLiteral("4242");

// The accounts (direct, exempt from the chart check) and their dealer, not
// recorded: setting up is not what is measured.
void fillAccounts(Db::Connection& c)
{
    const bool pg = c.backend() == Db::Backend::PostgreSQL;
    const QString rows = pg ? QStringLiteral("generate_series(1, %1) AS g(i)").arg(kAccounts)
                            : QStringLiteral("(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                             "SELECT i FROM n) g")
                                  .arg(kAccounts);
    c.beginTransaction();
    {
        Db::RecordingSuspended unrecorded(c);
        c.exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ('M', 'DIRECT')")
                   .arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("DealerCode")),
                        c.quoteName(QStringLiteral("Name"))));
        c.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) SELECT i, 'PRACTICE ' || %7, 'M', 'X', 'DAYTON' FROM %8")
                   .arg(c.quoteName(QStringLiteral("Registration")), c.quoteName(QStringLiteral("SerialNumber")),
                        c.quoteName(QStringLiteral("RegisterName")), c.quoteName(QStringLiteral("DealerCode")),
                        c.quoteName(QStringLiteral("Authorization")), c.quoteName(QStringLiteral("City")),
                        pg ? QStringLiteral("i::text") : QStringLiteral("CAST(i AS TEXT)"), rows));
        unrecorded.resume();
    }
    c.commit();
}

// The record: rows spread over the accounts (key i % 10000 + 1) and over
// the past, one second apart, in one statement; its index made afterwards,
// as a load would.
void fillRecord(Db::Connection& c, qint64 n)
{
    const bool pg = c.backend() == Db::Backend::PostgreSQL;
    c.exec(QStringLiteral("DROP INDEX IF EXISTS ix_changelog_key"));
    if (pg)
        c.exec(QStringLiteral("INSERT INTO changelog (changed_at, changed_by, table_name, row_key, action, field_name, "
                              "old_value, new_value) SELECT now() - (%1 - i) * interval '1 second', 'clerk' || (i % 7), "
                              "'Registration', (i % %2 + 1)::text, 'UPDATE', 'City', 'OLD ' || i, 'NEW ' || i "
                              "FROM generate_series(1, %1) AS g(i)")
                   .arg(n)
                   .arg(kAccounts));
    else
        c.exec(QStringLiteral("INSERT INTO \"ChangeLog\" (changed_at, changed_by, table_name, row_key, action, field_name, "
                              "old_value, new_value) WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g WHERE i < %1) "
                              "SELECT strftime('%Y-%m-%d %H:%M:%f', 'now', '-' || (%1 - i) || ' seconds'), 'clerk' || (i % 7), "
                              "'Registration', CAST(i % %2 + 1 AS TEXT), 'UPDATE', 'City', 'OLD ' || i, 'NEW ' || i FROM g")
                   .arg(n)
                   .arg(kAccounts));
    for (const QString& statement : c.dialect().changeLogSchema())
        c.exec(statement);
    c.exec(pg ? QStringLiteral("ANALYZE changelog") : QStringLiteral("ANALYZE"));
}

// Saves of the current account, each with another city: the handler's time.
std::vector<double> saves(TAccountsTab& tab, QLineEdit& city, int n, int& round)
{
    std::vector<double> us;
    QElapsedTimer t;
    for (int i = 0; i < n; ++i) {
        city.setText(QStringLiteral("CITY %1").arg(++round));
        t.start();
        tab.btnSavSNClick();
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    return us;
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
    const qint64 recordRows = qEnvironmentVariableIntValue("TRELLANE_BENCH_RECORD_ROWS") > 0
        ? qEnvironmentVariableIntValue("TRELLANE_BENCH_RECORD_ROWS")
        : 10000000;
    const int saveCount = qEnvironmentVariableIntValue("TRELLANE_BENCH_SAVES") > 0 ? qEnvironmentVariableIntValue("TRELLANE_BENCH_SAVES")
                                                                                    : 1000;
    Db::ConnectionSettings customer, practice;
    if (pg) {
        const QStringList dbs = qEnvironmentVariable("TRELLANE_BENCH_RECORD_DBS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (dbs.size() != 2) {
            std::fprintf(stderr, "TRELLANE_BENCH_RECORD_DBS must name two databases\n");
            return 2;
        }
        customer = {Db::Backend::PostgreSQL, {}, {}, dbs[0]};
        practice = {Db::Backend::PostgreSQL, {}, {}, dbs[1]};
    } else {
        const QDir dir(qEnvironmentVariable("TRELLANE_BENCH_DIR", QDir::tempPath()));
        customer.sqliteFile = dir.filePath(QStringLiteral("record-customer.sqlite"));
        practice.sqliteFile = dir.filePath(QStringLiteral("record-practice.sqlite"));
        for (const QString& f : {customer.sqliteFile, practice.sqliteFile})
            for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
                QFile::remove(f + suffix);
        customer.createIfMissing = practice.createIfMissing = true;
    }

    try {
        BenchConsole console(customer, practice);
        TDataModule& data = console.data();
        Db::Connection& conn = *data.connTrellaneEMC;
        conn.createSchema();
        data.connMedisoft->createSchema();
        fillAccounts(conn);
        QElapsedTimer t;
        t.start();
        fillRecord(conn, recordRows);
        print("record_fill_s", double(t.elapsed()) / 1000.0, "s");
        print("record_rows", double(conn.scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(conn.quoteName(QStringLiteral("ChangeLog")))).toLongLong()), "rows");

        auto* tab = new TAccountsTab(console, &console.host());
        tab->resize(762, 640);
        console.host().show();
        data.tblRegistration->open();
        data.tblDealer->open();
        data.tblSubmitters->open();
        data.tblMWPAT->open();
        tab->SelectFirstSearchOrder();
        if (!data.tblRegistration->findKey({kAccount.toInt()}))
            throw Db::EngineError(QStringLiteral("account %1 not found").arg(kAccount));
        QApplication::processEvents();
        auto* city = tab->findChild<QLineEdit*>(QStringLiteral("edtCity"));

        // History of the account: read, filled and painted.
        std::vector<double> ms;
        qsizetype rows = 0;
        for (int i = 0; i < 21; ++i) {
            THistoryWindow window(&console.host());
            t.start();
            window.showHistory(conn, {QStringLiteral("Registration"), QStringLiteral("Submitters")}, kAccount,
                               QStringLiteral("account %1").arg(kAccount));
            window.show();
            window.repaint();
            const double elapsed = double(t.nsecsElapsed()) / 1e6;
            if (i == 0)
                print("history_open_first_ms", elapsed, "ms");
            else
                ms.push_back(elapsed);
            rows = window.model().rowCount();
        }
        print("history_rows", double(rows), "rows");
        print("history_open_p50_ms", percentile(ms, 0.50), "ms");
        print("history_open_max_ms", percentile(ms, 1.0), "ms");
        // Of which reading the changes alone.
        ms.clear();
        for (int i = 0; i < 20; ++i) {
            t.start();
            Db::changesOf(conn, {QStringLiteral("Registration"), QStringLiteral("Submitters")}, kAccount);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        print("history_read_p50_ms", percentile(ms, 0.50), "ms");

        // Recorded and not, alternating in blocks so that neither gains
        // from a warmer cache.
        int round = 0;
        std::vector<double> recorded, unrecorded;
        for (int block = 0; block < 4; ++block) {
            for (double v : saves(*tab, *city, saveCount / 4, round))
                recorded.push_back(v);
            Db::RecordingSuspended off(conn);
            for (double v : saves(*tab, *city, saveCount / 4, round))
                unrecorded.push_back(v);
        }
        print("account_save_p50_us", percentile(recorded, 0.50), "us");
        print("account_save_p99_us", percentile(recorded, 0.99), "us");
        print("account_save_unrecorded_p50_us", percentile(unrecorded, 0.50), "us");
        print("account_save_unrecorded_p99_us", percentile(unrecorded, 0.99), "us");

    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
