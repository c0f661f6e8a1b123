#include "dealers/DealersTab.h"

TDealersTab::TDealersTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
{
}
