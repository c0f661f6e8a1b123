#include "releases/ReleaseLookup.h"

#include "00HelperFiles/UpdateFile.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"

#include "SiteConfig.h"

#include <QFile>

#include <algorithm>

namespace Releases {

namespace {

int downloadTimeoutMs = 30000;

// Upper-cases the ASCII letters a to z only; names in the update list are
// compared byte for byte, so no other character may change.
QString asciiUpper(const QString& text)
{
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - ('a' - 'A'));
    }
    return result;
}

// The text after the last path separator, or all of it when there is none.
// A Windows path ("\" or drive ":") or a path of this system ("/").
QString fileNamePart(const QString& path)
{
    qsizetype cut = -1;
    for (const QChar sep : {QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('/')})
        cut = std::max(cut, path.lastIndexOf(sep));
    return path.mid(cut + 1);
}

QString serverPath(const QString& majorVersion)
{
    if (majorVersion == QLatin1String("2.2"))
        return QStringLiteral("/updates/updates.txt");
    if (majorVersion == QLatin1String("2.3"))
        return QStringLiteral("/updates2/updates.txt");
    return QStringLiteral("/updates3/updates3.txt");
}

// Chosen apart from the server path: a release line that is none of the
// known ones is fetched from the 3.0 path but kept as "updates.txt".
QString localName(const QString& majorVersion)
{
    if (majorVersion == QLatin1String("3.0"))
        return QStringLiteral("updates3.txt");
    return QStringLiteral("updates.txt");
}

} // namespace

QString UpdateServerURL() { return QStringLiteral(TRELLANE_UPDATE_SERVER_URL); }

int DownloadTimeoutMs() { return downloadTimeoutMs; }

void SetDownloadTimeoutMs(int ms) { downloadTimeoutMs = ms; }

QString UpdateAvailableVer(const QString& ProgramName, const QString& MajorVersion)
{
    const QString upperName = asciiUpper(
        ProgramName.isEmpty() ? Trellane::platform().programFilePath() : ProgramName);

    QString result;
    const QString dir = Trellane::ProgramDirectory();

    // A list left over from an earlier 2.2/2.3 lookup must never be read in
    // place of a fresh one; a failure to delete it does not matter.
    const QString leftOver = dir + QStringLiteral("updates.txt");
    if (QFile::exists(leftOver))
        QFile::remove(leftOver);

    const QString url = UpdateServerURL() + serverPath(MajorVersion);
    const QString localFile = dir + localName(MajorVersion);

    // Bounded, so that a server that accepts the connection but never
    // answers cannot freeze the console.
    const QString failure = Trellane::platform().download(url, localFile, downloadTimeoutMs);
    if (!failure.isEmpty())
        throw ReleaseError(QStringLiteral("Error downloading URL: %1").arg(url));

    const UpdateFile::TUpdateFile list(localFile, QString());
    const QString wanted = fileNamePart(upperName);
    for (int i = 0; i < list.Count(); ++i) {
        const UpdateFile::TUpdateRecord& rec = list.GetRecord(i);
        if (rec.Kind() == QLatin1String("FILE") && !rec.FileName().isEmpty()
            && wanted.contains(rec.FileName())) {
            result = QStringLiteral("%1.%2.%3.%4")
                         .arg(rec.Major())
                         .arg(rec.Minor())
                         .arg(rec.Release())
                         .arg(rec.Build());
            break;
        }
    }
    return result;
}

namespace {

const QString kLabelPrefix = QStringLiteral("Current EDI Versions: ");
const QString kJoin = QStringLiteral(" and ");
const QString kEdi = QStringLiteral("TRELEDI.EXE");

} // namespace

void FillEdiVersionsOnShow(const LabelSetter& setLabel)
{
    QString label = kLabelPrefix + UpdateAvailableVer(kEdi, QStringLiteral("2.2"));
    setLabel(label);
    label += kJoin + UpdateAvailableVer(kEdi, QStringLiteral("2.3"));
    setLabel(label);
    label += kJoin + UpdateAvailableVer(QStringLiteral("TRELEDI3.EXE"), QStringLiteral("3.0"));
    setLabel(label);
}

void RefreshEdiVersionsOnTimer(const LabelSetter& setLabel,
                               const std::function<void()>& processEvents)
{
    setLabel(QStringLiteral("Looking up current EDI version..."));
    if (processEvents)
        processEvents();
    QString label = kLabelPrefix + UpdateAvailableVer(kEdi, QStringLiteral("2.2"));
    setLabel(label);
    label += kJoin + UpdateAvailableVer(kEdi, QStringLiteral("2.3"));
    setLabel(label);
}

} // namespace Releases
