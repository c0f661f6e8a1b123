// libFuzzer target for the update list parser. Besides crashes, hangs and
// sanitizer reports it checks the parser against a plain restatement of the
// format: which lines exist, which are rejected, and with which message.
#include "00HelperFiles/UpdateFile.h"

#include <cstdint>
#include <cstdlib>

using UpdateFile::TUpdateFile;
using UpdateFile::UpdateFileError;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Lines of the text: up to the first NUL, every line end normalised to LF,
// no empty line after a final line end.
QStringList expectedLines(const QString& text)
{
    QString t = text;
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0)
        t.truncate(nul);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (t.isEmpty())
        return {};
    if (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    return t.split(QLatin1Char('\n'));
}

// Number of fields of a line: split at ";" keeping empty parts, then drop
// an empty part after the last ";" (and an empty line has none).
qsizetype fieldCount(const QString& line)
{
    QStringList parts = line.split(QLatin1Char(';'));
    if (parts.last().isEmpty())
        parts.removeLast();
    return parts.size();
}

void fuzzFile(const QString& text)
{
    const QStringList lines = expectedLines(text);
    QString expectedError;
    for (const QString& line : lines) {
        const qsizetype n = fieldCount(line);
        if (n < 9) {
            expectedError = QStringLiteral("List index out of bounds (%1)").arg(n);
            break;
        }
    }
    try {
        const TUpdateFile f(QString(), text);
        check(expectedError.isEmpty());
        check(f.Count() == lines.size());
        for (int i = 0; i < f.Count(); ++i)
            check(f.GetRecord(i).Line() == lines[i]);
        try {
            f.GetRecord(f.Count());
            check(false);
        } catch (const UpdateFileError& e) {
            check(e.message() == QLatin1String("Getkey index out of range"));
        }
    } catch (const UpdateFileError& e) {
        check(e.message() == expectedError);
    }
}

void fuzzSplit(const QString& separator, const QString& text)
{
    QStringList items;
    UpdateFile::SplitText(text, separator, &items, true);
    // Joined again, the items give the text, less a final separator.
    const QString joined = items.join(separator);
    check(joined == text || (!separator.isEmpty() && joined + separator == text));
    QStringList nonEmpty;
    UpdateFile::SplitText(text, separator, &nonEmpty, false);
    items.removeAll(QString());
    check(items == nonEmpty);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (text.isEmpty())
        return 0; // an empty text would name a file to read
    fuzzFile(text);
    // The first character says how long a separator to take from the text.
    const qsizetype sepLength = text[0].unicode() % 4;
    fuzzSplit(text.mid(1, sepLength), text.mid(1 + sepLength));
    return 0;
}
