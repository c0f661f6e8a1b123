// The main window: its frame, start-up in order and its failure paths (the
// release share, the update server, the databases), the updater at exit, the
// release label timer, the submitter refresh on its tab, DisableButtons and
// the error box. The update server is a real HTTP server on loopback; the
// databases are fresh test databases.
#include "accounts/AccountsTab.h"
#include "billing/BillingTab.h"
#include "customerdb/DataModule.h"
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "helpers/Command.h"
#include "helpers/QtPlatform.h"
#include "releases/ReleaseLookup.h"
#include "requests/RequestsTab.h"
#include "shell/Mainfrm.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

namespace {

// Answers GET requests: 200 with the body registered for the path, 404 for
// any other; with hang set it accepts the request and never answers.
class HttpStub : public QObject {
public:
    QHash<QString, QByteArray> bodies;
    QStringList requested;
    bool hang = false;
    std::function<void()> onRequest;  // runs as each request arrives

    HttpStub()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }

private:
    void onRead(QTcpSocket* s)
    {
        QByteArray& buf = pending[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n"))
            return;
        const QString path = QString::fromLatin1(buf.split(' ').value(1));
        requested << path;
        if (onRequest)
            onRequest();
        if (hang)
            return;
        const bool found = bodies.contains(path);
        const QByteArray body = found ? bodies.value(path) : QByteArray("Not Found");
        s->write(QByteArray(found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n")
                 + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        s->disconnectFromHost();
    }

    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> pending;
};

// Sends the update server's downloads to the stub and keeps one log of the
// platform calls start-up makes, in order.
class ShellPlatform : public TestPlatform {
public:
    QString target;
    QStringList events;
    std::function<void()> beforeDownload;

    bool copyFile(const QString& from, const QString& to) override
    {
        events << QStringLiteral("copy ") + QFileInfo(from).fileName();
        return TestPlatform::copyFile(from, to);
    }
    QString download(const QString& url, const QString& localFile, int timeoutMs) override
    {
        events << QStringLiteral("download ") + url.mid(Releases::UpdateServerURL().size());
        if (beforeDownload)
            beforeDownload();
        QString routed = url;
        routed.replace(0, Releases::UpdateServerURL().size(), target);
        return TestPlatform::download(routed, localFile, timeoutMs);
    }
    void downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                              DownloadDone done) override
    {
        events << QStringLiteral("background download ") + url.mid(Releases::UpdateServerURL().size());
        if (beforeDownload)
            beforeDownload();
        QString routed = url;
        routed.replace(0, Releases::UpdateServerURL().size(), target);
        TestPlatform::downloadInBackground(routed, localFile, timeoutMs, context, std::move(done));
    }
    void showMessage(const QString& text) override
    {
        events << QStringLiteral("message ") + text;
        TestPlatform::showMessage(text);
    }
    void showError(const QString& text) override
    {
        events << QStringLiteral("error ") + text;
        TestPlatform::showError(text);
    }
};

const QByteArray kList22 = "FILE;TRELEDI.EXE;EDI;2;2;1;30;0;x\r\n";
const QByteArray kList23 = "FILE;TRELEDI.EXE;EDI;2;3;0;47;0;x\r\n";
const QByteArray kList30 = "FILE;TRELEDI3.EXE;EDI;3;0;2;5;0;x\r\n";
const QString kV5000 = QStringLiteral(FIXTURE_V5000);
const QString kV5001 = QStringLiteral(FIXTURE_V5001);
const QString kV5002 = QStringLiteral(FIXTURE_V5002);
const QString kNoVersion = QStringLiteral(FIXTURE_NOVERSION);
const QString kThreeVersions = QStringLiteral("Current EDI Versions: 2.2.1.30 and 2.3.0.47 and 3.0.2.5");

Db::ConnectionSettings withSchema(const QString& tag, const Db::Catalog& catalog)
{
    const Db::ConnectionSettings s = TestDb::fresh(tag);
    Db::Connection c(QStringLiteral("setup_") + tag, &catalog);
    c.setSettings(s);
    c.connect();
    c.createSchema();
    c.disconnect();
    return s;
}

void addRow(const Db::ConnectionSettings& s, const Db::Catalog& catalog, const QString& table,
            const QList<QPair<QString, QVariant>>& values)
{
    Db::Connection c(QStringLiteral("rows"), &catalog);
    c.setSettings(s);
    Db::Table t(&c);
    t.setTableName(table);
    t.open();
    t.append();
    for (const auto& [field, value] : values)
        t.fieldByName(field).setValue(value);
    t.post();
    c.disconnect();
}

QList<QPushButton*> mainButtons(TfrmMain& frm)
{
    QList<QPushButton*> result;
    for (QPushButton* b : frm.findChildren<QPushButton*>())
        if (b->window() == &frm)
            result << b;
    return result;
}

} // namespace

class TestMainfrm : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    ShellPlatform* plat = nullptr;
    HttpStub* http = nullptr;
    ShellSettings settings;
    QString programDir;
    int terminated = 0;
    int errorsWhenTerminated = -1;

    QString shareDir() const { return dir->filePath(QStringLiteral("share")); }

