#pragma once
// Reading the version block (VS_VERSIONINFO) of an executable file without
// the Windows version library. Two containers are understood:
//   - a Windows PE file, where the block is the RT_VERSION resource;
//   - an ELF file, where the build placed the same block in a section named
//     ".vsversion" (see cmake/VersionResource.cmake).
// Every read is bounds-checked: the files may come from a network share and
// may be truncated or damaged. A damaged file raises VersionInfoError; it
// never makes the parser read outside the given bytes.
#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

namespace Trellane::VersionInfo {

// A file or version block that is damaged: lengths or offsets pointing
// outside the data, or structures that do not fit.
class VersionInfoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The version block of a PE or ELF file image. std::nullopt when the file
// has none: a PE without RT_VERSION resource (or one of size 0), an ELF
// without a ".vsversion" section, or a file of any other kind. Throws
// VersionInfoError when the file is recognised as PE or ELF but its
// structures are damaged.
std::optional<QByteArray> findVersionResource(const QByteArray& file);

// Looks up a value in a version block by a backslash-separated path of keys
// such as "StringFileInfo\040904E4\FileVersion"; keys are compared without
// regard to ASCII letter case, as the Windows version library does. Returns
// the value as text up to its terminating zero, or std::nullopt when a key
// on the path is not there. Throws VersionInfoError for a damaged block.
std::optional<QString> queryStringValue(const QByteArray& block, const QString& path);

// The two strings the console reads, from the US English / code page 1252
// string table (040904E4). A member is std::nullopt when its entry is absent.
struct VersionStrings {
    std::optional<QString> fileVersion;
    std::optional<QString> productVersion;
};

// Throws VersionInfoError for a damaged block.
VersionStrings parseVersionStrings(const QByteArray& block);

} // namespace Trellane::VersionInfo
