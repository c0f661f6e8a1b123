#pragma once
// The update list published by the update server: one record per line,
// fields separated by ";".
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

namespace UpdateFile {

// A failure while reading an update list; carries its message.
class UpdateFileError : public std::runtime_error {
public:
    explicit UpdateFileError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Cuts text at every occurrence of separator into list (emptied first).
// Empty items are kept when keepEmpty is set, except an empty item after the
// last separator, which is never added. A null list is a programming error.
void SplitText(const QString& text, const QString& separator, QStringList* list, bool keepEmpty);

class TUpdateRecord {
public:
    // Builds a record from one line; throws UpdateFileError
    // "List index out of bounds (%d)" when the line has fewer than nine fields.
    explicit TUpdateRecord(const QString& line);

    const QString& Kind() const { return m_kind; }
    const QString& FileName() const { return m_fileName; }
    const QString& Column3() const { return m_column3; }
    qint32 Major() const { return m_major; }
    qint32 Minor() const { return m_minor; }
    qint32 Release() const { return m_release; }
    qint32 Build() const { return m_build; }
    qint32 Column8() const { return m_column8; }
    const QString& Column9() const { return m_column9; }
    const QString& Line() const { return m_line; }

private:
    QString m_kind, m_fileName, m_column3, m_column9, m_line;
    qint32 m_major = 0, m_minor = 0, m_release = 0, m_build = 0, m_column8 = 0;
};

class TUpdateFile {
public:
    // Reads text when it is not empty, else the named file, into records.
    // Throws UpdateFileError ("Cannot open file "%s". %s",
    // "List index out of bounds (%d)").
    TUpdateFile(const QString& fileName, const QString& text);

    int Count() const { return static_cast<int>(m_records.size()); }
    // Throws UpdateFileError "Getkey index out of range" outside 0..Count-1.
    const TUpdateRecord& GetRecord(int index) const;

private:
    std::vector<std::unique_ptr<TUpdateRecord>> m_records;
};

} // namespace UpdateFile
