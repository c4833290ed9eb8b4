#include "capturecontroller.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "referencedecoder.h"
#include "scripteddialogs.h"
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
    auto* dialogs = new ScriptedDialogs;
    MainWindow window{std::make_unique<PcapCapture>(), std::unique_ptr<Dialogs>(dialogs)};
    WindowProbe probe(window);
    dialogs->pressOk(); // "Select adapter from list": nothing here is a packet scheduler
    window.Form_Load();

    const int lo = probe.comboEntries().indexOf(QRegularExpression(R"(\(\d+\) lo \(.*)"));
    QVERIFY(lo >= 0);
    const quint16 port = UdpSender::freePort();
    probe.setPort(QString::number(port));
    probe.chooseInCombo(lo);
    QCOMPARE(probe.state(), CaptureState::Ready);
    window.controller().CaptureStart_Click();
    QCOMPARE(probe.state(), CaptureState::Running);
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

    int advertised = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QByteArray bytes = model.store().bytes(row).toByteArray();
        QVERIFY(bytes.endsWith(payloads[row]));
        QCOMPARE(model.text(row, PacketListModel::No), QString::number(row + 1));
        QCOMPARE(model.text(row, PacketListModel::Size),
                 QString::number(42 + payloads[row].size()));
        // The message is found in the whole frame, headers included, exactly as decoded here.
        const ReferenceDecoder::Message expected = ReferenceDecoder::decodePacket(bytes);
        QCOMPARE(model.text(row, PacketListModel::Type), expected.type);
        QCOMPARE(model.text(row, PacketListModel::Data), expected.data);
        advertised += expected.type == "Advertise";
    }
    QVERIFY(model.rowCount() == 5);
    Q_UNUSED(advertised);

    window.controller().CaptureStop_Click();
    QCOMPARE(probe.panel(3), QString("Status: Stopped"));
    QCOMPARE(window.component().stats().dropped, 0u);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
