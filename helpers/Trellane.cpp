#include "helpers/Trellane.h"

#include "helpers/Platform.h"
#include "helpers/VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace Trellane {

QString ProgramDirectory()
{
    const QString path = platform().programFilePath();
    // Either separator: the path may be written in Windows notation.
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.left(cut + 1);
}

QString LocalFilesDirectory()
{
    const QString dir = ProgramDirectory();
    if (!dir.startsWith(QLatin1String("/usr/")))
        return dir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/TrellaneEMC");
    QDir().mkpath(data);
    return data + QLatin1Char('/');
}

void ReadVersionStrings(const QString& path, QString& fileVersion, QString& productVersion)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        platform().showMessage(QStringLiteral("Unable to find ") + path);
        return;
    }
    try {
        QFile file(path);
        // A file that exists but cannot be read is a failure, not a file
        // without version: report it rather than return an empty version.
        if (!file.open(QIODevice::ReadOnly))
            throw VersionInfo::VersionInfoError("cannot open file");
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw VersionInfo::VersionInfoError("cannot read file");

        const std::optional<QByteArray> block = VersionInfo::findVersionResource(bytes);
        if (!block) {
            fileVersion.clear();
            productVersion.clear();
            return;
        }
        const VersionInfo::VersionStrings strings = VersionInfo::parseVersionStrings(*block);
        if (strings.fileVersion)
            fileVersion = *strings.fileVersion;
        if (strings.productVersion)
            productVersion = *strings.productVersion;
    } catch (const std::exception&) {
        platform().showMessage(QStringLiteral("Error, attempting to get file version."));
    }
}

QString GetFileVersion(const QString& path)
{
    QString fileVersion;
    QString productVersion;
    ReadVersionStrings(path.isEmpty() ? platform().programFilePath() : path, fileVersion, productVersion);
    return fileVersion;
}

QString KeepAlphaNumericPlus(const QString& text, bool keepSpaces, bool keepDashUnderscore)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool keep = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z')
            || (keepSpaces && u == u' ') || (keepDashUnderscore && (u == u'-' || u == u'_'));
        if (keep)
            kept.append(c);
    }
    return kept;
}

QString KeepAlphaNumeric(const QString& text, bool keepSpaces)
{
    return KeepAlphaNumericPlus(text, keepSpaces, false);
}

} // namespace Trellane
