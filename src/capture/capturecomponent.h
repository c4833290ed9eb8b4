#pragma once

#include "captureadapter.h"
#include "capturestats.h"

#include <QList>
#include <QObject>
#include <QString>

class PacketBatch;

// What the program needs from a packet capture component: its adapters, a current adapter with
// a filter, start and stop, and packets delivered on the user-interface thread in capture order.
// Failures come back as texts a person can act on; an empty text means success.
class CaptureComponent : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CaptureComponent() override;

    virtual QList<CaptureAdapter> adapters() const = 0;
    // The start-up call, made once after the main window is first shown.
    virtual void startup() = 0;

    // index is 0-based into adapters(); it takes effect at the next start().
    virtual void setAdapter(int index) = 0;
    virtual int adapter() const = 0;

    // Compiles the expression for the current adapter. A failure is remembered: start() then
    // fails with the same reason until a filter that works is written.
    virtual QString setFilter(const QString& expression) = 0;

    // Starts capturing on the current adapter with the last filter written. Starting while
    // capturing moves the capture to the adapter assigned since.
    virtual QString start() = 0;
    virtual void stop() = 0;
    virtual bool isCapturing() const = 0;

    virtual CaptureStats stats() const = 0;

signals:
    // Packets captured since the last delivery, oldest first.
    void packetsCaptured(const PacketBatch& batch);
    // Capture stopped by itself (the adapter went away, the kernel refused to go on).
    void captureFailed(const QString& reason);
};
