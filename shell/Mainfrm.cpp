#include "shell/Mainfrm.h"
#include "ui_Mainfrm.h"

#include "accounts/AccountsTab.h"
#include "accounts/SubmittersTab.h"
#include "billing/BillingTab.h"
#include "customerdb/DataModule.h"
#include "customerdb/Settings.h"
#include "dealers/DealersTab.h"
#include "helpers/Command.h"
#include "helpers/ConsoleStyle.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"
#include "releases/ReleaseLookup.h"
#include "requests/RequestsTab.h"
#include "shell/FirstStart.h"
#include "shell/Outputfrm.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("TrellaneEMC Registration Console");
constexpr int kTimer1IntervalMs = 1800000;  // 30 minutes
constexpr int kStatusShownMs = 6000;

} // namespace

ShellSettings ShellSettings::fromSite()
{
    ShellSettings s;
    s.customer = Settings::customerDatabase();
    s.practice = Settings::practiceDatabase();
    s.releaseShare = Settings::releaseShare();
    return s;
}

TfrmMain::TfrmMain(QWidget* parent)
    : TfrmMain(ShellSettings::fromSite(), parent)
{
}

TfrmMain::TfrmMain(const ShellSettings& settings, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TfrmMain>())
    , m_data(std::make_unique<TDataModule>(settings.customer, settings.practice))
    , m_releaseShare(settings.releaseShare)
{
    ui->setupUi(this);
    setWindowTitle(kTitle);

    buildTabs();
    findOrMakeLabel42();
    ui->PageControl1->setCurrentWidget(ui->tabAccounts);

    // The window opens centred with a client area of 762 by 677, the least
    // it can be made: below it the panels' buttons would be cut off. A
    // larger window gives the grids more rows and columns.
    setMinimumSize(762, 677);
    resize(762, 677);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    connect(ui->PageControl1, &QTabWidget::currentChanged, this,
            [this](int index) { Trellane::runCommand([&] { PageControl1Change(index); }); });
    // Ctrl+Tab and Ctrl+PgDn go to the next tab, Ctrl+Shift+Tab and Ctrl+PgUp
    // to the previous one, wrapping round, from any control of the window (a
    // grid or a text box would otherwise keep the keys for itself).
    const auto step = [this](int by) {
        QTabWidget* pages = ui->PageControl1;
        pages->setCurrentIndex((pages->currentIndex() + by + pages->count()) % pages->count());
    };
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(1); });
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                     QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(-1); });

    // Confirmations go to a line beside the tab captions, where the tab bar
    // leaves room: it needs no click, takes no focus and clears itself.
    m_status = new QLabel(ui->PageControl1);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setContentsMargins(8, 0, 8, 0);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_status->setMinimumWidth(320);
    ui->PageControl1->setCornerWidget(m_status, Qt::TopRightCorner);
    m_statusTimer = new QTimer(this);
    m_statusTimer->setObjectName(QStringLiteral("tmrStatus"));
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(kStatusShownMs);
    connect(m_statusTimer, &QTimer::timeout, m_status, &QLabel::clear);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kTimer1IntervalMs);
    connect(m_timer1, &QTimer::timeout, this, [this] { Trellane::runCommand([this] { Timer1Timer(); }); });
    m_timer1->start();

    m_terminate = [] {
        // Queued, so that it also ends a program whose event loop has not
        // started yet.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    };
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
    m_timer1->stop();
    // The tabs and windows watch the data sets: they go first.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    m_data.reset();
}

QString TfrmMain::consoleFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("tallyhouse.exe");
#else
    return QStringLiteral("tallyhouse");
#endif
}

QString TfrmMain::updaterFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("updatetall.exe");
#else
    return QStringLiteral("updatetall");
#endif
}

