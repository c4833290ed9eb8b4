#include "memorycgroup.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

qint64 residentBytes()
{
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

} // namespace

MemoryCgroup::MemoryCgroup(qint64 extraBytes)
{
    QString limitFile;
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/cgroup")).split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.mid(2).join(':'));
        if (parts[1].split(',').contains("memory")) {
            m_parent = QStringLiteral("/sys/fs/cgroup/memory") + path;
            limitFile = QStringLiteral("memory.limit_in_bytes");
            break;
        }
        if (parts[0] == "0" && parts[1].isEmpty()) {
            m_parent = QStringLiteral("/sys/fs/cgroup") + path;
            limitFile = QStringLiteral("memory.max");
        }
    }
    m_child = m_parent + QStringLiteral("/kinto-test-%1").arg(::getpid());
    const QByteArray pid = QByteArray::number(::getpid());
    if (::geteuid() != 0 || m_parent.isEmpty() || !QDir().mkdir(m_child)) {
        m_error = QStringLiteral("no memory cgroup can be made here");
        m_child.clear();
        return;
    }
    // cgroup v1: what the process holds already is charged to the new cgroup too.
    writeText(m_child + QStringLiteral("/memory.move_charge_at_immigrate"), "3");
    if (!writeText(m_child + u'/' + limitFile, QByteArray::number(residentBytes() + extraBytes)) ||
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
