#pragma once
#include "helpers/Platform.h"

#include <QPointer>
#include <QWidget>

namespace Trellane {

// Gives the keyboard focus back to the control that had it when a dialog
// (message box, question, file or print dialog, output window) is over:
// notes the focused control when made, and when it goes, activates that
// control's window again and puts the focus back into it, if it is still
// there to take it.
class FocusReturn {
public:
    FocusReturn();
    ~FocusReturn();
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

private:
    QPointer<QWidget> m_focus;
};

// The production platform: Qt's message boxes, dialogs and clipboard, the
// system clock, QFile and QProcess, and Qt Network for downloads.
class QtPlatform : public Platform {
public:
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
    void downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                              DownloadDone done) override;

    // The background fetch over Qt Network, for platforms that route it.
    static void fetchInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                                  DownloadDone done);
};

} // namespace Trellane
