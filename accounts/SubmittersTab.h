#pragma once
// The Submitter IDs tab: the submitter records reported for the current
// account (a detail of Registration), stepping from account to account in
// the Accounts tab's order, deleting records, and fetching the SFTP request
// filed for a submitter ID.
#include <QString>
#include <QWidget>

#include <memory>

class Console;
class QAction;
class QMenu;

namespace Ui {
class SubmittersTab;
}

class TSubmittersTab : public QWidget {
    Q_OBJECT
public:
    explicit TSubmittersTab(Console& console, QWidget* parent = nullptr);
    ~TSubmittersTab() override;

    void btnDelSubIDClick();     // "Delete"
    void Button9Click();         // "Previous"
    void Button8Click();         // "Next Serial"
    void GetSFTPRequest1Click(); // "Get SFTP Request"

    // Folder of the FromWeb share holding the SFTP request files.
    void setFromWebFolder(const QString& folder) { m_fromWeb = folder; }
    QString fromWebFolder() const { return m_fromWeb; }

    // The grid's pop-up command.
    QAction* getSFTPRequestAction() const { return m_getSFTPRequest; }

public slots:
    // Re-reads the submitter records of the current account from the server.
    void RefreshSubmitters();

protected:
    void showEvent(QShowEvent* e) override;

private:
    Console& m_console;
    std::unique_ptr<Ui::SubmittersTab> ui;
    QMenu* m_popup = nullptr;
    QAction* m_getSFTPRequest = nullptr;
    QString m_fromWeb;
};
