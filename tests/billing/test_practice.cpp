// The practice database stand-in: column names with blanks in any case, text
// cut to the column, case numbers given on posting, and the case and
// transaction tables following the billing query and the current case.
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "tests/support/TestDb.h"

#include <QtTest>

using namespace Db;

class TestPractice : public QObject {
    Q_OBJECT

    std::unique_ptr<Connection> conn;
    std::unique_ptr<Connection> customer;

    void addCase(Table& cas, const QString& chart, const QString& code, bool closed)
    {
        cas.append();
        cas.fieldByName(QStringLiteral("Chart Number")).setValue(chart);
        cas.fieldByName(QStringLiteral("Billing Code")).setValue(code);
        cas.fieldByName(QStringLiteral("Case Closed")).setValue(closed);
        cas.post();
    }

private slots:
    void init()
    {
        conn = std::make_unique<Connection>(QStringLiteral("connMedisoft"), &Practice::catalog());
        conn->setSettings(TestDb::fresh(QStringLiteral("practice")));
        conn->connect();
        conn->createSchema();
        customer = std::make_unique<Connection>(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        customer->setSettings(TestDb::fresh(QStringLiteral("practice_c")));
        customer->connect();
        customer->createSchema();
        customer->setPinnedToday(QDate(2026, 12, 9));
    }
    void cleanup()
    {
        conn->disconnect();
        customer->disconnect();
    }

    void patients()
    {
        Table pat(conn.get());
        Practice::setupMWPAT(pat);
        pat.open();
        pat.append();
        pat.fieldByName(QStringLiteral("Chart Number")).setValue(QStringLiteral("TRL00001"));
        pat.fieldByName(QStringLiteral("Email")).setValue(QStringLiteral("a-very-long-address-of-45-characters@x.example"));
        pat.fieldByName(QStringLiteral("Street 1")).setValue(QString(40, QLatin1Char('S')));
        pat.fieldByName(QStringLiteral("PATIENT ID #2")).setValue(QStringLiteral("P2"));
        pat.post();
        QVERIFY(pat.findKey({QStringLiteral("TRL00001")}));
        QVERIFY(!pat.findKey({QStringLiteral("TRL0000")}));
        QCOMPARE(pat.fieldByName(QStringLiteral("EMail")).asString().size(), 35);
        QCOMPARE(pat.fieldByName(QStringLiteral("Street 1")).asString(), QString(30, QLatin1Char('S')));
        QCOMPARE(pat.fieldByName(QStringLiteral("Patient ID #2")).asString(), QStringLiteral("P2"));
        pat.setIndexName(QStringLiteral("FULL NAME"));
        pat.setIndexName(QStringLiteral("PHONE 1"));
    }

    void casesFollowTheBillingQuery()
    {
        Table reg(customer.get());
        CustomerDb::setupRegistration(reg);
        reg.open();
        for (int serial : {1, 2, 3}) {
            reg.append();
            reg.fieldByName(QStringLiteral("SerialNumber")).setValue(serial);
            reg.fieldByName(QStringLiteral("ChartNumber")).setValue(QStringLiteral("CH%1").arg(serial));
            reg.fieldByName(QStringLiteral("RegisterName")).setValue(QStringLiteral("R%1").arg(serial));
            reg.fieldByName(QStringLiteral("DealerCode")).setValue(QStringLiteral("ACME"));
            reg.fieldByName(QStringLiteral("ExpiresProf")).setValue(QDate(2026, 12, 20));
            reg.post();
        }
        Query regs2(customer.get());
        regs2.setSql(CustomerDb::qryFutureRegs2Sql());
        regs2.setParam(QStringLiteral("dcode"), QStringLiteral("ACME"));

        Table cas(conn.get()), trn(conn.get()), def(conn.get()), all(conn.get());
        all.setTableName(QStringLiteral("MWCAS"));
        all.open();
        addCase(all, QStringLiteral("CH1"), QStringLiteral("E1"), false);
        addCase(all, QStringLiteral("CH1"), QStringLiteral("E1"), false);
        addCase(all, QStringLiteral("CH2"), QStringLiteral("E1"), true);
        addCase(all, QStringLiteral("CH2"), QStringLiteral("A1"), false);
        QVERIFY(all.fieldByName(QStringLiteral("Case Number")).asInteger() > 0);

        Practice::setupMWCAS(cas, regs2);
        Practice::setupMWTRN(trn, cas);
        Practice::setupMWDEF(def);
        regs2.open();
        cas.open();
        trn.open();
        def.open();
        QCOMPARE(regs2.fieldByName(QStringLiteral("ChartNumber")).asString(), QStringLiteral("CH1"));
        QCOMPARE(cas.recordCount(), 2);
        const int firstCase = cas.fieldByName(QStringLiteral("Case Number")).asInteger();

        // A charge on the current case.
        trn.append();
        trn.fieldByName(QStringLiteral("Procedure Code")).setValue(QStringLiteral("EMCPROF"));
        trn.fieldByName(QStringLiteral("Amount")).setValue(199.0);
        trn.post();
        QCOMPARE(trn.fieldByName(QStringLiteral("Case Number")).asInteger(), firstCase);
        cas.next();
        QVERIFY(trn.isEmpty());

        // Only closed or other-code cases: nothing, and the case number is null.
        regs2.next();
        QVERIFY(cas.isEmpty());
        QVERIFY(cas.fieldByName(QStringLiteral("Case Number")).isNull());
        // A new case gets the account's chart, the filter's values and a number.
        cas.append();
        cas.fieldByName(QStringLiteral("Description")).setValue(QStringLiteral("EMC"));
        cas.post();
        QCOMPARE(cas.fieldByName(QStringLiteral("Chart Number")).asString(), QStringLiteral("CH2"));
        QCOMPARE(cas.fieldByName(QStringLiteral("Billing Code")).asString(), QStringLiteral("E1"));
        QVERIFY(cas.fieldByName(QStringLiteral("Case Number")).asInteger() > firstCase);
        QCOMPARE(cas.recordCount(), 1);
        regs2.first();
        QCOMPARE(cas.fieldByName(QStringLiteral("Case Number")).asInteger(), firstCase);
        QCOMPARE(trn.recordCount(), 1);

        // Field defaults of other tables are filtered away.
        def.append();
        def.fieldByName(QStringLiteral("Field")).setValue(QStringLiteral("Referring Provider"));
        def.post();
        QCOMPARE(def.fieldByName(QStringLiteral("Table")).asString(), QStringLiteral("MWCAS"));
        conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ('MWPAT', 'Sex')")
                       .arg(conn->quoteName(QStringLiteral("MWDEF")), conn->quoteName(QStringLiteral("Table")),
                            conn->quoteName(QStringLiteral("Field"))));
        def.append();
        def.fieldByName(QStringLiteral("Field")).setValue(QStringLiteral("Billing Code"));
        def.post();
        def.refresh();
        QCOMPARE(def.recordCount(), 2);
        // Defaults come in the order they were stored, not sorted.
        def.first();
        QCOMPARE(def.fieldByName(QStringLiteral("Field")).asString(), QStringLiteral("Referring Provider"));
        def.next();
        QCOMPARE(def.fieldByName(QStringLiteral("Field")).asString(), QStringLiteral("Billing Code"));
        // A default naming a column the case table lacks fails when applied.
        QVERIFY_THROWS_EXCEPTION(EngineError, cas.fieldByName(QStringLiteral("No Such Column")));

        // Disconnecting closes every practice table.
        conn->disconnect();
        QVERIFY(!cas.isOpen() && !trn.isOpen() && !def.isOpen());
    }

