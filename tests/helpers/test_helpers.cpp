#include "helpers/Trellane.h"
#include "helpers/VersionInfo.h"
#include "tests/support/TestPlatform.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace Trellane;
using VersionInfo::VersionInfoError;

namespace {

const QString kPeDir = QStringLiteral(FIXTURE_PE_DIR);
const QString kUnableToFind = QStringLiteral("Unable to find ");
const QString kVersionError = QStringLiteral("Error, attempting to get file version.");

QString pe(const char* name) { return kPeDir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".dll"); }

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("fixture missing: %s", qPrintable(path));
    return f.readAll();
}

QByteArray utf16(const char* ascii)
{
    QByteArray out;
    for (const char* p = ascii; *p; ++p)
        out.append(*p).append('\0');
    return out;
}

void put(QByteArray& b, qsizetype at, quint64 value, int width, bool bigEndian = false)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char(value >> (8 * (bigEndian ? width - 1 - i : i)));
}

quint32 get32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }

// A minimal ELF image: header, the data of one section called name, the
// section name table, and three section headers (null, name, names).
struct Elf {
    QByteArray bytes;
    qsizetype headers; // offset of the section header table
    int entrySize;
    bool is64;
    bool bigEndian;
    qsizetype header(int index) const { return headers + index * entrySize; }
    void setOffset(int index, quint64 v) { put(bytes, header(index) + (is64 ? 0x18 : 0x10), v, is64 ? 8 : 4, bigEndian); }
};

Elf makeElf(bool is64, bool bigEndian, const QByteArray& name, const QByteArray& data)
{
    Elf e{QByteArray(is64 ? 64 : 52, '\0'), 0, is64 ? 64 : 40, is64, bigEndian};
    QByteArray& b = e.bytes;
    b.replace(0, 7, QByteArray("\x7F" "ELF") + char(is64 ? 2 : 1) + char(bigEndian ? 2 : 1) + char(1));
    const qsizetype dataAt = b.size();
    b.append(data);
    const qsizetype namesAt = b.size();
    const QByteArray names = QByteArray(1, '\0') + name + '\0' + ".shstrtab" + '\0';
    b.append(names);
    while (b.size() % 8)
        b.append('\0');
    e.headers = b.size();
    b.append(QByteArray(3 * e.entrySize, '\0'));
    const int w = is64 ? 8 : 4;
    put(b, is64 ? 0x28 : 0x20, quint64(e.headers), w, bigEndian);
    put(b, is64 ? 0x3A : 0x2E, quint64(e.entrySize), 2, bigEndian);
    put(b, is64 ? 0x3C : 0x30, 3, 2, bigEndian);
    put(b, is64 ? 0x3E : 0x32, 2, 2, bigEndian);
    const struct { quint32 name, type; qsizetype offset, size; } sections[] = {
        {1, 1, dataAt, data.size()},
        {quint32(name.size() + 2), 3, namesAt, names.size()},
    };
    for (int i = 0; i < 2; ++i) {
        const qsizetype h = e.header(i + 1);
        put(b, h, sections[i].name, 4, bigEndian);
        put(b, h + 4, sections[i].type, 4, bigEndian);
        put(b, h + (is64 ? 0x18 : 0x10), quint64(sections[i].offset), w, bigEndian);
        put(b, h + (is64 ? 0x20 : 0x14), quint64(sections[i].size), w, bigEndian);
    }
    return e;
}

} // namespace

class TestHelpers : public QObject {
    Q_OBJECT

    // The version block the build generated for the ELF fixture.
    QByteArray m_block;

private slots:
    void initTestCase()
    {
        const auto block = VersionInfo::findVersionResource(readAll(QStringLiteral(FIXTURE_ELF)));
        QVERIFY(block.has_value());
        m_block = *block;
    }

