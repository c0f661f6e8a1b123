#pragma once
// What a billing run would do, account by account, gathered while a preview
// walks the run's accounts, and the text the output window shows of it: per
// account its serial number, register name and chart and each step, then
// the totals per procedure code and of the whole run, in exact cents.
#include "billing/RenewalPosting.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Billing {

class RunPreview {
public:
    // title: what is previewed ("Add Charges for M").
    explicit RunPreview(const QString& title = QString()) : m_title(title) {}

    void add(const AccountPlan& plan);

    const QList<AccountPlan>& accounts() const { return m_accounts; }
    int casesToAdd() const { return m_cases; }
    int withoutPatient() const { return m_noPatient; }
    int chargesToPost() const { return m_charges; }
    qint64 totalCents() const { return m_cents; }

    // The output window's text; a cancelled preview says after how many
    // accounts it stopped.
    QStringList lines(qint64 cancelledAfter = -1, qint64 total = -1) const;

private:
    QString m_title;
    QList<AccountPlan> m_accounts;
    int m_cases = 0;
    int m_noPatient = 0;
    int m_charges = 0;
    qint64 m_cents = 0;
};

} // namespace Billing