void TfrmMain::buildTabs()
{
    m_accounts = new TAccountsTab(*this, ui->tabAccounts);
    ui->tabAccounts->layout()->addWidget(m_accounts);
    m_submitters = new TSubmittersTab(*this, ui->tabSubmitterIDs);
    ui->tabSubmitterIDs->layout()->addWidget(m_submitters);
    m_dealers = new TDealersTab(*this, ui->tabDealers);
    ui->tabDealers->layout()->addWidget(m_dealers);
    m_requests = new TRequestsTab(*this, ui->tabRequests);
    ui->tabRequests->layout()->addWidget(m_requests);
    // An account made from a request is shown on the Accounts tab, which
    // leaves a new account being entered there first (asking when anything
    // was typed into it).
    connect(m_requests, &TRequestsTab::accountAdded, this, [this] {
        ui->PageControl1->setCurrentWidget(ui->tabAccounts);
        m_accounts->leaveNewAccount();
    });
    m_billing = new TBillingTab(*this, ui->tabBilling);
    ui->tabBilling->layout()->addWidget(m_billing);

    connect(m_accounts, &TAccountsTab::addChargesAllowed, m_dealers, &TDealersTab::setAddChargesEnabled);
    // The Dealers tab's "Add Charges" runs the dealer billing run, its
    // "Preview Charges" previews it.
    Trellane::onCommand(m_dealers, &TDealersTab::addChargesClicked, this, [this] { m_billing->Button12Click(); });
    Trellane::onCommand(m_dealers, &TDealersTab::previewChargesClicked, this,
                        [this] { m_billing->btnPreviewDealerClick(); });

    // Every button keeps its designed width: a caption wider than the
    // button in the workstation's font is drawn a little smaller, not cut.
    for (QPushButton* button : findChildren<QPushButton*>())
        Trellane::fitCaption(button);
}

void TfrmMain::findOrMakeLabel42()
{
    m_label42 = qobject_cast<QLabel*>(control(QStringLiteral("Label42")));
    if (m_label42)
        return;
    // The Accounts tab does not carry the label: place one along the foot
    // of that tab, in red like the tab's own would be.
    auto* label = new QLabel(ui->tabAccounts);
    label->setObjectName(QStringLiteral("Label42"));
    label->setStyleSheet(QStringLiteral("color: red;"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* box = static_cast<QBoxLayout*>(ui->tabAccounts->layout());
    box->addWidget(label);
    box->setStretchFactor(m_accounts, 1);
    m_label42 = label;
}

void TfrmMain::setLabel42(const QString& text)
{
    if (m_label42)
        m_label42->setText(text);
}

QTabWidget* TfrmMain::PageControl1() const { return ui->PageControl1; }

QLabel* TfrmMain::Label42() const { return m_label42; }

QTextEdit* TfrmMain::RichEdit1() { return m_requests->RichEdit1(); }

QPlainTextEdit* TfrmMain::Memo2() { return m_requests->Memo2(); }

TfrmOutput* TfrmMain::frmOutput()
{
    if (!m_output)
        m_output = new TfrmOutput(this);
    return m_output;
}

void TfrmMain::setFrmOutput(TfrmOutput* output) { m_output = output; }

QWidget* TfrmMain::control(const QString& objectName)
{
    return findChild<QWidget*>(objectName);
}

void TfrmMain::DisableButtons(bool enabled)
{
    // A button that runs a command has the focus when it is clicked, and
    // disabling it hands the focus on to the next control: it gets the focus
    // back at the end, unless the command put the focus somewhere itself.
    QPushButton* focused = enabled ? nullptr : qobject_cast<QPushButton*>(QApplication::focusWidget());
    const bool note = focused && focused->window() == this && focused->isEnabled() && !m_focusedButton;
    // Found anew on every call, so buttons that tabs add later are reached
    // too. Buttons of other windows parented here (dialogs, message boxes)
    // are not the main window's.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->window() == this)
            button->setEnabled(enabled);
    }
    if (note) {
        m_focusedButton = focused;
        m_focusMovedTo = QApplication::focusWidget();
    } else if (enabled && m_focusedButton) {
        QWidget* button = m_focusedButton;
        const bool untouched = QApplication::focusWidget() == m_focusMovedTo || !QApplication::focusWidget();
        m_focusedButton = nullptr;
        m_focusMovedTo = nullptr;
        if (untouched && button->isVisible() && button->isEnabled())
            button->setFocus(Qt::OtherFocusReason);
    }
}

void TfrmMain::showStatus(const QString& text)
{
    // A text longer than the line shows its start, whole on hovering.
    m_status->setText(m_status->fontMetrics().elidedText(text, Qt::ElideRight, m_status->contentsRect().width()));
    m_status->setToolTip(text);
    m_statusTimer->start();
}

// ---- Start-up -----------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_showHandled)
        return;
    m_showHandled = true;
    // Run once the window is on screen, inside the event loop, so that its
    // messages and the download wait have a painted window behind them.
    QTimer::singleShot(0, this, [this] {
        Trellane::runCommand([this] { FormShow(); });
        emit startUpFinished();
    });
}

