#include "helpers/Command.h"

#include "helpers/Platform.h"

namespace Trellane {

static std::function<void()>& recoveryHook()
{
    static std::function<void()> hook;
    return hook;
}

void setCommandRecovery(std::function<void()> recovery)
{
    recoveryHook() = std::move(recovery);
}

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
    // The recovery itself must not throw past the event loop.
    try {
        if (recoveryHook())
            recoveryHook()();
    } catch (...) {
        platform().showError(errorText(std::current_exception()));
    }
    return false;
}

} // namespace Trellane
