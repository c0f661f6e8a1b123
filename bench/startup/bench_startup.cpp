// Start-up of the console: the main window made, shown, its databases
// opened and every tab filled, until the window is idle with the first
// account in the panel and the grid.
//
// Environment: TRELLANE_BENCH_BACKEND (sqlite, the default, or postgres).
// SQLite: TRELLANE_BENCH_CUSTOMER_DB and TRELLANE_BENCH_PRACTICE_DB (the
// files `trellane-admin generate N` makes). PostgreSQL: the libpq
// environment, PGDATABASE naming the generated customer database and
// TRELLANE_BENCH_PRACTICE_PGDB a practice database (its tables are made
// when missing). TRELLANE_BENCH_STARTS: start-ups timed (default 5).
//
// Output, one line per figure (name value unit backend):
//   startup_first_ms    the first start-up of the process (fonts, styles and
//                       statements all new)
//   startup_p50_ms      the median of the others, each with new connections
// Through the latency proxy (TRELLANE_BENCH_ROUNDTRIP_FILE, see
// BenchSupport.h) also the round trips of one start-up ("startup_statements").
#include "bench/BenchSupport.h"
#include "customerdb/DataModule.h"
#include "customerdb/PracticeSchema.h"
#include "helpers/ConsoleStyle.h"
#include "helpers/QtPlatform.h"
#include "shell/Mainfrm.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

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

// No message boxes: what start-up would show goes to standard error.
class BenchPlatform : public Trellane::QtPlatform {
public:
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void showError(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
};

// One start-up until the window is idle; its time in ms.
double startUp(const ShellSettings& settings, QString* shownName)
{
    QElapsedTimer t;
    t.start();
    TfrmMain frm(settings);
    QEventLoop started;
    QObject::connect(&frm, &TfrmMain::startUpFinished, &started, &QEventLoop::quit);
    QTimer::singleShot(120000, &started, &QEventLoop::quit);
    frm.show();
    started.exec();
    // Idle: everything start-up queued is handled and painted.
    while (QCoreApplication::instance()->eventDispatcher()->processEvents(QEventLoop::AllEvents)) {
    }
    frm.repaint();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (const auto* name = qobject_cast<QLineEdit*>(frm.control(QStringLiteral("edtRegisterName"))))
        *shownName = name->text();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Site settings of the benchmark's own: no release share, no update server.
    QTemporaryDir config;
    QDir(config.path()).mkpath(QStringLiteral("TrellaneEMC"));
    {
        QFile conf(config.filePath(QStringLiteral("TrellaneEMC/console.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return 2;
        conf.write("[Shares]\nRelease=none\n[UpdateServer]\nUrl=none\n");
    }
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", config.path().toLocal8Bit());

    QApplication app(argc, argv);
    Trellane::useConsoleStyle();
    BenchPlatform platform;
    Trellane::setPlatform(&platform);

    const bool pg = qEnvironmentVariable("TRELLANE_BENCH_BACKEND") == QLatin1String("postgres");
    backendName = pg ? QStringLiteral("postgres") : QStringLiteral("sqlite");
    ShellSettings settings;
    if (pg) {
        settings.customer = {Db::Backend::PostgreSQL, {}, {}, qEnvironmentVariable("PGDATABASE")};
        settings.practice = {Db::Backend::PostgreSQL, {}, {}, qEnvironmentVariable("TRELLANE_BENCH_PRACTICE_PGDB")};
        try {
            Db::Connection practice(QStringLiteral("practice"), &Practice::catalog());
            practice.setSettings(settings.practice);
            practice.createSchema();
        } catch (const Db::EngineError& e) {
            std::fprintf(stderr, "%s\n", qPrintable(e.message()));
            return 1;
        }
    } else {
        settings.customer.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_CUSTOMER_DB");
        settings.practice.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_PRACTICE_DB");
        if (!QFile::exists(settings.customer.sqliteFile) || !QFile::exists(settings.practice.sqliteFile)) {
            std::fprintf(stderr, "TRELLANE_BENCH_CUSTOMER_DB and TRELLANE_BENCH_PRACTICE_DB must name the generated files\n");
            return 2;
        }
    }
    const int starts = qMax(2, qEnvironmentVariableIntValue("TRELLANE_BENCH_STARTS") ?: 5);

    QString name;
    const double first = startUp(settings, &name);
    if (name.isEmpty())
        std::fprintf(stderr, "start-up showed no account\n");
    print("startup_first_ms", first, "ms");
    std::vector<double> times;
    qint64 statements = 0;
    for (int i = 1; i < starts; ++i) {
        const qint64 sent = roundTrips();
        times.push_back(startUp(settings, &name));
        statements = roundTrips() - sent;
    }
    std::sort(times.begin(), times.end());
    print("startup_p50_ms", times[times.size() / 2], "ms");
    if (roundTrips() >= 0)
        print("startup_statements", double(statements), "statements");
    Trellane::setPlatform(nullptr);
    return 0;
}
