#include "packetbatch.h"

#include "helperprotocol.h"

void PacketBatch::append(qint64 timeUs, quint32 size, QByteArrayView data)
{
    // The capture never hands over more than its snapshot length; what the list and the log
    // decode is sized for that.
    if (data.size() > HelperProtocol::SnapshotLength)
        data.truncate(HelperProtocol::SnapshotLength);
    // Bytes first: when memory runs out the batch is left as it was or with bytes no entry
    // refers to, never with an entry past its bytes.
    const qsizetype offset = qsizetype(m_bytes.size());
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
    m_entries.push_back({timeUs, size, quint32(data.size()), offset});
}

void PacketBatch::append(const PacketBatch& other)
{
    // Batches meet only within one capture or file, of one link type.
    m_linkType = other.m_linkType;
    const qsizetype base = qsizetype(m_bytes.size());
    m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
    m_entries.reserve(m_entries.size() + other.m_entries.size());
    for (Entry e : other.m_entries) {
        e.offset += base;
        m_entries.push_back(e);
    }
}

void PacketBatch::clear()
{
    // Three batches take turns on the way to the window (the reading thread's, the pending one
    // and the one being delivered), and a burst makes each as large as 40 ms of traffic. Kept
    // at that size they would hold megabytes between bursts; beyond a typical batch the
    // memory goes back.
    if (m_bytes.capacity() > KeptBytes || m_entries.capacity() > KeptEntries) {
        std::vector<Entry>().swap(m_entries);
        std::vector<char>().swap(m_bytes);
        return;
    }
    m_entries.clear();
    m_bytes.clear();
}

void PacketBatch::reserve(qsizetype packets, qsizetype bytes)
{
    m_entries.reserve(size_t(packets));
    m_bytes.reserve(size_t(bytes));
}

QByteArrayView PacketBatch::bytes(qsizetype i) const
{
    const Entry& e = entry(i);
    return QByteArrayView(m_bytes.data() + e.offset, e.length);
}