void TfrmMain::FormShow()
{
    Trellane::Platform& platform = Trellane::platform();
    const QString programDir = Trellane::LocalFilesDirectory();
    const QDir share(m_releaseShare);
    // A site without a release share ("none") has nothing to compare with.
    const bool haveShare = !m_releaseShare.isEmpty();

    // 1. The updater is fetched at every start; a failed copy is ignored.
    if (haveShare)
        platform.copyFile(share.filePath(updaterFileName()), programDir + updaterFileName());

    // 2. An unreachable share shows "Unable to find ..." and yields no version.
    const QString ownVersion = Trellane::GetFileVersion();
    const QString shareVersion = haveShare ? Trellane::GetFileVersion(share.filePath(consoleFileName())) : QString();

    // 3. Any difference, older versions included, starts the updater at exit.
    if (!shareVersion.isEmpty() && shareVersion != ownVersion) {
        platform.showMessage(QStringLiteral("A newer version (") + shareVersion + QStringLiteral(") is available."));
        m_runUpdateFile = programDir + updaterFileName();
        m_runUpdateDirectory = programDir;
    } else {
        m_runUpdateFile.clear();
        m_runUpdateDirectory.clear();
    }

    // 4. The title carries the console's own version (empty when it has none).
    setWindowTitle(kTitle + QStringLiteral(" Version ") + ownVersion);

    // 5. The release versions. A server that is down, slow or without the
    // lists is reported, but start-up goes on: without the databases every
    // command of the console would fail.
    try {
        Releases::FillEdiVersionsOnShow([this](const QString& text) { setLabel42(text); });
    } catch (...) {
        platform.showError(Trellane::errorText(std::current_exception()));
    }

    // 6. The work starts on the Accounts tab.
    ui->PageControl1->setCurrentWidget(ui->tabAccounts);

    // 7./8. Without its databases the console cannot work: say why, then end.
    // Embedded databases that do not exist yet are offered first; Quit ends
    // the program without a message.
    try {
        if (!FirstStart::prepareDatabases(m_data->connTrellaneEMC->settings(), m_data->connMedisoft->settings())) {
            if (m_terminate)
                m_terminate();
            return;
        }
        openDatabases();
    } catch (...) {
        platform.showError(Trellane::errorText(std::current_exception()));
        if (m_terminate)
            m_terminate();
    }
}

void TfrmMain::openDatabases()
{
    if (auto* lookup = qobject_cast<QLineEdit*>(control(QStringLiteral("edtSubLookup"))))
        lookup->clear();
    TDataModule& dm = *m_data;
    // The console makes no tables: a database without them, or a role
    // without the rights to use them, is named with all that is missing.
    Settings::connect(*dm.connTrellaneEMC);
    Db::requireUsable(*dm.connTrellaneEMC);
    Settings::connect(*dm.connMedisoft);
    Db::requireUsable(*dm.connMedisoft);
    dm.tblRegistration->open();
    dm.tblDealer->open();
    dm.tblSubmitters->open();
    dm.tblRequests->open();
    dm.tblMWPAT->open();
    // The account search starts in the "Serial Number" order.
    m_accounts->SelectFirstSearchOrder();
}

void TfrmMain::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    if (m_runUpdateFile.isEmpty())
        return;
    QString error;
    if (!Trellane::platform().startDetached(m_runUpdateFile, m_runUpdateDirectory, &error))
        Trellane::platform().showError(error);
    m_runUpdateFile.clear();
    m_runUpdateDirectory.clear();
}

// ---- Commands -------------------------------------------------------------------

void TfrmMain::PageControl1Change(int index)
{
    if (ui->PageControl1->widget(index) == ui->tabSubmitterIDs)
        m_submitters->RefreshSubmitters();
}

void TfrmMain::Timer1Timer()
{
    // In the background: the user keeps typing while the lists download,
    // and a failure is reported without touching the buttons.
    Releases::RefreshEdiVersionsInBackground(
        this, [this](const QString& text) { setLabel42(text); },
        [](const QString& failure) { Trellane::platform().showError(failure); });
}
