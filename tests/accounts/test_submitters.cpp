// The Submitter IDs tab on real databases: the detail grid with its
// calculated version name, delete, stepping through accounts, and the SFTP
// request file.
#include "accounts/AccountsTab.h"
#include "accounts/SubmittersTab.h"
#include "customerdb/DBGrid.h"
#include "tests/accounts/AccountsFixture.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestPlatform.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using Fixture::find;
using Fixture::insertRow;

class TestSubmitters : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    TSubmittersTab* tab = nullptr;

    TDataModule& dm() { return console->data(); }
    int currentAccount() { return dm().tblRegistration->fieldByName(QStringLiteral("SerialNumber")).asInteger(); }
    void submitter(int serial, const QString& id, const QString& clearinghouse, const QString& dataVersion = {})
    {
        insertRow(dm().connTrellaneEMC, QStringLiteral("Submitters"),
                  {{"SerialNumber", serial}, {"SubmitterID", id}, {"Clearinghouse", clearinghouse},
                   {"DataVersion", dataVersion}});
    }
    void openTables()
    {
        dm().tblRegistration->open();
        dm().tblSubmitters->open();
    }
    QStringList column(int col)
    {
        QAbstractItemModel* m = find<TDBGrid>(tab, "DBGrid2")->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data().toString();
        return out;
    }

