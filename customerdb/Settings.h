#pragma once
// Site settings of this installation: where the two databases, the release
// share and the FromWeb share are, and the update server. They are build
// options (see the top-level CMakeLists.txt) with working local defaults.
#include "customerdb/Engine.h"

#include <QString>

namespace Settings {

// Folder of the embedded databases and default shares: TRELLANE_SQLITE_DIR
// when set at build time, else the user's application data folder. Nothing
// here makes the folder: the admin tool does when it creates the databases.
QString dataDirectory();

// The customer database (connTrellaneEMC) and the practice database
// (connMedisoft): build options only, nothing read at run time; PostgreSQL
// uses the libpq services.
Db::ConnectionSettings customerDatabase();
Db::ConnectionSettings practiceDatabase();

// Release share folder holding the console and its updater.
QString releaseShare();
// FromWeb share folder holding the web sign-up's SFTP request files.
QString fromWebShare();
// Update server base URL, "http://host:8080" without a trailing slash.
QString updateServerUrl();

} // namespace Settings
