#pragma once
// The Dealers tab: a search bar (order list and search box), the read-only
// dealer grid and the dealer panel. The panel is not bound to the table:
// LoadDealer copies the current dealer into the boxes after every move of
// the cursor, and only Save writes them back. "Email" puts the current
// dealer's upcoming renewals on the clipboard as a short notice.
#include "customerdb/HistoryWindow.h"

#include <QDate>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class Console;


namespace Ui {
class DealersTab;
}

class TDealersTab : public QWidget {
    Q_OBJECT
public:
    explicit TDealersTab(Console& console, QWidget* parent = nullptr);
    ~TDealersTab() override;

    // The current dealer changed: show it in the panel.
    void tblDealerAfterScroll() { LoadDealer(); }
    void LoadDealer();

    void btnNewDealerClick();     // "New"
    void btnSavDealerClick();     // "Save"
    void btnCancelDealerClick();  // "Cancel"
    void btnDelDealerClick();     // "Delete"
    void cbDealerChange();        // order list
    void edtDealerSrchChange();   // search box, on every change
    void Button10Click();         // "Email": the renewal notice
    // "History": the recorded changes of the current dealer, in a window of
    // their own (one, shown again each time).
    void btnHistoryDealerClick();
    THistoryWindow* historyWindow() const { return m_history; }

    // One line of the renewal notice for an account.
    static QString noticeLine(int serialNumber, const QString& registerName, const QString& otherName,
                              const QDate& prof, const QDate& inst, const QDate& era);
    // A notice date: two-digit month and day, four-digit year, joined by the
    // regional date separator.
    static QString noticeDate(const QDate& date);

signals:
    // "Add Charges" (Button12) and "Preview Charges" were clicked: the
    // dealer billing run, or its preview, for the dealer shown.
    void addChargesClicked();
    void previewChargesClicked();

public slots:
    // "Add Charges" and "Preview Charges" bill a reseller's account: the
    // Accounts tab says whether its loaded account is one.
    void setAddChargesEnabled(bool enabled);

private:
    // True when a stored dealer has this code.
    bool codeIsStored(const QString& code);

    Console& m_console;
    std::unique_ptr<Ui::DealersTab> ui;
    QPointer<THistoryWindow> m_history;
};
