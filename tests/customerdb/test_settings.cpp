// The site settings: where the files are looked for, every key, the user's
// file over the site file, the defaults, unusable settings named by file and
// key, the PostgreSQL backend chosen by the file, and a failed service
// connection explained. The files live in temporary XDG folders.
#include "customerdb/Schema.h"
#include "customerdb/Settings.h"
#include "tests/support/TestDb.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString siteFile;  // in the system folder
    QString userFile;

    static void write(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    static QString valueOf(const Settings::Site& s, const QString& field)
    {
        if (field == QLatin1String("backend"))
            return s.backend == Db::Backend::PostgreSQL ? QStringLiteral("postgres") : QStringLiteral("sqlite");
        const QHash<QString, QString> fields{{QStringLiteral("dataDirectory"), s.dataDirectory},
                                             {QStringLiteral("customerService"), s.customerService},
                                             {QStringLiteral("practiceService"), s.practiceService},
                                             {QStringLiteral("releaseShare"), s.releaseShare},
                                             {QStringLiteral("fromWebShare"), s.fromWebShare},
                                             {QStringLiteral("updateServerUrl"), s.updateServerUrl}};
        return fields.value(field);
    }

    static QString readError(const QStringList& files)
    {
        try {
            Settings::read(files);
        } catch (const Settings::Error& e) {
            return QString::fromUtf8(e.what());
        }
        return {};
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir->filePath(QStringLiteral("home")).toUtf8());
        qputenv("XDG_CONFIG_DIRS",
                (dir->filePath(QStringLiteral("site")) + QLatin1Char(':') + dir->filePath(QStringLiteral("vendor"))).toUtf8());
        siteFile = dir->filePath(QStringLiteral("site/TrellaneEMC/console.conf"));
        userFile = dir->filePath(QStringLiteral("home/TrellaneEMC/console.conf"));
    }

    void filesAndDefaults()
    {
        // The less important system folder first, the user's file last.
        QCOMPARE(Settings::files(), QStringList({dir->filePath(QStringLiteral("vendor/TrellaneEMC/console.conf")),
                                                 siteFile, userFile}));
        // No file at all: the embedded databases in the user's data folder.
        const Settings::Site s = Settings::read(Settings::files());
        const QString data =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/TrellaneEMC");
        QCOMPARE(s.backend, Db::Backend::SQLite);
        QCOMPARE(s.dataDirectory, data);
        QCOMPARE(s.customerDatabase().sqliteFile, data + QStringLiteral("/Trellaneemc.sqlite"));
        QCOMPARE(s.practiceDatabase().sqliteFile, data + QStringLiteral("/mwddf.sqlite"));
        QCOMPARE(s.customerService, QStringLiteral("trellane_customer"));
        QCOMPARE(s.practiceService, QStringLiteral("trellane_practice"));
        QCOMPARE(s.releaseShare, data + QStringLiteral("/share/Tallyhouse"));
        QCOMPARE(s.fromWebShare, data + QStringLiteral("/share/FromWeb"));
        QCOMPARE(s.updateServerUrl, QStringLiteral("http://127.0.0.1:8080"));
        // The file the package installs keeps the databases' defaults and
        // names no release share and no update server.
        write(siteFile, [] {
            QFile f(QStringLiteral(TRELLANE_SITE_FILE));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
        }());
        const Settings::Site packaged = Settings::read(Settings::files());
        QCOMPARE(packaged.dataDirectory, data);
        QCOMPARE(packaged.backend, Db::Backend::SQLite);
        QCOMPARE(packaged.releaseShare, QString());
        QCOMPARE(packaged.updateServerUrl, QString());
    }

    void everyKeyIsRead_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        const QString home = QDir::homePath();
        QTest::newRow("backend") << QByteArray("[Database]\nBackend = PostgreS\n") << "backend" << "postgres";
        QTest::newRow("folder") << QByteArray("[Database]\nFolder=/srv/trellane/\n") << "dataDirectory"
                                << "/srv/trellane";
        QTest::newRow("folder below home") << QByteArray("[Database]\nFolder=~/trellane\n") << "dataDirectory"
                                           << home + "/trellane";
        QTest::newRow("shares follow the folder") << QByteArray("[Database]\nFolder=/srv/t\n") << "releaseShare"
                                                  << "/srv/t/share/Tallyhouse";
        QTest::newRow("customer service") << QByteArray("[Database]\nCustomerService=office_c\n") << "customerService"
                                          << "office_c";
        QTest::newRow("practice service") << QByteArray("[Database]\nPracticeService=office.p-1\n")
                                          << "practiceService" << "office.p-1";
        QTest::newRow("release share") << QByteArray("[Shares]\nRelease=/mnt/files/Tallyhouse\n") << "releaseShare"
                                       << "/mnt/files/Tallyhouse";
        QTest::newRow("fromweb share") << QByteArray("[Shares]\nFromWeb=\"/mnt/files/From,Web\"\n") << "fromWebShare"
                                       << "/mnt/files/From,Web";
        QTest::newRow("update server") << QByteArray("[UpdateServer]\nUrl=http://updates.office:8080/\n")
                                       << "updateServerUrl" << "http://updates.office:8080";
        QTest::newRow("empty value keeps the default")
            << QByteArray("[UpdateServer]\nUrl=\n") << "updateServerUrl" << "http://127.0.0.1:8080";
        QTest::newRow("no update server") << QByteArray("[UpdateServer]\nUrl=None\n") << "updateServerUrl" << "";
        QTest::newRow("no release share") << QByteArray("[Shares]\nRelease=none\n") << "releaseShare" << "";
    }

    void everyKeyIsRead()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        write(siteFile, "; a comment\n" + text);
        QCOMPARE(valueOf(Settings::read(Settings::files()), field), expected);
    }

    void userFileOverridesKeyByKey()
    {
        write(siteFile, "[Database]\nBackend=postgres\nCustomerService=site_c\nPracticeService=site_p\n");
        write(userFile, "[Database]\nCustomerService=mine_c\n");
        const Settings::Site s = Settings::read(Settings::files());
        QCOMPARE(s.backend, Db::Backend::PostgreSQL);
        QCOMPARE(s.customerService, QStringLiteral("mine_c"));
        QCOMPARE(s.practiceService, QStringLiteral("site_p"));
    }

    void unusableSettingsNameFileAndKey_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("says");
        QTest::newRow("backend") << QByteArray("[Database]\nBackend=mysql\n") << "Database/Backend"
                                 << "\"mysql\" is not a backend (sqlite or postgres)";
        QTest::newRow("relative folder") << QByteArray("[Database]\nFolder=data/trellane\n") << "Database/Folder"
                                         << "is not an absolute folder";
        QTest::newRow("service with a blank") << QByteArray("[Database]\nCustomerService=my db\n")
                                              << "Database/CustomerService" << "is not a service name";
        QTest::newRow("not http") << QByteArray("[UpdateServer]\nUrl=ftp://updates:8080\n") << "UpdateServer/Url"
                                  << "is not a server address";
        QTest::newRow("url with a path") << QByteArray("[UpdateServer]\nUrl=http://updates:8080/updates\n")
                                         << "UpdateServer/Url" << "is not a server address";
        QTest::newRow("unknown key") << QByteArray("[Database]\nBakend=sqlite\n") << "Database/Bakend"
                                     << "unknown setting";
        QTest::newRow("key outside a group") << QByteArray("Backend=sqlite\n") << "Backend" << "unknown setting";
        QTest::newRow("comma") << QByteArray("[Shares]\nRelease=/a,b\n") << "Shares/Release" << "double quotes";
        QTest::newRow("not a settings file") << QByteArray("Backend sqlite\n[Database\n") << QString()
                                             << "not a settings file";
    }

    void unusableSettingsNameFileAndKey()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, key);
        QFETCH(QString, says);
        write(userFile, text);
        const QString error = readError(Settings::files());
        const QString where = userFile + QStringLiteral(": ") + (key.isEmpty() ? QString() : key + QStringLiteral(": "));
        QVERIFY2(error.startsWith(where), qPrintable(error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

    void everyProblemOfEveryFileIsListed()
    {
        write(siteFile, "[Database]\nBackend=oracle\n");
        write(userFile, "[UpdateServer]\nUrl=updates\nPort=8080\n");
        // In the order the files are read, by key within a file.
        const QStringList lines = readError(Settings::files()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(siteFile + QStringLiteral(": Database/Backend: ")));
        QVERIFY(lines.at(1).startsWith(userFile + QStringLiteral(": UpdateServer/Port: ")));
        QVERIFY(lines.at(2).startsWith(userFile + QStringLiteral(": UpdateServer/Url: ")));
    }

    // The file alone switches the same program to PostgreSQL; on the
    // PostgreSQL run it connects through the service it names.
    void postgresChosenByTheFile()
    {
        write(siteFile, "[Database]\nBackend=postgres\nCustomerService=office_customer\n");
        const Db::ConnectionSettings customer = Settings::read(Settings::files()).customerDatabase();
        QCOMPARE(customer.backend, Db::Backend::PostgreSQL);
        QCOMPARE(customer.pgService, QStringLiteral("office_customer"));
        QVERIFY(customer.sqliteFile.isEmpty());
        if (!TestDb::isPostgres())
            return;

        const QString database = TestDb::fresh(QStringLiteral("site")).pgDatabase;
        const QString services = dir->filePath(QStringLiteral("pg_service.conf"));
        write(services, QStringLiteral("[office_customer]\nhost=%1\nport=%2\nuser=%3\ndbname=%4\n")
                            .arg(qEnvironmentVariable("PGHOST"), qEnvironmentVariable("PGPORT"),
                                 qEnvironmentVariable("PGUSER"), database)
                            .toUtf8());
        qputenv("PGSERVICEFILE", services.toUtf8());
        Db::Connection conn(QStringLiteral("site"), &CustomerDb::catalog());
        conn.setSettings(customer);
        Settings::connect(conn);
        QCOMPARE(conn.scalar(QStringLiteral("SELECT current_database()")).toString(), database);
        conn.disconnect();
        qunsetenv("PGSERVICEFILE");
    }

    void failedServiceSaysWhereItIsDefined_data()
    {
        QTest::addColumn<bool>("defined");
        QTest::newRow("defined in the user's file") << true;
        QTest::newRow("defined nowhere") << false;
    }

    void failedServiceSaysWhereItIsDefined()
    {
        QFETCH(bool, defined);
        const QString services = dir->filePath(QStringLiteral("pg_service.conf"));
        // A server that is not there: a socket folder without a socket.
        write(services, defined ? QStringLiteral("[office_c]\nhost=%1\nport=1\n").arg(dir->path()).toUtf8()
                                : QByteArray("[other]\nport=1\n"));
        qputenv("PGSERVICEFILE", services.toUtf8());
        qputenv("PGSYSCONFDIR", dir->filePath(QStringLiteral("etc")).toUtf8());
        Db::Connection conn(QStringLiteral("svc"), &CustomerDb::catalog());
        conn.setTitle(QStringLiteral("customer database"));
        conn.setSettings({Db::Backend::PostgreSQL, {}, QStringLiteral("office_c"), {}});
        QString message;
        try {
            Settings::connect(conn);
        } catch (const Db::EngineError& e) {
            message = e.message();
        }
        qunsetenv("PGSERVICEFILE");
        qunsetenv("PGSYSCONFDIR");
        const QString expected = defined
            ? QStringLiteral("Unable to connect to the customer database through the PostgreSQL service \"office_c\" of %1.\n"
                             "connection to server on socket")
                  .arg(services)
            : QStringLiteral("Unable to connect to the customer database through the PostgreSQL service \"office_c\", "
                             "which neither %1 nor %2 defines.\ndefinition of service \"office_c\" not found")
                  .arg(services, dir->filePath(QStringLiteral("etc/pg_service.conf")));
        QVERIFY2(message.startsWith(expected), qPrintable(message));
        QVERIFY2(message.endsWith(QStringLiteral("\"Using PostgreSQL\" in the README "
                                                 "(/usr/share/doc/tallyhouse/README.md.gz).")),
                 qPrintable(message));
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
