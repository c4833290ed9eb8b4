#include "childprocess.h"
#include "filterexpression.h"
#include "helpererrors.h"
#include "helperprotocol.h"
#include "loopback.h"
#include "packetbatch.h"
#include "pcapcapture.h"
#include "privatenetwork.h"
#include "savefilereader.h"
#include "udpsender.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <optional>

#include <sys/wait.h>
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

// Real capture needs root here (CI runs as root); everything else runs as any user.
#define REQUIRE_CAPTURE()                                                                          \
    do {                                                                                           \
        if (::geteuid() != 0)                                                                      \
            QSKIP("capturing needs root (CI runs as root)");                                       \
    } while (false)

// The stand-in helper of tests/support/stubhelper.cpp, driven by its "filter".
QString stubHelper()
{
    return QCoreApplication::applicationDirPath() + "/kinto_stubhelper";
}

QByteArray procStatus(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    return status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
}

} // namespace

class tst_PcapCapture : public QObject
{
    Q_OBJECT

private slots:
    void listsTheLoopbackAdapter();
    void capturesOnlyTheWatchedPortInOrder();
    void badFilterGivesLibpcapsReason_data();
    void badFilterGivesLibpcapsReason();
    void startWhileCapturingMovesToTheNewAdapter();
    void portNumbersAreDecimal_data();
    void portNumbersAreDecimal();
    void helperRefusesBadArguments_data();
    void helperRefusesBadArguments();
    void helperHoldsNoCapabilityWhileCompiling();
    void stopDeliversEverythingTheHelperCounted_data();
    void stopDeliversEverythingTheHelperCounted();
    void helperEndsAsItWasEnded_data();
    void helperEndsAsItWasEnded();
    void helperWhoseReaderIsGoneCountsTheLoss();
    void helperThatCannotStartIsExplained_data();
    void helperThatCannotStartIsExplained();
    void helperStreamIsDeliveredAndItsEndReported_data();
    void helperStreamIsDeliveredAndItsEndReported();
    void waitWithoutPidfdHasADeadline();
};

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
    REQUIRE_CAPTURE();
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
    QTRY_VERIFY(!capture.isStopping());
    QCOMPARE(capture.stats().captured, quint64(sent.size()));
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
    REQUIRE_CAPTURE();
    QFETCH(QString, filter);
    QFETCH(QString, reason);
    PcapCapture capture;
    const QString error = startOnLoopback(capture, filter);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!capture.isCapturing());
}

void tst_PcapCapture::startWhileCapturingMovesToTheNewAdapter()
{
    REQUIRE_CAPTURE();
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
    QTest::newRow("leading zero") << "port 04111"
                                  << "port 4111";
    QTest::newRow("zeros only") << "port 000"
                                << "port 0";
    QTest::newRow("spaces kept") << "port  0080"
                                 << "port  80";
    QTest::newRow("every number word") << "port 010 or port 020"
                                       << "port 10 or port 20";
    QTest::newRow("hexadecimal kept") << "port 0x1f"
                                      << "port 0x1f";
    QTest::newRow("address kept") << "host 010.0.0.1"
                                  << "host 010.0.0.1";
    QTest::newRow("name kept") << "port 4111 and not ether host eth010"
                               << "port 4111 and not ether host eth010";
    QTest::newRow("fraction kept") << "port 04111.5"
                                   << "port 04111.5";
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
    QTest::addColumn<bool>("captures"); // gets as far as opening the adapter
    QTest::addColumn<bool>("down");     // in a network of its own whose loopback is down
    const QString usage = "(usage: kintosniffer-capture --interface NAME --filter EXPRESSION)";
    QTest::newRow("none") << QStringList{} << 2 << "missing --interface " + usage << false << false;
    QTest::newRow("unknown option") << QStringList{"--interface", "lo", "--verbose"} << 2
                                    << "unknown option --verbose " + usage << false << false;
    QTest::newRow("stray argument")
        << QStringList{"lo"} << 2 << "unexpected argument lo " + usage << false << false;
    QTest::newRow("missing value") << QStringList{"--interface", "lo", "--filter"} << 2
                                   << "option --filter needs a value " + usage << false << false;
    QTest::newRow("missing filter")
        << QStringList{"--interface", "lo"} << 2 << "missing --filter " + usage << false << false;
    QTest::newRow("twice") << QStringList{"--interface", "lo", "--interface", "lo"} << 2
                           << "option --interface given twice " + usage << false << false;
    QTest::newRow("unlisted adapter")
        << QStringList{"--interface", "no-such0", "--filter", "port 4111"} << 3
        << "There is no adapter named \"no-such0\"." << false << false;
    QTest::newRow("unusable filter")
        << QStringList{"--interface", "lo", "--filter", "port 70000"} << 6
        << "The capture filter \"port 70000\" cannot be used: "
           "illegal port number 70000 > 65535"
        << true << false;
    // libpcap lists these where the kernel has them; the window never offers them.
    QTest::newRow("not a network adapter")
        << QStringList{"--interface", "nflog", "--filter", ""} << 3
        << "\"nflog\" is not a network adapter: only network adapters can be captured on." << false
        << false;
    // The capability is raised to open the adapter, and the opening fails.
    QTest::newRow("adapter down") << QStringList{"--interface", "lo", "--filter", "port 4111"} << 5
                                  << "The adapter lo is not up: That device is not up" << true
                                  << true;
}

