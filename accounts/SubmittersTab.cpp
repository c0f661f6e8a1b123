#include "accounts/SubmittersTab.h"

TSubmittersTab::TSubmittersTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
{
}
