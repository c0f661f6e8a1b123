#include "billing/Reconciliation.h"

#include "billing/RenewalsExport.h"
#include "customerdb/Engine.h"
#include "customerdb/FieldValues.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace Billing {

namespace {

constexpr int kLookBackDays = 60;
constexpr qint64 kProgressEvery = 4096;  // rows between two progress reports
const char* const kModuleNames[3] = {"Professional", "Institutional", "ERA"};

QString number(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

// Chart numbers as 64-bit keys, so that a million of them fit in hash
// tables without a string each: up to eight ASCII characters (trailing
// blanks dropped) are packed seven bits apiece, a blank chart is 0, and any
// other chart is numbered, with the top bit set.
class ChartKeys {
public:
    static constexpr quint64 kUnknown = ~quint64(0);  // a chart never given a key

    // The key of a chart given as UTF-8.
    quint64 key(QByteArrayView chart, bool make)
    {
        qsizetype n = chart.size();
        while (n > 0 && chart[n - 1] == ' ')
            --n;
        if (n <= 8) {
            quint64 k = 0;
            bool packed = true;
            for (qsizetype i = 0; i < n && packed; ++i) {
                const uchar c = uchar(chart[i]);
                packed = c > 0 && c < 0x80;
                k |= quint64(c) << (7 * i);
            }
            if (packed)
                return k;
        }
        const QString whole = QString::fromUtf8(chart.first(n));
        const auto it = m_otherKeys.constFind(whole);
        if (it != m_otherKeys.constEnd())
            return *it;
        if (!make)
            return kUnknown;
        const quint64 k = (quint64(1) << 63) | quint64(m_other.size());
        m_other.append(whole);
        m_otherKeys.insert(whole, k);
        return k;
    }
    QString text(quint64 k) const
    {
        if (k >> 63)
            return m_other[qsizetype(k & ~(quint64(1) << 63))];
        QString s;
        for (quint64 rest = k; rest; rest >>= 7)
            s += QChar(char16_t(rest & 0x7F));
        return s;
    }

private:
    QStringList m_other;
    QHash<QString, quint64> m_otherKeys;
};

// A hash table from a key of 64 and 32 bits to a non-negative int, in one
// array probed linearly: a lookup in a table of a million keys costs one
// cache miss, which is what reading a million rows against it is made of.
class KeyIndex {
public:
    explicit KeyIndex(qsizetype expected = 0) { grow(expected); }

    // The value of the key, or -1.
    int find(quint64 a, quint32 b) const
    {
        for (quint64 i = slotOf(a, b);; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[qsizetype(i)];
            if (s.value < 0)
                return -1;
            if (s.a == a && s.b == b)
                return s.value;
        }
    }
    // The value of the key; a new key is given value.
    int findOrInsert(quint64 a, quint32 b, int value)
    {
        if (2 * (m_size + 1) > m_slots.size())
            grow(m_size + 1);
        for (quint64 i = slotOf(a, b);; i = (i + 1) & m_mask) {
            Slot& s = m_slots[qsizetype(i)];
            if (s.value < 0) {
                s = {a, b, value};
                ++m_size;
                return value;
            }
            if (s.a == a && s.b == b)
                return s.value;
        }
    }

private:
    struct Slot {
        quint64 a;
        quint32 b;
        qint32 value;
    };
    quint64 slotOf(quint64 a, quint32 b) const
    {
        quint64 h = a ^ (quint64(b) * 0x9E3779B97F4A7C15ULL);
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h & m_mask;
    }
    // Room for n keys with at most half the slots taken.
    void grow(qsizetype n)
    {
        qsizetype size = 16;
        while (size < 2 * n)
            size *= 2;
        if (size <= m_slots.size())
            return;
        const QList<Slot> old = std::exchange(m_slots, QList<Slot>(size, Slot{0, 0, -1}));
        m_mask = quint64(size - 1);
        m_size = 0;
        for (const Slot& s : old)
            if (s.value >= 0)
                findOrInsert(s.a, s.b, s.value);
    }

    QList<Slot> m_slots;
    quint64 m_mask = 0;
    qsizetype m_size = 0;
};

struct Account {
    qint64 serial;
    int chart;  // index of the account charts, -1: blank
    int nameAt;
    int nameLength;
    int nextOnChart;  // the next account of the same chart, -1 at the end
};

struct AccountChart {
    quint64 key;
    int firstAccount;
    int lastAccount;
    int accounts;
    bool hasPatient;
};

struct Renewal {  // a module expired in the window
    int account;
    int module;
    int day;  // Julian day of the expiry
    int nextSameKey = -1;  // another account's renewal of the same chart, module and day
    bool billed = false;
};

struct Case {
    quint64 chartKey;
    int accountChart;  // -1: no account has the chart
    QVariant number;
    int createdDay;  // 0: none
    bool addedByRun;
    bool holdsCharge = false;
};

quint32 renewalKey(int module, int day) { return (quint32(module) << 24) | (quint32(day) & 0xFFFFFF); }

QString dateText(int julianDay) { return julianDay ? slashDate(QDate::fromJulianDay(julianDay)) : QString(); }

// Counts the rows read and reports them every few thousand rows.
class Counter {
public:
    Counter(const Reconciliation::Progress& progress, qint64 total) : m_progress(progress), m_total(total) {}
    bool step()
    {
        ++m_done;
        return m_done % kProgressEvery != 0 || report();
    }
    bool report() { return !m_progress || m_progress(m_done, qMax(m_total, m_done)); }
    // A table is read: its estimate gives way to the rows it held.
    void tableRead(qint64 estimated, qint64 rows) { m_total += rows - estimated; }

private:
    const Reconciliation::Progress& m_progress;
    qint64 m_total;
    qint64 m_done = 0;
};

// The rows of one statement, read front to back, each column as a number
// or as UTF-8 text.
class Rows {
public:
    virtual ~Rows() = default;
    virtual bool next() = 0;
    virtual bool isNull(int column) = 0;
    virtual qint64 number(int column) = 0;
    // Valid until the next row.
    virtual QByteArrayView text(int column) = 0;
};

// Through Qt SQL (PostgreSQL).
class QueryRows : public Rows {
public:
    QueryRows(Db::Connection& conn, const QString& sql, const QVariantList& values)
        : m_conn(conn)
        , m_query(conn.database())
    {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(sql))
            throw conn.failure(m_query.lastError());
        for (qsizetype i = 0; i < values.size(); ++i)
            m_query.bindValue(int(i), values[i]);
        if (!m_query.exec())
            throw conn.failure(m_query.lastError());
    }
    bool next() override
    {
        if (m_query.next())
            return true;
        if (m_query.lastError().isValid())
            throw m_conn.failure(m_query.lastError());
        return false;
    }
    bool isNull(int column) override { return m_query.isNull(column); }
    qint64 number(int column) override { return m_query.value(column).toLongLong(); }
    QByteArrayView text(int column) override
    {
        m_text = m_query.value(column).toString().toUtf8();
        return m_text;
    }

private:
    Db::Connection& m_conn;
    QSqlQuery m_query;
    QByteArray m_text;
};

// Straight from SQLite's own statement on the connection's handle: a
// million rows read through Qt's values cost several times what SQLite
// takes to produce them.
class SqliteRows : public Rows {
public:
    SqliteRows(Db::Connection& conn, const QString& sql, const QVariantList& values)
        : m_conn(conn)
        , m_db(*static_cast<sqlite3* const*>(conn.database().driver()->handle().constData()))
    {
        sqlite3_stmt* statement = nullptr;
        const int prepared = sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr);
        m_statement.reset(statement);
        if (prepared != SQLITE_OK)
            fail();
        for (int i = 0; i < int(values.size()); ++i) {
            const QVariant& v = values[i];
            int rc;
            if (v.isNull())
                rc = sqlite3_bind_null(m_statement.get(), i + 1);
            else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
                rc = sqlite3_bind_int64(m_statement.get(), i + 1, v.toLongLong());
            else
                rc = sqlite3_bind_text(m_statement.get(), i + 1, v.toString().toUtf8().constData(), -1, SQLITE_TRANSIENT);
            if (rc != SQLITE_OK)
                fail();
        }
    }
    bool next() override
    {
        const int rc = sqlite3_step(m_statement.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            fail();
        return rc == SQLITE_ROW;
    }
    bool isNull(int column) override { return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL; }
    qint64 number(int column) override { return sqlite3_column_int64(m_statement.get(), column); }
    QByteArrayView text(int column) override
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_statement.get(), column));
        return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(m_statement.get(), column) : 0);
    }

