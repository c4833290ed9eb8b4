#pragma once

#include <QByteArrayView>
#include <QtGlobal>

class PacketBatch;

// Reads the capture helper's output, a pcap savefile, as it streams in. libpcap's own reader
// blocks until the stream ends, which would hold back every packet of a running capture; this
// one takes whatever a read returned and turns each complete record into a packet of a batch.
class SavefileReader
{
public:
    // Takes the file header; false when it is not a savefile this machine wrote or announces a
    // snapshot length beyond the capture helper's.
    bool readHeader(QByteArrayView header);

    // Appends every complete record at the front of bytes to batch and returns how many bytes
    // they took; the rest waits for more input. -1 when the stream is broken.
    qsizetype readRecords(QByteArrayView bytes, PacketBatch& batch) const;

private:
    bool m_nanoseconds = false;
    quint32 m_snapshotLength = 0; // 0 until a header was read: no record is taken before
    int m_linkType = 0;
};
