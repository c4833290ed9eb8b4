// Whatever arrives on the watched port becomes a row that shows what the decoding rules make of
// its bytes, opens in the detail window and goes into the log: nothing a stranger sends may
// crash the window, shift the numbering or lose a packet. Captured through libpcap on the
// loopback of a network namespace of the test's own.
#include "capturecomponent.h"
#include "loopback.h"
#include "mainwindow.h"
#include "modalhand.h"
#include "packetlistmodel.h"
#include "packetwindow.h"
#include "privatecapture.h"
#include "referencedecoder.h"
#include "scripteddialogs.h"
#include "testfiles.h"
#include "udpsender.h"
#include "windowprobe.h"

#include <QAbstractItemView>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int LargestUdpPayload = 65507; // an IPv4 datagram of 65,535 bytes

// Type and data of a row are what the decoding rules make of the row's captured bytes.
bool rowDecodesItsBytes(const PacketListModel& model, int row, QString* why)
{
    const ReferenceDecoder::Message expected =
        ReferenceDecoder::decodePacket(model.store().bytes(row));
    if (model.text(row, PacketListModel::Type) == expected.type &&
        model.text(row, PacketListModel::Data) == expected.data)
        return true;
    *why = QStringLiteral("row %1 shows %2 with %3 characters, the bytes give %4 with %5")
               .arg(row + 1)
               .arg(model.text(row, PacketListModel::Type))
               .arg(model.text(row, PacketListModel::Data).size())
               .arg(expected.type)
               .arg(expected.data.size());
    return false;
}

// Double-clicks a row the way the user does and returns the text of the detail window.
QString detailText(MainWindow& window, int row)
{
    WindowProbe(window).packetList()->setCurrentIndex(window.model().index(row, 0));
    QString shown = QStringLiteral("<no detail window>");
    ModalHand hand([&shown](QWidget* modal) {
        auto* detail = qobject_cast<PacketWindow*>(modal);
        QVERIFY(detail);
        shown = detail->text();
        detail->close();
    });
    window.ListView1_DblClick();
    return shown;
}

// What the detail window shows for these bytes: the whole decoded text, no character 0.
QString expectedDetail(QByteArrayView bytes)
{
    QString text = ReferenceDecoder::decodePayload(ReferenceDecoder::hexText(bytes));
    text.remove(QChar(u'\0'));
    // Only a CR LF pair breaks the line; a lone CR or LF shows as a space, as in the list.
    static const QRegularExpression lone(QStringLiteral("\r(?!\n)|(?<!\r)\n"));
    text.replace(lone, QStringLiteral(" "));
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// File > Save Log to a fresh file, as the user does; what it wrote, or "" when anything went
// wrong on the way.
QByteArray savedLog(const PrivateCapture& bench)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("log.csv");
    ScriptedDialogs& dialogs = bench.capturing().dialogs();
    dialogs.typeText(log);
    bench.window().savelog_Click();
    const bool saved = dialogs.problems().isEmpty() && !bench.capturing().probe().unsaved();
    return saved ? readAll(log) : QByteArray();
}

// A TCP connection to the watched port on the loopback: connect, send, close on both sides.
bool talkTcp(quint16 port, const QByteArray& payload)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* where = reinterpret_cast<const sockaddr*>(&address);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool done = listener >= 0 && client >= 0 && ::bind(listener, where, sizeof address) == 0 &&
                ::listen(listener, 1) == 0 && ::connect(client, where, sizeof address) == 0;
    const int server = done ? ::accept(listener, nullptr, nullptr) : -1;
    done = done && server >= 0 &&
           ::send(client, payload.constData(), size_t(payload.size()), 0) == payload.size();
    QByteArray received(payload.size(), '\0');
    done = done &&
           ::recv(server, received.data(), size_t(received.size()), MSG_WAITALL) == payload.size();
    for (int s : {client, server, listener}) {
        if (s >= 0)
            ::close(s);
    }
    return done && received == payload;
}

} // namespace

class tst_FaultPackets : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void oddPayloadBecomesARow_data();
    void oddPayloadBecomesARow();
    void tcpSegmentsOnTheWatchedPortDecodeLikeAnyPacket();
    void fortyThousandPacketsAreNumberedPast32767();
};

void tst_FaultPackets::init()
{
    if (!PrivateCapture::unavailable().isEmpty())
        QSKIP(qPrintable(PrivateCapture::unavailable()));
}

