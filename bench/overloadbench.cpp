#include "overloadbench.h"

#include "benchreport.h"
#include "capturecontroller.h"
#include "cpulimit.h"
#include "eventwait.h"
#include "floodsender.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "processusage.h"

#include <QAction>
#include <QTimer>

#include <csignal>
#include <unistd.h>

using ProcessUsage::monotonicNs;

namespace {

double seconds(qint64 ns)
{
    return double(ns) / 1e9;
}

QString key(int round, const char* name)
{
    return QStringLiteral("overload_stop%1_%2").arg(round).arg(QLatin1String(name));
}

} // namespace

OverloadBench::OverloadBench(QString senderProgram, Held held, qint64 count, int percent)
    : m_senderProgram(std::move(senderProgram)), m_held(held), m_count(count),
      m_percent(percent > 0            ? percent
                : held == Held::Helper ? 1
                                       : 10)
{}

bool OverloadBench::fail(const QString& why)
{
    m_error = QStringLiteral("overload: ") + why;
    return false;
}

bool OverloadBench::run(MainWindow& window, quint16 port, BenchReport& report)
{
    CpuLimit limit(m_percent);
    if (!limit.isValid())
        return fail(limit.error());
    if (m_held == Held::Program && !limit.add(::getpid()))
        return fail(QStringLiteral("cannot move the window into the CPU cgroup"));
    report.addText(
        QStringLiteral("overload_held"),
        QStringLiteral("%1 at %2%")
            .arg(m_held == Held::Helper ? QStringLiteral("helper") : QStringLiteral("program"))
            .arg(m_percent));
    const qint64 anonBefore = ProcessUsage::anonymousKib();
    m_anonPeakKib = anonBefore;
    window.setPortText(QString::number(port));
    window.controller().applyFilter();
    if (!burst(window, limit, port, report))
        return false;
    for (int round = 1; round <= 2; ++round) {
        if (!stopUnderFlood(window, limit, port, round, report))
            return false;
    }
    report.add(QStringLiteral("overload_anon_growth_mb"),
               double(m_anonPeakKib - anonBefore) / 1024.0, 1);
    return true;
}

bool OverloadBench::start(MainWindow& window, CpuLimit& limit)
{
    auto* capture = qobject_cast<PcapCapture*>(&window.component());
    if (!capture || !window.controller().CaptureStart_Click())
        return fail(QStringLiteral("capture did not start"));
    // The window's own children are in its cgroup already.
    if (m_held == Held::Helper && !limit.add(capture->helperPid()))
        return fail(QStringLiteral("cannot move the helper into the CPU cgroup"));
    return true;
}

bool OverloadBench::burst(MainWindow& window, CpuLimit& limit, quint16 port, BenchReport& report)
{
    PacketListModel& model = window.model();
    const qint64 rowsBefore = model.rowCount();
    const quint64 droppedBefore = model.dropped();
    if (!start(window, limit))
        return false;
    FloodSender sender(m_senderProgram);
    if (!sender.start(port, m_count))
        return fail(sender.result().error);
    limit.release(sender.pid()); // the sender runs at full speed
    waitUntil(
        [&] {
            m_anonPeakKib = std::max(m_anonPeakKib, ProcessUsage::anonymousKib());
            return sender.tryFinish();
        },
        600000, 10);
    if (!sender.result().ok)
        return fail(sender.result().error);
    waitUntil([] { return false; }, 1000);
    const qint64 stopNs = monotonicNs();
    window.findChild<QAction*>(QStringLiteral("CaptureStop"))->trigger();
    auto* capture = qobject_cast<PcapCapture*>(&window.component());
    waitUntil([&] { return !capture->isStopping(); }, 10000, 5);
    const qint64 rows = model.rowCount() - rowsBefore;
    const qint64 dropped = qint64(model.dropped() - droppedBefore);
    report.add(QStringLiteral("overload_sent"), sender.result().sent);
    report.add(QStringLiteral("overload_rows"), rows);
    report.add(QStringLiteral("overload_dropped"), dropped);
    report.add(QStringLiteral("overload_unaccounted"), sender.result().sent - rows - dropped);
    report.add(QStringLiteral("overload_burst_stop_ended_s"), seconds(monotonicNs() - stopNs), 3);
    return true;
}

bool OverloadBench::stopUnderFlood(MainWindow& window, CpuLimit& limit, quint16 port, int round,
                                   BenchReport& report)
{
    auto* capture = qobject_cast<PcapCapture*>(&window.component());
    const PacketListModel& model = window.model();
    if (!start(window, limit))
        return false;
    FloodSender sender(m_senderProgram);
    if (!sender.start(port, 4000000000LL))
        return fail(sender.result().error);
    limit.release(sender.pid());
    waitUntil(
        [&] {
            m_anonPeakKib = std::max(m_anonPeakKib, ProcessUsage::anonymousKib());
            return false;
        },
        1000);
    qint64 readyNs = -1;
    const qint64 stopNs = monotonicNs();
    QTimer::singleShot(0, &window, [&window] {
        window.findChild<QAction*>(QStringLiteral("CaptureStop"))->trigger();
    });
    waitUntil(
        [&] {
            if (readyNs < 0 && window.captureState() == CaptureState::Ready)
                readyNs = monotonicNs() - stopNs;
            m_anonPeakKib = std::max(m_anonPeakKib, ProcessUsage::anonymousKib());
            return readyNs >= 0 && !capture->isStopping();
        },
        10000, 5);
    const qint64 endedNs = monotonicNs() - stopNs;
    const int rowsAtEnd = model.rowCount();
    waitUntil([] { return false; }, 1500); // the flood goes on: nothing more may arrive
    ::kill(pid_t(sender.pid()), SIGTERM);
    sender.finish();
    report.add(key(round, "ready_s"), readyNs >= 0 ? seconds(readyNs) : -1.0, 3);
    report.add(key(round, "helper_ended_s"), seconds(endedNs), 3);
    report.add(key(round, "rows_after_end"), qint64(model.rowCount() - rowsAtEnd));
    return true;
}
