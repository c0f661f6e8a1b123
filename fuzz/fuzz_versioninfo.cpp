// libFuzzer target for the version reader: the input is taken both as a
// whole file (PE or ELF) and as a bare version block.
#include "helpers/VersionInfo.h"

#include <cstdint>

using namespace Trellane::VersionInfo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        if (const auto block = findVersionResource(bytes))
            parseVersionStrings(*block);
    } catch (const VersionInfoError&) {
    }
    try {
        parseVersionStrings(bytes);
        queryStringValue(bytes, QStringLiteral("VarFileInfo\\Translation"));
    } catch (const VersionInfoError&) {
    }
    return 0;
}
