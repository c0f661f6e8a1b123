#pragma once
// Small free functions shared by the console: the program's directory, the
// version strings of an executable file, and character filters for phone
// numbers and exported names.
#include <QString>

namespace Trellane {

// Full path of the running program's file cut after its last separator
// (the separator stays).
QString ProgramDirectory();

// The folder of the console's own files (the downloaded update lists, the
// copy of the updater), with its final separator: the program's directory,
// as when the program runs from a folder of its own; the user's data folder
// when the program is installed among the system's programs (under /usr),
// where a user cannot write and nothing but the package belongs.
QString LocalFilesDirectory();

// Fills fileVersion and productVersion from the file's version resource
// (string table 040904E4). A missing file shows "Unable to find " + path and
// leaves both as they were; a file without a version resource empties both.
void ReadVersionStrings(const QString& path, QString& fileVersion, QString& productVersion);

// The file version of path, or of the running program when path is empty;
// empty when none is found.
QString GetFileVersion(const QString& path = QString());

// ASCII letters and digits of text, and spaces when keepSpaces is set.
QString KeepAlphaNumeric(const QString& text, bool keepSpaces);
// As KeepAlphaNumeric, also keeping "-" and "_" when keepDashUnderscore is set.
QString KeepAlphaNumericPlus(const QString& text, bool keepSpaces, bool keepDashUnderscore);

} // namespace Trellane
