#pragma once

#include "packet.h"

#include <QByteArrayView>

#include <memory>
#include <vector>

class PacketBatch;

// The packets behind the rows of the packet list, in arrival order. Bytes live in large chunks
// and each packet costs one small index entry, so a million packets take little more memory
// than their bytes and no heap object each. Indexes are 0-based: entry k belongs to row k.
class PacketStore
{
public:
    PacketStore();
    ~PacketStore();
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;

    void append(qint64 timeUs, quint32 size, QByteArrayView data);
    void append(const Packet& packet) { append(packet.timeUs, packet.size, packet.data); }
    void append(const PacketBatch& batch);
    void clear();

    qsizetype count() const { return m_count; }
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

    static constexpr qsizetype ChunkBytes = qsizetype(4) << 20;
    static constexpr qsizetype EntriesPerBlock = qsizetype(1) << 15;

    const Entry& entry(qsizetype i) const
    {
        return m_blocks[size_t(i / EntriesPerBlock)][size_t(i % EntriesPerBlock)];
    }
    void makeRoom(qsizetype length);
    char* reserveBytes(qsizetype length, quint64* location);
    Entry& nextEntry();

    std::vector<std::unique_ptr<char[]>> m_chunks;
    qsizetype m_chunkSize = 0;
    qsizetype m_chunkUsed = 0;
    std::vector<std::unique_ptr<Entry[]>> m_blocks;
    qsizetype m_count = 0;
};
