#pragma once

#include "capturestats.h"
#include "childprocess.h"
#include "packetbatch.h"
#include "savefilereader.h"

#include <QString>

#include <atomic>
#include <chrono>
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
// waits on the helper: the thread also asks the helper to stop, reads until its output ends,
// and reaps it.
class CaptureSession
{
public:
    ~CaptureSession();

    // How long the helper may take to open the adapter and compile the filter. A filter of
    // thousands of terms takes libpcap seconds; one that takes longer is given up.
    static constexpr int StartTimeoutMs = 30000;
    // A helper asked to stop ends within a fixed time, however busy the adapter; one that has
    // not ended after this is killed.
    static constexpr auto StopTimeout = std::chrono::seconds(1);
    // The packets read and not yet taken by the window stay below this: beyond, the thread
    // reads no more, the pipe fills, the helper waits and the kernel drops and counts.
    static constexpr qsizetype PendingBytes = qsizetype(16) << 20;
    static constexpr qsizetype PendingPackets = 262144;

    // Starts the helper and waits (at most startTimeoutMs) until it captures. On failure
    // returns null and sets *error to a text a person can act on. Called on the user-interface
    // thread, which lives as long as the window: the helper's death signal follows the thread
    // that started it (see the helper's main()).
    static std::unique_ptr<CaptureSession> open(const QString& helper, const QString& device,
                                                const QString& filter, QString* error,
                                                int startTimeoutMs = StartTimeoutMs);

    // Starts the reading thread; wake is called on that thread whenever packets are waiting
    // and once more when the session has ended.
    void start(std::function<void()> wake);
    // Asks the helper to stop and returns at once. Packets it captured before the stop still
    // arrive; then the session ends.
    void stop();
    // True once the helper has ended and everything it delivered is waiting to be taken.
    bool hasEnded() const;
    // Waits at most timeoutMs for hasEnded().
    bool waitEnded(int timeoutMs) const;
    // Once ended: why it did not deliver everything it captured (it ended by itself, lost
    // packets, or had to be killed at the stop); empty when it did.
    QString endReport() const;

    // Moves the waiting packets into out (whose old content is dropped, its memory reused).
    void take(PacketBatch& out);
    // How many packets were lost on the way since the last call: the kernel's ring was full
    // (the window or the helper could not keep up), or the helper had to end with some unwritten.
    quint64 takeDropped();
    // The kernel's counts, known once the session has ended.
    CaptureStats stats() const;
    pid_t helperPid() const { return m_helper.pid(); }

private:
    CaptureSession(const QString& helper, const QString& device);
    QString startHelper(const QString& filter, int timeoutMs);
    void reap(std::chrono::steady_clock::duration limit);
    QString helperEnded();
    void run();
    bool readOutput();
    bool waitForOutput();
    void passStopOn();
    void killIfLate();
    void waitForRoom();
    bool hasRoom() const;
    bool roomLocked() const;
    void readErrors();
    void end(bool broken, bool outOfMemory);
    void publish(PacketBatch& batch);

    QString m_helperPath;
    QString m_device;
    ChildProcess m_helper; // after start(), only the thread touches it
    SavefileReader m_reader;
    std::thread m_thread;
    std::function<void()> m_wake;
    int m_stopRequest = -1; // an eventfd: stop() wakes the thread with it
    // The thread's own: when it asked the helper to stop, and whether it had to kill it.
    std::chrono::steady_clock::time_point m_stopDeadline{};
    bool m_stopAsked = false;
    bool m_killed = false;
    QByteArray m_errorLines; // what the helper said besides its counts
    QByteArray m_partialLine;
    std::atomic<bool> m_stopRequested{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_endedSignal;
    std::condition_variable m_roomSignal; // the window took what was pending, or a stop came
    bool m_ended = false;                 // guarded by m_mutex
    bool m_closing = false;               // guarded by m_mutex
    PacketBatch m_pending;                // guarded by m_mutex
    QString m_endReport;                  // guarded by m_mutex
    CaptureStats m_stats;                 // guarded by m_mutex
    quint64 m_droppedTaken = 0;           // guarded by m_mutex
};
