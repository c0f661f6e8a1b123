// The database engine's contract, on the backend chosen by the environment:
// order, seeks, navigation, editing, links, calculated fields and queries
// must behave the same on SQLite and on PostgreSQL.
#include "customerdb/Engine.h"
#include "helpers/BusyCursor.h"
#include "tests/support/TestDb.h"

#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>
#include <QSet>
#include <QtTest>

#include <ctime>
#include <functional>

using namespace Db;

namespace {

Catalog makeCatalog()
{
    Catalog c;
    c.name = QStringLiteral("EngineTest");
    c.schemaVersion = 1;

    TableDef people;
    people.name = QStringLiteral("People");
    people.fields = {
        {QStringLiteral("Id"), FieldType::Integer, 0, false},
        {QStringLiteral("Name"), FieldType::Text, 10, false},
        {QStringLiteral("City"), FieldType::Text, 8, false},
        {QStringLiteral("Born"), FieldType::Date, 0, false},
        {QStringLiteral("Seen"), FieldType::DateTime, 0, false},
        {QStringLiteral("Active"), FieldType::Boolean, 0, false},
        {QStringLiteral("Score"), FieldType::Float, 0, false},
        {QStringLiteral("Label"), FieldType::Text, 20, true},
    };
    people.indexes = {
        {QStringLiteral("ID"), {QStringLiteral("Id")}, true},
        {QStringLiteral("NAME"), {QStringLiteral("Name")}, false},
        {QStringLiteral("NAMECITY"), {QStringLiteral("Name"), QStringLiteral("City")}, false},
    };
    c.tables << people;

    TableDef notes;
    notes.name = QStringLiteral("Notes");
    notes.fields = {
        {QStringLiteral("PersonId"), FieldType::Integer, 0, false},
        {QStringLiteral("Seq"), FieldType::Integer, 0, false},
        {QStringLiteral("Text"), FieldType::Text, 30, false},
    };
    notes.indexes = {{QStringLiteral("PERSON"), {QStringLiteral("PersonId"), QStringLiteral("Seq")}, false}};
    notes.autoNumberField = QStringLiteral("Seq");
    c.tables << notes;
    return c;
}

const Catalog& catalog()
{
    static const Catalog c = makeCatalog();
    return c;
}

QStringList names(DataSet& ds)
{
    QStringList out;
    ds.first();
    while (!ds.eof()) {
        out << ds.fieldByName(QStringLiteral("Name")).asString();
        ds.next();
    }
    return out;
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Connection> conn;
    ConnectionSettings settings;

    void addPerson(Table& t, int id, const QVariant& name, const QString& city = QString())
    {
        t.append();
        t.fieldByName(QStringLiteral("Id")).setValue(id);
        if (name.isNull())
            t.fieldByName(QStringLiteral("Name")).setNull();
        else
            t.fieldByName(QStringLiteral("Name")).setValue(name);
        if (!city.isNull())
            t.fieldByName(QStringLiteral("City")).setValue(city);
        t.post();
    }

private slots:
    void init()
    {
        settings = TestDb::fresh(QStringLiteral("engine"));
        conn = std::make_unique<Connection>(QStringLiteral("conn"), &catalog());
        conn->setSettings(settings);
        conn->connect();
        conn->createSchema();
    }

    void cleanup()
    {
        conn->disconnect();
        conn.reset();
    }

    // Text sorts in byte order, null and empty together first, ties by the
    // order rows were added; the same on both backends.
    void orderAndNavigation()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People.adt"));
        t.setIndexFieldNames(QStringLiteral("Name"));
        t.open();
        QVERIFY(t.isEmpty());
        QVERIFY(t.eof() && t.bof());
        QCOMPARE(t.recordCount(), 0);

        addPerson(t, 1, QStringLiteral("b"));
        addPerson(t, 2, QStringLiteral("B"));
        addPerson(t, 3, QStringLiteral("a"));
        addPerson(t, 4, QString(""));
        addPerson(t, 5, QVariant());
        addPerson(t, 6, QStringLiteral("ab"));
        addPerson(t, 7, QStringLiteral("a  "));
        addPerson(t, 8, QStringLiteral("_x"));

        QStringList ids;
        t.first();
        QVERIFY(t.bof());
        while (!t.eof()) {
            ids << t.fieldByName(QStringLiteral("id")).asString();
            t.next();
        }
        // "" and null (4, 5) in either order, then byte order: B _x a a(7) ab b
        QCOMPARE(ids.mid(2), (QStringList{"2", "8", "3", "7", "6", "1"}));
        QVERIFY((ids.mid(0, 2) == QStringList{"4", "5"}) || (ids.mid(0, 2) == QStringList{"5", "4"}));
        QCOMPARE(t.recordCount(), 8);

        // Walking back from the end gives the reverse order.
        QStringList back;
        t.last();
        QVERIFY(t.eof());
        while (!t.bof()) {
            back.prepend(t.fieldByName(QStringLiteral("Id")).asString());
            t.prior();
        }
        QCOMPARE(back, ids);

        // Moving past the ends leaves the cursor on the end record.
        t.last();
        t.next();
        QVERIFY(t.eof());
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 1);
        QCOMPARE(t.moveBy(-3), -3);
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 3);
        QCOMPARE(t.moveBy(100), 3);

        // Trailing blanks are not stored.
        QVERIFY(t.findKey({QStringLiteral("a")}));
        t.next();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 7);
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).value().toString(), QStringLiteral("a"));

        // Changing the index keeps the cursor on its record.
        t.setIndexName(QStringLiteral("ID"));
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 7);
        t.next();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 8);
    }

    void seeks()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.setIndexFieldNames(QStringLiteral("Name;City"));
        t.open();
        addPerson(t, 1, QStringLiteral("SMITH"), QStringLiteral("BOSTON"));
        addPerson(t, 2, QStringLiteral("SMITH"), QStringLiteral("ALBANY"));
        addPerson(t, 3, QStringLiteral("SMYTHE"), QStringLiteral("ALBANY"));
        addPerson(t, 4, QStringLiteral("JONES"), QStringLiteral("DALLAS"));

        QSignalSpy scrolls(&t, &DataSet::afterScroll);

        // Exact seek on the leading field, blank padded, first in key order.
        QVERIFY(t.findKey({QStringLiteral("SMITH   ")}));
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 2);
        QVERIFY(t.findKey({QStringLiteral("SMITH"), QStringLiteral("BOSTON")}));
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 1);
        QCOMPARE(scrolls.count(), 2);

        // A failed exact seek leaves the cursor where it was.
        QVERIFY(!t.findKey({QStringLiteral("SMI")}));
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 1);

        // Nearest seek: the first record at or after the value.
        t.findNearest({QStringLiteral("SMI")});
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 2);
        t.findNearest({QStringLiteral("SMITHZ")});
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 3);
        t.findNearest({QString()});
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 4);
        // Past the last key: the last record.
        t.findNearest({QStringLiteral("ZZZ")});
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 3);
        QVERIFY(scrolls.count() >= 6);

        // Integer keys.
        t.setIndexFieldNames(QStringLiteral("Id"));
        t.findNearest({3});
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("SMYTHE"));
        QVERIFY(t.findKey({4}));
        QVERIFY(!t.findKey({5}));

        // A field list that matches no index is an error; a leading part is not.
        QVERIFY_THROWS_EXCEPTION(EngineError, t.setIndexFieldNames(QStringLiteral("City")));
        QVERIFY_THROWS_EXCEPTION(EngineError, t.setIndexName(QStringLiteral("NOPE")));
        t.setIndexFieldNames(QStringLiteral("name"));
        QCOMPARE(names(t), (QStringList{"JONES", "SMITH", "SMITH", "SMYTHE"}));
    }

