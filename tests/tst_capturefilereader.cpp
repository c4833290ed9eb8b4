#include "capturefilereader.h"
#include "capturefiles.h"
#include "packetbatch.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace CaptureFiles;

namespace {

constexpr qint64 FirstNs = 1765029909123456789;

// Two datagrams to the watched port with one to its neighbour between them.
QList<Frame> frames(LinkType linkType)
{
    return {{FirstNs, udpFrame(linkType, 4111, "***[one")},
            {FirstNs + 1000000000, udpFrame(linkType, 4112, "***[other port")},
            {FirstNs + 2500000000, udpFrame(linkType, 4111, "**-[two")}};
}

} // namespace

class tst_CaptureFileReader : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatTheFilterTakes_data();
    void readsWhatTheFilterTakes();
};

void tst_CaptureFileReader::readsWhatTheFilterTakes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("linkType");
    QTest::addColumn<int>("rows");      // of the port-4111 frames, in order
    QTest::addColumn<QString>("error"); // what the message says beyond the file's name

    const QList<Frame> eth = frames(Ethernet);
    QTest::newRow("pcap, microseconds, little-endian")
        << pcapFile(Ethernet, eth, false, false) << int(Ethernet) << 2 << QString();
    QTest::newRow("pcap, nanoseconds, big-endian")
        << pcapFile(Ethernet, eth, true, true) << int(Ethernet) << 2 << QString();
    QTest::newRow("pcapng, microseconds, big-endian")
        << pcapngFile(Ethernet, eth, false, true) << int(Ethernet) << 2 << QString();
    QTest::newRow("pcapng, nanoseconds, little-endian")
        << pcapngFile(Ethernet, eth, true, false) << int(Ethernet) << 2 << QString();
    QTest::newRow("pcap, Linux cooked")
        << pcapFile(Cooked, frames(Cooked), false, false) << int(Cooked) << 2 << QString();
    QTest::newRow("pcapng, Linux cooked v2 (tcpdump -i any)")
        << pcapngFile(Cooked2, frames(Cooked2), true, false) << int(Cooked2) << 2 << QString();

    const QByteArray whole = pcapFile(Ethernet, eth, false, false);
    QTest::newRow("cut inside the last record")
        << whole.left(whole.size() - 5) << int(Ethernet) << 1
        << QString("is damaged after 2 packets (truncated dump file");
    QByteArray oversized = whole;
    oversized.replace(24 + 8, 4, "\xff\xff\xff\x7f"); // the first record's captured length
    QTest::newRow("a record longer than any snapshot")
        << oversized << int(Ethernet) << 0 << QString("is damaged after 0 packets (invalid packet");
    QByteArray snapshot = whole;
    snapshot.replace(16, 4, QByteArray("\x1e\x00\x00\x00", 4)); // 30 bytes, less than a frame
    QTest::newRow("a record longer than the file's snapshot")
        << snapshot << int(Ethernet) << 0
        << QString("is damaged after 0 packets (a record longer than the file's snapshot");
    QTest::newRow("a time beyond what pcap holds")
        << pcapngFile(Ethernet, {{qint64(5e18), eth[0].bytes}}, true, false) << int(Ethernet) << 0
        << QString("is damaged after 0 packets (a packet time after the year 2106");
    QTest::newRow("no capture file")
        << QByteArray("\"1\",\"12/6/2026 2:05:09 PM\",\"75\",\"Message\",\"ab\"\r\n") << 0 << 0
        << QString("is not a capture file that can be read here");
    QTest::newRow("empty") << QByteArray() << 0 << 0
                           << QString("is not a capture file that can be read here");
    QTest::newRow("link type without UDP ports")
        << pcapFile(Usb, frames(Usb), false, false) << int(Usb) << 0
        << QString("holds packets of link type USB_LINUX");
}

void tst_CaptureFileReader::readsWhatTheFilterTakes()
{
    QFETCH(QByteArray, file);
    QFETCH(int, linkType);
    QFETCH(int, rows);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString name = dir.filePath("capture file");
    QVERIFY(writeFile(name, file));

    CaptureFileReader reader;
    PacketBatch batch;
    auto result = CaptureFileReader::Result::Failed;
    if (reader.open(name, "port 4111")) {
        // Small reads: the batches of one file follow each other as one.
        while ((result = reader.read(batch, 1)) == CaptureFileReader::Result::More) {
        }
    }
    QCOMPARE(reader.error().isEmpty(), error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(reader.error().startsWith('"' + name + "\" " + error), qPrintable(reader.error()));
        QCOMPARE(result, CaptureFileReader::Result::Failed);
    }
    QCOMPARE(batch.count(), rows);
    const QList<Frame> expected = frames(LinkType(linkType));
    for (int row = 0; row < rows; ++row) {
        const Frame& frame = expected[row * 2];
        QCOMPARE(batch.entry(row).timeUs, frame.timeNs / 1000);
        QCOMPARE(batch.entry(row).size, quint32(frame.bytes.size()));
        QCOMPARE(batch.bytes(row).toByteArray(), frame.bytes);
        QCOMPARE(batch.linkType(), linkType);
    }
    QCOMPARE(reader.packetsRead(), error.isEmpty() ? 3 : qint64(rows ? 2 : 0));
}

QTEST_GUILESS_MAIN(tst_CaptureFileReader)
#include "tst_capturefilereader.moc"
