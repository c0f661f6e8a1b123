#pragma once
// A stand-in main window for tab tests: the components on fresh test
// databases (schema created), the two scratch areas, the output window, and a
// host widget holding the tabs under test so that DisableButtons reaches
// every button of them.
#include "customerdb/DataModule.h"
#include "helpers/Console.h"
#include "shell/Outputfrm.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

#include <memory>

class TestConsole : public Console {
public:
    // Fresh customer and practice databases named after tag.
    explicit TestConsole(const QString& tag);
    ~TestConsole() override;

    TDataModule& data() override { return *m_data; }
    void DisableButtons(bool enabled) override;
    QTextEdit* RichEdit1() override { return m_richEdit1; }
    QPlainTextEdit* Memo2() override { return m_memo2; }
    TfrmOutput* frmOutput() override;
    QWidget* window() override { return m_host.get(); }
    void showStatus(const QString& text) override { statusLines << text; }

    // Parent of the tabs under test.
    QWidget* host() { return m_host.get(); }

    int disableCalls = 0;  // DisableButtons(false) calls
    int enableCalls = 0;   // DisableButtons(true) calls
    QStringList statusLines;  // confirmations shown, oldest first

private:
    std::unique_ptr<QWidget> m_host;
    std::unique_ptr<TDataModule> m_data;
    QTextEdit* m_richEdit1;
    QPlainTextEdit* m_memo2;
    TfrmOutput* m_output = nullptr;
};
