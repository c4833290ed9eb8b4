#include "storefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

qint64 blockBytes(const struct statfs& fs)
{
    return fs.f_frsize > 0 ? qint64(fs.f_frsize) : qint64(fs.f_bsize);
}

bool memoryType(const struct statfs& fs)
{
    return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

// A path as /proc/self/mountinfo writes it: space, tab, newline and backslash as octal escapes.
QByteArray unescaped(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            out += char(text.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// An overlay keeps what is written in its upper layer: its file system is the one that counts.
// An overlay whose upper layer cannot be found counts as memory.
bool overlayInMemory(dev_t device)
{
    QFile mountinfo(QStringLiteral("/proc/self/mountinfo"));
    if (!mountinfo.open(QIODevice::ReadOnly))
        return true;
    const QByteArray id =
        QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : mountinfo.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 3 || fields[2] != id || dash < 0 || dash + 3 >= fields.size())
            continue;
        for (const QByteArray& option : fields[dash + 3].split(',')) {
            struct statfs upper = {};
            if (option.startsWith("upperdir="))
                return ::statfs(unescaped(option.mid(9)).constData(), &upper) != 0 ||
                       memoryType(upper);
        }
        return true;
    }
    return true;
}

bool worksAsFolder(int dir, const StoreFolder::Credit& credit)
{
    struct stat info = {};
    struct statfs fs = {};
    if (::fstat(dir, &info) != 0 || !S_ISDIR(info.st_mode) || ::fstatfs(dir, &fs) != 0)
        return false;
    const bool owned = info.st_uid == ::geteuid() || (info.st_uid == 0 && (info.st_mode & S_ISVTX));
    if (!owned || memoryType(fs) ||
        (fs.f_type == OVERLAYFS_SUPER_MAGIC && overlayInMemory(info.st_dev)))
        return false;
    const qint64 credited = info.st_dev == credit.device ? credit.bytes : 0;
    return StoreFolder::roomAboveFloor(dir) + credited >= StoreFolder::LeastRoom;
}

int openIn(const QString& folder, const StoreFolder::Credit& credit)
{
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int dir = ::open(QFile::encodeName(folder).constData(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return -1;
    int fd = worksAsFolder(dir, credit)
                 ? ::openat(dir, ".", O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600)
                 : -1;
    ::close(dir);
    // A file system that cannot reserve space would fail in a mapped page instead.
    if (fd >= 0 && (::fallocate(fd, 0, 0, 4096) != 0 || ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

} // namespace

qint64 StoreFolder::roomAboveFloor(int fd)
{
    struct statfs fs = {};
    if (::fstatfs(fd, &fs) != 0)
        return -1;
    const qint64 unit = blockBytes(fs);
    // The file system's own records of a reservation take a few blocks beyond it.
    constexpr qint64 Slack = qint64(1) << 20;
    return qint64(fs.f_bavail) * unit - floorBytes(qint64(fs.f_blocks) * unit) - Slack;
}

int StoreFolder::openFile(const QStringList& folders, const Credit& credit, QString* chosen)
{
    for (const QString& folder : folders) {
        const int fd = folder.isEmpty() ? -1 : openIn(folder, credit);
        if (fd >= 0) {
            *chosen = QDir::cleanPath(folder);
            return fd;
        }
    }
    chosen->clear();
    return -1;
}