private:
    // People 10 (every field typed), 20 "X" and 30 "Y", in Id order.
    void addTypedPeople(Table& t)
    {
        t.setTableName(QStringLiteral("People"));
        t.setIndexFieldNames(QStringLiteral("Id"));
        t.open();

        // A new record: typed writes, text cut to width and stripped.
        t.append();
        QCOMPARE(t.state(), DataSetState::Insert);
        t.fieldByName(QStringLiteral("ID")).setValue(10);
        t.fieldByName(QStringLiteral("name")).setValue(QStringLiteral("ABCDEFGHIJKLMNOP"));
        t.fieldByName(QStringLiteral("City")).setValue(QStringLiteral("ROME   "));
        t.fieldByName(QStringLiteral("Born")).setValue(QDate(1999, 12, 31));
        t.fieldByName(QStringLiteral("Seen")).setValue(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        t.fieldByName(QStringLiteral("Active")).setValue(true);
        t.fieldByName(QStringLiteral("Score")).setValue(2.5);
        t.post();
        QCOMPARE(t.state(), DataSetState::Browse);
        addPerson(t, 20, QStringLiteral("X"));
        addPerson(t, 30, QStringLiteral("Y"));
    }

private slots:
    void editingWritesTypedValues()
    {
        Table t(conn.get());
        addTypedPeople(t);

        QVERIFY(t.findKey({10}));
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("ABCDEFGHIJ"));
        QCOMPARE(t.fieldByName(QStringLiteral("City")).asString(), QStringLiteral("ROME"));
        QCOMPARE(t.fieldByName(QStringLiteral("Born")).asDate(), QDate(1999, 12, 31));
        QCOMPARE(t.fieldByName(QStringLiteral("Seen")).asDateTime(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        QCOMPARE(t.fieldByName(QStringLiteral("Active")).asBoolean(), true);
        QCOMPARE(t.fieldByName(QStringLiteral("Score")).asFloat(), 2.5);

        // Nulls read as empty values.
        QVERIFY(t.findKey({20}));
        QCOMPARE(t.fieldByName(QStringLiteral("City")).asString(), QString());
        QVERIFY(t.fieldByName(QStringLiteral("Born")).asDate().isNull());
        QCOMPARE(t.fieldByName(QStringLiteral("Active")).asBoolean(), false);
        QCOMPARE(t.fieldByName(QStringLiteral("Score")).asInteger(), 0);
        QVERIFY_THROWS_EXCEPTION(EngineError, t.fieldByName(QStringLiteral("Nope")));
    }

    void editingCancelsWritesAndClears()
    {
        Table t(conn.get());
        addTypedPeople(t);
        QVERIFY(t.findKey({20}));

        // Cancel restores the record; edit writes; setNull clears.
        t.edit();
        t.fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("CHANGED"));
        t.cancel();
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("X"));
        t.edit();
        t.fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("Z"));
        t.fieldByName(QStringLiteral("City")).setValue(QStringLiteral("PARIS"));
        t.post();
        t.edit();
        t.fieldByName(QStringLiteral("City")).setNull();
        t.post();
        t.refresh();
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Z"));
        QVERIFY(t.fieldByName(QStringLiteral("City")).isNull());

        // Cancelling a new record returns to the record that was current.
        t.append();
        t.fieldByName(QStringLiteral("Id")).setValue(99);
        t.cancel();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 20);
        QCOMPARE(t.recordCount(), 3);
    }

    void editingRefusedKeyAndDeletes()
    {
        Table t(conn.get());
        addTypedPeople(t);

        // A unique key violation is an engine error and keeps the insert.
        t.append();
        t.fieldByName(QStringLiteral("Id")).setValue(30);
        QVERIFY_THROWS_EXCEPTION(EngineError, t.post());
        QCOMPARE(t.state(), DataSetState::Insert);
        t.cancel();
        QCOMPARE(t.recordCount(), 3);

        // Delete moves to the next record, or the previous one at the end.
        QVERIFY(t.findKey({20}));
        t.del();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 30);
        t.del();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 10);
        t.del();
        QVERIFY(t.isEmpty());

        // Edit on an empty table starts a new record.
        t.edit();
        QCOMPARE(t.state(), DataSetState::Insert);
        t.cancel();
        QVERIFY(t.isEmpty());
    }

    // A row another connection deleted: saving, editing and deleting it say
    // so, and a refused save keeps the edit with what was typed.
    void writesToARowGoneElsewhereAreRefused()
    {
        Table t(conn.get());
        addTypedPeople(t);
        Connection other(QStringLiteral("other"), &catalog());
        other.setSettings(settings);
        other.connect();
        const QString gone = QStringLiteral("The record was changed or deleted by another user.");
        auto deleteElsewhere = [&](int id) {
            other.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                           .arg(other.quoteName(QStringLiteral("People")), other.quoteName(QStringLiteral("Id"))),
                       {id});
        };
        auto messageOf = [](const std::function<void()>& step) {
            try {
                step();
            } catch (const EngineError& e) {
                return e.message();
            }
            return QString();
        };

        QVERIFY(t.findKey({20}));
        t.edit();
        t.fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("Typed"));
        deleteElsewhere(20);
        QCOMPARE(messageOf([&] { t.post(); }), gone);
        QCOMPARE(t.state(), DataSetState::Edit);
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Typed"));
        t.cancel();
        QCOMPARE(messageOf([&] { t.edit(); }), gone);
        QCOMPARE(t.state(), DataSetState::Browse);
        QCOMPARE(messageOf([&] { t.del(); }), gone);

        QVERIFY(t.findKey({30}));
        deleteElsewhere(30);
        QCOMPARE(messageOf([&] { t.del(); }), gone);
        other.disconnect();
    }

    // A second connection sees committed changes on refresh; the cursor stays.
    void refreshKeepsPosition()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.setIndexFieldNames(QStringLiteral("Id"));
        t.open();
        for (int i = 1; i <= 5; ++i)
            addPerson(t, i, QStringLiteral("P%1").arg(i));
        QVERIFY(t.findKey({3}));

        Connection other(QStringLiteral("other"), &catalog());
        other.setSettings(settings);
        other.connect();
        other.exec(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
                       .arg(other.quoteName(QStringLiteral("People")), other.quoteName(QStringLiteral("Name")),
                            other.quoteName(QStringLiteral("Id"))),
                   {QStringLiteral("NEW"), 3});
        other.disconnect();
        t.refresh();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 3);
        QCOMPARE(t.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("NEW"));
        // A record deleted meanwhile gives way to the next, and its viewers are told.
        QSignalSpy scrolls(&t, &DataSet::afterScroll);
        conn->exec(QStringLiteral("DELETE FROM People WHERE Id = 3"));
        t.refresh();
        QCOMPARE(t.fieldByName(QStringLiteral("Id")).asInteger(), 4);
        QCOMPARE(scrolls.count(), 1);

        // Disconnect closes every data set of the connection; opening reconnects.
        conn->disconnect();
        QVERIFY(!t.isOpen());
        t.open();
        QVERIFY(conn->isConnected());
        QCOMPARE(t.recordCount(), 4);
    }

    void filterMasterDetailAndCalc()
    {
        Table people(conn.get());
        people.setTableName(QStringLiteral("People"));
        people.setIndexFieldNames(QStringLiteral("Id"));
        people.setOnCalcFields([](RecordAccess& r) {
            r.setValue(QStringLiteral("Label"), r.asString(QStringLiteral("Name")) + QStringLiteral("!"));
        });
        people.open();
        addPerson(people, 1, QStringLiteral("ONE"));
        addPerson(people, 2, QStringLiteral("TWO"));
        addPerson(people, 3, QStringLiteral("THREE"));
        people.first();
        QCOMPARE(people.fieldByName(QStringLiteral("label")).asString(), QStringLiteral("ONE!"));

        Table notes(conn.get());
        notes.setTableName(QStringLiteral("Notes"));
        notes.setIndexFieldNames(QStringLiteral("PersonId;Seq"));
        notes.setMasterSource(&people, {QStringLiteral("Id")}, {QStringLiteral("PersonId")});
        notes.open();
        QVERIFY(notes.isEmpty());
        // New detail rows take the master's key; the database numbers them.
        for (const char* text : {"a", "b"}) {
            notes.append();
            notes.fieldByName(QStringLiteral("Text")).setValue(QString::fromLatin1(text));
            notes.post();
        }
        QCOMPARE(notes.fieldByName(QStringLiteral("PersonId")).asInteger(), 1);
        QVERIFY(notes.fieldByName(QStringLiteral("Seq")).asInteger() > 0);
        people.next();
        QVERIFY(notes.isEmpty());
        QVERIFY(notes.fieldByName(QStringLiteral("Text")).isNull());
        notes.append();
        notes.fieldByName(QStringLiteral("Text")).setValue(QStringLiteral("c"));
        notes.post();
        people.first();
        QCOMPARE(notes.recordCount(), 2);
        QStringList texts;
        for (notes.first(); !notes.eof(); notes.next())
            texts << notes.fieldByName(QStringLiteral("Text")).asString();
        QCOMPARE(texts, (QStringList{"a", "b"}));

        // A fixed filter hides the other rows from every operation.
        Table filtered(conn.get());
        filtered.setTableName(QStringLiteral("People"));
        filtered.setIndexFieldNames(QStringLiteral("Name"));
        filtered.setFilter({{QStringLiteral("Name"), QStringLiteral("TWO")}});
        filtered.open();
        QCOMPARE(filtered.recordCount(), 1);
        filtered.findNearest({QStringLiteral("A")});
        QCOMPARE(filtered.fieldByName(QStringLiteral("Id")).asInteger(), 2);

        // A query as master.
        Query q(conn.get());
        q.setSql({QStringLiteral("Select Id As PersonKey"), QStringLiteral("From People"),
                  QStringLiteral("Where Id >= :low"), QStringLiteral("Order By Id")});
        q.setParam(QStringLiteral("low"), 2);
        Table byQuery(conn.get());
        byQuery.setTableName(QStringLiteral("Notes"));
        byQuery.setIndexFieldNames(QStringLiteral("PersonId"));
        byQuery.setMasterSource(&q, {QStringLiteral("PersonKey")}, {QStringLiteral("PersonId")});
        q.open();
        byQuery.open();
        QCOMPARE(byQuery.fieldByName(QStringLiteral("Text")).asString(), QStringLiteral("c"));
        q.next();
        QVERIFY(byQuery.isEmpty());
        q.close();
        QVERIFY(byQuery.isEmpty());
    }

