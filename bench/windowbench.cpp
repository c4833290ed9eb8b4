#include "windowbench.h"

#include "benchdialogs.h"
#include "benchreport.h"
#include "capturecomponent.h"
#include "capturecontroller.h"
#include "eventwait.h"
#include "floodsender.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "portsink.h"
#include "processusage.h"
#include "stallmeter.h"
#include "stopbench.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTimer>

using ProcessUsage::monotonicNs;

namespace {

// Runs the event loop until done() holds or timeoutMs has passed.

double seconds(qint64 ns)
{
    return double(ns) / 1e9;
}

// The counter the sender put into "***[k]".
qint64 counterOf(QByteArrayView bytes)
{
    const qsizetype open = bytes.indexOf(QByteArrayView("***["));
    if (open < 0)
        return -1;
    qint64 value = 0;
    for (qsizetype i = open + 4; i < bytes.size() && bytes[i] != ']'; ++i)
        value = value * 10 + (bytes[i] - '0');
    return value;
}

} // namespace

WindowBench::WindowBench(QString senderProgram, qint64 count, bool longRun)
    : m_senderProgram(std::move(senderProgram)), m_count(count), m_long(longRun)
{}

bool WindowBench::fail(const QString& why)
{
    m_error = why;
    return false;
}

bool WindowBench::run(BenchReport& report)
{
    auto dialogs = std::make_unique<BenchDialogs>();
    m_dialogs = dialogs.get();
    MainWindow window(std::make_unique<PcapCapture>(), std::move(dialogs));
    m_window = &window;
    m_view = window.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    if (!m_view)
        return fail(QStringLiteral("the window has no ListView1"));

    qApp->installEventFilter(this); // until the window's first paint
    window.Form_Load();
    waitUntil([this] { return m_firstPaintNs >= 0; }, 5000);
    qApp->removeEventFilter(this);

    const PortSink sink;
    if (sink.port() == 0)
        return fail(QStringLiteral("no free UDP port on 127.0.0.1"));
    if (!startCapture(window, sink.port()) || !burst(window, sink.port(), report))
        return false;
    checkRows(window, report);
    saveLog(window, report);
    openDetailWindow(window, report);
    clearList(window, report);
    report.add(QStringLiteral("startup_s"), seconds(m_firstPaintNs), 3);
    const PortSink flooded;
    StopBench stopUnderLoad(m_senderProgram);
    if (!stopUnderLoad.run(window, flooded.port(), report))
        return fail(stopUnderLoad.error());
    const QStringList unexpected = m_dialogs->unexpectedMessages();
    if (!unexpected.isEmpty())
        return fail(QStringLiteral("the window said: ") + unexpected.join(QStringLiteral(" / ")));
    return true;
}

bool WindowBench::startCapture(MainWindow& window, quint16 port)
{
    const QList<CaptureAdapter> adapters = window.component().adapters();
    int lo = -1;
    for (int i = 0; i < adapters.size() && lo < 0; ++i) {
        if (adapters[i].name == u"lo")
            lo = i;
    }
    if (lo < 0)
        return fail(QStringLiteral("libpcap lists no adapter \"lo\""));
    window.setPortText(QString::number(port));
    window.controller().combo1_Click(lo);
    const qint64 start = monotonicNs();
    if (!window.controller().CaptureStart_Click())
        return fail(QStringLiteral("capture did not start: ") +
                    m_dialogs->unexpectedMessages().join(u' '));
    // The helper has started, opened the adapter and given up its rights: it is capturing.
    m_startNs = monotonicNs() - start;
    // Lets the capture thread reach libpcap and the window settle before anything is counted.
    waitUntil([] { return false; }, 300);
    return true;
}

