#pragma once
// What the tabs of the main window use of the window. The main window
// implements it; each tab receives it at construction. Tabs never reach into
// each other: links between them are signals the main window connects.
#include <QString>

class QPlainTextEdit;
class QTextEdit;
class QWidget;
class TDataModule;

// The output window as the tabs use it: a text log that a long operation
// clears, fills line by line and finally shows to the user.
class OutputLog {
public:
    virtual ~OutputLog() = default;
    // Empties the text.
    virtual void clear() = 0;
    // Adds one line at the end of the text.
    virtual void appendLine(const QString& line) = 0;
    // Replaces the whole text at once (a long log is given in one piece).
    virtual void setText(const QString& text) = 0;
    // The whole text, lines joined by "\n".
    virtual QString text() const = 0;
    // Shows the window and returns when the user closes it.
    virtual void showModal() = 0;
};

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
    virtual OutputLog* frmOutput() = 0;

    // The window that owns dialogs and message boxes.
    virtual QWidget* window() = 0;

    // A short confirmation of a command that went well ("Account 1018
    // saved."): shown for a few seconds where it needs no click and takes
    // no focus. Failures keep going to the error box. Consoles without a
    // window to show it in (benchmarks) let it pass.
    virtual void showStatus(const QString& text) { (void)text; }
};
