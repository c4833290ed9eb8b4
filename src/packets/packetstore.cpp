#include "packetstore.h"

#include "packetbatch.h"

#include <algorithm>
#include <cstring>

PacketStore::PacketStore() = default;
PacketStore::~PacketStore() = default;

void PacketStore::makeRoom(qsizetype length)
{
    if (m_chunks.empty() || m_chunkSize - m_chunkUsed < length) {
        // Left uninitialised so that pages become resident only as packets are written.
        m_chunkSize = std::max(ChunkBytes, length);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size_t(m_chunkSize)));
        m_chunkUsed = 0;
    }
}

char* PacketStore::reserveBytes(qsizetype length, quint64* location)
{
    makeRoom(length);
    *location = (quint64(m_chunks.size() - 1) << 32) | quint64(m_chunkUsed);
    char* at = m_chunks.back().get() + m_chunkUsed;
    m_chunkUsed += length;
    return at;
}

PacketStore::Entry& PacketStore::nextEntry()
{
    if (m_count % EntriesPerBlock == 0 && size_t(m_count / EntriesPerBlock) == m_blocks.size())
        m_blocks.push_back(std::make_unique_for_overwrite<Entry[]>(size_t(EntriesPerBlock)));
    return m_blocks[size_t(m_count / EntriesPerBlock)][size_t(m_count % EntriesPerBlock)];
}

void PacketStore::append(qint64 timeUs, quint32 size, QByteArrayView data)
{
    Entry& e = nextEntry();
    e.timeUs = timeUs;
    e.size = size;
    e.length = quint32(data.size());
    if (!data.isEmpty())
        std::memcpy(reserveBytes(data.size(), &e.location), data.data(), size_t(data.size()));
    else
        e.location = 0;
    ++m_count;
}

void PacketStore::append(const PacketBatch& batch)
{
    // A batch keeps its packets' bytes one after the other, as the store does, so every run of
    // packets that fits the current chunk is copied at once. Chunks are opened exactly where
    // appending the packets one by one would open them.
    for (qsizetype i = 0, n = batch.count(); i < n;) {
        const qsizetype from = batch.entry(i).offset;
        if (batch.entry(i).length > 0)
            makeRoom(batch.entry(i).length);
        const qsizetype room = m_chunks.empty() ? 0 : m_chunkSize - m_chunkUsed;
        qsizetype end = i + 1;
        while (end < n && batch.entry(end).offset + batch.entry(end).length - from <= room)
            ++end;
        const qsizetype bytes = batch.entry(end - 1).offset + batch.entry(end - 1).length - from;
        quint64 base = 0;
        if (bytes > 0)
            std::memcpy(reserveBytes(bytes, &base), batch.bytes(i).data(), size_t(bytes));
        for (; i < end; ++i) {
            const PacketBatch::Entry& packet = batch.entry(i);
            Entry& e = nextEntry();
            e.timeUs = packet.timeUs;
            e.size = packet.size;
            e.length = packet.length;
            e.location = packet.length ? base + quint64(packet.offset - from) : 0;
            ++m_count;
        }
    }
}

void PacketStore::clear()
{
    // Frees the memory as well: a cleared list should give its memory back.
    decltype(m_chunks)().swap(m_chunks);
    decltype(m_blocks)().swap(m_blocks);
    m_chunkSize = m_chunkUsed = 0;
    m_count = 0;
}

QByteArrayView PacketStore::bytes(qsizetype i) const
{
    const Entry& e = entry(i);
    if (e.length == 0)
        return {};
    const char* chunk = m_chunks[size_t(e.location >> 32)].get();
    return QByteArrayView(chunk + (e.location & 0xffffffffu), e.length);
}

Packet PacketStore::packet(qsizetype i) const
{
    const QByteArrayView data = bytes(i);
    return Packet{timeUs(i), size(i), QByteArray(data.data(), data.size())};
}
