// A console left open while its database goes away and comes back: on
// PostgreSQL a real server (this test's own, so that restarting it disturbs
// no other test) restarted or stopped between two actions; on SQLite a
// second connection holding the write lock.
#include "customerdb/DataModule.h"
#include "customerdb/Schema.h"
#include "dealers/DealersTab.h"
#include "helpers/Command.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QLineEdit>

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Db;

namespace {

const QString kLost = QStringLiteral("The connection to the customer database was lost: ");
const QString kNext = QStringLiteral(". The next action reconnects.");

// The message of the error fn throws, or an empty text when it succeeds.
template <typename Fn>
QString errorOf(Fn fn)
{
    try {
        fn();
    } catch (const EngineError& e) {
        return e.message();
    }
    return QString();
}

bool isLostMessage(const QString& m) { return m.startsWith(kLost) && m.endsWith(kNext); }

} // namespace

class TestReconnect : public QObject {
    Q_OBJECT

private:
    QString m_serverDir;
    std::unique_ptr<TDataModule> m_dm;

    void server(const QString& command)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("bash"), {QStringLiteral(TRELLANE_PG_TEST_SERVER), command, m_serverDir});
        QVERIFY2(p.waitForFinished(120000) && p.exitCode() == 0, qPrintable(command + QStringLiteral(" failed")));
    }

    static void newOrChanged()
    {
        QTest::addColumn<bool>("adding");
        QTest::newRow("new dealer") << true;
        QTest::newRow("changed dealer") << false;
    }

    Table& dealers() { return *m_dm->tblDealer; }
    QString code() { return dealers().fieldByName(QStringLiteral("DealerCode")).asString(); }
    qint64 countOf(const QString& dealerCode)
    {
        return m_dm->connTrellaneEMC->scalar(QStringLiteral("SELECT COUNT(*) FROM Dealers WHERE DealerCode = ?"),
                                            {dealerCode})
            .toLongLong();
    }

