#include "tests/support/TestPlatform.h"
#include "helpers/QtPlatform.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

TestPlatform::TestPlatform()
    : pinnedToday(2026, 12, 9)
    , pinnedNow(QDate(2026, 12, 9), QTime(10, 30, 0))
    , programPath(QCoreApplication::applicationFilePath())
{
    Trellane::setPlatform(this);
}

TestPlatform::~TestPlatform() { Trellane::setPlatform(nullptr); }

void TestPlatform::showMessage(const QString& text) { messages << text; }

bool TestPlatform::askYesNo(const QString& text)
{
    questions << text;
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.dequeue();
}

void TestPlatform::showError(const QString& text) { errors << text; }

QString TestPlatform::askChoice(const QString& text, const QStringList& answers)
{
    choices << text;
    return choiceAnswers.isEmpty() ? answers.value(answers.size() - 1) : choiceAnswers.dequeue();
}

QString TestPlatform::getSaveFileName(const QString& proposedName)
{
    proposedSaveNames << proposedName;
    return saveFileAnswers.isEmpty() ? QString() : saveFileAnswers.dequeue();
}

bool TestPlatform::execPrintDialog(QPrinter&)
{
    return printDialogAnswers.isEmpty() ? false : printDialogAnswers.dequeue();
}

void TestPlatform::setClipboardText(const QString& text) { clipboard = text; }
QString TestPlatform::clipboardText() { return clipboard; }
QDate TestPlatform::today() { return pinnedToday; }
QDateTime TestPlatform::now() { return pinnedNow; }
QString TestPlatform::programFilePath() { return programPath; }

bool TestPlatform::copyFile(const QString& from, const QString& to)
{
    Trellane::QtPlatform real;
    return real.copyFile(from, to);
}

bool TestPlatform::startDetached(const QString& program, const QString& workingDir, QString* error)
{
    started << program + QLatin1Char('|') + workingDir;
    if (!startSucceeds && error)
        *error = startError;
    return startSucceeds;
}

QString TestPlatform::download(const QString& url, const QString& localFile, int timeoutMs)
{
    downloads << url;
    lastDownloadTimeoutMs = timeoutMs;
    if (!fakeDownloads) {
        Trellane::QtPlatform real;
        return real.download(url, localFile, timeoutMs);
    }
    return fakeDownload(url, localFile);
}

void TestPlatform::downloadInBackground(const QString& url, const QString& localFile, int timeoutMs,
                                        QObject* context, DownloadDone done)
{
    downloads << url;
    lastDownloadTimeoutMs = timeoutMs;
    if (!fakeDownloads) {
        Trellane::QtPlatform::fetchInBackground(url, localFile, timeoutMs, context, std::move(done));
        return;
    }
    QTimer::singleShot(0, context, [this, url, localFile, done = std::move(done)] { done(fakeDownload(url, localFile)); });
}

QString TestPlatform::fakeDownload(const QString& url, const QString& localFile)
{
    if (!downloadBodies.contains(url))
        return QStringLiteral("Connection refused");
    QSaveFile f(localFile);
    if (!f.open(QIODevice::WriteOnly))
        return f.errorString();
    f.write(downloadBodies.value(url));
    return f.commit() ? QString() : f.errorString();
}
