#pragma once
// What the customer database and the practice database disagree on, found
// by reading each of the tables involved once, front to back, in one
// statement (Registration, then MWPAT, MWCAS and MWTRN) and matching them in
// memory: no statement per account.
//
// Five kinds of finding, each a section of the report:
// - an account whose chart number has no patient in MWPAT (a run would post
//   a case and charges for a patient that does not exist);
// - accounts that share a chart number (both are billed to one patient);
// - a subscribed module that expired in the last 60 days (today included,
//   when no run can bill it any more) with no charge for that module dated
//   on that expiry in an "E1" case of the account's chart: a renewal never
//   billed. A charge is the module's when its procedure code is one of the
//   module's codes on the price list, or its procedure description is the
//   one a run writes for the module. A reseller's monthly Institutional
//   module, which no run charges, is left out;
// - an open "E1" case added by a billing run (a run writes the description
//   "Kestrelpoint" on every case it adds) that holds no transaction;
// - a transaction whose chart number belongs to no account.
// Blank chart numbers are no chart: they are never missing a patient nor
// shared (a run passes such accounts over and says so in its log).
#include "billing/RenewalPosting.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Db {
class Connection;
}

namespace Billing {

enum class Finding { NoPatient, SharedChart, UnbilledRenewal, EmptyCase, ChargeWithoutAccount };
constexpr int kFindingKinds = 5;

struct ReconcileLine {
    Finding finding = Finding::NoPatient;
    std::optional<qint64> serial;  // none: no account (the serial a charge names, when it names one)
    QString registerName;
    QString chart;
    QString problem;
};

class Reconciliation {
public:
    // Rows read so far and the rows expected in all (an estimate until the
    // last table is read); false stops the reading.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    Reconciliation(Db::Connection& customer, Db::Connection& practice, const PriceList& prices);

    // Reads both databases and finds the disagreements as of today. Returns
    // false when progress asked to stop (nothing found is kept). Throws an
    // EngineError when a statement fails.
    bool run(const QDate& today, const Progress& progress = {});

    QDate today() const { return m_today; }
    // Every finding: by section, in each by serial number, then chart.
    const QList<ReconcileLine>& lines() const { return m_lines; }
    int count(Finding f) const { return m_counts[int(f)]; }
    qint64 rowsRead(int table) const { return m_rows[table]; }  // 0 accounts, 1 patients, 2 E1 cases, 3 charges

    static QString sectionTitle(Finding f);
    // The short name of a section in the CSV file.
    static QString sectionName(Finding f);
    // One line saying what was read and found.
    QString summary() const;
    // The report as text: a title, then each section with its count and
    // lines in columns (serial, register name, chart, what is wrong).
    QStringList textLines() const;
    // The CSV file's lines: a header, then one line per finding, every
    // field quoted as in the renewals file.
    QStringList csvLines() const;

private:
    Db::Connection& m_customer;
    Db::Connection& m_practice;
    const PriceList& m_prices;
    QDate m_today;
    QList<ReconcileLine> m_lines;
    int m_counts[kFindingKinds] = {};
    qint64 m_rows[4] = {};
};

} // namespace Billing
