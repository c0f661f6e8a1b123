#pragma once
// Posting one account's renewal charges into the practice database. For the
// account on the current row of the billing query it makes sure the patient
// has an open "E1" case (adding one from the practice's field defaults when
// it has none) and posts one charge per subscribed module expiring in the
// next 75 days, at the code and price the price list holds for it. A charge
// already on the case for the same code within 75 days of the expiry is not
// posted again, so a run can be repeated safely.
//
// A run reads the cases and posted charges of a block of accounts with one
// statement and writes the block's accounts together, in one statement on a
// server (one transaction on SQLite). Each account is written whole or not
// at all: when a block fails, it is written again one account at a time up
// to the failing one, so that an error leaves that account and the ones
// after it exactly as they were and every account before it posted.
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
    // table order, and checks the transaction table's columns. Called once
    // per run and per preview (which so checks the transaction table as the
    // run does), after the practice connection is opened.
    void readCaseDefaults();
    // A preview remembers the cases and charges it has planned, since none
    // of them reaches the practice database: a later account with the same
    // chart is worked out as the run would find it.
    void setPreview(bool preview) { m_preview = preview; }

    // Works out the account on the current row of qryFutureRegs2 without
    // writing anything. Both the run and the preview decide through here.
    // The chart's case and the charges on it come from one read for the
    // block of accounts from this row on; in a run the accounts planned
    // before that read are written first.
    AccountPlan planAccount();

    // Posts the renewals of the account on the current row of
    // qryFutureRegs2: its plan joins the block being written (post).
    void PostAccountRenewals();
    // Queues a plan made for the current row. The queued accounts are
    // written when the next block is read, or by finish().
    void post(const AccountPlan& plan);
    // Queues one charge on the current account's case unless the case holds
    // one of the same code dated within 75 days of expiry either side.
    void AddCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents);
    // Writes the queued accounts; throws the error of the first account
    // that could not be written, after writing every account before it.
    void finish();
    // The accounts whose posting is done: written, or with nothing to write.
    qint64 accountsDone() const { return m_accountsDone; }

    // The due charges of the current account, in module order; throws when
    // a price text is not a number.
    QList<Charge> dueCharges();

    // The log lines so far (of the accounts done).
    const QStringList& log() const { return m_log; }
    int casesAdded() const { return m_casesAdded; }
    int chargesPosted() const { return m_chargesPosted; }
    qint64 centsPosted() const { return m_centsPosted; }  // the posted charges' total

private:
    struct Default {
        QString table, field, value;
    };
    // A chart's open "E1" case as the block's read found it: its number,
    // provider and facility, and the procedure code and "Date From" of the
    // charges on it.
    struct CaseOnFile {
        bool found = false;
        QVariant number, provider, facility;
        QList<QPair<QString, QDate>> charges;
    };
    // An account planned and waiting to be written.
    struct Queued {
        QString chartKey;              // the chart as a new case stores it
        bool addCase = false;
        QStringList caseColumns;       // quoted names of the new case's values
        QVariantList caseValues;
        QVariant caseNumber;           // null: the case added for the chart with this block
        QList<QVariantList> charges;   // rows of MWTRN, in kTrnColumns order
        QStringList log;
        int chargeCount = 0;
        qint64 cents = 0;
    };
    void readBlock(const Db::Record& current);
    static bool isDuplicate(const QList<QPair<QString, QDate>>& existing, const QString& code, const QDate& expiry);
    void writeCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents);
    void makeCaseRow();
    void write(int from, int to);
    void writeTogether(int from, int to);
    void writeInTransaction(int from, int to);
    QVariant newCaseNumber(const QString& chartKey) const;
    void done(int from, int to);
    Db::EngineError sqlError(const QSqlQuery& q) const;
    QVariant stored(const Db::FieldDef& f, const QVariant& value) const;
    const Db::FieldDef& caseField(const char* name) const;

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
    QList<const Db::FieldDef*> m_trnFields;  // MWTRN columns in posting order
    const Db::FieldDef* m_codeField = nullptr;  // MWTRN "Procedure Code"
    // The block read last: the query rows it covers, and per chart (as the
    // case table's order compares it) the case on file; in a preview also
    // the charts that have a patient.
    qint64 m_blockFirst = 0;
    qint64 m_blockEnd = 0;
    QHash<QString, CaseOnFile> m_onFile;
    QHash<QString, bool> m_hasPatient;
    // The new case's columns and values, made by makeCaseRow.
    QStringList m_caseColumns;
    QVariantList m_caseValues;
    // The current case: its number (null: added with this block), provider
    // and facility.
    QVariant m_caseNumber, m_caseProvider, m_caseFacility;
    // Per chart, whether a case was planned since the block was read and the
    // charges planned (a preview: since it began, as nothing is written).
    bool m_preview = false;
    struct Planned {
        bool caseAdded = false;
        QVariant caseProvider, caseFacility;
        QList<QPair<QString, QDate>> charges;
    };
    QHash<QString, Planned> m_planned;
    // The accounts planned and not written yet, and the numbers of the
    // cases added while they are written, by chart.
    QList<Queued> m_queue;
    QHash<QString, QVariant> m_newCases;
    qint64 m_accountsDone = 0;
    // SQLite: the statements writing a case (by its columns) and charges
    // (for 1, 2, 3 rows).
    QHash<QString, std::shared_ptr<QSqlQuery>> m_insertCase;
    QList<std::shared_ptr<QSqlQuery>> m_insertCharges;
    std::unique_ptr<QSqlQuery> m_caseNumberOf;
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
