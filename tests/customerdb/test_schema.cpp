// The customer database: layouts, unique account numbers, the stored
// queries run on this backend with a pinned today, the calculated release
// name, and the demo and generated data sets.
#include "admin/DemoData.h"
#include "customerdb/DataVersionName.h"
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "customerdb/Settings.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QSqlRecord>
#include <QtTest>

using namespace Db;

class TestSchema : public QObject {
    Q_OBJECT

    std::unique_ptr<Connection> conn;
    const QDate today{2026, 12, 9};

    void addAccount(Table& reg, int serial, const QVariant& dealer, const QVariant& prof,
                    const QVariant& inst = {}, const QVariant& era = {})
    {
        reg.append();
        reg.fieldByName(QStringLiteral("SerialNumber")).setValue(serial);
        reg.fieldByName(QStringLiteral("RegisterName")).setValue(QStringLiteral("ACCOUNT %1").arg(serial, 3, 10, QLatin1Char('0')));
        reg.fieldByName(QStringLiteral("ChartNumber")).setValue(QStringLiteral("C%1").arg(serial));
        if (!dealer.isNull())
            reg.fieldByName(QStringLiteral("DealerCode")).setValue(dealer);
        if (!prof.isNull())
            reg.fieldByName(QStringLiteral("ExpiresProf")).setValue(today.addDays(prof.toInt()));
        if (!inst.isNull())
            reg.fieldByName(QStringLiteral("ExpiresInst")).setValue(today.addDays(inst.toInt()));
        if (!era.isNull())
            reg.fieldByName(QStringLiteral("ExpiresERA")).setValue(today.addDays(era.toInt()));
        reg.post();
    }

    QList<int> serials(Query& q)
    {
        QList<int> out;
        for (q.first(); !q.eof(); q.next())
            out << q.fieldByName(QStringLiteral("SerialNumber")).asInteger();
        return out;
    }

private slots:
    void init()
    {
        conn = std::make_unique<Connection>(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        conn->setSettings(TestDb::fresh(QStringLiteral("schema")));
        conn->connect();
        conn->createSchema();
        conn->setPinnedToday(today);
    }
    void cleanup()
    {
        conn->disconnect();
        conn.reset();
    }

    void layoutsAndKeys()
    {
        const Catalog& c = CustomerDb::catalog();
        QCOMPARE(c.table(QStringLiteral("registration.adt"))->fields.size(), 39);
        QCOMPARE(c.table(QStringLiteral("Registration"))->fields.last().name, QStringLiteral("Expires"));
        QCOMPARE(c.table(QStringLiteral("Requests"))->fields.value(13).name, QStringLiteral("Medicare"));
        QCOMPARE(c.table(QStringLiteral("Requests"))->fields.value(14).name, QStringLiteral("Medicaid"));
        QVERIFY(c.table(QStringLiteral("Submitters"))->field(QStringLiteral("medisoftversion"))->calculated);
        QCOMPARE(Practice::catalog().table(QStringLiteral("MWPAT"))->fields.size(), 53);
        QCOMPARE(Practice::catalog().table(QStringLiteral("MWTRN"))->fields.size(), 56);

        Table reg(conn.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        QCOMPARE(reg.indexName(), QStringLiteral("SERIALNUMBER"));
        addAccount(reg, 1, QStringLiteral("ACME"), {});
        // The unique account number refuses a second account 1.
        reg.append();
        reg.fieldByName(QStringLiteral("SerialNumber")).setValue(1);
        QVERIFY_THROWS_EXCEPTION(EngineError, reg.post());
        reg.cancel();
        // Every search order of the account screen has its index.
        for (const char* f : {"DealerCode", "RegisterName", "OtherName", "Phone", "Fax", "ChartNumber", "City",
                              "State", "ZipCode", "DataVersion", "EDIVersion"})
            reg.setIndexFieldNames(QString::fromLatin1(f));

        // Creating the schema again keeps the data.
        conn->createSchema();
        reg.refresh();
        QCOMPARE(reg.recordCount(), 1);
        QCOMPARE(conn->storedSchemaVersion(), 1);
    }

    // A dealer code tells resellers apart: a second dealer with a stored
    // code is refused, and so is a code longer than the field, never cut.
    // A database that already holds a code twice still upgrades, and says
    // which codes stand in the way of the unique index.
    void dealerCodesAreUnique()
    {
        Table d(conn.get());
        CustomerDb::setupDealers(d);
        d.open();
        auto addDealer = [&](const QString& code) {
            d.append();
            d.fieldByName(QStringLiteral("DealerCode")).setValue(code);
            d.post();
        };
        addDealer(QStringLiteral("ACME"));
        QVERIFY_THROWS_EXCEPTION(EngineError, addDealer(QStringLiteral("ACME")));
        QCOMPARE(d.state(), DataSetState::Insert);
        d.cancel();
        d.append();
        try {
            d.fieldByName(QStringLiteral("DealerCode")).setValue(QStringLiteral("ACME-WEST-1"));
            QFAIL("a code longer than the field was taken");
        } catch (const EngineError& e) {
            QCOMPARE(e.message(), QStringLiteral("'ACME-WEST-1' is too long for DealerCode: it holds at most 10 characters."));
        }
        d.cancel();
        QCOMPARE(d.recordCount(), 1);
        d.close();

        conn->exec(QStringLiteral("DROP INDEX uq_dealers_dealercode"));
        for (const char* code : {"ACME", "BETA", "BETA", "CORE"})
            conn->exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (?)")
                           .arg(conn->quoteName(QStringLiteral("Dealers")), conn->quoteName(QStringLiteral("DealerCode"))),
                       {QString::fromLatin1(code)});
        QCOMPARE(conn->createSchema(),
                 QStringList{QStringLiteral("Dealers: DealerCode is not unique; stored more than once: ACME, BETA")});
        QCOMPARE(conn->scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(conn->quoteName(QStringLiteral("Dealers")))).toInt(), 5);
        QCOMPARE(conn->storedSchemaVersion(), 1);
    }

