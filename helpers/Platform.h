#pragma once
// Everything the console needs from the desktop and the operating system that
// a test cannot click: message boxes and questions, file and print dialogs,
// the clipboard, "today" and "now", the program's own file, file copy,
// process start and HTTP download. Production installs QtPlatform; tests
// install a scripted platform that records what was shown.
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class QPrinter;
class QWidget;

namespace Trellane {

class Platform {
public:
    virtual ~Platform() = default;

    // A plain message box with an OK button.
    virtual void showMessage(const QString& text) = 0;
    // An information-style question with the buttons Yes and No; true on Yes.
    virtual bool askYesNo(const QString& text) = 0;
    // The application's error box: an error that ended a command.
    virtual void showError(const QString& text) = 0;
    // A question with one button per answer, in the given order; returns the
    // caption of the button pressed. Escape or closing the box answers with
    // the last button.
    virtual QString askChoice(const QString& text, const QStringList& answers) = 0;

    // File-save dialog proposing a file name; empty result when cancelled.
    virtual QString getSaveFileName(const QString& proposedName) = 0;
    // Print dialog choosing the printer; false when cancelled.
    virtual bool execPrintDialog(QPrinter& printer) = 0;

    virtual void setClipboardText(const QString& text) = 0;
    virtual QString clipboardText() = 0;

    // The workstation's date without time, and its date and time.
    virtual QDate today() = 0;
    virtual QDateTime now() = 0;

    // Full path of the running program's file.
    virtual QString programFilePath() = 0;

    // Copies a file, replacing the destination; false on failure.
    virtual bool copyFile(const QString& from, const QString& to) = 0;
    // Starts a program detached in a working directory; on failure returns
    // false and puts the platform's reason into *error.
    virtual bool startDetached(const QString& program, const QString& workingDir, QString* error) = 0;

    // Fetches url by HTTP GET into localFile, replacing it. Returns an empty
    // text on success, else the reason. Blocks user input while it runs but
    // keeps the window painting; gives up after timeoutMs.
    virtual QString download(const QString& url, const QString& localFile, int timeoutMs) = 0;

    // The same fetch without blocking the window or taking its input or
    // focus: returns at once; done runs later on the user-interface thread
    // with an empty text on success, else the reason, unless context is gone
    // by then. By default the blocking download runs from the event loop.
    using DownloadDone = std::function<void(const QString& failure)>;
    virtual void downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                                      DownloadDone done);
};

// The platform in force; QtPlatform unless a test installed another one.
Platform& platform();
// Installs p (not owned) or, with nullptr, the production platform again.
void setPlatform(Platform* p);

} // namespace Trellane
