#include "storefile.h"

#include "memorywatch.h"
#include "storefolder.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The file grows past 2 GiB within minutes of a busy capture.
static_assert(sizeof(off_t) == 8, "the store's file needs 64-bit file offsets");

namespace {

// Address space left free for the rest of the program whenever the store grows: the capture
// thread's batches and the window must not be the ones to find it gone.
constexpr size_t Headroom = size_t(64) << 20;
// Memory the machine and the cgroup must still have after a region in memory is granted, for
// the message, the list and the log writer.
constexpr qint64 MemoryReserve = qint64(128) << 20;

qsizetype roundDown(qint64 bytes, qsizetype unit)
{
    return bytes < unit ? 0 : qsizetype(bytes / unit * unit);
}

void* mapAnonymous(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Maps the largest of most, most / 2, ... down to least (multiples of unit) that leaves the
// headroom free; in memory when fd is -1.
StoreFile::Region map(int fd, qint64 offset, qsizetype most, qsizetype least, qsizetype unit)
{
    for (qsizetype size = most;; size = std::max(roundDown(size / 2, unit), least)) {
        void* p = fd < 0 ? mapAnonymous(size_t(size))
                         : ::mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, off_t(offset));
        if (p && p != MAP_FAILED) {
            if (void* probe = mapAnonymous(Headroom)) {
                ::munmap(probe, Headroom);
                return {static_cast<char*>(p), offset, size};
            }
            ::munmap(p, size_t(size));
        }
        if (size <= least)
            return {};
    }
}

qint64 fileSizeLimit()
{
    struct rlimit limit = {};
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
               ? qint64(limit.rlim_cur)
               : std::numeric_limits<qint64>::max();
}

// What a refused reservation or write ran out of.
StoreShortage shortageOf(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return StoreShortage::Disk;
    return error == EFBIG ? StoreShortage::FileSize : StoreShortage::Io;
}

} // namespace

QStringList StoreFile::defaultFolders()
{
    return {QStandardPaths::writableLocation(QStandardPaths::CacheLocation),
            QStringLiteral("/var/tmp")};
}

StoreFile::StoreFile(const QStringList& folders) : m_folders(folders)
{
    m_fd = StoreFolder::openFile(m_folders, {}, &m_folder);
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

StoreFile::Region StoreFile::grow(qsizetype most, qsizetype least, qsizetype unit)
{
    return onDisk() ? growOnDisk(most, least, unit) : growInMemory(most, least, unit);
}

void StoreFile::refuse(StoreShortage shortage)
{
    if (m_shortage == StoreShortage::None)
        m_shortage = shortage;
}

StoreFile::Region StoreFile::growInMemory(qsizetype most, qsizetype least, qsizetype unit)
{
    const qint64 available = MemoryWatch::availableBytes() - MemoryReserve;
    if (available < least) {
        refuse(StoreShortage::Memory);
        return {};
    }
    const Region region =
        map(-1, 0, roundDown(std::min<qint64>(most, available), unit), least, unit);
    if (!region.data)
        refuse(StoreShortage::AddressSpace);
    return region;
}

StoreFile::Region StoreFile::growOnDisk(qsizetype most, qsizetype least, qsizetype unit)
{
    const qint64 belowLimit = fileSizeLimit() - m_end;
    if (belowLimit < least) {
        refuse(StoreShortage::FileSize);
        return {};
    }
    qint64 room = StoreFolder::roomAboveFloor(m_fd);
    // The space of a file that was cleared may still be on its way back.
    if (room < least && m_release.joinable()) {
        m_release.join();
        room = StoreFolder::roomAboveFloor(m_fd);
    }
    if (room < least) {
        refuse(StoreShortage::Disk);
        return {};
    }
    // Whole units, whatever was asked: the next region is mapped at the file's end, which must
    // stay a multiple of the page size.
    const qsizetype size = roundDown(std::min<qint64>(most, std::min(room, belowLimit)), unit);
    const Region region = map(m_fd, m_end, size, least, unit);
    if (!region.data) {
        refuse(StoreShortage::AddressSpace);
        return {};
    }
    if (!reserve(region.size)) {
        ::munmap(region.data, size_t(region.size));
        return {};
    }
    m_end += region.size;
    return region;
}

bool StoreFile::reserve(qsizetype bytes)
{
    int result;
    do {
        result = ::fallocate(m_fd, 0, off_t(m_end), off_t(bytes));
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;
    refuse(shortageOf(errno));
    // A refused reservation may have taken part of the space: it goes back.
    [[maybe_unused]] const int ignored = ::ftruncate(m_fd, off_t(m_end));
    return false;
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
            refuse(n < 0 ? shortageOf(errno) : StoreShortage::Io);
            return false;
        }
        from += n;
        offset += n;
        size -= n;
    }
    return true;
}

void StoreFile::release(const Region& region)
{
    if (region.data && region.size > 0)
        ::munmap(region.data, size_t(region.size));
}

void StoreFile::reset()
{
    m_shortage = StoreShortage::None;
    if (m_fd >= 0 && m_end == 0)
        return;
    // Dropping a file of gigabytes whose pages the kernel is still writing back takes it a
    // while: the old file goes with its last descriptor, closed on a thread of its own. The
    // space it gives back counts as free when the next folder is chosen.
    StoreFolder::Credit credit;
    struct stat info = {};
    if (m_fd >= 0 && ::fstat(m_fd, &info) == 0)
        credit = {info.st_dev, diskBytes()};
    if (m_release.joinable())
        m_release.join();
    if (m_fd >= 0) {
        try {
            m_release = std::thread([old = m_fd] { ::close(old); });
        } catch (const std::system_error&) {
            ::close(m_fd);
        }
    }
    m_fd = StoreFolder::openFile(m_folders, credit, &m_folder);
    m_end = 0;
}
