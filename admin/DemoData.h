#pragma once
// The demo data set a newcomer starts with, and large generated data sets for
// the benchmarks.
#include "customerdb/Engine.h"

namespace DemoData {

struct Summary {
    bool loaded = false;  // false: the database already held accounts
    int accounts = 0;
    int dealers = 0;
    int submitters = 0;
    int requests = 0;
    int patients = 0;
};

// Loads the demo set into both databases (schemas created beforehand) when
// the customer database has no accounts, or after emptying every table with
// reset. Dates are relative to today (Platform::today()), so that renewal
// lists and billing runs always find work.
Summary load(Db::Connection& customer, Db::Connection& practice, bool reset);

// Adds n generated accounts (and a few dealers and submitter IDs) by
// statements the database runs itself, in one transaction. Returns the
// number of accounts the table then holds.
qint64 generate(Db::Connection& customer, qint64 n);

} // namespace DemoData
