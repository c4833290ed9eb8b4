#pragma once

#include <QByteArray>
#include <QString>

// Memory this process can still take before the kernel must kill something: the machine's
// MemAvailable, and for the memory cgroup the process is in (cgroup v1 or v2, and every
// ancestor with a limit), its limit less what it uses. The file pages a cgroup could drop
// count as free. Unknowns (no /proc, a cgroup folder that is not mounted) limit nothing.
namespace MemoryWatch {

struct Cgroup
{
    QString root;  // where the hierarchy is mounted
    QString path;  // the process's cgroup inside it
    QString limit; // file names
    QString usage;
    QByteArray dropped; // the memory.stat key of the file pages the cgroup may drop
};

// The memory controller's hierarchy the process is in: cgroup v1 names it, v2 is the one with
// the empty controller list. False when there is none.
bool cgroup(Cgroup* files);

// Bytes still to be had, as far as the machine and the cgroups tell.
qint64 availableBytes();

} // namespace MemoryWatch
