#include "admin/DemoData.h"

#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"
#include "helpers/Platform.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantMap>

using Db::Table;

namespace DemoData {

namespace {

// Writes the given values into a new record of t and posts it.
void add(Table& t, const QVariantMap& values)
{
    t.append();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        t.fieldByName(it.key()).setValue(it.value());
    t.post();
}

void wipe(Db::Connection& conn)
{
    for (const Db::TableDef& t : conn.catalog().tables)
        conn.exec(QStringLiteral("DELETE FROM %1").arg(conn.quoteName(t.name)));
}

struct DealerRow {
    const char* code;
    const char* first;
    const char* last;
    const char* name;
    const char* city;
    const char* state;
    const char* vendor;
    const char* provider;
};

const DealerRow kDealers[] = {
    {"ACME", "JANET", "OKAFOR", "ACME MEDICAL SOFTWARE", "DAYTON", "OH", "V1001", "AC"},
    {"BAYSIDE", "LUIS", "FERREIRA", "BAYSIDE PRACTICE SYSTEMS", "TAMPA", "FL", "V1002", "BS"},
    {"CORAL", "ANNA", "LINDQVIST", "CORAL BILLING PARTNERS", "MOBILE", "AL", "V1003", "CR"},
    {"DELTA", "RAJ", "PATEL", "DELTA HEALTH IT", "MEMPHIS", "TN", "V1004", "DL"},
    {"EAGLE", "MARY", "O'NEILL", "EAGLE CLAIMS SERVICE", "BOISE", "ID", "", "EG"},
    {"M", "TRELLANE", "DIRECT", "TRELLANE DIRECT SALES", "AUSTIN", "TX", "V0000", "1"},
};

const char* const kPractices[] = {
    "RIVERSIDE FAMILY PRACTICE", "NORTHGATE PEDIATRICS",   "LAKEVIEW ORTHOPEDICS",  "SUMMIT CARDIOLOGY",
    "PINE HILL CHIROPRACTIC",    "HARBOR DERMATOLOGY",     "MAPLE STREET CLINIC",   "GREENFIELD PODIATRY",
    "BLUE RIDGE INTERNAL MED",   "CEDAR VALLEY OB GYN",    "OAKWOOD PHYSICAL THER", "SUNRISE FAMILY HEALTH",
    "WESTSIDE ALLERGY",          "MERIDIAN NEUROLOGY",     "CLEARWATER EYE CARE",   "HIGHLAND PSYCHIATRY",
    "BRIGHTON UROLOGY",          "FOXHOLLOW PEDIATRICS",   "GRANITE STATE ENT",     "WILLOW CREEK MEDICAL",
    "CANYON SPORTS MEDICINE",    "BAYVIEW ONCOLOGY",       "ELM GROVE FAMILY DOCS", "PRAIRIE RHEUMATOLOGY",
    "HILLCREST GASTRO",          "STONEBRIDGE PULMONARY",  "SILVER LAKE DENTAL",    "ASPEN AUDIOLOGY",
    "COASTAL NEPHROLOGY",        "REDWOOD PAIN CENTER",    "MAGNOLIA WOMENS HEALTH", "IRONWOOD SLEEP LAB",
    "LIBERTY URGENT CARE",       "BROOKSIDE ENDOCRINE",    "VALLEY HOME HEALTH",    "CRESCENT PLASTIC SURG",
};

const char* const kCities[] = {"DAYTON", "TAMPA", "MOBILE", "MEMPHIS", "BOISE", "AUSTIN", "Sioux Falls", "RENO"};
const char* const kStates[] = {"OH", "FL", "AL", "TN", "ID", "TX", "SD", "NV"};
const char* const kContacts[] = {"ALICE MONROE", "BEN CARTER", "CHLOE NGUYEN", "DAVID ROSS", "ELENA DIAZ", "FRANK WU"};

// Module expiry offsets in days from today; 0 marks "no date". The spread
// covers the past, today and tomorrow, the renewal windows' edges (2, 60,
// 61, 74, 75 days) and dates far ahead.
const int kExpiry[] = {-40, 0, 1, 2, 10, 25, 45, 59, 60, 61, 70, 74, 75, 120, 200, -5, 30, 0};

} // namespace

Summary load(Db::Connection& customer, Db::Connection& practice, bool reset)
{
    Summary s;
    const QVariant existing = customer.scalar(
        QStringLiteral("SELECT COUNT(*) FROM %1").arg(customer.quoteName(QStringLiteral("Registration"))));
    if (!reset && existing.toLongLong() > 0) {
        s.accounts = existing.toInt();
        return s;
    }
    const QDate today = Trellane::platform().today();
    const QDateTime now = Trellane::platform().now();

    customer.beginTransaction();
    practice.beginTransaction();
    try {
        if (reset) {
            wipe(customer);
            wipe(practice);
        }
        Table dealers(&customer);
        CustomerDb::setupDealers(dealers);
        dealers.open();
        int chart = 0;
        for (const DealerRow& d : kDealers) {
            add(dealers, {{QStringLiteral("DealerCode"), QString::fromLatin1(d.code)},
                          {QStringLiteral("FirstName"), QString::fromLatin1(d.first)},
                          {QStringLiteral("LastName"), QString::fromLatin1(d.last)},
                          {QStringLiteral("Name"), QString::fromLatin1(d.name)},
                          {QStringLiteral("Street1"), QStringLiteral("%1 COMMERCE PKWY").arg(100 + 17 * ++chart)},
                          {QStringLiteral("City"), QString::fromLatin1(d.city)},
                          {QStringLiteral("State"), QString::fromLatin1(d.state)},
                          {QStringLiteral("ZipCode"), QStringLiteral("%1").arg(30000 + 911 * chart)},
                          {QStringLiteral("OfficePhone"), QStringLiteral("555%1").arg(1000000 + 4321 * chart)},
                          {QStringLiteral("Fax"), chart % 2 ? QStringLiteral("555%1").arg(2000000 + 77 * chart) : QString()},
                          {QStringLiteral("Email"), QStringLiteral("sales@%1.example").arg(QString::fromLatin1(d.code).toLower())},
                          {QStringLiteral("VendorID"), QString::fromLatin1(d.vendor)},
                          {QStringLiteral("ChartNumber"), QStringLiteral("DLR%1").arg(chart, 5, 10, QLatin1Char('0'))},
                          {QStringLiteral("Provider"), QString::fromLatin1(d.provider)},
                          {QStringLiteral("WebAddress"), QStringLiteral("www.%1.example").arg(QString::fromLatin1(d.code).toLower())}});
            ++s.dealers;
        }

        Table reg(&customer);
        CustomerDb::setupRegistration(reg);
        reg.open();
        Table subs(&customer);
        subs.setTableName(QStringLiteral("Submitters"));
        subs.open();
        Table pat(&practice);
        Practice::setupMWPAT(pat);
        pat.open();
        // The resellers' own charts, the guarantors of their accounts' cases.
        for (int d = 0; d < int(std::size(kDealers)); ++d) {
            add(pat, {{QStringLiteral("Chart Number"), QStringLiteral("DLR%1").arg(d + 1, 5, 10, QLatin1Char('0'))},
                      {QStringLiteral("Last Name"), QString::fromLatin1(kDealers[d].name).left(20)},
                      {QStringLiteral("First Name"), QString::fromLatin1(kDealers[d].first)},
                      {QStringLiteral("City"), QString::fromLatin1(kDealers[d].city)},
                      {QStringLiteral("State"), QString::fromLatin1(kDealers[d].state)},
                      {QStringLiteral("Assigned Provider"), QString::fromLatin1(kDealers[d].provider)},
                      {QStringLiteral("Patient Type"), QStringLiteral("Guarantor")},
                      {QStringLiteral("Date Created"), today.addYears(-3)}});
            ++s.patients;
        }
        Table cas(&practice);
        cas.setTableName(QStringLiteral("MWCAS"));
        cas.open();
        Table trn(&practice);
        trn.setTableName(QStringLiteral("MWTRN"));
        trn.open();

        // Resellers in turn, with direct ("M") accounts and some without one.
        const QStringList resellers = {QStringLiteral("ACME"), QStringLiteral("BAYSIDE"), QStringLiteral("CORAL"),
                                       QStringLiteral("DELTA"), QStringLiteral("EAGLE"), QStringLiteral("M"),
                                       QStringLiteral("M"), QString()};
        const int nExpiry = int(std::size(kExpiry));
        const QStringList dataVersions = {QStringLiteral("17"), QStringLiteral("20"), QStringLiteral("22"),
                                          QStringLiteral("24"), QStringLiteral("26"), QStringLiteral("28"),
                                          QStringLiteral("16"), QString(), QStringLiteral("x1")};
        const QStringList clearinghouses = {QStringLiteral("CLAIMSNET"), QStringLiteral("ECLIPSE"),
                                            QStringLiteral("MEDAVANT"), QStringLiteral("AVAILITY")};
        for (int i = 0; i < int(std::size(kPractices)); ++i) {
            const int serial = i + 1;
            const QString code = resellers[i % resellers.size()];
            const QString chartNo = QStringLiteral("TRL%1").arg(serial, 5, 10, QLatin1Char('0'));
            const QString phone = QStringLiteral("555%1").arg(3000000 + 1237 * serial);
            const int k = i % nExpiry;
            auto expiry = [&](int offset) { return offset == 0 ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(offset)); };
            const QString vendor = code.isEmpty() ? QString()
                : QString::fromLatin1(kDealers[code == QLatin1String("M") ? 5 : resellers.indexOf(code)].vendor);
            add(reg, {{QStringLiteral("SerialNumber"), serial},
                      {QStringLiteral("ChartNumber"), chartNo},
                      {QStringLiteral("RegisterName"), QString::fromLatin1(kPractices[i])},
                      {QStringLiteral("OtherName"), i % 3 == 0 ? QStringLiteral("DR %1").arg(kContacts[i % 6]) : QString()},
                      {QStringLiteral("EDIVERSION"), QStringLiteral("4.%1.%2").arg(i % 4).arg(10 + i)},
                      {QStringLiteral("DataVersion"), dataVersions[i % dataVersions.size()]},
                      {QStringLiteral("DealerCode"), code},
                      {QStringLiteral("VendorID"), vendor},
                      {QStringLiteral("ContactName"), QString::fromLatin1(kContacts[i % 6])},
                      {QStringLiteral("Street1"), QStringLiteral("%1 MAIN ST").arg(200 + 13 * i)},
                      {QStringLiteral("Street2"), i % 4 == 0 ? QStringLiteral("SUITE %1").arg(100 + i) : QString()},
                      {QStringLiteral("City"), QString::fromLatin1(kCities[i % 8])},
                      {QStringLiteral("State"), QString::fromLatin1(kStates[i % 8])},
                      {QStringLiteral("ZipCode"), QStringLiteral("%1").arg(10000 + 2711 * serial)},
                      {QStringLiteral("Phone"), phone},
                      {QStringLiteral("Fax"), i % 2 ? QStringLiteral("555%1").arg(4000000 + 31 * serial) : QString()},
                      {QStringLiteral("Email"), QStringLiteral("office%1@practice.example").arg(serial)},
                      {QStringLiteral("CoreProduct"), i % 5 == 4 ? QStringLiteral("ALTAPOINT") : QStringLiteral("MEDISOFT")},
                      {QStringLiteral("Specialty"), QStringLiteral("GENERAL")},
                      {QStringLiteral("Agreement"), i % 3 != 1},
                      {QStringLiteral("HasHCFA"), i % 6 != 5},
                      {QStringLiteral("HasUB92"), i % 4 == 1},
                      {QStringLiteral("HasERA"), i % 3 == 0},
                      {QStringLiteral("HasNSF"), false},
                      {QStringLiteral("HasMX"), i % 7 == 2},
                      {QStringLiteral("Authorization"), i % 11 == 3 ? QStringLiteral("AUTH%1").arg(serial) : QString()},
                      {QStringLiteral("ExpiresProf"), expiry(kExpiry[k])},
                      {QStringLiteral("ExpiresInst"), i % 4 == 1 ? expiry(kExpiry[(k + 5) % nExpiry]) : expiry(0)},
                      {QStringLiteral("ExpiresERA"), i % 3 == 0 ? expiry(kExpiry[(k + 3) % nExpiry]) : expiry(0)},
                      {QStringLiteral("ExpiresSV"), expiry(0)},
                      {QStringLiteral("ExpiresNSF"), expiry(0)},
                      {QStringLiteral("IsMonthly"), i % 5 == 2},
                      {QStringLiteral("NOTES"), i % 6 == 0 ? QStringLiteral("Demo account.") : QString()}});
            ++s.accounts;

            // Submitter IDs as the customers' programs report them.
            for (int n = 0; n < (i % 3 == 2 ? 0 : 1 + i % 2); ++n) {
                add(subs, {{QStringLiteral("SerialNumber"), serial},
                           {QStringLiteral("SubmitterID"), QStringLiteral("S%1%2").arg(serial * 37 + 1000).arg(n ? "B" : "")},
                           {QStringLiteral("Clearinghouse"), clearinghouses[(i + n) % clearinghouses.size()]},
                           {QStringLiteral("ConnectionType"), n ? QStringLiteral("SFTP") : QStringLiteral("HTTPS")},
                           {QStringLiteral("IPAddress"), QStringLiteral("10.0.%1.%2").arg(i).arg(10 + n)},
                           {QStringLiteral("EDIVersion"), QStringLiteral("4.%1.%2").arg(i % 4).arg(10 + i)},
                           {QStringLiteral("DataVersion"), dataVersions[(i + n) % dataVersions.size()]},
                           {QStringLiteral("PracticeName"), QString::fromLatin1(kPractices[i])},
                           {QStringLiteral("PracticePhone"), phone},
                           {QStringLiteral("Updated"), now.addDays(-(i * 3 + n))}});
                ++s.submitters;
            }

            // Most accounts are patients of the vendor's own practice.
            if (i % 7 == 6)
                continue;
            const QStringList contact = QString::fromLatin1(kContacts[i % 6]).split(QLatin1Char(' '));
            add(pat, {{QStringLiteral("Chart Number"), chartNo},
                      {QStringLiteral("Last Name"), QString::fromLatin1(kPractices[i]).left(20)},
                      {QStringLiteral("First Name"), contact.value(0)},
                      {QStringLiteral("Street 1"), QStringLiteral("%1 MAIN ST").arg(200 + 13 * i)},
                      {QStringLiteral("City"), QString::fromLatin1(kCities[i % 8])},
                      {QStringLiteral("State"), QString::fromLatin1(kStates[i % 8]).left(2)},
                      {QStringLiteral("Zip Code"), QStringLiteral("%1").arg(10000 + 2711 * serial)},
                      {QStringLiteral("Phone 1"), phone},
                      {QStringLiteral("EMail"), QStringLiteral("office%1@practice.example").arg(serial)},
                      {QStringLiteral("Contact Name"), QString::fromLatin1(kContacts[i % 6])},
                      {QStringLiteral("Patient Type"), QStringLiteral("Patient")},
                      {QStringLiteral("Date Created"), today.addYears(-2).addDays(i)}});
            ++s.patients;

            // Cases: open "E1" cases with past charges, closed ones, and
            // cases under another billing code.
            const bool open = i % 3 == 0, closed = i % 5 == 1, other = i % 8 == 2;
            if (!open && !closed && !other)
                continue;
            add(cas, {{QStringLiteral("Chart Number"), chartNo},
                      {QStringLiteral("Billing Code"), other && !open ? QStringLiteral("A1") : QStringLiteral("E1")},
                      {QStringLiteral("Case Closed"), closed && !open},
                      {QStringLiteral("Guarantor"), chartNo},
                      {QStringLiteral("Assigned Provider"), QStringLiteral("1")},
                      {QStringLiteral("Description"), QStringLiteral("EMC SERVICES")},
                      {QStringLiteral("Date Created"), today.addYears(-1)},
                      {QStringLiteral("Date Modified"), now.addYears(-1)}});
            const int caseNumber = cas.fieldByName(QStringLiteral("Case Number")).asInteger();
            if (!open)
                continue;
            add(trn, {{QStringLiteral("Chart Number"), chartNo},
                      {QStringLiteral("Case Number"), caseNumber},
                      {QStringLiteral("Date From"), today.addDays(-330 + i)},
                      {QStringLiteral("Date To"), today.addDays(-330 + i)},
                      {QStringLiteral("Description"), QStringLiteral("EMC renewal")},
                      {QStringLiteral("Attending Provider"), QStringLiteral("1")},
                      {QStringLiteral("Procedure Code"), QStringLiteral("EMCPROF")},
                      {QStringLiteral("Transaction Type"), QStringLiteral("A")},
                      {QStringLiteral("Units"), 1},
                      {QStringLiteral("Amount"), 299.0},
                      {QStringLiteral("Date Created"), today.addDays(-330 + i)},
                      {QStringLiteral("Date Modified"), now.addDays(-330 + i)}});
        }

        Table def(&practice);
        def.setTableName(QStringLiteral("MWDEF"));
        def.open();
        // The practice's defaults for a new case, as its own setup stores
        // them (with one row of another table, which the billing reader skips).
        const QList<QStringList> defaults = {
            {QStringLiteral("MWCAS"), QStringLiteral("Case Number"), QStringLiteral("0")},
            {QStringLiteral("MWCAS"), QStringLiteral("Chart Number"), QString()},
            {QStringLiteral("MWCAS"), QStringLiteral("Guarantor"), QString()},
            {QStringLiteral("MWCAS"), QStringLiteral("Billing Code"), QStringLiteral("E1")},
            {QStringLiteral("MWCAS"), QStringLiteral("Assigned Provider"), QStringLiteral("1")},
            {QStringLiteral("MWCAS"), QStringLiteral("Facility"), QStringLiteral("MAIN")},
            {QStringLiteral("MWCAS"), QStringLiteral("Referring Provider"), QStringLiteral("RP1")},
            {QStringLiteral("MWCAS"), QStringLiteral("Insurance Carrier 1"), QStringLiteral("SELF")},
            {QStringLiteral("MWCAS"), QStringLiteral("Print Patient Statement"), QStringLiteral("Y")},
            {QStringLiteral("MWCAS"), QStringLiteral("Price Code"), QStringLiteral("A")},
            {QStringLiteral("MWPAT"), QStringLiteral("Patient Type"), QStringLiteral("Patient")},
        };
        for (const QStringList& d : defaults)
            add(def, {{QStringLiteral("Table"), d[0]}, {QStringLiteral("Field"), d[1]}, {QStringLiteral("Default"), d[2]}});

        // Requests waiting on the Requests tab.
        Table req(&customer);
        CustomerDb::setupRequests(req);
        req.open();
        const QStringList types = {QStringLiteral("REGISTRATION"), QStringLiteral("REGISTRATION"),
                                   QStringLiteral("RENEWAL"),      QStringLiteral("REGISTRATION"),
                                   QStringLiteral("UPGRADE"),      QStringLiteral("REGISTRATION"),
                                   QStringLiteral("CANCEL"),       QStringLiteral("REGISTRATION")};
        const char* const names[] = {"ORCHARD FAMILY MEDICINE", "QUARRY PEDIATRICS", "RIVERSIDE FAMILY PRACTICE",
                                     "TIMBERLINE CHIROPRACTIC", "SUMMIT CARDIOLOGY", "UNION SQUARE DERM",
                                     "HARBOR DERMATOLOGY", "VISTA PHYSICAL THERAPY"};
        for (int i = 0; i < types.size(); ++i) {
            const QString code = resellers[(i + 2) % resellers.size()];
            // Registration requests without a number (0 or empty), with a
            // free number and with one already in use; others name an account.
            QVariant serial = i + 1;
            if (types[i] == QLatin1String("REGISTRATION"))
                serial = i == 3 ? QVariant(900) : i == 5 ? QVariant() : i == 7 ? QVariant(12) : QVariant(0);
            add(req, {{QStringLiteral("SerialNumber"), serial},
                      {QStringLiteral("RequestType"), types[i]},
                      {QStringLiteral("RegisterName"), QString::fromLatin1(names[i])},
                      {QStringLiteral("ContactName"), QString::fromLatin1(kContacts[(i + 2) % 6])},
                      {QStringLiteral("Street1"), QStringLiteral("%1 OAK AVE").arg(40 + 9 * i)},
                      {QStringLiteral("City"), QString::fromLatin1(kCities[(i + 3) % 8])},
                      {QStringLiteral("State"), QString::fromLatin1(kStates[(i + 3) % 8])},
                      {QStringLiteral("ZipCode"), QStringLiteral("%1").arg(60000 + 123 * i)},
                      // The web form sends phone numbers as typed.
                      {QStringLiteral("Phone"), i % 2 ? QStringLiteral("(555)%1-%2").arg(500 + i).arg(1000 + 97 * i)
                                                      : QStringLiteral("555%1").arg(5000000 + 97 * i)},
                      {QStringLiteral("Email"), QStringLiteral("newoffice%1@practice.example").arg(i)},
                      {QStringLiteral("CoreProduct"), QStringLiteral("MEDISOFT")},
                      {QStringLiteral("Medicare"), i % 2 == 0},
                      {QStringLiteral("Medicaid"), i % 3 == 0},
                      {QStringLiteral("BlueCross"), i % 2 == 1},
                      {QStringLiteral("Commercial"), true},
                      {QStringLiteral("Specialty"), QStringLiteral("FAMILY PRACTICE")},
                      {QStringLiteral("Promotion"), i % 3 == 0 ? QStringLiteral("SPRING PROMO: FIRST MONTH FREE") : QString()},
                      {QStringLiteral("RequestDate"), now.addDays(-i)},
                      {QStringLiteral("HCFA"), true},
                      {QStringLiteral("UB92"), i % 4 == 1},
                      {QStringLiteral("ERA"), i % 2 == 0},
                      {QStringLiteral("SorvantaMX"), false},
                      {QStringLiteral("NSF"), false},
                      {QStringLiteral("DealerName"), code.isEmpty() ? QString() : QStringLiteral("RESELLER %1").arg(code)},
                      {QStringLiteral("DealerCode"), code},
                      {QStringLiteral("DealerPhone"), code.isEmpty() ? QString() : QStringLiteral("5551234567")},
                      {QStringLiteral("VendorID"), QString()}});
            ++s.requests;
        }
        customer.commit();
        practice.commit();
    } catch (...) {
        customer.rollback();
        practice.rollback();
        throw;
    }
    s.loaded = true;
    return s;
}

