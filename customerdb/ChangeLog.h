#pragma once
// The record of who changed what: the ChangeLog table, which the database
// fills in the transaction of every insert, update and delete of a recorded
// table (TableDef::recordKey), one row per set, changed or cleared field,
// and to which a billing run adds one entry. Reading it back, newest first.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace Db {

class Connection;

struct Change {
    QDateTime when;    // UTC
    QString who;       // PostgreSQL: the role the session logged in as; SQLite: the workstation's user
    QString table;     // "Registration", ...; "BillingRun" for a billing run
    QString key;       // the row's recordKey value; a billing run's dealer code
    QString action;    // "INSERT", "UPDATE", "DELETE"; "RUN"
    QString field;     // the field; a billing run's kind ("direct" or "reseller")
    QString oldValue;  // null where the field had no value
    QString newValue;  // null where it has none; a billing run's summary
};

// The columns a change is shown in ("When", "Who", "Change", "Field", "Old
// value", "New value"), and a change's texts for them: the time in local
// time, the action in words, a field of another table than mainTable named
// with its table ("Submitters.IPAddress"), a billing run as "direct run for
// M" with its summary as the new value.
QStringList changeColumns();
QStringList changeCells(const Change& c, const QString& mainTable);

// The login name of the user running this program.
QString workstationUser();

// The changes of the rows of the given tables recorded under key, newest
// first (by time, then by order of recording). Throws EngineError.
QList<Change> changesOf(Connection& conn, const QStringList& tables, const QString& key);
// Every billing run entry, newest first.
QList<Change> billingRuns(Connection& conn);

// Adds a billing run's entry: who ran it and when are taken by the
// database (PostgreSQL) or the connection (SQLite). kind is "direct" or
// "reseller", dealer the run's reseller code ("M" for direct).
void recordBillingRun(Connection& conn, const QString& kind, const QString& dealer, const QString& summary);

// Stops recording conn's changes while it lives (bulk loads of generated
// data; on PostgreSQL the owner's DDL, so to be held inside a transaction
// that the recording comes back in). Throws EngineError.
class RecordingSuspended {
public:
    explicit RecordingSuspended(Connection& conn);
    ~RecordingSuspended();
    RecordingSuspended(const RecordingSuspended&) = delete;
    RecordingSuspended& operator=(const RecordingSuspended&) = delete;
    // Records again; throws what that throws (the destructor swallows it).
    void resume();

private:
    Connection* m_conn;
};

} // namespace Db
