#pragma once
// What the benchmarks read of this process: memory from /proc and the
// calling thread's CPU time.

#include <QByteArray>
#include <QFile>
#include <ctime>

namespace eload::bench {

// A field of /proc/self/status in kB: "VmRSS:" now, "VmHWM:" the peak.
inline long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ')[0].toLong();
    return -1;
}

inline long rssKb() { return statusKb("VmRSS:"); }

inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace eload::bench
