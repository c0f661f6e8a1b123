#include "releases/ReleaseLookup.h"

#include "00HelperFiles/UpdateFile.h"
#include "customerdb/Settings.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"

#include <QFile>
#include <QObject>

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

QString UpdateServerURL() { return Settings::updateServerUrl(); }

int DownloadTimeoutMs() { return downloadTimeoutMs; }

void SetDownloadTimeoutMs(int ms) { downloadTimeoutMs = ms; }

namespace {

// One lookup: where the list comes from, where it goes, and the file name
// looked for in it.
struct Lookup {
    QString url;
    QString localFile;
    QString wanted;
};

Lookup prepare(const QString& ProgramName, const QString& MajorVersion)
{
    const QString upperName = asciiUpper(
        ProgramName.isEmpty() ? Trellane::platform().programFilePath() : ProgramName);
    const QString dir = Trellane::LocalFilesDirectory();

    // A list left over from an earlier 2.2/2.3 lookup must never be read in
    // place of a fresh one; a failure to delete it does not matter.
    const QString leftOver = dir + QStringLiteral("updates.txt");
    if (QFile::exists(leftOver))
        QFile::remove(leftOver);

    return {UpdateServerURL() + serverPath(MajorVersion), dir + localName(MajorVersion), fileNamePart(upperName)};
}

ReleaseError downloadError(const Lookup& lookup)
{
    return ReleaseError(QStringLiteral("Error downloading URL: %1").arg(lookup.url));
}

// The version of the first "FILE" record whose name the wanted name holds.
QString versionIn(const Lookup& lookup)
{
    const UpdateFile::TUpdateFile list(lookup.localFile, QString());
    for (int i = 0; i < list.Count(); ++i) {
        const UpdateFile::TUpdateRecord& rec = list.GetRecord(i);
        if (rec.Kind() == QLatin1String("FILE") && !rec.FileName().isEmpty()
            && lookup.wanted.contains(rec.FileName())) {
            return QStringLiteral("%1.%2.%3.%4").arg(rec.Major()).arg(rec.Minor()).arg(rec.Release()).arg(rec.Build());
        }
    }
    return QString();
}

} // namespace

QString UpdateAvailableVer(const QString& ProgramName, const QString& MajorVersion)
{
    const Lookup lookup = prepare(ProgramName, MajorVersion);
    // Bounded, so that a server that accepts the connection but never
    // answers cannot freeze the console.
    const QString failure = Trellane::platform().download(lookup.url, lookup.localFile, downloadTimeoutMs);
    if (!failure.isEmpty())
        throw downloadError(lookup);
    return versionIn(lookup);
}

namespace {

const QString kLabelPrefix = QStringLiteral("Current EDI Versions: ");
const QString kJoin = QStringLiteral(" and ");
const QString kEdi = QStringLiteral("TRELEDI.EXE");

} // namespace

void FillEdiVersionsOnShow(const LabelSetter& setLabel)
{
    if (UpdateServerURL().isEmpty())
        return;  // the site has no update server: nothing to show
    QString label = kLabelPrefix + UpdateAvailableVer(kEdi, QStringLiteral("2.2"));
    setLabel(label);
    label += kJoin + UpdateAvailableVer(kEdi, QStringLiteral("2.3"));
    setLabel(label);
    label += kJoin + UpdateAvailableVer(QStringLiteral("TRELEDI3.EXE"), QStringLiteral("3.0"));
    setLabel(label);
}

namespace {

// One refresh of the label on the timer: the 2.2 lookup, then the 2.3 one
// once the 2.2 list has arrived. Deletes itself when done or failed.
class BackgroundRefresh : public QObject {
public:
    BackgroundRefresh(QObject* owner, LabelSetter setLabel, FailureHandler onFailure)
        : QObject(owner)
        , m_setLabel(std::move(setLabel))
        , m_onFailure(std::move(onFailure))
    {
        setObjectName(QStringLiteral("EdiVersionRefresh"));
    }

    void lookUp(int step)
    {
        const Lookup lookup = prepare(kEdi, step == 0 ? QStringLiteral("2.2") : QStringLiteral("2.3"));
        Trellane::platform().downloadInBackground(
            lookup.url, lookup.localFile, downloadTimeoutMs, this,
            [this, lookup, step](const QString& failure) { arrived(lookup, step, failure); });
    }

private:
    void arrived(const Lookup& lookup, int step, const QString& failure)
    {
        QString version;
        try {
            if (!failure.isEmpty())
                throw downloadError(lookup);
            version = versionIn(lookup);
        } catch (const std::exception& e) {
            deleteLater();
            if (m_onFailure)
                m_onFailure(QString::fromUtf8(e.what()));
            return;
        }
        m_label = step == 0 ? kLabelPrefix + version : m_label + kJoin + version;
        m_setLabel(m_label);
        if (step == 0)
            lookUp(1);
        else
            deleteLater();
    }

    LabelSetter m_setLabel;
    FailureHandler m_onFailure;
    QString m_label;
};

} // namespace

void RefreshEdiVersionsInBackground(QObject* owner, const LabelSetter& setLabel, const FailureHandler& onFailure)
{
    // A tick while a refresh still waits for its lists adds no second one.
    if (UpdateServerURL().isEmpty()
        || owner->findChild<BackgroundRefresh*>(QStringLiteral("EdiVersionRefresh"), Qt::FindDirectChildrenOnly))
        return;
    setLabel(QStringLiteral("Looking up current EDI version..."));
    auto* refresh = new BackgroundRefresh(owner, setLabel, onFailure);
    try {
        refresh->lookUp(0);
    } catch (...) {
        delete refresh;
        throw;
    }
}

} // namespace Releases
