#include "billing/RenewalPosting.h"

#include "customerdb/DataModule.h"
#include "customerdb/FieldValues.h"
#include "customerdb/SqlDialect.h"
#include "helpers/Platform.h"

#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <iterator>

namespace Billing {

namespace {

constexpr int kWindowDays = 75;

// The transaction columns in the order a charge sets them.
const char* const kTrnColumns[] = {
    "Chart Number", "Case Number", "Claim Number", "Date From", "Date To", "Document Number", "Description",
    "Attending Provider", "Procedure Code", "Transaction Type", "Visit Number", "Visit Total in Series", "Units",
    "Minutes", "Amount", "Diagnosis 1", "Diagnosis 2", "Diagnosis 3", "Diagnosis 4", "Claim Item Rejected",
    "Accept Assignment 1", "Accept Assignment 2", "Accept Assignment 3", "Billed to Insured 1",
    "Billed to Insured 2", "Billed to Insured 3", "Guarantor Responsible", "Insurance 1 Responsible",
    "Insurance 2 Responsible", "Insurance 3 Responsible", "Attorney Responsible", "Attorney Paid",
    "Insurance 1 Paid", "Insurance 2 Paid", "Insurance 3 Paid", "Guarantor Paid", "Date Created",
    "Insurance 1 Amount Paid", "Insurance 2 Amount Paid", "Insurance 3 Amount Paid", "Guarantor Amount Paid",
    "Attorney Amount Paid", "Adjustment Amount", "Allowed Amount", "CC Entry Number", "Deposit ID", "Check Number",
    "Unapplied Amount", "Price Indicator", "Who Paid", "Documentation Type", "Date Modified", "Facility",
    "Procedure Description", "Statement Number", "Quantity",
};
constexpr int kTrnCount = int(std::size(kTrnColumns));
constexpr int kCaseNumberColumn = 1;  // "Case Number" in kTrnColumns
constexpr int kMaxBatch = 3;          // SQLite: charges written by one statement
// Accounts read and written together. A server takes a block in one round
// trip each way; every charge binds 56 values, and a statement at most 65535.
constexpr int kBlockAccounts = 100;

QString field(Db::DataSet& ds, const char* name) { return ds.fieldByName(QLatin1String(name)).asString(); }

} // namespace

QString defaultPriceText(PriceBox box)
{
    switch (box) {
    case PriceBox::AnnProf: return QStringLiteral("EDIAPROF");
    case PriceBox::AnnProfChg: return QStringLiteral("599.00");
    case PriceBox::AnnInst: return QStringLiteral("EDIAINST");
    case PriceBox::AnnInstChg: return QStringLiteral("599.00");
    case PriceBox::AnnInstChg2: return QStringLiteral("299.00");
    case PriceBox::AnnERA: return QStringLiteral("EDIAERA");
    case PriceBox::AnnERAChg: return QStringLiteral("299.00");
    case PriceBox::MoProf: return QStringLiteral("EDIMOPROF");
    case PriceBox::MoProfChg: return QStringLiteral("65.00");
    case PriceBox::MoERA: return QStringLiteral("EDIMOERA");
    case PriceBox::MoERAChg: return QStringLiteral("65.00");
    case PriceBox::MOInst: return QStringLiteral("EDIMOINST");
    case PriceBox::MOInstChg: return QStringLiteral("65.00");
    }
    return QString();
}

const PriceList& defaultPrices()
{
    static const class : public PriceList {
    public:
        QString text(PriceBox box) const override { return defaultPriceText(box); }
    } prices;
    return prices;
}

qint64 parseAmount(const QString& text, const QLocale& locale)
{
    QLocale strict = locale;
    strict.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(text.trimmed(), &ok);
    // Whole cents of amounts far beyond any price stay exact in a double.
    if (!ok || !std::isfinite(value) || std::fabs(value) >= 1e12)
        throw Db::EngineError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return qRound64(value * 100.0);
}

QString formatAmount(qint64 cents)
{
    const qint64 whole = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(whole / 100)
        .arg(whole % 100, 2, 10, QLatin1Char('0'));
}

QChar dateSeparator(const QLocale& locale)
{
    // The separator of the short date format ("M/d/yy" on US settings).
    for (const QChar c : locale.dateFormat(QLocale::ShortFormat)) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('\'') && !c.isSpace())
            return c;
    }
    return QLatin1Char('/');
}

