#pragma once
// The Dealers tab: a search bar, the dealer grid and the dealer panel. The
// panel is not bound to the table: LoadDealer copies the current dealer into
// the boxes after every cursor move, and only Save writes them back. "Email"
// builds the renewal notice of the current dealer.
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

    void LoadDealer();
    void tblDealerAfterScroll() { LoadDealer(); }
    void btnNewDealerClick();
    void btnSavDealerClick();
    void btnCancelDealerClick();
    void btnDelDealerClick();
    void cbDealerChange();
    void edtDealerSrchChange();

    // "Email": the renewal notice of the current dealer, in RichEdit1 and on
    // the clipboard.
    void Button10Click();

    // The text of a renewal notice line for one account (exposed for tests).
    static QString noticeLine(int serialNumber, const QString& registerName, const QString& otherName,
                              const QDate& prof, const QDate& inst, const QDate& era);

    Ui::DealersTab& form() { return *ui; }

private:
    void writeBoxes();

    Console& m_console;
    std::unique_ptr<Ui::DealersTab> ui;
};