private:
    // People 1..700 named "N0001".., born 2026-12-09 plus Id - 5 days:
    // enough rows to cross the query's blocks of rows.
    void addManyPeople()
    {
        conn->beginTransaction();
        for (int i = 1; i <= 700; ++i)
            conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES (?, ?, ?)")
                           .arg(conn->quoteName(QStringLiteral("People")), conn->quoteName(QStringLiteral("Id")),
                                conn->quoteName(QStringLiteral("Name")), conn->quoteName(QStringLiteral("Born"))),
                       {i, QStringLiteral("N%1").arg(i, 4, 10, QLatin1Char('0')), QDate(2026, 12, 9).addDays(i - 5)});
        conn->commit();
    }

private slots:
    // Closing the connection closes every data set and ends the session
    // even when one of them fails on the way (a detail's pending change
    // that can no longer be posted); the failure is reported, and a
    // connection destroyed in that state goes quietly.
    void disconnectClosesEverythingWhateverFails()
    {
        for (const bool destroy : {false, true}) {
            Table people(conn.get());
            people.setTableName(QStringLiteral("People"));
            people.setIndexFieldNames(QStringLiteral("Id"));
            people.open();
            addPerson(people, destroy ? 2 : 1, QStringLiteral("ONE"));
            Table notes(conn.get());
            notes.setTableName(QStringLiteral("Notes"));
            notes.setIndexFieldNames(QStringLiteral("PersonId;Seq"));
            notes.setMasterSource(&people, {QStringLiteral("Id")}, {QStringLiteral("PersonId")});
            notes.open();
            notes.append();
            notes.fieldByName(QStringLiteral("Text")).setValue(QStringLiteral("pending"));
            conn->exec(QStringLiteral("DROP TABLE %1").arg(conn->quoteName(QStringLiteral("Notes"))));
            if (destroy) {
                conn.reset();  // must not end the program
                QVERIFY(!people.isOpen() && !notes.isOpen());
                init();
                continue;
            }
            QVERIFY_THROWS_EXCEPTION(EngineError, conn->disconnect());
            QVERIFY(!people.isOpen() && !notes.isOpen());
            QVERIFY(!conn->database().isOpen());
            conn->connect();
            conn->createSchema();
        }
    }

    void queryLinesParametersAndBlocks()
    {
        addManyPeople();
        Query q(conn.get());
        q.setSql({QStringLiteral("Select"), QStringLiteral(" Max(Id) Top"), QStringLiteral("From People")});
        QCOMPARE(q.sql().size(), 3);
        q.open();
        QCOMPARE(q.fieldByName(QStringLiteral("TOP")).asInteger(), 700);
        QVERIFY_THROWS_EXCEPTION(EngineError, q.edit());
        q.close();

        // Lines are read, replaced and added to; parameters are bound.
        q.setSqlText(QStringLiteral("Select *\nFrom People\nWhere\n Name >= :from"));
        QCOMPARE(q.sql(), (QStringList{"Select *", "From People", "Where", " Name >= :from"}));
        q.addSqlLine(QStringLiteral("Order By Id"));
        q.insertSqlLine(4, QStringLiteral(" And Name <> :skip"));
        q.setParam(QStringLiteral("from"), QStringLiteral("N0100"));
        q.setParam(QStringLiteral("skip"), QStringLiteral("N0' or 1=1 --"));
        q.open();
        QCOMPARE(q.recordCount(), 601);
        QCOMPARE(q.fieldByName(QStringLiteral("Id")).asInteger(), 100);
        int seen = 1;
        while (true) {
            q.next();
            if (q.eof())
                break;
            ++seen;
        }
        QCOMPARE(seen, 601);
        QCOMPARE(q.fieldByName(QStringLiteral("Id")).asInteger(), 700);
        q.prior();
        QCOMPARE(q.fieldByName(QStringLiteral("Id")).asInteger(), 699);
        q.first();
        QCOMPARE(q.moveBy(300), 300);
        QCOMPARE(q.fieldByName(QStringLiteral("Id")).asInteger(), 400);
        QCOMPARE(q.fieldByName(QStringLiteral("Born")).asDate(), QDate(2026, 12, 9).addDays(395));
        // A parameter with quotes is data, not SQL.
        q.close();
        q.setParam(QStringLiteral("from"), QStringLiteral("N0700' or '1'='1"));
        q.open();
        QCOMPARE(q.recordCount(), 0);
        QVERIFY(q.isEmpty());
        q.close();
    }

    void queryDatesFollowThePinnedToday()
    {
        addManyPeople();
        Query q(conn.get());
        // The database's today can be pinned; CurDate() arithmetic follows it.
        conn->setPinnedToday(QDate(2026, 12, 9));
        q.setSql({QStringLiteral("Select Id From People"),
                  QStringLiteral("Where Born > CurDate() + 1 And Born <= CurDate()+3"), QStringLiteral("Order By Id")});
        q.open();
        QStringList ids;
        for (; !q.eof(); q.next())
            ids << q.fieldByName(QStringLiteral("Id")).asString();
        QCOMPARE(ids, (QStringList{"7", "8"}));
        q.close();
        q.setSql({QStringLiteral("Select Count(*) N From People Where Born = CurDate()")});
        q.open();
        QCOMPARE(q.fieldByName(QStringLiteral("N")).asInteger(), 1);
    }

    // A result of many blocks with many ties in its order is one result:
    // every row once and in order, forward and back, whatever changes after
    // the query was opened (rows, the date).
    void queryWalksOneConsistentResult()
    {
        const int n = 2000;
        conn->beginTransaction();
        for (int i = 0; i < n; ++i) {
            const int id = (i * 7919) % n + 1;
            conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) VALUES (?, ?, ?, ?)")
                           .arg(conn->quoteName(QStringLiteral("People")), conn->quoteName(QStringLiteral("Id")),
                                conn->quoteName(QStringLiteral("Name")), conn->quoteName(QStringLiteral("City")),
                                conn->quoteName(QStringLiteral("Born"))),
                       {id, QStringLiteral("N%1").arg(id % 7), QStringLiteral("C%1").arg(id % 3),
                        QDate(2026, 1, 1).addDays(id % 5)});
        }
        conn->commit();
        conn->setPinnedToday(QDate(2026, 1, 3));
        Query q(conn.get());
        q.setSql({QStringLiteral("Select Id, City, Name From People"), QStringLiteral("Where Born <= CurDate() + 2 And Name >= :from"),
                  QStringLiteral("Order By City, Name")});
        q.setParam(QStringLiteral("from"), QStringLiteral("N0"));
        q.open();
        // Changed after the open: neither the rows nor the date count.
        conn->setPinnedToday(QDate(2020, 1, 1));
        conn->exec(QStringLiteral("DELETE FROM %1 WHERE %2 > 1000")
                       .arg(conn->quoteName(QStringLiteral("People")), conn->quoteName(QStringLiteral("Id"))));

        auto keyOf = [&] {
            return q.fieldByName(QStringLiteral("City")).asString() + q.fieldByName(QStringLiteral("Name")).asString();
        };
        QList<int> forward;
        QString lastKey;
        for (q.first(); !q.eof(); q.next()) {
            QVERIFY2(keyOf() >= lastKey, qPrintable(keyOf()));
            lastKey = keyOf();
            forward << q.fieldByName(QStringLiteral("Id")).asInteger();
        }
        QCOMPARE(forward.size(), n);
        QCOMPARE(QSet<int>(forward.begin(), forward.end()).size(), n);
        QList<int> backward;
        for (q.last(); !q.bof(); q.prior())
            backward.prepend(q.fieldByName(QStringLiteral("Id")).asInteger());
        QCOMPARE(backward, forward);
        QCOMPARE(q.recordCount(), n);
        q.close();

        // A small result reads whole; its count and last row agree.
        q.setSql({QStringLiteral("Select Id From People Where Born <= CurDate() - 1 And Name >= :from Order By Id")});
        conn->setPinnedToday(QDate(2026, 1, 2));
        q.open();
        QCOMPARE(q.recordCount(), 200);
        q.last();
        QCOMPARE(q.moveBy(-199), -199);
        QVERIFY(!q.bof());
        q.close();

        // Opened in a transaction that is rolled back, the stored result
        // goes with it: the statement runs again and the walk goes on.
        conn->beginTransaction();
        q.setSql({QStringLiteral("Select Id From People Order By Id")});
        q.open();
        conn->rollback();
        QCOMPARE(q.moveBy(999), 999);
        QCOMPARE(q.fieldByName(QStringLiteral("Id")).asInteger(), 1000);
        q.close();
    }

    // Unpinned, the database's today is the local date, in a time zone
    // where it is not the date in UTC (ahead or behind, as the hour allows).
    void unpinnedTodayIsTheLocalDate()
    {
        if (TestDb::isPostgres())
            QSKIP("the server's own date");
        const QByteArray zoneBefore = qgetenv("TZ");
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        qputenv("TZ", utc.tm_hour >= 10 ? "<+14>-14" : "<-12>+12");
        tzset();
        std::tm local{};
        localtime_r(&now, &local);
        const QDate localDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        const QDate utcDate(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
        Query q(conn.get());
        q.setSql({QStringLiteral("Select CurDate() D, CurDate() + 1 N")});
        q.open();
        const QDate today = toDate(q.fieldByName(QStringLiteral("D")).value());
        const QDate tomorrow = toDate(q.fieldByName(QStringLiteral("N")).value());
        q.close();
        if (zoneBefore.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zoneBefore);
        tzset();
        QVERIFY(localDate != utcDate);
        QCOMPARE(today, localDate);
        QCOMPARE(tomorrow, localDate.addDays(1));
    }

    // Numbers beyond 32 bits are refused by an integer field, and read whole
    // from a query column or a stored value, never cut.
    void largeNumbersAreNotCut()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.setIndexFieldNames(QStringLiteral("Id"));
        t.open();
        addPerson(t, 2000000000, QStringLiteral("A"));
        addPerson(t, 1500000000, QStringLiteral("B"));
        t.append();
        QVERIFY_THROWS_EXCEPTION(EngineError, t.fieldByName(QStringLiteral("Id")).setValue(qlonglong(3000000000LL)));
        t.cancel();

        Query q(conn.get());
        q.setSql({QStringLiteral("Select Sum(Id) Total From People")});
        q.open();
        Field total = q.fieldByName(QStringLiteral("Total"));
        QCOMPARE(total.dataType(), FieldType::Integer);
        QCOMPARE(total.asLargeInt(), 3500000000LL);
        QCOMPARE(total.value().toLongLong(), 3500000000LL);
        QVERIFY_THROWS_EXCEPTION(EngineError, total.asInteger());

        if (conn->backend() == Backend::SQLite) {
            // Only SQLite's integer column can hold such a number stored by other means.
            conn->exec(QStringLiteral("UPDATE People SET Id = 3000000000 WHERE Name = 'A'"));
            t.refresh();
            t.setIndexFieldNames(QStringLiteral("Name"));
            QVERIFY(t.findKey({QStringLiteral("A")}));
            QCOMPARE(t.fieldByName(QStringLiteral("Id")).asLargeInt(), 3000000000LL);
        }
    }

    // Query parameters are values whatever the text around them: a negative
    // number after a minus sign; an instant in local time as stored, in a
    // time zone where UTC is another time.
    void queryParametersAreValues()
    {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "<-05>+5");
        tzset();
        const auto restoreZone = qScopeGuard([&] { zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone); tzset(); });
        Table t(conn.get());
        addTypedPeople(t);
        Query q(conn.get());
        q.setSqlText(QStringLiteral("Select 10 -:n As Diff From People Where Seen = :seen"));
        q.setParam(QStringLiteral("n"), -5);
        q.setParam(QStringLiteral("seen"), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        q.open();
        QCOMPARE(q.recordCount(), 1);
        QCOMPARE(q.fieldByName(QStringLiteral("Diff")).asInteger(), 15);
    }

    void queryErrorCarriesTheEnginesText()
    {
        // A broken statement is an engine error carrying the engine's text.
        Query bad(conn.get());
        bad.setSql({QStringLiteral("Select Nope From People")});
        try {
            bad.open();
            QFAIL("no error");
        } catch (const EngineError& e) {
            QVERIFY(!e.message().isEmpty());
        }
    }

    // Grids read rows around the cursor by key, forwards and backwards.
    void rowWindows()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.setIndexFieldNames(QStringLiteral("Name"));
        t.open();
        for (int i = 1; i <= 20; ++i)
            addPerson(t, i, QStringLiteral("N%1").arg(i % 10));  // duplicate names
        t.findNearest({QStringLiteral("N5")});
        const Record cur = t.currentRecord();
        const QList<Record> after = t.rowsAfter(&cur, 3, false);
        const QList<Record> before = t.rowsBefore(cur, 3);
        QCOMPARE(after.size(), 3);
        QCOMPARE(before.size(), 3);
        // Walking the cursor gives the same neighbours.
        t.prior();
        QVERIFY(t.sameRow(t.currentRecord(), before.last()));
        t.next();
        t.next();
        QVERIFY(t.sameRow(t.currentRecord(), after.first()));
        QVERIFY(t.gotoRecord(before.first()));
        QVERIFY(t.sameRow(t.currentRecord(), before.first()));
        const QList<Record> head = t.rowsAfter(nullptr, 100, true);
        QCOMPARE(head.size(), 20);
    }

    // The schema is created once and upgraded by later versions.
    void schemaIsIdempotentAndUpgrades()
    {
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.open();
        addPerson(t, 1, QStringLiteral("KEEP"));
        t.close();
        conn->createSchema();
        QCOMPARE(conn->storedSchemaVersion(), 1);

        Catalog v2 = makeCatalog();
        v2.schemaVersion = 2;
        v2.tables[0].fields << FieldDef{QStringLiteral("Extra"), FieldType::Text, 5, false};
        Connection upgraded(QStringLiteral("v2"), &v2);
        upgraded.setSettings(settings);
        conn->disconnect();
        upgraded.connect();
        upgraded.createSchema();
        QCOMPARE(upgraded.storedSchemaVersion(), 2);
        Table u(&upgraded);
        u.setTableName(QStringLiteral("People"));
        u.open();
        QCOMPARE(u.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("KEEP"));
        QVERIFY(u.fieldByName(QStringLiteral("Extra")).isNull());
        u.close();

        // Another catalog in the same database keeps a version of its own.
        Catalog other;
        other.name = QStringLiteral("OtherTest");
        other.schemaVersion = 7;
        Connection second(QStringLiteral("other"), &other);
        second.setSettings(settings);
        QCOMPARE(second.storedSchemaVersion(), 0);
        second.createSchema();
        QCOMPARE(second.storedSchemaVersion(), 7);
        QCOMPARE(upgraded.storedSchemaVersion(), 2);
        upgraded.createSchema();
        QCOMPARE(second.storedSchemaVersion(), 7);
        second.disconnect();

        // A database from before versions were kept per catalog: its one
        // row stands for every catalog until each records its own.
        upgraded.exec(QStringLiteral("DROP TABLE _schema_version"));
        upgraded.exec(QStringLiteral("CREATE TABLE _schema_version (version INTEGER NOT NULL)"));
        upgraded.exec(QStringLiteral("INSERT INTO _schema_version (version) VALUES (1)"));
        QCOMPARE(upgraded.storedSchemaVersion(), 1);
        QCOMPARE(second.storedSchemaVersion(), 1);
        upgraded.createSchema();
        QCOMPARE(upgraded.storedSchemaVersion(), 2);
        second.createSchema();
        QCOMPARE(second.storedSchemaVersion(), 7);
        QCOMPARE(upgraded.storedSchemaVersion(), 2);
        second.disconnect();
        upgraded.disconnect();
    }
    // Moves read a grid's rows ahead only on a server whose round trip
    // reaches the set time (the tests' 0 ms: always), never on SQLite.
    void readsAheadOnlyFromADistantServer()
    {
        QCOMPARE(conn->isDistant(), TestDb::isPostgres());
        ConnectionSettings near = settings;
        near.readAheadFromMs = 1000;
        Connection other(QStringLiteral("near"), &catalog());
        other.setSettings(near);
        other.connect();
        QVERIFY(!other.isDistant());
        other.disconnect();
    }

    // An action that waits long on the database shows the busy cursor and
    // keeps the window painted; a short one does not; the cursor goes when
    // the event loop is idle again.
    void longWaitsShowTheBusyCursor()
    {
        struct Painted : QWidget {
            int paints = 0;
            void paintEvent(QPaintEvent*) override { ++paints; }
        } window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Table t(conn.get());
        t.setTableName(QStringLiteral("People"));
        t.open();
        addPerson(t, 1, QStringLiteral("A"));
        addPerson(t, 2, QStringLiteral("B"));
        Trellane::installBusyCursor(100);
        Connection::setWaitHook(&Trellane::aboutToWaitOnDatabase);
        const auto off = qScopeGuard([] { Connection::setWaitHook(nullptr); });
        // The event loop waiting for events, as between a user's actions.
        auto idle = [] {
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        };

        idle();
        t.first();
        t.next();
        QVERIFY(!Trellane::busyCursorShown());
        idle();

        const int paints = window.paints;
        window.update();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400) {
            t.last();
            t.first();
        }
        QVERIFY(Trellane::busyCursorShown());
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        QVERIFY(window.paints > paints);
        idle();
        QVERIFY(!Trellane::busyCursorShown());
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

QTEST_MAIN(TestEngine)
#include "test_engine.moc"
