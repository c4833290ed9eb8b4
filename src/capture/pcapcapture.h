#pragma once

#include "capturecomponent.h"
#include "packetbatch.h"

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <memory>

class PcapSession;

// The capture component over libpcap. Packets are captured on a thread of the session and
// delivered here, on the thread this object lives in, as batches in capture order.
class PcapCapture : public CaptureComponent
{
    Q_OBJECT

public:
    // Deliveries are at least this far apart. Every delivery makes the window repaint its list,
    // which costs far more than the rows it adds; a burst therefore arrives in a few large
    // batches per second instead of a hundred small ones, each still within a blink of its
    // capture.
    static constexpr int DeliveryIntervalMs = 40;

    explicit PcapCapture(QObject* parent = nullptr);
    ~PcapCapture() override;

    QList<CaptureAdapter> adapters() const override;
    void startup() override;
    void setAdapter(int index) override;
    int adapter() const override { return m_adapter; }
    QString setFilter(const QString& expression) override;
    QString start() override;
    void stop() override;
    bool isCapturing() const override;
    CaptureStats stats() const override;

    // The devices libpcap reports that can carry IP traffic, in libpcap's order.
    static QList<CaptureAdapter> findAdapters();

private:
    void deliver();
    void endSession();
    QString restart(const QString& device);

    QList<CaptureAdapter> m_adapters;
    int m_adapter = -1;
    QString m_filter;
    QString m_filterError;
    std::unique_ptr<PcapSession> m_session;
    CaptureStats m_lastStats;
    PacketBatch m_delivery; // reused so that its memory is not allocated per delivery
    std::atomic<bool> m_wakePending{false};
    QElapsedTimer m_sinceDelivery;
    QTimer m_deliveryTimer;
};
