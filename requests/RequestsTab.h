#pragma once
// The Requests tab: the search box and grid of the web requests above, and
// below them the two scratch text areas other tabs assemble text in
// (RichEdit1, Memo2), the "Assign New Serial Number" check box and the
// buttons "Add", "Refresh", "Delete" and "Print Report". The request
// commands come with request intake; this frame carries the controls.
#include <QWidget>

#include <memory>

class Console;
class QPlainTextEdit;
class QTextEdit;

namespace Ui {
class RequestsTab;
}

class TRequestsTab : public QWidget {
    Q_OBJECT
public:
    explicit TRequestsTab(Console& console, QWidget* parent = nullptr);
    ~TRequestsTab() override;

    // Where a text is assembled before it goes to the clipboard.
    QTextEdit* RichEdit1() const;
    // A plain text buffer.
    QPlainTextEdit* Memo2() const;

private:
    Console& m_console;
    std::unique_ptr<Ui::RequestsTab> ui;
};
