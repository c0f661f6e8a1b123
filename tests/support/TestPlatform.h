#pragma once
// A scripted platform for tests: records every message, question and error,
// answers questions and dialogs from queues, and pins today and now.
#include "helpers/Platform.h"

#include <QHash>
#include <QQueue>
#include <QStringList>

class TestPlatform : public Trellane::Platform {
public:
    TestPlatform();
    ~TestPlatform() override;

    // What was shown, in order.
    QStringList messages;   // plain OK boxes
    QStringList questions;  // Yes/No questions
    QStringList errors;     // the application's error box
    QStringList choices;    // questions with several answers
    QStringList started;    // programs started: "program|workingDir"
    QStringList downloads;  // urls fetched

    // Answers; an empty queue answers No / cancel.
    QQueue<bool> yesNoAnswers;
    QQueue<QString> choiceAnswers;  // empty: the last answer, as Escape gives
    QQueue<QString> saveFileAnswers;
    QQueue<bool> printDialogAnswers;

    QString clipboard;
    QDate pinnedToday;
    QDateTime pinnedNow;
    QString programPath;
    bool startSucceeds = true;
    QString startError = QStringLiteral("The system cannot find the file specified.");
    // When false, downloads go through the real Qt implementation.
    bool fakeDownloads = false;
    QHash<QString, QByteArray> downloadBodies; // url -> body, with fakeDownloads
    int lastDownloadTimeoutMs = -1;

    void showMessage(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void showError(const QString& text) override;
    QString askChoice(const QString& text, const QStringList& answers) override;
    QString getSaveFileName(const QString& proposedName) override;
    bool execPrintDialog(QPrinter& printer) override;
    void setClipboardText(const QString& text) override;
    QString clipboardText() override;
    QDate today() override;
    QDateTime now() override;
    QString programFilePath() override;
    bool copyFile(const QString& from, const QString& to) override;
    bool startDetached(const QString& program, const QString& workingDir, QString* error) override;
    QString download(const QString& url, const QString& localFile, int timeoutMs) override;
    // Real (loopback) fetches run in the background as in production; fake
    // ones complete from the event loop.
    void downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                              DownloadDone done) override;

    QStringList proposedSaveNames;

private:
    QString fakeDownload(const QString& url, const QString& localFile);
};
