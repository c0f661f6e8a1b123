#pragma once
// Declared layouts: the fields, indexes and tables one database declares.
#include <QList>
#include <QString>
#include <QStringList>

namespace Db {

enum class FieldType { Integer, Text, Boolean, Date, DateTime, Float, Currency };

struct FieldDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;             // text width in characters; 0 for other types
    bool calculated = false;  // computed on fetch by the data set's calc function, never stored
};

struct IndexDef {
    QString name;
    QStringList fields;  // key fields, leading first
    bool unique = false;
};

struct TableDef {
    QString name;
    QList<FieldDef> fields;     // stored order
    QList<IndexDef> indexes;
    // An integer field the database fills when a row is posted without it
    // (a practice case's number); empty when none.
    QString autoNumberField;
    // The column whose value names a row in the record of changes (the
    // ChangeLog table): every insert, update and delete of the table is
    // recorded under it. Empty: the table's changes are not recorded.
    QString recordKey;
    // What a console may do with the table's rows (PostgreSQL privileges);
    // empty: SELECT, INSERT, UPDATE and DELETE.
    QStringList consoleRights;

    const FieldDef* field(const QString& name) const;  // case-insensitive
    const IndexDef* indexByName(const QString& name) const;
    // The index whose leading key fields are exactly the given list.
    const IndexDef* indexByFields(const QStringList& fields) const;
};

// The tables one database declares.
struct Catalog {
    QString name;  // "TrellaneEMC", "Medisoft"
    int schemaVersion = 1;
    QList<TableDef> tables;
    const TableDef* table(const QString& name) const;  // case-insensitive
    // Whether some table's changes are recorded (the database then holds
    // the ChangeLog table).
    bool recordsChanges() const;
};

} // namespace Db
