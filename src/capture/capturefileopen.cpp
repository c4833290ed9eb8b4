#include "capturefileopen.h"

#include "capturefilereader.h"
#include "dialogs.h"
#include "packetbatch.h"
#include "packetlistmodel.h"

#include <QDir>

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>

namespace {

const QString Title = QStringLiteral("Open Capture");
// The reading thread waits while this many batches (about 1 MiB each) are read but not yet
// listed: a window slower than the disk must not make the file pile up in memory.
constexpr qsizetype BatchBytes = qsizetype(1) << 20;
constexpr size_t MaxPendingBatches = 16;
// The window lists batches for this long at a time, then paints and takes input.
constexpr int DeliverySliceMs = 15;

// Batches on their way from the reading thread to the list.
class Pending
{
public:
    // Called by the reading thread; false once the reading is to stop.
    bool put(PacketBatch&& batch)
    {
        std::unique_lock lock(m_mutex);
        m_taken.wait(lock, [&] { return m_stop || m_batches.size() < MaxPendingBatches; });
        if (!batch.isEmpty())
            m_batches.push_back(std::move(batch));
        return !m_stop;
    }
    bool take(PacketBatch& out)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_batches.empty())
                return false;
            out = std::move(m_batches.front());
            m_batches.pop_front();
        }
        m_taken.notify_all();
        return true;
    }
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_taken.notify_all();
    }
    bool stopped() const
    {
        std::lock_guard lock(m_mutex);
        return m_stop;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_taken;
    std::deque<PacketBatch> m_batches;
    bool m_stop = false;
};

} // namespace

CaptureFileOpen::CaptureFileOpen(PacketListModel& model, Dialogs& dialogs)
    : m_model(model), m_dialogs(dialogs), m_job(dialogs)
{}

QString CaptureFileOpen::askFileName()
{
    return m_dialogs.openFileName(Title, QStringLiteral("Capture files (*.pcap *.pcapng *.cap "
                                                        "*.dmp);;All files (*)"));
}

void CaptureFileOpen::open(const QString& fileName, const QString& filter)
{
    if (isReading())
        return;
    m_model.clear();
    CaptureFileReader reader;
    Pending pending;
    bool opened = false;
    CaptureFileReader::Result result = CaptureFileReader::Result::Failed;
    // Lists what was read, a slice at a time; while more waits, the next slice comes as soon as
    // the window has painted and taken its input.
    QObject context;
    QTimer next;
    next.setSingleShot(true);
    PacketBatch delivery;
    const auto deliver = [&](int sliceMs) {
        QElapsedTimer slice;
        slice.start();
        while (slice.elapsed() < sliceMs && pending.take(delivery)) {
            m_model.OnPackets(delivery);
            if (m_model.store().isFull())
                pending.stop();
        }
    };
    QObject::connect(&next, &QTimer::timeout, &context, [&] {
        deliver(DeliverySliceMs);
        next.start(0);
    });

    BackgroundJob::Work work;
    work.title = Title;
    work.run = [&] {
        // Without a thread of its own the reading runs here and nobody else would list it.
        const bool here = QThread::currentThread() == context.thread();
        opened = reader.open(fileName, filter);
        while (opened && result != CaptureFileReader::Result::End) {
            PacketBatch batch;
            result = reader.read(batch, BatchBytes);
            if (!pending.put(std::move(batch)) || result == CaptureFileReader::Result::Failed)
                break;
            if (here)
                deliver(std::numeric_limits<int>::max());
        }
    };
    work.status = [&] {
        // In KiB, so that a file of many gigabytes still counts in an int.
        return BackgroundJob::Status{reader.bytesRead() >> 10, reader.fileBytes() >> 10,
                                     QStringLiteral("%1 packets read").arg(reader.packetsRead())};
    };
    work.cancel = [&] { pending.stop(); };
    next.start(0);
    m_job.run(work);
    next.stop();
    deliver(std::numeric_limits<int>::max());

    if (m_model.store().isFull())
        m_dialogs.messageBox(storeFullText(fileName));
    else if (!opened || (result == CaptureFileReader::Result::Failed && !pending.stopped()))
        m_dialogs.messageBox(reader.error());
}

QString CaptureFileOpen::storeFullText(const QString& fileName) const
{
    const QString start =
        QStringLiteral("Reading \"%1\" stopped because ").arg(QDir::toNativeSeparators(fileName));
    const qsizetype rows = m_model.rowCount();
    switch (m_model.store().shortage()) {
    case StoreShortage::Disk:
        return start + QStringLiteral("the disk is full: the list is held in %1 and no more fits "
                                      "there. The list holds the file's first %2 packets.")
                           .arg(QDir::toNativeSeparators(m_model.store().folder()))
                           .arg(rows);
    case StoreShortage::Rows:
        return start +
               QStringLiteral("the list is full. It holds the file's first %1 packets.").arg(rows);
    default:
        return start + QStringLiteral("memory is full. The list holds the file's first %1 "
                                      "packets.")
                           .arg(rows);
    }
}
