#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Memory this process can still take before the kernel must kill something: the machine's
// MemAvailable, and for the memory cgroup the process is in (cgroup v1 or v2, and every
// ancestor with a limit), its limit less what it uses. The file pages a cgroup could drop
// count as free.
//
// The cgroup is found from /proc/self/cgroup and /proc/self/mountinfo, wherever its hierarchy
// is mounted. What cannot be read is not taken for "no limit": then a quarter of the machine's
// memory is kept back on top of what the machine reports. Every file is read under root, so a
// test can give it a tree of its own.
namespace MemoryWatch {

struct Cgroup
{
    QString directory;  // the process's cgroup, under root
    QStringList levels; // it and its ancestors that may have a limit, as far as they are seen
    QString limit;      // file names
    QString usage;
    QByteArray dropped; // the memory.stat key of the file pages the cgroup may drop
};

enum class Found { None, Cgroup, Unknown };

// The memory controller's hierarchy the process is in: cgroup v1 names it, v2 is the one with
// the empty controller list. None when the kernel has no memory controller; Unknown when it
// cannot be told.
Found cgroup(Cgroup* files, const QString& root = QString());

// Bytes still to be had, as far as the machine and the cgroups tell.
qint64 availableBytes(const QString& root = QString());

} // namespace MemoryWatch
