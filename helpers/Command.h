#pragma once
// The application's error box. Every user command (button click, menu item,
// key press, list change, timer tick) runs through runCommand: an error that
// escapes it is shown once with its message and the window goes on. A command
// that disables the window's buttons does so with a ButtonsDisabled guard,
// which enables them again however the command ends; a failure anywhere else
// leaves the buttons as they were.
#include <QAbstractButton>
#include <QObject>

#include <functional>

class Console;

namespace Trellane {

// Runs fn; an escaping Db::EngineError, std::exception or other error is
// shown in the error box (Platform::showError). Returns false when fn failed.
bool runCommand(const std::function<void()>& fn);

// Disables every push button of the window while it lives
// (DisableButtons(false)) and enables them again when it goes
// (DisableButtons(true)), also when the command throws.
class ButtonsDisabled {
public:
    explicit ButtonsDisabled(Console& console);
    ~ButtonsDisabled();
    ButtonsDisabled(const ButtonsDisabled&) = delete;
    ButtonsDisabled& operator=(const ButtonsDisabled&) = delete;

private:
    Console& m_console;
};

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
