// Saves a PNG picture of every tab of the console, started on this build's
// databases, release share and update server, without a display, and one of
// the History window of the first account:
//   trellane-screenshots OUT_DIR [WIDTHxHEIGHT]
// (the window at its designed size, or at the size given).
// Messages and errors that start-up shows go to standard error instead of
// message boxes; the exit code is 1 when start-up showed an error.
#include "customerdb/HistoryWindow.h"
#include "helpers/ConsoleStyle.h"
#include "helpers/QtPlatform.h"
#include "shell/Mainfrm.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

class HeadlessPlatform : public Trellane::QtPlatform {
public:
    int errors = 0;
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    bool askYesNo(const QString& text) override
    {
        std::fprintf(stderr, "question (answered No): %s\n", qPrintable(text));
        return false;
    }
    void showError(const QString& text) override
    {
        ++errors;
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    // Taking pictures never starts the updater.
    bool startDetached(const QString& program, const QString&, QString*) override
    {
        std::fprintf(stderr, "not started: %s\n", qPrintable(program));
        return true;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Trellane::useConsoleStyle();
    const QStringList args = QApplication::arguments();
    QSize size;
    if (args.size() == 3) {
        const QStringList wh = args.at(2).split(QLatin1Char('x'));
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    }
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && size.isEmpty())) {
        std::fprintf(stderr, "usage: trellane-screenshots OUT_DIR [WIDTHxHEIGHT]\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 2;
    }

    HeadlessPlatform platform;
    Trellane::setPlatform(&platform);
    int status = 0;
    {
        TfrmMain frmMain;
        frmMain.setTerminateHook([] { std::fprintf(stderr, "start-up asked the program to end\n"); });

        QEventLoop startUp;
        QObject::connect(&frmMain, &TfrmMain::startUpFinished, &startUp, &QEventLoop::quit);
        QTimer::singleShot(180000, &startUp, &QEventLoop::quit);
        if (size.isValid())
            frmMain.resize(size);
        frmMain.show();
        startUp.exec();

        QTabWidget* pages = frmMain.PageControl1();
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            QApplication::processEvents();
            const QString file = out.filePath(
                QStringLiteral("%1-%2.png").arg(i + 1).arg(pages->widget(i)->objectName()));
            if (!frmMain.grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                status = 1;
            } else {
                std::printf("%s\n", qPrintable(file));
            }
        }
        pages->setCurrentIndex(0);
        if (auto* button = frmMain.findChild<QPushButton*>(QStringLiteral("btnHistory")))
            button->click();
        QApplication::processEvents();
        if (auto* history = frmMain.findChild<THistoryWindow*>()) {
            const QString file = out.filePath(QStringLiteral("history.png"));
            if (history->grab().save(file))
                std::printf("%s\n", qPrintable(file));
            else
                status = 1;
        }
        std::printf("title: %s\n", qPrintable(frmMain.windowTitle()));
    }
    Trellane::setPlatform(nullptr);
    return platform.errors > 0 ? 1 : status;
}
