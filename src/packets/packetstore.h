#pragma once

#include "packet.h"
#include "storefile.h"

#include <QByteArrayView>

#include <array>
#include <atomic>
#include <limits>

class PacketBatch;

// The packets behind the rows of the packet list, in arrival order. Bytes live in large chunks
// and each packet costs one small index entry, so a million packets take little more than
// their bytes and no heap object each. Indexes are 0-based: entry k belongs to row k.
//
// Chunks and index blocks are regions of a private file (see StoreFile), so the packets take
// disk, not memory: what the kernel caches of them it may write back and drop. Without a
// usable folder they are mappings in memory. clear() gives both back.
//
// Running out is an answer, not an abort: append() keeps what fits and isFull() says the rest
// was refused, shortage() why. In memory the store stops while a reserve is left and then
// releases one it holds from the start, so that the program can still tell the user and write
// the rows out.
//
// One thread owns the store and is the only one to append and clear. Other threads may read
// entries [0, n) through the const accessors while the owner appends, n being a count() they
// obtained after those entries were appended: appending never moves, remaps or rewrites
// anything an existing entry leads to (the tables of chunks and blocks are mapped once, at full
// size, and only slots past the last used are written). clear() must not run while anyone reads.
class PacketStore
{
public:
    // As many rows as a list can have.
    static constexpr qsizetype MaxEntries = std::numeric_limits<int>::max();

    PacketStore();
    // Tries the folders in order for its file; keeps at most maxEntries packets.
    explicit PacketStore(const QStringList& folders, qsizetype maxEntries = MaxEntries);
    ~PacketStore();
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;

    // Appends the batch's packets in order, as many as there is room for; returns how many.
    qsizetype append(const PacketBatch& batch);
    // Empties the store and gives its memory and disk space back; it may grow again afterwards.
    void clear();
    // True once an append had to refuse packets; until clear().
    bool isFull() const { return m_shortage != StoreShortage::None; }
    StoreShortage shortage() const { return m_shortage; }
    // The folder of the store's file; empty when the packets are held in memory.
    QString folder() const { return m_file.folder(); }
    qint64 diskBytes() const { return m_file.diskBytes(); }

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
        StoreFile::Region region;
        qsizetype size;
    };

    static constexpr qsizetype ChunkBytes = qsizetype(4) << 20;
    static constexpr qsizetype EntriesPerBlock = qsizetype(1) << 15;
    static constexpr qsizetype BlockBytes = EntriesPerBlock * qsizetype(sizeof(Entry));
    // 256 GiB of packet bytes; the tables are mapped, so only the slots in use become resident.
    static constexpr qsizetype MaxBlocks = MaxEntries / EntriesPerBlock + 1;
    static constexpr qsizetype MaxChunks = qsizetype(1) << 16;

    const Entry& entry(qsizetype i) const
    {
        return reinterpret_cast<const Entry*>(
            m_blocks[i / EntriesPerBlock].data)[i % EntriesPerBlock];
    }
    bool makeRoom(qsizetype length);
    bool storeRun(const PacketBatch& batch, qsizetype from, qsizetype end, qsizetype* stored);
    bool flushEntries(qsizetype* stored);
    void giveUp();

    StoreFile m_file;
    const qsizetype m_maxEntries;
    Chunk* m_chunks = nullptr; // MaxChunks slots
    qsizetype m_chunkCount = 0;
    qsizetype m_chunkUsed = 0;
    StoreFile::Region* m_blocks = nullptr; // MaxBlocks slots
    qsizetype m_blockCount = 0;
    std::atomic<qsizetype> m_count{0};
    // Entries are written to their block a few hundred at a time.
    std::array<Entry, 512> m_pending;
    qsizetype m_pendingCount = 0;
    void* m_reserve = nullptr;
    StoreShortage m_shortage = StoreShortage::None;
};
