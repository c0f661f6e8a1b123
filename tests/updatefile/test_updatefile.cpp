#include "00HelperFiles/UpdateFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace UpdateFile;

namespace {

// The message of the UpdateFileError that f throws, or "<none>".
template <typename F>
QString failure(F f)
{
    try {
        f();
    } catch (const UpdateFileError& e) {
        return e.message();
    }
    return QStringLiteral("<none>");
}

QString outOfBounds(int index) { return QStringLiteral("List index out of bounds (%1)").arg(index); }

const QString kLine = QStringLiteral("FILE;TRELEDI.EXE;x;2;3;0;47;0;z");

} // namespace

class TestUpdateFile : public QObject {
    Q_OBJECT

private slots:
    void splitText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<bool>("keepEmpty");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("empty item kept") << "a;;b" << ";" << true << QStringList{"a", "", "b"};
        QTest::newRow("empty item dropped") << "a;;b" << ";" << false << QStringList{"a", "b"};
        QTest::newRow("leading empty") << ";a" << ";" << true << QStringList{"", "a"};
        QTest::newRow("trailing empty never") << "a;b;" << ";" << true << QStringList{"a", "b"};
        QTest::newRow("only separators") << ";;" << ";" << true << QStringList{"", ""};
        QTest::newRow("empty text") << "" << ";" << true << QStringList{};
        QTest::newRow("blanks stay") << " a ; b" << ";" << true << QStringList{" a ", " b"};
        QTest::newRow("long separator") << "a::b:c::" << "::" << true << QStringList{"a", "b:c"};
        QTest::newRow("case-sensitive") << "aXbxc" << "x" << true << QStringList{"aXb", "c"};
        QTest::newRow("empty separator") << "a;b" << "" << true << QStringList{"a;b"};
    }
    void splitText()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(bool, keepEmpty);
        QFETCH(QStringList, items);
        QStringList list{QStringLiteral("left over")};
        SplitText(text, separator, &list, keepEmpty);
        QCOMPARE(list, items);
    }

    void splitTextWithoutList()
    {
        QCOMPARE(failure([] { SplitText(QStringLiteral("a;b"), QStringLiteral(";"), nullptr, true); }),
                 QStringLiteral("Assertion failure (00HelperFiles/UpdateFile)"));
    }

    void lines_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("error");
        const QString l = kLine;
        QTest::newRow("NUL only") << QString(QChar(0)) << 0 << "<none>";
        QTest::newRow("CR LF, final end") << l + "\r\n" + l + "\r\n" << 2 << "<none>";
        QTest::newRow("LF, no final end") << l + "\n" + l << 2 << "<none>";
        QTest::newRow("lone CR") << l + "\r" + l + "\r" << 2 << "<none>";
        QTest::newRow("mixed ends") << l + "\r" + l + "\n" + l + "\r\n" + l << 4 << "<none>";
        QTest::newRow("NUL ends the text") << l + "\n" + l + QChar(0) + "\n\nrubbish" << 2 << "<none>";
        QTest::newRow("LF LF") << l + "\n\n" + l << 0 << outOfBounds(0);
        QTest::newRow("CR CR") << l + "\r\r" + l << 0 << outOfBounds(0);
        QTest::newRow("LF CR") << l + "\n\r" + l << 0 << outOfBounds(0);
        QTest::newRow("CR LF twice") << l + "\r\n\r\n" << 0 << outOfBounds(0);
        QTest::newRow("blank first line") << "\n" + l << 0 << outOfBounds(0);
        QTest::newRow("short line in the middle") << l + "\nFILE;X\n" + l << 0 << outOfBounds(2);
    }
    void lines()
    {
        QFETCH(QString, content);
        QFETCH(int, count);
        QFETCH(QString, error);
        int built = -1;
        QCOMPARE(failure([&] { built = TUpdateFile(QString(), content).Count(); }), error);
        if (error == QLatin1String("<none>"))
            QCOMPARE(built, count);
    }

    void recordFields()
    {
        const TUpdateFile f(QString(), kLine + "\r\n" + "file; TRELEDI.EXE;;3a;4.0;-1;+5;;c9;x;y;z");
        QCOMPARE(f.Count(), 2);
        const TUpdateRecord& r = f.GetRecord(0);
        QCOMPARE(r.Kind(), QStringLiteral("FILE"));
        QCOMPARE(r.FileName(), QStringLiteral("TRELEDI.EXE"));
        QCOMPARE(r.Column3(), QStringLiteral("x"));
        QCOMPARE(r.Major(), 2);
        QCOMPARE(r.Minor(), 3);
        QCOMPARE(r.Release(), 0);
        QCOMPARE(r.Build(), 47);
        QCOMPARE(r.Column8(), 0);
        QCOMPARE(r.Column9(), QStringLiteral("z"));
        QCOMPARE(r.Line(), kLine);

        const TUpdateRecord& s = f.GetRecord(1);
        QCOMPARE(s.Kind(), QStringLiteral("file"));
        QCOMPARE(s.FileName(), QStringLiteral(" TRELEDI.EXE"));
        QCOMPARE(s.Column3(), QString());
        QCOMPARE(s.Major(), 0);
        QCOMPARE(s.Minor(), 0);
        QCOMPARE(s.Release(), -1);
        QCOMPARE(s.Build(), 5);
        QCOMPARE(s.Column8(), 0);
        QCOMPARE(s.Column9(), QStringLiteral("c9"));
        QCOMPARE(s.Line(), QStringLiteral("file; TRELEDI.EXE;;3a;4.0;-1;+5;;c9;x;y;z"));
    }

    void fieldCount_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("two fields") << "FILE;X" << outOfBounds(2);
        QTest::newRow("eight fields") << "FILE;X;c;1;2;3;4;5" << outOfBounds(8);
        QTest::newRow("empty ninth at the end") << "FILE;X;c;1;2;3;4;5;" << outOfBounds(8);
        QTest::newRow("empty ninth, then a tenth") << "FILE;X;c;1;2;3;4;5;;t" << "<none>";
        QTest::newRow("only separators") << ";;;;;;;;;" << "<none>";
    }
    void fieldCount()
    {
        QFETCH(QString, line);
        QFETCH(QString, error);
        QCOMPARE(failure([&] { TUpdateRecord r(line); }), error);
    }

    void integerRule_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("leading blanks") << "   42" << 42;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("minus, blank before") << " -7" << -7;
        QTest::newRow("leading zeros") << "000000000000000000012" << 12;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << int(-2147483648LL);
        QTest::newRow("above max") << "2147483648" << 0;
        QTest::newRow("below min") << "-2147483649" << 0;
        QTest::newRow("huge") << "99999999999999999999999" << 0;
        QTest::newRow("trailing blank") << "42 " << 0;
        QTest::newRow("blank after sign") << "- 5" << 0;
        QTest::newRow("sign only") << "+" << 0;
        QTest::newRow("blanks only") << "   " << 0;
        QTest::newRow("letters") << "3a" << 0;
        QTest::newRow("decimal point") << "4.0" << 0;
        QTest::newRow("hex") << "0x10" << 0;
        QTest::newRow("Pascal hex") << "$10" << 0;
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xD9\xA3") << 0;
    }
    void integerRule()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QCOMPARE(TUpdateRecord(QStringLiteral("FILE;X;c;%1;0;0;0;0;z").arg(field)).Major(), value);
    }

    void getRecordRange()
    {
        const TUpdateFile f(QString(), kLine);
        const QString expected = QStringLiteral("Getkey index out of range");
        QCOMPARE(failure([&] { f.GetRecord(-1); }), expected);
        QCOMPARE(failure([&] { f.GetRecord(1); }), expected);
        QCOMPARE(f.GetRecord(0).Line(), kLine);
    }

    void readsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("updates.txt"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        // Bytes above 127 are single characters; a BOM is no BOM.
        out.write("\xEF\xBB\xBF" "FILE;CAF\xC9.EXE;x;1;2;3;4;5;z\r\nFILE;B;;1;1;1;1;1;;\r\n");
        out.close();

        const TUpdateFile f(path, QString());
        QCOMPARE(f.Count(), 2);
        QCOMPARE(f.GetRecord(0).Kind(), QStringLiteral("\u00EF\u00BB\u00BF" "FILE"));
        QCOMPARE(f.GetRecord(0).FileName(), QStringLiteral("CAF\u00C9.EXE"));
        QCOMPARE(f.GetRecord(1).Build(), 1);

        // Text, when given, wins over the file.
        QCOMPARE(TUpdateFile(path, kLine).Count(), 1);
        QCOMPARE(TUpdateFile(dir.filePath(QStringLiteral("missing.txt")), kLine).Count(), 1);

        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.close();
        QCOMPARE(TUpdateFile(path, QString()).Count(), 0);
    }

    void cannotOpen()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing.txt"));
        QFile probe(path);
        QVERIFY(!probe.open(QIODevice::ReadOnly));
        QCOMPARE(failure([&] { TUpdateFile f(path, QString()); }),
                 QStringLiteral("Cannot open file \"%1\". %2").arg(path, probe.errorString()));
        QVERIFY(!probe.errorString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateFile)
#include "test_updatefile.moc"
