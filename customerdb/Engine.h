#pragma once
// The database engine interface: connections, tables with declared layouts and
// indexes, keyset browsing and seeks, editing, master-detail links, calculated
// fields and parameterised queries, over Qt SQL on SQLite or PostgreSQL.
//
// No operation loads a whole table: every move reads a few rows by key
// ("keyset" queries on the current index, ties broken by the hidden row id).
//
// Callers include this header only; the pieces are, from the bottom up:
// EngineError, Catalog (declared layouts), FieldValues (conversion of
// values), SqlDialect (the SQL of each backend), Connection (with schema
// creation), ChangeLog (the record of changes), Access (what a session
// may use, roles), DataSet (with Record and Field), Table and Query.
#include "customerdb/Access.h"
#include "customerdb/Catalog.h"
#include "customerdb/ChangeLog.h"
#include "customerdb/Connection.h"
#include "customerdb/DataSet.h"
#include "customerdb/EngineError.h"
#include "customerdb/FieldValues.h"
#include "customerdb/Query.h"
#include "customerdb/SqlDialect.h"
#include "customerdb/Table.h"
