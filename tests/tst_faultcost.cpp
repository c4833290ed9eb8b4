// What faults cost, measured: CPU time while an adapter is gone or down, and the time to paint
// rows of the largest and oddest packets. These are limits on time, which a machine busy with
// other work can break, so they carry the label "long" and stay out of the quick suite; the
// behaviour itself is checked by tst_faultadapter and tst_faultpackets.
#include "capturecomponent.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "privatecapture.h"
#include "processclock.h"
#include "scripteddialogs.h"
#include "udpsender.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

class tst_FaultCost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void adapterDownThenGone();
    void oddRowsPaintWithoutHoldingUpTheWindow_data();
    void oddRowsPaintWithoutHoldingUpTheWindow();
};

void tst_FaultCost::init()
{
    if (!PrivateCapture::unavailable().isEmpty())
        QSKIP(qPrintable(PrivateCapture::unavailable()));
}

// While a link is down libpcap polls every millisecond, which must stay a small cost rather
// than a spinning thread; once the adapter is gone nothing may spin at all.
void tst_FaultCost::adapterDownThenGone()
{
    PrivateCapture bench;
    const QString problem = bench.startOnVeth();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QSignalSpy failed(&bench.window().component(), &CaptureComponent::captureFailed);
    QCOMPARE(bench.network().ip({"link", "set", PrivateCapture::Veth, "down"}), QString());
    bool signalled = false;
    const double whileDown = cpuShareWhileNotSignalled(failed, 1000, &signalled);
    QVERIFY(!signalled);
    QVERIFY2(whileDown < 0.25, qPrintable(QString("CPU share while down: %1").arg(whileDown)));

    bench.capturing().dialogs().pressOk(); // the report that the adapter has gone
    QCOMPARE(bench.network().ip({"link", "delete", PrivateCapture::Veth}), QString());
    QVERIFY(failed.wait(5000));
    const double afterwards = cpuShareWhileNotSignalled(failed, 1000, &signalled);
    QVERIFY(!signalled);
    QVERIFY2(afterwards < 0.05, qPrintable(QString("CPU share once gone: %1").arg(afterwards)));
}

void tst_FaultCost::oddRowsPaintWithoutHoldingUpTheWindow_data()
{
    constexpr int LargestUdpPayload = 65507; // an IPv4 datagram of 65,535 bytes
    const QByteArray message = "***[";
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("only 0x00, largest") << QByteArray(LargestUdpPayload, '\0');
    QTest::newRow("only 0xDA, largest") << QByteArray(LargestUdpPayload, '\xDA');
    QTest::newRow("a message of line breaks")
        << message + QByteArray(LargestUdpPayload - message.size(), '\xDA');
    QTest::newRow("a message of zeros")
        << message + QByteArray(LargestUdpPayload - message.size(), '\0');
}

// A paint follows every arrival while the row is in view.
void tst_FaultCost::oddRowsPaintWithoutHoldingUpTheWindow()
{
    QFETCH(QByteArray, payload);
    PrivateCapture bench;
    const QString problem = bench.startOnLoopback();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    UdpSender sender;
    QVERIFY(sender.send(PrivateCapture::Port, payload));
    QTRY_COMPARE(bench.model().rowCount(), 1);

    QElapsedTimer painting;
    painting.start();
    bench.window().grab();
    QVERIFY2(painting.elapsed() < 500, qPrintable(QString("%1 ms").arg(painting.elapsed())));
}

QTEST_MAIN(tst_FaultCost)
#include "tst_faultcost.moc"
