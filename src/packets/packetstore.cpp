#include "packetstore.h"

#include "packetbatch.h"

#include <algorithm>
#include <cstring>

PacketStore::PacketStore() = default;
PacketStore::~PacketStore() = default;

char* PacketStore::reserveBytes(qsizetype length, quint64* location)
{
    if (m_chunks.empty() || m_chunkSize - m_chunkUsed < length) {
        // Left uninitialised so that pages become resident only as packets are written.
        m_chunkSize = std::max(ChunkBytes, length);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size_t(m_chunkSize)));
        m_chunkUsed = 0;
    }
    *location = (quint64(m_chunks.size() - 1) << 32) | quint64(m_chunkUsed);
    char* at = m_chunks.back().get() + m_chunkUsed;
    m_chunkUsed += length;
    return at;
}

void PacketStore::append(qint64 timeUs, quint32 size, QByteArrayView data)
{
    if (m_count % EntriesPerBlock == 0 && size_t(m_count / EntriesPerBlock) == m_blocks.size())
        m_blocks.push_back(std::make_unique_for_overwrite<Entry[]>(size_t(EntriesPerBlock)));
    Entry& e = m_blocks[size_t(m_count / EntriesPerBlock)][size_t(m_count % EntriesPerBlock)];
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
    for (qsizetype i = 0; i < batch.count(); ++i) {
        const PacketBatch::Entry& e = batch.entry(i);
        append(e.timeUs, e.size, batch.bytes(i));
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
