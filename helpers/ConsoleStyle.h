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

// Keeps Alt combinations out of the boxes: Alt and a letter is a button's
// accelerator or nothing, never typing. A combination that no shortcut took
// (Alt+N while "&New" is disabled) reaches the focused box as a key press
// with the letter as its text; this filter, installed on the application,
// drops such key presses before any widget sees them. Keys without text
// (Alt+Down opening a list or a calendar) and Ctrl+Alt (AltGr on some
// keyboards) go through.
class AltKeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Enter and Return press the focused push button, as Space does, in the main
// window as in dialogs.
class EnterKeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class QAbstractButton;

namespace Trellane {
// Gives the application the console's style and its Alt and Enter key
// rules (call once, after QApplication).
void useConsoleStyle();

// Keeps a button at its laid-out width: a caption wider than the button in
// the workstation's font is drawn a little smaller (down to 6 points), with
// a few pixels clear on either side, rather than cut or touching the edges.
void fitCaption(QAbstractButton* button);
}
