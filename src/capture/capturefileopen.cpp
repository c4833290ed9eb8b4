#include "capturefileopen.h"

#include "capturefilereader.h"
#include "dialogs.h"
#include "packetbatch.h"
#include "packetlistmodel.h"

#include <QDir>

#include <condition_variable>
#include <mutex>

namespace {

const QString Title = QStringLiteral("Open Capture");
// The reading thread waits while this much is read but not yet listed: a slow window must not
// make the file's packets pile up in memory.
constexpr qsizetype MaxPendingBytes = qsizetype(32) << 20;

// Batches on their way from the reading thread to the list.
class Pending
{
public:
    // Called by the reading thread; false once the reading is to stop.
    bool put(PacketBatch& batch)
    {
        std::unique_lock lock(m_mutex);
        m_taken.wait(lock, [&] { return m_stop || m_bytes < MaxPendingBytes; });
        if (m_batch.isEmpty())
            std::swap(m_batch, batch);
        else
            m_batch.append(batch);
        m_bytes = pendingBytes();
        batch.clear();
        return !m_stop;
    }
    void take(PacketBatch& out)
    {
        out.clear();
        {
            std::lock_guard lock(m_mutex);
            std::swap(out, m_batch);
            m_bytes = 0;
        }
        m_taken.notify_all();
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
    qsizetype pendingBytes() const
    {
        return m_batch.isEmpty() ? 0
                                 : m_batch.entry(m_batch.count() - 1).offset +
                                       m_batch.entry(m_batch.count() - 1).length;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_taken;
    PacketBatch m_batch;
    qsizetype m_bytes = 0;
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
    PacketBatch delivery;
    const auto deliver = [&] {
        pending.take(delivery);
        m_model.OnPackets(delivery);
        if (m_model.store().isFull())
            pending.stop();
    };

    BackgroundJob::Work work;
    work.title = Title;
    work.run = [&] {
        opened = reader.open(fileName, filter);
        PacketBatch batch;
        while (opened && result != CaptureFileReader::Result::End) {
            result = reader.read(batch, PacketBatch::KeptBytes);
            if (!pending.put(batch) || result == CaptureFileReader::Result::Failed)
                break;
        }
    };
    work.status = [&] {
        // In KiB, so that a file of many gigabytes still counts in an int.
        return BackgroundJob::Status{reader.bytesRead() >> 10, reader.fileBytes() >> 10,
                                     QStringLiteral("%1 packets read").arg(reader.packetsRead())};
    };
    work.cancel = [&] { pending.stop(); };
    work.tick = deliver;
    m_job.run(work);
    deliver();

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
