#include "customerdb/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <optional>

namespace Settings {

namespace {

const QString kBackend = QStringLiteral("Database/Backend");
const QString kFolder = QStringLiteral("Database/Folder");
const QString kCustomerService = QStringLiteral("Database/CustomerService");
const QString kPracticeService = QStringLiteral("Database/PracticeService");
const QString kReleaseShare = QStringLiteral("Shares/Release");
const QString kFromWebShare = QStringLiteral("Shares/FromWeb");
const QString kUpdateServer = QStringLiteral("UpdateServer/Url");

// Every key's value, with the file it came from (the last file that sets it).
struct Value {
    QString text;
    QString file;
};

class Reader {
public:
    QStringList problems;
    QHash<QString, Value> values;

    void readFile(const QString& path)
    {
        const QFileInfo info(path);
        if (!info.exists())
            return;
        if (!info.isFile() || !info.isReadable()) {
            problems << path + QStringLiteral(": the file cannot be read.");
            return;
        }
        QSettings file(path, QSettings::IniFormat);
        if (file.status() != QSettings::NoError) {
            problems << path + QStringLiteral(": not a settings file (lines \"[Group]\" and \"Key=value\").");
            return;
        }
        static const QStringList known{kBackend,     kFolder,       kCustomerService, kPracticeService,
                                       kReleaseShare, kFromWebShare, kUpdateServer};
        for (const QString& key : file.allKeys()) {
            if (!known.contains(key)) {
                problems << problem(path, key, QStringLiteral("unknown setting."));
                continue;
            }
            const QVariant v = file.value(key);
            if (v.typeId() != QMetaType::QString) {
                problems << problem(path, key, QStringLiteral("the value holds a comma; put it in double quotes."));
                continue;
            }
            values.insert(key, {v.toString().trimmed(), path});
        }
    }

    static QString problem(const QString& file, const QString& key, const QString& what)
    {
        return file + QStringLiteral(": ") + key + QStringLiteral(": ") + what;
    }

    // The value of key, or nothing when no file sets it (or sets it empty).
    std::optional<Value> get(const QString& key) const
    {
        const auto it = values.constFind(key);
        if (it == values.constEnd() || it->text.isEmpty())
            return std::nullopt;
        return *it;
    }

    // True when key says "none": the site has no such place; its value is
    // then empty.
    bool none(const QString& key) const
    {
        const std::optional<Value> v = get(key);
        return v && v->text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
    }

    // A folder: absolute, or below the home folder with "~/".
    QString folder(const QString& key, const QString& fallback)
    {
        const std::optional<Value> v = get(key);
        if (!v)
            return fallback;
        QString path = v->text;
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
            path = QDir::homePath() + path.mid(1);
        if (!QDir::isAbsolutePath(path)) {
            problems << problem(v->file, key,
                                QStringLiteral("\"%1\" is not an absolute folder (start it with / or ~/).").arg(v->text));
            return fallback;
        }
        return QDir::cleanPath(path);
    }

    QString service(const QString& key, const QString& fallback)
    {
        const std::optional<Value> v = get(key);
        if (!v)
            return fallback;
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_.-]+$"));
        if (!name.match(v->text).hasMatch()) {
            problems << problem(v->file, key,
                                QStringLiteral("\"%1\" is not a service name (letters, digits, _ . -).").arg(v->text));
            return fallback;
        }
        return v->text;
    }

    // A server's address: scheme, host and port, at most a "/" after them.
    QString url(const QString& key, const QString& fallback)
    {
        const std::optional<Value> v = get(key);
        if (!v)
            return fallback;
        const QUrl url(v->text, QUrl::StrictMode);
        const bool http = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
        if (!url.isValid() || !http || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery()
            || url.hasFragment() || (url.path() != QLatin1String("/") && !url.path().isEmpty())) {
            problems << problem(v->file, key,
                                QStringLiteral("\"%1\" is not a server address such as http://host:8080.").arg(v->text));
            return fallback;
        }
        return url.adjusted(QUrl::RemovePath).toString();
    }

    Db::Backend backend(const QString& key)
    {
        const std::optional<Value> v = get(key);
        if (!v || v->text.compare(QLatin1String("sqlite"), Qt::CaseInsensitive) == 0)
            return Db::Backend::SQLite;
        if (v->text.compare(QLatin1String("postgres"), Qt::CaseInsensitive) == 0)
            return Db::Backend::PostgreSQL;
        problems << problem(v->file, key, QStringLiteral("\"%1\" is not a backend (sqlite or postgres).").arg(v->text));
        return Db::Backend::SQLite;
    }
};

Db::ConnectionSettings connectionFor(const Site& site, const QString& sqliteName, const QString& service)
{
    Db::ConnectionSettings s;
    s.backend = site.backend;
    if (site.backend == Db::Backend::PostgreSQL)
        s.pgService = service;
    else
        s.sqliteFile = site.dataDirectory + QLatin1Char('/') + sqliteName;
    return s;
}

// Whether a libpq service file defines the group "[service]".
bool definesService(const QString& path, const QString& service)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray header = '[' + service.toUtf8() + ']';
    while (!f.atEnd()) {
        if (f.readLine().trimmed() == header)
            return true;
    }
    return false;
}

} // namespace

