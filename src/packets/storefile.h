#pragma once

#include "storeshortage.h"

#include <QString>
#include <QStringList>

#include <thread>

// Where the packet store keeps its bytes: a private file, or memory when no folder will do.
//
// The file is made with O_TMPFILE and mode 0600 in the first folder that works (see
// StoreFolder): it has no name, nobody else can open it, and the kernel removes it when the
// program ends, however it ends.
//
// The store grows by regions appended to the file. Space for a region is reserved (fallocate)
// before it is used, so a full disk is a refusal here and never a SIGBUS in a mapped page; a
// region never takes the floor the disk's users keep, nor goes past the file-size limit.
// Regions are mapped read-only and written with pwrite: the kernel copies into its page cache
// without faulting in the mapping page by page, and may write those pages back and drop them
// when memory is short. In memory the regions are anonymous mappings, granted only while the
// machine and the memory cgroup leave a reserve.
class StoreFile
{
public:
    struct Region
    {
        char* data = nullptr;
        qint64 offset = 0; // in the file
        qsizetype size = 0;
    };

    static constexpr qsizetype PageBytes = 4096;

    // The user's cache folder, then /var/tmp.
    static QStringList defaultFolders();

    explicit StoreFile(const QStringList& folders);
    ~StoreFile();
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    bool onDisk() const { return m_fd >= 0; }
    // The folder holding the file; empty in memory.
    QString folder() const { return m_folder; }
    // Disk space the file takes.
    qint64 diskBytes() const;

    // Maps a new region of at most most and at least least bytes, a multiple of unit (itself a
    // multiple of the page size), as large as there is room for. On refusal the region's data is
    // null and shortage() says what ran out.
    Region grow(qsizetype most, qsizetype least, qsizetype unit = PageBytes);
    // Writes size bytes at offset at of a region; false when the disk refused them.
    bool write(const Region& region, qsizetype at, const void* data, qsizetype size);
    // Unmaps a region; one of size 0 is a part of another and goes with it.
    void release(const Region& region);
    // After every region was released: the file goes (closed by a thread of its own, as dropping
    // its pages takes a while) and a new one is made in the first folder that works now.
    void reset();
    StoreShortage shortage() const { return m_shortage; }

private:
    Region growInMemory(qsizetype most, qsizetype least, qsizetype unit);
    Region growOnDisk(qsizetype most, qsizetype least, qsizetype unit);
    bool reserve(qsizetype bytes);
    void refuse(StoreShortage shortage);

    const QStringList m_folders;
    int m_fd = -1;
    QString m_folder;
    qint64 m_end = 0; // bytes reserved in the file
    StoreShortage m_shortage = StoreShortage::None;
    std::thread m_release; // closes a file that was cleared
};
