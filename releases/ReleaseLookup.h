#pragma once
// Which version of a program the update server currently publishes in each
// release line, and the text of the main window's release-version label.
// Everything here blocks the user-interface thread while it downloads.
#include <QString>

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

// "http://" + update server host + ":8080", without a trailing "/"; fixed
// when the console is built.
QString UpdateServerURL();

// Time limit of one update list download, 30 seconds unless changed.
int DownloadTimeoutMs();
void SetDownloadTimeoutMs(int ms);

// The version of ProgramName (a file name such as "TRELEDI.EXE"; empty for
// the running program) published in the release line MajorVersion ("2.2",
// "2.3", "3.0"), as "Major.Minor.Release.Build", or empty text when the list
// has no entry for it. Downloads the list into the program directory first.
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

// Refreshes the label on the timer: shows "Looking up current EDI
// version...", lets pending window messages run once so that it is painted,
// then looks up the 2.2 and 2.3 versions only.
void RefreshEdiVersionsOnTimer(const LabelSetter& setLabel,
                               const std::function<void()>& processEvents);

} // namespace Releases
