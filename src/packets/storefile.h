#pragma once

#include "storeshortage.h"

#include <QString>
#include <QStringList>

#include <thread>

// Where the packet store keeps its bytes: a private file, or memory when no folder will do.
//
// The file is made with O_TMPFILE and mode 0600 in the first usable folder: it has no name,
// nobody else can open it, and the kernel removes it when the program ends, however it ends.
// A folder is usable when it is a directory the user owns (or root's sticky one, such as
// /var/tmp), writable, on a file system that can reserve space and that is not a memory file
// system (tmpfs, ramfs): a store there would take the memory it is meant to spare.
//
// The store grows by regions appended to the file. Space for a region is reserved (fallocate)
// before it is mapped, so a full disk is a refusal here and never a SIGBUS in a mapped page.
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
    };

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

    // Maps a new region of bytes (a multiple of the page size); on refusal the region's data is
    // null and shortage() says what ran out.
    Region grow(qsizetype bytes);
    // Writes size bytes at offset at of a region; false when the disk refused them.
    bool write(const Region& region, qsizetype at, const void* data, qsizetype size);
    void release(const Region& region, qsizetype bytes);
    // After every region was released: the file is emptied and its space given back (by a
    // thread of its own; a new, empty file takes its place).
    void reset();
    StoreShortage shortage() const { return m_shortage; }

private:
    Region growInMemory(qsizetype bytes);
    Region growOnDisk(qsizetype bytes);

    int m_fd = -1;
    QString m_folder;
    qint64 m_end = 0; // bytes reserved in the file
    StoreShortage m_shortage = StoreShortage::None;
    std::thread m_release; // closes a file that was cleared
};
