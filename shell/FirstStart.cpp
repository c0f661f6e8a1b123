#include "shell/FirstStart.h"

#include "admin/DemoData.h"
#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "helpers/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FirstStart {

namespace {

void removeDatabaseFile(const QString& file)
{
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(file + suffix);
}

void create(Db::ConnectionSettings customer, Db::ConnectionSettings practice, bool demo)
{
    customer.createIfMissing = practice.createIfMissing = true;
    try {
        for (const Db::ConnectionSettings* s : {&customer, &practice}) {
            const QString folder = QFileInfo(s->sqliteFile).absolutePath();
            if (!QDir().mkpath(folder))
                throw Db::EngineError(QStringLiteral("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(folder)));
        }
        Db::Connection customerConn(QStringLiteral("firstStartCustomer"), &CustomerDb::catalog());
        customerConn.setSettings(customer);
        customerConn.connect();
        customerConn.createSchema();
        Db::Connection practiceConn(QStringLiteral("firstStartPractice"), &Practice::catalog());
        practiceConn.setSettings(practice);
        practiceConn.connect();
        practiceConn.createSchema();
        if (demo)
            DemoData::load(customerConn, practiceConn, false);
    } catch (...) {
        // The next start asks again instead of finding half a pair.
        removeDatabaseFile(customer.sqliteFile);
        removeDatabaseFile(practice.sqliteFile);
        throw;
    }
}

} // namespace

bool prepareDatabases(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice)
{
    if (customer.backend != Db::Backend::SQLite || practice.backend != Db::Backend::SQLite
        || QFileInfo::exists(customer.sqliteFile) || QFileInfo::exists(practice.sqliteFile))
        return true;
    const QString folder = QDir::toNativeSeparators(QFileInfo(customer.sqliteFile).absolutePath());
    const QString answer = Trellane::platform().askChoice(
        QStringLiteral("No customer database found in %1.").arg(folder), {kCreate, kDemo, kQuit});
    if (answer != kCreate && answer != kDemo)
        return false;
    create(customer, practice, answer == kDemo);
    return true;
}

} // namespace FirstStart
