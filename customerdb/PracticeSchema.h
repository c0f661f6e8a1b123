#pragma once
// The practice database (connMedisoft): the four tables this system reads and
// writes, with their declared columns, indexes, filters and master links.
#include "customerdb/Engine.h"

namespace Practice {

// MWPAT (53 columns), MWCAS, MWTRN and MWDEF. Column names hold blanks and are
// matched without regard to case. MWCAS's "Case Number" is assigned by the
// database when a case is posted without one.
const Db::Catalog& catalog();

// Prepares the table components as the main window opens them.
void setupMWPAT(Db::Table& t);                        // index on "Chart Number"
void setupMWCAS(Db::Table& t, Db::DataSet& futureRegs2); // E1 open cases of the query's chart
void setupMWTRN(Db::Table& t, Db::Table& mwcas);      // transactions of the current case
void setupMWDEF(Db::Table& t);                        // the MWCAS defaults, table order

} // namespace Practice