QString slashDate(const QDate& date, QChar separator)
{
    if (!date.isValid())
        return QString();
    const int y = date.year();
    const QChar text[10] = {
        QLatin1Char(char('0' + date.month() / 10)), QLatin1Char(char('0' + date.month() % 10)), separator,
        QLatin1Char(char('0' + date.day() / 10)),   QLatin1Char(char('0' + date.day() % 10)),   separator,
        QLatin1Char(char('0' + y / 1000 % 10)),     QLatin1Char(char('0' + y / 100 % 10)),
        QLatin1Char(char('0' + y / 10 % 10)),       QLatin1Char(char('0' + y % 10)),
    };
    return QString(text, 10);
}

QString slashDate(const QDate& date, const QLocale& locale) { return slashDate(date, dateSeparator(locale)); }

RenewalPosting::RenewalPosting(TDataModule& data, const PriceList& prices)
    : m_data(data)
    , m_prices(prices)
{
}

RenewalPosting::~RenewalPosting() = default;

void RenewalPosting::setMode(Mode mode, const QString& dealerChart, const QString& dealerProvider)
{
    m_mode = mode;
    m_dealerChart = dealerChart;
    m_dealerProvider = dealerProvider;
}


void RenewalPosting::readCaseDefaults()
{
    // A handful of rows, read in one statement after the first.
    Db::Table& def = *m_data.tblMWDEF;
    m_defaults.clear();
    def.first();
    if (!def.isEmpty()) {
        QList<Db::Record> rows{def.currentRecord()};
        rows += def.rowsAfter(&def.currentRecord(), INT_MAX, false);
        const int table = def.fieldIndex(QStringLiteral("Table"));
        const int name = def.fieldIndex(QStringLiteral("Field"));
        const int value = def.fieldIndex(QStringLiteral("Default"));
        auto text = [](const Db::Record& r, int i) { return Db::rtrimmed(r.values.value(i).toString()); };
        for (const Db::Record& r : std::as_const(rows))
            m_defaults.append({text(r, table), text(r, name), text(r, value)});
    }

    Db::Connection& conn = *m_data.connMedisoft;
    const Db::TableDef* trn = conn.catalog().table(QStringLiteral("MWTRN"));
    m_trnFields.clear();
    QStringList cols;
    for (const char* name : kTrnColumns) {
        const Db::FieldDef* f = trn ? trn->field(QLatin1String(name)) : nullptr;
        if (!f)
            throw Db::EngineError(QStringLiteral("Field '%1' not found").arg(QLatin1String(name)));
        m_trnFields << f;
        cols << conn.quoteName(f->name);
    }
    // Codes are posted, logged and compared in the form the column stores
    // them (cut to its width, without trailing blanks): a code typed longer
    // than the column still finds the charges a run stored with it.
    m_codeField = trn->field(QStringLiteral("Procedure Code"));
    // The transaction table must take every column a charge sets: a run
    // that could not post one stops before it goes through any account. (An
    // insert of no rows: only a column list of an insert names nothing but
    // columns on every backend.)
    const QString columns = cols.join(QStringLiteral(", "));
    conn.execOnce(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %1 WHERE 1 = 0").arg(conn.quoteName(trn->name), columns));

    m_insertCase.clear();
    m_insertCharges.clear();
    m_caseNumberOf.reset();
    m_planned.clear();
    m_onFile.clear();
    m_hasPatient.clear();
    m_blockFirst = m_blockEnd = 0;
    m_queue.clear();
    m_newCases.clear();
}

// A failed statement of the posting, reported as the engine reports its own
// (a lost connection says so and is opened again by the next action).
Db::EngineError RenewalPosting::sqlError(const QSqlQuery& q) const
{
    return m_data.connMedisoft->failure(q.lastError());
}

const Db::FieldDef& RenewalPosting::caseField(const char* name) const
{
    const Db::TableDef* cas = m_data.connMedisoft->catalog().table(QStringLiteral("MWCAS"));
    const Db::FieldDef* f = cas ? cas->field(QLatin1String(name)) : nullptr;
    if (!f)
        throw Db::EngineError(QStringLiteral("Field '%1' not found").arg(QLatin1String(name)));
    return *f;
}

// A value in the form the backend stores for the column, converted as the
// engine converts what is given to a field (text cut to its width, a text
// that is no value of the column's kind an error); empty text in a column
// of another kind (a case default left blank) stores nothing.
QVariant RenewalPosting::stored(const Db::FieldDef& f, const QVariant& v) const
{
    const Db::SqlDialect& dialect = m_data.connMedisoft->dialect();
    if (f.type != Db::FieldType::Text && v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty())
        return dialect.bindValue(f, QVariant());
    return dialect.bindValue(f, Db::toFieldValue(f, v));
}

bool chargeBoxes(Module module, bool monthly, bool hasProfessional, Mode mode, PriceBox& code, PriceBox& price)
{
    const bool direct = mode == Mode::Direct;
    switch (module) {
    case Module::Professional:
        code = monthly ? PriceBox::MoProf : PriceBox::AnnProf;
        price = monthly ? PriceBox::MoProfChg : PriceBox::AnnProfChg;
        return true;
    case Module::Institutional:
        if (monthly && !direct)
            return false;  // resellers are not billed for monthly Institutional
        code = monthly ? PriceBox::MOInst : PriceBox::AnnInst;
        price = monthly ? PriceBox::MOInstChg : (direct && hasProfessional ? PriceBox::AnnInstChg2 : PriceBox::AnnInstChg);
        return true;
    case Module::ERA:
        code = monthly ? PriceBox::MoERA : PriceBox::AnnERA;
        price = monthly ? PriceBox::MoERAChg : PriceBox::AnnERAChg;
        return true;
    }
    return false;
}

QList<Charge> RenewalPosting::dueCharges()
{
    Db::Query& q = *m_data.qryFutureRegs2;
    const bool monthly = q.fieldByName(QStringLiteral("IsMonthly")).asBoolean();
    const bool hasProf = q.fieldByName(QStringLiteral("HasHCFA")).asBoolean();
    struct ModuleColumns {
        Module module;
        const char* flag;
        const char* expires;
        const char* name;
    };
    const ModuleColumns modules[] = {
        {Module::Professional, "HasHCFA", "ExpiresProf", "Professional"},
        {Module::Institutional, "HasUB92", "ExpiresInst", "Institutional"},
        {Module::ERA, "HasERA", "ExpiresERA", "ERA"},
    };
    QList<Charge> out;
    for (const ModuleColumns& m : modules) {
        if (!q.fieldByName(QLatin1String(m.flag)).asBoolean())
            continue;
        const QDate e = q.fieldByName(QLatin1String(m.expires)).asDate();
        if (!e.isValid() || !(m_today < e && e < m_today.addDays(kWindowDays)))
            continue;
        PriceBox code, price;
        if (!chargeBoxes(m.module, monthly, hasProf, m_mode, code, price))
            continue;
        const QString description = QStringLiteral("Kestrelpoint %1 %2")
                                        .arg(QLatin1String(m.name),
                                             monthly ? QStringLiteral("Monthly") : QStringLiteral("Annual"));
        out.append({Db::toFieldValue(*m_codeField, m_prices.text(code)).toString(), description, e,
                    parseAmount(m_prices.text(price))});
    }
    return out;
}

// Reads, for the charts of the block of accounts from the current row on,
// what the case table would show for each (its first open "E1" case, in the
// table's order) and the charges on that case, in one statement; a preview
// also whether each chart has a patient. In a run the accounts planned
// before are written first, so that the read finds them.
void RenewalPosting::readBlock(const Db::Record& current)
{
    if (!m_preview) {
        finish();
        m_planned.clear();
    }
    Db::Query& q = *m_data.qryFutureRegs2;
    Db::Connection& conn = *m_data.connMedisoft;
    const QList<Db::Record> rows = q.rowsAfter(&current, kBlockAccounts, true);
    m_onFile.clear();
    m_hasPatient.clear();
    m_blockFirst = current.position;
    m_blockEnd = current.position + rows.size();

    // Each chart once: as the case table's order compares it (the master
    // link's value), and as the account holds it (the patient's chart).
    const int chartAt = q.fieldIndex(QStringLiteral("ChartNumber"));
    const Db::FieldDef& chartField = caseField("Chart Number");
    QStringList marks;
    QVariantList values;
    QSet<QPair<QString, QString>> charts;
    QStringList keys;
    for (const Db::Record& r : rows) {
        const QVariant raw = r.values.value(chartAt);
        const QString chart = Db::rtrimmed(raw.toString());
        if (chart.isEmpty())
            continue;
        const QPair<QString, QString> both{conn.dialect().orderValue(chartField, raw).toString(), chart};
        if (charts.contains(both))
            continue;
        charts.insert(both);
        if (!keys.contains(both.first))
            keys << both.first;
        marks << QStringLiteral("(?, ?)");
        values << both.first << both.second;
    }
    if (marks.isEmpty())
        return;
    const Db::SqlDialect& sql = conn.dialect();
    auto name = [&](const char* n) { return conn.quoteName(QLatin1String(n)); };
    const QString cas = name("MWCAS");
    const QString chart = name("Chart Number");
    const QString caseNo = name("Case Number");
    values << stored(caseField("Billing Code"), QStringLiteral("E1")) << stored(caseField("Case Closed"), false);
    for (const QString& key : std::as_const(keys))
        values << key;
    // The cases, then the charges of the charts (of any of their cases):
    // both parts are index ranges whatever the planner knows of the tables.
    const QString patient = m_preview ? QStringLiteral("EXISTS (SELECT 1 FROM %1 p WHERE p.%2 = k.column2)").arg(name("MWPAT"), chart)
                                      : QStringLiteral("0");
    const QString tChart = sql.orderExpression(QStringLiteral("t.") + chart, Db::FieldType::Text);
    const QString text =
        QStringLiteral("SELECT 0, k.column1, k.column2, c.%1, c.%2, c.%3, c._rid, %4, NULL, NULL "
                       "FROM (VALUES %5) AS k "
                       "LEFT JOIN %6 c ON c._rid = (SELECT x._rid FROM %6 x WHERE %7 = k.column1 AND x.%8 = ? AND x.%9 = ? "
                       "ORDER BY x._rid LIMIT 1) ")
            .arg(caseNo, name("Assigned Provider"), name("Facility"), patient, marks.join(QStringLiteral(", ")), cas,
                 sql.orderExpression(QStringLiteral("x.") + chart, Db::FieldType::Text), name("Billing Code"), name("Case Closed"))
        + QStringLiteral("UNION ALL SELECT 1, %1, NULL, %2, NULL, NULL, NULL, NULL, t.%3, t.%4 FROM %5 t WHERE %1 IN (%6)")
              .arg(tChart, sql.orderExpression(QStringLiteral("t.") + caseNo, Db::FieldType::Integer), name("Procedure Code"),
                   name("Date From"), name("MWTRN"), QStringList(keys.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    QList<QVariantList> charges;
    for (const QVariantList& r : conn.execOnce(text, values)) {
        if (r[0].toInt() == 1) {
            charges << r;
            continue;
        }
        CaseOnFile& onFile = m_onFile[r[1].toString()];
        if (!r[6].isNull() && !onFile.found) {
            onFile.found = true;
            onFile.number = r[3];
            onFile.provider = r[4];
            onFile.facility = r[5];
        }
        if (m_preview)
            m_hasPatient[r[2].toString()] = r[7].toBool();
    }
    // The charges on each chart's case, as the case's own list holds them.
    for (const QVariantList& r : std::as_const(charges)) {
        const auto onFile = m_onFile.find(r[1].toString());
        if (onFile == m_onFile.end() || !onFile->found || onFile->number.isNull()
            || r[3].toLongLong() != onFile->number.toLongLong())
            continue;
        const QVariant from = r[9];
        const QDate date = from.typeId() == QMetaType::QDate ? from.toDate()
                                                              : QDate::fromString(from.toString().left(10), Qt::ISODate);
        onFile->charges.append({r[8].toString(), date});
    }
}

AccountPlan RenewalPosting::planAccount()
{
    Db::Query& q = *m_data.qryFutureRegs2;
    AccountPlan plan;
    plan.chart = field(q, "ChartNumber");
    plan.serial = q.fieldByName(QStringLiteral("SerialNumber")).asInteger();
    plan.registerName = field(q, "RegisterName");
    m_chart = plan.chart;
    m_serial = plan.serial;
    if (plan.chart.isEmpty()) {
        plan.blankChart = true;
        return plan;
    }
    m_today = Trellane::platform().today();
    m_now = Trellane::platform().now();
    const Db::Record& row = q.currentRecord();
    if (row.position < m_blockFirst || row.position >= m_blockEnd)
        readBlock(row);
    // A run posts a case and charges for a chart whatever the patient table
    // holds; the preview says when there is no patient to bill.
    if (m_preview)
        plan.noPatient = !m_hasPatient.value(plan.chart);

    // Everything this account needs is worked out before anything of it is
    // written: a price that is not a number stops here.
    plan.charges = dueCharges();
    const QString key =
        m_data.connMedisoft->dialect().orderValue(caseField("Chart Number"), row.values.value(q.fieldIndex(QStringLiteral("ChartNumber")))).toString();
    const CaseOnFile onFile = m_onFile.value(key);
    const bool hasCase = onFile.found && !onFile.number.isNull();
    Planned& planned = m_planned[plan.chart];
    plan.addCase = !hasCase && !planned.caseAdded;
    if (plan.addCase)
        makeCaseRow();
    m_existing.clear();
    if (hasCase) {
        m_caseNumber = QVariant(onFile.number.toInt());
        m_caseProvider = onFile.provider;
        m_caseFacility = onFile.facility;
        m_existing = onFile.charges;
    } else {
        // The case this account adds, or an earlier one of the block added.
        m_caseNumber = QVariant();
        if (!plan.addCase) {
            m_caseProvider = planned.caseProvider;
            m_caseFacility = planned.caseFacility;
        }
    }
    // A charge counts as posted when the case holds it, or when it was
    // planned earlier for this chart: by an earlier module of this account,
    // or by an earlier account of the same chart not yet written (in a
    // preview, never written).
    QList<QPair<QString, QDate>> seen = m_existing + planned.charges;
    for (Charge& c : plan.charges) {
        c.duplicate = isDuplicate(seen, c.code, c.expiry);
        if (!c.duplicate)
            seen.append({c.code, c.expiry});
    }
    if (plan.addCase) {
        planned.caseAdded = true;
        planned.caseProvider = m_caseProvider;
        planned.caseFacility = m_caseFacility;
    }
    for (const Charge& c : std::as_const(plan.charges))
        if (!c.duplicate)
            planned.charges.append({c.code, c.expiry});
    return plan;
}

void RenewalPosting::PostAccountRenewals()
{
    post(planAccount());
}

void RenewalPosting::post(const AccountPlan& plan)
{
    Queued account;
    if (plan.blankChart) {
        account.log << QStringLiteral("The chart number was blank for serial number ") + QString::number(plan.serial);
        m_queue << account;
        return;
    }
    // An account with its case and every charge in place writes nothing;
    // it is done when the accounts before it are.
    if (plan.writes()) {
        account.chartKey = stored(caseField("Chart Number"), m_chart).toString();
        account.caseNumber = m_caseNumber;
        if (plan.addCase) {
            account.addCase = true;
            account.caseColumns = m_caseColumns;
            account.caseValues = m_caseValues;
            account.log << QStringLiteral("Added Case for Chart: ") + m_chart;
        }
    }
    m_queue << account;
    for (const Charge& c : plan.charges)
        if (!c.duplicate)
            writeCharge(c.code, c.description, c.expiry, c.cents);
}

void RenewalPosting::finish()
{
    if (m_queue.isEmpty())
        return;
    const auto cleared = qScopeGuard([this] {
        m_queue.clear();
        m_newCases.clear();
    });
    const int n = int(m_queue.size());
    try {
        write(0, n);
    } catch (const Db::EngineError& e) {
        // A lost connection or a database busy with another writer would
        // fail again: nothing more is tried.
        Db::Connection& conn = *m_data.connMedisoft;
        const bool busy = conn.backend() == Db::Backend::SQLite && (e.nativeCode().toInt() & 0xff) == 5;
        if (n == 1 || conn.isLost() || busy)
            throw;
        // Nothing of the block is stored: its accounts one at a time, up
        // to the one that fails, which throws.
        m_newCases.clear();
        for (int i = 0; i < n; ++i)
            write(i, i + 1);
    }
}

// Writes the queued accounts from..to together, whole or not at all.
void RenewalPosting::write(int from, int to)
{
    bool writes = false;
    for (int i = from; i < to && !writes; ++i)
        writes = m_queue[i].addCase || !m_queue[i].charges.isEmpty();
    if (writes) {
        if (m_data.connMedisoft->dialect().readsAhead())
            writeTogether(from, to);
        else
            writeInTransaction(from, to);
    }
    done(from, to);
}

// One statement (one round trip, atomic on its own): the new cases in one
// insert, numbered by the database in account order, and the charges in
// another, those on a new case taking its number from the first.
void RenewalPosting::writeTogether(int from, int to)
{
    Db::Connection& conn = *m_data.connMedisoft;
    QStringList caseColumns;
    QSet<QString> added;
    for (int i = from; i < to; ++i) {
        if (!m_queue[i].addCase)
            continue;
        added.insert(m_queue[i].chartKey);
        for (const QString& c : std::as_const(m_queue[i].caseColumns))
            if (!caseColumns.contains(c))
                caseColumns << c;
    }
    QVariantList values;
    QStringList caseRows;
    for (int i = from; i < to; ++i) {
        const Queued& a = m_queue[i];
        if (!a.addCase)
            continue;
        QStringList row;
        for (const QString& c : std::as_const(caseColumns)) {
            const qsizetype at = a.caseColumns.indexOf(c);
            row << (at < 0 ? QStringLiteral("DEFAULT") : QStringLiteral("?"));
            if (at >= 0)
                values << a.caseValues[at];
        }
        caseRows << QLatin1Char('(') + row.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    const QString chart = conn.quoteName(QStringLiteral("Chart Number"));
    const QString caseNo = conn.quoteName(QStringLiteral("Case Number"));
    QStringList chargeRows;
    for (int i = from; i < to; ++i) {
        const Queued& a = m_queue[i];
        for (const QVariantList& charge : a.charges) {
            QStringList row;
            for (int c = 0; c < kTrnCount; ++c) {
                if (c == kCaseNumberColumn && a.caseNumber.isNull() && added.contains(a.chartKey)) {
                    row << QStringLiteral("(SELECT %1 FROM nc WHERE %2 = ?)").arg(caseNo, chart);
                    values << a.chartKey;
                } else {
                    row << QStringLiteral("?");
                    values << (c == kCaseNumberColumn && a.caseNumber.isNull() ? newCaseNumber(a.chartKey) : charge[c]);
                }
            }
            chargeRows << QLatin1Char('(') + row.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
    }
    QStringList trnColumns;
    for (const Db::FieldDef* f : std::as_const(m_trnFields))
        trnColumns << conn.quoteName(f->name);
    const QString insertCases = QStringLiteral("INSERT INTO %1 (%2) VALUES %3 RETURNING %4, %5")
                                    .arg(conn.quoteName(QStringLiteral("MWCAS")), caseColumns.join(QStringLiteral(", ")),
                                         caseRows.join(QStringLiteral(", ")), chart, caseNo);
    const QString insertCharges = QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                      .arg(conn.quoteName(QStringLiteral("MWTRN")), trnColumns.join(QStringLiteral(", ")),
                                           chargeRows.join(QStringLiteral(", ")));
    QString text;
    if (caseRows.isEmpty())
        text = insertCharges;
    else if (chargeRows.isEmpty())
        text = insertCases;
    else
        text = QStringLiteral("WITH nc AS (%1), tr AS (%2) SELECT %3, %4 FROM nc").arg(insertCases, insertCharges, chart, caseNo);
    for (const QVariantList& r : conn.execOnce(text, values))
        m_newCases.insert(r[0].toString(), QVariant(r[1].toInt()));
}

// SQLite: the accounts' statements in one transaction.
void RenewalPosting::writeInTransaction(int from, int to)
{
    Db::Connection& conn = *m_data.connMedisoft;
    auto prepared = [&](const QString& sql) {
        auto q = std::make_shared<QSqlQuery>(conn.database());
        if (!q->prepare(sql))
            throw sqlError(*q);
        return q;
    };
    if (m_insertCharges.isEmpty()) {
        QStringList cols;
        for (const Db::FieldDef* f : std::as_const(m_trnFields))
            cols << conn.quoteName(f->name);
        const QString row = QLatin1Char('(') + QStringList(kTrnCount, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
        for (int n = 1; n <= kMaxBatch; ++n)
            m_insertCharges << prepared(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                            .arg(conn.quoteName(QStringLiteral("MWTRN")), cols.join(QStringLiteral(", ")),
                                                 QStringList(n, row).join(QStringLiteral(", "))));
    }
    conn.beginTransaction();
    try {
        for (int i = from; i < to; ++i) {
            const Queued& a = m_queue[i];
            if (a.addCase) {
                const QString columns = a.caseColumns.join(QStringLiteral(", "));
                std::shared_ptr<QSqlQuery>& ins = m_insertCase[columns];
                if (!ins)
                    ins = prepared(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING _rid, %4")
                                       .arg(conn.quoteName(QStringLiteral("MWCAS")), columns,
                                            QStringList(a.caseValues.size(), QStringLiteral("?")).join(QStringLiteral(", ")),
                                            conn.quoteName(QStringLiteral("Case Number"))));
                for (qsizetype v = 0; v < a.caseValues.size(); ++v)
                    ins->bindValue(int(v), a.caseValues[v]);
                if (!ins->exec() || !ins->next())
                    throw sqlError(*ins);
                const qint64 rid = ins->value(0).toLongLong();
                QVariant number = ins->value(1);
                ins->finish();
                if (number.isNull()) {
                    // Numbered by a trigger after the row was stored.
                    if (!m_caseNumberOf) {
                        m_caseNumberOf = std::make_unique<QSqlQuery>(conn.database());
                        if (!m_caseNumberOf->prepare(QStringLiteral("SELECT %1 FROM %2 WHERE _rid = ?")
                                                         .arg(conn.quoteName(QStringLiteral("Case Number")),
                                                              conn.quoteName(QStringLiteral("MWCAS")))))
                            throw sqlError(*m_caseNumberOf);
                    }
                    m_caseNumberOf->bindValue(0, rid);
                    if (!m_caseNumberOf->exec() || !m_caseNumberOf->next())
                        throw sqlError(*m_caseNumberOf);
                    number = m_caseNumberOf->value(0);
                    m_caseNumberOf->finish();
                }
                m_newCases.insert(a.chartKey, QVariant(number.toInt()));
            }
            if (a.charges.isEmpty())
                continue;
            const QVariant number = a.caseNumber.isNull() ? newCaseNumber(a.chartKey) : a.caseNumber;
            for (qsizetype c = 0; c < a.charges.size(); c += kMaxBatch) {
                const qsizetype n = qMin<qsizetype>(kMaxBatch, a.charges.size() - c);
                QSqlQuery& ins = *m_insertCharges[n - 1];
                int k = 0;
                for (qsizetype r = c; r < c + n; ++r)
                    for (int col = 0; col < kTrnCount; ++col)
                        ins.bindValue(k++, col == kCaseNumberColumn ? number : a.charges[r][col]);
                if (!ins.exec())
                    throw sqlError(ins);
            }
        }
        conn.commit();
    } catch (...) {
        conn.rollback();
        throw;
    }
}

// The number of the case added for a chart with the accounts written before.
QVariant RenewalPosting::newCaseNumber(const QString& chartKey) const
{
    const QVariant number = m_newCases.value(chartKey);
    if (number.isNull())
        throw Db::EngineError(QStringLiteral("No case was added for chart %1").arg(chartKey));
    return number;
}

// The accounts from..to are written: their lines go to the log, their
// cases and charges to the run's figures.
void RenewalPosting::done(int from, int to)
{
    for (int i = from; i < to; ++i) {
        const Queued& a = m_queue[i];
        m_log << a.log;
        m_casesAdded += a.addCase ? 1 : 0;
        m_chargesPosted += a.chargeCount;
        m_centsPosted += a.cents;
        ++m_accountsDone;
    }
}

// The row of a new case for the current account, every value converted: a
// field default naming a column the case table lacks, or a value the column
// cannot take, stops here, before anything of the account is written (and a
// preview stops as the run would).
void RenewalPosting::makeCaseRow()
{
    Db::Connection& conn = *m_data.connMedisoft;
    const Db::TableDef* def = conn.catalog().table(QStringLiteral("MWCAS"));
    QList<const Db::FieldDef*> columns;
    QVariantList values;
    auto set = [&](const QString& name, const QVariant& value) {
        const Db::FieldDef* f = def ? def->field(name) : nullptr;
        if (!f || f->calculated)
            throw Db::EngineError(QStringLiteral("Field '%1' not found").arg(name));  // a column the table lacks
        const qsizetype i = columns.indexOf(f);
        if (i < 0) {
            columns << f;
            values << value;
        } else {
            values[i] = value;
        }
    };
    for (const Default& d : std::as_const(m_defaults)) {
        if (d.table != QLatin1String("MWCAS"))
            continue;
        if (d.field.compare(QLatin1String("Case Number"), Qt::CaseInsensitive) == 0)
            continue;  // the database numbers the case, however the row spells it
        if (d.field == QLatin1String("Guarantor"))
            set(d.field, m_mode == Mode::Dealer ? m_dealerChart : m_chart);
        else if (d.field == QLatin1String("Assigned Provider") && m_mode == Mode::Dealer)
            set(d.field, m_dealerProvider);
        else
            set(d.field, d.value);
    }
    // The account's chart and the filter's values win over a default of any
    // spelling: they are what the next run finds the case by.
    set(QStringLiteral("Chart Number"), m_chart);
    set(QStringLiteral("Billing Code"), QStringLiteral("E1"));
    set(QStringLiteral("Case Closed"), false);
    set(QStringLiteral("Description"), QStringLiteral("Kestrelpoint"));
    set(QStringLiteral("Date Created"), m_today);
    set(QStringLiteral("Date Modified"), m_now);

    // Every value is converted before the row is written; a column left
    // null takes the table's default.
    m_caseColumns.clear();
    m_caseValues.clear();
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QVariant v = stored(*columns[i], values[i]);
        if (v.isNull())
            continue;
        m_caseColumns << conn.quoteName(columns[i]->name);
        m_caseValues << v;
    }
    auto valueOf = [&](const char* name) {
        const qsizetype i = columns.indexOf(def->field(QLatin1String(name)));
        return i < 0 ? QVariant() : stored(*columns[i], values[i]);
    };
    m_caseProvider = valueOf("Assigned Provider");
    m_caseFacility = valueOf("Facility");
}

bool RenewalPosting::isDuplicate(const QList<QPair<QString, QDate>>& existing, const QString& code, const QDate& expiry)
{
    const QDate low = expiry.addDays(-kWindowDays);
    const QDate high = expiry.addDays(kWindowDays);
    for (const auto& [existingCode, from] : existing) {
        if (existingCode == code && from.isValid() && low < from && from < high)
            return true;
    }
    return false;
}

void RenewalPosting::AddCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents)
{
    if (isDuplicate(m_existing, code, expiry))
        return;
    writeCharge(code, description, expiry, cents);
}

// Adds a charge to the account queued last; its case number is filled in
// when it is written, for a case added with the block.
void RenewalPosting::writeCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents)
{
    const QVariant no(false), yes(true), zero(0);
    const QVariant values[kTrnCount] = {
        m_chart, m_caseNumber, zero, expiry, expiry, m_today.toString(QStringLiteral("yyMMdd")) + QStringLiteral("0000"),
        QStringLiteral("SN: %1 EXP: %2").arg(m_serial).arg(expiry.toString(QStringLiteral("MM-dd-yy"))),
        m_caseProvider, code, QStringLiteral("A"), zero, zero, 1, zero,
        formatAmount(cents),
        no, no, no, no,            // Diagnosis 1-4
        no,                        // Claim Item Rejected
        no, no, no,                // Accept Assignment 1-3
        no, no, no,                // Billed to Insured 1-3
        yes,                       // Guarantor Responsible
        no, no, no,                // Insurance 1-3 Responsible
        no,                        // Attorney Responsible
        yes,                       // Attorney Paid
        yes, yes, yes,             // Insurance 1-3 Paid
        no,                        // Guarantor Paid
        m_today,
        zero, zero, zero, zero, zero, zero, zero, zero, zero,  // amounts paid .. Deposit ID
        QString(QLatin1String("")),                            // Check Number
        zero,                                                  // Unapplied Amount
        QStringLiteral("A"), QString(QLatin1String("")), QStringLiteral("T"), m_now, m_caseFacility, description,
        zero, zero,
    };
    QVariantList row;
    row.reserve(kTrnCount);
    for (int i = 0; i < kTrnCount; ++i)
        row << stored(*m_trnFields[i], values[i]);
    Queued& account = m_queue.last();
    account.charges << row;
    ++account.chargeCount;
    account.cents += cents;
    account.log << QStringLiteral("Added Renewal ") + code + QLatin1Char(' ') + slashDate(expiry)
            + QStringLiteral(" for Chart: ") + m_chart;
    m_existing.append({code, expiry});
}

void recordRun(Db::Connection& customer, Mode mode, const QString& dealerCode, qint64 accounts,
               const RenewalPosting& posting, const QString& ending)
{
    QString summary = QStringLiteral("%1 accounts, %2 cases, %3 charges, total %4")
                          .arg(accounts)
                          .arg(posting.casesAdded())
                          .arg(posting.chargesPosted())
                          .arg(formatAmount(posting.centsPosted()));
    if (!ending.isEmpty())
        summary += QStringLiteral("; ") + ending;
    Db::recordBillingRun(customer, mode == Mode::Direct ? QStringLiteral("direct") : QStringLiteral("reseller"),
                         dealerCode.isNull() ? QString(QLatin1String("")) : dealerCode, summary);
}

} // namespace Billing
