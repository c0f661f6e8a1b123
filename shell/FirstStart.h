#pragma once
// The first start on embedded databases that do not exist yet.
#include "customerdb/Engine.h"

#include <QString>

namespace FirstStart {

// The answers of the first-start question, in button order.
inline const QString kCreate = QStringLiteral("Create empty databases");
inline const QString kDemo = QStringLiteral("Load demo data");
inline const QString kQuit = QStringLiteral("Quit");

// When both databases are SQLite files and neither exists, asks "No customer
// database found in <folder>." and creates both, empty or with the demo data,
// or nothing. Creates nothing when either file exists: a half-present pair is
// the start-up's error to report. Returns false when the user chose Quit.
// Throws what creating the databases throws, after removing the files it made.
bool prepareDatabases(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice);

} // namespace FirstStart
