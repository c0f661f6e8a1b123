#include "tests/support/TestConsole.h"

#include "shell/Outputfrm.h"
#include "tests/support/TestDb.h"

#include <QPushButton>

TestConsole::TestConsole(const QString& tag)
    : m_host(std::make_unique<QWidget>())
{
    m_data = std::make_unique<TDataModule>(TestDb::fresh(tag + QStringLiteral("_c")),
                                           TestDb::fresh(tag + QStringLiteral("_p")));
    m_data->connTrellaneEMC->connect();
    m_data->connTrellaneEMC->createSchema();
    m_data->connMedisoft->connect();
    m_data->connMedisoft->createSchema();
    m_data->connTrellaneEMC->setPinnedToday(QDate(2026, 12, 9));
    m_data->connMedisoft->setPinnedToday(QDate(2026, 12, 9));
    m_richEdit1 = new QTextEdit(m_host.get());
    m_richEdit1->setObjectName(QStringLiteral("RichEdit1"));
    m_memo2 = new QPlainTextEdit(m_host.get());
    m_memo2->setObjectName(QStringLiteral("Memo2"));
}

TestConsole::~TestConsole()
{
    delete m_output;
    // Tabs (children of the host) go before the data sets they watch.
    m_host.reset();
    m_data.reset();
}

void TestConsole::DisableButtons(bool enabled)
{
    ++(enabled ? enableCalls : disableCalls);
    for (QPushButton* b : m_host->findChildren<QPushButton*>())
        b->setEnabled(enabled);
}

TfrmOutput* TestConsole::frmOutput()
{
    if (!m_output)
        m_output = new TfrmOutput();
    return m_output;
}
