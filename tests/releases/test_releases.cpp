// Release version lookup against a real HTTP server on the loopback
// interface. The platform sends the build's update server address to that
// server, so the addresses the lookup builds (and names in its errors) are
// the production ones.
#include "releases/ReleaseLookup.h"
#include "00HelperFiles/UpdateFile.h"
#include "tests/support/TestPlatform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Answers GET requests: 200 with the body registered for the path, 404 for
// any other path; with hang set it accepts and never answers.
class HttpStub : public QObject {
public:
    QHash<QString, QByteArray> bodies;
    QStringList requested;
    bool hang = false;

    HttpStub()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }

private:
    void onRead(QTcpSocket* s)
    {
        QByteArray& buf = pending[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n"))
            return;
        const QString path = QString::fromLatin1(buf.split(' ').value(1));
        requested << path;
        if (hang)
            return;
        const bool found = bodies.contains(path);
        const QByteArray body = found ? bodies.value(path) : QByteArray("Not Found");
        s->write(QByteArray(found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n")
                 + "Content-Length: " + QByteArray::number(body.size())
                 + "\r\nConnection: close\r\n\r\n" + body);
        s->disconnectFromHost();
    }

    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> pending;
};

// Downloads addressed to the update server go to the stub instead.
class RoutingPlatform : public TestPlatform {
public:
    QString target;
    QString download(const QString& url, const QString& localFile, int timeoutMs) override
    {
        QString routed = url;
        routed.replace(0, Releases::UpdateServerURL().size(), target);
        return TestPlatform::download(routed, localFile, timeoutMs);
    }
    void downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                              DownloadDone done) override
    {
        QString routed = url;
        routed.replace(0, Releases::UpdateServerURL().size(), target);
        TestPlatform::downloadInBackground(routed, localFile, timeoutMs, context, std::move(done));
    }
};

const QByteArray kList22 = "PATCH;TRELEDI.EXE;a;9;9;9;9;0;b\r\n"
                           "FILE;TRELEDI.EXE;a;2;2;1;30;0;b\r\n"
                           "FILE;TRELEDI.EXE;a;2;2;0;1;0;b\r\n";
const QByteArray kList23 = "FILE;TRELEDI.EXE;a;2;3;0;47;0;b\n";
const QByteArray kList30 = "FILE;TRELEDI3.EXE;a;3;0;2;5;0;b";

} // namespace