void tst_PcapCapture::helperRefusesBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(bool, captures);
    QFETCH(bool, down);
    if (captures)
        REQUIRE_CAPTURE();
    std::optional<PrivateNetwork> network;
    if (down) {
        network.emplace();
        if (!network->error().isEmpty())
            QSKIP(qPrintable(network->error()));
        QCOMPARE(network->ip({"link", "set", "lo", "down"}), QString());
    }
    QProcess helper;
    helper.start(PcapCapture::helperPath(), arguments);
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), status);
    const QStringList lines = QString::fromLocal8Bit(helper.readAllStandardError()).split('\n');
    QCOMPARE(lines.first(), "kintosniffer-capture: " + reason);
    QVERIFY(helper.readAllStandardOutput().isEmpty());
}

void tst_PcapCapture::helperHoldsNoCapabilityWhileCompiling()
{
    REQUIRE_CAPTURE();
    // Numeric addresses only: no name lookup. The optimiser takes seconds over these.
    QStringList terms;
    for (int i = 0; i < 300; ++i)
        terms << QString("host 10.0.%1.%2").arg(i / 200).arg(i % 200 + 1);
    QProcess helper;
    helper.start(PcapCapture::helperPath(), {"--interface", "lo", "--filter", terms.join(" or ")});
    QVERIFY(helper.waitForStarted());
    // Started as root, the helper leaves uid 0 right after opening the adapter, before the
    // filter: from then on it holds nothing.
    QByteArray status;
    QTRY_VERIFY_WITH_TIMEOUT((status = procStatus(helper.processId())).contains("\nUid:\t65534\t"),
                             20000);
    QVERIFY2(helper.bytesAvailable() == 0, "the helper compiled the filter too fast to be seen");
    int sets = 0;
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith("CapEff:") || line.startsWith("CapPrm:") ||
            line.startsWith("CapInh:") || line.startsWith("CapAmb:")) {
            QCOMPARE(line.split('\t').last(), QByteArray("0000000000000000"));
            ++sets;
        }
        if (line.startsWith("NoNewPrivs:") || line.startsWith("Groups:"))
            QVERIFY2(line.endsWith("\t1") || line.trimmed() == "Groups:", line);
    }
    QCOMPARE(sets, 4);
    helper.kill();
    helper.waitForFinished();
}

void tst_PcapCapture::stopDeliversEverythingTheHelperCounted_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("stalled");
    // Read during the stop, while traffic goes on: every packet taken before it gets out.
    QTest::newRow("a reader that keeps up") << 20000 << false;
    // Nothing read until the helper has ended, more sent than the ring holds: the kernel drops,
    // the helper gives up on what it holds, ends by itself, and counts every packet it lost.
    QTest::newRow("a reader that has stalled") << 200000 << true;
}

