#include "helpers/BusyCursor.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>

namespace Trellane {

namespace {

// The window is repainted this often while the busy cursor shows.
constexpr int kRepaintMs = 100;

struct BusyState {
    bool installed = false;
    int afterMs = 500;
    bool idle = true;       // the event loop went idle since the last statement
    bool shown = false;
    bool repainting = false;  // statements of a repaint do not repaint again
    QElapsedTimer since;      // the action's first statement
    QElapsedTimer repainted;
};

BusyState& state()
{
    static BusyState s;
    return s;
}

void wentIdle()
{
    BusyState& s = state();
    s.idle = true;
    if (s.shown) {
        s.shown = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

} // namespace

void installBusyCursor(int afterMs)
{
    BusyState& s = state();
    s.afterMs = afterMs;
    if (s.installed || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    if (!dispatcher)
        return;
    s.installed = true;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, QCoreApplication::instance(), wentIdle);
}

void aboutToWaitOnDatabase()
{
    BusyState& s = state();
    if (!s.installed || s.repainting)
        return;
    if (s.idle) {
        s.idle = false;
        s.since.start();
        return;
    }
    if (!s.shown) {
        if (s.since.elapsed() < s.afterMs)
            return;
        s.shown = true;
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        s.repainted.invalidate();
    }
    if (s.repainted.isValid() && s.repainted.elapsed() < kRepaintMs)
        return;
    // Paint and other window events, no input: the user cannot start
    // another action in the middle of this one.
    s.repainting = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    s.repainting = false;
    s.repainted.start();
}

bool busyCursorShown()
{
    return state().shown;
}

} // namespace Trellane
