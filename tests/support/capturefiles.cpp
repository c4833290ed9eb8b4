#include "capturefiles.h"

#include <QtEndian>

namespace CaptureFiles {

namespace {

struct Writer
{
    bool big;
    QByteArray out;
    template <typename T> void put(T value)
    {
        T v = big ? qToBigEndian(value) : qToLittleEndian(value);
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
};

QByteArray linkHeader(LinkType linkType)
{
    switch (linkType) {
    case Ethernet:
        return QByteArray(12, '\0') + QByteArray("\x08\x00", 2);
    case Cooked: // packet type, ARPHRD_LOOPBACK, address length, address, protocol
        return QByteArray("\x00\x00\x03\x04\x00\x06", 6) + QByteArray(8, '\0') +
               QByteArray("\x08\x00", 2);
    case Cooked2: // protocol, reserved, interface index, ARPHRD_LOOPBACK, type, address
        return QByteArray("\x08\x00\x00\x00\x00\x00\x00\x01\x03\x04\x00\x06", 12) +
               QByteArray(8, '\0');
    case Usb:
        return QByteArray(48, '\0');
    }
    return {};
}

} // namespace

QByteArray udpFrame(LinkType linkType, quint16 port, const QByteArray& payload)
{
    Writer ip{true, {}};
    ip.put<quint16>(0x4500);
    ip.put<quint16>(quint16(28 + payload.size()));
    ip.put<quint32>(0);          // identification, no fragment
    ip.put<quint16>(0x4011);     // TTL 64, UDP
    ip.put<quint16>(0);          // checksum, not looked at
    ip.put<quint32>(0x7f000001); // 127.0.0.1 to 127.0.0.1
    ip.put<quint32>(0x7f000001);
    ip.put<quint16>(5555);
    ip.put<quint16>(port);
    ip.put<quint16>(quint16(8 + payload.size()));
    ip.put<quint16>(0);
    return linkHeader(linkType) + ip.out + payload;
}

QByteArray pcapFile(LinkType linkType, const QList<Frame>& frames, bool nanoseconds, bool bigEndian)
{
    Writer w{bigEndian, {}};
    w.put<quint32>(nanoseconds ? 0xa1b23c4d : 0xa1b2c3d4);
    w.put<quint16>(2);
    w.put<quint16>(4);
    w.put<quint64>(0);
    w.put<quint32>(262144);
    w.put<quint32>(linkType);
    for (const Frame& f : frames) {
        w.put<quint32>(quint32(f.timeNs / 1000000000));
        w.put<quint32>(quint32(f.timeNs % 1000000000 / (nanoseconds ? 1 : 1000)));
        w.put<quint32>(quint32(f.bytes.size()));
        w.put<quint32>(quint32(f.bytes.size()));
        w.out += f.bytes;
    }
    return w.out;
}

QByteArray pcapngFile(LinkType linkType, const QList<Frame>& frames, bool nanoseconds,
                      bool bigEndian)
{
    Writer w{bigEndian, {}};
    const auto block = [&w](quint32 type, const QByteArray& body) {
        w.put<quint32>(type);
        w.put<quint32>(quint32(12 + body.size()));
        w.out += body;
        w.put<quint32>(quint32(12 + body.size()));
    };
    Writer body{bigEndian, {}};
    body.put<quint32>(0x1A2B3C4D); // byte-order magic
    body.put<quint16>(1);
    body.put<quint16>(0);
    body.put<qint64>(-1); // section length unknown
    block(0x0A0D0D0A, body.out);
    body.out.clear();
    body.put<quint16>(quint16(linkType));
    body.put<quint16>(0);
    body.put<quint32>(262144);
    body.put<quint16>(9); // if_tsresol: 10^-9 or 10^-6
    body.put<quint16>(1);
    body.out += QByteArray(1, nanoseconds ? 9 : 6) + QByteArray(3, '\0');
    body.put<quint32>(0); // end of options
    block(1, body.out);
    for (const Frame& f : frames) {
        const quint64 ticks = quint64(nanoseconds ? f.timeNs : f.timeNs / 1000);
        body.out.clear();
        body.put<quint32>(0);
        body.put<quint32>(quint32(ticks >> 32));
        body.put<quint32>(quint32(ticks));
        body.put<quint32>(quint32(f.bytes.size()));
        body.put<quint32>(quint32(f.bytes.size()));
        body.out += f.bytes + QByteArray((4 - f.bytes.size() % 4) % 4, '\0');
        block(6, body.out);
    }
    return w.out;
}

} // namespace CaptureFiles
