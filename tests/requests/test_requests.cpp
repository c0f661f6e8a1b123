// The Requests tab offscreen on real databases: Add with its numbering, field
// copy and one-transaction store, search, Refresh, Delete, and editing
// requests in place in the grid.
#include "accounts/AccountsTab.h"
#include "customerdb/DBGrid.h"
#include "customerdb/DataModule.h"
#include "requests/RequestsTab.h"
#include "tests/requests/RequestsFixture.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestPlatform.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using Db::DataSetState;

class TestRequests : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TRequestsTab* tab = nullptr;
    TAccountsTab* accounts = nullptr;

    TDataModule& dm() { return console->data(); }
    Db::Connection* conn() { return dm().connTrellaneEMC; }
    Db::Table& req() { return *dm().tblRequests; }
    Db::Table& reg() { return *dm().tblRegistration; }
    QString reqName() { return req().fieldByName(QStringLiteral("RegisterName")).asString(); }
    int regSerial() { return reg().fieldByName(QStringLiteral("SerialNumber")).asInteger(); }
    void request(const QString& name, const QString& type, const QVariant& serial, const QVariantMap& v = {})
    {
        Fixture::request(conn(), name, type, serial, v);
    }
    QVariantMap account(int serial)
    {
        return Fixture::stored(conn(), QStringLiteral("Registration"), QStringLiteral("SerialNumber"), serial);
    }
    QVariantMap storedRequest(const QString& name)
    {
        return Fixture::stored(conn(), QStringLiteral("Requests"), QStringLiteral("RegisterName"), name);
    }
    void open()
    {
        reg().open();
        req().open();
        accounts->SelectFirstSearchOrder();
    }
    // The register names the grid shows, top to bottom.
    QStringList gridNames()
    {
        DataSetModel* m = tab->DBGrid1()->dataSetModel();
        const int col = m->columns().indexOf(QStringLiteral("RegisterName"));
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->data(m->index(r, col), Qt::DisplayRole).toString();
        return out;
    }
    QModelIndex cell(const char* field)
    {
        DataSetModel* m = tab->DBGrid1()->dataSetModel();
        return m->index(m->currentRow(), m->columns().indexOf(QLatin1String(field)));
    }
    // Opens the editor of the current row's cell, types text, ends with key.
    void typeInCell(const char* field, const QString& text, Qt::Key end)
    {
        tab->DBGrid1()->setCurrentIndex(cell(field));
        tab->DBGrid1()->edit(cell(field));
        QVERIFY(QApplication::focusWidget() != tab->DBGrid1());
        QTest::keyClicks(QApplication::focusWidget(), text);
        QTest::keyClick(QApplication::focusWidget(), end);
    }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("req"));
        accounts = new TAccountsTab(*console, console->host());
        tab = new TRequestsTab(*console, console->host());
        tab->move(0, 700);
        console->host()->resize(760, 1400);
        console->host()->show();
        QApplication::setActiveWindow(console->host());
    }
    void cleanup()
    {
        console.reset();
        platform.reset();
    }

    void layout()
    {
        QVERIFY(!tab->cbAssignSN()->isChecked());
        QCOMPARE(tab->edtReqRegisterName()->width(), 337);
        QCOMPARE(tab->findChild<QWidget*>(QStringLiteral("RichEdit1"))->size(), QSize(353, 305));
        QCOMPARE(tab->findChild<QWidget*>(QStringLiteral("Memo2"))->size(), QSize(361, 161));
        // The caption is not clipped in the console's font.
        QVERIFY(tab->cbAssignSN()->width() >= tab->cbAssignSN()->sizeHint().width());
        QVERIFY(!tab->findChild<QWidget*>(QStringLiteral("Button3"))->isEnabled());
        for (const char* b : {"Button1", "Button2", "Button3", "Button4"})
            QCOMPARE(tab->findChild<QWidget*>(QLatin1String(b))->size(), QSize(75, 25));
        QCOMPARE(tab->findChild<QWidget*>(QStringLiteral("pnlRequestsBottom"))->height(), 330);
        QCOMPARE(tab->DBGrid1()->height(), 174);
    }

    // The number the account receives, from the request and the box.
    void addNumbers_data()
    {
        QTest::addColumn<QList<int>>("existing");
        QTest::addColumn<QVariant>("requestSerial");
        QTest::addColumn<bool>("assign");
        QTest::addColumn<int>("expected");
        QTest::newRow("first account ever") << QList<int>{} << QVariant() << true << 1;
        QTest::newRow("highest plus one") << QList<int>{3, 17, 5} << QVariant(0) << true << 18;
        QTest::newRow("numbered 500 keeps it") << QList<int>{3, 17} << QVariant(500) << true << 500;
        QTest::newRow("box clear, no number") << QList<int>{3} << QVariant() << false << 0;
    }
    void addNumbers()
    {
        QFETCH(QList<int>, existing);
        QFETCH(QVariant, requestSerial);
        QFETCH(bool, assign);
        QFETCH(int, expected);
        for (int n : existing)
            Fixture::account(conn(), n, QStringLiteral("OLD %1").arg(n));
        request(QStringLiteral("NEW CLINIC"), QStringLiteral("REGISTRATION"), requestSerial);
        request(QStringLiteral("ZZ OTHER"), QStringLiteral("RENEWAL"), 9);
        open();
        tab->cbAssignSN()->setChecked(assign);
        QSignalSpy added(tab, &TRequestsTab::accountAdded);

        tab->Button2Click();
        QCOMPARE(platform->messages, QStringList());
        QCOMPARE(account(expected).value(QStringLiteral("RegisterName")).toString(), QStringLiteral("NEW CLINIC"));
        QVERIFY(storedRequest(QStringLiteral("NEW CLINIC")).isEmpty());
        QCOMPARE(gridNames(), QStringList{QStringLiteral("ZZ OTHER")});
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.first().first().toInt(), expected);
        QCOMPARE(regSerial(), expected);
        QCOMPARE(find<QLineEdit>("edtRegisterName")->text(), QStringLiteral("NEW CLINIC"));
    }

    // Every copied field, nothing else, and Expires a year on (one day
    // less across a 29 February).
    void addCopiesFields_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("expires");
        QTest::newRow("plain year") << QDate(2026, 12, 9) << QDate(2027, 12, 9);
        QTest::newRow("across 29 February") << QDate(2027, 6, 1) << QDate(2028, 5, 31);
    }
    void addCopiesFields()
    {
        QFETCH(QDate, today);
        QFETCH(QDate, expires);
        platform->pinnedToday = today;
        const QVariantMap v{{"ContactName", "ANN LEE"}, {"Street1", "1 MAIN ST"}, {"Street2", "SUITE 2"},
                            {"City", "SPRINGFIELD"}, {"State", "IL"}, {"ZipCode", "62701"},
                            {"Phone", "(555)123-4567"}, {"Fax", "555 765 4321"}, {"Email", "ann@clinic.example"},
                            {"CoreProduct", "MEDISOFT"}, {"Specialty", "FAMILY"}, {"Promotion", "SPRING PROMO"},
                            {"DealerCode", "ACME"}, {"VendorID", "V1"}, {"HCFA", true}, {"ERA", true},
                            {"Medicare", true}, {"RequestDate", QDateTime(today, QTime(9, 30))}};
        request(QStringLiteral("SPRING CLINIC"), QStringLiteral("REGISTRATION"), 42, v);
        open();
        tab->Button2Click();
        const QVariantMap a = account(42);
        for (const char* f : {"ContactName", "Street1", "Street2", "City", "State", "ZipCode", "Phone", "Fax", "Email",
                              "CoreProduct", "Specialty", "Promotion"})
            QCOMPARE(a.value(QLatin1String(f)).toString(), v.value(QLatin1String(f)).toString());
        QCOMPARE(a.value(QStringLiteral("Expires")).toDate(), expires);
        for (const char* f : {"DealerCode", "VendorID", "HasHCFA", "HasERA", "ChartNumber", "ExpiresProf"})
            QVERIFY2(a.value(QLatin1String(f)).isNull(), f);
    }

    void refusedAndIgnored()
    {
        // Box clear: the first request without a number becomes account 0,
        // the second is refused and stays.
        request(QStringLiteral("AAA FIRST"), QStringLiteral("REGISTRATION"), QVariant());
        request(QStringLiteral("BBB SECOND"), QStringLiteral("REGISTRATION"), 0);
        request(QStringLiteral("CCC RENEWAL"), QStringLiteral("RENEWAL"), QVariant());
        request(QStringLiteral("DDD LOWER"), QStringLiteral("registration"), QVariant());
        open();
        tab->Button2Click();
        QCOMPARE(account(0).value(QStringLiteral("RegisterName")).toString(), QStringLiteral("AAA FIRST"));
        QCOMPARE(reqName(), QStringLiteral("BBB SECOND"));
        tab->Button2Click();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The serial number is in use.")});
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Registration")), 1);
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Requests")), 3);

        // Other request types do nothing and say nothing.
        platform->messages.clear();
        tab->cbAssignSN()->setChecked(true);
        for (const char* name : {"CCC RENEWAL", "DDD LOWER"}) {
            QVERIFY(req().findKey({QLatin1String(name)}));
            tab->Button2Click();
            QVERIFY(storedRequest(QLatin1String(name)).value(QStringLiteral("SerialNumber")).isNull());
        }
        QCOMPARE(platform->messages, QStringList());
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Requests")), 3);

        // An empty list stops at the type too.
        conn()->exec(QStringLiteral("DELETE FROM %1").arg(conn()->quoteName(QStringLiteral("Requests"))));
        tab->Button1Click();
        tab->Button2Click();
        QCOMPARE(platform->messages, QStringList());
        QCOMPARE(platform->errors, QStringList());
    }

    void inUseWhileListedByName()
    {
        Fixture::account(conn(), 7, QStringLiteral("ZEBRA"));
        Fixture::account(conn(), 9, QStringLiteral("APPLE"));
        request(QStringLiteral("TAKEN"), QStringLiteral("REGISTRATION"), 7);
        request(QStringLiteral("UNTAKEN"), QStringLiteral("REGISTRATION"), 8);
        open();
        reg().setIndexName(QStringLiteral("REGISTERNAME"));
        tab->Button2Click();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The serial number is in use.")});
        QCOMPARE(reg().indexName(), QStringLiteral("REGISTERNAME"));
        QVERIFY(req().findKey({QStringLiteral("UNTAKEN")}));
        tab->Button2Click();
        QCOMPARE(regSerial(), 8);
        QCOMPARE(reg().indexName(), QStringLiteral("REGISTERNAME"));
        reg().first();
        QCOMPARE(regSerial(), 9);  // APPLE: still listed by name
    }

    // The account's post and the request's delete are one transaction: a
    // refused post, delete or commit leaves both tables as they were.
    void oneTransaction_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("what");
        QTest::newRow("account post refused") << "Registration" << "INSERT";
        QTest::newRow("request delete refused") << "Requests" << "DELETE";
        QTest::newRow("commit refused") << "Requests" << "COMMIT";
    }
    void oneTransaction()
    {
        QFETCH(QString, table);
        QFETCH(QString, what);
        Fixture::account(conn(), 4, QStringLiteral("EXISTING"));
        request(QStringLiteral("WANTS AN ACCOUNT"), QStringLiteral("REGISTRATION"), QVariant());
        Fixture::refuse(conn(), table, what);
        open();
        tab->cbAssignSN()->setChecked(true);
        QSignalSpy added(tab, &TRequestsTab::accountAdded);
        tab->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        QCOMPARE(platform->errors.size(), 1);
        if (what != QLatin1String("COMMIT"))  // SQLite words a refused commit its own way
            QVERIFY2(platform->errors.first().contains(QStringLiteral("refused by test")), qPrintable(platform->errors.first()));
        QCOMPARE(added.size(), 0);
        QVERIFY(account(5).isEmpty());
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Registration")), 1);
        // The number assigned first stays with the request.
        QCOMPARE(storedRequest(QStringLiteral("WANTS AN ACCOUNT")).value(QStringLiteral("SerialNumber")).toInt(), 5);
        // Nothing is left pending, the account list is back on the account
        // it showed, and the request is listed and current again.
        QCOMPARE(reg().state(), DataSetState::Browse);
        QCOMPARE(regSerial(), 4);
        QCOMPARE(gridNames(), QStringList{QStringLiteral("WANTS AN ACCOUNT")});
        QCOMPARE(reqName(), QStringLiteral("WANTS AN ACCOUNT"));
        // Once the database accepts it, the same request is added.
        conn()->exec(QStringLiteral("DROP TRIGGER refuse_%1%2").arg(table, TestDb::isPostgres() ? QStringLiteral(" ON ") + conn()->quoteName(table) : QString()));
        tab->Button2Click();
        QCOMPARE(platform->messages, QStringList());
        QCOMPARE(added.size(), 1);
        QCOMPARE(account(5).value(QStringLiteral("RegisterName")).toString(), QStringLiteral("WANTS AN ACCOUNT"));
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Requests")), 0);
    }

    // Add copies the request as stored, not as the list last read it:
    // another console's change counts, and a request it removed is not
    // added.
    void addRereads_data()
    {
        QTest::addColumn<QString>("field");  // changed meanwhile; empty: the request deleted
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("assign");
        QTest::addColumn<int>("expected");   // the account made, -1 for none
        QTest::newRow("phone corrected") << "Phone" << QVariant("5559990000") << false << 0;
        QTest::newRow("numbered meanwhile") << "SerialNumber" << QVariant(500) << true << 500;
        QTest::newRow("type changed") << "RequestType" << QVariant("RENEWAL") << false << -1;
        QTest::newRow("deleted") << QString() << QVariant() << false << -1;
    }
    void addRereads()
    {
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(bool, assign);
        QFETCH(int, expected);
        const QString name = QStringLiteral("CHANGED CLINIC");
        Fixture::account(conn(), 3, QStringLiteral("EXISTING"));
        request(name, QStringLiteral("REGISTRATION"), QVariant(), {{"Phone", "5551112222"}});
        open();
        tab->cbAssignSN()->setChecked(assign);
        const QString requests = conn()->quoteName(QStringLiteral("Requests"));
        const QString byName = QStringLiteral(" WHERE %1 = ?").arg(conn()->quoteName(QStringLiteral("RegisterName")));
        if (field.isEmpty())
            conn()->exec(QStringLiteral("DELETE FROM ") + requests + byName, {name});
        else
            conn()->exec(QStringLiteral("UPDATE %1 SET %2 = ?").arg(requests, conn()->quoteName(field)) + byName, {value, name});

        tab->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        QCOMPARE(platform->errors, field.isEmpty() ? QStringList{QStringLiteral("The record was changed or deleted by another user.")}
                                                   : QStringList());
        QCOMPARE(platform->messages, QStringList());
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Registration")), expected < 0 ? 1 : 2);
        if (expected >= 0)
            QCOMPARE(account(expected).value(field).toString(), value.toString());
        else if (!field.isEmpty())
            QCOMPARE(storedRequest(name).value(field).toString(), value.toString());
    }

    void searchRefreshDelete()
    {
        request(QStringLiteral("GAMMA"), QStringLiteral("REGISTRATION"), 0);
        request(QStringLiteral("BETA HEALTH CENTER"), QStringLiteral("REGISTRATION"), 0);
        request(QStringLiteral("ALPHA CLINIC"), QStringLiteral("REGISTRATION"), 0);
        open();
        QCOMPARE(gridNames(), (QStringList{"ALPHA CLINIC", "BETA HEALTH CENTER", "GAMMA"}));

        // The box types capitals; only the whole name moves.
        QTest::keyClicks(tab->edtReqRegisterName(), QStringLiteral("beta"));
        QCOMPARE(tab->edtReqRegisterName()->text(), QStringLiteral("BETA"));
        QCOMPARE(reqName(), QStringLiteral("ALPHA CLINIC"));
        QTest::keyClicks(tab->edtReqRegisterName(), QStringLiteral(" health center"));
        QCOMPARE(reqName(), QStringLiteral("BETA HEALTH CENTER"));
        QTest::keyClick(tab->edtReqRegisterName(), Qt::Key_Backspace);
        QCOMPARE(reqName(), QStringLiteral("BETA HEALTH CENTER"));

        // Refresh lists requests stored since, in name order.
        request(QStringLiteral("AARDVARK"), QStringLiteral("REGISTRATION"), 0);
        tab->Button1Click();
        req().first();
        QCOMPARE(gridNames(), (QStringList{"AARDVARK", "ALPHA CLINIC", "BETA HEALTH CENTER", "GAMMA"}));

        // Delete asks; No keeps the request, Yes removes it.
        const QString question = QStringLiteral("Are you sure you want to delete this request?");
        platform->yesNoAnswers << false << true;
        tab->Button3Click();
        QCOMPARE(Fixture::count(conn(), QStringLiteral("Requests")), 4);
        tab->Button3Click();
        QCOMPARE(platform->questions, (QStringList{question, question}));
        QVERIFY(storedRequest(QStringLiteral("AARDVARK")).isEmpty());
        QCOMPARE(gridNames(), (QStringList{"ALPHA CLINIC", "BETA HEALTH CENTER", "GAMMA"}));
    }

    // In-place editing: a row is stored when left, a refused value keeps the
    // row's other edits, Escape abandons the row.
    void gridEditing()
    {
        request(QStringLiteral("ALPHA"), QStringLiteral("REGISTRATION"), 1);
        request(QStringLiteral("BETA"), QStringLiteral("REGISTRATION"), 2);
        request(QStringLiteral("GAMMA"), QStringLiteral("REGISTRATION"), 3);
        open();
        TDBGrid* grid = tab->DBGrid1();
        DataSetModel* m = grid->dataSetModel();
        QCOMPARE(m->columns().size(), req().fields().size());
        QCOMPARE(m->columns().first(), QStringLiteral("SerialNumber"));
        grid->setFocus();
        auto stored = [this](const char* name, const char* field) {
            return storedRequest(QLatin1String(name)).value(QLatin1String(field));
        };

        // Stored only once the cursor leaves the row.
        QVERIFY(m->setData(cell("City"), QStringLiteral("BOSTON"), Qt::EditRole));
        QVERIFY(m->setData(cell("HCFA"), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(req().state(), DataSetState::Edit);
        QVERIFY(stored("ALPHA", "City").isNull());
        QCOMPARE(m->data(cell("City"), Qt::DisplayRole).toString(), QStringLiteral("BOSTON"));

        // Values the column cannot hold are refused with a message; the
        // row's other edits stay.
        QVERIFY(!m->setData(cell("SerialNumber"), QStringLiteral("12ab"), Qt::EditRole));
        QVERIFY(!m->setData(cell("State"), QStringLiteral("ILLI"), Qt::EditRole));
        QCOMPARE(platform->messages.size(), 2);
        QVERIFY(platform->messages[0].contains(QStringLiteral("12ab")));
        QVERIFY(platform->messages[1].contains(QStringLiteral("3 characters")));
        QCOMPARE(m->data(cell("City"), Qt::DisplayRole).toString(), QStringLiteral("BOSTON"));
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(stored("ALPHA", "City").toString(), QStringLiteral("BOSTON"));
        QCOMPARE(stored("ALPHA", "HCFA").toBool(), true);
        QCOMPARE(stored("ALPHA", "SerialNumber").toInt(), 1);
        QCOMPARE(reqName(), QStringLiteral("BETA"));

        // Escape abandons the row, also with a cell editor open.
        QVERIFY(m->setData(cell("City"), QStringLiteral("NOWHERE"), Qt::EditRole));
        QTest::keyClick(grid, Qt::Key_Escape);
        QCOMPARE(req().state(), DataSetState::Browse);
        QCOMPARE(m->data(cell("City"), Qt::DisplayRole).toString(), QString());
        typeInCell("Email", QStringLiteral("x@y"), Qt::Key_Tab);  // the cell is taken, the row stays
        QCOMPARE(req().state(), DataSetState::Edit);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // in the next cell's editor
        QCOMPARE(req().state(), DataSetState::Browse);
        QVERIFY(stored("BETA", "Email").isNull());
        // Down from a cell editor, and Tab past the last column, store the
        // row and move the record.
        typeInCell("Email", QStringLiteral("a@b"), Qt::Key_Down);
        QCOMPARE(stored("BETA", "Email").toString(), QStringLiteral("a@b"));
        QCOMPARE(reqName(), QStringLiteral("GAMMA"));
        QTest::keyClick(grid, Qt::Key_Up);
        typeInCell("VendorID", QStringLiteral("V9"), Qt::Key_Tab);
        QCOMPARE(stored("BETA", "VendorID").toString(), QStringLiteral("V9"));
        QCOMPARE(reqName(), QStringLiteral("GAMMA"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTest::keyClick(grid, Qt::Key_Up);

        // Space toggles a yes/no cell; focus moving to another control of
        // the window stores the row.
        grid->setFocus();
        grid->setCurrentIndex(cell("ERA"));
        QTest::keyClick(grid, Qt::Key_Space);
        QCOMPARE(m->data(cell("ERA"), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        tab->edtReqRegisterName()->setFocus();
        QCOMPARE(req().state(), DataSetState::Browse);
        QCOMPARE(stored("BETA", "ERA").toBool(), true);

        // Leaving the tab stores the row.
        QVERIFY(m->setData(cell("Fax"), QStringLiteral("5550001111"), Qt::EditRole));
        tab->hide();
        QCOMPARE(stored("BETA", "Fax").toString(), QStringLiteral("5550001111"));
        tab->show();

        // A row the database refuses shows the engine's message and keeps
        // what was typed.
        conn()->exec(QStringLiteral("CREATE UNIQUE INDEX req_serial_test ON %1 (%2)")
                         .arg(conn()->quoteName(QStringLiteral("Requests")), conn()->quoteName(QStringLiteral("SerialNumber"))));
        QVERIFY(m->setData(cell("SerialNumber"), QStringLiteral("3"), Qt::EditRole));
        QVERIFY(m->setData(cell("City"), QStringLiteral("TYPED"), Qt::EditRole));
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(req().state(), DataSetState::Edit);
        QCOMPARE(reqName(), QStringLiteral("BETA"));
        QCOMPARE(m->data(cell("City"), Qt::DisplayRole).toString(), QStringLiteral("TYPED"));
        QVERIFY(m->setData(cell("SerialNumber"), QStringLiteral("4"), Qt::EditRole));
        QVERIFY(grid->leaveRow());
        QCOMPARE(stored("BETA", "City").toString(), QStringLiteral("TYPED"));
    }

private:
    template <typename T>
    T* find(const char* name)
    {
        T* w = console->host()->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
};

QTEST_MAIN(TestRequests)
#include "test_requests.moc"
