#include "packetstore.h"

#include "packetbatch.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

namespace {

// Address space the store leaves free for the rest of the program whenever it grows: the
// capture thread's batches and the window must not be the ones to find memory gone.
constexpr size_t Headroom = size_t(64) << 20;
// Held from the start and released when the store gives up, so that the message, the list and
// the log writer still find memory.
constexpr size_t ReserveBytes = size_t(32) << 20;

// Pages are left untouched, so they become resident only as they are written.
void* mapMemory(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void unmapMemory(void* p, size_t bytes)
{
    if (p)
        ::munmap(p, bytes);
}

// Maps memory only if the headroom is still free afterwards.
void* mapWithHeadroom(size_t bytes)
{
    void* p = mapMemory(bytes);
    if (!p)
        return nullptr;
    void* probe = mapMemory(Headroom);
    if (!probe) {
        unmapMemory(p, bytes);
        return nullptr;
    }
    unmapMemory(probe, Headroom);
    return p;
}

} // namespace

PacketStore::PacketStore()
    : m_chunks(static_cast<Chunk*>(mapMemory(size_t(MaxChunks) * sizeof(Chunk)))),
      m_blocks(static_cast<Entry**>(mapMemory(size_t(MaxBlocks) * sizeof(Entry*)))),
      m_reserve(mapMemory(ReserveBytes))
{}

PacketStore::~PacketStore()
{
    clear();
    unmapMemory(m_reserve, ReserveBytes);
    unmapMemory(m_blocks, size_t(MaxBlocks) * sizeof(Entry*));
    unmapMemory(m_chunks, size_t(MaxChunks) * sizeof(Chunk));
}

bool PacketStore::makeRoom(qsizetype length)
{
    if (m_chunkCount > 0 && m_chunks[m_chunkCount - 1].size - m_chunkUsed >= length)
        return true;
    if (!m_chunks || m_chunkCount == MaxChunks)
        return false;
    const qsizetype size = std::max(ChunkBytes, length);
    char* data = static_cast<char*>(mapWithHeadroom(size_t(size)));
    if (!data)
        return false;
    m_chunks[m_chunkCount++] = Chunk{data, size};
    m_chunkUsed = 0;
    return true;
}

char* PacketStore::reserveBytes(qsizetype length, quint64* location)
{
    *location = (quint64(m_chunkCount - 1) << 32) | quint64(m_chunkUsed);
    char* at = m_chunks[m_chunkCount - 1].data + m_chunkUsed;
    m_chunkUsed += length;
    return at;
}

PacketStore::Entry* PacketStore::nextEntry(qsizetype index)
{
    if (index == MaxEntries)
        return nullptr;
    const qsizetype block = index / EntriesPerBlock;
    if (block == m_blockCount) {
        if (!m_blocks)
            return nullptr;
        void* data = mapWithHeadroom(size_t(EntriesPerBlock) * sizeof(Entry));
        if (!data)
            return nullptr;
        m_blocks[m_blockCount++] = static_cast<Entry*>(data);
    }
    return &m_blocks[block][index % EntriesPerBlock];
}

qsizetype PacketStore::append(const PacketBatch& batch)
{
    // Once memory ran out the store takes nothing more: what the reserve freed is for the
    // program, not for more packets.
    if (m_full)
        return 0;
    const qsizetype before = m_count.load(std::memory_order_relaxed);
    qsizetype stored = before;
    // A batch keeps its packets' bytes one after the other, as the store does, so every run of
    // packets that fits the current chunk is copied at once. Chunks are opened exactly where
    // appending the packets one by one would open them.
    const qsizetype n = batch.count();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype from = batch.entry(i).offset;
        if (batch.entry(i).length > 0 && !makeRoom(batch.entry(i).length))
            break;
        const qsizetype room = m_chunkCount ? m_chunks[m_chunkCount - 1].size - m_chunkUsed : 0;
        qsizetype end = i + 1;
        while (end < n && batch.entry(end).offset + batch.entry(end).length - from <= room)
            ++end;
        const qsizetype bytes = batch.entry(end - 1).offset + batch.entry(end - 1).length - from;
        quint64 base = 0;
        if (bytes > 0)
            std::memcpy(reserveBytes(bytes, &base), batch.bytes(i).data(), size_t(bytes));
        for (; i < end; ++i) {
            Entry* e = nextEntry(stored);
            if (!e)
                break;
            const PacketBatch::Entry& packet = batch.entry(i);
            e->timeUs = packet.timeUs;
            e->size = packet.size;
            e->length = packet.length;
            e->location = packet.length ? base + quint64(packet.offset - from) : 0;
            ++stored;
        }
        if (i < end)
            break;
    }
    // Readers on other threads see the new entries complete, or not at all.
    m_count.store(stored, std::memory_order_release);
    if (i < n)
        giveUp();
    return stored - before;
}

void PacketStore::giveUp()
{
    m_full = true;
    unmapMemory(m_reserve, ReserveBytes);
    m_reserve = nullptr;
}

void PacketStore::clear()
{
    for (qsizetype c = 0; c < m_chunkCount; ++c)
        unmapMemory(m_chunks[c].data, size_t(m_chunks[c].size));
    for (qsizetype b = 0; b < m_blockCount; ++b)
        unmapMemory(m_blocks[b], size_t(EntriesPerBlock) * sizeof(Entry));
    m_chunkCount = m_chunkUsed = m_blockCount = 0;
    m_count.store(0, std::memory_order_release);
    m_full = false;
    if (!m_reserve)
        m_reserve = mapMemory(ReserveBytes);
}

QByteArrayView PacketStore::bytes(qsizetype i) const
{
    const Entry& e = entry(i);
    if (e.length == 0)
        return {};
    const char* chunk = m_chunks[e.location >> 32].data;
    return QByteArrayView(chunk + (e.location & 0xffffffffu), e.length);
}

Packet PacketStore::packet(qsizetype i) const
{
    const QByteArrayView data = bytes(i);
    return Packet{timeUs(i), size(i), QByteArray(data.data(), data.size())};
}
