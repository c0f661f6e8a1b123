#pragma once
// Fresh databases for tests on the backend chosen by the environment
// variable TRELLANE_TEST_BACKEND ("sqlite", the default, or "postgres").
// SQLite databases are files in a temporary folder; PostgreSQL databases are
// created on the server that the test script started (libpq environment:
// PGHOST, PGPORT, PGUSER); the test script throws the whole server away.
#include "customerdb/Engine.h"

#include <QVariantMap>

namespace TestDb {

Db::Backend backend();
bool isPostgres();

// Settings of a new, empty database named after tag (unique per process);
// on SQLite the file is made when first connected.
Db::ConnectionSettings fresh(const QString& tag);

// Appends one record with the given field values to a table of conn.
void insertRow(Db::Connection* conn, const QString& table, const QVariantMap& values);

} // namespace TestDb
