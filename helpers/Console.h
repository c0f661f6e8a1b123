#pragma once
// What the tabs of the main window use of the window. The main window
// implements it; each tab receives it at construction. Tabs never reach into
// each other: links between them are signals the main window connects.
#include <QString>

class QPlainTextEdit;
class QTextEdit;
class QWidget;
class TDataModule;
class TfrmOutput;

class Console {
public:
    virtual ~Console() = default;

    virtual TDataModule& data() = 0;

    // Sets the enabled state of every push button of every tab.
    virtual void DisableButtons(bool enabled) = 0;

    // The Requests tab's two scratch areas, written by other tabs too.
    virtual QTextEdit* RichEdit1() = 0;
    virtual QPlainTextEdit* Memo2() = 0;

    // The output window living as long as the program.
    virtual TfrmOutput* frmOutput() = 0;

    // The window that owns dialogs and message boxes.
    virtual QWidget* window() = 0;
};
