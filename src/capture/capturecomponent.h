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
//
// The contract, the same for every implementation (one test runs against each): choosing an
// adapter and writing a filter only record them; nothing is opened until start(), which opens
// the capture once, on the current adapter with the last filter written. start() while
// capturing ends the running capture first. stop() delivers what was captured before it.
class CaptureComponent : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CaptureComponent() override;

    virtual QList<CaptureAdapter> adapters() const = 0;
    // Why adapters() is empty when the adapters could not be listed; empty otherwise.
    virtual QString adapterError() const = 0;
    // The start-up call, made once after the main window is first shown.
    virtual void startup() = 0;

    // index is 0-based into adapters(); it takes effect at the next start().
    virtual void setAdapter(int index) = 0;
    virtual int adapter() const = 0;
    // Takes effect at the next start(), which reports a filter that cannot be used.
    virtual void setFilter(const QString& expression) = 0;

    // Opens the capture on the current adapter with the last filter written.
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
