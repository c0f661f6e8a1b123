// Start-up when the databases are not there yet: the first-start question on
// embedded databases and what each answer makes (only in the configured
// folder), a half-present pair, and the start-up message naming a PostgreSQL
// service that cannot be reached.
#include "customerdb/DataModule.h"
#include "customerdb/Schema.h"
#include "releases/ReleaseLookup.h"
#include "shell/FirstStart.h"
#include "shell/Mainfrm.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

class TestFirstStart : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TestPlatform> plat;
    ShellSettings settings;
    QString dataDir;
    int terminated = 0;

    std::unique_ptr<TfrmMain> startUp()
    {
        auto frm = std::make_unique<TfrmMain>(settings);
        frm->setTerminateHook([this] { ++terminated; });
        frm->FormShow();
        return frm;
    }

    // Everything in the temporary folder besides the program's own folder
    // and SQLite's journal of an open database.
    QStringList filesMade() const
    {
        QStringList made;
        QDirIterator it(dir->path(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = QDir(dir->path()).relativeFilePath(it.next());
            if (!path.startsWith(QLatin1String("prog")) && !path.endsWith(QLatin1String("-wal"))
                && !path.endsWith(QLatin1String("-shm")))
                made << path;
        }
        made.sort();
        return made;
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        plat = std::make_unique<TestPlatform>();
        plat->programPath = dir->filePath(QStringLiteral("prog/tallyhouse"));
        QDir().mkpath(dir->filePath(QStringLiteral("prog")));
        plat->fakeDownloads = true;
        for (const char* path : {"/updates/updates.txt", "/updates2/updates.txt", "/updates3/updates3.txt"})
            plat->downloadBodies.insert(Releases::UpdateServerURL() + QLatin1String(path), QByteArray());
        dataDir = dir->filePath(QStringLiteral("data/TrellaneEMC"));
        settings.customer = {Db::Backend::SQLite, dataDir + QStringLiteral("/Trellaneemc.sqlite"), {}, {}};
        settings.practice = {Db::Backend::SQLite, dataDir + QStringLiteral("/mwddf.sqlite"), {}, {}};
        settings.releaseShare = dir->filePath(QStringLiteral("prog"));
        terminated = 0;
    }

    void cleanup()
    {
        plat.reset();
        dir.reset();
    }

    void questionOnMissingDatabases_data()
    {
        QTest::addColumn<QString>("answer");  // empty: the box closed
        QTest::addColumn<bool>("made");
        QTest::addColumn<bool>("demo");
        QTest::newRow("create empty") << FirstStart::kCreate << true << false;
        QTest::newRow("load demo data") << FirstStart::kDemo << true << true;
        QTest::newRow("quit") << FirstStart::kQuit << false << false;
        QTest::newRow("closed") << QString() << false << false;
    }

    void questionOnMissingDatabases()
    {
        if (TestDb::isPostgres())
            QSKIP("the embedded databases only");
        QFETCH(QString, answer);
        QFETCH(bool, made);
        QFETCH(bool, demo);
        if (!answer.isEmpty())
            plat->choiceAnswers << answer;

        auto frm = startUp();

        QCOMPARE(plat->choices,
                 QStringList{QStringLiteral("No customer database found in %1.").arg(QDir::toNativeSeparators(dataDir))});
        QVERIFY2(plat->errors.isEmpty(), qPrintable(plat->errors.join(QLatin1Char('\n'))));
        QCOMPARE(terminated, made ? 0 : 1);
        // Only the two files, only in the configured folder; nothing on Quit.
        const QStringList files{QStringLiteral("data"), QStringLiteral("data/TrellaneEMC"),
                                QStringLiteral("data/TrellaneEMC/Trellaneemc.sqlite"),
                                QStringLiteral("data/TrellaneEMC/mwddf.sqlite")};
        QCOMPARE(filesMade(), made ? files : QStringList());
        if (!made)
            return;
        TDataModule& dm = frm->data();
        QVERIFY(dm.tblMWPAT->isOpen());
        QCOMPARE(dm.tblRegistration->recordCount() > 0, demo);
        QCOMPARE(dm.tblMWPAT->recordCount() > 0, demo);
        // The window shows the first account, as on any start.
        const auto* name = qobject_cast<QLineEdit*>(frm->control(QStringLiteral("edtRegisterName")));
        QCOMPARE(name->text().isEmpty(), !demo);

        // The next start finds them and asks nothing.
        frm.reset();
        plat->choices.clear();
        frm = startUp();
        QVERIFY(plat->choices.isEmpty());
        QVERIFY(frm->data().tblRegistration->isOpen());
    }

    void halfPresentPairIsReportedNotCreated()
    {
        if (TestDb::isPostgres())
            QSKIP("the embedded databases only");
        QDir().mkpath(dataDir);
        {
            Db::ConnectionSettings s = settings.customer;
            s.createIfMissing = true;
            Db::Connection c(QStringLiteral("made"), &CustomerDb::catalog());
            c.setSettings(s);
            c.connect();
            c.createSchema();
        }
        auto frm = startUp();
        QVERIFY(plat->choices.isEmpty());
        QCOMPARE(terminated, 1);
        QCOMPARE(plat->errors.size(), 1);
        QVERIFY2(plat->errors.first().contains(QDir::toNativeSeparators(settings.practice.sqliteFile)),
                 qPrintable(plat->errors.first()));
        QVERIFY(!QFile::exists(settings.practice.sqliteFile));
    }

    // How the message reads is the settings' test; here start-up uses it.
    void unreachableServiceIsNamed()
    {
        if (!TestDb::isPostgres())
            QSKIP("PostgreSQL only");
        qputenv("PGSERVICEFILE", dir->filePath(QStringLiteral("pg_service.conf")).toUtf8());
        settings.customer = {Db::Backend::PostgreSQL, {}, QStringLiteral("office_customer"), {}};
        auto frm = startUp();
        qunsetenv("PGSERVICEFILE");
        QVERIFY(plat->choices.isEmpty());
        QCOMPARE(terminated, 1);
        QCOMPARE(plat->errors.size(), 1);
        QVERIFY2(plat->errors.first().startsWith(QStringLiteral("Unable to connect to the customer database through "
                                                                "the PostgreSQL service \"office_customer\", which")),
                 qPrintable(plat->errors.first()));
    }
};

QTEST_MAIN(TestFirstStart)
#include "test_firststart.moc"
