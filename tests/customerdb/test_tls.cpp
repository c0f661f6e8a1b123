// The console's connection to an office server over TLS: a server of this
// test's own on 127.0.0.1 with a certificate signed by a private authority
// (made by the test server script with openssl), reached through a libpq
// service with sslmode=verify-full as the README sets one up.
#include "customerdb/DataModule.h"
#include "customerdb/Settings.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace Db;

class TestTls : public QObject {
    Q_OBJECT

private:
    QString m_dir;
    QString m_ca, m_otherCa;

    void server(const QString& command, QByteArray* out = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("bash"), {QStringLiteral(TRELLANE_PG_TEST_SERVER), command, m_dir});
        QVERIFY2(p.waitForFinished(120000) && p.exitCode() == 0, qPrintable(command + QStringLiteral(" failed")));
        if (out)
            *out = p.readAllStandardOutput();
    }

    static ConnectionSettings service(const QString& name)
    {
        ConnectionSettings s;
        s.backend = Backend::PostgreSQL;
        s.pgService = name;
        return s;
    }

private slots:
    void initTestCase()
    {
        // A free port on loopback: other tests' servers listen on sockets.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        const QString shared = qEnvironmentVariable("PGHOST");
        QTemporaryDir dir(shared.startsWith(QLatin1Char('/')) ? shared + QStringLiteral("/tls-XXXXXX")
                                                              : QStringLiteral("/tmp/trl-tls-XXXXXX"));
        dir.setAutoRemove(false);  // the server script removes it
        m_dir = dir.path();
        qputenv("TRELLANE_PG_PORT", QByteArray::number(port));
        QByteArray env;
        server(QStringLiteral("start-tls"), &env);
        m_ca = m_dir + QStringLiteral("/ca.crt");
        m_otherCa = m_dir + QStringLiteral("/other-ca.crt");
        QVERIFY(env.contains("TRELLANE_TLS_CA=" + m_ca.toUtf8()));

        // The services of the README, one trusting the server's authority
        // and one trusting another; only the service file says where to go.
        QFile file(m_dir + QStringLiteral("/pg_service.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const auto& [name, root] : {std::pair{"trellane_customer", m_ca}, std::pair{"trellane_wrong_ca", m_otherCa}})
            file.write(QStringLiteral("[%1]\nhost=localhost\nport=%2\ndbname=postgres\nuser=postgres\n"
                                      "sslmode=verify-full\nsslrootcert=%3\n\n")
                           .arg(QLatin1String(name))
                           .arg(port)
                           .arg(root)
                           .toUtf8());
        file.close();
        qputenv("PGSERVICEFILE", file.fileName().toLocal8Bit());
        for (const char* var : {"PGHOST", "PGPORT", "PGUSER", "PGSSLMODE", "PGSSLROOTCERT"})
            qunsetenv(var);
    }

    void cleanupTestCase()
    {
        if (!m_dir.isEmpty())
            server(QStringLiteral("stop"));
    }

    // The console's own connection is encrypted, as the server sees it, and
    // works as usual: the tables are made and an account is written and
    // recorded.
    void connectionIsEncrypted()
    {
        TDataModule dm(service(QStringLiteral("trellane_customer")), service(QStringLiteral("trellane_customer")));
        Connection& conn = *dm.connTrellaneEMC;
        Settings::connect(conn);
        QCOMPARE(conn.scalar(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")).toBool(), true);
        QVERIFY(conn.scalar(QStringLiteral("SELECT version FROM pg_stat_ssl WHERE pid = pg_backend_pid()"))
                    .toString()
                    .startsWith(QLatin1String("TLS")));
        conn.createSchema();
        requireUsable(conn);
        conn.exec(QStringLiteral("INSERT INTO registration (serialnumber, city) VALUES (7, 'OVER TLS')"));
        const QList<Change> changes = changesOf(conn, {QStringLiteral("Registration")}, QStringLiteral("7"));
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.last().who, QStringLiteral("postgres"));
    }

    // A server whose certificate another authority signed is refused before
    // anything is sent, with words that say so and name the service.
    void certificateOfAnotherAuthorityIsRefused()
    {
        TDataModule dm(service(QStringLiteral("trellane_wrong_ca")), service(QStringLiteral("trellane_wrong_ca")));
        QString message;
        try {
            Settings::connect(*dm.connTrellaneEMC);
        } catch (const EngineError& e) {
            message = e.message();
        }
        QVERIFY2(message.contains(QLatin1String("certificate verify failed")), qPrintable(message));
        QVERIFY2(message.contains(QLatin1String("the PostgreSQL service \"trellane_wrong_ca\"")), qPrintable(message));
        QVERIFY2(message.contains(QLatin1String("is not signed by the certificate authority that the service trusts")),
                 qPrintable(message));
        QVERIFY(!dm.connTrellaneEMC->isConnected());
    }
};

QTEST_MAIN(TestTls)
#include "test_tls.moc"