private:
    [[noreturn]] void fail()
    {
        throw m_conn.failure(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(m_db)), QSqlError::StatementError,
                                       QString::number(sqlite3_errcode(m_db))));
    }

    Db::Connection& m_conn;
    sqlite3* m_db;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> m_statement{nullptr, sqlite3_finalize};
};

// Runs one statement and hands every row to row(); false when the reading
// was asked to stop.
template <typename Row>
bool readRows(Db::Connection& conn, const QString& sql, const QVariantList& values, Counter& counter, qint64& rows,
              Row&& row)
{
    conn.connect();
    std::unique_ptr<Rows> r;
    if (qstrcmp(conn.database().driver()->handle().typeName(), "sqlite3*") == 0)
        r = std::make_unique<SqliteRows>(conn, sql, values);
    else
        r = std::make_unique<QueryRows>(conn, sql, values);
    while (r->next()) {
        row(*r);
        ++rows;
        if (!counter.step())
            return false;
    }
    return true;
}

QString utf8(QByteArrayView text) { return Db::rtrimmed(QString::fromUtf8(text)); }

// A date column as its Julian day (QDate's day number), computed by the
// database so that no date text is read per row.
QString julianDay(const Db::Connection& conn, const QString& column)
{
    return conn.backend() == Db::Backend::SQLite
        ? QStringLiteral("CAST(julianday(%1) + 0.5 AS INTEGER)").arg(column)
        : QStringLiteral("(%1 - DATE '1970-01-01' + 2440588)").arg(column);
}

