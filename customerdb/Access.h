#pragma once
// Who may use a database: what keeps a session from using its catalog
// (missing tables, fields, record of changes, rights), and on PostgreSQL the
// group role of the consoles and the staff logins in it.
#include <QString>
#include <QStringList>

namespace Db {

class Connection;

// The default name of the consoles' group role.
inline const QString kConsoleRole = QStringLiteral("trellane_console");

// What keeps conn's session from working with its catalog, one line each:
// missing tables and fields, a missing record of changes or recording
// trigger, and on PostgreSQL the rights the session's role lacks. Empty
// when the database is usable. Reads the database's catalog only.
QStringList accessProblems(Connection& conn);
// Throws an EngineError naming every problem and who mends them.
void requireUsable(Connection& conn);

// PostgreSQL: makes the group role (without login) when it does not exist
// and gives it what a console needs of conn's catalog and nothing more: the
// schema's use, the table rights the catalog declares, the tables' row
// numbering, reading the record of changes and adding a billing run to it.
// Throws EngineError.
void grantConsoleRole(Connection& conn, const QString& role);
// PostgreSQL: makes login a role that may log in when it does not exist
// (without a password: the administrator sets one), and a member of role.
// Returns what was done, for the administrator.
QString grantLogin(Connection& conn, const QString& login, const QString& role);
// PostgreSQL: takes login out of role; the login itself stays.
QString revokeLogin(Connection& conn, const QString& login, const QString& role);

} // namespace Db
