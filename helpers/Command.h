#pragma once
// The application's error box. Every user command (button click, menu item,
// key press, list change, timer tick) runs through runCommand: an error that
// escapes it is shown once with its message, then the window's recovery runs
// (it enables the buttons a command may have disabled) and the window goes on.
#include <QAbstractButton>
#include <QObject>

#include <functional>

namespace Trellane {

// Runs fn; an escaping Db::EngineError, std::exception or other error is
// shown in the error box (Platform::showError) and the recovery runs.
// Returns false when fn failed.
bool runCommand(const std::function<void()>& fn);

// The recovery run after a failed command (the main window installs
// DisableButtons(true)); nullptr for none.
void setCommandRecovery(std::function<void()> recovery);

// The message of an escaping error as the error box shows it.
QString errorText(std::exception_ptr error);

// Connects a signal to a handler that runs as a command.
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection onCommand(Sender* sender, Signal signal, QObject* context, Handler handler)
{
    return QObject::connect(sender, signal, context, [handler](auto&&... args) {
        runCommand([&] { handler(args...); });
    });
}

// A button's clicked() as a command.
template <typename Handler>
QMetaObject::Connection onClick(QAbstractButton* button, QObject* context, Handler handler)
{
    return QObject::connect(button, &QAbstractButton::clicked, context,
                            [handler] { runCommand(handler); });
}

} // namespace Trellane
