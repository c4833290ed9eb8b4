#include "capturecontroller.h"
#include "capturingwindow.h"
#include "fakewindow.h"
#include "memorycgroup.h"
#include "packetlistmodel.h"
#include "tmpfsmount.h"
#include "udpsender.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <optional>

#include <sys/resource.h>
#include <unistd.h>

// The address sanitizer reserves terabytes of address space for itself: no limit on it can be
// set here.
#if defined(__SANITIZE_ADDRESS__)
#define KINTO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KINTO_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

const QString Scheduler = FakeWindow::Scheduler;

// Records File > Exit instead of ending the test.
struct Harness : FakeWindow
{
    bool exited = false;

    explicit Harness(const QStringList& adapters, Load load = Load::Now)
        : FakeWindow(adapters, load)
    {
        window.setExitHandler([this] { exited = true; });
    }
};

// Limits this process's address space to what it uses now plus extra bytes, as memory running
// out on a real machine would, and lifts the limit again when it goes.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(qint64 extra)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        qint64 used = 0;
        if (getrlimit(RLIMIT_AS, &m_old) != 0 || !status.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                used = line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
        }
        rlimit limited = m_old;
        limited.rlim_cur = rlim_t(used + extra);
        m_set = used > 0 && setrlimit(RLIMIT_AS, &limited) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_AS, &m_old);
    }
    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};

// The rows end in "***[k]": the lengths of the runs k = 1, 2, 3, ... they make, one per capture;
// {-1} when a packet is missing, doubled or out of order.
QList<qint64> runs(const PacketListModel& model)
{
    QList<qint64> out;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QByteArray bytes = model.store().bytes(row).toByteArray();
        const qint64 k = bytes.sliced(bytes.lastIndexOf('[') + 1).chopped(1).toLongLong();
        if (k == 1)
            out.append(0);
        if (out.isEmpty() || k != ++out.last())
            return {-1};
    }
    return out;
}

} // namespace

class tst_CaptureController : public QObject
{
    Q_OBJECT

private slots:
    void startupChoosesTheSchedulerAdapter_data();
    void startupChoosesTheSchedulerAdapter();
    void startupWithoutSchedulerAsksForAnAdapter();
    void adaptersThatCannotBeListedAreExplainedFirst();
    void longDescriptionInBothLists();
    void startAndStop();
    void menuShortcutsWinOverTextFields();
    void comboChoiceWhileRunningStops();
    void listChoiceWhileRunningStartsOnTheNewAdapter();
    void closingOffersTheExportAndStillCloses();
    void exitEndsAtOnce();
    void failureAtStartShowsTheReasonAndStopped();
    void captureEndingByItselfShowsOneMessageAndKeepsRows();
    void fullStoreStopsCaptureKeepsEveryRowAndSavesThem_data();
    void fullStoreStopsCaptureKeepsEveryRowAndSavesThem();
    void stopNeverWaitsForTheHelper_data();
    void stopNeverWaitsForTheHelper();
};

void tst_CaptureController::startupChoosesTheSchedulerAdapter_data()
{
    QTest::addColumn<QStringList>("adapters");
    QTest::addColumn<int>("chosen");
    QTest::newRow("mixed case") << QStringList{"lo (Loopback)",
                                               "NIC (MICROSOFT's packet SCHEDULER)"}
                                << 1;
    QTest::newRow("two: the first wins") << QStringList{"eth0", "A (Microsoft's Packet Scheduler)",
                                                        "B (Microsoft's Packet Scheduler)"}
                                         << 1;
    QTest::newRow("36 spaces") << QStringList{"NIC" + QString(36, ' ') +
                                              "(Microsoft's Packet Scheduler)"}
                               << 0;
}

void tst_CaptureController::startupChoosesTheSchedulerAdapter()
{
    QFETCH(QStringList, adapters);
    QFETCH(int, chosen);
    Harness h(adapters);

    QCOMPARE(h.capture->m_calls, (QStringList{"startup", QString("adapter %1").arg(chosen),
                                              "filter port 4111", "start"}));
    QCOMPARE(h.probe.state(), CaptureState::Running);
    QCOMPARE(h.probe.panel(2), QString("Port: 4111"));
    QCOMPARE(h.probe.panel(3), QString("Status: Running"));
    QVERIFY(h.window.isVisible());
    QCOMPARE(h.dialogs->problems(), QString());
}

