// An adapter that goes away in the middle of a capture, as a USB adapter pulled out or a VPN
// tunnel torn down does. The adapter is one end of a veth pair in a network namespace of the
// test's own, so nothing reaches a real network. What these faults cost in CPU time is measured
// by tst_faultcost (label "long").
#include "capturecomponent.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "privatecapture.h"
#include "scripteddialogs.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

class tst_FaultAdapter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void adapterDisappearsWhileCapturing();
    void adapterTakenDownAndUpAgain();
};

void tst_FaultAdapter::init()
{
    if (!PrivateCapture::unavailable().isEmpty())
        QSKIP(qPrintable(PrivateCapture::unavailable()));
}

void tst_FaultAdapter::adapterDisappearsWhileCapturing()
{
    PrivateCapture bench;
    const QString problem = bench.startOnVeth();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    MainWindow& window = bench.window();
    ScriptedDialogs& dialogs = bench.capturing().dialogs();
    const WindowProbe& probe = bench.capturing().probe();
    QCOMPARE(probe.panel(3), QString("Status: Running"));

    const int sent = 50;
    QVERIFY(bench.sendToVethPeer(sent));
    QTRY_COMPARE(window.model().rowCount(), sent);

    dialogs.pressOk(); // the one report that the adapter has gone
    QSignalSpy failed(&window.component(), &CaptureComponent::captureFailed);
    QCOMPARE(bench.network().ip({"link", "delete", PrivateCapture::Veth}), QString());
    QVERIFY(failed.wait(5000));
    QVERIFY(!failed.wait(1000)); // a while longer: no second report

    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    QCOMPARE(dialogs.shown.size(), 2);
    const QString report = dialogs.shown.last().text;
    QVERIFY2(report.contains(PrivateCapture::Veth) && report.contains("stopped"),
             qPrintable(report));
    QCOMPARE(probe.state(), CaptureState::Ready);
    QCOMPARE(probe.panel(3), QString("Status: Stopped"));
    QVERIFY(!window.component().isCapturing());
    QCOMPARE(window.model().rowCount(), sent);
    QCOMPARE(window.model().text(sent - 1, PacketListModel::No), QString::number(sent));
    QVERIFY(probe.unsaved());

    // Starting again on the adapter that is gone is refused with a reason, not a hang.
    dialogs.pressOk();
    probe.action("CaptureStart")->trigger();
    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    QCOMPARE(dialogs.shown.size(), 3);
    QVERIFY2(dialogs.shown.last().text.contains(PrivateCapture::Veth),
             qPrintable(dialogs.shown.last().text));
    QCOMPARE(probe.state(), CaptureState::Ready);
    QCOMPARE(probe.panel(3), QString("Status: Stopped"));
    QCOMPARE(window.model().rowCount(), sent);
}

// A link taken down (a cable pulled) is not an error for libpcap: the capture waits and goes on
// when the link comes back.
void tst_FaultAdapter::adapterTakenDownAndUpAgain()
{
    PrivateCapture bench;
    const QString problem = bench.startOnVeth();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    MainWindow& window = bench.window();
    ScriptedDialogs& dialogs = bench.capturing().dialogs();
    const int sent = 20;
    QVERIFY(bench.sendToVethPeer(sent));
    QTRY_COMPARE(window.model().rowCount(), sent);

    QSignalSpy failed(&window.component(), &CaptureComponent::captureFailed);
    QCOMPARE(bench.network().ip({"link", "set", PrivateCapture::Veth, "down"}), QString());
    QVERIFY(!failed.wait(1000));

    QCOMPARE(bench.network().ip({"link", "set", PrivateCapture::Veth, "up"}), QString());
    QVERIFY(bench.sendToVethPeer(sent));
    QTRY_COMPARE(window.model().rowCount(), 2 * sent);
    QCOMPARE(window.model().text(2 * sent - 1, PacketListModel::No), QString::number(2 * sent));
    QCOMPARE(bench.capturing().probe().state(), CaptureState::Running);
    QCOMPARE(bench.capturing().probe().panel(3), QString("Status: Running"));
    QCOMPARE(dialogs.shown.size(), 1); // only "Select adapter from list"
    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
}

QTEST_MAIN(tst_FaultAdapter)
#include "tst_faultadapter.moc"
