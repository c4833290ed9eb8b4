#include "pcaprows.h"

#include "helperprotocol.h"
#include "packetstore.h"

#include <algorithm>
#include <cstring>

namespace {

template <typename Word> char* put(char* out, Word word)
{
    std::memcpy(out, &word, sizeof word);
    return out + sizeof word;
}

// The list keeps link types as this system's libpcap numbers them (DLT_), the file as every
// system reads them (LINKTYPE_); they differ in a few old values only.
quint32 fileLinkType(int dlt)
{
    switch (dlt) {
    case 11: // DLT_ATM_RFC1483
        return 100;
    case 12: // DLT_RAW
        return 101;
    case 15: // DLT_SLIP_BSDOS
        return 102;
    case 16: // DLT_PPP_BSDOS
        return 103;
    case 19: // DLT_ATM_CLIP
        return 106;
    }
    return quint32(dlt);
}

} // namespace

PcapRows::PcapRows(const PacketStore& store, int linkType) : m_store(store), m_linkType(linkType) {}

qsizetype PcapRows::headerRoom() const
{
    return HelperProtocol::FileHeaderBytes;
}

char* PcapRows::writeHeader(char* out) const
{
    out = put(out, HelperProtocol::MicrosecondMagic);
    out = put(out, quint16(2)); // version 2.4
    out = put(out, quint16(4));
    out = put(out, quint32(0)); // time zone offset, always 0
    out = put(out, quint32(0)); // time stamp accuracy, always 0
    out = put(out, quint32(HelperProtocol::SnapshotLength));
    return put(out, fileLinkType(m_linkType));
}

void PcapRows::load(qsizetype row)
{
    m_timeUs = m_store.timeUs(row);
    m_size = m_store.size(row);
    m_bytes = m_store.bytes(row);
}

qsizetype PcapRows::room() const
{
    return HelperProtocol::RecordHeaderBytes + m_bytes.size();
}

char* PcapRows::write(char* out) const
{
    // Times before 1970 would need a negative second, which the format has no room for.
    const qint64 timeUs = std::max<qint64>(m_timeUs, 0);
    out = put(out, quint32(timeUs / 1000000));
    out = put(out, quint32(timeUs % 1000000));
    out = put(out, quint32(m_bytes.size()));
    // A reader refuses a record that holds more than the packet's length on the wire.
    out = put(out, std::max(m_size, quint32(m_bytes.size())));
    std::memcpy(out, m_bytes.data(), size_t(m_bytes.size()));
    return out + m_bytes.size();
}
