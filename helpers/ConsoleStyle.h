#pragma once
// The console's widget style: the platform's own style, with the frames of
// entry boxes drawn once per size and state and then copied. Loading an
// account sets some twenty boxes, and drawing their rounded, anti-aliased
// frames again on every keystroke of a search cost more than their text.
#include <QProxyStyle>

class ConsoleStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps the application's current style.
    ConsoleStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

namespace Trellane {
// Gives the application the console's style (call once, after QApplication).
void useConsoleStyle();
}