    void programDirectory_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("directory");
        QTest::newRow("windows") << "C:\\Apps\\Console\\console.exe" << "C:\\Apps\\Console\\";
        QTest::newRow("unix") << "/opt/trellane/TrellaneConsole" << "/opt/trellane/";
        QTest::newRow("root") << "/console" << "/";
        QTest::newRow("no separator") << "console.exe" << "";
    }
    void programDirectory()
    {
        QFETCH(QString, program);
        QFETCH(QString, directory);
        TestPlatform p;
        p.programPath = program;
        QCOMPARE(ProgramDirectory(), directory);
        // The console's own files stay beside it, unless it is installed
        // among the system's programs.
        QStandardPaths::setTestModeEnabled(true);
        QCOMPARE(LocalFilesDirectory(), directory);
        p.programPath = QStringLiteral("/usr/bin/tallyhouse");
        QCOMPARE(LocalFilesDirectory(),
                 QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/TrellaneEMC/"));
    }

    void filters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("spaces");
        QTest::addColumn<bool>("dashes");
        QTest::addColumn<bool>("plus");
        QTest::addColumn<QString>("kept");
        QTest::newRow("untouched phone") << "(   )   -    " << false << false << false << "";
        QTest::newRow("complete phone") << "(555)123-4567" << false << false << false << "5551234567";
        QTest::newRow("spaces kept, not trimmed") << " a  b " << true << false << false << " a  b ";
        QTest::newRow("dash without plus") << "A-B_C" << true << true << false << "ABC";
        QTest::newRow("ampersand name") << "Smith & Sons, Inc." << true << true << true << "Smith  Sons Inc";
        QTest::newRow("apostrophe, dash, underscore") << "O'Neil-Ray_Jr" << true << true << true << "ONeil-Ray_Jr";
        QTest::newRow("dash flag off") << "O'Neil-Ray_Jr" << true << false << true << "ONeilRayJr";
        QTest::newRow("non-ASCII dropped") << QString::fromUtf8("Zoë Müller ÅÉ 9") << true << true << true << "Zo Mller  9";
        QTest::newRow("tab is no space") << "a\tb" << true << true << true << "ab";
        QTest::newRow("empty") << "" << true << true << true << "";
    }
    void filters()
    {
        QFETCH(QString, text);
        QFETCH(bool, spaces);
        QFETCH(bool, dashes);
        QFETCH(bool, plus);
        QFETCH(QString, kept);
        QCOMPARE(plus ? KeepAlphaNumericPlus(text, spaces, dashes) : KeepAlphaNumeric(text, spaces), kept);
    }

    void versionStringsOfFixtures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileVersion");
        QTest::addColumn<QString>("productVersion");
        // "old" marks an entry that is absent and so keeps what it held.
        QTest::newRow("PE32+, US table after a German one") << pe("version_us") << "1.2.3.4" << "1.2 Gold";
        QTest::newRow("PE32") << pe("version_us32") << "1.2.3.4" << "1.2 Gold";
        QTest::newRow("table key in lower case") << pe("version_lowercase") << "3.0.0.12" << "old";
        QTest::newRow("German table only") << pe("version_german") << "old" << "old";
        QTest::newRow("PE without version") << pe("no_version") << "" << "";
        QTest::newRow("ELF with section") << QStringLiteral(FIXTURE_ELF) << "9.8.7.6" << "9.8 Gold";
        QTest::newRow("stripped ELF") << QStringLiteral(FIXTURE_ELF_STRIPPED) << "9.8.7.6" << "9.8 Gold";
        QTest::newRow("ELF without section") << QCoreApplication::applicationFilePath() << "" << "";
        QTest::newRow("text file") << QFINDTESTDATA("test_helpers.cpp") << "" << "";
    }
    void versionStringsOfFixtures()
    {
        QFETCH(QString, path);
        QFETCH(QString, fileVersion);
        QFETCH(QString, productVersion);
        TestPlatform p;
        QString fv = QStringLiteral("old");
        QString pv = QStringLiteral("old");
        ReadVersionStrings(path, fv, pv);
        QCOMPARE(fv, fileVersion);
        QCOMPARE(pv, productVersion);
        QCOMPARE(p.messages, QStringList());
        QCOMPARE(GetFileVersion(path), fileVersion == QLatin1String("old") ? QString() : fileVersion);
    }

    void getFileVersionOfRunningProgram()
    {
        TestPlatform p;
        p.programPath = QStringLiteral(FIXTURE_ELF_STRIPPED);
        QCOMPARE(GetFileVersion(), QStringLiteral("9.8.7.6"));
        QCOMPARE(GetFileVersion(QString()), QStringLiteral("9.8.7.6"));
        QVERIFY(p.messages.isEmpty());
    }

    void missingFileOrDirectory()
    {
        QTemporaryDir dir;
        for (const QString& path : {dir.filePath(QStringLiteral("missing.exe")), dir.path()}) {
            TestPlatform p;
            QString fv = QStringLiteral("old");
            QString pv = QStringLiteral("old");
            ReadVersionStrings(path, fv, pv);
            QCOMPARE(fv, QStringLiteral("old"));
            QCOMPARE(pv, QStringLiteral("old"));
            QCOMPARE(GetFileVersion(path), QString());
            QCOMPARE(p.messages, QStringList({kUnableToFind + path, kUnableToFind + path}));
        }
    }

    void damagedFileReportsError()
    {
        const QByteArray good = readAll(pe("version_us"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("truncated.exe"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(good.left(good.size() - 600)); // resource data cut off
        f.close();
        TestPlatform p;
        QString fv = QStringLiteral("old");
        QString pv = QStringLiteral("old");
        ReadVersionStrings(path, fv, pv);
        QCOMPARE(fv, QStringLiteral("old"));
        QCOMPARE(pv, QStringLiteral("old"));
        QCOMPARE(p.messages, QStringList({kVersionError}));
    }

    // Every cut of a PE either still holds the whole resource or is refused
    // as damaged; never a different block.
    void truncatedPeAtEveryLength()
    {
        for (const char* name : {"version_us", "version_us32"}) {
            const QByteArray good = readAll(pe(name));
            const QByteArray block = *VersionInfo::findVersionResource(good);
            int refused = 0;
            for (qsizetype n = 2; n < good.size(); ++n) {
                try {
                    const auto found = VersionInfo::findVersionResource(good.left(n));
                    QVERIFY2(found && *found == block, qPrintable(QStringLiteral("length %1").arg(n)));
                } catch (const VersionInfoError&) {
                    ++refused;
                }
            }
            QVERIFY(refused > 0);
        }
    }

    void damagedPeStructures()
    {
        const QByteArray good = readAll(pe("version_us"));
        const qsizetype peAt = get32(good, 0x3C);
        const qsizetype optional = peAt + 24;
        const qsizetype resourceDir = optional + 112 + 2 * 8; // PE32+
        const qsizetype sectionTable = optional + qFromLittleEndian<quint16>(good.constData() + peAt + 20);
        // The fixture's only section is .rsrc.
        QCOMPARE(good.mid(sectionTable, 5), QByteArray(".rsrc"));
        const qsizetype rsrc = get32(good, sectionTable + 20);
        QCOMPARE(get32(good, resourceDir), get32(good, sectionTable + 12));

        auto refused = [](const QByteArray& bytes) {
            try {
                VersionInfo::findVersionResource(bytes);
            } catch (const VersionInfoError&) {
                return true;
            }
            return false;
        };
        QByteArray b = good;
        put(b, 0x3C, 0xFFFFFFF0, 4);
        QVERIFY(refused(b)); // PE header past the end

        b = good;
        put(b, resourceDir, 0xFFFFFF00, 4);
        QVERIFY(refused(b)); // resource RVA outside every section

        b = good;
        put(b, peAt + 6, 0xFFFF, 2);
        QVERIFY(refused(b)); // section count past the end

        b = good;
        put(b, rsrc + 14, 0xFFFF, 2);
        QVERIFY(refused(b)); // entry count past the section

        // Type entry pointing back at the root directory: the walk is three
        // levels deep and ends, refusing the tree.
        b = good;
        QCOMPARE(get32(b, rsrc + 16), 16u);
        put(b, rsrc + 20, 0x80000000u, 4);
        QVERIFY(refused(b));

        // No RT_VERSION entry: no version, not damage.
        b = good;
        put(b, rsrc + 16, 17, 4);
        QVERIFY(!VersionInfo::findVersionResource(b).has_value());

        // Not PE at all behind the DOS header: no version.
        b = good;
        b[peAt] = 'N';
        QVERIFY(!VersionInfo::findVersionResource(b).has_value());
        QVERIFY(refused(QByteArray("MZ")));
    }

    void elfContainers()
    {
        for (bool is64 : {false, true}) {
            for (bool be : {false, true}) {
                const Elf e = makeElf(is64, be, ".vsversion", m_block);
                QCOMPARE(VersionInfo::findVersionResource(e.bytes).value_or(QByteArray()), m_block);
                // Same data under another name, or a name one letter longer.
                QVERIFY(!VersionInfo::findVersionResource(makeElf(is64, be, ".vsversio", m_block).bytes));
                QVERIFY(!VersionInfo::findVersionResource(makeElf(is64, be, ".vsversionx", m_block).bytes));
            }
        }
        auto refused = [](const QByteArray& bytes) {
            try {
                VersionInfo::findVersionResource(bytes);
            } catch (const VersionInfoError&) {
                return true;
            }
            return false;
        };
        Elf e = makeElf(true, false, ".vsversion", m_block);
        e.setOffset(1, quint64(e.bytes.size()) - 8);
        QVERIFY(refused(e.bytes)); // section data past the end
        e = makeElf(true, false, ".vsversion", m_block);
        e.setOffset(2, ~quint64(0) - 4);
        QVERIFY(refused(e.bytes)); // name table offset wraps around
        e = makeElf(true, false, ".vsversion", m_block);
        put(e.bytes, 0x3C, 0xFFFF, 2);
        QVERIFY(refused(e.bytes)); // more section headers than the file holds
        e = makeElf(false, true, ".vsversion", m_block);
        put(e.bytes, 0x32, 7, 2, true);
        QVERIFY(refused(e.bytes)); // name table index out of range
        e = makeElf(true, false, ".vsversion", m_block);
        put(e.bytes, 0x28, 0, 8);
        QVERIFY(!VersionInfo::findVersionResource(e.bytes)); // no section table
        QVERIFY(refused(e.bytes.left(10)));
    }

    void generatedBlockLayout()
    {
        // Root length covers the strings; the fixed info follows the key.
        QCOMPARE(qFromLittleEndian<quint16>(m_block.constData() + 2), quint16(52));
        QCOMPARE(m_block.mid(6, 30), utf16("VS_VERSION_INFO"));
        QCOMPARE(get32(m_block, 40), 0xFEEF04BDu);
        QCOMPARE(get32(m_block, 48), (9u << 16) | 8u); // file version MS
        QCOMPARE(get32(m_block, 52), (7u << 16) | 6u); // file version LS
        const auto translation = VersionInfo::queryStringValue(m_block, QStringLiteral("VarFileInfo\\Translation"));
        QVERIFY(translation.has_value());
        QCOMPARE(translation->size(), 2);
        QCOMPARE(translation->at(0).unicode(), char16_t(0x0409));
        QCOMPARE(translation->at(1).unicode(), char16_t(0x04E4));
    }

    void damagedVersionBlocks()
    {
        auto parse = [](const QByteArray& block) -> QString {
            try {
                const auto v = VersionInfo::parseVersionStrings(block);
                return v.fileVersion.value_or(QStringLiteral("<none>"));
            } catch (const VersionInfoError&) {
                return QStringLiteral("<damaged>");
            }
        };
        QCOMPARE(parse(m_block), QStringLiteral("9.8.7.6"));
        const qsizetype sfi = m_block.indexOf(utf16("StringFileInfo")) - 6;
        const qsizetype fv = m_block.indexOf(utf16("FileVersion")) - 6;
        const qsizetype fvValue = m_block.indexOf(utf16("9.8.7.6"));
        QVERIFY(sfi > 0 && fv > sfi && fvValue > fv);

        QByteArray b = m_block;
        put(b, 0, 0, 2);
        QCOMPARE(parse(b), QStringLiteral("<damaged>")); // zero length
        b = m_block;
        put(b, 0, 10, 2);
        QCOMPARE(parse(b), QStringLiteral("<damaged>")); // key runs past the node
        b = m_block;
        put(b, sfi, 0xFFFF, 2);
        QCOMPARE(parse(b), QStringLiteral("<damaged>")); // child longer than parent
        QCOMPARE(parse(m_block.left(4)), QStringLiteral("<damaged>"));
        QCOMPARE(parse(QByteArray()), QStringLiteral("<damaged>"));

        // A value length past the node, without terminating zero: the text
        // stops at the node's end.
        b = m_block;
        put(b, fv + 2, 0xFFFF, 2);
        put(b, fvValue + 14, 'X', 2);
        QCOMPARE(parse(b), QStringLiteral("9.8.7.6X"));
        // A renamed entry is simply absent.
        b = m_block;
        b[fv + 6] = 'f';
        QCOMPARE(parse(b), QStringLiteral("9.8.7.6")); // case does not matter
        b[fv + 6] = 'G';
        QCOMPARE(parse(b), QStringLiteral("<none>"));

        // No byte value anywhere in the block makes the parser misbehave.
        for (qsizetype i = 0; i < m_block.size(); ++i) {
            for (char v : {'\0', '\x01', '\x7F', '\xFF'}) {
                b = m_block;
                b[i] = v;
                parse(b);
            }
        }
    }
};

QTEST_MAIN(TestHelpers)
#include "test_helpers.moc"
