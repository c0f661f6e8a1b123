// trellane-admin: creates or upgrades the customer and practice databases,
// loads the demo data set, and generates large data sets for benchmarks.
//
//   trellane-admin create
//   trellane-admin demo [--reset]
//   trellane-admin generate N
//   trellane-admin reconcile
//   trellane-admin datadir
//
// reconcile prints what the customer and practice databases disagree on (the
// Billing tab's reconciliation, at the default procedure codes) and ends
// with status 1 when it found anything, 0 when it found nothing.
//
// The databases are those of the site settings (customerdb/Settings.h);
// options choosing others:
//   --customer-sqlite FILE   --practice-sqlite FILE
//   --customer-service NAME  --practice-service NAME   (PostgreSQL, libpq services)
//   --pg-database NAME       (PostgreSQL database of both, libpq environment)
#include "admin/DemoData.h"
#include "billing/Reconciliation.h"
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "customerdb/Settings.h"
#include "helpers/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: trellane-admin create | demo [--reset] | generate N | reconcile | datadir\n"
                 "       [--customer-sqlite FILE] [--practice-sqlite FILE]\n"
                 "       [--customer-service NAME] [--practice-service NAME] [--pg-database NAME]\n");
    return 2;
}

// Reads both databases as they are (creating and upgrading nothing) and
// prints the reconciliation report.
int reconcile(Db::ConnectionSettings customer, Db::ConnectionSettings practice)
{
    customer.createIfMissing = practice.createIfMissing = false;
    try {
        Db::Connection customerConn(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        customerConn.setSettings(customer);
        customerConn.setTitle(QStringLiteral("customer database"));
        Settings::connect(customerConn);
        Db::Connection practiceConn(QStringLiteral("connMedisoft"), &Practice::catalog());
        practiceConn.setSettings(practice);
        practiceConn.setTitle(QStringLiteral("practice database"));
        Settings::connect(practiceConn);
        Billing::Reconciliation report(customerConn, practiceConn, Billing::defaultPrices());
        report.run(Trellane::platform().today());
        for (const QString& line : report.textLines())
            std::printf("%s\n", qPrintable(line));
        return report.lines().isEmpty() ? 0 : 1;
    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();

    // Settings that cannot be used start nothing.
    Settings::Site site;
    try {
        site = Settings::site();
    } catch (const Settings::Error& e) {
        std::fprintf(stderr, "trellane-admin: the settings cannot be used:\n%s\n", e.what());
        return 1;
    }
    Db::ConnectionSettings customer = site.customerDatabase();
    Db::ConnectionSettings practice = site.practiceDatabase();
    bool reset = false;
    qint64 rows = 0;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        auto value = [&]() -> QString {
            if (args.isEmpty()) {
                std::fprintf(stderr, "%s needs a value\n", qPrintable(a));
                std::exit(2);
            }
            return args.takeFirst();
        };
        if (a == QLatin1String("--reset")) {
            reset = true;
        } else if (a == QLatin1String("--customer-sqlite")) {
            customer = {Db::Backend::SQLite, value(), {}, {}};
        } else if (a == QLatin1String("--practice-sqlite")) {
            practice = {Db::Backend::SQLite, value(), {}, {}};
        } else if (a == QLatin1String("--customer-service")) {
            customer = {Db::Backend::PostgreSQL, {}, value(), customer.pgDatabase};
        } else if (a == QLatin1String("--practice-service")) {
            practice = {Db::Backend::PostgreSQL, {}, value(), practice.pgDatabase};
        } else if (a == QLatin1String("--pg-database")) {
            const QString db = value();
            customer = {Db::Backend::PostgreSQL, {}, customer.pgService, db};
            practice = {Db::Backend::PostgreSQL, {}, practice.pgService, db};
        } else if (command == QLatin1String("generate") && rows == 0) {
            bool ok = false;
            rows = a.toLongLong(&ok);
            if (!ok || rows <= 0)
                return usage();
        } else {
            return usage();
        }
    }
    if (command == QLatin1String("reconcile"))
        return reconcile(customer, practice);
    // The admin tool is the one that makes SQLite files, and their folders.
    for (Db::ConnectionSettings* s : {&customer, &practice}) {
        s->createIfMissing = true;
        if (s->backend == Db::Backend::SQLite && !s->sqliteFile.isEmpty() && command != QLatin1String("datadir"))
            QDir().mkpath(QFileInfo(s->sqliteFile).absolutePath());
    }
    if (command == QLatin1String("datadir")) {
        std::printf("%s\n", qPrintable(site.dataDirectory));
        return 0;
    }

    try {
        Db::Connection customerConn(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        customerConn.setSettings(customer);
        customerConn.setTitle(QStringLiteral("customer database"));
        Settings::connect(customerConn);
        QStringList problems = customerConn.createSchema();

        if (command == QLatin1String("create") || command == QLatin1String("demo")) {
            Db::Connection practiceConn(QStringLiteral("connMedisoft"), &Practice::catalog());
            practiceConn.setSettings(practice);
            practiceConn.setTitle(QStringLiteral("practice database"));
            Settings::connect(practiceConn);
            problems << practiceConn.createSchema();
            // Everything else is made; what is left names the rows to mend.
            for (const QString& p : problems)
                std::fprintf(stderr, "%s\n", qPrintable(p));
            if (command == QLatin1String("create")) {
                if (!problems.isEmpty()) {
                    std::fprintf(stderr, "Mend these rows and run create again.\n");
                    return 1;
                }
                std::printf("Databases ready (schema version %d and %d).\n", customerConn.storedSchemaVersion(),
                            practiceConn.storedSchemaVersion());
                return 0;
            }
            const DemoData::Summary s = DemoData::load(customerConn, practiceConn, reset);
            if (s.loaded)
                std::printf("Demo data loaded: %d accounts, %d dealers, %d submitter IDs, %d requests, %d patients.\n",
                            s.accounts, s.dealers, s.submitters, s.requests, s.patients);
            else
                std::printf("Demo data already present (%d accounts); use --reset to load it again.\n", s.accounts);
            return 0;
        }
        if (command == QLatin1String("generate")) {
            if (rows <= 0)
                return usage();
            QElapsedTimer t;
            t.start();
            const qint64 total = DemoData::generate(customerConn, rows);
            std::printf("Generated %lld accounts in %.1f s; the table holds %lld.\n", static_cast<long long>(rows),
                        double(t.elapsed()) / 1000.0, static_cast<long long>(total));
            return 0;
        }
    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return usage();
}
