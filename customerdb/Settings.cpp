#include "customerdb/Settings.h"

#include "SiteConfig.h"

#include <QDir>
#include <QStandardPaths>

namespace Settings {

QString dataDirectory()
{
    QString dir = QStringLiteral(TRELLANE_SQLITE_DIR);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
              + QStringLiteral("/TrellaneEMC");
    return QDir::cleanPath(dir);
}

static Db::ConnectionSettings settingsFor(const QString& sqliteName, const QString& service)
{
    Db::ConnectionSettings s;
    if (QStringLiteral(TRELLANE_DB_BACKEND) == QLatin1String("postgres")) {
        s.backend = Db::Backend::PostgreSQL;
        s.pgService = service;
    } else {
        s.backend = Db::Backend::SQLite;
        s.sqliteFile = dataDirectory() + QLatin1Char('/') + sqliteName;
    }
    return s;
}

Db::ConnectionSettings customerDatabase()
{
    return settingsFor(QStringLiteral("Trellaneemc.sqlite"),
                       QStringLiteral(TRELLANE_PG_CUSTOMER_SERVICE));
}

Db::ConnectionSettings practiceDatabase()
{
    return settingsFor(QStringLiteral("mwddf.sqlite"),
                       QStringLiteral(TRELLANE_PG_PRACTICE_SERVICE));
}

QString releaseShare()
{
    const QString dir = QStringLiteral(TRELLANE_RELEASE_SHARE);
    return dir.isEmpty() ? dataDirectory() + QStringLiteral("/share/Tallyhouse") : dir;
}

QString fromWebShare()
{
    const QString dir = QStringLiteral(TRELLANE_FROMWEB_SHARE);
    return dir.isEmpty() ? dataDirectory() + QStringLiteral("/share/FromWeb") : dir;
}

QString updateServerUrl()
{
    return QStringLiteral(TRELLANE_UPDATE_SERVER_URL);
}

} // namespace Settings