    // A new case takes the number after the highest stored one, also when
    // cases came in with numbers of their own, and a number is never stored
    // twice.
    void caseNumbersFollowStoredCases()
    {
        Table cas(conn.get());
        cas.setTableName(QStringLiteral("MWCAS"));
        cas.setIndexFieldNames(QStringLiteral("Case Number"));
        cas.open();
        auto loadCase = [&](int number) {
            conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, 'CH9')")
                           .arg(conn->quoteName(QStringLiteral("MWCAS")), conn->quoteName(QStringLiteral("Case Number")),
                                conn->quoteName(QStringLiteral("Chart Number"))),
                       {number});
        };
        auto newCase = [&] {
            addCase(cas, QStringLiteral("CH1"), QStringLiteral("E1"), false);
            return cas.fieldByName(QStringLiteral("Case Number")).asInteger();
        };
        QCOMPARE(newCase(), 1);
        loadCase(40);
        QCOMPARE(newCase(), 41);
        loadCase(7);
        QCOMPARE(newCase(), 42);
        QVERIFY_THROWS_EXCEPTION(EngineError, loadCase(41));
        cas.append();
        cas.fieldByName(QStringLiteral("Case Number")).setValue(42);
        QVERIFY_THROWS_EXCEPTION(EngineError, cas.post());
        cas.cancel();
        // The numbering survives an upgrade of the schema, also of one
        // whose cases were numbered by a sequence of their own.
        if (TestDb::isPostgres()) {
            conn->exec(QStringLiteral("CREATE SEQUENCE mwcas_case_number_seq"));
            conn->exec(QStringLiteral("ALTER TABLE mwcas ALTER COLUMN \"case number\" SET DEFAULT nextval('mwcas_case_number_seq')"));
        }
        conn->createSchema();
        QCOMPARE(newCase(), 43);
        QCOMPARE(cas.recordCount(), 6);
    }
};

QTEST_MAIN(TestPractice)
#include "test_practice.moc"
