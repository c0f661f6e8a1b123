#include "billing/RenewalPosting.h"

#include "customerdb/DataModule.h"
#include "customerdb/FieldValues.h"
#include "customerdb/SqlDialect.h"
#include "helpers/Platform.h"

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
constexpr int kMaxBatch = 3;  // charges written by one statement

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
    Db::Table& def = *m_data.tblMWDEF;
    m_defaults.clear();
    for (def.first(); !def.eof(); def.next())
        m_defaults.append({field(def, "Table"), field(def, "Field"), field(def, "Default")});
    prepareReading();
    prepareWriting();
}

// A failed statement of the posting, reported as the engine reports its own
// (a lost connection says so and is opened again by the next action).
Db::EngineError RenewalPosting::sqlError(const QSqlQuery& q) const
{
    return m_data.connMedisoft->failure(q.lastError());
}

void RenewalPosting::prepareReading()
{
    Db::Connection& conn = *m_data.connMedisoft;
    conn.connect();
    const QString table = conn.quoteName(QStringLiteral("MWTRN"));
    // The key expressions of the table's "Chart Number;Case Number" index,
    // as the case's own transaction list compares them.
    const QString chart = conn.quoteName(QStringLiteral("Chart Number"));
    const QString caseNo = conn.quoteName(QStringLiteral("Case Number"));
    m_selectCharges = std::make_unique<QSqlQuery>(conn.database());
    m_selectCharges->setForwardOnly(true);
    if (!m_selectCharges->prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE COALESCE(%4,'') = ? AND COALESCE(%5,-2147483649) = ?")
                                      .arg(conn.quoteName(QStringLiteral("Procedure Code")),
                                           conn.quoteName(QStringLiteral("Date From")), table, chart, caseNo)))
        throw sqlError(*m_selectCharges);
    m_patientOf = std::make_unique<QSqlQuery>(conn.database());
    m_patientOf->setForwardOnly(true);
    if (!m_patientOf->prepare(QStringLiteral("SELECT 1 FROM %1 WHERE %2 = ?")
                                  .arg(conn.quoteName(QStringLiteral("MWPAT")), chart)))
        throw sqlError(*m_patientOf);
    // Codes are posted, logged and compared in the form the column stores
    // them (cut to its width, without trailing blanks): a code typed longer
    // than the column still finds the charges a run stored with it.
    const Db::TableDef* trn = conn.catalog().table(QStringLiteral("MWTRN"));
    m_codeField = trn ? trn->field(QStringLiteral("Procedure Code")) : nullptr;
    if (!m_codeField)
        throw Db::EngineError(QStringLiteral("Field 'Procedure Code' not found"));
    m_planned.clear();
}

