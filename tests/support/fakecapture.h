#pragma once

#include "capturecomponent.h"
#include "packet.h"

#include <QStringList>

#include <functional>

// A capture component that captures nothing by itself: tests give it adapters, make it fail,
// hand it packets to deliver, and read back what the program asked of it. It keeps the
// component's contract as the real one does (tst_capturecontract runs against both).
class FakeCapture : public CaptureComponent
{
    Q_OBJECT

public:
    explicit FakeCapture(const QStringList& descriptions = {}, QObject* parent = nullptr);

    QList<CaptureAdapter> adapters() const override { return m_adapters; }
    QString adapterError() const override { return m_adapterError; }
    void startup() override { m_calls << "startup"; }
    void setAdapter(int index) override;
    int adapter() const override { return m_adapter; }
    void setFilter(const QString& expression) override;
    QString start() override;
    void stop(StopCause cause = StopCause::Asked) override;
    void waitForStopped(int) override {} // delivers nothing after a stop
    bool isCapturing() const override { return m_capturing; }
    CaptureStats stats() const override { return {}; }

    // Delivers packets as the real component would, if capturing.
    void deliver(const QList<Packet>& packets);
    // A datagram to port on the capturing adapter: delivered when the open filter takes it.
    void arrive(quint16 port, const QByteArray& payload);
    // Capture stops by itself, as when an adapter disappears.
    void fail(const QString& reason);

    QStringList m_calls; // "startup", "adapter 2", "filter port 4111", "start", "stop"
    QString m_filter;
    QString m_startError;   // start() fails with this when not empty
    QString m_adapterError; // as if the adapters could not be listed
    // Runs inside start(), where the real component waits for its helper.
    std::function<void()> m_whileStarting;

private:
    QList<CaptureAdapter> m_adapters;
    int m_adapter = -1;
    bool m_capturing = false;
    int m_openPort = -1; // the port of the filter the open capture took
};