Db::ConnectionSettings Site::customerDatabase() const
{
    return connectionFor(*this, QStringLiteral("Trellaneemc.sqlite"), customerService);
}

Db::ConnectionSettings Site::practiceDatabase() const
{
    return connectionFor(*this, QStringLiteral("mwddf.sqlite"), practiceService);
}

QStringList files()
{
    const QString name = QStringLiteral("/TrellaneEMC/console.conf");
    QStringList result;
    // Lowest precedence first: the system folders are listed most important
    // first, and the user's folder comes before them.
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    folders.removeAll(user);
    for (auto it = folders.crbegin(); it != folders.crend(); ++it)
        result << *it + name;
    result << user + name;
    return result;
}

Site read(const QStringList& files)
{
    Reader r;
    for (const QString& f : files)
        r.readFile(f);

    Site s;
    s.backend = r.backend(kBackend);
    s.dataDirectory = r.folder(
        kFolder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/TrellaneEMC"));
    s.customerService = r.service(kCustomerService, QStringLiteral("trellane_customer"));
    s.practiceService = r.service(kPracticeService, QStringLiteral("trellane_practice"));
    s.releaseShare = r.none(kReleaseShare) ? QString()
                                           : r.folder(kReleaseShare, s.dataDirectory + QStringLiteral("/share/Tallyhouse"));
    s.fromWebShare = r.folder(kFromWebShare, s.dataDirectory + QStringLiteral("/share/FromWeb"));
    s.updateServerUrl = r.none(kUpdateServer) ? QString() : r.url(kUpdateServer, QStringLiteral("http://127.0.0.1:8080"));
    if (!r.problems.isEmpty()) {
        // File by file in the order read, by key within a file.
        QStringList ordered;
        for (const QString& f : files) {
            QStringList ofFile;
            for (const QString& p : std::as_const(r.problems)) {
                if (p.startsWith(f + QStringLiteral(": ")))
                    ofFile << p;
            }
            ofFile.sort();
            ordered << ofFile;
        }
        throw Error(ordered.join(QLatin1Char('\n')).toStdString());
    }
    return s;
}

const Site& site()
{
    static const std::optional<Site> read = [] () -> std::optional<Site> {
        try {
            return Settings::read(files());
        } catch (const Error&) {
            return std::nullopt;
        }
    }();
    if (!read)
        Settings::read(files()); // throws the same problems again
    return *read;
}

QString dataDirectory() { return site().dataDirectory; }
Db::ConnectionSettings customerDatabase() { return site().customerDatabase(); }
Db::ConnectionSettings practiceDatabase() { return site().practiceDatabase(); }
QString releaseShare() { return site().releaseShare; }
QString fromWebShare() { return site().fromWebShare; }
QString updateServerUrl() { return site().updateServerUrl; }

namespace {

QString pgServiceFailure(const QString& title, const QString& service, const QString& engineText)
{
    // Where libpq looks a service up: the user's file, then the system's
    // (PGSYSCONFDIR, else the folder Debian's libpq was built with).
    const QString userFile = qEnvironmentVariableIsEmpty("PGSERVICEFILE")
        ? QDir::homePath() + QStringLiteral("/.pg_service.conf")
        : qEnvironmentVariable("PGSERVICEFILE");
    const QString systemFile = (qEnvironmentVariableIsEmpty("PGSYSCONFDIR")
                                    ? QStringLiteral("/etc/postgresql-common")
                                    : qEnvironmentVariable("PGSYSCONFDIR"))
        + QStringLiteral("/pg_service.conf");
    QString where;
    if (definesService(userFile, service))
        where = QStringLiteral("the PostgreSQL service \"%1\" of %2").arg(service, userFile);
    else if (definesService(systemFile, service))
        where = QStringLiteral("the PostgreSQL service \"%1\" of %2").arg(service, systemFile);
    else
        where = QStringLiteral("the PostgreSQL service \"%1\", which neither %2 nor %3 defines").arg(service, userFile,
                                                                                                   systemFile);
    // A refused server certificate says little to anyone but a TLS expert.
    QString why = engineText;
    if (engineText.contains(QLatin1String("certificate verify failed")))
        why += QStringLiteral("\nThe server's certificate is not signed by the certificate authority that the service "
                              "trusts (its sslrootcert): either the service names the wrong authority's certificate, or "
                              "this is not the office's database server. Nothing was sent to it.");
    return QStringLiteral("Unable to connect to the %1 through %2.\n%3\n"
                          "Setting up the services: \"Using PostgreSQL\" in the README "
                          "(/usr/share/doc/tallyhouse/README.md.gz).")
        .arg(title, where, why);
}

} // namespace

void connect(Db::Connection& conn)
{
    try {
        conn.connect();
    } catch (const Db::EngineError& e) {
        // Without a service the libpq environment chose the server.
        if (conn.backend() != Db::Backend::PostgreSQL || conn.settings().pgService.isEmpty())
            throw;
        // libpq's own words, without the engine's "Unable to connect to ...".
        QString text = e.message();
        const QString context = QStringLiteral("Unable to connect to %1: ").arg(conn.name());
        if (text.startsWith(context))
            text = text.mid(context.size());
        throw Db::EngineError(pgServiceFailure(conn.title(), conn.settings().pgService, text), e.nativeCode());
    }
}

} // namespace Settings
