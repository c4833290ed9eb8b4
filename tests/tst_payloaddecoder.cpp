#include "payloaddecoder.h"
#include "referencedecoder.h"

#include <QTest>

// The program's decoder against the worked examples, and against the plain reference decoder of
// the tests on many packets. The reference is held to the same examples, so that the two cannot
// agree on a wrong rule.

namespace {

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// Packets with marker-like bytes in many places, so that markers are found in many shapes.
QList<QByteArray> randomPackets()
{
    static const char pool[] = {0x5B, 0x55, 0x05, char(0xB5), char(0xDA), 0x00, 0x2A, 0x41};
    QList<QByteArray> packets;
    for (int seed = 0; seed < 200; ++seed) {
        QByteArray packet;
        quint32 x = 2463534242u + quint32(seed) * 7919u;
        for (int i = 0; i < seed % 90; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            packet.append(x % 3 ? pool[x % sizeof pool] : char(x >> 8));
        }
        packets.append(packet);
    }
    return packets;
}

} // namespace

class tst_PayloadDecoder : public QObject
{
    Q_OBJECT

private slots:
    void hexText_data();
    void hexText();
    void decode_data();
    void decode();
    void classify_data();
    void classify();
    void sameAsTheReference_data();
    void sameAsTheReference();
};

void tst_PayloadDecoder::hexText_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("hex");

    QTest::newRow("no leading zeros") << bytes("050A5BFF") << "5A5BFF";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("zero byte") << bytes("00") << "0";
    QTest::newRow("upper case") << bytes("abcdef") << "ABCDEF";
    QTest::newRow("first example") << bytes("2A2A2A5B48695D") << "2A2A2A5B48695D";
}

void tst_PayloadDecoder::hexText()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, hex);
    QCOMPARE(HexText(packet), hex);
    QCOMPARE(ReferenceDecoder::hexText(packet), hex);
}

void tst_PayloadDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("worked example 1") << bytes("2A2A2A5B48695D") << "***[Hi]";
    QTest::newRow("worked example 2: byte below 16 before the start")
        << bytes("45002A2A2D5B5D") << "**-[]";
    QTest::newRow("worked example 3: code 218 is CR LF")
        << bytes("6162632A2A2D5B785DDA6F6B") << "**-[x]\r\nok";
    QTest::newRow("worked example 4: fallback marker") << bytes("5555555531") << "UUUU1";
    QTest::newRow("marker only in the first six digits falls back")
        << bytes("5B555555553132") << "UUUU12";
    QTest::newRow("marker only in the first six digits, no fallback") << bytes("5B4142") << "";
    QTest::newRow("marker across two bytes")
        << bytes("41424305B1") << "ABC" + QString(QChar(0x5B)) + QChar(0x1);
    QTest::newRow("odd digit count: the last step reads one digit")
        << bytes("2A2A2A5B4107") << "***[A" + QString(QChar(7));
    QTest::newRow("byte below 16 inside the message shifts the pairing")
        << bytes("2A2A2A5B0541") << "***[" + QString(QChar(0x54)) + QChar(0x1);
    QTest::newRow("code 218 twice") << bytes("2A2A2A5BDADA") << "***[\r\n\r\n";
    QTest::newRow("no marker at all") << bytes("0102030405") << "";
    QTest::newRow("empty packet") << QByteArray() << "";
    QTest::newRow("codes 128-255 are Latin-1")
        << bytes("2A2A2A5BE9FF") << "***[" + QString(QChar(0xE9)) + QChar(0xFF);
}

void tst_PayloadDecoder::decode()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, decoded);
    QCOMPARE(DecodePayload(HexText(packet)), decoded);
    QCOMPARE(ReferenceDecoder::decodePayload(ReferenceDecoder::hexText(packet)), decoded);
}

// The list's decode: type and data text straight from the bytes.
void tst_PayloadDecoder::classify_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("data");

    QTest::newRow("advertise") << bytes("2A2A2A5B48695D") << "Advertise"
                               << "[Hi]";
    QTest::newRow("i'm here") << bytes("6162632A2A2D5B785DDA6F6B") << "I'm here"
                              << "[x]\r\nok";
    QTest::newRow("i'm gone") << bytes("2D2A2A5B5D") << "I'm gone"
                              << "[]";
    QTest::newRow("license") << bytes("5555555531") << "License"
                             << "U1";
    QTest::newRow("lower case u is a message") << bytes("7575755B315D") << "Message"
                                               << "[1]";
    QTest::newRow("anything else") << bytes("6162635B6465") << "Message"
                                   << "[de";
    QTest::newRow("no marker: empty") << bytes("0102030405") << "Message"
                                      << "";
    QTest::newRow("empty packet") << QByteArray() << "Message"
                                  << "";
}

void tst_PayloadDecoder::classify()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, type);
    QFETCH(QString, data);
    const ReferenceDecoder::Message message = ReferenceDecoder::programsMessage(packet);
    QCOMPARE(message.type, type);
    QCOMPARE(message.data, data);
    const ReferenceDecoder::Message reference = ReferenceDecoder::decodePacket(packet);
    QCOMPARE(reference.type, type);
    QCOMPARE(reference.data, data);
}

void tst_PayloadDecoder::sameAsTheReference_data()
{
    QTest::addColumn<QByteArray>("packet");
    const QList<QByteArray> packets = randomPackets();
    for (qsizetype i = 0; i < packets.size(); ++i)
        QTest::addRow("random %d", int(i)) << packets[i];
}

// Every function the program calls, on the same packet; DecodePayload also on lower-case hex
// and on text that is not hex, as a text box may hold.
void tst_PayloadDecoder::sameAsTheReference()
{
    QFETCH(QByteArray, packet);
    const QString hex = ReferenceDecoder::hexText(packet);
    QCOMPARE(HexText(packet), hex);
    QCOMPARE(DecodePayload(hex), ReferenceDecoder::decodePayload(hex));
    QCOMPARE(DecodePayload(hex.toLower()), ReferenceDecoder::decodePayload(hex.toLower()));
    const QString anyText = QString::fromLatin1(packet);
    QCOMPARE(DecodePayload(anyText), ReferenceDecoder::decodePayload(anyText));
    const ReferenceDecoder::Message message = ReferenceDecoder::programsMessage(packet);
    const ReferenceDecoder::Message reference = ReferenceDecoder::decodePacket(packet);
    QCOMPARE(message.type, reference.type);
    QCOMPARE(message.data, reference.data);
}

QTEST_APPLESS_MAIN(tst_PayloadDecoder)
#include "tst_payloaddecoder.moc"
