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
// capturing ends the running capture first. stop() returns at once; what was captured before
// it is still delivered afterwards, before anything captured by a later start().
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
    // Why capture stops: the user asked, or the window stops it for a reason it reports itself
    // (memory is full). Only in the first case is a stop that lost packets reported.
    enum class StopCause { Asked, Window };
    virtual void stop(StopCause cause = StopCause::Asked) = 0;
    // Waits at most timeoutMs for stopped captures to hand over their last packets, and
    // delivers those now: the log offered next must hold them. Events other than the user's
    // are handled meanwhile.
    virtual void waitForStopped(int timeoutMs) = 0;
    virtual bool isCapturing() const = 0;

    virtual CaptureStats stats() const = 0;

signals:
    // Packets captured since the last delivery, oldest first.
    void packetsCaptured(const PacketBatch& batch);
    // count more packets were lost on the way to the list: the machine could not keep up.
    void packetsDropped(quint64 count);
    // Capture stopped by itself (the adapter went away, the kernel refused to go on), or a
    // capture the user stopped did not deliver everything it captured.
    void captureFailed(const QString& reason);
};
