#include "testpackets.h"

QByteArray bytesWithHexText(QByteArrayView hexDigits)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < hexDigits.size();) {
        const qsizetype length = hexDigits[i] == '0' || i + 1 == hexDigits.size() ? 1 : 2;
        bytes.append(char(hexDigits.sliced(i, length).toByteArray().toInt(nullptr, 16)));
        i += length;
    }
    return bytes;
}

Packet messagePacket(const QString& decodedText, qint64 timeUs)
{
    QByteArray hex;
    for (const QChar c : decodedText)
        hex += QByteArray::number(c.unicode() | 0x100, 16).toUpper().sliced(1);
    const QByteArray bytes = bytesWithHexText(hex);
    return Packet{timeUs, quint32(bytes.size() + 42), bytes};
}

PacketBatch batchOf(const QList<Packet>& packets)
{
    PacketBatch batch;
    for (const Packet& p : packets)
        batch.append(p.timeUs, p.size, p.data);
    return batch;
}
