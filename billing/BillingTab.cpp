#include "billing/BillingTab.h"

#include "ui_BillingTab.h"

#include "billing/ForecastWindow.h"
#include "billing/ReconcileWindow.h"
#include "billing/RenewalsExport.h"
#include "customerdb/DataModule.h"
#include "helpers/Command.h"
#include "helpers/Console.h"
#include "helpers/EntryRule.h"
#include "helpers/Platform.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>

using Billing::Mode;
using Billing::PriceBox;

namespace {

// The progress dialog over the main window, and the output window shown
// modally after the run.
class DialogFeedback : public Billing::RunFeedback {
public:
    explicit DialogFeedback(Console& console) : m_console(console) {}

    void setWork(Billing::Work work) override { m_work = work; }
    void started(qint64 total) override
    {
        m_dialog = new QProgressDialog(m_console.window());
        m_dialog->setWindowTitle(m_work == Billing::Work::Preview     ? QStringLiteral("Preview Charges")
                                 : m_work == Billing::Work::Reconcile ? QStringLiteral("Reconcile")
                                                                      : QStringLiteral("Add Charges"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setRange(0, int(qMin<qint64>(total, INT_MAX)));
        m_dialog->setLabelText(TBillingTab::progressText(0, total, m_work));
        m_dialog->setValue(0);
        m_clock.start();
    }
    bool advanced(qint64 done, qint64 total) override
    {
        if (!m_dialog)
            return true;
        // Repainting costs more than posting an account: a few times a second.
        if (m_clock.elapsed() >= 100 || done == total) {
            m_clock.restart();
            if (m_dialog->maximum() != int(qMin<qint64>(total, INT_MAX)))
                m_dialog->setMaximum(int(qMin<qint64>(total, INT_MAX)));
            m_dialog->setLabelText(TBillingTab::progressText(done, total, m_work));
            m_dialog->setValue(int(qMin<qint64>(done, INT_MAX)));  // handles events (window-modal)
        }
        return !m_dialog->wasCanceled();
    }
    void finished() override
    {
        delete m_dialog;
        m_dialog = nullptr;
    }
    void showOutput() override { m_console.frmOutput()->showModal(); }

private:
    Console& m_console;
    QPointer<QProgressDialog> m_dialog;
    QElapsedTimer m_clock;
    Billing::Work m_work = Billing::Work::Run;
};

QString field(Db::DataSet& ds, const char* name) { return ds.fieldByName(QLatin1String(name)).asString(); }

} // namespace

TBillingTab::TBillingTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::BillingTab>())
    , m_feedback(std::make_unique<DialogFeedback>(console))
    , m_preview(std::make_unique<Billing::RunPreview>())
{
    ui->setupUi(this);
    // The price list starts from its defaults at every start of the program.
    for (int b = 0; b < Billing::kPriceBoxes; ++b)
        priceBox(PriceBox(b))->setText(Billing::defaultPriceText(PriceBox(b)));
    // Procedure codes are capitals, except the monthly Institutional code,
    // which is kept as typed.
    for (QLineEdit* code : {ui->edtAnnProf, ui->edtAnnInst, ui->edtAnnERA, ui->edtMoProf, ui->edtMoERA,
                            ui->edtDAAnnProf, ui->edtDAAnnInst, ui->edtDAAnnERA})
        Trellane::EntryRule::of(code)->setUpperCase(true);

    Trellane::onClick(ui->Button11, this, [this] { Button11Click(); });
    Trellane::onClick(ui->Button7, this, [this] { Button7Click(); });
    Trellane::onClick(ui->btnPreviewM, this, [this] { btnPreviewMClick(); });
    Trellane::onClick(ui->btnForecast, this, [this] { btnForecastClick(); });
    Trellane::onClick(ui->btnReconcile, this, [this] { btnReconcileClick(); });
}

TBillingTab::~TBillingTab() = default;

void TBillingTab::setRunFeedback(std::unique_ptr<Billing::RunFeedback> feedback)
{
    m_feedback = std::move(feedback);
}

QString TBillingTab::progressText(qint64 done, qint64 total, Billing::Work work)
{
    const QLocale c(QLocale::English, QLocale::UnitedStates);
    if (work == Billing::Work::Reconcile)
        return QStringLiteral("Reconciling: %1 of %2 rows read").arg(c.toString(done), c.toString(total));
    return QStringLiteral("%1 renewals: %2 of %3 accounts")
        .arg(work == Billing::Work::Preview ? QStringLiteral("Previewing") : QStringLiteral("Posting"), c.toString(done),
             c.toString(total));
}

QLineEdit* TBillingTab::priceBox(PriceBox box) const
{
    switch (box) {
    case PriceBox::AnnProf: return ui->edtAnnProf;
    case PriceBox::AnnProfChg: return ui->edtAnnProfChg;
    case PriceBox::AnnInst: return ui->edtAnnInst;
    case PriceBox::AnnInstChg: return ui->edtAnnInstChg;
    case PriceBox::AnnInstChg2: return ui->edtAnnInstChg2;
    case PriceBox::AnnERA: return ui->edtAnnERA;
    case PriceBox::AnnERAChg: return ui->edtAnnERAChg;
    case PriceBox::MoProf: return ui->edtMoProf;
    case PriceBox::MoProfChg: return ui->edtMoProfChg;
    case PriceBox::MoERA: return ui->edtMoERA;
    case PriceBox::MoERAChg: return ui->edtMoERAChg;
    case PriceBox::MOInst: return ui->edtMOInst;
    case PriceBox::MOInstChg: return ui->edtMOInstChg;
    }
    return nullptr;
}

QString TBillingTab::text(PriceBox box) const { return priceBox(box)->text(); }

// The buttons belong to the tab's right edge: a wider window takes them
// along, the price list staying where it is.
void TBillingTab::resizeEvent(QResizeEvent* e)
{
    constexpr int kDesignWidth = 758;
    const int shift = qMax(0, width() - kDesignWidth);
    const struct {
        QPushButton* button;
        int x;
    } designed[] = {{ui->btnPreviewM, 530}, {ui->Button11, 641}, {ui->btnReconcile, 419}, {ui->btnForecast, 530},
                    {ui->Button7, 641}};
    for (const auto& d : designed)
        d.button->move(d.x + shift, d.button->y());
    QWidget::resizeEvent(e);
}

void TBillingTab::Button11Click()
{
    run(QStringLiteral("M"), Mode::Direct, QString(), QString());
}

void TBillingTab::Button12Click()
{
    dealerRun(false);
}

void TBillingTab::btnPreviewMClick()
{
    run(QStringLiteral("M"), Mode::Direct, QString(), QString(), true);
}

void TBillingTab::btnPreviewDealerClick()
{
    dealerRun(true);
}

void TBillingTab::dealerRun(bool preview)
{
    // The reseller is taken once, at the start: nothing during the run
    // changes whom it bills.
    Db::Table& dealer = *m_console.data().tblDealer;
    const bool shown = dealer.isOpen() && !dealer.isEmpty();
    // Reseller "M" stands for the direct accounts, which are billed at
    // direct prices with their own charts as guarantors: only the direct run
    // bills them right, and it would later skip what a dealer run posted.
    if (shown && field(dealer, "DealerCode") == QLatin1String("M")) {
        Trellane::platform().showMessage(
            QStringLiteral("The accounts of reseller M are billed with \"Add Charges for M\" on the Billing tab."));
        return;
    }
    run(shown ? field(dealer, "DealerCode") : QString(), Mode::Dealer, shown ? field(dealer, "ChartNumber") : QString(),
        shown ? field(dealer, "Provider") : QString(), preview);
}

// The run and its preview take the same steps over the same accounts; the
// preview makes each account's plan and shows it where the run carries it
// out.
void TBillingTab::run(const QString& dealerCode, Mode mode, const QString& dealerChart, const QString& dealerProvider,
                      bool preview)
{
    TDataModule& data = m_console.data();
    Db::Query& q = *data.qryFutureRegs2;
    OutputLog& output = *m_console.frmOutput();
    Billing::RenewalPosting posting(data, *this);
    posting.setMode(mode, dealerChart, dealerProvider);
    posting.setPreview(preview);
    m_preview = std::make_unique<Billing::RunPreview>(
        mode == Mode::Direct ? QStringLiteral("Add Charges for M")
                             : QStringLiteral("Add Charges for %1").arg(dealerCode.isNull() ? QStringLiteral("(no reseller)") : dealerCode));
    Billing::RunPreview& report = *m_preview;
    m_feedback->setWork(preview ? Billing::Work::Preview : Billing::Work::Run);

    const Trellane::ButtonsDisabled busy(m_console);
    bool progressShown = false;
    bool patientsReopened = false;
    // However the run ends: the progress closed, the log in the output
    // window, the patient table (closed with the practice connection) open
    // again for the account screen; the guard above enables every button.
    auto done = qScopeGuard([&] {
        if (progressShown)
            m_feedback->finished();
        output.setText(preview ? QString() : posting.log().join(QLatin1Char('\n')));
        // Each on its own: a transaction table that cannot be read (the
        // error that ended the run) keeps no patient table closed.
        if (!patientsReopened) {
            for (Db::Table* table : {data.tblMWTRN, data.tblMWPAT}) {
                try {
                    table->open();
                } catch (...) {
                    // The error that ended the run is the one reported.
                }
            }
        }
    });

    q.close();
    // A null code selects no account (no dealer shown).
    q.setParam(QStringLiteral("dcode"), dealerCode.isNull() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(dealerCode));
    q.open();

    data.connMedisoft->disconnect();
    data.tblMWCAS->open();
    // The posting reads and writes the charges itself; the transaction
    // table, which would re-read the current case's first charge after
    // every account, is opened once the walk is over.
    data.tblMWDEF->open();
    posting.readCaseDefaults();

    q.first();
    output.clear();

    const qint64 total = q.recordCount();
    m_feedback->started(total);
    progressShown = true;
    qint64 count = 0;
    bool cancelled = false;
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    try {
        while (!q.eof()) {
            if (preview)
                report.add(posting.planAccount());
            else
                posting.PostAccountRenewals();
            ++count;
            if (!m_feedback->advanced(count, total) && count < total) {
                cancelled = true;
                break;
            }
            q.next();
        }
        if (!preview)
            posting.finish();
    } catch (const Db::EngineError& e) {
        if (preview)
            throw;
        // The accounts planned before the error are written first: all
        // accounts before the one that failed stay posted. When one of them
        // cannot be written, its error is the one reported.
        Db::EngineError failure = e;
        try {
            posting.finish();
        } catch (const Db::EngineError& earlier) {
            failure = earlier;
        }
        count = posting.accountsDone();
        // What was posted is recorded; the error that ended the run is the
        // one reported.
        try {
            Billing::recordRun(*data.connTrellaneEMC, mode, dealerCode, count, posting,
                               QStringLiteral("ended by an error after %1 of %2 accounts").arg(count).arg(total));
        } catch (const Db::EngineError&) {
        }
        // The output window stays hidden: the error box says how far the
        // run got. Each account is posted whole or not at all.
        throw Db::EngineError(failure.message() + QLatin1Char('\n')
                                  + QStringLiteral("%1 of %2 accounts were posted before the error; run again to post the rest.")
                                        .arg(english.toString(count), english.toString(total)),
                              failure.nativeCode());
    }
    m_feedback->finished();
    progressShown = false;
    if (!preview) {
        try {
            Billing::recordRun(*data.connTrellaneEMC, mode, dealerCode, count, posting,
                               cancelled ? QStringLiteral("cancelled after %1 of %2 accounts").arg(count).arg(total) : QString());
        } catch (const Db::EngineError& e) {
            throw Db::EngineError(QStringLiteral("The charges were posted, but the run could not be recorded: ") + e.message(),
                                  e.nativeCode());
        }
    }

    QStringList log = preview ? report.lines(cancelled ? count : -1, total) : posting.log();
    if (cancelled && !preview)
        log << QStringLiteral("The run was cancelled after %1 of %2 accounts.")
                   .arg(english.toString(count), english.toString(total));
    output.setText(log.join(QLatin1Char('\n')));
    data.tblMWTRN->open();
    data.tblMWPAT->open();
    patientsReopened = true;
    m_feedback->showOutput();
    done.dismiss();
}

void TBillingTab::Button7Click()
{
    const QString path = Trellane::platform().getSaveFileName(
        Trellane::platform().today().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv"));
    if (path.isEmpty())
        return;
    QPlainTextEdit* memo = m_console.Memo2();
    memo->clear();
    Db::Query& q = *m_console.data().qryFutureRegs;
    const QStringList lines = Billing::exportLines(q);
    memo->setPlainText(lines.join(QLatin1Char('\n')));
    Billing::writeLines(path, lines);
    q.close();
}

TForecastWindow* TBillingTab::forecastWindow() const { return m_forecastWindow; }

void TBillingTab::btnForecastClick()
{
    // One window, brought forward and counted afresh on every click.
    if (!m_forecastWindow) {
        m_forecastWindow = new TForecastWindow(*m_console.data().connTrellaneEMC, *this, m_console.window());
        m_forecastWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_forecastWindow->refresh();
    m_forecastWindow->show();
    m_forecastWindow->raise();
}

TReconcileWindow* TBillingTab::reconcileWindow() const { return m_reconcileWindow; }

void TBillingTab::btnReconcileClick()
{
    TDataModule& data = m_console.data();
    const Billing::PriceList& prices = *this;
    auto result = std::make_unique<Billing::Reconciliation>(*data.connTrellaneEMC, *data.connMedisoft, prices);
    {
        const Trellane::ButtonsDisabled busy(m_console);
        m_feedback->setWork(Billing::Work::Reconcile);
        bool shown = false;
        auto done = qScopeGuard([&] {
            if (shown)
                m_feedback->finished();
        });
        const bool finished = result->run(Trellane::platform().today(), [&](qint64 rows, qint64 total) {
            if (!shown) {
                m_feedback->started(total);
                shown = true;
            }
            return m_feedback->advanced(rows, total);
        });
        if (!finished)
            return;
    }
    // One window, showing the latest reconciliation.
    if (!m_reconcileWindow) {
        m_reconcileWindow = new TReconcileWindow(m_console.window());
        m_reconcileWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_reconcileWindow->setResult(std::move(result));
    m_reconcileWindow->show();
    m_reconcileWindow->raise();
}
