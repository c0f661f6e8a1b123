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
    QDir().mkpath(dir);
    return QDir::cleanPath(dir);
}

static Db::ConnectionSettings settingsFor(const char* envName, const QString& sqliteName,
                                          const QString& service)
{
    Db::ConnectionSettings s;
    if (QStringLiteral(TRELLANE_DB_BACKEND) == QLatin1String("postgres")) {
        s.backend = Db::Backend::PostgreSQL;
        s.pgService = service;
    } else {
        s.backend = Db::Backend::SQLite;
        const QString fromEnv = qEnvironmentVariable(envName);
        s.sqliteFile = fromEnv.isEmpty() ? dataDirectory() + QLatin1Char('/') + sqliteName : fromEnv;
    }
    return s;
}

Db::ConnectionSettings customerDatabase()
{
    return settingsFor("TRELLANE_CUSTOMER_DB", QStringLiteral("Trellaneemc.sqlite"),
                       QStringLiteral(TRELLANE_PG_CUSTOMER_SERVICE));
}

Db::ConnectionSettings practiceDatabase()
{
    return settingsFor("TRELLANE_PRACTICE_DB", QStringLiteral("mwddf.sqlite"),
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
