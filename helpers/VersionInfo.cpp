#include "helpers/VersionInfo.h"

#include <QStringList>

#include <cstring>
#include <vector>

namespace Trellane::VersionInfo {

namespace {

[[noreturn]] void damaged(const char* what) { throw VersionInfoError(what); }

// Read-only view of a byte array with checked little- and big-endian reads.
// Offsets are 64-bit so that sums of two 32-bit file fields cannot wrap.
class Bytes {
public:
    explicit Bytes(const QByteArray& data)
        : m_data(reinterpret_cast<const unsigned char*>(data.constData()))
        , m_size(static_cast<quint64>(data.size()))
    {
    }

    quint64 size() const { return m_size; }
    bool has(quint64 offset, quint64 length) const { return offset <= m_size && length <= m_size - offset; }
    void need(quint64 offset, quint64 length, const char* what) const
    {
        if (!has(offset, length))
            damaged(what);
    }
    const unsigned char* at(quint64 offset) const { return m_data + offset; }

    quint64 read(quint64 offset, int width, bool bigEndian) const
    {
        need(offset, static_cast<quint64>(width), "read past the end of the data");
        quint64 v = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
            v |= static_cast<quint64>(m_data[offset + static_cast<quint64>(i)]) << shift;
        }
        return v;
    }
    quint16 u16(quint64 offset, bool bigEndian = false) const { return static_cast<quint16>(read(offset, 2, bigEndian)); }
    quint32 u32(quint64 offset, bool bigEndian = false) const { return static_cast<quint32>(read(offset, 4, bigEndian)); }
    quint64 u64(quint64 offset, bool bigEndian = false) const { return read(offset, 8, bigEndian); }

    QByteArray copy(quint64 offset, quint64 length) const
    {
        need(offset, length, "data past the end of the file");
        return QByteArray(reinterpret_cast<const char*>(m_data + offset), static_cast<qsizetype>(length));
    }

private:
    const unsigned char* m_data;
    quint64 m_size;
};

// ---- PE -------------------------------------------------------------------

constexpr quint32 kRtVersion = 16;
constexpr quint32 kVsVersionInfoId = 1;
constexpr quint32 kHighBit = 0x80000000u;

struct PeSection {
    quint64 virtualAddress;
    quint64 extent;   // bytes of the section present in the file
    quint64 rawOffset;
};

class PeImage {
public:
    explicit PeImage(const Bytes& b) : m_b(b) {}

    // nullopt when the file is not a PE image (a DOS-only program).
    std::optional<QByteArray> versionResource()
    {
        m_b.need(0, 0x40, "truncated DOS header");
        const quint64 peOffset = m_b.u32(0x3C);
        m_b.need(peOffset, 4 + 20, "PE header past the end of the file");
        if (std::memcmp(m_b.at(peOffset), "PE\0\0", 4) != 0)
            return std::nullopt;

        const quint64 coff = peOffset + 4;
        const quint32 sectionCount = m_b.u16(coff + 2);
        const quint64 optionalSize = m_b.u16(coff + 16);
        const quint64 optional = coff + 20;
        m_b.need(optional, optionalSize, "optional header past the end of the file");
        if (optionalSize < 2)
            damaged("optional header too small");

        quint64 countField = 0;
        quint64 directories = 0;
        switch (m_b.u16(optional)) {
        case 0x10b: countField = 92; directories = 96; break;   // PE32
        case 0x20b: countField = 108; directories = 112; break; // PE32+
        default: damaged("unknown optional header");
        }
        if (countField + 4 > optionalSize)
            damaged("optional header too small");
        const quint64 directoryCount = m_b.u32(optional + countField);
        constexpr quint64 kResourceDirectory = 2;
        if (directoryCount <= kResourceDirectory)
            return std::nullopt;
        const quint64 entry = directories + kResourceDirectory * 8;
        if (entry + 8 > optionalSize)
            damaged("data directories past the optional header");
        m_resourceRva = m_b.u32(optional + entry);
        if (m_resourceRva == 0 || m_b.u32(optional + entry + 4) == 0)
            return std::nullopt;

        const quint64 table = optional + optionalSize;
        m_b.need(table, quint64(sectionCount) * 40, "section table past the end of the file");
        for (quint32 i = 0; i < sectionCount; ++i) {
            const quint64 s = table + quint64(i) * 40;
            const quint64 virtualSize = m_b.u32(s + 8);
            const quint64 rawSize = m_b.u32(s + 16);
            // Bytes past the virtual size are file padding, not mapped.
            const quint64 extent = (virtualSize != 0 && virtualSize < rawSize) ? virtualSize : rawSize;
            m_sections.push_back({m_b.u32(s + 12), extent, m_b.u32(s + 20)});
        }

        // Resource tree: type -> name -> language -> data entry.
        const auto type = findEntry(0, [](quint32 id, int) { return id == kRtVersion; });
        if (!type)
            return std::nullopt;
        const quint32 names = subdirectory(*type);
        // The version library asks for the resource named 1; take the first
        // one when a file numbers it differently.
        auto name = findEntry(names, [](quint32 id, int) { return id == kVsVersionInfoId; });
        if (!name)
            name = findEntry(names, [](quint32, int index) { return index == 0; });
        if (!name)
            return std::nullopt;
        const auto language = findEntry(subdirectory(*name), [](quint32, int index) { return index == 0; });
        if (!language)
            return std::nullopt;
        if (*language & kHighBit)
            damaged("resource tree deeper than three levels");

        const quint64 dataEntry = fileOffset(m_resourceRva + *language, 16);
        const quint32 dataRva = m_b.u32(dataEntry);
        const quint32 dataSize = m_b.u32(dataEntry + 4);
        if (dataSize == 0)
            return std::nullopt;
        return m_b.copy(fileOffset(dataRva, dataSize), dataSize);
    }

private:
    // File offset of [rva, rva + length), which must lie inside one section.
    quint64 fileOffset(quint64 rva, quint64 length) const
    {
        for (const PeSection& s : m_sections) {
            if (rva < s.virtualAddress)
                continue;
            const quint64 delta = rva - s.virtualAddress;
            if (delta >= s.extent || length > s.extent - delta)
                continue;
            const quint64 offset = s.rawOffset + delta;
            m_b.need(offset, length, "section data past the end of the file");
            return offset;
        }
        damaged("address outside every section");
    }

