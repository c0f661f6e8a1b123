#pragma once
// The main window: the tab control with the five working screens, start-up
// (self-update check, window title, release versions, opening the
// databases), the rule that commands disable and re-enable every push
// button, the submitter refresh on its tab, the 30-minute release label
// timer, and the updater launch at exit.
#include "customerdb/Engine.h"
#include "helpers/Console.h"
#include "shell/Outputfrm.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QTabWidget;
class QTimer;
class TAccountsTab;
class TBillingTab;
class TDataModule;
class TDealersTab;
class TRequestsTab;
class TSubmittersTab;

namespace Ui {
class TfrmMain;
}

// Where the console finds its databases and its release share.
struct ShellSettings {
    Db::ConnectionSettings customer;
    Db::ConnectionSettings practice;
    QString releaseShare;  // folder holding the current console and its updater

    // The site settings (customerdb/Settings.h); throws Settings::Error when
    // they cannot be used.
    static ShellSettings fromSite();
};

class TfrmMain : public QWidget, public Console {
    Q_OBJECT

public:
    // The databases and share of the site settings.
    explicit TfrmMain(QWidget* parent = nullptr);
    explicit TfrmMain(const ShellSettings& settings, QWidget* parent = nullptr);
    // Runs FormDestroy, then closes the tabs before the components they show.
    ~TfrmMain() override;

    // File names of the console and of its updater on the release share and
    // in the program directory.
    static QString consoleFileName();
    static QString updaterFileName();

    // ---- Console ----------------------------------------------------------
    TDataModule& data() override { return *m_data; }
    void DisableButtons(bool enabled) override;
    QTextEdit* RichEdit1() override;
    QPlainTextEdit* Memo2() override;
    TfrmOutput* frmOutput() override;
    QWidget* window() override { return this; }
    void showStatus(const QString& text) override;
    // The confirmation line, at the right of the tab captions.
    QLabel* statusLine() const { return m_status; }

    // A control of any tab by its object name (nullptr when absent).
    QWidget* control(const QString& objectName);

    // Program start creates the output window after the main window.
    void setFrmOutput(TfrmOutput* output);

    // ---- Handlers ---------------------------------------------------------
    // Start-up, run once when the window is first shown.
    void FormShow();
    // Starts the updater found by start-up, detached; runs at destruction.
    void FormDestroy();
    // Re-reads the submitter list when its tab becomes the current page.
    void PageControl1Change(int index);
    // Refreshes the release label (two versions) without blocking the window.
    void Timer1Timer();

    // ---- State ------------------------------------------------------------
    // The pending updater launch; both empty when nothing is to start.
    QString runUpdateFile() const { return m_runUpdateFile; }
    QString runUpdateDirectory() const { return m_runUpdateDirectory; }

    // What ends the program when the databases cannot be opened at start or
    // the first start is answered with Quit; by default it asks the
    // application to quit with exit code 1.
    void setTerminateHook(std::function<void()> hook) { m_terminate = std::move(hook); }

    QTabWidget* PageControl1() const;
    QTimer* Timer1() const { return m_timer1; }
    QLabel* Label42() const;
    TAccountsTab* accountsTab() const { return m_accounts; }
    TSubmittersTab* submittersTab() const { return m_submitters; }
    TDealersTab* dealersTab() const { return m_dealers; }
    TRequestsTab* requestsTab() const { return m_requests; }
    TBillingTab* billingTab() const { return m_billing; }

signals:
    // FormShow has run to its end (also when it ended the program).
    void startUpFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildTabs();
    void findOrMakeLabel42();
    void setLabel42(const QString& text);
    void openDatabases();

    std::unique_ptr<Ui::TfrmMain> ui;
    std::unique_ptr<TDataModule> m_data;
    QString m_releaseShare;

    TAccountsTab* m_accounts = nullptr;
    TSubmittersTab* m_submitters = nullptr;
    TDealersTab* m_dealers = nullptr;
    TRequestsTab* m_requests = nullptr;
    TBillingTab* m_billing = nullptr;
    QPointer<QLabel> m_label42;
    // The button that had the focus when a command disabled the buttons,
    // and the control the focus went to then.
    QPointer<QWidget> m_focusedButton;
    QPointer<QWidget> m_focusMovedTo;
    QPointer<TfrmOutput> m_output;
    QTimer* m_timer1 = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_statusTimer = nullptr;  // clears the confirmation line

    QString m_runUpdateFile;
    QString m_runUpdateDirectory;
    bool m_showHandled = false;
    bool m_destroyed = false;
    std::function<void()> m_terminate;
};