// The highest row id of a table: a cheap estimate of its rows for the
// progress, read from the row id's index.
qint64 estimateRows(Db::Connection& conn, const char* table)
{
    conn.connect();
    return conn.scalar(QStringLiteral("SELECT MAX(_rid) FROM %1").arg(conn.quoteName(QLatin1String(table)))).toLongLong();
}

} // namespace

Reconciliation::Reconciliation(Db::Connection& customer, Db::Connection& practice, const PriceList& prices)
    : m_customer(customer)
    , m_practice(practice)
    , m_prices(prices)
{
}

bool Reconciliation::run(const QDate& today, const Progress& progress)
{
    m_today = today;
    m_lines.clear();
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    std::fill(std::begin(m_rows), std::end(m_rows), 0);

    const char* const tables[4] = {"Registration", "MWPAT", "MWCAS", "MWTRN"};
    qint64 estimates[4];
    for (int t = 0; t < 4; ++t)
        estimates[t] = estimateRows(t == 0 ? m_customer : m_practice, tables[t]);
    Counter counter(progress, estimates[0] + estimates[1] + estimates[2] + estimates[3]);
    if (!counter.report())
        return false;

    ChartKeys keys;
    QList<Account> accounts;
    QByteArray names;  // UTF-8, one after the other
    QList<AccountChart> charts;
    KeyIndex chartIndex(estimates[0]);  // account chart key -> index of charts
    QList<Renewal> renewals;
    KeyIndex renewalIndex;  // chart key, module and day -> first renewal

    // The accounts: number, name, chart, and the expiry of each subscribed
    // module that lies in the window, worked out by the database.
    {
        Db::Connection& c = m_customer;
        const Db::FieldDef& dateField = *c.catalog().table(QStringLiteral("Registration"))->field(QStringLiteral("ExpiresProf"));
        const QVariant from = c.dialect().bindValue(dateField, today.addDays(-kLookBackDays));
        const QVariant to = c.dialect().bindValue(dateField, today);
        auto q = [&](const char* name) { return c.quoteName(QLatin1String(name)); };
        const struct {
            const char* flag;
            const char* expires;
            QString also;
        } modules[3] = {
            {"HasHCFA", "ExpiresProf", QString()},
            // No run charges a reseller's monthly Institutional module.
            {"HasUB92", "ExpiresInst",
             QStringLiteral(" AND NOT (COALESCE(%1, false) AND COALESCE(%2, '') <> 'M')").arg(q("IsMonthly"), q("DealerCode"))},
            {"HasERA", "ExpiresERA", QString()},
        };
        QStringList columns{q("SerialNumber"), q("RegisterName"), q("ChartNumber")};
        QVariantList values;
        for (const auto& m : modules) {
            columns << QStringLiteral("CASE WHEN %1 AND %2 >= ? AND %2 <= ?%3 THEN %4 END")
                           .arg(q(m.flag), q(m.expires), m.also, julianDay(c, q(m.expires)));
            values << from << to;
        }
        const QString sql = QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QStringLiteral(", ")), q("Registration"));
        accounts.reserve(estimates[0]);
        charts.reserve(estimates[0]);
        names.reserve(estimates[0] * 24);
        const bool done = readRows(c, sql, values, counter, m_rows[0], [&](Rows& row) {
            QByteArrayView name = row.text(1);
            while (!name.isEmpty() && name.back() == ' ')
                name.chop(1);
            const quint64 chartKey = keys.key(row.text(2), true);
            const int index = int(accounts.size());
            Account a{row.isNull(0) ? LLONG_MIN : row.number(0), -1, int(names.size()), int(name.size()), -1};
            names += name;
            if (chartKey != 0) {
                a.chart = chartIndex.findOrInsert(chartKey, 0, int(charts.size()));
                if (a.chart == charts.size())
                    charts.append({chartKey, index, index, 0, false});
                else
                    accounts[charts[a.chart].lastAccount].nextOnChart = index;  // chained in the order read
                charts[a.chart].lastAccount = index;
                ++charts[a.chart].accounts;
            }
            accounts.append(a);
            for (int m = 0; m < 3; ++m) {
                if (row.isNull(3 + m))
                    continue;
                const int day = int(row.number(3 + m));
                const int r = int(renewals.size());
                renewals.append({index, m, day});
                if (chartKey == 0)
                    continue;
                const int first = renewalIndex.findOrInsert(chartKey, renewalKey(m, day), r);
                if (first != r)
                    renewals[r].nextSameKey = std::exchange(renewals[first].nextSameKey, r);
            }
        });
        if (!done)
            return false;
        counter.tableRead(estimates[0], m_rows[0]);
    }
    auto accountChart = [&](quint64 chartKey) {
        return chartKey == ChartKeys::kUnknown ? -1 : chartIndex.find(chartKey, 0);
    };

    Db::Connection& p = m_practice;
    auto q = [&](const char* name) { return p.quoteName(QLatin1String(name)); };

    // The patients: which account charts have one.
    if (!readRows(p, QStringLiteral("SELECT %1 FROM %2").arg(q("Chart Number"), q("MWPAT")), {}, counter, m_rows[1],
                  [&](Rows& row) {
                      const int chart = accountChart(keys.key(row.text(0), false));
                      if (chart >= 0)
                          charts[chart].hasPatient = true;
                  }))
        return false;
    counter.tableRead(estimates[1], m_rows[1]);

    // The "E1" cases, open or closed: the charges on them bill the
    // account's renewals; the open ones a run added must hold a charge.
    QList<Case> cases;
    KeyIndex caseIndex(estimates[2]);  // chart key and case number -> index of cases
    {
        const QString sql = QStringLiteral(
                                "SELECT %1, %2, CASE WHEN %3 = false AND %4 = 'Kestrelpoint' THEN 1 ELSE 0 END, %5 "
                                "FROM %6 WHERE %7 = 'E1'")
                                .arg(q("Chart Number"), q("Case Number"), q("Case Closed"), q("Description"),
                                     julianDay(p, q("Date Created")), q("MWCAS"), q("Billing Code"));
        if (!readRows(p, sql, {}, counter, m_rows[2], [&](Rows& row) {
                const quint64 chartKey = keys.key(row.text(0), true);
                const int at = int(cases.size());
                cases.append({chartKey, accountChart(chartKey),
                              row.isNull(1) ? QVariant() : QVariant(row.number(1)), int(row.number(3)), row.number(2) != 0});
                if (!row.isNull(1))
                    caseIndex.findOrInsert(chartKey, quint32(row.number(1)), at);
            }))
            return false;
        counter.tableRead(estimates[2], m_rows[2]);
    }

    // The charges: each marks its case as holding one and bills the
    // renewal of its module and date; one on a chart of no account is a
    // finding of its own.
    struct Orphan {
        QString chart;
        QVariant caseNumber;
        int day;
        QString code;
        QString description;
    };
    QList<Orphan> orphans;
    {
        const Db::FieldDef* codeField = p.catalog().table(QStringLiteral("MWTRN"))->field(QStringLiteral("Procedure Code"));
        const PriceBox codes[3][2] = {{PriceBox::AnnProf, PriceBox::MoProf},
                                      {PriceBox::AnnInst, PriceBox::MOInst},
                                      {PriceBox::AnnERA, PriceBox::MoERA}};
        // The day and the module are worked out only for charges dated in
        // the window, the only ones that can bill a renewal found: most
        // charges are older.
        const Db::FieldDef& dateField = *p.catalog().table(QStringLiteral("MWTRN"))->field(QStringLiteral("Date From"));
        const QVariant from = p.dialect().bindValue(dateField, today.addDays(-kLookBackDays));
        const QVariant to = p.dialect().bindValue(dateField, today);
        const QString inWindow = QStringLiteral("%1 >= ? AND %1 <= ?").arg(q("Date From"));
        QStringList whens;
        QVariantList values{from, to, from, to};
        for (int m = 0; m < 3; ++m) {
            whens << QStringLiteral("WHEN %1 IN (?, ?) OR %2 IN (?, ?) THEN %3")
                         .arg(q("Procedure Code"), q("Procedure Description"))
                         .arg(m + 1);
            for (const PriceBox box : codes[m]) {
                // The code as the column stores it; no code matches nothing.
                const QString code = Db::toFieldValue(*codeField, m_prices.text(box)).toString();
                values << (code.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(code));
            }
            for (const char* period : {"Annual", "Monthly"})
                values << QStringLiteral("Kestrelpoint %1 %2").arg(QLatin1String(kModuleNames[m]), QLatin1String(period));
        }
        const QString sql = QStringLiteral("SELECT %1, %2, CASE WHEN %3 THEN %4 END, CASE WHEN %3 THEN CASE %5 ELSE 0 END "
                                           "ELSE 0 END, %6, %7, %8 FROM %9")
                                .arg(q("Chart Number"), q("Case Number"), inWindow, julianDay(p, q("Date From")),
                                     whens.join(QLatin1Char(' ')), q("Procedure Code"), q("Description"), q("Date From"),
                                     q("MWTRN"));
        if (!readRows(p, sql, values, counter, m_rows[3], [&](Rows& row) {
                const QByteArrayView chart = row.text(0);
                const quint64 chartKey = keys.key(chart, false);
                const bool numbered = !row.isNull(1);
                const qint64 number = row.number(1);
                const int at = chartKey == ChartKeys::kUnknown || !numbered ? -1 : caseIndex.find(chartKey, quint32(number));
                const bool ofAccount = at >= 0 ? cases[at].accountChart >= 0 : accountChart(chartKey) >= 0;
                if (!ofAccount)
                    orphans.append({utf8(chart), numbered ? QVariant(number) : QVariant(),
                                    int(QDate::fromString(utf8(row.text(6)).left(10), Qt::ISODate).toJulianDay()),
                                    utf8(row.text(4)), QString::fromUtf8(row.text(5))});
                if (at < 0)
                    return;
                cases[at].holdsCharge = true;
                const int module = int(row.number(3)) - 1;
                if (!ofAccount || module < 0)
                    return;
                const int day = int(row.number(2));
                for (int r = renewalIndex.find(chartKey, renewalKey(module, day)); r >= 0; r = renewals[r].nextSameKey)
                    renewals[r].billed = true;
            }))
            return false;
        counter.tableRead(estimates[3], m_rows[3]);
    }
    counter.report();

    // The findings.
    auto line = [&](Finding f, int account, const QString& chart, const QString& problem) {
        ReconcileLine l{f, std::nullopt, QString(), chart, problem};
        if (account >= 0) {
            const Account& a = accounts[account];
            if (a.serial != LLONG_MIN)
                l.serial = a.serial;
            l.registerName = QString::fromUtf8(names.mid(a.nameAt, a.nameLength));
        }
        m_lines.append(l);
    };
    for (int i = 0; i < accounts.size(); ++i) {
        const Account& a = accounts[i];
        if (a.chart < 0)
            continue;
        const AccountChart& chart = charts[a.chart];
        if (!chart.hasPatient)
            line(Finding::NoPatient, i, keys.text(chart.key), QStringLiteral("no patient record for this chart"));
        if (chart.accounts > 1) {
            // The first few others in the order read; a chart of many accounts
            // says how many more.
            constexpr int kNamed = 5;
            QStringList others;
            for (int o = chart.firstAccount; o >= 0 && others.size() < kNamed; o = accounts[o].nextOnChart)
                if (o != i)
                    others << (accounts[o].serial == LLONG_MIN ? QStringLiteral("(none)") : QString::number(accounts[o].serial));
            const int more = chart.accounts - 1 - int(others.size());
            line(Finding::SharedChart, i, keys.text(chart.key),
                 QStringLiteral("chart shared with serial %1%2")
                     .arg(others.join(QStringLiteral(", ")),
                          more > 0 ? QStringLiteral(" and %1 more").arg(number(more)) : QString()));
        }
    }
    for (const Renewal& r : std::as_const(renewals)) {
        if (r.billed)
            continue;
        const Account& a = accounts[r.account];
        line(Finding::UnbilledRenewal, r.account, a.chart < 0 ? QString() : keys.text(charts[a.chart].key),
             QStringLiteral("%1 expired %2 and was never billed%3")
                 .arg(QLatin1String(kModuleNames[r.module]), dateText(r.day),
                      a.chart < 0 ? QStringLiteral(": the chart number is blank") : QString()));
    }
    for (const Case& c : std::as_const(cases)) {
        if (!c.addedByRun || c.holdsCharge)
            continue;
        // Named after the lowest serial number of its chart.
        int account = c.accountChart >= 0 ? charts[c.accountChart].firstAccount : -1;
        for (int o = account; o >= 0; o = accounts[o].nextOnChart)
            if (accounts[o].serial < accounts[account].serial)
                account = o;
        line(Finding::EmptyCase, account, keys.text(c.chartKey),
             QStringLiteral("open case %1 added %2 holds no charge%3")
                 .arg(c.number.isNull() ? QStringLiteral("(no number)") : c.number.toString(), dateText(c.createdDay),
                      account < 0 ? QStringLiteral("; no account has this chart") : QString()));
    }
    static const QRegularExpression serialNamed(QStringLiteral("\\bSN:\\s*(\\d{1,10})\\b"));
    for (const Orphan& o : std::as_const(orphans)) {
        ReconcileLine l{Finding::ChargeWithoutAccount, std::nullopt, QString(), o.chart,
                        QStringLiteral("charge %1 dated %2 on case %3: no account has this chart")
                            .arg(o.code.isEmpty() ? QStringLiteral("(no code)") : o.code, dateText(o.day),
                                 o.caseNumber.isNull() ? QStringLiteral("(none)") : o.caseNumber.toString())};
        // A charge a run posted names the account it was for.
        const QRegularExpressionMatch m = serialNamed.match(o.description);
        if (m.hasMatch())
            l.serial = m.captured(1).toLongLong();
        m_lines.append(l);
    }

    std::stable_sort(m_lines.begin(), m_lines.end(), [](const ReconcileLine& a, const ReconcileLine& b) {
        if (a.finding != b.finding)
            return a.finding < b.finding;
        if (a.serial.has_value() != b.serial.has_value())
            return a.serial.has_value();
        if (a.serial != b.serial)
            return *a.serial < *b.serial;
        return a.chart < b.chart;
    });
    for (const ReconcileLine& l : std::as_const(m_lines))
        ++m_counts[int(l.finding)];
    return true;
}