void tst_FaultPackets::oddPayloadBecomesARow_data()
{
    QTest::addColumn<QByteArray>("payload");
    const QByteArray message = "***[";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("largest UDP payload")
        << message + QByteArray(LargestUdpPayload - message.size() - 1, 'x') + "]";
    QTest::newRow("only 0x00") << QByteArray(1000, '\0');
    QTest::newRow("only 0x00, largest") << QByteArray(LargestUdpPayload, '\0');
    QTest::newRow("only 0xDA") << QByteArray(1000, '\xDA');
    QTest::newRow("only 0xDA, largest") << QByteArray(LargestUdpPayload, '\xDA');
    QTest::newRow("a message of line breaks")
        << message + QByteArray(LargestUdpPayload - message.size(), '\xDA');
    QTest::newRow("a message of zeros")
        << message + QByteArray(LargestUdpPayload - message.size(), '\0');
}

void tst_FaultPackets::oddPayloadBecomesARow()
{
    QFETCH(QByteArray, payload);
    PrivateCapture bench;
    const QString problem = bench.startOnLoopback();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const PacketListModel& model = bench.model();

    UdpSender sender;
    QVERIFY(sender.send(PrivateCapture::Port, payload));
    QTRY_COMPARE(model.rowCount(), 1);

    const QByteArrayView bytes = model.store().bytes(0);
    QCOMPARE(bytes.size(), payload.size() + LoopbackHeaders);
    QVERIFY(bytes.toByteArray().endsWith(payload));
    QCOMPARE(model.text(0, PacketListModel::No), QString("1"));
    QCOMPARE(model.text(0, PacketListModel::Size), QString::number(bytes.size()));
    QString why;
    QVERIFY2(rowDecodesItsBytes(model, 0, &why), qPrintable(why));

    // The row is painted, line breaks and zeros included (how long that takes: tst_faultcost).
    bench.window().grab();
    QCOMPARE(detailText(bench.window(), 0), expectedDetail(bytes));

    const QByteArray written = savedLog(bench);
    QVERIFY(written.startsWith("\"1\","));
    QVERIFY(written.endsWith("\"\r\n"));
    QCOMPARE(model.rowCount(), 1); // nothing else on the port meanwhile
}

void tst_FaultPackets::tcpSegmentsOnTheWatchedPortDecodeLikeAnyPacket()
{
    PrivateCapture bench;
    const QString problem = bench.startOnLoopback();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const PacketListModel& model = bench.model();

    const QByteArray payload = "***[over TCP]\xDA"
                               "second line";
    QVERIFY(talkTcp(PrivateCapture::Port, payload));
    // Handshake, data, acknowledgements and both closing segments: seven or more.
    QTRY_VERIFY(model.rowCount() >= 7);

    int withPayload = -1;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QByteArrayView bytes = model.store().bytes(row);
        QCOMPARE(quint8(bytes[14 + 9]), quint8(6)); // IPv4 protocol: TCP
        QCOMPARE(model.text(row, PacketListModel::No), QString::number(row + 1));
        QCOMPARE(model.text(row, PacketListModel::Size), QString::number(bytes.size()));
        QString why;
        QVERIFY2(rowDecodesItsBytes(model, row, &why), qPrintable(why));
        if (bytes.toByteArray().endsWith(payload))
            withPayload = row;
    }
    QVERIFY(withPayload >= 0);
    QCOMPARE(detailText(bench.window(), withPayload),
             expectedDetail(model.store().bytes(withPayload)));
}

void tst_FaultPackets::fortyThousandPacketsAreNumberedPast32767()
{
    PrivateCapture bench;
    const QString problem = bench.startOnLoopback();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const PacketListModel& model = bench.model();

    const int count = 40000;
    UdpSender sender;
    for (int n = 1; n <= count; ++n)
        QVERIFY(sender.send(PrivateCapture::Port, "***[" + QByteArray::number(n) + "]"));
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), count, 60000);

    QCOMPARE(bench.window().component().stats().dropped, 0u);
    for (int row = 0; row < count; ++row) {
        const QByteArray tail = "[" + QByteArray::number(row + 1) + "]";
        if (!model.store().bytes(row).toByteArray().endsWith(tail))
            QFAIL(qPrintable(QString("row %1 does not hold packet %1").arg(row + 1)));
    }
    for (int row : {32766, 32767, 32768, count - 1}) {
        QCOMPARE(model.text(row, PacketListModel::No), QString::number(row + 1));
        QString why;
        QVERIFY2(rowDecodesItsBytes(model, row, &why), qPrintable(why));
    }
    QCOMPARE(detailText(bench.window(), count - 1), expectedDetail(model.store().bytes(count - 1)));

    const QByteArray written = savedLog(bench);
    QVERIFY(written.contains("\r\n\"32768\","));
    const qsizetype last = written.lastIndexOf("\r\n\"") + 2;
    QVERIFY2(written.mid(last).startsWith("\"40000\","), written.mid(last).constData());
}

QTEST_MAIN(tst_FaultPackets)
#include "tst_faultpackets.moc"
