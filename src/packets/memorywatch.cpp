#include "memorywatch.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>
#include <optional>

#include <sys/sysinfo.h>

namespace {

constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();

bool read(const QString& path, QByteArray* text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *text = file.readAll();
    return true;
}

QByteArray readAll(const QString& path)
{
    QByteArray text;
    read(path, &text);
    return text;
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

// What one cgroup leaves: its limit less its usage, plus the file pages it may drop. Nothing
// when its files cannot be read.
std::optional<qint64> levelAvailable(const MemoryWatch::Cgroup& files, const QString& dir)
{
    QByteArray text;
    if (!read(dir + u'/' + files.limit, &text)) {
        // cgroup v2 shows no limit file where the memory controller is not enabled.
        return read(dir + QStringLiteral("/cgroup.controllers"), &text) &&
                       !text.simplified().split(' ').contains("memory")
                   ? std::optional(Unlimited)
                   : std::nullopt;
    }
    bool ok = false;
    const qint64 limit = text.trimmed() == "max" ? Unlimited : text.trimmed().toLongLong(&ok);
    if (!ok && limit != Unlimited)
        return std::nullopt;
    // cgroup v1's "no limit" is the largest number, rounded to pages.
    if (limit >= Unlimited / 2)
        return Unlimited;
    const qint64 usage = readAll(dir + u'/' + files.usage).trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    const qint64 dropped = field(readAll(dir + QStringLiteral("/memory.stat")), files.dropped, 1);
    return limit - usage + std::max<qint64>(dropped, 0);
}

// The least any level leaves (a limit on an ancestor holds for every cgroup below it);
// nothing when something cannot be read.
std::optional<qint64> cgroupAvailable(const QString& root)
{
    MemoryWatch::Cgroup files;
    const MemoryWatch::Found found = MemoryWatch::cgroup(&files, root);
    if (found != MemoryWatch::Found::Cgroup)
        return found == MemoryWatch::Found::None ? std::optional(Unlimited) : std::nullopt;
    qint64 available = Unlimited;
    for (const QString& dir : std::as_const(files.levels)) {
        const std::optional<qint64> level = levelAvailable(files, dir);
        if (!level)
            return std::nullopt;
        available = std::min(available, *level);
    }
    return available;
}

} // namespace

qint64 MemoryWatch::availableBytes(const QString& root)
{
    const QByteArray meminfo = readAll(root + QStringLiteral("/proc/meminfo"));
    qint64 machine = field(meminfo, "MemAvailable:", 1024);
    qint64 total = field(meminfo, "MemTotal:", 1024);
    // Free memory alone leaves out the page cache the kernel could drop: less, never more.
    struct sysinfo info = {};
    if ((machine < 0 || total < 0) && ::sysinfo(&info) == 0) {
        machine = machine < 0 ? qint64(info.freeram) * info.mem_unit : machine;
        total = total < 0 ? qint64(info.totalram) * info.mem_unit : total;
    }
    if (machine < 0 || total < 0)
        return 0;
    const std::optional<qint64> cgroup = cgroupAvailable(root);
    // A limit that cannot be read may still be there: a quarter of the machine is kept back.
    return cgroup ? std::min(machine, *cgroup) : machine - total / 4;
}

MemoryWatch::Found MemoryWatch::cgroup(Cgroup* files, const QString& root)
{
    QByteArray text;
    if (!read(root + QStringLiteral("/proc/self/cgroup"), &text))
        return Found::Unknown;
    QByteArray path;
    bool v1 = false;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        if (parts[1].split(',').contains("memory") || (parts[0] == "0" && parts[1].isEmpty())) {
            path = line.mid(parts[0].size() + parts[1].size() + 2);
            v1 = !parts[1].isEmpty();
            if (v1)
                break;
        }
    }
    if (path.isEmpty())
        return Found::None;
    if (!read(root + QStringLiteral("/proc/self/mountinfo"), &text))
        return Found::Unknown;
    for (const QByteArray& line : text.split('\n')) {
        // "id parent major:minor root mount-point options ... - type source super-options"
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 3 >= fields.size() ||
            fields[dash + 1] != (v1 ? "cgroup" : "cgroup2") ||
            (v1 && !fields[dash + 3].split(',').contains("memory")))
            continue;
        // The mount shows the hierarchy from its root down; the root cgroup has no limit.
        const QByteArray top = fields[3] == "/" ? QByteArray() : fields[3];
        if (path != top && !path.startsWith(top + '/'))
            continue;
        const QString mount = root + QString::fromUtf8(fields[4]);
        QString below = QString::fromUtf8(path.mid(top.size()));
        *files = v1 ? Cgroup{{},
                             {},
                             "memory.limit_in_bytes",
                             "memory.usage_in_bytes",
                             "total_inactive_file"}
                    : Cgroup{{}, {}, "memory.max", "memory.current", "inactive_file"};
        files->directory = QDir::cleanPath(mount + below);
        for (; !below.isEmpty() && below != u"/";
             below.truncate(std::max<qsizetype>(below.lastIndexOf(u'/'), 0)))
            files->levels.append(QDir::cleanPath(mount + below));
        if (!top.isEmpty())
            files->levels.append(QDir::cleanPath(mount));
        return Found::Cgroup;
    }
    return Found::Unknown;
}
