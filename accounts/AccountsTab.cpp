#include "accounts/AccountsTab.h"

TAccountsTab::TAccountsTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
{
}
