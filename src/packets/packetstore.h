#pragma once

#include "packet.h"
#include "storefile.h"

#include <QByteArrayView>

#include <atomic>
#include <limits>
#include <memory>

class PacketBatch;

// The packets behind the rows of the packet list, in arrival order. Bytes live in large chunks
// and each packet costs one small index entry, so a million packets take little more than
// their bytes and no heap object each. Indexes are 0-based: entry k belongs to row k.
//
// Chunks and index blocks are regions of a private file (see StoreFile), so the packets take
// disk, not memory: what the kernel caches of them it may write back and drop. Without a
// usable folder they are mappings in memory. clear() gives both back. Each region is as large
// as all of its kind before it, up to a cap, so that a list of as many rows as the store takes
// needs a few hundred mappings, far below the kernel's limit on them.
//
// What is read back from the file is not trusted: an index entry that does not lead inside the
// written bytes, or is longer than any packet can be, is damaged() and has no bytes.
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
    // True when entry i's record in the file was changed by someone else or the disk; its row
    // says so with this text instead of the packet's message.
    bool damaged(qsizetype i) const;
    static constexpr char DamagedText[] =
        "[damaged: this packet could not be read back from the list's file]";
    // Empty for a damaged entry.
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
        qsizetype written; // bytes of packets in it: read by readers through an atomic_ref
    };

    static constexpr qsizetype ChunkBytes = qsizetype(4) << 20;
    static constexpr qsizetype MaxChunkBytes = qsizetype(1) << 30;
    // Each new region is this fraction of what its kind holds already.
    static constexpr qsizetype GrowthDivisor = 4;
    static constexpr qsizetype MaxChunks = qsizetype(1) << 16;
    // Index blocks are made of spans of entries, found by the table of spans: a block may have
    // any number of them.
    static constexpr int SpanShift = 15;
    static constexpr qsizetype SpanEntries = qsizetype(1) << SpanShift;
    static constexpr qsizetype SpanBytes = SpanEntries * qsizetype(sizeof(Entry));
    static constexpr qsizetype MaxSpans = MaxEntries / SpanEntries + 1;
    static constexpr qsizetype MaxBlockBytes = SpanBytes << 8;

    // A span's region starts at its entries; its size is its block's for the first span of a
    // block, which releases the block, and 0 for the others.
    const Entry& entry(qsizetype i) const
    {
        return reinterpret_cast<const Entry*>(m_spans[i >> SpanShift].data)[i & (SpanEntries - 1)];
    }
    bool makeRoom(qsizetype length);
    bool openBlock();
    bool storeRun(const PacketBatch& batch, qsizetype from, qsizetype end, qsizetype* stored);
    bool flushEntries(qsizetype* stored);
    void giveUp();

    StoreFile m_file;
    const qsizetype m_maxEntries;
    // The tables are mapped once at full size, so only the slots in use become resident.
    Chunk* m_chunks = nullptr; // MaxChunks slots
    qsizetype m_chunkCount = 0;
    qsizetype m_chunkUsed = 0;
    qsizetype m_chunkTotal = 0;           // bytes of all chunks
    StoreFile::Region* m_spans = nullptr; // MaxSpans slots
    qsizetype m_spanCount = 0;
    std::atomic<qsizetype> m_count{0};
    // Entries are written to their block thousands at a time: each write to a file costs the
    // kernel a fixed amount beyond its bytes (with ext4, a journalled change of the file's time),
    // and with a few hundred a write that fixed cost was most of the index's.
    static constexpr qsizetype PendingEntries = 8192;
    const std::unique_ptr<Entry[]> m_pending;
    qsizetype m_pendingCount = 0;
    void* m_reserve = nullptr;
    StoreShortage m_shortage = StoreShortage::None;
};
