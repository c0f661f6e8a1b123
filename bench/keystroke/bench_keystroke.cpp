// Keystroke-to-panel latency of the account search.
//
// Builds the real Accounts and Submitter IDs tabs offscreen on an existing
// customer database, then for every search order types the leading
// characters of randomly chosen stored keys into the search box, one key
// event at a time. Each sample is the time from the key event to the account
// panel showing the found account, the grid positioned on it and the window
// repainted (pending events processed).
//
// Environment:
//   TRELLANE_BENCH_BACKEND        sqlite (default) or postgres
//   TRELLANE_BENCH_CUSTOMER_DB    SQLite: the customer database file
//   PGDATABASE (and PGHOST...)    PostgreSQL: the customer database (libpq env)
//   TRELLANE_BENCH_KEYSTROKES     keystrokes per search order (default 2000)
//   TRELLANE_BENCH_SEED           random seed (default 1)
//
// Output: "keystroke_to_panel_p50_us <value> us <backend>" and
// "keystroke_to_panel_p99_us ..." over all orders (key event to repainted
// window), "keystroke_to_state_p50_us" / "_p99_us" (key event handled, before
// the repaint), and per-order figures on lines starting with "#". Through
// the latency proxy (TRELLANE_BENCH_ROUNDTRIP_FILE, see BenchSupport.h) also
// the round trips to the server per keystroke, on average and at most
// ("keystroke_statements_mean", "keystroke_statements_max").
#include "accounts/AccountsTab.h"
#include "accounts/SubmittersTab.h"
#include "bench/BenchSupport.h"
#include "customerdb/DataModule.h"
#include "customerdb/Settings.h"
#include "helpers/Console.h"
#include "helpers/ConsoleStyle.h"
#include "helpers/EntryRule.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class BenchConsole : public Console {
public:
    BenchConsole(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice)
        : m_data(customer, practice)
    {
        m_host.setObjectName(QStringLiteral("frmMain"));
        m_richEdit1 = new QTextEdit(&m_host);
        m_richEdit1->hide();
        m_memo2 = new QPlainTextEdit(&m_host);
        m_memo2->hide();
    }
    TDataModule& data() override { return m_data; }
    void DisableButtons(bool enabled) override
    {
        for (QPushButton* b : m_host.findChildren<QPushButton*>())
            b->setEnabled(enabled);
    }
    QTextEdit* RichEdit1() override { return m_richEdit1; }
    QPlainTextEdit* Memo2() override { return m_memo2; }
    OutputLog* frmOutput() override { return nullptr; }
    QWidget* window() override { return &m_host; }
    QWidget* host() { return &m_host; }

private:
    QWidget m_host;
    TDataModule m_data;
    QTextEdit* m_richEdit1;
    QPlainTextEdit* m_memo2;
};

struct Order {
    int item;
    const char* caption;
    const char* field;
};

const Order kOrders[] = {
    {TAccountsTab::soSerialNumber, "SerialNumber", "SerialNumber"},
    {TAccountsTab::soRegisterName, "RegisterName", "RegisterName"},
    {TAccountsTab::soOtherName, "OtherName", "OtherName"},
    {TAccountsTab::soPhone, "Phone", "Phone"},
    {TAccountsTab::soFax, "Fax", "Fax"},
    {TAccountsTab::soChartNumber, "ChartNumber", "ChartNumber"},
    {TAccountsTab::soReseller, "DealerCode", "DealerCode"},
    {TAccountsTab::soCity, "City", "City"},
    {TAccountsTab::soState, "State", "State"},
    {TAccountsTab::soZipCode, "ZipCode", "ZipCode"},
    {TAccountsTab::soDataVersion, "DataVersion", "DataVersion"},
    {TAccountsTab::soEDIVersion, "EDIVersion", "EDIVERSION"},
};

double percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Trellane::useConsoleStyle();  // as the console does

    const bool pg = qEnvironmentVariable("TRELLANE_BENCH_BACKEND").compare(QLatin1String("postgres"), Qt::CaseInsensitive) == 0;
    const QString backend = pg ? QStringLiteral("postgres") : QStringLiteral("sqlite");
    Db::ConnectionSettings customer;
    if (pg) {
        customer.backend = Db::Backend::PostgreSQL;
        customer.pgDatabase = qEnvironmentVariable("PGDATABASE");
    } else {
        customer.backend = Db::Backend::SQLite;
        customer.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_CUSTOMER_DB");
        if (customer.sqliteFile.isEmpty() || !QFile::exists(customer.sqliteFile)) {
            std::fprintf(stderr, "TRELLANE_BENCH_CUSTOMER_DB must name an existing customer database file\n");
            return 2;
        }
    }
    // The practice database is never opened while typing; an empty file will do.
    QTemporaryDir scratch;
    Db::ConnectionSettings practice;
    practice.sqliteFile = scratch.filePath(QStringLiteral("practice.sqlite"));
    practice.createIfMissing = true;

    const int perOrder = qMax(1, qEnvironmentVariableIntValue("TRELLANE_BENCH_KEYSTROKES") ?: 2000);
    QRandomGenerator rng(quint32(qMax(1, qEnvironmentVariableIntValue("TRELLANE_BENCH_SEED"))));

    try {
        BenchConsole console(customer, practice);
        TDataModule& dm = console.data();
        auto* pages = new QTabWidget(console.host());
        auto* accounts = new TAccountsTab(console, pages);
        pages->addTab(accounts, QStringLiteral("Accounts"));
        pages->addTab(new TSubmittersTab(console, pages), QStringLiteral("Submitter IDs"));
        console.host()->resize(762, 677);
        pages->resize(762, 677);
        console.host()->show();

        dm.tblRegistration->open();
        dm.tblSubmitters->open();
        accounts->SelectFirstSearchOrder();
        QCoreApplication::processEvents();

        Db::Connection* conn = dm.connTrellaneEMC;
        const QString table = conn->quoteName(QStringLiteral("Registration"));
        const qint64 maxRid = conn->scalar(QStringLiteral("SELECT MAX(_rid) FROM %1").arg(table)).toLongLong();
        const qint64 rows = conn->scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).toLongLong();
        std::printf("# backend %s, %lld accounts, %d keystrokes per order\n", qPrintable(backend), rows, perOrder);
        if (maxRid <= 0) {
            std::fprintf(stderr, "the customer database holds no accounts\n");
            return 2;
        }

        auto* order = accounts->findChild<QComboBox*>(QStringLiteral("cbAcctIdx"));
        auto* box = accounts->findChild<QLineEdit*>(QStringLiteral("edtAcctSrch"));
        auto* shownName = accounts->findChild<QLineEdit*>(QStringLiteral("edtRegisterName"));
        std::vector<qint64> all;
        std::vector<qint64> handlerOnly;
        qint64 statements = 0;
        qint64 mostStatements = 0;
        int mismatches = 0;

        for (const Order& o : kOrders) {
            order->setCurrentIndex(o.item);
            QCoreApplication::processEvents();
            const QString keySql = QStringLiteral("SELECT %1 FROM %2 WHERE _rid >= ? ORDER BY _rid LIMIT 1")
                                       .arg(conn->quoteName(QLatin1String(o.field)), table);
            std::vector<qint64> samples;
            qint64 orderStatements = 0, orderMost = 0;
            while (int(samples.size()) < perOrder) {
                const QString key = conn->scalar(keySql, {qint64(1 + rng.bounded(maxRid))}).toString().trimmed();
                const QString typed = key.left(Trellane::EntryRule::of(box)->limit());
                if (typed.isEmpty())
                    continue;
                box->clear();
                QCoreApplication::processEvents();
                for (const QChar c : typed) {
                    const qint64 sent = roundTrips();
                    QElapsedTimer t;
                    t.start();
                    QTest::keyClick(box, c.toLatin1());
                    const qint64 handled = t.nsecsElapsed();
                    QCoreApplication::processEvents();
                    const qint64 shown = t.nsecsElapsed();
                    const qint64 n = roundTrips() - sent;
                    orderStatements += n;
                    orderMost = std::max(orderMost, n);
                    samples.push_back(shown);
                    handlerOnly.push_back(handled);
                    if (int(samples.size()) >= perOrder)
                        break;
                }
                // The panel must show the account the cursor is on.
                if (shownName->text()
                    != dm.tblRegistration->fieldByName(QStringLiteral("RegisterName")).asString())
                    ++mismatches;
            }
            std::printf("# %-12s p50 %8.1f us  p99 %8.1f us  max %8.1f us", o.caption, percentile(samples, 0.50),
                        percentile(samples, 0.99), percentile(samples, 1.0));
            if (roundTrips() >= 0)
                std::printf("  statements %.2f per key, at most %lld", double(orderStatements) / double(samples.size()),
                            static_cast<long long>(orderMost));
            std::printf("\n");
            statements += orderStatements;
            mostStatements = std::max(mostStatements, orderMost);
            all.insert(all.end(), samples.begin(), samples.end());
        }
        // The same keystrokes up to the end of the key event, before the
        // window repaints: every control and the grid hold the new account.
        std::printf("keystroke_to_state_p50_us %.1f us %s\n", percentile(handlerOnly, 0.50), qPrintable(backend));
        std::printf("keystroke_to_state_p99_us %.1f us %s\n", percentile(handlerOnly, 0.99), qPrintable(backend));
        if (mismatches)
            std::printf("# WARNING: %d typed keys left the panel on another account than the cursor\n", mismatches);
        std::printf("keystroke_to_panel_p50_us %.1f us %s\n", percentile(all, 0.50), qPrintable(backend));
        std::printf("keystroke_to_panel_p99_us %.1f us %s\n", percentile(all, 0.99), qPrintable(backend));
        if (roundTrips() >= 0) {
            std::printf("keystroke_statements_mean %.2f statements %s\n", double(statements) / double(all.size()),
                        qPrintable(backend));
            std::printf("keystroke_statements_max %lld statements %s\n", static_cast<long long>(mostStatements),
                        qPrintable(backend));
        }
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_keystroke: %s\n", e.what());
        return 1;
    }
    return 0;
}