void RenewalPosting::prepareWriting()
{
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
    conn.connect();
    const QString table = conn.quoteName(trn->name);
    // One statement per number of rows an account posts at once (one to
    // three charges): one round trip to the server for all of them.
    m_insertCharges.clear();
    const QString row = QLatin1Char('(') + QStringList(kTrnCount, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
    for (int n = 1; n <= kMaxBatch; ++n) {
        auto q = std::make_shared<QSqlQuery>(conn.database());
        if (!q->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                            .arg(table, cols.join(QStringLiteral(", ")), QStringList(n, row).join(QStringLiteral(", ")))))
            throw sqlError(*q);
        m_insertCharges << q;
    }
    m_pending.clear();
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

void RenewalPosting::readExisting()
{
    m_existing.clear();
    Db::Table& cas = *m_data.tblMWCAS;
    QSqlQuery& q = *m_selectCharges;
    q.bindValue(0, cas.fieldByName(QStringLiteral("Chart Number")).asString());
    q.bindValue(1, qlonglong(cas.fieldByName(QStringLiteral("Case Number")).asInteger()));
    if (!q.exec())
        throw sqlError(q);
    while (q.next()) {
        const QVariant from = q.value(1);
        const QDate date = from.typeId() == QMetaType::QDate ? from.toDate()
                                                              : QDate::fromString(from.toString().left(10), Qt::ISODate);
        m_existing.append({q.value(0).toString(), date});
    }
    q.finish();
}

AccountPlan RenewalPosting::planAccount()
{
    Db::Query& q = *m_data.qryFutureRegs2;
    AccountPlan plan;
    plan.chart = q.fieldByName(QStringLiteral("ChartNumber")).asString();
    plan.serial = q.fieldByName(QStringLiteral("SerialNumber")).asInteger();
    plan.registerName = q.fieldByName(QStringLiteral("RegisterName")).asString();
    m_chart = plan.chart;
    m_serial = plan.serial;
    if (plan.chart.isEmpty()) {
        plan.blankChart = true;
        return plan;
    }
    m_today = Trellane::platform().today();
    m_now = Trellane::platform().now();
    if (m_preview) {
        // A run posts a case and charges for a chart whatever the patient
        // table holds; the preview says when there is no patient to bill.
        QSqlQuery& pat = *m_patientOf;
        pat.bindValue(0, plan.chart);
        if (!pat.exec())
            throw sqlError(pat);
        plan.noPatient = !pat.next();
        pat.finish();
    }

    // Everything this account needs is worked out before anything of it is
    // written: a price that is not a number stops here.
    plan.charges = dueCharges();
    Db::Table& cas = *m_data.tblMWCAS;
    const Planned* planned = m_preview ? &m_planned[plan.chart] : nullptr;
    plan.addCase = cas.fieldByName(QStringLiteral("Case Number")).isNull() && !(planned && planned->caseAdded);
    if (plan.addCase)
        makeCaseRow();
    m_existing.clear();
    if (!cas.fieldByName(QStringLiteral("Case Number")).isNull()) {
        m_caseNumber = cas.fieldByName(QStringLiteral("Case Number")).value();
        m_caseProvider = cas.fieldByName(QStringLiteral("Assigned Provider")).value();
        m_caseFacility = cas.fieldByName(QStringLiteral("Facility")).value();
        readExisting();
    }
    // A charge counts as posted when the case holds it, or when it was
    // planned earlier for this chart: by an earlier module of this account,
    // or, in a preview, by an earlier account of the same chart.
    QList<QPair<QString, QDate>> seen = m_existing;
    if (planned)
        seen += planned->charges;
    for (Charge& c : plan.charges) {
        c.duplicate = isDuplicate(seen, c.code, c.expiry);
        if (!c.duplicate)
            seen.append({c.code, c.expiry});
    }
    if (m_preview) {
        Planned& p = m_planned[plan.chart];
        p.caseAdded = p.caseAdded || plan.addCase;
        for (const Charge& c : std::as_const(plan.charges))
            if (!c.duplicate)
                p.charges.append({c.code, c.expiry});
    }
    return plan;
}

void RenewalPosting::PostAccountRenewals()
{
    post(planAccount());
}

void RenewalPosting::post(const AccountPlan& plan)
{
    if (plan.blankChart) {
        m_log << QStringLiteral("The chart number was blank for serial number ") + QString::number(plan.serial);
        return;
    }
    // An account with its case and every charge in place writes nothing
    // and opens no transaction.
    if (!plan.writes())
        return;

    Db::Connection& conn = *m_data.connMedisoft;
    const qsizetype logMark = m_log.size();
    const int casesBefore = m_casesAdded;
    const int chargesBefore = m_chargesPosted;
    const qint64 centsBefore = m_centsPosted;
    conn.beginTransaction();
    try {
        if (plan.addCase)
            addCase();
        for (const Charge& c : plan.charges)
            if (!c.duplicate)
                writeCharge(c.code, c.description, c.expiry, c.cents);
        writePending();
        conn.commit();
    } catch (...) {
        m_pending.clear();
        conn.rollback();
        // Nothing of this account was stored: its lines go too.
        m_log.erase(m_log.begin() + logMark, m_log.end());
        m_casesAdded = casesBefore;
        m_chargesPosted = chargesBefore;
        m_centsPosted = centsBefore;
        throw;
    }
}

// The row of a new case for the current account, every value converted and
// the statement that adds it prepared: a field default naming a column the
// case table lacks, or a value the column cannot take, stops here, before
// anything of the account is written (and a preview stops as the run would).
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
    QStringList names;
    m_caseValues.clear();
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QVariant v = stored(*columns[i], values[i]);
        if (v.isNull())
            continue;
        names << conn.quoteName(columns[i]->name);
        m_caseValues << v;
    }
    const QString key = names.join(QStringLiteral(", "));
    if (!m_insertCase || key != m_caseColumns) {
        m_insertCase = std::make_unique<QSqlQuery>(conn.database());
        if (!m_insertCase->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING _rid, %4")
                                       .arg(conn.quoteName(def->name), key,
                                            QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")),
                                            conn.quoteName(QStringLiteral("Case Number")))))
            throw sqlError(*m_insertCase);
        m_caseColumns = key;
    }
    auto valueOf = [&](const char* name) {
        const qsizetype i = columns.indexOf(def->field(QLatin1String(name)));
        return i < 0 ? QVariant() : stored(*columns[i], values[i]);
    };
    m_caseProvider = valueOf("Assigned Provider");
    m_caseFacility = valueOf("Facility");
}

void RenewalPosting::addCase()
{
    Db::Connection& conn = *m_data.connMedisoft;
    QSqlQuery& ins = *m_insertCase;
    for (qsizetype i = 0; i < m_caseValues.size(); ++i)
        ins.bindValue(int(i), m_caseValues[i]);
    if (!ins.exec() || !ins.next())
        throw sqlError(ins);
    const qint64 rid = ins.value(0).toLongLong();
    m_caseNumber = ins.value(1);
    ins.finish();
    if (m_caseNumber.isNull()) {
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
        m_caseNumber = m_caseNumberOf->value(0);
        m_caseNumberOf->finish();
    }
    m_caseNumber = QVariant(m_caseNumber.toInt());
    m_existing.clear();
    ++m_casesAdded;
    m_log << QStringLiteral("Added Case for Chart: ") + m_chart;
}

void RenewalPosting::writePending()
{
    if (m_pending.isEmpty())
        return;
    QSqlQuery& ins = *m_insertCharges[m_pending.size() - 1];
    int k = 0;
    for (const QVariantList& row : std::as_const(m_pending))
        for (const QVariant& v : row)
            ins.bindValue(k++, v);
    m_pending.clear();
    if (!ins.exec())
        throw sqlError(ins);
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
    m_pending << row;
    if (m_pending.size() == kMaxBatch)
        writePending();
    m_existing.append({code, expiry});
    ++m_chargesPosted;
    m_centsPosted += cents;
    m_log << QStringLiteral("Added Renewal ") + code + QLatin1Char(' ') + slashDate(expiry)
            + QStringLiteral(" for Chart: ") + m_chart;
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
