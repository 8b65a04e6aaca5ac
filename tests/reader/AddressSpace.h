#pragma once
// The probes' limit on their own address space: what the process holds now
// and `mib` MiB more, so that an allocation beyond fails as it would on a
// machine out of memory.

#include <QByteArray>
#include <QFile>
#include <malloc.h>
#include <sys/resource.h>

namespace eload::test {

// A field of /proc/self/status, in kB.
inline long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ')[0].toLong();
    return -1;
}

// One arena and a fixed threshold for mmap: memory a thread's arena reserved
// earlier would serve allocations without growing the address space, and
// freed large blocks would raise the threshold. Call first thing in main().
inline void plainMalloc()
{
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

inline bool limitAddressSpace(long mib)
{
    const rlim_t bytes = rlim_t(statusKb("VmSize:")) * 1024 + rlim_t(mib) * 1024 * 1024;
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

} // namespace eload::test
