#include "stallmeter.h"

StallMeter::StallMeter(int intervalMs, QObject* parent)
    : QObject(parent), m_intervalNs(qint64(intervalMs) * 1000000)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &StallMeter::tick);
}

void StallMeter::start()
{
    m_worstNs = 0;
    m_ticks = 0;
    m_clock.start();
    m_lastNs = 0;
    m_timer.start();
}

void StallMeter::stop()
{
    // A stall that lasts until now has had no tick after it yet: it counts as well.
    if (m_timer.isActive())
        tick();
    m_timer.stop();
}

void StallMeter::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    m_worstNs = std::max(m_worstNs, now - m_lastNs - m_intervalNs);
    m_lastNs = now;
    ++m_ticks;
}
