#include "loopback.h"
#include "packetbatch.h"
#include "pcapcapture.h"
#include "udpsender.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

// Everything the component delivered, flattened.
struct Received
{
    QList<QByteArray> data;
    QList<quint32> sizes;

    void add(const PacketBatch& batch)
    {
        for (qsizetype i = 0; i < batch.count(); ++i) {
            data.append(batch.bytes(i).toByteArray());
            sizes.append(batch.entry(i).size);
        }
    }
};

} // namespace

class tst_PcapCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsTheLoopbackAdapter();
    void capturesOnlyTheWatchedPortInOrder();
    void badFilterGivesLibpcapsReason_data();
    void badFilterGivesLibpcapsReason();
    void newFilterWhileCapturingTakesOver();
    void startWhileCapturingMovesToTheNewAdapter();
};

void tst_PcapCapture::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("capturing needs root (CI runs as root)");
}

void tst_PcapCapture::listsTheLoopbackAdapter()
{
    PcapCapture capture;
    const int lo = adapterIndex(capture, "lo");
    QVERIFY(lo >= 0);
    QVERIFY(capture.adapters()[lo].description.contains("Loopback"));
    for (const CaptureAdapter& adapter : capture.adapters())
        QVERIFY2(!adapter.name.startsWith("dbus"), qPrintable(adapter.name));
}

void tst_PcapCapture::capturesOnlyTheWatchedPortInOrder()
{
    PcapCapture capture;
    Received received;
    connect(&capture, &CaptureComponent::packetsCaptured, this,
            [&](const PacketBatch& b) { received.add(b); });
    const quint16 port = UdpSender::freePort();
    capture.setAdapter(adapterIndex(capture, "lo"));
    QCOMPARE(capture.setFilter(QString("port %1").arg(port)), QString());
    QCOMPARE(capture.start(), QString());
    QVERIFY(capture.isCapturing());

    UdpSender sender;
    QList<QByteArray> sent;
    for (int n = 1; n <= 200; ++n) {
        const QByteArray payload = "***[" + QByteArray::number(n) +
                                   "]\xDA"
                                   "Hello";
        QVERIFY(sender.send(port, payload));
        QVERIFY(sender.send(port + 1, "-**[other port]"));
        sent.append(payload);
    }
    sent.append("UUU-last");
    QVERIFY(sender.send(port, sent.last()));

    QTRY_COMPARE_WITH_TIMEOUT(received.data.size(), sent.size(), 5000);
    for (int i = 0; i < sent.size(); ++i) {
        QVERIFY2(received.data[i].endsWith(sent[i]), qPrintable(QString::number(i)));
        QCOMPARE(received.data[i].size(), sent[i].size() + LoopbackHeaders);
        QCOMPARE(received.sizes[i], quint32(sent[i].size() + LoopbackHeaders));
    }
    capture.stop();
    QVERIFY(!capture.isCapturing());
    QCOMPARE(capture.stats().dropped, 0u);
}

void tst_PcapCapture::badFilterGivesLibpcapsReason_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("reason");
    QTest::newRow("above 65535") << "port 70000"
                                 << "illegal port number 70000 > 65535";
    QTest::newRow("trailing letters") << "port 12abc"
                                      << "12abc";
    QTest::newRow("fraction") << "port 4111.5"
                              << "modifier applied to ip host";
}

void tst_PcapCapture::badFilterGivesLibpcapsReason()
{
    QFETCH(QString, filter);
    QFETCH(QString, reason);
    PcapCapture capture;
    capture.setAdapter(adapterIndex(capture, "lo"));
    const QString error = capture.setFilter(filter);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(capture.start(), error); // never captures with another filter
    QVERIFY(!capture.isCapturing());
    QCOMPARE(capture.setFilter("port 4111"), QString());
    QCOMPARE(capture.start(), QString());
    QVERIFY(capture.isCapturing());
}

void tst_PcapCapture::newFilterWhileCapturingTakesOver()
{
    PcapCapture capture;
    Received received;
    connect(&capture, &CaptureComponent::packetsCaptured, this,
            [&](const PacketBatch& b) { received.add(b); });
    const quint16 first = UdpSender::freePort();
    const quint16 second = first + 1;
    capture.setAdapter(adapterIndex(capture, "lo"));
    capture.setFilter(QString("port %1").arg(first));
    QCOMPARE(capture.start(), QString());
    QCOMPARE(capture.setFilter(QString("port %1").arg(second)), QString());
    QVERIFY(capture.isCapturing());

    UdpSender sender;
    sender.send(first, "old port");
    sender.send(second, "new port");
    QTRY_COMPARE(received.data.size(), 1);
    QVERIFY(received.data[0].endsWith("new port"));

    const QString error = capture.setFilter("port 70000");
    QVERIFY(!error.isEmpty());
    QVERIFY(!capture.isCapturing()); // a filter that failed stops the old one
}

void tst_PcapCapture::startWhileCapturingMovesToTheNewAdapter()
{
    PcapCapture capture;
    const int any = adapterIndex(capture, "any");
    if (any < 0)
        QSKIP("no \"any\" device here");
    Received received;
    connect(&capture, &CaptureComponent::packetsCaptured, this,
            [&](const PacketBatch& b) { received.add(b); });
    const quint16 port = UdpSender::freePort();
    capture.setAdapter(adapterIndex(capture, "lo"));
    capture.setFilter(QString("port %1").arg(port));
    QCOMPARE(capture.start(), QString());
    capture.setAdapter(any);
    QCOMPARE(capture.start(), QString());
    QVERIFY(capture.isCapturing());
    QCOMPARE(capture.adapter(), any);

    UdpSender sender;
    sender.send(port, "via any");
    QTRY_COMPARE(received.data.size(), 1);
    // The "any" device has its own link header instead of Ethernet's.
    QVERIFY(received.data[0].size() != QByteArray("via any").size() + LoopbackHeaders);
}

QTEST_GUILESS_MAIN(tst_PcapCapture)
#include "tst_pcapcapture.moc"