void tst_CaptureController::startupWithoutSchedulerAsksForAnAdapter()
{
    Harness h({"lo (Loopback)", "eth0 (Network adapter)"}, FakeWindow::Load::AnswerAdapter);
    QCOMPARE(h.dialogs->shown.size(), 1);
    QCOMPARE(h.dialogs->shown[0].text, QString("Select adapter from list"));
    QCOMPARE(h.dialogs->shown[0].title, QString("Kinto Sniffer"));
    QCOMPARE(h.probe.state(), CaptureState::NoAdapter);
    QCOMPARE(h.probe.listEntries(),
             (QStringList{"(1) lo (Loopback)", "(2) eth0 (Network adapter)"}));
    QCOMPARE(h.probe.comboEntries(), h.probe.listEntries());
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
    QCOMPARE(h.capture->m_calls, QStringList{"startup"});
}

void tst_CaptureController::adaptersThatCannotBeListedAreExplainedFirst()
{
    Harness h({}, FakeWindow::Load::Later);
    h.capture->m_adapterError = "The network adapters cannot be listed: no netlink";
    h.dialogs->pressOk();
    h.dialogs->pressOk();
    h.window.Form_Load();
    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.dialogs->shown.size(), 2);
    QCOMPARE(h.dialogs->shown[0].text, h.capture->m_adapterError);
    QCOMPARE(h.dialogs->shown[1].text, QString("Select adapter from list"));
    QCOMPARE(h.probe.state(), CaptureState::NoAdapter);
}

void tst_CaptureController::longDescriptionInBothLists()
{
    const QString description = "  NIC" + QString(36, ' ') + "(Microsoft's Packet Scheduler) ";
    Harness h({description});
    QCOMPARE(h.probe.listEntries(),
             QStringList{"(1) NIC" + QString(36, ' ') + "(Microsoft's Packet Scheduler)"});
    QCOMPARE(h.probe.comboEntries(), QStringList{"(1) NIC   (Microsoft's Packet Scheduler)"});
}

