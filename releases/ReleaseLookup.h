#pragma once
// Which version of a program the update server currently publishes in each
// release line, and the text of the main window's release-version label.
// The lookups block the user-interface thread while they download; the
// refresh on the timer does not.
#include <QString>

class QObject;

#include <functional>
#include <stdexcept>

namespace Releases {

// A failed download of an update list; carries its message.
class ReleaseError : public std::runtime_error {
public:
    explicit ReleaseError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// "http://" + update server host + ":8080", without a trailing "/"; the site
// settings' value, fixed for the program run. Empty when the site has no
// update server: the label then stays empty and nothing is downloaded.
QString UpdateServerURL();

// Time limit of one update list download, 30 seconds unless changed.
int DownloadTimeoutMs();
void SetDownloadTimeoutMs(int ms);

// The version of ProgramName (a file name such as "TRELEDI.EXE"; empty for
// the running program) published in the release line MajorVersion ("2.2",
// "2.3", "3.0"), as "Major.Minor.Release.Build", or empty text when the list
// has no entry for it. Downloads the list into the folder of the console's
// own files first (Trellane::LocalFilesDirectory).
// Throws ReleaseError "Error downloading URL: <address>" when the download
// fails or times out, and UpdateFile::UpdateFileError when the list cannot be
// read.
QString UpdateAvailableVer(const QString& ProgramName, const QString& MajorVersion);

using LabelSetter = std::function<void(const QString&)>;

// Fills the label when the main window is shown: the 2.2, 2.3 and 3.0
// versions, "Current EDI Versions: " + v22 + " and " + v23 + " and " + v30.
// A failing lookup throws and leaves the label as the last completed step
// set it.
void FillEdiVersionsOnShow(const LabelSetter& setLabel);

using FailureHandler = std::function<void(const QString& message)>;

// Refreshes the label on the timer without blocking the window or taking
// its input or focus: shows "Looking up current EDI version...", returns at
// once, and sets the label as the 2.2 and then the 2.3 list arrive
// ("Current EDI Versions: " + v22 + " and " + v23). A failing lookup goes to
// onFailure with its message and leaves the label as the last completed
// step set it. The refresh belongs to owner and ends with it; while one is
// running, another call does nothing.
void RefreshEdiVersionsInBackground(QObject* owner, const LabelSetter& setLabel, const FailureHandler& onFailure);

} // namespace Releases
