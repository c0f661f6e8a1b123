#include "customerdb/Catalog.h"

namespace Db {

const FieldDef* TableDef::field(const QString& n) const
{
    for (const FieldDef& f : fields)
        if (f.name.compare(n, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

const IndexDef* TableDef::indexByName(const QString& n) const
{
    for (const IndexDef& i : indexes)
        if (i.name.compare(n, Qt::CaseInsensitive) == 0)
            return &i;
    return nullptr;
}

const IndexDef* TableDef::indexByFields(const QStringList& wanted) const
{
    for (const IndexDef& i : indexes) {
        if (i.fields.size() != wanted.size())
            continue;
        bool same = true;
        for (int k = 0; k < wanted.size() && same; ++k)
            same = i.fields[k].compare(wanted[k].trimmed(), Qt::CaseInsensitive) == 0;
        if (same)
            return &i;
    }
    return nullptr;
}

const TableDef* Catalog::table(const QString& n) const
{
    QString wanted = n;
    // A table may be named with its file extension, as "Registration.adt".
    const int dot = wanted.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        wanted = wanted.left(dot);
    for (const TableDef& t : tables)
        if (t.name.compare(wanted, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

bool Catalog::recordsChanges() const
{
    for (const TableDef& t : tables)
        if (!t.recordKey.isEmpty())
            return true;
    return false;
}

} // namespace Db
