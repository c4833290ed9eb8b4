#pragma once

#include "packet.h"

#include <QByteArrayView>

#include <atomic>
#include <limits>

class PacketBatch;

// The packets behind the rows of the packet list, in arrival order. Bytes live in large chunks
// and each packet costs one small index entry, so a million packets take little more memory
// than their bytes and no heap object each. Indexes are 0-based: entry k belongs to row k.
//
// Chunks and index blocks are mapped from the system one by one and unmapped by clear(), so a
// cleared store gives its memory back instead of leaving it in the heap.
//
// Memory running out is an answer, not an abort: append() keeps what fits and isFull() says
// the rest was refused. The store stops growing while some address space is still free and
// then releases a reserve it holds from the start, so that the program can still tell the user
// and write the rows out.
//
// One thread owns the store and is the only one to append and clear. Other threads may read
// entries [0, n) through the const accessors while the owner appends, n being a count() they
// obtained after those entries were appended: appending never moves, reallocates or rewrites
// anything an existing entry leads to (the tables of chunks and blocks are mapped once, at full
// size, and only slots past the last used are written). clear() must not run while anyone reads.
class PacketStore
{
public:
    PacketStore();
    ~PacketStore();
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;

    // Appends the batch's packets in order, as many as memory allows; returns how many.
    qsizetype append(const PacketBatch& batch);
    // Empties the store and gives its memory back; it may grow again afterwards.
    void clear();
    // True once an append had to refuse packets; until clear().
    bool isFull() const { return m_full; }

    qsizetype count() const { return m_count.load(std::memory_order_acquire); }
    qint64 timeUs(qsizetype i) const { return entry(i).timeUs; }
    quint32 size(qsizetype i) const { return entry(i).size; }
    QByteArrayView bytes(qsizetype i) const;
    Packet packet(qsizetype i) const;

private:
    struct Entry
    {
        quint64 location; // chunk index in the high 32 bits, offset inside it in the low 32
        qint64 timeUs;
        quint32 size;
        quint32 length;
    };
    struct Chunk
    {
        char* data;
        qsizetype size;
    };

    static constexpr qsizetype ChunkBytes = qsizetype(4) << 20;
    static constexpr qsizetype EntriesPerBlock = qsizetype(1) << 15;
    // As many rows as a list can have, and 256 GiB of packet bytes; the tables are mapped, so
    // only the slots in use become resident.
    static constexpr qsizetype MaxEntries = std::numeric_limits<int>::max();
    static constexpr qsizetype MaxBlocks = MaxEntries / EntriesPerBlock + 1;
    static constexpr qsizetype MaxChunks = qsizetype(1) << 16;

    const Entry& entry(qsizetype i) const
    {
        return m_blocks[i / EntriesPerBlock][i % EntriesPerBlock];
    }
    bool makeRoom(qsizetype length);
    char* reserveBytes(qsizetype length, quint64* location);
    Entry* nextEntry(qsizetype index);
    void giveUp();

    Chunk* m_chunks = nullptr; // MaxChunks slots
    qsizetype m_chunkCount = 0;
    qsizetype m_chunkUsed = 0;
    Entry** m_blocks = nullptr; // MaxBlocks slots
    qsizetype m_blockCount = 0;
    std::atomic<qsizetype> m_count{0};
    void* m_reserve = nullptr;
    bool m_full = false;
};
