#pragma once
// Small pieces every benchmark uses.
#include <QByteArray>
#include <QFile>

// Resident memory of this process in MB (Linux), 0 when it cannot be read.
inline double rssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}
