#pragma once

#include <QList>
#include <QString>

// A CPU cgroup of its own that holds the processes put in it to a share of one CPU, as a slow
// laptop, a virtual machine or a build running beside the program would. Version 1's cpu
// controller, or version 2 where the root delegates cpu. Root only. The processes go back to
// where they were when it is destroyed.
class CpuLimit
{
public:
    explicit CpuLimit(int percentOfOneCpu);
    ~CpuLimit();
    CpuLimit(const CpuLimit&) = delete;
    CpuLimit& operator=(const CpuLimit&) = delete;

    bool isValid() const { return !m_folder.isEmpty(); }
    QString error() const { return m_error; }
    // Moves the process, every thread of it, into the cgroup, or back out of it.
    bool add(qint64 pid);
    bool release(qint64 pid);

private:
    QString m_folder;
    QString m_parent;
    QString m_error;
    QList<qint64> m_pids;
};