    quint32 subdirectory(quint32 offsetField) const
    {
        if (!(offsetField & kHighBit))
            damaged("resource tree shallower than three levels");
        return offsetField & ~kHighBit;
    }

    // The OffsetToData field of the first entry of the directory at
    // directoryOffset (relative to the resource section) that matches.
    template <typename Match>
    std::optional<quint32> findEntry(quint32 directoryOffset, Match match) const
    {
        const quint64 rva = m_resourceRva + directoryOffset;
        const quint64 header = fileOffset(rva, 16);
        const quint64 count = quint64(m_b.u16(header + 12)) + m_b.u16(header + 14);
        const quint64 entries = fileOffset(rva + 16, count * 8);
        for (quint64 i = 0; i < count; ++i) {
            const quint32 nameField = m_b.u32(entries + i * 8);
            // Named entries (high bit set) never match an id.
            const quint32 id = (nameField & kHighBit) ? 0xFFFFFFFFu : nameField;
            if (match(id, static_cast<int>(i)))
                return m_b.u32(entries + i * 8 + 4);
        }
        return std::nullopt;
    }

    const Bytes& m_b;
    quint64 m_resourceRva = 0;
    std::vector<PeSection> m_sections;
};

// ---- ELF ------------------------------------------------------------------

std::optional<QByteArray> elfVersionSection(const Bytes& b)
{
    b.need(0, 16, "truncated ELF header");
    const unsigned char elfClass = *b.at(4);
    const unsigned char encoding = *b.at(5);
    if ((elfClass != 1 && elfClass != 2) || (encoding != 1 && encoding != 2))
        damaged("unknown ELF class or encoding");
    const bool is64 = elfClass == 2;
    const bool be = encoding == 2;

    const quint64 shoff = is64 ? b.u64(0x28, be) : b.u32(0x20, be);
    const quint64 entrySize = b.u16(is64 ? 0x3A : 0x2E, be);
    quint64 count = b.u16(is64 ? 0x3C : 0x30, be);
    quint64 namesIndex = b.u16(is64 ? 0x3E : 0x32, be);
    if (shoff == 0)
        return std::nullopt; // no section table
    if (entrySize < (is64 ? 64u : 40u))
        damaged("section header entry too small");

    struct Section {
        quint32 name, type;
        quint64 offset, size, link;
    };
    auto section = [&](quint64 index) {
        const quint64 h = shoff + index * entrySize;
        b.need(h, entrySize, "section header past the end of the file");
        Section s;
        s.name = b.u32(h, be);
        s.type = b.u32(h + 4, be);
        s.offset = is64 ? b.u64(h + 0x18, be) : b.u32(h + 0x10, be);
        s.size = is64 ? b.u64(h + 0x20, be) : b.u32(h + 0x14, be);
        s.link = b.u32(h + (is64 ? 0x28 : 0x18), be);
        return s;
    };

    // Many sections: the real count and string-table index sit in section 0.
    if (count == 0)
        count = section(0).size;
    if (namesIndex == 0xFFFF)
        namesIndex = section(0).link;
    if (count > b.size() / entrySize)
        damaged("section table larger than the file");
    if (namesIndex == 0)
        return std::nullopt; // sections without names
    if (namesIndex >= count)
        damaged("section name table index out of range");

    constexpr quint32 kNoBits = 8;
    const Section names = section(namesIndex);
    if (names.type == kNoBits)
        damaged("section name table has no data");
    b.need(names.offset, names.size, "section name table past the end of the file");

    static const char wanted[] = ".vsversion"; // with its terminating zero
    for (quint64 i = 0; i < count; ++i) {
        const Section s = section(i);
        if (s.name >= names.size || names.size - s.name < sizeof wanted)
            continue;
        if (std::memcmp(b.at(names.offset + s.name), wanted, sizeof wanted) != 0)
            continue;
        if (s.type == kNoBits)
            damaged("version section has no data");
        if (s.size == 0)
            return std::nullopt;
        return b.copy(s.offset, s.size);
    }
    return std::nullopt;
}

// ---- VS_VERSIONINFO -------------------------------------------------------

// One node of the version tree: WORD length, WORD value length, WORD type,
// zero-terminated UTF-16 key, padding to 32 bits, value, padding, children.
// Alignment counts from the start of the block.
struct Node {
    quint64 end = 0;
    quint16 valueLength = 0;
    quint16 type = 0; // 1: text (value length in characters), 0: binary (bytes)
    QString key;
    quint64 valueStart = 0;
    quint64 childrenStart = 0;
};

quint64 align4(quint64 v) { return (v + 3) & ~quint64(3); }

Node readNode(const Bytes& b, quint64 start, quint64 limit)
{
    if (start > limit || limit - start < 6)
        damaged("version node header past its parent");
    Node n;
    const quint64 length = b.u16(start);
    if (length < 6)
        damaged("version node shorter than its header");
    if (length > limit - start)
        damaged("version node longer than its parent");
    n.end = start + length;
    n.valueLength = b.u16(start + 2);
    n.type = b.u16(start + 4);
    quint64 pos = start + 6;
    for (;;) {
        if (n.end - pos < 2)
            damaged("version key without terminating zero");
        const quint16 ch = b.u16(pos);
        pos += 2;
        if (ch == 0)
            break;
        n.key.append(QChar(ch));
    }
    n.valueStart = align4(pos);
    const quint64 valueBytes = n.type == 1 ? quint64(n.valueLength) * 2 : n.valueLength;
    n.childrenStart = align4(n.valueStart + valueBytes);
    return n;
}

std::optional<Node> findChild(const Bytes& b, const Node& parent, const QString& key)
{
    quint64 pos = parent.childrenStart;
    // Fewer than a header's bytes left is trailing padding.
    while (pos < parent.end && parent.end - pos >= 6) {
        Node child = readNode(b, pos, parent.end);
        if (child.key.compare(key, Qt::CaseInsensitive) == 0)
            return child;
        pos = align4(child.end); // at least 8 bytes on: the walk ends
    }
    return std::nullopt;
}

QString stringValue(const Bytes& b, const Node& n)
{
    const quint64 maxChars = n.type == 1 ? n.valueLength : n.valueLength / 2u;
    QString text;
    quint64 pos = n.valueStart;
    for (quint64 i = 0; i < maxChars && pos < n.end && n.end - pos >= 2; ++i, pos += 2) {
        const quint16 ch = b.u16(pos);
        if (ch == 0)
            break;
        text.append(QChar(ch));
    }
    return text;
}

} // namespace

std::optional<QByteArray> findVersionResource(const QByteArray& file)
{
    const Bytes b(file);
    if (b.has(0, 2) && std::memcmp(b.at(0), "MZ", 2) == 0) {
        PeImage pe(b);
        return pe.versionResource();
    }
    if (b.has(0, 4) && std::memcmp(b.at(0), "\x7F" "ELF", 4) == 0)
        return elfVersionSection(b);
    return std::nullopt;
}

std::optional<QString> queryStringValue(const QByteArray& block, const QString& path)
{
    const Bytes b(block);
    Node node = readNode(b, 0, b.size());
    const QStringList keys = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& key : keys) {
        std::optional<Node> child = findChild(b, node, key);
        if (!child)
            return std::nullopt;
        node = std::move(*child);
    }
    return stringValue(b, node);
}

VersionStrings parseVersionStrings(const QByteArray& block)
{
    VersionStrings v;
    v.fileVersion = queryStringValue(block, QStringLiteral("StringFileInfo\\040904E4\\FileVersion"));
    v.productVersion = queryStringValue(block, QStringLiteral("StringFileInfo\\040904E4\\ProductVersion"));
    return v;
}

} // namespace Trellane::VersionInfo
