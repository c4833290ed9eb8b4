#include "capturecomponent.h"
#include "capturecontroller.h"
#include "capturingwindow.h"
#include "loopback.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "referencedecoder.h"
#include "udpsender.h"
#include "windowprobe.h"

#include <QTest>

#include <unistd.h>

// The whole road of a packet: the real libpcap component on the loopback adapter, the main
// window, and UDP datagrams sent to 127.0.0.1.
class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void datagramsBecomeRows();
};

void tst_EndToEnd::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("capturing needs root (CI runs as root)");
}

void tst_EndToEnd::datagramsBecomeRows()
{
    CapturingWindow capturing;
    const quint16 port = UdpSender::freePort();
    const QString problem = capturing.start(QStringLiteral("lo"), QString::number(port));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    MainWindow& window = capturing.window();
    const WindowProbe& probe = capturing.probe();
    QCOMPARE(probe.panel(2), "Port: " + QString::number(port));

    const QList<QByteArray> payloads{"***[Hi]", "**-[x]\xDAok", "-**[bye]", "UUUU1", "hello"};
    UdpSender sender;
    for (const QByteArray& payload : payloads) {
        QVERIFY(sender.send(port, payload));
        QVERIFY(sender.send(port + 1, "***[not watched]"));
    }
    const PacketListModel& model = window.model();
    QTRY_COMPARE(model.rowCount(), int(payloads.size()));
    QVERIFY(probe.unsaved());

    for (int row = 0; row < model.rowCount(); ++row) {
        const QByteArray bytes = model.store().bytes(row).toByteArray();
        QVERIFY(bytes.endsWith(payloads[row]));
        QCOMPARE(model.text(row, PacketListModel::No), QString::number(row + 1));
        QCOMPARE(model.text(row, PacketListModel::Size),
                 QString::number(LoopbackHeaders + payloads[row].size()));
        // The message is found in the whole frame, headers included, exactly as decoded here.
        const ReferenceDecoder::Message expected = ReferenceDecoder::decodePacket(bytes);
        QCOMPARE(model.text(row, PacketListModel::Type), expected.type);
        QCOMPARE(model.text(row, PacketListModel::Data), expected.data);
    }

    window.controller().CaptureStop_Click();
    QCOMPARE(probe.panel(3), QString("Status: Stopped"));
    window.component().waitForStopped(5000); // the counts come with the helper's end
    QCOMPARE(window.component().stats().dropped, 0u);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
