#pragma once
// The Requests tab: the search box and the editable grid of the web requests
// above, and below them the two scratch text areas other tabs assemble text
// in (RichEdit1, Memo2), the "Assign New Serial Number" check box and the
// buttons "Add", "Refresh", "Delete" and "Print Report".
//
// "Add" turns the current request, read again as stored, into a customer
// account: it numbers the request when asked to, refuses a number in use,
// appends the account, and stores the account and removes the request in
// one transaction, so that a failure leaves both tables as they were.
#include <QWidget>

#include <memory>

class Console;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class TDBGrid;
class TfrmReqReport;

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

    TDBGrid* DBGrid1() const;
    QLineEdit* edtReqRegisterName() const;
    QCheckBox* cbAssignSN() const;

    // The request report; made on first use, lives as long as the tab.
    TfrmReqReport* frmReqReport();

    // ---- Handlers ---------------------------------------------------------
    // Search: an exact seek on the register name with the whole text.
    void edtReqRegisterNameChange();
    // "Refresh": re-reads the request list.
    void Button1Click();
    // "Add": turns the current request into an account.
    void Button2Click();
    // "Delete": removes the current request after asking.
    void Button3Click();
    // "Print Report": the report of every request, in a print preview.
    void Button4Click();

signals:
    // Add made the account with this number the current account: the main
    // window shows its Accounts tab.
    void accountAdded(int serialNumber);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    Console& m_console;
    std::unique_ptr<Ui::RequestsTab> ui;
    TfrmReqReport* m_report = nullptr;
};
