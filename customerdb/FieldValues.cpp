#include "customerdb/FieldValues.h"

#include "customerdb/EngineError.h"

#include <climits>

namespace Db {

QString rtrimmed(const QString& s)
{
    int n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
        --n;
    return s.left(n);
}

// A date in ISO form, alone or followed by a time of day; anything else
// (other text after it, a day the month does not have) is no date.
static QDate isoDate(const QString& s)
{
    if (s.size() < 10 || (s.size() > 10 && s.at(10) != QLatin1Char(' ') && s.at(10) != QLatin1Char('T')))
        return {};
    return QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
}

QDate toDate(const QVariant& v)
{
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate();
    case QMetaType::QDateTime:
        return v.toDateTime().date();
    default:
        return isoDate(v.toString().trimmed());
    }
}

QDateTime toDateTime(const QVariant& v)
{
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime();
    case QMetaType::QDate:
        return QDateTime(v.toDate(), QTime(0, 0));
    default: {
        const QString s = v.toString().trimmed();
        const QDate d = isoDate(s);
        if (!d.isValid())
            return {};
        if (s.size() == 10)
            return QDateTime(d, QTime(0, 0));
        // "T" or a blank before the time; an instant given in UTC ("Z") or
        // with an offset is the same instant in local time, as stored.
        QString iso = s;
        iso[10] = QLatin1Char('T');
        const QDateTime dt = QDateTime::fromString(iso, Qt::ISODateWithMs);
        if (!dt.isValid() || dt.date() != d)
            return {};
        return dt.timeSpec() == Qt::LocalTime ? dt : dt.toLocalTime();
    }
    }
}

bool toBoolean(const QVariant& v, bool* ok)
{
    *ok = true;
    if (v.isNull())
        return false;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("t") || s == QLatin1String("yes") || s == QLatin1String("y"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("f") || s == QLatin1String("no") || s == QLatin1String("n"))
            return false;
        const qlonglong n = s.toLongLong(ok);
        return *ok && n != 0;
    }
    default: {
        const double n = v.toDouble(ok);
        return *ok && n != 0;
    }
    }
}

// Converts a value read from the database into the field's type.
QVariant fromDb(const FieldDef& f, const QVariant& v)
{
    if (v.isNull())
        return QVariant();
    switch (f.type) {
    case FieldType::Text:
        return rtrimmed(v.toString());
    case FieldType::Integer: {
        // A stored number beyond 32 bits is kept whole.
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok)
            return QVariant(v.toInt());
        return n >= INT_MIN && n <= INT_MAX ? QVariant(int(n)) : QVariant(n);
    }
    case FieldType::Boolean: {
        bool ok = false;
        const bool b = toBoolean(v, &ok);
        return ok ? QVariant(b) : QVariant();
    }
    case FieldType::Float:
        return QVariant(v.toDouble());
    case FieldType::Currency:
        // Stored as exact decimal text (SQLite) or NUMERIC (PostgreSQL).
        return QVariant(double(qRound64(v.toDouble() * 100.0)) / 100.0);
    case FieldType::Date: {
        const QDate d = toDate(v);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case FieldType::DateTime: {
        const QDateTime d = toDateTime(v);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    }
    return v;
}

// Converts a value given by a caller into the field's type; text is cut to
// the field's width and loses its trailing blanks.
QVariant toFieldValue(const FieldDef& f, const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    switch (f.type) {
    case FieldType::Text: {
        QString s = v.typeId() == QMetaType::QDate ? v.toDate().toString(QStringLiteral("MM/dd/yyyy")) : v.toString();
        if (f.size > 0 && s.size() > f.size)
            s.truncate(f.size);
        return rtrimmed(s);
    }
    case FieldType::Integer: {
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed();
            if (s.isEmpty())
                return QVariant();
            bool ok = false;
            const int n = s.toInt(&ok);
            if (!ok)
                throw EngineError(QStringLiteral("'%1' is not a valid integer value for field %2").arg(s, f.name));
            return n;
        }
        // Integer columns hold 32 bits on every backend: a larger number or a
        // fraction is refused, never cut.
        bool ok = false;
        const double d = v.toDouble(&ok);
        const qlonglong n = v.toLongLong();
        if (!ok || n < INT_MIN || n > INT_MAX || double(n) != d)
            throw EngineError(QStringLiteral("'%1' is not a valid integer value for field %2").arg(v.toString(), f.name));
        return QVariant(static_cast<int>(n));
    }
    case FieldType::Boolean: {
        bool ok = false;
        const bool b = toBoolean(v, &ok);
        if (!ok)
            throw EngineError(QStringLiteral("'%1' is not a valid boolean value for field %2").arg(v.toString(), f.name));
        return QVariant(b);
    }
    case FieldType::Float:
    case FieldType::Currency: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            throw EngineError(QStringLiteral("'%1' is not a valid floating point value for field %2").arg(v.toString(), f.name));
        return d;
    }
    case FieldType::Date: {
        const QDate d = toDate(v);
        if (!d.isValid())
            throw EngineError(QStringLiteral("'%1' is not a valid date for field %2").arg(v.toString(), f.name));
        return d;
    }
    case FieldType::DateTime: {
        const QDateTime d = toDateTime(v);
        if (!d.isValid())
            throw EngineError(QStringLiteral("'%1' is not a valid date and time for field %2").arg(v.toString(), f.name));
        return d;
    }
    }
    return v;
}

} // namespace Db
