#pragma once
// The Billing tab: the procedure codes and prices the renewal charges are
// posted with (three groups of edit boxes, started from their defaults at
// every run of the program), and the buttons "Add Charges for M" and
// "Future Dealer Regs" at its right edge. The commands come with the
// billing runs and the renewals export; this frame carries the controls.
#include <QWidget>

#include <memory>

class Console;

namespace Ui {
class BillingTab;
}

class TBillingTab : public QWidget {
    Q_OBJECT
public:
    explicit TBillingTab(Console& console, QWidget* parent = nullptr);
    ~TBillingTab() override;

private:
    Console& m_console;
    std::unique_ptr<Ui::BillingTab> ui;
};
