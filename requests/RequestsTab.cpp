#include "requests/RequestsTab.h"

#include "ui_RequestsTab.h"

TRequestsTab::TRequestsTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::RequestsTab>())
{
    ui->setupUi(this);
}

TRequestsTab::~TRequestsTab() = default;

QTextEdit* TRequestsTab::RichEdit1() const { return ui->RichEdit1; }

QPlainTextEdit* TRequestsTab::Memo2() const { return ui->Memo2; }