    // The console's databases come from the site settings: nothing in the
    // environment points it at other files.
    void databasesComeFromTheBuild()
    {
        qputenv("TRELLANE_CUSTOMER_DB", "/tmp/elsewhere-customer.sqlite");
        qputenv("TRELLANE_PRACTICE_DB", "/tmp/elsewhere-practice.sqlite");
        QVERIFY(!Settings::customerDatabase().sqliteFile.contains(QLatin1String("elsewhere")));
        QVERIFY(!Settings::practiceDatabase().sqliteFile.contains(QLatin1String("elsewhere")));
        qunsetenv("TRELLANE_CUSTOMER_DB");
        qunsetenv("TRELLANE_PRACTICE_DB");
    }

    void storedQueries()
    {
        QCOMPARE(CustomerDb::qryFutureRegsSql().size(), 18);
        QCOMPARE(CustomerDb::qryFutureRegsSql().value(16), QStringLiteral(" and (Reg.DealerCode <> 'M' or Reg.DealerCode is null) "));
        QCOMPARE(CustomerDb::qryFutureRegs2Sql().last(), QString());
        QCOMPARE(CustomerDb::qrySubIDSql().first(), QStringLiteral("Select "));

        // No accounts: the last number reads as 0.
        Query last(conn.get());
        last.setSql(CustomerDb::qryLastSerialSql());
        last.open();
        QVERIFY(last.fieldByName(QStringLiteral("LastSerial")).isNull());
        QCOMPARE(last.fieldByName(QStringLiteral("LastSerial")).asInteger(), 0);
        last.close();

        Table reg(conn.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        Table dealers(conn.get());
        CustomerDb::setupDealers(dealers);
        dealers.open();
        dealers.append();
        dealers.fieldByName(QStringLiteral("DealerCode")).setValue(QStringLiteral("ACME"));
        dealers.fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("ACME SOFTWARE"));
        dealers.fieldByName(QStringLiteral("VendorID")).setValue(QStringLiteral("V1"));
        dealers.post();

        // The renewal window: after tomorrow, up to today + 60.
        addAccount(reg, 1, QStringLiteral("ACME"), 0);
        addAccount(reg, 2, QStringLiteral("ACME"), 1);
        addAccount(reg, 3, QStringLiteral("ACME"), 2);
        addAccount(reg, 4, QStringLiteral("ACME"), 60);
        addAccount(reg, 5, QStringLiteral("ACME"), 61);
        addAccount(reg, 6, QVariant(), {}, 30);       // no reseller: listed
        addAccount(reg, 7, QStringLiteral("M"), 30);  // direct: never listed
        addAccount(reg, 8, QStringLiteral("ACME"), {}, {}, 74);
        addAccount(reg, 9, QStringLiteral("ACME"), {}, {}, 75);
        last.open();
        QCOMPARE(last.fieldByName(QStringLiteral("LastSerial")).asInteger(), 9);

        Query future(conn.get());
        future.setSql(CustomerDb::qryFutureRegsSql());
        future.open();
        QCOMPARE(serials(future), (QList<int>{6, 3, 4}));
        future.first();
        future.next();
        QCOMPARE(future.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("ACME SOFTWARE"));
        QCOMPARE(future.fieldByName(QStringLiteral("ExpiresProf")).asDate(), today.addDays(2));

        Query future2(conn.get());
        future2.setSql(CustomerDb::qryFutureRegs2Sql());
        future2.setParam(QStringLiteral("dcode"), QStringLiteral("ACME"));
        future2.open();
        QCOMPARE(serials(future2), (QList<int>{3, 4, 5, 8}));
        QCOMPARE(future2.fieldByName(QStringLiteral("HasHCFA")).asBoolean(), false);

        // A submitter ID reported for two accounts yields two rows.
        Table subs(conn.get());
        CustomerDb::setupSubmitters(subs, reg);
        subs.open();
        for (int serial : {2, 5}) {
            QVERIFY(reg.findKey({serial}));
            subs.append();
            subs.fieldByName(QStringLiteral("SubmitterID")).setValue(QStringLiteral("SUB77"));
            subs.fieldByName(QStringLiteral("DataVersion")).setValue(QStringLiteral("22"));
            subs.post();
            QCOMPARE(subs.fieldByName(QStringLiteral("SerialNumber")).asInteger(), serial);
            QCOMPARE(subs.fieldByName(QStringLiteral("MedisoftVersion")).asString(), QStringLiteral("11 SP3 or SP4"));
        }
        Query subID(conn.get());
        subID.setSql(CustomerDb::qrySubIDSql());
        subID.setParam(QStringLiteral("subid"), QStringLiteral("SUB77"));
        subID.open();
        QList<int> found = serials(subID);
        std::sort(found.begin(), found.end());
        QCOMPARE(found, (QList<int>{2, 5}));

        Query vendor(conn.get());
        vendor.setSql(CustomerDb::qryVendorIDSql());
        vendor.setParam(QStringLiteral("vid"), QStringLiteral("V1"));
        vendor.open();
        QCOMPARE(vendor.fieldByName(QStringLiteral("DealerCode")).asString(), QStringLiteral("ACME"));
        Query dealer(conn.get());
        dealer.setSql(CustomerDb::qryDealerSql());
        dealer.setParam(QStringLiteral("cod"), QStringLiteral("ACME"));
        dealer.open();
        QCOMPARE(dealer.fieldByName(QStringLiteral("VendorID")).asString(), QStringLiteral("V1"));
    }