    void placeConsole(const QString& fixture, const QString& folder)
    {
        const QString to = QDir(folder).filePath(TfrmMain::consoleFileName());
        QFile::remove(to);
        QVERIFY(QFile::copy(fixture, to));
    }

    std::unique_ptr<TfrmMain> makeWindow()
    {
        auto frm = std::make_unique<TfrmMain>(settings);
        frm->setTerminateHook([this] {
            ++terminated;
            errorsWhenTerminated = int(plat->errors.size());
        });
        return frm;
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        programDir = dir->filePath(QStringLiteral("prog")) + QLatin1Char('/');
        QDir().mkpath(programDir);
        QDir().mkpath(shareDir());
        plat = new ShellPlatform;
        placeConsole(kV5001, programDir);
        plat->programPath = programDir + TfrmMain::consoleFileName();
        placeConsole(kV5001, shareDir());
        QFile updater(QDir(shareDir()).filePath(TfrmMain::updaterFileName()));
        QVERIFY(updater.open(QIODevice::WriteOnly));
        updater.write("#!/bin/sh\nexit 0\n");
        updater.close();

        http = new HttpStub;
        plat->target = http->base();
        http->bodies = {{"/updates/updates.txt", kList22},
                        {"/updates2/updates.txt", kList23},
                        {"/updates3/updates3.txt", kList30}};

        const QString tag = QString::fromLatin1(QTest::currentTestFunction()).left(12);
        settings.customer = withSchema(tag + QStringLiteral("_c"), CustomerDb::catalog());
        settings.practice = withSchema(tag + QStringLiteral("_p"), Practice::catalog());
        settings.releaseShare = shareDir();
        addRow(settings.customer, CustomerDb::catalog(), QStringLiteral("Registration"),
               {{QStringLiteral("SerialNumber"), 1}, {QStringLiteral("RegisterName"), QStringLiteral("FIRST PRACTICE")},
                {QStringLiteral("DealerCode"), QStringLiteral("M")}});
        addRow(settings.customer, CustomerDb::catalog(), QStringLiteral("Dealers"),
               {{QStringLiteral("DealerCode"), QStringLiteral("M")}});
        terminated = 0;
        errorsWhenTerminated = -1;
    }

    void cleanup()
    {
        Releases::SetDownloadTimeoutMs(30000);
        delete http;
        delete plat;
        delete dir;
    }

    void frameBeforeStartUp()
    {
        auto frm = makeWindow();
        QCOMPARE(frm->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(frm->windowTitle(), QStringLiteral("TrellaneEMC Registration Console"));
        QCOMPARE(frm->size(), QSize(762, 677));

        QTabWidget* pages = frm->PageControl1();
        QCOMPARE(pages->objectName(), QStringLiteral("PageControl1"));
        const QStringList names{QStringLiteral("tabAccounts"), QStringLiteral("tabSubmitterIDs"),
                                QStringLiteral("tabDealers"), QStringLiteral("tabRequests"),
                                QStringLiteral("tabBilling")};
        const QStringList captions{QStringLiteral("Accounts"), QStringLiteral("Submitter IDs"),
                                   QStringLiteral("Dealers"), QStringLiteral("Requests"), QStringLiteral("Billing")};
        QCOMPARE(pages->count(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(pages->widget(i)->objectName(), names.at(i));
            QCOMPARE(pages->tabText(i), captions.at(i));
        }
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("tabAccounts"));

        QCOMPARE(frm->Timer1()->interval(), 1800000);
        QVERIFY(frm->Timer1()->isActive());

        // The scratch areas live on the Requests tab and do not wrap.
        QTextEdit* rich = frm->RichEdit1();
        QPlainTextEdit* memo = frm->Memo2();
        QCOMPARE(frm->control(QStringLiteral("RichEdit1")), rich);
        QCOMPARE(frm->control(QStringLiteral("Memo2")), memo);
        QVERIFY(pages->widget(3)->isAncestorOf(rich));
        QVERIFY(pages->widget(3)->isAncestorOf(memo));
        QCOMPARE(rich->lineWrapMode(), QTextEdit::NoWrap);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);

        QVERIFY(frm->Label42());
        QCOMPARE(frm->control(QStringLiteral("Label42")), frm->Label42());
        QVERIFY(pages->widget(0)->isAncestorOf(frm->Label42()));
        QVERIFY(frm->frmOutput());
        QCOMPARE(frm->frmOutput(), frm->frmOutput());
        QVERIFY(!frm->data().tblRegistration->isOpen()); // nothing opens before start-up
    }

