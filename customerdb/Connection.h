#pragma once
// A connection to one database of a declared catalog: opening and closing,
// statements, transactions, and creating or upgrading the declared schema.
#include "customerdb/Catalog.h"
#include "customerdb/EngineError.h"
#include "customerdb/SqlDialect.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace Db {

struct ConnectionSettings {
    Backend backend = Backend::SQLite;
    QString sqliteFile;   // SQLite: the database file
    QString pgService;    // PostgreSQL: libpq service name (password from libpq's password file)
    QString pgDatabase;   // PostgreSQL: database name overriding the service's, may be empty
    // SQLite: a missing file is made (the admin tool, tests); otherwise a
    // missing file is an error naming it, and nothing is made.
    bool createIfMissing = false;
    int busyTimeoutMs = 5000;  // SQLite: how long a write waits for another writer's lock
    // A server whose round trip takes at least this long is distant: a
    // move then reads the rows its grid will show with the record it moves
    // to. Near it, reading only what is asked is quicker. 0: always (the
    // tests, so that both ways are tried on a local server).
    double readAheadFromMs = 1.0;
};

class DataSet;

class Connection : public QObject {
    Q_OBJECT
public:
    Connection(const QString& name, const Catalog* catalog, QObject* parent = nullptr);
    ~Connection() override;

    void setSettings(const ConnectionSettings& s) { m_settings = s; }
    const ConnectionSettings& settings() const { return m_settings; }
    const Catalog& catalog() const { return *m_catalog; }
    QString name() const { return m_name; }
    // What messages call this database ("customer database").
    void setTitle(const QString& title) { m_title = title; }
    QString title() const { return m_title.isEmpty() ? m_name : m_title; }
    Backend backend() const { return m_settings.backend; }
    // The SQL of this connection's backend.
    const SqlDialect& dialect() const { return SqlDialect::of(m_settings.backend); }

    // Opens the connection (does nothing when open); throws EngineError.
    // A connection lost to the server is opened again (see reconnectIfLost).
    void connect();
    // Closes every table and query of this connection, then the connection.
    void disconnect();
    bool isConnected() const;

    // The Qt connection; every statement is made on it (or is one a table
    // keeps prepared), and each of those first calls the wait hook.
    QSqlDatabase database() const;

    // Called before a statement goes to any database, on the window's
    // thread: the console shows its busy cursor from here when an action
    // waits long. None by default (the admin tool, most tests).
    static void setWaitHook(void (*hook)());
    static void aboutToWait()
    {
        if (s_waitHook)
            s_waitHook();
    }

    // "Today" of the database: pinned by tests, else the server's date.
    void setPinnedToday(const QDate& d) { m_pinnedToday = d; }
    QDate pinnedToday() const { return m_pinnedToday; }
    // SQL expression of the database's current date.
    QString todayExpression() const;

    // Creates or upgrades the declared tables and indexes; idempotent.
    // Returns what could not be made (a unique index over values already
    // stored more than once, naming them).
    QStringList createSchema();
    // Schema version stored in the database, 0 when none.
    int storedSchemaVersion();

    // The user SQLite sessions record as the one who changed (see
    // ChangeLog.h); the workstation's user unless set. PostgreSQL records the
    // role the session logged in as.
    void setRecordingUser(const QString& user);
    QString recordingUser() const;
    // Makes the triggers that record the changes of the catalog's recorded
    // tables: on SQLite this session's, made whenever a session opens on a
    // database that holds the tables; on PostgreSQL the database's (the
    // schema owner's DDL, made by createSchema).
    void startRecording();

    // Quoted column or table name in this backend's spelling.
    QString quoteName(const QString& name) const;
    // Turns stored query text into this backend's dialect: CurDate() and
    // date arithmetic, quoted names.
    QString translateSql(const QString& sql) const;

    // Runs a statement with positional values; throws EngineError.
    void exec(const QString& sql, const QVariantList& values = {});
    // Runs a statement whose text is made for this one use (a block of rows
    // of any number) and returns its rows. On a server it is one round trip:
    // the values go into the text as literals, written by the driver as it
    // writes the values it binds, and nothing stays prepared. On SQLite it is
    // prepared and bound as usual. Throws EngineError.
    QList<QVariantList> execOnce(const QString& sql, const QVariantList& values = {});
    // A value as a literal of this connection's SQL, as the driver writes
    // it; a negative number in brackets (after a minus sign its own would
    // start a comment).
    QString literal(const QVariant& value) const;
    // Runs a statement and returns the first column of its first row.
    QVariant scalar(const QString& sql, const QVariantList& values = {});

    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

    // The engine error of a failed statement of this connection. When the
    // server has dropped the session (shut down, restarted, network gone)
    // the connection is marked lost, its open transaction is gone, and the
    // error says so; nothing is retried. A write refused because another
    // connection holds the database's write lock says that instead.
    EngineError failure(const QSqlError& e, const QString& context = QString());
    bool isLost() const { return m_lost; }
    // A server session whose round trip, as its first statement took,
    // reaches readAheadFromMs; never an embedded database.
    bool isDistant() const { return m_distant; }
    // Called before every action: a lost connection is opened again, every
    // open table and query of it prepares its statements afresh and reads
    // its current record again. While the server cannot be reached this
    // throws the lost-connection message and the connection stays lost.
    void reconnectIfLost();

    // Data sets register themselves so that disconnect closes them.
    void attach(DataSet* ds);
    void detach(DataSet* ds);

private:
    static inline void (*s_waitHook)() = nullptr;

    bool schemaVersionHasCatalog();
    QStringList storedTwice(const QString& table, const QStringList& columns);
    void openDatabase(QSqlDatabase& db);
    void recordSession();
    bool sessionGone(const QSqlError& e) const;
    void markLost(const QString& engineText);
    QString lostMessage() const;

    QString m_name;
    QString m_title;
    const Catalog* m_catalog;
    ConnectionSettings m_settings;
    QDate m_pinnedToday;
    QList<QPointer<DataSet>> m_dataSets;
    bool m_lost = false;
    bool m_reconnecting = false;
    QString m_lostText;            // the engine's text of the failure that lost it
    QString m_recordingUser;
    bool m_inTransaction = false;
    bool m_distant = false;
    bool m_transactionLost = false;  // a transaction went with the session: its commit must fail
};

} // namespace Db
