#pragma once
// The output window: a plain text log that long operations fill line by
// line, which the user reads, may edit and may print. One instance lives as
// long as the program and keeps its text between showings.
#include "helpers/Console.h"

#include <QDialog>
#include <QString>

#include <memory>

class QAction;
class QMenuBar;
class QPlainTextEdit;
class QPrinter;

namespace Ui {
class TfrmOutput;
}

class TfrmOutput : public QDialog, public OutputLog {
    Q_OBJECT

public:
    explicit TfrmOutput(QWidget* parent = nullptr);
    ~TfrmOutput() override;

    // Empties the text.
    void clear() override;
    // Adds one line at the end of the text.
    void appendLine(const QString& line) override;
    void setText(const QString& text) override;
    // The whole text, lines joined by "\n".
    QString text() const override;

    // Shows the window maximized and returns when the user closes it.
    void showModal() override;
    // Puts the window into the maximized state it must have whenever it is
    // shown, whatever size it had when it was last closed.
    void prepareShow();

    // Prints the whole text as one job named Title. With ShowDialog the user
    // first picks the printer; cancelling prints nothing and returns false.
    // Throws std::runtime_error when the printer refuses the job.
    bool PrintReport(const QString& Title, bool ShowDialog);

    // The printer jobs go to: the system's default printer until the user
    // picks another one in the print dialog, which is then kept.
    QPrinter* printer();

    QPlainTextEdit* mmoOutput() const;
    QAction* printAction() const { return Print1; }

private slots:
    // The menu command "&Print"; a printing failure goes to the error box.
    void Print1Click();

private:
    void printText(QPrinter& target, const QString& title) const;

    std::unique_ptr<Ui::TfrmOutput> ui;
    QMenuBar* MainMenu1 = nullptr;
    QAction* Print1 = nullptr;
    std::unique_ptr<QPrinter> m_printer;
};
