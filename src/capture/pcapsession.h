#pragma once

#include "capturestats.h"
#include "packetbatch.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct pcap;

// One open libpcap handle and the thread that drains it.
//
// Why this shape: libpcap's immediate mode on Linux gives the kernel ring fixed slots as large as
// the snapshot length, so a 64 MiB buffer holds only about a thousand packets and a burst from
// loopback overflows it within milliseconds. Without immediate mode the ring is packed
// (TPACKET_V3): small packets take about a hundred bytes each, and the kernel hands over a block
// when it is full or after the buffer timeout. A thread of our own sleeps in libpcap until a
// block is ready, drains every ready packet into a batch without taking a lock per packet, and
// appends the batch to the pending packets under one lock. The user-interface thread is woken at
// most once until it has taken what is pending, so a busy window gets bigger batches rather
// than more events, and it never waits on libpcap.
class PcapSession
{
public:
    static constexpr int SnapshotLength = 262144; // the largest loopback frame fits whole
    static constexpr int BufferBytes = 64 << 20;
    static constexpr int BufferTimeoutMs = 10; // a lone packet shows within about this

    ~PcapSession();

    // Opens and activates the device and applies the filter; on failure returns null and sets
    // *error to a text a person can act on.
    static std::unique_ptr<PcapSession> open(const QString& device, const QString& filter,
                                             QString* error);

    // Starts the capture thread; wake is called on that thread whenever packets are waiting.
    void start(std::function<void()> wake);
    // Ends the capture thread. Packets captured before it ended can still be taken.
    void stop();

    // Moves the waiting packets into out (whose old content is dropped, its memory reused).
    void take(PacketBatch& out);
    // True once the thread has ended by itself; failure() says why.
    bool hasFailed() const { return m_failed.load(); }
    QString failure() const;
    CaptureStats stats() const;

private:
    PcapSession(pcap* handle, const QString& device);
    void run();
    void publish(PacketBatch& batch);
    void readStats();

    pcap* m_handle;
    QString m_device;
    std::thread m_thread;
    std::function<void()> m_wake;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_failed{false};
    std::atomic<quint64> m_received{0};
    std::atomic<quint64> m_dropped{0};
    mutable std::mutex m_mutex;
    PacketBatch m_pending; // guarded by m_mutex
    QString m_failure;     // guarded by m_mutex
};
