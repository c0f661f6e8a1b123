#include "customerdb/FieldValues.h"

#include "customerdb/EngineError.h"

namespace Db {

QString rtrimmed(const QString& s)
{
    int n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
        --n;
    return s.left(n);
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
    default: {
        const QString s = v.toString().trimmed();
        if (s.isEmpty())
            return {};
        QDate d = QDate::fromString(s.left(10), Qt::ISODate);
        return d;
    }
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
        QString s = v.toString().trimmed();
        if (s.isEmpty())
            return {};
        s.replace(QLatin1Char('T'), QLatin1Char(' '));
        QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(kDateTimeFormat));
        if (!dt.isValid())
            dt = QDateTime::fromString(s.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!dt.isValid()) {
            const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
            if (d.isValid())
                dt = QDateTime(d, QTime(0, 0));
        }
        return dt;
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
    case FieldType::Integer:
        return QVariant(v.toInt());
    case FieldType::Boolean:
        return QVariant(v.toBool());
    case FieldType::Float:
    case FieldType::Currency:
        return QVariant(v.toDouble());
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
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok)
            throw EngineError(QStringLiteral("Invalid integer value for field %1").arg(f.name));
        return QVariant(static_cast<int>(n));
    }
    case FieldType::Boolean:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toLower();
            return QVariant(s == QLatin1String("true") || s == QLatin1String("t") || s == QLatin1String("1")
                            || s == QLatin1String("yes") || s == QLatin1String("y"));
        }
        return QVariant(v.toBool());
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
