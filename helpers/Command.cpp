#include "helpers/Command.h"

#include "helpers/Console.h"
#include "helpers/Platform.h"

namespace Trellane {

QString errorText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        // Engine errors carry the engine's message as UTF-8.
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}

bool runCommand(const std::function<void()>& fn)
{
    try {
        fn();
        return true;
    } catch (...) {
        platform().showError(errorText(std::current_exception()));
    }
    return false;
}

ButtonsDisabled::ButtonsDisabled(Console& console)
    : m_console(console)
{
    m_console.DisableButtons(false);
}

ButtonsDisabled::~ButtonsDisabled()
{
    // Runs while an error unwinds too: nothing may escape it.
    try {
        m_console.DisableButtons(true);
    } catch (...) {
    }
}

} // namespace Trellane
