#include "cpulimit.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

bool writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

} // namespace

CpuLimit::CpuLimit(int percentOfOneCpu)
{
    const QString v1 = QStringLiteral("/sys/fs/cgroup/cpu");
    const bool isV1 = QFile::exists(v1 + QStringLiteral("/cpu.cfs_quota_us"));
    m_parent = isV1 ? v1 : QStringLiteral("/sys/fs/cgroup");
    if (!isV1)
        writeFile(m_parent + QStringLiteral("/cgroup.subtree_control"), "+cpu");
    const QString folder = m_parent + QStringLiteral("/kinto-bench-%1").arg(::getpid());
    const QByteArray quota = QByteArray::number(percentOfOneCpu * 1000);
    const bool made = QDir().mkpath(folder) &&
                      (isV1 ? writeFile(folder + QStringLiteral("/cpu.cfs_period_us"), "100000") &&
                                  writeFile(folder + QStringLiteral("/cpu.cfs_quota_us"), quota)
                            : writeFile(folder + QStringLiteral("/cpu.max"), quota + " 100000"));
    if (made)
        m_folder = folder;
    else
        m_error = QStringLiteral("cannot make a CPU cgroup under %1 (root, and a cpu controller, "
                                 "are needed)")
                      .arg(m_parent);
}

CpuLimit::~CpuLimit()
{
    for (const qint64 pid : std::as_const(m_pids))
        writeFile(m_parent + QStringLiteral("/cgroup.procs"), QByteArray::number(pid));
    if (isValid())
        QDir().rmdir(m_folder);
}

bool CpuLimit::add(qint64 pid)
{
    if (!isValid() ||
        !writeFile(m_folder + QStringLiteral("/cgroup.procs"), QByteArray::number(pid)))
        return false;
    m_pids.append(pid);
    return true;
}

bool CpuLimit::release(qint64 pid)
{
    m_pids.removeAll(pid);
    return writeFile(m_parent + QStringLiteral("/cgroup.procs"), QByteArray::number(pid));
}