bool WindowBench::burst(MainWindow& window, quint16 port, BenchReport& report)
{
    PacketListModel& model = window.model();
    // The whole program is this process (the window) and the capture helper.
    const auto* capture = qobject_cast<const PcapCapture*>(&window.component());
    const qint64 helper = capture ? capture->helperPid() : 0;
    if (helper <= 0)
        return fail(QStringLiteral("no capture helper runs"));
    auto mark = [&] {
        return CpuMark{ProcessUsage::cpuSeconds() + ProcessUsage::cpuSeconds(helper),
                       qint64(model.rowCount())};
    };
    // A long run compares the first million with the last: a cost that grows with the rows
    // shows there, where an average over the whole capture would hide it.
    constexpr qint64 Million = 1000000;
    CpuMark firstMillion, lastMillionFrom;
    qint64 lastArrivalNs = 0;
    qint64 deliveries = 0;
    const QMetaObject::Connection arrivals =
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&] {
            lastArrivalNs = monotonicNs();
            ++deliveries;
            const qint64 rows = model.rowCount();
            if (m_long && firstMillion.cpu < 0 && rows >= Million)
                firstMillion = mark();
            if (m_long && lastMillionFrom.cpu < 0 && rows >= m_count - Million)
                lastMillionFrom = mark();
        });
    m_viewPaints = 0;
    m_view->viewport()->installEventFilter(this);

    StallMeter stalls;
    FloodSender sender(m_senderProgram);
    const qint64 rssBefore = ProcessUsage::residentKib();
    m_rssBeforeKib = rssBefore;
    const qint64 anonBefore = ProcessUsage::anonymousKib();
    const double machineCpuBefore = ProcessUsage::machineCpuSeconds();
    const qint64 helperRssBefore = ProcessUsage::residentKib(helper);
    const double cpuBefore = ProcessUsage::cpuSeconds();
    const double helperCpuBefore = ProcessUsage::cpuSeconds(helper);
    const double uiCpuBefore = ProcessUsage::threadCpuSeconds();
    const CpuMark started = mark();
    stalls.start();
    if (!sender.start(port, m_count))
        return fail(sender.result().error);

    qint64 senderEndNs = 0;
    const bool ended = waitUntil(
        [&] {
            if (senderEndNs == 0 && sender.tryFinish())
                senderEndNs = monotonicNs();
            if (senderEndNs == 0)
                return false;
            const qint64 rows = model.rowCount();
            if (!sender.result().ok || (rows >= sender.result().sent && m_paintedRows == rows))
                return true;
            // Rows that are still missing a second after the last arrival will not come.
            return monotonicNs() - std::max(lastArrivalNs, senderEndNs) > 1000000000;
        },
        int(120000 + m_count / 10));
    const double cpuAfter = ProcessUsage::cpuSeconds();
    const double helperCpuAfter = ProcessUsage::cpuSeconds(helper);
    const double uiCpuAfter = ProcessUsage::threadCpuSeconds();
    const qint64 rssAfter = ProcessUsage::residentKib();
    const qint64 anonAfter = ProcessUsage::anonymousKib();
    const double machineCpuAfter = ProcessUsage::machineCpuSeconds();
    const qint64 helperRssAfter = ProcessUsage::residentKib(helper);
    const CpuMark finished = {cpuAfter + helperCpuAfter, qint64(model.rowCount())};
    stalls.stop();
    m_view->viewport()->removeEventFilter(this);
    disconnect(arrivals);
    if (!ended)
        return fail(QStringLiteral("the burst did not end"));
    const FloodSender::Result& sent = sender.result();
    if (!sent.ok)
        return fail(sent.error);

    m_senderRate = sent.rate;
    window.controller().CaptureStop_Click();
    // The stopped capture hands over its last packets and its counts when its helper has ended.
    waitUntil([capture] { return !capture->isStopping(); }, 5000);
    const CaptureStats stats = window.component().stats();
    const qint64 rows = model.rowCount();
    const qint64 perPacket = std::max<qint64>(rows, 1);
    report.add(QStringLiteral("sent"), sent.sent);
    report.add(QStringLiteral("sender_rate"), sent.rate, 0);
    report.add(QStringLiteral("rows"), rows);
    report.add(QStringLiteral("kernel_received"), qint64(stats.received));
    report.add(QStringLiteral("kernel_drops"), qint64(stats.dropped));
    report.add(QStringLiteral("last_row_after_send_s"),
               rows ? seconds(lastArrivalNs - sent.lastSendNs) : -1.0, 3);
    report.add(QStringLiteral("scrolled_after_send_s"),
               m_paintedRows == rows ? seconds(m_paintedAtNs - sent.lastSendNs) : -1.0, 3);
    report.add(QStringLiteral("max_stall_ms"), stalls.worstMs(), 1);
    report.add(QStringLiteral("rss_before_kib"), rssBefore);
    report.add(QStringLiteral("rss_after_kib"), rssAfter);
    report.add(QStringLiteral("helper_rss_before_kib"), helperRssBefore);
    report.add(QStringLiteral("helper_rss_after_kib"), helperRssAfter);
    const qint64 growthKib = rssAfter - rssBefore + helperRssAfter - helperRssBefore;
    report.add(QStringLiteral("bytes_per_packet"), double(growthKib) * 1024 / perPacket, 1);
    const double windowCpu = cpuAfter - cpuBefore;
    const double helperCpu = helperCpuAfter - helperCpuBefore;
    // The window's memory that only its own end gives back; the packets' pages are the store
    // file's, which the kernel may write back and drop.
    report.add(QStringLiteral("anon_bytes_per_packet"),
               double(anonAfter - anonBefore) * 1024 / perPacket, 1);
    report.add(QStringLiteral("store_file_bytes"), window.model().store().diskBytes());
    report.add(QStringLiteral("cpu_s"), windowCpu + helperCpu, 3);
    report.add(QStringLiteral("cpu_us_per_packet"), (windowCpu + helperCpu) * 1e6 / perPacket, 3);
    report.add(QStringLiteral("window_cpu_us_per_packet"), windowCpu * 1e6 / perPacket, 3);
    report.add(QStringLiteral("helper_cpu_us_per_packet"), helperCpu * 1e6 / perPacket, 3);
    // Everything the machine did meanwhile: the sender, the kernel's write-back of the store
    // file, and whatever else runs on it.
    report.add(QStringLiteral("machine_cpu_us_per_packet"),
               (machineCpuAfter - machineCpuBefore) * 1e6 / perPacket, 3);
    report.add(QStringLiteral("start_to_capturing_s"), seconds(m_startNs), 4);
    report.add(QStringLiteral("ui_thread_cpu_us_per_packet"),
               (uiCpuAfter - uiCpuBefore) * 1e6 / perPacket, 3);
    report.add(QStringLiteral("deliveries"), deliveries);
    report.add(QStringLiteral("view_paints"), m_viewPaints);
    if (m_long) {
        addSlice(report, "first_million_cpu_us_per_packet", started, firstMillion);
        addSlice(report, "last_million_cpu_us_per_packet", lastMillionFrom, finished);
    }
    return true;
}

