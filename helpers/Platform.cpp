#include "helpers/Platform.h"
#include "helpers/QtPlatform.h"

namespace Trellane {

namespace {
Platform* installed = nullptr;
}

Platform& platform()
{
    if (installed)
        return *installed;
    static QtPlatform production;
    return production;
}

void setPlatform(Platform* p) { installed = p; }

} // namespace Trellane