class TestReleases : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    RoutingPlatform* plat = nullptr;
    HttpStub* http = nullptr;
    QStringList labels;
    Releases::LabelSetter setLabel = [this](const QString& t) { labels << t; };

    QString local(const QString& name) const { return dir->filePath(name); }
    QByteArray contents(const QString& name) const
    {
        QFile f(local(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void write(const QString& name, const QByteArray& data) const
    {
        QFile f(local(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QString failureOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::exception& e) {
            return QString::fromStdString(e.what());
        }
        return QStringLiteral("<no failure>");
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        plat = new RoutingPlatform;
        plat->programPath = local(QStringLiteral("console"));
        http = new HttpStub;
        plat->target = http->base();
        http->bodies = {{"/updates/updates.txt", kList22},
                        {"/updates2/updates.txt", kList23},
                        {"/updates3/updates3.txt", kList30}};
        labels.clear();
    }

    void cleanup()
    {
        Releases::SetDownloadTimeoutMs(30000);
        delete http;
        delete plat;
        delete dir;
    }

    void findsFirstFileRecordForTheName_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("version");
        QTest::newRow("first FILE record, other kinds passed over") << kList22 << "TRELEDI.EXE" << "2.2.1.30";
        QTest::newRow("lower-case name") << kList22 << "treledi.exe" << "2.2.1.30";
        // Records that match only an uncut path come first.
        const QByteArray pathRecords = "FILE;C:;a;9;9;9;9;0;b\nFILE;EDI\\;a;9;9;9;9;0;b\n"
                                       "FILE;EDI/;a;9;9;9;9;0;b\nFILE;TRELEDI.EXE;a;1;2;3;4;0;b\n";
        QTest::newRow("windows path cut") << pathRecords << "C:\\EDI\\TRELEDI.EXE" << "1.2.3.4";
        QTest::newRow("path of this system cut") << pathRecords << "/opt/edi/treledi.exe" << "1.2.3.4";
        QTest::newRow("drive without folder cut") << pathRecords << "C:TRELEDI.EXE" << "1.2.3.4";
        QTest::newRow("shorter name is a substring and comes first")
            << QByteArray("FILE;EDI.EXE;a;5;6;7;8;0;b\nFILE;TRELEDI.EXE;a;1;2;3;4;0;b\n")
            << "TRELEDI.EXE" << "5.6.7.8";
        QTest::newRow("empty file name never matches")
            << QByteArray("FILE;;a;9;9;9;9;0;b\nFILE;TRELEDI.EXE;a;-1;0;0;2;0;b\n")
            << "TRELEDI.EXE" << "-1.0.0.2";
        QTest::newRow("lower-case kind or name is not found")
            << QByteArray("file;TRELEDI.EXE;a;9;9;9;9;0;b\nFILE;treledi.exe;a;9;9;9;9;0;b\n")
            << "TRELEDI.EXE" << "";
        QTest::newRow("empty list") << QByteArray() << "TRELEDI.EXE" << "";
    }

    void findsFirstFileRecordForTheName()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, program);
        QFETCH(QString, version);
        http->bodies[QStringLiteral("/updates/updates.txt")] = list;
        QCOMPARE(Releases::UpdateAvailableVer(program, QStringLiteral("2.2")), version);
        QCOMPARE(plat->lastDownloadTimeoutMs, 30000);
    }

    void releaseLineChoosesServerPathAndLocalCopy()
    {
        write(QStringLiteral("updates.txt"), "stale");
        write(QStringLiteral("updates3.txt"), "stale");
        QCOMPARE(Releases::UpdateAvailableVer(QStringLiteral("TRELEDI3.EXE"), QStringLiteral("3.0")),
                 QStringLiteral("3.0.2.5"));
        QVERIFY(!QFile::exists(local(QStringLiteral("updates.txt"))));
        QCOMPARE(contents(QStringLiteral("updates3.txt")), kList30);

        // An unknown release line reads the 3.0 list from "updates.txt".
        QCOMPARE(Releases::UpdateAvailableVer(QStringLiteral("TRELEDI3.EXE"), QStringLiteral("3.1")),
                 QStringLiteral("3.0.2.5"));
        QCOMPARE(contents(QStringLiteral("updates.txt")), kList30);

        QCOMPARE(Releases::UpdateAvailableVer(QStringLiteral("TRELEDI.EXE"), QStringLiteral("2.3")),
                 QStringLiteral("2.3.0.47"));
        QCOMPARE(contents(QStringLiteral("updates.txt")), kList23);
        QCOMPARE(http->requested, QStringList({"/updates3/updates3.txt", "/updates3/updates3.txt",
                                               "/updates2/updates.txt"}));
    }

    void failedDownloadNamesTheFullAddress_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("not found") << "404";
        QTest::newRow("nothing listening") << "closed";
        QTest::newRow("never answers") << "hang";
    }

    void failedDownloadNamesTheFullAddress()
    {
        QFETCH(QString, server);
        write(QStringLiteral("updates.txt"), "FILE;TRELEDI.EXE;a;1;1;1;1;0;b");
        http->bodies.clear();
        if (server == QLatin1String("closed")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            plat->target = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        }
        http->hang = server == QLatin1String("hang");
        Releases::SetDownloadTimeoutMs(1000);
        QElapsedTimer clock;
        clock.start();
        const QString failure = failureOf(
            [] { Releases::UpdateAvailableVer(QStringLiteral("TRELEDI.EXE"), QStringLiteral("2.2")); });
        QCOMPARE(failure, QStringLiteral("Error downloading URL: ") + Releases::UpdateServerURL()
                              + QStringLiteral("/updates/updates.txt"));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!QFile::exists(local(QStringLiteral("updates.txt")))); // no stale list survives
    }

    void malformedListFailsWithItsReadingError()
    {
        http->bodies[QStringLiteral("/updates2/updates.txt")] = "FILE;TRELEDI.EXE\r\n";
        QVERIFY_THROWS_EXCEPTION(UpdateFile::UpdateFileError,
                                 Releases::UpdateAvailableVer(QStringLiteral("TRELEDI.EXE"), QStringLiteral("2.3")));
    }

    void labelOnShowHoldsThreeVersions()
    {
        Releases::FillEdiVersionsOnShow(setLabel);
        QCOMPARE(labels.last(), QStringLiteral("Current EDI Versions: 2.2.1.30 and 2.3.0.47 and 3.0.2.5"));

        // A program missing from the 2.2 list leaves a gap, not a failure.
        http->bodies[QStringLiteral("/updates/updates.txt")] = kList30;
        Releases::FillEdiVersionsOnShow(setLabel);
        QCOMPARE(labels.last(), QStringLiteral("Current EDI Versions:  and 2.3.0.47 and 3.0.2.5"));
    }

    void labelOnTimerHoldsTwoVersions()
    {
        QObject owner;
        QStringList failures;
        const auto failed = [&](const QString& f) { failures << f; };
        Releases::RefreshEdiVersionsInBackground(&owner, setLabel, failed);
        // Back at once, before any list has arrived; a tick meanwhile adds nothing.
        QCOMPARE(labels, QStringList{QStringLiteral("Looking up current EDI version...")});
        Releases::RefreshEdiVersionsInBackground(&owner, setLabel, failed);
        QTRY_COMPARE(labels.last(), QStringLiteral("Current EDI Versions: 2.2.1.30 and 2.3.0.47"));
        QCOMPARE(labels.size(), 3);
        QVERIFY(failures.isEmpty());
        QCOMPARE(http->requested, QStringList({"/updates/updates.txt", "/updates2/updates.txt"}));
    }

    void failingSecondLookupKeepsTheFirstVersion()
    {
        http->bodies.remove(QStringLiteral("/updates2/updates.txt"));
        const QString expected = QStringLiteral("Error downloading URL: ") + Releases::UpdateServerURL()
            + QStringLiteral("/updates2/updates.txt");
        QCOMPARE(failureOf([this] { Releases::FillEdiVersionsOnShow(setLabel); }), expected);
        QCOMPARE(labels.last(), QStringLiteral("Current EDI Versions: 2.2.1.30"));
        QVERIFY(!http->requested.contains(QStringLiteral("/updates3/updates3.txt")));
        labels.clear();
        QObject owner;
        QStringList failures;
        Releases::RefreshEdiVersionsInBackground(&owner, setLabel, [&](const QString& f) { failures << f; });
        QTRY_COMPARE(failures, QStringList{expected});
        QCOMPARE(labels.last(), QStringLiteral("Current EDI Versions: 2.2.1.30"));
    }
};

QTEST_MAIN(TestReleases)
#include "test_releases.moc"
