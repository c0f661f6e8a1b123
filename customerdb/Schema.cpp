#include "customerdb/Schema.h"

#include "customerdb/DataVersionName.h"

using namespace Db;

namespace CustomerDb {

namespace {

FieldDef text(const char* name, int size) { return {QString::fromLatin1(name), FieldType::Text, size, false}; }
FieldDef integer(const char* name) { return {QString::fromLatin1(name), FieldType::Integer, 0, false}; }
FieldDef boolean(const char* name) { return {QString::fromLatin1(name), FieldType::Boolean, 0, false}; }
FieldDef date(const char* name) { return {QString::fromLatin1(name), FieldType::Date, 0, false}; }
FieldDef dateTime(const char* name) { return {QString::fromLatin1(name), FieldType::DateTime, 0, false}; }
FieldDef floating(const char* name) { return {QString::fromLatin1(name), FieldType::Float, 0, false}; }
IndexDef index(const char* name, QStringList fields, bool unique = false)
{
    return {QString::fromLatin1(name), std::move(fields), unique};
}

TableDef registration()
{
    TableDef t;
    t.name = QStringLiteral("Registration");
    t.fields = {
        integer("SerialNumber"), text("ChartNumber", 8), text("RegisterName", 50), text("OtherName", 37),
        text("EDIVERSION", 20), text("DataVersion", 5), text("DealerCode", 10), text("VendorID", 15),
        text("ContactName", 40), text("Street1", 40), text("Street2", 40), text("City", 20),
        text("State", 3), text("ZipCode", 10), text("Phone", 15), text("Fax", 15),
        text("Email", 45), text("CoreProduct", 15), text("Specialty", 35), date("BirthDate"),
        text("Promotion", 64), floating("DealerPerClaim"), floating("DealerAnnual"), boolean("Agreement"),
        boolean("HasHCFA"), boolean("HasUB92"), boolean("HasNSF"), boolean("HasERA"),
        boolean("HasMX"), text("Authorization", 10), date("ExpiresProf"), date("ExpiresInst"),
        date("ExpiresERA"), date("ExpiresSV"), date("ExpiresNSF"), text("NOTES", 300),
        integer("CaseNumber"), boolean("IsMonthly"), date("Expires"),
    };
    t.indexes = {
        index("SERIALNUMBER", {QStringLiteral("SerialNumber")}, true),
        index("DEALERCODE", {QStringLiteral("DealerCode")}),
        index("REGISTERNAME", {QStringLiteral("RegisterName")}),
        index("OTHERNAME", {QStringLiteral("OtherName")}),
        index("PHONE", {QStringLiteral("Phone")}),
        index("FAX", {QStringLiteral("Fax")}),
        index("CHARTNUMBER", {QStringLiteral("ChartNumber")}),
        index("CITY", {QStringLiteral("City")}),
        index("STATE", {QStringLiteral("State")}),
        index("ZIPCODE", {QStringLiteral("ZipCode")}),
        index("DATAVERSION", {QStringLiteral("DataVersion")}),
        index("EDIVERSION", {QStringLiteral("EDIVERSION")}),
    };
    t.recordKey = QStringLiteral("SerialNumber");
    return t;
}

TableDef dealers()
{
    TableDef t;
    t.name = QStringLiteral("Dealers");
    t.fields = {
        text("DealerCode", 10), text("FirstName", 15), text("LastName", 20), text("Name", 64),
        text("Street1", 64), text("Street2", 64), text("City", 32), text("State", 2),
        text("ZipCode", 10), text("OfficePhone", 13), text("HomePhone", 13), text("CellPhone", 13),
        text("Fax", 13), text("Email", 35), text("VendorID", 15), text("ChartNumber", 8),
        text("Provider", 5), text("WebAddress", 64),
    };
    t.indexes = {
        index("DEALERCODE", {QStringLiteral("DealerCode")}, true),
        index("NAME", {QStringLiteral("Name")}),
        index("LASTNAME", {QStringLiteral("LastName")}),
        index("VENDORID", {QStringLiteral("VendorID")}),
    };
    t.recordKey = QStringLiteral("DealerCode");
    return t;
}

TableDef submitters()
{
    TableDef t;
    t.name = QStringLiteral("Submitters");
    t.fields = {
        integer("SerialNumber"), text("SubmitterID", 20), text("Clearinghouse", 10),
        text("ConnectionType", 25), text("IPAddress", 20), text("EDIVersion", 20),
        text("DataVersion", 5), text("PracticeName", 50), text("PracticePhone", 13),
        dateTime("Updated"), {QStringLiteral("MedisoftVersion"), FieldType::Text, 25, true},
    };
    t.indexes = {
        index("SERIALSUBMITTERCH", {QStringLiteral("SerialNumber"), QStringLiteral("SubmitterID"),
                                    QStringLiteral("Clearinghouse")}),
    };
    // Recorded with the account they belong to.
    t.recordKey = QStringLiteral("SerialNumber");
    return t;
}

TableDef requests()
{
    TableDef t;
    t.name = QStringLiteral("Requests");
    t.fields = {
        integer("SerialNumber"), text("RequestType", 15), text("RegisterName", 30), text("ContactName", 30),
        text("Street1", 40), text("Street2", 40), text("City", 15), text("State", 3),
        text("ZipCode", 10), text("Phone", 15), text("Fax", 15), text("Email", 45),
        text("CoreProduct", 15), boolean("Medicare"),
        boolean("Medicaid"), boolean("BlueCross"), boolean("Commercial"), text("Specialty", 35),
        text("Promotion", 64), dateTime("RequestDate"), boolean("HCFA"), boolean("UB92"),
        boolean("ERA"), boolean("SorvantaMX"), boolean("NSF"), text("DealerName", 27),
        text("DealerCode", 10), text("DealerPhone", 13), text("VendorID", 15),
    };
    t.indexes = {
        index("DEALERCODE", {QStringLiteral("DealerCode")}),
        index("REGISTERNAME", {QStringLiteral("RegisterName")}),
    };
    // A request has no key of its own: its row id names it.
    t.recordKey = QStringLiteral("_rid");
    return t;
}

} // namespace

const Catalog& catalog()
{
    static const Catalog c = [] {
        Catalog c;
        c.name = QStringLiteral("TrellaneEMC");
        c.schemaVersion = 1;
        c.tables = {registration(), dealers(), submitters(), requests()};
        return c;
    }();
    return c;
}

QStringList qryLastSerialSql()
{
    return {QStringLiteral("Select"), QStringLiteral(" Max(SerialNumber) LastSerial"),
            QStringLiteral("From Registration")};
}

QStringList qrySubIDSql()
{
    return {QStringLiteral("Select "),
            QStringLiteral(" reg.SerialNumber"),
            QStringLiteral("From Registration reg, Submitters subs"),
            QStringLiteral("Where"),
            QStringLiteral(" reg.SerialNumber = subs.SerialNumber"),
            QStringLiteral("and"),
            QStringLiteral(" subs.\"SubmitterID\" = :subid")};
}

QStringList qryVendorIDSql()
{
    return {QStringLiteral("Select *"), QStringLiteral("From Dealers"), QStringLiteral("Where"),
            QStringLiteral(" VendorID = :vid")};
}

QStringList qryDealerSql()
{
    return {QStringLiteral("Select * From Dealers"), QStringLiteral("Where"),
            QStringLiteral(" \"DealerCode\" = :cod")};
}

QStringList qryFutureRegsSql()
{
    return {
        QStringLiteral("Select"),
        QStringLiteral(" Reg.DealerCode,"),
        QStringLiteral(" Dealers.Name,"),
        QStringLiteral(" Reg.SerialNumber,"),
        QStringLiteral(" Reg.ChartNumber,"),
        QStringLiteral(" Reg.RegisterName,"),
        QStringLiteral(" Reg.OtherName,"),
        QStringLiteral(" ExpiresProf,"),
        QStringLiteral(" ExpiresInst,"),
        QStringLiteral(" ExpiresERA"),
        QStringLiteral("From Registration Reg"),
        QStringLiteral("Left outer join Dealers on Reg.DealerCode = Dealers.DealerCode"),
        QStringLiteral("Where"),
        QStringLiteral(" (((ExpiresProf > CurDate() +1) and(ExpiresProf < CurDate() + 61))"),
        QStringLiteral(" or ((ExpiresInst > CurDate() +1) and(ExpiresINST < CurDate() + 61))"),
        QStringLiteral(" or ((ExpiresERA > CurDate() +1) and(ExpiresERA < CurDate() + 61)))"),
        QStringLiteral(" and (Reg.DealerCode <> 'M' or Reg.DealerCode is null) "),
        QStringLiteral("Order By Reg.DealerCode, Reg.RegisterName"),
    };
}

QStringList qryFutureRegs2Sql()
{
    return {
        QStringLiteral("Select"),
        QStringLiteral(" Reg.ChartNumber,"),
        QStringLiteral(" Reg.DealerCode,"),
        QStringLiteral(" Dealers.Name,"),
        QStringLiteral(" Reg.SerialNumber,"),
        QStringLiteral(" Reg.RegisterName,"),
        QStringLiteral(" Reg.OtherName,"),
        QStringLiteral(" IsMonthly,"),
        QStringLiteral(" HasHCFA,"),
        QStringLiteral(" HasUB92,"),
        QStringLiteral(" HasERA,"),
        QStringLiteral(" ExpiresProf,"),
        QStringLiteral(" ExpiresInst,"),
        QStringLiteral(" ExpiresERA"),
        QStringLiteral("From Registration Reg"),
        QStringLiteral("Left outer join Dealers on Reg.DealerCode = Dealers.DealerCode"),
        QStringLiteral("Where"),
        QStringLiteral(" (((ExpiresProf > CurDate() +1) and(ExpiresProf < CurDate() + 75))"),
        QStringLiteral(" or ((ExpiresInst > CurDate() +1) and(ExpiresINST < CurDate() + 75))"),
        QStringLiteral(" or ((ExpiresERA > CurDate() +1) and(ExpiresERA < CurDate() + 75)))"),
        QStringLiteral(" and Reg.DealerCode = :dcode"),
        QStringLiteral("Order By Reg.DealerCode, Reg.RegisterName"),
        QString(),
    };
}

void setupRegistration(Table& t)
{
    t.setTableName(QStringLiteral("Registration.adt"));
    t.setIndexName(QStringLiteral("SERIALNUMBER"));
}

void setupDealers(Table& t)
{
    t.setTableName(QStringLiteral("Dealers"));
    t.setIndexFieldNames(QStringLiteral("DealerCode"));
}

void setupSubmitters(Table& t, Table& registration)
{
    t.setTableName(QStringLiteral("Submitters"));
    t.setIndexFieldNames(QStringLiteral("SerialNumber"));
    t.setMasterSource(&registration, {QStringLiteral("SerialNumber")}, {QStringLiteral("SerialNumber")});
    t.setOnCalcFields(submittersCalcFields);
}

void setupRequests(Table& t)
{
    t.setTableName(QStringLiteral("Requests"));
    t.setIndexName(QStringLiteral("REGISTERNAME"));
}

void submittersCalcFields(RecordAccess& rec)
{
    rec.setValue(QStringLiteral("MedisoftVersion"), DataVersionName(rec.asString(QStringLiteral("DataVersion"))));
}

} // namespace CustomerDb