    void startUpRunsInOrder()
    {
        auto frm = makeWindow();
        frm->PageControl1()->setCurrentIndex(2);
        QStringList seenAtDownload;
        plat->beforeDownload = [&] {
            seenAtDownload << QStringLiteral("%1|%2|%3")
                                  .arg(frm->windowTitle(), frm->PageControl1()->currentWidget()->objectName())
                                  .arg(frm->data().tblRegistration->isOpen());
        };

        frm->FormShow();

        QCOMPARE(plat->events,
                 QStringList({QStringLiteral("copy ") + TfrmMain::updaterFileName(),
                              QStringLiteral("download /updates/updates.txt"),
                              QStringLiteral("download /updates2/updates.txt"),
                              QStringLiteral("download /updates3/updates3.txt")}));
        const QString title = QStringLiteral("TrellaneEMC Registration Console Version 5.0.0.1");
        // The title is set before the lookups; the tab and the databases after.
        const QString atDownload = title + QStringLiteral("|tabDealers|0");
        QCOMPARE(seenAtDownload, QStringList({atDownload, atDownload, atDownload}));

        QCOMPARE(frm->windowTitle(), title);
        QCOMPARE(frm->Label42()->text(), kThreeVersions);
        QCOMPARE(frm->PageControl1()->currentWidget()->objectName(), QStringLiteral("tabAccounts"));
        TDataModule& dm = frm->data();
        for (Db::DataSet* t : {static_cast<Db::DataSet*>(dm.tblRegistration), static_cast<Db::DataSet*>(dm.tblDealer),
                               static_cast<Db::DataSet*>(dm.tblSubmitters), static_cast<Db::DataSet*>(dm.tblRequests),
                               static_cast<Db::DataSet*>(dm.tblMWPAT)})
            QVERIFY(t->isOpen());
        QCOMPARE(dm.tblRegistration->fieldByName(QStringLiteral("SerialNumber")).asInteger(), 1);
        // The accounts open before the dealers: loading the first dealer
        // enables "Add Charges" although the first account is an "M" one.
        QVERIFY(frm->findChild<QPushButton*>(QStringLiteral("Button12"))->isEnabled());
        QVERIFY(plat->messages.isEmpty());
        QVERIFY(plat->errors.isEmpty());
        QCOMPARE(terminated, 0);

        // The updater was copied into the program directory.
        QVERIFY(QFile::exists(programDir + TfrmMain::updaterFileName()));
        QVERIFY(frm->runUpdateFile().isEmpty());
        frm.reset();
        QVERIFY(plat->started.isEmpty());
    }

    void shareVersionDecidesTheUpdate_data()
    {
        QTest::addColumn<QString>("ownFixture");
        QTest::addColumn<QString>("shareFixture"); // empty: the share is unreachable
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("titleVersion");
        QTest::addColumn<bool>("update");

        QTest::newRow("equal") << kV5001 << kV5001 << QString() << "5.0.0.1" << false;
        QTest::newRow("older on share") << kV5001 << kV5000 << "A newer version (5.0.0.0) is available."
                                        << "5.0.0.1" << true;
        QTest::newRow("newer on share") << kV5001 << kV5002 << "A newer version (5.0.0.2) is available."
                                        << "5.0.0.1" << true;
        QTest::newRow("share console without version") << kV5001 << kNoVersion << QString() << "5.0.0.1" << false;
        QTest::newRow("own file without version") << kNoVersion << kV5001
                                                  << "A newer version (5.0.0.1) is available." << "" << true;
        QTest::newRow("share unreachable") << kV5001 << QString() << "Unable to find " << "5.0.0.1" << false;
    }

    void shareVersionDecidesTheUpdate()
    {
        QFETCH(QString, ownFixture);
        QFETCH(QString, shareFixture);
        QFETCH(QString, message);
        QFETCH(QString, titleVersion);
        QFETCH(bool, update);

        placeConsole(ownFixture, programDir);
        const QString shareConsole = QDir(shareDir()).filePath(TfrmMain::consoleFileName());
        if (shareFixture.isEmpty()) {
            QVERIFY(QDir(shareDir()).removeRecursively());
            message += shareConsole;
        } else {
            placeConsole(shareFixture, shareDir());
        }

        auto frm = makeWindow();
        frm->FormShow();

        QCOMPARE(plat->messages, message.isEmpty() ? QStringList() : QStringList{message});
        QVERIFY(plat->errors.isEmpty());
        QCOMPARE(frm->windowTitle(), QStringLiteral("TrellaneEMC Registration Console Version ") + titleVersion);
        // Start-up goes on whatever the share holds.
        QCOMPARE(frm->Label42()->text(), kThreeVersions);
        QVERIFY(frm->data().tblMWPAT->isOpen());
        QCOMPARE(QFile::exists(programDir + TfrmMain::updaterFileName()), !shareFixture.isEmpty());

        const QString updater = programDir + TfrmMain::updaterFileName();
        QCOMPARE(frm->runUpdateFile(), update ? updater : QString());
        QCOMPARE(frm->runUpdateDirectory(), update ? programDir : QString());
        frm.reset();
        QCOMPARE(plat->started, update ? QStringList{updater + QLatin1Char('|') + programDir} : QStringList());
    }

    // A site without a release share: nothing is copied, compared or
    // reported, and nothing starts at exit.
    void noReleaseShareNoUpdateCheck()
    {
        settings.releaseShare.clear();
        auto frm = makeWindow();
        frm->FormShow();
        QVERIFY(plat->messages.isEmpty() && plat->errors.isEmpty());
        QVERIFY(!QFile::exists(programDir + TfrmMain::updaterFileName()));
        QCOMPARE(frm->runUpdateFile(), QString());
        QVERIFY(frm->data().tblMWPAT->isOpen());
    }

