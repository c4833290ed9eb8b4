// An adapter that goes away in the middle of a capture, as a USB adapter pulled out or a VPN
// tunnel torn down does. The adapter is one end of a veth pair in a network namespace of the
// test's own, so nothing reaches a real network.
#include "capturecomponent.h"
#include "capturingwindow.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "privatenetwork.h"
#include "scripteddialogs.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

const QString Adapter = QStringLiteral("kfault0");
const QString Peer = QStringLiteral("kfault1");
// Addresses of the private namespace only; the peer end has no address and answers nothing.
const char* const OwnAddress = "10.231.0.1/30";
const char* const PeerAddress = "10.231.0.2";
constexpr quint16 Port = 4111; // nothing else listens in the private namespace

// Sends UDP datagrams out of the adapter, to the peer's address in the private namespace.
bool sendToPeer(quint16 port, int count)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, PeerAddress, &to.sin_addr);
    bool sent = s >= 0;
    for (int n = 1; sent && n <= count; ++n) {
        const QByteArray payload = "***[" + QByteArray::number(n) + "]";
        sent = ::sendto(s, payload.constData(), size_t(payload.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to) == payload.size();
    }
    if (s >= 0)
        ::close(s);
    return sent;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double wallSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The share of one core the whole process used while waiting for a signal that must not come.
double cpuShareWhileNotSignalled(QSignalSpy& spy, int milliseconds, bool* signalled)
{
    const double cpuBefore = processCpuSeconds();
    const double wallBefore = wallSeconds();
    *signalled = spy.wait(milliseconds);
    return (processCpuSeconds() - cpuBefore) / (wallSeconds() - wallBefore);
}

// The window capturing on one end of a veth pair in a namespace of its own.
struct Bench
{
    PrivateNetwork network; // outlives the window: the capture ends before the namespace
    std::unique_ptr<CapturingWindow> capturing;

    QString setUp()
    {
        if (!network.error().isEmpty())
            return network.error();
        for (const QStringList& command :
             {QStringList{"link", "add", Adapter, "type", "veth", "peer", "name", Peer},
              // Without ARP the datagrams leave at once, with no neighbour to ask first.
              QStringList{"link", "set", Adapter, "arp", "off", "up"},
              QStringList{"link", "set", Peer, "up"},
              QStringList{"address", "add", OwnAddress, "dev", Adapter}}) {
            const QString error = network.ip(command);
            if (!error.isEmpty())
                return error;
        }
        capturing = std::make_unique<CapturingWindow>();
        return capturing->start(Adapter, QString::number(Port));
    }
};

} // namespace

class tst_FaultAdapter : public QObject
{
    Q_OBJECT

private slots:
    void adapterDisappearsWhileCapturing();
    void adapterTakenDownAndUpAgain();
};

void tst_FaultAdapter::adapterDisappearsWhileCapturing()
{
    if (::geteuid() != 0)
        QSKIP("needs root for a network namespace and capture (CI runs as root)");
    Bench bench;
    const QString problem = bench.setUp();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    MainWindow& window = bench.capturing->window();
    ScriptedDialogs& dialogs = bench.capturing->dialogs();
    QCOMPARE(bench.capturing->probe().panel(3), QString("Status: Running"));

    const int sent = 50;
    QVERIFY(sendToPeer(Port, sent));
    QTRY_COMPARE(window.model().rowCount(), sent);

    dialogs.pressOk(); // the one report that the adapter has gone
    QSignalSpy failed(&window.component(), &CaptureComponent::captureFailed);
    QCOMPARE(bench.network.ip({"link", "delete", Adapter}), QString());
    QVERIFY(failed.wait(5000));

    // A while longer: no second report, and nothing left spinning.
    bool again = false;
    const double cpuShare = cpuShareWhileNotSignalled(failed, 1000, &again);
    QVERIFY(!again);
    QVERIFY2(cpuShare < 0.05, qPrintable(QString("CPU share after the failure: %1").arg(cpuShare)));

    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    QCOMPARE(dialogs.shown.size(), 2);
    const QString report = dialogs.shown.last().text;
    QVERIFY2(report.contains(Adapter) && report.contains("stopped"), qPrintable(report));
    QCOMPARE(bench.capturing->probe().state(), CaptureState::Ready);
    QCOMPARE(bench.capturing->probe().panel(3), QString("Status: Stopped"));
    QVERIFY(!window.component().isCapturing());
    QCOMPARE(window.model().rowCount(), sent);
    QCOMPARE(window.model().text(sent - 1, PacketListModel::No), QString::number(sent));
    QVERIFY(bench.capturing->probe().unsaved());

    // Starting again on the adapter that is gone is refused with a reason, not a hang.
    dialogs.pressOk();
    bench.capturing->probe().action("CaptureStart")->trigger();
    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    QCOMPARE(dialogs.shown.size(), 3);
    QVERIFY2(dialogs.shown.last().text.contains(Adapter), qPrintable(dialogs.shown.last().text));
    QCOMPARE(bench.capturing->probe().state(), CaptureState::Ready);
    QCOMPARE(bench.capturing->probe().panel(3), QString("Status: Stopped"));
    QCOMPARE(window.model().rowCount(), sent);
}

// A link taken down (a cable pulled) is not an error for libpcap: the capture waits and goes on
// when the link comes back. While it waits libpcap polls every millisecond, which must stay a
// small cost rather than a spinning thread.
void tst_FaultAdapter::adapterTakenDownAndUpAgain()
{
    if (::geteuid() != 0)
        QSKIP("needs root for a network namespace and capture (CI runs as root)");
    Bench bench;
    const QString problem = bench.setUp();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    MainWindow& window = bench.capturing->window();
    ScriptedDialogs& dialogs = bench.capturing->dialogs();
    const int sent = 20;
    QVERIFY(sendToPeer(Port, sent));
    QTRY_COMPARE(window.model().rowCount(), sent);

    QSignalSpy failed(&window.component(), &CaptureComponent::captureFailed);
    QCOMPARE(bench.network.ip({"link", "set", Adapter, "down"}), QString());
    bool signalled = false;
    const double cpuShare = cpuShareWhileNotSignalled(failed, 1000, &signalled);
    QVERIFY(!signalled);
    QVERIFY2(cpuShare < 0.25, qPrintable(QString("CPU share while down: %1").arg(cpuShare)));

    QCOMPARE(bench.network.ip({"link", "set", Adapter, "up"}), QString());
    QVERIFY(sendToPeer(Port, sent));
    QTRY_COMPARE(window.model().rowCount(), 2 * sent);
    QCOMPARE(window.model().text(2 * sent - 1, PacketListModel::No), QString::number(2 * sent));
    QCOMPARE(bench.capturing->probe().state(), CaptureState::Running);
    QCOMPARE(bench.capturing->probe().panel(3), QString("Status: Running"));
    QCOMPARE(dialogs.shown.size(), 1); // only "Select adapter from list"
    QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
}

QTEST_MAIN(tst_FaultAdapter)
#include "tst_faultadapter.moc"
