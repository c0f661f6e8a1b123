#include "billing/RenewalPosting.h"

#include "helpers/Platform.h"
#include "shell/DataModule.h"

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

QString field(Db::DataSet& ds, const char* name) { return ds.fieldByName(QLatin1String(name)).asString(); }

} // namespace

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
    prepareStatements();
}

static Db::EngineError sqlError(const QSqlQuery& q)
{
    return Db::EngineError(q.lastError().text(), q.lastError().nativeErrorCode());
}

void RenewalPosting::prepareStatements()
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
    m_insertCharge = std::make_unique<QSqlQuery>(conn.database());
    if (!m_insertCharge->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                     .arg(table, cols.join(QStringLiteral(", ")),
                                          QStringList(kTrnCount, QStringLiteral("?")).join(QStringLiteral(", ")))))
        throw sqlError(*m_insertCharge);
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
}

// A value in the form the backend stores for the column: text cut to its
// width, dates as ISO text on SQLite, logicals as 1/0 on SQLite, instants as
// local text, money as exact decimal text.
QVariant RenewalPosting::bindable(int column, const QVariant& v) const
{
    const Db::FieldDef& f = *m_trnFields[column];
    const bool sqlite = m_data.connMedisoft->backend() == Db::Backend::SQLite;
    if (v.isNull())
        return QVariant(QMetaType(f.type == Db::FieldType::Integer ? QMetaType::Int : QMetaType::QString));
    switch (f.type) {
    case Db::FieldType::Text: {
        QString s = v.toString();
        if (f.size > 0 && s.size() > f.size)
            s.truncate(f.size);
        while (s.endsWith(QLatin1Char(' ')))
            s.chop(1);
        return s;
    }
    case Db::FieldType::Integer:
        return v.toInt();
    case Db::FieldType::Boolean:
        return sqlite ? QVariant(v.toBool() ? 1 : 0) : QVariant(v.toBool());
    case Db::FieldType::Date:
        return sqlite ? QVariant(v.toDate().toString(Qt::ISODate)) : QVariant(v.toDate());
    case Db::FieldType::DateTime:
        return v.toString();  // formatted once per account
    case Db::FieldType::Float:
        return v.toDouble();
    case Db::FieldType::Currency:
        return v.toString();  // formatAmount
    }
    return v;
}

