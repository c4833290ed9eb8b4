#include "memorycgroup.h"

#include "memorywatch.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    for (const QByteArray& line :
         status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QList<QByteArray>()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

} // namespace

MemoryCgroup::MemoryCgroup(qint64 extraBytes)
{
    MemoryWatch::Cgroup cgroup;
    const QByteArray pid = QByteArray::number(::getpid());
    m_parent =
        MemoryWatch::cgroup(&cgroup) == MemoryWatch::Found::Cgroup ? cgroup.directory : QString();
    m_child = m_parent + QStringLiteral("/kinto-test-") + QString::fromLatin1(pid);
    if (::geteuid() != 0 || m_parent.isEmpty() || !QDir().mkdir(m_child)) {
        m_error = QStringLiteral("no memory cgroup can be made here");
        m_child.clear();
        return;
    }
    // cgroup v1: what the process holds already is charged to the new cgroup too.
    writeText(m_child + QStringLiteral("/memory.move_charge_at_immigrate"), "3");
    if (!writeText(m_child + u'/' + cgroup.limit,
                   QByteArray::number(residentBytes() + extraBytes)) ||
        !writeText(m_child + QStringLiteral("/cgroup.procs"), pid))
        m_error = QStringLiteral("the process cannot be put in a memory cgroup here");
}

MemoryCgroup::~MemoryCgroup()
{
    if (m_child.isEmpty())
        return;
    writeText(m_parent + QStringLiteral("/cgroup.procs"), QByteArray::number(::getpid()));
    QDir().rmdir(m_child);
}

qint64 anonymousBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}
