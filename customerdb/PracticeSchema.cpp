#include "customerdb/PracticeSchema.h"

using namespace Db;

namespace Practice {

namespace {

FieldDef text(const char* name, int size) { return {QString::fromLatin1(name), FieldType::Text, size, false}; }
FieldDef integer(const char* name) { return {QString::fromLatin1(name), FieldType::Integer, 0, false}; }
FieldDef boolean(const char* name) { return {QString::fromLatin1(name), FieldType::Boolean, 0, false}; }
FieldDef date(const char* name) { return {QString::fromLatin1(name), FieldType::Date, 0, false}; }
FieldDef dateTime(const char* name) { return {QString::fromLatin1(name), FieldType::DateTime, 0, false}; }
IndexDef index(const char* name, QStringList fields, bool unique = false)
{
    return {QString::fromLatin1(name), std::move(fields), unique};
}

TableDef mwpat()
{
    TableDef t;
    t.name = QStringLiteral("MWPAT");
    t.fields = {
        {QStringLiteral("Chart Number"), FieldType::Text, 8, false},
        {QStringLiteral("Last Name"), FieldType::Text, 20, false},
        {QStringLiteral("First Name"), FieldType::Text, 15, false},
        {QStringLiteral("Middle Initial"), FieldType::Text, 1, false},
        {QStringLiteral("Street 1"), FieldType::Text, 30, false},
        {QStringLiteral("Street 2"), FieldType::Text, 30, false},
        {QStringLiteral("City"), FieldType::Text, 20, false},
        {QStringLiteral("State"), FieldType::Text, 2, false},
        {QStringLiteral("Zip Code"), FieldType::Text, 10, false},
        {QStringLiteral("Phone 1"), FieldType::Text, 13, false},
        {QStringLiteral("Phone 2"), FieldType::Text, 13, false},
        {QStringLiteral("Phone 3"), FieldType::Text, 13, false},
        {QStringLiteral("Phone 4"), FieldType::Text, 13, false},
        {QStringLiteral("Phone 5"), FieldType::Text, 13, false},
        {QStringLiteral("Social Security Number"), FieldType::Text, 11, false},
        {QStringLiteral("Signature on File"), FieldType::Boolean, 0, false},
        {QStringLiteral("Patient Type"), FieldType::Text, 9, false},
        {QStringLiteral("Patient ID #2"), FieldType::Text, 15, false},
        {QStringLiteral("Sex"), FieldType::Text, 6, false},
        {QStringLiteral("Date of Birth"), FieldType::Date, 0, false},
        {QStringLiteral("Assigned Provider"), FieldType::Text, 5, false},
        {QStringLiteral("Country"), FieldType::Text, 10, false},
        {QStringLiteral("Date of Last Payment"), FieldType::Date, 0, false},
        {QStringLiteral("Last Payment Amount"), FieldType::Float, 0, false},
        {QStringLiteral("Patient Reference Balance"), FieldType::Float, 0, false},
        {QStringLiteral("Date Created"), FieldType::Date, 0, false},
        {QStringLiteral("Employment Status"), FieldType::Text, 12, false},
        {QStringLiteral("Employer"), FieldType::Text, 5, false},
        {QStringLiteral("Employee Location"), FieldType::Text, 6, false},
        {QStringLiteral("Employee Retirement Date"), FieldType::Date, 0, false},
        {QStringLiteral("Work Phone"), FieldType::Text, 13, false},
        {QStringLiteral("Work Extension"), FieldType::Text, 4, false},
        {QStringLiteral("SOF Date"), FieldType::Date, 0, false},
        {QStringLiteral("Billing Code"), FieldType::Text, 2, false},
        {QStringLiteral("Patient Indicator"), FieldType::Text, 10, false},
        {QStringLiteral("User Code"), FieldType::Text, 10, false},
        {QStringLiteral("Unique Health ID"), FieldType::Text, 10, false},
        {QStringLiteral("EMail"), FieldType::Text, 35, false},
        {QStringLiteral("Date Modified"), FieldType::DateTime, 0, false},
        {QStringLiteral("Contact Phone 1"), FieldType::Text, 13, false},
        {QStringLiteral("Contact Phone 2"), FieldType::Text, 13, false},
        {QStringLiteral("Contact Name"), FieldType::Text, 40, false},
        {QStringLiteral("Weight"), FieldType::Float, 0, false},
        {QStringLiteral("Weight Units"), FieldType::Text, 2, false},
        {QStringLiteral("Flag"), FieldType::Integer, 0, false},
        {QStringLiteral("Inactive"), FieldType::Boolean, 0, false},
        {QStringLiteral("In Collections"), FieldType::Boolean, 0, false},
        {QStringLiteral("Payment Plan"), FieldType::Text, 3, false},
        {QStringLiteral("Last Patient Payment Date"), FieldType::Date, 0, false},
        {QStringLiteral("Last Patient Payment Amount"), FieldType::Float, 0, false},
        {QStringLiteral("Followed Plan"), FieldType::Boolean, 0, false},
        {QStringLiteral("EntityType"), FieldType::Integer, 0, false},
        {QStringLiteral("Patient_Remainder_Balance"), FieldType::Currency, 0, false},
    };
    t.indexes = {
        index("PRIMARY", {QStringLiteral("Chart Number")}, true),
        index("ASSIGNED PROVIDER", {QStringLiteral("Assigned Provider")}),
        index("IDXNAME", {QStringLiteral("Last Name"), QStringLiteral("First Name")}),
        index("IDXPATID", {QStringLiteral("Patient ID #2")}),
        index("FULL NAME", {QStringLiteral("Last Name"), QStringLiteral("First Name"), QStringLiteral("Middle Initial"),
                            QStringLiteral("Chart Number")}),
        index("SSN", {QStringLiteral("Social Security Number")}),
        index("IDXFLAG", {QStringLiteral("Flag")}),
        index("LAST NAME", {QStringLiteral("Last Name")}),
        index("FIRST NAME", {QStringLiteral("First Name")}),
        index("MIDDLE INITIAL", {QStringLiteral("Middle Initial")}),
        index("PHONE 1", {QStringLiteral("Phone 1")}),
    };
    return t;
}

TableDef mwcas()
{
    TableDef t;
    t.name = QStringLiteral("MWCAS");
    t.fields = {
        integer("Case Number"), text("Chart Number", 8), text("Billing Code", 2), boolean("Case Closed"),
        text("Guarantor", 8), text("Assigned Provider", 5), text("Facility", 5), text("Description", 35),
        date("Date Created"), dateTime("Date Modified"),
        // Columns the practice's field defaults fill on a new case.
        text("Referring Provider", 5), text("Insurance Carrier 1", 5), text("Print Patient Statement", 5),
        text("Price Code", 1),
    };
    t.indexes = {
        index("CASE NUMBER", {QStringLiteral("Case Number")}, true),
        index("CHART NUMBER", {QStringLiteral("Chart Number")}),
    };
    t.autoNumberField = QStringLiteral("Case Number");
    return t;
}

TableDef mwtrn()
{
    TableDef t;
    t.name = QStringLiteral("MWTRN");
    t.fields = {
        {QStringLiteral("Chart Number"), FieldType::Text, 8, false},
        {QStringLiteral("Case Number"), FieldType::Integer, 0, false},
        {QStringLiteral("Claim Number"), FieldType::Integer, 0, false},
        {QStringLiteral("Date From"), FieldType::Date, 0, false},
        {QStringLiteral("Date To"), FieldType::Date, 0, false},
        {QStringLiteral("Document Number"), FieldType::Text, 10, false},
        {QStringLiteral("Description"), FieldType::Text, 60, false},
        {QStringLiteral("Attending Provider"), FieldType::Text, 5, false},
        {QStringLiteral("Procedure Code"), FieldType::Text, 10, false},
        {QStringLiteral("Transaction Type"), FieldType::Text, 1, false},
        {QStringLiteral("Visit Number"), FieldType::Integer, 0, false},
        {QStringLiteral("Visit Total in Series"), FieldType::Integer, 0, false},
        {QStringLiteral("Units"), FieldType::Integer, 0, false},
        {QStringLiteral("Minutes"), FieldType::Integer, 0, false},
        {QStringLiteral("Amount"), FieldType::Currency, 0, false},
        {QStringLiteral("Diagnosis 1"), FieldType::Boolean, 0, false},
        {QStringLiteral("Diagnosis 2"), FieldType::Boolean, 0, false},
        {QStringLiteral("Diagnosis 3"), FieldType::Boolean, 0, false},
        {QStringLiteral("Diagnosis 4"), FieldType::Boolean, 0, false},
        {QStringLiteral("Claim Item Rejected"), FieldType::Boolean, 0, false},
        {QStringLiteral("Accept Assignment 1"), FieldType::Boolean, 0, false},
        {QStringLiteral("Accept Assignment 2"), FieldType::Boolean, 0, false},
        {QStringLiteral("Accept Assignment 3"), FieldType::Boolean, 0, false},
        {QStringLiteral("Billed to Insured 1"), FieldType::Boolean, 0, false},
        {QStringLiteral("Billed to Insured 2"), FieldType::Boolean, 0, false},
        {QStringLiteral("Billed to Insured 3"), FieldType::Boolean, 0, false},
        {QStringLiteral("Guarantor Responsible"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 1 Responsible"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 2 Responsible"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 3 Responsible"), FieldType::Boolean, 0, false},
        {QStringLiteral("Attorney Responsible"), FieldType::Boolean, 0, false},
        {QStringLiteral("Attorney Paid"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 1 Paid"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 2 Paid"), FieldType::Boolean, 0, false},
        {QStringLiteral("Insurance 3 Paid"), FieldType::Boolean, 0, false},
        {QStringLiteral("Guarantor Paid"), FieldType::Boolean, 0, false},
        {QStringLiteral("Date Created"), FieldType::Date, 0, false},
        {QStringLiteral("Insurance 1 Amount Paid"), FieldType::Integer, 0, false},
        {QStringLiteral("Insurance 2 Amount Paid"), FieldType::Integer, 0, false},
        {QStringLiteral("Insurance 3 Amount Paid"), FieldType::Integer, 0, false},
        {QStringLiteral("Guarantor Amount Paid"), FieldType::Integer, 0, false},
        {QStringLiteral("Attorney Amount Paid"), FieldType::Integer, 0, false},
        {QStringLiteral("Adjustment Amount"), FieldType::Integer, 0, false},
        {QStringLiteral("Allowed Amount"), FieldType::Integer, 0, false},
        {QStringLiteral("CC Entry Number"), FieldType::Integer, 0, false},
        {QStringLiteral("Deposit ID"), FieldType::Integer, 0, false},
        {QStringLiteral("Check Number"), FieldType::Text, 15, false},
        {QStringLiteral("Unapplied Amount"), FieldType::Integer, 0, false},
        {QStringLiteral("Price Indicator"), FieldType::Text, 1, false},
        {QStringLiteral("Who Paid"), FieldType::Text, 10, false},
        {QStringLiteral("Documentation Type"), FieldType::Text, 1, false},
        {QStringLiteral("Date Modified"), FieldType::DateTime, 0, false},
        {QStringLiteral("Facility"), FieldType::Text, 5, false},
        {QStringLiteral("Procedure Description"), FieldType::Text, 60, false},
        {QStringLiteral("Statement Number"), FieldType::Integer, 0, false},
        {QStringLiteral("Quantity"), FieldType::Integer, 0, false},
    };
    t.indexes = {
        index("CHART CASE", {QStringLiteral("Chart Number"), QStringLiteral("Case Number")}),
    };
    return t;
}

TableDef mwdef()
{
    TableDef t;
    t.name = QStringLiteral("MWDEF");
    t.fields = {text("Table", 10), text("Field", 40), text("Default", 40)};
    t.indexes = {index("TABLE", {QStringLiteral("Table")})};
    return t;
}

} // namespace

const Catalog& catalog()
{
    static const Catalog c = [] {
        Catalog c;
        c.name = QStringLiteral("Medisoft");
        c.schemaVersion = 1;
        c.tables = {mwpat(), mwcas(), mwtrn(), mwdef()};
        // A console reads the practice's tables, updates patients (the
        // patient record update) and adds cases and charges (the posting).
        const QString select = QStringLiteral("SELECT");
        c.tables[0].consoleRights = {select, QStringLiteral("UPDATE")};
        c.tables[1].consoleRights = {select, QStringLiteral("INSERT")};
        c.tables[2].consoleRights = {select, QStringLiteral("INSERT")};
        c.tables[3].consoleRights = {select};
        return c;
    }();
    return c;
}

void setupMWPAT(Table& t)
{
    t.setTableName(QStringLiteral("MWPAT"));
    t.setIndexFieldNames(QStringLiteral("CHART NUMBER"));
}

void setupMWCAS(Table& t, DataSet& futureRegs2)
{
    t.setTableName(QStringLiteral("MWCAS"));
    t.setIndexFieldNames(QStringLiteral("Chart Number"));
    t.setFilter({{QStringLiteral("Billing Code"), QStringLiteral("E1")}, {QStringLiteral("Case Closed"), false}});
    t.setMasterSource(&futureRegs2, {QStringLiteral("ChartNumber")}, {QStringLiteral("Chart Number")});
}

void setupMWTRN(Table& t, Table& mwcas)
{
    t.setTableName(QStringLiteral("MWTRN"));
    t.setIndexFieldNames(QStringLiteral("Chart Number;Case Number"));
    t.setMasterSource(&mwcas, {QStringLiteral("Chart Number"), QStringLiteral("Case Number")},
                      {QStringLiteral("Chart Number"), QStringLiteral("Case Number")});
}

void setupMWDEF(Table& t)
{
    t.setTableName(QStringLiteral("MWDEF"));
    // No index: the rows come in the order they were stored.
    t.setIndexFieldNames(QString());
    t.setFilter({{QStringLiteral("Table"), QStringLiteral("MWCAS")}});
}

} // namespace Practice
