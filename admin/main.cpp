// trellane-admin: creates or upgrades the customer and practice databases,
// loads the demo data set, generates large data sets for benchmarks, keeps
// the consoles' role and staff logins (PostgreSQL), and prints the record of
// changes.
//
//   trellane-admin create [--console-role NAME]
//   trellane-admin demo [--reset]
//   trellane-admin generate N
//   trellane-admin reconcile
//   trellane-admin datadir
//   trellane-admin grant LOGIN | revoke LOGIN [--console-role NAME]
//   trellane-admin history SERIAL | --dealer CODE | --runs
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
#include "customerdb/Access.h"
#include "customerdb/ChangeLog.h"
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
                 "                      | grant LOGIN | revoke LOGIN | history SERIAL | history --dealer CODE\n"
                 "                      | history --runs\n"
                 "       [--console-role NAME]\n"
                 "       [--customer-sqlite FILE] [--practice-sqlite FILE]\n"
                 "       [--customer-service NAME] [--practice-service NAME] [--pg-database NAME]\n");
    return 2;
}

// A value on one line of tab-separated output: tabs, line breaks and
// backslashes written as \t, \n and \\.
QString oneLine(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c != QLatin1Char('\r'))
            out += c;
    }
    return out;
}

// The changes as the History window lists them, one tab-separated line
// each, newest first.
void printChanges(const QList<Db::Change>& changes, const QString& mainTable)
{
    for (const Db::Change& c : changes) {
        QStringList cells = Db::changeCells(c, mainTable);
        for (QString& cell : cells)
            cell = oneLine(cell);
        std::printf("%s\n", qPrintable(cells.join(QLatin1Char('\t'))));
    }
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
    QString consoleRole = Db::kConsoleRole;
    QString subject;  // grant and revoke: the login; history: the account
    QString dealer;
    bool runs = false;
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
        } else if (a == QLatin1String("--console-role")) {
            consoleRole = value();
        } else if (a == QLatin1String("--dealer") && command == QLatin1String("history")) {
            dealer = value();
        } else if (a == QLatin1String("--runs") && command == QLatin1String("history")) {
            runs = true;
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
        } else if ((command == QLatin1String("grant") || command == QLatin1String("revoke")
                    || command == QLatin1String("history"))
                   && subject.isEmpty() && !a.startsWith(QLatin1String("--"))) {
            subject = a;
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
        Db::Connection practiceConn(QStringLiteral("connMedisoft"), &Practice::catalog());
        practiceConn.setSettings(practice);
        practiceConn.setTitle(QStringLiteral("practice database"));
        Settings::connect(customerConn);

        // Reading the record, and the logins, change no table.
        if (command == QLatin1String("history")) {
            if (int(!subject.isEmpty()) + int(!dealer.isEmpty()) + int(runs) != 1)
                return usage();
            if (runs) {
                printChanges(Db::billingRuns(customerConn), QStringLiteral("BillingRun"));
            } else if (!dealer.isEmpty()) {
                printChanges(Db::changesOf(customerConn, {QStringLiteral("Dealers")}, dealer), QStringLiteral("Dealers"));
            } else {
                bool ok = false;
                subject.toInt(&ok);
                if (!ok) {
                    std::fprintf(stderr, "\"%s\" is not an account's serial number.\n", qPrintable(subject));
                    return 2;
                }
                printChanges(Db::changesOf(customerConn, {QStringLiteral("Registration"), QStringLiteral("Submitters")},
                                           QString::number(subject.toInt())),
                             QStringLiteral("Registration"));
            }
            return 0;
        }
        if (command == QLatin1String("grant") || command == QLatin1String("revoke")) {
            if (subject.isEmpty())
                return usage();
            Settings::connect(practiceConn);
            // Roles belong to the server: a practice database on another
            // server needs the login there too.
            auto server = [](Db::Connection& conn) {
                return conn.backend() == Db::Backend::PostgreSQL
                    ? conn.scalar(QStringLiteral("SELECT pg_postmaster_start_time()::text || ' ' || current_setting('port')")).toString()
                    : QString();
            };
            QList<Db::Connection*> servers{&customerConn};
            if (practiceConn.backend() == Db::Backend::PostgreSQL && server(practiceConn) != server(customerConn))
                servers << &practiceConn;
            for (Db::Connection* conn : servers) {
                const QString done = command == QLatin1String("grant") ? Db::grantLogin(*conn, subject, consoleRole)
                                                                        : Db::revokeLogin(*conn, subject, consoleRole);
                std::printf("%s%s\n", servers.size() > 1 ? qPrintable(conn->title() + QStringLiteral(": ")) : "",
                            qPrintable(done));
            }
            return 0;
        }

        QStringList problems = customerConn.createSchema();
        if (command == QLatin1String("create") || command == QLatin1String("demo")) {
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
                if (customer.backend == Db::Backend::PostgreSQL || practice.backend == Db::Backend::PostgreSQL) {
                    for (Db::Connection* conn : {&customerConn, &practiceConn})
                        if (conn->backend() == Db::Backend::PostgreSQL)
                            Db::grantConsoleRole(*conn, consoleRole);
                    std::printf("Consoles work as members of the role \"%s\"; add a staff login with "
                                "\"trellane-admin grant LOGIN\".\n",
                                qPrintable(consoleRole));
                }
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