private slots:
    void initTestCase()
    {
        if (!TestDb::isPostgres())
            return;
        // Same port number as the shared server, offset: the socket lives in
        // this test's own folder either way.
        const int port = qEnvironmentVariableIntValue("PGPORT") > 0 ? qEnvironmentVariableIntValue("PGPORT") + 1000 : 56432;
        // Inside the shared server's folder when there is one, so that a
        // crash of this test leaves no server behind once that one stops.
        const QString shared = qEnvironmentVariable("PGHOST");
        QTemporaryDir dir(shared.startsWith(QLatin1Char('/')) ? shared + QStringLiteral("/reconnect-XXXXXX")
                                                              : QStringLiteral("/tmp/trl-rc-XXXXXX"));
        dir.setAutoRemove(false);  // the server script removes it
        m_serverDir = dir.path();
        qputenv("TRELLANE_PG_PORT", QByteArray::number(port));
        server(QStringLiteral("start"));
        qputenv("PGHOST", m_serverDir.toLocal8Bit());
        qputenv("PGPORT", QByteArray::number(port));
        qputenv("PGUSER", "postgres");
    }

    void cleanupTestCase()
    {
        m_dm.reset();
        if (!m_serverDir.isEmpty())
            server(QStringLiteral("stop"));
    }

    void init()
    {
        if (!TestDb::isPostgres())
            return;
        // A fresh Dealers table with D1..D5, the cursor on D3.
        ConnectionSettings s;
        s.backend = Backend::PostgreSQL;
        s.pgDatabase = QStringLiteral("postgres");
        m_dm = std::make_unique<TDataModule>(s, s);
        Connection* conn = m_dm->connTrellaneEMC;
        conn->createSchema();
        conn->exec(QStringLiteral("DELETE FROM Dealers"));
        for (const char* c : {"D1", "D2", "D3", "D4", "D5"})
            TestDb::insertRow(conn, QStringLiteral("Dealers"),
                              {{QStringLiteral("DealerCode"), QLatin1String(c)}, {QStringLiteral("Name"), QStringLiteral("Stored")}});
        dealers().open();
        QVERIFY(dealers().findKey({QStringLiteral("D3")}));
    }

    void cleanup() { m_dm.reset(); }

    // The first action after a restart reports the loss, the second works
    // on the same record, read again (another console changed it meanwhile);
    // an open query is re-run and stays at its row.
    void restartReportsOnceThenResumes()
    {
        if (!TestDb::isPostgres())
            QSKIP("a server restart is a PostgreSQL matter");
        Query q(m_dm->connTrellaneEMC);
        q.setSqlText(QStringLiteral("SELECT DealerCode FROM Dealers ORDER BY DealerCode"));
        q.open();
        QCOMPARE(q.moveBy(3), 3);

        server(QStringLiteral("restart"));
        const QString first = errorOf([&] { dealers().next(); });
        QVERIFY2(isLostMessage(first), qPrintable(first));
        QCOMPARE(code(), QStringLiteral("D3"));

        {
            Connection other(QStringLiteral("other"), &CustomerDb::catalog());
            other.setSettings(m_dm->connTrellaneEMC->settings());
            other.exec(QStringLiteral("UPDATE Dealers SET Name = 'Changed' WHERE DealerCode = 'D3'"));
        }
        QCOMPARE(errorOf([&] { dealers().refresh(); }), QString());
        QCOMPARE(code(), QStringLiteral("D3"));
        QCOMPARE(dealers().fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Changed"));
        QCOMPARE(q.fieldByName(QStringLiteral("DealerCode")).asString(), QStringLiteral("D4"));
        q.next();
        QCOMPARE(q.fieldByName(QStringLiteral("DealerCode")).asString(), QStringLiteral("D5"));
        dealers().next();
        QCOMPARE(code(), QStringLiteral("D4"));
    }

    // What changed while the server was down: the current dealer deleted,
    // the table of an open query dropped, names changed. The reconnect reads
    // every data set again and reports the one it could not, which reports
    // it again on its next use rather than reading as empty. The dealers move
    // to the next dealer and say so, and the first change after that is
    // refused rather than made to that dealer. A transaction open at the loss
    // cannot be committed after the reconnect.
    void whatChangedWhileDown()
    {
        if (!TestDb::isPostgres())
            QSKIP("a server restart is a PostgreSQL matter");
        Connection* conn = m_dm->connTrellaneEMC;
        conn->exec(QStringLiteral("CREATE TABLE scratch (n INTEGER)"));
        Query broken(conn);
        broken.setSqlText(QStringLiteral("SELECT n FROM scratch"));
        broken.open();
        Query later(conn);
        later.setSqlText(QStringLiteral("SELECT Name FROM Dealers"));
        later.open();
        conn->beginTransaction();
        conn->exec(QStringLiteral("INSERT INTO Dealers (DealerCode) VALUES ('D8')"));
        server(QStringLiteral("restart"));
        QVERIFY(isLostMessage(errorOf([&] { conn->scalar(QStringLiteral("SELECT 1")); })));
        Connection other(QStringLiteral("other"), &CustomerDb::catalog());
        other.setSettings(conn->settings());
        other.exec(QStringLiteral("DELETE FROM Dealers WHERE DealerCode = 'D3'; DROP TABLE scratch; "
                                  "UPDATE Dealers SET Name = 'Changed'"));
        QSignalSpy scrolls(&dealers(), &DataSet::afterScroll);
        QVERIFY(errorOf([&] { later.next(); }).contains(QLatin1String("scratch")));
        QCOMPARE(later.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Changed"));
        QVERIFY(errorOf([&] { broken.first(); }).contains(QLatin1String("scratch")));
        QCOMPARE(scrolls.count(), 1);
        QCOMPARE(code(), QStringLiteral("D4"));
        QCOMPARE(errorOf([&] { dealers().edit(); }), QStringLiteral("The record was changed or deleted by another user."));
        QVERIFY(isLostMessage(errorOf([&] { conn->commit(); })));
    }

    // A transaction open when the session went is gone: its commit fails,
    // nothing of it is stored, and the next transaction works.
    void transactionGoesWithTheSession()
    {
        if (!TestDb::isPostgres())
            QSKIP("a server restart is a PostgreSQL matter");
        Connection* conn = m_dm->connTrellaneEMC;
        conn->beginTransaction();
        conn->exec(QStringLiteral("INSERT INTO Dealers (DealerCode) VALUES ('D8')"));
        server(QStringLiteral("restart"));
        QVERIFY(isLostMessage(errorOf([&] { conn->commit(); })));
        conn->rollback();
        QVERIFY(!conn->inTransaction());
        QCOMPARE(countOf(QStringLiteral("D8")), 0);
        conn->beginTransaction();
        conn->exec(QStringLiteral("INSERT INTO Dealers (DealerCode) VALUES ('D8')"));
        conn->commit();
        QCOMPARE(countOf(QStringLiteral("D8")), 1);
    }

    // While the server stays down every action is refused with the same
    // message and the cursor stays; once it is back the next action works.
    void serverDownLongerThanOneAction()
    {
        if (!TestDb::isPostgres())
            QSKIP("a server restart is a PostgreSQL matter");
        server(QStringLiteral("halt"));
        for (int action = 0; action < 3; ++action) {
            const QString m = errorOf([&] { action == 0 ? dealers().next() : dealers().refresh(); });
            QVERIFY2(isLostMessage(m), qPrintable(m));
            QCOMPARE(code(), QStringLiteral("D3"));
        }
        server(QStringLiteral("start"));
        QCOMPARE(errorOf([&] { dealers().next(); }), QString());
        QCOMPARE(code(), QStringLiteral("D4"));
    }

    // The Dealers tab: a new dealer whose Save failed on the loss stays
    // pending with the typed entries; the next Save stores it once and the
    // panel shows it.
    void dealersTabSaveAcrossRestart_data() { newOrChanged(); }

    void dealersTabSaveAcrossRestart()
    {
        if (!TestDb::isPostgres())
            QSKIP("a server restart is a PostgreSQL matter");
        QFETCH(bool, adding);
        m_dm.reset();
        TestPlatform platform;
        TestConsole console(QStringLiteral("reconnect"));
        Table& t = *console.data().tblDealer;
        TestDb::insertRow(console.data().connTrellaneEMC, QStringLiteral("Dealers"),
                          {{QStringLiteral("DealerCode"), QStringLiteral("ACME")}, {QStringLiteral("Name"), QStringLiteral("STORED")}});
        auto* tab = new TDealersTab(console, console.host());
        t.open();
        auto box = [tab](const char* name) { return tab->findChild<QLineEdit*>(QLatin1String(name)); };
        const QString typedCode = adding ? QStringLiteral("NEW1") : QStringLiteral("ACME");
        if (adding) {
            tab->btnNewDealerClick();
            box("edtDealerCode")->setText(typedCode);
        }
        box("edtDealerName")->setText(QStringLiteral("TYPED NAME"));

        server(QStringLiteral("restart"));
        QVERIFY(!Trellane::runCommand([&] { tab->btnSavDealerClick(); }));
        QCOMPARE(platform.errors.size(), 1);
        QVERIFY2(isLostMessage(platform.errors.first()), qPrintable(platform.errors.first()));
        QCOMPARE(t.state(), adding ? DataSetState::Insert : DataSetState::Browse);
        QCOMPARE(box("edtDealerCode")->text(), typedCode);
        QCOMPARE(box("edtDealerName")->text(), QStringLiteral("TYPED NAME"));

        QVERIFY(Trellane::runCommand([&] { tab->btnSavDealerClick(); }));
        QCOMPARE(platform.errors.size(), 1);
        QCOMPARE(t.state(), DataSetState::Browse);
        QCOMPARE(box("edtDealerCode")->text(), typedCode);
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("TYPED NAME"));
        QCOMPARE(t.recordCount(), adding ? 2 : 1);
    }

    // SQLite: a Save refused because another connection holds the write
    // lock past the busy timeout says so, keeps the typed values, and the
    // next Save stores them once the lock is released.
    void lockedDatabaseKeepsTypedValues_data() { newOrChanged(); }

    void lockedDatabaseKeepsTypedValues()
    {
        if (TestDb::isPostgres())
            QSKIP("the write lock of a database file is a SQLite matter");
        QFETCH(bool, adding);
        ConnectionSettings s = TestDb::fresh(QStringLiteral("locked"));
        s.busyTimeoutMs = 200;
        TDataModule dm(s, s);
        dm.connTrellaneEMC->createSchema();
        TestDb::insertRow(dm.connTrellaneEMC, QStringLiteral("Dealers"), {{QStringLiteral("DealerCode"), QStringLiteral("D1")}});
        Table& t = *dm.tblDealer;
        t.open();
        if (adding) {
            t.append();
            t.fieldByName(QStringLiteral("DealerCode")).setValue(QStringLiteral("D2"));
        } else {
            t.edit();
        }
        t.fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("Typed"));
        const QString typed = t.fieldByName(QStringLiteral("DealerCode")).asString();

        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(s.sqliteFile);
            QVERIFY(holder.open());
            QSqlQuery lock(holder);
            QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
            const QString m = errorOf([&] { t.post(); });
            QVERIFY2(m.startsWith(QStringLiteral("The customer database is busy")), qPrintable(m));
            QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Typed"));
            QVERIFY(t.state() != DataSetState::Browse);
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
            holder.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        t.post();
        QCOMPARE(dm.connTrellaneEMC->scalar(QStringLiteral("SELECT COUNT(*) FROM Dealers WHERE DealerCode = ? AND Name = 'Typed'"),
                                            {typed})
                     .toLongLong(),
                 1);
        QCOMPARE(dm.connTrellaneEMC->scalar(QStringLiteral("SELECT COUNT(*) FROM Dealers")).toLongLong(), adding ? 2 : 1);
    }
};

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
