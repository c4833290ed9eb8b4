#include "loopback.h"
#include "filterexpression.h"
#include "packetbatch.h"
#include "pcapcapture.h"
#include "udpsender.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

#include <unistd.h>

namespace {

// Starts capture on the loopback adapter: the component's message, empty when it captures.
QString startOnLoopback(PcapCapture& capture, const QString& filter)
{
    capture.setAdapter(adapterIndex(capture, "lo"));
    capture.setFilter(filter);
    return capture.start();
}

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
    void startWhileCapturingMovesToTheNewAdapter();
    void portNumbersAreDecimal_data();
    void portNumbersAreDecimal();
    void helperRefusesBadArguments_data();
    void helperRefusesBadArguments();
    void helperHoldsNoCapabilityWhileCapturing();
    void missingHelperIsNamed();
    void helperThatDiesIsReportedOnce();
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
    QCOMPARE(startOnLoopback(capture, QString("port %1").arg(port)), QString());
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
    const QString error = startOnLoopback(capture, filter);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!capture.isCapturing());
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
    QCOMPARE(startOnLoopback(capture, QString("port %1").arg(port)), QString());
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

void tst_PcapCapture::portNumbersAreDecimal_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("handedOn");
    QTest::newRow("leading zero") << "port 04111" << "port 4111";
    QTest::newRow("zeros only") << "port 000" << "port 0";
    QTest::newRow("spaces kept") << "port  0080" << "port  80";
    QTest::newRow("every number word") << "port 010 or port 020" << "port 10 or port 20";
    QTest::newRow("hexadecimal kept") << "port 0x1f" << "port 0x1f";
    QTest::newRow("address kept") << "host 010.0.0.1" << "host 010.0.0.1";
    QTest::newRow("name kept") << "port 4111 and not ether host eth010" << "port 4111 and not ether host eth010";
    QTest::newRow("fraction kept") << "port 04111.5" << "port 04111.5";
}

void tst_PcapCapture::portNumbersAreDecimal()
{
    QFETCH(QString, filter);
    QFETCH(QString, handedOn);
    QCOMPARE(FilterExpression::decimalNumbers(filter), handedOn);
}

void tst_PcapCapture::helperRefusesBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    const QString usage = "(usage: kintosniffer-capture --interface NAME --filter EXPRESSION)";
    QTest::newRow("none") << QStringList{} << 2 << "missing --interface " + usage;
    QTest::newRow("unknown option") << QStringList{"--interface", "lo", "--verbose"} << 2
                                    << "unknown option --verbose " + usage;
    QTest::newRow("stray argument") << QStringList{"lo"} << 2 << "unexpected argument lo " + usage;
    QTest::newRow("missing value") << QStringList{"--interface", "lo", "--filter"} << 2
                                   << "option --filter needs a value " + usage;
    QTest::newRow("missing filter") << QStringList{"--interface", "lo"} << 2
                                    << "missing --filter " + usage;
    QTest::newRow("twice") << QStringList{"--interface", "lo", "--interface", "lo"} << 2
                           << "option --interface given twice " + usage;
    QTest::newRow("unlisted adapter")
        << QStringList{"--interface", "no-such0", "--filter", "port 4111"} << 3
        << "There is no adapter named \"no-such0\".";
    QTest::newRow("unusable filter") << QStringList{"--interface", "lo", "--filter", "port 70000"}
                                     << 6
                                     << "The capture filter \"port 70000\" cannot be used: "
                                        "illegal port number 70000 > 65535";
}

void tst_PcapCapture::helperRefusesBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QProcess helper;
    helper.start(PcapCapture::helperPath(), arguments);
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), status);
    const QStringList lines = QString::fromLocal8Bit(helper.readAllStandardError()).split('\n');
    QCOMPARE(lines.first(), "kintosniffer-capture: " + reason);
    QVERIFY(helper.readAllStandardOutput().isEmpty());
}

void tst_PcapCapture::helperHoldsNoCapabilityWhileCapturing()
{
    PcapCapture capture;
    QCOMPARE(startOnLoopback(capture, "port 4111"), QString());
    QFile status(QString("/proc/%1/status").arg(capture.helperPid()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    int sets = 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:") || line.startsWith("CapPrm:") || line.startsWith("CapInh:") ||
            line.startsWith("CapAmb:")) {
            QCOMPARE(line.split('\t').last(), QByteArray("0000000000000000"));
            ++sets;
        }
        if (line.startsWith("NoNewPrivs:"))
            QCOMPARE(line.split('\t').last(), QByteArray("1"));
    }
    QCOMPARE(sets, 4);
}

void tst_PcapCapture::missingHelperIsNamed()
{
    PcapCapture capture(nullptr, "/nonexistent/kintosniffer-capture");
    const QString error = startOnLoopback(capture, "port 4111");
    QVERIFY2(error.contains("/nonexistent/kintosniffer-capture is missing"), qPrintable(error));
    QVERIFY(!capture.isCapturing());
}

void tst_PcapCapture::helperThatDiesIsReportedOnce()
{
    PcapCapture capture;
    QSignalSpy failed(&capture, &CaptureComponent::captureFailed);
    QCOMPARE(startOnLoopback(capture, "port 4111"), QString());
    ::kill(pid_t(capture.helperPid()), SIGKILL);
    QVERIFY(failed.wait(5000));
    QVERIFY2(failed.first().first().toString().contains("ended unexpectedly (Killed)"),
             qPrintable(failed.first().first().toString()));
    QVERIFY(!capture.isCapturing());
    QCOMPARE(capture.helperPid(), 0);
    QVERIFY(!failed.wait(100)); // a second report must not come
}

QTEST_GUILESS_MAIN(tst_PcapCapture)
#include "tst_pcapcapture.moc"
