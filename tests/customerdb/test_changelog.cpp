// The record of who changed what: entries of an Add, a Save and a Delete of
// every recorded table with their old and new values, nothing left by a
// rolled-back Save, billing run entries, what keeps a console from using a
// database, and on PostgreSQL the consoles' role (its changes recorded
// under its login; no rights to alter the record or the tables).
// trellane-admin history prints the same.
#include "customerdb/Schema.h"
#include "tests/support/TestDb.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Db;

class TestChangeLog : public QObject {
    Q_OBJECT

    std::unique_ptr<Connection> conn;
    ConnectionSettings settings;

    QString who() const { return TestDb::isPostgres() ? QStringLiteral("postgres") : QStringLiteral("clerk"); }
    QList<Change> of(const QString& table, const QString& key) { return changesOf(*conn, {table}, key); }

    // What fn throws, or an empty text.
    template <typename Fn>
    static QString errorOf(Fn fn)
    {
        try {
            fn();
        } catch (const EngineError& e) {
            return e.message();
        }
        return QString();
    }

    // A session of its own as the PostgreSQL role login.
    QSqlDatabase loginSession(const QString& login)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), login);
        db.setDatabaseName(settings.pgDatabase);
        db.setUserName(login);
        return db;
    }

    QStringList admin(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        static QTemporaryDir noSettings;
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), noSettings.path());
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), noSettings.path());
        p.setProcessEnvironment(env);
        const QStringList where = TestDb::isPostgres()
            ? QStringList{QStringLiteral("--pg-database"), settings.pgDatabase}
            : QStringList{QStringLiteral("--customer-sqlite"), settings.sqliteFile};
        p.start(QStringLiteral(TRELLANE_ADMIN), args + where);
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            return {QStringLiteral("failed: ") + QString::fromUtf8(p.readAllStandardError())};
        return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void init()
    {
        settings = TestDb::fresh(QStringLiteral("changelog"));
        conn = std::make_unique<Connection>(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        conn->setSettings(settings);
        conn->setTitle(QStringLiteral("customer database"));
        conn->setRecordingUser(QStringLiteral("clerk"));
        conn->createSchema();
    }
    void cleanup() { conn.reset(); }

    void addSaveDelete_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("keyField");
        QTest::addColumn<QVariant>("keyValue");
        QTest::addColumn<QString>("key");  // as recorded
        QTest::addColumn<QString>("field");
        QTest::newRow("account") << "Registration" << "SerialNumber" << QVariant(12) << "12" << "City";
        QTest::newRow("dealer") << "Dealers" << "DealerCode" << QVariant("D9") << "D9" << "Name";
        QTest::newRow("submitter ID") << "Submitters" << "SerialNumber" << QVariant(12) << "12" << "IPAddress";
        // A request is named by its row id: the first row of a fresh table.
        QTest::newRow("request") << "Requests" << "RegisterName" << QVariant("WEB") << "1" << "City";
    }
    void addSaveDelete()
    {
        QFETCH(QString, table);
        QFETCH(QString, keyField);
        QFETCH(QVariant, keyValue);
        QFETCH(QString, key);
        QFETCH(QString, field);
        Table t(conn.get());
        t.setTableName(table);
        t.open();
        t.append();
        t.fieldByName(keyField).setValue(keyValue);
        t.fieldByName(field).setValue(QStringLiteral("OLD"));
        t.post();
        QList<Change> c = of(table, key);
        QCOMPARE(c.size(), 2);
        for (const Change& added : c) {
            QCOMPARE(added.action, QStringLiteral("INSERT"));
            QCOMPARE(added.who, who());
            QVERIFY(added.oldValue.isNull());
            QVERIFY(added.field == keyField || added.field == field);
            QCOMPARE(added.newValue, added.field == field ? QStringLiteral("OLD") : keyValue.toString());
            QVERIFY(qAbs(added.when.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        }

        t.edit();
        t.fieldByName(field).setValue(QStringLiteral("NEW"));
        t.post();
        c = of(table, key);
        QCOMPARE(c.size(), 3);
        QCOMPARE(QStringList({c[0].action, c[0].field, c[0].oldValue, c[0].newValue}),
                 QStringList({QStringLiteral("UPDATE"), field, QStringLiteral("OLD"), QStringLiteral("NEW")}));

        t.del();
        c = of(table, key);
        QCOMPARE(c.size(), 5);
        QCOMPARE(c[0].action, QStringLiteral("DELETE"));
        QCOMPARE(c[1].action, QStringLiteral("DELETE"));
        for (const Change& deleted : c.mid(0, 2)) {
            QVERIFY(deleted.newValue.isNull());
            QCOMPARE(deleted.oldValue, deleted.field == field ? QStringLiteral("NEW") : keyValue.toString());
        }
    }

    // Values of every kind read alike on both backends; a Save rolled back
    // leaves no entry.
    void valuesAndRollback()
    {
        Table reg(conn.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        reg.append();
        reg.fieldByName(QStringLiteral("SerialNumber")).setValue(5);
        reg.fieldByName(QStringLiteral("HasHCFA")).setValue(true);
        reg.fieldByName(QStringLiteral("ExpiresProf")).setValue(QDate(2026, 12, 9));
        reg.fieldByName(QStringLiteral("DealerAnnual")).setValue(2.5);
        reg.fieldByName(QStringLiteral("NOTES")).setValue(QStringLiteral("one\ntwo"));
        reg.post();
        reg.edit();
        reg.fieldByName(QStringLiteral("HasHCFA")).setValue(false);
        reg.fieldByName(QStringLiteral("ExpiresProf")).setNull();
        reg.fieldByName(QStringLiteral("DealerAnnual")).setValue(3.0);
        reg.post();
        QHash<QString, QStringList> changed;  // "old>new", newest first
        auto text = [](const QString& v) { return v.isNull() ? QStringLiteral("(null)") : v; };
        for (const Change& c : of(QStringLiteral("Registration"), QStringLiteral("5")))
            changed[c.field] << text(c.oldValue) + QLatin1Char('>') + text(c.newValue);
        QCOMPARE(changed.value(QStringLiteral("HasHCFA")), QStringList({"true>false", "(null)>true"}));
        QCOMPARE(changed.value(QStringLiteral("ExpiresProf")), QStringList({"2026-12-09>(null)", "(null)>2026-12-09"}));
        QCOMPARE(changed.value(QStringLiteral("DealerAnnual")), QStringList({"2.5>3", "(null)>2.5"}));
        QCOMPARE(changed.value(QStringLiteral("NOTES")), QStringList({"(null)>one\ntwo"}));

        const qsizetype before = of(QStringLiteral("Registration"), QStringLiteral("5")).size();
        conn->beginTransaction();
        reg.edit();
        reg.fieldByName(QStringLiteral("City")).setValue(QStringLiteral("NOWHERE"));
        reg.post();
        conn->rollback();
        QCOMPARE(of(QStringLiteral("Registration"), QStringLiteral("5")).size(), before);
    }

    // The console makes no table: what a database lacks is named.
    void unusableDatabaseIsNamed()
    {
        QCOMPARE(accessProblems(*conn), QStringList());
        // Another program damages the database (this session's own
        // recording would keep SQLite from it).
        RecordingSuspended unrecorded(*conn);
        conn->exec(QStringLiteral("ALTER TABLE %1 DROP COLUMN %2").arg(conn->quoteName(QStringLiteral("Dealers")),
                                                                      conn->quoteName(QStringLiteral("WebAddress"))));
        conn->exec(QStringLiteral("DROP TABLE %1").arg(conn->quoteName(QStringLiteral("ChangeLog"))));
        conn->exec(QStringLiteral("DROP TABLE %1").arg(conn->quoteName(QStringLiteral("Requests"))));
        QCOMPARE(accessProblems(*conn),
                 QStringList({"the table Dealers lacks the fields WebAddress", "the table Requests is missing",
                              "the record of changes (the table ChangeLog) is missing"}));
        const QString message = errorOf([&] { requireUsable(*conn); });
        QVERIFY2(message.startsWith(QLatin1String("The customer database cannot be used by this console:\n- the table Dealers")),
                 qPrintable(message));
        QVERIFY(message.contains(QLatin1String("\"trellane-admin create\"")));
    }

    // A login of the consoles' role: its changes recorded under its name,
    // the record and the tables beyond its reach.
    void consoleRole()
    {
        if (!TestDb::isPostgres())
            QSKIP("roles are PostgreSQL's");
        const QString group = settings.pgDatabase + QStringLiteral("_console");
        const QString login = settings.pgDatabase + QStringLiteral("_clerk");
        grantConsoleRole(*conn, group);
        grantLogin(*conn, login, group);
        conn->exec(QStringLiteral("INSERT INTO registration (serialnumber, city) VALUES (3, 'DAYTON')"));
        {
            QSqlDatabase db = loginSession(login);
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            QVERIFY2(q.exec(QStringLiteral("UPDATE registration SET city = 'AKRON' WHERE serialnumber = 3")),
                     qPrintable(q.lastError().text()));
            QVERIFY(q.exec(QStringLiteral("SELECT trellane_record_run('direct', 'M', '1 accounts')")));
            QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM changelog")) && q.next());
            for (const char* refused :
                 {"UPDATE changelog SET changed_by = 'someone'", "DELETE FROM changelog", "TRUNCATE changelog",
                  "INSERT INTO changelog (table_name, action) VALUES ('Registration', 'UPDATE')",
                  "CREATE TABLE extra (a INTEGER)", "DROP TABLE dealers", "ALTER TABLE registration ADD COLUMN x INTEGER"}) {
                QVERIFY2(!q.exec(QLatin1String(refused)), refused);
                QCOMPARE(q.lastError().nativeErrorCode(), QStringLiteral("42501"));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(login);
        const QList<Change> c = of(QStringLiteral("Registration"), QStringLiteral("3"));
        QCOMPARE(c.size(), 3);
        QCOMPARE(QStringList({c[0].who, c[0].field, c[0].oldValue, c[0].newValue}),
                 QStringList({login, QStringLiteral("City"), QStringLiteral("DAYTON"), QStringLiteral("AKRON")}));
        QCOMPARE(billingRuns(*conn).value(0).who, login);

        // The login sees a usable database until it leaves the role.
        Connection asLogin(QStringLiteral("asLogin"), &CustomerDb::catalog());
        asLogin.setSettings(settings);
        const QByteArray user = qgetenv("PGUSER");
        qputenv("PGUSER", login.toUtf8());
        asLogin.connect();
        qputenv("PGUSER", user);
        QCOMPARE(accessProblems(asLogin), QStringList());
        revokeLogin(*conn, login, group);
        QCOMPARE(accessProblems(asLogin).value(0),
                 QStringLiteral("the role \"%1\" may not SELECT, INSERT, UPDATE, DELETE on Registration").arg(login));
    }

    // The admin tool prints what the History window lists, one line each.
    void adminHistory()
    {
        conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (4, 'DAYTON')")
                       .arg(conn->quoteName(QStringLiteral("Registration")), conn->quoteName(QStringLiteral("SerialNumber")),
                            conn->quoteName(QStringLiteral("City"))));
        conn->exec(QStringLiteral("UPDATE %1 SET %2 = 'A\tB\nC' WHERE %3 = 4")
                       .arg(conn->quoteName(QStringLiteral("Registration")), conn->quoteName(QStringLiteral("City")),
                            conn->quoteName(QStringLiteral("SerialNumber"))));
        conn->exec(QStringLiteral("INSERT INTO %1 (%2) VALUES ('D1')")
                       .arg(conn->quoteName(QStringLiteral("Dealers")), conn->quoteName(QStringLiteral("DealerCode"))));
        recordBillingRun(*conn, QStringLiteral("reseller"), QStringLiteral("D1"), QStringLiteral("2 accounts"));
        conn->disconnect();
        const QStringList account = admin({QStringLiteral("history"), QStringLiteral("4")});
        QCOMPARE(account.size(), 3);
        const QString user = who();
        QCOMPARE(account[0].section(QLatin1Char('\t'), 1), user + QStringLiteral("\tChanged\tCity\tDAYTON\tA\\tB\\nC"));
        QVERIFY(account[1].endsWith(QStringLiteral("\tAdded\tSerialNumber\t\t4")) || account[2].endsWith(QStringLiteral("\tAdded\tSerialNumber\t\t4")));
        QCOMPARE(admin({QStringLiteral("history"), QStringLiteral("--dealer"), QStringLiteral("D1")}).value(0).section(QLatin1Char('\t'), 2),
                 QStringLiteral("Added\tDealerCode\t\tD1"));
        QCOMPARE(admin({QStringLiteral("history"), QStringLiteral("--runs")}).value(0).section(QLatin1Char('\t'), 1),
                 user + QStringLiteral("\tBilling run\treseller run for D1\t\t2 accounts"));
    }
};

QTEST_MAIN(TestChangeLog)
#include "test_changelog.moc"