QString Reconciliation::sectionTitle(Finding f)
{
    switch (f) {
    case Finding::NoPatient: return QStringLiteral("Accounts whose chart has no patient in the practice database");
    case Finding::SharedChart: return QStringLiteral("Accounts that share a chart number with another account");
    case Finding::UnbilledRenewal:
        return QStringLiteral("Accounts with a module that expired in the last %1 days and no charge for it").arg(kLookBackDays);
    case Finding::EmptyCase: return QStringLiteral("Open E1 cases added by a billing run that hold no charge");
    case Finding::ChargeWithoutAccount: return QStringLiteral("Charges whose chart belongs to no account");
    }
    return QString();
}

QString Reconciliation::sectionName(Finding f)
{
    switch (f) {
    case Finding::NoPatient: return QStringLiteral("No patient");
    case Finding::SharedChart: return QStringLiteral("Shared chart");
    case Finding::UnbilledRenewal: return QStringLiteral("Renewal not billed");
    case Finding::EmptyCase: return QStringLiteral("Case without charge");
    case Finding::ChargeWithoutAccount: return QStringLiteral("Charge without account");
    }
    return QString();
}

QString Reconciliation::summary() const
{
    const qsizetype n = m_lines.size();
    return QStringLiteral("%1 accounts, %2 patients, %3 E1 cases and %4 charges read on %5: %6.")
        .arg(number(m_rows[0]), number(m_rows[1]), number(m_rows[2]), number(m_rows[3]), slashDate(m_today),
             n == 0 ? QStringLiteral("nothing found") : n == 1 ? QStringLiteral("1 finding")
                                                              : QStringLiteral("%1 findings").arg(number(n)));
}

