#include "billing/RenewalsForecast.h"

#include "customerdb/Engine.h"

#include <QSqlError>
#include <QSqlQuery>

namespace Billing {

namespace {

const char* const kFlags[3] = {"HasHCFA", "HasUB92", "HasERA"};
const char* const kExpires[3] = {"ExpiresProf", "ExpiresInst", "ExpiresERA"};

// The week (0 to 12) of an expiry date known to lie in the 13 weeks, found
// by halving: four comparisons a row rather than up to thirteen. Week w
// holds the dates after today + 7w and before today + 7w + 8.
QString weekOf(const QString& column, int low, int high)
{
    if (low == high)
        return QString::number(low);
    const int mid = (low + high) / 2;
    return QStringLiteral("CASE WHEN %1 < CurDate() + %2 THEN %3 ELSE %4 END")
        .arg(column)
        .arg(7 * mid + 8)
        .arg(weekOf(column, low, mid), weekOf(column, mid + 1, high));
}

QString dueWithin(int m)
{
    return QStringLiteral("(%1 AND %2 > CurDate() AND %2 < CurDate() + %3)")
        .arg(QLatin1String(kFlags[m]), QLatin1String(kExpires[m]))
        .arg(7 * RenewalsForecast::kWeeks + 1);
}

} // namespace

QString RenewalsForecast::sql(ForecastScope scope)
{
    // One pass over the accounts: each row yields the week of each of its
    // modules falling due (null for one that does not), grouped with the
    // billing period and Professional, which decide the price, and whether
    // the chart is blank (a run passes such an account over).
    QStringList weeks, due;
    for (int m = 0; m < 3; ++m) {
        weeks << QStringLiteral("CASE WHEN %1 THEN %2 END").arg(dueWithin(m), weekOf(QLatin1String(kExpires[m]), 0, kWeeks - 1));
        due << dueWithin(m);
    }
    const QString dealer = scope == ForecastScope::Direct ? QStringLiteral("DealerCode = 'M'")
                                                          : QStringLiteral("DealerCode <> 'M' AND DealerCode <> ''");
    return QStringLiteral("SELECT %1, CASE WHEN IsMonthly THEN 1 ELSE 0 END, CASE WHEN HasHCFA THEN 1 ELSE 0 END, "
                          "CASE WHEN RTRIM(ChartNumber) <> '' THEN 0 ELSE 1 END, COUNT(*) "
                          "FROM Registration WHERE (%2) AND %3 GROUP BY 1, 2, 3, 4, 5, 6")
        .arg(weeks.join(QStringLiteral(", ")), due.join(QStringLiteral(" OR ")), dealer);
}

void RenewalsForecast::load(ForecastScope scope, const PriceList& prices)
{
    const Mode mode = scope == ForecastScope::Direct ? Mode::Direct : Mode::Dealer;
    // A price is read and checked when a renewal needs it, as a run does:
    // a box no account needs may hold anything.
    qint64 cents[3][2][2] = {};  // module, monthly, has Professional
    bool read[3][2][2] = {};
    auto priceOf = [&](int m, int monthly, int prof) {
        if (!read[m][monthly][prof]) {
            PriceBox code, price;
            if (chargeBoxes(Module(m), monthly, prof, mode, code, price))
                cents[m][monthly][prof] = parseAmount(prices.text(price));
            read[m][monthly][prof] = true;
        }
        return cents[m][monthly][prof];
    };

    m_conn.connect();
    const QVariant today = m_conn.scalar(m_conn.translateSql(QStringLiteral("SELECT CurDate()")));
    m_today = today.typeId() == QMetaType::QDate ? today.toDate() : QDate::fromString(today.toString().left(10), Qt::ISODate);
    QList<ForecastWeek> weeks;
    for (int w = 0; w < kWeeks; ++w) {
        ForecastWeek week;
        week.first = m_today.addDays(7 * w + 1);
        week.last = m_today.addDays(7 * w + 7);
        weeks << week;
    }
    int blankChart = 0;

    QSqlQuery q(m_conn.database());
    q.setForwardOnly(true);
    if (!q.exec(m_conn.translateSql(sql(scope))))
        throw m_conn.failure(q.lastError());
    while (q.next()) {
        const int monthly = q.value(3).toInt() != 0;
        const int prof = q.value(4).toInt() != 0;
        const bool blank = q.value(5).toInt() != 0;
        const int n = q.value(6).toInt();
        for (int m = 0; m < 3; ++m) {
            if (q.value(m).isNull())
                continue;
            const int w = q.value(m).toInt();
            if (w < 0 || w >= kWeeks)
                continue;
            if (blank) {
                blankChart += n;
                continue;
            }
            weeks[w].renewals[m] += n;
            weeks[w].cents += n * priceOf(m, monthly, prof);
        }
    }
    m_weeks = weeks;
    m_blankChart = blankChart;
}

int RenewalsForecast::totalRenewals() const
{
    int n = 0;
    for (const ForecastWeek& w : m_weeks)
        n += w.total();
    return n;
}

qint64 RenewalsForecast::totalCents() const
{
    qint64 n = 0;
    for (const ForecastWeek& w : m_weeks)
        n += w.cents;
    return n;
}

} // namespace Billing