void WindowBench::addSlice(BenchReport& report, const char* key, const CpuMark& from,
                           const CpuMark& to) const
{
    // Deliveries come every 40 ms or so, so a slice starts and ends on a delivery near the
    // million, and is divided by the rows it really held.
    const qint64 rows = to.rows - from.rows;
    const bool taken = from.cpu >= 0 && to.cpu >= 0 && rows > 0;
    report.add(QLatin1String(key), taken ? (to.cpu - from.cpu) * 1e6 / double(rows) : -1.0, 3);
}

void WindowBench::checkRows(MainWindow& window, BenchReport& report)
{
    const PacketListModel& model = window.model();
    const int rows = model.rowCount();
    qint64 inSequence = 0;
    for (int row = 0; row < rows; ++row)
        inSequence += counterOf(model.store().bytes(row)) == row + 1;
    report.addText(QStringLiteral("first_no"), rows ? model.text(0, PacketListModel::No) : "");
    report.addText(QStringLiteral("last_no"),
                   rows ? model.text(rows - 1, PacketListModel::No) : QString());
    report.add(QStringLiteral("rows_in_sequence"), inSequence);
}

void WindowBench::saveLog(MainWindow& window, BenchReport& report)
{
    QTemporaryDir directory;
    const QString fileName = directory.filePath(QStringLiteral("KintoCapturelogBench.csv"));
    m_dialogs->setLogFileName(fileName);
    // As the user saves: the menu item, with the event loop running. The save is done when the
    // unsaved flag is down again, whether it ran at once or goes on after the click returns;
    // meanwhile the stall meter sees how long the window could not answer.
    StallMeter stalls;
    stalls.start();
    const qint64 start = monotonicNs();
    QTimer::singleShot(0, &window, [&window] {
        window.findChild<QAction*>(QStringLiteral("savelog"))->trigger();
    });
    const bool saved =
        waitUntil([&window] { return !window.isUnsaved(); }, int(60000 + m_count / 100));
    const qint64 end = monotonicNs();
    stalls.stop();
    report.add(QStringLiteral("save_log_s"), saved ? seconds(end - start) : -1.0, 3);
    report.add(QStringLiteral("save_log_max_stall_ms"), stalls.worstMs(), 1);
    report.add(QStringLiteral("save_log_bytes"), QFileInfo(fileName).size());
    report.add(QStringLiteral("saved_flag_after_save"), qint64(window.isUnsaved() ? 0 : 1));
}

