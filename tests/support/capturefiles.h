#pragma once

#include <QByteArray>
#include <QList>

// Capture files as tcpdump and dumpcap write them, made byte by byte for tests.
namespace CaptureFiles {

enum LinkType { Ethernet = 1, Cooked = 113, Cooked2 = 276, Usb = 189 };

struct Frame
{
    qint64 timeNs;
    QByteArray bytes;
};

// A UDP datagram from 127.0.0.1:5555 to 127.0.0.1:port behind the link type's header.
QByteArray udpFrame(LinkType linkType, quint16 port, const QByteArray& payload);

// A pcap file (microsecond or nanosecond times) or a pcapng file of one interface, in either
// byte order.
QByteArray pcapFile(LinkType linkType, const QList<Frame>& frames, bool nanoseconds,
                    bool bigEndian);
QByteArray pcapngFile(LinkType linkType, const QList<Frame>& frames, bool nanoseconds,
                      bool bigEndian);

} // namespace CaptureFiles
