#pragma once

// Why the packet store refused packets: what ran out decides what the user is told.
enum class StoreShortage {
    None,
    Memory, // memory, or address space to map the store's file
    Disk,   // the disk holding the store's file
    Rows,   // as many rows as the list can count
};
