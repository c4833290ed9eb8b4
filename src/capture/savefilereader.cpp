#include "savefilereader.h"

#include "helperprotocol.h"
#include "packetbatch.h"

#include <cstring>

namespace {

quint32 word(const char* at)
{
    quint32 value;
    std::memcpy(&value, at, sizeof value); // the helper runs on this machine: native order
    return value;
}

} // namespace

bool SavefileReader::readHeader(QByteArrayView header)
{
    if (header.size() != HelperProtocol::FileHeaderBytes)
        return false;
    const quint32 magic = word(header.data());
    if (magic != HelperProtocol::MicrosecondMagic && magic != HelperProtocol::NanosecondMagic)
        return false;
    m_nanoseconds = magic == HelperProtocol::NanosecondMagic;
    m_snapshotLength = word(header.data() + 16);
    m_linkType = int(word(header.data() + 20));
    // More than the helper ever asks for is a broken stream: a record that long could not be
    // held by the window's read buffer and would never complete.
    return m_snapshotLength > 0 && m_snapshotLength <= quint32(HelperProtocol::SnapshotLength);
}

qsizetype SavefileReader::readRecords(QByteArrayView bytes, PacketBatch& batch) const
{
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    const char* at = begin;
    batch.setLinkType(m_linkType);
    while (end - at >= HelperProtocol::RecordHeaderBytes) {
        const quint32 captured = word(at + 8);
        // Each bound keeps a corrupt length from reading past the buffer or asking for gigabytes.
        if (captured > m_snapshotLength || m_snapshotLength == 0)
            return -1;
        if (end - at - HelperProtocol::RecordHeaderBytes < qsizetype(captured))
            break;
        // A division by a constant: a multiplication, where one by a variable was a division.
        const quint32 fraction = word(at + 4);
        const qint64 timeUs =
            qint64(word(at)) * 1000000 + (m_nanoseconds ? fraction / 1000 : fraction);
        batch.append(timeUs, word(at + 12),
                     QByteArrayView(at + HelperProtocol::RecordHeaderBytes, captured));
        at += HelperProtocol::RecordHeaderBytes + captured;
    }
    return at - begin;
}