private slots:
    void init()
    {
        platform = std::make_unique<TestPlatform>();
        console = std::make_unique<TestConsole>(QStringLiteral("sub"));
        tab = new TSubmittersTab(*console, console->host());
        console->host()->resize(760, 660);
        tab->resize(760, 660);
        console->host()->show();
    }

    void cleanup()
    {
        console.reset();
        platform.reset();
    }

    void gridColumnsAndVersionNames()
    {
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}});
        const QStringList codes = {"22", "29", "16", "13", "", "ab", " 17", "28"};
        for (int i = 0; i < codes.size(); ++i)
            submitter(1, QStringLiteral("S%1").arg(i), QStringLiteral("CH"), codes[i]);
        openTables();
        const QStringList titles = {"SerialNumber", "SubmitterID", "Clearinghouse", "ConnectionType", "IPAddress",
                                    "EDIVersion", "MedisoftVersion", "PracticeName", "PracticePhone", "Updated",
                                    "DataVersion"};
        QAbstractItemModel* m = find<TDBGrid>(tab, "DBGrid2")->model();
        QCOMPARE(m->columnCount(), int(titles.size()));
        for (int c = 0; c < titles.size(); ++c)
            QCOMPARE(m->headerData(c, Qt::Horizontal).toString(), titles[c]);
        QCOMPARE(column(1), (QStringList{"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7"}));
        QCOMPARE(column(6), (QStringList{"11 SP3 or SP4", "?", "?", "?", "?", "?", "8", "17"}));
    }

    void deleteAsksAndRemovesOnlyTheRecord()
    {
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 2}});
        submitter(2, QStringLiteral("A"), QStringLiteral("X"));
        submitter(2, QStringLiteral("B"), QStringLiteral("X"));
        openTables();

        // Account 1 has no submitter records: nothing is asked or deleted.
        tab->btnDelSubIDClick();
        QVERIFY(platform->questions.isEmpty());
        QCOMPARE(console->disableCalls, 1);
        QCOMPARE(console->enableCalls, 1);

        tab->Button8Click();
        QCOMPARE(currentAccount(), 2);
        tab->btnDelSubIDClick();
        QCOMPARE(platform->questions, QStringList{QStringLiteral("Are you sure you want to delete this account?")});
        QCOMPARE(column(1), (QStringList{"A", "B"}));
        platform->yesNoAnswers.enqueue(true);
        tab->btnDelSubIDClick();
        QCOMPARE(column(1), QStringList{"B"});
        QCOMPARE(dm().tblRegistration->recordCount(), 2);
    }

    void previousAndNextFollowTheSearchOrder()
    {
        auto* accounts = new TAccountsTab(*console, console->host());
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}, {"RegisterName", "C"}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 2}, {"RegisterName", "A"}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 3}, {"RegisterName", "B"}});
        submitter(3, QStringLiteral("ID3"), QStringLiteral("X"));
        openTables();
        find<QComboBox>(accounts, "cbAcctIdx")->setCurrentIndex(TAccountsTab::soRegisterName);
        dm().tblRegistration->first();
        QCOMPARE(currentAccount(), 2);
        tab->Button9Click();
        QCOMPARE(currentAccount(), 2);
        tab->Button8Click();
        QCOMPARE(currentAccount(), 3);
        QCOMPARE(column(1), QStringList{"ID3"});
        QCOMPARE(find<QLineEdit>(accounts, "edtRegisterName")->text(), QStringLiteral("B"));
        tab->Button8Click();
        tab->Button8Click();
        QCOMPARE(currentAccount(), 1);
        QVERIFY(column(1).isEmpty());
        tab->Button9Click();
        QCOMPARE(currentAccount(), 3);
    }

    void sftpRequestFile()
    {
        QTemporaryDir share;
        tab->setFromWebFolder(share.path());
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}});
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 2}});
        submitter(2, QStringLiteral("12345"), QStringLiteral("ABC"));
        QFile file(share.filePath(QStringLiteral("sftp_ABC_12345.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("user=clinic\npassword=s3cret\n");
        file.close();
        openTables();
        console->RichEdit1()->setPlainText(QStringLiteral("old text"));
        platform->clipboard = QStringLiteral("old clip");

        // No submitter record: the name is built from two empty values.
        tab->getSFTPRequestAction()->trigger();
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(platform->errors.first(), QStringLiteral("Cannot open file \"%1\". No such file or directory")
                                               .arg(share.filePath(QStringLiteral("sftp__.txt"))));
        QCOMPARE(console->RichEdit1()->toPlainText(), QStringLiteral("old text"));
        QCOMPARE(platform->clipboard, QStringLiteral("old clip"));

        tab->Button8Click();
        tab->getSFTPRequestAction()->trigger();
        QCOMPARE(platform->errors.size(), 1);
        QCOMPARE(console->RichEdit1()->toPlainText(), QStringLiteral("user=clinic\npassword=s3cret\n"));
        QCOMPARE(platform->clipboard, QStringLiteral("user=clinic\npassword=s3cret\n"));
    }

    void sftpNameFromOtherSystemsStaysInTheFolder_data()
    {
        QTest::addColumn<QString>("clearinghouse");
        QTest::addColumn<QString>("submitterId");
        QTest::addColumn<QString>("refused");
        QTest::newRow("parent folder") << "ABC" << "../../etc/x" << "../../etc/x";
        QTest::newRow("slash") << "A/B" << "1" << "A/B";
        QTest::newRow("backslash") << "ABC" << "1\\2" << "1\\2";
        QTest::newRow("dots alone") << ".." << "1" << "..";
        QTest::newRow("drive") << "C:" << "1" << "C:";
    }
    void sftpNameFromOtherSystemsStaysInTheFolder()
    {
        QFETCH(QString, clearinghouse);
        QFETCH(QString, submitterId);
        QFETCH(QString, refused);
        QTemporaryDir share;
        tab->setFromWebFolder(share.path());
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}});
        submitter(1, submitterId, clearinghouse);
        openTables();
        platform->clipboard = QStringLiteral("old clip");
        tab->getSFTPRequestAction()->trigger();
        QCOMPARE(platform->errors, QStringList{QStringLiteral("The clearinghouse or submitter ID \"%1\" cannot be "
                                                              "used in a file name.").arg(refused)});
        QCOMPARE(platform->clipboard, QStringLiteral("old clip"));
    }

    void refreshShowsNewReports()
    {
        insertRow(dm().connTrellaneEMC, QStringLiteral("Registration"), {{"SerialNumber", 1}});
        submitter(1, QStringLiteral("OLD"), QStringLiteral("X"));
        openTables();
        submitter(1, QStringLiteral("NEW"), QStringLiteral("X"));
        QCOMPARE(column(1), QStringList{"OLD"});
        tab->RefreshSubmitters();
        // The index orders a serial number's records by submitter ID.
        QCOMPARE(column(1), (QStringList{"NEW", "OLD"}));
    }
};

QTEST_MAIN(TestSubmitters)
#include "test_submitters.moc"
