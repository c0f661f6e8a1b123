#pragma once
// Shared set-up of the account tab tests: rows written straight into the
// test databases, and typed access to the tabs' controls by object name.
#include "customerdb/Engine.h"
#include "tests/support/TestDb.h"

#include <QTest>
#include <QVariantMap>
#include <QWidget>

namespace Fixture {

using TestDb::insertRow;

// The stored record of Registration with that number, as a field map.
inline QVariantMap account(Db::Connection* conn, int serial)
{
    Db::Table t(conn);
    t.setTableName(QStringLiteral("Registration"));
    t.setIndexFieldNames(QStringLiteral("SerialNumber"));
    t.open();
    QVariantMap out;
    if (!t.findKey({serial}))
        return out;
    for (const Db::FieldDef& f : t.fields())
        out.insert(f.name, t.fieldByName(f.name).value());
    return out;
}

template <typename T>
T* find(QWidget* tab, const char* name)
{
    T* w = tab->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("control %s not found", name);
    return w;
}

} // namespace Fixture