void WindowBench::openDetailWindow(MainWindow& window, BenchReport& report)
{
    const int rows = window.model().rowCount();
    if (rows == 0) {
        report.add(QStringLiteral("detail_window_s"), -1.0, 3);
        return;
    }
    m_view->selectionModel()->setCurrentIndex(window.model().index(rows - 1, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    // The window is modal: it is closed once it has painted, or after a while if it never does.
    QTimer::singleShot(3000, this, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    m_detailPaintNs = -1;
    qApp->installEventFilter(this);
    const qint64 start = monotonicNs();
    window.ListView1_DblClick();
    qApp->removeEventFilter(this);
    report.add(QStringLiteral("detail_window_s"),
               m_detailPaintNs >= 0 ? seconds(m_detailPaintNs - start) : -1.0, 4);
}

void WindowBench::clearList(MainWindow& window, BenchReport& report)
{
    const qint64 start = monotonicNs();
    window.clearlist_Click();
    QCoreApplication::processEvents(); // the view's repaint of the empty list
    const qint64 end = monotonicNs();
    report.add(QStringLiteral("clear_list_s"), seconds(end - start), 3);
    report.add(QStringLiteral("rows_after_clear"), qint64(window.model().rowCount()));
    report.add(QStringLiteral("store_file_bytes_after_clear"), window.model().store().diskBytes());
    const qint64 rssAfterClear = ProcessUsage::residentKib();
    report.add(QStringLiteral("rss_after_clear_kib"), rssAfterClear);
    // Against the window's resident memory just before the burst.
    report.add(QStringLiteral("rss_after_clear_vs_before_kib"), rssAfterClear - m_rssBeforeKib);
}

bool WindowBench::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Paint || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (m_firstPaintNs < 0 && widget->window() == m_window) {
        m_firstPaintNs = ProcessUsage::sinceProcessStartNs();
    } else if (watched == m_view->viewport()) {
        ++m_viewPaints;
        const int rows = m_view->model()->rowCount();
        const QRect last = m_view->visualRect(m_view->model()->index(rows - 1, 0));
        if (rows > 0 && rows != m_paintedRows && last.height() > 0 && last.top() >= 0 &&
            last.bottom() < m_view->viewport()->height()) {
            m_paintedRows = rows;
            m_paintedAtNs = monotonicNs();
        }
    } else if (m_detailPaintNs < 0 && widget->window()->objectName() == u"Form2") {
        m_detailPaintNs = monotonicNs();
        QWidget* detail = widget->window();
        QTimer::singleShot(0, detail, [detail] { detail->close(); });
    }
    return false;
}
