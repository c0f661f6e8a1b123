// libFuzzer target for the translation of stored query text into each
// backend's SQL. Besides crashes, hangs and sanitizer reports it checks what
// must hold for any text: literals come out as they went in, text without
// CurDate() is left alone on SQLite, and PostgreSQL's translation of its own
// output changes nothing more.
#include "customerdb/SqlDialect.h"

#include <cstdint>
#include <cstdlib>

using Db::Backend;
using Db::SqlDialect;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The single-quoted literals of the text, in order ('' inside one is a
// quote; a quote inside a double-quoted name starts none).
QStringList literals(const QString& sql)
{
    QStringList out;
    QString current;
    bool inLiteral = false;
    bool inQuoted = false;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (!inLiteral && c == QLatin1Char('"'))
            inQuoted = !inQuoted;
        if (c == QLatin1Char('\'') && !inQuoted) {
            if (inLiteral && i + 1 < sql.size() && sql.at(i + 1) == QLatin1Char('\'')) {
                current += QStringLiteral("''");
                ++i;
                continue;
            }
            if (inLiteral) {
                out << current;
                current.clear();
            }
            inLiteral = !inLiteral;
            continue;
        }
        if (inLiteral)
            current += c;
    }
    if (inLiteral)
        out << current;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QDate pinned(2026, 12, 9);
    const SqlDialect& sqlite = SqlDialect::of(Backend::SQLite);
    const SqlDialect& postgres = SqlDialect::of(Backend::PostgreSQL);

    const QString lite = sqlite.translateSql(sql, pinned);
    const QString pg = postgres.translateSql(sql, pinned);
    const QString pgUnpinned = postgres.translateSql(sql, QDate());
    (void)sqlite.translateSql(sql, QDate());

    // SQLite only rewrites CurDate(): other text passes unchanged.
    if (!sql.contains(QLatin1String("curdate"), Qt::CaseInsensitive))
        check(lite == sql);

    // Literals are data on both backends; the translations add literals of
    // their own (the pinned date, date offsets) only where CurDate() was.
    // Without those, translating PostgreSQL's output again adds nothing.
    if (!sql.contains(QLatin1String("curdate"), Qt::CaseInsensitive)) {
        check(literals(pg) == literals(sql));
        check(literals(pgUnpinned) == literals(sql));
        check(postgres.translateSql(pg, pinned) == pg);
    }
    return 0;
}
