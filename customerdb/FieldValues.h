#pragma once
// Conversion of field values: from what the database returns, and from what
// a caller gives, into the field's declared type.
#include "customerdb/Catalog.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

namespace Db {

// The text form of an instant in the database and in order keys: local time,
// no time zone.
inline constexpr char kDateTimeFormat[] = "yyyy-MM-dd HH:mm:ss.zzz";

// The text without its trailing blanks.
QString rtrimmed(const QString& s);

// A date or instant from a stored or given value; no date when the value is
// null or not one.
QDate toDate(const QVariant& v);
QDateTime toDateTime(const QVariant& v);

// A truth value from a stored or given value: true, t, yes, y or a number
// other than 0; false, f, no, n or 0 (any case, blanks around ignored).
// *ok is false for anything else.
bool toBoolean(const QVariant& v, bool* ok);

// Converts a value read from the database into the field's type.
QVariant fromDb(const FieldDef& f, const QVariant& v);

// Converts a value given by a caller into the field's type; text is cut to
// the field's width and loses its trailing blanks.
// A value that is not one of the field's type is an EngineError.
QVariant toFieldValue(const FieldDef& f, const QVariant& v);

} // namespace Db