QStringList Reconciliation::textLines() const
{
    qsizetype serialWidth = 6, nameWidth = 13, chartWidth = 5;
    for (const ReconcileLine& l : m_lines) {
        serialWidth = qMax(serialWidth, l.serial ? QString::number(*l.serial).size() : 0);
        nameWidth = qMax(nameWidth, l.registerName.size());
        chartWidth = qMax(chartWidth, l.chart.size());
    }
    auto row = [&](const QString& serial, const QString& name, const QString& chart, const QString& problem) {
        QString text = QStringLiteral("  ") + serial.leftJustified(serialWidth) + QStringLiteral("  ")
            + name.leftJustified(nameWidth) + QStringLiteral("  ") + chart.leftJustified(chartWidth)
            + QStringLiteral("  ") + problem;
        return Db::rtrimmed(text);
    };
    QStringList out{QStringLiteral("Reconciliation of the customer and practice databases"), summary()};
    qsizetype at = 0;
    for (int s = 0; s < kFindingKinds; ++s) {
        const Finding f = Finding(s);
        out << QString() << QStringLiteral("%1: %2").arg(sectionTitle(f), number(count(f)));
        if (count(f) > 0)
            out << row(QStringLiteral("Serial"), QStringLiteral("Register Name"), QStringLiteral("Chart"),
                       QStringLiteral("What is wrong"));
        for (; at < m_lines.size() && m_lines[at].finding == f; ++at) {
            const ReconcileLine& l = m_lines[at];
            out << row(l.serial ? QString::number(*l.serial) : QString(), l.registerName, l.chart, l.problem);
        }
    }
    return out;
}

QStringList Reconciliation::csvLines() const
{
    QStringList out{QStringLiteral("Section,Serial Number,Register Name,ChartNumber,Problem")};
    out.reserve(m_lines.size() + 1);
    for (const ReconcileLine& l : m_lines)
        out << QStringList{csvField(sectionName(l.finding)), l.serial ? QString::number(*l.serial) : QString(),
                           csvField(l.registerName), csvField(l.chart), csvField(l.problem)}
                   .join(QLatin1Char(','));
    return out;
}

} // namespace Billing
