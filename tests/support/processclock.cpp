#include "processclock.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <time.h>

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double cpuShareWhileNotSignalled(QSignalSpy& spy, int milliseconds, bool* signalled)
{
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    *signalled = spy.wait(milliseconds);
    return (processCpuSeconds() - cpuBefore) / (double(wall.nsecsElapsed()) / 1e9);
}
