#pragma once
// The Accounts tab: the search bar and accounts grid on top, the account
// panel below. The panel is not bound to the table: LoadAccount copies the
// current Registration record into it after every cursor move, and only
// "&Save" writes the boxes back.
#include "customerdb/HistoryWindow.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class Console;
class QAbstractButton;
class TDatePicker;


namespace Ui {
class AccountsTab;
}

class TAccountsTab : public QWidget {
    Q_OBJECT
public:
    explicit TAccountsTab(Console& console, QWidget* parent = nullptr);
    ~TAccountsTab() override;

    // Search orders of cbAcctIdx, in list order.
    enum SearchOrder {
        soSerialNumber, soRegisterName, soOtherName, soPhone, soFax, soChartNumber,
        soReseller, soCity, soState, soZipCode, soDataVersion, soEDIVersion
    };

    // True while the panel holds a new account that "&Save" appends.
    bool AddingAccount() const { return m_addingAccount; }
    // Ends the entering of a new account before the panel shows a stored
    // one (a move in the grid, a search, an account made from a request):
    // when something was typed into the new account, asks first. On Yes, or
    // with nothing typed, the panel shows the current account and true is
    // returned; on No the new account stays in the panel and the caller
    // does not move.
    bool leaveNewAccount();

    // The account panel.
    void LoadAccount();
    void ClearAccount();
    void btnNewSNClick();
    void btnSavSNClick();
    void btnCancelSNClick();
    void btnDelSNClick();

    // Search and lookup.
    void cbAcctIdxChange();
    void edtAcctSrchChange();
    void tblRegistrationAfterScroll();
    void Button5Click();    // "Look up SubmitterID"
    void btnRefreshClick();
    void Button13Click();   // "Blank Dates"

    // "Update Medisoft": copies the panel into the account's patient record.
    void btnUpdateClick();

    // "History": the recorded changes of the current account and of its
    // submitter IDs, in a window of their own (one, shown again each time).
    void btnHistoryClick();
    THistoryWindow* historyWindow() const { return m_history; }

signals:
    // After every load of the panel: true when the loaded account belongs to
    // a reseller (not the vendor's own "M"), whose charges the Dealers tab's
    // "Add Charges" posts.
    void addChargesAllowed(bool allowed);

public slots:
    // Selects "Serial Number" in the search order list and runs its change
    // handler (start-up).
    void SelectFirstSearchOrder();

protected:
    // Clicks, keys and the wheel that would move the grid's cursor while a
    // new account is entered go through leaveNewAccount first.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void connectCommands();
    bool movesGridCursor(QObject* watched, QEvent* e) const;
    // The panel's entries, to tell whether anything was typed after "&New".
    QStringList panelEntries() const;
    void showExpiry(TDatePicker* picker, const QString& dateField, const QString& flagField);
    void showDate(TDatePicker* picker, const QString& dateField);
    // The five expiry pickers, in field order.
    QList<TDatePicker*> pickers() const;
    void followResellerOnAddCharges();
    // Writes the panel into the pending Registration record.
    void writePanel(const QString& reseller, const QString& vendorId);

    Console& m_console;
    std::unique_ptr<Ui::AccountsTab> ui;
    bool m_addingAccount = false;
    // The panel's entries as "&New" left them.
    QStringList m_newEntries;
    // Set while a refused new account is dropped: the panel keeps the typing.
    bool m_keepPanel = false;
    // A stored core product that is not in the list: kept so that saving
    // the account does not blank it.
    QString m_unlistedCoreProduct;
    QPointer<THistoryWindow> m_history;
};
