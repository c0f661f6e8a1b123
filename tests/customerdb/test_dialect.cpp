// The SQL of both backends and the conversion of field values, without a
// database: stored query text as each backend gets it, names, column types,
// bound and order values, and values given by callers or read back.
#include "customerdb/Engine.h"

#include <QtTest>

using namespace Db;

Q_DECLARE_METATYPE(Db::Backend)
Q_DECLARE_METATYPE(Db::FieldType)

namespace {

const QDate kToday(2026, 12, 9);

FieldDef field(FieldType type, int size = 0)
{
    return FieldDef{QStringLiteral("F"), type, size, false};
}

const SqlDialect& sqlite() { return SqlDialect::of(Backend::SQLite); }
const SqlDialect& postgres() { return SqlDialect::of(Backend::PostgreSQL); }

QDateTime local(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

} // namespace

class TestDialect : public QObject {
    Q_OBJECT

private slots:
    void translate_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const auto L = Backend::SQLite;
        const auto P = Backend::PostgreSQL;

        QTest::newRow("sqlite today") << L << true << "CurDate()" << "date('2026-12-09')";
        QTest::newRow("sqlite today unpinned") << L << false << "curdate ( )" << "date(date('now','localtime'))";
        QTest::newRow("pg today") << P << true << "CurDate()" << "DATE '2026-12-09'";
        QTest::newRow("pg today unpinned") << P << false << "CURDATE()" << "CURRENT_DATE";
        // Every spacing of date arithmetic reads alike, adding and subtracting.
        int n = 0;
        for (const char* form : {"CurDate()+30", "CurDate() + 30", "CurDate ( ) +30", "curdate()\t+\n30"}) {
            QTest::addRow("sqlite plus %d", ++n) << L << true << form << "date('2026-12-09','+30 days')";
            QTest::addRow("pg plus %d", n) << P << true << form << "(DATE '2026-12-09' + 30)";
        }
        for (const char* form : {"CurDate()-30", "CurDate() - 30", "CurDate( )- 30"}) {
            QTest::addRow("sqlite minus %d", ++n) << L << true << form << "date('2026-12-09','-30 days')";
            QTest::addRow("pg minus %d", n) << P << true << form << "(DATE '2026-12-09' - 30)";
        }
        // Literals are data: nothing inside them changes.
        const QString literal = QStringLiteral("Select 'CurDate()', 'It''s', 'A\"B\"' From T");
        QTest::newRow("sqlite literals") << L << true << literal << literal;
        QTest::newRow("pg literals") << P << true << literal
                                     << "Select 'CurDate()', 'It''s', 'A\"B\"' From T";
        QTest::newRow("pg literal after quote") << P << true << "Where X = 'It''s CurDate()' And Y < CurDate()"
                                                << "Where X = 'It''s CurDate()' And Y < DATE '2026-12-09'";
        // PostgreSQL folds quoted names as quoteName does.
        QTest::newRow("pg quoted names") << P << true << "Select \"Chart Number\" From \"MWPAT\""
                                         << "Select \"chart number\" From \"mwpat\"";
        QTest::newRow("pg quote in quoted name") << P << true << "Select \"It's\", CurDate() From T Order By 1"
                                                 << "Select \"it's\", DATE '2026-12-09' From T Order By 1 NULLS FIRST";
        QTest::newRow("sqlite quoted names") << L << true << "Select \"Chart Number\" From \"MWPAT\""
                                             << "Select \"Chart Number\" From \"MWPAT\"";
        // PostgreSQL orders nulls first as SQLite does, at the top level only.
        QTest::newRow("pg order") << P << true << "Select A From T Order By A, B"
                                  << "Select A From T Order By A NULLS FIRST, B NULLS FIRST";
        QTest::newRow("pg order desc") << P << true << "Order By A desc, B\n"
                                       << "Order By A desc NULLS LAST, B NULLS FIRST\n";
        QTest::newRow("pg order tab desc") << P << true << "Order By Name\tDESC"
                                           << "Order By Name\tDESC NULLS LAST";
        QTest::newRow("pg order line desc") << P << true << "Order By Name\nDesc"
                                            << "Order By Name\nDesc NULLS LAST";
        QTest::newRow("pg order semicolon") << P << true << "Order By X;" << "Order By X NULLS FIRST;";
        QTest::newRow("pg order semicolon blanks") << P << true << "Order By X ;\n"
                                                   << "Order By X NULLS FIRST ;\n";
        QTest::newRow("pg order desc semicolon") << P << true << "Order By X Desc;"
                                                 << "Order By X Desc NULLS LAST;";
        QTest::newRow("pg order limit") << P << true << "Order By X Limit 5" << "Order By X NULLS FIRST Limit 5";
        QTest::newRow("pg order glued limit") << P << true << "Order By (X)Limit 5" << "Order By (X) NULLS FIRST Limit 5";
        // The addition goes right after the term, a word apart from the next.
        QTest::newRow("pg order nul term") << P << true << QString::fromUtf8("Order By\0Limit 5", 16)
                                           << QString::fromUtf8("Order By\0 NULLS FIRST Limit 5", 29);
        QTest::newRow("pg open literal") << P << true << "Order By X = 'a" << "Order By X = 'a";
        QTest::newRow("pg order kept") << P << true << "Order By X Nulls Last" << "Order By X Nulls Last";
        QTest::newRow("pg order descending name") << P << true << "Order By Xdesc" << "Order By Xdesc NULLS FIRST";
        QTest::newRow("pg subquery order") << P << true << "Select * From (Select A From T Order By A) q"
                                           << "Select * From (Select A From T Order By A) q";
        QTest::newRow("pg order in literal") << P << true << "Select 'Order By X' From T"
                                             << "Select 'Order By X' From T";
        QTest::newRow("sqlite order") << L << true << "Order By X;" << "Order By X;";
    }

