// The capture component's contract, run against the libpcap component (on the loopback adapter,
// through the capture helper) and against the test double the other tests use: both must
// behave alike, or the window's tests prove nothing about the program.
#include "fakecapture.h"
#include "loopback.h"
#include "packetbatch.h"
#include "pcapcapture.h"
#include "udpsender.h"

#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

// One component under test, and the way a datagram reaches it.
struct Subject
{
    std::unique_ptr<CaptureComponent> component;
    QList<QByteArray> received;
    UdpSender sender;

    explicit Subject(const QString& kind)
    {
        if (kind == u"libpcap")
            component = std::make_unique<PcapCapture>();
        else
            component = std::make_unique<FakeCapture>(
                QStringList{"eth0 (Network adapter)", "lo (Loopback)"});
        QObject::connect(component.get(), &CaptureComponent::packetsCaptured,
                         [this](const PacketBatch& b) {
                             for (qsizetype i = 0; i < b.count(); ++i)
                                 received.append(b.bytes(i).toByteArray());
                         });
        const QList<CaptureAdapter> adapters = component->adapters();
        for (int i = 0; i < adapters.size(); ++i) {
            if (adapters[i].name == u"lo" || adapters[i].description.startsWith(u"lo "))
                component->setAdapter(i);
        }
    }

    void send(quint16 port, const QByteArray& payload)
    {
        if (auto* fake = qobject_cast<FakeCapture*>(component.get()))
            fake->arrive(port, payload);
        else
            QVERIFY(sender.send(port, payload));
    }

    // The payloads that arrived: everything up to and including marker, sent last on port.
    QList<QByteArray> payloadsUpTo(quint16 port, const QByteArray& marker)
    {
        send(port, marker);
        if (!QTest::qWaitFor(
                [&] { return !received.isEmpty() && received.last().endsWith(marker); }, 5000))
            return {"(the marker never arrived)"};
        QList<QByteArray> payloads;
        for (const QByteArray& packet : std::as_const(received)) {
            // The real component delivers whole frames; the payload is at their end.
            const qsizetype headers =
                qobject_cast<FakeCapture*>(component.get()) ? 0 : LoopbackHeaders;
            payloads.append(packet.mid(headers));
        }
        received.clear();
        return payloads;
    }
};

QString filter(quint16 port)
{
    return QStringLiteral("port %1").arg(port);
}

} // namespace

class tst_CaptureContract : public QObject
{
    Q_OBJECT

private slots:
    void filterTakesEffectAtTheNextStart_data() { components(); }
    void filterTakesEffectAtTheNextStart();
    void unusableFilterFailsTheStart_data() { components(); }
    void unusableFilterFailsTheStart();
    void capturesTheWatchedPortUntilStop_data() { components(); }
    void capturesTheWatchedPortUntilStop();

private:
    void components();
};

void tst_CaptureContract::components()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("test double") << "fake";
    if (::geteuid() == 0)
        QTest::newRow("libpcap") << "libpcap";
    else
        qInfo("capturing needs root (CI runs as root): the libpcap rows are left out");
}

void tst_CaptureContract::filterTakesEffectAtTheNextStart()
{
    QFETCH(QString, kind);
    Subject s(kind);
    const quint16 first = UdpSender::freePort();
    const quint16 second = UdpSender::freePort();
    s.component->setFilter(filter(first));
    QCOMPARE(s.component->start(), QString());

    // Writing a filter while capturing changes nothing until the next start.
    s.component->setFilter(filter(second));
    QVERIFY(s.component->isCapturing());
    s.send(second, "to the new port, too early");
    QCOMPARE(s.payloadsUpTo(first, "old"), QList<QByteArray>{"old"});

    QCOMPARE(s.component->start(), QString()); // while capturing: the running one ends first
    QVERIFY(s.component->isCapturing());
    s.component->waitForStopped(5000);
    s.send(first, "to the old port");
    QCOMPARE(s.payloadsUpTo(second, "new"), QList<QByteArray>{"new"});
    s.component->stop();
}

void tst_CaptureContract::unusableFilterFailsTheStart()
{
    QFETCH(QString, kind);
    Subject s(kind);
    s.component->setFilter("port 70000");
    QVERIFY(!s.component->isCapturing());
    const QString error = s.component->start();
    QVERIFY2(error.contains("port 70000"), qPrintable(error));
    QVERIFY(!s.component->isCapturing());

    const quint16 port = UdpSender::freePort();
    s.component->setFilter(filter(port));
    QCOMPARE(s.component->start(), QString());
    QCOMPARE(s.payloadsUpTo(port, "usable"), QList<QByteArray>{"usable"});
    s.component->stop();
}

void tst_CaptureContract::capturesTheWatchedPortUntilStop()
{
    QFETCH(QString, kind);
    Subject s(kind);
    const quint16 port = UdpSender::freePort();
    // Leading zeros, as a person may type them: the port is still read as decimal (libpcap
    // alone would read octal).
    s.component->setFilter(QStringLiteral("port 00%1").arg(port));
    QCOMPARE(s.component->start(), QString());
    QCOMPARE(s.payloadsUpTo(port, "while capturing"), QList<QByteArray>{"while capturing"});
    s.component->stop();
    QVERIFY(!s.component->isCapturing());
    s.component->waitForStopped(5000); // what was captured before the stop arrives meanwhile
    s.send(port, "after the stop");
    QTest::qWait(0); // a delivery that was wrongly queued would land here
    QVERIFY(s.received.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CaptureContract)
#include "tst_capturecontract.moc"
