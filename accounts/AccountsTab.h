#pragma once
// Placeholder until the tab is built: shows the tab's frame only.
#include <QWidget>

class Console;

class TAccountsTab : public QWidget {
    Q_OBJECT
public:
    explicit TAccountsTab(Console& console, QWidget* parent = nullptr);

private:
    Console& m_console;
};
