// Seek and grid speed, memory, and a walk over the renewals query, on a
// large Registration table.
//
//   bench_engine
//
// Environment: TRELLANE_BENCH_BACKEND (sqlite, the default, or postgres),
// TRELLANE_BENCH_CUSTOMER_DB (the SQLite file) or, for PostgreSQL, the libpq
// environment naming the database (PGHOST, PGPORT, PGUSER, PGDATABASE);
// TRELLANE_BENCH_SAMPLES (seeks per figure, default 2000).
// The table is filled beforehand with `trellane-admin generate N`.
//
// Prints one line per figure: name value unit backend.
#include "bench/BenchSupport.h"
#include "customerdb/DBGrid.h"
#include "customerdb/Engine.h"
#include "customerdb/Schema.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlTableModel>

#include <algorithm>
#include <cstdio>

namespace {

QString backendName;

void print(const char* name, double value, const char* unit)
{
    std::printf("%s %.1f %s %s\n", name, value, unit, qPrintable(backendName));
    std::fflush(stdout);
}

double percentile(QList<double> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const qsizetype i = std::min<qsizetype>(v.size() - 1, qsizetype(p * double(v.size())));
    return v[i];
}

// Reads every field of the current record, as a panel showing it would.
int readRecord(Db::DataSet& ds)
{
    int chars = 0;
    for (const Db::FieldDef& f : ds.fields())
        chars += ds.fieldByName(f.name).asString().size();
    return chars;
}

// Random name prefixes of one to four letters, as a user types them.
QStringList prefixes(int n)
{
    QStringList out;
    auto* rng = QRandomGenerator::global();
    for (int i = 0; i < n; ++i) {
        QString p;
        const int len = 1 + int(rng->bounded(4));
        for (int k = 0; k < len; ++k)
            p += QChar(u'A' + rng->bounded(26));
        out << p;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);

    Db::ConnectionSettings settings;
    const bool pg = qEnvironmentVariable("TRELLANE_BENCH_BACKEND") == QLatin1String("postgres");
    backendName = pg ? QStringLiteral("postgres") : QStringLiteral("sqlite");
    if (pg) {
        settings.backend = Db::Backend::PostgreSQL;
        settings.pgDatabase = qEnvironmentVariable("PGDATABASE");
    } else {
        settings.sqliteFile = qEnvironmentVariable("TRELLANE_BENCH_CUSTOMER_DB");
        if (settings.sqliteFile.isEmpty() || !QFile::exists(settings.sqliteFile)) {
            std::fprintf(stderr, "TRELLANE_BENCH_CUSTOMER_DB must name a generated database\n");
            return 2;
        }
    }
    const int samples = qEnvironmentVariableIntValue("TRELLANE_BENCH_SAMPLES") > 0
        ? qEnvironmentVariableIntValue("TRELLANE_BENCH_SAMPLES")
        : 2000;

    try {
        Db::Connection conn(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog());
        conn.setSettings(settings);
        conn.connect();

        Db::Table reg(&conn);
        CustomerDb::setupRegistration(reg);
        reg.open();
        reg.setIndexFieldNames(QStringLiteral("RegisterName"));

        // The grid shows the table as the Accounts tab does.
        TDBGrid grid;
        grid.resize(740, 300);
        grid.setDataSet(&reg);
        grid.show();
        app.processEvents();
        const double rssOpen = rssMb();

        // Warm up the statement cache and the database's pages.
        for (const QString& p : prefixes(200)) {
            reg.findNearest({p});
            readRecord(reg);
        }

        // Nearest seek and reading the found record. The grid follows the
        // cursor, so it is detached here and measured below.
        grid.setDataSet(nullptr);
        QList<double> seek;
        QElapsedTimer t;
        int sink = 0;
        for (const QString& p : prefixes(samples)) {
            t.start();
            reg.findNearest({p});
            sink += readRecord(reg);
            seek << double(t.nsecsElapsed()) / 1000.0;
        }
        print("nearest_seek_p50_us", percentile(seek, 0.50), "us");
        print("nearest_seek_p99_us", percentile(seek, 0.99), "us");

        // Seek and the grid positioned on the found record, its window of
        // rows re-read; every tenth seek goes to the last row.
        grid.setDataSet(&reg);
        app.processEvents();
        QList<double> gridPos;
        int i = 0;
        for (const QString& p : prefixes(samples)) {
            t.start();
            if (++i % 10 == 0)
                reg.last();
            else
                reg.findNearest({p});
            sink += readRecord(reg);
            sink += grid.dataSetModel()->rowCount();
            gridPos << double(t.nsecsElapsed()) / 1000.0;
        }
        app.processEvents();
        print("grid_position_p50_us", percentile(gridPos, 0.50), "us");
        print("grid_position_p99_us", percentile(gridPos, 0.99), "us");

        // Browsing: page down through part of the table, then to the end.
        for (int page = 0; page < 2000; ++page)
            reg.moveBy(20);
        reg.last();
        for (int page = 0; page < 200; ++page)
            reg.moveBy(-20);
        reg.last();
        app.processEvents();
        print("rss_growth_mb", rssMb() - rssOpen, "MB");

        // A walk over the renewals query, as billing steps through it: the
        // statement runs once at open; rows are read a block at a time.
        {
            Db::Query q(&conn);
            q.setSql(CustomerDb::qryFutureRegsSql());
            const double rssBefore = rssMb();
            t.start();
            q.open();
            const double openMs = double(t.nsecsElapsed()) / 1e6;
            qint64 rows = 0;
            for (; !q.eof(); q.next()) {
                sink += readRecord(q);
                ++rows;
            }
            const double walkS = double(t.nsecsElapsed()) / 1e9;
            print("query_open_ms", openMs, "ms");
            print("query_walk_rows", double(rows), "rows");
            print("query_walk_rows_per_s", double(rows) / std::max(1e-9, walkS), "rows/s");
            print("query_walk_rss_growth_mb", rssMb() - rssBefore, "MB");
            q.close();
        }

        // Baseline: Qt's table model reaching row 500,000 by fetching.
        {
            QSqlTableModel model(nullptr, conn.database());
            model.setTable(conn.quoteName(QStringLiteral("Registration")).remove(QLatin1Char('"')));
            model.setSort(model.fieldIndex(pg ? QStringLiteral("registername") : QStringLiteral("RegisterName")),
                          Qt::AscendingOrder);
            t.start();
            model.select();
            while (model.rowCount() < 500000 && model.canFetchMore())
                model.fetchMore();
            sink += model.rowCount();
            const double baseline = double(t.nsecsElapsed()) / 1000.0;
            print("baseline_position_500k_us", baseline, "us");
            print("baseline_over_grid_p99", baseline / std::max(1.0, percentile(gridPos, 0.99)), "x");
        }
        if (sink == 42)
            std::printf("\n");
        conn.disconnect();
    } catch (const Db::EngineError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
