// trellane-admin reconcile as a nightly job runs it: the report on standard
// output, status 0 when the databases agree and 1 when they do not or
// cannot be read, and nothing created where there was no database.
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "tests/support/TestDb.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestAdmin : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;  // no site file nor user settings

    struct Run {
        int status;
        QString out;
        QString err;
    };
    Run admin(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_config.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TRELLANE_ADMIN), args);
        if (!p.waitForFinished(60000))
            return {-1, QString(), QStringLiteral("did not finish")};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

private slots:
    void reconcile_data()
    {
        QTest::addColumn<bool>("notInOrder");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reported");
        QTest::newRow("in order") << false << 0 << "1 accounts, 1 patients, 0 E1 cases and 0 charges read on ";
        QTest::newRow("a chart without patient") << true << 1
            << "Accounts whose chart has no patient in the practice database: 1\n"
               "  Serial  Register Name  Chart  What is wrong\n"
               "  2       NO PATIENT     C2     no patient record for this chart\n";
    }
    void reconcile()
    {
        QFETCH(bool, notInOrder);
        QFETCH(int, status);
        QFETCH(QString, reported);
        // On PostgreSQL both catalogs share one database, as --pg-database
        // names the database of both.
        const Db::ConnectionSettings c = TestDb::fresh(QStringLiteral("admin"));
        const Db::ConnectionSettings p = TestDb::isPostgres() ? c : TestDb::fresh(QStringLiteral("admin"));
        {
            Db::Connection customer(QStringLiteral("customer"), &CustomerDb::catalog());
            customer.setSettings(c);
            customer.createSchema();
            Db::Connection practice(QStringLiteral("practice"), &Practice::catalog());
            practice.setSettings(p);
            practice.createSchema();
            TestDb::insertRow(&customer, QStringLiteral("Registration"),
                              {{QStringLiteral("SerialNumber"), 1}, {QStringLiteral("ChartNumber"), QStringLiteral("C1")},
                               {QStringLiteral("RegisterName"), QStringLiteral("IN ORDER")}});
            TestDb::insertRow(&practice, QStringLiteral("MWPAT"), {{QStringLiteral("Chart Number"), QStringLiteral("C1")}});
            if (notInOrder)
                TestDb::insertRow(&customer, QStringLiteral("Registration"),
                                  {{QStringLiteral("SerialNumber"), 2}, {QStringLiteral("ChartNumber"), QStringLiteral("C2")},
                                   {QStringLiteral("RegisterName"), QStringLiteral("NO PATIENT")}});
        }
        const QStringList options = TestDb::isPostgres()
            ? QStringList{QStringLiteral("--pg-database"), c.pgDatabase}
            : QStringList{QStringLiteral("--customer-sqlite"), c.sqliteFile, QStringLiteral("--practice-sqlite"), p.sqliteFile};
        const Run run = admin(QStringList{QStringLiteral("reconcile")} + options);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(run.status, status);
        QVERIFY2(run.out.contains(reported), qPrintable(run.out));
        QCOMPARE(run.out.contains(QStringLiteral("IN ORDER")), false);
    }

    // A database that is not there is an error, and is not made.
    void reconcileWithoutDatabase()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
        const QStringList options = TestDb::isPostgres()
            ? QStringList{QStringLiteral("--pg-database"), QStringLiteral("no_such_database")}
            : QStringList{QStringLiteral("--customer-sqlite"), missing, QStringLiteral("--practice-sqlite"), missing};
        const Run run = admin(QStringList{QStringLiteral("reconcile")} + options);
        QCOMPARE(run.status, 1);
        QVERIFY(!run.err.isEmpty());
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFile::exists(missing));
    }
};

QTEST_MAIN(TestAdmin)
#include "test_admin.moc"