void tst_PcapCapture::stopDeliversEverythingTheHelperCounted()
{
    REQUIRE_CAPTURE();
    QFETCH(int, count);
    QFETCH(bool, stalled);
    const quint16 port = UdpSender::freePort();
    ChildProcess helper;
    QCOMPARE(helper.start(PcapCapture::helperPath(),
                          {"--interface", "lo", "--filter", QString("udp port %1").arg(port)}),
             0);
    char header[HelperProtocol::FileHeaderBytes];
    QVERIFY(helper.readOutput(header, sizeof header, 10000)); // capturing
    // Nothing is read from here until after the stop: the pipe fills, the helper's writes
    // wait and the kernel's ring holds the rest.
    UdpSender sender;
    for (int n = 1; n <= count; ++n)
        QVERIFY(sender.send(port, "***[" + QByteArray::number(n) + "]"));
    QVERIFY(::kill(helper.pid(), SIGTERM) == 0);
    QDeadlineTimer limit(10000);
    for (int n = count + 1; helper.wait(stalled ? 10 : 0) < 0 && !limit.hasExpired(); ++n) {
        if (stalled)
            continue;
        helper.read(1);
        QVERIFY(sender.send(port, "***[" + QByteArray::number(n) + "]"));
    }
    QVERIFY(helper.hasEnded());
    helper.finish();
    QCOMPARE(helper.exitCode(), int(HelperProtocol::Ended));

    SavefileReader reader;
    QVERIFY(reader.readHeader(QByteArrayView(header, sizeof header)));
    PacketBatch batch;
    const QByteArray& records = helper.standardOutput();
    const qsizetype used = reader.readRecords(records, batch);
    QVERIFY(used == records.size() || (stalled && used >= 0)); // a record cut by the give-up
    const CaptureStats stats =
        HelperErrors::statsFrom(QString::fromLocal8Bit(helper.standardError()));
    if (stalled) // every datagram a record or counted, each once
        QCOMPARE(quint64(batch.count()) + stats.dropped, quint64(count));
    else
        QCOMPARE(stats.dropped, 0u);
    QCOMPARE(quint64(batch.count()), stats.captured);
    QVERIFY(quint64(batch.count()) >= (stalled ? 1 : quint64(count)));
    for (qsizetype i = 0; i < batch.count(); ++i) // in order, none twice
        QVERIFY(batch.bytes(i).endsWith("***[" + QByteArray::number(i + 1) + "]"));
}

void tst_PcapCapture::helperEndsAsItWasEnded_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("status");
    QTest::newRow("idle, its window gone") << "hang-up" << int(HelperProtocol::Ended);
    QTest::newRow("stopped by its window") << "own SIGTERM" << int(HelperProtocol::Ended);
    QTest::newRow("SIGTERM from outside") << "kill -TERM" << int(HelperProtocol::EndedFromOutside);
    QTest::newRow("SIGHUP from outside") << "kill -HUP" << int(HelperProtocol::EndedFromOutside);
}

void tst_PcapCapture::helperEndsAsItWasEnded()
{
    REQUIRE_CAPTURE();
    QFETCH(QString, how);
    QFETCH(int, status);
    QProcess helper;
    helper.start(PcapCapture::helperPath(), {"--interface", "lo", "--filter",
                                             QString("udp port %1").arg(UdpSender::freePort())});
    QVERIFY(helper.waitForReadyRead(10000)); // capturing, and no packet comes
    const QString pid = QString::number(helper.processId());
    if (how == "hang-up")
        helper.closeWriteChannel(); // as the window's end of the pipe closes when it ends
    else if (how == "own SIGTERM")
        QVERIFY(::kill(pid_t(helper.processId()), SIGTERM) == 0);
    else
        QCOMPARE(QProcess::execute("/bin/kill", {how.section(' ', 1), pid}), 0);
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), status);
    const CaptureStats stats =
        HelperErrors::statsFrom(QString::fromLocal8Bit(helper.readAllStandardError()));
    QCOMPARE(stats.captured, 0u);
}

void tst_PcapCapture::helperWhoseReaderIsGoneCountsTheLoss()
{
    REQUIRE_CAPTURE();
    const quint16 port = UdpSender::freePort();
    QProcess helper;
    QProcess reader; // takes the header and goes
    helper.setStandardOutputProcess(&reader);
    reader.start("head", {"-c", QString::number(HelperProtocol::FileHeaderBytes)});
    helper.start(PcapCapture::helperPath(),
                 {"--interface", "lo", "--filter", QString("udp port %1").arg(port)});
    QVERIFY(reader.waitForFinished(10000));
    UdpSender sender;
    for (int n = 1; n <= 100; ++n)
        QVERIFY(sender.send(port, "***[" + QByteArray::number(n) + "]"));
    QVERIFY(helper.waitForFinished(10000)); // by itself: its output has failed
    QCOMPARE(helper.exitCode(), int(HelperProtocol::OutputFailed));
    const QString errors = QString::fromLocal8Bit(helper.readAllStandardError());
    const CaptureStats stats = HelperErrors::statsFrom(errors);
    QVERIFY(stats.captured > 0);
    // Nothing after the header got out: every packet it captured is reported lost.
    const QString lost = QString("kintosniffer-capture: %1 captured packets were lost: the capture "
                                 "could not be written (Broken pipe).\n")
                             .arg(stats.captured);
    QVERIFY2(errors.startsWith(lost), qPrintable(errors));
}

