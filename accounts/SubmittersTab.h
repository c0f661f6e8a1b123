#pragma once
// Placeholder until the tab is built: shows the tab's frame only.
#include <QWidget>

class Console;

class TSubmittersTab : public QWidget {
    Q_OBJECT
public:
    explicit TSubmittersTab(Console& console, QWidget* parent = nullptr);

private:
    Console& m_console;
};
