#include "billing/RunPreview.h"

#include <QMap>

namespace Billing {

void RunPreview::add(const AccountPlan& plan)
{
    m_accounts.append(plan);
    if (plan.noPatient)
        ++m_noPatient;
    if (plan.addCase)
        ++m_cases;
    for (const Charge& c : plan.charges) {
        if (c.duplicate)
            continue;
        ++m_charges;
        m_cents += c.cents;
    }
}

QStringList RunPreview::lines(qint64 cancelledAfter, qint64 total) const
{
    const QChar sep = dateSeparator();
    QStringList out;
    out << QStringLiteral("Preview of %1: nothing has been posted.").arg(m_title);
    out << QString();
    struct CodeTotal {
        int count = 0;
        qint64 cents = 0;
    };
    QMap<QString, CodeTotal> byCode;
    for (const AccountPlan& a : m_accounts) {
        out << QStringLiteral("Serial %1  %2  Chart %3")
                   .arg(a.serial)
                   .arg(a.registerName, a.chart.isEmpty() ? QStringLiteral("(blank)") : a.chart);
        if (a.blankChart) {
            out << QStringLiteral("    Pass over: the chart number is blank");
            continue;
        }
        if (a.noPatient)
            out << QStringLiteral("    Flag: no patient record for this chart");
        if (a.addCase)
            out << QStringLiteral("    Add a case");
        for (const Charge& c : a.charges) {
            out << QStringLiteral("    %1 %2  %3  expires %4  %5")
                       .arg(c.duplicate ? QStringLiteral("Skip") : QStringLiteral("Post"), c.code, c.description,
                            slashDate(c.expiry, sep), formatAmount(c.cents))
                       + (c.duplicate ? QStringLiteral("  (posted already)") : QString());
            if (!c.duplicate) {
                CodeTotal& t = byCode[c.code];
                ++t.count;
                t.cents += c.cents;
            }
        }
        if (!a.writes())
            out << QStringLiteral("    Nothing to post");
    }
    if (cancelledAfter >= 0)
        out << QString() << QStringLiteral("The preview was cancelled after %1 of %2 accounts.").arg(cancelledAfter).arg(total);
    out << QString() << QStringLiteral("Totals by procedure code");
    for (auto it = byCode.cbegin(); it != byCode.cend(); ++it)
        out << QStringLiteral("    %1  %2 %3  %4")
                   .arg(it.key())
                   .arg(it->count)
                   .arg(it->count == 1 ? QStringLiteral("charge") : QStringLiteral("charges"), formatAmount(it->cents));
    out << QStringLiteral("Accounts: %1").arg(m_accounts.size());
    if (m_noPatient > 0)
        out << QStringLiteral("Accounts without a patient record: %1").arg(m_noPatient);
    out << QStringLiteral("Cases to add: %1").arg(m_cases);
    out << QStringLiteral("Charges to post: %1").arg(m_charges);
    out << QStringLiteral("Total amount: %1").arg(formatAmount(m_cents));
    return out;
}

} // namespace Billing
