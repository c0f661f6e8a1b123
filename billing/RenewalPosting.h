#pragma once
// Posting one account's renewal charges into the practice database. For the
// account on the current row of the billing query it makes sure the patient
// has an open "E1" case (adding one from the practice's field defaults when
// it has none) and posts one charge per subscribed module expiring in the
// next 75 days, at the code and price the price list holds for it. A charge
// already on the case for the same code within 75 days of the expiry is not
// posted again, so a run can be repeated safely.
//
// Each account is written in one transaction of the practice database: an
// error leaves that account exactly as it was and the accounts before it
// posted.
#include "customerdb/Engine.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QSqlQuery;

class TDataModule;

namespace Billing {

// Direct: the vendor's own accounts; dealer: one reseller's accounts.
enum class Mode { Direct, Dealer };

// The price list boxes that posting reads, by their role.
enum class PriceBox {
    AnnProf, AnnProfChg, AnnInst, AnnInstChg, AnnInstChg2, AnnERA, AnnERAChg,
    MoProf, MoProfChg, MoERA, MoERAChg, MOInst, MOInstChg,
};

constexpr int kPriceBoxes = int(PriceBox::MOInstChg) + 1;

// Where the codes and prices come from; read each time an account's charges
// are worked out, so a change applies to the next account.
class PriceList {
public:
    virtual ~PriceList() = default;
    virtual QString text(PriceBox box) const = 0;
};

// The text each box starts with ("EDIAPROF", "599.00", ...), and a price list
// of those texts for work done outside the Billing tab.
QString defaultPriceText(PriceBox box);
const PriceList& defaultPrices();

// A price text in the locale's number format (no group separators) in whole
// cents; anything else throws an EngineError naming the text.
qint64 parseAmount(const QString& text, const QLocale& locale = QLocale());
// Cents as "599.00".
QString formatAmount(qint64 cents);
// Two-digit month and day and four-digit year, joined by the locale's date
// separator ("08/15/2024" on US settings).
QString slashDate(const QDate& date, const QLocale& locale = QLocale());
// The same with a separator looked up beforehand.
QChar dateSeparator(const QLocale& locale = QLocale());
QString slashDate(const QDate& date, QChar separator);

// The three modules, in the order an account's charges are worked out.
enum class Module { Professional, Institutional, ERA };

// The code and price boxes of a due module's charge; false where the mode
// charges nothing for it (a reseller's monthly Institutional module).
bool chargeBoxes(Module module, bool monthly, bool hasProfessional, Mode mode, PriceBox& code, PriceBox& price);

// One charge worked out for a due module.
struct Charge {
    QString code;
    QString description;
    QDate expiry;
    qint64 cents = 0;
    bool duplicate = false;  // the case holds it already: not posted
};

// What posting does for the account on the current row, worked out before
// anything is written: the run carries it out, a preview shows it.
struct AccountPlan {
    int serial = 0;
    QString registerName;
    QString chart;
    bool blankChart = false;  // passed over
    bool noPatient = false;   // preview: the chart has no patient in MWPAT (posted all the same)
    bool addCase = false;
    QList<Charge> charges;    // every due module's charge, in module order
    bool writes() const
    {
        if (addCase)
            return true;
        for (const Charge& c : charges)
            if (!c.duplicate)
                return true;
        return false;
    }
};

class RenewalPosting {
public:
    RenewalPosting(TDataModule& data, const PriceList& prices);
    ~RenewalPosting();

    // The run's mode; in dealer mode the reseller's chart (guarantor of new
    // cases) and provider (their assigned provider).
    void setMode(Mode mode, const QString& dealerChart = QString(), const QString& dealerProvider = QString());
    // Reads the practice's field defaults for new cases from tblMWDEF, in
    // table order, and prepares the statements the posting reads and writes
    // with. Called once per run and per preview (which so checks the
    // transaction table as the run does), after the practice connection is
    // opened.
    void readCaseDefaults();
    // A preview remembers the cases and charges it has planned, since none
    // of them reaches the practice database: a later account with the same
    // chart is worked out as the run would find it.
    void setPreview(bool preview) { m_preview = preview; }

