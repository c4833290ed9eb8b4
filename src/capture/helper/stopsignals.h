#pragma once

#include <sys/types.h>

// The signals that stop the capture (SIGTERM, SIGINT, SIGHUP), blocked for good and read from a
// descriptor instead. The capture waits on that descriptor beside the ring, so a stop is seen
// on the next turn even when the ring always has a block ready: a handler let in only while
// waiting would stay pending as long as the wait returned at once.
class StopSignals
{
public:
    StopSignals() = default;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals();

    // Blocks the stop signals and opens the descriptor; false (errno set) when it cannot.
    // window is the process whose SIGTERM counts as the window's own stop.
    bool open(pid_t window);
    // Readable while a stop is pending.
    int fd() const { return m_fd; }
    // Takes a pending stop, if any, without waiting; true once a stop has come.
    bool take();
    bool stopped() const { return m_stopped; }
    // Whether the first stop was the window's SIGTERM.
    bool fromWindow() const { return m_fromWindow; }

private:
    int m_fd = -1;
    pid_t m_window = 0;
    bool m_stopped = false;
    bool m_fromWindow = false;
};
