#pragma once
// The upcoming renewals file: every account not billed directly (reseller
// other than "M", or none) with a module expiring in the next 60 days, one
// comma-separated line each under a fixed header, every line ended by CR LF.
#include "customerdb/Engine.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace Billing {

QString exportHeader();

// A field as written: enclosed in double quotes, inner quotes doubled, when
// it holds a comma, a double quote, CR or LF; otherwise unchanged.
QString csvField(const QString& text);

// One line: the two names pass the character filter (letters, digits,
// blanks, "-" and "_"), dates are "mm/dd/yyyy" or empty.
QString exportLine(const QString& dealerCode, const QString& dealerName, qint64 serial, const QString& chart,
                   const QString& registerName, const QString& otherName, const QDate& prof, const QDate& inst,
                   const QDate& era, QChar dateSeparator = QLatin1Char('/'));

// The header and a line for every row of the export query, read as one
// result in the query's order.
QStringList exportLines(Db::Query& qryFutureRegs);

// Writes the lines, each ended by CR LF, in the workstation's encoding,
// replacing the file only once all of it is written; throws an EngineError
// with the reason when it cannot.
void writeLines(const QString& path, const QStringList& lines);

} // namespace Billing
