#include "helpers/QtPlatform.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

namespace Trellane {

FocusReturn::FocusReturn()
    : m_focus(QApplication::focusWidget())
{
}

FocusReturn::~FocusReturn()
{
    QWidget* w = m_focus;
    if (!w || !w->isVisible() || !w->isEnabled() || w->focusPolicy() == Qt::NoFocus)
        return;
    QWidget* window = w->window();
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
    if (QApplication::focusWidget() != w)
        w->setFocus(Qt::OtherFocusReason);
}

static QWidget* dialogParent() { return QApplication::activeWindow(); }

void QtPlatform::showMessage(const QString& text)
{
    const FocusReturn focus;
    QMessageBox::information(dialogParent(), QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

bool QtPlatform::askYesNo(const QString& text)
{
    const FocusReturn focus;
    return QMessageBox::information(dialogParent(), QCoreApplication::applicationName(), text,
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void QtPlatform::showError(const QString& text)
{
    const FocusReturn focus;
    QMessageBox::critical(dialogParent(), QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

QString QtPlatform::askChoice(const QString& text, const QStringList& answers)
{
    const FocusReturn focus;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text, QMessageBox::NoButton,
                    dialogParent());
    QList<QAbstractButton*> buttons;
    for (const QString& answer : answers)
        buttons << box.addButton(answer, QMessageBox::AcceptRole);
    if (buttons.isEmpty())
        return {};
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.constFirst()));
    box.setEscapeButton(buttons.constLast());
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return answers.at(chosen < 0 ? answers.size() - 1 : chosen);
}

QString QtPlatform::getSaveFileName(const QString& proposedName)
{
    const FocusReturn focus;
    QFileDialog dlg(dialogParent());
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.selectFile(proposedName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().constFirst();
}

bool QtPlatform::execPrintDialog(QPrinter& printer)
{
    const FocusReturn focus;
    QPrintDialog dlg(&printer, dialogParent());
    return dlg.exec() == QDialog::Accepted;
}

void QtPlatform::setClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

QString QtPlatform::clipboardText() { return QGuiApplication::clipboard()->text(); }

QDate QtPlatform::today() { return QDate::currentDate(); }

QDateTime QtPlatform::now() { return QDateTime::currentDateTime(); }

QString QtPlatform::programFilePath() { return QCoreApplication::applicationFilePath(); }

bool QtPlatform::copyFile(const QString& from, const QString& to)
{
    QFile src(from);
    if (!src.open(QIODevice::ReadOnly))
        return false;
    QSaveFile dst(to);
    if (!dst.open(QIODevice::WriteOnly))
        return false;
    while (!src.atEnd()) {
        const QByteArray chunk = src.read(1 << 16);
        if (chunk.isEmpty() && src.error() != QFileDevice::NoError)
            return false;
        if (dst.write(chunk) != chunk.size())
            return false;
    }
    if (!dst.commit())
        return false;
    QFile::setPermissions(to, src.permissions());
    return true;
}

bool QtPlatform::startDetached(const QString& program, const QString& workingDir, QString* error)
{
    QProcess p;
    p.setProgram(program);
    p.setWorkingDirectory(workingDir);
    if (p.startDetached())
        return true;
    if (error)
        *error = p.errorString();
    return false;
}

QString QtPlatform::download(const QString& url, const QString& localFile, int timeoutMs)
{
    QNetworkAccessManager nam;
    QNetworkRequest req{QUrl(url)};
    req.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = nam.get(req);

    // Block user input while waiting, but keep painting: the active window is
    // disabled so typed keys are dropped rather than replayed afterwards.
    QWidget* win = QApplication::activeWindow();
    const bool wasEnabled = win && win->isEnabled();
    if (win)
        win->setEnabled(false);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The transfer timeout only fires after a silence; the deadline also ends
    // a server that keeps trickling bytes, so the wait is bounded overall.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    if (timeoutMs > 0)
        deadline.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();
    if (win && wasEnabled)
        win->setEnabled(true);

    QString result;
    if (reply->error() != QNetworkReply::NoError) {
        result = reply->errorString();
    } else {
        QSaveFile out(localFile);
        if (!out.open(QIODevice::WriteOnly) || out.write(reply->readAll()) < 0 || !out.commit())
            result = out.errorString();
    }
    reply->deleteLater();
    return result;
}

void QtPlatform::downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                                      DownloadDone done)
{
    fetchInBackground(url, localFile, timeoutMs, context, std::move(done));
}

void QtPlatform::fetchInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                                   DownloadDone done)
{
    // Lives until the reply has finished, whatever becomes of the context.
    auto* nam = new QNetworkAccessManager();
    QNetworkRequest req{QUrl(url)};
    req.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = nam->get(req);
    // As with the blocking fetch, the wait is bounded overall.
    if (timeoutMs > 0)
        QTimer::singleShot(timeoutMs, reply, &QNetworkReply::abort);
    const QPointer<QObject> alive(context);
    QObject::connect(reply, &QNetworkReply::finished, nam, [nam, reply, localFile, alive, done = std::move(done)] {
        QString failure;
        if (reply->error() != QNetworkReply::NoError) {
            failure = reply->errorString();
        } else {
            QSaveFile out(localFile);
            if (!out.open(QIODevice::WriteOnly) || out.write(reply->readAll()) < 0 || !out.commit())
                failure = out.errorString();
        }
        nam->deleteLater();
        if (alive)
            done(failure);
    });
}

} // namespace Trellane