void tst_CaptureController::startAndStop()
{
    Harness h({Scheduler});
    h.probe.action("CaptureStop")->trigger();
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
    QCOMPARE(h.capture->m_calls.last(), QString("stop"));
    QVERIFY(!h.capture->isCapturing());

    // Start may wait seconds for the helper (a long filter): the busy cursor shows meanwhile.
    Qt::CursorShape whileStarting = Qt::ArrowCursor;
    h.capture->m_whileStarting = [&] {
        if (const QCursor* cursor = QGuiApplication::overrideCursor())
            whileStarting = cursor->shape();
    };
    h.probe.action("CaptureStart")->trigger();
    QCOMPARE(whileStarting, Qt::WaitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(h.probe.state(), CaptureState::Running);
    QCOMPARE(h.probe.panel(3), QString("Status: Running"));
    QVERIFY(h.capture->isCapturing());
}

void tst_CaptureController::menuShortcutsWinOverTextFields()
{
    Harness h({Scheduler});
    QApplication::setActiveWindow(&h.window);
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QLineEdit* comboText = h.window.findChild<QComboBox*>("combo1")->lineEdit();
    comboText->setFocus();
    QTRY_VERIFY(comboText->hasFocus());
    QTest::keyClick(comboText, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    QTest::keyClick(comboText, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(h.probe.state(), CaptureState::Running);
}

void tst_CaptureController::comboChoiceWhileRunningStops()
{
    Harness h({Scheduler, "lo (Loopback)"});
    h.capture->m_calls.clear();
    h.probe.chooseInCombo(1);
    QCOMPARE(h.capture->m_calls, (QStringList{"stop", "adapter 1", "filter port 4111"}));
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    // The capture has stopped, so the panel says so.
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
}

void tst_CaptureController::listChoiceWhileRunningStartsOnTheNewAdapter()
{
    Harness h({Scheduler, "lo (Loopback)"});
    h.capture->m_calls.clear();
    h.probe.chooseInList(1);
    QCOMPARE(h.capture->m_calls, (QStringList{"adapter 1", "filter port 4111", "start"}));
    QCOMPARE(h.probe.state(), CaptureState::Running);
    QCOMPARE(h.window.frameGeometry().height(), 7335 / 15);
}

void tst_CaptureController::closingOffersTheExportAndStillCloses()
{
    Harness h({Scheduler});
    h.arrive(3);
    QVERIFY(h.probe.unsaved());
    h.dialogs->cancelInput();
    QVERIFY(h.window.close());
    QVERIFY(!h.window.isVisible());
    QCOMPARE(h.capture->m_calls.last(), QString("stop"));
    QCOMPARE(h.dialogs->shown.size(), 1);
    QCOMPARE(h.dialogs->shown[0].title, QString("Save log as ..."));
    QCOMPARE(h.dialogs->problems(), QString());
}

void tst_CaptureController::exitEndsAtOnce()
{
    Harness h({Scheduler});
    h.arrive(3);
    h.capture->m_calls.clear();
    h.probe.action("FileExit")->trigger();
    QVERIFY(h.exited);
    QVERIFY(h.dialogs->shown.isEmpty());
    QVERIFY(h.capture->m_calls.isEmpty());
}

void tst_CaptureController::failureAtStartShowsTheReasonAndStopped()
{
    FakeWindow h({Scheduler}, FakeWindow::Load::Later);
    h.capture->m_startError = "No permission to capture on fake0.";
    h.dialogs->pressOk();
    h.window.Form_Load();
    QCOMPARE(h.dialogs->shown.size(), 1);
    QCOMPARE(h.dialogs->shown[0].text, h.capture->m_startError);
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
}

void tst_CaptureController::captureEndingByItselfShowsOneMessageAndKeepsRows()
{
    Harness h({Scheduler});
    h.arrive(5);
    h.dialogs->pressOk();
    h.capture->fail("The interface disappeared");
    QCOMPARE(h.dialogs->shown.size(), 1);
    QCOMPARE(h.dialogs->shown[0].text, QString("The interface disappeared"));
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
    QCOMPARE(h.window.model().rowCount(), 5);

    // A capture stopped before reports after the next has started: that one runs on.
    h.probe.action("CaptureStart")->trigger();
    h.dialogs->pressOk();
    emit h.capture->captureFailed("The capture helper did not end and was killed");
    QCOMPARE(h.dialogs->shown.size(), 2);
    QCOMPARE(h.probe.panel(3), QString("Status: Running"));
}

void tst_CaptureController::fullStoreStopsCaptureKeepsEveryRowAndSavesThem_data()
{
    QTest::addColumn<bool>("disk");
    QTest::addColumn<QString>("message");
    QTest::newRow("an address-space limit") << false << "no address space left";
    QTest::newRow("the disk of the cache folder") << true << "the disk is full";
}

void tst_CaptureController::fullStoreStopsCaptureKeepsEveryRowAndSavesThem()
{
    QFETCH(bool, disk);
    QFETCH(QString, message);
#ifdef KINTO_ADDRESS_SANITIZER
    if (!disk)
        QSKIP("an address-space limit cannot be combined with the address sanitizer");
#endif
    QTemporaryDir dir;
    // The cache folder on a file system of 256 MB of its own.
    const QString cache = dir.filePath("cache");
    std::optional<TmpfsMount> mount;
    if (disk) {
        QVERIFY(QDir().mkdir(cache));
        mount.emplace(cache, qint64(256) << 20, TmpfsMount::Kind::Ext4Image);
        if (!mount->error().isEmpty())
            QSKIP(qPrintable(mount->error()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    }
    Harness h({Scheduler});
    qunsetenv("XDG_CACHE_HOME");
    const QString logName = dir.filePath("full.csv");
    PacketListModel& model = h.window.model();
    QCOMPARE(model.store().folder().startsWith(cache + "/"), disk);
    QSignalSpy full(&model, &PacketListModel::storeFull);
    // Kilobyte packets with no message in them: the store fills in a few hundred deliveries
    // and each log record stays short.
    const Packet packet{1765029909000000, 1042, QByteArray(1000, '\x01')};
    const QList<Packet> delivery(1000, packet);
    {
        std::optional<AddressSpaceLimit> limit;
        if (!disk)
            QVERIFY(limit.emplace(qint64(320) << 20).isSet());
        int delivered = 0;
        for (; delivered < 2000 && full.isEmpty(); ++delivered)
            h.capture->deliver(delivery);
        QCOMPARE(full.count(), 1);
        // Every packet of the deliveries before the last is a row, and what fitted of the last.
        const int rows = model.rowCount();
        QVERIFY(rows >= (delivered - 1) * delivery.size() && rows < delivered * delivery.size());
        QCOMPARE(model.store().count(), rows);

        h.dialogs->pressOk();
        QTRY_COMPARE(h.probe.state(), CaptureState::Ready);
        QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
        QVERIFY(!h.capture->isCapturing());
        QCOMPARE(h.dialogs->shown.size(), 1);
        const QString shown = h.dialogs->shown[0].text;
        QVERIFY2(shown.contains(message) &&
                     shown.contains(" " + QString::number(rows) + " packets") &&
                     (!disk || shown.contains(model.store().folder())),
                 qPrintable(shown));
        QCOMPARE(model.rowCount(), rows);
        for (int row : {0, rows / 2, rows - 1})
            QCOMPARE(model.store().bytes(row), packet.data);

        // Still inside the limit, and in another place than the full disk: the log takes
        // every row.
        h.dialogs->typeText(logName);
        h.window.savelog_Click();
        QCOMPARE(h.dialogs->shown.size(), 2);
        QVERIFY(!h.probe.unsaved());
    }
    QFile log(logName);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("\r\n"), model.rowCount());

    // Clear List gives the memory and the disk space back: the store grows again.
    h.dialogs->answerYes();
    h.window.clearlist_Click();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.store().diskBytes(), 0);
    QVERIFY(!model.store().isFull());
    QVERIFY(h.window.controller().CaptureStart_Click());
    h.capture->deliver(delivery);
    QCOMPARE(model.rowCount(), delivery.size());
    QCOMPARE(full.count(), 1);
}

void tst_CaptureController::stopNeverWaitsForTheHelper_data()
{
    QTest::addColumn<QString>("traffic"); // the stand-in helper's script; empty: the real one
    QTest::addColumn<QString>("action");
    const QList<QPair<const char*, QString>> traffic{
        {"no traffic", "records=2"}, {"a flood", "records=2 dropped=7 flood held=300"}};
    for (const auto& [name, script] : traffic) {
        for (const char* action : {"Stop", "port change", "close"})
            QTest::addRow("%s, %s", name, action) << script << QString(action);
    }
    QTest::newRow("a flood, memory full, a helper that will not stop")
        << "records=2 flood ignore-term"
        << "memory full";
    QTest::newRow("real capture, a steady stream, Stop") << QString() << "Stop";
}

void tst_CaptureController::stopNeverWaitsForTheHelper()
{
    QFETCH(QString, traffic);
    QFETCH(QString, action);
    const bool real = traffic.isEmpty();
    if (real && ::geteuid() != 0)
        QSKIP("capturing needs root (CI runs as root)");
    CapturingWindow w(real ? PcapCapture::helperPath()
                           : QCoreApplication::applicationDirPath() + "/kinto_stubhelper");
    auto& capture = static_cast<PcapCapture&>(w.window().component());
    const PacketListModel& model = w.window().model();
    const quint16 port = UdpSender::freePort();
    QCOMPARE(w.start("lo", real ? QString::number(port) : "1 " + traffic), QString());
    UdpSender sender;
    for (int k = 1; real && k <= 200; ++k)
        QVERIFY(sender.send(port, "***[" + QByteArray::number(k) + "]"));
    QTRY_VERIFY(model.rowCount() >= 2);

    if (action == "Stop" && traffic.contains("flood")) {
        // A window too busy to take its packets for a while: the pipe fills and the helper
        // waits, instead of the window's memory taking the backlog (over 100 MB a second here).
        const qint64 before = anonymousBytes();
        QThread::msleep(1000);
        QCOMPARE_LT(anonymousBytes() - before, 64 << 20);
    }
    const int rowsBefore = model.rowCount();
    if (action == "Stop") {
        w.probe().action("CaptureStop")->trigger();
    } else if (action == "port change") {
        w.dialogs().typeText("2 " + traffic);
        w.dialogs().cancelInput(); // the log offered for the unsaved rows
        w.probe().action("changeport")->trigger();
        QCOMPARE(w.probe().panel(3), QString("Status: Running"));
        QTRY_VERIFY(model.rowCount() >= runs(model).value(0) + 2);
        w.probe().action("CaptureStop")->trigger();
    } else if (action == "close") {
        w.dialogs().cancelInput();
        QVERIFY(w.window().close());
        QVERIFY(!w.window().isVisible());
    } else {
        w.dialogs().pressOk();
        w.window().controller().storeFull(StoreShortage::Memory, QString(), model.rowCount());
    }
    QCOMPARE(w.probe().state(), action == "close" ? CaptureState::Running : CaptureState::Ready);
    QVERIFY(!capture.isCapturing());
    if (action == "Stop" || action == "memory full") // what the helper still sends comes later
        QCOMPARE(model.rowCount(), rowsBefore);
    QTRY_VERIFY_WITH_TIMEOUT(!capture.isStopping(), 5000);

    const QList<qint64> captures = runs(model);
    QCOMPARE(captures.size(), action == "port change" ? 2 : 1);
    if (action != "memory full")
        QCOMPARE(quint64(captures.last()), capture.stats().captured);
    // Every packet lost on the way is counted once and shown, however the capture ended.
    const quint64 dropped = traffic.contains("dropped=7") ? (action == "port change" ? 14 : 7) : 0;
    QTRY_COMPARE(model.dropped(), dropped);
    QCOMPARE(w.probe().panel(4), dropped > 0 ? QString("Dropped: %1").arg(dropped) : QString());
    QCOMPARE(w.dialogs().problems(), QString());
    for (const auto& shown : std::as_const(w.dialogs().shown))
        QVERIFY2(!shown.text.contains("capture helper"), qPrintable(shown.text));
}

QTEST_MAIN(tst_CaptureController)
#include "tst_capturecontroller.moc"
