#pragma once

#include "capturecomponent.h"
#include "packetbatch.h"

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <deque>
#include <memory>

class CaptureSession;

// The capture component over libpcap. This process holds no right to capture: each start runs
// the capture helper, which opens the adapter, gives up its capabilities and streams what it
// captures back. Packets are read on a thread of the session and delivered here, on the thread
// this object lives in, as batches in capture order.
class PcapCapture : public CaptureComponent
{
    Q_OBJECT

public:
    // Deliveries are at least this far apart. Every delivery makes the window repaint its list,
    // which costs far more than the rows it adds; a burst therefore arrives in a few large
    // batches per second instead of a hundred small ones, each still within a blink of its
    // capture.
    static constexpr int DeliveryIntervalMs = 40;

    // helper: the capture helper to run; by default the one installed beside this program.
    explicit PcapCapture(QObject* parent = nullptr, const QString& helper = helperPath());
    ~PcapCapture() override;

    QList<CaptureAdapter> adapters() const override { return m_adapters; }
    QString adapterError() const override { return m_adapterError; }
    void startup() override;
    void setAdapter(int index) override { m_adapter = index; }
    int adapter() const override { return m_adapter; }
    void setFilter(const QString& expression) override { m_filter = expression; }
    QString start() override;
    void stop(StopCause cause = StopCause::Asked) override;
    void waitForStopped(int timeoutMs) override;
    bool isCapturing() const override;
    CaptureStats stats() const override;

    // The helper's process while capturing, else 0 (the benchmark counts its CPU and memory).
    qint64 helperPid() const;
    // True while a stopped capture still hands over what its helper captured before the stop.
    bool isStopping() const { return !m_stopping.empty(); }
    // How long start() waits for the helper to capture (tests shorten it).
    void setStartTimeout(int ms) { m_startTimeoutMs = ms; }

    // bin/../libexec/kintosniffer/kintosniffer-capture from this program's directory, as
    // installed and as built. Never looked up through PATH or the environment.
    static QString helperPath();

private:
    void deliver();
    bool deliverStopped();
    void deliverCurrent();
    void handOver(CaptureSession& session);
    // Asks the running session to stop; it goes on delivering until its helper has ended.
    void stopSession(StopCause cause);

    // A stopped session; with report, how it ended is reported when it did not deliver all.
    struct Stopping
    {
        std::unique_ptr<CaptureSession> session;
        bool report = true;
    };

    QString m_helper;
    int m_startTimeoutMs;
    QList<CaptureAdapter> m_adapters;
    QString m_adapterError;
    int m_adapter = -1;
    QString m_filter;
    std::unique_ptr<CaptureSession> m_session;
    // Oldest first: their packets are delivered before any of the running session's.
    std::deque<Stopping> m_stopping;
    CaptureStats m_lastStats;
    PacketBatch m_delivery; // reused so that its memory is not allocated per delivery
    std::atomic<bool> m_wakePending{false};
    QElapsedTimer m_sinceDelivery;
    QTimer m_deliveryTimer;
};
