#pragma once
// The renewals falling due in each of the next 13 weeks, by module, for the
// vendor's own accounts or for all resellers' accounts, with the amount a
// billing run would charge for them at the Billing tab's prices. Week 1
// runs from tomorrow to a week from today, by the database's date. The
// counts come from one aggregate statement; no account is read.
#include "billing/RenewalPosting.h"

#include <QDate>
#include <QList>
#include <QString>

namespace Db {
class Connection;
}

namespace Billing {

// Direct: reseller code "M"; resellers: every other reseller code.
enum class ForecastScope { Direct, Resellers };

struct ForecastWeek {
    QDate first;  // the week's first and last day
    QDate last;
    int renewals[3] = {0, 0, 0};  // Professional, Institutional, ERA
    qint64 cents = 0;
    int total() const { return renewals[0] + renewals[1] + renewals[2]; }
};

class RenewalsForecast {
public:
    static constexpr int kWeeks = 13;

    explicit RenewalsForecast(Db::Connection& customer) : m_conn(customer) {}

    // Counts and prices the renewals of accounts a run would bill; throws
    // when a price a renewal needs is not a number or the statement fails.
    void load(ForecastScope scope, const PriceList& prices);

    // The statement, in the stored-query dialect (CurDate()).
    static QString sql(ForecastScope scope);

    QDate today() const { return m_today; }
    const QList<ForecastWeek>& weeks() const { return m_weeks; }
    int totalRenewals() const;
    qint64 totalCents() const;
    // Renewals in the 13 weeks of accounts with a blank chart, which no
    // run bills: not in the weeks.
    int blankChartRenewals() const { return m_blankChart; }

private:
    Db::Connection& m_conn;
    QDate m_today;
    QList<ForecastWeek> m_weeks;
    int m_blankChart = 0;
};

} // namespace Billing
