// The Accounts tab on real databases: the account panel's load, save checks
// and commands, the search orders and lookups, and the patient record update.
#include "accounts/AccountsTab.h"
#include "accounts/DatePicker.h"
#include "accounts/EntryRules.h"
#include "customerdb/DBGrid.h"
#include "helpers/EntryRule.h"
#include "helpers/PhoneEdit.h"
#include "tests/accounts/AccountsFixture.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using Fixture::find;
using Fixture::insertRow;

class TestAccounts : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TAccountsTab* tab = nullptr;

    TDataModule& dm() { return console->data(); }
    QLineEdit* edit(const char* name) { return find<QLineEdit>(tab, name); }
    TPhoneEdit* phone(const char* name) { return find<TPhoneEdit>(tab, name); }
    QCheckBox* check(const char* name) { return find<QCheckBox>(tab, name); }
    TDatePicker* picker(const char* name) { return find<TDatePicker>(tab, name); }
    QString label(const char* name) { return find<QLabel>(tab, name)->text(); }
    int current() { return dm().tblRegistration->fieldByName(QStringLiteral("SerialNumber")).asInteger(); }
    QDate today() { return platform->pinnedToday; }

    void dealer(const QString& code, const QString& vendorId)
    {
        insertRow(dm().connTrellaneEMC, QStringLiteral("Dealers"), {{"DealerCode", code}, {"VendorID", vendorId}});
    }
    void account(int serial, QVariantMap values = {})
    {
        values.insert(QStringLiteral("SerialNumber"), serial);
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), values);
    }
    void patient(const QVariantMap& values) { insertRow(dm().connMedisoft, QStringLiteral("MWPAT"), values); }
    QVariantMap stored(int serial) { return Fixture::account(dm().connTrellaneEMC, serial); }
    void openTables()
    {
        dm().tblRegistration->open();
        dm().tblDealer->open();
        dm().tblMWPAT->open();
    }
    void type(QLineEdit* e, const QString& text)
    {
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
    QColor shade(const char* name) { return picker(name)->palette().color(QPalette::Base); }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("acc"));
        tab = new TAccountsTab(*console, console->host());
        console->host()->resize(760, 660);
        console->host()->show();
        QApplication::setActiveWindow(console->host());
    }

    void cleanup()
    {
        console.reset();
        platform.reset();
    }

    // "History" lists the changes of the account shown and of its
    // submitter IDs; the new account of "&New" has none yet.
    void historyOfTheAccountAndItsSubmitterIDs()
    {
        dealer(QStringLiteral("M"), QStringLiteral("VM"));
        account(7, {{"RegisterName", "SEVEN"}, {"DealerCode", "M"}, {"Authorization", "X"}, {"City", "DAYTON"}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Submitters"), {{"SerialNumber", 7}, {"SubmitterID", "SUB7"}});
        openTables();
        edit("edtCity")->setText(QStringLiteral("AKRON"));
        tab->btnSavSNClick();
        find<QPushButton>(tab, "btnHistory")->click();
        QVERIFY(tab->historyWindow() && tab->historyWindow()->isVisible());
        QVERIFY2(tab->historyWindow()->heading().startsWith(QLatin1String("Changes of account 7 (SEVEN), newest first: ")),
                 qPrintable(tab->historyWindow()->heading()));
        const QAbstractItemModel& rows = tab->historyWindow()->model();
        QStringList shown;
        for (int r = 0; r < rows.rowCount(); ++r)
            shown << QStringList({rows.index(r, 2).data().toString(), rows.index(r, 3).data().toString(),
                                  rows.index(r, 4).data().toString(), rows.index(r, 5).data().toString()})
                         .join(QLatin1Char('|'));
        QVERIFY(shown.contains(QStringLiteral("Changed|City|DAYTON|AKRON")));
        QVERIFY(shown.contains(QStringLiteral("Added|Submitters.SubmitterID||SUB7")));
        QVERIFY(shown.indexOf(QStringLiteral("Changed|City|DAYTON|AKRON")) < shown.indexOf(QStringLiteral("Added|City||DAYTON")));

        tab->btnNewSNClick();
        find<QPushButton>(tab, "btnHistory")->click();
        QCOMPARE(platform->messages, QStringList{"The new account has no history yet."});
    }

    void saveChecksRunInOrder()
    {
        dealer(QStringLiteral("M"), QStringLiteral("VM"));
        dealer(QStringLiteral("DLR2"), QStringLiteral("V2"));
        patient({{"Chart Number", "CH1"}});
        openTables();
        // Saving into an empty table without "&New" still numbers the account.
        edit("edtAuth")->setText(QStringLiteral("X"));
        edit("edtDealer")->setText(QStringLiteral("M"));
        tab->btnSavSNClick();
        QCOMPARE(stored(1).value("DealerCode").toString(), QStringLiteral("M"));
        console->data().tblRegistration->del();
        edit("edtAuth")->clear();
        dm().qryDealer->close();

        tab->btnNewSNClick();
        QVERIFY(tab->AddingAccount());
        QVERIFY(!find<QPushButton>(tab, "btnNewSN")->isEnabled());
        QCOMPARE(edit("edtDealer")->text(), QStringLiteral("M"));

        auto saveExpecting = [&](const QString& message) {
            const int before = platform->messages.size();
            const int enables = console->enableCalls;
            tab->btnSavSNClick();
            QCOMPARE(platform->messages.size(), before + 1);
            QCOMPARE(platform->messages.last(), message);
            QCOMPARE(console->enableCalls, enables + 1);
            QCOMPARE(dm().tblRegistration->recordCount(), 0);
            QVERIFY(tab->AddingAccount());
        };

        // An empty reseller stops before any query or seek runs.
        dm().tblMWPAT->close();
        edit("edtDealer")->clear();
        saveExpecting(QStringLiteral("You must enter a vendor in order to save registration data."));
        QVERIFY(!dm().qryDealer->isOpen());
        QVERIFY(!dm().qryVendorID->isOpen());
        QVERIFY(platform->errors.isEmpty());
        dm().tblMWPAT->open();

        // The chart check comes before the reseller check.
        type(edit("edtDealer"), QStringLiteral("xx"));
        QCOMPARE(edit("edtDealer")->text(), QStringLiteral("XX"));
        type(edit("edtChartNumber"), QStringLiteral("NOPE"));
        saveExpecting(QStringLiteral("You must enter a valid Chart Number."));
        edit("edtChartNumber")->clear();
        saveExpecting(QStringLiteral("You must enter a valid Chart Number."));

        // "CAN USE OVER" typed in lower case, or any authorization, exempts the chart.
        type(edit("edtRegisterName"), QStringLiteral("can use over"));
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("CAN USE OVER"));
        saveExpecting(QStringLiteral("The Reseller could not be found in the Dealer database."));
        type(edit("edtRegisterName"), QStringLiteral("ACME CLINIC"));
        edit("edtAuth")->setText(QStringLiteral(" "));
        saveExpecting(QStringLiteral("The Reseller could not be found in the Dealer database."));

        edit("edtAuth")->clear();
        edit("edtChartNumber")->setText(QStringLiteral("CH1"));
        edit("edtDealer")->setText(QStringLiteral("M"));
        edit("edtVendorID")->setText(QStringLiteral("NOVID"));
        saveExpecting(QStringLiteral("Could not find a dealer with the matching VendorID. The client was not saved."));

        // A vendor ID two dealers share is no single match.
        dealer(QStringLiteral("DLR3"), QStringLiteral("VSHARED"));
        dealer(QStringLiteral("DLR4"), QStringLiteral("VSHARED"));
        edit("edtVendorID")->setText(QStringLiteral("VSHARED"));
        saveExpecting(QStringLiteral("Could not find a dealer with the matching VendorID. The client was not saved."));

        // Another dealer's vendor ID passes; the first account is number 1.
        edit("edtVendorID")->setText(QStringLiteral("V2"));
        QCOMPARE(console->statusLines.size(), 1);  // the first Save's; none while refused
        tab->btnSavSNClick();
        QVERIFY(!tab->AddingAccount());
        QCOMPARE(dm().tblRegistration->recordCount(), 1);
        QCOMPARE(console->statusLines.last(), QStringLiteral("Account 1 added."));
        const QVariantMap rec = stored(1);
        QCOMPARE(rec.value("RegisterName").toString(), QStringLiteral("ACME CLINIC"));
        QCOMPARE(rec.value("DealerCode").toString(), QStringLiteral("M"));
        QCOMPARE(rec.value("VendorID").toString(), QStringLiteral("V2"));
        QCOMPARE(rec.value("CoreProduct").toString(), QStringLiteral("MEDISOFT"));

        // Trailing blanks count neither in the lookups nor in what is stored.
        tab->btnNewSNClick();
        edit("edtChartNumber")->setText(QStringLiteral("CH1"));
        edit("edtDealer")->setText(QStringLiteral("DLR2 "));
        edit("edtVendorID")->setText(QStringLiteral("V2 "));
        tab->btnSavSNClick();
        QCOMPARE(platform->messages.size(), 7);
        QCOMPARE(stored(2).value("ChartNumber").toString(), QStringLiteral("CH1"));
        QCOMPARE(stored(2).value("DealerCode").toString(), QStringLiteral("DLR2"));
    }

    void refusedNewNumberIsRetakenOnNextSave()
    {
        dealer(QStringLiteral("M"), QString());
        account(1, {{"RegisterName", "ONE"}});
        openTables();
        // Another console takes the next number between our look-up and post.
        Db::Connection other(QStringLiteral("other_console"), &dm().connTrellaneEMC->catalog());
        other.setSettings(dm().connTrellaneEMC->settings());
        bool raced = false;
        QObject watch;
        connect(dm().tblRegistration, &Db::DataSet::stateChanged, &watch, [&] {
            if (!raced && dm().tblRegistration->state() == Db::DataSetState::Insert) {
                raced = true;
                insertRow(&other, QStringLiteral("Registration"), {{"SerialNumber", 2}, {"RegisterName", "THEIRS"}});
            }
        });
        tab->btnNewSNClick();
        type(edit("edtRegisterName"), QStringLiteral("MINE"));
        edit("edtAuth")->setText(QStringLiteral("OK"));
        auto* save = find<QPushButton>(tab, "btnSavSN");
        save->click();
        QVERIFY(raced);
        // A plain message, not the database's text.
        QVERIFY(platform->errors.isEmpty());
        QCOMPARE(platform->messages,
                 QStringList{QStringLiteral("Another console stored account number 2 a moment ago. Nothing was stored; "
                                            "Save stores this account under the next number.")});
        QVERIFY(tab->AddingAccount());
        QVERIFY(dm().tblRegistration->isBrowsing());
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("MINE"));
        QCOMPARE(edit("edtAuth")->text(), QStringLiteral("OK"));

        save->click();
        QVERIFY(platform->errors.isEmpty());
        QVERIFY(!tab->AddingAccount());
        QCOMPARE(stored(2).value("RegisterName").toString(), QStringLiteral("THEIRS"));
        QCOMPARE(stored(3).value("RegisterName").toString(), QStringLiteral("MINE"));
        other.disconnect();
    }

    void entryLimitsRestrictTypingOnly()
    {
        dealer(QStringLiteral("M"), QString());
        account(1, {{"State", "TEX"}, {"DealerCode", "M"}, {"Authorization", "OK"}});
        openTables();
        QCOMPARE(edit("edtState")->text(), QStringLiteral("TEX"));
        tab->btnSavSNClick();
        QCOMPARE(stored(1).value("State").toString(), QStringLiteral("TEX"));
        QTest::keyClicks(edit("edtState"), QStringLiteral("X"));
        QCOMPARE(edit("edtState")->text(), QStringLiteral("TEX"));
        type(edit("edtState"), QStringLiteral("abc"));
        QCOMPARE(edit("edtState")->text(), QStringLiteral("AB"));
    }

    void notesStopAtTheFieldWidth()
    {
        openTables();
        auto* notes = find<QPlainTextEdit>(tab, "Memo1");
        QVERIFY(notes->toolTip().contains(QStringLiteral("300")));
        QVERIFY(QTest::qWaitForWindowActive(console->host()));
        notes->setFocus();
        notes->setPlainText(QString(298, QLatin1Char('n')));
        notes->moveCursor(QTextCursor::End);
        QTest::keyClick(notes, Qt::Key_Return);
        QTest::keyClicks(notes, QStringLiteral("xyz"));
        QCOMPARE(notes->toPlainText(), QString(298, QLatin1Char('n')) + QStringLiteral("\nx"));
        // Tab moves on instead of typing.
        QTest::keyClick(notes, Qt::Key_Backspace);
        QTest::keyClick(notes, Qt::Key_Tab);
        QVERIFY(!notes->hasFocus());
        QVERIFY(!notes->toPlainText().contains(QLatin1Char('\t')));
    }

    void phoneBoxRefusesBeforeTheCommand()
    {
        dealer(QStringLiteral("M"), QString());
        account(1, {{"RegisterName", "ONE"}, {"DealerCode", "M"}, {"Authorization", "OK"}, {"Phone", "5551234567"}});
        openTables();
        QVERIFY(QTest::qWaitForWindowActive(console->host()));
        TPhoneEdit* box = phone("edtPhone");
        // A stored number keeps the entry template.
        QVERIFY(!box->isFreeText());

        // Escape in an edited phone box restores that box only.
        tab->btnNewSNClick();
        type(edit("edtRegisterName"), QStringLiteral("NEW CLINIC"));
        box->setFocus();
        type(box, QStringLiteral("777"));
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(tab->AddingAccount());
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("NEW CLINIC"));
        QCOMPARE(box->text(), QStringLiteral("(   )   -    "));
        // Unedited, Escape is "&Cancel" again.
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(!tab->AddingAccount());

        // A half-typed phone stops "&Save" before anything is written.
        type(edit("edtOtherName"), QStringLiteral("OTHER"));
        box->setFocus();
        type(box, QStringLiteral("777"));
        QTest::mouseClick(find<QPushButton>(tab, "btnSavSN"), Qt::LeftButton);
        QTest::qWait(10);
        QCOMPARE(platform->errors, QStringList{QStringLiteral("Invalid input value.  Use escape key to abandon changes")});
        QVERIFY(box->hasFocus());
        QCOMPARE(stored(1).value("Phone").toString(), QStringLiteral("5551234567"));
        QVERIFY(stored(1).value("OtherName").toString().isEmpty());
    }

    void loadAndSaveKeepStoredValues()
    {
        dealer(QStringLiteral("M"), QString());
        account(7, {{"RegisterName", "SMITH CLINIC"}, {"Phone", "5551234567"}, {"Fax", "555123"},
                    {"Promotion", "SPRING"}, {"CoreProduct", "LYTEC"}, {"HasMX", true}, {"HasNSF", true},
                    {"EDIVERSION", "3.0.1.4"}, {"DataVersion", "22"}, {"ExpiresProf", QDate(2027, 1, 1)},
                    {"BirthDate", QDate(1970, 5, 5)}, {"Specialty", "CARDIO"}, {"NOTES", " \r\nfirst\nsecond \n"},
                    {"DealerCode", "M"}, {"Authorization", "OK"}, {"CaseNumber", 4}});
        openTables();
        QCOMPARE(phone("edtPhone")->text(), QStringLiteral("(555)123-4567"));
        QCOMPARE(phone("edtFax")->text(), QStringLiteral("555123"));
        QCOMPARE(find<QPlainTextEdit>(tab, "Memo1")->toPlainText(), QStringLiteral("first\nsecond"));
        QCOMPARE(label("Label40"), QStringLiteral("Medisoft 11 SP3 or SP4"));
        QCOMPARE(label("Label41"), QStringLiteral("EDI Version 3.0.1.4"));

        type(edit("edtPhone"), QStringLiteral("8005550199"));
        QCOMPARE(phone("edtPhone")->text(), QStringLiteral("(800)555-0199"));
        type(edit("edtOtherName"), QStringLiteral("Other"));
        tab->btnSavSNClick();
        QVERIFY(platform->messages.isEmpty());
        const QVariantMap rec = stored(7);
        QCOMPARE(rec.value("Phone").toString(), QStringLiteral("8005550199"));
        QCOMPARE(rec.value("Fax").toString(), QStringLiteral("555123"));
        QCOMPARE(rec.value("OtherName").toString(), QStringLiteral("Other"));
        QCOMPARE(rec.value("NOTES").toString(), QStringLiteral("first\nsecond"));
        // Hidden fields and fields the panel never writes survive the edit.
        QCOMPARE(rec.value("Promotion").toString(), QStringLiteral("SPRING"));
        QCOMPARE(rec.value("CoreProduct").toString(), QStringLiteral("LYTEC"));
        QVERIFY(rec.value("HasMX").toBool() && rec.value("HasNSF").toBool());
        QCOMPARE(rec.value("EDIVERSION").toString(), QStringLiteral("3.0.1.4"));
        QCOMPARE(rec.value("ExpiresProf").toDate(), QDate(2027, 1, 1));
        QCOMPARE(rec.value("BirthDate").toDate(), QDate(1970, 5, 5));
        QCOMPARE(rec.value("CaseNumber").toInt(), 4);

        // A new account takes specialty, notes and module flags from the one shown.
        tab->btnNewSNClick();
        QCOMPARE(edit("edtSpecialty")->text(), QStringLiteral("CARDIO"));
        QVERIFY(check("cbSorvanta")->isChecked() && check("cbNSF")->isChecked());
        QVERIFY(edit("edtRegisterName")->text().isEmpty());
        QVERIFY(edit("edtPromotion")->text().isEmpty());
        QVERIFY(picker("dtpExpiresProf")->isEmpty());
    }

    void expiryColours()
    {
        using Accounts::ExpiryShade;
        const QDate t = today();
        QCOMPARE(Accounts::expiryShade(QDate(), true, t), ExpiryShade::NoDate);
        QCOMPARE(Accounts::expiryShade(t, true, t), ExpiryShade::Warning);
        QCOMPARE(Accounts::expiryShade(t.addDays(1), false, t), ExpiryShade::Warning);
        QCOMPARE(Accounts::expiryShade(t, false, t), ExpiryShade::Normal);
        QCOMPARE(Accounts::expiryShade(t.addDays(1), true, t), ExpiryShade::Normal);

        account(1, {{"HasUB92", true}, {"ExpiresInst", t.addDays(-3)}, {"ExpiresERA", t.addDays(30)},
                    {"ExpiresSV", QDate(2020, 2, 2)}});
        account(2, {{"HasHCFA", true}, {"ExpiresProf", t.addDays(5)}, {"ExpiresInst", t}});
        openTables();
        QVERIFY(picker("dtpExpiresProf")->isEmpty());
        QCOMPARE(picker("dtpExpiresProf")->text().trimmed(), QString());
        QCOMPARE(shade("dtpExpiresProf"), QColor(Qt::blue));
        QCOMPARE(picker("dtpExpiresInst")->date(), t.addDays(-3));
        QCOMPARE(shade("dtpExpiresInst"), QColor(Qt::red));
        QCOMPARE(shade("dtpExpiresERA"), QColor(Qt::red));
        QCOMPARE(picker("dtpExpiresSV")->date(), QDate(2020, 2, 2));
        QVERIFY(picker("dtpExpiresNSF")->isEmpty());
        dm().tblRegistration->next();
        QCOMPARE(shade("dtpExpiresProf"), QColor(Qt::white));
        QCOMPARE(shade("dtpExpiresInst"), QColor(Qt::white));
        QCOMPARE(shade("dtpExpiresERA"), QColor(Qt::blue));
    }

    void versionLabels()
    {
        const QStringList codes = {"17", "22", "24", "28", "29", "13", "abc", ""};
        const QStringList shown = {"Medisoft 8", "Medisoft 11 SP3 or SP4", "Medisoft 14", "Medisoft 17",
                                   "Medisoft ?", "Medisoft ?", "Medisoft ?", "Medisoft ?"};
        for (int i = 0; i < codes.size(); ++i)
            account(i + 1, {{"DataVersion", codes[i]}});
        openTables();
        for (int i = 0; i < codes.size(); ++i) {
            QCOMPARE(label("Label40"), shown[i]);
            QCOMPARE(label("Label41"), QStringLiteral("EDI Version Unknown"));
            dm().tblRegistration->next();
        }
    }

    void searchOrders()
    {
        account(5, {{"RegisterName", "ZETA"}, {"City", "boston"}, {"DataVersion", "20"}});
        account(11, {{"RegisterName", "ALPHA"}, {"City", "Austin"}, {"DataVersion", "22"}});
        account(12, {{"RegisterName", "BRAVO"}, {"City", "Chicago"}, {"DataVersion", "19"}});
        account(15, {{"RegisterName", "CHARLIE"}, {"City", "Boston"}, {"DataVersion", "21"}});
        openTables();
        auto* order = find<QComboBox>(tab, "cbAcctIdx");
        QLineEdit* box = edit("edtAcctSrch");
        tab->SelectFirstSearchOrder();
        QCOMPARE(order->count(), 12);

        QTest::keyClicks(box, QStringLiteral("1"));
        QCOMPARE(current(), 5);
        QTest::keyClicks(box, QStringLiteral("2"));
        QCOMPARE(current(), 12);
        // A letter is refused; the digits stay and the account with them.
        QTest::keyClicks(box, QStringLiteral("x"));
        QCOMPARE(box->text(), QStringLiteral("12"));
        QCOMPARE(current(), 12);
        // A number too large for an account number empties the box.
        box->clear();
        QTest::keyClicks(box, QStringLiteral("9999999999"));
        QVERIFY(box->text().isEmpty());

        const int lengths[] = {10, 50, 37, 10, 10, 8, 10, 10, 2, 10, 5, 10};
        for (int i = 0; i < 12; ++i) {
            order->setCurrentIndex(i);
            QCOMPARE(Trellane::EntryRule::of(box)->limit(), lengths[i]);
            QCOMPARE(Accounts::isUpperCase(box), i != TAccountsTab::soCity);
        }

        order->setCurrentIndex(TAccountsTab::soRegisterName);
        QTest::keyClicks(box, QStringLiteral("br"));
        QCOMPARE(box->text(), QStringLiteral("BR"));
        QCOMPARE(current(), 12);
        // An exact seek that finds nothing keeps the account.
        type(box, QStringLiteral("15"));
        order->setCurrentIndex(TAccountsTab::soSerialNumber);
        QCOMPARE(current(), 15);
        order->setCurrentIndex(TAccountsTab::soRegisterName);
        QCOMPARE(current(), 15);

        order->setCurrentIndex(TAccountsTab::soCity);
        type(box, QStringLiteral("bo"));
        QCOMPARE(box->text(), QStringLiteral("bo"));
        QCOMPARE(current(), 5);
        // Another order upper-cases the text and keeps it whole.
        type(box, QStringLiteral("boston x"));
        order->setCurrentIndex(TAccountsTab::soState);
        QCOMPARE(box->text(), QStringLiteral("BOSTON X"));
        order->setCurrentIndex(TAccountsTab::soCity);
        type(box, QStringLiteral("bo"));

        // The version orders do not seek when chosen; typing still moves.
        type(box, QStringLiteral("Chicago"));
        QCOMPARE(current(), 12);
        order->setCurrentIndex(TAccountsTab::soDataVersion);
        QCOMPARE(current(), 12);
        type(box, QStringLiteral("21"));
        QCOMPARE(current(), 15);
        order->setCurrentIndex(TAccountsTab::soEDIVersion);
        QCOMPARE(current(), 15);
    }

    void submitterLookup()
    {
        for (int s : {3, 11, 30})
            account(s);
        insertRow(dm().connTrellaneEMC, QStringLiteral("Submitters"), {{"SerialNumber", 30}, {"SubmitterID", "SUB1"}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Submitters"), {{"SerialNumber", 11}, {"SubmitterID", "SUB1"}});
        openTables();
        auto* order = find<QComboBox>(tab, "cbAcctIdx");
        order->setCurrentIndex(TAccountsTab::soCity);
        type(edit("edtAcctSrch"), QStringLiteral("zz"));
        const int before = current();

        edit("edtSubLookup")->setText(QStringLiteral("NONE"));
        tab->Button5Click();
        QCOMPARE(current(), before);
        QCOMPARE(order->currentIndex(), int(TAccountsTab::soCity));

        // Trailing blanks do not count, as in the stored IDs.
        edit("edtSubLookup")->setText(QStringLiteral("SUB1 "));
        tab->Button5Click();
        QCOMPARE(dm().qrySubID->recordCount(), 2);
        QCOMPARE(current(), dm().qrySubID->fieldByName(QStringLiteral("SerialNumber")).asInteger());
        QCOMPARE(order->currentIndex(), int(TAccountsTab::soSerialNumber));
        QCOMPARE(dm().tblRegistration->indexFields(), QStringList{QStringLiteral("SerialNumber")});
        QVERIFY(edit("edtAcctSrch")->text().isEmpty());
        // The box keeps the rules of the order chosen before.
        QVERIFY(!Accounts::isUpperCase(edit("edtAcctSrch")));
    }

    void blankDates()
    {
        // On an empty table nothing is blanked and no record appears.
        openTables();
        platform->yesNoAnswers.enqueue(true);
        tab->Button13Click();
        QCOMPARE(dm().tblRegistration->recordCount(), 0);
        platform->questions.clear();

        const QDate d(2027, 3, 3);
        account(4, {{"RegisterName", "KEEP"}, {"HasHCFA", true}, {"ExpiresProf", d}, {"ExpiresInst", d},
                    {"ExpiresERA", d}, {"ExpiresSV", d}, {"ExpiresNSF", d}, {"BirthDate", d}});
        dm().tblRegistration->first();
        const QString question =
            QStringLiteral("Are you sure you want to blank the registration and birth dates for this account?");
        tab->Button13Click();
        QCOMPARE(platform->questions, QStringList{question});
        QCOMPARE(stored(4).value("ExpiresProf").toDate(), d);

        platform->yesNoAnswers.enqueue(true);
        tab->Button13Click();
        const QVariantMap rec = stored(4);
        for (const char* f : {"ExpiresProf", "ExpiresInst", "ExpiresERA", "ExpiresSV", "ExpiresNSF", "BirthDate"})
            QVERIFY2(rec.value(f).isNull(), f);
        QCOMPARE(rec.value("RegisterName").toString(), QStringLiteral("KEEP"));
        QVERIFY(rec.value("HasHCFA").toBool());
        for (const char* p : {"dtpExpiresProf", "dtpExpiresInst", "dtpExpiresERA"}) {
            QVERIFY(picker(p)->isEmpty());
            QCOMPARE(shade(p), QColor(Qt::blue));
        }
    }

    // A picker is one Tab stop, shows dates with leading zeros, and its
    // colour stays on its box: the calendar keeps the application's palette.
    void datePickerTabStopDigitsAndCalendar_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QDate() << " ";
        QTest::newRow("one-digit month and day") << QDate(2027, 1, 5) << "01/05/2027";
        QTest::newRow("two digits") << QDate(2027, 11, 25) << "11/25/2027";
    }
    void datePickerTabStopDigitsAndCalendar()
    {
        QFETCH(QDate, date);
        QFETCH(QString, shown);
        QWidget host;
        auto* before = new QLineEdit(&host);
        auto* dtp = new TDatePicker(&host);
        dtp->setCalendarPopup(true);
        auto* after = new QLineEdit(&host);
        dtp->move(0, 30);
        after->move(0, 60);
        dtp->setValue(date);
        QPalette red = dtp->palette();
        red.setColor(QPalette::Base, Qt::red);
        dtp->setPalette(red);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(dtp->text(), shown);
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dtp);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), after);
        QTest::keyClick(after, Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), before);

        const QColor plain = QApplication::palette(dtp->calendarWidget()).color(QPalette::Base);
        QCOMPARE(dtp->palette().color(QPalette::Base), QColor(Qt::red));
        QCOMPARE(dtp->calendarWidget()->palette().color(QPalette::Base), plain);
        red.setColor(QPalette::Base, Qt::blue);
        dtp->setPalette(red);  // a later colour as well
        QCOMPARE(dtp->calendarWidget()->palette().color(QPalette::Base), plain);
        QCOMPARE(dtp->calendarWidget()->window()->palette().color(QPalette::Window),
                 QApplication::palette(dtp->calendarWidget()).color(QPalette::Window));
    }

    void expiryDatesTheUserChangedAreSaved()
    {
        const QDate prof(2027, 1, 31), era(2027, 5, 1), sv(2020, 2, 2);
        dealer(QStringLiteral("M"), QString());
        account(1, {{"DealerCode", "M"}, {"Authorization", "OK"}, {"ExpiresProf", prof}, {"ExpiresERA", era},
                    {"ExpiresSV", sv}});
        openTables();
        QVERIFY(picker("dtpExpiresInst")->isEmpty());
        // Another console moves the untouched dates meanwhile.
        dm().connTrellaneEMC->exec(QStringLiteral("UPDATE %1 SET %2 = ?, %3 = ?")
                                       .arg(dm().connTrellaneEMC->quoteName(QStringLiteral("Registration")),
                                            dm().connTrellaneEMC->quoteName(QStringLiteral("ExpiresInst")),
                                            dm().connTrellaneEMC->quoteName(QStringLiteral("ExpiresSV"))),
                                   {QDate(2029, 9, 9), QDate(2029, 9, 9)});
        picker("dtpExpiresProf")->setDate(QDate(2028, 1, 31));
        QTest::keyClick(picker("dtpExpiresERA"), Qt::Key_Delete);
        QVERIFY(picker("dtpExpiresERA")->isEmpty());
        tab->btnSavSNClick();
        QVariantMap rec = stored(1);
        QCOMPARE(rec.value("ExpiresProf").toDate(), QDate(2028, 1, 31));
        QVERIFY(rec.value("ExpiresERA").isNull());
        QCOMPARE(rec.value("ExpiresInst").toDate(), QDate(2029, 9, 9));
        QCOMPARE(rec.value("ExpiresSV").toDate(), QDate(2029, 9, 9));

        // Saved dates count as untouched again; an empty picker starts from today.
        tab->btnRefreshClick();
        QTest::keyClick(picker("dtpExpiresERA"), Qt::Key_Up);
        QCOMPARE(picker("dtpExpiresERA")->value(), today());
        tab->btnSavSNClick();
        rec = stored(1);
        QCOMPARE(rec.value("ExpiresERA").toDate(), today());
        QCOMPARE(rec.value("ExpiresProf").toDate(), QDate(2028, 1, 31));

        // The calendar of an empty picker opens on today.
        TDatePicker* inst = picker("dtpExpiresInst");
        QTest::keyClick(inst, Qt::Key_Delete);
        QVERIFY(inst->isEmpty());
        QVERIFY(QTest::qWaitForWindowExposed(console->host()));
        QTest::mouseClick(inst, Qt::LeftButton, {}, QPoint(inst->width() - 4, inst->height() / 2));
        QVERIFY(inst->calendarWidget()->isVisible());
        QCOMPARE(inst->calendarWidget()->selectedDate(), today());
        QCOMPARE(inst->value(), today());
        inst->calendarWidget()->window()->close();
    }

    void refreshCancelDeleteAndAddCharges()
    {
        auto* addCharges = new QPushButton(QStringLiteral("Add Charges"), console->host());
        connect(tab, &TAccountsTab::addChargesAllowed, addCharges, &QPushButton::setEnabled);
        account(1, {{"RegisterName", "ONE"}, {"DealerCode", "M"}});
        account(2, {{"RegisterName", "TWO"}, {"DealerCode", "DLR2"}});
        account(3, {{"RegisterName", "THREE"}});
        openTables();
        QVERIFY(!addCharges->isEnabled());
        dm().tblRegistration->next();
        QVERIFY(addCharges->isEnabled());

        // Refresh shows a change made behind the console's back.
        console->data().connTrellaneEMC->exec(
            QStringLiteral("UPDATE %1 SET %2 = 'TWO RENAMED' WHERE %3 = 2")
                .arg(dm().connTrellaneEMC->quoteName(QStringLiteral("Registration")),
                     dm().connTrellaneEMC->quoteName(QStringLiteral("RegisterName")),
                     dm().connTrellaneEMC->quoteName(QStringLiteral("SerialNumber"))));
        tab->btnRefreshClick();
        QCOMPARE(current(), 2);
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("TWO RENAMED"));

        // Escape cancels a new account and shows the current one again.
        tab->btnNewSNClick();
        QVERIFY(edit("edtRegisterName")->text().isEmpty());
        QTest::keyClick(edit("edtCity"), Qt::Key_Escape);
        QVERIFY(!tab->AddingAccount());
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("TWO RENAMED"));
        QVERIFY(find<QPushButton>(tab, "btnNewSN")->isEnabled());

        tab->btnDelSNClick();
        QCOMPARE(platform->questions.last(), QStringLiteral("Are you sure you want to delete this account?"));
        QCOMPARE(dm().tblRegistration->recordCount(), 3);
        platform->yesNoAnswers.enqueue(true);
        tab->btnDelSNClick();
        QCOMPARE(dm().tblRegistration->recordCount(), 2);
        QCOMPARE(current(), 3);
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("THREE"));
    }

    void gridShowsEveryFieldAndFollowsClicks()
    {
        for (int s = 1; s <= 5; ++s)
            account(s, {{"RegisterName", QStringLiteral("NAME %1").arg(s)}});
        openTables();
        auto* grid = find<TDBGrid>(tab, "DBGrid3");
        const QList<Db::FieldDef>& fields = dm().tblRegistration->fields();
        QCOMPARE(grid->model()->columnCount(), int(fields.size()));
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(grid->model()->headerData(i, Qt::Horizontal).toString(), fields[i].name);
        QVERIFY(QTest::qWaitForWindowExposed(console->host()));
        const QRect cell = grid->visualRect(grid->model()->index(3, 2));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(current(), 4);
        QCOMPARE(edit("edtRegisterName")->text(), QStringLiteral("NAME 4"));
    }

    // A move to another account after "&New" ends the new account, asking
    // first when something was typed into it; "&Save" then updates the
    // account shown, or, when the user keeps the new account, appends it.
    void aMoveLeavesTheNewAccount_data()
    {
        QTest::addColumn<QString>("move");
        QTest::addColumn<bool>("typed");
        QTest::addColumn<bool>("discard");
        QTest::newRow("grid click, nothing typed") << "click" << false << false;
        QTest::newRow("grid click, kept") << "click" << true << false;
        QTest::newRow("grid click, discarded") << "click" << true << true;
        QTest::newRow("grid key, discarded") << "key" << true << true;
        QTest::newRow("grid key, kept") << "key" << true << false;
        QTest::newRow("search, nothing typed") << "search" << false << false;
        QTest::newRow("search, kept") << "search" << true << false;
        QTest::newRow("search, discarded") << "search" << true << true;
        QTest::newRow("submitter lookup, discarded") << "lookup" << true << true;
    }
    void aMoveLeavesTheNewAccount()
    {
        QFETCH(QString, move);
        QFETCH(bool, typed);
        QFETCH(bool, discard);
        dealer(QStringLiteral("M"), QString());
        for (int s = 31; s <= 35; ++s)
            account(s, {{"RegisterName", QStringLiteral("NAME %1").arg(s)}, {"DealerCode", "M"},
                        {"Authorization", "OK"}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Submitters"), {{"SerialNumber", 33}, {"SubmitterID", "SUB33"}});
        openTables();
        QVERIFY(QTest::qWaitForWindowExposed(console->host()));
        auto* grid = find<TDBGrid>(tab, "DBGrid3");

        tab->btnNewSNClick();
        if (typed) {
            type(edit("edtRegisterName"), QStringLiteral("MINE"));
            edit("edtAuth")->setText(QStringLiteral("OK"));
        }
        platform->yesNoAnswers.enqueue(discard);
        const QRect row33 = grid->visualRect(grid->model()->index(2, 1));
        if (move == QLatin1String("click")) {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row33.center());
        } else if (move == QLatin1String("key")) {
            QTest::keyClick(grid, Qt::Key_Down);
        } else if (move == QLatin1String("search")) {
            type(edit("edtAcctSrch"), QStringLiteral("33"));
        } else {
            edit("edtSubLookup")->setText(QStringLiteral("SUB33"));
            tab->Button5Click();
        }
        const int target = move == QLatin1String("key") ? 32 : 33;

        QCOMPARE(platform->questions.isEmpty(), !typed);
        if (typed)
            QCOMPARE(platform->questions.first(), QStringLiteral("Discard the new account?"));
        const bool left = !typed || discard;
        QCOMPARE(tab->AddingAccount(), !left);
        QCOMPARE(current(), left ? target : 31);
        QCOMPARE(edit("edtRegisterName")->text(),
                 left ? QStringLiteral("NAME %1").arg(target) : QStringLiteral("MINE"));
        QCOMPARE(find<QPushButton>(tab, "btnNewSN")->isEnabled(), left);

        type(edit("edtContact"), QStringLiteral("CHANGED"));
        tab->btnSavSNClick();
        QVERIFY(platform->messages.isEmpty() && platform->errors.isEmpty());
        QCOMPARE(dm().tblRegistration->recordCount(), left ? 5 : 6);
        QCOMPARE(stored(target).value("ContactName").toString(), left ? QStringLiteral("CHANGED") : QString());
        QCOMPARE(stored(36).value("RegisterName").toString(), left ? QString() : QStringLiteral("MINE"));
    }

    // What is typed into a picker is taken as a whole date or refused with a
    // message, the picker keeping its date; Save never stores another date.
    void typedDatesAreTakenWholeOrRefused_data()
    {
        QTest::addColumn<QDate>("before");
        QTest::addColumn<QString>("keys");  // "\r" is Enter, "\t" leaves the picker
        QTest::addColumn<QDate>("after");
        QTest::addColumn<QString>("refused");
        const QDate may5(2026, 5, 5);
        QTest::newRow("impossible day") << may5 << "02302027" << may5 << "02/30/2027";
        QTest::newRow("impossible day, empty picker") << QDate() << "02302027" << QDate() << "02/30/2027";
        QTest::newRow("month 13") << may5 << "13012027" << may5 << "13/01/2027";
        QTest::newRow("no leap day") << may5 << "02292027" << may5 << "02/29/2027";
        QTest::newRow("leap day") << may5 << "02292028" << QDate(2028, 2, 29) << "";
        QTest::newRow("single digits, separators") << QDate() << "2/5/2027" << QDate(2027, 2, 5) << "";
        QTest::newRow("left half typed") << may5 << "0230\t" << may5 << "02/30/2026";
        QTest::newRow("short year, Enter") << may5 << "0215202\r" << may5 << "02/15/202";
        QTest::newRow("short year, Save") << may5 << "0215202" << may5 << "02/15/202";
        QTest::newRow("abandoned") << may5 << "0215\x1b" << may5 << "";
    }
    void typedDatesAreTakenWholeOrRefused()
    {
        QFETCH(QDate, before);
        QFETCH(QString, keys);
        QFETCH(QDate, after);
        QFETCH(QString, refused);
        dealer(QStringLiteral("M"), QString());
        QVariantMap values{{"DealerCode", "M"}, {"Authorization", "OK"}};
        if (before.isValid())
            values.insert(QStringLiteral("ExpiresProf"), before);
        account(1, values);
        openTables();
        QVERIFY(QTest::qWaitForWindowActive(console->host()));
        TDatePicker* dtp = picker("dtpExpiresProf");
        dtp->setFocus();
        dtp->setSelectedSection(QDateTimeEdit::MonthSection);
        const QHash<QChar, Qt::Key> named{{'\r', Qt::Key_Return}, {'\t', Qt::Key_Tab}, {'\x1b', Qt::Key_Escape}};
        for (QChar c : keys) {
            if (named.contains(c))
                QTest::keyClick(dtp, named.value(c));
            else
                QTest::keyClick(dtp, c.toLatin1());
        }
        QCoreApplication::processEvents();
        tab->btnSavSNClick();

        const QStringList message{refused + QStringLiteral(" is not a valid date.")};
        QCOMPARE(platform->messages, refused.isEmpty() ? QStringList() : message);
        QCOMPARE(dtp->value(), after);
        QCOMPARE(dtp->text(), after.isValid() ? after.toString(QStringLiteral("MM/dd/yyyy")) : QStringLiteral(" "));
        QCOMPARE(stored(1).value("ExpiresProf").toDate(), after);
    }

    void updateMedisoft()
    {
        const QDate prof(2027, 6, 30), inst(2027, 7, 31), old(2001, 1, 1);
        patient({{"Chart Number", "CH1"}, {"Last Name", "SMITH"}, {"Employee Retirement Date", old},
                 {"Date Modified", QDateTime(QDate(2020, 1, 1), QTime(8, 0))}});
        account(1, {{"ChartNumber", "CH1"}, {"ExpiresProf", prof}, {"ExpiresInst", inst}});
        openTables();
        auto* button = find<QPushButton>(tab, "btnUpdate");
        auto readPatient = [&] {
            Db::Table* pat = dm().tblMWPAT;
            pat->findKey({QStringLiteral("CH1")});
            QVariantMap out;
            for (const char* col : {"Street 1", "Street 2", "City", "State", "Zip Code", "Phone 1", "Phone 4",
                                    "Employee Retirement Date", "EMail", "Contact Name", "Last Name", "Date Modified"})
                out.insert(col, pat->fieldByName(QLatin1String(col)).value());
            return out;
        };

        edit("edtStreet1")->setText(QString(40, QLatin1Char('S')));
        edit("edtEmail")->setText(QString(45, QLatin1Char('e')));
        edit("edtCity")->setText(QStringLiteral("Reno"));
        type(edit("edtFax"), QStringLiteral("7025550100"));
        tab->btnUpdateClick();
        QVERIFY(platform->messages.isEmpty());
        QVERIFY(button->isEnabled());
        QVERIFY(console->statusLines.last().startsWith(QLatin1String("Patient record of chart ")));
        QVariantMap p = readPatient();
        QCOMPARE(p.value("Street 1").toString(), QString(30, QLatin1Char('S')));
        QCOMPARE(p.value("EMail").toString(), QString(35, QLatin1Char('e')));
        QCOMPARE(p.value("City").toString(), QStringLiteral("Reno"));
        QCOMPARE(p.value("Phone 4").toString(), QStringLiteral("(702)555-0100"));
        // An empty phone box stores the mask's blank text (trailing blanks are not kept).
        QCOMPARE(p.value("Phone 1").toString(), QStringLiteral("(   )   -"));
        QCOMPARE(p.value("Employee Retirement Date").toDate(), old);
        QCOMPARE(p.value("Last Name").toString(), QStringLiteral("SMITH"));
        QCOMPARE(p.value("Date Modified").toDateTime(), QDateTime(QDate(2020, 1, 1), QTime(8, 0)));

        check("cbInstitutional")->setChecked(true);
        tab->btnUpdateClick();
        QCOMPARE(readPatient().value("Employee Retirement Date").toDate(), inst);
        check("cbProfessional")->setChecked(true);
        tab->btnUpdateClick();
        QCOMPARE(readPatient().value("Employee Retirement Date").toDate(), prof);

        edit("edtChartNumber")->setText(QStringLiteral("ch1"));
        tab->btnUpdateClick();
        QCOMPARE(platform->messages, QStringList{QStringLiteral("No Chart Found.")});
        QVERIFY(button->isEnabled());

        // A refused post shows the error with its number and keeps every value.
        Db::Connection* pc = dm().connMedisoft;
        const QString table = pc->quoteName(QStringLiteral("MWPAT"));
        if (TestDb::isPostgres()) {
            pc->exec(QStringLiteral("CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN "
                                    "RAISE EXCEPTION 'record is locked'; END $$ LANGUAGE plpgsql"));
            pc->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON %1 FOR EACH ROW EXECUTE FUNCTION refuse()")
                         .arg(table));
        } else {
            pc->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON %1 BEGIN "
                                    "SELECT RAISE(ABORT, 'record is locked'); END")
                         .arg(table));
        }
        const QVariantMap before = readPatient();
        edit("edtChartNumber")->setText(QStringLiteral("CH1"));
        edit("edtCity")->setText(QStringLiteral("Elko"));
        tab->btnUpdateClick();
        QCOMPARE(platform->messages.size(), 2);
        QVERIFY2(platform->messages.last().contains(QStringLiteral("record is locked")), qPrintable(platform->messages.last()));
        QVERIFY(platform->messages.last().endsWith(QStringLiteral("::0")));
        QVERIFY(dm().tblMWPAT->isBrowsing());
        QCOMPARE(dm().tblMWPAT->fieldByName(QStringLiteral("City")).asString(), QStringLiteral("Reno"));
        QCOMPARE(readPatient(), before);
        QVERIFY(button->isEnabled());
    }
};

QTEST_MAIN(TestAccounts)
#include "test_accounts.moc"
