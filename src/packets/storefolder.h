#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>

#include <sys/types.h>

// The folder the packet store keeps its file in, and the share of that folder's disk it may take.
//
// A folder is opened once (O_DIRECTORY | O_NOFOLLOW) and everything is decided on that
// descriptor: the owner and type (fstat), the file system (fstatfs) and the file itself
// (openat, O_TMPFILE). A path checked and then opened again could lead somewhere else by then.
//
// A folder works when it is a directory the user owns (or root's sticky one, such as /var/tmp),
// on a file system that can reserve space, that is not held in memory (tmpfs, ramfs, or an
// overlay whose upper layer is one of them: a store there would take the memory it is meant to
// spare), and that has room above its floor.
namespace StoreFolder {

// What the store leaves free on a file system for its users: 5 % of its size, at most 1 GiB.
constexpr qint64 floorBytes(qint64 fileSystemBytes)
{
    return std::min(fileSystemBytes / 20, qint64(1) << 30);
}

// The least room above the floor a folder must have when the store is made, for its first
// regions: a folder with less is passed over.
constexpr qint64 LeastRoom = qint64(16) << 20;

// Bytes the store may still take on the file system of fd: what its users may still have,
// less the floor; negative below the floor.
qint64 roomAboveFloor(int fd);

// The space a file that is about to be closed will give back on a device: counted as free.
struct Credit
{
    dev_t device = 0;
    qint64 bytes = 0;
};

// A nameless file (mode 0600, O_EXCL: it can never be given a name) in the first folder that
// works, which is made (0700) if missing; -1 when none does. *chosen is its folder.
int openFile(const QStringList& folders, const Credit& credit, QString* chosen);

} // namespace StoreFolder
