#include "billing/BillingTab.h"

#include "ui_BillingTab.h"

TBillingTab::TBillingTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::BillingTab>())
{
    ui->setupUi(this);
}

TBillingTab::~TBillingTab() = default;
