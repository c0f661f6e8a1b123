// The Dealers tab offscreen on real databases: the panel, Save's vendor ID
// test, New/Cancel/Delete, search, and the renewal notice.
#include "dealers/DealersTab.h"
#include "helpers/Command.h"
#include "shell/DataModule.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestPlatform.h"
#include "ui_DealersTab.h"

#include <QtTest>

class TestDealers : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TDealersTab* tab = nullptr;
    const QDate today{2026, 12, 9};

    Ui::DealersTab& f() { return tab->form(); }
    Db::Table& dealers() { return *console->data().tblDealer; }
    QString current() { return dealers().fieldByName(QStringLiteral("DealerCode")).asString(); }

    void addDealer(const QString& code, const QString& name, const QString& vendor, const QString& office = {})
    {
        Db::Connection& c = *console->data().connTrellaneEMC;
        c.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) VALUES (?, ?, ?, ?)")
                   .arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("DealerCode")),
                        c.quoteName(QStringLiteral("Name")), c.quoteName(QStringLiteral("VendorID")),
                        c.quoteName(QStringLiteral("OfficePhone"))),
               {code, name, vendor, office});
    }

    void addAccount(int serial, const QString& dealer, const QString& name, const QString& other,
                    const QVariant& prof, const QVariant& inst = {}, const QVariant& era = {})
    {
        Db::Connection& c = *console->data().connTrellaneEMC;
        auto day = [&](const QVariant& v) { return v.isNull() ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(v.toInt())); };
        c.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8) VALUES (?, ?, ?, ?, ?, ?, ?)")
                   .arg(c.quoteName(QStringLiteral("Registration")), c.quoteName(QStringLiteral("SerialNumber")),
                        c.quoteName(QStringLiteral("DealerCode")), c.quoteName(QStringLiteral("RegisterName")),
                        c.quoteName(QStringLiteral("OtherName")), c.quoteName(QStringLiteral("ExpiresProf")),
                        c.quoteName(QStringLiteral("ExpiresInst")), c.quoteName(QStringLiteral("ExpiresERA"))),
               {serial, dealer, name, other, day(prof), day(inst), day(era)});
    }

    QString notice()
    {
        tab->Button10Click();
        return platform->clipboard;
    }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("dealers"));
        addDealer(QStringLiteral("ACME"), QStringLiteral("ACME SOFTWARE"), QStringLiteral("V1"), QStringLiteral("5551234567"));
        addDealer(QStringLiteral("BETA"), QStringLiteral("ABLE BILLING"), QStringLiteral("V2"), QStringLiteral("5551234"));
        addDealer(QStringLiteral("GAMMA"), QStringLiteral("ZENITH"), QStringLiteral(""));
        addDealer(QStringLiteral("M"), QStringLiteral("DIRECT"), QStringLiteral("V0"));
        tab = new TDealersTab(*console, console->host());
        dealers().open();
    }
    void cleanup()
    {
        console.reset();
        platform.reset();
    }

    void panelShowsTheCurrentDealer()
    {
        QCOMPARE(f().edtDealerCode->text(), QStringLiteral("ACME"));
        QVERIFY(f().edtDealerCode->isReadOnly());
        QCOMPARE(f().edtDealerOffice->text(), QStringLiteral("(555)123-4567"));
        QCOMPARE(f().edtDealerFax->text().trimmed().remove(QRegularExpression(QStringLiteral("[()\\- ]"))), QString());
        QVERIFY(f().Button12->isEnabled());  // loading enables every button
        QCOMPARE(f().cbDealer->currentIndex(), -1);
        dealers().next();
        QCOMPARE(f().edtDealerCode->text(), QStringLiteral("BETA"));
        QCOMPARE(f().edtDealerOffice->text(), QStringLiteral("5551234"));

        // Saving stores the phone's digits only.
        f().edtDealerCell->setText(QStringLiteral("(555)765-4321"));
        f().edtDealerName->setText(QStringLiteral("ABLE BILLING CO"));
        tab->btnSavDealerClick();
        QVERIFY(platform->messages.isEmpty());
        dealers().refresh();
        QCOMPARE(dealers().fieldByName(QStringLiteral("CellPhone")).asString(), QStringLiteral("5557654321"));
        QCOMPARE(dealers().fieldByName(QStringLiteral("Fax")).asString(), QString());
        QCOMPARE(dealers().fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("ABLE BILLING CO"));

        // Cancel on a stored dealer keeps what was typed; moving away and
        // back shows the stored values.
        f().edtDealerName->setText(QStringLiteral("TYPED"));
        tab->btnCancelDealerClick();
        QCOMPARE(f().edtDealerName->text(), QStringLiteral("TYPED"));
        dealers().next();
        dealers().prior();
        QCOMPARE(f().edtDealerName->text(), QStringLiteral("ABLE BILLING CO"));
    }

    void vendorIdTest()
    {
        // New, then a vendor ID that ACME holds: refused, still pending.
        tab->btnNewDealerClick();
        QVERIFY(!f().edtDealerCode->isReadOnly());
        QCOMPARE(f().edtDealerName->text(), QString());
        f().edtDealerCode->setText(QStringLiteral("DELTA"));
        f().edtVendorID2->setText(QStringLiteral("V1"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("The VendorID is already being used in ACME")});
        QCOMPARE(dealers().state(), Db::DataSetState::Insert);
        QVERIFY(f().edtDealerCode->isReadOnly());
        f().edtVendorID2->setText(QStringLiteral("V9"));
        tab->btnSavDealerClick();
        QCOMPARE(dealers().state(), Db::DataSetState::Browse);
        QCOMPARE(dealers().recordCount(), 5);
        QCOMPARE(current(), QStringLiteral("DELTA"));

        // Own vendor ID passes; an empty one never conflicts.
        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        f().edtDealerFirst->setText(QStringLiteral("JANE"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages.size(), 1);
        tab->btnNewDealerClick();
        f().edtDealerCode->setText(QStringLiteral("EPSILON"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages.size(), 1);
        QCOMPARE(dealers().recordCount(), 6);

        // Two others sharing the vendor ID: the query's second row is named.
        Db::Connection& c = *console->data().connTrellaneEMC;
        c.exec(QStringLiteral("UPDATE %1 SET %2 = 'V7' WHERE %3 IN ('BETA', 'GAMMA')")
                   .arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("VendorID")),
                        c.quoteName(QStringLiteral("DealerCode"))));
        Db::Query& q = *console->data().qryVendorID;
        q.close();
        q.setParam(QStringLiteral("vid"), QStringLiteral("V7"));
        q.open();
        q.next();
        const QString second = q.fieldByName(QStringLiteral("DealerCode")).asString();
        q.close();
        QVERIFY(dealers().findKey({QStringLiteral("ACME")}));
        f().edtVendorID2->setText(QStringLiteral("V7"));
        tab->btnSavDealerClick();
        QCOMPARE(platform->messages.last(), QStringLiteral("The VendorID is already being used in ") + second);
    }

    void newCancelDeleteAndSearch()
    {
        QVERIFY(dealers().findKey({QStringLiteral("BETA")}));
        // New then Cancel: the previous dealer again, Code still editable.
        tab->btnNewDealerClick();
        tab->btnCancelDealerClick();
        QCOMPARE(f().edtDealerCode->text(), QStringLiteral("BETA"));
        QVERIFY(!f().edtDealerCode->isReadOnly());

        // New then typing in the search box discards the pending dealer.
        tab->btnNewDealerClick();
        f().edtDealerSrch->setText(QStringLiteral("G"));
        QCOMPARE(dealers().state(), Db::DataSetState::Browse);
        QCOMPARE(current(), QStringLiteral("GAMMA"));
        QCOMPARE(dealers().recordCount(), 4);

        // The "Name" order with AB: the first name at or after AB.
        f().edtDealerSrch->setText(QStringLiteral("AB"));
        f().cbDealer->setCurrentIndex(1);
        tab->cbDealerChange();
        QCOMPARE(current(), QStringLiteral("BETA"));
        f().edtDealerSrch->setText(QStringLiteral("B"));
        QCOMPARE(current(), QStringLiteral("M"));

        // Delete asks; No keeps, Yes deletes and shows the next dealer.
        tab->btnDelDealerClick();
        QCOMPARE(platform->questions.last(), QStringLiteral("Are you sure you want to delete this record?"));
        QCOMPARE(dealers().recordCount(), 4);
        platform->yesNoAnswers.enqueue(true);
        tab->btnDelDealerClick();
        QCOMPARE(dealers().recordCount(), 3);
        QCOMPARE(f().edtDealerCode->text(), QStringLiteral("GAMMA"));
        QVERIFY(f().btnNewDealer->isEnabled());
    }

    // A refused post shows the engine's message and loses nothing typed.
    void refusedSaveKeepsTheEntries()
    {
        tab->btnNewDealerClick();
        f().edtDealerCode->setText(QStringLiteral("NEWONE"));
        f().edtDealerName->setText(QStringLiteral("KEEP ME"));
        Db::Connection& c = *console->data().connTrellaneEMC;
        c.exec(QStringLiteral("CREATE UNIQUE INDEX uq_test_name ON %1 (%2)")
                   .arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("Name"))));
        f().edtDealerName->setText(QStringLiteral("ZENITH"));  // taken
        QVERIFY(!Trellane::runCommand([&] { tab->btnSavDealerClick(); }));
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(f().edtDealerCode->text(), QStringLiteral("NEWONE"));
        QCOMPARE(f().edtDealerName->text(), QStringLiteral("ZENITH"));
        QCOMPARE(dealers().state(), Db::DataSetState::Insert);
        f().edtDealerName->setText(QStringLiteral("UNIQUE NAME"));
        tab->btnSavDealerClick();
        QCOMPARE(dealers().recordCount(), 5);
        QVERIFY(dealers().findKey({QStringLiteral("GAMMA")}));
        QCOMPARE(dealers().fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("ZENITH"));
    }

    void noticeLines()
    {
        const QDate d(2010, 3, 7);
        QCOMPARE(TDealersTab::noticeLine(7, QString(24, QLatin1Char('R')), QString(), d, {}, {}),
                 QStringLiteral("7  ") + QString(24, QLatin1Char('R')) + QStringLiteral("\t\t  \t\t\tpro 03/07/2010"));
        QCOMPARE(TDealersTab::noticeLine(7, QString(25, QLatin1Char('R')), QString(16, QLatin1Char('O')), {}, d, d),
                 QStringLiteral("7  ") + QString(25, QLatin1Char('R')) + QStringLiteral("\t") + QString(16, QLatin1Char('O'))
                     + QStringLiteral("  \t\tinst 03/07/2010\tera 03/07/2010"));
        QCOMPARE(TDealersTab::noticeLine(7, QStringLiteral("R"), QString(25, QLatin1Char('O')), {}, {}, {}),
                 QStringLiteral("7  R\t\t") + QString(25, QLatin1Char('O')) + QStringLiteral("  "));
    }

    void renewalNotice()
    {
        const QString heading = QStringLiteral("Here is a list of upcoming registrations I show for your company.\n\n");
        // A dealer without renewals.
        QCOMPARE(notice(), heading + QStringLiteral("\n"));

        addAccount(1, QStringLiteral("ACME"), QStringLiteral("TOMORROW"), QString(), 1);
        addAccount(2, QStringLiteral("ACME"), QStringLiteral("SIXTY"), QString(), 60);
        addAccount(3, QStringLiteral("ACME"), QStringLiteral("SIXTYONE"), QString(), 61);
        addAccount(4, QStringLiteral("ACME"), QStringLiteral("BOTH"), QStringLiteral("DR X"), 400, 30);
        addAccount(5, QStringLiteral("M"), QStringLiteral("DIRECT"), QString(), 10);
        addAccount(6, QStringLiteral("O'HARA"), QStringLiteral("QUOTED"), QString(), 10);
        const QStringList stored = console->data().qryFutureRegs->sql();

        const QString text = notice();
        QCOMPARE(text, heading + TDealersTab::noticeLine(4, QStringLiteral("BOTH"), QStringLiteral("DR X"), today.addDays(400), today.addDays(30), {})
                           + QLatin1Char('\n')
                           + TDealersTab::noticeLine(2, QStringLiteral("SIXTY"), QString(), today.addDays(60), {}, {})
                           + QStringLiteral("\n\n"));
        QCOMPARE(console->RichEdit1()->toPlainText(), text);
        QCOMPARE(console->Memo2()->toPlainText(), stored.join(QLatin1Char('\n')));
        QCOMPARE(console->data().qryFutureRegs->sql(), stored);
        QVERIFY(f().Button10->isEnabled());

        // "M" is always empty.
        QVERIFY(dealers().findKey({QStringLiteral("M")}));
        QCOMPARE(notice(), heading + QStringLiteral("\n"));

        // A code with a quote gets its own notice.
        addDealer(QStringLiteral("O'HARA"), QStringLiteral("O HARA"), QStringLiteral("V5"));
        dealers().refresh();
        QVERIFY(dealers().findKey({QStringLiteral("O'HARA")}));
        QVERIFY(notice().contains(QStringLiteral("6  QUOTED")));
        QCOMPARE(console->data().qryFutureRegs->sql(), stored);

        // A failing run still restores the text and the button.
        Db::Connection& c = *console->data().connTrellaneEMC;
        c.exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(c.quoteName(QStringLiteral("Dealers")), c.quoteName(QStringLiteral("DealersGone"))));
        platform->clipboard = QStringLiteral("before");
        QVERIFY(!Trellane::runCommand([&] { tab->Button10Click(); }));
        QCOMPARE(platform->clipboard, QStringLiteral("before"));
        QCOMPARE(console->data().qryFutureRegs->sql(), stored);
        QVERIFY(f().Button10->isEnabled());
        c.exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(c.quoteName(QStringLiteral("DealersGone")), c.quoteName(QStringLiteral("Dealers"))));
    }

    void screenshot()
    {
        console->host()->resize(754, 650);
        tab->resize(754, 650);
        tab->show();
        const QString dir = qEnvironmentVariable("TRELLANE_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(tab->grab().save(dir + QStringLiteral("/dealers-tab.png")));
    }
};

QTEST_MAIN(TestDealers)
#include "test_dealers.moc"
