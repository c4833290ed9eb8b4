#include "storefile.h"

#include "memorywatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// Address space left free for the rest of the program whenever the store grows: the capture
// thread's batches and the window must not be the ones to find it gone.
constexpr size_t Headroom = size_t(64) << 20;
// Memory the machine and the cgroup must still have after a region in memory is granted, for
// the message, the list and the log writer.
constexpr qint64 MemoryReserve = qint64(128) << 20;

void* mapAnonymous(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Maps only if the headroom is still free afterwards.
char* mapWithHeadroom(size_t bytes, int fd, qint64 offset)
{
    void* p = fd < 0 ? mapAnonymous(bytes)
                     : ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, off_t(offset));
    if (p == MAP_FAILED || !p)
        return nullptr;
    void* probe = mapAnonymous(Headroom);
    if (!probe) {
        ::munmap(p, bytes);
        return nullptr;
    }
    ::munmap(probe, Headroom);
    return static_cast<char*>(p);
}

bool usableFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat info = {};
    struct statfs fs = {};
    if (::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    const bool owned = info.st_uid == ::geteuid() || (info.st_uid == 0 && (info.st_mode & S_ISVTX));
    return owned && ::access(path.constData(), W_OK | X_OK) == 0 &&
           ::statfs(path.constData(), &fs) == 0 && fs.f_type != TMPFS_MAGIC &&
           fs.f_type != RAMFS_MAGIC;
}

// A nameless file in folder that can reserve space, or -1.
int openFile(const QString& folder)
{
    if (folder.isEmpty())
        return -1;
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!usableFolder(folder))
        return -1;
    // O_EXCL: the file can never be given a name afterwards.
    const int fd = ::open(QFile::encodeName(folder).constData(),
                          O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    // A file system that cannot reserve space would fail in a mapped page instead. A disk that
    // is full already is a usable folder: the first packet is refused with its name.
    if (::fallocate(fd, 0, 0, 4096) != 0 && errno != ENOSPC && errno != EDQUOT) {
        ::close(fd);
        return -1;
    }
    if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

QStringList StoreFile::defaultFolders()
{
    return {QStandardPaths::writableLocation(QStandardPaths::CacheLocation),
            QStringLiteral("/var/tmp")};
}

StoreFile::StoreFile(const QStringList& folders)
{
    for (const QString& folder : folders) {
        m_fd = openFile(folder);
        if (m_fd >= 0) {
            m_folder = QDir::cleanPath(folder);
            break;
        }
    }
}

StoreFile::~StoreFile()
{
    if (m_release.joinable())
        m_release.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

qint64 StoreFile::diskBytes() const
{
    struct stat info = {};
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0 ? qint64(info.st_blocks) * 512 : 0;
}

StoreFile::Region StoreFile::grow(qsizetype bytes)
{
    const Region region = onDisk() ? growOnDisk(bytes) : growInMemory(bytes);
    if (!region.data && m_shortage == StoreShortage::None)
        m_shortage = StoreShortage::Memory;
    return region;
}

StoreFile::Region StoreFile::growInMemory(qsizetype bytes)
{
    if (MemoryWatch::availableBytes() - bytes < MemoryReserve)
        return {};
    return {mapWithHeadroom(size_t(bytes), -1, 0), 0};
}

StoreFile::Region StoreFile::growOnDisk(qsizetype bytes)
{
    int result;
    do {
        result = ::fallocate(m_fd, 0, off_t(m_end), off_t(bytes));
        // The space of a file that was cleared may still be on its way back.
        if (result != 0 && m_release.joinable() && (errno == ENOSPC || errno == EDQUOT)) {
            m_release.join();
            errno = EINTR;
        }
    } while (result != 0 && errno == EINTR);
    char* data = result == 0 ? mapWithHeadroom(size_t(bytes), m_fd, m_end) : nullptr;
    if (!data) {
        // What was reserved goes back (a refused reservation may have taken part of the space);
        // the file ends where the mapped regions do.
        [[maybe_unused]] const int ignored = ::ftruncate(m_fd, off_t(m_end));
        if (result != 0)
            m_shortage = StoreShortage::Disk;
        return {};
    }
    const Region region{data, m_end};
    m_end += bytes;
    return region;
}

bool StoreFile::write(const Region& region, qsizetype at, const void* data, qsizetype size)
{
    if (!onDisk()) {
        std::memcpy(region.data + at, data, size_t(size));
        return true;
    }
    const char* from = static_cast<const char*>(data);
    qint64 offset = region.offset + at;
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, from, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_shortage = StoreShortage::Disk;
            return false;
        }
        from += n;
        offset += n;
        size -= n;
    }
    return true;
}

void StoreFile::release(const Region& region, qsizetype bytes)
{
    if (region.data)
        ::munmap(region.data, size_t(bytes));
}

void StoreFile::reset()
{
    m_shortage = StoreShortage::None;
    if (m_fd < 0 || m_end == 0)
        return;
    // Dropping a file of gigabytes whose pages the kernel is still writing back takes it a
    // while: the old file goes with its last descriptor, closed on a thread of its own, and a
    // new one takes its place. Where none can be had the file is truncated here.
    const int fresh = openFile(m_folder);
    if (fresh < 0) {
        if (::ftruncate(m_fd, 0) == 0)
            m_end = 0;
        return;
    }
    if (m_release.joinable())
        m_release.join();
    try {
        m_release = std::thread([old = m_fd] { ::close(old); });
    } catch (const std::system_error&) {
        ::close(m_fd);
    }
    m_fd = fresh;
    m_end = 0;
}
