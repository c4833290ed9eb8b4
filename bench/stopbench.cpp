#include "stopbench.h"

#include "benchreport.h"
#include "capturecontroller.h"
#include "eventwait.h"
#include "floodsender.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "processusage.h"
#include "stallmeter.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

using ProcessUsage::monotonicNs;

namespace {

// The flood runs until this long after the Stop was given, should the Stop not come back by
// itself: a window that waits for the traffic to end is then measured instead of waited for.
constexpr auto FloodLimit = std::chrono::seconds(10);

// Ends the sender from another thread after FloodLimit, unless cancelled first.
class Watchdog
{
public:
    explicit Watchdog(qint64 pid)
        : m_thread([this, pid] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, FloodLimit, [this] { return m_cancelled; }))
                  ::kill(pid_t(pid), SIGTERM);
          })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_cancelled = false;
    std::thread m_thread;
};

double seconds(qint64 ns)
{
    return double(ns) / 1e9;
}

} // namespace

bool StopBench::fail(const QString& why)
{
    m_error = QStringLiteral("stop under load: ") + why;
    return false;
}

bool StopBench::run(MainWindow& window, quint16 port, BenchReport& report)
{
    auto* capture = qobject_cast<PcapCapture*>(&window.component());
    PacketListModel& model = window.model();
    window.setPortText(QString::number(port));
    window.controller().applyFilter();
    const int rowsAtStart = model.rowCount();
    if (!capture || !window.controller().CaptureStart_Click())
        return fail(QStringLiteral("capture did not start"));
    FloodSender sender(m_senderProgram);
    if (!sender.start(port, 4000000000LL))
        return fail(sender.result().error);
    const qint64 floodFrom = monotonicNs();
    waitUntil([] { return false; }, 1000, 5); // the flood and the capture at full speed
    const int rowsAtStop = model.rowCount();
    const double rowRate = double(rowsAtStop - rowsAtStart) / seconds(monotonicNs() - floodFrom);

    StallMeter stalls(2);
    stalls.start();
    qint64 readyNs = -1;
    const qint64 start = monotonicNs();
    {
        const Watchdog watchdog(sender.pid());
        QTimer::singleShot(0, &window, [&window] {
            window.findChild<QAction*>(QStringLiteral("CaptureStop"))->trigger();
        });
        waitUntil(
            [&] {
                if (readyNs < 0 && window.captureState() == CaptureState::Ready)
                    readyNs = monotonicNs() - start;
                return readyNs >= 0 && !capture->isStopping();
            },
            60000, 5); // Ready is timed to the loop's wake-up
    }
    const qint64 endedNs = monotonicNs() - start;
    stalls.stop();
    ::kill(pid_t(sender.pid()), SIGTERM);
    sender.finish();
    const CaptureStats stats = capture->stats();
    report.add(QStringLiteral("stop_load_rows_per_s"), rowRate, 0);
    report.add(QStringLiteral("stop_load_ready_s"), readyNs >= 0 ? seconds(readyNs) : -1.0, 4);
    report.add(QStringLiteral("stop_load_max_stall_ms"), stalls.worstMs(), 1);
    report.add(QStringLiteral("stop_load_helper_ended_s"), seconds(endedNs), 3);
    report.add(QStringLiteral("stop_load_rows_after_stop"), qint64(model.rowCount() - rowsAtStop));
    report.add(QStringLiteral("stop_load_rows_minus_captured"),
               qint64(model.rowCount() - rowsAtStart) - qint64(stats.captured));
    report.add(QStringLiteral("stop_load_kernel_drops"), qint64(stats.dropped));
    return true;
}
