#pragma once

#include <QString>

// This process in a memory cgroup of its own, limited to its resident memory now plus extra
// bytes, as desktop sessions, services and containers limit memory: past the limit the kernel
// reclaims, and kills when it cannot. Its children started meanwhile are in it too. Needs root
// and a writable memory controller (cgroup v1, or v2 where a child cgroup may take the
// process); back in its own cgroup when the object goes.
class MemoryCgroup
{
public:
    explicit MemoryCgroup(qint64 extraBytes);
    ~MemoryCgroup();
    MemoryCgroup(const MemoryCgroup&) = delete;
    MemoryCgroup& operator=(const MemoryCgroup&) = delete;

    // Empty when in place, otherwise why not (tests skip then).
    QString error() const { return m_error; }

private:
    QString m_parent; // the cgroup the process came from
    QString m_child;
    QString m_error;
};

// Resident memory of this process that is no file's page: what the kernel cannot write back;
// -1 when it cannot be read.
qint64 anonymousBytes();
