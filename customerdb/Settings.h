#pragma once
// Site settings of this installation: the database backend, where the two
// databases are (a folder of SQLite files, or two PostgreSQL services), the
// release share, the FromWeb share and the update server. They come from the
// site file and the user's file (files()), read once per program run; a key
// that neither file sets keeps its default, a working local setup (the
// embedded databases in the user's data folder).
#include "customerdb/Engine.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace Settings {

// Settings that cannot be used: one line per problem, each naming the file
// and the key ("FILE: Database/Backend: ...").
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Site {
    Db::Backend backend = Db::Backend::SQLite;
    QString dataDirectory;    // the SQLite files, and the default shares below it
    QString customerService;  // PostgreSQL: libpq service of each database
    QString practiceService;
    QString releaseShare;     // folder holding the current console and its updater; empty: none
    QString fromWebShare;     // folder of the web sign-up's SFTP request files
    QString updateServerUrl;  // "http://host:8080", no trailing slash; empty: none

    // The customer database (connTrellaneEMC) and the practice database
    // (connMedisoft) on the chosen backend.
    Db::ConnectionSettings customerDatabase() const;
    Db::ConnectionSettings practiceDatabase() const;
};

// The files read, lowest precedence first: "TrellaneEMC/console.conf" in
// each system configuration folder ($XDG_CONFIG_DIRS, by default /etc/xdg),
// then the user's one ($XDG_CONFIG_HOME, by default ~/.config). A value in a
// later file wins; missing files are skipped.
QStringList files();

// The settings the given files make. Throws Error listing every unknown key,
// unusable value and unreadable file; nothing is half-applied.
Site read(const QStringList& files);

// The settings of this run: files() read at the first call and kept, so that
// they never change while the program runs. Throws Error, at every call,
// while they cannot be used.
const Site& site();

// Shorthands for site()'s values.
QString dataDirectory();
Db::ConnectionSettings customerDatabase();
Db::ConnectionSettings practiceDatabase();
QString releaseShare();
QString fromWebShare();
QString updateServerUrl();

// Connects conn. A PostgreSQL connection that fails says which service it
// used, which service file defines it (or which files libpq looked in when
// none does), and where setting up the services is described.
void connect(Db::Connection& conn);

} // namespace Settings
