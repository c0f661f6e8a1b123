#pragma once
// The Billing tab: the procedure codes and prices the renewal charges are
// posted with (three groups of edit boxes, started from their defaults at
// every run of the program), "Add Charges for M" (the direct billing run)
// and "Future Dealer Regs" (the upcoming renewals file). The dealer billing
// run behind the Dealers tab's "Add Charges" is here too.
#include "billing/RenewalPosting.h"
#include "billing/RunPreview.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class Console;
class QLineEdit;
class TForecastWindow;
class TReconcileWindow;

namespace Ui {
class BillingTab;
}

namespace Billing {

// What the tab's long commands are doing, for their window title and
// progress text.
enum class Work { Run, Preview, Reconcile };

// What a billing run shows while and after it runs: its progress, with a way
// to stop it, and the output window. The reconciliation shows its progress
// the same way. Tests install a scripted one.
class RunFeedback {
public:
    virtual ~RunFeedback() = default;
    // A preview or a reconciliation is shown as one (its own window title
    // and progress text).
    virtual void setWork(Work) {}
    virtual void started(qint64 total) = 0;
    // After each account (rows, for a reconciliation, whose total may
    // change); false when the user asked to stop.
    virtual bool advanced(qint64 done, qint64 total) = 0;
    virtual void finished() = 0;
    // Shows the output window and returns when the user has closed it.
    virtual void showOutput() = 0;
};

} // namespace Billing

class TBillingTab : public QWidget, private Billing::PriceList {
    Q_OBJECT
public:
    explicit TBillingTab(Console& console, QWidget* parent = nullptr);
    ~TBillingTab() override;

    void Button11Click();  // "Add Charges for M": the direct run
    void Button12Click();  // "Add Charges" on the Dealers tab: the reseller shown there
    void Button7Click();   // "Future Dealer Regs": the upcoming renewals file
    // "Preview Charges for M" and the Dealers tab's "Preview Charges": what
    // the direct or the dealer run would post, in the output window, with
    // nothing written.
    void btnPreviewMClick();
    void btnPreviewDealerClick();
    void btnForecastClick();  // "Renewals Forecast"
    // "Reconcile": what the customer and practice databases disagree on, in
    // the reconciliation window.
    void btnReconcileClick();

    // The last preview's accounts and totals.
    const Billing::RunPreview& lastPreview() const { return *m_preview; }
    // The forecast window while it is open.
    TForecastWindow* forecastWindow() const;
    // The reconciliation window while it is open.
    TReconcileWindow* reconcileWindow() const;

    // Replaces the progress dialog and the modal output window (tests).
    void setRunFeedback(std::unique_ptr<Billing::RunFeedback> feedback);

    // The progress text after done of total accounts (rows read, for a
    // reconciliation).
    static QString progressText(qint64 done, qint64 total, Billing::Work work = Billing::Work::Run);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QString text(Billing::PriceBox box) const override;
    QLineEdit* priceBox(Billing::PriceBox box) const;
    void run(const QString& dealerCode, Billing::Mode mode, const QString& dealerChart,
             const QString& dealerProvider, bool preview = false);
    void dealerRun(bool preview);

    Console& m_console;
    std::unique_ptr<Ui::BillingTab> ui;
    std::unique_ptr<Billing::RunFeedback> m_feedback;
    std::unique_ptr<Billing::RunPreview> m_preview;
    QPointer<TForecastWindow> m_forecastWindow;
    QPointer<TReconcileWindow> m_reconcileWindow;
};