    void translate()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, pinned);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(SqlDialect::of(backend).translateSql(sql, pinned ? kToday : QDate()), expected);
    }

    void namesAndTypes()
    {
        QCOMPARE(sqlite().quoteName(QStringLiteral("Chart Number")), QStringLiteral("\"Chart Number\""));
        QCOMPARE(postgres().quoteName(QStringLiteral("Chart Number")), QStringLiteral("\"chart number\""));
        QCOMPARE(sqlite().quoteName(QStringLiteral("A\"B")), QStringLiteral("\"A\"\"B\""));
        QCOMPARE(postgres().storedTableName(QStringLiteral("MWPAT")), QStringLiteral("mwpat"));
        QCOMPARE(sqlite().columnType(field(FieldType::Text, 10)), QStringLiteral("TEXT"));
        QCOMPARE(postgres().columnType(field(FieldType::Text, 10)), QStringLiteral("VARCHAR(10) COLLATE \"C\""));
        QCOMPARE(sqlite().columnType(field(FieldType::DateTime)), QStringLiteral("DATETIME"));
        QCOMPARE(postgres().columnType(field(FieldType::DateTime)), QStringLiteral("TIMESTAMP"));
        QCOMPARE(SqlDialect::objectName(QStringLiteral("MWCAS_Case Number")), QStringLiteral("mwcas_case_number"));
    }

    // Bound values and order keys: what each backend's column compares with.
    void boundAndOrderValues()
    {
        const FieldDef date = field(FieldType::Date);
        const FieldDef flag = field(FieldType::Boolean);
        const FieldDef number = field(FieldType::Integer);
        const FieldDef text = field(FieldType::Text, 5);
        QCOMPARE(sqlite().bindValue(date, QDate(2024, 2, 29)), QVariant(QStringLiteral("2024-02-29")));
        QCOMPARE(postgres().bindValue(date, QDate(2024, 2, 29)), QVariant(QDate(2024, 2, 29)));
        QCOMPARE(sqlite().bindValue(flag, true), QVariant(1));
        QCOMPARE(postgres().bindValue(flag, true), QVariant(true));
        QVERIFY(sqlite().bindValue(number, QVariant()).isNull());
        QCOMPARE(sqlite().orderValue(number, QVariant()), QVariant(qlonglong(-2147483649LL)));
        QCOMPARE(postgres().orderValue(date, QVariant()), QVariant(QDate(1, 1, 1)));
        QCOMPARE(sqlite().orderValue(date, QVariant()), QVariant(QString(QLatin1String(""))));
        QCOMPARE(postgres().orderValue(text, QStringLiteral("ABCDEFG ")), QVariant(QStringLiteral("ABCDE")));
        QCOMPARE(sqlite().orderValue(flag, QStringLiteral("no")), QVariant(0));
    }

    // Values given by callers: converted to the field's type, or refused.
    void givenValues_data()
    {
        QTest::addColumn<FieldType>("type");
        QTest::addColumn<QVariant>("given");
        QTest::addColumn<QVariant>("expected");  // invalid: refused
        const QVariant refused;
        const auto I = FieldType::Integer;
        const auto B = FieldType::Boolean;
        const auto D = FieldType::Date;
        const auto T = FieldType::DateTime;

        QTest::newRow("integer text") << I << QVariant(" 42 ") << QVariant(42);
        QTest::newRow("integer lowest") << I << QVariant("-2147483648") << QVariant(int(-2147483647 - 1));
        QTest::newRow("integer not a number") << I << QVariant("4x") << refused;
        QTest::newRow("integer beyond 32 bits text") << I << QVariant("3000000000") << refused;
        QTest::newRow("integer beyond 32 bits") << I << QVariant(qlonglong(3000000000LL)) << refused;
        QTest::newRow("integer fraction") << I << QVariant(2.5) << refused;
        QTest::newRow("boolean no") << B << QVariant("no") << QVariant(false);
        QTest::newRow("boolean 2") << B << QVariant("2") << QVariant(true);
        QTest::newRow("boolean padded TRUE") << B << QVariant(" TRUE ") << QVariant(true);
        QTest::newRow("boolean F") << B << QVariant("F") << QVariant(false);
        QTest::newRow("boolean other text") << B << QVariant("maybe") << refused;
        QTest::newRow("date") << D << QVariant("2024-02-29") << QVariant(QDate(2024, 2, 29));
        QTest::newRow("date with time") << D << QVariant("2024-02-29 10:00:00") << QVariant(QDate(2024, 2, 29));
        QTest::newRow("date February 30") << D << QVariant("2024-02-30") << refused;
        QTest::newRow("date February 30 with time") << D << QVariant("2024-02-30T10:00:00") << refused;
        QTest::newRow("date trailing text") << D << QVariant("2024-02-29xyz") << refused;
        QTest::newRow("instant T") << T << QVariant("2024-01-02T10:20:30") << QVariant(local(2024, 1, 2, 10, 20, 30));
        QTest::newRow("instant blank ms") << T << QVariant("2024-01-02 10:20:30.125")
                                          << QVariant(local(2024, 1, 2, 10, 20, 30, 125));
        QTest::newRow("instant Z") << T << QVariant("2024-01-02T10:20:30Z")
                                   << QVariant(QDateTime(QDate(2024, 1, 2), QTime(10, 20, 30), Qt::UTC).toLocalTime());
        QTest::newRow("instant date only") << T << QVariant("2024-01-02") << QVariant(local(2024, 1, 2, 0, 0, 0));
        QTest::newRow("instant February 30") << T << QVariant("2024-02-30 10:00:00") << refused;
    }

    void givenValues()
    {
        QFETCH(FieldType, type);
        QFETCH(QVariant, given);
        QFETCH(QVariant, expected);
        if (!expected.isValid()) {
            QVERIFY_THROWS_EXCEPTION(EngineError, toFieldValue(field(type), given));
            return;
        }
        const QVariant v = toFieldValue(field(type), given);
        if (type == FieldType::DateTime)
            QCOMPARE(v.toDateTime().toLocalTime(), expected.toDateTime());  // the same instant, shown locally
        else
            QCOMPARE(v, expected);
    }

    // Values read back from either database: nothing narrowed or guessed.
    void storedValues_data()
    {
        QTest::addColumn<FieldType>("type");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");  // invalid: read as null
        const QVariant none;
        const auto I = FieldType::Integer;
        const auto B = FieldType::Boolean;
        const auto D = FieldType::Date;
        const auto T = FieldType::DateTime;

        QTest::newRow("integer") << I << QVariant(qlonglong(7)) << QVariant(7);
        QTest::newRow("integer beyond 32 bits") << I << QVariant(qlonglong(3000000000LL))
                                                << QVariant(qlonglong(3000000000LL));
        QTest::newRow("boolean no") << B << QVariant("no") << QVariant(false);
        QTest::newRow("boolean 2") << B << QVariant("2") << QVariant(true);
        QTest::newRow("boolean padded TRUE") << B << QVariant(" TRUE ") << QVariant(true);
        QTest::newRow("boolean 0") << B << QVariant(qlonglong(0)) << QVariant(false);
        QTest::newRow("boolean other text") << B << QVariant("maybe") << none;
        QTest::newRow("date February 30") << D << QVariant("2024-02-30") << none;
        QTest::newRow("date") << D << QVariant("2024-02-29") << QVariant(QDate(2024, 2, 29));
        QTest::newRow("instant Z") << T << QVariant("2024-01-02T10:20:30Z")
                                   << QVariant(QDateTime(QDate(2024, 1, 2), QTime(10, 20, 30), Qt::UTC).toLocalTime());
        QTest::newRow("instant stored form") << T << QVariant("2024-01-02 10:20:30.125")
                                             << QVariant(local(2024, 1, 2, 10, 20, 30, 125));
    }

    void storedValues()
    {
        QFETCH(FieldType, type);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        const QVariant v = fromDb(field(type), stored);
        if (!expected.isValid())
            QVERIFY(v.isNull());
        else if (type == FieldType::DateTime)
            QCOMPARE(v.toDateTime().toLocalTime(), expected.toDateTime());
        else
            QCOMPARE(v, expected);
    }
};

QTEST_GUILESS_MAIN(TestDialect)
#include "test_dialect.moc"