void tst_PcapCapture::helperThatCannotStartIsExplained_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("message");
    const QString stub = stubHelper();
    QTest::newRow("missing helper") << "/nonexistent/kintosniffer-capture"
                                    << "header"
                                    << "/nonexistent/kintosniffer-capture is missing";
    QTest::newRow("no header in time") << stub << "hang"
                                       << "did not start capturing within 1 seconds";
    QTest::newRow("not a savefile") << stub << "badheader"
                                    << "could not be read";
    QTest::newRow("snapshot beyond the helper's") << stub << "snaplen=262145"
                                                  << "could not be read";
    QTest::newRow("killed") << stub << "kill"
                            << "ended unexpectedly (Killed)";
    QTest::newRow("signal from outside") << stub << "term"
                                         << "ended from outside Kinto Sniffer";
    QTest::newRow("any other failure: the helper's line") << stub << "exit=5"
                                                          << "stub ends with status 5.";
    QTest::newRow("status 4") << stub << "exit=4"
                              << "setcap cap_net_raw=p ";
}

void tst_PcapCapture::helperThatCannotStartIsExplained()
{
    QFETCH(QString, helper);
    QFETCH(QString, script);
    QFETCH(QString, message);
    PcapCapture capture(nullptr, helper);
    capture.setStartTimeout(300);
    const QString error = startOnLoopback(capture, script);
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(!error.contains("kintosniffer-capture: "));
    QVERIFY(!capture.isCapturing());
    QCOMPARE(capture.helperPid(), 0);
}

void tst_PcapCapture::helperStreamIsDeliveredAndItsEndReported_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("failure"); // reported once, while capturing or at the stop
    QTest::newRow("stopped") << "records=50" << 50 << "";
    QTest::newRow("records split at every byte") << "split records=20" << 20 << "";
    QTest::newRow("no packet") << "header" << 0 << "";
    QTest::newRow("death mid-record") << "records=5 half" << 5 << "ended unexpectedly (Killed)";
    QTest::newRow("record beyond the snapshot") << "records=2 corrupt" << 2 << "could not be read";
    QTest::newRow("ended from outside")
        << "records=3 outside" << 3 << "ended from outside Kinto Sniffer";
    QTest::newRow("packets lost at the stop")
        << "records=3 lost=7" << 3 << "7 captured packets were lost";
    QTest::newRow("stop ignored") << "records=3 ignore-term" << 3
                                  << "did not end within a second of being asked to stop and "
                                     "was killed";
}

void tst_PcapCapture::helperStreamIsDeliveredAndItsEndReported()
{
    QFETCH(QString, script);
    QFETCH(int, rows);
    QFETCH(QString, failure);
    PcapCapture capture(nullptr, stubHelper());
    QSignalSpy failed(&capture, &CaptureComponent::captureFailed);
    Received received;
    connect(&capture, &CaptureComponent::packetsCaptured, this,
            [&](const PacketBatch& b) { received.add(b); });
    QCOMPARE(startOnLoopback(capture, script), QString());
    const bool endsByItself =
        script.contains("half") || script.contains("corrupt") || script.contains("outside");
    if (endsByItself)
        QVERIFY(failed.wait(10000));
    else
        QTRY_COMPARE(received.data.size(), rows);
    capture.stop();
    QTRY_VERIFY(!capture.isStopping());
    QCOMPARE(received.data.size(), rows);
    for (int i = 0; i < rows; ++i)
        QVERIFY(received.data[i].endsWith("***[" + QByteArray::number(i + 1) + "]"));
    QCOMPARE(failed.size(), failure.isEmpty() ? 0 : 1);
    if (!failure.isEmpty())
        QVERIFY2(failed.first().first().toString().contains(failure),
                 qPrintable(failed.first().first().toString()));
    if (failure.isEmpty())
        QCOMPARE(capture.stats().captured, quint64(rows));
    QVERIFY(!capture.isCapturing());
    QCOMPARE(capture.helperPid(), 0);
}

void tst_PcapCapture::waitWithoutPidfdHasADeadline()
{
    ChildProcess child;
    child.setUsePidfd(false);
    QCOMPARE(child.start(stubHelper(), {"--interface", "lo", "--filter", "hang"}), 0);
    QCOMPARE(child.wait(50), -1); // returns, although the child runs on
    child.terminate();
    const int status = child.wait(10000);
    QVERIFY(status >= 0);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

QTEST_GUILESS_MAIN(tst_PcapCapture)
#include "tst_pcapcapture.moc"
