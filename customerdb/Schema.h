#pragma once
// The customer database (connTrellaneEMC): its four tables, their indexes and
// links, and the stored queries with their text exactly as stored.
#include "customerdb/Engine.h"

#include <QStringList>

namespace CustomerDb {

// Registration, Dealers, Submitters and Requests with their fields in stored
// order and their indexes (SERIALNUMBER is unique).
const Db::Catalog& catalog();

// The stored queries' text, one entry per stored line (trailing blanks kept).
QStringList qryLastSerialSql();
QStringList qrySubIDSql();
QStringList qryVendorIDSql();
QStringList qryDealerSql();
QStringList qryFutureRegsSql();
QStringList qryFutureRegs2Sql();

// Prepares the table components as the main window opens them: table name,
// starting index, and for Submitters its master link to Registration and its
// calculated MedisoftVersion.
void setupRegistration(Db::Table& t);
void setupDealers(Db::Table& t);
void setupSubmitters(Db::Table& t, Db::Table& registration);
void setupRequests(Db::Table& t);

// Computes Submitters.MedisoftVersion from DataVersion.
void submittersCalcFields(Db::RecordAccess& rec);

} // namespace CustomerDb
