#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Measures how long the event loop can be kept from running: a timer notes how late each of
// its ticks comes. A window that stalls for longer than the worst lateness would have kept
// every tick waiting at least as long, so the worst lateness is the worst stall, to within one
// interval's scheduling noise.
class StallMeter : public QObject
{
    Q_OBJECT

public:
    explicit StallMeter(int intervalMs = 5, QObject* parent = nullptr);

    void start();
    void stop();
    double worstMs() const { return double(m_worstNs) / 1e6; }
    int ticks() const { return m_ticks; }

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_intervalNs;
    qint64 m_lastNs = 0;
    qint64 m_worstNs = 0;
    int m_ticks = 0;
};
