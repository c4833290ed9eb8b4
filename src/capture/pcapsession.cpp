#include "pcapsession.h"

#include "pcaperrors.h"

#include <pcap/pcap.h>

#include <chrono>

namespace {

void onPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes)
{
    auto* batch = reinterpret_cast<PacketBatch*>(user);
    const qint64 timeUs = qint64(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
    batch->append(timeUs, header->len,
                  QByteArrayView(reinterpret_cast<const char*>(bytes), header->caplen));
}

} // namespace

PcapSession::PcapSession(pcap* handle, const QString& device) : m_handle(handle), m_device(device)
{}

PcapSession::~PcapSession()
{
    stop();
    pcap_close(m_handle);
}

std::unique_ptr<PcapSession> PcapSession::open(const QString& device, const QString& filter,
                                               QString* error)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    const QByteArray name = device.toLocal8Bit();
    pcap_t* handle = pcap_create(name.constData(), errbuf);
    if (!handle) {
        *error = PcapErrors::openFailed(device, QString::fromLocal8Bit(errbuf));
        return nullptr;
    }
    pcap_set_snaplen(handle, SnapshotLength);
    pcap_set_promisc(handle, 1);
    pcap_set_timeout(handle, BufferTimeoutMs);
    pcap_set_buffer_size(handle, BufferBytes);
    pcap_set_immediate_mode(handle, 0);

    const int status = pcap_activate(handle);
    if (status < 0) {
        *error =
            PcapErrors::activateFailed(device, status, QString::fromLocal8Bit(pcap_geterr(handle)));
        pcap_close(handle);
        return nullptr;
    }
    // Positive statuses are warnings (no promiscuous mode on "any", for one): capture works.

    bpf_program program;
    const QByteArray expression = filter.toLocal8Bit();
    if (pcap_compile(handle, &program, expression.constData(), 1, PCAP_NETMASK_UNKNOWN) < 0) {
        *error = PcapErrors::filterFailed(filter, QString::fromLocal8Bit(pcap_geterr(handle)));
        pcap_close(handle);
        return nullptr;
    }
    const int set = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (set < 0) {
        *error = PcapErrors::filterFailed(filter, QString::fromLocal8Bit(pcap_geterr(handle)));
        pcap_close(handle);
        return nullptr;
    }
    return std::unique_ptr<PcapSession>(new PcapSession(handle, device));
}

void PcapSession::start(std::function<void()> wake)
{
    m_wake = std::move(wake);
    m_thread = std::thread([this] { run(); });
}

void PcapSession::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    pcap_breakloop(m_handle); // also wakes a thread that sleeps in poll()
    m_thread.join();
}

void PcapSession::run()
{
    using Clock = std::chrono::steady_clock;
    PacketBatch batch;
    batch.reserve(4096, 1 << 20);
    auto lastStats = Clock::now();
    while (!m_stopping) {
        const int n = pcap_dispatch(m_handle, -1, onPacket, reinterpret_cast<u_char*>(&batch));
        publish(batch);
        if (n == PCAP_ERROR_BREAK)
            break;
        if (n < 0) {
            {
                std::lock_guard lock(m_mutex);
                m_failure = PcapErrors::captureEnded(m_device,
                                                     QString::fromLocal8Bit(pcap_geterr(m_handle)));
            }
            m_failed = true;
            break;
        }
        if (Clock::now() - lastStats > std::chrono::milliseconds(100)) {
            readStats();
            lastStats = Clock::now();
        }
    }
    readStats();
    if (m_failed && m_wake)
        m_wake();
}

void PcapSession::publish(PacketBatch& batch)
{
    if (batch.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        // Usually the window has taken everything since: then the batch itself is handed
        // over, and the emptied buffers it gets back are filled next.
        if (m_pending.isEmpty())
            std::swap(m_pending, batch);
        else
            m_pending.append(batch);
    }
    batch.clear();
    if (m_wake)
        m_wake();
}

void PcapSession::readStats()
{
    pcap_stat s{};
    if (pcap_stats(m_handle, &s) == 0) {
        m_received = s.ps_recv;
        m_dropped = quint64(s.ps_drop) + s.ps_ifdrop;
    }
}

void PcapSession::take(PacketBatch& out)
{
    out.clear();
    std::lock_guard lock(m_mutex);
    std::swap(out, m_pending);
}

QString PcapSession::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

CaptureStats PcapSession::stats() const
{
    return {m_received.load(), m_dropped.load()};
}
