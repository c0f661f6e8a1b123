#include "00HelperFiles/UpdateFile.h"

#include <QFile>

#include <limits>

namespace UpdateFile {

namespace {

// The integer rule of the update list: optional leading blanks, an optional
// sign and decimal digits that fit a signed 32-bit integer. Anything else,
// the empty field included, reads 0.
qint32 toInt(const QString& field)
{
    qsizetype i = 0;
    const qsizetype n = field.size();
    while (i < n && field[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (field[i] == QLatin1Char('+') || field[i] == QLatin1Char('-'))) {
        negative = field[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return 0;
    const qint64 limit = negative ? -qint64(std::numeric_limits<qint32>::min()) : std::numeric_limits<qint32>::max();
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = field[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c - u'0');
        if (value > limit)
            return 0;
    }
    return static_cast<qint32>(negative ? -value : value);
}

// Lines end at CR LF, a lone LF or a lone CR; a line end after the last line
// adds no empty line; a NUL ends the text.
QStringList splitLines(const QString& content)
{
    qsizetype end = content.indexOf(QChar(0));
    if (end < 0)
        end = content.size();
    QStringList lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const QChar c = content[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            ++i;
            continue;
        }
        lines.append(content.mid(start, i - start));
        ++i;
        if (c == QLatin1Char('\r') && i < end && content[i] == QLatin1Char('\n'))
            ++i;
        start = i;
    }
    if (start < end)
        lines.append(content.mid(start, end - start));
    return lines;
}

QString readWholeFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw UpdateFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw UpdateFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    // Single-byte characters, no conversion: every byte is one character.
    return QString::fromLatin1(bytes);
}

} // namespace

void SplitText(const QString& text, const QString& separator, QStringList* list, bool keepEmpty)
{
    if (!list)
        throw UpdateFileError(QStringLiteral("Assertion failure (00HelperFiles/UpdateFile)"));
    list->clear();
    // An empty separator would match at every position without consuming
    // anything; the text then has no separator to cut at.
    if (separator.isEmpty()) {
        if (!text.isEmpty())
            list->append(text);
        return;
    }
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = text.indexOf(separator, start, Qt::CaseSensitive);
        if (at < 0)
            break;
        if (at > start || keepEmpty)
            list->append(text.mid(start, at - start));
        start = at + separator.size();
    }
    // The rest after the last separator only when it is not empty, even
    // with keepEmpty.
    if (start < text.size())
        list->append(text.mid(start));
}

TUpdateRecord::TUpdateRecord(const QString& line)
    : m_line(line)
{
    QStringList items;
    SplitText(line, QStringLiteral(";"), &items, true);
    auto item = [&items](int index) -> const QString& {
        if (index >= items.size())
            throw UpdateFileError(QStringLiteral("List index out of bounds (%1)").arg(index));
        return items[index];
    };
    m_kind = item(0);
    m_fileName = item(1);
    m_column3 = item(2);
    m_major = toInt(item(3));
    m_minor = toInt(item(4));
    m_release = toInt(item(5));
    m_build = toInt(item(6));
    m_column8 = toInt(item(7));
    m_column9 = item(8);
}

TUpdateFile::TUpdateFile(const QString& fileName, const QString& text)
{
    const QStringList lines = splitLines(text.isEmpty() ? readWholeFile(fileName) : text);
    m_records.reserve(static_cast<size_t>(lines.size()));
    for (const QString& line : lines)
        m_records.push_back(std::make_unique<TUpdateRecord>(line));
}

const TUpdateRecord& TUpdateFile::GetRecord(int index) const
{
    if (index < 0 || index >= Count())
        throw UpdateFileError(QStringLiteral("Getkey index out of range"));
    return *m_records[static_cast<size_t>(index)];
}

} // namespace UpdateFile
