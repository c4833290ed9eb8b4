#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

// Packets captured in one pass of the capture thread, kept contiguously so that handing them to
// the user-interface thread costs one allocation per batch and none per packet.
class PacketBatch
{
public:
    struct Entry
    {
        qint64 timeUs;
        quint32 size;
        quint32 length;
        qsizetype offset;
    };

    // What clear() keeps: a delivery of a burst at full loopback speed (40 ms of up to a million
    // packets a second) fits, so a burst's batches are not freed and grown again page by page
    // every delivery.
    static constexpr size_t KeptBytes = size_t(4) << 20;
    static constexpr size_t KeptEntries = 65536;
    static constexpr int EthernetLinkType = 1;

    void append(qint64 timeUs, quint32 size, QByteArrayView data);
    void append(const PacketBatch& other);
    // Empties the batch; its memory is kept for the next one unless it grew past a typical
    // batch.
    void clear();
    void reserve(qsizetype packets, qsizetype bytes);
    // How every packet of the batch begins, as a pcap link type (1: Ethernet).
    int linkType() const { return m_linkType; }
    void setLinkType(int linkType) { m_linkType = linkType; }

    qsizetype count() const { return qsizetype(m_entries.size()); }
    qsizetype byteCount() const { return qsizetype(m_bytes.size()); }
    bool isEmpty() const { return m_entries.empty(); }
    const Entry& entry(qsizetype i) const { return m_entries[size_t(i)]; }
    QByteArrayView bytes(qsizetype i) const;

private:
    std::vector<Entry> m_entries;
    std::vector<char> m_bytes;
    int m_linkType = EthernetLinkType;
};
