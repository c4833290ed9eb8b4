#pragma once

#include <QString>

// Why the packet store refused packets: what ran out decides what the user is told.
enum class StoreShortage {
    None,
    Memory,       // memory, for a store held in memory
    AddressSpace, // address space or mappings, to map more of the store
    Disk,         // the disk holding the store's file, down to the floor left to its users
    FileSize,     // the largest file the process may write (RLIMIT_FSIZE) or the disk can hold
    Io,           // the disk holding the store's file failed to read or write
    Rows,         // as many rows as the list can count
};

// The message that stops capture: what ran out, where the list is held (folder, empty in
// memory), how many packets it holds and what the user can do.
QString storeShortageMessage(StoreShortage shortage, const QString& folder, qsizetype packets);
