// The Dealers tab offscreen on real databases: loading the panel, Save with
// its vendor ID test and a refused post, New/Cancel/Delete, the search bar,
// and the renewal notice.
#include "customerdb/DBGrid.h"
#include "customerdb/DataModule.h"
#include "dealers/DealersTab.h"
#include "helpers/Command.h"
#include "helpers/PhoneEdit.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using Db::DataSetState;

class TestDealers : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TDealersTab* tab = nullptr;
    const QDate today{2026, 12, 9};  // the test connection's pinned date
    const QString heading = QStringLiteral("Here is a list of upcoming registrations I show for your company.\n\n");

    Db::Table& dealers() { return *console->data().tblDealer; }
    QString current() { return dealers().fieldByName(QStringLiteral("DealerCode")).asString(); }
    QString stored(const char* field) { return dealers().fieldByName(QLatin1String(field)).asString(); }
    QLineEdit* box(const char* name) { return find<QLineEdit>(name); }
    TPhoneEdit* phone(const char* name) { return find<TPhoneEdit>(name); }
    QPushButton* button(const char* name) { return find<QPushButton>(name); }
    template <typename T>
    T* find(const char* name)
    {
        T* w = tab->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    void insert(const QString& table, const QVariantMap& values)
    {
        TestDb::insertRow(console->data().connTrellaneEMC, table, values);
    }
    void addDealer(const QString& code, const QString& name, const QString& vendor, const QString& office = {})
    {
        insert(QStringLiteral("Dealers"), {{QStringLiteral("DealerCode"), code}, {QStringLiteral("Name"), name},
                                           {QStringLiteral("VendorID"), vendor}, {QStringLiteral("OfficePhone"), office}});
    }
    // An account of dealer whose terms end the given numbers of days from
    // today (no date where none is given).
    void addAccount(int serial, const QString& dealer, const QString& name, const QString& other,
                    std::optional<int> prof, std::optional<int> inst = {}, std::optional<int> era = {})
    {
        QVariantMap v{{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("DealerCode"), dealer},
                      {QStringLiteral("RegisterName"), name}, {QStringLiteral("OtherName"), other}};
        if (prof)
            v.insert(QStringLiteral("ExpiresProf"), today.addDays(*prof));
        if (inst)
            v.insert(QStringLiteral("ExpiresInst"), today.addDays(*inst));
        if (era)
            v.insert(QStringLiteral("ExpiresERA"), today.addDays(*era));
        insert(QStringLiteral("Registration"), v);
    }
    QString notice()
    {
        platform->clipboard.clear();
        tab->Button10Click();
        return platform->clipboard;
    }
    QString line(int serial, const QString& name, const QString& other, std::optional<int> prof,
                 std::optional<int> inst = {}, std::optional<int> era = {})
    {
        auto day = [this](std::optional<int> d) { return d ? today.addDays(*d) : QDate(); };
        return TDealersTab::noticeLine(serial, name, other, day(prof), day(inst), day(era)) + QLatin1Char('\n');
    }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("dealers"));
        addDealer(QStringLiteral("ACME"), QStringLiteral("ACME SOFTWARE"), QStringLiteral("V1"), QStringLiteral("5551234567"));
        addDealer(QStringLiteral("BETA"), QStringLiteral("ABLE BILLING"), QStringLiteral("V2"), QStringLiteral("5551234"));
        addDealer(QStringLiteral("GAMMA"), QStringLiteral("ZENITH"), QString());
        addDealer(QStringLiteral("M"), QStringLiteral("DIRECT"), QStringLiteral("V0"));
        tab = new TDealersTab(*console, console->host());
        dealers().open();
    }
    void cleanup()
    {
        console.reset();
        platform.reset();
    }

    // "History" lists the dealer's recorded changes, newest first; a new
    // dealer has none yet.
    void history()
    {
        dealers().next();
        box("edtDealerName")->setText(QStringLiteral("ABLE BILLING CO"));
        tab->btnSavDealerClick();
        button("btnHistoryDealer")->click();
        THistoryWindow* window = tab->historyWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->heading(), QStringLiteral("Changes of dealer BETA (ABLE BILLING CO), newest first: 5 entries."));
        const QAbstractItemModel* rows = window->view()->model();
        QStringList first;
        for (int c = 2; c < rows->columnCount(); ++c)
            first << rows->index(0, c).data().toString();
        QCOMPARE(first, QStringList({"Changed", "Name", "ABLE BILLING", "ABLE BILLING CO"}));
        QVERIFY(!rows->index(0, 1).data().toString().isEmpty());
        QCOMPARE(rows->index(4, 2).data().toString(), QStringLiteral("Added"));

        tab->btnNewDealerClick();
        button("btnHistoryDealer")->click();
        QCOMPARE(platform->messages, QStringList{"The new dealer has no history yet."});
    }

    void loadAndSave()
    {
        QCOMPARE(box("edtDealerCode")->text(), QStringLiteral("ACME"));
        QVERIFY(box("edtDealerCode")->isReadOnly());
        QCOMPARE(find<QComboBox>("cbDealer")->currentIndex(), -1);
        QCOMPARE(phone("edtDealerOffice")->text(), QStringLiteral("(555)123-4567"));
        QCOMPARE(phone("edtDealerCell")->text(), QStringLiteral("(   )   -    "));
        QVERIFY(button("Button12")->isEnabled());  // loading enables every button
        // "Preview Charges" follows "Add Charges".
        for (const bool allowed : {false, true}) {
            tab->setAddChargesEnabled(allowed);
            QCOMPARE(button("Button12")->isEnabled(), allowed);
            QCOMPARE(button("btnPreviewCharges")->isEnabled(), allowed);
        }
        dealers().next();
        QCOMPARE(box("edtDealerName")->text(), QStringLiteral("ABLE BILLING"));
        QCOMPARE(phone("edtDealerOffice")->text(), QStringLiteral("5551234"));  // not ten: as stored

        // Save: phones by their letters and digits, an untouched one empty,
        // the code of an existing dealer unchanged.
        phone("edtDealerCell")->setText(QStringLiteral("(555)765-4321"));
        box("edtDealerName")->setText(QStringLiteral("ABLE BILLING CO"));
        tab->btnSavDealerClick();
        QVERIFY(platform->messages.isEmpty());
        QCOMPARE(dealers().state(), DataSetState::Browse);
        dealers().refresh();
        QCOMPARE(stored("CellPhone"), QStringLiteral("5557654321"));
        QCOMPARE(stored("OfficePhone"), QStringLiteral("5551234"));
        QCOMPARE(stored("Fax"), QString());
        QCOMPARE(stored("Name"), QStringLiteral("ABLE BILLING CO"));
        QCOMPARE(dealers().recordCount(), 4);

        // Cancel on a stored dealer keeps what was typed; coming back to it
        // shows the stored values.
        box("edtDealerName")->setText(QStringLiteral("TYPED"));
        tab->btnCancelDealerClick();
        QCOMPARE(box("edtDealerName")->text(), QStringLiteral("TYPED"));
        dealers().next();
        dealers().prior();
        QCOMPARE(box("edtDealerName")->text(), QStringLiteral("ABLE BILLING CO"));
    }

    void vendorIdTest()
    {
        // New with a vendor ID that ACME holds: refused, still pending, Code
        // read-only; another vendor ID stores it.
        tab->btnNewDealerClick();
        QVERIFY(!box("edtDealerCode")->isReadOnly());
        QCOMPARE(box("edtDealerName")->text(), QString());
        box("edtDealerCode")->setText(QStringLiteral("DELTA"));
        box("edtVendorID2")->setText(QStringLiteral("V1"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The VendorID is already being used in ACME")});
        QCOMPARE(dealers().state(), DataSetState::Insert);
        QVERIFY(box("edtDealerCode")->isReadOnly());
        box("edtVendorID2")->setText(QStringLiteral("V9"));
        QVERIFY(console->statusLines.isEmpty());
        tab->btnSavDealerClick();
        QCOMPARE(dealers().state(), DataSetState::Browse);
        QCOMPARE(current(), QStringLiteral("DELTA"));
        QCOMPARE(dealers().recordCount(), 5);
        QCOMPARE(console->statusLines, QStringList{QStringLiteral("Dealer DELTA added.")});

        // A dealer's own vendor ID passes; an empty one never conflicts.
        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        tab->btnSavDealerClick();
        for (const char* code : {"EPSILON", "ZETA"}) {
            tab->btnNewDealerClick();
            box("edtDealerCode")->setText(QLatin1String(code));
            tab->btnSavDealerClick();
        }
        QCOMPARE(platform->messages.size(), 1);
        QCOMPARE(dealers().recordCount(), 7);

        // Two other dealers share a vendor ID: the query's second row is named.
        for (const char* code : {"BETA", "GAMMA"}) {
            QVERIFY(dealers().findKey({QLatin1String(code)}));
            dealers().edit();
            dealers().fieldByName(QStringLiteral("VendorID")).setValue(QStringLiteral("V7"));
            dealers().post();
        }
        Db::Query& q = *console->data().qryVendorID;
        q.setParam(QStringLiteral("vid"), QStringLiteral("V7"));
        q.open();
        q.next();
        const QString second = q.fieldByName(QStringLiteral("DealerCode")).asString();
        q.close();
        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        box("edtVendorID2")->setText(QStringLiteral("V7"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages.last(), QStringLiteral("The VendorID is already being used in ") + second);
        QCOMPARE(stored("VendorID"), QStringLiteral("V1"));
    }

    void panelRefusesHalfTypedPhoneAndKeepsStoredText()
    {
        console->host()->show();
        QApplication::setActiveWindow(console->host());
        QVERIFY(QTest::qWaitForWindowActive(console->host()));
        // A vendor ID typed with a trailing blank is another dealer's all the same.
        tab->btnNewDealerClick();
        box("edtDealerCode")->setText(QStringLiteral("DELTA"));
        box("edtVendorID2")->setText(QStringLiteral("V1 "));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The VendorID is already being used in ACME")});
        tab->btnCancelDealerClick();

        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        box("edtDealerName")->setText(QStringLiteral("TYPED"));
        TPhoneEdit* office = phone("edtDealerOffice");
        office->setFocus();
        office->selectAll();
        QTest::keyClick(office, Qt::Key_Delete);
        QTest::keyClicks(office, QStringLiteral("777"));
        QTest::mouseClick(button("btnSavDealer"), Qt::LeftButton);
        QTest::qWait(10);
        QCOMPARE(platform->errors, QStringList{QStringLiteral("Invalid input value.  Use escape key to abandon changes")});
        QVERIFY(office->hasFocus());
        dealers().refresh();
        QCOMPARE(stored("Name"), QStringLiteral("ACME SOFTWARE"));
        QCOMPARE(stored("OfficePhone"), QStringLiteral("5551234567"));

        // Limits restrict typing; a longer stored value (possible on SQLite)
        // is shown and saved whole.
        QTest::keyClick(office, Qt::Key_Escape);
        box("edtDealerState")->clear();
        QTest::keyClicks(box("edtDealerState"), QStringLiteral("TEX"));
        QCOMPARE(box("edtDealerState")->text(), QStringLiteral("TE"));
        if (!TestDb::isPostgres()) {
            console->data().connTrellaneEMC->exec(QStringLiteral("UPDATE Dealers SET State = 'TEX'"));
            dealers().refresh();
            tab->LoadDealer();
            QCOMPARE(box("edtDealerState")->text(), QStringLiteral("TEX"));
        }
    }

    void newCancelSearchDelete()
    {
        console->host()->resize(760, 660);
        console->host()->show();
        QVERIFY(QTest::qWaitForWindowExposed(console->host()));
        QVERIFY(dealers().findKey({QStringLiteral("BETA")}));
        DataSetModel* grid = tab->findChild<TDBGrid*>(QStringLiteral("DBGrid4"))->dataSetModel();
        auto code = [grid](int row) { return grid->data(grid->index(row, 0), Qt::DisplayRole).toString(); };
        QCOMPARE(grid->currentRow(), 1);
        // New then Cancel: the previous dealer again, Code still editable.
        // The grid stays where it was, the new row marked under BETA.
        tab->btnNewDealerClick();
        QCOMPARE(box("edtDealerCode")->text(), QString());
        QCOMPARE(grid->rowCount(), 5);
        QCOMPARE(grid->currentRow(), 2);
        QCOMPARE(grid->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("\u25B6"));
        QCOMPARE((QStringList{code(0), code(1), code(2), code(3), code(4)}),
                 (QStringList{"ACME", "BETA", "", "GAMMA", "M"}));
        tab->btnCancelDealerClick();
        QCOMPARE(grid->rowCount(), 4);
        QCOMPARE(code(grid->currentRow()), QStringLiteral("BETA"));
        QCOMPARE(box("edtDealerCode")->text(), QStringLiteral("BETA"));
        QVERIFY(!box("edtDealerCode")->isReadOnly());

        // New then typing in the search box: the pending dealer is dropped.
        tab->btnNewDealerClick();
        QTest::keyClicks(box("edtDealerSrch"), QStringLiteral("g"));
        QCOMPARE(box("edtDealerSrch")->text(), QStringLiteral("G"));
        QCOMPARE(dealers().state(), DataSetState::Browse);
        QCOMPARE(current(), QStringLiteral("GAMMA"));
        QCOMPARE(box("edtDealerCode")->text(), QStringLiteral("GAMMA"));
        QCOMPARE(dealers().recordCount(), 4);

        // "Name" with AB: the first dealer whose name is AB or after.
        box("edtDealerSrch")->setText(QStringLiteral("AB"));
        find<QComboBox>("cbDealer")->setCurrentIndex(1);
        tab->cbDealerChange();
        QCOMPARE(current(), QStringLiteral("BETA"));  // ABLE BILLING
        box("edtDealerSrch")->setText(QStringLiteral("AC"));
        QCOMPARE(current(), QStringLiteral("ACME"));  // ACME SOFTWARE
        box("edtDealerSrch")->setText(QStringLiteral("B"));
        QCOMPARE(current(), QStringLiteral("M"));     // DIRECT

        // Delete asks; No keeps the dealer, Yes deletes and shows the next.
        tab->btnDelDealerClick();
        QCOMPARE(platform->questions, QStringList{QStringLiteral("Are you sure you want to delete this record?")});
        QCOMPARE(dealers().recordCount(), 4);
        QVERIFY(button("btnNewDealer")->isEnabled());
        platform->yesNoAnswers.enqueue(true);
        tab->btnDelDealerClick();
        QCOMPARE(dealers().recordCount(), 3);
        QCOMPARE(box("edtDealerCode")->text(), QStringLiteral("GAMMA"));  // ZENITH follows DIRECT
        QVERIFY(button("btnNewDealer")->isEnabled());
    }

    // A post the database refuses shows its message and loses nothing typed;
    // the next Save cannot overwrite another dealer.
    void refusedSaveKeepsTheEntries()
    {
        Db::Connection& c = *console->data().connTrellaneEMC;
        c.exec(QStringLiteral("CREATE UNIQUE INDEX uq_test_name ON %1 (%2)")
                   .arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("Name"))));
        // An existing dealer: stored values kept, boxes keep the text.
        box("edtDealerName")->setText(QStringLiteral("ZENITH"));  // GAMMA's
        QVERIFY(!Trellane::runCommand([&] { tab->btnSavDealerClick(); }));
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(dealers().state(), DataSetState::Browse);
        QCOMPARE(stored("Name"), QStringLiteral("ACME SOFTWARE"));
        QCOMPARE(box("edtDealerName")->text(), QStringLiteral("ZENITH"));

        // A new dealer stays pending with its entries and an editable Code.
        tab->btnNewDealerClick();
        box("edtDealerCode")->setText(QStringLiteral("NEWONE"));
        box("edtDealerName")->setText(QStringLiteral("ZENITH"));
        phone("edtDealerFax")->setText(QStringLiteral("5550001111"));
        QVERIFY(!Trellane::runCommand([&] { tab->btnSavDealerClick(); }));
        QCOMPARE(platform->errors.size(), 2);
        QCOMPARE(dealers().state(), DataSetState::Insert);
        QCOMPARE(box("edtDealerCode")->text(), QStringLiteral("NEWONE"));
        QCOMPARE(phone("edtDealerFax")->text(), QStringLiteral("(555)000-1111"));
        QVERIFY(!box("edtDealerCode")->isReadOnly());
        QVERIFY(button("btnSavDealer")->isEnabled());
        box("edtDealerName")->setText(QStringLiteral("UNIQUE NAME"));
        tab->btnSavDealerClick();
        QCOMPARE(dealers().recordCount(), 5);
        QCOMPARE(stored("Fax"), QStringLiteral("5550001111"));
        QVERIFY(dealers().findKey({QStringLiteral("GAMMA")}));
        QCOMPARE(stored("Name"), QStringLiteral("ZENITH"));
        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        QCOMPARE(stored("Name"), QStringLiteral("ACME SOFTWARE"));

        // A code another dealer holds is refused with a plain message, one
        // longer than the field holds with the engine's; neither is stored
        // beside the other dealer or cut.
        for (const QString& code : {QStringLiteral("ACME"), QStringLiteral("ACME-WEST-1")}) {
            tab->btnNewDealerClick();
            box("edtDealerCode")->setText(code);
            box("edtDealerName")->setText(QStringLiteral("SECOND DEALER"));
            Trellane::runCommand([&] { tab->btnSavDealerClick(); });
            QCOMPARE(dealers().state(), DataSetState::Insert);
            QCOMPARE(box("edtDealerCode")->text(), code);
            QCOMPARE(box("edtDealerName")->text(), QStringLiteral("SECOND DEALER"));
            tab->btnCancelDealerClick();
        }
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The dealer code ACME is already in use by another "
                                                                "dealer. Nothing was stored.")});
        QCOMPARE(platform->errors.size(), 3);
        QCOMPARE(dealers().recordCount(), 5);
    }

    void noticeLineTabs()
    {
        const QDate d(2010, 3, 7);
        const QString r24(24, QLatin1Char('R')), r25(25, QLatin1Char('R'));
        // Register name: two tabs below 25 characters, one from 25.
        QCOMPARE(TDealersTab::noticeLine(7, r24, QString(), d, {}, {}),
                 QStringLiteral("7  ") + r24 + QStringLiteral("\t\t  \t\t\tpro 03/07/2010"));
        QCOMPARE(TDealersTab::noticeLine(7, r25, QStringLiteral("DR X"), {}, {}, {}),
                 QStringLiteral("7  ") + r25 + QStringLiteral("\tDR X  \t\t"));
        // Other name: 15 -> two tabs, 16 and 24 -> one, 25 -> none.
        for (const auto& [len, tabs] : {std::pair{15, 2}, {16, 1}, {24, 1}, {25, 0}}) {
            const QString other(len, QLatin1Char('O'));
            QCOMPARE(TDealersTab::noticeLine(1, QStringLiteral("R"), other, {}, {}, {}),
                     QStringLiteral("1  R\t\t") + other + QStringLiteral("  ") + QString(tabs, QLatin1Char('\t')));
        }
        // All three dates, in this order.
        QCOMPARE(TDealersTab::noticeLine(1, QStringLiteral("R"), QString(25, QLatin1Char('O')), d, d.addDays(1), d.addYears(1)),
                 QStringLiteral("1  R\t\t") + QString(25, QLatin1Char('O'))
                     + QStringLiteral("  \tpro 03/07/2010\tinst 03/08/2010\tera 03/07/2011"));
    }

    void renewalNotice()
    {
        const QStringList storedSql = console->data().qryFutureRegs->sql();
        // No renewals: heading, empty line, empty line - still copied.
        QCOMPARE(notice(), heading + QStringLiteral("\n"));

        addAccount(1, QStringLiteral("ACME"), QStringLiteral("TOMORROW"), QString(), 1);
        addAccount(2, QStringLiteral("ACME"), QStringLiteral("DAY AFTER"), QString(), 2);
        addAccount(3, QStringLiteral("ACME"), QStringLiteral("SIXTY"), QStringLiteral("S"), 60);
        addAccount(4, QStringLiteral("ACME"), QStringLiteral("SIXTY ONE"), QString(), 61);
        addAccount(5, QStringLiteral("ACME"), QStringLiteral("BOTH"), QStringLiteral("DR X"), 400, 30, -3);
        addAccount(6, QStringLiteral("BETA"), QStringLiteral("OTHER DEALER"), QString(), 10);
        addAccount(7, QStringLiteral("M"), QStringLiteral("DIRECT"), QString(), 10);
        addAccount(8, QStringLiteral("O'HARA"), QStringLiteral("QUOTED"), QString(), 10, 20);

        const QString text = notice();
        QCOMPARE(console->statusLines.last(),
                 QStringLiteral("Renewal notice for %1 copied to the clipboard.").arg(dealers().fieldByName(QStringLiteral("Name")).asString()));
        QCOMPARE(text, heading + line(5, QStringLiteral("BOTH"), QStringLiteral("DR X"), 400, 30, -3)
                           + line(2, QStringLiteral("DAY AFTER"), QString(), 2)
                           + line(3, QStringLiteral("SIXTY"), QStringLiteral("S"), 60) + QStringLiteral("\n"));
        QCOMPARE(console->RichEdit1()->toPlainText(), text);
        QCOMPARE(console->Memo2()->toPlainText(), storedSql.join(QLatin1Char('\n')));
        QCOMPARE(console->data().qryFutureRegs->sql(), storedSql);
        QVERIFY(button("Button10")->isEnabled());

        // "M" is always empty.
        QVERIFY(dealers().findKey({QStringLiteral("M")}));
        QCOMPARE(notice(), heading + QStringLiteral("\n"));

        // A code with a quote gets its own notice.
        addDealer(QStringLiteral("O'HARA"), QStringLiteral("O HARA"), QStringLiteral("V5"));
        QVERIFY(dealers().findKey({QStringLiteral("O'HARA")}));
        QCOMPARE(notice(), heading + line(8, QStringLiteral("QUOTED"), QString(), 10, 20) + QStringLiteral("\n"));
        QCOMPARE(console->data().qryFutureRegs->sql(), storedSql);

        // A failing run leaves the notice and clipboard alone and still
        // restores the query's text and the button.
        Db::Connection& c = *console->data().connTrellaneEMC;
        auto rename = [&c](const char* from, const char* to) {
            c.exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2")
                       .arg(c.quoteName(QLatin1String(from)), c.quoteName(QLatin1String(to))));
        };
        rename("Registration", "RegistrationAway");
        const QString shown = console->RichEdit1()->toPlainText();
        platform->clipboard = QStringLiteral("before");
        QVERIFY(!Trellane::runCommand([&] { tab->Button10Click(); }));
        rename("RegistrationAway", "Registration");
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(platform->clipboard, QStringLiteral("before"));
        QCOMPARE(console->RichEdit1()->toPlainText(), shown);
        QCOMPARE(console->data().qryFutureRegs->sql(), storedSql);
        QVERIFY(button("Button10")->isEnabled());
    }
};

QTEST_MAIN(TestDealers)
#include "test_dealers.moc"