QList<Charge> RenewalPosting::dueCharges()
{
    Db::Query& q = *m_data.qryFutureRegs2;
    const bool monthly = q.fieldByName(QStringLiteral("IsMonthly")).asBoolean();
    const bool hasProf = q.fieldByName(QStringLiteral("HasHCFA")).asBoolean();
    const bool direct = m_mode == Mode::Direct;
    struct Module {
        const char* flag;
        const char* expires;
        const char* name;
    };
    const Module modules[] = {
        {"HasHCFA", "ExpiresProf", "Professional"},
        {"HasUB92", "ExpiresInst", "Institutional"},
        {"HasERA", "ExpiresERA", "ERA"},
    };
    QList<Charge> out;
    for (int m = 0; m < 3; ++m) {
        if (!q.fieldByName(QLatin1String(modules[m].flag)).asBoolean())
            continue;
        const QDate e = q.fieldByName(QLatin1String(modules[m].expires)).asDate();
        if (!e.isValid() || !(m_today < e && e < m_today.addDays(kWindowDays)))
            continue;
        PriceBox code, price;
        switch (m) {
        case 0:
            code = monthly ? PriceBox::MoProf : PriceBox::AnnProf;
            price = monthly ? PriceBox::MoProfChg : PriceBox::AnnProfChg;
            break;
        case 1:
            if (monthly && !direct)
                continue;  // resellers are not billed for monthly Institutional
            code = monthly ? PriceBox::MOInst : PriceBox::AnnInst;
            price = monthly ? PriceBox::MOInstChg
                            : (direct && hasProf ? PriceBox::AnnInstChg2 : PriceBox::AnnInstChg);
            break;
        default:
            code = monthly ? PriceBox::MoERA : PriceBox::AnnERA;
            price = monthly ? PriceBox::MoERAChg : PriceBox::AnnERAChg;
            break;
        }
        const QString description = QStringLiteral("Kestrelpoint %1 %2")
                                        .arg(QLatin1String(modules[m].name),
                                             monthly ? QStringLiteral("Monthly") : QStringLiteral("Annual"));
        out.append({m_prices.text(code), description, e, parseAmount(m_prices.text(price))});
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

void RenewalPosting::PostAccountRenewals()
{
    Db::Query& q = *m_data.qryFutureRegs2;
    m_chart = q.fieldByName(QStringLiteral("ChartNumber")).asString();
    m_serial = q.fieldByName(QStringLiteral("SerialNumber")).asInteger();
    if (m_chart.isEmpty()) {
        m_log << QStringLiteral("The chart number was blank for serial number ") + QString::number(m_serial);
        return;
    }
    m_today = Trellane::platform().today();
    m_now = Trellane::platform().now();

    // Everything this account needs is worked out before anything of it is
    // written: a price that is not a number stops here.
    const QList<Charge> charges = dueCharges();
    const bool needCase = m_data.tblMWCAS->fieldByName(QStringLiteral("Case Number")).isNull();
    if (needCase)
        m_existing.clear();
    else
        readExisting();
    // An account with its case and every charge in place writes nothing
    // and opens no transaction.
    bool anyNew = needCase;
    for (const Charge& c : charges)
        anyNew = anyNew || !isDuplicate(c.code, c.expiry);
    if (!anyNew)
        return;

    Db::Connection& conn = *m_data.connMedisoft;
    const qsizetype logMark = m_log.size();
    const int casesBefore = m_casesAdded;
    const int chargesBefore = m_chargesPosted;
    conn.beginTransaction();
    try {
        if (needCase)
            addCase();
        for (const Charge& c : charges)
            AddCharge(c.code, c.description, c.expiry, c.cents);
        conn.commit();
    } catch (...) {
        conn.rollback();
        discardPending();
        // Nothing of this account was stored: its lines go too.
        m_log.erase(m_log.begin() + logMark, m_log.end());
        m_casesAdded = casesBefore;
        m_chargesPosted = chargesBefore;
        throw;
    }
}

void RenewalPosting::discardPending()
{
    // The practice tables go back to what is stored; a lost connection may
    // refuse even that, and the original error is the one to report.
    for (Db::Table* t : {m_data.tblMWCAS}) {
        try {
            if (t->isOpen() && t->state() != Db::DataSetState::Browse)
                t->cancel();
        } catch (...) {
        }
    }
    try {
        if (m_data.tblMWCAS->isOpen())
            m_data.tblMWCAS->first();
    } catch (...) {
    }
}

void RenewalPosting::addCase()
{
    Db::Table& cas = *m_data.tblMWCAS;
    cas.append();
    for (const Default& d : std::as_const(m_defaults)) {
        if (d.table != QLatin1String("MWCAS"))
            continue;
        if (d.field == QLatin1String("Case Number"))
            continue;  // the database numbers the case
        if (d.field == QLatin1String("Guarantor"))
            cas.fieldByName(d.field).setValue(m_mode == Mode::Dealer ? m_dealerChart : m_chart);
        else if (d.field == QLatin1String("Billing Code"))
            cas.fieldByName(d.field).setValue(QStringLiteral("E1"));
        else if (d.field == QLatin1String("Chart Number"))
            cas.fieldByName(d.field).setValue(m_chart);
        else if (d.field == QLatin1String("Assigned Provider") && m_mode == Mode::Dealer)
            cas.fieldByName(d.field).setValue(m_dealerProvider);
        else
            cas.fieldByName(d.field).setValue(d.value);  // a column the table lacks is an error
    }
    cas.fieldByName(QStringLiteral("Description")).setValue(QStringLiteral("Kestrelpoint"));
    cas.fieldByName(QStringLiteral("Date Created")).setValue(m_today);
    cas.fieldByName(QStringLiteral("Date Modified")).setValue(m_now);
    cas.post();
    // The new case is the current one, without charges yet.
    m_existing.clear();
    ++m_casesAdded;
    m_log << QStringLiteral("Added Case for Chart: ") + m_chart;
}

bool RenewalPosting::isDuplicate(const QString& code, const QDate& expiry) const
{
    const QDate low = expiry.addDays(-kWindowDays);
    const QDate high = expiry.addDays(kWindowDays);
    for (const auto& [existingCode, from] : m_existing) {
        if (existingCode == code && from.isValid() && low < from && from < high)
            return true;
    }
    return false;
}

void RenewalPosting::AddCharge(const QString& code, const QString& description, const QDate& expiry, qint64 cents)
{
    if (isDuplicate(code, expiry))
        return;

    Db::Table& cas = *m_data.tblMWCAS;
    const QVariant caseNumber = cas.fieldByName(QStringLiteral("Case Number")).value();
    const QVariant provider = cas.fieldByName(QStringLiteral("Assigned Provider")).value();
    const QVariant facility = cas.fieldByName(QStringLiteral("Facility")).value();
    const QVariant no(false), yes(true), zero(0);
    const QString now = m_now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QVariant values[kTrnCount] = {
        m_chart, caseNumber, zero, expiry, expiry, m_today.toString(QStringLiteral("yyMMdd")) + QStringLiteral("0000"),
        QStringLiteral("SN: %1 EXP: %2").arg(m_serial).arg(expiry.toString(QStringLiteral("MM-dd-yy"))),
        provider, code, QStringLiteral("A"), zero, zero, 1, zero,
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
        QStringLiteral("A"), QString(QLatin1String("")), QStringLiteral("T"), now, facility, description,
        zero, zero,
    };
    QSqlQuery& ins = *m_insertCharge;
    for (int i = 0; i < kTrnCount; ++i)
        ins.bindValue(i, bindable(i, values[i]));
    if (!ins.exec())
        throw sqlError(ins);
    m_existing.append({code, expiry});
    ++m_chargesPosted;
    m_log << QStringLiteral("Added Renewal ") + code + QLatin1Char(' ') + slashDate(expiry)
            + QStringLiteral(" for Chart: ") + m_chart;
}

} // namespace Billing