    // Works out the account on the current row of qryFutureRegs2 without
    // writing anything. Both the run and the preview decide through here.
    AccountPlan planAccount();

    // Posts the renewals of the account on the current row of qryFutureRegs2;
    // tblMWCAS follows that row.
    void PostAccountRenewals();
    // Carries out a plan made for the current row.
    void post(const AccountPlan& plan);
    // Posts one charge on the current case unless the case holds one of the
    // same code dated within 75 days of expiry either side. Part of the
    // transaction PostAccountRenewals opens, which writes the account's
    // charges together before it commits.
    void AddCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents);

    // The due charges of the current account, in module order; throws when
    // a price text is not a number.
    QList<Charge> dueCharges();

    // The log lines so far.
    const QStringList& log() const { return m_log; }
    int casesAdded() const { return m_casesAdded; }
    int chargesPosted() const { return m_chargesPosted; }
    qint64 centsPosted() const { return m_centsPosted; }  // the posted charges' total

private:
    struct Default {
        QString table, field, value;
    };
    void prepareReading();
    void readExisting();
    static bool isDuplicate(const QList<QPair<QString, QDate>>& existing, const QString& code, const QDate& expiry);
    void writeCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents);
    void prepareWriting();
    void makeCaseRow();
    void addCase();
    void writePending();
    Db::EngineError sqlError(const QSqlQuery& q) const;
    QVariant stored(const Db::FieldDef& f, const QVariant& value) const;

    TDataModule& m_data;
    const PriceList& m_prices;
    Mode m_mode = Mode::Direct;
    QString m_dealerChart;
    QString m_dealerProvider;
    QList<Default> m_defaults;
    // Procedure code and "Date From" of the current case's transactions.
    QList<QPair<QString, QDate>> m_existing;
    QString m_chart;
    int m_serial = 0;
    QDate m_today;
    QDateTime m_now;
    // Charges are read and written through two statements prepared once
    // per run: reading every transaction row into a cursor's record and
    // re-reading each posted row would cost more than the posting itself.
    QList<const Db::FieldDef*> m_trnFields;  // MWTRN columns in posting order
    const Db::FieldDef* m_codeField = nullptr;  // MWTRN "Procedure Code"
    std::unique_ptr<QSqlQuery> m_selectCharges;
    std::unique_ptr<QSqlQuery> m_patientOf;  // preview: is there a patient for a chart
    QList<std::shared_ptr<QSqlQuery>> m_insertCharges;  // for 1, 2, 3 rows
    QList<QVariantList> m_pending;                      // charges not written yet
    std::unique_ptr<QSqlQuery> m_insertCase;   // for the column list in m_caseColumns
    QVariantList m_caseValues;                 // the new case's values, made by makeCaseRow
    std::unique_ptr<QSqlQuery> m_caseNumberOf;
    QString m_caseColumns;
    // The current case: its number, provider and facility.
    QVariant m_caseNumber, m_caseProvider, m_caseFacility;
    // Preview: per chart, whether a case was planned and the charges planned.
    bool m_preview = false;
    struct Planned {
        bool caseAdded = false;
        QList<QPair<QString, QDate>> charges;
    };
    QHash<QString, Planned> m_planned;
    QStringList m_log;
    int m_casesAdded = 0;
    int m_chargesPosted = 0;
    qint64 m_centsPosted = 0;
};

// Adds a billing run's entry to the customer database's record of changes:
// who ran which run (direct, or the reseller's), when, how many accounts it
// went through, the cases and charges it posted and their total; ending
// says how a run that did not finish ended. Throws EngineError.
void recordRun(Db::Connection& customer, Mode mode, const QString& dealerCode, qint64 accounts,
               const RenewalPosting& posting, const QString& ending = QString());

} // namespace Billing
