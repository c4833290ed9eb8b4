#pragma once

#include "capturestats.h"
#include "childprocess.h"
#include "packetbatch.h"
#include "savefilereader.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One run of the capture helper and the thread that reads what it captures.
//
// The helper holds the packed kernel ring (TPACKET_V3) and writes each batch libpcap hands it
// down a pipe. Our thread reads the pipe in large pieces, turns every complete record into a
// packet of a local batch without a lock per packet, and appends the batch to the pending
// packets under one lock. The user-interface thread is woken at most once until it has taken
// what is pending, so a busy window gets bigger batches rather than more events, and it never
// waits on the helper.
class CaptureSession
{
public:
    ~CaptureSession();

    // How long the helper may take to open the adapter and compile the filter. A filter of
    // thousands of terms takes libpcap seconds; one that takes longer is given up.
    static constexpr int StartTimeoutMs = 30000;

    // Starts the helper and waits (at most startTimeoutMs) until it captures. On failure
    // returns null and sets *error to a text a person can act on. Called on the user-interface
    // thread, which lives as long as the window: the helper's death signal follows the thread
    // that started it (see the helper's main()).
    static std::unique_ptr<CaptureSession> open(const QString& helper, const QString& device,
                                                const QString& filter, QString* error,
                                                int startTimeoutMs = StartTimeoutMs);

    // Starts the reading thread; wake is called on that thread whenever packets are waiting.
    void start(std::function<void()> wake);
    // Stops the helper and the thread. Packets captured before the stop can still be taken.
    // Waits as long as the helper still delivers; one that has stopped delivering is killed.
    void stop();
    // Why the stop did not deliver everything (the helper lost packets, or had to be killed);
    // empty when it did.
    QString stopFailure() const { return m_stopFailure; }

    // Moves the waiting packets into out (whose old content is dropped, its memory reused).
    void take(PacketBatch& out);
    // True once capture has ended by itself; failure() says why.
    bool hasFailed() const { return m_failed.load(); }
    // Reaps the helper on first call: only the user-interface thread calls it.
    QString failure();
    // The kernel's counts, known once the helper has ended.
    CaptureStats stats() const;
    pid_t helperPid() const { return m_helper.pid(); }

private:
    CaptureSession(const QString& helper, const QString& device);
    QString startHelper(const QString& filter, int timeoutMs);
    void endHelper();
    QString helperEnded();
    void run();
    void endWithoutMemory();
    void publish(PacketBatch& batch);

    QString m_helperPath;
    QString m_device;
    ChildProcess m_helper;
    QString m_stopFailure;
    SavefileReader m_reader;
    std::thread m_thread;
    std::function<void()> m_wake;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_failed{false};
    std::atomic<qint64> m_bytesRead{0}; // a stop waits as long as this grows
    mutable std::mutex m_mutex;
    std::condition_variable m_ended; // signalled when the thread has read the last packet
    bool m_done = false;             // guarded by m_mutex
    PacketBatch m_pending;           // guarded by m_mutex
    QString m_failure;               // guarded by m_mutex
    CaptureStats m_stats;            // guarded by m_mutex
};
