#pragma once

#include "listfile.h"
#include "rowformat.h"

#include <QByteArrayView>

class PacketStore;

// The rows as a pcap capture file, the format tcpdump writes and every capture tool reads: a
// file header with the rows' link type, then each packet's record header and its bytes as
// captured, in this machine's byte order with microsecond times.
class PcapRows : public RowFormat
{
public:
    PcapRows(const PacketStore& store, int linkType);

    qsizetype headerRoom() const override;
    char* writeHeader(char* out) const override;
    void load(qsizetype row) override;
    qsizetype room() const override;
    char* write(char* out) const override;

private:
    const PacketStore& m_store;
    const int m_linkType;
    qint64 m_timeUs = 0;
    quint32 m_size = 0;
    QByteArrayView m_bytes;
};

// A pcap capture file of rows [0, rows) of the store, all of one link type.
class PcapFile : public ListFile
{
public:
    // buffer holds RecordBytes.
    PcapFile(const PacketStore& store, int linkType, qsizetype rows, char* buffer)
        : ListFile(m_records, rows, buffer, QStringLiteral("capture")), m_records(store, linkType)
    {}

private:
    PcapRows m_records;
};