    void refusedUpdaterShowsThePlatformsReason()
    {
        placeConsole(kV5000, shareDir());
        plat->startSucceeds = false;
        auto frm = makeWindow();
        frm->FormShow();
        frm->FormDestroy();
        QCOMPARE(plat->started.size(), 1);
        QCOMPARE(plat->errors, QStringList{plat->startError});
        frm.reset(); // the launch is not tried twice
        QCOMPARE(plat->started.size(), 1);
    }

    void unreachableDatabaseShowsItsMessageThenEnds_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("customer database") << "customer";
        QTest::newRow("practice database") << "practice";
        QTest::newRow("customer file missing") << "customer file";
        QTest::newRow("customer tables missing") << "no tables";
    }

    void unreachableDatabaseShowsItsMessageThenEnds()
    {
        QFETCH(QString, which);
        Db::ConnectionSettings missing;
        missing.backend = TestDb::backend();
        missing.sqliteFile = dir->filePath(QStringLiteral("no/such/folder/db.sqlite"));
        missing.pgDatabase = QStringLiteral("t_no_such_database_%1").arg(QCoreApplication::applicationPid());
        if (which == QLatin1String("customer file"))
            missing.sqliteFile = dir->filePath(QStringLiteral("Trellaneemc.sqlite"));
        if (which.startsWith(QLatin1String("customer")))
            settings.customer = missing;
        else if (which == QLatin1String("practice"))
            settings.practice = missing;
        else
            settings.customer = TestDb::fresh(QStringLiteral("empty"));
        // A different console on the share: the updater still starts at exit.
        placeConsole(kV5002, shareDir());

        auto frm = makeWindow();
        frm->FormShow();

        QCOMPARE(plat->errors.size(), 1);
        QVERIFY(!plat->errors.first().trimmed().isEmpty());
        // A missing file is named, and neither it nor its folder is made.
        if (!TestDb::isPostgres() && which != QLatin1String("no tables")) {
            QVERIFY2(plat->errors.first().contains(QDir::toNativeSeparators(missing.sqliteFile)), qPrintable(plat->errors.first()));
            QVERIFY(!QFileInfo::exists(missing.sqliteFile));
            QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("no"))));
        }
        // Tables are named, and none is made: the console runs no DDL.
        if (which == QLatin1String("no tables")) {
            QVERIFY2(plat->errors.first().startsWith(QLatin1String("The customer database cannot be used by this console:\n"
                                                                   "- the table Registration is missing\n")),
                     qPrintable(plat->errors.first()));
            Db::Connection c(QStringLiteral("after"), &CustomerDb::catalog());
            c.setSettings(settings.customer);
            c.connect();
            QCOMPARE(c.database().tables(), QStringList());
        }
        QCOMPARE(terminated, 1);
        QCOMPARE(errorsWhenTerminated, 1); // the message came first
        // The steps before the databases ran.
        QCOMPARE(frm->Label42()->text(), kThreeVersions);
        QCOMPARE(plat->messages, QStringList{QStringLiteral("A newer version (5.0.0.2) is available.")});
        frm.reset();
        QCOMPARE(plat->started.size(), 1);
    }

    void updateServerFailureIsShownAndStartUpGoesOn_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("down") << "down";
        QTest::newRow("never answers") << "slow";
        QTest::newRow("answers 404") << "404";
    }

    void updateServerFailureIsShownAndStartUpGoesOn()
    {
        QFETCH(QString, server);
        if (server == QLatin1String("down")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            plat->target = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        } else if (server == QLatin1String("slow")) {
            http->hang = true;
            Releases::SetDownloadTimeoutMs(1000);
        } else {
            http->bodies.clear();
        }

        auto frm = makeWindow();
        frm->PageControl1()->setCurrentIndex(4);
        const QString labelBefore = frm->Label42()->text();
        QElapsedTimer clock;
        clock.start();
        frm->FormShow();
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));

        QCOMPARE(plat->errors, QStringList{QStringLiteral("Error downloading URL: ") + Releases::UpdateServerURL()
                                           + QStringLiteral("/updates/updates.txt")});
        QCOMPARE(plat->downloads.size(), 1);
        QCOMPARE(frm->Label42()->text(), labelBefore);
        // The console stays usable: the tab is selected and the databases open.
        QCOMPARE(frm->PageControl1()->currentWidget()->objectName(), QStringLiteral("tabAccounts"));
        QVERIFY(frm->data().tblRegistration->isOpen());
        QVERIFY(frm->data().tblMWPAT->isOpen());
        QCOMPARE(terminated, 0);
    }

    void timerRefreshesTwoVersions()
    {
        auto frm = makeWindow();
        QSignalSpy started(frm.get(), &TfrmMain::startUpFinished);
        frm->show();
        QVERIFY(started.wait());
        QCOMPARE(frm->Label42()->text(), kThreeVersions);
        http->bodies[QStringLiteral("/updates/updates.txt")] = "FILE;TRELEDI.EXE;EDI;2;2;1;31;0;x\r\n";
        http->requested.clear();
        QStringList labelAtDownload;
        plat->beforeDownload = [&] { labelAtDownload << frm->Label42()->text(); };
        // The user goes on typing while the lists download.
        QApplication::setActiveWindow(frm.get());
        QVERIFY(QTest::qWaitForWindowActive(frm.get()));
        auto* box = frm->findChild<QLineEdit*>(QStringLiteral("edtSubLookup"));
        box->setFocus();
        QList<bool> enabledAtRequest;
        http->onRequest = [&] { enabledAtRequest << frm->isEnabled(); };

        // As the timer fires it: through its signal. It returns at once.
        QVERIFY(QMetaObject::invokeMethod(frm->Timer1(), "timeout"));
        QCOMPARE(frm->Label42()->text(), QStringLiteral("Looking up current EDI version..."));
        QTest::keyClicks(box, QStringLiteral("SUB"));
        QTRY_COMPARE(frm->Label42()->text(), QStringLiteral("Current EDI Versions: 2.2.1.31 and 2.3.0.47"));
        QCOMPARE(enabledAtRequest, QList<bool>({true, true}));
        QVERIFY(box->hasFocus());
        QCOMPARE(box->text(), QStringLiteral("SUB"));
        QCOMPARE(labelAtDownload.value(0), QStringLiteral("Looking up current EDI version..."));
        QCOMPARE(http->requested,
                 QStringList({QStringLiteral("/updates/updates.txt"), QStringLiteral("/updates2/updates.txt")}));
        QVERIFY(plat->errors.isEmpty());

        // A failing tick goes to the error box; the timer keeps running.
        http->bodies.clear();
        QVERIFY(QMetaObject::invokeMethod(frm->Timer1(), "timeout"));
        QTRY_COMPARE(plat->errors, QStringList{QStringLiteral("Error downloading URL: ") + Releases::UpdateServerURL()
                                               + QStringLiteral("/updates/updates.txt")});
        QCOMPARE(frm->Label42()->text(), QStringLiteral("Looking up current EDI version..."));
        QVERIFY(frm->Timer1()->isActive());
        QCOMPARE(frm->Timer1()->interval(), 1800000);
    }

    // The Dealers tab's "Add Charges" and "Preview Charges" reach the billing
    // runs through the signals the main window connects (which refuse reseller M).
    void dealerButtonsRunTheDealerRunAndItsPreview()
    {
        struct CountingFeedback : Billing::RunFeedback {
            int* shown;
            explicit CountingFeedback(int* s) : shown(s) {}
            void started(qint64) override {}
            bool advanced(qint64, qint64) override { return true; }
            void finished() override {}
            void showOutput() override { ++*shown; }
        };
        auto frm = makeWindow();
        frm->FormShow();
        int shown = 0;
        frm->billingTab()->setRunFeedback(std::make_unique<CountingFeedback>(&shown));
        for (const char* name : {"Button12", "btnPreviewCharges"}) {
            auto* button = frm->findChild<QPushButton*>(QLatin1String(name));
            QVERIFY2(button && button->isEnabled(), name);
            button->click();
        }
        QCOMPARE(shown, 0);
        QCOMPARE(plat->messages, QStringList(2, "The accounts of reseller M are billed with \"Add Charges for M\" on the Billing tab."));
        QVERIFY(plat->errors.isEmpty());
    }

    // Only a command that disabled the buttons enables them again: a failing
    // background step (the timer's refresh) leaves them as they were.
    void failingTimerLeavesTheButtonsAsTheyWere()
    {
        auto frm = makeWindow();
        frm->FormShow();
        frm->accountsTab()->btnNewSNClick();
        auto* newButton = qobject_cast<QPushButton*>(frm->control(QStringLiteral("btnNewSN")));
        QVERIFY(newButton && !newButton->isEnabled());
        frm->DisableButtons(false);
        http->bodies.clear();
        QVERIFY(QMetaObject::invokeMethod(frm->Timer1(), "timeout"));
        QTRY_COMPARE(plat->errors.size(), 1);
        for (QPushButton* b : mainButtons(*frm))
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName() + b->text()));
    }

    void submitterListIsReReadOnItsTabOnly()
    {
        auto frm = makeWindow();
        frm->FormShow();
        Db::Table* subs = frm->data().tblSubmitters;
        QVERIFY(subs->isEmpty());
        addRow(settings.customer, CustomerDb::catalog(), QStringLiteral("Submitters"),
               {{QStringLiteral("SerialNumber"), 1}, {QStringLiteral("SubmitterID"), QStringLiteral("S100")}});

        frm->PageControl1()->setCurrentIndex(2); // Dealers: nothing is re-read
        QVERIFY(subs->isEmpty());
        frm->PageControl1()->setCurrentIndex(1);
        QVERIFY(!subs->isEmpty());
        QCOMPARE(subs->fieldByName(QStringLiteral("SubmitterID")).asString(), QStringLiteral("S100"));
        QVERIFY(plat->errors.isEmpty());
    }

    void addingARequestShowsTheAccountsTab()
    {
        auto frm = makeWindow();
        frm->FormShow();
        addRow(settings.customer, CustomerDb::catalog(), QStringLiteral("Requests"),
               {{QStringLiteral("SerialNumber"), 77}, {QStringLiteral("RequestType"), QStringLiteral("REGISTRATION")},
                {QStringLiteral("RegisterName"), QStringLiteral("NEW PRACTICE")}});
        // A new account being entered on the Accounts tab is left first.
        frm->accountsTab()->btnNewSNClick();
        auto* name = qobject_cast<QLineEdit*>(frm->control(QStringLiteral("edtRegisterName")));
        QVERIFY(name);
        name->setText(QStringLiteral("MINE"));
        plat->yesNoAnswers.enqueue(true);
        frm->PageControl1()->setCurrentIndex(3);
        frm->requestsTab()->Button1Click();
        frm->requestsTab()->Button2Click();
        QCOMPARE(frm->PageControl1()->currentWidget()->objectName(), QStringLiteral("tabAccounts"));
        QCOMPARE(frm->data().tblRegistration->fieldByName(QStringLiteral("SerialNumber")).asInteger(), 77);
        QCOMPARE(plat->questions, QStringList{QStringLiteral("Discard the new account?")});
        QVERIFY(!frm->accountsTab()->AddingAccount());
        QCOMPARE(name->text(), QStringLiteral("NEW PRACTICE"));
        QVERIFY(plat->errors.isEmpty());
    }

    void disableButtonsReachesEveryButtonOfTheWindow()
    {
        auto frm = makeWindow();
        auto* del = qobject_cast<QPushButton*>(frm->control(QStringLiteral("Button3")));
        QVERIFY(del);
        QVERIFY(!del->isEnabled()); // the Requests tab's "Delete" starts disabled

        // Buttons added later by any tab, and one of another window.
        auto* later = new QPushButton(QStringLiteral("Later"), frm->PageControl1()->widget(4));
        auto* deep = new QPushButton(QStringLiteral("Deep"), new QWidget(frm->PageControl1()->widget(1)));
        auto* dialog = new QDialog(frm.get());
        auto* dialogButton = new QPushButton(QStringLiteral("OK"), dialog);

        const QList<QPushButton*> buttons = mainButtons(*frm);
        QVERIFY(buttons.contains(later) && buttons.contains(deep) && buttons.contains(del));
        QVERIFY(!buttons.contains(dialogButton));

        frm->DisableButtons(false);
        for (QPushButton* b : buttons)
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName() + b->text()));
        QVERIFY(dialogButton->isEnabled());

        frm->DisableButtons(true);
        for (QPushButton* b : buttons)
            QVERIFY2(b->isEnabled(), qPrintable(b->objectName() + b->text()));
    }

    // The designed size is the least; a larger window goes to the grids of
    // every tab, while the panels keep their controls where they were.
    void gridsTakeWhatTheWindowGivesBeyondItsLeast()
    {
        auto frm = makeWindow();
        QCOMPARE(frm->minimumSize(), QSize(762, 677));
        frm->resize(600, 450);
        QCOMPARE(frm->size(), QSize(762, 677));
        frm->show();
        QVERIFY(QTest::qWaitForWindowExposed(frm.get()));
        const QStringList grids{QStringLiteral("DBGrid3"), QStringLiteral("DBGrid2"), QStringLiteral("DBGrid4"),
                                QStringLiteral("DBGrid1")};
        const QStringList buttons{QStringLiteral("btnUpdate"), QStringLiteral("Button8"),
                                  QStringLiteral("btnNewDealer"), QStringLiteral("Button4")};
        auto measure = [&] {
            QList<QRect> r;
            for (int i = 0; i < grids.size(); ++i) {
                frm->PageControl1()->setCurrentIndex(i);  // the grids' tabs, in order
                QApplication::processEvents();
                r << frm->control(grids[i])->geometry() << frm->control(buttons[i])->geometry();
            }
            return r;
        };
        const QList<QRect> designed = measure();
        QCOMPARE(designed[6].height(), 174);  // the requests grid as designed
        QCOMPARE(frm->control(QStringLiteral("pnlRequestsBottom"))->height(), 330);
        frm->resize(1000, 900);
        QApplication::processEvents();
        const QList<QRect> larger = measure();
        for (int i = 0; i < grids.size(); ++i) {
            QVERIFY2(larger[2 * i].height() >= designed[2 * i].height() + 200, qPrintable(grids[i]));
            QVERIFY2(larger[2 * i].width() >= designed[2 * i].width() + 200, qPrintable(grids[i]));
            if (grids[i] != QLatin1String("DBGrid1"))
                QCOMPARE(larger[2 * i + 1], designed[2 * i + 1]);
        }
        // The Requests tab: the band under the grid goes first, and the two
        // text areas share the extra width, the buttons moving with Memo2.
        QWidget* grid = frm->control(QStringLiteral("DBGrid1"));
        QWidget* bottom = frm->control(QStringLiteral("pnlRequestsBottom"));
        QVERIFY(bottom->y() - (grid->y() + grid->height()) < 8);
        QCOMPARE(frm->control(QStringLiteral("RichEdit1"))->width(), 353 + 119);
        QCOMPARE(frm->control(QStringLiteral("Memo2"))->width(), 361 + 119);
        QCOMPARE(larger[7].x(), designed[7].x() + 119);
        // The Billing tab's buttons follow its right edge.
        frm->PageControl1()->setCurrentIndex(4);
        QApplication::processEvents();
        QWidget* add = frm->control(QStringLiteral("Button11"));
        QCOMPARE(add->parentWidget()->width() - (add->x() + add->width()), 758 - 746);
        frm->resize(762, 677);
        QApplication::processEvents();
        QCOMPARE(measure(), designed);
        QCOMPARE(add->x(), 641);
    }

    // Every push button of a tab shows its whole caption with an Alt
    // letter, and no two controls shown together share a letter.
    void buttonsShowTheirCaptionAndAnAltLetter()
    {
        auto frm = makeWindow();
        frm->show();
        QVERIFY(QTest::qWaitForWindowExposed(frm.get()));
        QTabWidget* pages = frm->PageControl1();
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            QApplication::processEvents();
            QHash<QChar, QString> taken;
            for (QAbstractButton* b : pages->widget(i)->findChildren<QAbstractButton*>()) {
                if (!b->isVisibleTo(pages->widget(i)))
                    continue;
                const QString text = b->text();
                if (qobject_cast<QPushButton*>(b))
                    QVERIFY2(b->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&'))) + 10 <= b->width(),
                             qPrintable(text));
                const qsizetype amp = text.indexOf(QLatin1Char('&'));
                if (amp < 0 || amp + 1 >= text.size()) {
                    QVERIFY2(!qobject_cast<QPushButton*>(b), qPrintable(pages->tabText(i) + ": " + text));
                    continue;
                }
                const QChar letter = text.at(amp + 1).toUpper();
                QVERIFY2(!taken.contains(letter),
                         qPrintable(pages->tabText(i) + ": " + text + " and " + taken.value(letter)));
                taken.insert(letter, text);
            }
        }
    }

    // After a dialog the focus is where it was; a button that ran a command
    // has it back when the command has enabled the buttons again.
    void focusReturnsAfterDialogsAndCommands()
    {
        auto frm = makeWindow();
        frm->show();
        QApplication::setActiveWindow(frm.get());
        QVERIFY(QTest::qWaitForWindowActive(frm.get()));
        frm->PageControl1()->setCurrentIndex(2);
        QWidget* box = frm->control(QStringLiteral("edtDealerName"));
        box->setFocus();
        QCOMPARE(QApplication::focusWidget(), box);
        {
            const Trellane::FocusReturn back;
            QDialog dialog(frm.get());
            auto* other = new QLineEdit(&dialog);
            dialog.show();
            QApplication::setActiveWindow(&dialog);
            other->setFocus();
            QCOMPARE(QApplication::focusWidget(), other);
        }
        QCOMPARE(QApplication::focusWidget(), box);

        auto* del = qobject_cast<QPushButton*>(frm->control(QStringLiteral("btnDelDealer")));
        del->setFocus();
        frm->DisableButtons(false);
        QVERIFY(QApplication::focusWidget() != del);
        frm->DisableButtons(true);
        QCOMPARE(QApplication::focusWidget(), del);
        // A command that put the focus somewhere keeps it there.
        frm->DisableButtons(false);
        box->setFocus();
        frm->DisableButtons(true);
        QCOMPARE(QApplication::focusWidget(), box);

        // The Submitter IDs tab brought to the front gives its grid the
        // focus, not its "Delete" button.
        frm->PageControl1()->setCurrentIndex(1);
        QTRY_COMPARE(QApplication::focusWidget(), frm->control(QStringLiteral("DBGrid2")));
    }

    // From every grid, Tab goes on to the next control and the tab keys
    // switch tabs, wrapping round at either end.
    void gridsLetTheKeyboardGo_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("grid");
        QTest::newRow("Accounts") << 0 << "DBGrid3";
        QTest::newRow("Submitter IDs") << 1 << "DBGrid2";
        QTest::newRow("Dealers") << 2 << "DBGrid4";
        QTest::newRow("Requests") << 3 << "DBGrid1";
    }
    void gridsLetTheKeyboardGo()
    {
        QFETCH(int, page);
        QFETCH(QString, grid);
        auto frm = makeWindow();
        frm->show();
        QApplication::setActiveWindow(frm.get());
        QVERIFY(QTest::qWaitForWindowActive(frm.get()));
        frm->FormShow();
        QTabWidget* pages = frm->PageControl1();
        QWidget* view = frm->control(grid);
        const struct {
            QKeyCombination keys;
            int to;
        } moves[] = {
            {Qt::CTRL | Qt::Key_Tab, (page + 1) % 5},
            {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, (page + 4) % 5},
            {Qt::CTRL | Qt::Key_PageDown, (page + 1) % 5},
            {Qt::CTRL | Qt::Key_PageUp, (page + 4) % 5},
        };
        for (const auto& move : moves) {
            pages->setCurrentIndex(page);
            view->setFocus();
            QTRY_VERIFY(view->hasFocus());
            QTest::keyClick(view, move.keys.key(), move.keys.keyboardModifiers());
            QCOMPARE(pages->currentIndex(), move.to);
        }
        pages->setCurrentIndex(page);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Tab);
        QTRY_VERIFY(!view->hasFocus() && pages->widget(page)->isAncestorOf(QApplication::focusWidget()));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(!view->hasFocus());
        QVERIFY(plat->errors.isEmpty());
    }

    // Tab walks every control of a tab and comes round again: nothing
    // keeps it (a grid, a text area) and nothing is passed by; on one row
    // the controls are reached from left to right.
    void tabWalksEveryControlInReadingOrder_data()
    {
        QTest::addColumn<int>("page");
        for (int i = 0; i < 5; ++i)
            QTest::newRow(qPrintable(QStringLiteral("tab %1").arg(i))) << i;
    }
    void tabWalksEveryControlInReadingOrder()
    {
        QFETCH(int, page);
        auto frm = makeWindow();
        frm->show();
        QApplication::setActiveWindow(frm.get());
        QVERIFY(QTest::qWaitForWindowActive(frm.get()));
        frm->FormShow();
        QTabWidget* pages = frm->PageControl1();
        pages->setCurrentIndex(page);
        QWidget* tab = pages->widget(page);
        QSet<QWidget*> expected;
        for (QWidget* w : tab->findChildren<QWidget*>())
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()
                && !qobject_cast<QLineEdit*>(w->parentWidget()) && !w->parentWidget()->inherits("QAbstractSpinBox"))
                expected.insert(w);
        pages->tabBar()->setFocus();
        QList<QWidget*> walked;
        for (int i = 0; i < 80; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            if (w == pages->tabBar())
                break;
            QVERIFY2(!walked.contains(w), qPrintable(QStringLiteral("Tab stays in ") + w->objectName()));
            walked << w;
        }
        QCOMPARE(QApplication::focusWidget(), pages->tabBar());
        for (QWidget* w : std::as_const(expected))
            QVERIFY2(walked.contains(w), qPrintable(QStringLiteral("never reached: ") + w->objectName()));
        for (int i = 1; i < walked.size(); ++i) {
            const QRect a(walked[i - 1]->mapTo(tab, QPoint()), walked[i - 1]->size());
            const QRect b(walked[i]->mapTo(tab, QPoint()), walked[i]->size());
            const bool lines = a.height() < 40 && b.height() < 40;  // not a grid or a text area
            if (lines && a.top() < b.bottom() && b.top() < a.bottom())  // one row
                QVERIFY2(b.left() > a.left(), qPrintable(walked[i - 1]->objectName() + " before " + walked[i]->objectName()));
        }
    }

    // A confirmation shows beside the tab captions without a box, a click
    // or a move of the focus, and clears itself.
    void statusLineConfirmsAndClears()
    {
        auto frm = makeWindow();
        frm->show();
        QApplication::setActiveWindow(frm.get());
        QVERIFY(QTest::qWaitForWindowActive(frm.get()));
        QWidget* box = frm->control(QStringLiteral("edtDealerName"));
        frm->PageControl1()->setCurrentIndex(2);
        box->setFocus();
        frm->findChild<QTimer*>(QStringLiteral("tmrStatus"))->setInterval(100);
        frm->showStatus(QStringLiteral("Account 1018 saved."));
        QLabel* line = frm->statusLine();
        QCOMPARE(line->text(), QStringLiteral("Account 1018 saved."));
        QVERIFY(line->isVisible());
        QVERIFY(line->geometry().left() > frm->PageControl1()->tabBar()->geometry().right());
        QCOMPARE(QApplication::focusWidget(), box);
        QVERIFY(plat->messages.isEmpty() && plat->errors.isEmpty());
        QTRY_VERIFY(line->text().isEmpty());
    }

    void errorBoxShowsTheMessageAndTheWindowGoesOn()
    {
        auto frm = makeWindow();
        frm->FormShow();
        QWidget* page = frm->PageControl1()->widget(4);
        auto* failing = new QPushButton(QStringLiteral("Failing"), page);
        auto* working = new QPushButton(QStringLiteral("Working"), page);
        int worked = 0;
        Trellane::onClick(failing, frm.get(), [&frm] {
            const Trellane::ButtonsDisabled busy(*frm);
            // A real engine failure, with the engine's own message.
            frm->data().connTrellaneEMC->exec(QStringLiteral("SELECT * FROM NoSuchTable"));
        });
        Trellane::onClick(working, frm.get(), [&] { ++worked; });

        failing->click();
        QCOMPARE(plat->errors.size(), 1);
        QVERIFY(plat->errors.first().contains(QStringLiteral("NoSuchTable"), Qt::CaseInsensitive));
        for (QPushButton* b : mainButtons(*frm))
            QVERIFY2(b->isEnabled(), qPrintable(b->objectName() + b->text()));

        working->click();
        QCOMPARE(worked, 1);
        QCOMPARE(plat->errors.size(), 1);

        // Any error type reaches the same box.
        Trellane::runCommand([] { throw Db::EngineError(QStringLiteral("The table is locked."), QStringLiteral("5")); });
        QCOMPARE(plat->errors.last(), QStringLiteral("The table is locked."));
    }

    void showingTheWindowRunsStartUpOnce()
    {
        auto frm = makeWindow();
        QSignalSpy finished(frm.get(), &TfrmMain::startUpFinished);
        frm->show();
        QVERIFY(finished.wait(20000));
        QCOMPARE(frm->windowTitle(), QStringLiteral("TrellaneEMC Registration Console Version 5.0.0.1"));
        QCOMPARE(plat->downloads.size(), 3);
        frm->hide();
        frm->show();
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(plat->downloads.size(), 3);
    }
};

QTEST_MAIN(TestMainfrm)
#include "test_mainfrm.moc"
