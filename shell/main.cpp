// The console: the main window first, then the windows that live as long as
// it, then the event loop. It takes no command-line arguments.
#include "helpers/ConsoleStyle.h"
#include "shell/Mainfrm.h"
#include "shell/Outputfrm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TrellaneEMC Registration Console"));
    Trellane::useConsoleStyle();

    TfrmMain frmMain;
    auto* frmOutput = new TfrmOutput(&frmMain);
    frmOutput->setObjectName(QStringLiteral("frmOutput"));
    frmMain.setFrmOutput(frmOutput);

    frmMain.show();
    return QApplication::exec();
}
