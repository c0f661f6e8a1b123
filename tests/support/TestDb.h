#pragma once
// Fresh databases for tests on the backend chosen by the environment
// variable TRELLANE_TEST_BACKEND ("sqlite", the default, or "postgres").
// SQLite databases are files in a temporary folder; PostgreSQL databases are
// created on the server that the test script started (libpq environment:
// PGHOST, PGPORT, PGUSER); the test script throws the whole server away.
#include "customerdb/Engine.h"

namespace TestDb {

Db::Backend backend();
bool isPostgres();

// Settings of a new, empty database named after tag (unique per process).
Db::ConnectionSettings fresh(const QString& tag);

} // namespace TestDb
