#include "accounts/SubmittersTab.h"

#include "ui_SubmittersTab.h"

#include "customerdb/DataModule.h"
#include "customerdb/Settings.h"
#include "helpers/Command.h"
#include "helpers/Console.h"
#include "helpers/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextEdit>

#include <stdexcept>

TSubmittersTab::TSubmittersTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::SubmittersTab>())
    , m_fromWeb(Settings::fromWebShare())
{
    ui->setupUi(this);

    TDBGrid* grid = ui->DBGrid2;
    grid->setReadOnlyGrid(true);
    grid->setDataSet(m_console.data().tblSubmitters);
    grid->setColumns({QStringLiteral("SerialNumber"), QStringLiteral("SubmitterID"), QStringLiteral("Clearinghouse"),
                      QStringLiteral("ConnectionType"), QStringLiteral("IPAddress"), QStringLiteral("EDIVersion"),
                      QStringLiteral("MedisoftVersion"), QStringLiteral("PracticeName"),
                      QStringLiteral("PracticePhone"), QStringLiteral("Updated"), QStringLiteral("DataVersion")});

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    m_getSFTPRequest = m_popup->addAction(QStringLiteral("Get SFTP Request"));
    m_getSFTPRequest->setObjectName(QStringLiteral("GetSFTPRequest1"));
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this, grid](const QPoint& at) { m_popup->popup(grid->viewport()->mapToGlobal(at)); });

    Trellane::onCommand(m_getSFTPRequest, &QAction::triggered, this, [this](bool) { GetSFTPRequest1Click(); });
    Trellane::onClick(ui->btnDelSubID, this, [this] { btnDelSubIDClick(); });
    Trellane::onClick(ui->Button9, this, [this] { Button9Click(); });
    Trellane::onClick(ui->Button8, this, [this] { Button8Click(); });
}

TSubmittersTab::~TSubmittersTab() = default;

void TSubmittersTab::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    // Brought to the front with the focus on the page it replaced, the tab
    // would hand the focus to its first button, "Delete", where a stray
    // Enter deletes a record: the grid takes it instead.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QWidget* focus = QApplication::focusWidget();
            if (focus && isAncestorOf(focus) && qobject_cast<QPushButton*>(focus))
                ui->DBGrid2->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
}

void TSubmittersTab::RefreshSubmitters()
{
    Db::Table* subs = m_console.data().tblSubmitters;
    if (subs->isOpen())
        subs->refresh();
}

void TSubmittersTab::btnDelSubIDClick()
{
    Db::Table* subs = m_console.data().tblSubmitters;
    const Trellane::ButtonsDisabled busy(m_console);
    // An empty list reads SerialNumber 0: nothing to ask, nothing to delete.
    if (subs->isBrowsing() && subs->fieldByName(QStringLiteral("SerialNumber")).asInteger() > 0) {
        if (Trellane::platform().askYesNo(QStringLiteral("Are you sure you want to delete this account?")))
            subs->del();
    }
}

void TSubmittersTab::Button9Click()
{
    m_console.data().tblRegistration->prior();
}

void TSubmittersTab::Button8Click()
{
    m_console.data().tblRegistration->next();
}

void TSubmittersTab::GetSFTPRequest1Click()
{
    Db::Table* subs = m_console.data().tblSubmitters;
    const QString clearinghouse = subs->fieldByName(QStringLiteral("Clearinghouse")).asString();
    const QString submitterId = subs->fieldByName(QStringLiteral("SubmitterID")).asString();
    // Both values come from other systems: neither may lead the file name
    // out of the FromWeb folder.
    for (const QString& part : {clearinghouse, submitterId}) {
        static const QRegularExpression unsafe(QStringLiteral("[/\\\\:\\x00-\\x1f]|\\.\\."));
        if (part.contains(unsafe))
            throw std::runtime_error(
                QStringLiteral("The clearinghouse or submitter ID \"%1\" cannot be used in a file name.")
                    .arg(part)
                    .toStdString());
    }
    const QString path = QDir(m_fromWeb).filePath(QStringLiteral("sftp_") + clearinghouse + QLatin1Char('_')
                                                  + submitterId + QStringLiteral(".txt"));

    QFile file(path);
    QByteArray bytes;
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok) {
        bytes = file.readAll();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok)
        throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString())
                                     .toStdString());

    // The web sign-up writes plain text; older files may be in Latin-1.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString content = utf8.decode(bytes);
    if (utf8.hasError())
        content = QString::fromLatin1(bytes);

    QTextEdit* rich = m_console.RichEdit1();
    rich->setPlainText(content);
    rich->selectAll();
    Trellane::platform().setClipboardText(rich->toPlainText());
    m_console.showStatus(QStringLiteral("SFTP request of %1 copied to the clipboard.").arg(submitterId));
}
