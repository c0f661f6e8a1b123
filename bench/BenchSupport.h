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

// Round trips to the PostgreSQL server so far, as the latency proxy counts
// them (bench/proxy/latency_proxy.cpp) in the file that
// TRELLANE_BENCH_ROUNDTRIP_FILE names; -1 without one.
inline qint64 roundTrips()
{
    static const uchar* counters = [] {
        static QFile file(qEnvironmentVariable("TRELLANE_BENCH_ROUNDTRIP_FILE"));
        if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
            return static_cast<const uchar*>(nullptr);
        return static_cast<const uchar*>(file.map(0, 16));
    }();
    if (!counters)
        return -1;
    return qint64(__atomic_load_n(reinterpret_cast<const quint64*>(counters), __ATOMIC_RELAXED));
}
