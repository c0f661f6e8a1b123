// The console: the site settings first, then the main window, the windows
// that live as long as it, and the event loop. It takes no command-line
// arguments.
#include "customerdb/DataModule.h"
#include "customerdb/Settings.h"
#include "helpers/BusyCursor.h"
#include "helpers/ConsoleStyle.h"
#include "helpers/QtPlatform.h"
#include "shell/Mainfrm.h"
#include "shell/Outputfrm.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QIcon>
#include <QLineEdit>
#include <QTableView>

#include <cstdio>
#include <optional>

namespace {

// The check of an installed console without anyone at the screen (the
// package test in CI), switched on by the environment variable
// TRELLANE_TEST_FIRST_START: the first-start question is answered with its
// value, every other message goes to standard error instead of a box, and
// when start-up is over the program prints what the Accounts tab shows and
// ends.
class ScriptedStart : public Trellane::QtPlatform {
public:
    explicit ScriptedStart(const QString& answer)
        : m_answer(answer)
    {
    }
    void showMessage(const QString& text) override { print("message", text); }
    bool askYesNo(const QString& text) override
    {
        print("question", text + QStringLiteral(" (No)"));
        return false;
    }
    void showError(const QString& text) override { print("error", text); }
    QString askChoice(const QString& text, const QStringList& answers) override
    {
        print("question", text + QStringLiteral(" [") + answers.join(QStringLiteral(" | ")) + QStringLiteral("]"));
        print("answer", m_answer);
        return m_answer;
    }

    static void print(const char* what, const QString& text)
    {
        std::fprintf(stderr, "%s: %s\n", what, qPrintable(text));
    }

    // The account count, the panel's name and the grid's first row.
    static void printAccounts(TfrmMain& frm)
    {
        const auto* name = qobject_cast<QLineEdit*>(frm.control(QStringLiteral("edtRegisterName")));
        const auto* grid = qobject_cast<QTableView*>(frm.control(QStringLiteral("DBGrid3")));
        QStringList firstRow;
        if (grid && grid->model()) {
            for (int c = 0; c < grid->model()->columnCount(); ++c)
                firstRow << grid->model()->index(0, c).data().toString();
        }
        const bool open = frm.data().tblRegistration->isOpen();
        std::printf("accounts: %lld\npanel: %s\ngrid: %s\n", open ? frm.data().tblRegistration->recordCount() : -1LL,
                    name ? qPrintable(name->text()) : "", qPrintable(firstRow.join(QStringLiteral(" | "))));
        std::fflush(stdout);
    }

private:
    QString m_answer;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TrellaneEMC Registration Console"));
    QApplication::setDesktopFileName(QStringLiteral("com.trellaneemc.tallyhouse"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.trellaneemc.tallyhouse")));
    Trellane::useConsoleStyle();
    // An action waiting on the database server for half a second shows so.
    Trellane::installBusyCursor(500);
    Db::Connection::setWaitHook(&Trellane::aboutToWaitOnDatabase);

    // Outlives the main window, whose end may still show a message.
    std::optional<ScriptedStart> scripted;
    if (qEnvironmentVariableIsSet("TRELLANE_TEST_FIRST_START")) {
        scripted.emplace(qEnvironmentVariable("TRELLANE_TEST_FIRST_START"));
        Trellane::setPlatform(&*scripted);
    }

    // Settings that cannot be used start nothing.
    ShellSettings settings;
    try {
        settings = ShellSettings::fromSite();
    } catch (const Settings::Error& e) {
        Trellane::platform().showError(QStringLiteral("The console's settings cannot be used:\n")
                                       + QString::fromUtf8(e.what()));
        return 1;
    }

    TfrmMain frmMain(settings);
    auto* frmOutput = new TfrmOutput(&frmMain);
    frmOutput->setObjectName(QStringLiteral("frmOutput"));
    frmMain.setFrmOutput(frmOutput);
    if (scripted) {
        // Ends with status 1 when start-up did not open the databases.
        QObject::connect(&frmMain, &TfrmMain::startUpFinished, &app, [&frmMain] {
            ScriptedStart::printAccounts(frmMain);
            const int status = frmMain.data().tblRegistration->isOpen() ? 0 : 1;
            QMetaObject::invokeMethod(&frmMain, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
        });
    }

    frmMain.show();
    return QApplication::exec();
}