qint64 generate(Db::Connection& customer, qint64 n)
{
    const bool sqlite = customer.backend() == Db::Backend::SQLite;
    // Statements are written with {names}: column and table names in this
    // backend's spelling, and the backend's own expressions. (QString::arg
    // would read the printf formats as its own placeholders.)
    QHash<QString, QString> words;
    for (const char* name : {"Registration", "SerialNumber", "ChartNumber", "RegisterName", "OtherName", "DealerCode",
                             "DataVersion", "EDIVERSION", "City", "State", "ZipCode", "Phone", "Fax", "ContactName",
                             "ExpiresProf", "ExpiresInst", "ExpiresERA", "HasHCFA", "HasUB92", "HasERA", "Dealers", "Name", "VendorID", "Submitters", "SubmitterID",
                             "Clearinghouse"})
        words.insert(QString::fromLatin1(name), customer.quoteName(QString::fromLatin1(name)));
    // One random capital letter, drawn by the database.
    const QString letter = sqlite
        ? QStringLiteral("substr('ABCDEFGHIJKLMNOPQRSTUVWXYZ', 1 + abs(random()) % 26, 1)")
        : QStringLiteral("substr('ABCDEFGHIJKLMNOPQRSTUVWXYZ', 1 + floor(random() * 26)::int, 1)");
    words.insert(QStringLiteral("word"), QStringList(6, letter).join(QStringLiteral(" || ")));
    if (sqlite) {
        words.insert(QStringLiteral("phone"), QStringLiteral("printf('%010d', 5550000000 + i)"));
        words.insert(QStringLiteral("chart"), QStringLiteral("printf('G%07d', i)"));
        words.insert(QStringLiteral("zip"), QStringLiteral("printf('%05d', i % 100000)"));
        words.insert(QStringLiteral("expires"), QStringLiteral("date(%1, ((i % 400) - 100) || ' days')").arg(customer.todayExpression()));
        words.insert(QStringLiteral("expires2"), QStringLiteral("date(%1, (((i * 7) % 365) - 60) || ' days')").arg(customer.todayExpression()));
        words.insert(QStringLiteral("rows"), QStringLiteral("(WITH RECURSIVE n(i) AS (SELECT ? UNION ALL SELECT i + 1 "
                                                            "FROM n WHERE i < ?) SELECT i FROM n) g"));
        words.insert(QStringLiteral("t("), QStringLiteral("CAST(("));
        words.insert(QStringLiteral("flag"), QStringLiteral("CAST("));
        words.insert(QStringLiteral("/flag"), QStringLiteral(" AS INTEGER)"));
        words.insert(QStringLiteral(")t"), QStringLiteral(") AS TEXT)"));
    } else {
        words.insert(QStringLiteral("phone"), QStringLiteral("lpad((5550000000 + i)::text, 10, '0')"));
        words.insert(QStringLiteral("chart"), QStringLiteral("'G' || lpad(i::text, 7, '0')"));
        words.insert(QStringLiteral("zip"), QStringLiteral("lpad((i % 100000)::text, 5, '0')"));
        words.insert(QStringLiteral("expires"), QStringLiteral("%1 + ((i % 400) - 100)::int").arg(customer.todayExpression()));
        words.insert(QStringLiteral("expires2"), QStringLiteral("%1 + (((i * 7) % 365) - 60)::int").arg(customer.todayExpression()));
        words.insert(QStringLiteral("rows"), QStringLiteral("generate_series(?::bigint, ?::bigint) AS g(i)"));
        words.insert(QStringLiteral("t("), QStringLiteral("(("));
        words.insert(QStringLiteral("flag"), QString());
        words.insert(QStringLiteral("/flag"), QString());
        words.insert(QStringLiteral(")t"), QStringLiteral(")::text)"));
    }
    auto sql = [&](QString text) {
        for (auto it = words.cbegin(); it != words.cend(); ++it)
            text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
        return text;
    };

    // Filling a large table through its indexes costs far more than building
    // them afterwards: drop the account indexes for a big batch (inside the
    // transaction, so a failure brings them back) and let createSchema()
    // build them again from the sorted data.
    const bool rebuildIndexes = n >= 10000;
    customer.beginTransaction();
    try {
        // Generated rows are not changes anyone made: recording a field of
        // every one would cost more than the rows themselves.
        Db::RecordingSuspended unrecorded(customer);
        if (rebuildIndexes) {
            const QString list = sqlite
                ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Registration' "
                                 "AND (name LIKE 'ix!_%' ESCAPE '!' OR name LIKE 'uq!_%' ESCAPE '!')")
                : QStringLiteral("SELECT indexname FROM pg_indexes WHERE schemaname = current_schema() "
                                 "AND tablename = 'registration' "
                                 "AND (indexname LIKE 'ix!_%' ESCAPE '!' OR indexname LIKE 'uq!_%' ESCAPE '!')");
            QSqlQuery q(customer.database());
            if (!q.exec(list))
                throw Db::EngineError(q.lastError().text(), q.lastError().nativeErrorCode());
            QStringList names;
            while (q.next())
                names << q.value(0).toString();
            q.finish();
            for (const QString& ix : names)
                customer.exec(QStringLiteral("DROP INDEX %1").arg(customer.quoteName(ix)));
        }
        const qint64 base =
            customer.scalar(sql(QStringLiteral("SELECT COALESCE(MAX({SerialNumber}), 0) FROM {Registration}"))).toLongLong();
        // Every tenth account is billed directly ("M"), about one in a hundred
        // has no reseller. Terms run from 100 days past to 300 ahead
        // (Professional) and over a year (ERA for every third account,
        // Institutional for every fifth), so that about a fifth of the
        // accounts renew something in the next 60 days, as in an office whose
        // renewals spread over the year.
        customer.exec(sql(QStringLiteral(
                          "INSERT INTO {Registration} ({SerialNumber}, {ChartNumber}, {RegisterName}, {OtherName}, "
                          "{DealerCode}, {DataVersion}, {EDIVERSION}, {City}, {State}, {ZipCode}, {Phone}, {Fax}, "
                          "{ContactName}, {ExpiresProf}, {ExpiresInst}, {ExpiresERA}, {HasHCFA}, {HasUB92}, {HasERA}) "
                          "SELECT i, {chart}, {word} || ' MEDICAL', {word} || ' CLINIC', "
                          "CASE WHEN i % 10 = 0 THEN 'M' WHEN i % 97 = 5 THEN NULL ELSE 'D' || {t(}i % 20{)t} END, "
                          "{t(}17 + i % 12{)t}, '4.' || {t(}i % 30{)t}, 'CITY ' || {t(}i % 500{)t}, 'ST', {zip}, "
                          "{phone}, {phone}, 'GENERATED CONTACT', {expires}, "
                          "CASE WHEN i % 5 = 0 THEN {expires2} ELSE NULL END, "
                          "CASE WHEN i % 3 = 0 THEN {expires2} ELSE NULL END, {flag}(i % 8 <> 0){/flag}, "
                          "{flag}(i % 5 = 0){/flag}, {flag}(i % 3 = 0){/flag} FROM {rows}")),
                      {base + 1, base + n});

        // Resellers for the generated accounts, and submitter IDs for every tenth.
        for (int d = 0; d < 20; ++d) {
            const QString code = QStringLiteral("D%1").arg(d);
            if (customer.scalar(sql(QStringLiteral("SELECT COUNT(*) FROM {Dealers} WHERE {DealerCode} = ?")), {code}).toInt() == 0)
                customer.exec(sql(QStringLiteral("INSERT INTO {Dealers} ({DealerCode}, {Name}, {VendorID}) VALUES (?, ?, ?)")),
                              {code,
                               // A few resellers are companies whose names hold a comma.
                               d % 7 == 3 ? QStringLiteral("GENERATED DEALER %1, INC.").arg(d) : QStringLiteral("GENERATED DEALER %1").arg(d),
                               QStringLiteral("GV%1").arg(d)});
        }
        customer.exec(sql(QStringLiteral("INSERT INTO {Submitters} ({SerialNumber}, {SubmitterID}, {Clearinghouse}, "
                                         "{DataVersion}) SELECT i, 'G' || {t(}i{)t}, 'CLAIMSNET', {t(}17 + i % 12{)t} "
                                         "FROM {rows} WHERE i % 10 = 0")),
                      {base + 1, base + n});
        unrecorded.resume();
        customer.commit();
    } catch (...) {
        customer.rollback();
        throw;
    }
    if (rebuildIndexes) {
        customer.createSchema();
        if (!sqlite)
            customer.exec(sql(QStringLiteral("ANALYZE {Registration}")));
    }
    return customer.scalar(sql(QStringLiteral("SELECT COUNT(*) FROM {Registration}"))).toLongLong();
}

} // namespace DemoData
