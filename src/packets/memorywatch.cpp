#include "memorywatch.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A number from a file of one; "max" (cgroup v2) and unreadable files mean no limit.
qint64 readNumber(const QString& path)
{
    bool ok = false;
    const qint64 value = readAll(path).trimmed().toLongLong(&ok);
    return ok ? value : Unlimited;
}

// The value of "key value" in a file of such lines, times unit; -1 without it.
qint64 field(const QByteArray& text, const QByteArray& key, qint64 unit)
{
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == key)
            return parts[1].toLongLong() * unit;
    }
    return -1;
}

qint64 cgroupAvailable()
{
    MemoryWatch::Cgroup files;
    if (!MemoryWatch::cgroup(&files))
        return Unlimited;
    qint64 available = Unlimited;
    // A limit set on an ancestor holds for every cgroup below it.
    QString path = files.path;
    while (true) {
        const QString dir = files.root + path;
        const qint64 limit = readNumber(dir + u'/' + files.limit);
        const qint64 usage = readNumber(dir + u'/' + files.usage);
        if (limit < Unlimited / 2 && usage < Unlimited) {
            const qint64 dropped =
                field(readAll(dir + QStringLiteral("/memory.stat")), files.dropped, 1);
            available = std::min(available, limit - usage + std::max<qint64>(dropped, 0));
        }
        if (path.isEmpty() || path == u"/")
            break;
        path.truncate(std::max<qsizetype>(path.lastIndexOf(u'/'), 0));
    }
    return available;
}

} // namespace

qint64 MemoryWatch::availableBytes()
{
    const qint64 machine = field(readAll(QStringLiteral("/proc/meminfo")), "MemAvailable:", 1024);
    return std::min(machine < 0 ? Unlimited : machine, cgroupAvailable());
}

bool MemoryWatch::cgroup(Cgroup* files)
{
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/cgroup")).split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(line.mid(parts[0].size() + parts[1].size() + 2));
        if (parts[1].split(',').contains("memory")) {
            *files = {QStringLiteral("/sys/fs/cgroup/memory"), path,
                      QStringLiteral("memory.limit_in_bytes"),
                      QStringLiteral("memory.usage_in_bytes"), "total_inactive_file"};
            return true;
        }
        if (parts[0] == "0" && parts[1].isEmpty())
            *files = {QStringLiteral("/sys/fs/cgroup"), path, QStringLiteral("memory.max"),
                      QStringLiteral("memory.current"), "inactive_file"};
    }
    return !files->root.isEmpty();
}
