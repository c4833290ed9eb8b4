#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

// Runs the event loop, as the program's own would, until done() or timeoutMs; false on the
// time-out. A timer wakes the loop every pokeMs so that done() is looked at even when nothing
// else happens.
template <typename Done> bool waitUntil(Done done, int timeoutMs, int pokeMs = 10)
{
    QElapsedTimer clock;
    clock.start();
    QTimer poke;
    poke.start(pokeMs);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