    void calculatedReleaseName()
    {
        Table reg(conn.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        addAccount(reg, 1, QStringLiteral("ACME"), {});
        Table subs(conn.get());
        CustomerDb::setupSubmitters(subs, reg);
        subs.open();
        QCOMPARE(subs.indexFields().value(0), QStringLiteral("SerialNumber"));
        const QList<QPair<const char*, const char*>> cases = {
            {"22", "11 SP3 or SP4"}, {" 24", "14"}, {"", "?"}, {"abc", "?"}, {"16", "?"}, {"29", "?"}};
        int n = 0;
        for (const auto& c : cases) {
            subs.append();
            subs.fieldByName(QStringLiteral("SubmitterID")).setValue(QStringLiteral("S%1").arg(++n));
            subs.fieldByName(QStringLiteral("DataVersion")).setValue(QString::fromLatin1(c.first));
            subs.post();
        }
        // Every fetch computes the name again; it is never stored.
        subs.refresh();
        n = 0;
        for (subs.first(); !subs.eof(); subs.next()) {
            const auto& c = cases.at(n++);
            QCOMPARE(subs.fieldByName(QStringLiteral("MedisoftVersion")).asString(), QString::fromLatin1(c.second));
        }
        QCOMPARE(n, int(cases.size()));
        QVERIFY(!conn->database().record(TestDb::isPostgres() ? QStringLiteral("submitters") : QStringLiteral("Submitters"))
                     .contains(QStringLiteral("MedisoftVersion")));

        Table dealers(conn.get()), requests(conn.get());
        CustomerDb::setupDealers(dealers);
        CustomerDb::setupRequests(requests);
        dealers.open();
        requests.open();
        QCOMPARE(dealers.indexFields(), QStringList{QStringLiteral("DealerCode")});
        QCOMPARE(requests.indexName(), QStringLiteral("REGISTERNAME"));
    }

    void releaseNames()
    {
        QCOMPARE(DataVersionName(QStringLiteral("17")), QStringLiteral("8"));
        QCOMPARE(DataVersionName(QStringLiteral("22")), QStringLiteral("11 SP3 or SP4"));
        QCOMPARE(DataVersionName(QStringLiteral("23")), QStringLiteral("12"));
        QCOMPARE(DataVersionName(QStringLiteral("24")), QStringLiteral("14"));
        QCOMPARE(DataVersionName(QStringLiteral("28")), QStringLiteral("17"));
        for (const char* bad : {"", "16", "29", "abc", "2.5", "-22"})
            QCOMPARE(DataVersionName(QString::fromLatin1(bad)), QStringLiteral("?"));
    }

    void demoAndGeneratedData()
    {
        TestPlatform platform;
        Connection practice(QStringLiteral("connMedisoft"), &Practice::catalog());
        practice.setSettings(TestDb::fresh(QStringLiteral("schema_p")));
        practice.connect();
        practice.createSchema();
        const DemoData::Summary first = DemoData::load(*conn, practice, false);
        QVERIFY(first.loaded);
        QVERIFY(first.accounts >= 24);
        const DemoData::Summary again = DemoData::load(*conn, practice, false);
        QVERIFY(!again.loaded);
        QCOMPARE(again.accounts, first.accounts);
        QCOMPARE(DemoData::load(*conn, practice, true).accounts, first.accounts);

        // The demo set always gives the renewal list work.
        Query future(conn.get());
        future.setSql(CustomerDb::qryFutureRegsSql());
        future.open();
        QVERIFY(!future.isEmpty());

        QCOMPARE(DemoData::generate(*conn, 1000), qint64(first.accounts + 1000));
        Table reg(conn.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        reg.last();
        QCOMPARE(reg.fieldByName(QStringLiteral("SerialNumber")).asInteger(), first.accounts + 1000);
        reg.close();

        // A large batch rebuilds the account indexes afterwards: orders and
        // the unique account number work as before.
        const qint64 total = first.accounts + 1000 + 10000;
        QCOMPARE(DemoData::generate(*conn, 10000), total);
        reg.open();
        reg.last();
        QCOMPARE(reg.fieldByName(QStringLiteral("SerialNumber")).asInteger(), int(total));
        reg.setIndexFieldNames(QStringLiteral("ChartNumber"));
        QVERIFY(reg.findKey({QStringLiteral("G%1").arg(total, 7, 10, QLatin1Char('0'))}));
        QCOMPARE(reg.fieldByName(QStringLiteral("SerialNumber")).asInteger(), int(total));
        reg.append();
        reg.fieldByName(QStringLiteral("SerialNumber")).setValue(int(total));
        QVERIFY_THROWS_EXCEPTION(EngineError, reg.post());
        reg.cancel();
        practice.disconnect();
    }
};

QTEST_MAIN(TestSchema)
#include "test_schema.moc"
